// convert.cpp - row conversion between depths, orders and palettes.
//
// Palette sources go through a table (one result value per source index), so every palette
// conversion costs one lookup per pixel. The common true-colour cases (same layout, red and
// blue swapped, 24 <-> 32) have their own loops; everything else goes through one colour per
// pixel.
#include "../raster_internal.h"
#include "convert_internal.h"

#include <cstring>

namespace rkfmt {
namespace {

bool validBits(int bits)
{
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
    case 48:
        return true;
    default:
        return false;
    }
}

struct Rgba {
    std::uint8_t r, g, b, a;
};

enum class Mode { Copy, Swap24, Expand24To32, Reduce32To24, PaletteTable, General };

} // namespace

bool IsGreyPalette(const std::vector<tagRGBQUAD>& palette)
{
    for (const tagRGBQUAD& q : palette)
        if (q.rgbRed != q.rgbGreen || q.rgbGreen != q.rgbBlue)
            return false;
    return !palette.empty();
}

std::vector<tagRGBQUAD> GreyRamp(int n)
{
    std::vector<tagRGBQUAD> out(std::size_t(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i) {
        const auto v = std::uint8_t(n > 1 ? (i * 255 + (n - 1) / 2) / (n - 1) : 0);
        out[std::size_t(i)] = tagRGBQUAD{v, v, v, 0};
    }
    return out;
}

struct RowConverter::Impl {
    int width = 0;
    PixelLayout src;
    int bits = 0;
    int order = 1;
    Mode mode = Mode::General;
    std::size_t dstBytes = 0;
    std::size_t srcBytes = 0;
    bool swapOrder = false; // source and result orders differ (both true-colour)
    // Result palette mapping
    bool toPalette = false;
    bool greyRamp = false; // map by grey level onto a ramp of 2^bits entries
    std::unique_ptr<rk::NearestCache> nearest;
    const std::vector<tagRGBQUAD>* dstPalette = nullptr;
    std::uint64_t table[256] = {}; // PaletteTable: result value of each source index

    Rgba fetch(const std::uint8_t* row, int x) const
    {
        switch (src.bits) {
        case 16: {
            const unsigned v = unsigned(row[2 * x]) | (unsigned(row[2 * x + 1]) << 8);
            auto five = [](unsigned c) { return std::uint8_t((c << 3) | (c >> 2)); };
            return Rgba{five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31), 0};
        }
        case 24: {
            const std::uint8_t* p = row + 3 * std::size_t(x);
            return src.order == RK_ORDER_RGB ? Rgba{p[0], p[1], p[2], 0}
                                             : Rgba{p[2], p[1], p[0], 0};
        }
        case 32: {
            const std::uint8_t* p = row + 4 * std::size_t(x);
            return src.order == RK_ORDER_RGB ? Rgba{p[0], p[1], p[2], p[3]}
                                             : Rgba{p[2], p[1], p[0], p[3]};
        }
        case 48: {
            const std::uint8_t* p = row + 6 * std::size_t(x);
            return src.order == RK_ORDER_RGB ? Rgba{p[1], p[3], p[5], 0}
                                             : Rgba{p[5], p[3], p[1], 0};
        }
        default: {
            const std::uint64_t i = core::ReadPixel(row, x, src.bits);
            if (i >= src.palette.size())
                return Rgba{0, 0, 0, 0};
            const tagRGBQUAD& q = src.palette[std::size_t(i)];
            return Rgba{q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
        }
        }
    }

    std::uint64_t value(const Rgba& c)
    {
        switch (bits) {
        case 16:
            return (std::uint64_t(c.r >> 3) << 10) | (std::uint64_t(c.g >> 3) << 5) | (c.b >> 3);
        case 24:
            return order == RK_ORDER_RGB
                       ? (std::uint64_t(c.r) | std::uint64_t(c.g) << 8 | std::uint64_t(c.b) << 16)
                       : (std::uint64_t(c.b) | std::uint64_t(c.g) << 8 | std::uint64_t(c.r) << 16);
        case 32: {
            const std::uint64_t a = src.bits == 32 ? c.a : 0;
            return order == RK_ORDER_RGB ? (std::uint64_t(c.r) | std::uint64_t(c.g) << 8 |
                                            std::uint64_t(c.b) << 16 | a << 24)
                                         : (std::uint64_t(c.b) | std::uint64_t(c.g) << 8 |
                                            std::uint64_t(c.r) << 16 | a << 24);
        }
        case 48: {
            const std::uint64_t r = std::uint64_t(c.r) * 257, g = std::uint64_t(c.g) * 257,
                                b = std::uint64_t(c.b) * 257;
            return order == RK_ORDER_RGB ? (r | g << 16 | b << 32) : (b | g << 16 | r << 32);
        }
        default: {
            if (greyRamp) {
                const int n = (1 << bits) - 1;
                return std::uint64_t((int(c.r) * n + 127) / 255);
            }
            return std::uint64_t(nearest->index(RGB(c.r, c.g, c.b)));
        }
        }
    }
};

RowConverter::RowConverter() = default;
RowConverter::~RowConverter() = default;

int RowConverter::Init(int width, const PixelLayout& source, int bits, int order)
{
    if (!validBits(source.bits) || !validBits(bits) || width < 1)
        return RK_ERROR_BITSPERPIXEL;
    try {
        impl_ = std::make_unique<Impl>();
        Impl& m = *impl_;
        m.width = width;
        m.src = source;
        m.bits = bits;
        m.order = order == RK_ORDER_RGB ? RK_ORDER_RGB : RK_ORDER_BGR;
        if (m.src.bits > 8)
            m.src.palette.clear();
        else if (m.src.palette.size() > (std::size_t(1) << m.src.bits))
            m.src.palette.resize(std::size_t(1) << m.src.bits);
        if (m.src.order != RK_ORDER_RGB)
            m.src.order = RK_ORDER_BGR;
        m.srcBytes = std::size_t(rk::lineBytes(width, m.src.bits));
        m.dstBytes = std::size_t(rk::lineBytes(width, bits));
        palette_.clear();

        if (bits <= 8) {
            m.toPalette = true;
            const std::size_t n = std::size_t(1) << bits;
            if (m.src.bits <= 8 && !m.src.palette.empty() && m.src.palette.size() <= n) {
                palette_ = m.src.palette;
                palette_.resize(n, tagRGBQUAD{0, 0, 0, 0});
            } else if (m.src.bits <= 8 && IsGreyPalette(m.src.palette)) {
                palette_ = GreyRamp(int(n));
                m.greyRamp = true;
            } else {
                palette_ = rk::defaultPalette(bits);
                m.nearest = std::make_unique<rk::NearestCache>(palette_.data(), int(n));
            }
            m.dstPalette = &palette_;
        }

        if (m.src.bits <= 8) {
            m.mode = Mode::PaletteTable;
            const std::size_t n = std::size_t(1) << m.src.bits;
            const bool keepIndex = m.toPalette && !m.greyRamp && !m.nearest;
            for (std::size_t i = 0; i < n; ++i) {
                if (keepIndex) {
                    m.table[i] = i;
                    continue;
                }
                Rgba c{0, 0, 0, 0};
                if (i < m.src.palette.size())
                    c = Rgba{m.src.palette[i].rgbRed, m.src.palette[i].rgbGreen,
                             m.src.palette[i].rgbBlue, 0};
                m.table[i] = m.value(c);
            }
            if (keepIndex && bits == m.src.bits)
                m.mode = Mode::Copy;
        } else if (m.src.bits == bits && (bits == 16 || m.src.order == m.order)) {
            m.mode = Mode::Copy;
        } else if (m.src.bits == 24 && bits == 24) {
            m.mode = Mode::Swap24;
        } else if (m.src.bits == 24 && bits == 32) {
            m.mode = Mode::Expand24To32;
            m.swapOrder = m.src.order != m.order;
        } else if (m.src.bits == 32 && bits == 24) {
            m.mode = Mode::Reduce32To24;
            m.swapOrder = m.src.order != m.order;
        } else {
            m.mode = Mode::General;
        }
        return RK_SUCCESS;
    } catch (const std::bad_alloc&) {
        impl_.reset();
        return RK_ERROR_NO_MEMORY;
    }
}

void RowConverter::Convert(const std::uint8_t* src, std::uint8_t* dst)
{
    Impl& m = *impl_;
    const int w = m.width;
    switch (m.mode) {
    case Mode::Copy:
        std::memcpy(dst, src, m.dstBytes);
        return;
    case Mode::Swap24:
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = src + 3 * std::size_t(x);
            std::uint8_t* d = dst + 3 * std::size_t(x);
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
        return;
    case Mode::Expand24To32:
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = src + 3 * std::size_t(x);
            std::uint8_t* d = dst + 4 * std::size_t(x);
            d[0] = m.swapOrder ? s[2] : s[0];
            d[1] = s[1];
            d[2] = m.swapOrder ? s[0] : s[2];
            d[3] = 0;
        }
        return;
    case Mode::Reduce32To24:
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* s = src + 4 * std::size_t(x);
            std::uint8_t* d = dst + 3 * std::size_t(x);
            d[0] = m.swapOrder ? s[2] : s[0];
            d[1] = s[1];
            d[2] = m.swapOrder ? s[0] : s[2];
        }
        return;
    case Mode::PaletteTable:
        if (m.bits < 8)
            std::memset(dst, 0, m.dstBytes);
        if (m.src.bits == 8 && m.bits == 8) {
            for (int x = 0; x < w; ++x)
                dst[x] = std::uint8_t(m.table[src[x]]);
            return;
        }
        for (int x = 0; x < w; ++x)
            core::WritePixel(dst, x, m.bits, m.table[core::ReadPixel(src, x, m.src.bits)]);
        return;
    case Mode::General:
        if (m.bits < 8)
            std::memset(dst, 0, m.dstBytes);
        for (int x = 0; x < w; ++x)
            core::WritePixel(dst, x, m.bits, m.value(m.fetch(src, x)));
        return;
    }
}

} // namespace rkfmt
