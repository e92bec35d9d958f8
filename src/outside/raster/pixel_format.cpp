// pixel_format.cpp - geometry, pixel packing and colour mapping.
//
//   validDepth, makeGeometry                sizes in checked 64-bit arithmetic
//   copyBits, copyPixels                    packed (MSB first) and whole-byte pixels
//   rawToColour, colourToRaw                COLORREF <-> stored pixel, per depth and order
//   NearestCache                            palette mapping
//   defaultPalette                          the kernel's palettes for depths 1, 2, 4, 8
#include "raster/raster_internal.h"

#include <climits>
#include <cstring>

namespace rk {

bool validDepth(int bits)
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

int makeGeometry(int width, int height, int bits, Geometry& out)
{
    out = Geometry{};
    if (width < 1 || height < 1)
        return RK_ERROR_INV_PARAMETER;
    if (!validDepth(bits))
        return RK_ERROR_BITSPERPIXEL;
    const std::uint64_t stride = core::CheckedLineSize(width, bits, 4).value_or(UINT64_MAX);
    if (stride > std::uint64_t(INT_MAX))
        return RK_ERROR_TOO_LARGE;
    out.width = width;
    out.height = height;
    out.bits = bits;
    out.stride = std::uint32_t(stride);
    out.size = stride * std::uint64_t(height); // < 2^62: cannot overflow
    return RK_SUCCESS;
}

void copyBits(std::uint8_t* dst, std::uint64_t dstBit, const std::uint8_t* src,
              std::uint64_t srcBit, std::uint64_t n)
{
    if (n == 0)
        return;
    if ((dstBit & 7) == 0 && (srcBit & 7) == 0) {
        std::memmove(dst + dstBit / 8, src + srcBit / 8, std::size_t(n / 8));
        dstBit += n & ~std::uint64_t(7);
        srcBit += n & ~std::uint64_t(7);
        n &= 7;
    }
    while (n > 0) {
        std::size_t di = std::size_t(dstBit >> 3);
        unsigned dOff = unsigned(dstBit & 7);
        unsigned chunk = unsigned(std::min<std::uint64_t>(8 - dOff, n));
        std::size_t si = std::size_t(srcBit >> 3);
        unsigned sOff = unsigned(srcBit & 7);
        unsigned mask = (1u << chunk) - 1;
        unsigned v;
        // Only touch the second source byte when the bits run into it: src may end here.
        if (sOff + chunk <= 8)
            v = (unsigned(src[si]) >> (8 - sOff - chunk)) & mask;
        else
            v = ((unsigned(src[si]) << 8 | src[si + 1]) >> (16 - sOff - chunk)) & mask;
        unsigned shift = 8 - dOff - chunk;
        dst[di] = std::uint8_t((dst[di] & ~(mask << shift)) | (v << shift));
        dstBit += chunk;
        srcBit += chunk;
        n -= chunk;
    }
}

void copyPixels(std::uint8_t* dst, int dx, const std::uint8_t* src, int sx, int width, int bits)
{
    if (width <= 0)
        return;
    if (bits >= 8) {
        std::size_t n = std::size_t(bits) / 8;
        std::memmove(dst + std::size_t(dx) * n, src + std::size_t(sx) * n, std::size_t(width) * n);
        return;
    }
    copyBits(dst, std::uint64_t(dx) * unsigned(bits), src, std::uint64_t(sx) * unsigned(bits),
             std::uint64_t(width) * unsigned(bits));
}

COLORREF paletteColour(const tagRGBQUAD& q)
{
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

namespace {

// Three 8-bit components in memory order (first, second, third) as a COLORREF.
COLORREF fromComponents(unsigned first, unsigned second, unsigned third, int order)
{
    if (order == RK_ORDER_RGB)
        return RGB(BYTE(first), BYTE(second), BYTE(third));
    return RGB(BYTE(third), BYTE(second), BYTE(first));
}

// The components of colour in memory order for the bitmap's colour order.
void toComponents(COLORREF colour, int order, unsigned c[3])
{
    if (order == RK_ORDER_RGB) {
        c[0] = GetRValue(colour);
        c[1] = GetGValue(colour);
        c[2] = GetBValue(colour);
    } else {
        c[0] = GetBValue(colour);
        c[1] = GetGValue(colour);
        c[2] = GetRValue(colour);
    }
}

unsigned expand5(unsigned v)
{
    return (v << 3) | (v >> 2);
}

} // namespace

COLORREF rawToColour(std::uint64_t raw, const Bitmap& bm)
{
    return rawToColour(raw, bm.geo.bits, bm.order, bm.pal(), bm.palCount());
}

COLORREF rawToColour(std::uint64_t raw, int bits, int order, const tagRGBQUAD* palette, int count)
{
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
        if (palette && raw < std::uint64_t(count))
            return paletteColour(palette[std::size_t(raw)]);
        return 0;
    case 16: // x-5-5-5: the first component in the low five bits
        return fromComponents(expand5(unsigned(raw) & 31), expand5(unsigned(raw >> 5) & 31),
                              expand5(unsigned(raw >> 10) & 31), order);
    case 24:
    case 32:
        return fromComponents(unsigned(raw) & 255, unsigned(raw >> 8) & 255,
                              unsigned(raw >> 16) & 255, order);
    case 48: // the high byte of each little-endian 16-bit sample
        return fromComponents(unsigned(raw >> 8) & 255, unsigned(raw >> 24) & 255,
                              unsigned(raw >> 40) & 255, order);
    default:
        return 0;
    }
}

std::uint64_t colourToRaw(COLORREF colour, int bits, int order, const tagRGBQUAD* palette,
                          int count)
{
    unsigned c[3];
    toComponents(colour, order, c);
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
        return std::uint64_t(nearestIndex(palette, count, colour));
    case 16:
        return (c[0] >> 3) | ((c[1] >> 3) << 5) | ((c[2] >> 3) << 10);
    case 24:
    case 32:
        return std::uint64_t(c[0]) | (std::uint64_t(c[1]) << 8) | (std::uint64_t(c[2]) << 16);
    case 48:
        return std::uint64_t(c[0] * 257u) | (std::uint64_t(c[1] * 257u) << 16) |
               (std::uint64_t(c[2] * 257u) << 32);
    default:
        return 0;
    }
}

// Direct-mapped: 4096 slots keyed by the colour (bit 31 marks a used slot).
NearestCache::NearestCache(const tagRGBQUAD* palette, int count)
    : palette_(palette), count_(count), keys_(4096, 0), values_(4096, 0)
{
}

int NearestCache::index(COLORREF colour)
{
    colour &= 0xFFFFFF;
    std::uint32_t h = (colour * 2654435761u) >> 20;
    if (keys_[h] == (colour | 0x80000000u))
        return values_[h];
    int i = nearestIndex(palette_, count_, colour);
    keys_[h] = colour | 0x80000000u;
    values_[h] = std::uint8_t(i);
    return i;
}

std::vector<tagRGBQUAD> defaultPalette(int bits)
{
    auto entry = [](int r, int g, int b) { return tagRGBQUAD{BYTE(b), BYTE(g), BYTE(r), 0}; };
    std::vector<tagRGBQUAD> p;
    switch (bits) {
    case 1:
        p = {entry(0, 0, 0), entry(255, 255, 255)};
        break;
    case 2:
        p = {entry(0, 0, 0), entry(85, 85, 85), entry(170, 170, 170), entry(255, 255, 255)};
        break;
    case 4: // the sixteen VGA colours
        p = {entry(0, 0, 0),       entry(128, 0, 0),   entry(0, 128, 0),   entry(128, 128, 0),
             entry(0, 0, 128),     entry(128, 0, 128), entry(0, 128, 128), entry(192, 192, 192),
             entry(128, 128, 128), entry(255, 0, 0),   entry(0, 255, 0),   entry(255, 255, 0),
             entry(0, 0, 255),     entry(255, 0, 255), entry(0, 255, 255), entry(255, 255, 255)};
        break;
    case 8: // a 6x6x6 colour cube, then 40 greys between its grey steps
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.push_back(entry(r * 51, g * 51, b * 51));
        for (int i = 0; i < 40; ++i) {
            int level = (i * 255 + 20) / 39;
            if (level % 51 == 0) // already in the cube: nudge to a level the cube lacks
                level += level < 255 ? 3 : -3;
            p.push_back(entry(level, level, level));
        }
        break;
    default:
        break;
    }
    return p;
}

} // namespace rk
