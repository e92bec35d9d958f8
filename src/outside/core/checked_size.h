// checked_size.h - the line-size rule and byte counts in checked 64-bit arithmetic.
//
// Every width, height and depth that comes from outside (a file, a caller, a device) goes
// through these helpers before it is used to allocate or index. They never overflow: a count
// that does not fit is reported as std::nullopt.
//
// The line-size rule: 1 bit per pixel takes ceil(w / 8) bytes, 2 bits ceil(w / 4), 4 bits
// ceil(w / 2), any other depth d floor(w * d / 8); with an alignment a != 0 the size is rounded
// up to the next multiple of a (bitmap and DIB rows use 4).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace core {

// Largest depth any image of the library uses (48-bit colour, 64-bit for future layouts).
constexpr std::int64_t kMaxBitsPerPixel = 64;

// Bytes of one line of `width` pixels at `bitsPerPixel`, rounded up to `alignment` (0: none).
// Negative width, a depth outside 1..kMaxBitsPerPixel or a negative alignment give nullopt.
constexpr std::optional<std::uint64_t>
CheckedLineSize(std::int64_t width, std::int64_t bitsPerPixel, std::int64_t alignment = 0)
{
    if (width < 0 || bitsPerPixel < 1 || bitsPerPixel > kMaxBitsPerPixel || alignment < 0)
        return std::nullopt;
    // width < 2^63 and bitsPerPixel <= 64: width * bitsPerPixel may overflow, so divide first.
    const std::uint64_t w = static_cast<std::uint64_t>(width);
    std::uint64_t bytes;
    switch (bitsPerPixel) {
    case 1:
        bytes = w / 8 + (w % 8 != 0);
        break;
    case 2:
        bytes = w / 4 + (w % 4 != 0);
        break;
    case 4:
        bytes = w / 2 + (w % 2 != 0);
        break;
    default: {
        const std::uint64_t d = static_cast<std::uint64_t>(bitsPerPixel);
        // floor(w * d / 8) = (w / 8) * d + floor((w % 8) * d / 8), both terms exact.
        const std::uint64_t whole = w / 8;
        if (whole > std::numeric_limits<std::uint64_t>::max() / d)
            return std::nullopt;
        bytes = whole * d + ((w % 8) * d) / 8;
        break;
    }
    }
    if (alignment > 1) {
        const std::uint64_t a = static_cast<std::uint64_t>(alignment);
        const std::uint64_t rest = bytes % a;
        if (rest != 0) {
            if (bytes > std::numeric_limits<std::uint64_t>::max() - (a - rest))
                return std::nullopt;
            bytes += a - rest;
        }
    }
    return bytes;
}

// a * b, or nullopt when the product does not fit 64 bits.
constexpr std::optional<std::uint64_t> CheckedMul(std::uint64_t a, std::uint64_t b)
{
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
        return std::nullopt;
    return a * b;
}

// a + b, or nullopt when the sum does not fit 64 bits.
constexpr std::optional<std::uint64_t> CheckedAdd(std::uint64_t a, std::uint64_t b)
{
    if (b > std::numeric_limits<std::uint64_t>::max() - a)
        return std::nullopt;
    return a + b;
}

// Bytes of a whole image: the aligned line size times the height. Negative height: nullopt.
constexpr std::optional<std::uint64_t> CheckedImageSize(std::int64_t width, std::int64_t height,
                                                        std::int64_t bitsPerPixel,
                                                        std::int64_t alignment = 4)
{
    if (height < 0)
        return std::nullopt;
    const auto line = CheckedLineSize(width, bitsPerPixel, alignment);
    if (!line)
        return std::nullopt;
    return CheckedMul(*line, static_cast<std::uint64_t>(height));
}

// True when `bytes` can be allocated and indexed in this address space (fits size_t and
// ptrdiff_t) and is not above `limit`.
constexpr bool FitsAllocation(std::uint64_t bytes,
                              std::uint64_t limit = std::numeric_limits<std::int64_t>::max())
{
    return bytes <= limit &&
           bytes <= static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) &&
           bytes <= std::numeric_limits<std::size_t>::max();
}

} // namespace core
