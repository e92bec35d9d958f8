// Helpers shared by the raster kernel tests: an owning record, a reference pixel layout written
// from the packing rules (not from the kernel's code), and pattern fills.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <vector>

namespace rktest {

constexpr int kDepths[] = {1, 2, 4, 8, 16, 24, 32, 48};

// A record freed on scope exit.
struct Bmp {
    _BITMAPHANDLE h;
    Bmp() { RkInitBitmap(&h, BITMAPHANDLE_SIZE, 0, 0, 0); }
    ~Bmp() { RkFreeBitmap(&h); }
    Bmp(const Bmp&) = delete;
    Bmp& operator=(const Bmp&) = delete;
    _BITMAPHANDLE* operator->() { return &h; }
    _BITMAPHANDLE* get() { return &h; }
};

inline int create(Bmp& b, int w, int h, int bits, std::uint32_t flags = 0x201,
                  int view = RK_TOP_LEFT)
{
    return RkCreateBitmap(b.get(), BITMAPHANDLE_SIZE, flags, w, h, bits, RK_ORDER_BGR, nullptr,
                          view);
}

// Pixel x of a raw line: packed depths most significant bits first, others little-endian bytes.
inline std::uint64_t refGet(const std::uint8_t* line, int x, int bits)
{
    if (bits < 8) {
        std::uint64_t bit = std::uint64_t(x) * bits;
        return (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
    }
    std::uint64_t v = 0;
    for (int i = 0; i < bits / 8; ++i)
        v |= std::uint64_t(line[std::size_t(x) * (bits / 8) + i]) << (8 * i);
    return v;
}

inline void refSet(std::uint8_t* line, int x, int bits, std::uint64_t v)
{
    if (bits < 8) {
        std::uint64_t bit = std::uint64_t(x) * bits;
        unsigned shift = unsigned(8 - bits - bit % 8), mask = ((1u << bits) - 1) << shift;
        line[bit / 8] = std::uint8_t((line[bit / 8] & ~mask) | ((v << shift) & mask));
        return;
    }
    for (int i = 0; i < bits / 8; ++i)
        line[std::size_t(x) * (bits / 8) + i] = std::uint8_t(v >> (8 * i));
}

inline std::uint64_t patternValue(int x, int y, int bits, unsigned seed = 1)
{
    std::uint64_t v = (std::uint64_t(x) * 2654435761u) ^ (std::uint64_t(y) * 40503u + seed);
    v ^= v >> 13;
    v *= 0x9E3779B97F4A7C15ull;
    return bits >= 64 ? v : (v >> 7) & ((std::uint64_t(1) << bits) - 1);
}

// The bitmap's pixels as a matrix [row][column] of raw values, read through whole-row gets.
inline std::vector<std::vector<std::uint64_t>> pixels(_BITMAPHANDLE* b)
{
    std::vector<std::vector<std::uint64_t>> out(std::size_t(b->Height));
    std::vector<std::uint8_t> line(std::size_t(b->BytesPerLine));
    for (int y = 0; y < b->Height; ++y) {
        EXPECT_EQ(RkGetBitmapRow(b, line.data(), y, line.size()), std::int64_t(line.size()));
        for (int x = 0; x < b->Width; ++x)
            out[std::size_t(y)].push_back(refGet(line.data(), x, b->BitsPerPixel));
    }
    return out;
}

// Writes patternValue into every pixel (padding stays 0).
inline void fillPattern(_BITMAPHANDLE* b, unsigned seed = 1)
{
    std::vector<std::uint8_t> line(std::size_t(b->BytesPerLine));
    for (int y = 0; y < b->Height; ++y) {
        std::fill(line.begin(), line.end(), 0);
        for (int x = 0; x < b->Width; ++x)
            refSet(line.data(), x, b->BitsPerPixel, patternValue(x, y, b->BitsPerPixel, seed));
        ASSERT_EQ(RkPutBitmapRow(b, line.data(), y, line.size()), std::int64_t(line.size()));
    }
}

} // namespace rktest
