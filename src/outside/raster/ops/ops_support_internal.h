// ops_support_internal.h - what the kernel's geometry and tone operations share: bitmaps as
// OpenCV matrices, region reads and writes that work for memory and disk storage alike, and the
// checks of the colour layout.
#pragma once

#include "../raster_internal.h"

#include <opencv2/core.hpp>

namespace rk::ops {

// The OpenCV type that holds one pixel of a depth as the operations see it: palette depths as
// one 8-bit index, 16 bits as one raw 16-bit value, 24 / 32 bits as 3 / 4 bytes, 48 bits as 3
// 16-bit samples.
int matType(int bits);
// True when the 8-bit palette is the grey ramp (entry i is grey i).
bool greyRamp(const Bitmap& bm);
// True when pixel values are samples that may be interpolated or filtered: 24, 32, 48 bits and 8
// bits with the grey ramp palette.
bool sampled(const Bitmap& bm);
// The fill colour as a pixel value of bm (see matType); 32 bits take a fourth byte of 0.
cv::Scalar fillValue(const Bitmap& bm, COLORREF colour);

// A matrix over the whole block of a memory bitmap at 8 bits or more, or an empty one.
cv::Mat blockMat(Bitmap& bm);

// Reads the w x h region at (x, y) (stored coordinates, inside the bitmap) into out (matType).
int readRegion(const Bitmap& bm, int x, int y, int w, int h, cv::Mat& out);
// Writes a region (matType of bm) at (x, y); it must lie inside the bitmap.
int writeRegion(Bitmap& bm, int x, int y, const cv::Mat& region);

// Rows per band for band-wise processing: about 4 MiB of stored rows, at least 1.
int bandRows(const Geometry& g);

// A new bitmap shaped like src (storage kind, order, palette) at another size or depth.
int newLike(const Bitmap& src, int width, int height, int bits, const tagRGBQUAD* palette,
            std::unique_ptr<Bitmap>& out);

// Allocation that answers false instead of throwing.
bool makeMat(cv::Mat& m, int rows, int cols, int type);

} // namespace rk::ops
