// display_colours.cpp - TDib::AdaptarPerMostrar: an image's pixels as the colours a screen
// shows, for writers of formats that hold red, green and blue only.
#include "ops_internal.h"

#include <core/last_error.h>
#include <dib/internal/status_map.h>
#include <vector>

namespace {

constexpr int kFormatPsd = 76;

} // namespace

int TDib::AdaptarPerMostrar(int sourceFormat)
{
    using dib::ops::Filled;
    if (!Filled(*this)) {
        core::SetLastErrorText("the image holds no pixels");
        return DIB_ERR_INVALID;
    }
    if (m_espaiColor == DIB_CS_MULTICHANNEL) {
        core::SetLastErrorText("multi-channel data has no display colours");
        return DIB_ERR_UNSUPPORTED;
    }
    if (m_espaiColor != DIB_CS_CMYK)
        return DIB_OK;
    // Four process colours, then possibly spot channels, which a screen does not show (nor
    // do the previews).
    const int bits = m_bitmap.BitsPerPixel;
    if (bits < 32 || bits % 8 != 0 || bits > 160) {
        core::SetLastErrorText("CMYK data that is not 8 bits per channel");
        return DIB_ERR_UNSUPPORTED;
    }
    const std::size_t stride = std::size_t(bits / 8);
    const int width = m_bitmap.Width, height = m_bitmap.Height;
    dib::ops::ScopedBitmap rgb;
    int r = RkCreateBitmap(rgb.get(), BITMAPHANDLE_SIZE,
                           (m_bitmap.Flags & BITMAP_FLAG_DISK) ? RK_MEMORY_DISK
                                                               : RK_MEMORY_CONVENTIONAL,
                           width, height, 24, RK_ORDER_BGR, nullptr, m_bitmap.ViewPerspective);
    if (r <= 0)
        return dib::StatusFromKernel(r);
    rgb->XResolution = m_bitmap.XResolution;
    rgb->YResolution = m_bitmap.YResolution;
    std::vector<unsigned char> in, out;
    try {
        in.resize(std::size_t(width) * stride);
        out.resize(std::size_t(width) * 4);
    } catch (const std::bad_alloc&) {
        return DIB_ERR_NO_MEMORY;
    }
    // Stored rows are copied in stored order: both bitmaps have the same perspective.
    for (int row = 0; row < height; ++row) {
        std::int64_t got = RkGetBitmapRow(&m_bitmap, in.data(), row, in.size());
        if (got <= 0)
            return dib::StatusFromKernel(got);
        for (std::size_t x = 0; x < std::size_t(width); ++x)
            for (std::size_t c = 0; c < 4; ++c)
                out[4 * x + c] = in[stride * x + c];
        // A Photoshop composite already holds blue, green, red (the previews leave it too).
        if (sourceFormat != kFormatPsd)
            AdaptarPerCarregarCMYK(out.data(), width);
        for (std::size_t x = 0; x < std::size_t(width); ++x)
            for (std::size_t c = 0; c < 3; ++c)
                out[3 * x + c] = out[4 * x + c];
        got = RkPutBitmapRow(rgb.get(), out.data(), row, std::size_t(width) * 3);
        if (got <= 0)
            return dib::StatusFromKernel(got);
    }
    rgb.HandTo(*this);
    m_espaiColor = DIB_CS_RGB;
    m_canals = 3;
    m_bitsPerCanal = 8;
    m_canalAlpha = -1;
    return DIB_OK;
}
