// twain.cpp - the TWAIN-shaped connection and the TDib scans built on it.
//
// Contents
//   messages ........... result code -> string table text, error message box
//   TTwainOperation .... connection ownership, selection, acquisition, listing, properties
//   TDib ............... ExisteixTwain, SeleccionarTwain, ObrirTwain, ObrirEscaner
//   helpers ............ members taken from a scan, status mapping
#include "acquire_internal.h"

#include <base/registry.h>
#include <base/texts.h>
#include <base/ui.h>
#include <core/last_error.h>
#include <cstring>
#include <cwchar>
#include <dib/internal/dib_access.h>
#include <dib/internal/library_module.h>
#include <new>
#include <raster/kernel.h>
#include <scan/scan.h>
#include <win/global_memory.h>

namespace dib {

std::wstring TextErrorTwain(int code)
{
    struct Entry {
        int code;
        UINT id;
    };
    static constexpr Entry kTexts[] = {
        {SC_ERROR_FAILURE, 22029},       {SC_ERROR_LOW_MEMORY, 22030},
        {SC_ERROR_NO_SOURCE, 22031},     {SC_ERROR_MAX_CONNECTIONS, 22032},
        {SC_ERROR_OPERATION, 22033},     {SC_ERROR_BAD_PROTOCOL, 22035},
        {SC_ERROR_CANCELLED, 22039},     {SC_ERROR_UNSUPPORTED, 22034},
        {SC_ERROR_INVALID_VALUE, 22036},
    };
    for (const Entry& e : kTexts) {
        if (e.code == code)
            return AfxLoadString(e.id);
    }
    return AfxFormatString(22040u, code);
}

void MostrarErrorTwain(int code)
{
    LibraryModule();
    AfxMosaMessageBox(TextErrorTwain(code).c_str(), MB_ICONERROR);
}

void PrendreMembresEscaneig(TDib& image)
{
    TDibAccess::NormalitzarTopLeft(image);
    _BITMAPHANDLE& b = TDibAccess::Bitmap(image);
    TDibAccess::ResolucioX(image) = b.XResolution;
    TDibAccess::ResolucioY(image) = b.YResolution;
    const bool colour = b.BitsPerPixel >= 24;
    TDibAccess::EspaiColor(image) = b.BitsPerPixel == 1 ? DIB_CS_MONO
                                    : colour            ? DIB_CS_RGB
                                                        : DIB_CS_GREY;
    TDibAccess::Canals(image) = colour ? 3 : 1;
    TDibAccess::BitsPerCanal(image) = b.BitsPerPixel == 48 ? 16 : b.BitsPerPixel == 1 ? 1 : 8;
    TDibAccess::CanalAlpha(image) = -1;
}

int StatusEscaneig(int code)
{
    switch (code) {
    case SC_SUCCESS:
        return DIB_OK;
    case SC_ERROR_LOW_MEMORY:
        return DIB_ERR_NO_MEMORY;
    case SC_ERROR_INVALID_VALUE:
    case SC_ERROR_NO_SOURCE:
        return DIB_ERR_INVALID;
    default:
        return DIB_ERR_FAILED;
    }
}

_LTWAINPROPERTIES PropietatsDe(const DIB_SCANSETTINGS* settings, bool fullDepth)
{
    _LTWAINPROPERTIES p{};
    p.uStructSize = SC_TWAIN_PROPERTIES_SIZE;
    p.dLeft = p.dTop = -1; // the device's area
    if (settings) {
        p.nResolution = settings->resolution;
        p.nPixelType = settings->mode;
        p.nBitDepth = settings->bitDepth;
    }
    if (fullDepth && p.nBitDepth == 0 &&
        (p.nPixelType == SC_PIXEL_GREY || p.nPixelType == SC_PIXEL_COLOUR))
        p.nBitDepth = 16;
    return p;
}

} // namespace dib

using namespace dib;

// ---- TTwainOperation ------------------------------------------------------------------------

CMosaRTTI TTwainOperation::m_rttiTTwainOperation("TTwainOperation", &TItem::m_rttiTItem);

namespace {

void CopiarText(wchar_t* dst, std::size_t chars, const wchar_t* src)
{
    std::size_t n = 0;
    for (; src && src[n] && n + 1 < chars; ++n)
        dst[n] = src[n];
    dst[n] = L'\0';
}

} // namespace

void TTwainOperation::Open(HWND owner)
{
    m_session = nullptr;
    m_app = {};
    m_owner = owner;
    m_app.hWnd = owner;
    CopiarText(m_app.szManufacturerName, 256, L"Corvane");
    CopiarText(m_app.szAppProductFamily, 256, L"Lumora");
    CopiarText(m_app.szAppName, 258, TCarpetaRegistry::GetNomAplicacio().c_str());
    m_app.uStructSize = SC_TWAIN_APPDATA_SIZE;
    HSCTWAINSESSION session = nullptr;
    const int r = ScTwainStartSession(&session, &m_app);
    if (r != SC_SUCCESS || !session) {
        if (session)
            ScTwainEndSession(&session);
        m_app = {};
        return;
    }
    m_session = session;
}

TTwainOperation::TTwainOperation(HWND owner)
{
    Open(owner);
}

TTwainOperation::TTwainOperation(const TTwainOperation& other) : TItem(other)
{
    Open(other.m_owner);
}

TTwainOperation& TTwainOperation::operator=(const TTwainOperation& other)
{
    if (this != &other) {
        Done();
        Open(other.m_owner);
    }
    return *this;
}

TTwainOperation::~TTwainOperation()
{
    Done();
}

TTwainOperation* TTwainOperation::Duplicar() const
{
    return new (std::nothrow) TTwainOperation(m_owner);
}

CMosaRTTI* TTwainOperation::GetRTTI() const
{
    return &m_rttiTTwainOperation;
}

int TTwainOperation::EsBuit() const
{
    return m_session ? 1 : 0;
}

int TTwainOperation::Done()
{
    if (m_session)
        ScTwainEndSession(&m_session);
    m_session = nullptr;
    m_app = {};
    return 0;
}

int TTwainOperation::TwainSelect(const wchar_t* name)
{
    if (!m_session)
        return 0;
    if (!name || !*name)
        return ScTwainSelectSource(m_session, nullptr);
    if (std::wcslen(name) >= static_cast<std::size_t>(DIB_TWAIN_NAME_CHARS)) {
        core::SetLastErrorTextF("source name of more than %d characters", DIB_TWAIN_NAME_CHARS - 1);
        return SC_ERROR_INVALID_VALUE;
    }
    wchar_t buffer[DIB_TWAIN_NAME_CHARS] = {};
    CopiarText(buffer, DIB_TWAIN_NAME_CHARS, name);
    const SCTWAINSOURCE source{SC_TWAIN_SOURCE_SIZE, buffer};
    return ScTwainSelectSource(m_session, &source);
}

int TTwainOperation::Acquire(_BITMAPHANDLE* bitmap, const wchar_t* source, unsigned int flags)
{
    if (!m_session)
        return 0;
    if (source && *source) {
        // A source that cannot be selected must not be replaced by the current one.
        const int selected = TwainSelect(source);
        if (selected != SC_SUCCESS) {
            if (bitmap)
                RkFreeBitmap(bitmap);
            return selected;
        }
    }
    ScTwainStartCapsNeg(m_session);
    HGLOBAL container = GlobalAlloc(GHND, 6);
    if (container) {
        if (auto* bytes = static_cast<std::uint8_t*>(GlobalLock(container))) {
            const std::uint16_t type = SC_TWTY_UINT16;
            const std::uint32_t value = SC_TWSX_NATIVE;
            std::memcpy(bytes, &type, 2);
            std::memcpy(bytes + 2, &value, 4);
            GlobalUnlock(container);
        }
        const SCTWAINCAPABILITY cap{SC_ICAP_XFERMECH, SC_TWON_ONEVALUE, container};
        ScTwainSetCapability(m_session, &cap, SC_CAP_SET);
        GlobalFree(container);
    }
    ScTwainEndCapsNeg(m_session);
    return ScTwainAcquire(m_session, bitmap, BITMAPHANDLE_SIZE, flags);
}

int TTwainOperation::GetSources(int (*callback)(void*, _LTWAINSOURCEINFO*, void*), void* user)
{
    if (!m_session || !callback)
        return 0;
    struct Relay {
        int (*callback)(void*, _LTWAINSOURCEINFO*, void*);
        void* user;
    } relay{callback, user};
    return ScTwainGetSources(
        m_session,
        [](void*, _LTWAINSOURCEINFO* info, void* r) {
            auto* relay = static_cast<Relay*>(r);
            return relay->callback(relay->user, info, nullptr);
        },
        SC_TWAIN_SOURCEINFO_SIZE, SC_SOURCES_ALL, &relay);
}

int TTwainOperation::GetDefaultSource(wchar_t* name)
{
    if (!m_session || !name)
        return 0;
    name[0] = L'\0';
    return ScTwainGetSources(
        m_session,
        [](void*, _LTWAINSOURCEINFO* info, void* user) {
            if (!info || !user || !info->pszTwnSourceName)
                return 0;
            CopiarText(static_cast<wchar_t*>(user), DIB_TWAIN_NAME_CHARS, info->pszTwnSourceName);
            return 1;
        },
        SC_TWAIN_SOURCEINFO_SIZE, SC_SOURCES_DEFAULT, name);
}

int TTwainOperation::SetProperties(_LTWAINPROPERTIES* properties)
{
    return m_session ? ScTwainSetProperties(m_session, properties, SC_PROPERTIES_SET) : 0;
}

int TTwainOperation::GetProperties(_LTWAINPROPERTIES* properties, unsigned int flags)
{
    return m_session ? ScTwainGetProperties(m_session, properties, SC_TWAIN_PROPERTIES_SIZE, flags)
                     : 0;
}

int TTwainOperation::ResetProperties()
{
    return m_session ? ScTwainSetProperties(m_session, nullptr, SC_PROPERTIES_RESET) : 0;
}

// ---- TDib -------------------------------------------------------------------------------------

namespace {

HWND Owner(CWnd* window)
{
    return window ? window->GetSafeHwnd() : nullptr;
}

} // namespace

int TDib::ExisteixTwain(CWnd* window)
{
    return ScTwainIsAvailable(Owner(window));
}

int TDib::SeleccionarTwain(CWnd* window)
{
    TTwainOperation op(Owner(window));
    const int r = op.TwainSelect(nullptr);
    if (r != SC_SUCCESS && r != SC_ERROR_CANCELLED) {
        MostrarErrorTwain(r);
        return DIB_ERR_FAILED;
    }
    return DIB_OK;
}

int TDib::ObrirTwain(CWnd* window, const wchar_t* source, const DIB_CFGTWAIN* settings)
{
    TTwainOperation op(Owner(window));
    Done(); // a failed scan leaves the image empty
    wchar_t name[DIB_TWAIN_NAME_CHARS] = {};
    if (source && *source) {
        CopiarText(name, DIB_TWAIN_NAME_CHARS, source);
    } else {
        op.GetDefaultSource(name);
    }
    DIB_CFGTWAIN config;
    if (settings)
        config = *settings;
    else
        GetConfigTwain(name, config);
    unsigned flags = config.EnableUI ? SC_ACQUIRE_SHOW_UI : 0u;
    if (config.KeepOpen)
        flags |= SC_ACQUIRE_KEEP_OPEN;
    const int r = op.Acquire(&m_bitmap, source, flags);
    if (r == SC_SUCCESS) {
        PrendreMembresEscaneig(*this);
        return DIB_OK;
    }
    Done();
    if (r != SC_ERROR_CANCELLED)
        MostrarErrorTwain(r);
    return DIB_ERR_FAILED;
}

int TDib::ObrirEscaner(const wchar_t* source, const DIB_SCANSETTINGS* settings)
{
    TTwainOperation op(nullptr);
    Done();
    if (!op.EsBuit())
        return DIB_ERR_FAILED;
    _LTWAINPROPERTIES p = PropietatsDe(settings, false);
    int r = op.SetProperties(&p);
    if (r == SC_SUCCESS)
        r = op.Acquire(&m_bitmap, source, 0);
    if (r == SC_SUCCESS) {
        PrendreMembresEscaneig(*this);
        return DIB_OK;
    }
    Done();
    return StatusEscaneig(r);
}
