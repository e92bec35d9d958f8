// ops_compose.h - the kernel's compositing and plane operations: combining one bitmap into
// another, separating a bitmap into 8-bit planes and merging planes back, remapping channel
// values through a table. The codes are in ops_codes_compose.h.
//
// The conventions of kernel.h apply (results, record sizes, progress and cancellation through
// the status callback, disk-backed bitmaps in bounded memory). Unlike the row calls of
// kernel.h, these operations count rows in picture order: row 0 is the top of the picture
// whatever the bitmap's view perspective (only RK_TOP_LEFT stores rows top-down), so bitmaps
// stored in different orders combine and merge the right way up.
#pragma once

#include "../../outside_api.h"
#include "../bitmap_handle.h"
#include "ops_codes_compose.h"

#include <cstdint>

// Combines the width x height block of src at (sx, sy) into dst at (dx, dy), picture
// coordinates, with flags (RK_COMBINE_*: one operation, optional modifiers). The block is
// clipped to both bitmaps (nothing left: success). Any depths combine; 32-bit destination
// pixels keep their fourth byte, except a copy, which takes the source's fourth byte (255
// when the source has none). dst and src may be one bitmap, the blocks overlapping.
// RK_ERROR_INV_PARAMETER for a negative size or unknown flag bits. Cancelled, the rows done so
// far stay changed.
OUTSIDE_API int RkCombineBitmap(_BITMAPHANDLE* dst, int dx, int dy, int width, int height,
                                const _BITMAPHANDLE* src, int sx, int sy, std::uint32_t flags);

// Separates src into RkPlaneCount(selector) new 8-bit bitmaps planes[0..] (grey palette, entry
// i = (i, i, i)), each with src's size, view perspective, resolutions and storage kind. Every
// record of planes must be cleared or initialised; allocated ones are freed first, and all are
// left unallocated on failure. count must equal RkPlaneCount(selector) (else
// RK_ERROR_INV_PARAMETER, as for an unknown selector).
OUTSIDE_API int RkSeparatePlanes(const _BITMAPHANDLE* src, _BITMAPHANDLE* planes,
                                 std::uint32_t planeSize, int count, int selector);

// Writes into dst the colours made from RkPlaneCount(selector) planes (8 bits per pixel, each
// of dst's width and height; a plane's sample is the grey level of its palette entry, the
// rounded Rec. 601 luma for an entry that is not grey). dst keeps its depth (palette depths:
// nearest entries) and the fourth byte of 32-bit pixels. planes[i] is a record pointer.
// RK_ERROR_INV_PARAMETER for a null plane, an unknown selector or a plane of another size;
// RK_ERROR_BITSPERPIXEL for a plane that is not 8 bits. dst is unchanged on failure.
OUTSIDE_API int RkMergePlanes(_BITMAPHANDLE* dst, const _BITMAPHANDLE* const* planes, int count,
                              int selector);

// Every selected channel value v becomes clamp(table[v]) (RK_CHANNEL_* bits): 8-bit channels
// need count >= 256 and clamp to 0..255; 48-bit pixels (16-bit samples) need count >= 65536
// and clamp to 0..65535. Palette depths remap their palette entries and leave the pixels;
// 16-bit (5-5-5) pixels remap their colours expanded to 8 bits. RK_CHANNEL_ALPHA applies to
// 32-bit pixels only and is ignored elsewhere. RK_ERROR_INV_PARAMETER for a null table, a short
// table or a channel word without known bits or with unknown ones. Cancelled or failed, the
// bitmap is unchanged.
OUTSIDE_API int RkRemapBitmapValues(_BITMAPHANDLE* bitmap, const int* table, std::uint32_t count,
                                    std::uint32_t channels);
