// ops_geometry.cpp - rotation, shear and resizes.
//
//   RkRotateBitmap      exact quarter and half turns; any other angle by an affine warp
//   RkShearBitmap       affine warp onto a widened or heightened canvas
//   RkResizeBitmap      nearest neighbour, row by row, every depth
//   RkSizeBitmap        OpenCV's resize on memory bitmaps; a streamed separable resampler with
//                       the same weights on disk-backed ones
//
// Warps map every destination pixel back into the source (the inverse transform), in stored
// coordinates: the transform the caller asks for is in picture coordinates and is conjugated by
// each bitmap's storage mirror, so a bottom-up bitmap turns the same way on screen.
#include "ops_geometry.h"

#include "ops_support_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <opencv2/imgproc.hpp>

using namespace rk;
using namespace rk::ops;

namespace {

constexpr int kTile = 256;

// 2 x 3 affine maps as 3 x 3 matrices, for composing.
using Affine = cv::Matx33d;

// Picture coordinates <-> stored coordinates of a w x h bitmap with view perspective view.
// Perspectives 2 and 3 store columns mirrored, 3 and 4 rows.
Affine storageMirror(int w, int h, int view)
{
    bool mx = view == 2 || view == 3, my = view == 3 || view == 4;
    return Affine(mx ? -1 : 1, 0, mx ? w - 1 : 0, 0, my ? -1 : 1, my ? h - 1 : 0, 0, 0, 1);
}

// Destination-to-source map in stored coordinates for a picture-space inverse map.
cv::Matx23d storedInverse(const Affine& pictureInverse, int srcW, int srcH, int dstW, int dstH,
                          int view)
{
    Affine m = storageMirror(srcW, srcH, view) * pictureInverse * storageMirror(dstW, dstH, view);
    return cv::Matx23d(m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2));
}

// Fills dst from src through inv (destination pixel -> source position). Memory bitmaps at 8 bits
// or more take one call (OpenCV spreads it over the cores); others go tile by tile, each tile
// reading only the source region it needs.
int warp(const Bitmap& src, Bitmap& dst, const cv::Matx23d& inv, int interpolation,
         const cv::Scalar& fill)
{
    Progress progress;
    cv::Mat s = blockMat(const_cast<Bitmap&>(src)), d = blockMat(dst);
    int flags = interpolation | cv::WARP_INVERSE_MAP;
    if (!s.empty() && !d.empty()) {
        if (!progress.step(0, 1))
            return RK_ERROR_CANCELLED;
        try {
            cv::warpAffine(s, d, cv::Mat(inv), d.size(), flags, cv::BORDER_CONSTANT, fill);
        } catch (const cv::Exception&) {
            return RK_ERROR_NO_MEMORY;
        }
        return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
    }
    const int W = dst.geo.width, H = dst.geo.height;
    const std::uint64_t tilesX = std::uint64_t((W + kTile - 1) / kTile);
    const std::uint64_t total = tilesX * std::uint64_t((H + kTile - 1) / kTile);
    cv::Mat region, tile;
    std::uint64_t done = 0;
    for (int ty = 0; ty < H; ty += kTile) {
        for (int tx = 0; tx < W; tx += kTile, ++done) {
            if (!progress.step(done, total))
                return RK_ERROR_CANCELLED;
            int tw = std::min(kTile, W - tx), th = std::min(kTile, H - ty);
            double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
            for (int cy : {ty, ty + th - 1})
                for (int cx : {tx, tx + tw - 1}) {
                    double sx = inv(0, 0) * cx + inv(0, 1) * cy + inv(0, 2);
                    double sy = inv(1, 0) * cx + inv(1, 1) * cy + inv(1, 2);
                    minX = std::min(minX, sx), maxX = std::max(maxX, sx);
                    minY = std::min(minY, sy), maxY = std::max(maxY, sy);
                }
            // Two pixels of margin: bilinear reads the pixel after the one below the position.
            double x0 = std::max(0.0, std::floor(minX) - 2),
                   y0 = std::max(0.0, std::floor(minY) - 2);
            double x1 = std::min(double(src.geo.width), std::ceil(maxX) + 3);
            double y1 = std::min(double(src.geo.height), std::ceil(maxY) + 3);
            if (!makeMat(tile, th, tw, matType(dst.geo.bits)))
                return RK_ERROR_NO_MEMORY;
            if (x1 <= x0 || y1 <= y0) {
                tile.setTo(fill);
            } else {
                int rx = int(x0), ry = int(y0);
                if (int rc = readRegion(src, rx, ry, int(x1) - rx, int(y1) - ry, region); rc <= 0)
                    return rc;
                cv::Matx23d local = inv;
                local(0, 2) += inv(0, 0) * tx + inv(0, 1) * ty - rx;
                local(1, 2) += inv(1, 0) * tx + inv(1, 1) * ty - ry;
                try {
                    cv::warpAffine(region, tile, cv::Mat(local), tile.size(), flags,
                                   cv::BORDER_CONSTANT, fill);
                } catch (const cv::Exception&) {
                    return RK_ERROR_NO_MEMORY;
                }
            }
            if (int rc = writeRegion(dst, tx, ty, tile); rc <= 0)
                return rc;
        }
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

// Builds a width x height bitmap like the record's through inv (picture coordinates) and puts it
// in the record's place.
int warpRecord(_BITMAPHANDLE* record, Bitmap& src, int width, int height, const Affine& inv,
               int interpolation, COLORREF fill)
{
    std::unique_ptr<Bitmap> dst;
    if (int rc = newLike(src, width, height, src.geo.bits, src.pal(), dst); rc <= 0)
        return rc;
    cv::Matx23d stored =
        storedInverse(inv, src.geo.width, src.geo.height, width, height, record->ViewPerspective);
    if (int rc = warp(src, *dst, stored, interpolation, fillValue(src, fill)); rc <= 0)
        return rc;
    replace(record, std::move(dst));
    return RK_SUCCESS;
}

// A canvas side computed in double, refused when it does not fit an int.
bool side(double v, int& out)
{
    if (!(v >= 1.0) || v > double(INT32_MAX))
        return false;
    out = int(v);
    return true;
}

} // namespace

int RkRotateBitmap(_BITMAPHANDLE* bitmap, int angle, std::uint32_t flags, COLORREF fill)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (flags & ~(RK_ROTATE_RESIZE | RK_ROTATE_RESAMPLE))
        return RK_ERROR_INV_PARAMETER;
    int a = angle % 36000;
    if (a < 0)
        a += 36000;
    if (a == 0)
        return RK_SUCCESS;
    if (a == 18000)
        return RkRotateBitmapQuarters(bitmap, 2);
    const int W = bm->geo.width, H = bm->geo.height;
    bool grow = (flags & RK_ROTATE_RESIZE) != 0;
    if ((a == 9000 || a == 27000) && (grow || W == H))
        return RkRotateBitmapQuarters(bitmap, a / 9000);
    double rad = double(a) / 100.0 * M_PI / 180.0, c = std::cos(rad), s = std::sin(rad);
    int w = W, h = H;
    if (grow) {
        // Rounded to the nearest whole pixel, with slack for the sine's last bits.
        if (!side(std::floor(W * std::fabs(c) + H * std::fabs(s) + 0.5 - 1e-9), w) ||
            !side(std::floor(W * std::fabs(s) + H * std::fabs(c) + 0.5 - 1e-9), h))
            return RK_ERROR_TOO_LARGE;
    }
    // Destination pixel d -> source R^T (d - cd) + cs, about the pixel-centre middles.
    double csx = (W - 1) / 2.0, csy = (H - 1) / 2.0, cdx = (w - 1) / 2.0, cdy = (h - 1) / 2.0;
    Affine inv(c, s, csx - c * cdx - s * cdy, -s, c, csy + s * cdx - c * cdy, 0, 0, 1);
    int interpolation =
        (flags & RK_ROTATE_RESAMPLE) && sampled(*bm) ? cv::INTER_LINEAR : cv::INTER_NEAREST;
    return warpRecord(bitmap, *bm, w, h, inv, interpolation, fill);
}

int RkShearBitmap(_BITMAPHANDLE* bitmap, int angle, int direction, COLORREF fill)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if ((direction != RK_SHEAR_HORIZONTAL && direction != RK_SHEAR_VERTICAL) ||
        angle < -RK_SHEAR_MAX_ANGLE || angle > RK_SHEAR_MAX_ANGLE)
        return RK_ERROR_INV_PARAMETER;
    if (angle == 0)
        return RK_SUCCESS;
    const int W = bm->geo.width, H = bm->geo.height;
    double t = std::tan(double(angle) / 100.0 * M_PI / 180.0);
    bool horizontal = direction == RK_SHEAR_HORIZONTAL;
    double extra = std::round(((horizontal ? H : W) - 1) * std::fabs(t));
    int w = W, h = H;
    if (!side((horizontal ? W : H) + extra, horizontal ? w : h))
        return RK_ERROR_TOO_LARGE;
    // Horizontal: x' = x + ((H - 1) / 2 - y) t + extra / 2; vertical: y' = y + (x - (W - 1) / 2) t
    // + extra / 2. The inverses:
    Affine inv = horizontal ? Affine(1, t, -(H - 1) / 2.0 * t - extra / 2, 0, 1, 0, 0, 0, 1)
                            : Affine(1, 0, 0, -t, 1, (W - 1) / 2.0 * t - extra / 2, 0, 0, 1);
    return warpRecord(bitmap, *bm, w, h, inv, sampled(*bm) ? cv::INTER_LINEAR : cv::INTER_NEAREST,
                      fill);
}

// ---- resizes ------------------------------------------------------------------------------------

namespace {

// Source index of destination index d for nearest neighbour, pixel centres aligned:
// floor((d + 0.5) * from / to), in integers.
int nearestIndex(int d, int from, int to)
{
    return int(std::min<std::int64_t>(
        (std::int64_t(2 * std::int64_t(d) + 1) * from) / (2 * std::int64_t(to)), from - 1));
}

int resizeNearest(_BITMAPHANDLE* record, Bitmap& src, int width, int height)
{
    const Geometry& g = src.geo;
    std::unique_ptr<Bitmap> dst;
    if (int rc = newLike(src, width, height, g.bits, src.pal(), dst); rc <= 0)
        return rc;
    Buffer in, out;
    std::vector<int> column;
    try {
        column.resize(std::size_t(width));
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    if (!allocate(in, g.stride) || !allocate(out, dst->geo.stride))
        return RK_ERROR_NO_MEMORY;
    for (int x = 0; x < width; ++x)
        column[std::size_t(x)] = nearestIndex(x, g.width, width);
    Progress progress;
    int loaded = -1;
    for (int y = 0; y < height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(height)))
            return RK_ERROR_CANCELLED;
        int sy = nearestIndex(y, g.height, height);
        if (sy != loaded) {
            if (int rc = src.readRow(sy, in.data()); rc <= 0)
                return rc;
            loaded = sy;
            if (g.bits >= 8) {
                std::size_t n = std::size_t(g.bits / 8);
                for (int x = 0; x < width; ++x)
                    std::memcpy(out.data() + std::size_t(x) * n,
                                in.data() + std::size_t(column[std::size_t(x)]) * n, n);
            } else {
                for (int x = 0; x < width; ++x)
                    setRaw(out.data(), x, g.bits,
                           getRaw(in.data(), column[std::size_t(x)], g.bits));
            }
        }
        if (int rc = dst->writeRow(y, out.data()); rc <= 0)
            return rc;
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    replace(record, std::move(dst));
    return RK_SUCCESS;
}

// The source taps of every destination index along one axis: first[d] and count[d] index the
// tables of source indices and weights.
struct AxisTaps {
    std::vector<int> first, count;
    std::vector<int> index;
    std::vector<float> weight;
    void add(int i, double w, int n)
    {
        index.push_back(std::clamp(i, 0, n - 1));
        weight.push_back(float(w));
    }
};

// The taps OpenCV's resize uses along one axis (from -> to samples) for an interpolation.
bool axisTaps(int from, int to, int interpolation, AxisTaps& t)
{
    try {
        t.first.resize(std::size_t(to));
        t.count.resize(std::size_t(to));
        // As OpenCV derives them, to the last bit: the scale is the inverse of to / from.
        const double inverse = double(to) / from, scale = 1.0 / inverse;
        for (int d = 0; d < to; ++d) {
            t.first[std::size_t(d)] = int(t.index.size());
            if (interpolation == cv::INTER_AREA && scale >= 1.0) {
                double f1 = d * scale, f2 = f1 + scale;
                double cell = std::min(scale, from - f1);
                int s1 = int(std::ceil(f1)), s2 = int(std::floor(f2));
                s2 = std::min(s2, from - 1);
                s1 = std::min(s1, s2);
                if (s1 - f1 > 1e-3)
                    t.add(s1 - 1, (s1 - f1) / cell, from);
                for (int s = s1; s < s2; ++s)
                    t.add(s, 1.0 / cell, from);
                if (f2 - s2 > 1e-3)
                    t.add(s2, std::min(std::min(f2 - s2, 1.0), cell) / cell, from);
            } else if (interpolation == cv::INTER_AREA) {
                int s = int(std::floor(d * scale));
                double f = (d + 1) - (s + 1) * inverse;
                f = f <= 0 ? 0.0 : f - std::floor(f);
                t.add(s, 1.0 - f, from);
                t.add(s + 1, f, from);
            } else if (interpolation == cv::INTER_CUBIC) {
                double fx = (d + 0.5) * scale - 0.5;
                int s = int(std::floor(fx));
                double f = fx - s;
                const double A = -0.75;
                double w0 = ((A * (f + 1) - 5 * A) * (f + 1) + 8 * A) * (f + 1) - 4 * A;
                double w1 = ((A + 2) * f - (A + 3)) * f * f + 1;
                double w2 = ((A + 2) * (1 - f) - (A + 3)) * (1 - f) * (1 - f) + 1;
                t.add(s - 1, w0, from);
                t.add(s, w1, from);
                t.add(s + 1, w2, from);
                t.add(s + 2, 1.0 - w0 - w1 - w2, from);
            } else { // linear
                double fx = (d + 0.5) * scale - 0.5;
                int s = int(std::floor(fx));
                double f = fx - s;
                if (s < 0)
                    s = 0, f = 0;
                if (s >= from - 1)
                    s = from - 1, f = 0;
                t.add(s, 1.0 - f, from);
                t.add(s + 1, f, from);
            }
            t.count[std::size_t(d)] = int(t.index.size()) - t.first[std::size_t(d)];
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Separable resampling a destination row at a time; horizontally resampled source rows are kept
// while later destination rows still need them (a few rows: memory O(width)).
int resampleStreamed(const Bitmap& src, Bitmap& dst, int interpolation)
{
    const Geometry& g = src.geo;
    const int W = dst.geo.width, H = dst.geo.height;
    const int ch = g.bits == 8 ? 1 : g.bits == 32 ? 4 : 3;
    const bool wide = g.bits == 48;
    const double top = wide ? 65535.0 : 255.0;
    AxisTaps hx, vy;
    if (!axisTaps(g.width, W, interpolation, hx) || !axisTaps(g.height, H, interpolation, vy))
        return RK_ERROR_NO_MEMORY;
    Buffer in, out;
    if (!allocate(in, g.stride) || !allocate(out, dst.geo.stride))
        return RK_ERROR_NO_MEMORY;
    std::deque<std::pair<int, std::vector<float>>> rows;
    std::vector<double> acc;
    try {
        acc.resize(std::size_t(W) * ch);
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    auto horizontal = [&](int sy, std::vector<float>& r) -> int {
        if (int rc = src.readRow(sy, in.data()); rc <= 0)
            return rc;
        r.assign(std::size_t(W) * ch, 0.0f);
        for (int x = 0; x < W; ++x) {
            int f = hx.first[std::size_t(x)], n = hx.count[std::size_t(x)];
            for (int k = 0; k < n; ++k) {
                std::size_t s = std::size_t(hx.index[std::size_t(f + k)]) * ch;
                float wt = hx.weight[std::size_t(f + k)];
                for (int c = 0; c < ch; ++c) {
                    float v = wide ? float(reinterpret_cast<const std::uint16_t*>(in.data())[s + c])
                                   : float(in[s + c]);
                    r[std::size_t(x) * ch + c] += wt * v;
                }
            }
        }
        return RK_SUCCESS;
    };
    Progress progress;
    try {
        for (int y = 0; y < H; ++y) {
            if (!progress.step(std::uint64_t(y), std::uint64_t(H)))
                return RK_ERROR_CANCELLED;
            int f = vy.first[std::size_t(y)], n = vy.count[std::size_t(y)];
            int lowest = vy.index[std::size_t(f)];
            for (int k = 1; k < n; ++k)
                lowest = std::min(lowest, vy.index[std::size_t(f + k)]);
            while (!rows.empty() && rows.front().first < lowest)
                rows.pop_front();
            std::fill(acc.begin(), acc.end(), 0.0);
            for (int k = 0; k < n; ++k) {
                int sy = vy.index[std::size_t(f + k)];
                auto it = std::find_if(rows.begin(), rows.end(),
                                       [sy](const auto& p) { return p.first == sy; });
                if (it == rows.end()) {
                    std::vector<float> r;
                    if (int rc = horizontal(sy, r); rc <= 0)
                        return rc;
                    rows.emplace_back(sy, std::move(r));
                    std::sort(rows.begin(), rows.end(),
                              [](const auto& a, const auto& b) { return a.first < b.first; });
                    it = std::find_if(rows.begin(), rows.end(),
                                      [sy](const auto& p) { return p.first == sy; });
                }
                float wt = vy.weight[std::size_t(f + k)];
                for (std::size_t i = 0; i < acc.size(); ++i)
                    acc[i] += double(wt) * it->second[i];
            }
            for (std::size_t i = 0; i < acc.size(); ++i) {
                double v = std::clamp(std::round(acc[i]), 0.0, top);
                if (wide)
                    reinterpret_cast<std::uint16_t*>(out.data())[i] = std::uint16_t(v);
                else
                    out[i] = std::uint8_t(v);
            }
            if (int rc = dst.writeRow(y, out.data()); rc <= 0)
                return rc;
        }
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    return progress.finish() ? RK_SUCCESS : RK_ERROR_CANCELLED;
}

} // namespace

int RkResizeBitmap(_BITMAPHANDLE* bitmap, int width, int height, std::uint32_t flags)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (flags != 0 || width < 1 || height < 1)
        return RK_ERROR_INV_PARAMETER;
    if (width == bm->geo.width && height == bm->geo.height)
        return RK_SUCCESS;
    return resizeNearest(bitmap, *bm, width, height);
}

int RkSizeBitmap(_BITMAPHANDLE* bitmap, int width, int height, int method)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (method < RK_SIZE_NEAREST || method > RK_SIZE_RESAMPLE || width < 1 || height < 1)
        return RK_ERROR_INV_PARAMETER;
    if (width == bm->geo.width && height == bm->geo.height)
        return RK_SUCCESS;
    if (method == RK_SIZE_NEAREST || !sampled(*bm))
        return resizeNearest(bitmap, *bm, width, height);
    int interpolation = method == RK_SIZE_BILINEAR  ? cv::INTER_LINEAR
                        : method == RK_SIZE_BICUBIC ? cv::INTER_CUBIC
                                                    : cv::INTER_AREA;
    if (method == RK_SIZE_RESAMPLE && (width > bm->geo.width || height > bm->geo.height))
        interpolation = cv::INTER_LINEAR;
    std::unique_ptr<Bitmap> dst;
    if (int rc = newLike(*bm, width, height, bm->geo.bits, bm->pal(), dst); rc <= 0)
        return rc;
    cv::Mat s = blockMat(*bm), d = blockMat(*dst);
    if (!s.empty() && !d.empty()) {
        Progress progress;
        if (!progress.step(0, 1))
            return RK_ERROR_CANCELLED;
        try {
            cv::resize(s, d, d.size(), 0, 0, interpolation);
        } catch (const cv::Exception&) {
            return RK_ERROR_NO_MEMORY;
        }
        if (!progress.finish())
            return RK_ERROR_CANCELLED;
    } else if (int rc = resampleStreamed(*bm, *dst, interpolation); rc <= 0) {
        return rc;
    }
    replace(bitmap, std::move(dst));
    return RK_SUCCESS;
}
