// convert_internal.h - conversion of pixel rows between depths, colour orders and palettes,
// shared by the loads (a codec's native rows to the caller's depth) and the saves (a bitmap's
// rows to a depth the codec writes).
#pragma once

#include "../../win/windef.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace rkfmt {

struct PixelLayout {
    int bits = 0;                    // 1, 2, 4, 8, 16 (5-5-5), 24, 32, 48
    int order = 1;                   // RK_ORDER_* of 24/32/48-bit pixels
    std::vector<tagRGBQUAD> palette; // palette depths: up to 2^bits entries
};

// Converts rows of `width` pixels from one layout to another.
//
// Palette of the result (1 to 8 bits): the source's when the source has a palette that fits
// (indices are kept), else a grey ramp for a grey source (a palette whose entries are all
// grey), else the kernel's default palette of that depth with every colour mapped to the
// nearest entry. 16 bits are 5-5-5; 48 bits repeat each 8-bit sample in both bytes, and 48-bit
// sources give their high bytes. A 32-bit result keeps a 32-bit source's fourth byte and gets 0
// from any other source.
class RowConverter {
public:
    RowConverter();
    ~RowConverter();
    RowConverter(const RowConverter&) = delete;
    RowConverter& operator=(const RowConverter&) = delete;

    // RK_SUCCESS, RK_ERROR_BITSPERPIXEL for a depth outside the list, RK_ERROR_NO_MEMORY.
    int Init(int width, const PixelLayout& source, int bits, int order);
    // The result's palette: 2^bits entries at palette depths, else empty.
    const std::vector<tagRGBQUAD>& palette() const { return palette_; }
    // Converts one row; dst receives the line's bytes (the bits of a last partial byte that
    // lie past the last pixel are 0). src and dst do not overlap.
    void Convert(const std::uint8_t* src, std::uint8_t* dst);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<tagRGBQUAD> palette_;
};

// True when every entry of the palette is grey (red = green = blue).
bool IsGreyPalette(const std::vector<tagRGBQUAD>& palette);
// n entries from black to white.
std::vector<tagRGBQUAD> GreyRamp(int n);

} // namespace rkfmt
