// pixels.h - packed pixel access and palette mapping shared by the bitmap kernel and the
// device-context bitmaps.
//
// Rows hold pixels most significant bit first at 1, 2 and 4 bits; whole-byte depths hold each
// pixel's bytes in little-endian order. Palettes are arrays of 4-byte entries in the Windows
// colour-table layout: blue, green, red, reserved.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

// The raw value of pixel x of row at bits (1, 2, 4, or a multiple of 8 up to 64).
inline std::uint64_t ReadPixel(const std::uint8_t* row, std::int64_t x, int bits)
{
    const std::size_t ux = std::size_t(x);
    switch (bits) {
    case 1:
        return (row[ux >> 3] >> (7 - (ux & 7))) & 1u;
    case 2:
        return (row[ux >> 2] >> (6 - 2 * (ux & 3))) & 3u;
    case 4:
        return (row[ux >> 1] >> ((ux & 1) ? 0 : 4)) & 15u;
    default: {
        const std::size_t n = std::size_t(bits) / 8;
        const std::uint8_t* p = row + ux * n;
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= std::uint64_t(p[i]) << (8 * i);
        return v;
    }
    }
}

// Stores value (its low bits) as pixel x of row at bits; the neighbours are kept.
inline void WritePixel(std::uint8_t* row, std::int64_t x, int bits, std::uint64_t value)
{
    const std::size_t ux = std::size_t(x);
    switch (bits) {
    case 1: {
        const unsigned shift = 7 - unsigned(ux & 7);
        row[ux >> 3] = std::uint8_t((row[ux >> 3] & ~(1u << shift)) | ((value & 1u) << shift));
        return;
    }
    case 2: {
        const unsigned shift = 6 - 2 * unsigned(ux & 3);
        row[ux >> 2] = std::uint8_t((row[ux >> 2] & ~(3u << shift)) | ((value & 3u) << shift));
        return;
    }
    case 4: {
        const unsigned shift = (ux & 1) ? 0 : 4;
        row[ux >> 1] = std::uint8_t((row[ux >> 1] & ~(15u << shift)) | ((value & 15u) << shift));
        return;
    }
    default: {
        const std::size_t n = std::size_t(bits) / 8;
        std::uint8_t* p = row + ux * n;
        for (std::size_t i = 0; i < n; ++i)
            p[i] = std::uint8_t(value >> (8 * i));
        return;
    }
    }
}

// Index of the palette entry nearest to (red, green, blue): smallest squared distance, lowest
// index on ties. entries points at count 4-byte entries (blue, green, red, reserved); 0 for an
// empty or null palette.
int NearestPaletteIndex(const void* entries, int count, int red, int green, int blue);

} // namespace core
