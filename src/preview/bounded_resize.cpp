// bounded_resize.cpp - TDib's bounded preview size and the streaming resize handed to callers.
//
//   CalculaMidesAcotades                                size within a byte budget, aspect kept
//   StartDynamicResize / DynamicResize / StopDynamicResize   the kernel's streaming resize
#include <algorithm>
#include <cmath>
#include <core/last_error.h>
#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/kernel_status.h>
#include <raster/resize/stream_resize.h>

namespace {

// Bytes of w pixels at bits, rounded up to 4, in 64 bits (a wide line at 32 bits per pixel
// would overflow 32 bits).
std::uint64_t LineBytes(int bits, std::int64_t w)
{
    std::uint64_t b = 0;
    switch (bits) {
    case 1:
        b = static_cast<std::uint64_t>((w + 7) / 8);
        break;
    case 2:
        b = static_cast<std::uint64_t>((w + 3) / 4);
        break;
    case 4:
        b = static_cast<std::uint64_t>((w + 1) / 2);
        break;
    default:
        b = static_cast<std::uint64_t>(bits < 0 ? 0 : bits) * static_cast<std::uint64_t>(w) / 8;
    }
    return (b + 3) & ~std::uint64_t{3};
}

int Status(int r)
{
    if (r <= 0)
        core::SetLastErrorText(RkStatusText(r));
    return dib::StatusFromKernel(r);
}

} // namespace

int TDib::CalculaMidesAcotades(int maxKilobytes, int bitsPerPixel, int width, int height,
                               int& newWidth, int& newHeight)
{
    if (maxKilobytes < 1 || width < 1 || height < 1)
        return 0;
    const double target = static_cast<double>(maxKilobytes) * 1024.0;
    // The size is kept in 64 bits: a 32-bit product wraps for large images and would give a
    // wrong (even enlarging) factor.
    std::uint64_t size = LineBytes(bitsPerPixel, width) * static_cast<std::uint64_t>(height);
    std::int64_t w = width, h = height;
    for (int pass = 0; pass < 6; ++pass) {
        const double f = size == 0 ? 1.0 : std::sqrt(target / static_cast<double>(size));
        w = std::max<std::int64_t>(static_cast<std::int64_t>(static_cast<double>(w) * f), 1);
        h = std::max<std::int64_t>(static_cast<std::int64_t>(static_cast<double>(h) * f), 1);
        // An enlargement of a tiny image to a huge budget stays within int.
        w = std::min<std::int64_t>(w, INT32_MAX);
        h = std::min<std::int64_t>(h, INT32_MAX);
        newWidth = static_cast<int>(w);
        newHeight = static_cast<int>(h);
        size = LineBytes(bitsPerPixel, w) * static_cast<std::uint64_t>(h);
        if (static_cast<double>(size) <= 2.0 * target)
            break;
    }
    return 1;
}

int TDib::StartDynamicResize(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                             void*& handle)
{
    void* h = nullptr;
    const int r = RkStartResize(srcWidth, srcHeight, dstWidth, dstHeight, &h);
    handle = h;
    return Status(r);
}

int TDib::DynamicResize(unsigned char* row, int rowIndex, int bitsPerPixel, int& outWidth,
                        int& outLines, void* handle)
{
    return Status(RkResizeRow(row, rowIndex, bitsPerPixel, &outWidth, &outLines, handle));
}

int TDib::StopDynamicResize(void* handle)
{
    return Status(RkStopResize(handle));
}
