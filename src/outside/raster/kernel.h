// kernel.h - the raster kernel: bitmap storage, rows, pixels, palettes and whole-bitmap
// operations on _BITMAPHANDLE records.
//
// Conventions of every call here:
//  - results follow kernel_status.h: > 0 success, 0 or negative failure, -100 cancelled;
//  - `size` is the caller's declared record size and must be BITMAPHANDLE_SIZE;
//  - rows are stored rows (the caller translates through ViewPerspective), columns are pixels;
//  - byte counts, rows and columns outside the bitmap are refused, never overrun;
//  - depths 1, 2, 4, 8 (palettes), 16, 24, 32 and 48 bits are handled unless a call says not;
//  - colour values are COLORREF (red in the low byte); on palette bitmaps a colour is mapped
//    to the nearest palette entry when written and looked up in the palette when read;
//  - operations that sweep many rows report progress through the process-wide status
//    callback (RkSetStatusCallback) and stop with RK_ERROR_CANCELLED when it answers <= 0.
//    A cancelled operation leaves the bitmap as it was, except RkFillBitmap, RkClearBitmap,
//    RkSetBitmapAlphaValues and RkCombineCopy, whose rows done so far stay changed;
//  - a failure leaves the records passed in as they were, not half-made (RkCreateBitmap frees
//    its record first; a disk read or write error may stop an in-place operation midway);
//  - changes to a disk-backed bitmap wait in its window until the window moves, so a failed
//    write to the file is reported (RK_ERROR_IO) by the call that moves the window, which may
//    be a later call than the one that made the change; the change is kept and written again
//    by the next call that needs the window elsewhere;
//  - RK_ERROR_NO_BITMAP for an unallocated or stale record, RK_ERROR_INV_HANDLE for a record
//    whose geometry fields were edited (bitmap_handle.h);
//  - threads: calls on different bitmaps may run on any threads at once and do not wait for
//    one another (the record check takes no lock; creating and freeing a bitmap take a short
//    process-wide one). Calls on one bitmap (through its record or a copy of it) must not
//    overlap: the caller serialises them, and the kernel only guarantees that such a race
//    never frees a bitmap twice. The status callback, the disk window size and the fault
//    injection settings below are process-wide.
#pragma once

#include "../outside_api.h"
#include "../win/windef.h"
#include "bitmap_handle.h"
#include "kernel_status.h"

#include <cstdint>

// ---- records and storage --------------------------------------------------------------------

// Clears the record and sets its declared size, geometry and defaults (nothing allocated).
// Width, height and depth are recorded as given (0, 0, 0 for an empty record).
OUTSIDE_API int RkInitBitmap(_BITMAPHANDLE* bitmap, std::uint32_t size, int width, int height,
                             int bitsPerPixel);

// Allocates pixel storage (cleared to zero) for width x height at bitsPerPixel.
// memoryFlags: with RK_MEMORY_DISK (0x80) the pixels live in an unnamed temporary file in
// $TMPDIR (else /tmp) reached through a bounded window (RkSetDiskWindowBytes), gone when the
// bitmap is freed or the process ends; otherwise (0x201 and any other value) one block in
// memory, refused with RK_ERROR_NO_MEMORY beyond the machine's physical memory. order:
// RK_ORDER_*. palette: ColorCount = 2^bits entries for depths <= 8 (null selects the kernel's
// default palette: black/white, four greys, the 16 VGA colours, or a 6x6x6 cube with 40
// greys); ignored above 8 bits. viewPerspective: 1 to 4 (only RK_TOP_LEFT means rows stored
// top-down). An allocated record passed in is freed first. Results: RK_ERROR_INV_PARAMETER for
// a width or height below 1, an unknown order or perspective; RK_ERROR_BITSPERPIXEL;
// RK_ERROR_TOO_LARGE when a row does not fit an int; RK_ERROR_NO_MEMORY; RK_ERROR_IO.
OUTSIDE_API int RkCreateBitmap(_BITMAPHANDLE* bitmap, std::uint32_t size, std::uint32_t memoryFlags,
                               int width, int height, int bitsPerPixel, int order,
                               const tagRGBQUAD* palette, int viewPerspective);

// Frees pixel storage and palette; the record keeps its geometry but is no longer allocated.
// Freeing an unallocated record succeeds.
OUTSIDE_API int RkFreeBitmap(_BITMAPHANDLE* bitmap);

// Deep copy: dst becomes an independent bitmap with src's pixels, palette and record fields
// (conventional memory unless src is disk-backed, then disk-backed too). An allocated dst is
// freed first; dst == src succeeds without change.
OUTSIDE_API int RkCopyBitmap(_BITMAPHANDLE* dst, std::uint32_t dstSize, const _BITMAPHANDLE* src,
                             std::uint32_t srcSize);

// Begin / end direct access to the pixels. Nestable; every access must be released.
// Releasing without access gives RK_ERROR_NOT_LOCKED. Row and pixel calls also work unlocked.
OUTSIDE_API int RkAccessBitmap(_BITMAPHANDLE* bitmap);
OUTSIDE_API int RkReleaseBitmap(_BITMAPHANDLE* bitmap);

// ---- rows and pixels --------------------------------------------------------------------------

// Copies `bytes` bytes of stored row `row` into buffer; the ...Col forms start at pixel
// `column`. On packed depths (1, 2, 4 bits) a column that does not start a byte is shifted so
// that pixel `column` lands in the top bits of the buffer's first byte (the Put form writes the
// pixels covered by the buffer, column on, and leaves the others of the row alone).
// The request must satisfy floor(column * bits / 8) + bytes <= BytesPerLine; otherwise, and for
// a row or column outside the bitmap or a byte count of 0, RK_ERROR_INV_PARAMETER and nothing is
// copied. Returns the number of bytes copied (> 0). These calls allocate nothing.
OUTSIDE_API std::int64_t RkGetBitmapRow(const _BITMAPHANDLE* bitmap, void* buffer, int row,
                                        std::uint64_t bytes);
OUTSIDE_API std::int64_t RkGetBitmapRowCol(const _BITMAPHANDLE* bitmap, void* buffer, int row,
                                           int column, std::uint64_t bytes);
OUTSIDE_API std::int64_t RkPutBitmapRow(_BITMAPHANDLE* bitmap, const void* buffer, int row,
                                        std::uint64_t bytes);
OUTSIDE_API std::int64_t RkPutBitmapRowCol(_BITMAPHANDLE* bitmap, const void* buffer, int row,
                                           int column, std::uint64_t bytes);

// Colour of one pixel (stored row, column). Palette depths give the entry's colour, 16 bits
// are 5-5-5, 32 bits ignore the fourth byte, 48 bits take the high byte of each sample.
// Out of range or unallocated gives 0.
OUTSIDE_API COLORREF RkGetPixelColor(const _BITMAPHANDLE* bitmap, int row, int column);
// Writes a colour (palette depths: the nearest entry).
OUTSIDE_API int RkPutPixelColor(_BITMAPHANDLE* bitmap, int row, int column, COLORREF colour);

// ---- palette ------------------------------------------------------------------------------------

// Read / write `count` palette entries starting at `first`; the range must lie in ColorCount.
OUTSIDE_API int RkGetBitmapColors(const _BITMAPHANDLE* bitmap, int first, int count,
                                  tagRGBQUAD* out);
OUTSIDE_API int RkPutBitmapColors(_BITMAPHANDLE* bitmap, int first, int count,
                                  const tagRGBQUAD* in);
// Index (>= 0) of the palette entry nearest to a colour (squared RGB distance; ties: lowest
// index); RK_ERROR_BITSPERPIXEL above 8 bits, another negative code on error.
OUTSIDE_API int RkNearestPaletteIndex(const _BITMAPHANDLE* bitmap, COLORREF colour);

// ---- whole-bitmap operations ------------------------------------------------------------------

OUTSIDE_API int RkFlipBitmap(_BITMAPHANDLE* bitmap);    // top <-> bottom (stored rows)
OUTSIDE_API int RkReverseBitmap(_BITMAPHANDLE* bitmap); // mirror left <-> right, every depth
// Quarter turns clockwise as the picture is seen (storage mirrored on one axis, perspectives 2
// and 4, turns the stored rows the other way): quarters 1 (90), 2 (180), 3 (270); for odd
// quarters width, height and the X and Y resolutions swap. Other values of quarters are
// refused. 90 and 270 build new storage of the same kind.
OUTSIDE_API int RkRotateBitmapQuarters(_BITMAPHANDLE* bitmap, int quarters);
// Keeps the rectangle (x, y, width, height) in stored coordinates; it must lie inside.
OUTSIDE_API int RkCropBitmap(_BITMAPHANDLE* bitmap, int x, int y, int width, int height);
// dst becomes a new bitmap (same depth, palette, order, resolution, view perspective and
// storage kind) holding the rectangle (x, y, width, height) of src in stored coordinates; the
// rectangle must lie inside. dst may be src. Keeping src's perspective keeps the picture the
// right way up whichever way src stores its rows.
OUTSIDE_API int RkCopyBitmapRect(_BITMAPHANDLE* dst, std::uint32_t dstSize,
                                 const _BITMAPHANDLE* src, std::uint32_t srcSize, int x, int y,
                                 int width, int height);
// Copies a width x height block from src (sx, sy) into dst (dx, dy); same depth required
// (RK_ERROR_BITSPERPIXEL; palette depths copy indices); the block is clipped to both bitmaps
// (nothing left: success). dst and src may be one bitmap, overlapping. Negative sizes are
// refused.
OUTSIDE_API int RkCombineCopy(_BITMAPHANDLE* dst, int dx, int dy, const _BITMAPHANDLE* src, int sx,
                              int sy, int width, int height);
// Every pixel becomes the colour (palette depths: the nearest entry; 32 bits keep each
// pixel's fourth byte); the bytes past the last pixel of a row become 0.
OUTSIDE_API int RkFillBitmap(_BITMAPHANDLE* bitmap, COLORREF colour);
OUTSIDE_API int RkClearBitmap(_BITMAPHANDLE* bitmap); // every byte 0
// Colours become their complements: palette depths invert the palette; 16 bits the 15 colour
// bits; 32 bits the first three bytes of each pixel; other depths every pixel byte.
OUTSIDE_API int RkInvertBitmap(_BITMAPHANDLE* bitmap);
// 32-bit bitmaps: byte 3 of every pixel set to value (0..255). Other depths refused.
OUTSIDE_API int RkSetBitmapAlphaValues(_BITMAPHANDLE* bitmap, int value);
// 32-bit bitmaps: alpha becomes a new 8-bit grey bitmap (palette grey 0..255) of byte 3, with
// the source's storage kind, view perspective and resolutions.
OUTSIDE_API int RkGetBitmapAlpha(const _BITMAPHANDLE* bitmap, _BITMAPHANDLE* alpha,
                                 std::uint32_t alphaSize);
// 1 when every pixel's colour has equal red, green and blue (palette depths: every palette
// entry that some pixel uses), 0 otherwise; negative on error.
OUTSIDE_API int RkIsGrayScaleBitmap(const _BITMAPHANDLE* bitmap);
// Number of distinct colours (COLORREF values) in the bitmap, into *count.
OUTSIDE_API int RkGetColorCount(const _BITMAPHANDLE* bitmap, std::uint32_t* count);
// Changes the depth in place to any supported depth (1, 2, 4, 8, 16, 24, 32, 48). Expansions
// are exact (the fourth byte of new 32-bit pixels is 0); reductions to a palette depth map
// every pixel to the nearest entry of `palette` (2^bits entries; null: the default palette of
// that depth). At the same palette depth a palette remaps the pixels to it; the same depth
// otherwise changes nothing. The bitmap keeps its memory type, order and view perspective;
// cancelled or failed, it is unchanged.
OUTSIDE_API int RkColorResBitmap(_BITMAPHANDLE* bitmap, int bitsPerPixel,
                                 const tagRGBQUAD* palette);

// ---- exchange with DIBs, DDBs and device contexts -------------------------------------------

// DIBs and GDI bitmaps hold 1, 4, 8, 16 (5-5-5), 24 or 32 bits in blue-green-red order: other
// bitmaps travel as the nearest of those (2 bits as 4 with the same palette, 48 bits as 24,
// red-green-blue order swapped). Resolutions travel as pixels per metre.
//
// Packed DIB (BITMAPINFOHEADER, colour table, pixel rows with 4-byte aligned lines) in
// movable global memory, the picture the right way up whatever the view perspective.
// variant 0: bottom-up rows (positive biHeight); variant 1: top-down rows (negative biHeight);
// other variants are refused. Null on failure. The caller frees the handle with GlobalFree.
OUTSIDE_API HGLOBAL RkConvertToDIB(const _BITMAPHANDLE* bitmap, int variant);
// Import from a header with its colour table and the address of the pixel rows (1, 4, 8, 16,
// 24 and 32 bits, BI_RGB and BI_BITFIELDS at 16 and 32 bits; top-down or bottom-up; headers of
// 40 to 124 bytes). The result is a top-left bitmap in memory; 16-bit fields other than 5-5-5
// give 24 bits. Refused: RK_ERROR_BITSPERPIXEL for other depths and compressions,
// RK_ERROR_INV_PARAMETER for other header sizes, width < 1, height 0, planes != 1, biClrUsed
// above 256 or above 2^bits. The caller vouches that the table and rows are readable.
OUTSIDE_API int RkConvertFromDIBBits(_BITMAPHANDLE* bitmap, std::uint32_t size,
                                     const BITMAPINFO* info, const void* bits);
// Import from a packed-DIB handle (locked and unlocked inside): as above, and the header,
// table and rows must lie within GlobalSize (else RK_ERROR_INV_PARAMETER); a null or unknown
// handle gives RK_ERROR_INV_HANDLE.
OUTSIDE_API int RkConvertFromDIB(_BITMAPHANDLE* bitmap, std::uint32_t size, HGLOBAL dib);
// A device-dependent bitmap is a top-down DIB section. variant 0 keeps the depth, variant 1
// always gives 24 bits. dc may be null. The import reads the section's colour table through a
// memory context, so a section selected into another context is refused (RK_ERROR_INV_HANDLE);
// the palette argument is not used.
OUTSIDE_API HBITMAP RkConvertToDDB(HDC dc, const _BITMAPHANDLE* bitmap, int variant);
OUTSIDE_API int RkConvertFromDDB(HDC dc, _BITMAPHANDLE* bitmap, std::uint32_t size, HBITMAP ddb,
                                 HPALETTE palette, int variant);
// A device context whose drawing lands in the bitmap's pixels, in the picture's coordinates
// (row 0 at the top whatever the view perspective). A bitmap held in one block of memory at 1,
// 4, 8, 16, 24 or 32 bits (blue-green-red) is drawn into directly; any other gets a converted
// copy written back by RkDeleteBitmapDC (at 48 bits only the pixels drawing changed). A
// context may outlive its bitmap: drawing then lands in storage the context keeps alive and
// nothing is written back. RkDeleteBitmapDC: RK_ERROR_INV_HANDLE for a context not made here.
// Null on failure.
OUTSIDE_API HDC RkCreateBitmapDC(_BITMAPHANDLE* bitmap);
OUTSIDE_API int RkDeleteBitmapDC(HDC dc);

// ---- process-wide status callback -------------------------------------------------------------

// Called by long operations with a percentage (0..100) and the user data; an answer <= 0
// stops the operation with RK_ERROR_CANCELLED. There is one callback for the whole process:
// each operation takes the callback installed when it starts and calls it on its own thread,
// so with operations running on several threads it is called from all of them, possibly at
// once, and must be safe for that.
using RkStatusCallback = int (*)(int percent, void* userData);
// Installs callback (null removes it) and returns the previous one; *previousUserData, when
// given, receives the previous user data.
OUTSIDE_API RkStatusCallback RkSetStatusCallback(RkStatusCallback callback, void* userData,
                                                 void** previousUserData = nullptr);
OUTSIDE_API RkStatusCallback RkGetStatusCallback(void** userData = nullptr);

// ---- tuning and testing -----------------------------------------------------------------------

// Bytes of the window through which a disk-backed bitmap's file is reached (the resident memory
// of one such bitmap). Applies to disk-backed bitmaps created afterwards; 0 restores the
// default (4 MiB); values below 64 are raised to 64. Returns the previous setting.
// Process-wide.
OUTSIDE_API std::uint64_t RkSetDiskWindowBytes(std::uint64_t bytes);
// Fault injection for tests: after this call n further pixel-storage allocations succeed and
// every later one fails with RK_ERROR_NO_MEMORY; a negative n turns the failures off.
// Process-wide.
OUTSIDE_API void RkFailAllocationsAfter(long n);
// Fault injection for tests: after this call n further writes to the files of disk-backed
// bitmaps succeed and every later one fails as on a full disk (RK_ERROR_IO); a negative n turns
// the failures off. Writes reach the file when the window moves, so an operation may report a
// failure that an earlier one left behind. Process-wide.
OUTSIDE_API void RkFailDiskWritesAfter(long n);
