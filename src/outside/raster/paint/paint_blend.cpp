// paint_blend.cpp - RkBlendBitmapMasked: a bitmap composed over another through an 8-bit
// opacity bitmap, row by row in picture coordinates.
#include "raster/paint/paint.h"
#include "raster/raster_internal.h"

#include <algorithm>
#include <array>

namespace {

int storedRow(const _BITMAPHANDLE* record, const rk::Bitmap& bm, int pictureRow)
{
    return record->ViewPerspective == RK_TOP_LEFT ? pictureRow : bm.geo.height - 1 - pictureRow;
}

std::uint8_t mixChannel(unsigned s, unsigned d, unsigned m)
{
    return std::uint8_t((s * m + d * (255 - m) + 127) / 255);
}

} // namespace

int RkBlendBitmapMasked(_BITMAPHANDLE* dst, int dx, int dy, int width, int height,
                        const _BITMAPHANDLE* src, int sx, int sy, const _BITMAPHANDLE* mask, int mx,
                        int my)
{
    rk::Bitmap *d = nullptr, *s = nullptr, *m = nullptr;
    if (int rc = rk::resolve(dst, &d); rc <= 0)
        return rc;
    if (int rc = rk::resolve(src, &s); rc <= 0)
        return rc;
    if (int rc = rk::resolve(mask, &m); rc <= 0)
        return rc;
    if (width < 0 || height < 0)
        return RK_ERROR_INV_PARAMETER;
    if (m->geo.bits != 8)
        return RK_ERROR_BITSPERPIXEL;

    // Clip the block to dst and src (64-bit: the corners may be anywhere).
    std::int64_t x0 = 0, y0 = 0, x1 = width, y1 = height;
    x0 = std::max({x0, -std::int64_t(dx), -std::int64_t(sx)});
    y0 = std::max({y0, -std::int64_t(dy), -std::int64_t(sy)});
    x1 = std::min({x1, std::int64_t(d->geo.width) - dx, std::int64_t(s->geo.width) - sx});
    y1 = std::min({y1, std::int64_t(d->geo.height) - dy, std::int64_t(s->geo.height) - sy});
    if (x1 <= x0 || y1 <= y0)
        return RK_SUCCESS;

    std::array<std::uint8_t, 256> level{};
    for (int i = 0; i < 256; ++i) {
        const COLORREF c = rk::rawToColour(std::uint64_t(i), *m);
        level[std::size_t(i)] = std::uint8_t(
            (299 * GetRValue(c) + 587 * GetGValue(c) + 114 * GetBValue(c) + 500) / 1000);
    }
    rk::Buffer dRow, sRow, mRow;
    if (!rk::allocate(dRow, d->geo.stride) || !rk::allocate(sRow, s->geo.stride) ||
        !rk::allocate(mRow, m->geo.stride))
        return RK_ERROR_NO_MEMORY;
    rk::NearestCache nearest(d->pal(), d->palCount());
    rk::Progress progress;
    for (std::int64_t y = y0; y < y1; ++y) {
        const int dr = storedRow(dst, *d, int(dy + y));
        if (int rc = d->readRow(dr, dRow.data()); rc <= 0)
            return rc;
        if (int rc = s->readRow(storedRow(src, *s, int(sy + y)), sRow.data()); rc <= 0)
            return rc;
        const std::int64_t maskRow = my + y;
        const bool maskHere = maskRow >= 0 && maskRow < m->geo.height;
        if (maskHere) {
            if (int rc = m->readRow(storedRow(mask, *m, int(maskRow)), mRow.data()); rc <= 0)
                return rc;
        }
        for (std::int64_t x = x0; x < x1; ++x) {
            const COLORREF sc =
                rk::rawToColour(rk::getRaw(sRow.data(), int(sx + x), s->geo.bits), *s);
            const std::int64_t maskCol = mx + x;
            unsigned a = 255;
            if (maskHere && maskCol >= 0 && maskCol < m->geo.width)
                a = level[mRow[std::size_t(maskCol)]];
            const int px = int(dx + x);
            const std::uint64_t old = rk::getRaw(dRow.data(), px, d->geo.bits);
            COLORREF out = sc;
            if (a != 255) {
                const COLORREF dc = rk::rawToColour(old, *d);
                out = RGB(mixChannel(GetRValue(sc), GetRValue(dc), a),
                          mixChannel(GetGValue(sc), GetGValue(dc), a),
                          mixChannel(GetBValue(sc), GetBValue(dc), a));
            }
            std::uint64_t raw;
            if (d->geo.bits <= 8)
                raw = std::uint64_t(nearest.index(out));
            else
                raw = rk::colourToRaw(out, d->geo.bits, d->order, nullptr, 0);
            if (d->geo.bits == 32)
                raw = (old & 0xFF000000u) | (raw & 0x00FFFFFFu);
            rk::setRaw(dRow.data(), px, d->geo.bits, raw);
        }
        if (int rc = d->writeRow(dr, dRow.data()); rc <= 0)
            return rc;
        if (!progress.step(std::uint64_t(y - y0 + 1), std::uint64_t(y1 - y0)))
            return RK_ERROR_CANCELLED;
    }
    return RK_SUCCESS;
}
