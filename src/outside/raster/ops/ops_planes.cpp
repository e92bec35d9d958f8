// ops_planes.cpp - plane separation and merge, channel remapping.
//
//   RkSeparatePlanes     a bitmap -> 8-bit planes of one selector
//   RkMergePlanes        8-bit planes -> the colours of a bitmap
//   RkRemapBitmapValues  channel values through a table
//
// Rows travel as 8-bit blue-green-red triplets (ops_pixels_internal.h); the hue conversions are
// OpenCV's full-range ones, the table lookups cv::LUT.
#include "raster/ops/ops_compose.h"
#include "raster/ops/ops_pixels_internal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

using namespace rk;

namespace {

std::vector<tagRGBQUAD> greyPalette()
{
    std::vector<tagRGBQUAD> grey(256);
    for (int i = 0; i < 256; ++i)
        grey[std::size_t(i)] = tagRGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    return grey;
}

// n blue-green-red pixels -> the selector's planes (planes[p][i]).
void separate(int selector, std::uint8_t* bgr, int n, std::uint8_t* const* planes)
{
    const std::size_t un = std::size_t(n);
    if (selector == RK_PLANES_HSV || selector == RK_PLANES_HLS) {
        cv::Mat row(1, n, CV_8UC3, bgr);
        cv::cvtColor(row, row,
                     selector == RK_PLANES_HSV ? cv::COLOR_BGR2HSV_FULL : cv::COLOR_BGR2HLS_FULL);
        for (std::size_t i = 0; i < un; ++i)
            for (int p = 0; p < 3; ++p)
                planes[p][i] = bgr[3 * i + std::size_t(p)];
        return;
    }
    for (std::size_t i = 0; i < un; ++i) {
        const int b = bgr[3 * i], g = bgr[3 * i + 1], r = bgr[3 * i + 2];
        switch (selector) {
        case RK_PLANES_RGB:
            planes[0][i] = std::uint8_t(r);
            planes[1][i] = std::uint8_t(g);
            planes[2][i] = std::uint8_t(b);
            break;
        case RK_PLANES_CMYK: {
            const int m = std::max({r, g, b});
            planes[0][i] = std::uint8_t(m - r);
            planes[1][i] = std::uint8_t(m - g);
            planes[2][i] = std::uint8_t(m - b);
            planes[3][i] = std::uint8_t(255 - m);
            break;
        }
        default: // RK_PLANES_CMY
            planes[0][i] = std::uint8_t(255 - r);
            planes[1][i] = std::uint8_t(255 - g);
            planes[2][i] = std::uint8_t(255 - b);
            break;
        }
    }
}

// The planes' samples (planes[p][i]) -> n blue-green-red pixels.
void merge(int selector, const std::uint8_t* const* planes, int n, std::uint8_t* bgr)
{
    const std::size_t un = std::size_t(n);
    if (selector == RK_PLANES_HSV || selector == RK_PLANES_HLS) {
        for (std::size_t i = 0; i < un; ++i)
            for (int p = 0; p < 3; ++p)
                bgr[3 * i + std::size_t(p)] = planes[p][i];
        cv::Mat row(1, n, CV_8UC3, bgr);
        cv::cvtColor(row, row,
                     selector == RK_PLANES_HSV ? cv::COLOR_HSV2BGR_FULL : cv::COLOR_HLS2BGR_FULL);
        return;
    }
    for (std::size_t i = 0; i < un; ++i) {
        int r, g, b;
        switch (selector) {
        case RK_PLANES_RGB:
            r = planes[0][i];
            g = planes[1][i];
            b = planes[2][i];
            break;
        case RK_PLANES_CMYK: {
            const int k = planes[3][i];
            r = std::max(0, 255 - planes[0][i] - k);
            g = std::max(0, 255 - planes[1][i] - k);
            b = std::max(0, 255 - planes[2][i] - k);
            break;
        }
        default: // RK_PLANES_CMY
            r = 255 - planes[0][i];
            g = 255 - planes[1][i];
            b = 255 - planes[2][i];
            break;
        }
        bgr[3 * i] = std::uint8_t(b);
        bgr[3 * i + 1] = std::uint8_t(g);
        bgr[3 * i + 2] = std::uint8_t(r);
    }
}

// The sample of each index of an 8-bit plane: grey entries give their level, others their
// rounded Rec. 601 luma.
std::array<std::uint8_t, 256> planeSamples(const Bitmap& plane)
{
    std::array<std::uint8_t, 256> lut{};
    for (std::size_t i = 0; i < lut.size(); ++i) {
        if (i >= plane.palette.size()) {
            lut[i] = std::uint8_t(i);
            continue;
        }
        const tagRGBQUAD& q = plane.palette[i];
        lut[i] = std::uint8_t((299 * q.rgbRed + 587 * q.rgbGreen + 114 * q.rgbBlue + 500) / 1000);
    }
    return lut;
}

} // namespace

static int separatePlanesImpl(const _BITMAPHANDLE* src, _BITMAPHANDLE* planes,
                              std::uint32_t planeSize, int count, int selector)
{
    if (!planes)
        return RK_ERROR_INV_PARAMETER;
    if (planeSize != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    Bitmap* bm = nullptr;
    if (int rc = resolve(src, &bm); rc <= 0)
        return rc;
    if (RkPlaneCount(selector) == 0 || count != RkPlaneCount(selector))
        return RK_ERROR_INV_PARAMETER;
    const Geometry& s = bm->geo;
    Geometry g;
    if (int rc = makeGeometry(s.width, s.height, 8, g); rc <= 0)
        return rc;
    const std::vector<tagRGBQUAD> grey = greyPalette();
    std::vector<std::unique_ptr<Bitmap>> made(static_cast<std::size_t>(count));
    std::vector<Buffer> rows(static_cast<std::size_t>(count));
    std::uint8_t* rowPointers[4] = {};
    for (std::size_t p = 0; p < made.size(); ++p) {
        if (int rc = newBitmap(bm->disk(), g, RK_ORDER_BGR, grey.data(), made[p]); rc <= 0)
            return rc;
        if (!allocate(rows[p], g.stride))
            return RK_ERROR_NO_MEMORY;
        rowPointers[p] = rows[p].data();
    }
    Buffer in, bgr;
    if (!allocate(in, s.stride) || !allocate(bgr, std::uint64_t(s.width) * 3))
        return RK_ERROR_NO_MEMORY;
    const ops::RowReader reader(*bm);
    Progress progress;
    // The planes keep src's view perspective, so stored row y maps to stored row y.
    for (int y = 0; y < s.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(s.height)))
            return RK_ERROR_CANCELLED;
        if (int rc = bm->readRow(y, in.data()); rc <= 0)
            return rc;
        reader.read(in.data(), 0, s.width, bgr.data(), nullptr);
        separate(selector, bgr.data(), s.width, rowPointers);
        for (std::size_t p = 0; p < made.size(); ++p)
            if (int rc = made[p]->writeRow(y, rows[p].data()); rc <= 0)
                return rc;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    for (std::size_t p = 0; p < made.size(); ++p) {
        _BITMAPHANDLE fresh;
        RkInitBitmap(&fresh, BITMAPHANDLE_SIZE, g.width, g.height, 8);
        fresh.MemoryFlags = src->MemoryFlags;
        fresh.ViewPerspective = src->ViewPerspective;
        fresh.XResolution = src->XResolution;
        fresh.YResolution = src->YResolution;
        attach(&fresh, std::move(made[p]));
        if (planes[p].uStructSize == BITMAPHANDLE_SIZE)
            detach(&planes[p]);
        std::memcpy(&planes[p], &fresh, sizeof fresh);
    }
    return RK_SUCCESS;
}

static int mergePlanesImpl(_BITMAPHANDLE* dst, const _BITMAPHANDLE* const* planes, int count,
                           int selector)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(dst, &bm); rc <= 0)
        return rc;
    if (!planes || RkPlaneCount(selector) == 0 || count != RkPlaneCount(selector))
        return RK_ERROR_INV_PARAMETER;
    const Geometry& g = bm->geo;
    std::vector<Bitmap*> from(static_cast<std::size_t>(count), nullptr);
    std::vector<std::array<std::uint8_t, 256>> samples(static_cast<std::size_t>(count));
    for (std::size_t p = 0; p < from.size(); ++p) {
        if (int rc = resolve(planes[p], &from[p]); rc <= 0)
            return rc;
        if (from[p]->geo.bits != 8)
            return RK_ERROR_BITSPERPIXEL;
        if (from[p]->geo.width != g.width || from[p]->geo.height != g.height)
            return RK_ERROR_INV_PARAMETER;
        samples[p] = planeSamples(*from[p]);
    }
    // The result is built in a new bitmap so that a failure leaves dst as it was.
    std::unique_ptr<Bitmap> fresh;
    if (int rc = newBitmap(bm->disk(), g, bm->order, bm->pal(), fresh); rc <= 0)
        return rc;
    std::vector<Buffer> rows(from.size());
    const std::uint8_t* rowPointers[4] = {};
    for (std::size_t p = 0; p < from.size(); ++p) {
        if (!allocate(rows[p], from[p]->geo.stride))
            return RK_ERROR_NO_MEMORY;
        rowPointers[p] = rows[p].data();
    }
    Buffer out, bgr;
    if (!allocate(out, g.stride) || !allocate(bgr, std::uint64_t(g.width) * 3))
        return RK_ERROR_NO_MEMORY;
    ops::RowWriter writer(*fresh);
    Progress progress;
    for (int y = 0; y < g.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        const int row = ops::storedRow(dst, *bm, y);
        if (int rc = bm->readRow(row, out.data()); rc <= 0) // keeps the fourth bytes
            return rc;
        for (std::size_t p = 0; p < from.size(); ++p) {
            const int r = ops::storedRow(planes[p], *from[p], y);
            if (int rc = from[p]->readRow(r, rows[p].data()); rc <= 0)
                return rc;
            for (std::size_t x = 0; x < std::size_t(g.width); ++x)
                rows[p][x] = samples[p][rows[p][x]];
        }
        merge(selector, rowPointers, g.width, bgr.data());
        writer.write(out.data(), 0, g.width, bgr.data(), nullptr);
        if (int rc = fresh->writeRow(row, out.data()); rc <= 0)
            return rc;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    replace(dst, std::move(fresh));
    return RK_SUCCESS;
}

static int remapBitmapValuesImpl(_BITMAPHANDLE* bitmap, const int* table, std::uint32_t count,
                                 std::uint32_t channels)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (!table || (channels & RK_CHANNEL_MASK) == 0 || (channels & ~RK_CHANNEL_MASK) != 0)
        return RK_ERROR_INV_PARAMETER;
    const Geometry& g = bm->geo;
    const bool wide = g.bits == 48;
    if (count < (wide ? 65536u : 256u))
        return RK_ERROR_INV_PARAMETER;

    // Which stored byte (or 16-bit sample) holds which channel: blue first in BGR order.
    const bool bgrOrder = bm->order != RK_ORDER_RGB;
    const std::uint32_t first = bgrOrder ? RK_CHANNEL_BLUE : RK_CHANNEL_RED;
    const std::uint32_t third = bgrOrder ? RK_CHANNEL_RED : RK_CHANNEL_BLUE;
    const std::uint32_t sampleChannel[4] = {first, RK_CHANNEL_GREEN, third, RK_CHANNEL_ALPHA};

    std::array<std::uint8_t, 256> small{};
    for (int v = 0; v < 256; ++v)
        small[std::size_t(v)] = std::uint8_t(std::clamp(table[v], 0, 255));
    auto map8 = [&](std::uint32_t channel, std::uint8_t v) {
        return (channels & channel) ? small[v] : v;
    };

    if (g.bits <= 8) {
        std::vector<tagRGBQUAD> palette = bm->palette;
        for (tagRGBQUAD& q : palette) {
            q.rgbRed = map8(RK_CHANNEL_RED, q.rgbRed);
            q.rgbGreen = map8(RK_CHANNEL_GREEN, q.rgbGreen);
            q.rgbBlue = map8(RK_CHANNEL_BLUE, q.rgbBlue);
        }
        return RkPutBitmapColors(bitmap, 0, int(palette.size()), palette.data());
    }

    std::unique_ptr<Bitmap> fresh;
    if (int rc = newBitmap(bm->disk(), g, bm->order, nullptr, fresh); rc <= 0)
        return rc;
    Buffer row;
    if (!allocate(row, g.stride))
        return RK_ERROR_NO_MEMORY;
    std::vector<std::uint16_t> large;
    cv::Mat lut;
    if (wide) {
        try {
            large.resize(65536);
        } catch (const std::bad_alloc&) {
            return RK_ERROR_NO_MEMORY;
        }
        for (std::size_t v = 0; v < large.size(); ++v)
            large[v] = std::uint16_t(std::clamp(table[v], 0, 65535));
    } else if (g.bits == 24 || g.bits == 32) {
        const int planes = g.bits / 8;
        lut = cv::Mat(1, 256, CV_8UC(planes));
        for (int v = 0; v < 256; ++v)
            for (int c = 0; c < planes; ++c)
                lut.ptr<std::uint8_t>()[v * planes + c] = map8(sampleChannel[c], std::uint8_t(v));
    }
    Progress progress;
    for (int y = 0; y < g.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        if (int rc = bm->readRow(y, row.data()); rc <= 0)
            return rc;
        if (wide) {
            for (std::size_t x = 0; x < std::size_t(g.width); ++x)
                for (std::size_t c = 0; c < 3; ++c) {
                    if (!(channels & sampleChannel[c]))
                        continue;
                    std::uint8_t* p = row.data() + 6 * x + 2 * c;
                    const std::uint16_t v = large[std::size_t(p[0] | p[1] << 8)];
                    p[0] = std::uint8_t(v);
                    p[1] = std::uint8_t(v >> 8);
                }
        } else if (g.bits == 24 || g.bits == 32) {
            cv::Mat pixels(1, g.width, CV_8UC(g.bits / 8), row.data());
            cv::LUT(pixels, lut, pixels);
        } else { // 16 bits: through the colour
            for (int x = 0; x < g.width; ++x) {
                const COLORREF c = rawToColour(getRaw(row.data(), x, 16), *bm);
                const COLORREF mapped =
                    COLORREF(map8(RK_CHANNEL_RED, std::uint8_t(c))) |
                    COLORREF(map8(RK_CHANNEL_GREEN, std::uint8_t(c >> 8))) << 8 |
                    COLORREF(map8(RK_CHANNEL_BLUE, std::uint8_t(c >> 16))) << 16;
                setRaw(row.data(), x, 16,
                       (getRaw(row.data(), x, 16) & 0x8000) |
                           colourToRaw(mapped, 16, bm->order, nullptr, 0));
            }
        }
        if (int rc = fresh->writeRow(y, row.data()); rc <= 0)
            return rc;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    replace(bitmap, std::move(fresh));
    return RK_SUCCESS;
}

int RkSeparatePlanes(const _BITMAPHANDLE* src, _BITMAPHANDLE* planes, std::uint32_t planeSize,
                     int count, int selector)
{
    // OpenCV reports failures by exception; none may leave the kernel.
    try {
        return separatePlanesImpl(src, planes, planeSize, count, selector);
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    } catch (...) {
        return RK_FAILURE;
    }
}

int RkMergePlanes(_BITMAPHANDLE* dst, const _BITMAPHANDLE* const* planes, int count, int selector)
{
    // OpenCV reports failures by exception; none may leave the kernel.
    try {
        return mergePlanesImpl(dst, planes, count, selector);
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    } catch (...) {
        return RK_FAILURE;
    }
}

int RkRemapBitmapValues(_BITMAPHANDLE* bitmap, const int* table, std::uint32_t count,
                        std::uint32_t channels)
{
    // OpenCV reports failures by exception; none may leave the kernel.
    try {
        return remapBitmapValuesImpl(bitmap, table, count, channels);
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    } catch (...) {
        return RK_FAILURE;
    }
}
