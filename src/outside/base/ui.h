// ui.h - message boxes, window texts and modal dialogs through a replaceable user-interface
// sink.
//
// The library has no toolkit of its own. A host installs a sink (a GTK host shows real
// dialogs; tests install a scripted one). Without a sink a message box writes one line to
// standard error and answers its default button, and a modal dialog answers IDCANCEL.
//
// Windows are text holders known by handle: a dialog creates its window and one child per
// control (with the control's id), sets texts, and may keep a list of items in a child (a
// list box). The sink reads and changes them while it runs the dialog. Handles are opaque and
// never dereferenced; a handle that is not a live window makes the calls fail. Thread-safe.
#pragma once

#include "../outside_api.h"
#include "../win/windef.h"

#include <cstdint>
#include <string>

// Message box types and answers (the Windows values).
#ifndef MB_OK
#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_CANCELTRYCONTINUE 0x00000006u
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR 0x00000010u
#define MB_ICONSTOP 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONASTERISK 0x00000040u
#define MB_ICONINFORMATION 0x00000040u
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_DEFBUTTON4 0x00000300u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONMASK 0x000000F0u
#define MB_DEFMASK 0x00000F00u
#endif
#ifndef IDOK
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDTRYAGAIN 10
#define IDCONTINUE 11
#endif
#ifndef LB_ERR
#define LB_ERR (-1)
#endif

// The user-interface sink. Every method may be called from any thread that shows something.
class OUTSIDE_API TInterficieUsuari {
public:
    virtual ~TInterficieUsuari();
    // Shows a message box and returns the button chosen (IDOK, IDCANCEL, IDYES...).
    virtual int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type, UINT helpId) = 0;
    // Runs the modal dialog built from template templateId whose window is dialog; returns
    // the id of the button that ended it. The base answers IDCANCEL.
    virtual INT_PTR RunDialog(HWND dialog, UINT templateId);
    // Told when a window's text changes. The base does nothing.
    virtual void TextCanviat(HWND window, const wchar_t* text);
};

// Installs sink (null: none) and returns the one it replaces. The sink is not owned.
OUTSIDE_API TInterficieUsuari* SetInterficieUsuari(TInterficieUsuari* sink);
OUTSIDE_API TInterficieUsuari* GetInterficieUsuari();

// The button a message box of type answers when nobody chooses: the default button
// (MB_DEFBUTTONn, the first when out of range) of the type's buttons.
OUTSIDE_API int RespostaPerDefecte(UINT type);

// Shows a message box through the sink. A null caption is the application's name. Without a
// sink: one line "<caption>: <text>" (line breaks as spaces) on standard error, and the
// default answer.
OUTSIDE_API int AfxMosaMessageBox(const wchar_t* text, UINT type = MB_OK, UINT helpId = 0,
                                  const wchar_t* caption = nullptr);
// The same with the text loaded from the string table.
OUTSIDE_API int AfxMosaMessageBox(UINT textId, UINT type = MB_OK, UINT helpId = 0,
                                  const wchar_t* caption = nullptr);

// ---- windows ------------------------------------------------------------------------------

// A new window (a dialog when parent is null, else a control of parent with id controlId)
// holding text. Null when parent is given but not live, or no memory.
OUTSIDE_API HWND UiCrearFinestra(HWND parent, int controlId, const wchar_t* text);
// Destroys the window and its children. FALSE for a handle that is not live.
OUTSIDE_API BOOL UiDestruirFinestra(HWND window);
// The child of dialog with that control id, or null.
OUTSIDE_API HWND UiGetDlgItem(HWND dialog, int controlId);
OUTSIDE_API BOOL UiSetText(HWND window, const wchar_t* text);
// The window's text; "" for a handle that is not live.
OUTSIDE_API std::wstring UiGetText(HWND window);

// Sets a window's text to string textId of the string table. FALSE when the window is not
// live or no table holds the id.
OUTSIDE_API BOOL AfxSetWindowText(HWND window, UINT textId);
// Sets the text of control controlId of dialog to string textId. FALSE as above, or when the
// dialog has no such control.
OUTSIDE_API BOOL AfxSetDlgItemText(HWND dialog, int controlId, UINT textId);

// List items of a window (a list box): text and a pointer-sized datum each, and the
// selection (LB_ERR for none). Indexes from 0. Failures answer LB_ERR.
OUTSIDE_API int UiListAfegir(HWND list, const wchar_t* text); // the new index
OUTSIDE_API int UiListBuidar(HWND list);                      // 0
OUTSIDE_API int UiListCount(HWND list);
OUTSIDE_API std::wstring UiListText(HWND list, int index);
OUTSIDE_API int UiListSetData(HWND list, int index, std::intptr_t data); // 0
OUTSIDE_API std::intptr_t UiListGetData(HWND list, int index);
OUTSIDE_API int UiListSetSel(HWND list, int index); // index, or LB_ERR (index -1 clears: 0)
OUTSIDE_API int UiListGetSel(HWND list);

// Runs dialog modally through the sink: the sink's answer, or IDCANCEL without a sink or for a
// window that is not live.
OUTSIDE_API INT_PTR UiDoModal(HWND dialog, UINT templateId);
