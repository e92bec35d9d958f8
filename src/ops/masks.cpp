// masks.cpp - TDib::ExtreureMascaraColor: 1-bit masks of the pixels close to a colour.
//
//   MatchRow         one row's pixels -> 1 (match) or 0, for every depth
//   whole image      rows matched and packed straight into the mask
//   seed point       scan-line fill of the 4-connected matching region over a byte map
//
// The region fill marks whole runs of a row at once and keeps only run starts on its stack, so
// it is linear in the pixels and needs one byte per pixel besides the mask; any fill order
// gives the same region and the same bounds as a pixel-by-pixel breadth-first fill.
#include <array>
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
constexpr std::uint8_t kFilled = 2;

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
        case 32: {
            const std::size_t step = std::size_t(bitmap_.BitsPerPixel / 8);
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint8_t* p = line + x * step;
                out[x] = Matches(p[r], p[1], p[b]) ? kMatch : kNoMatch;
            }
            break;
        }
        case 48: // the high byte of each 16-bit sample
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint8_t* p = line + x * 6;
                out[x] = Matches(p[2 * r + 1], p[3], p[2 * b + 1]) ? kMatch : kNoMatch;
            }
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
    const _BITMAPHANDLE& bitmap_;
    int tolerance_;
    int reference_[3];
    std::array<bool, 256> byIndex_{};
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

// Packs one row of states into mask bits (1 where state == set), most significant bit first.
void PackRow(const std::uint8_t* states, int width, std::uint8_t set, std::uint8_t* bits,
             std::size_t bytes)
{
    std::memset(bits, 0, bytes);
    for (std::size_t x = 0; x < std::size_t(width); ++x)
        if (states[x] == set)
            bits[x / 8] |= std::uint8_t(0x80u >> (x % 8));
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
        PackRow(states.data(), width, kMatch, bits.data(), bits.size());
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
        const std::size_t w = std::size_t(width);
        std::vector<std::uint8_t> map, line, bits;
        if (!Resize(map, std::uint64_t(width) * std::uint64_t(height)) ||
            !Resize(line, std::uint64_t(m_bitmap.BytesPerLine)))
            return nullptr;
        const Matcher matcher(m_bitmap, colour, ChannelTolerance(tolerance));
        for (int y = 0; y < height; ++y) {
            const int stored = TDibAccess::StoredRow(m_bitmap, y);
            if (RkGetBitmapRow(&m_bitmap, line.data(), stored, line.size()) <= 0)
                return nullptr;
            matcher.MatchRow(line.data(), stored, map.data() + std::size_t(y) * w);
        }
        struct Run {
            int x, y;
        };
        std::vector<Run> stack;
        try {
            stack.push_back({int(seed.x), int(seed.y)});
            while (!stack.empty()) {
                const Run at = stack.back();
                stack.pop_back();
                std::uint8_t* row = map.data() + std::size_t(at.y) * w;
                if (row[at.x] != kMatch)
                    continue;
                int l = at.x, r = at.x;
                while (l > 0 && row[l - 1] == kMatch)
                    --l;
                while (r + 1 < width && row[r + 1] == kMatch)
                    ++r;
                std::memset(row + l, kFilled, std::size_t(r - l + 1));
                left = std::min(left, l);
                right = std::max(right, r);
                top = std::min(top, at.y);
                bottom = std::max(bottom, at.y);
                for (const int ny : {at.y - 1, at.y + 1}) {
                    if (ny < 0 || ny >= height)
                        continue;
                    const std::uint8_t* next = map.data() + std::size_t(ny) * w;
                    for (int x = l; x <= r; ++x)
                        if (next[x] == kMatch && (x == l || next[x - 1] != kMatch))
                            stack.push_back({x, ny});
                }
            }
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        _BITMAPHANDLE& out = TDibAccess::Bitmap(*mask);
        if (!Resize(bits, std::uint64_t(out.BytesPerLine)))
            return nullptr;
        for (int y = top; y <= bottom; ++y) {
            PackRow(map.data() + std::size_t(y) * w, width, kFilled, bits.data(), bits.size());
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
