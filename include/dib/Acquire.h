// Acquire.h - scanner acquisition (TWAIN- and WIA-shaped connections) and the Photo CD
// resolution dialog.
//
// Scanners are reached through SANE: a source (a device) is named by its SANE device name
// ("test:0", "genesys:libusb:001:004"). Sources have no user interface of their own; choosing a
// source without a name, and the Photo CD dialog, are choice requests to the user-interface
// sink (<dib/outside/base/ui.h>), and error messages are message boxes through the same sink.
// The TDib operations that scan (ExisteixTwain, SeleccionarTwain, ObrirTwain, GetConfigTwain,
// SetConfigTwain, ObrirWia, ObrirEscaner, EscanejarATIFF) are declared in TDib.h.
//
// Every scanner call is bounded in time (a device that stops answering cancels the scan after
// 60 seconds); no call waits on a device forever.
#pragma once

#include <cstdint>
#include <dib/Export.h>
#include <dib/outside/base/titem.h>
#include <dib/outside/raster/bitmap_handle.h>
#include <dib/outside/scan/scan.h>
#include <dib/outside/win/windef.h>

class CWnd;

// Acquisition settings of a source, kept per user in the settings store under
// "Software\Corvane\Twain" (general) and its sub-key named after a source (that source's own,
// which take precedence). Values "EnableUI", "ShowStatus", "NativeXfer", "KeepOpen".
struct DIB_CFGTWAIN {
    std::int32_t EnableUI = 1;   // non-zero: ask for the source's own interface (acquire flags 3)
    std::int32_t ShowStatus = 1; // stored only
    std::int32_t NativeXfer = 1; // stored only
    std::int32_t KeepOpen = 0;   // non-zero: the source stays open after the scan (flag 0x20)
};

// Source names are copied into a buffer of this many characters (the terminating null
// included); longer names are refused.
constexpr int DIB_TWAIN_NAME_CHARS = 520;

// A TWAIN-shaped connection. One object owns one connection: a copy opens a connection of its
// own for the same owner window, so each ends exactly once.
class DIB_API TTwainOperation : public TItem {
public:
    // Opens a connection for owner (null: no owner window). Without SANE, or when it cannot
    // start, the object stays without connection and every call below answers 0.
    explicit TTwainOperation(HWND owner = nullptr);
    // A new connection with other's owner window (not other's connection).
    TTwainOperation(const TTwainOperation& other);
    // Ends this connection and opens a new one with other's owner window.
    TTwainOperation& operator=(const TTwainOperation& other);
    ~TTwainOperation() override;

    // A new object opening a new connection with the same owner; the caller deletes it. Null
    // when memory runs out.
    TTwainOperation* Duplicar() const override;
    CMosaRTTI* GetRTTI() const override;
    // Non-zero when a connection is open (the toolkit's sense: "holds a connection").
    int EsBuit() const override;

    // Ends the connection if one is open; returns 0.
    virtual int Done();

    // Selects a source: null or "" asks the user (choice request; 1 chosen, -90 cancelled);
    // otherwise the named source (1; -82 no such source; -568 a name of 520 characters or
    // more). 0 without connection.
    int TwainSelect(const wchar_t* name);
    // Scans one page into bitmap (replacing what it held), after selecting source when it is
    // non-empty (a source that cannot be selected is reported, never replaced by another).
    // flags: 3 asks for the source's interface (accepted; none exists), 0x20 keeps the source
    // open. 1 acquired; a negative code (-90 cancelled, -82 no source, -84 device error,
    // -568 invalid value, -81 no memory, -83 busy); 0 without connection.
    int Acquire(_BITMAPHANDLE* bitmap, const wchar_t* source, unsigned int flags);
    // Calls callback(user, info, null) for every source. 1, a negative code, 0 without
    // connection or callback.
    int GetSources(int (*callback)(void* user, _LTWAINSOURCEINFO* info, void* reserved),
                   void* user);
    // Copies the default source's name into name, which must hold DIB_TWAIN_NAME_CHARS
    // characters (a longer name is cut; the result is always terminated). 1; 0 without
    // connection or with a null buffer; a negative code when there is no source.
    int GetDefaultSource(wchar_t* name);
    // Scan properties of the next acquisitions (resolution, pixel type, depth, area, feeder).
    int SetProperties(_LTWAINPROPERTIES* properties);
    int GetProperties(_LTWAINPROPERTIES* properties, unsigned int flags);
    int ResetProperties();

    // The connection's session (null without one), for the library's own scan routes.
    HSCTWAINSESSION GetSession() const { return m_session; }

    static CMosaRTTI m_rttiTTwainOperation;

private:
    void Open(HWND owner);
    HSCTWAINSESSION m_session = nullptr;
    SCTWAINAPPDATA m_app{};
    HWND m_owner = nullptr;
};

// A WIA-shaped connection. One object owns one connection; a copy opens its own.
class DIB_API TWiaOperation {
public:
    explicit TWiaOperation(HWND owner = nullptr);
    TWiaOperation(const TWiaOperation& other);
    TWiaOperation& operator=(const TWiaOperation& other);
    virtual ~TWiaOperation();
    // Ends the connection; 0.
    int Done();
    // device given: selects it. Null: shows every device in an information message box
    // ("Available WIA Devices"), then asks the user to choose (choice request). Always 0.
    int WiaSelect(const wchar_t* device);
    // Chooses the device as WiaSelect, then scans: every page (each sheet of a document
    // feeder) replaces bitmap's content, so bitmap ends with the last. 0, as the toolkit's
    // layer reports nothing; LastResult() tells what happened.
    int Acquire(_BITMAPHANDLE* bitmap, const wchar_t* device);
    // The scanner layer's result of the last Acquire (1 at least one page; negative codes as
    // TTwainOperation::Acquire), and the pages it delivered.
    int LastResult() const { return m_lastResult; }
    int LastPages() const { return m_lastPages; }

private:
    int Choose(const wchar_t* device);
    HSCWIASESSION m_session = nullptr;
    int m_lastResult = 0;
    int m_lastPages = 0;
};

// Settings of the library's own scan routes (TDib::ObrirEscaner, TDib::EscanejarATIFF).
struct DIB_SCANSETTINGS {
    std::int32_t resolution = 0; // dots per inch; 0 the device's
    std::int32_t mode = 0;       // 0 the device's; 1 line art; 2 grey; 3 colour
    std::int32_t bitDepth = 0;   // bits per sample; 0 the device's (EscanejarATIFF: 16 when 0
                                 // and the mode is grey or colour)
};

// Photo CD information as the reader hands it to the resolution dialog: the first six values
// say which of the six standard resolutions the file holds (non-zero: present).
struct _PCDINFO {
    std::int32_t resolutions[6];
};

// The Photo CD resolution dialog (dialog resource 5290 of the library), run through the
// user-interface sink's dialog request. Lists the available resolutions ("96 x 64" ...
// "3072 x 2048"), the first selected; OK stores the chosen index.
class DIB_API CDlgSeleccioPCD {
public:
    enum { IDD = 5290 };
    // info: the availability flags (copied; null lists nothing); parent: not used.
    explicit CDlgSeleccioPCD(const _PCDINFO* info = nullptr, CWnd* parent = nullptr);
    virtual ~CDlgSeleccioPCD();
    CDlgSeleccioPCD(const CDlgSeleccioPCD&) = delete;
    CDlgSeleccioPCD& operator=(const CDlgSeleccioPCD&) = delete;

    // Runs the dialog: IDOK when the user confirmed a resolution, IDCANCEL otherwise (also
    // without a sink, or when the dialog could not be made). OK with nothing selected keeps
    // the dialog open: the sink is asked again.
    virtual INT_PTR DoModal();
    // The chosen index (0 to 5), valid after IDOK; 0 before.
    int GetSeleccionat() const { return m_seleccionat; }

protected:
    // Sets the caption and label from the string table and fills the list; TRUE.
    virtual BOOL OnInitDialog();
    // Saving (OK): takes the selection's index; FALSE when nothing is selected.
    virtual BOOL DoDataExchange(BOOL saving);

    HWND m_hWnd = nullptr;   // the dialog window while it runs
    HWND m_llista = nullptr; // list control 1000
    std::int32_t m_disponibles[6] = {};
    int m_seleccionat = 0;
};
