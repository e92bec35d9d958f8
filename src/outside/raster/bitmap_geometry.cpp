// bitmap_geometry.cpp - operations that move pixels around.
//
//   RkFlipBitmap, RkReverseBitmap       in place; a cancelled run is undone
//   RkRotateBitmapQuarters              180 in place; 90 and 270 into new storage, in bands
//   RkCropBitmap, RkCopyBitmapRect      rectangle extraction into new storage
//   RkCombineCopy                       block copy between bitmaps of one depth, clipped
//
// Every operation goes through rows (read, change, write) so that disk-backed bitmaps are
// handled by the same code with bounded memory.
#include "raster/raster_internal.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace rk;

namespace {

// Mirrors the first width pixels of row; scratch holds at least a stored line.
void mirrorRow(std::uint8_t* row, std::uint8_t* scratch, int width, int bits)
{
    if (bits >= 8) {
        std::size_t n = std::size_t(bits) / 8;
        std::uint8_t t[8];
        for (std::size_t i = 0, j = std::size_t(width) - 1; i < j; ++i, --j) {
            std::memcpy(t, row + i * n, n);
            std::memcpy(row + i * n, row + j * n, n);
            std::memcpy(row + j * n, t, n);
        }
        return;
    }
    std::size_t used = std::size_t(lineBytes(width, bits));
    std::memcpy(scratch, row, used);
    for (int x = 0; x < width; ++x)
        setRaw(row, width - 1 - x, bits, getRaw(scratch, x, bits));
}

int flipRows(Bitmap& bm, int upTo, Buffer& a, Buffer& b, Progress* progress)
{
    int h = bm.geo.height;
    for (int y = 0; y < upTo; ++y) {
        if (progress && !progress->step(std::uint64_t(y), std::uint64_t(upTo)))
            return y;
        if (bm.readRow(y, a.data()) <= 0 || bm.readRow(h - 1 - y, b.data()) <= 0 ||
            bm.writeRow(y, b.data()) <= 0 || bm.writeRow(h - 1 - y, a.data()) <= 0)
            return -1 - y;
    }
    return upTo;
}

// Mirrors rows [0, upTo) (and, with pairs, swaps row y with row h - 1 - y as well: a half
// turn). Returns the number of rows done, or -1 - y when row y failed to be read or written.
int mirrorRows(Bitmap& bm, int upTo, bool pairs, Buffer& a, Buffer& b, Buffer& scratch,
               Progress* progress)
{
    const Geometry& g = bm.geo;
    for (int y = 0; y < upTo; ++y) {
        if (progress && !progress->step(std::uint64_t(y), std::uint64_t(upTo)))
            return y;
        int other = g.height - 1 - y;
        if (bm.readRow(y, a.data()) <= 0)
            return -1 - y;
        mirrorRow(a.data(), scratch.data(), g.width, g.bits);
        if (pairs && other != y) {
            if (bm.readRow(other, b.data()) <= 0)
                return -1 - y;
            mirrorRow(b.data(), scratch.data(), g.width, g.bits);
            if (bm.writeRow(y, b.data()) <= 0 || bm.writeRow(other, a.data()) <= 0)
                return -1 - y;
        } else if (bm.writeRow(y, a.data()) <= 0) {
            return -1 - y;
        }
    }
    return upTo;
}

// Runs an in-place involution over rows; when the callback stops it, even at its last report,
// the rows already done are done again (without reporting), which restores the bitmap.
template <typename Run> int runUndoable(int rows, Run run)
{
    Progress progress;
    int done = run(rows, &progress);
    if (done < 0)
        return RK_ERROR_IO;
    if (done < rows || !progress.finish()) {
        run(done, nullptr);
        return RK_ERROR_CANCELLED;
    }
    return RK_SUCCESS;
}

int rowBuffers(const Geometry& g, Buffer& a, Buffer& b, Buffer& c)
{
    if (!allocate(a, g.stride) || !allocate(b, g.stride) || !allocate(c, g.stride))
        return RK_ERROR_NO_MEMORY;
    return RK_SUCCESS;
}

int halfTurn(Bitmap& bm)
{
    Buffer a, b, s;
    if (int rc = rowBuffers(bm.geo, a, b, s); rc <= 0)
        return rc;
    return runUndoable((bm.geo.height + 1) / 2, [&](int upTo, Progress* p) {
        return mirrorRows(bm, upTo, true, a, b, s, p);
    });
}

// Moves whole pixels of N bytes from source rows [y0, y1) into destination rows: rows[i] is
// source row y0 + i from its column base on, band holds destination rows from d0 on. Only
// source columns [c0, c1) are read. Tiles of 64 x 64 pixels keep both sides of the transpose in the
// first-level cache.
template <std::size_t N>
void turnRows(const std::uint8_t* const* rows, int base, int y0, int y1, int c0, int c1,
              bool clockwise, const Geometry& s, std::uint8_t* band, std::uint64_t stride, int d0)
{
    constexpr int kTile = 64;
    for (int ty = y0; ty < y1; ty += kTile) {
        const int ty1 = std::min(y1, ty + kTile);
        for (int tx = c0; tx < c1; tx += kTile) {
            const int tx1 = std::min(c1, tx + kTile);
            for (int xs = tx; xs < tx1; ++xs) {
                // clockwise: dst(x, y) = src(y, h - 1 - x); anticlockwise: dst(x, y) =
                // src(w - 1 - y, x)
                const int yd = clockwise ? xs : s.width - 1 - xs;
                std::uint8_t* row = band + std::uint64_t(yd - d0) * stride;
                const std::size_t from = std::size_t(xs - base) * N;
                if (clockwise) {
                    std::uint8_t* o = row + std::size_t(s.height - 1 - ty) * N;
                    for (int ys = ty; ys < ty1; ++ys, o -= N)
                        std::memcpy(o, rows[ys - y0] + from, N);
                } else {
                    std::uint8_t* o = row + std::size_t(ty) * N;
                    for (int ys = ty; ys < ty1; ++ys, o += N)
                        std::memcpy(o, rows[ys - y0] + from, N);
                }
            }
        }
    }
}

void turnRowsAnyWidth(const std::uint8_t* const* rows, int base, int y0, int y1, int c0, int c1,
                      bool clockwise, const Geometry& s, std::uint8_t* band, std::uint64_t stride,
                      int d0)
{
    switch (s.bits) {
    case 8:
        return turnRows<1>(rows, base, y0, y1, c0, c1, clockwise, s, band, stride, d0);
    case 16:
        return turnRows<2>(rows, base, y0, y1, c0, c1, clockwise, s, band, stride, d0);
    case 24:
        return turnRows<3>(rows, base, y0, y1, c0, c1, clockwise, s, band, stride, d0);
    case 32:
        return turnRows<4>(rows, base, y0, y1, c0, c1, clockwise, s, band, stride, d0);
    default:
        return turnRows<6>(rows, base, y0, y1, c0, c1, clockwise, s, band, stride, d0);
    }
}

// Quarter turn clockwise (clockwise = true) or anticlockwise in stored coordinates, into a
// new bitmap built a band of destination rows at a time. Whole-byte depths move blocks of
// source rows at once (straight from a memory source, else through a buffer of at most about
// 4 MiB); packed depths go pixel by pixel.
int quarterTurn(const Bitmap& src, bool clockwise, std::unique_ptr<Bitmap>& out)
{
    const Geometry& s = src.geo;
    Geometry g;
    if (int rc = makeGeometry(s.height, s.width, s.bits, g); rc <= 0)
        return rc;
    std::unique_ptr<Bitmap> dst;
    if (int rc = newBitmap(src.disk(), g, src.order, src.pal(), dst); rc <= 0)
        return rc;
    Buffer band, line;
    std::uint8_t* bandBytes = dst->pixels->block();
    int rowsPerBand = g.height;
    if (!bandBytes) {
        constexpr std::uint64_t kBandBytes = 8u << 20;
        rowsPerBand = int(std::clamp<std::uint64_t>(kBandBytes / g.stride, 1, g.height));
        if (!allocate(band, std::uint64_t(rowsPerBand) * g.stride))
            return RK_ERROR_NO_MEMORY;
        bandBytes = band.data();
    }
    const bool whole = s.bits >= 8;
    const std::uint8_t* srcBlock = src.pixels->block();
    // Source rows per block, and their span of bytes when they go through a buffer.
    constexpr int kBlockRows = 64;
    const std::uint64_t widest =
        (std::uint64_t(std::min(rowsPerBand, s.width)) * unsigned(s.bits) + 7) / 8 + 1;
    const int blockRows =
        !whole ? 1
        : srcBlock
            ? kBlockRows
            : int(std::clamp<std::uint64_t>((std::uint64_t(4) << 20) / widest, 1, kBlockRows));
    if (!allocate(line, whole && !srcBlock ? std::uint64_t(blockRows) * widest : s.stride))
        return RK_ERROR_NO_MEMORY;
    const std::uint8_t* rows[kBlockRows];
    Progress progress;
    std::uint64_t bands = (std::uint64_t(g.height) + rowsPerBand - 1) / rowsPerBand;
    for (int d0 = 0; d0 < g.height; d0 += rowsPerBand) {
        int d1 = std::min(g.height, d0 + rowsPerBand);
        // Destination rows [d0, d1) are source columns [c0, c1).
        int c0 = clockwise ? d0 : s.width - d1;
        int c1 = clockwise ? d1 : s.width - d0;
        std::uint64_t b0 = std::uint64_t(c0) * unsigned(s.bits) / 8;
        std::uint64_t b1 = (std::uint64_t(c1) * unsigned(s.bits) + 7) / 8;
        for (int y0 = 0; y0 < s.height; y0 += blockRows) {
            const int y1 = std::min(s.height, y0 + blockRows);
            for (int ys = y0; ys < y1; ++ys) {
                std::uint64_t step = std::uint64_t(d0 / rowsPerBand) * s.height + ys;
                if (!progress.step(step, bands * std::uint64_t(s.height)))
                    return RK_ERROR_CANCELLED;
                if (srcBlock && whole) {
                    rows[ys - y0] = srcBlock + std::uint64_t(ys) * s.stride;
                    continue;
                }
                std::uint8_t* at =
                    whole ? line.data() + std::uint64_t(ys - y0) * widest : line.data() + b0;
                if (int rc = src.pixels->read(std::uint64_t(ys) * s.stride + b0, at,
                                              std::size_t(b1 - b0));
                    rc <= 0)
                    return rc;
                rows[ys - y0] = at;
            }
            if (whole) {
                turnRowsAnyWidth(rows, srcBlock ? 0 : c0, y0, y1, c0, c1, clockwise, s, bandBytes,
                                 g.stride, d0);
                continue;
            }
            const int ys = y0;
            int xd = clockwise ? s.height - 1 - ys : ys;
            for (int xs = c0; xs < c1; ++xs) {
                int yd = clockwise ? xs : s.width - 1 - xs;
                std::uint8_t* row = bandBytes + std::size_t(yd - d0) * g.stride;
                setRaw(row, xd, g.bits, getRaw(line.data(), xs, s.bits));
            }
        }
        if (!band.empty()) {
            std::uint64_t n = std::uint64_t(d1 - d0) * g.stride;
            if (int rc =
                    dst->pixels->write(std::uint64_t(d0) * g.stride, bandBytes, std::size_t(n));
                rc <= 0)
                return rc;
            std::memset(bandBytes, 0, std::size_t(n));
        }
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    out = std::move(dst);
    return RK_SUCCESS;
}

// A new bitmap (same storage kind, depth, order and palette) holding the rectangle.
int extract(const Bitmap& src, int x, int y, int width, int height, std::unique_ptr<Bitmap>& out)
{
    const Geometry& s = src.geo;
    if (x < 0 || y < 0 || width < 1 || height < 1 || std::int64_t(x) + width > s.width ||
        std::int64_t(y) + height > s.height)
        return RK_ERROR_INV_PARAMETER;
    Geometry g;
    if (int rc = makeGeometry(width, height, s.bits, g); rc <= 0)
        return rc;
    std::unique_ptr<Bitmap> dst;
    if (int rc = newBitmap(src.disk(), g, src.order, src.pal(), dst); rc <= 0)
        return rc;
    Buffer in, row;
    if (!allocate(in, s.stride) || !allocate(row, g.stride))
        return RK_ERROR_NO_MEMORY;
    Progress progress;
    for (int i = 0; i < height; ++i) {
        if (!progress.step(std::uint64_t(i), std::uint64_t(height)))
            return RK_ERROR_CANCELLED;
        if (int rc = src.readRow(y + i, in.data()); rc <= 0)
            return rc;
        copyPixels(row.data(), 0, in.data(), x, width, s.bits);
        if (int rc = dst->writeRow(i, row.data()); rc <= 0)
            return rc;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    out = std::move(dst);
    return RK_SUCCESS;
}

// Clips a copy of `length` from `from` (source) to `to` (destination) against both extents.
void clip(std::int64_t& to, std::int64_t& from, std::int64_t& length, std::int64_t toExtent,
          std::int64_t fromExtent)
{
    if (from < 0) {
        to -= from;
        length += from;
        from = 0;
    }
    if (to < 0) {
        from -= to;
        length += to;
        to = 0;
    }
    length = std::min({length, fromExtent - from, toExtent - to});
}

} // namespace

int RkFlipBitmap(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    Buffer a, b, s;
    if (int rc = rowBuffers(bm->geo, a, b, s); rc <= 0)
        return rc;
    return runUndoable(bm->geo.height / 2,
                       [&](int upTo, Progress* p) { return flipRows(*bm, upTo, a, b, p); });
}

int RkReverseBitmap(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    Buffer a, b, s;
    if (int rc = rowBuffers(bm->geo, a, b, s); rc <= 0)
        return rc;
    return runUndoable(bm->geo.height, [&](int upTo, Progress* p) {
        return mirrorRows(*bm, upTo, false, a, b, s, p);
    });
}

int RkRotateBitmapQuarters(_BITMAPHANDLE* bitmap, int quarters)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (quarters < 1 || quarters > 3)
        return RK_ERROR_INV_PARAMETER;
    if (quarters == 2)
        return halfTurn(*bm);
    // Clockwise as the picture is seen: storage mirrored on one axis (perspectives 2 and 4)
    // turns the other way.
    bool clockwise = quarters == 1;
    if (bitmap->ViewPerspective == 2 || bitmap->ViewPerspective == 4)
        clockwise = !clockwise;
    std::unique_ptr<Bitmap> turned;
    if (int rc = quarterTurn(*bm, clockwise, turned); rc <= 0)
        return rc;
    std::swap(bitmap->XResolution, bitmap->YResolution);
    replace(bitmap, std::move(turned));
    return RK_SUCCESS;
}

int RkCropBitmap(_BITMAPHANDLE* bitmap, int x, int y, int width, int height)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    std::unique_ptr<Bitmap> part;
    if (int rc = extract(*bm, x, y, width, height, part); rc <= 0)
        return rc;
    replace(bitmap, std::move(part));
    return RK_SUCCESS;
}

int RkCopyBitmapRect(_BITMAPHANDLE* dst, std::uint32_t dstSize, const _BITMAPHANDLE* src,
                     std::uint32_t srcSize, int x, int y, int width, int height)
{
    if (!dst || !src)
        return RK_ERROR_INV_PARAMETER;
    if (dstSize != BITMAPHANDLE_SIZE || srcSize != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    Bitmap* bm = nullptr;
    if (int rc = resolve(src, &bm); rc <= 0)
        return rc;
    std::unique_ptr<Bitmap> part;
    if (int rc = extract(*bm, x, y, width, height, part); rc <= 0)
        return rc;
    _BITMAPHANDLE fresh;
    RkInitBitmap(&fresh, BITMAPHANDLE_SIZE, width, height, bm->geo.bits);
    fresh.MemoryFlags = src->MemoryFlags;
    fresh.ViewPerspective = src->ViewPerspective;
    fresh.XResolution = src->XResolution;
    fresh.YResolution = src->YResolution;
    attach(&fresh, std::move(part));
    if (dst->uStructSize == BITMAPHANDLE_SIZE)
        detach(dst);
    std::memcpy(dst, &fresh, sizeof fresh);
    return RK_SUCCESS;
}

int RkCombineCopy(_BITMAPHANDLE* dst, int dx, int dy, const _BITMAPHANDLE* src, int sx, int sy,
                  int width, int height)
{
    Bitmap *to = nullptr, *from = nullptr;
    if (int rc = resolve(dst, &to); rc <= 0)
        return rc;
    if (int rc = resolve(src, &from); rc <= 0)
        return rc;
    if (to->geo.bits != from->geo.bits)
        return RK_ERROR_BITSPERPIXEL;
    if (width < 0 || height < 0)
        return RK_ERROR_INV_PARAMETER;
    std::int64_t x0 = dx, y0 = dy, x1 = sx, y1 = sy, w = width, h = height;
    clip(x0, x1, w, to->geo.width, from->geo.width);
    clip(y0, y1, h, to->geo.height, from->geo.height);
    if (w <= 0 || h <= 0)
        return RK_SUCCESS; // nothing overlaps
    Buffer in, out;
    if (!allocate(in, from->geo.stride) || !allocate(out, to->geo.stride))
        return RK_ERROR_NO_MEMORY;
    // Within one bitmap, copy downwards from the bottom so that rows are read before written.
    bool upwards = to == from && y0 > y1;
    Progress progress;
    for (std::int64_t i = 0; i < h; ++i) {
        if (!progress.step(std::uint64_t(i), std::uint64_t(h)))
            return RK_ERROR_CANCELLED;
        std::int64_t k = upwards ? h - 1 - i : i;
        if (int rc = from->readRow(int(y1 + k), in.data()); rc <= 0)
            return rc;
        if (int rc = to->readRow(int(y0 + k), out.data()); rc <= 0)
            return rc;
        copyPixels(out.data(), int(x0), in.data(), int(x1), int(w), to->geo.bits);
        if (int rc = to->writeRow(int(y0 + k), out.data()); rc <= 0)
            return rc;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}
