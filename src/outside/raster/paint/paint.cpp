// paint.cpp - painting bitmaps onto device contexts with cairo.
//
// Contents: display-mode bits and the painting switch; RowSource (picture rows of a bitmap,
// straight from memory or through the disk window); Converter (stored pixels to cairo's
// premultiplied ARGB, with the display gamma); Plan (the mapping of a source rectangle onto
// a destination); the strip painters (nearest sampling, cairo filters through source bands,
// source bands straight onto a vector target); RkPaintDC, RkPaintDCEffect, RkPrintBitmap,
// RkCreatePaintPalette.
//
// Memory: a strip of the destination (at most kStripBytes) and a band of converted source rows
// (at most kBandBytes, plus the rows a filter reads beyond it), whatever the bitmap's size.
// A vector target keeps every band it is given until its page ends, so it only receives
// bands straight from the source when the picture is enlarged (the bands then hold no more
// pixels than the destination); reduced pictures reach it as destination-sized strips.
#include "raster/paint/paint.h"

#include "raster/ops/ops_tone.h"
#include "raster/raster_internal.h"
#include "win/cairo_draw.h"
#include "win/gdi.h"

#include <algorithm>
#include <atomic>
#include <cairo.h>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::atomic<std::uint32_t> gDisplayMode{RK_DISPLAY_DEFAULT};
std::atomic<int> gPaintSwitch{0};

constexpr std::uint64_t kStripBytes = std::uint64_t(16) << 20;
constexpr std::uint64_t kBandBytes = std::uint64_t(16) << 20;
constexpr int kCairoMaxSide = 32767;
constexpr int kTileColumns = 16384; // source columns of one band, before the filter's overlap

struct SurfaceGuard {
    cairo_surface_t* s = nullptr;
    SurfaceGuard() = default;
    explicit SurfaceGuard(cairo_surface_t* surface) : s(surface) {}
    SurfaceGuard(const SurfaceGuard&) = delete;
    SurfaceGuard& operator=(const SurfaceGuard&) = delete;
    ~SurfaceGuard()
    {
        if (s)
            cairo_surface_destroy(s);
    }
    bool ok() const { return s && cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
};

struct ContextGuard {
    cairo_t* cr = nullptr;
    ContextGuard(const ContextGuard&) = delete;
    ContextGuard& operator=(const ContextGuard&) = delete;
    explicit ContextGuard(cairo_surface_t* s) : cr(cairo_create(s)) {}
    ~ContextGuard() { cairo_destroy(cr); }
};

// Picture rows of a bitmap: a pointer into its memory block, or a copy through the disk window.
class RowSource {
public:
    RowSource(const rk::Bitmap& bm, int viewPerspective)
        : bm_(bm), topDown_(viewPerspective == RK_TOP_LEFT),
          block_(const_cast<rk::PixelStore&>(*bm.pixels).block())
    {
    }
    bool init() { return block_ || rk::allocate(buffer_, bm_.geo.stride); }
    // Null after a read failure (error() tells which).
    const std::uint8_t* row(int pictureRow)
    {
        const int stored = topDown_ ? pictureRow : bm_.geo.height - 1 - pictureRow;
        if (block_)
            return block_ + std::uint64_t(stored) * bm_.geo.stride;
        const int rc = bm_.readRow(stored, buffer_.data());
        if (rc <= 0) {
            error_ = rc;
            return nullptr;
        }
        return buffer_.data();
    }
    int error() const { return error_; }

private:
    const rk::Bitmap& bm_;
    bool topDown_;
    std::uint8_t* block_;
    rk::Buffer buffer_;
    int error_ = RK_ERROR_IO;
};

// Stored pixels to cairo pixels (premultiplied ARGB in native order).
class Converter {
public:
    Converter(const rk::Bitmap& bm, bool alpha, std::uint32_t gamma) : bm_(bm)
    {
        alpha_ = alpha && bm.geo.bits == 32;
        for (int i = 0; i < 256; ++i)
            gamma_[i] = std::uint8_t(i);
        if (gamma != 0 && gamma != RK_DISPLAY_GAMMA_DEFAULT) {
            const double exponent = 100.0 / double(gamma);
            for (int i = 0; i < 256; ++i)
                gamma_[i] = std::uint8_t(std::lround(255.0 * std::pow(i / 255.0, exponent)));
        }
        if (bm.geo.bits <= 8) {
            lut_.assign(std::size_t(1) << bm.geo.bits, 0xFF000000u);
            for (std::size_t i = 0; i < lut_.size(); ++i)
                lut_[i] = opaque(rk::rawToColour(i, bm));
        }
        rgbOrder_ = bm.order == RK_ORDER_RGB;
        plain_ = !rgbOrder_ && (gamma == 0 || gamma == RK_DISPLAY_GAMMA_DEFAULT);
    }

    std::uint32_t pixel(const std::uint8_t* row, int x) const
    {
        switch (bm_.geo.bits) {
        case 24: {
            const std::uint8_t* p = row + std::size_t(x) * 3;
            return rgbOrder_ ? pack(p[0], p[1], p[2], 255) : pack(p[2], p[1], p[0], 255);
        }
        case 32: {
            const std::uint8_t* p = row + std::size_t(x) * 4;
            const std::uint8_t a = alpha_ ? p[3] : 255;
            return rgbOrder_ ? pack(p[0], p[1], p[2], a) : pack(p[2], p[1], p[0], a);
        }
        case 48: {
            const std::uint8_t* p = row + std::size_t(x) * 6;
            return rgbOrder_ ? pack(p[1], p[3], p[5], 255) : pack(p[5], p[3], p[1], 255);
        }
        case 16:
            return opaque(rk::rawToColour(rk::getRaw(row, x, 16), bm_));
        default:
            return lut_[std::size_t(rk::getRaw(row, x, bm_.geo.bits))];
        }
    }
    // Pixels x0 .. x0 + n - 1 of a row.
    void convert(const std::uint8_t* row, int x0, int n, std::uint32_t* out) const
    {
        if (plainBgr()) {
            const int step = bm_.geo.bits / 8;
            const std::uint8_t* p = row + std::size_t(x0) * std::size_t(step);
            for (int i = 0; i < n; ++i, p += step)
                out[i] =
                    0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            return;
        }
        for (int i = 0; i < n; ++i)
            out[i] = pixel(row, x0 + i);
    }
    // The pixels at columns[0 .. n - 1] of a row.
    void sample(const std::uint8_t* row, const int* columns, int n, std::uint32_t* out) const
    {
        if (plainBgr()) {
            const std::size_t step = std::size_t(bm_.geo.bits / 8);
            for (int i = 0; i < n; ++i) {
                const std::uint8_t* p = row + std::size_t(columns[i]) * step;
                out[i] =
                    0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
            }
            return;
        }
        for (int i = 0; i < n; ++i)
            out[i] = pixel(row, columns[i]);
    }
    bool alpha() const { return alpha_; }

private:
    // Opaque blue-green-red bytes shown as stored: the common case, converted without lookups.
    bool plainBgr() const
    {
        return plain_ && (bm_.geo.bits == 24 || (bm_.geo.bits == 32 && !alpha_));
    }

public:
private:
    std::uint32_t opaque(COLORREF c) const
    {
        return pack(GetRValue(c), GetGValue(c), GetBValue(c), 255);
    }
    std::uint32_t pack(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) const
    {
        std::uint32_t rr = gamma_[r], gg = gamma_[g], bb = gamma_[b];
        if (a != 255) {
            rr = (rr * a + 127) / 255;
            gg = (gg * a + 127) / 255;
            bb = (bb * a + 127) / 255;
        }
        return (std::uint32_t(a) << 24) | (rr << 16) | (gg << 8) | bb;
    }

    const rk::Bitmap& bm_;
    bool alpha_ = false;
    bool rgbOrder_ = false;
    bool plain_ = false;
    std::uint8_t gamma_[256];
    std::vector<std::uint32_t> lut_;
};

// How the source rectangle S maps onto the destination rectangle D (user space): a user point
// u lands on source column S.left + (u - D.left) * kx. visible: the source part that may be
// drawn (S within the bitmap and the source clip).
struct Plan {
    double sLeft, sTop;     // S's corner
    double dLeft, dTop;     // D's corner
    double kx, ky;          // source pixels per destination unit
    int vx0, vy0, vx1, vy1; // visible source [vx0, vx1) x [vy0, vy1), picture coordinates

    // The destination span that shows source [a, b) along one axis.
    double destX(double sx) const { return dLeft + (sx - sLeft) / kx; }
    double destY(double sy) const { return dTop + (sy - sTop) / ky; }
    double srcX(double ux) const { return sLeft + (ux - dLeft) * kx; }
    double srcY(double uy) const { return sTop + (uy - dTop) * ky; }
};

enum class Sampling { Nearest, Bilinear, Good };

cairo_filter_t filterOf(Sampling s)
{
    switch (s) {
    case Sampling::Nearest:
        return CAIRO_FILTER_NEAREST;
    case Sampling::Bilinear:
        return CAIRO_FILTER_BILINEAR;
    default:
        return CAIRO_FILTER_GOOD;
    }
}

int clampInt(double v)
{
    if (!(v > -1e9))
        return -1000000000;
    if (!(v < 1e9))
        return 1000000000;
    return int(v);
}

// The integer destination pixels whose centres fall on visible source pixels, within limit.
RECT destPixels(const Plan& p, const RECT& limit)
{
    RECT r{clampInt(std::ceil(p.destX(p.vx0) - 0.5)), clampInt(std::ceil(p.destY(p.vy0) - 0.5)),
           clampInt(std::ceil(p.destX(p.vx1) - 0.5)), clampInt(std::ceil(p.destY(p.vy1) - 0.5))};
    r.left = std::max(r.left, limit.left);
    r.top = std::max(r.top, limit.top);
    r.right = std::min(r.right, limit.right);
    r.bottom = std::min(r.bottom, limit.bottom);
    return r;
}

int sourceIndex(double s, int lo, int hi)
{
    const double f = std::floor(s);
    if (f < lo)
        return lo;
    if (f >= hi)
        return hi - 1;
    return int(f);
}

// Draws surface at (x, y) on cr, 1:1.
void paintStrip(cairo_t* cr, cairo_surface_t* surface, int x, int y, int w, int h)
{
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_surface(cr, surface, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
    cairo_restore(cr);
}

// Fills strip (w x h at destination (x0, y0)) by sampling the nearest source pixel of each
// destination pixel centre.
int sampleNearest(const Plan& p, RowSource& rows, const Converter& conv, int x0, int y0,
                  const std::vector<int>& columns, cairo_surface_t* strip, int h)
{
    cairo_surface_flush(strip);
    unsigned char* data = cairo_image_surface_get_data(strip);
    const int stride = cairo_image_surface_get_stride(strip);
    const int w = int(columns.size());
    int lastRow = -1;
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * std::size_t(stride));
        const int sy = sourceIndex(p.srcY(y0 + y + 0.5), p.vy0, p.vy1);
        if (sy == lastRow && y > 0) {
            std::memcpy(out, out - stride / 4, std::size_t(w) * 4);
            continue;
        }
        const std::uint8_t* row = rows.row(sy);
        if (!row)
            return rows.error();
        conv.sample(row, columns.data(), w, out);
        lastRow = sy;
    }
    (void)x0;
    cairo_surface_mark_dirty(strip);
    return RK_SUCCESS;
}

// An image surface of the source rows [r0, r1) and columns [c0, c1).
// An image surface of w x h pixels: over memory (kept for the next call, grown when needed)
// when memory is given, else of its own.
cairo_surface_t* newImage(cairo_format_t format, int w, int h, std::vector<std::uint32_t>* memory)
{
    if (!memory)
        return cairo_image_surface_create(format, w, h);
    const std::size_t n = std::size_t(w) * std::size_t(h);
    if (memory->size() < n) {
        try {
            memory->resize(n);
        } catch (const std::bad_alloc&) {
            return cairo_image_surface_create(CAIRO_FORMAT_INVALID, 0, 0); // an error surface
        }
    }
    return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(memory->data()),
                                               format, w, h, w * 4);
}

int convertBand(RowSource& rows, const Converter& conv, int c0, int c1, int r0, int r1,
                SurfaceGuard& out, std::vector<std::uint32_t>* memory = nullptr)
{
    out.s =
        newImage(conv.alpha() ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, c1 - c0, r1 - r0, memory);
    if (!out.ok())
        return RK_ERROR_NO_MEMORY;
    unsigned char* data = cairo_image_surface_get_data(out.s);
    const int stride = cairo_image_surface_get_stride(out.s);
    for (int r = r0; r < r1; ++r) {
        const std::uint8_t* row = rows.row(r);
        if (!row)
            return rows.error();
        conv.convert(row, c0, c1 - c0,
                     reinterpret_cast<std::uint32_t*>(data + std::size_t(r - r0) * stride));
    }
    cairo_surface_mark_dirty(out.s);
    return RK_SUCCESS;
}

// The pattern that shows band (source columns from c0, rows from r0) in user space.
void setBandSource(cairo_t* cr, const Plan& p, cairo_surface_t* band, int c0, int r0,
                   Sampling sampling)
{
    cairo_set_source_surface(cr, band, 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    cairo_matrix_t m;
    cairo_matrix_init(&m, p.kx, 0, 0, p.ky, p.sLeft - c0 - p.dLeft * p.kx,
                      p.sTop - r0 - p.dTop * p.ky);
    cairo_pattern_set_matrix(pattern, &m);
    cairo_pattern_set_filter(pattern, filterOf(sampling));
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
}

// Rows a filter reads beyond those under a destination span.
int overlapRows(double k, Sampling s)
{
    if (s == Sampling::Nearest)
        return 1;
    return int(std::ceil(2.0 * std::max(k, 1.0))) + 2;
}

// An image surface that cr draws on one to one (a translation by whole pixels, a clip of
// one rectangle): opaque nearest-sampled pixels can be written straight into it.
struct DirectTarget {
    cairo_surface_t* surface = nullptr;
    unsigned char* data = nullptr;
    int stride = 0;
    int dx = 0, dy = 0; // user -> surface pixel offset
    RECT region{};      // user-space pixels that may be written
};

bool wholeNumber(double v)
{
    return std::fabs(v) < 1e9 && v == std::floor(v);
}

bool directTarget(cairo_t* cr, const RECT& pixels, DirectTarget& d)
{
    cairo_surface_t* t = cairo_get_target(cr);
    if (cairo_surface_get_type(t) != CAIRO_SURFACE_TYPE_IMAGE)
        return false;
    const cairo_format_t f = cairo_image_surface_get_format(t);
    if (f != CAIRO_FORMAT_RGB24 && f != CAIRO_FORMAT_ARGB32)
        return false;
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    double ox = 0, oy = 0;
    cairo_surface_get_device_offset(t, &ox, &oy);
    if (m.xx != 1 || m.yy != 1 || m.xy != 0 || m.yx != 0 || !wholeNumber(m.x0 + ox) ||
        !wholeNumber(m.y0 + oy))
        return false;
    cairo_rectangle_list_t* list = cairo_copy_clip_rectangle_list(cr);
    bool one = list->status == CAIRO_STATUS_SUCCESS && list->num_rectangles == 1;
    RECT clip{};
    if (one) {
        const cairo_rectangle_t& r = list->rectangles[0];
        one = wholeNumber(r.x) && wholeNumber(r.y) && wholeNumber(r.width) && wholeNumber(r.height);
        clip = RECT{LONG(r.x), LONG(r.y), LONG(r.x + r.width), LONG(r.y + r.height)};
    }
    cairo_rectangle_list_destroy(list);
    if (!one)
        return false;
    d.surface = t;
    d.dx = int(m.x0 + ox);
    d.dy = int(m.y0 + oy);
    const RECT bounds{-d.dx, -d.dy, cairo_image_surface_get_width(t) - d.dx,
                      cairo_image_surface_get_height(t) - d.dy};
    d.region = RECT{std::max({pixels.left, clip.left, bounds.left}),
                    std::max({pixels.top, clip.top, bounds.top}),
                    std::min({pixels.right, clip.right, bounds.right}),
                    std::min({pixels.bottom, clip.bottom, bounds.bottom})};
    cairo_surface_flush(t);
    d.data = cairo_image_surface_get_data(t);
    d.stride = cairo_image_surface_get_stride(t);
    return d.data != nullptr;
}

// Raster route: destination strips, each filled by nearest sampling or by cairo from one
// band of source rows, then drawn on the canvas.
int paintStrips(cairo_t* cr, const Plan& p, const RECT& pixels, RowSource& rows,
                const Converter& conv, Sampling sampling)
{
    const int w = pixels.right - pixels.left, h = pixels.bottom - pixels.top;
    if (w > kCairoMaxSide)
        return RK_ERROR_TOO_LARGE;
    std::vector<int> columns;
    int c0 = 0, c1 = 0, ovx = 0;
    if (sampling == Sampling::Nearest) {
        try {
            columns.resize(std::size_t(w));
        } catch (const std::bad_alloc&) {
            return RK_ERROR_NO_MEMORY;
        }
        for (int x = 0; x < w; ++x)
            columns[std::size_t(x)] = sourceIndex(p.srcX(pixels.left + x + 0.5), p.vx0, p.vx1);
    } else {
        ovx = overlapRows(p.kx, sampling);
        c0 = std::max(p.vx0, clampInt(std::floor(p.srcX(pixels.left))) - ovx);
        c1 = std::min(p.vx1, clampInt(std::ceil(p.srcX(pixels.right))) + ovx);
        if (c1 <= c0)
            return RK_SUCCESS;
    }
    // Wide sources are read in tiles of columns: destination columns per tile so that a
    // tile's source columns stay well within cairo's limits.
    const int tileW = sampling == Sampling::Nearest
                          ? w
                          : std::clamp(int(double(kTileColumns) / std::max(p.kx, 1e-9)), 1, w);
    const int bandCols = std::min(c1 - c0, kTileColumns + 2 * ovx + 2);
    DirectTarget direct;
    if (sampling == Sampling::Nearest && !conv.alpha() && directTarget(cr, pixels, direct)) {
        const RECT& r = direct.region;
        if (r.right <= r.left || r.bottom <= r.top)
            return RK_SUCCESS;
        const int n = r.right - r.left;
        const int* cols = columns.data() + (r.left - pixels.left);
        std::uint32_t* previous = nullptr;
        int lastRow = -1;
        for (int y = r.top; y < r.bottom; ++y) {
            auto* out = reinterpret_cast<std::uint32_t*>(
                direct.data + std::size_t(y + direct.dy) * std::size_t(direct.stride) +
                std::size_t(r.left + direct.dx) * 4);
            const int sy = sourceIndex(p.srcY(y + 0.5), p.vy0, p.vy1);
            if (sy == lastRow) {
                std::memcpy(out, previous, std::size_t(n) * 4);
            } else {
                const std::uint8_t* row = rows.row(sy);
                if (!row)
                    return rows.error();
                conv.sample(row, cols, n, out);
            }
            previous = out;
            lastRow = sy;
        }
        cairo_surface_mark_dirty_rectangle(direct.surface, r.left + direct.dx, r.top + direct.dy, n,
                                           r.bottom - r.top);
        return RK_SUCCESS;
    }
    // Destination rows per strip: bounded by the strip's memory and, through cairo, by the
    // band of source rows it reads.
    std::int64_t stripRows = std::int64_t(kStripBytes / (std::uint64_t(w) * 4));
    if (sampling != Sampling::Nearest) {
        const double bandRows = double(kBandBytes) / (double(bandCols) * 4.0);
        stripRows =
            std::min<std::int64_t>(stripRows, std::int64_t(bandRows / std::max(p.ky, 1e-9)));
    }
    stripRows = std::clamp<std::int64_t>(stripRows, 1, std::min(h, kCairoMaxSide));
    const int ov = overlapRows(p.ky, sampling);
    // One strip and one band of memory serve every strip: fresh surfaces would cost the
    // kernel's page clearing each time.
    std::vector<std::uint32_t> stripMemory, bandMemory;
    for (int y = pixels.top; y < pixels.bottom; y += int(stripRows)) {
        const int sh = int(std::min<std::int64_t>(stripRows, pixels.bottom - y));
        SurfaceGuard strip(newImage(CAIRO_FORMAT_ARGB32, w, sh, &stripMemory));
        if (!strip.ok())
            return RK_ERROR_NO_MEMORY;
        if (sampling == Sampling::Nearest) {
            if (int rc = sampleNearest(p, rows, conv, pixels.left, y, columns, strip.s, sh);
                rc <= 0)
                return rc;
        } else {
            const int r0 = std::max(p.vy0, clampInt(std::floor(p.srcY(y))) - ov);
            const int r1 = std::min(p.vy1, clampInt(std::ceil(p.srcY(y + sh))) + ov);
            if (r1 <= r0)
                continue;
            ContextGuard sc(strip.s);
            cairo_translate(sc.cr, -pixels.left, -y);
            cairo_set_operator(sc.cr, CAIRO_OPERATOR_SOURCE);
            for (int x = pixels.left; x < pixels.right; x += tileW) {
                const int xw = std::min(tileW, int(pixels.right - x));
                const int t0 = std::max(c0, clampInt(std::floor(p.srcX(x))) - ovx);
                const int t1 = std::min(c1, clampInt(std::ceil(p.srcX(x + xw))) + ovx);
                if (t1 <= t0)
                    continue;
                SurfaceGuard band;
                if (int rc = convertBand(rows, conv, t0, t1, r0, r1, band, &bandMemory); rc <= 0)
                    return rc;
                cairo_save(sc.cr);
                cairo_rectangle(sc.cr, x, y, xw, sh);
                cairo_clip(sc.cr);
                setBandSource(sc.cr, p, band.s, t0, r0, sampling);
                cairo_paint(sc.cr);
                cairo_restore(sc.cr);
                if (cairo_status(sc.cr) != CAIRO_STATUS_SUCCESS)
                    return RK_ERROR_NO_MEMORY;
            }
        }
        paintStrip(cr, strip.s, pixels.left, y, w, sh);
        if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
            return RK_FAILURE;
    }
    return RK_SUCCESS;
}

// Vector route for pictures that are not reduced: bands of source rows drawn at their own
// resolution, each clipped to exactly the destination span it covers.
int paintBands(cairo_t* cr, const Plan& p, const RECT& limit, RowSource& rows,
               const Converter& conv, Sampling sampling)
{
    const int c0 = p.vx0, c1 = p.vx1;
    if (c1 - c0 > kCairoMaxSide)
        return RK_ERROR_TOO_LARGE;
    const std::int64_t bandRows = std::clamp<std::int64_t>(
        std::int64_t(kBandBytes / (std::uint64_t(c1 - c0) * 4)), 1, kCairoMaxSide);
    const double x0 = std::max(p.destX(c0), double(limit.left));
    const double x1 = std::min(p.destX(c1), double(limit.right));
    for (int r0 = p.vy0; r0 < p.vy1; r0 += int(bandRows)) {
        const int r1 = int(std::min<std::int64_t>(p.vy1, r0 + bandRows));
        const double y0 = std::max(p.destY(r0), double(limit.top));
        const double y1 = std::min(p.destY(r1), double(limit.bottom));
        if (y1 <= y0 || x1 <= x0)
            continue;
        SurfaceGuard band;
        if (int rc = convertBand(rows, conv, c0, c1, r0, r1, band); rc <= 0)
            return rc;
        cairo_save(cr);
        cairo_new_path(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        setBandSource(cr, p, band.s, c0, r0, sampling);
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        cairo_fill(cr);
        cairo_restore(cr);
        if (cairo_status(cr) != CAIRO_STATUS_SUCCESS)
            return RK_FAILURE;
    }
    return RK_SUCCESS;
}

bool insideOut(const RECT* r)
{
    return r && (r->right < r->left || r->bottom < r->top);
}

bool emptyRect(const RECT& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

RECT intersect(const RECT& a, const RECT& b)
{
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

enum class Purpose { Display, Print };

// The common painting path. rop SRCCOPY draws with cairo; the others go through a nearest
// sampled copy handed to StretchDIBits.
int paint(HDC dc, const _BITMAPHANDLE* record, const RECT* src, const RECT* srcClip,
          const RECT* dst, const RECT* dstClip, std::uint32_t rop, Purpose purpose)
{
    rk::Bitmap* bm = nullptr;
    if (int rc = rk::resolve(record, &bm); rc <= 0)
        return rc;
    switch (rop) {
    case SRCCOPY:
    case NOTSRCCOPY:
    case SRCAND:
    case SRCPAINT:
    case SRCINVERT:
    case BLACKNESS:
    case WHITENESS:
        break;
    default:
        return RK_ERROR_INV_PARAMETER;
    }
    if (!dc || GetObjectType(dc) == 0)
        return RK_ERROR_INV_HANDLE;
    if (insideOut(src) || insideOut(srcClip) || insideOut(dst) || insideOut(dstClip))
        return RK_ERROR_INV_PARAMETER;
    const RECT whole{0, 0, bm->geo.width, bm->geo.height};
    const RECT s = src ? *src : whole;
    const RECT d = dst ? *dst : RECT{0, 0, s.right - s.left, s.bottom - s.top};
    if (emptyRect(s) || emptyRect(d))
        return RK_SUCCESS;
    RECT vs = intersect(s, whole);
    if (srcClip)
        vs = intersect(vs, *srcClip);
    if (emptyRect(vs))
        return RK_SUCCESS;

    Plan p{};
    p.sLeft = s.left;
    p.sTop = s.top;
    p.dLeft = d.left;
    p.dTop = d.top;
    p.kx = (double(s.right) - s.left) / (double(d.right) - d.left);
    p.ky = (double(s.bottom) - s.top) / (double(d.bottom) - d.top);
    p.vx0 = vs.left;
    p.vy0 = vs.top;
    p.vx1 = vs.right;
    p.vy1 = vs.bottom;
    RECT limit = dstClip ? intersect(d, *dstClip) : d;
    if (emptyRect(limit))
        return RK_SUCCESS;

    const std::uint32_t mode = gDisplayMode.load();
    std::uint32_t gamma = 0;
    if (gPaintSwitch.load())
        RkGetBitmapDisplayGamma(record, &gamma);
    const Converter conv(*bm, (mode & RK_DISPLAY_ALPHA) != 0, gamma);
    RowSource rows(*bm, record->ViewPerspective);
    if (!rows.init())
        return RK_ERROR_NO_MEMORY;
    const bool reducing = p.kx > 1.0 || p.ky > 1.0;

    if (rop != SRCCOPY) {
        // A nearest-sampled copy of the visible destination, combined by the context.
        RECT pixels = destPixels(p, limit);
        if (emptyRect(pixels))
            return RK_SUCCESS;
        const int w = pixels.right - pixels.left, h = pixels.bottom - pixels.top;
        std::vector<int> columns;
        try {
            columns.resize(std::size_t(w));
        } catch (const std::bad_alloc&) {
            return RK_ERROR_NO_MEMORY;
        }
        for (int x = 0; x < w; ++x)
            columns[std::size_t(x)] = sourceIndex(p.srcX(pixels.left + x + 0.5), p.vx0, p.vx1);
        const int stripRows = int(std::clamp<std::int64_t>(
            std::int64_t(kStripBytes / (std::uint64_t(w) * 4)), 1, std::min(h, kCairoMaxSide)));
        for (int y = pixels.top; y < pixels.bottom; y += stripRows) {
            const int sh = std::min(stripRows, int(pixels.bottom - y));
            SurfaceGuard strip(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, sh));
            if (!strip.ok())
                return RK_ERROR_NO_MEMORY;
            if (int rc = sampleNearest(p, rows, conv, pixels.left, y, columns, strip.s, sh);
                rc <= 0)
                return rc;
            cairo_surface_flush(strip.s);
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = cairo_image_surface_get_stride(strip.s) / 4;
            info.bmiHeader.biHeight = -sh;
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            if (StretchDIBits(dc, pixels.left, y, w, sh, 0, 0, w, sh,
                              cairo_image_surface_get_data(strip.s), &info, DIB_RGB_COLORS,
                              rop) <= 0)
                return RK_FAILURE;
        }
        return RK_SUCCESS;
    }

    win::CairoCanvas canvas(dc, &limit);
    if (canvas.nothingVisible())
        return RK_SUCCESS;
    if (!canvas.ok())
        return GetObjectType(dc) ? RK_FAILURE : RK_ERROR_INV_HANDLE;
    limit = intersect(limit, canvas.visible());

    Sampling sampling = Sampling::Bilinear;
    if (purpose == Purpose::Print || (mode & RK_DISPLAY_RESAMPLE))
        sampling = Sampling::Good;
    else if (mode & RK_DISPLAY_FAST)
        sampling = Sampling::Nearest;
    if (reducing && bm->geo.bits == 1 && (mode & RK_DISPLAY_SCALE_TO_GRAY))
        sampling = Sampling::Good;
    if (canvas.vector() && reducing && (mode & RK_DISPLAY_PRINT_RESAMPLE))
        sampling = Sampling::Good;
    // An unscaled picture at whole-unit offsets is copied pixel for pixel.
    if (p.kx == 1.0 && p.ky == 1.0)
        sampling = Sampling::Nearest;

    int rc;
    if (canvas.vector() && !reducing)
        rc = paintBands(canvas.cr(), p, limit, rows, conv, sampling);
    else {
        const RECT pixels = destPixels(p, limit);
        rc = emptyRect(pixels) ? RK_SUCCESS
                               : paintStrips(canvas.cr(), p, pixels, rows, conv, sampling);
    }
    if (!canvas.Finish() && rc > 0)
        rc = RK_FAILURE;
    return rc;
}

} // namespace

std::uint32_t RkSetDisplayMode(std::uint32_t mask, std::uint32_t value)
{
    std::uint32_t old = gDisplayMode.load();
    while (!gDisplayMode.compare_exchange_weak(old, (old & ~mask) | (value & mask))) {
    }
    return old;
}

int RkSetPaintSwitch(int on)
{
    return gPaintSwitch.exchange(on ? 1 : 0);
}

HPALETTE RkCreatePaintPalette(HDC dc, const _BITMAPHANDLE* bitmap)
{
    rk::Bitmap* bm = nullptr;
    if (!dc || GetObjectType(dc) == 0 || rk::resolve(bitmap, &bm) <= 0 || bm->geo.bits > 8 ||
        bm->palette.empty())
        return nullptr;
    const std::size_t n = bm->palette.size();
    std::vector<std::uint8_t> storage(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
    auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
    log->palVersion = 0x300;
    log->palNumEntries = WORD(n);
    for (std::size_t i = 0; i < n; ++i) {
        const tagRGBQUAD& q = bm->palette[i];
        log->palPalEntry[i] = PALETTEENTRY{q.rgbRed, q.rgbGreen, q.rgbBlue, 0};
    }
    return CreatePalette(log);
}

int RkPaintDC(HDC dc, const _BITMAPHANDLE* bitmap, const RECT* src, const RECT* srcClip,
              const RECT* dst, const RECT* dstClip, std::uint32_t rop)
{
    return paint(dc, bitmap, src, srcClip, dst, dstClip, rop, Purpose::Display);
}

int RkPaintDCEffect(HDC dc, const _BITMAPHANDLE* bitmap, const RECT* src, const RECT* srcClip,
                    const RECT* dst, const RECT* dstClip, unsigned effect, unsigned param)
{
    if (effect > RK_EFFECT_LAST)
        return RK_ERROR_INV_PARAMETER;
    if (effect == RK_EFFECT_NONE)
        return paint(dc, bitmap, src, srcClip, dst, dstClip, SRCCOPY, Purpose::Display);
    rk::Bitmap* bm = nullptr;
    if (int rc = rk::resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (insideOut(dst) || insideOut(dstClip))
        return RK_ERROR_INV_PARAMETER;
    const RECT s = src ? *src : RECT{0, 0, bm->geo.width, bm->geo.height};
    const RECT d = dst ? *dst : RECT{0, 0, s.right - s.left, s.bottom - s.top};
    const unsigned strips =
        param >= 1 && param <= RK_EFFECT_MAX_STRIPS ? param : RK_EFFECT_DEFAULT_STRIPS;
    const bool horizontal = effect == RK_EFFECT_WIPE_RIGHT || effect == RK_EFFECT_WIPE_LEFT;
    const std::int64_t extent =
        horizontal ? std::int64_t(d.right) - d.left : std::int64_t(d.bottom) - d.top;
    for (unsigned i = 0; i < strips; ++i) {
        // Strip i of the wipe, counted from the edge the effect starts at.
        std::int64_t a = extent * i / strips, b = extent * (i + 1) / strips;
        if (effect == RK_EFFECT_WIPE_LEFT || effect == RK_EFFECT_WIPE_UP) {
            const std::int64_t na = extent - b, nb = extent - a;
            a = na;
            b = nb;
        }
        RECT strip = d;
        if (horizontal) {
            strip.left = LONG(d.left + a);
            strip.right = LONG(d.left + b);
        } else {
            strip.top = LONG(d.top + a);
            strip.bottom = LONG(d.top + b);
        }
        if (dstClip)
            strip = intersect(strip, *dstClip);
        if (emptyRect(strip))
            continue;
        if (int rc = paint(dc, bitmap, &s, srcClip, &d, &strip, SRCCOPY, Purpose::Display); rc <= 0)
            return rc;
    }
    return RK_SUCCESS;
}

int RkPrintBitmap(HDC dc, const _BITMAPHANDLE* bitmap, int x, int y, int width, int height,
                  std::uint32_t flags)
{
    rk::Bitmap* bm = nullptr;
    if (int rc = rk::resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (flags != 0 || width < 0 || height < 0)
        return RK_ERROR_INV_PARAMETER;
    if (!dc || GetObjectType(dc) == 0)
        return RK_ERROR_INV_HANDLE;
    auto natural = [](int pixels, int resolution, int deviceDpi) {
        const double dpi = resolution > 0 ? resolution : 72.0;
        return std::llround(double(pixels) * (deviceDpi > 0 ? deviceDpi : 96) / dpi);
    };
    std::int64_t w = width, h = height;
    if (w == 0 && h == 0) {
        w = natural(bm->geo.width, bitmap->XResolution, GetDeviceCaps(dc, LOGPIXELSX));
        h = natural(bm->geo.height, bitmap->YResolution, GetDeviceCaps(dc, LOGPIXELSY));
    } else if (w == 0) {
        w = std::llround(double(h) * bm->geo.width / bm->geo.height);
    } else if (h == 0) {
        h = std::llround(double(w) * bm->geo.height / bm->geo.width);
    }
    if (std::int64_t(x) + w > INT32_MAX || std::int64_t(y) + h > INT32_MAX)
        return RK_ERROR_INV_PARAMETER;
    const RECT d{x, y, LONG(x + w), LONG(y + h)};
    return paint(dc, bitmap, nullptr, nullptr, &d, nullptr, SRCCOPY, Purpose::Print);
}
