// scan.h - scanner sessions: the raster toolkit's TWAIN and WIA layers, on SANE.
//
// Contents
//   results and codes ............ SC_* results shared by both layers
//   records ...................... application identity, source selection, source information,
//                                  capability container, properties, WIA device information
//   TWAIN-shaped sessions ........ ScTwain*
//   WIA-shaped sessions .......... ScWia*
//   row delivery ................. ScTwainAcquireRows (scans straight to a consumer)
//   tuning ....................... ScSetTimeoutMs
//
// A source (a WIA device) is a SANE device: its name and identifier are the SANE device name
// ("test:0"), its manufacturer the vendor, its product family and description the model.
// Listing asks SANE for every device it knows, network backends included.
//
// Every SANE call is bounded: a call that has not returned within the timeout (ScSetTimeoutMs,
// 60 s by default) is abandoned: the scan is cancelled (a stalled read), or the call is left to
// finish on its own thread while the caller gets SC_ERROR_MAX_CONNECTIONS and SANE stays
// refused to everybody until the abandoned call returns. SANE is not reentrant: one call at a
// time for the whole process (others wait, up to the timeout, then get the same result).
//
// Dialogs. Choosing a source without a name, and choosing a WIA device, is a choice request to
// the user-interface sink (base/ui.h): a dialog window with the template id SC_DLG_TWAIN_SOURCE
// or SC_DLG_WIA_DEVICE and a list (control SC_DLG_LIST) holding one item per device, the device
// name as text and its index as item data, the current or first device selected; the sink
// answers IDOK with the chosen item selected, anything else is a cancel. Message boxes go
// through the same sink. SANE sources have no user interface of their own: the flags that ask
// for one are accepted and change nothing.
#pragma once

#include "../outside_api.h"
#include "../raster/bitmap_handle.h"
#include "../win/windef.h"

#include <cstddef>
#include <cstdint>

// ---- results ----------------------------------------------------------------------------------
//
// 1 success; the negative codes below. A SANE status maps as follows (core/last_error.h holds
// SANE's own wording of it beside every failure):
//   SANE_STATUS_NO_MEM ........ SC_ERROR_LOW_MEMORY
//   SANE_STATUS_DEVICE_BUSY ... SC_ERROR_MAX_CONNECTIONS
//   SANE_STATUS_IO_ERROR, SANE_STATUS_JAMMED, SANE_STATUS_NO_DOCS, SANE_STATUS_COVER_OPEN,
//   SANE_STATUS_ACCESS_DENIED .. SC_ERROR_OPERATION (the source reported an error)
//   SANE_STATUS_UNSUPPORTED ... SC_ERROR_UNSUPPORTED
//   SANE_STATUS_INVAL ......... SC_ERROR_INVALID_VALUE
//   SANE_STATUS_CANCELLED ..... SC_ERROR_CANCELLED
//   anything else ............. SC_ERROR_FAILURE
// A device name SANE does not know gives SC_ERROR_NO_SOURCE.
#define SC_SUCCESS 1
#define SC_ERROR_FAILURE (-80)         // failure of unknown cause
#define SC_ERROR_LOW_MEMORY (-81)      // not enough memory
#define SC_ERROR_NO_SOURCE (-82)       // no such source, or no source at all
#define SC_ERROR_MAX_CONNECTIONS (-83) // the source or SANE is busy (or timed out)
#define SC_ERROR_OPERATION (-84)       // the source reported an error
#define SC_ERROR_BAD_PROTOCOL (-86)    // a call out of order (no session, no source)
#define SC_ERROR_CANCELLED (-90)       // the user or the caller cancelled
#define SC_ERROR_UNSUPPORTED (-566)    // the source cannot do what was asked
#define SC_ERROR_INVALID_VALUE (-568)  // an argument or record is not valid

// Template ids of the choice dialogs, and the id of their list.
#define SC_DLG_TWAIN_SOURCE 0x5C01u
#define SC_DLG_WIA_DEVICE 0x5C02u
#define SC_DLG_LIST 1000

// ---- records ---------------------------------------------------------------------------------
//
// Records carry a declared structure size, which the calls check: it names the record's
// version, not sizeof (the fields are laid out for this platform).

#define SC_TWAIN_APPDATA_SIZE 1616u
struct SCTWAINAPPDATA {
    std::uint32_t uStructSize; // SC_TWAIN_APPDATA_SIZE
    HWND hWnd;                 // owner window (may be null)
    wchar_t szManufacturerName[256];
    wchar_t szAppProductFamily[256];
    wchar_t szVersionInfo[32];
    wchar_t szAppName[258];
};

// Source selection: a declared size of 12 and the name (the SANE device name).
#define SC_TWAIN_SOURCE_SIZE 12u
#pragma pack(push, 4)
struct SCTWAINSOURCE {
    std::uint32_t uStructSize; // SC_TWAIN_SOURCE_SIZE
    const wchar_t* pszTwainSourceName;
};
#pragma pack(pop)
static_assert(sizeof(SCTWAINSOURCE) == 12, "the source-selection record is 12 bytes");

// Source information handed to the listing callback; the strings live until the callback
// returns.
#define SC_TWAIN_SOURCEINFO_SIZE 32u
struct _LTWAINSOURCEINFO {
    std::uint32_t uStructSize;          // SC_TWAIN_SOURCEINFO_SIZE
    const wchar_t* pszTwnSourceName;    // SANE device name
    const wchar_t* pszManufacturer;     // vendor
    const wchar_t* pszTwnProductFamily; // model
};
static_assert(sizeof(_LTWAINSOURCEINFO) == 32, "the source-information record is 32 bytes");

// Listing callback: answer 1 to go on, anything else stops the listing (which then reports
// SC_ERROR_CANCELLED).
using SCTWAINSOURCECALLBACK = int (*)(void* session, _LTWAINSOURCEINFO* info, void* user);
#define SC_SOURCES_ALL 0u
#define SC_SOURCES_DEFAULT 1u

// A TWAIN capability: the capability, the container type and a global memory block holding the
// container (one-value containers: item type, 16 bits, then the value, 32 bits).
struct SCTWAINCAPABILITY {
    std::uint16_t Cap;
    std::uint16_t ConType;
    HGLOBAL hContainer;
};
#define SC_ICAP_XFERMECH 0x0103u
#define SC_TWON_ONEVALUE 5u
#define SC_TWTY_UINT16 4u
#define SC_TWSX_NATIVE 0u
#define SC_CAP_SET 1u

// Acquisition properties of a session, mapped onto SANE options when a scan starts. A field
// at 0 (or, for the area, any edge below 0) leaves the device's own setting.
#define SC_TWAIN_PROPERTIES_SIZE 692u
#define SC_PIXEL_DEFAULT 0  // the device's mode
#define SC_PIXEL_LINEART 1  // 1 bit per pixel: SANE "Lineart", else "Gray" at depth 1
#define SC_PIXEL_GREY 2     // SANE "Gray"
#define SC_PIXEL_COLOUR 3   // SANE "Color"
#define SC_FEEDER_DEFAULT 0 // the device's source
#define SC_FEEDER_FLATBED 1 // a source option value holding "Flatbed"
#define SC_FEEDER_ADF 2     // a source option value holding "ADF" or "Document Feeder"
struct _LTWAINPROPERTIES {
    std::uint32_t uStructSize; // SC_TWAIN_PROPERTIES_SIZE
    std::int32_t nResolution;  // dots per inch; 0 the device's
    std::int32_t nPixelType;   // SC_PIXEL_*
    std::int32_t nBitDepth;    // bits per sample: 1, 8, 16; 0 the device's
    std::int32_t nFeeder;      // SC_FEEDER_*
    std::int32_t nReserved;
    double dLeft, dTop, dRight, dBottom; // scan area in millimetres
    // Filled by ScTwainGetProperties (ignored when set): the device's resolution range and
    // largest area, in dots per inch and millimetres; 0 when it does not say.
    std::int32_t nMinResolution;
    std::int32_t nMaxResolution;
    double dMaxWidth, dMaxHeight;
};

#define SC_PROPERTIES_SET 1u
#define SC_PROPERTIES_RESET 2u

// WIA device information handed to the listing callback; the strings live until the callback
// returns.
#define SC_WIA_DEVICEINFO_SIZE 32u
struct SCWIADEVICEINFO {
    std::uint32_t uStructSize; // SC_WIA_DEVICEINFO_SIZE
    const wchar_t* pszDeviceId;
    const wchar_t* pszDeviceName;
    const wchar_t* pszDeviceDesc;
};
static_assert(sizeof(SCWIADEVICEINFO) == 32, "the WIA device record is 32 bytes");
using SCWIADEVICECALLBACK = int (*)(void* session, SCWIADEVICEINFO* info, void* user);
// Page callback of ScWiaAcquire: the page is valid during the call (the callee copies what it
// keeps; the page is freed after the call); answer 1 for the next page, anything else stops.
using SCWIAPAGECALLBACK = int (*)(void* session, _BITMAPHANDLE* page, void* user);

// ---- TWAIN-shaped sessions ---------------------------------------------------------------

struct ScTwainSession;
using HSCTWAINSESSION = ScTwainSession*;

// 1 when SANE starts and knows at least one device; SC_ERROR_NO_SOURCE when it knows none;
// another SC_* code when it cannot start. The owner window is not used.
OUTSIDE_API int ScTwainIsAvailable(HWND owner);

// Starts a session (SANE is started with it and ended with the last session). *session
// receives the handle. SC_ERROR_INVALID_VALUE for null arguments or a wrong declared size;
// the SANE start's failure otherwise (then *session is null).
OUTSIDE_API int ScTwainStartSession(HSCTWAINSESSION* session, const SCTWAINAPPDATA* app);
// Ends the session (a kept-open device is closed) and sets *session to null. 1;
// SC_ERROR_BAD_PROTOCOL for a null handle.
OUTSIDE_API int ScTwainEndSession(HSCTWAINSESSION* session);

// Selects the session's source. source null: a choice request to the sink among the devices
// (SC_ERROR_NO_SOURCE when there are none; SC_ERROR_CANCELLED when the sink does not choose).
// Otherwise the named device, which must be one SANE lists: SC_ERROR_NO_SOURCE when not.
// SC_ERROR_INVALID_VALUE for a wrong declared size or a null or empty name.
OUTSIDE_API int ScTwainSelectSource(HSCTWAINSESSION session, const SCTWAINSOURCE* source);

// Calls callback once per device (SC_SOURCES_ALL) or for the default source only
// (SC_SOURCES_DEFAULT: the selected source, else the first device SANE lists). infoSize must
// be SC_TWAIN_SOURCEINFO_SIZE. 1; SC_ERROR_NO_SOURCE when there is no device;
// SC_ERROR_CANCELLED when the callback stopped the listing.
OUTSIDE_API int ScTwainGetSources(HSCTWAINSESSION session, SCTWAINSOURCECALLBACK callback,
                                  std::uint32_t infoSize, std::uint32_t mode, void* user);

// Capability negotiation. SANE has a single transfer mechanism, so these check their
// arguments and change nothing: 1; SC_ERROR_INVALID_VALUE for a null capability or container,
// or a container of fewer than 6 bytes; SC_ERROR_UNSUPPORTED for a capability other than
// SC_ICAP_XFERMECH set to SC_TWSX_NATIVE in a one-value container.
OUTSIDE_API int ScTwainStartCapsNeg(HSCTWAINSESSION session);
OUTSIDE_API int ScTwainEndCapsNeg(HSCTWAINSESSION session);
OUTSIDE_API int ScTwainSetCapability(HSCTWAINSESSION session, const SCTWAINCAPABILITY* cap,
                                     std::uint32_t mode);

// Properties of the session. Set (SC_PROPERTIES_SET) keeps a copy used by the next scans;
// reset (SC_PROPERTIES_RESET; properties may be null) goes back to the device's settings.
// Values are checked when a scan starts (a resolution or area the device refuses gives
// SC_ERROR_INVALID_VALUE then). Get fills the record with the session's values and the
// device's ranges (the selected source, else the default one). SC_ERROR_INVALID_VALUE for a
// wrong declared size, a null record where one is needed, an unknown mode, pixel type, depth
// or feeder, or a negative resolution.
OUTSIDE_API int ScTwainSetProperties(HSCTWAINSESSION session, const _LTWAINPROPERTIES* properties,
                                     std::uint32_t mode);
OUTSIDE_API int ScTwainGetProperties(HSCTWAINSESSION session, _LTWAINPROPERTIES* properties,
                                     std::uint32_t size, std::uint32_t flags);

// Acquire flags.
#define SC_ACQUIRE_SHOW_UI 0x03u   // accepted; SANE sources have no user interface
#define SC_ACQUIRE_KEEP_OPEN 0x20u // the device stays open for the session's next scan

// Scans one page from the selected source (else the default one) into bitmap, replacing what
// it held: 1 bit per pixel (palette black, white) for line art, 8-bit grey (grey palette),
// 24-bit blue-green-red colour, or 48 bits for colour at 16 bits per sample (grey at 16 bits
// keeps the high byte). Top-left, resolution from the scan. size must be BITMAPHANDLE_SIZE.
// Hand-scanner devices (unknown height) are read to their end. On failure bitmap is left
// unallocated. Results: 1; the mapped SANE status; SC_ERROR_LOW_MEMORY when the image cannot
// be held; SC_ERROR_CANCELLED also for a scan stalled beyond the timeout.
OUTSIDE_API int ScTwainAcquire(HSCTWAINSESSION session, _BITMAPHANDLE* bitmap, std::uint32_t size,
                               std::uint32_t flags);

// ---- row delivery -------------------------------------------------------------------------

// What a scan delivers, told once before the first row.
struct SCSCANFORMAT {
    std::int32_t width;         // pixels
    std::int32_t height;        // rows; -1 when the device does not know (hand scanner)
    std::int32_t channels;      // 1 or 3
    std::int32_t bitsPerSample; // 1, 8 or 16
    std::int32_t xDpi, yDpi;    // resolution of the scan
    std::uint32_t bytesPerRow;  // bytes of each delivered row
};
// Rows in the device's layout, packed to bytesPerRow: 1 bit with 1 black, most significant
// bit first; 8 bits; 16 bits in host byte order; colour as red, green, blue samples.
class OUTSIDE_API ScRowConsumer {
public:
    virtual ~ScRowConsumer();
    // Before the first row; answer 1 to go on.
    virtual int Begin(const SCSCANFORMAT& format) = 0;
    // One row, top to bottom; answer 1 to go on (anything else cancels the scan).
    virtual int Row(const std::uint8_t* row) = 0;
};
// Scans one page, as ScTwainAcquire, handing each row to consumer instead of keeping it. A
// three-pass colour scan is held in memory to interleave its planes; every other scan holds
// one row. 1, or the codes of ScTwainAcquire; SC_ERROR_CANCELLED when the consumer stops it.
OUTSIDE_API int ScTwainAcquireRows(HSCTWAINSESSION session, ScRowConsumer* consumer);

// ---- WIA-shaped sessions -----------------------------------------------------------------

struct ScWiaSession;
using HSCWIASESSION = ScWiaSession*;

// Starts a session (version 1 or 2). 1, or as ScTwainStartSession.
OUTSIDE_API int ScWiaStartSession(std::uint32_t version, HSCWIASESSION* session);
OUTSIDE_API int ScWiaEndSession(HSCWIASESSION* session);
// Calls callback once per device. 1; SC_ERROR_NO_SOURCE when there is none;
// SC_ERROR_CANCELLED when the callback stopped.
OUTSIDE_API int ScWiaEnumDevices(HSCWIASESSION session, SCWIADEVICECALLBACK callback, void* user);
// Selects the device of that identifier (SC_ERROR_NO_SOURCE when SANE does not list it).
OUTSIDE_API int ScWiaSelectDevice(HSCWIASESSION session, const wchar_t* deviceId);
// A choice request to the sink among the devices (SC_DLG_WIA_DEVICE); flags are accepted and
// not used. 1; SC_ERROR_NO_SOURCE; SC_ERROR_CANCELLED.
OUTSIDE_API int ScWiaSelectDeviceDlg(HSCWIASESSION session, HWND owner, std::uint32_t flags);
// Scans from the selected device (else the first one), calling page once per page: one page
// from a flatbed; from a document feeder, sheets until it runs empty. Each page comes in a new
// bitmap as ScTwainAcquire makes it. Results: 1 when at least one page came; the first page's
// failure otherwise (a feeder empty from the start is SC_ERROR_OPERATION); SC_ERROR_CANCELLED
// when the callback stopped.
OUTSIDE_API int ScWiaAcquire(HSCWIASESSION session, HWND owner, std::uint32_t flags,
                             SCWIAPAGECALLBACK page, void* user);
// Sets the properties of the next scans, as ScTwainSetProperties.
OUTSIDE_API int ScWiaSetProperties(HSCWIASESSION session, const _LTWAINPROPERTIES* properties,
                                   std::uint32_t mode);

// ---- tuning -----------------------------------------------------------------------------

// The bound of every SANE call, in milliseconds (0 restores 60 000). Process-wide; returns the
// previous value.
OUTSIDE_API std::uint32_t ScSetTimeoutMs(std::uint32_t ms);
