// cairo_draw.cpp - CairoCanvas: cairo drawing on host contexts directly, on every other
// context through a 32-bit copy of the area that is written back.
#include "win/cairo_draw.h"

#include "win/cairo_dc.h"
#include "win/gdi.h"

#include <algorithm>
#include <cairo.h>
#include <climits>
#include <cmath>

namespace win {

namespace {

bool vectorSurface(cairo_surface_t* s)
{
    switch (cairo_surface_get_type(s)) {
    case CAIRO_SURFACE_TYPE_PDF:
    case CAIRO_SURFACE_TYPE_PS:
    case CAIRO_SURFACE_TYPE_SVG:
    case CAIRO_SURFACE_TYPE_RECORDING:
    case CAIRO_SURFACE_TYPE_SCRIPT:
        return true;
    default:
        return false;
    }
}

LONG clampLong(double v)
{
    if (!(v > double(INT_MIN)))
        return INT_MIN;
    if (!(v < double(INT_MAX)))
        return INT_MAX;
    return LONG(v);
}

RECT intersect(const RECT& a, const RECT& b)
{
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left)
        r.right = r.left;
    if (r.bottom < r.top)
        r.bottom = r.top;
    return r;
}

bool empty(const RECT& r)
{
    return r.right <= r.left || r.bottom <= r.top;
}

} // namespace

CairoCanvas::CairoCanvas(HDC dc, const RECT* area) : dc_(dc)
{
    if (cairo_t* host = WinGetDCCairo(dc)) {
        host_ = true;
        vector_ = vectorSurface(cairo_get_target(host));
        double x0, y0, x1, y1;
        cairo_save(host);
        cairo_new_path(host);
        if (area) {
            cairo_rectangle(host, area->left, area->top, double(area->right) - area->left,
                            double(area->bottom) - area->top);
            cairo_clip(host);
        }
        cairo_clip_extents(host, &x0, &y0, &x1, &y1);
        visible_ = RECT{clampLong(std::floor(x0)), clampLong(std::floor(y0)),
                        clampLong(std::ceil(x1)), clampLong(std::ceil(y1))};
        if (area)
            visible_ = intersect(visible_, *area);
        if (empty(visible_) || cairo_status(host) != CAIRO_STATUS_SUCCESS) {
            nothing_ = empty(visible_) && cairo_status(host) == CAIRO_STATUS_SUCCESS;
            cairo_restore(host);
            return;
        }
        cr_ = host;
        return;
    }
    const int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
    if (width <= 0 || height <= 0)
        return;
    visible_ = RECT{0, 0, width, height};
    if (area)
        visible_ = intersect(visible_, *area);
    if (empty(visible_)) {
        nothing_ = true;
        return;
    }
    const int w = visible_.right - visible_.left, h = visible_.bottom - visible_.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    section_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!section_)
        return;
    memDc_ = CreateCompatibleDC(nullptr);
    if (!memDc_)
        return;
    previous_ = SelectObject(memDc_, section_);
    if (!previous_ || !BitBlt(memDc_, 0, 0, w, h, dc, visible_.left, visible_.top, SRCCOPY))
        return;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        static_cast<unsigned char*>(bits), CAIRO_FORMAT_RGB24, w, h, w * 4);
    cairo_t* cr = cairo_create(surface);
    cairo_surface_destroy(surface); // the context keeps it
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        return;
    }
    cairo_translate(cr, -double(visible_.left), -double(visible_.top));
    cr_ = cr;
}

CairoCanvas::~CairoCanvas()
{
    Finish();
    if (!host_ && cr_)
        cairo_destroy(cr_);
    if (memDc_) {
        if (previous_)
            SelectObject(memDc_, previous_);
        DeleteDC(memDc_);
    }
    if (section_)
        DeleteObject(section_);
}

bool CairoCanvas::Finish()
{
    if (finished_)
        return result_;
    finished_ = true;
    if (!cr_)
        return result_ = false;
    result_ = cairo_status(cr_) == CAIRO_STATUS_SUCCESS;
    if (host_) {
        cairo_restore(cr_);
        return result_;
    }
    cairo_surface_flush(cairo_get_target(cr_));
    if (result_) {
        const int w = visible_.right - visible_.left, h = visible_.bottom - visible_.top;
        result_ = BitBlt(dc_, visible_.left, visible_.top, w, h, memDc_, 0, 0, SRCCOPY) != FALSE;
    }
    return result_;
}

} // namespace win
