// Helpers of the geometry and tone tests: bitmaps to and from OpenCV matrices, in picture order.
#pragma once

#include "raster_test_util.h"

#include <opencv2/core.hpp>

namespace rkops {

inline int matTypeOf(int bits)
{
    return bits == 24   ? CV_8UC3
           : bits == 32 ? CV_8UC4
           : bits == 48 ? CV_16UC3
           : bits == 16 ? CV_16UC1
                        : CV_8UC1;
}

// The stored pixels at 8 bits and more, rows in picture order (bottom-up bitmaps reversed).
inline cv::Mat toMat(_BITMAPHANDLE* b)
{
    cv::Mat m(b->Height, b->Width, matTypeOf(b->BitsPerPixel));
    std::size_t n = m.elemSize() * std::size_t(b->Width);
    for (int y = 0; y < b->Height; ++y) {
        int stored = b->ViewPerspective == RK_TOP_LEFT ? y : b->Height - 1 - y;
        EXPECT_GT(RkGetBitmapRow(b, m.ptr(y), stored, n), 0);
    }
    return m;
}

inline void fromMat(_BITMAPHANDLE* b, const cv::Mat& m)
{
    std::size_t n = m.elemSize() * std::size_t(m.cols);
    for (int y = 0; y < m.rows; ++y) {
        int stored = b->ViewPerspective == RK_TOP_LEFT ? y : b->Height - 1 - y;
        ASSERT_GT(RkPutBitmapRow(b, m.ptr(y), stored, n), 0);
    }
}

// A smooth picture with edges (gradients plus a few blocks), so interpolation has work to do
// and rounding ties are rare.
inline cv::Mat picture(int w, int h, int type, unsigned seed = 3)
{
    cv::Mat m(h, w, type);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, type == CV_16UC3 || type == CV_16UC1 ? 65536 : 256);
    return m;
}

// A bitmap in memory (0x201) or on disk (0x80) holding m.
inline void make(rktest::Bmp& b, const cv::Mat& m, int bits, std::uint32_t flags = 0x201,
                 int view = RK_TOP_LEFT)
{
    ASSERT_GT(rktest::create(b, m.cols, m.rows, bits, flags, view), 0);
    fromMat(b.get(), m);
}

inline double maxDiff(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type())
        return 1e9;
    return cv::norm(a, b, cv::NORM_INF);
}

} // namespace rkops
