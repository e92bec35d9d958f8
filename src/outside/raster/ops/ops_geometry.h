// ops_geometry.h - the kernel's resampling operations: rotation and shear by any angle with a
// fill colour, plain and interpolated resizes.
//
// Conventions of kernel.h apply (results, record checks, progress and cancel). In addition:
//  - angles are hundredths of a degree; a positive angle turns the picture clockwise as it is
//    seen, whatever its view perspective (the stored pixels turn the other way when the storage
//    is mirrored on one axis, perspectives 2 and 4); whole turns are taken off first;
//  - the result replaces the record's bitmap only on success: a failed or cancelled operation
//    leaves the bitmap as it was; it keeps its storage kind (memory or disk), order, palette,
//    view perspective and resolutions;
//  - disk-backed bitmaps are processed a tile or a few rows at a time, within bounded memory;
//    warps of memory bitmaps are one OpenCV warpAffine; tiles (and mirrored storage) may place
//    a sample differently on OpenCV's 1/32-pixel interpolation grid;
//  - every depth is accepted (1, 2, 4, 8, 16, 24, 32, 48). Palette depths and 16 bits (5-5-5)
//    move whole pixel values (nearest neighbour); 8 bits with a grey ramp palette (entry i =
//    grey i), 24, 32 and 48 bits are interpolated per sample, the fourth byte of 32-bit pixels
//    (alpha) included.
#pragma once

#include "../kernel.h"
#include "ops_codes_geometry_tone.h"

// Turns the picture by angle (hundredths of a degree, clockwise) about its centre. flags:
// RK_ROTATE_RESIZE, RK_ROTATE_RESAMPLE. The area the picture no longer covers takes fill (palette
// depths: the nearest entry; 32 bits: the fourth byte 0, transparent). Quarter turns with
// RK_ROTATE_RESIZE (and half turns) move pixels exactly. RK_ERROR_INV_PARAMETER for unknown
// flags; RK_ERROR_TOO_LARGE / RK_ERROR_NO_MEMORY when the grown canvas cannot be made.
OUTSIDE_API int RkRotateBitmap(_BITMAPHANDLE* bitmap, int angle, std::uint32_t flags,
                               COLORREF fill);

// Shears the picture by angle (hundredths of a degree, -4500 to 4500, positive clockwise):
// RK_SHEAR_HORIZONTAL slides the rows (the top row right for a positive angle) and widens the
// canvas by height x |tan(angle)|; RK_SHEAR_VERTICAL slides the columns (the right column down)
// and heightens it by width x |tan(angle)|. Bilinear where the depth allows; the uncovered
// triangles take fill as in RkRotateBitmap. RK_ERROR_INV_PARAMETER for another direction or angle.
OUTSIDE_API int RkShearBitmap(_BITMAPHANDLE* bitmap, int angle, int direction, COLORREF fill);

// Plain resize to width x height by nearest neighbour (pixel centres aligned), every depth.
// flags must be 0. The same size succeeds without change.
OUTSIDE_API int RkResizeBitmap(_BITMAPHANDLE* bitmap, int width, int height, std::uint32_t flags);

// Interpolated resize to width x height with method RK_SIZE_* (ops_codes_geometry_tone.h). Depths
// that cannot be interpolated (palette other than a grey ramp, 16 bits) are resized by nearest
// neighbour whatever the method. Memory bitmaps give exactly what OpenCV's resize gives
// (INTER_NEAREST, INTER_LINEAR, INTER_CUBIC, INTER_AREA); disk-backed ones are resampled a few
// rows at a time with the same weights in floating point (within one level of it).
// RK_ERROR_INV_PARAMETER for an unknown method or a size below 1.
OUTSIDE_API int RkSizeBitmap(_BITMAPHANDLE* bitmap, int width, int height, int method);
