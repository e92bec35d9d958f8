// ops_tone.cpp - tone and colour operations.
//
//   applyLevels, applyColours             the point-operation engines (tables; float rows)
//   RkChangeBitmapContrast ... RkPosterizeBitmap   point operations
//   RkMedianFilterBitmap, RkAverageFilterBitmap, RkDescreenBitmap   banded OpenCV filters
//   RkGrayScaleBitmapBits                 luma into a new 8-bit grey bitmap
//   RkChangeColorRes                      palette choice (Leptonica median cut), dithering
//   RkGet/SetBitmapDisplayGamma           kept in the record's kernel-private bytes
#include "ops_tone.h"

#include "ops_support_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <leptonica/allheaders.h>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <tuple>
#include <unordered_set>

using namespace rk;
using namespace rk::ops;

namespace {

using LevelFn = std::function<double(double v, double top)>;

// 5-bit field <-> 8-bit level, as the kernel reads 16-bit pixels.
inline int expand5(unsigned v)
{
    return int((v << 3) | (v >> 2));
}

// Applies a per-sample level function (v in 0..top -> 0..top) to every colour sample: palette
// entries at palette depths, 5-bit fields at 16 bits, the first three bytes at 32 bits.
int applyLevels(_BITMAPHANDLE* record, const LevelFn& fn)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(record, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    std::array<std::uint8_t, 256> lut{};
    for (int v = 0; v < 256; ++v)
        lut[std::size_t(v)] = std::uint8_t(std::clamp(std::round(fn(v, 255.0)), 0.0, 255.0));
    if (g.bits <= 8) {
        for (tagRGBQUAD& q : bm->palette) {
            q.rgbRed = lut[q.rgbRed];
            q.rgbGreen = lut[q.rgbGreen];
            q.rgbBlue = lut[q.rgbBlue];
        }
        return RK_SUCCESS;
    }
    std::vector<std::uint16_t> lut16;
    try {
        if (g.bits == 48) {
            lut16.resize(65536);
            for (int v = 0; v < 65536; ++v)
                lut16[std::size_t(v)] =
                    std::uint16_t(std::clamp(std::round(fn(v, 65535.0)), 0.0, 65535.0));
        }
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    Buffer row;
    if (!allocate(row, g.stride))
        return RK_ERROR_NO_MEMORY;
    Progress progress;
    for (int y = 0; y < g.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        if (int rc = bm->readRow(y, row.data()); rc <= 0)
            return rc;
        std::uint8_t* p = row.data();
        std::size_t w = std::size_t(g.width);
        switch (g.bits) {
        case 16:
            for (std::size_t x = 0; x < w; ++x) {
                unsigned v = unsigned(p[2 * x]) | (unsigned(p[2 * x + 1]) << 8);
                unsigned b = lut[std::size_t(expand5(v & 31))] >> 3;
                unsigned gr = lut[std::size_t(expand5((v >> 5) & 31))] >> 3;
                unsigned r = lut[std::size_t(expand5((v >> 10) & 31))] >> 3;
                v = (v & 0x8000) | (r << 10) | (gr << 5) | b;
                p[2 * x] = std::uint8_t(v), p[2 * x + 1] = std::uint8_t(v >> 8);
            }
            break;
        case 24:
            for (std::size_t i = 0; i < 3 * w; ++i)
                p[i] = lut[p[i]];
            break;
        case 32:
            for (std::size_t x = 0; x < w; ++x)
                for (std::size_t c = 0; c < 3; ++c)
                    p[4 * x + c] = lut[p[4 * x + c]];
            break;
        case 48:
            for (std::size_t i = 0; i < 3 * w; ++i) {
                std::uint16_t v;
                std::memcpy(&v, p + 2 * i, 2);
                v = lut16[v];
                std::memcpy(p + 2 * i, &v, 2);
            }
            break;
        }
        if (int rc = bm->writeRow(y, row.data()); rc <= 0)
            return rc;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

// Applies a colour function to rows of colours as CV_32FC3 blue-green-red in 0..1 (palette
// depths: one row of palette entries).
using ColourFn = std::function<void(cv::Mat& bgr)>;

void toFloat(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, float* out,
             float scale)
{
    out[0] = float(*b) * scale, out[1] = float(*g) * scale, out[2] = float(*r) * scale;
}

std::uint8_t level8(float v)
{
    return std::uint8_t(std::clamp(std::lround(double(v) * 255.0), 0L, 255L));
}

int applyColours(_BITMAPHANDLE* record, const ColourFn& fn)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(record, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    // Order: byte 0 is blue unless the bitmap is red-green-blue.
    const bool rgb = bm->order == RK_ORDER_RGB;
    cv::Mat line;
    try {
        if (g.bits <= 8) {
            int n = bm->palCount();
            line.create(1, n, CV_32FC3);
            for (int i = 0; i < n; ++i) {
                tagRGBQUAD& q = bm->palette[std::size_t(i)];
                toFloat(&q.rgbBlue, &q.rgbGreen, &q.rgbRed, line.ptr<float>(0) + 3 * i, 1 / 255.0f);
            }
            fn(line);
            for (int i = 0; i < n; ++i) {
                tagRGBQUAD& q = bm->palette[std::size_t(i)];
                const float* f = line.ptr<float>(0) + 3 * i;
                q.rgbBlue = level8(f[0]), q.rgbGreen = level8(f[1]), q.rgbRed = level8(f[2]);
            }
            return RK_SUCCESS;
        }
        line.create(1, g.width, CV_32FC3);
    } catch (const cv::Exception&) {
        return RK_ERROR_NO_MEMORY;
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    Buffer row;
    if (!allocate(row, g.stride))
        return RK_ERROR_NO_MEMORY;
    Progress progress;
    const std::size_t w = std::size_t(g.width);
    for (int y = 0; y < g.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        if (int rc = bm->readRow(y, row.data()); rc <= 0)
            return rc;
        std::uint8_t* p = row.data();
        float* f = line.ptr<float>(0);
        for (std::size_t x = 0; x < w; ++x) {
            float* o = f + 3 * x;
            switch (g.bits) {
            case 16: {
                unsigned v = unsigned(p[2 * x]) | (unsigned(p[2 * x + 1]) << 8);
                o[0] = float(expand5(v & 31)) / 255.0f;
                o[1] = float(expand5((v >> 5) & 31)) / 255.0f;
                o[2] = float(expand5((v >> 10) & 31)) / 255.0f;
                break;
            }
            case 24:
            case 32: {
                const std::uint8_t* px = p + x * std::size_t(g.bits / 8);
                toFloat(px, px + 1, px + 2, o, 1 / 255.0f);
                break;
            }
            default: { // 48
                std::uint16_t s[3];
                std::memcpy(s, p + 6 * x, 6);
                for (int c = 0; c < 3; ++c)
                    o[c] = float(s[c]) / 65535.0f;
                break;
            }
            }
            if (rgb)
                std::swap(o[0], o[2]);
        }
        fn(line);
        for (std::size_t x = 0; x < w; ++x) {
            float* o = f + 3 * x;
            if (rgb)
                std::swap(o[0], o[2]);
            switch (g.bits) {
            case 16: {
                unsigned v = unsigned(p[2 * x + 1] & 0x80) << 8;
                v |= unsigned(level8(o[2]) >> 3) << 10 | unsigned(level8(o[1]) >> 3) << 5 |
                     unsigned(level8(o[0]) >> 3);
                p[2 * x] = std::uint8_t(v), p[2 * x + 1] = std::uint8_t(v >> 8);
                break;
            }
            case 24:
            case 32: {
                std::uint8_t* px = p + x * std::size_t(g.bits / 8);
                px[0] = level8(o[0]), px[1] = level8(o[1]), px[2] = level8(o[2]);
                break;
            }
            default: {
                std::uint16_t s[3];
                for (int c = 0; c < 3; ++c)
                    s[c] =
                        std::uint16_t(std::clamp(std::lround(double(o[c]) * 65535.0), 0L, 65535L));
                std::memcpy(p + 6 * x, s, 6);
                break;
            }
            }
        }
        if (int rc = bm->writeRow(y, row.data()); rc <= 0)
            return rc;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

bool amountOk(int change, std::uint32_t flags)
{
    return flags == 0 && change >= -RK_AMOUNT_MAX && change <= RK_AMOUNT_MAX;
}

// Counts of the 8-bit levels of every colour sample (48 bits: the high byte). Palette depths
// count each palette entry once per pixel that uses it.
int levelHistogram(_BITMAPHANDLE* record, std::array<std::uint64_t, 256>& hist)
{
    hist.fill(0);
    Bitmap* bm = nullptr;
    if (int rc = resolve(record, &bm); rc <= 0)
        return rc;
    const Geometry& g = bm->geo;
    Buffer row;
    if (!allocate(row, g.stride))
        return RK_ERROR_NO_MEMORY;
    for (int y = 0; y < g.height; ++y) {
        if (int rc = bm->readRow(y, row.data()); rc <= 0)
            return rc;
        const std::uint8_t* p = row.data();
        for (int x = 0; x < g.width; ++x) {
            switch (g.bits) {
            case 24:
            case 32:
                for (int c = 0; c < 3; ++c)
                    ++hist[p[std::size_t(x) * std::size_t(g.bits / 8) + std::size_t(c)]];
                break;
            case 48:
                for (int c = 0; c < 3; ++c)
                    ++hist[p[std::size_t(x) * 6 + std::size_t(c) * 2 + 1]];
                break;
            default: {
                COLORREF col = rawToColour(getRaw(p, x, g.bits), *bm);
                ++hist[col & 0xFF], ++hist[(col >> 8) & 0xFF], ++hist[(col >> 16) & 0xFF];
                break;
            }
            }
        }
    }
    return RK_SUCCESS;
}

} // namespace

int RkChangeBitmapContrast(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags)
{
    if (!amountOk(change, flags))
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    double k = change <= 0 ? 1.0 + change / 1000.0
                           : (change == RK_AMOUNT_MAX ? 1e6 : 1000.0 / (1000.0 - change));
    return applyLevels(bitmap, [k](double v, double top) {
        double mid = (top + 1) / 2;
        return mid + (v - mid) * k;
    });
}

int RkChangeBitmapIntensity(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags)
{
    if (!amountOk(change, flags))
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    return applyLevels(bitmap,
                       [change](double v, double top) { return v + change * top / 1000.0; });
}

int RkStretchBitmapIntensity(_BITMAPHANDLE* bitmap, std::uint32_t flags)
{
    if (flags != 0)
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    std::array<std::uint64_t, 256> hist{};
    if (int rc = levelHistogram(bitmap, hist); rc <= 0)
        return rc;
    int lo = 0, hi = 255;
    while (lo < 255 && hist[std::size_t(lo)] == 0)
        ++lo;
    while (hi > 0 && hist[std::size_t(hi)] == 0)
        --hi;
    if (hi <= lo)
        return RK_SUCCESS;
    return applyLevels(bitmap, [lo, hi](double v, double top) {
        double s = top / 255.0;
        return (v - lo * s) * top / ((hi - lo) * s);
    });
}

int RkHistoContrastBitmap(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags)
{
    if (!amountOk(change, flags))
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    std::array<std::uint64_t, 256> hist{};
    if (int rc = levelHistogram(bitmap, hist); rc <= 0)
        return rc;
    std::uint64_t total = 0;
    for (std::uint64_t n : hist)
        total += n;
    // 0.5th and 99.5th percentiles: the first level whose running count passes the share.
    std::uint64_t cut = total / 200, run = 0;
    int lo = 0, hi = 255;
    for (run = 0; lo < 255 && run + hist[std::size_t(lo)] <= cut; ++lo)
        run += hist[std::size_t(lo)];
    for (run = 0; hi > 0 && run + hist[std::size_t(hi)] <= cut; --hi)
        run += hist[std::size_t(hi)];
    double share = std::fabs(change) / 1000.0;
    if (change < 0)
        return applyLevels(
            bitmap, [share](double v, double top) { return v + ((top + 1) / 2 - v) * share; });
    if (hi <= lo)
        return RK_SUCCESS;
    return applyLevels(bitmap, [lo, hi, share](double v, double top) {
        double s = top / 255.0;
        double stretched = std::clamp((v - lo * s) * top / ((hi - lo) * s), 0.0, top);
        return v + (stretched - v) * share;
    });
}

int RkGammaCorrectBitmap(_BITMAPHANDLE* bitmap, int gamma, std::uint32_t flags)
{
    if (flags != 0 || gamma < 1 || gamma > 100000)
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    double e = 100.0 / gamma;
    return applyLevels(bitmap, [e](double v, double top) { return top * std::pow(v / top, e); });
}

int RkPosterizeBitmap(_BITMAPHANDLE* bitmap, int levels, std::uint32_t flags)
{
    if (flags != 0 || levels < RK_POSTERIZE_MIN || levels > RK_POSTERIZE_MAX)
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    return applyLevels(bitmap, [levels](double v, double top) {
        return std::round(std::round(v * (levels - 1) / top) * top / (levels - 1));
    });
}

int RkChangeBitmapSaturation(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags)
{
    if (!amountOk(change, flags))
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    float k = 1.0f + float(change) / 1000.0f;
    return applyColours(bitmap, [k](cv::Mat& bgr) {
        float* f = bgr.ptr<float>(0);
        for (int x = 0; x < bgr.cols; ++x, f += 3) {
            float luma = 0.114f * f[0] + 0.587f * f[1] + 0.299f * f[2];
            for (int c = 0; c < 3; ++c)
                f[c] = luma + (f[c] - luma) * k;
        }
    });
}

int RkChangeBitmapHue(_BITMAPHANDLE* bitmap, int degrees, std::uint32_t flags)
{
    if (flags != 0)
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    float shift = float(((degrees % 360) + 360) % 360);
    if (shift == 0.0f) {
        Bitmap* bm = nullptr;
        return resolve(bitmap, &bm);
    }
    return applyColours(bitmap, [shift](cv::Mat& bgr) {
        cv::Mat hsv;
        cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
        float* f = hsv.ptr<float>(0);
        for (int x = 0; x < hsv.cols; ++x, f += 3) {
            f[0] += shift;
            if (f[0] >= 360.0f)
                f[0] -= 360.0f;
        }
        cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
    });
}

// ---- neighbourhood filters ----------------------------------------------------------------------

namespace {

using FilterFn = std::function<void(const cv::Mat& in, cv::Mat& out)>;

// Runs fn over the bitmap into a new bitmap: memory bitmaps in one call, disk-backed ones in bands
// of rows read with margin rows above and below (edges replicate only at the image's own edges).
int filterBands(_BITMAPHANDLE* record, int margin, const FilterFn& fn)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(record, &bm); rc <= 0)
        return rc;
    if (!sampled(*bm))
        return RK_ERROR_BITSPERPIXEL;
    const Geometry& g = bm->geo;
    std::unique_ptr<Bitmap> dst;
    if (int rc = newLike(*bm, g.width, g.height, g.bits, bm->pal(), dst); rc <= 0)
        return rc;
    Progress progress;
    try {
        cv::Mat s = blockMat(*bm), d = blockMat(*dst);
        if (!s.empty() && !d.empty()) {
            if (!progress.step(0, 1))
                return RK_ERROR_CANCELLED;
            fn(s, d);
        } else {
            int band = bandRows(g);
            cv::Mat in, out;
            for (int y0 = 0; y0 < g.height; y0 += band) {
                if (!progress.step(std::uint64_t(y0), std::uint64_t(g.height)))
                    return RK_ERROR_CANCELLED;
                int rows = std::min(band, g.height - y0);
                int top = std::max(0, y0 - margin);
                int bottom = std::min(g.height, y0 + rows + margin);
                if (int rc = readRegion(*bm, 0, top, g.width, bottom - top, in); rc <= 0)
                    return rc;
                fn(in, out);
                if (int rc = writeRegion(*dst, 0, y0, out.rowRange(y0 - top, y0 - top + rows));
                    rc <= 0)
                    return rc;
            }
        }
    } catch (const cv::Exception&) {
        return RK_ERROR_NO_MEMORY;
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    replace(record, std::move(dst));
    return RK_SUCCESS;
}

int checkSize(_BITMAPHANDLE* bitmap, unsigned size, std::uint32_t flags)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (flags != 0 || size < 1 || size > RK_FILTER_MAX || size % 2 == 0)
        return RK_ERROR_INV_PARAMETER;
    return RK_SUCCESS;
}

} // namespace

int RkMedianFilterBitmap(_BITMAPHANDLE* bitmap, unsigned size, std::uint32_t flags)
{
    if (int rc = checkSize(bitmap, size, flags); rc <= 0)
        return rc;
    Bitmap* bm = nullptr;
    resolve(bitmap, &bm);
    if (bm->geo.bits == 48 && size > 5)
        return RK_ERROR_INV_PARAMETER;
    if (size == 1)
        return sampled(*bm) ? RK_SUCCESS : RK_ERROR_BITSPERPIXEL;
    int k = int(size);
    return filterBands(bitmap, k / 2,
                       [k](const cv::Mat& in, cv::Mat& out) { cv::medianBlur(in, out, k); });
}

int RkAverageFilterBitmap(_BITMAPHANDLE* bitmap, unsigned size, std::uint32_t flags)
{
    if (int rc = checkSize(bitmap, size, flags); rc <= 0)
        return rc;
    Bitmap* bm = nullptr;
    resolve(bitmap, &bm);
    if (size == 1)
        return sampled(*bm) ? RK_SUCCESS : RK_ERROR_BITSPERPIXEL;
    int k = int(size);
    return filterBands(bitmap, k / 2, [k](const cv::Mat& in, cv::Mat& out) {
        cv::blur(in, out, cv::Size(k, k), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    });
}

int RkDescreenBitmap(_BITMAPHANDLE* bitmap, std::uint32_t flags)
{
    if (flags != 0)
        return checkRecord(bitmap) <= 0 ? checkRecord(bitmap) : RK_ERROR_INV_PARAMETER;
    return filterBands(bitmap, 2, [](const cv::Mat& in, cv::Mat& out) {
        cv::GaussianBlur(in, out, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_REPLICATE);
    });
}

// ---- grey and colour resolution -----------------------------------------------------------------

namespace {

// OpenCV's fixed-point luma of 8-bit colours (14 fractional bits).
inline std::uint8_t luma(COLORREF c)
{
    unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return std::uint8_t((b * 1868u + g * 9617u + r * 4899u + (1u << 13)) >> 14);
}

std::vector<tagRGBQUAD> greyPalette()
{
    std::vector<tagRGBQUAD> p(256);
    for (int i = 0; i < 256; ++i)
        p[std::size_t(i)] = {BYTE(i), BYTE(i), BYTE(i), 0};
    return p;
}

} // namespace

int RkGrayScaleBitmapBits(_BITMAPHANDLE* bitmap, int bits)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (bits != 8)
        return RK_ERROR_BITSPERPIXEL;
    const Geometry& g = bm->geo;
    std::unique_ptr<Bitmap> dst;
    std::vector<tagRGBQUAD> ramp;
    try {
        ramp = greyPalette();
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    if (int rc = newLike(*bm, g.width, g.height, 8, ramp.data(), dst); rc <= 0)
        return rc;
    const bool rgb = bm->order == RK_ORDER_RGB;
    Progress progress;
    if (g.bits == 24 || g.bits == 32) {
        // Memory bitmaps in one call, which OpenCV spreads over the cores.
        cv::Mat colour = blockMat(*bm), grey = blockMat(*dst);
        if (!colour.empty() && !grey.empty()) {
            if (!progress.step(0, 1))
                return RK_ERROR_CANCELLED;
            try {
                cv::cvtColor(colour, grey,
                             g.bits == 24 ? (rgb ? cv::COLOR_RGB2GRAY : cv::COLOR_BGR2GRAY)
                                          : (rgb ? cv::COLOR_RGBA2GRAY : cv::COLOR_BGRA2GRAY));
            } catch (const cv::Exception&) {
                return RK_ERROR_NO_MEMORY;
            }
            if (!progress.finish())
                return RK_ERROR_CANCELLED;
            replace(bitmap, std::move(dst));
            return RK_SUCCESS;
        }
    }
    Buffer in, out;
    if (!allocate(in, g.stride) || !allocate(out, dst->geo.stride))
        return RK_ERROR_NO_MEMORY;
    try {
        for (int y = 0; y < g.height; ++y) {
            if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
                return RK_ERROR_CANCELLED;
            if (int rc = bm->readRow(y, in.data()); rc <= 0)
                return rc;
            cv::Mat grey(1, g.width, CV_8UC1, out.data());
            if (g.bits == 24 || g.bits == 32) {
                cv::Mat colour(1, g.width, matType(g.bits), in.data());
                int code = g.bits == 24 ? (rgb ? cv::COLOR_RGB2GRAY : cv::COLOR_BGR2GRAY)
                                        : (rgb ? cv::COLOR_RGBA2GRAY : cv::COLOR_BGRA2GRAY);
                cv::cvtColor(colour, grey, code);
            } else if (g.bits == 48) {
                cv::Mat colour(1, g.width, CV_16UC3, in.data()), grey16;
                cv::cvtColor(colour, grey16, rgb ? cv::COLOR_RGB2GRAY : cv::COLOR_BGR2GRAY);
                grey16.convertTo(grey, CV_8U, 255.0 / 65535.0);
            } else {
                for (int x = 0; x < g.width; ++x)
                    out[std::size_t(x)] = luma(rawToColour(getRaw(in.data(), x, g.bits), *bm));
            }
            if (int rc = dst->writeRow(y, out.data()); rc <= 0)
                return rc;
        }
    } catch (const cv::Exception&) {
        return RK_ERROR_NO_MEMORY;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    replace(bitmap, std::move(dst));
    return RK_SUCCESS;
}

namespace {

void quietLeptonica()
{
    static std::once_flag once;
    std::call_once(once, [] { setMsgSeverity(L_SEVERITY_NONE); });
}

// Up to `colours` colours chosen from the bitmap by Leptonica's median cut, from a sample of at
// most about a million pixels (every row and column for smaller bitmaps).
int optimisedPalette(const Bitmap& bm, int colours, std::vector<tagRGBQUAD>& out)
{
    const Geometry& g = bm.geo;
    std::uint64_t pixels = std::uint64_t(g.width) * std::uint64_t(g.height);
    int step = 1;
    while (pixels / (std::uint64_t(step) * std::uint64_t(step)) > (1u << 20))
        ++step;
    int w = (g.width + step - 1) / step, h = (g.height + step - 1) / step;
    quietLeptonica();
    PIX* pix = pixCreate(w, h, 32);
    if (!pix)
        return RK_ERROR_NO_MEMORY;
    Buffer row;
    if (!allocate(row, g.stride)) {
        pixDestroy(&pix);
        return RK_ERROR_NO_MEMORY;
    }
    std::unordered_set<COLORREF> seen;
    for (int y = 0; y < h; ++y) {
        if (int rc = bm.readRow(y * step, row.data()); rc <= 0) {
            pixDestroy(&pix);
            return rc;
        }
        for (int x = 0; x < w; ++x) {
            COLORREF c = rawToColour(getRaw(row.data(), x * step, g.bits), bm);
            pixSetRGBPixel(pix, x, y, l_int32(c & 0xFF), l_int32((c >> 8) & 0xFF),
                           l_int32((c >> 16) & 0xFF));
            if (seen.size() <= std::size_t(colours))
                seen.insert(c);
        }
    }
    if (seen.size() <= std::size_t(colours)) {
        // Few enough colours: each keeps its exact value (median cut would round them).
        pixDestroy(&pix);
        out.clear();
        for (COLORREF c : seen)
            out.push_back({BYTE((c >> 16) & 0xFF), BYTE((c >> 8) & 0xFF), BYTE(c & 0xFF), 0});
        std::sort(out.begin(), out.end(), [](const tagRGBQUAD& a, const tagRGBQUAD& b) {
            return std::tie(a.rgbRed, a.rgbGreen, a.rgbBlue) <
                   std::tie(b.rgbRed, b.rgbGreen, b.rgbBlue);
        });
        return RK_SUCCESS;
    }
    out.assign(std::size_t(colours), tagRGBQUAD{0, 0, 0, 0});
    if (colours == 1) {
        // Median cut needs two colours at least: one colour is the mean.
        double sum[3] = {0, 0, 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                l_int32 r, gr, b;
                pixGetRGBPixel(pix, x, y, &r, &gr, &b);
                sum[0] += r, sum[1] += gr, sum[2] += b;
            }
        double n = double(w) * h;
        out[0] = {BYTE(std::lround(sum[2] / n)), BYTE(std::lround(sum[1] / n)),
                  BYTE(std::lround(sum[0] / n)), 0};
        pixDestroy(&pix);
        return RK_SUCCESS;
    }
    PIX* q = pixMedianCutQuantGeneral(pix, 0, 8, colours, 0, 1, 0);
    pixDestroy(&pix);
    if (!q)
        return RK_ERROR_NO_MEMORY;
    PIXCMAP* map = pixGetColormap(q);
    int n = map ? std::min(pixcmapGetCount(map), colours) : 0;
    for (int i = 0; i < n; ++i) {
        l_int32 r, gr, b;
        pixcmapGetColor(map, i, &r, &gr, &b);
        out[std::size_t(i)] = {BYTE(b), BYTE(gr), BYTE(r), 0};
    }
    pixDestroy(&q);
    if (n == 0)
        return RK_FAILURE;
    out.resize(std::size_t(n));
    return RK_SUCCESS;
}

// Maps every pixel of src onto the palette (count entries used, 2^bits stored) into a new bitmap,
// optionally diffusing the error (Floyd-Steinberg, left to right).
int mapToPalette(const Bitmap& src, int bits, std::vector<tagRGBQUAD> palette, int count,
                 bool dither, std::unique_ptr<Bitmap>& dst)
{
    const Geometry& g = src.geo;
    palette.resize(std::size_t(1) << bits, tagRGBQUAD{0, 0, 0, 0});
    if (int rc = newLike(src, g.width, g.height, bits, palette.data(), dst); rc <= 0)
        return rc;
    Buffer in, out;
    if (!allocate(in, g.stride) || !allocate(out, dst->geo.stride))
        return RK_ERROR_NO_MEMORY;
    std::vector<float> err, next;
    NearestCache nearest(palette.data(), count);
    try {
        if (dither) {
            err.assign(std::size_t(g.width + 2) * 3, 0.0f);
            next.assign(err.size(), 0.0f);
        }
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    Progress progress;
    for (int y = 0; y < g.height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(g.height)))
            return RK_ERROR_CANCELLED;
        if (int rc = src.readRow(y, in.data()); rc <= 0)
            return rc;
        std::fill(out.begin(), out.end(), 0);
        if (dither)
            std::fill(next.begin(), next.end(), 0.0f);
        for (int x = 0; x < g.width; ++x) {
            COLORREF c = rawToColour(getRaw(in.data(), x, g.bits), src);
            int idx;
            if (!dither) {
                idx = nearest.index(c);
            } else {
                float want[3];
                int v[3];
                for (int k = 0; k < 3; ++k) {
                    want[k] = float((c >> (8 * k)) & 0xFF) + err[std::size_t(x + 1) * 3 + k];
                    v[k] = int(std::clamp(std::lround(want[k]), 0L, 255L));
                }
                idx = nearest.index(COLORREF(v[0] | (v[1] << 8) | (v[2] << 16)));
                const tagRGBQUAD& p = palette[std::size_t(idx)];
                float got[3] = {float(p.rgbRed), float(p.rgbGreen), float(p.rgbBlue)};
                for (int k = 0; k < 3; ++k) {
                    float e = want[k] - got[k];
                    err[std::size_t(x + 2) * 3 + k] += e * 7 / 16;
                    next[std::size_t(x) * 3 + k] += e * 3 / 16;
                    next[std::size_t(x + 1) * 3 + k] += e * 5 / 16;
                    next[std::size_t(x + 2) * 3 + k] += e * 1 / 16;
                }
            }
            setRaw(out.data(), x, bits, std::uint64_t(idx));
        }
        if (dither)
            std::swap(err, next);
        if (int rc = dst->writeRow(y, out.data()); rc <= 0)
            return rc;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

} // namespace

int RkChangeColorRes(_BITMAPHANDLE* bitmap, std::uint32_t size, int bits, std::uint32_t flags,
                     const tagRGBQUAD* palette, int colours)
{
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    const std::uint32_t choice =
        flags & (RK_CRF_FIXEDPALETTE | RK_CRF_OPTIMIZEDPALETTE | RK_CRF_USERPALETTE);
    if ((flags & ~RK_CRF_KNOWN) || (choice & (choice - 1)) ||
        ((choice & RK_CRF_USERPALETTE) && !palette))
        return RK_ERROR_INV_PARAMETER;
    if (!validDepth(bits))
        return RK_ERROR_BITSPERPIXEL;
    if (bits > 8)
        return RkColorResBitmap(bitmap, bits, nullptr);
    const int entries = 1 << bits;
    if (colours < 1)
        colours = entries;
    if (colours > entries)
        return RK_ERROR_INV_PARAMETER;
    const bool dither = (flags & RK_CRF_FLOYDSTEIN) != 0;
    if (bits == bm->geo.bits && !choice && !palette && !dither)
        return RK_SUCCESS;
    std::vector<tagRGBQUAD> target;
    try {
        if (choice == RK_CRF_OPTIMIZEDPALETTE) {
            if (int rc = optimisedPalette(*bm, colours, target); rc <= 0)
                return rc;
            colours = int(target.size());
        } else if (choice == RK_CRF_USERPALETTE || (!choice && palette)) {
            target.assign(palette, palette + colours);
        } else {
            target = defaultPalette(bits);
            target.resize(std::size_t(colours));
        }
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    std::unique_ptr<Bitmap> dst;
    if (int rc = mapToPalette(*bm, bits, std::move(target), colours, dither, dst); rc <= 0)
        return rc;
    replace(bitmap, std::move(dst));
    return RK_SUCCESS;
}

// ---- display gamma ------------------------------------------------------------------------------

namespace {

// Bytes 8..11 of the record's kernel-private area hold the gamma, byte 12 says it was set.
constexpr std::size_t kGammaAt = 8, kGammaSetAt = 12;

} // namespace

int RkGetBitmapDisplayGamma(const _BITMAPHANDLE* bitmap, std::uint32_t* gamma)
{
    if (!gamma)
        return RK_ERROR_INV_PARAMETER;
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    std::uint32_t g = RK_DISPLAY_GAMMA_DEFAULT;
    if (bitmap->Reserved[kGammaSetAt])
        std::memcpy(&g, bitmap->Reserved + kGammaAt, sizeof g);
    *gamma = g;
    return RK_SUCCESS;
}

int RkSetBitmapDisplayGamma(_BITMAPHANDLE* bitmap, std::uint32_t gamma)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    std::memcpy(bitmap->Reserved + kGammaAt, &gamma, sizeof gamma);
    bitmap->Reserved[kGammaSetAt] = 1;
    return RK_SUCCESS;
}
