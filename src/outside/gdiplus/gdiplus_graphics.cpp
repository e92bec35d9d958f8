// gdiplus_graphics.cpp - GDI+-shaped bitmaps and graphics objects drawing with cairo.
//
// Contents: the live-object table (every call checks its pointers against it), bitmaps over
// caller pixels, graphics objects, and drawing: the source rectangle is converted once to a
// premultiplied cairo image and drawn through a pattern onto a CairoCanvas of the target.
#include "gdiplus/gdiplus_graphics.h"

#include "win/cairo_draw.h"
#include "win/gdi.h"

#include <algorithm>
#include <cairo.h>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

GpImage::~GpImage() = default;

namespace {
// A bitmap over the caller's pixels.
class MemoryBitmap final : public GpBitmap {
public:
    int stride = 0;
    PixelFormat format = 0;
    BYTE* scan0 = nullptr;
};
} // namespace

struct GpGraphics {
    HDC dc = nullptr;
    InterpolationMode interpolation = InterpolationModeBilinear;
    SmoothingMode smoothing = SmoothingModeNone;
    bool clipped = false;
    RECT clip{};
};

namespace {

// Images larger than this are refused by the drawing calls (cairo's side limit, and a bound on
// the converted copy).
constexpr int kMaxSide = 32767;
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 27;

struct Live {
    std::mutex mutex;
    std::unordered_set<const void*> objects;
};
Live& live()
{
    static Live* l = new Live; // never destroyed: objects may be released during exit
    return *l;
}
} // namespace

bool GpIsLive(const void* p)
{
    if (!p)
        return false;
    std::lock_guard lock(live().mutex);
    return live().objects.count(p) != 0;
}
bool GpAddLive(const void* p)
{
    std::lock_guard lock(live().mutex);
    try {
        live().objects.insert(p);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
bool GpRemoveLive(const void* p)
{
    std::lock_guard lock(live().mutex);
    return live().objects.erase(p) != 0;
}

namespace {

int bytesPerPixel(PixelFormat f)
{
    switch (f) {
    case PixelFormat24bppRGB:
        return 3;
    case PixelFormat32bppRGB:
    case PixelFormat32bppARGB:
        return 4;
    default:
        return 0;
    }
}

cairo_filter_t filterOf(InterpolationMode mode)
{
    switch (mode) {
    case InterpolationModeNearestNeighbor:
        return CAIRO_FILTER_NEAREST;
    case InterpolationModeBicubic:
    case InterpolationModeHighQuality:
    case InterpolationModeHighQualityBicubic:
    case InterpolationModeHighQualityBilinear:
        return CAIRO_FILTER_GOOD;
    default:
        return CAIRO_FILTER_BILINEAR;
    }
}

// The image's pixels [x0, x1) x [y0, y1) as a premultiplied cairo image.
cairo_surface_t* surfaceOf(const MemoryBitmap& image, int x0, int y0, int x1, int y1)
{
    const bool alpha = image.format == PixelFormat32bppARGB;
    cairo_surface_t* s = cairo_image_surface_create(
        alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, x1 - x0, y1 - y0);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS)
        return s;
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    const int bpp = bytesPerPixel(image.format);
    for (int y = y0; y < y1; ++y) {
        const BYTE* in = image.scan0 + std::size_t(y) * std::size_t(image.stride);
        auto* out = reinterpret_cast<std::uint32_t*>(data + std::size_t(y - y0) * stride);
        for (int x = x0; x < x1; ++x) {
            const BYTE* p = in + std::size_t(x) * bpp;
            std::uint32_t b = p[0], g = p[1], r = p[2], a = alpha ? p[3] : 255;
            if (a != 255) {
                b = (b * a + 127) / 255;
                g = (g * a + 127) / 255;
                r = (r * a + 127) / 255;
            }
            out[x - x0] = (a << 24) | (r << 16) | (g << 8) | b;
        }
    }
    cairo_surface_mark_dirty(s);
    return s;
}

GpStatus draw(GpGraphics* g, GpImage* image, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
              int sh)
{
    if (!GpIsLive(g) || !GpIsLive(image) || dw < 0 || dh < 0 || sw < 0 || sh < 0)
        return InvalidParameter;
    const auto* pixels = dynamic_cast<const MemoryBitmap*>(image);
    if (!pixels)
        return NotImplemented; // drawn only from bitmaps over caller pixels
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0)
        return Ok;
    // The part of the source rectangle inside the image, and where it lands.
    const std::int64_t x0 = std::max<std::int64_t>(sx, 0), y0 = std::max<std::int64_t>(sy, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(sx) + sw, image->width);
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t(sy) + sh, image->height);
    if (x1 <= x0 || y1 <= y0)
        return Ok;
    if (x1 - x0 > kMaxSide || y1 - y0 > kMaxSide || (x1 - x0) * (y1 - y0) > kMaxPixels)
        return ValueOverflow;
    const double kx = double(sw) / dw, ky = double(sh) / dh;
    const double ux0 = dx + (x0 - sx) / kx, uy0 = dy + (y0 - sy) / ky;
    const double ux1 = dx + (x1 - sx) / kx, uy1 = dy + (y1 - sy) / ky;

    RECT area{dx, dy, LONG(std::int64_t(dx) + dw), LONG(std::int64_t(dy) + dh)};
    if (g->clipped) {
        area.left = std::max(area.left, g->clip.left);
        area.top = std::max(area.top, g->clip.top);
        area.right = std::min(area.right, g->clip.right);
        area.bottom = std::min(area.bottom, g->clip.bottom);
        if (area.right <= area.left || area.bottom <= area.top)
            return Ok;
    }
    win::CairoCanvas canvas(g->dc, &area);
    if (canvas.nothingVisible())
        return Ok;
    if (!canvas.ok())
        return GetObjectType(g->dc) ? GenericError : InvalidParameter;
    cairo_surface_t* surface = surfaceOf(*pixels, int(x0), int(y0), int(x1), int(y1));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return OutOfMemory;
    }
    cairo_t* cr = canvas.cr();
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_surface_destroy(surface); // the pattern keeps it
    cairo_pattern_t* pattern = cairo_get_source(cr);
    cairo_matrix_t m;
    // user u -> image column sx + (u - dx) * kx, relative to the converted part.
    cairo_matrix_init(&m, kx, 0, 0, ky, sx - x0 - dx * kx, sy - y0 - dy * ky);
    cairo_pattern_set_matrix(pattern, &m);
    cairo_pattern_set_filter(pattern, filterOf(g->interpolation));
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_rectangle(cr, ux0, uy0, ux1 - ux0, uy1 - uy0);
    cairo_fill(cr);
    cairo_restore(cr);
    return canvas.Finish() ? Ok : GenericError;
}

} // namespace

GpStatus GdipCreateBitmapFromScan0(int width, int height, int stride, PixelFormat format,
                                   BYTE* scan0, GpBitmap** bitmap)
{
    if (!bitmap)
        return InvalidParameter;
    *bitmap = nullptr;
    const int bpp = bytesPerPixel(format);
    if (!scan0 || width < 1 || height < 1 || bpp == 0 ||
        std::int64_t(stride) < std::int64_t(width) * bpp)
        return InvalidParameter;
    auto* b = new (std::nothrow) MemoryBitmap;
    if (!b)
        return OutOfMemory;
    b->width = width;
    b->height = height;
    b->stride = stride;
    b->format = format;
    b->scan0 = scan0;
    if (!GpAddLive(static_cast<GpImage*>(b))) {
        delete b;
        return OutOfMemory;
    }
    *bitmap = b;
    return Ok;
}

GpStatus GdipDisposeImage(GpImage* image)
{
    if (!GpRemoveLive(image))
        return InvalidParameter;
    delete image;
    return Ok;
}

GpStatus GdipGetImageWidth(GpImage* image, UINT* width)
{
    if (!GpIsLive(image) || !width)
        return InvalidParameter;
    *width = UINT(image->width);
    return Ok;
}

GpStatus GdipGetImageHeight(GpImage* image, UINT* height)
{
    if (!GpIsLive(image) || !height)
        return InvalidParameter;
    *height = UINT(image->height);
    return Ok;
}

GpStatus GdipCreateFromHDC(HDC dc, GpGraphics** graphics)
{
    if (!graphics)
        return InvalidParameter;
    *graphics = nullptr;
    if (!dc || GetObjectType(dc) == 0)
        return InvalidParameter;
    auto* g = new (std::nothrow) GpGraphics;
    if (!g)
        return OutOfMemory;
    g->dc = dc;
    if (!GpAddLive(g)) {
        delete g;
        return OutOfMemory;
    }
    *graphics = g;
    return Ok;
}

GpStatus GdipDeleteGraphics(GpGraphics* graphics)
{
    if (!GpRemoveLive(graphics))
        return InvalidParameter;
    delete graphics;
    return Ok;
}

GpStatus GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode mode)
{
    if (!GpIsLive(graphics) || mode < InterpolationModeDefault ||
        mode > InterpolationModeHighQualityBicubic)
        return InvalidParameter;
    graphics->interpolation = mode;
    return Ok;
}

GpStatus GdipGetInterpolationMode(GpGraphics* graphics, InterpolationMode* mode)
{
    if (!GpIsLive(graphics) || !mode)
        return InvalidParameter;
    *mode = graphics->interpolation;
    return Ok;
}

GpStatus GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode mode)
{
    if (!GpIsLive(graphics) || mode < SmoothingModeDefault || mode > SmoothingModeAntiAlias)
        return InvalidParameter;
    graphics->smoothing = mode;
    return Ok;
}

GpStatus GdipGetSmoothingMode(GpGraphics* graphics, SmoothingMode* mode)
{
    if (!GpIsLive(graphics) || !mode)
        return InvalidParameter;
    *mode = graphics->smoothing;
    return Ok;
}

GpStatus GdipSetClipRectI(GpGraphics* graphics, int x, int y, int width, int height,
                          CombineMode mode)
{
    if (!GpIsLive(graphics) || width < 0 || height < 0 ||
        (mode != CombineModeReplace && mode != CombineModeIntersect))
        return InvalidParameter;
    RECT r{x, y, LONG(std::min<std::int64_t>(std::int64_t(x) + width, INT32_MAX)),
           LONG(std::min<std::int64_t>(std::int64_t(y) + height, INT32_MAX))};
    if (mode == CombineModeIntersect && graphics->clipped) {
        r.left = std::max(r.left, graphics->clip.left);
        r.top = std::max(r.top, graphics->clip.top);
        r.right = std::max(r.left, std::min(r.right, graphics->clip.right));
        r.bottom = std::max(r.top, std::min(r.bottom, graphics->clip.bottom));
    }
    graphics->clip = r;
    graphics->clipped = true;
    return Ok;
}

GpStatus GdipResetClip(GpGraphics* graphics)
{
    if (!GpIsLive(graphics))
        return InvalidParameter;
    graphics->clipped = false;
    return Ok;
}

GpStatus GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, int dstx, int dsty,
                                int dstwidth, int dstheight, int srcx, int srcy, int srcwidth,
                                int srcheight, GpUnit srcUnit, const GpImageAttributes* attributes,
                                DrawImageAbort callback, void* callbackData)
{
    (void)callback;
    (void)callbackData;
    if (srcUnit != UnitPixel || attributes)
        return InvalidParameter;
    return draw(graphics, image, dstx, dsty, dstwidth, dstheight, srcx, srcy, srcwidth, srcheight);
}

GpStatus GdipDrawImagePointRectI(GpGraphics* graphics, GpImage* image, int x, int y, int srcx,
                                 int srcy, int srcwidth, int srcheight, GpUnit srcUnit)
{
    if (srcUnit != UnitPixel)
        return InvalidParameter;
    return draw(graphics, image, x, y, srcwidth, srcheight, srcx, srcy, srcwidth, srcheight);
}

GpStatus GdipDrawImageRectI(GpGraphics* graphics, GpImage* image, int x, int y, int width,
                            int height)
{
    if (!GpIsLive(image))
        return InvalidParameter;
    return draw(graphics, image, x, y, width, height, 0, 0, image->width, image->height);
}
