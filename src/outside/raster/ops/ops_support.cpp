// ops_support.cpp - matrices over bitmaps for the kernel's operations.
//
//   matType, greyRamp, sampled, fillValue     the pixel layout as OpenCV sees it
//   blockMat, readRegion, writeRegion         whole blocks and regions, memory or disk
//   bandRows, newLike, makeMat                sizes and allocation
#include "ops_support_internal.h"

#include <algorithm>
#include <cstring>

namespace rk::ops {

int matType(int bits)
{
    switch (bits) {
    case 16:
        return CV_16UC1;
    case 24:
        return CV_8UC3;
    case 32:
        return CV_8UC4;
    case 48:
        return CV_16UC3;
    default:
        return CV_8UC1;
    }
}

bool greyRamp(const Bitmap& bm)
{
    if (bm.geo.bits != 8 || bm.palette.size() != 256)
        return false;
    for (int i = 0; i < 256; ++i) {
        const tagRGBQUAD& q = bm.palette[std::size_t(i)];
        if (q.rgbRed != i || q.rgbGreen != i || q.rgbBlue != i)
            return false;
    }
    return true;
}

bool sampled(const Bitmap& bm)
{
    int b = bm.geo.bits;
    return b == 24 || b == 32 || b == 48 || greyRamp(bm);
}

cv::Scalar fillValue(const Bitmap& bm, COLORREF colour)
{
    int bits = bm.geo.bits;
    std::uint64_t raw = colourToRaw(colour, bits, bm.order, bm.pal(), bm.palCount());
    switch (bits) {
    case 24:
        return cv::Scalar(double(raw & 0xFF), double((raw >> 8) & 0xFF),
                          double((raw >> 16) & 0xFF));
    case 32:
        return cv::Scalar(double(raw & 0xFF), double((raw >> 8) & 0xFF), double((raw >> 16) & 0xFF),
                          0.0);
    case 48:
        return cv::Scalar(double(raw & 0xFFFF), double((raw >> 16) & 0xFFFF),
                          double((raw >> 32) & 0xFFFF));
    default:
        return cv::Scalar(double(raw));
    }
}

cv::Mat blockMat(Bitmap& bm)
{
    std::uint8_t* block = bm.pixels->block();
    if (!block || bm.geo.bits < 8)
        return cv::Mat();
    return cv::Mat(bm.geo.height, bm.geo.width, matType(bm.geo.bits), block, bm.geo.stride);
}

bool makeMat(cv::Mat& m, int rows, int cols, int type)
{
    try {
        m.create(rows, cols, type);
        return true;
    } catch (const cv::Exception&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace {

// The bytes of a row that hold pixels [x, x + w) and the first pixel's index within them.
void span(int bits, int x, int w, std::uint64_t& first, std::uint64_t& count, int& skip)
{
    if (bits >= 8) {
        first = std::uint64_t(x) * std::uint64_t(bits / 8);
        count = std::uint64_t(w) * std::uint64_t(bits / 8);
        skip = 0;
        return;
    }
    std::uint64_t perByte = std::uint64_t(8 / bits);
    first = std::uint64_t(x) / perByte;
    std::uint64_t last = (std::uint64_t(x) + std::uint64_t(w) + perByte - 1) / perByte;
    count = last - first;
    skip = int(std::uint64_t(x) - first * perByte);
}

} // namespace

int readRegion(const Bitmap& bm, int x, int y, int w, int h, cv::Mat& out)
{
    const Geometry& g = bm.geo;
    if (!makeMat(out, h, w, matType(g.bits)))
        return RK_ERROR_NO_MEMORY;
    std::uint64_t first = 0, count = 0;
    int skip = 0;
    span(g.bits, x, w, first, count, skip);
    Buffer packed;
    if (g.bits < 8 && !allocate(packed, count))
        return RK_ERROR_NO_MEMORY;
    for (int r = 0; r < h; ++r) {
        std::uint64_t at = std::uint64_t(y + r) * g.stride + first;
        if (g.bits >= 8) {
            if (int rc = bm.pixels->read(at, out.ptr(r), std::size_t(count)); rc <= 0)
                return rc;
            continue;
        }
        if (int rc = bm.pixels->read(at, packed.data(), std::size_t(count)); rc <= 0)
            return rc;
        std::uint8_t* o = out.ptr(r);
        for (int i = 0; i < w; ++i)
            o[i] = std::uint8_t(getRaw(packed.data(), skip + i, g.bits));
    }
    return RK_SUCCESS;
}

int writeRegion(Bitmap& bm, int x, int y, const cv::Mat& region)
{
    const Geometry& g = bm.geo;
    int w = region.cols, h = region.rows;
    std::uint64_t first = 0, count = 0;
    int skip = 0;
    span(g.bits, x, w, first, count, skip);
    Buffer packed;
    if (g.bits < 8 && !allocate(packed, count))
        return RK_ERROR_NO_MEMORY;
    for (int r = 0; r < h; ++r) {
        std::uint64_t at = std::uint64_t(y + r) * g.stride + first;
        if (g.bits >= 8) {
            if (int rc = bm.pixels->write(at, region.ptr(r), std::size_t(count)); rc <= 0)
                return rc;
            continue;
        }
        if (int rc = bm.pixels->read(at, packed.data(), std::size_t(count)); rc <= 0)
            return rc;
        const std::uint8_t* in = region.ptr(r);
        for (int i = 0; i < w; ++i)
            setRaw(packed.data(), skip + i, g.bits, in[i]);
        if (int rc = bm.pixels->write(at, packed.data(), std::size_t(count)); rc <= 0)
            return rc;
    }
    return RK_SUCCESS;
}

int bandRows(const Geometry& g)
{
    std::uint64_t rows = (std::uint64_t(4) << 20) / std::max<std::uint64_t>(1, g.stride);
    return int(std::clamp<std::uint64_t>(rows, 1, std::uint64_t(g.height)));
}

int newLike(const Bitmap& src, int width, int height, int bits, const tagRGBQUAD* palette,
            std::unique_ptr<Bitmap>& out)
{
    Geometry g;
    if (int rc = makeGeometry(width, height, bits, g); rc <= 0)
        return rc;
    return newBitmap(src.disk(), g, src.order, palette, out);
}

} // namespace rk::ops
