// masks.cpp - TDib::ExtreureMascaraColor: 1-bit masks of the pixels close to a colour.
//
//   Matcher          one row's pixels -> 1 (match) or 0 bytes, for every depth
//   whole image      rows matched and packed straight into the mask
//   seed point       scan-line fill of the 4-connected matching region over bit rows
//
// The region fill works on rows of 64-bit words (one bit per pixel, the lowest bit first): the
// matching pixels and the filled ones. It marks whole runs of a row at once, finds run ends
// and the runs of the neighbouring rows a word at a time, and keeps only run starts on its
// stack, so it is linear in the pixels and needs two bits per pixel besides the mask; any fill
// order gives the same region and the same bounds as a pixel-by-pixel breadth-first fill.
#include <array>
#include <bit>
#include <climits>
#include <cmath>
#include <core/checked_size.h>
#include <cstdint>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <memory>
#include <new>
#include <raster/kernel.h>
#include <vector>

using dib::TDibAccess;

namespace {

constexpr std::uint8_t kNoMatch = 0;
constexpr std::uint8_t kMatch = 1;

int ChannelTolerance(double tolerance)
{
    if (std::isnan(tolerance) || tolerance < 0.0)
        tolerance = 0.0;
    if (tolerance > 1.0)
        tolerance = 1.0;
    return static_cast<int>(std::round(tolerance * 255.0));
}

// Decides matches row by row for one image.
class Matcher {
public:
    Matcher(const _BITMAPHANDLE& bitmap, unsigned long colour, int tolerance)
        : bitmap_(bitmap), tolerance_(tolerance)
    {
        reference_[0] = int(colour & 0xFF); // red
        reference_[1] = int((colour >> 8) & 0xFF);
        reference_[2] = int((colour >> 16) & 0xFF);
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v)
                near_[std::size_t(c)][std::size_t(v)] =
                    std::abs(v - reference_[c]) <= tolerance_ ? kMatch : kNoMatch;
        if (bitmap.BitsPerPixel <= 8) {
            std::array<tagRGBQUAD, 256> palette{};
            const int count = std::min(bitmap.ColorCount, 256);
            if (count > 0)
                RkGetBitmapColors(&bitmap, 0, count, palette.data());
            for (int i = 0; i < count; ++i)
                byIndex_[std::size_t(i)] =
                    Matches(palette[std::size_t(i)].rgbRed, palette[std::size_t(i)].rgbGreen,
                            palette[std::size_t(i)].rgbBlue);
        }
    }

    bool Matches(int red, int green, int blue) const
    {
        return std::abs(red - reference_[0]) <= tolerance_ &&
               std::abs(green - reference_[1]) <= tolerance_ &&
               std::abs(blue - reference_[2]) <= tolerance_;
    }

    // out[x] = kMatch or kNoMatch for the width pixels of a stored row (row: its number, for
    // the depths read through the kernel's pixel colour).
    void MatchRow(const std::uint8_t* line, int row, std::uint8_t* out) const
    {
        const int width = bitmap_.Width;
        const std::size_t w = std::size_t(width);
        const bool rgb = bitmap_.Order == RK_ORDER_RGB;
        const int r = rgb ? 0 : 2, b = rgb ? 2 : 0;
        switch (bitmap_.BitsPerPixel) {
        case 1:
        case 2:
        case 4:
        case 8: {
            const int bits = bitmap_.BitsPerPixel;
            const int perByte = 8 / bits;
            const int mask = (1 << bits) - 1;
            for (std::size_t x = 0; x < w; ++x) {
                const int shift = 8 - bits * (int(x % std::size_t(perByte)) + 1);
                const int index = (line[x / std::size_t(perByte)] >> shift) & mask;
                out[x] = byIndex_[std::size_t(index)] ? kMatch : kNoMatch;
            }
            break;
        }
        case 24:
            MatchSamples<3>(line, w, r, 1, b, out);
            break;
        case 32:
            MatchSamples<4>(line, w, r, 1, b, out);
            break;
        case 48: // the high byte of each 16-bit sample
            MatchSamples<6>(line, w, 2 * r + 1, 3, 2 * b + 1, out);
            break;
        default: // 16 bits: the kernel's 5-5-5 expansion
            for (int x = 0; x < width; ++x) {
                const COLORREF c = RkGetPixelColor(&bitmap_, row, x);
                out[x] = Matches(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF))
                             ? kMatch
                             : kNoMatch;
            }
            break;
        }
    }

private:
    // Pixels of N bytes whose red, green and blue are the bytes at offsets r, g and b.
    template <std::size_t N>
    void MatchSamples(const std::uint8_t* line, std::size_t w, int r, int g, int b,
                      std::uint8_t* out) const
    {
        const std::uint8_t* red = near_[0].data();
        const std::uint8_t* green = near_[1].data();
        const std::uint8_t* blue = near_[2].data();
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* p = line + x * N;
            out[x] = red[p[r]] & green[p[g]] & blue[p[b]];
        }
    }

    const _BITMAPHANDLE& bitmap_;
    int tolerance_;
    int reference_[3];
    std::array<bool, 256> byIndex_{};
    // near_[c][v]: kMatch when value v of channel c (red, green, blue) is within tolerance.
    std::array<std::array<std::uint8_t, 256>, 3> near_{};
};

// A new top-left 1-bit image of width x height (black, white), or null.
std::unique_ptr<TDib> NewMask(int width, int height)
{
    std::unique_ptr<TDib> mask(new (std::nothrow) TDib);
    if (!mask)
        return nullptr;
    const tagRGBQUAD blackWhite[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    if (mask->Crear(width, height, 1, blackWhite) != DIB_OK)
        return nullptr;
    return mask;
}

// The eight 0 / 1 bytes at states as the bits of one byte, the first byte in the highest bit
// (msbFirst) or in the lowest.
inline std::uint8_t PackEight(const std::uint8_t* states, bool msbFirst)
{
    std::uint64_t v;
    std::memcpy(&v, states, 8);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    // Each product term lands on its own bit: byte i goes to bit 63 - i (or 56 + i).
    return std::uint8_t((v * (msbFirst ? 0x8040201008040201ull : 0x0102040810204080ull)) >> 56);
}

// Packs a row of width 0 / 1 states into mask bits, most significant bit first; bytes past the
// row are cleared.
void PackRow(const std::uint8_t* states, int width, std::uint8_t* bits, std::size_t bytes)
{
    std::memset(bits, 0, bytes);
    const std::size_t w = std::size_t(width), whole = w / 8;
    for (std::size_t i = 0; i < whole; ++i)
        bits[i] = PackEight(states + i * 8, true);
    for (std::size_t x = whole * 8; x < w; ++x)
        if (states[x])
            bits[x / 8] |= std::uint8_t(0x80u >> (x % 8));
}

// One bit per pixel in 64-bit words, pixel x at bit x % 64 of word x / 64; bits past the row
// are 0.
class BitRows {
public:
    bool Init(int width, int height)
    {
        words_ = (std::size_t(width) + 63) / 64;
        return core::FitsAllocation(std::uint64_t(words_) * std::uint64_t(height) * 8) &&
               Resize(std::uint64_t(words_) * std::uint64_t(height));
    }
    std::uint64_t* Row(int y) { return bits_.data() + std::size_t(y) * words_; }
    std::size_t Words() const { return words_; }

    // Packs a row of width 0 / 1 states.
    void Set(int y, const std::uint8_t* states, int width)
    {
        std::uint64_t* row = Row(y);
        const std::size_t w = std::size_t(width);
        for (std::size_t i = 0; i < words_; ++i) {
            std::uint64_t word = 0;
            const std::size_t x0 = i * 64;
            if (x0 + 64 <= w) {
                for (std::size_t k = 0; k < 8; ++k)
                    word |= std::uint64_t(PackEight(states + x0 + k * 8, false)) << (8 * k);
            } else {
                for (std::size_t x = x0; x < w; ++x)
                    word |= std::uint64_t(states[x] & 1) << (x - x0);
            }
            row[i] = word;
        }
    }

private:
    bool Resize(std::uint64_t n)
    {
        try {
            bits_.assign(std::size_t(n), 0);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    std::size_t words_ = 0;
    std::vector<std::uint64_t> bits_;
};

// kReversed[v]: the bits of v in the opposite order.
constexpr std::array<std::uint8_t, 256> kReversed = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b)
            r |= ((v >> b) & 1u) << (7 - b);
        t[v] = std::uint8_t(r);
    }
    return t;
}();

// Bits [l, r] (l <= r) of a word row set.
void SetRange(std::uint64_t* row, int l, int r)
{
    const std::size_t first = std::size_t(l) / 64, last = std::size_t(r) / 64;
    const std::uint64_t head = ~std::uint64_t(0) << (l % 64);
    const std::uint64_t tail = ~std::uint64_t(0) >> (63 - r % 64);
    if (first == last) {
        row[first] |= head & tail;
        return;
    }
    row[first] |= head;
    for (std::size_t i = first + 1; i < last; ++i)
        row[i] = ~std::uint64_t(0);
    row[last] |= tail;
}

template <typename T> bool Resize(std::vector<T>& v, std::uint64_t n)
{
    if (!core::FitsAllocation(n * sizeof(T)))
        return false;
    try {
        v.resize(std::size_t(n));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

TDib* TDib::ExtreureMascaraColor(unsigned long colour, double tolerance) const
{
    if (!(m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return nullptr;
    const int width = m_bitmap.Width, height = m_bitmap.Height;
    std::unique_ptr<TDib> mask = NewMask(width, height);
    if (!mask)
        return nullptr;
    _BITMAPHANDLE& out = TDibAccess::Bitmap(*mask);
    std::vector<std::uint8_t> line, states, bits;
    if (!Resize(line, std::uint64_t(m_bitmap.BytesPerLine)) ||
        !Resize(states, std::uint64_t(width)) || !Resize(bits, std::uint64_t(out.BytesPerLine)))
        return nullptr;
    const Matcher matcher(m_bitmap, colour, ChannelTolerance(tolerance));
    for (int y = 0; y < height; ++y) {
        const int stored = TDibAccess::StoredRow(m_bitmap, y);
        if (RkGetBitmapRow(&m_bitmap, line.data(), stored, line.size()) <= 0)
            return nullptr;
        matcher.MatchRow(line.data(), stored, states.data());
        PackRow(states.data(), width, bits.data(), bits.size());
        if (RkPutBitmapRow(&out, bits.data(), y, bits.size()) <= 0)
            return nullptr;
    }
    return mask.release();
}

TDib* TDib::ExtreureMascaraColor(unsigned long colour, CPoint seed, double tolerance,
                                 CRect* bounds) const
{
    if (!(m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return nullptr;
    const int width = m_bitmap.Width, height = m_bitmap.Height;
    std::unique_ptr<TDib> mask = NewMask(width, height);
    if (!mask)
        return nullptr;
    int left = INT_MAX, top = INT_MAX, right = -INT_MAX, bottom = -INT_MAX;
    if (seed.x >= 0 && seed.x < width && seed.y >= 0 && seed.y < height) {
        BitRows matching, filled;
        std::vector<std::uint8_t> line, states, bits;
        if (!matching.Init(width, height) || !filled.Init(width, height) ||
            !Resize(line, std::uint64_t(m_bitmap.BytesPerLine)) ||
            !Resize(states, std::uint64_t(width)))
            return nullptr;
        const Matcher matcher(m_bitmap, colour, ChannelTolerance(tolerance));
        for (int y = 0; y < height; ++y) {
            const int stored = TDibAccess::StoredRow(m_bitmap, y);
            if (RkGetBitmapRow(&m_bitmap, line.data(), stored, line.size()) <= 0)
                return nullptr;
            matcher.MatchRow(line.data(), stored, states.data());
            matching.Set(y, states.data(), width);
        }
        const std::size_t words = matching.Words();
        struct Run {
            int x, y;
        };
        std::vector<Run> stack;
        try {
            stack.push_back({int(seed.x), int(seed.y)});
            while (!stack.empty()) {
                const Run at = stack.back();
                stack.pop_back();
                const std::uint64_t* match = matching.Row(at.y);
                std::uint64_t* done = filled.Row(at.y);
                const std::size_t k = std::size_t(at.x) / 64;
                const std::uint64_t bit = std::uint64_t(1) << (at.x % 64);
                if (!(match[k] & bit) || (done[k] & bit))
                    continue;
                // The run of matching pixels around at.x: the first non-matching pixel after
                // it and the last one before it. Bits past the row never match.
                std::size_t i = k;
                std::uint64_t gap = ~match[i] & ~(bit - 1);
                while (!gap && ++i < words)
                    gap = ~match[i];
                const int r = gap ? int(i * 64) + std::countr_zero(gap) - 1 : width - 1;
                i = k;
                gap = ~match[i] & (bit | (bit - 1));
                while (!gap && i > 0)
                    gap = ~match[--i];
                const int l = gap ? int(i * 64) + 64 - std::countl_zero(gap) : 0;
                SetRange(done, l, r);
                left = std::min(left, l);
                right = std::max(right, r);
                top = std::min(top, at.y);
                bottom = std::max(bottom, at.y);
                // Every run of unfilled matching pixels of the rows above and below that
                // touches [l, r], by its first pixel within [l, r].
                const std::size_t first = std::size_t(l) / 64, last = std::size_t(r) / 64;
                for (const int ny : {at.y - 1, at.y + 1}) {
                    if (ny < 0 || ny >= height)
                        continue;
                    const std::uint64_t* nm = matching.Row(ny);
                    const std::uint64_t* nd = filled.Row(ny);
                    std::uint64_t carry = 0;
                    for (std::size_t w = first; w <= last; ++w) {
                        std::uint64_t open = nm[w] & ~nd[w];
                        if (w == first)
                            open &= ~std::uint64_t(0) << (l % 64);
                        if (w == last)
                            open &= ~std::uint64_t(0) >> (63 - r % 64);
                        std::uint64_t starts = open & ~((open << 1) | carry);
                        carry = open >> 63;
                        while (starts) {
                            stack.push_back({int(w * 64) + std::countr_zero(starts), ny});
                            starts &= starts - 1;
                        }
                    }
                }
            }
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        _BITMAPHANDLE& out = TDibAccess::Bitmap(*mask);
        if (!Resize(bits, std::uint64_t(out.BytesPerLine)))
            return nullptr;
        for (int y = top; y <= bottom; ++y) {
            // Words hold the first pixel in their lowest bit, mask bytes in their highest.
            const std::uint64_t* row = filled.Row(y);
            std::memset(bits.data(), 0, bits.size());
            const std::size_t bytes = (std::size_t(width) + 7) / 8;
            for (std::size_t b = 0; b < bytes; ++b) {
                const auto v = std::uint8_t(row[b / 8] >> (8 * (b % 8)));
                bits[b] = kReversed[v];
            }
            if (RkPutBitmapRow(&out, bits.data(), y, bits.size()) <= 0)
                return nullptr;
        }
    }
    if (bounds) {
        bounds->left = left;
        bounds->top = top;
        bounds->right = right;
        bounds->bottom = bottom;
    }
    return mask.release();
}
