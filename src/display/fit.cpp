// fit.cpp - fitting an image into an area (CalcDisplayRect) and drawing it there (Pintar).
#include "display/display_internal.h"

#include <cmath>
#include <core/last_error.h>
#include <cstdint>
#include <dib/internal/status_map.h>
#include <limits>
#include <raster/kernel_status.h>
#include <raster/paint/paint.h>

namespace {

bool FitsLong(double v)
{
    return v >= double(std::numeric_limits<std::int32_t>::min()) &&
           v <= double(std::numeric_limits<std::int32_t>::max());
}

} // namespace

int TDib::CalcDisplayRect(const tagRECT* area, tagRECT* out, unsigned short flags) const
{
    const int imageW = GetMidaX(), imageH = GetMidaY();
    if (!area || !out || imageW <= 0 || imageH <= 0) {
        core::SetLastErrorText("no area, no result or an empty image");
        return DIB_ERR_INVALID;
    }
    // In double throughout: the area's extent and the scaled sizes may pass 32 bits.
    const double aw = double(area->right) - double(area->left);
    const double ah = double(area->bottom) - double(area->top);
    if (aw < 1 || ah < 1) {
        core::SetLastErrorText("an empty area");
        return DIB_ERR_INVALID;
    }
    const double ratio = double(imageH) / double(imageW);
    double w = aw;
    double h = std::trunc(std::floor(aw * ratio));
    if (h > ah && !(flags & 16)) {
        h = ah;
        w = std::trunc(std::floor(ah / ratio));
    }
    double left = area->left, top = area->top;
    switch (flags & 3) {
    case 0:
        break;
    case 2:
        left = double(area->right) - w;
        break;
    default:
        left = double(area->left) + std::trunc((aw - w) / 2);
        break;
    }
    switch (flags & 12) {
    case 0:
        break;
    case 8:
        top = double(area->bottom) - h;
        break;
    default:
        top = double(area->top) + std::trunc((ah - h) / 2);
        break;
    }
    if (!FitsLong(left) || !FitsLong(top) || !FitsLong(left + w) || !FitsLong(top + h)) {
        core::SetLastErrorText("the fitted rectangle does not fit 32-bit coordinates");
        return DIB_ERR_INVALID;
    }
    *out = tagRECT{LONG(left), LONG(top), LONG(left + w), LONG(top + h)};
    return DIB_OK;
}

int TDib::Pintar(CDC* dc, CRect& area, unsigned short flags) const
{
    tagRECT fitted{};
    if (int r = CalcDisplayRect(&area, &fitted, flags); r < 0)
        return r;
    HDC hdc = dc ? dc->GetSafeHdc() : nullptr;
    const std::uint32_t grey = (flags & 64) ? 0 : RK_DISPLAY_SCALE_TO_GRAY;
    const std::uint32_t before = RkSetDisplayMode(RK_DISPLAY_SCALE_TO_GRAY, grey);
    if (GetBitsPerPixel() >= 9 && m_canalAlpha >= 1 &&
        DisplayGDIPlus(dc, nullptr, &fitted, nullptr, SRCCOPY, 1, nullptr, 0) == DIB_OK) {
        RkSetDisplayMode(RK_DISPLAY_SCALE_TO_GRAY, before);
        static_cast<tagRECT&>(area) = fitted;
        return DIB_OK;
    }
    int r;
    {
        dib::display::PaintSession session(hdc, &m_bitmap, false, true);
        r = RkPaintDC(hdc, &m_bitmap, nullptr, nullptr, &fitted, nullptr, SRCCOPY);
    }
    RkSetDisplayMode(RK_DISPLAY_SCALE_TO_GRAY, before);
    static_cast<tagRECT&>(area) = fitted;
    if (r <= 0)
        core::SetLastErrorTextF("painting failed: %s", RkStatusText(r));
    return dib::StatusFromKernel(r);
}
