// compose.cpp - TDib::Acoblar (joining two images), TDib::Combinar, TDib::SetColor.
//
// Acoblar builds the joined bitmap beside the image and swaps it in only when both copies
// have succeeded, so a failure leaves the image as it was and other may be this image.
#include "ops_internal.h"

#include <algorithm>
#include <array>
#include <climits>
#include <core/last_error.h>
#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <raster/kernel.h>
#include <raster/ops/ops_compose.h>

using dib::StatusFromKernel;
using dib::TDibAccess;
using dib::ops::Filled;
using dib::ops::ScopedBitmap;

namespace {

// Where this image (mine) and the other image go in the joined bitmap, per mode.
struct Placement {
    int mineX, mineY, otherX, otherY;
};

} // namespace

int TDib::Acoblar(const TDib* other, unsigned long mode)
{
    if (!other || !Filled(*this) || !Filled(*other)) {
        core::SetLastErrorText("both images must hold pixels");
        return DIB_ERR_INVALID;
    }
    if (mode < 1 || mode > 4) {
        core::SetLastErrorText("the join mode is not 1 to 4");
        return DIB_ERR_INVALID;
    }
    const _BITMAPHANDLE& theirs = other->m_bitmap;
    const std::int64_t w1 = m_bitmap.Width, h1 = m_bitmap.Height;
    const std::int64_t w2 = theirs.Width, h2 = theirs.Height;
    const bool sideBySide = mode == 1 || mode == 2;
    const std::int64_t width = sideBySide ? w1 + w2 : w1;
    const std::int64_t height = sideBySide ? h1 : h1 + h2;
    if (width > INT_MAX || height > INT_MAX) {
        core::SetLastErrorText("the joined image would be too large");
        return StatusFromKernel(RK_ERROR_INV_PARAMETER);
    }
    Placement at{};
    switch (mode) {
    case 1:
        at = {int(w2), 0, 0, 0};
        break;
    case 2:
        at = {0, 0, int(w1), 0};
        break;
    case 3:
        at = {0, int(h2), 0, 0};
        break;
    default:
        at = {0, 0, 0, int(h1)};
        break;
    }

    // The result has other's depth. Its palette is this image's when that fits the depth,
    // otherwise other's, so that neither image's colours are read through a foreign table.
    const int bits = theirs.BitsPerPixel;
    std::array<tagRGBQUAD, 256> palette{};
    const tagRGBQUAD* chosen = nullptr;
    if (bits <= 8) {
        const _BITMAPHANDLE& from =
            (m_bitmap.BitsPerPixel == bits && m_bitmap.ColorCount > 0) ? m_bitmap : theirs;
        const int count = std::min(from.ColorCount, 256);
        if (count > 0 && RkGetBitmapColors(&from, 0, count, palette.data()) > 0)
            chosen = palette.data();
    }
    const std::uint32_t memory =
        (m_bitmap.Flags & BITMAP_FLAG_DISK) ? RK_MEMORY_DISK : RK_MEMORY_CONVENTIONAL;
    ScopedBitmap joined;
    int r = RkCreateBitmap(joined.get(), BITMAPHANDLE_SIZE, memory, int(width), int(height), bits,
                           m_bitmap.Order, chosen, m_bitmap.ViewPerspective);
    if (r <= 0) {
        core::SetLastErrorText("the joined image could not be created");
        return StatusFromKernel(r);
    }
    joined->XResolution = m_bitmap.XResolution;
    joined->YResolution = m_bitmap.YResolution;
    r = RkCombineBitmap(joined.get(), at.mineX, at.mineY, int(w1), int(h1), &m_bitmap, 0, 0,
                        RK_COMBINE_COPY);
    if (r > 0)
        r = RkCombineBitmap(joined.get(), at.otherX, at.otherY, int(w2), int(h2), &theirs, 0, 0,
                            RK_COMBINE_COPY);
    if (r <= 0) {
        core::SetLastErrorText("the images could not be copied into the joined image");
        return StatusFromKernel(r);
    }
    joined.HandTo(*this);
    if (bits != 32)
        m_canalAlpha = -1;
    return DIB_OK;
}

int TDib::Combinar(TDib* source, unsigned long flags, int x, int y, int, int)
{
    if (!source || !Filled(*this) || !Filled(*source)) {
        core::SetLastErrorText("both images must hold pixels");
        return DIB_ERR_INVALID;
    }
    if (flags > UINT32_MAX) {
        core::SetLastErrorText("unknown combine flags");
        return StatusFromKernel(RK_ERROR_INV_PARAMETER);
    }
    const int r = RkCombineBitmap(&m_bitmap, x, y, m_bitmap.Width, m_bitmap.Height,
                                  &source->m_bitmap, 0, 0, std::uint32_t(flags));
    if (r <= 0)
        core::SetLastErrorText("the combine operation failed");
    return StatusFromKernel(r);
}

int TDib::SetColor(unsigned long colour, unsigned char value)
{
    int r = RkFillBitmap(&m_bitmap, COLORREF(colour & 0xFFFFFF));
    if (r > 0 && m_bitmap.BitsPerPixel == 32)
        r = RkSetBitmapAlphaValues(&m_bitmap, value);
    if (r <= 0)
        core::SetLastErrorText("the image could not be filled");
    return StatusFromKernel(r);
}
