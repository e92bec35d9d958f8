// colour_analysis.cpp - TDib::ColorPromig: distance-weighted average colour around a point.
//
// A pixel weighs 1 - min(d2, radius) / M, M the largest clamped squared distance in the
// window, so only pixels with d2 < M <= radius weigh anything: they lie within sqrt(radius) of
// the centre. The window is therefore clipped to the image and then to that disc's bounding
// box, and the weights are summed and applied in the column-major order of the whole window;
// the pixels left out weigh exactly 0 and would add nothing. Work and memory are bounded by
// the clipped window whatever the radius.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <raster/kernel.h>

using dib::TDibAccess;

unsigned long TDib::ColorPromig(int x, int y, int radius) const
{
    if (radius == 0)
        return GetPixel(x, y);
    if (radius < 0 || !(m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return 0;
    const std::int64_t r = radius;
    const std::int64_t cx = x, cy = y;
    const std::int64_t c0 = std::max<std::int64_t>(cx - r, 0);
    const std::int64_t c1 = std::min<std::int64_t>(cx + r + 1, m_bitmap.Width) - 1;
    const std::int64_t r0 = std::max<std::int64_t>(cy - r, 0);
    const std::int64_t r1 = std::min<std::int64_t>(cy + r + 1, m_bitmap.Height) - 1;
    if (c0 > c1 || r0 > r1)
        return 0;

    auto square = [](std::int64_t d) {
        const double v = double(d);
        return v * v;
    };
    const double limit = double(radius);
    // The largest squared distance sits at the window corner farthest on both axes.
    const double maxDx2 = std::max(square(cx - c0), square(cx - c1));
    const double maxDy2 = std::max(square(cy - r0), square(cy - r1));
    const double m = std::min(maxDx2 + maxDy2, limit);
    if (!(m > 0.0))
        return 0; // only the centre: every weight would be 0 / 0

    const auto reach = std::int64_t(std::sqrt(m)) + 1;
    const std::int64_t a0 = std::max(c0, cx - reach), a1 = std::min(c1, cx + reach);
    const std::int64_t b0 = std::max(r0, cy - reach), b1 = std::min(r1, cy + reach);
    auto weight = [&](std::int64_t col, std::int64_t row) {
        const double d2 = std::min(square(cx - col) + square(cy - row), limit);
        return 1.0 - d2 / m;
    };
    double sum = 0.0;
    for (std::int64_t col = a0; col <= a1; ++col)
        for (std::int64_t row = b0; row <= b1; ++row)
            sum += weight(col, row);
    if (!(sum > 0.0))
        return 0;
    double acc[3] = {0.0, 0.0, 0.0};
    for (std::int64_t col = a0; col <= a1; ++col)
        for (std::int64_t row = b0; row <= b1; ++row) {
            const double w = weight(col, row) / sum;
            if (!(w > 0.0))
                continue;
            const COLORREF c = RkGetPixelColor(&m_bitmap, int(row), int(col));
            for (int i = 0; i < 3; ++i)
                acc[i] += double((c >> (8 * i)) & 0xFF) * w;
        }
    unsigned long result = 0;
    for (int i = 0; i < 3; ++i)
        result |= (static_cast<unsigned long>(static_cast<std::int64_t>(acc[i])) & 0xFF) << (8 * i);
    return result;
}
