// wia.cpp - the WIA-shaped connection and TDib::ObrirWia.
//
// Device choice always involves the user: without a device identifier every device is shown
// in an information message box, then the user chooses one (choice request). A choice that
// is cancelled or fails ends the acquisition: nothing is scanned from another device.
#include "acquire_internal.h"

#include <base/ui.h>
#include <core/last_error.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/library_module.h>
#include <raster/kernel.h>
#include <string>

using namespace dib;

namespace {

// Lists one device in an information message box; 1 to go on.
int MostrarDispositiu(void*, SCWIADEVICEINFO* info, void*)
{
    if (!info)
        return 1;
    auto text = [](const wchar_t* s) { return std::wstring(s ? s : L""); };
    std::wstring message = L"Device ID: " + text(info->pszDeviceId) + L"\nDevice Name: " +
                           text(info->pszDeviceName) + L"\nDevice Desc.:" +
                           text(info->pszDeviceDesc);
    // The message is formatted into 260 characters (the last one the terminator).
    if (message.size() > 259)
        message.resize(259);
    AfxMosaMessageBox(message.c_str(), MB_ICONINFORMATION, 0, L"Available WIA Devices");
    return 1;
}

struct Desti {
    _BITMAPHANDLE* bitmap;
    int pages;
};

// Each delivered page replaces the caller's bitmap, which so ends with the last.
int RebrePagina(void*, _BITMAPHANDLE* page, void* user)
{
    auto* desti = static_cast<Desti*>(user);
    if (!page || !(page->Flags & BITMAP_FLAG_ALLOCATED))
        return 1;
    if (desti->bitmap->Flags & BITMAP_FLAG_ALLOCATED)
        RkFreeBitmap(desti->bitmap);
    if (RkCopyBitmap(desti->bitmap, BITMAPHANDLE_SIZE, page, BITMAPHANDLE_SIZE) > 0)
        ++desti->pages;
    return 1;
}

} // namespace

TWiaOperation::TWiaOperation(HWND)
{
    if (ScWiaStartSession(2, &m_session) != SC_SUCCESS)
        m_session = nullptr;
}

TWiaOperation::TWiaOperation(const TWiaOperation&) : TWiaOperation(static_cast<HWND>(nullptr)) {}

TWiaOperation& TWiaOperation::operator=(const TWiaOperation& other)
{
    if (this != &other) {
        Done();
        if (ScWiaStartSession(2, &m_session) != SC_SUCCESS)
            m_session = nullptr;
    }
    return *this;
}

TWiaOperation::~TWiaOperation()
{
    Done();
}

int TWiaOperation::Done()
{
    if (m_session)
        ScWiaEndSession(&m_session);
    m_session = nullptr;
    return 0;
}

int TWiaOperation::Choose(const wchar_t* device)
{
    if (!m_session)
        return SC_ERROR_BAD_PROTOCOL;
    if (device)
        return ScWiaSelectDevice(m_session, device);
    LibraryModule();
    const int listed = ScWiaEnumDevices(m_session, MostrarDispositiu, nullptr);
    if (listed != SC_SUCCESS)
        return listed;
    return ScWiaSelectDeviceDlg(m_session, nullptr, 3);
}

int TWiaOperation::WiaSelect(const wchar_t* device)
{
    Choose(device);
    return 0;
}

int TWiaOperation::Acquire(_BITMAPHANDLE* bitmap, const wchar_t* device)
{
    m_lastPages = 0;
    if (!bitmap) {
        m_lastResult = SC_ERROR_INVALID_VALUE;
        return 0;
    }
    m_lastResult = Choose(device);
    if (m_lastResult != SC_SUCCESS)
        return 0;
    Desti desti{bitmap, 0};
    m_lastResult = ScWiaAcquire(m_session, nullptr, 7, RebrePagina, &desti);
    m_lastPages = desti.pages;
    if (m_lastResult == SC_SUCCESS && desti.pages == 0)
        m_lastResult = SC_ERROR_LOW_MEMORY; // pages came but none could be copied
    return 0;
}

int TDib::ObrirWia(CWnd*, const wchar_t*)
{
    TWiaOperation op(nullptr);
    Done(); // a cancelled scan leaves the image empty
    op.Acquire(&m_bitmap, nullptr);
    op.Done();
    if (op.LastResult() != SC_SUCCESS || !(m_bitmap.Flags & BITMAP_FLAG_ALLOCATED)) {
        Done();
        return DIB_ERR_FAILED;
    }
    PrendreMembresEscaneig(*this);
    return DIB_OK;
}
