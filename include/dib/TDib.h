// TDib.h - the library's image: one raster bitmap plus resolution, colour space, channel layout
// and alpha channel.
//
// States: empty (no pixel storage; every query answers the cleared record: zero sizes) and
// filled. TDib() and Done() give the empty state; Crear, CrearDisc, the imports and the loaders
// give the filled state. The image owns its pixel storage and its display buffer; only Done()
// (called by the destructor) releases them.
//
// After every successful creation or import the image is top-left: its rows are stored top
// down. Row numbers given to the line operations count from the top of the image whatever the
// storage order; pixel operations take stored rows (see SetPixel).
//
// Status results (dib/Status.h): 0 success, -1 no memory, -2 unsupported input, -3 invalid
// argument, -5 failure without a specific code (cancellation included), kernel code e as
// e - 3000.
//
// Threads: an image (with the device contexts made on it) is used by one thread at a time,
// reads included. Different images may be used on different threads at once: their row and
// pixel calls take no process-wide lock, and drawing on their device contexts takes one only
// to look the handles up, so they do not wait for one another. The status callback is the one
// exception to per-image state: it is process-wide (SetStatusCallBack) and is called on the
// thread of whichever operation reports, so with several threads at work it may be called
// from several at once. Progress given to a call (TIndicadorEstat) is that call's own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <dib/ColourSpace.h>
#include <dib/Export.h>
#include <dib/Status.h>
#include <dib/outside/base/titem.h>
#include <dib/outside/raster/bitmap_handle.h>
#include <dib/outside/win/afx.h>
#include <dib/outside/win/windef.h>

class TIndicadorEstat;
class TSerializer;
struct SER_RECORDHEADER;
struct t_VERSIOSER;
class TProcesLiniaDIB;
struct DIB_CFGTWAIN;
struct DIB_SCANSETTINGS;

namespace dib {
struct TDibAccess;
}

// The process-wide status callback: called by long kernel operations with a percentage and the
// user data; an answer <= 0 stops the operation (reported as -5).
using DIBSTATUSCALLBACK = int (*)(int status, void* userData);

class DIB_API TDib : public TItem {
public:
    // ---- construction --------------------------------------------------------------------

    // An empty image: no pixels, resolutions 0.0, colour space, channels and bits per channel
    // 0, alpha channel -1.
    TDib();
    // Deep copy of source (null: an empty image). The pixels, palette and record are copied;
    // alpha channel, resolutions, colour space, channels and bits per channel too; the display
    // buffer is never shared. Throws CMemoryException* (AfxThrowMemoryException) when the
    // bitmap cannot be copied.
    explicit TDib(const TDib* source);
    // Deep copy, as TDib(&other); throws CMemoryException* when the bitmap cannot be copied.
    TDib(const TDib& other);
    // Deep copy. Self-assignment does nothing. Strong guarantee: when the bitmap cannot be
    // copied, CMemoryException* is thrown and this image is left exactly as it was.
    TDib& operator=(const TDib& other);
    // Calls Done().
    ~TDib() override;

    // ---- virtual operations (this order is the order of the table slots) -----------------

    // A new image made by TDib(this); null when memory runs out. The caller deletes it.
    TDib* Duplicar() const override;
    // &m_rttiTDib.
    CMosaRTTI* GetRTTI() const override;
    // 1 when no pixel storage is allocated, else 0.
    int EsBuit() const override;
    // Iguals and Comparar are TItem's.

    // Stream record of the image (magic, 64-bit length, embedded PCX file).
    // Until the file codecs are linked in these answer -2 and touch nothing.
    int Guardar(FILE* stream) const override;
    int Llegir(FILE* stream) override;

    // Releases the image: frees the pixels and the display buffer, clears the record, alpha
    // channel -1, colour space, channels and bits per channel 0. Resolutions stay. May be
    // called any number of times.
    virtual void Done();

    // Serializer record of the image (record kind 6). Until the file codecs are linked in
    // these answer -2 and touch nothing.
    virtual int Llegir(TSerializer* serializer, const SER_RECORDHEADER& header,
                       TIndicadorEstat* progress);
    virtual int Escriure(TSerializer* serializer, const t_VERSIOSER* version,
                         TIndicadorEstat* progress) const;

    // ---- creation and import (each releases a filled image first) ------------------------

    // A new top-left bitmap in memory, width x height at bitsPerPixel (1, 2, 4, 8, 16, 24, 32,
    // 48), blue-green-red order, cleared to 0. palette: 2^bits entries for depths <= 8 (null:
    // the kernel's default palette). At 32 bits the alpha channel becomes 3 and every alpha
    // byte 255 (opaque). Status: 0, or the kernel's refusal (e.g. -3003 for a size of 0); the
    // image is empty after a failure (-5 when the status callback stops the alpha fill).
    int Crear(int width, int height, int bitsPerPixel, const tagRGBQUAD* palette = nullptr);
    // As Crear with disk-backed pixel storage (a temporary file with bounded resident memory).
    // Without a palette: 1 bit black and white; 4 bits the greys 0x10 .. 0xF0 then black; 8
    // bits the greys 1 .. 255 then black. No alpha handling at 32 bits.
    int CrearDisc(int width, int height, int bitsPerPixel, const tagRGBQUAD* palette = nullptr);
    // Imports a packed DIB held in global memory (the handle stays the caller's).
    // lockHere != 0: the block is locked here and header, colour table and bits are taken from
    // it. The colour count is the header's colours-used value, or from its bit count when that
    // is 0 (1 -> 2, 4 -> 16, 8 -> 256, 24 -> 0); other depths with colours-used 0, and headers
    // other than the 40-byte one, give -2. The bits follow the header, the three colour masks
    // of a BI_BITFIELDS DIB and the colour table. A block too small for what its header
    // declares gives -3. lockHere == 0: the kernel imports the handle itself. The image is empty
    // after a failure.
    int ImportFromDIB(void* dib, int lockHere);
    // Imports a device-dependent bitmap through a screen device context; variant != 0 selects
    // the kernel's second import (always 24 bits). The previous pixels are released; the other
    // members (resolution, colour space, channels, alpha channel) are kept. No pixels after a
    // failure.
    int ImportFromDDB(HBITMAP ddb, int variant);
    // A new image of the icon drawn over background (COLORREF): 24 bits from the icon's colour
    // bitmap, or 1 bit from the lower half of its mask when it has none. Null on any failure.
    // The caller deletes the image.
    static TDib* FromIcon(HICON icon, unsigned long background);

    // ---- generated code images ------------------------------------------------------------

    // Replaces this image with a symbol of text: type 0 a QR code (error correction M, about
    // 15% of the symbol recoverable; text other than ASCII is marked as UTF-8), any other type
    // a Code 128 barcode (50 pixels high; it carries U+0001 to U+00FF only). One pixel per
    // module, no quiet zone of its own: a white margin of 2 pixels on every side, so a symbol
    // of w x h modules gives a (w + 4) x (h + 4) image. The result has 1 bit per pixel with the
    // palette black (entry 0) and white (entry 1), 72 dpi both as the bitmap's whole resolution
    // and as the image's resolution, colour space 64 (RGB) with 3 channels of 8 bits and alpha
    // channel -1: the facts label layouts expect of a code image, whatever its depth.
    // Status: 0; -3 for a null or empty text, a wchar_t that is not a Unicode scalar value
    // (a surrogate, a negative value or one above U+10FFFF), text the symbology cannot carry or
    // too long for it; -1 no memory; -5 a failure of the symbol library; the status of Crear or
    // of the kernel's fill, row write or depth change. On any failure this image is unchanged.
    int CrearCode(int type, const wchar_t* text);

    // ---- export -----------------------------------------------------------------------------

    // A packed DIB in movable global memory (variant 0: rows bottom-up, else top-down); null on
    // failure. The caller frees it with GlobalFree. The image keeps its bitmap.
    void* ExportToDIB(int variant);
    // A device-dependent bitmap (variant 0 keeps the depth, else 24 bits); null on failure.
    // The caller deletes it with DeleteObject.
    HBITMAP ExportToDDB(int variant);

    // ---- device context and memory access -----------------------------------------------

    // A device context drawing into the bitmap, in text mapping mode; null on failure. Release
    // it with DeleteDC before the image changes or is released.
    HDC CreateDCW();
    // Releases a context from CreateDCW; returns 0.
    int DeleteDC(HDC dc);
    // Begin / end direct access to the pixel memory; nestable, always paired. Both return 0.
    int Lock() const;
    int Unlock() const;

    // ---- queries (never fail) -------------------------------------------------------------

    int GetMidaX() const;
    int GetMidaY() const;
    int GetBitsPerPixel() const;
    int GetBytesPerLinia() const;
    // Resolution in dots per inch: the stored resolution when its magnitude exceeds 1e-7, else
    // the bitmap's whole resolution when not 0, else 72.0.
    double GetResolucioX() const;
    double GetResolucioY() const;
    // Size in points (1/72 inch) at that resolution.
    double GetMidaRealX() const;
    double GetMidaRealY() const;

    // Installs callback as the kernel's process-wide status callback (user data null) and
    // returns the one installed before. Null removes it. An operation already running keeps
    // the callback it started with.
    static DIBSTATUSCALLBACK SetStatusCallBack(DIBSTATUSCALLBACK callback);

    // ---- line and pixel access ------------------------------------------------------------
    //
    // Rows count from the top of the image: row r is stored row r of a top-left image and
    // stored row height - 1 - r of a bottom-up one. A row or column outside the image, a null
    // buffer, a byte count of 0 or one that runs past the stored row is refused with -3003 and
    // nothing is copied. No call here allocates.

    // Copies bytes bytes of row into buffer. When the image has 24 bits per pixel and swap !=
    // 0, bytes 0 and 2 of every complete three-byte group are exchanged (BGR -> RGB).
    int GetLinia(int row, unsigned char* buffer, std::uint64_t bytes, int swap = 0) const;
    // Copies bytes bytes of row starting at pixel column (packed depths: pixel column lands in
    // the top bits of the first byte).
    int GetLinia(int row, int column, unsigned char* buffer, std::uint64_t bytes) const;
    int SetLinia(int row, const unsigned char* buffer, std::uint64_t bytes);
    // Writes the pixels covered by bytes bytes, from pixel column on; the others stay.
    int SetLinia(int row, int column, const unsigned char* buffer, std::uint64_t bytes);

    // Gathers column into buffer, bottom row first (stored row height - 1 first, whatever the
    // storage order). Depth 1: one bit per row (set when the pixel's colour is not black), most
    // significant first, ceil(height / 8) bytes, a final partial byte padded with 0 bits;
    // result 0, or -3003 for a column outside the image (nothing written). Other depths:
    // ceil(bits / 8) bytes per row, height times; result the status of the last row read (0
    // for height 0).
    // size is not consulted: the caller provides a buffer for the whole column.
    int GetColumna(int column, unsigned char* buffer, std::uint64_t size) const;

    // Pixel operations take stored rows: y is not translated through the storage order (the
    // same as a row for top-left images, which every creation and import produces).
    // Writes floor(bits / 8) bytes at (x, y): refused (-3003) at depths below 8.
    int SetPixel(int x, int y, const unsigned char* bytes);
    // Writes a COLORREF at (x, y) (palette depths: the nearest entry). Returns 0.
    int SetPixel(int x, int y, unsigned long colour);
    // The COLORREF of the pixel at (x, y); 0 outside the image.
    unsigned long GetPixel(int x, int y) const;

    // Copies the inclusive rectangle *rect (rows from the top) into a new top-left image handed
    // to out, which the caller deletes in every case (also after a failure; null only when the
    // image object itself could not be allocated, with -1). rect->right is clamped to width - 1
    // and rect->bottom to height - 1, written back. The new image carries this image's
    // resolution, colour space, channels, bits per channel and alpha channel. A null rect
    // gives -3 and an empty image; a rectangle that does not lie in the image the kernel's
    // refusal (-3003) and an empty image.
    int GetPorcioBitmap(tagRECT* rect, TDib*& out) const;

    // ---- static line functions (no image; work in place on the caller's buffers) ----------

    // Bytes of one line: 1 bit ceil(w / 8), 2 bits ceil(w / 4), 4 bits ceil(w / 2), other
    // depths d floor(w * d / 8), rounded up to a multiple of alignment when alignment != 0.
    // A negative width or alignment, or a depth below 1 or above 64, gives 0.
    static unsigned long TamanyLinia(int width, int bitsPerPixel, int alignment);
    // TamanyLinia(width, bitsPerPixel, alignment) * height. 0 when the product does not fit 32
    // bits (or for invalid arguments): use dib's checked sizes for images that large.
    static std::uint32_t TamanyBitmap(int width, int height, int bitsPerPixel, int alignment);
    // Converts count C, M, Y, K pixels in place to blue = max(0, 255 - y - k), green =
    // max(0, 255 - m - k), red = max(0, 255 - c - k), 0. Nothing when count < 1 or pixels null.
    static int AdaptarPerCarregarCMYK(unsigned char* pixels, int count);
    // Mirrors one line of width pixels left to right. Depths 8, 16, 24, 32, 48 in place; other
    // depths (1, 2, 4, ...) through a temporary one-row bitmap, whose allocation failure is
    // returned as a status. Nothing for a null line or a width below 2.
    static int FlipLine(int bitsPerPixel, unsigned char* line, int width);
    static int FlipLine8(unsigned char* line, int width);
    static int FlipLine16(unsigned char* line, int width);
    static int FlipLine24(unsigned char* line, int width);
    static int FlipLine32(unsigned char* line, int width);
    static int FlipLine48(unsigned char* line, int width);
    // Exchanges bytes (16-bit samples) 0 and 2 of each of count three-sample pixels.
    static int BGRtoRGB_8(unsigned char* line, int count);
    static int BGRtoRGB_16(unsigned short* line, int count);
    // COLORREF of pixel x of a raw line: 1, 4 and 8 bits through palette (null: black/white,
    // grey index * 16, grey index); 24 bits blue-green-red; 32 bits C, M, Y, K-like bytes with
    // the fourth subtracted from the others (floored at 0); other depths 0. The caller's line
    // holds pixel x.
    static unsigned long getPixel(int x, const unsigned char* line, int bitsPerPixel,
                                  const tagRGBQUAD* palette);

    // ---- palette and colour queries --------------------------------------------------------

    // The colour count (palette entries; 0 above 8 bits). palette (may be null) receives the
    // entries. When both palette and used are given, used[i] becomes 1 for every entry some
    // pixel uses and 0 otherwise; the scan stops once every entry has been seen. used is not
    // touched when palette is null.
    int GetPaleta(tagRGBQUAD* palette, int* used) const;
    // Replaces the colour-count entries from palette (null: nothing). Returns the colour count.
    int SetPaleta(const tagRGBQUAD* palette);
    // Distinct colours of the image, or a negative status when the kernel's count fails.
    int GetNumColors() const;
    // Appends every distinct COLORREF of the image to list (not cleared first), in order of
    // first appearance (rows top to bottom of storage, columns left to right). Returns their
    // number. Throws CMemoryException* when the list cannot grow, as CList does.
    int GetLlistaColors(CList<unsigned long, unsigned long>& list) const;
    // 1 when the kernel's grey-scale test finds every colour grey, else 0 (errors included).
    int EsImatgeGrisos() const;

    // ---- line processing ------------------------------------------------------------------

    // Hands lines firstLine .. firstLine + lineCount - 1 (rows from the top) to consumer's
    // Processar, top to bottom, with a null alpha line. Only Processar is called: the caller
    // calls Init before and Done after. lineCount < 0: every line from line 0. pixelCount < 0:
    // the stored line from firstColumn to its end; otherwise the line-size rule (no rounding)
    // for pixelCount pixels from firstColumn. The bytes are the stored pixel layout; the buffer
    // is the feeder's and reused for each line. Progress: SetRangPosicioRel(i, lineCount)
    // before and PopRangRel after each line.
    // Results: 0 all lines delivered, or the consumer returned 0; -1 no memory for the line
    // buffer; -3 null consumer, or lines or columns outside the image (nothing delivered);
    // -5 cancelled through progress; a row read failure as its status.
    int ProcesarLiniesDIB(TProcesLiniaDIB* consumer, int firstLine, int lineCount, int firstColumn,
                          int pixelCount, TIndicadorEstat* progress) const;

    // ---- scanners (Acquire.h) ------------------------------------------------------------
    //
    // Windows are not used (there are none of our own); null is fine everywhere.

    // 1 when a scanner is reachable; a negative scanner code otherwise (-82 none).
    static int ExisteixTwain(CWnd* window);
    // Lets the user choose the current source (choice request). 0 chosen or cancelled; -5 on
    // an error, after showing its message (French text from the string table).
    static int SeleccionarTwain(CWnd* window);
    // Scans one page into this image from source (null or "": the default source) with
    // settings (null: GetConfigTwain for that source). The image is released first, so it is
    // empty after any failure. On success the image takes the scan's resolution, colour space
    // (32 line art, 8 grey, 64 colour), channels (1 or 3), bits per channel and alpha -1.
    // 0 acquired; -5 cancelled (silently) or failed (after an error message box; a source
    // that cannot be selected, a name of 520 characters or more included).
    int ObrirTwain(CWnd* window, const wchar_t* source, const DIB_CFGTWAIN* settings);
    // Reads the settings of source (null or "": the general ones) from the settings store:
    // defaults 1, 1, 1, 0, then "Software\Corvane\Twain", then its sub-key named after the
    // source (one key segment, a '\' in the name written as '_'). Always 1.
    static int GetConfigTwain(const wchar_t* source, DIB_CFGTWAIN& settings);
    // Writes the settings of source (null or "": the general key). 1 when they reached the
    // store, else 0.
    static int SetConfigTwain(const wchar_t* source, const DIB_CFGTWAIN& settings);
    // Scans through the WIA-shaped connection: every device is shown in an information
    // message box, the user chooses one, and every page (or feeder sheet) it delivers
    // replaces the image, which ends with the last. device is not used. The image is
    // released first. 0 when a page was acquired (members set as ObrirTwain); -5 otherwise.
    int ObrirWia(CWnd* window, const wchar_t* device);
    // Scans one page from source (null or "": the default) with settings (null: the
    // device's), without messages or stored settings. 0; -5 cancelled or the device failed;
    // -3 an invalid setting or source name; -1 no memory. DibGetLastErrorText says why.
    int ObrirEscaner(const wchar_t* source, const DIB_SCANSETTINGS* settings);
    // Scans one page from source straight into a TIFF file at path (Deflate, top-down strips),
    // holding one row at a time (a three-pass scan holds its three planes): line art 1 bit,
    // grey and colour at the device's full depth (16 bits per sample unless settings say
    // otherwise). The file is removed after a failure. Same results as ObrirEscaner, and -5
    // when the file cannot be written.
    static int EscanejarATIFF(const wchar_t* source, const DIB_SCANSETTINGS* settings,
                              const wchar_t* path);

    static CMosaRTTI m_rttiTDib;

protected:
    // 256 counters of one channel of a 24-bit image: 0 the average (b0 + b1 + b2) / 3, 1 byte
    // 2 (red), 2 byte 1 (green), 3 byte 0 (blue). 0; -3 for other depths, channel above 3 or a
    // null histogram; -1 when the line buffer cannot be allocated (counters zeroed).
    int GetBitmapHistogram(std::uint32_t* histogram, unsigned int channel) const;

    // Records perspective 1 after flipping a bottom-up bitmap (kernel vertical flip).
    int NormalitzarTopLeft();
    void CopiarMembres(const TDib& source);

    _BITMAPHANDLE m_bitmap;    // the kernel's record (declared size 284)
    double m_resolucioX = 0.0; // dots per inch, 0 = not set
    double m_resolucioY = 0.0;
    std::uint32_t m_espaiColor = DIB_CS_NONE;
    std::uint32_t m_canals = 0;
    std::uint32_t m_bitsPerCanal = 0;
    std::int32_t m_canalAlpha = -1;           // zero-based alpha channel, -1 none
    unsigned char* m_bufferDisplay = nullptr; // display path's pixels (malloc), freed by Done

    friend struct dib::TDibAccess;
};
