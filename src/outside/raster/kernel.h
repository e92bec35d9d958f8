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
#pragma once

#include <cstdint>
#include <outside_api.h>
#include <raster/bitmap_handle.h>
#include <raster/kernel_status.h>
#include <win/windef.h>

// ---- records and storage --------------------------------------------------------------------

// Clears the record and sets its declared size, geometry and defaults (nothing allocated).
// Width, height and depth are recorded as given (0, 0, 0 for an empty record).
OUTSIDE_API int RkInitBitmap(_BITMAPHANDLE* bitmap, std::uint32_t size, int width, int height,
                             int bitsPerPixel);

// Allocates pixel storage (cleared to zero) for width x height at bitsPerPixel.
// memoryFlags: RK_MEMORY_CONVENTIONAL | RK_MEMORY_DEFAULT (0x201) for one block in memory;
// RK_MEMORY_DISK (0x80) for a temporary file reached through a bounded window, removed when the
// bitmap is freed. order: RK_ORDER_*. palette: ColorCount = 2^bits entries for depths <= 8
// (null selects the kernel's default palette: black/white, four greys, the 16 VGA colours, or
// a 6x6x6 cube with 40 greys); ignored above 8 bits. viewPerspective: RK_TOP_LEFT or
// RK_BOTTOM_LEFT. An allocated record passed in is freed first.
OUTSIDE_API int RkCreateBitmap(_BITMAPHANDLE* bitmap, std::uint32_t size, std::uint32_t memoryFlags,
                               int width, int height, int bitsPerPixel, int order,
                               const tagRGBQUAD* palette, int viewPerspective);

// Frees pixel storage and palette; the record keeps its geometry but is no longer allocated.
// Freeing an unallocated record succeeds.
OUTSIDE_API int RkFreeBitmap(_BITMAPHANDLE* bitmap);

// Deep copy: dst becomes an independent bitmap with src's pixels, palette and record fields
// (conventional memory unless src is disk-backed). An allocated dst is freed first.
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
// Index of the palette entry nearest to a colour (squared RGB distance; ties: lowest index).
OUTSIDE_API int RkNearestPaletteIndex(const _BITMAPHANDLE* bitmap, COLORREF colour);

// ---- whole-bitmap operations ------------------------------------------------------------------

OUTSIDE_API int RkFlipBitmap(_BITMAPHANDLE* bitmap);    // top <-> bottom (stored rows)
OUTSIDE_API int RkReverseBitmap(_BITMAPHANDLE* bitmap); // mirror left <-> right, every depth
// Quarter turns clockwise: quarters 1 (90), 2 (180), 3 (270); the record's width and height
// swap for odd quarters. Other values of quarters are refused.
OUTSIDE_API int RkRotateBitmapQuarters(_BITMAPHANDLE* bitmap, int quarters);
// Keeps the rectangle (x, y, width, height) in stored coordinates; it must lie inside.
OUTSIDE_API int RkCropBitmap(_BITMAPHANDLE* bitmap, int x, int y, int width, int height);
// dst becomes a new bitmap (same depth, palette, order, resolution, top-left) holding the
// rectangle (x, y, width, height) of src in stored coordinates; the rectangle must lie inside.
OUTSIDE_API int RkCopyBitmapRect(_BITMAPHANDLE* dst, std::uint32_t dstSize,
                                 const _BITMAPHANDLE* src, std::uint32_t srcSize, int x, int y,
                                 int width, int height);
// Copies a width x height block from src (sx, sy) into dst (dx, dy); same depth required;
// the block is clipped to both bitmaps.
OUTSIDE_API int RkCombineCopy(_BITMAPHANDLE* dst, int dx, int dy, const _BITMAPHANDLE* src, int sx,
                              int sy, int width, int height);
OUTSIDE_API int RkFillBitmap(_BITMAPHANDLE* bitmap, COLORREF colour);
OUTSIDE_API int RkClearBitmap(_BITMAPHANDLE* bitmap);  // every byte 0
OUTSIDE_API int RkInvertBitmap(_BITMAPHANDLE* bitmap); // colours (palette depths: the palette)
// 32-bit bitmaps: byte 3 of every pixel set to value (0..255). Other depths refused.
OUTSIDE_API int RkSetBitmapAlphaValues(_BITMAPHANDLE* bitmap, int value);
// 32-bit bitmaps: alpha becomes a new 8-bit grey bitmap (palette grey 0..255) of byte 3.
OUTSIDE_API int RkGetBitmapAlpha(const _BITMAPHANDLE* bitmap, _BITMAPHANDLE* alpha,
                                 std::uint32_t alphaSize);
// 1 when every pixel's colour has equal red, green and blue (palette depths: every entry used
// by the palette), 0 otherwise; negative on error.
OUTSIDE_API int RkIsGrayScaleBitmap(const _BITMAPHANDLE* bitmap);
// Number of distinct colours (COLORREF values) in the bitmap, into *count.
OUTSIDE_API int RkGetColorCount(const _BITMAPHANDLE* bitmap, std::uint32_t* count);
// Changes the depth in place to 1, 4, 8, 24 or 32 bits. Expansions are exact; reductions to a
// palette depth map every pixel to the nearest entry of `palette` (null: the default palette of
// that depth). The bitmap keeps its memory type, order and view perspective.
OUTSIDE_API int RkColorResBitmap(_BITMAPHANDLE* bitmap, int bitsPerPixel,
                                 const tagRGBQUAD* palette);

// ---- exchange with DIBs, DDBs and device contexts -------------------------------------------

// Packed DIB (BITMAPINFOHEADER, colour table, pixel rows with 4-byte aligned lines) in
// movable global memory. variant 0: bottom-up rows (positive biHeight); variant 1: top-down
// rows (negative biHeight). Null on failure. The caller frees the handle with GlobalFree.
OUTSIDE_API HGLOBAL RkConvertToDIB(const _BITMAPHANDLE* bitmap, int variant);
// Import from a header with its colour table and the address of the pixel rows (1, 4, 8, 16,
// 24 and 32 bits, BI_RGB and BI_BITFIELDS; top-down or bottom-up). The result is top-left.
OUTSIDE_API int RkConvertFromDIBBits(_BITMAPHANDLE* bitmap, std::uint32_t size,
                                     const BITMAPINFO* info, const void* bits);
// Import from a packed-DIB handle (locked and unlocked inside).
OUTSIDE_API int RkConvertFromDIB(_BITMAPHANDLE* bitmap, std::uint32_t size, HGLOBAL dib);
// A device-dependent bitmap is a DIB section. variant 0 keeps the depth, variant 1 always
// gives 24 bits. dc may be null.
OUTSIDE_API HBITMAP RkConvertToDDB(HDC dc, const _BITMAPHANDLE* bitmap, int variant);
OUTSIDE_API int RkConvertFromDDB(HDC dc, _BITMAPHANDLE* bitmap, std::uint32_t size, HBITMAP ddb,
                                 HPALETTE palette, int variant);
// A device context whose drawing lands in the bitmap's pixels (for disk-backed bitmaps the
// drawing is written back when the context is released). Null on failure.
OUTSIDE_API HDC RkCreateBitmapDC(_BITMAPHANDLE* bitmap);
OUTSIDE_API int RkDeleteBitmapDC(HDC dc);

// ---- process-wide status callback -------------------------------------------------------------

// Called by long operations with a percentage (0..100) and the user data; an answer <= 0
// stops the operation with RK_ERROR_CANCELLED.
using RkStatusCallback = int (*)(int percent, void* userData);
// Installs callback (null removes it) and returns the previous one; *previousUserData, when
// given, receives the previous user data.
OUTSIDE_API RkStatusCallback RkSetStatusCallback(RkStatusCallback callback, void* userData,
                                                 void** previousUserData = nullptr);
OUTSIDE_API RkStatusCallback RkGetStatusCallback(void** userData = nullptr);

// ---- tuning and testing -----------------------------------------------------------------------

// Bytes of the window through which a disk-backed bitmap's file is reached (the resident memory
// of one such bitmap). Applies to disk-backed bitmaps created afterwards; 0 restores the
// default (4 MiB); values below 4096 are raised to 4096. Returns the previous setting.
// Process-wide.
OUTSIDE_API std::uint64_t RkSetDiskWindowBytes(std::uint64_t bytes);
// Fault injection for tests: after this call n further pixel-storage allocations succeed and
// every later one fails with RK_ERROR_NO_MEMORY; a negative n turns the failures off.
// Process-wide.
OUTSIDE_API void RkFailAllocationsAfter(long n);
