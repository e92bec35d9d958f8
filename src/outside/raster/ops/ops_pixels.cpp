// ops_pixels.cpp - row conversion between stored pixels and 8-bit blue-green-red triplets.
#include "raster/ops/ops_pixels_internal.h"

#include <cstring>

namespace rk::ops {

RowReader::RowReader(const Bitmap& bm) : bm_(bm)
{
    for (const tagRGBQUAD& q : bm.palette)
        palette_.push_back(paletteColour(q));
}

void RowReader::read(const std::uint8_t* row, int x0, int n, std::uint8_t* bgr,
                     std::uint8_t* alpha) const
{
    const int bits = bm_.geo.bits;
    const std::size_t un = std::size_t(n);
    if (bits == 24 && bm_.order == RK_ORDER_BGR) {
        std::memcpy(bgr, row + std::size_t(x0) * 3, un * 3);
        if (alpha)
            std::memset(alpha, 255, un);
        return;
    }
    if (bits == 32 && bm_.order == RK_ORDER_BGR) {
        const std::uint8_t* p = row + std::size_t(x0) * 4;
        for (std::size_t i = 0; i < un; ++i, p += 4) {
            bgr[3 * i] = p[0];
            bgr[3 * i + 1] = p[1];
            bgr[3 * i + 2] = p[2];
            if (alpha)
                alpha[i] = p[3];
        }
        return;
    }
    for (std::size_t i = 0; i < un; ++i) {
        const std::uint64_t raw = getRaw(row, x0 + int(i), bits);
        COLORREF c;
        if (bits <= 8)
            c = raw < palette_.size() ? palette_[std::size_t(raw)] : 0;
        else
            c = rawToColour(raw, bm_);
        bgr[3 * i] = std::uint8_t(c >> 16);
        bgr[3 * i + 1] = std::uint8_t(c >> 8);
        bgr[3 * i + 2] = std::uint8_t(c);
        if (alpha)
            alpha[i] = bits == 32 ? std::uint8_t(raw >> 24) : 255;
    }
}

RowWriter::RowWriter(const Bitmap& bm) : bm_(bm), nearest_(bm.pal(), bm.palCount()) {}

void RowWriter::write(std::uint8_t* row, int x0, int n, const std::uint8_t* bgr,
                      const std::uint8_t* alpha)
{
    const int bits = bm_.geo.bits;
    const std::size_t un = std::size_t(n);
    if (bits == 24 && bm_.order == RK_ORDER_BGR) {
        std::memcpy(row + std::size_t(x0) * 3, bgr, un * 3);
        return;
    }
    if (bits == 32 && bm_.order == RK_ORDER_BGR) {
        std::uint8_t* p = row + std::size_t(x0) * 4;
        for (std::size_t i = 0; i < un; ++i, p += 4) {
            p[0] = bgr[3 * i];
            p[1] = bgr[3 * i + 1];
            p[2] = bgr[3 * i + 2];
            if (alpha)
                p[3] = alpha[i];
        }
        return;
    }
    for (std::size_t i = 0; i < un; ++i) {
        const COLORREF c =
            COLORREF(bgr[3 * i + 2]) | COLORREF(bgr[3 * i + 1]) << 8 | COLORREF(bgr[3 * i]) << 16;
        const int x = x0 + int(i);
        if (bits <= 8) {
            setRaw(row, x, bits, std::uint64_t(nearest_.index(c)));
            continue;
        }
        std::uint64_t raw = colourToRaw(c, bits, bm_.order, nullptr, 0);
        if (bits == 32)
            raw |= std::uint64_t(alpha ? alpha[i] : std::uint8_t(getRaw(row, x, 32) >> 24)) << 24;
        setRaw(row, x, bits, raw);
    }
}

} // namespace rk::ops
