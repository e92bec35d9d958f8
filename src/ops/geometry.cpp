// geometry.cpp - TDib's geometric operations: shear, rotation, mirrors, resizes, crop and the
// view perspective.
//
//   dib::ops::AngleToHundredths
//   InclinarX, InclinarY, RotarFine, Rotar, FastRotate90CW / 180CW / 270CW
//   FlipX, FlipY, CanviSentitX, CanviSentitY, AjustarPerspectiva
//   Escalar, EscalarInt, EscalarAR, Crop
#include "angles.h"

#include <cmath>
#include <core/last_error.h>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/kernel.h>
#include <raster/ops/ops_geometry.h>

namespace {

constexpr COLORREF kWhite = 0xFFFFFF;

int Refuse(const char* why)
{
    core::SetLastErrorText(why);
    return DIB_ERR_INVALID;
}

// The library status of a kernel result, with the kernel's reason beside a failure.
int Status(int r)
{
    if (r <= 0)
        core::SetLastErrorText(RkStatusText(r));
    return dib::StatusFromKernel(r);
}

// N(v): to the nearest integer, halves away from zero.
double Nearest(double v)
{
    return std::round(v);
}

} // namespace

bool dib::ops::AngleToHundredths(double radians, int& hundredths)
{
    // The factor lies just below 180 / pi; the products are kept apart so that the result
    // matches to the last bit (this file is built without floating-point contraction).
    const double degrees = radians * 57.29577951308;
    const double floored = std::floor(degrees * 100.0);
    if (!std::isfinite(floored) || std::fabs(floored) > 9007199254740992.0)
        return false;
    hundredths = static_cast<int>(std::fmod(floored, 36000.0));
    return true;
}

int TDib::InclinarX(double angle, unsigned long fill)
{
    int a = 0;
    if (!dib::ops::AngleToHundredths(angle, a))
        return Refuse("the shear angle is not a finite number of turns");
    return Status(RkShearBitmap(&m_bitmap, a, RK_SHEAR_HORIZONTAL, static_cast<COLORREF>(fill)));
}

int TDib::InclinarY(double angle, unsigned long fill)
{
    int a = 0;
    if (!dib::ops::AngleToHundredths(angle, a))
        return Refuse("the shear angle is not a finite number of turns");
    return Status(RkShearBitmap(&m_bitmap, a, RK_SHEAR_VERTICAL, static_cast<COLORREF>(fill)));
}

int TDib::RotarFine(double angle, int grow, unsigned long fill)
{
    int a = 0;
    if (!dib::ops::AngleToHundredths(angle, a))
        return Refuse("the rotation angle is not a finite number of turns");
    const std::uint32_t flags = RK_ROTATE_RESAMPLE | (grow != 0 ? RK_ROTATE_RESIZE : 0);
    return Status(RkRotateBitmap(&m_bitmap, a, flags, static_cast<COLORREF>(fill)));
}

int TDib::Rotar(int degrees, int grow)
{
    // Whole turns first, so that degrees x 100 cannot overflow.
    const int a = (degrees % 360) * 100;
    return Status(RkRotateBitmap(&m_bitmap, a, grow != 0 ? RK_ROTATE_RESIZE : 0, kWhite));
}

int TDib::FastRotate90CW(TIndicadorEstat*)
{
    return Status(RkRotateBitmap(&m_bitmap, 9000, RK_ROTATE_RESIZE, kWhite));
}

int TDib::FastRotate180CW(TIndicadorEstat*)
{
    return Status(RkRotateBitmap(&m_bitmap, 18000, RK_ROTATE_RESIZE, kWhite));
}

int TDib::FastRotate270CW(TIndicadorEstat*)
{
    return Status(RkRotateBitmap(&m_bitmap, 27000, RK_ROTATE_RESIZE, kWhite));
}

int TDib::FlipX()
{
    return Status(RkReverseBitmap(&m_bitmap));
}

int TDib::FlipY()
{
    return Status(RkFlipBitmap(&m_bitmap));
}

int TDib::CanviSentitX()
{
    const int status = Status(RkReverseBitmap(&m_bitmap));
    if (status != DIB_OK)
        return status;
    std::int32_t& p = m_bitmap.ViewPerspective;
    p = (p == 0 || p == 2) ? p + 1 : p - 1;
    return DIB_OK;
}

int TDib::CanviSentitY()
{
    const int status = Status(RkFlipBitmap(&m_bitmap));
    if (status != DIB_OK)
        return status;
    std::int32_t& p = m_bitmap.ViewPerspective;
    p = (p == 0 || p == 1) ? p + 2 : p - 2;
    return DIB_OK;
}

int TDib::AjustarPerspectiva(int reorder)
{
    if (reorder != 0) {
        int status = DIB_OK;
        switch (m_bitmap.ViewPerspective) {
        case 2:
            status = Status(RkReverseBitmap(&m_bitmap));
            break;
        case 3:
            status = Status(RkReverseBitmap(&m_bitmap));
            if (status == DIB_OK)
                status = FlipY();
            break;
        case 4:
            status = Status(RkFlipBitmap(&m_bitmap));
            break;
        default:
            break;
        }
        if (status != DIB_OK)
            return status;
    }
    m_bitmap.ViewPerspective = RK_TOP_LEFT;
    return DIB_OK;
}

int TDib::Escalar(int width, int height)
{
    if (width == m_bitmap.Width && height == m_bitmap.Height &&
        (m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return 1;
    return Status(RkResizeBitmap(&m_bitmap, width, height, 0));
}

int TDib::EscalarAR(int maxWidth, int maxHeight, unsigned long, int interpolate)
{
    if (EsBuit() || m_bitmap.Width < 1 || m_bitmap.Height < 1)
        return Refuse("the image is empty");
    if (maxWidth < 1 || maxHeight < 1)
        return Refuse("the bounding box is empty");
    const double r = static_cast<double>(m_bitmap.Height) / m_bitmap.Width;
    const double x = maxWidth * r;
    double w = 0, h = 0;
    // Sides are compared in double before they become ints: maxHeight / r may be far beyond.
    if (r > static_cast<double>(maxHeight) / maxWidth) {
        h = maxHeight;
        w = Nearest(maxHeight / r);
        if (w > maxWidth) {
            w = maxWidth;
            h = Nearest(x);
        }
    } else {
        w = maxWidth;
        h = Nearest(x);
        if (h > maxHeight) {
            h = maxHeight;
            w = Nearest(maxHeight / r);
        }
    }
    const int width = w < 1 ? 1 : static_cast<int>(w);
    const int height = h < 1 ? 1 : static_cast<int>(h);
    if (interpolate == 0) {
        if (width == m_bitmap.Width && height == m_bitmap.Height)
            return DIB_OK;
        return Status(RkResizeBitmap(&m_bitmap, width, height, 0));
    }
    return EscalarInt(width, height, RK_SIZE_RESAMPLE);
}

// The kernel interpolates every byte of a 32-bit pixel as a sample of its own, which is the
// channel-by-channel resize of four 8-bit planes done in one pass, without splitting the image;
// its result replaces the bitmap only on success, so a failure leaves the image whole.
int TDib::EscalarInt(int width, int height, unsigned int method)
{
    if (EsBuit())
        return Refuse("the image is empty");
    if (method > static_cast<unsigned int>(RK_SIZE_RESAMPLE))
        return Status(RK_ERROR_INV_PARAMETER);
    return Status(RkSizeBitmap(&m_bitmap, width, height, static_cast<int>(method)));
}

int TDib::Crop(int x, int y, int width, int height)
{
    return Status(RkCropBitmap(&m_bitmap, x, y, width, height));
}
