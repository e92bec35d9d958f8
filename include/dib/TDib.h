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
#include <dib/outside/raster/file_info.h>
#include <dib/outside/win/afx.h>
#include <dib/outside/win/windef.h>

class CFILEINFO;
class CInfoFitxerDIB;
class TIndicadorEstat;
class TSerializer;
struct SER_RECORDHEADER;
struct t_VERSIOSER;
class TProcesLiniaDIB;
class CFILEINFO;
struct DIB_CFGTWAIN;
struct DIB_SCANSETTINGS;

namespace dib {
struct TDibAccess;
struct TiffReaderAccess;
struct FileInfoAccess;
} // namespace dib

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
    // the kernel's second import (always 24 bits). The previous pixels are released and the
    // alpha channel becomes -1; the other members (resolution, colour space, channels) are kept.
    // No pixels after a failure.
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
    // it with DeleteDC before the image changes or is released. On a disk-backed image
    // (CrearDisc) the context draws into a full copy of the pixels in memory: it costs the whole
    // image in memory, whatever the disk storage bounds elsewhere.
    HDC CreateDCW();
    // Releases a context from CreateDCW; returns 0.
    int DeleteDC(HDC dc);
    // Begin / end direct access to the pixel memory; nestable, always paired. Both return 0.
    int Lock() const;
    int Unlock() const;

    // ---- display and printing (display/) ------------------------------------------------
    //
    // Drawing on a device context: one of the library's bitmaps (CreateDCW, RkCreateBitmapDC),
    // a memory context, or a host's cairo context (WinCreateCairoDC: a window, an image
    // surface, a print job from WinCreatePrinterDC). Rectangles: source in image pixels (top
    // row 0), destination and clip in device units, [left, right) x [top, bottom). Nothing
    // here changes the image. Statuses: 0; -3 invalid argument; -5 a failure without a
    // specific code; a kernel code e as e - 3000 (-3003 a bad rectangle, -3009 a bad context).
    // The display-mode bits and the painting switch of the kernel are process-wide: two
    // threads painting at once may see each other's settings.

    // Draws the image. An image of more than 8 bits with an alpha channel above 0, or drawn
    // with an alpha mask, goes through the GDI+ path (DisplayGDIPlus) and, when that fails,
    // through the kernel's paint (DisplayLead, which draws it opaque and ignores the mask).
    // src null: the whole image scaled into dst; otherwise the unscaled part of dst's size
    // (GDI+ path) or the src rectangle scaled into dst (kernel path). clip null: no clip.
    int Display(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip,
                unsigned long rop, int usePalette, const TDib* mask, int highQuality) const;
    int Display(CDC* dc, const tagRECT* dst, const tagRECT* clip, unsigned long rop, int usePalette,
                const TDib* mask, int highQuality) const;
    int Display(CDC* dc, const tagRECT* dst, unsigned long rop, int usePalette, const TDib* mask,
                int highQuality) const;
    // The kernel's paint: highQuality selects area-averaged sampling, else nearest; usePalette
    // selects the image's palette into the context while painting (palette images).
    int DisplayLead(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip,
                    unsigned long rop, int usePalette, const TDib* mask, int highQuality) const;
    // Alpha drawing through the GDI+ interface: the image as 32-bit straight ARGB (its own
    // alpha when the alpha channel is above 0, else the mask's grey levels, else opaque)
    // composed over what the context shows. A mask of any depth and size is used through an
    // 8-bit grey copy; pixels it does not cover are opaque. Every depth is converted (palette
    // images through their palette, 16 bits with alpha channel 1 as grey + alpha, 16 bits
    // otherwise as 5-5-5, 48 bits by the high bytes). rop and usePalette are not used. 0 drawn
    // (or nothing to draw: an empty image); -1 no memory; -3 a bad context or argument; -5 the
    // drawing failed.
    int DisplayGDIPlus(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip,
                       unsigned long rop, int usePalette, const TDib* mask, int highQuality) const;
    // The kernel's effect paint (raster/paint/paint_codes.h: RK_EFFECT_*, effectParam strips).
    // An image with alpha or a mask is first composed against the context (CalcDibAlpha).
    int DisplayEx(CDC* dc, const tagRECT* dst, unsigned long effect, unsigned int effectParam,
                  int usePalette, const TDib* mask, int highQuality) const;
    // A new image (the caller deletes it): what dc shows in dst, copied with StretchBlt (white
    // when it cannot be read), with image blended over it through its alpha channel or mask
    // (8-bit grey levels; any other depth through a grey copy; a mask of another size blends
    // where it covers the image and leaves the image opaque elsewhere). Depth: the image's,
    // less 8 when it has its own alpha. Null for a null image, an image without alpha and no
    // mask, or a failure.
    static TDib* CalcDibAlpha(CDC* dc, const TDib* image, const tagRECT* dst, const TDib* mask);
    TDib* CalcDibAlpha(CDC* dc, const tagRECT* dst, const TDib* mask) const;
    // Non-zero when the alpha channel index is above 0.
    int TeAlpha() const;
    // The alpha channel of a file: 0 for any format but 75 (PNG); for PNG 3 at 32 bits, 1 at
    // 16 bits, -1 otherwise.
    static int GetAlpha(int format, int bitsPerPixel);
    // The alpha channel recorded in the file information.
    static int GetAlpha(CFILEINFO& info);
    // Fits the image into area. Bits 0-1 of flags: 0 left, 1 or 3 centred, 2 right; bits 2-3:
    // 0 top, 4 or 12 centred, 8 bottom; 16: fit the width only (the height may overflow the
    // area). The width is filled first (enlarging as well as reducing). 0, or -3 for a null
    // pointer, an empty image or area, or a rectangle that does not fit 32-bit coordinates.
    int CalcDisplayRect(const tagRECT* area, tagRECT* out, unsigned short flags) const;
    // Fits (CalcDisplayRect) and draws the image into the fitted rectangle, which is stored
    // into area; flag 64 leaves 1-bit images sampled without grey smoothing. An image with
    // alpha goes through the GDI+ path first. Status of the fit or the drawing; area is
    // unchanged on failure.
    int Pintar(CDC* dc, CRect& area, unsigned short flags) const;
    // Prints the image on dc. The settings store's "DIB" key under the application's key
    // decides how: "ModeImpressio" 1 paints the src rectangle into dst with the display-mode
    // bits set to "FlagsImpressio" (default 40); any other value (default 0) prints the whole
    // image at dst's corner with dst's inclusive size (right - left + 1), a corner
    // coordinate of 0 becoming 1 (no dst: at the origin, at the image's size from its
    // resolution). Status of the drawing: a failure is reported, not hidden.
    int Print(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip) const;
    int Print(CDC* dc, const tagRECT* dst, const tagRECT* clip) const;
    int Print(CDC* dc, const tagRECT* dst) const;

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

    // ---- file information (FileInfo.h) ----------------------------------------------------
    //
    // Descriptions of files and memory blocks without their pixels. Statuses as above; a file
    // that no reader recognises gives -3010 (neither the kernel nor libtiff opens it). Every
    // query reads only headers except GetInfoPCD and GetPaletaFitxer, which load the picture.

    // Describes the file at path in *info: the kernel's description, corrected by the own
    // inspectors (TIFF header; JPEG markers for the JPEG family 10, 98, 101, 391 to 393; the
    // Photoshop header for format 76: resolution and bits per pixel = channels x depth).
    // withEngine != 0 also stores the engine's XML description in info->EngineInfo and, for
    // PNG files (75), applies it: a PNG whose channels are not 8 bits is refused (-5).
    // Format 1 (PCX) at 8 bits is reported as 24 bits with the indexed flag. TIFF files and
    // files the kernel does not know are described by the TIFF inspector: -5 for a TIFF the
    // own reader does not load. 0 success; -3 for a null path or info; other statuses as the
    // readers give them. *info holds the kernel's part of the description also after a failure.
    static int GetInfoFitxer(const wchar_t* path, int withEngine, CFILEINFO* info);
    // The labelled description (labels from the string table): format name, then colour
    // space, "Indexed", dimension, bits per pixel, DPI and "Transparency channel" lines. 0, or
    // the negative status of the description (info's lists then untouched).
    static int GetInfoFitxer(const wchar_t* path, CInfoFitxerDIB& info);
    // The same as one text: the format name, then "\r\n<label>: <value>" per line. A failure
    // leaves text unchanged.
    static int GetInfoFitxer(const wchar_t* path, CString& text);
    // One value of the file's description into out: 0 width, 1 height, 2 bits per pixel (int;
    // 24 for a 32-bit file of colour order 0), 3 and 4 resolution X and Y (double), 7 nothing,
    // 8 the kernel's own description (a _FILEINFO), 9 format number, 10 1 for a Photo CD file
    // else 0, 11 view perspective (ints). 0; -3 for selectors 5, 6, 12 and above or a null
    // out (nothing written); a failing description's status.
    static int GetInfo(int selector, const wchar_t* path, void* out);
    // The same for this image: 0 width, 1 height, 2 bits per pixel, 3 and 4 GetResolucioX/Y
    // (double), 5 bytes per line, 6 and 11 view perspective (ints). 0; -3 for another selector
    // or a null out.
    int GetInfo(int selector, void* out) const;
    // A Photo CD file's size at resolution index 0 to 5 (what 0 width, 1 height: 96 / 64 up to
    // 3072 / 2048, the longer side following the picture's orientation) or its depth (what 2),
    // from the picture loaded at resolution 3 (which stays the kernel's Photo CD resolution).
    // Another resolution index answers the loaded picture's own width or height. 0; -3 for
    // another what or a null out; a load failure's status.
    static int GetInfoPCD(int what, const wchar_t* path, int resolution, int* out);
    // GetInfoFitxer (without the engine) of size bytes of data, through a temporary file that
    // is deleted afterwards. -3 for null data or info, a size below 1, or when the temporary
    // file cannot be written.
    static int GetInfoMem(const unsigned char* data, int size, CFILEINFO* info);
    // 1 when GetInfoFitxer with the engine (TestFitxer) or GetInfoMem (TestMem) succeeds, else 0.
    static int TestFitxer(const wchar_t* path);
    static int TestMem(const unsigned char* data, int size);
    // The palette of an 8-bit file (not the TIFF family) loaded by the kernel: palette (256
    // entries, may be null) receives the colour count entries. 0 for a grey picture (the palette
    // is filled all the same), for another depth, a TIFF or a file that cannot be described;
    // else the colour count; a load failure's status.
    static int GetPaletaFitxer(const wchar_t* path, tagRGBQUAD* palette);
    // The TIFF PhotometricInterpretation of the file; 0 when it does not open or has none.
    static int GetEspaiTiff(const wchar_t* path);
    // Bytes of the file's embedded ICC profile (JPEG APP2 markers, also of the kernel's
    // subsampled JPEG numbers 21 and 23, Photoshop resource 1039,
    // TIFF tag 34675, PNG iCCP), 0 when it has none. buffer (may be null) receives the bytes:
    // ask once without it for the size. info (may be null) gives the format, else the file is
    // described first (a failure gives 0). buffer must hold the size a call without it
    // answered for the same file.
    static unsigned long GetEmbededICC(const wchar_t* path, void* buffer, CFILEINFO* info);
    // The engine's XML description of the file (UTF-8 path of at most 1023 bytes), or "".
    static CString GetInfoByRE(const wchar_t* path);
    // The engine's "iccProfile" resource (at most 25 MiB) in a new calloc block handed to
    // profile (the caller frees it); its size, or 0 with profile null.
    static int GetEmbeddedProfileByRE(const wchar_t* path, unsigned char*& profile);

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

    // ---- colour analysis and masks ---------------------------------------------------------
    //
    // Colours are compared on their red, green and blue bytes (COLORREF bytes 0 to 2; byte 3 is
    // ignored). A tolerance is a fraction of the channel range, clamped to [0, 1] (NaN counts
    // as 0) and turned into T = round(tolerance * 255); a pixel matches colour when each of its
    // three components differs from colour's by at most T. 32-bit pixels are blue, green, red
    // and a fourth byte that is not colour.

    // Distance-weighted average colour of the square window of half-size radius around column
    // x, stored row y (as GetPixel): each pixel of the window clipped to the image weighs
    // 1 - min(d2, radius) / M, d2 its squared distance to (x, y) and M the largest such value
    // in the window; weights are normalised to sum 1 and each component's weighted sum is
    // truncated. radius 0: GetPixel(x, y). 0 for a negative radius, a window outside the image,
    // or when no weight is positive. The work is bounded by the clipped window.
    unsigned long ColorPromig(int x, int y, int radius) const;
    // A new 1-bit image (palette black, white; top-left) of this image's size with bit 1 for
    // every matching pixel; rows from the top, as GetLinia counts them. Palette depths compare
    // palette colours. Null for an empty image or when memory runs out. The caller deletes it.
    TDib* ExtreureMascaraColor(unsigned long colour, double tolerance) const;
    // A new 1-bit mask (as above) of the 4-connected region of matching pixels that holds seed
    // (x = column, y = row from the top, as GetLinia counts rows). bounds (may be null) gets
    // the smallest column and row (left, top) and the largest (right, bottom, inclusive) of the
    // region; an empty region (the seed does not match or lies outside the image) gives an
    // all-zero mask and bounds left = top = 2147483647, right = bottom = -2147483647. Null for
    // an empty image or when memory runs out (bounds then untouched). The caller deletes it.
    TDib* ExtreureMascaraColor(unsigned long colour, CPoint seed, double tolerance,
                               CRect* bounds) const;

    // ---- compositing and planes ------------------------------------------------------------
    //
    // The operations that return int give 0, or -3 for an invalid argument, or the kernel's
    // refusal (-5, e - 3000). A failure leaves this image as it was, except that a cancelled
    // Combinar or SetColor keeps the rows done so far.

    // Replaces this image by this image and other joined (other may be this image). w1 x h1 is
    // this image's size, w2 x h2 other's. mode 1: other on the left, this on the right, result
    // (w1 + w2) x h1; mode 2: this on the left, other on the right, (w1 + w2) x h1; mode 3:
    // other on top, this at the bottom, w1 x (h1 + h2); mode 4: this on top, other below,
    // w1 x (h1 + h2). The result has other's depth, this image's palette (other's when this
    // image has none and the result needs one) and storage kind; pixels are placed by colour,
    // and an area no image covers is 0. Other is clipped to the result. The alpha channel
    // becomes -1 unless the result has 32 bits. -3 for a null or empty other, an empty image
    // or another mode; -3003 when the result would be larger than 2147483647 on a side.
    int Acoblar(const TDib* other, unsigned long mode);
    // Combines source into this image at (x, y) with the kernel's combine flags (RK_COMBINE_*
    // of <dib/outside/raster/ops/ops_codes_compose.h>: 0x0100 copies); the block is clipped to both
    // images. The last two arguments are not used. source may be this image. -3 for a null or empty
    // source or an empty image.
    int Combinar(TDib* source, unsigned long flags, int x, int y, int, int);
    // Recreates this image as 24 bits with the size of the cyan plane and merges the four 8-bit
    // planes (cyan, magenta, yellow, black) into it: red = max(0, 255 - C - K), green and blue
    // likewise. -3 for a null or empty plane or planes of different sizes; the kernel's
    // -3005 for a plane that is not 8 bits.
    int MergeCMYK(TDib* cyan, TDib* magenta, TDib* yellow, TDib* black);
    // Merges 8-bit planes of this image's size into this image's bitmap, which keeps its depth:
    // selector 1 four planes (cyan, magenta, yellow, black), otherwise three (the plane
    // selectors RK_PLANES_* of <dib/outside/raster/ops/ops_codes_compose.h>: 0 red, green, blue; 2
    // hue, saturation, value; 3 hue, lightness, saturation; 4 cyan, magenta, yellow). -3 for a null
    // array or plane, an empty plane or image, planes of another size or an unknown selector;
    // -3005 for a plane that is not 8 bits.
    int ColorMerge(TDib** planes, unsigned long selector);
    // channel != 0: every value v of the selected channels (RK_CHANNEL_* bits) becomes
    // table[v], clamped to the sample range (count >= 256; 65536 for 16-bit samples); palette
    // images remap their palette. channel 0: the image is separated into cyan, magenta, yellow
    // and black and only black is remapped (count >= 256); the image keeps its depth when it
    // has 24 or 32 bits (and its fourth bytes) and becomes 24 bits otherwise. -3 for a null
    // table, a short table or an empty image.
    int Substituir(int* table, unsigned int count, unsigned int channel);
    // Every pixel (palette images: every palette entry) of colour key takes the colour
    // replacement; every other becomes white. Images of 16, 32 or 48 bits are left unchanged,
    // and so is the image when a work buffer cannot be allocated.
    void AillarPla(unsigned long key, unsigned long replacement);
    // Every pixel becomes colour (palette images: the nearest entry); 32-bit images take value
    // as their fourth byte.
    int SetColor(unsigned long colour, unsigned char value);

    // ---- open and save ---------------------------------------------------------------------
    //
    // The reader is chosen by the file's kernel format number (never by its name): the JPEG
    // family (10, 98, 101, 391, 392, 393) goes to the own JPEG reader, the TIFF family (3, 11,
    // 17, 85 to 88, 96, 138 to 141, 176, 189, 394 to 396) to the own TIFF reader, everything else
    // (Photoshop and CIELab TIFF included) to the kernel's loader. Cancellation through progress
    // gives -5. A failed open leaves this image exactly as it was (pixels and members); a
    // successful one releases the pixels it held.

    // Opens path. bitsPerPixel 0 = the file's own depth (the own TIFF reader always keeps the
    // file's). info: the caller's description of the file (copied, not written; null: the file
    // is described here). toTopLeft != 0 stores bottom-up files top-down. On success the
    // resolution members are the description's (72.0 when it gives none; the bitmap's whole
    // resolution the rounded values), and colour space, channels, bits per channel and alpha
    // channel are the description's. TIFF files of 16 bits per sample are stored at 8 bits
    // per sample in the same layout (bits per channel 8). Status: 0; the description's
    // negative status; -5 cancelled; reader and kernel failures as e - 3000.
    int Obrir(const wchar_t* path, int bitsPerPixel = 0, TIndicadorEstat* progress = nullptr,
              int toTopLeft = 1, CFILEINFO* info = nullptr);
    // Opens a Photo CD file at resolution (0 to 5, as SetResolucioPCD; the setting stays for
    // later loads). The resolution, colour-space, channel and alpha members are not changed.
    int ObrirPCD(const wchar_t* path, int resolution, int bitsPerPixel = 0,
                 TIndicadorEstat* progress = nullptr, int toTopLeft = 1);
    // The process-wide Photo CD resolution of later loads: 0 on success, -3 for a value the
    // kernel refuses.
    static int SetResolucioPCD(int resolution);
    // Opens size bytes of data. format 189: the own TIFF reader; any other value: the kernel,
    // after TestMem recognised the data (else -3, the image untouched). Rows end top-down;
    // colour space, channels, bits per channel and alpha channel come from GetInfoMem; the
    // resolution members are not changed. info is not consulted.
    int ObrirMem(const unsigned char* data, int size, int bitsPerPixel = 0, int format = 0,
                 CFILEINFO* info = nullptr);
    // Opens the resource of type "IMATGE_BINARIA" named id / name in module through ObrirMem.
    // -11 not found, -1 the resource does not load. A null module searches the resource module,
    // then every module of the chain in order, stopping at the first that opens it: the status
    // of the last try, or -1 when no module could be tried.
    int ObrirRecurs(unsigned int id, HINSTANCE module = nullptr);
    int ObrirRecurs(const wchar_t* name, HINSTANCE module = nullptr);

    // Decodes path and hands its lines top to bottom to consumer (may be null), keeping the
    // image in this TDib too when keep != 0 (keep 0: memory stays about one line beyond the
    // decoder's state, and this image is not touched). bitsPerPixel 0 = the file's depth.
    // info: the caller's description (null: described here, with the engine description).
    // wantAlpha is passed to the own TIFF reader. Progressive JPEGs of 1 to 3 channels, tiled
    // TIFFs, CIELab TIFFs kept in the image and every other format go through the kernel: the
    // consumer's Init region and first row are honoured there, a file with an alpha channel
    // reaches it as a colour line without alpha plus an alpha line (colours composited over
    // white when the consumer's OutAlpha is 0). Status as Obrir; 1 when the consumer refuses in
    // Init on the kernel route. On success with keep != 0 the rows are top-down and colour
    // space, channels, bits per channel and alpha channel are the description's.
    int ObrirDinamic(const wchar_t* path, TProcesLiniaDIB* consumer, int bitsPerPixel = 0,
                     int keep = 0, int unused = 0, TIndicadorEstat* progress = nullptr,
                     const CFILEINFO* info = nullptr, int wantAlpha = 0);

    // Saves to path in kernel format `format`. The TIFF family goes to the own TIFF writer
    // (compression by format: 11 JPEG, 17 and 86 LZW, 87 and 88 PackBits, 189 Deflate, others
    // none; CMYK for 85, 86, 88, 394 to 396; bitsPerPixel and quality unused); other formats to
    // the kernel with bitsPerPixel and quality. Progress: rows as they are written; a stop
    // gives -5. A failed or cancelled save leaves no file under path. Status as Obrir.
    int Salvar(const wchar_t* path, int format, int bitsPerPixel = 0, int quality = 0,
               TIndicadorEstat* progress = nullptr) const;
    // Saves into a movable global-memory block handed to memory (the caller frees it with
    // GlobalFree) and its byte count to size. Formats 3 and 189: the own TIFF writer
    // (uncompressed, Deflate); 182: a JPEG at the default quality through the GDI+ encoder; others
    // the kernel. After a failure memory is null and size 0. Temporary files are removed.
    int SalvarMem(void*& memory, std::int32_t& size, int format, int bitsPerPixel = 0,
                  int quality = 0) const;

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

    // ---- geometry ----------------------------------------------------------------------------
    //
    // Status of every operation here, unless it says otherwise: 0 success; -3 an argument
    // refused before the kernel is called (the image is untouched); a kernel code e as e - 3000
    // (-3002 for an empty image); -5 when the kernel fails without a code or the status
    // callback stops it. A failed resampling (rotation, shear, resize) leaves the image as it was.
    //
    // Angles in radians turn the picture clockwise for a positive value. They reach the kernel
    // as hundredths of a degree: trunc(floor(angle x 57.29577951308 x 100.0)), whole turns taken
    // off (pi / 2 passes 8999, pi 17999, -0.00001 passes -1). A NaN, an infinite angle or one
    // beyond about 1.5e12 radians gives -3. The fill colour (COLORREF) covers what the picture
    // no longer covers (32 bits: alpha 0).

    // Shears the rows sideways (top row to the right for a positive angle), widening the canvas;
    // at most 45 degrees either way (else -3003).
    int InclinarX(double angle, unsigned long fill);
    // Shears the columns (right column down for a positive angle), heightening the canvas.
    int InclinarY(double angle, unsigned long fill);
    // Turns by angle with bilinear interpolation; grow != 0 enlarges the canvas to hold the
    // whole turned picture, else the size stays and the corners are cut.
    int RotarFine(double angle, int grow, unsigned long fill);
    // Turns by whole degrees (taken modulo 360) by nearest neighbour, filling with white; grow as
    // in RotarFine. Quarter turns with grow move the pixels exactly: 90 on 300 x 200 gives 200 x
    // 300.
    int Rotar(int degrees, int grow);
    // Exact quarter and half turns clockwise (the canvas follows). progress is not used.
    int FastRotate90CW(TIndicadorEstat* progress = nullptr);
    int FastRotate180CW(TIndicadorEstat* progress = nullptr);
    int FastRotate270CW(TIndicadorEstat* progress = nullptr);
    // Mirror the stored pixels left-right / top-bottom; the view perspective is not changed.
    int FlipX();
    int FlipY();
    // Plain resize (nearest neighbour, every depth). Returns 1, touching nothing, when the image
    // already has that size.
    int Escalar(int width, int height);
    // Fits the image into maxWidth x maxHeight keeping its aspect ratio, enlarging or reducing:
    // the result touches the box on one side at least, and a side that would round to 0 becomes
    // 1. interpolate == 0: plain resize; else an interpolated one (box average on reduction,
    // bilinear on enlargement, 32 bits alpha included). The third argument has no effect.
    // 0 also when the size is already the fitted one; -3 for an empty image or a box side below
    // 1; otherwise the status of the resize.
    int EscalarAR(int maxWidth, int maxHeight, unsigned long unused, int interpolate);
    // Interpolated resize to width x height. method: 0 nearest neighbour, 1 bilinear, 2 bicubic,
    // 3 area average, 4 high-quality reduction (area average on reduction, bilinear on
    // enlargement). Depths that cannot be interpolated (palettes other than a grey ramp, 16
    // bits) are resized by nearest neighbour. 32-bit images are resized channel by channel, the
    // fourth (alpha) byte interpolated like the others. The image is replaced only on success:
    // a failure leaves it as it was. Status: 0, -3 for an empty image, or the kernel's refusal
    // (-3003 for a size below 1 or an unknown method).
    int EscalarInt(int width, int height, unsigned int method);

    // ---- bounded sizes and the streaming resize ---------------------------------------------

    // A size that keeps the aspect ratio and whose pixel data (lines rounded up to 4 bytes)
    // takes about maxKilobytes x 1024 bytes, at most twice that unless six passes do not get
    // there; images smaller than the budget are enlarged. 1 with newWidth, newHeight set; 0 when
    // maxKilobytes, width or height is below 1 (outputs untouched). Sides never fall below 1.
    static int CalculaMidesAcotades(int maxKilobytes, int bitsPerPixel, int width, int height,
                                    int& newWidth, int& newHeight);
    // Streaming resize of rows pushed one at a time (the kernel's, see stream_resize.h): start
    // from srcWidth x srcHeight to dstWidth x dstHeight; then push every source row in order:
    // DynamicResize scales the row in place (row must hold the larger of the source and result
    // rows) and tells how many result rows it yields (0 when a reduction takes it into a later
    // row, more than 1 when an enlargement repeats it); the caller writes it that many times.
    // A reduction averages every source pixel into the result (area-weighted), an enlargement
    // interpolates across the row and repeats rows down. bitsPerPixel: 8 x samples per pixel,
    // 8 to 64. The rows yield exactly dstHeight rows in all. Stop frees the handle. Status: 0,
    // -5, or the kernel's code - 3000 (-3003 for a bad size, a null argument or a row out of
    // order, -3005 for another depth).
    static int StartDynamicResize(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                                  void*& handle);
    static int DynamicResize(unsigned char* row, int rowIndex, int bitsPerPixel, int& outWidth,
                             int& outLines, void* handle);
    static int StopDynamicResize(void* handle);

    // ---- previews -------------------------------------------------------------------------

    // A scaled copy whose pixel data takes about sizeKB kibibytes (CalculaMidesAcotades),
    // built line by line by the preview scaler (Preview.h): 8-bit grey, 24-bit colour or 32-bit
    // display-adapted CMYK, palette images through their palette. preview: null, or an image
    // that is made anew as the preview. When sizeKB < 1 or the image is empty, preview is
    // replaced (not deleted) by a duplicate. Status: 0; -1 no memory; -2 an image of 16 bits per
    // pixel; -5 cancelled through progress; the scaler's refusal. After a failure preview is null
    // (an image passed in has been deleted), never a dangling pointer. The caller deletes the
    // preview.
    int GetPreview(int sizeKB, TDib*& preview, TIndicadorEstat* progress);
    // Previews of a file, streamed line by line (ObrirDinamic into the preview scaler) so the
    // file's pixels are never held; a JPEG may be decoded at a reduced scale that still leaves
    // at least twice the wanted size. info: the caller's description of the file (copied), or
    // null (described here, GetInfoFitxer without the engine). preview: null, or an image that
    // is made anew as the preview; after a failure it is null (an image passed in has been
    // deleted). The caller deletes the preview. progress may be null.
    //
    // Budgeted: the box is the size whose 24-bit pixel data takes about sizeKB kibibytes (at
    // most twice that unless six passes do not get there), then the boxed preview on white.
    // sizeKB < 1 or a file without pixels gives a 0 x 0 box, hence -3003.
    static int GetPreview(const wchar_t* path, int sizeKB, TDib*& preview,
                          TIndicadorEstat* progress = nullptr, CFILEINFO* info = nullptr);
    // Boxed: the file fitted in width x height keeping its aspect ratio, centred on background
    // (COLORREF), anti-aliased by working at twice the box and halving. The result is
    // width x height at 24 bits; CMYK files in display colours, alpha composited over white,
    // rows top-down whatever the file's view perspective. Status: 0; -2 for a
    // colour space other than CMYK, grey, monochrome and RGB (before any decoding) or when nothing
    // was decoded; -3003 for a box side below 1; the description's, the decoder's or the scaler's
    // status; -5 cancelled through progress.
    static int GetPreview(const wchar_t* path, int width, int height, unsigned long background,
                          TDib*& preview, TIndicadorEstat* progress = nullptr,
                          CFILEINFO* info = nullptr);
    // Keeps the rectangle of width x height at (x, y), in stored coordinates (as the pixel
    // operations); it must lie inside the image (else -3003).
    int Crop(int x, int y, int width, int height);
    // Mirror the stored pixels and record the mirrored storage in the view perspective p:
    // X: 0 -> 1, 1 -> 0, 2 -> 3, 3 -> 2, 4 -> 3; Y: 0 -> 2, 1 -> 3, 2 -> 0, 3 -> 1, 4 -> 2.
    // The perspective is unchanged after a failure.
    int CanviSentitX();
    int CanviSentitY();
    // Makes the view perspective 1 (top-left). reorder == 0 only relabels; otherwise the pixels
    // are reordered first: 2 mirrored, 3 mirrored and flipped, 4 flipped, other values left.
    int AjustarPerspectiva(int reorder);

    // ---- tone and colour -------------------------------------------------------------------
    //
    // Status as for the geometry. Point operations change colours: palette images their
    // palette, 32-bit images the first three bytes of each pixel (alpha is kept). Amounts of
    // contrast, brightness, saturation and histogram contrast run from -1000 to 1000 (else
    // -3003).

    // Contrast about mid-grey: -1000 flat grey, 0 nothing, 1000 a threshold at 128.
    int SetContrast(int amount);
    int CanviaContrast(int amount); // the same operation
    // Stretches the levels between the 0.5th and 99.5th percentiles to the full range, mixed in
    // by amount / 1000 (negative: pulled towards mid-grey).
    int SetHistoContrast(int amount);
    // Gamma correction v' = 255 (v / 255) ^ (1 / gamma) with gamma taken to hundredths
    // (trunc(gamma x 100)): 2.2 passes 220. A gamma giving less than 1 hundredth is refused
    // (-3003); a NaN or out-of-range gamma gives -3.
    int SetGamma(double gamma);
    // As SetGamma with only the integer part of gamma: 2.2 passes 200, 0.8 passes 0 (refused).
    int CanviaGamma(double gamma);
    // Brightness: each level moves by amount x 255 / 1000. second != 0: after a successful step,
    // the levels are stretched so that the lowest becomes 0 and the highest 255. Status of the
    // last step made.
    int CanviaBrillo(int brightness, int second);
    // Saturation: colours move away from (or towards, negative) their luma; -1000 gives grey.
    int CanviaSaturacio(int amount);
    // Hue shift in hundredths of a half turn: 100 is +180 degrees, 50 is +90, 33 is +59
    // (trunc(hue x 180 / 100) degrees).
    int CanviaTo(int hue);
    // Changes the depth in place. flags: 0x1 the kernel's fixed
    // palette, 0x2 a palette chosen from the image's colours, 0x10 the caller's palette; 0x10000
    // Floyd-Steinberg dithering. colours below 1 means 2, 4, 16, 256 entries for 1, 2, 4, 8 bits
    // (0 for 24 and 32). Returns 1, touching nothing, when the depth is already bitsPerPixel.
    // A result without alpha (any depth but 32) sets the alpha channel to -1.
    int CanviaBPP(int bitsPerPixel, unsigned long flags, int colours, tagRGBQUAD* palette);
    // 8-bit grey (luma 0.299 R + 0.587 G + 0.114 B, grey ramp palette); alpha channel -1.
    int GrayScale();
    // 1 bit, black and white, nearest colour; alpha channel -1.
    int ToBlancINegre();
    // 24 bits; alpha channel -1.
    int ToRGB();
    // 32 bits (the fourth byte of expanded pixels 0).
    int ToCMYK();
    // Makes the pixels the colours a screen shows, as the previews show them, for formats that
    // hold red, green and blue only. A CMYK image (colour space 2: four 8-bit process colours,
    // possibly followed by 8-bit spot channels, 32 to 160 bits) becomes 24-bit blue, green,
    // red: the process colours by AdaptarPerCarregarCMYK, the spot channels dropped. When
    // sourceFormat is 76 (a Photoshop composite, whose first three bytes already are those
    // colours) the bytes are kept. Then colour space 64, 3 channels of 8 bits, alpha channel
    // -1. Images of other colour spaces are left as they are. Status: 0; -2 multi-channel data
    // (colour space -1) or CMYK of another layout; -3 an empty image; -1 no memory; the
    // kernel's refusal as e - 3000. A failure leaves the image as it was.
    int AdaptarPerMostrar(int sourceFormat = 0);
    // Complementary colours.
    int Invertir();
    // levels levels per channel, 2 to 64.
    int Posteritzar(int levels);
    // Removes a printed halftone screen (Gaussian low-pass, 5 x 5).
    int Destramar();
    // Median and average over size x size pixels (odd, 1 to 255; 48 bits median 3 or 5).
    // Images of 8 bits with a grey palette, 24, 32 and 48 bits (else -3005).
    int SuavitzarMed(unsigned int size);
    int SuavitzarAvg(unsigned int size);
    // Every pixel byte 0.
    int Clear();
    // The display gamma (hundredths) painting applies, not the pixels: sets it and returns the
    // previous value (0 for an empty image, which keeps none). GetGamma: the current value,
    // 100 until set, 0 for an empty image.
    unsigned int SetGamma(unsigned int gamma);
    unsigned int GetGamma() const;
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

    // ---- kernel row callbacks of the open and save paths (io) ------------------------------

    // The kernel's load callback: progress per group of rows, and the rows to the consumer of
    // the load context (user), clipped to its region, alpha split off when the file has one.
    // 0 stops the load (cancelled, or the rows do not fit the context), else 1.
    static int __ObrirDinamicProc(_FILEINFO* info, _BITMAPHANDLE* bitmap, std::uint8_t* buffer,
                                  std::uint32_t flags, int firstRow, int rows, void* user);
    // The kernel's save callback: copies the wanted rows of the image of the save context
    // (user) into buffer and moves its progress; 0 when the indicator asks to stop, else 1.
    static int __GuardarDinamicProc(_BITMAPHANDLE* bitmap, std::uint8_t* buffer, int firstRow,
                                    int rows, void* user);

    // ---- own TIFF reader (codecs/tiff) --------------------------------------------------------
    //
    // Results: 1 success; -100 cancelled; -6 the file does not open as a TIFF; -7 its image data
    // cannot be decoded; -16 a layout or size the reader does not handle; -1 no memory.
    // Lines go top to bottom to processor (Init, Processar per row from Init's result, Done
    // after a run that was neither cancelled nor failed). Progress: one sub-range per row.

    // Reads a strip or tiled TIFF of 1, 2, 4 or 8 bits per sample. intoImage != 0 replaces this
    // image with a bitmap of the file's size at bits x kept samples (the alpha sample is never
    // kept in a colour line); adaptCmyk != 0 stores four-sample non-RGB lines as blue, green,
    // red, 0; wantAlpha != 0 delivers the alpha samples as a separate line and undoes
    // associated alpha. 16-bit files reach the processor as 16-bit lines; with intoImage the
    // image receives the samples reduced to 8 bits each (same layout). unused is not read.
    int _loadTiff(const wchar_t* path, int unused, TProcesLiniaDIB* processor,
                  TIndicadorEstat* progress, int intoImage, int adaptCmyk, int wantAlpha);
    // An 8-bit palette TIFF expanded to 24-bit blue, green, red lines; -16 for any other file
    // or when bitsPerPixel is not 24.
    int _loadIndexedTiff(const wchar_t* path, int bitsPerPixel, TProcesLiniaDIB* processor,
                         TIndicadorEstat* progress, int intoImage);
    // _loadTiff(.., 1, null, null, 1, 0, 1) on size bytes of data (read in place).
    int _loadTiffMemory(const unsigned char* data, int unused, unsigned long size);
    // Fills info from the TIFF header: 1 this reader loads the file; 0 a TIFF it does not load;
    // -10 the file does not open as a TIFF.
    static int _infoTiff(const wchar_t* path, CFILEINFO& info);

    // ---- own TIFF writer (codecs/tiff) ----------------------------------------------------

    // Writes the image to path as a strip TIFF through the streaming TIFF writer (StreamWriters.h,
    // rows per strip 128, interleaved), with the image's resolution (GetResolucioX/Y).
    // Layout by depth: 1, 2, 4 and 8 bits one sample, written as min-is-black grey when the
    // palette is the ascending grey ramp of the depth, min-is-white when it is the descending
    // one, min-is-white below 8 bits and min-is-black at 8 bits without a palette, and with the
    // palette (ColorMap) otherwise; 16 bits (5-5-5) as 8-bit RGB; 24 bits RGB; 32 bits four
    // samples, separated (CMYK); 48 bits RGB at 16 bits per sample; an image of 5 to 20 channels
    // of 8 bits (spot channels beside the process colours) one 8-bit sample per channel, as
    // stored, separated with the extra inks. cmyk != 0 (except for such images) writes four
    // 8-bit samples cyan = 255 - red, magenta = 255 - green, yellow = 255 - blue, black 0 from
    // each pixel's colour (32-bit images are written as they are). compression is a TIFF
    // Compression code (1 none, 5 LZW, 7 JPEG, 32773 PackBits, 32946 Deflate, ...).
    // Progress: SetRangPosicioRel(row, height) before and PopRangRel after each row.
    // Results: 1 saved; -100 failed or cancelled. After a failure or a cancellation past the
    // creation of the file, the file stays with its missing rows filled.
    int _saveTiff(const wchar_t* path, int compression, int cmyk, TIndicadorEstat* progress) const;
    // The same file (without CMYK conversion or progress) in a movable global memory block
    // handed to memory, its byte count to size; the caller frees the block with GlobalFree.
    // Results: 0 saved; -1 no memory for the file or the block; -3 the image could not be
    // written (empty image, unsupported depth or compression). memory is null and size 0
    // after a failure.
    int _saveTiffMemory(void*& memory, unsigned long& size, int compression) const;

    // Records perspective 1 after flipping a bottom-up bitmap (kernel vertical flip).
    int NormalitzarTopLeft();

    // ---- JPEG reader (reader results: > 0 success, 0 or negative failure) -----------------

    // Describes a JPEG file from its header: width, height, bits per pixel (components x 8),
    // channels (components), colour space 2 (CMYK) for four components (otherwise untouched),
    // view perspective 1, alpha channel -1, and the resolution when the JFIF density unit is
    // dots per inch (1) or per centimetre (2; x 2.54); other units leave the resolution alone.
    // Other members are untouched. Results: 1; 0 not a readable JPEG header (a header cut short
    // included); -14 the file does not open.
    static int _infoJPEG(const wchar_t* path, CFILEINFO& info);
    // Decodes a JPEG file (baseline, progressive; grey, RGB, CMYK) top to bottom.
    //  bitsPerPixel  depth of the delivered lines: 0 or components x 8 (8 grey, 24 blue-green-
    //                red, 32 C, M, Y, K with 0 meaning no ink: the inverted form CMYK files
    //                carry is complemented back); 24 for a grey file and 8 for a colour file
    //                are converted by the decoder; any other depth is refused with -5 before
    //                the decoder starts.
    //  unused        not read.
    //  processor     null, or Init(width, height, region) then Processar for every line from
    //                the first one Init asks for (pointing at column region.left, which is
    //                clamped into the line), then Done when the run was not cancelled or
    //                failed. An Init below 0 stops the run before any line: result 1, no Done,
    //                and no bitmap is made.
    //  progress      null, or asked for a stop after every delivered line and moved to its
    //                share of the range it has at the start every 10th line; a stop gives -100.
    //  intoImage     non-zero: this image is released and made anew at the file's size and
    //                the requested depth (8 bits with a grey palette), and every delivered line
    //                is stored, the first delivered line as row 0.
    //  adaptCMYK     non-zero: 32-bit lines are stored as blue, green, red, 0 (the lines given
    //                to the processor stay C, M, Y, K).
    // Results: 1 success; -5 the header check failed or the depth is refused; -3014 the file
    // does not open; -149 a line cannot be decoded (the data is corrupt or ends early); -100
    // cancelled; a kernel code when the bitmap cannot be made or written. No line that did
    // not decode is delivered. With intoImage, a failure after the bitmap was made leaves this
    // image empty; earlier failures (before any consumer call) leave it as it was.
    int _loadJPEG(const wchar_t* path, int bitsPerPixel, int unused, TProcesLiniaDIB* processor,
                  TIndicadorEstat* progress, int intoImage, int adaptCMYK);
    void CopiarMembres(const TDib& source);

    // Applies the engine's XML description (root "ImageInfo") to info: width, height,
    // resolutions (pixel/cm x 2.54), channels (Inkset NumChannels; also samples per pixel when
    // 0), bits per channel, colour space, alpha channel; then bits per pixel = channels x bits
    // per channel and view perspective 1. 0 applied; 1 no such root (info untouched); -3 null
    // info.
    static int _infoByRExml(const wchar_t* xml, CFILEINFO* info);

    _BITMAPHANDLE m_bitmap;    // the kernel's record (declared size 284)
    double m_resolucioX = 0.0; // dots per inch, 0 = not set
    double m_resolucioY = 0.0;
    std::uint32_t m_espaiColor = DIB_CS_NONE;
    std::uint32_t m_canals = 0;
    std::uint32_t m_bitsPerCanal = 0;
    std::int32_t m_canalAlpha = -1;           // zero-based alpha channel, -1 none
    unsigned char* m_bufferDisplay = nullptr; // display path's pixels (malloc), freed by Done

    friend struct dib::TDibAccess;
    friend struct dib::TiffReaderAccess;
    friend struct dib::FileInfoAccess;
};
