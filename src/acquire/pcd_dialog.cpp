// pcd_dialog.cpp - the Photo CD resolution dialog and its dialog resource 5290.
//
// The template is registered with the library module (an extended dialog template, as a
// resource compiler writes it); the dialog's windows are made from the same control table, and
// the sink runs it (base/ui.h).
#include "acquire_internal.h"

#include <base/ui.h>
#include <cstring>
#include <dib/internal/library_module.h>
#include <mutex>
#include <string>
#include <vector>
#include <win/module_resources.h>

namespace dib {
namespace {

constexpr std::uint32_t WS_POPUP_ = 0x80000000u, WS_CHILD_ = 0x40000000u, WS_VISIBLE_ = 0x10000000u,
                        WS_CAPTION_ = 0x00C00000u, WS_BORDER_ = 0x00800000u,
                        WS_SYSMENU_ = 0x00080000u, WS_VSCROLL_ = 0x00200000u,
                        WS_GROUP_ = 0x00020000u, WS_TABSTOP_ = 0x00010000u, DS_SETFONT_ = 0x40u,
                        DS_MODALFRAME_ = 0x80u, DS_FIXEDSYS_ = 0x08u, LBS_NOTIFY_ = 0x1u,
                        LBS_NOINTEGRALHEIGHT_ = 0x100u, BS_DEFPUSHBUTTON_ = 0x1u;

struct Control {
    std::uint16_t atom; // 0x0080 button, 0x0082 static, 0x0083 list box
    int id;
    std::int16_t x, y, cx, cy;
    std::uint32_t style;
    const wchar_t* text; // null: none
};

constexpr int kLlista = 1000;
constexpr int kEtiqueta = 1001;
constexpr const wchar_t* kTitol = L"<Kodak Photo CD>";

const Control kControls[] = {
    {0x0082, kEtiqueta, 7, 7, 172, 8, WS_CHILD_ | WS_VISIBLE_ | WS_GROUP_,
     L"<Seleccione la resolución:>"},
    {0x0083, kLlista, 7, 17, 172, 63,
     WS_CHILD_ | WS_VISIBLE_ | WS_BORDER_ | WS_VSCROLL_ | WS_TABSTOP_ | LBS_NOTIFY_ |
         LBS_NOINTEGRALHEIGHT_,
     nullptr},
    {0x0080, IDOK, 77, 85, 50, 14, WS_CHILD_ | WS_VISIBLE_ | WS_TABSTOP_ | BS_DEFPUSHBUTTON_,
     L"<Aceptar>"},
    {0x0080, IDCANCEL, 129, 85, 50, 14, WS_CHILD_ | WS_VISIBLE_ | WS_TABSTOP_, L"<Cancelar>"},
};

const wchar_t* const kResolucions[6] = {L"96 x 64",   L"192 x 128",   L"384 x 256",
                                        L"768 x 512", L"1536 x 1024", L"3072 x 2048"};

class Writer {
public:
    std::vector<std::uint8_t> bytes;
    void U16(std::uint32_t v)
    {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void Text(const wchar_t* s) // UTF-16, terminated; the texts here are all in the BMP
    {
        for (; s && *s; ++s)
            U16(static_cast<std::uint32_t>(*s));
        U16(0);
    }
    void Align4()
    {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
};

std::vector<std::uint8_t> Plantilla()
{
    Writer w;
    w.U16(1);      // dlgVer
    w.U16(0xFFFF); // signature: extended template
    w.U32(0);      // help id
    w.U32(0);      // extended style
    w.U32(WS_POPUP_ | WS_CAPTION_ | WS_SYSMENU_ | DS_MODALFRAME_ | DS_SETFONT_ | DS_FIXEDSYS_);
    w.U16(std::size(kControls));
    for (std::int16_t v : {0, 0, 186, 106})
        w.U16(static_cast<std::uint16_t>(v));
    w.U16(0); // no menu
    w.U16(0); // default class
    w.Text(kTitol);
    w.U16(8);             // points
    w.U16(400);           // weight
    w.bytes.push_back(0); // italic
    w.bytes.push_back(1); // character set: default
    w.Text(L"MS Shell Dlg");
    for (const Control& c : kControls) {
        w.Align4();
        w.U32(0); // help id
        w.U32(0); // extended style
        w.U32(c.style);
        for (std::int16_t v : {c.x, c.y, c.cx, c.cy})
            w.U16(static_cast<std::uint16_t>(v));
        w.U32(static_cast<std::uint32_t>(c.id));
        w.U16(0xFFFF);
        w.U16(c.atom);
        w.Text(c.text ? c.text : L"");
        w.U16(0); // no creation data
    }
    return w.bytes;
}

} // namespace

void RegistrarRecursosAdquisicio()
{
    static std::once_flag once;
    std::call_once(once, [] {
        HINSTANCE module = LibraryModule();
        if (!module)
            return;
        const std::vector<std::uint8_t> bytes = Plantilla();
        WinAddResource(module, RT_DIALOG, MAKEINTRESOURCEW(CDlgSeleccioPCD::IDD), bytes.data(),
                       bytes.size());
    });
}

} // namespace dib

using namespace dib;

CDlgSeleccioPCD::CDlgSeleccioPCD(const _PCDINFO* info, CWnd*)
{
    RegistrarRecursosAdquisicio();
    if (info)
        std::memcpy(m_disponibles, info->resolutions, sizeof m_disponibles);
}

CDlgSeleccioPCD::~CDlgSeleccioPCD()
{
    if (m_hWnd)
        UiDestruirFinestra(m_hWnd);
}

BOOL CDlgSeleccioPCD::OnInitDialog()
{
    AfxSetWindowText(m_hWnd, 22043);
    AfxSetDlgItemText(m_hWnd, kEtiqueta, 22044);
    UiListBuidar(m_llista);
    for (int i = 0; i < 6; ++i) {
        if (!m_disponibles[i])
            continue;
        const int at = UiListAfegir(m_llista, kResolucions[i]);
        if (at >= 0)
            UiListSetData(m_llista, at, i);
    }
    UiListSetSel(m_llista, 0);
    return TRUE;
}

BOOL CDlgSeleccioPCD::DoDataExchange(BOOL saving)
{
    if (!saving)
        return TRUE;
    const int sel = UiListGetSel(m_llista);
    if (sel < 0)
        return FALSE;
    const std::intptr_t data = UiListGetData(m_llista, sel);
    if (data < 0 || data > 5)
        return FALSE;
    m_seleccionat = static_cast<int>(data);
    return TRUE;
}

INT_PTR CDlgSeleccioPCD::DoModal()
{
    LibraryModule();
    if (m_hWnd)
        UiDestruirFinestra(m_hWnd);
    m_hWnd = UiCrearFinestra(nullptr, 0, kTitol);
    m_llista = nullptr;
    bool made = m_hWnd != nullptr;
    for (const Control& c : kControls) {
        HWND child = made ? UiCrearFinestra(m_hWnd, c.id, c.text) : nullptr;
        made = made && child;
        if (c.id == kLlista)
            m_llista = child;
    }
    INT_PTR result = IDCANCEL;
    if (made && OnInitDialog()) {
        // OK with no selection keeps the dialog open; a sink that keeps answering OK without
        // choosing is stopped after a bounded number of rounds.
        for (int round = 0; round < 100; ++round) {
            const INT_PTR answer = UiDoModal(m_hWnd, IDD);
            if (answer != IDOK)
                break;
            if (DoDataExchange(TRUE)) {
                result = IDOK;
                break;
            }
        }
    }
    if (m_hWnd)
        UiDestruirFinestra(m_hWnd);
    m_hWnd = m_llista = nullptr;
    return result;
}
