// bitmap_colour.cpp - operations on pixel values.
//
//   RkFillBitmap, RkClearBitmap, RkInvertBitmap
//   RkSetBitmapAlphaValues, RkGetBitmapAlpha
//   RkIsGrayScaleBitmap, RkGetColorCount
//   RkColorResBitmap
#include "raster/raster_internal.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace rk;

namespace {

// Reads rows [0, upTo), lets change() edit each one, writes it back. Returns the rows done, or
// -1 on a storage failure (reported as RK_ERROR_IO).
template <typename Change>
int rewriteRows(Bitmap& bm, int upTo, Buffer& row, Progress* progress, Change change)
{
    for (int y = 0; y < upTo; ++y) {
        if (progress && !progress->step(std::uint64_t(y), std::uint64_t(upTo)))
            return y;
        if (bm.readRow(y, row.data()) <= 0)
            return -1;
        change(row.data());
        if (bm.writeRow(y, row.data()) <= 0)
            return -1;
    }
    return upTo;
}

// Calls visit(row) for every stored row; visit returns false to stop early (not an error).
template <typename Visit> int visitRows(const Bitmap& bm, Visit visit)
{
    Buffer row;
    if (!allocate(row, bm.geo.stride))
        return RK_ERROR_NO_MEMORY;
    Progress progress;
    for (int y = 0; y < bm.geo.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(bm.geo.height)))
            return RK_ERROR_CANCELLED;
        if (int rc = bm.readRow(y, row.data()); rc <= 0)
            return rc;
        if (!visit(row.data()))
            return RK_SUCCESS;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

void invertRow(std::uint8_t* row, const Geometry& g)
{
    switch (g.bits) {
    case 16:
        for (int x = 0; x < g.width; ++x)
            setRaw(row, x, 16, getRaw(row, x, 16) ^ 0x7FFF);
        break;
    case 32: // the fourth byte is not colour
        for (std::size_t x = 0; x < std::size_t(g.width); ++x)
            for (std::size_t k = 0; k < 3; ++k)
                row[4 * x + k] = std::uint8_t(~row[4 * x + k]);
        break;
    default: {
        std::size_t n = std::size_t(lineBytes(g.width, g.bits));
        for (std::size_t i = 0; i < n; ++i)
            row[i] = std::uint8_t(~row[i]);
        break;
    }
    }
}

bool isGrey(COLORREF c)
{
    return GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
}

} // namespace

int RkFillBitmap(_BITMAPHANDLE* bitmap, COLORREF colour)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    Buffer pattern, row;
    if (!allocate(pattern, g.stride) || !allocate(row, g.stride))
        return RK_ERROR_NO_MEMORY;
    std::uint64_t raw = colourToRaw(colour, g.bits, bm->order, bm->pal(), bm->palCount());
    for (int x = 0; x < g.width; ++x)
        setRaw(pattern.data(), x, g.bits, raw);
    Progress progress;
    for (int y = 0; y < g.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        if (g.bits == 32) { // keep each pixel's fourth byte
            if (int rc = bm->readRow(y, row.data()); rc <= 0)
                return rc;
            for (std::size_t x = 0; x < std::size_t(g.width); ++x)
                std::memcpy(row.data() + 4 * x, pattern.data() + 4 * x, 3);
            if (int rc = bm->writeRow(y, row.data()); rc <= 0)
                return rc;
        } else if (int rc = bm->writeRow(y, pattern.data()); rc <= 0) {
            return rc;
        }
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

int RkClearBitmap(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    std::uint64_t rowsPerSlice = std::max<std::uint64_t>(1, (4u << 20) / g.stride);
    Progress progress;
    for (std::uint64_t y = 0; y < std::uint64_t(g.height); y += rowsPerSlice) {
        if (!progress.step(y, std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        std::uint64_t rows = std::min<std::uint64_t>(rowsPerSlice, g.height - y);
        if (int rc = bm->pixels->fill(y * g.stride, 0, rows * g.stride); rc <= 0)
            return rc;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

int RkInvertBitmap(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (!bm->palette.empty()) {
        for (tagRGBQUAD& q : bm->palette) {
            q.rgbRed = BYTE(255 - q.rgbRed);
            q.rgbGreen = BYTE(255 - q.rgbGreen);
            q.rgbBlue = BYTE(255 - q.rgbBlue);
        }
        return RK_SUCCESS;
    }
    Buffer row;
    if (!allocate(row, bm->geo.stride))
        return RK_ERROR_NO_MEMORY;
    const Geometry& g = bm->geo;
    auto run = [&](int upTo, Progress* p) {
        return rewriteRows(*bm, upTo, row, p, [&](std::uint8_t* r) { invertRow(r, g); });
    };
    Progress progress;
    int done = run(g.height, &progress);
    if (done < 0)
        return RK_ERROR_IO;
    if (done < g.height || !progress.finish()) { // inverting again restores the rows done
        run(done, nullptr);
        return RK_ERROR_CANCELLED;
    }
    return RK_SUCCESS;
}

int RkSetBitmapAlphaValues(_BITMAPHANDLE* bitmap, int value)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (bm->geo.bits != 32)
        return RK_ERROR_BITSPERPIXEL;
    if (value < 0 || value > 255)
        return RK_ERROR_INV_PARAMETER;
    Buffer row;
    if (!allocate(row, bm->geo.stride))
        return RK_ERROR_NO_MEMORY;
    int width = bm->geo.width;
    Progress progress;
    int done = rewriteRows(*bm, bm->geo.height, row, &progress, [&](std::uint8_t* r) {
        for (std::size_t x = 0; x < std::size_t(width); ++x)
            r[4 * x + 3] = std::uint8_t(value);
    });
    if (done < 0)
        return RK_ERROR_IO;
    if (done < bm->geo.height || !progress.finish())
        return RK_ERROR_CANCELLED;
    return RK_SUCCESS;
}

int RkGetBitmapAlpha(const _BITMAPHANDLE* bitmap, _BITMAPHANDLE* alpha, std::uint32_t alphaSize)
{
    if (!alpha)
        return RK_ERROR_INV_PARAMETER;
    if (alphaSize != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (bm->geo.bits != 32)
        return RK_ERROR_BITSPERPIXEL;
    Geometry g;
    if (int rc = makeGeometry(bm->geo.width, bm->geo.height, 8, g); rc <= 0)
        return rc;
    std::vector<tagRGBQUAD> grey(256);
    for (int i = 0; i < 256; ++i)
        grey[std::size_t(i)] = tagRGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    std::unique_ptr<Bitmap> plane;
    if (int rc = newBitmap(bm->disk(), g, RK_ORDER_BGR, grey.data(), plane); rc <= 0)
        return rc;
    Buffer out;
    if (!allocate(out, g.stride))
        return RK_ERROR_NO_MEMORY;
    int y = 0, written = RK_SUCCESS;
    int rc = visitRows(*bm, [&](const std::uint8_t* row) {
        for (std::size_t x = 0; x < std::size_t(g.width); ++x)
            out[x] = row[4 * x + 3];
        written = plane->writeRow(y++, out.data());
        return written > 0;
    });
    if (rc <= 0)
        return rc;
    if (written <= 0)
        return written;
    _BITMAPHANDLE fresh;
    RkInitBitmap(&fresh, BITMAPHANDLE_SIZE, g.width, g.height, 8);
    fresh.MemoryFlags = bitmap->MemoryFlags;
    fresh.ViewPerspective = bitmap->ViewPerspective;
    fresh.XResolution = bitmap->XResolution;
    fresh.YResolution = bitmap->YResolution;
    attach(&fresh, std::move(plane));
    if (alpha->uStructSize == BITMAPHANDLE_SIZE)
        detach(alpha);
    std::memcpy(alpha, &fresh, sizeof fresh);
    return RK_SUCCESS;
}

int RkIsGrayScaleBitmap(const _BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    bool grey = true;
    int rc;
    if (!bm->palette.empty()) {
        // Only the entries that pixels use count.
        std::vector<bool> greyEntry(bm->palette.size());
        bool allGrey = true;
        for (std::size_t i = 0; i < bm->palette.size(); ++i) {
            greyEntry[i] = isGrey(paletteColour(bm->palette[i]));
            allGrey = allGrey && greyEntry[i];
        }
        if (allGrey)
            return 1;
        rc = visitRows(*bm, [&](const std::uint8_t* row) {
            for (int x = 0; x < g.width && grey; ++x)
                grey = greyEntry[std::size_t(getRaw(row, x, g.bits))];
            return grey;
        });
    } else {
        rc = visitRows(*bm, [&](const std::uint8_t* row) {
            for (int x = 0; x < g.width && grey; ++x)
                grey = isGrey(rawToColour(getRaw(row, x, g.bits), *bm));
            return grey;
        });
    }
    if (rc <= 0)
        return rc;
    return grey ? 1 : 0;
}

int RkGetColorCount(const _BITMAPHANDLE* bitmap, std::uint32_t* count)
{
    if (count)
        *count = 0;
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (!count)
        return RK_ERROR_INV_PARAMETER;
    std::vector<std::uint64_t> seen;
    try {
        seen.assign((std::size_t(1) << 24) / 64, 0); // one bit per 24-bit colour
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    const Geometry& g = bm->geo;
    std::uint32_t n = 0;
    auto mark = [&](COLORREF c) {
        std::uint64_t bit = std::uint64_t(1) << (c & 63);
        if (!(seen[c >> 6] & bit)) {
            seen[c >> 6] |= bit;
            ++n;
        }
    };
    int rc;
    if (!bm->palette.empty()) {
        std::vector<bool> used(bm->palette.size());
        rc = visitRows(*bm, [&](const std::uint8_t* row) {
            for (int x = 0; x < g.width; ++x)
                used[std::size_t(getRaw(row, x, g.bits))] = true;
            return true;
        });
        for (std::size_t i = 0; i < used.size(); ++i)
            if (used[i])
                mark(paletteColour(bm->palette[i]));
    } else {
        rc = visitRows(*bm, [&](const std::uint8_t* row) {
            for (int x = 0; x < g.width; ++x)
                mark(rawToColour(getRaw(row, x, g.bits), *bm) & 0xFFFFFF);
            return true;
        });
    }
    if (rc <= 0)
        return rc;
    *count = n;
    return RK_SUCCESS;
}

int RkColorResBitmap(_BITMAPHANDLE* bitmap, int bitsPerPixel, const tagRGBQUAD* palette)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (!validDepth(bitsPerPixel))
        return RK_ERROR_BITSPERPIXEL;
    const Geometry& s = bm->geo;
    if (bitsPerPixel == s.bits && (bitsPerPixel > 8 || !palette))
        return RK_SUCCESS;
    Geometry g;
    if (int rc = makeGeometry(s.width, s.height, bitsPerPixel, g); rc <= 0)
        return rc;
    std::unique_ptr<Bitmap> fresh;
    if (int rc = newBitmap(bm->disk(), g, bm->order, palette, fresh); rc <= 0)
        return rc;
    const tagRGBQUAD* toPal = fresh->pal();
    int toCount = fresh->palCount();
    NearestCache nearest(toPal, toCount);
    auto convert = [&](COLORREF c) -> std::uint64_t {
        if (toCount > 0)
            return std::uint64_t(nearest.index(c));
        return colourToRaw(c, g.bits, fresh->order, nullptr, 0);
    };
    // From a palette depth every pixel value is known in advance.
    std::vector<std::uint64_t> table;
    for (const tagRGBQUAD& q : bm->palette)
        table.push_back(convert(paletteColour(q)));
    Buffer out;
    if (!allocate(out, g.stride))
        return RK_ERROR_NO_MEMORY;
    int y = 0, written = RK_SUCCESS;
    int rc = visitRows(*bm, [&](const std::uint8_t* row) {
        for (int x = 0; x < s.width; ++x) {
            std::uint64_t raw = getRaw(row, x, s.bits);
            setRaw(out.data(), x, g.bits,
                   table.empty() ? convert(rawToColour(raw, *bm)) : table[std::size_t(raw)]);
        }
        written = fresh->writeRow(y++, out.data());
        return written > 0;
    });
    if (rc <= 0)
        return rc;
    if (written <= 0)
        return written;
    replace(bitmap, std::move(fresh));
    return RK_SUCCESS;
}
