// paint.h - the raster kernel's painting: bitmaps drawn onto device contexts with cairo, the
// display-mode bits that choose how, painting palettes, printing, and the masked blend that
// composes a bitmap over another through an opacity bitmap.
//
// The conventions of kernel.h apply. Rectangles are in picture coordinates for bitmaps (row 0
// at the top whatever the view perspective) and in device units for contexts; they are
// [left, right) x [top, bottom).
//
// Painting never copies a whole bitmap: rows are converted to cairo pixels in bands of a few
// megabytes, so a disk-backed bitmap paints in the memory of its window plus one band. When
// the target keeps pixels (a bitmap, an image surface, a window) and the picture is sampled by
// the nearest pixel, only the pixels that land on the target are read. A vector target (a PDF
// page) receives the source pixels at their own resolution.
#pragma once

#include "../../outside_api.h"
#include "../../win/windef.h"
#include "../bitmap_handle.h"
#include "paint_codes.h"

#include <cstdint>

// Changes the display-mode bits selected by mask to value's and returns the bits as they were.
// RkSetDisplayMode(0, 0) reads them.
OUTSIDE_API std::uint32_t RkSetDisplayMode(std::uint32_t mask, std::uint32_t value);

// The painting switch (process-wide, off until turned on): when on, painting applies each
// bitmap's display gamma (RkSetBitmapDisplayGamma); when off, pixels are drawn as stored.
// Returns the previous setting (0 or 1).
OUTSIDE_API int RkSetPaintSwitch(int on);

// A logical palette holding a palette bitmap's colours, for painting it on dc; null above 8
// bits, for a bad bitmap or context. The caller selects it, and deletes it with DeleteObject.
OUTSIDE_API HPALETTE RkCreatePaintPalette(HDC dc, const _BITMAPHANDLE* bitmap);

// Paints the src rectangle of the bitmap (null: the whole bitmap), limited to srcClip (null:
// no limit), scaled onto the dst rectangle of dc (null: the source's size at (0, 0)), limited
// to dstClip. rop: SRCCOPY paints with cairo (sampling as the display-mode bits say);
// NOTSRCCOPY, SRCAND, SRCPAINT, SRCINVERT, BLACKNESS and WHITENESS go through the context's own
// StretchDIBits (nearest pixel). Empty rectangles, or nothing of them visible, succeed without
// drawing. RK_ERROR_INV_PARAMETER for an unknown rop or a rectangle turned inside out;
// RK_ERROR_INV_HANDLE for a bad context; RK_ERROR_NO_MEMORY; RK_ERROR_IO; RK_FAILURE when the
// target refused the drawing (a host context in an error state).
OUTSIDE_API int RkPaintDC(HDC dc, const _BITMAPHANDLE* bitmap, const RECT* src, const RECT* srcClip,
                          const RECT* dst, const RECT* dstClip, std::uint32_t rop);

// RkPaintDC with SRCCOPY shown as an effect (paint_codes.h). RK_ERROR_INV_PARAMETER for an
// unknown effect.
OUTSIDE_API int RkPaintDCEffect(HDC dc, const _BITMAPHANDLE* bitmap, const RECT* src,
                                const RECT* srcClip, const RECT* dst, const RECT* dstClip,
                                unsigned effect, unsigned param);

// Prints the whole bitmap on a printer (or any) context at (x, y) with size width x height in
// device units. A width or height of 0 takes the size from the bitmap's resolution and the
// device's (LOGPIXELSX/Y; a resolution of 0 counts as 72 dpi), keeping the other given size
// when only one is 0. flags must be 0. Results as RkPaintDC; RK_ERROR_INV_PARAMETER for a
// negative size.
OUTSIDE_API int RkPrintBitmap(HDC dc, const _BITMAPHANDLE* bitmap, int x, int y, int width,
                              int height, std::uint32_t flags);

// Composes the width x height block of src at (sx, sy) over dst at (dx, dy), picture
// coordinates, through the 8-bit opacity bitmap mask read at (mx, my): each colour channel
// becomes (s * m + d * (255 - m) + 127) / 255, where m is the mask pixel's grey level (the
// rounded Rec. 601 luma of its palette entry). Where the mask does not reach, src is copied
// as opaque. The block is clipped to dst and src. Any depths for src and dst (palette
// depths: nearest entries; 32-bit dst pixels keep their fourth byte). RK_ERROR_BITSPERPIXEL
// for a mask that is not 8 bits; RK_ERROR_INV_PARAMETER for a negative size. Cancelled, the
// rows done so far stay changed.
OUTSIDE_API int RkBlendBitmapMasked(_BITMAPHANDLE* dst, int dx, int dy, int width, int height,
                                    const _BITMAPHANDLE* src, int sx, int sy,
                                    const _BITMAPHANDLE* mask, int mx, int my);
