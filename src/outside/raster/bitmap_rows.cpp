// bitmap_rows.cpp - row, pixel and palette access.
//
//   RkGetBitmapRow, RkGetBitmapRowCol, RkPutBitmapRow, RkPutBitmapRowCol
//   RkGetPixelColor, RkPutPixelColor
//   RkGetBitmapColors, RkPutBitmapColors, RkNearestPaletteIndex
//
// Row calls copy straight between the caller's buffer and the storage and allocate nothing:
// a partial row that starts inside a byte of a packed depth is shifted in the caller's buffer
// (get) or merged through a small stack buffer (put).
#include "raster/raster_internal.h"

#include <algorithm>
#include <cstring>

using namespace rk;

namespace {

// Checks a row transfer and gives the first byte of the row touched and the bit shift of
// pixel `column` within it.
int checkRowRequest(const Bitmap& bm, const void* buffer, int row, int column, std::uint64_t bytes,
                    std::uint64_t& start, unsigned& shift)
{
    const Geometry& g = bm.geo;
    if (!buffer || row < 0 || row >= g.height || column < 0 || column >= g.width || bytes == 0)
        return RK_ERROR_INV_PARAMETER;
    std::uint64_t firstBit = std::uint64_t(column) * unsigned(g.bits);
    start = firstBit / 8;
    shift = unsigned(firstBit % 8);
    if (bytes > g.stride || start + bytes > g.stride)
        return RK_ERROR_INV_PARAMETER;
    return RK_SUCCESS;
}

// A checked row transfer: the bitmap, the storage offset of the row, the first byte of the row
// touched and the bit shift of pixel `column` within that byte.
struct RowSpan {
    Bitmap* bm = nullptr;
    std::uint64_t rowOffset = 0;
    std::uint64_t start = 0;
    unsigned shift = 0;
};

int resolveRowRequest(const _BITMAPHANDLE* bitmap, const void* buffer, int row, int column,
                      std::uint64_t bytes, RowSpan& span)
{
    if (int rc = resolve(bitmap, &span.bm); rc <= 0)
        return rc;
    if (int rc = checkRowRequest(*span.bm, buffer, row, column, bytes, span.start, span.shift);
        rc <= 0)
        return rc;
    span.rowOffset = std::uint64_t(row) * span.bm->geo.stride;
    return RK_SUCCESS;
}

std::int64_t getRow(const _BITMAPHANDLE* bitmap, void* buffer, int row, int column,
                    std::uint64_t bytes)
{
    RowSpan span;
    if (int rc = resolveRowRequest(bitmap, buffer, row, column, bytes, span); rc <= 0)
        return rc;
    Bitmap* bm = span.bm;
    const std::uint64_t rowOffset = span.rowOffset, start = span.start;
    const unsigned shift = span.shift;
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (int rc = bm->pixels->read(rowOffset + start, out, std::size_t(bytes)); rc <= 0)
        return rc;
    if (shift != 0) {
        std::uint8_t next = 0; // the byte after the copied ones supplies the last low bits
        if (start + bytes < bm->geo.stride) {
            if (int rc = bm->pixels->read(rowOffset + start + bytes, &next, 1); rc <= 0)
                return rc;
        }
        for (std::uint64_t i = 0; i < bytes; ++i) {
            std::uint8_t following = i + 1 < bytes ? out[i + 1] : next;
            out[i] = std::uint8_t((out[i] << shift) | (following >> (8 - shift)));
        }
    }
    return std::int64_t(bytes);
}

std::int64_t putRow(_BITMAPHANDLE* bitmap, const void* buffer, int row, int column,
                    std::uint64_t bytes)
{
    RowSpan span;
    if (int rc = resolveRowRequest(bitmap, buffer, row, column, bytes, span); rc <= 0)
        return rc;
    Bitmap* bm = span.bm;
    const std::uint64_t rowOffset = span.rowOffset, start = span.start;
    const unsigned shift = span.shift;
    if (shift == 0) {
        if (int rc = bm->pixels->write(rowOffset + start, buffer, std::size_t(bytes)); rc <= 0)
            return rc;
        return std::int64_t(bytes);
    }
    // Bits land from bit `shift` of byte `start`; the ones that would run past the stored line
    // are dropped.
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::uint64_t firstBit = start * 8 + shift;
    std::uint64_t total = std::min(bytes * 8, std::uint64_t(bm->geo.stride) * 8 - firstBit);
    constexpr std::uint64_t kChunkBits = 4096 * 8 - 8;
    std::uint8_t scratch[4096];
    for (std::uint64_t done = 0; done < total; done += kChunkBits) {
        std::uint64_t n = std::min(kChunkBits, total - done);
        std::uint64_t bit = firstBit + done;
        std::uint64_t b0 = bit / 8, b1 = (bit + n + 7) / 8;
        std::size_t len = std::size_t(b1 - b0);
        if (int rc = bm->pixels->read(rowOffset + b0, scratch, len); rc <= 0)
            return rc;
        copyBits(scratch, bit % 8, in, done, n);
        if (int rc = bm->pixels->write(rowOffset + b0, scratch, len); rc <= 0)
            return rc;
    }
    return std::int64_t(bytes);
}

// The bytes that hold pixel (row, column): offset in the storage, count, and the pixel's
// index within them for getRaw/setRaw.
void pixelSpan(const Geometry& g, int row, int column, std::uint64_t& offset, std::size_t& n,
               int& local)
{
    std::uint64_t rowOffset = std::uint64_t(row) * g.stride;
    if (g.bits < 8) {
        std::uint64_t bit = std::uint64_t(column) * unsigned(g.bits);
        offset = rowOffset + bit / 8;
        n = 1;
        local = int((bit % 8) / unsigned(g.bits));
    } else {
        n = std::size_t(g.bits / 8);
        offset = rowOffset + std::uint64_t(column) * n;
        local = 0;
    }
}

} // namespace

std::int64_t RkGetBitmapRow(const _BITMAPHANDLE* bitmap, void* buffer, int row, std::uint64_t bytes)
{
    return getRow(bitmap, buffer, row, 0, bytes);
}

std::int64_t RkGetBitmapRowCol(const _BITMAPHANDLE* bitmap, void* buffer, int row, int column,
                               std::uint64_t bytes)
{
    return getRow(bitmap, buffer, row, column, bytes);
}

std::int64_t RkPutBitmapRow(_BITMAPHANDLE* bitmap, const void* buffer, int row, std::uint64_t bytes)
{
    return putRow(bitmap, buffer, row, 0, bytes);
}

std::int64_t RkPutBitmapRowCol(_BITMAPHANDLE* bitmap, const void* buffer, int row, int column,
                               std::uint64_t bytes)
{
    return putRow(bitmap, buffer, row, column, bytes);
}

COLORREF RkGetPixelColor(const _BITMAPHANDLE* bitmap, int row, int column)
{
    Bitmap* bm = nullptr;
    if (resolve(bitmap, &bm) <= 0)
        return 0;
    const Geometry& g = bm->geo;
    if (row < 0 || row >= g.height || column < 0 || column >= g.width)
        return 0;
    std::uint64_t offset;
    std::size_t n;
    int local;
    pixelSpan(g, row, column, offset, n, local);
    std::uint8_t bytes[8] = {};
    if (bm->pixels->read(offset, bytes, n) <= 0)
        return 0;
    return rawToColour(getRaw(bytes, local, g.bits), *bm);
}

int RkPutPixelColor(_BITMAPHANDLE* bitmap, int row, int column, COLORREF colour)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    if (row < 0 || row >= g.height || column < 0 || column >= g.width)
        return RK_ERROR_INV_PARAMETER;
    std::uint64_t offset;
    std::size_t n;
    int local;
    pixelSpan(g, row, column, offset, n, local);
    std::uint8_t bytes[8] = {};
    if (int rc = bm->pixels->read(offset, bytes, n); rc <= 0)
        return rc;
    std::uint64_t raw = colourToRaw(colour, g.bits, bm->order, bm->pal(), bm->palCount());
    if (g.bits == 32) // the fourth byte is not part of the colour
        raw |= std::uint64_t(bytes[3]) << 24;
    setRaw(bytes, local, g.bits, raw);
    return bm->pixels->write(offset, bytes, n);
}

int RkGetBitmapColors(const _BITMAPHANDLE* bitmap, int first, int count, tagRGBQUAD* out)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (!out || first < 0 || count < 1 || std::int64_t(first) + count > bm->palCount())
        return RK_ERROR_INV_PARAMETER;
    std::memcpy(out, bm->palette.data() + first, std::size_t(count) * sizeof(tagRGBQUAD));
    return RK_SUCCESS;
}

int RkPutBitmapColors(_BITMAPHANDLE* bitmap, int first, int count, const tagRGBQUAD* in)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (!in || first < 0 || count < 1 || std::int64_t(first) + count > bm->palCount())
        return RK_ERROR_INV_PARAMETER;
    std::memmove(bm->palette.data() + first, in, std::size_t(count) * sizeof(tagRGBQUAD));
    return RK_SUCCESS;
}

int RkNearestPaletteIndex(const _BITMAPHANDLE* bitmap, COLORREF colour)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (bm->palette.empty())
        return RK_ERROR_BITSPERPIXEL;
    return nearestIndex(bm->pal(), bm->palCount(), colour);
}
