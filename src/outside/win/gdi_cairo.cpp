// gdi_cairo.cpp - device contexts on a host's cairo context.
//
// Contents: Reader (pixels of an image surface seen through the context's transformation),
// image surfaces from our bitmaps, hostRead, hostPixel, hostFill, hostStretch, hostDrawIcon,
// WinCreateCairoDC, WinGetDCCairo.
//
// Writes go through cairo in user space, so the host's transformation and clip apply and a
// vector surface (PDF) receives images at their own resolution. Reads map a user-space pixel
// centre through the transformation and the surface's device offset to a surface pixel.
#include "win/cairo_dc.h"
#include "win/gdi_internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace wingdi {

Dc::~Dc()
{
    if (cairo)
        cairo_destroy(cairo);
}

namespace {

constexpr int kCairoMaxSide = 32767; // image surfaces are limited to this many pixels a side

struct SurfaceGuard {
    cairo_surface_t* s = nullptr;
    ~SurfaceGuard()
    {
        if (s)
            cairo_surface_destroy(s);
    }
};

struct PatternGuard {
    cairo_pattern_t* p = nullptr;
    ~PatternGuard()
    {
        if (p)
            cairo_pattern_destroy(p);
    }
};

// Reads the picture of a context whose target is an ARGB32 or RGB24 image surface.
class Reader {
public:
    explicit Reader(cairo_t* cr)
    {
        cairo_surface_t* target = cairo_get_target(cr);
        if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE)
            return;
        format_ = cairo_image_surface_get_format(target);
        if (format_ != CAIRO_FORMAT_ARGB32 && format_ != CAIRO_FORMAT_RGB24)
            return;
        cairo_surface_flush(target);
        data_ = cairo_image_surface_get_data(target);
        stride_ = cairo_image_surface_get_stride(target);
        width_ = cairo_image_surface_get_width(target);
        height_ = cairo_image_surface_get_height(target);
        cairo_get_matrix(cr, &matrix_);
        cairo_surface_get_device_offset(target, &offsetX_, &offsetY_);
    }
    bool ok() const { return data_ != nullptr; }

    // The colour under the centre of user pixel (x, y); black outside the surface.
    COLORREF pixel(int x, int y) const
    {
        double dx = x + 0.5, dy = y + 0.5;
        cairo_matrix_transform_point(&matrix_, &dx, &dy);
        const double px = std::floor(dx + offsetX_), py = std::floor(dy + offsetY_);
        if (!(px >= 0 && py >= 0 && px < width_ && py < height_))
            return 0;
        std::uint32_t v;
        std::memcpy(&v, data_ + std::size_t(py) * std::size_t(stride_) + std::size_t(px) * 4, 4);
        unsigned r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF, a = v >> 24;
        if (format_ == CAIRO_FORMAT_ARGB32 && a != 255) {
            // Premultiplied: bring the colour back to full strength.
            if (a == 0)
                return 0;
            r = std::min(255u, (r * 255 + a / 2) / a);
            g = std::min(255u, (g * 255 + a / 2) / a);
            b = std::min(255u, (b * 255 + a / 2) / a);
        }
        return RGB(BYTE(r), BYTE(g), BYTE(b));
    }

private:
    unsigned char* data_ = nullptr;
    cairo_format_t format_ = CAIRO_FORMAT_INVALID;
    int stride_ = 0, width_ = 0, height_ = 0;
    cairo_matrix_t matrix_{};
    double offsetX_ = 0, offsetY_ = 0;
};

// An opaque image of source's pixels [x0, x1) x [y0, y1), inverted for NOTSRCCOPY. Null when
// the region is empty or too large for cairo.
cairo_surface_t* imageOf(const Bitmap& source, const Span& region, bool invert)
{
    const std::int64_t w = region.x1 - region.x0, h = region.y1 - region.y0;
    if (w <= 0 || h <= 0 || w > kCairoMaxSide || h > kCairoMaxSide)
        return nullptr;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(w), int(h));
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return nullptr;
    }
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (std::int64_t y = 0; y < h; ++y) {
        const BYTE* in = source.row(region.y0 + y);
        auto* out = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * std::size_t(stride));
        for (std::int64_t x = 0; x < w; ++x) {
            COLORREF c = source.decode(source.readRaw(in, region.x0 + x));
            if (invert)
                c = ~c & 0xFFFFFF;
            out[x] = 0xFF000000u | (std::uint32_t(GetRValue(c)) << 16) |
                     (std::uint32_t(GetGValue(c)) << 8) | GetBValue(c);
        }
    }
    cairo_surface_mark_dirty(image);
    return image;
}

// Paints the bitmap's region [x0, x1) x [y0, y1) of target back at the same place, 1:1.
void paintBack(Dc& dc, const Bitmap& target, const Span& region)
{
    SurfaceGuard image{imageOf(target, region, false)};
    if (!image.s)
        return;
    cairo_t* cr = dc.cairo;
    cairo_save(cr);
    cairo_set_source_surface(cr, image.s, double(region.x0), double(region.y0));
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr, double(region.x0), double(region.y0), double(region.x1 - region.x0),
                    double(region.y1 - region.y0));
    cairo_fill(cr);
    cairo_restore(cr);
}

std::int64_t magnitude(std::int64_t v)
{
    return v < 0 ? -v : v;
}

} // namespace

std::unique_ptr<Bitmap> hostRead(Dc& dc)
{
    Reader reader(dc.cairo);
    if (!reader.ok())
        return nullptr;
    auto copy = newBitmap(dc.hostWidth, dc.hostHeight, 32, true, nullptr, 0, nullptr);
    if (!copy)
        return nullptr;
    for (int y = 0; y < dc.hostHeight; ++y) {
        BYTE* row = copy->row(y);
        for (int x = 0; x < dc.hostWidth; ++x)
            copy->writeRaw(row, x, copy->encode(reader.pixel(x, y)));
    }
    return copy;
}

COLORREF hostPixel(Dc& dc, int x, int y)
{
    if (x < 0 || y < 0 || x >= dc.hostWidth || y >= dc.hostHeight)
        return CLR_INVALID;
    Reader reader(dc.cairo);
    return reader.ok() ? reader.pixel(x, y) : CLR_INVALID;
}

void hostFill(Dc& dc, const RECT& rect, COLORREF colour)
{
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return;
    cairo_t* cr = dc.cairo;
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgb(cr, GetRValue(colour) / 255.0, GetGValue(colour) / 255.0,
                         GetBValue(colour) / 255.0);
    cairo_rectangle(cr, rect.left, rect.top, double(rect.right) - rect.left,
                    double(rect.bottom) - rect.top);
    cairo_fill(cr);
    cairo_restore(cr);
}

bool hostStretch(Dc& dc, Extent d, const Bitmap* source, Extent s, DWORD rop)
{
    const std::int64_t dw = magnitude(d.width), dh = magnitude(d.height);
    const std::int64_t dx0 = d.width < 0 ? std::int64_t(d.x) + d.width : d.x;
    const std::int64_t dy0 = d.height < 0 ? std::int64_t(d.y) + d.height : d.y;
    if (rop == BLACKNESS || rop == WHITENESS) {
        hostFill(dc, RECT{LONG(dx0), LONG(dy0), LONG(dx0 + dw), LONG(dy0 + dh)},
                 rop == WHITENESS ? 0xFFFFFF : 0);
        return true;
    }
    if (!source)
        return false;
    if (rop != SRCCOPY && rop != NOTSRCCOPY) {
        // Operations that combine with what is shown: on a copy of the picture, painted back.
        auto picture = hostRead(dc);
        if (!picture)
            return false;
        stretch(*picture, d, source, s, rop);
        paintBack(dc, *picture, clip({dx0, dy0, dx0 + dw, dy0 + dh}, *picture));
        return true;
    }
    const std::int64_t sw = magnitude(s.width), sh = magnitude(s.height);
    const std::int64_t sx0 = s.width < 0 ? std::int64_t(s.x) + s.width : s.x;
    const std::int64_t sy0 = s.height < 0 ? std::int64_t(s.y) + s.height : s.y;
    const bool mirrorX = (d.width < 0) != (s.width < 0);
    const bool mirrorY = (d.height < 0) != (s.height < 0);
    // Only the part of the source rectangle inside the bitmap is imaged; the rest of the
    // destination stays as it is (the pattern is transparent outside the image).
    const Span region = clip({sx0, sy0, sx0 + sw, sy0 + sh}, *source);
    if (region.empty())
        return true;
    SurfaceGuard image{imageOf(*source, region, rop == NOTSRCCOPY)};
    if (!image.s)
        return false;
    PatternGuard pattern{cairo_pattern_create_for_surface(image.s)};
    // User space to image space: u -> (u - dx0) * sw / dw + sx0 - regionX0, or mirrored.
    const double kx = double(sw) / double(dw), ky = double(sh) / double(dh);
    cairo_matrix_t m;
    cairo_matrix_init(
        &m, mirrorX ? -kx : kx, 0, 0, mirrorY ? -ky : ky,
        mirrorX ? double(sx0 + sw - region.x0) + dx0 * kx : double(sx0 - region.x0) - dx0 * kx,
        mirrorY ? double(sy0 + sh - region.y0) + dy0 * ky : double(sy0 - region.y0) - dy0 * ky);
    cairo_pattern_set_matrix(pattern.p, &m);
    cairo_pattern_set_filter(pattern.p,
                             dc.stretchMode == HALFTONE ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
    cairo_pattern_set_extend(pattern.p, CAIRO_EXTEND_NONE);
    cairo_t* cr = dc.cairo;
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source(cr, pattern.p);
    cairo_rectangle(cr, double(dx0), double(dy0), double(dw), double(dh));
    cairo_fill(cr);
    cairo_restore(cr);
    return true;
}

void hostDrawIcon(Dc& dc, int x, int y, const Icon& icon)
{
    const int w = icon.width(), h = icon.height();
    if (auto picture = hostRead(dc)) {
        drawIcon(*picture, x, y, icon);
        paintBack(dc, *picture, clip({x, y, std::int64_t(x) + w, std::int64_t(y) + h}, *picture));
        return;
    }
    // Without the picture: opaque pixels (AND bit 0) are painted, transparent ones (AND 1, XOR
    // black) left alone, and the others (AND 1, XOR colour) combined with the difference
    // operator, which inverts exactly for a white XOR colour.
    if (w > kCairoMaxSide || h > kCairoMaxSide)
        return;
    SurfaceGuard opaque{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)};
    SurfaceGuard inverting{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)};
    if (cairo_surface_status(opaque.s) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_status(inverting.s) != CAIRO_STATUS_SUCCESS)
        return;
    const Bitmap& mask = *icon.mask;
    const Bitmap& xorBitmap = icon.colour ? *icon.colour : mask;
    const int xorOffset = icon.colour ? 0 : h;
    bool anyInverting = false;
    for (int iy = 0; iy < h; ++iy) {
        auto* o = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(opaque.s) +
                                                   std::size_t(iy) *
                                                       cairo_image_surface_get_stride(opaque.s));
        auto* v = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(inverting.s) +
                                                   std::size_t(iy) *
                                                       cairo_image_surface_get_stride(inverting.s));
        const BYTE* andRow = mask.row(iy);
        const BYTE* xorRow = xorBitmap.row(iy + xorOffset);
        for (int ix = 0; ix < w; ++ix) {
            const COLORREF a = mask.decode(mask.readRaw(andRow, ix));
            const COLORREF c = xorBitmap.decode(xorBitmap.readRaw(xorRow, ix));
            const std::uint32_t argb = 0xFF000000u | (std::uint32_t(GetRValue(c)) << 16) |
                                       (std::uint32_t(GetGValue(c)) << 8) | GetBValue(c);
            o[ix] = a == 0 ? argb : 0;
            v[ix] = a != 0 && c != 0 ? argb : 0;
            anyInverting = anyInverting || v[ix] != 0;
        }
    }
    cairo_surface_mark_dirty(opaque.s);
    cairo_surface_mark_dirty(inverting.s);
    cairo_t* cr = dc.cairo;
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_set_source_surface(cr, opaque.s, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    if (anyInverting) {
        cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
        cairo_set_source_surface(cr, inverting.s, x, y);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
    }
    cairo_restore(cr);
}

} // namespace wingdi

using namespace wingdi;

HDC WinCreateCairoDC(cairo_t* cr, int width, int height, int dpi)
{
    if (!cr || cairo_status(cr) != CAIRO_STATUS_SUCCESS || width <= 0 || height <= 0 || dpi < 0)
        return nullptr;
    auto d = std::unique_ptr<Dc>(new (std::nothrow) Dc);
    if (!d)
        return nullptr;
    d->target = Dc::Target::Host;
    d->cairo = cairo_reference(cr);
    d->hostWidth = width;
    d->hostHeight = height;
    d->hostDpi = dpi ? dpi : kDpi;
    Registry& r = registry();
    d->brush = r.stockBrushes[WHITE_BRUSH];
    d->palette = r.stockPalette;
    return static_cast<HDC>(r.add(std::move(d)));
}

cairo_t* WinGetDCCairo(HDC dc)
{
    // A context's target and cairo reference never change after creation.
    auto d = registry().dc(dc);
    return d && d->target == Dc::Target::Host ? d->cairo : nullptr;
}
