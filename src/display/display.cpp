// display.cpp - drawing a TDib on a device context.
//
// Contents: PaintSession (the display-mode bits, painting switch and palette around a kernel
// paint), the grey copy of a mask, the ARGB buffer of the GDI+ path; Display (three forms),
// DisplayLead, DisplayGDIPlus, DisplayEx, CalcDibAlpha (static and member), TeAlpha, GetAlpha.
#include "display/display_internal.h"

#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdlib>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/internal/status_map.h>
#include <gdiplus/gdiplus_graphics.h>
#include <memory>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <raster/ops/ops_compose.h>
#include <raster/paint/paint.h>
#include <win/gdi.h>

namespace dib::display {

PaintSession::PaintSession(HDC dc, const _BITMAPHANDLE* bitmap, bool highQuality, bool usePalette)
    : dc_(dc)
{
    saved_ = RkSetDisplayMode(RK_DISPLAY_ALPHA, 0);
    const std::uint32_t sampling = highQuality ? RK_DISPLAY_RESAMPLE : RK_DISPLAY_FAST;
    RkSetDisplayMode(sampling, sampling);
    RkSetDisplayMode(RK_DISPLAY_PALETTE | RK_DISPLAY_DITHER,
                     RK_DISPLAY_PALETTE | RK_DISPLAY_DITHER);
    RkSetPaintSwitch(1);
    if (usePalette) {
        palette_ = RkCreatePaintPalette(dc, bitmap);
        if (palette_) {
            previous_ = SelectPalette(dc, palette_, FALSE);
            RealizePalette(dc);
        }
    }
}

PaintSession::~PaintSession()
{
    if (palette_) {
        if (previous_)
            SelectPalette(dc_, previous_, FALSE);
        DeleteObject(palette_);
    }
    RkSetDisplayMode(0xFFFFFFFFu, saved_);
}

const TDib* GreyMask(const TDib* mask, std::unique_ptr<TDib>& holder)
{
    if (!mask || mask->GetBitsPerPixel() == 8)
        return mask;
    holder.reset(mask->Duplicar());
    if (!holder || holder->GrayScale() != DIB_OK)
        return nullptr;
    return holder.get();
}

} // namespace dib::display

using dib::display::GreyMask;
using dib::display::PaintSession;

namespace {

HDC HdcOf(CDC* dc)
{
    return dc ? dc->GetSafeHdc() : nullptr;
}

// Grey level of each entry of an 8-bit palette (rounded Rec. 601 luma).
void GreyLevels(const _BITMAPHANDLE& bm, std::uint8_t (&level)[256])
{
    for (int i = 0; i < 256; ++i) {
        level[i] = std::uint8_t(i);
        if (bm.pPalette && i < bm.ColorCount) {
            const tagRGBQUAD& q = bm.pPalette[i];
            level[i] =
                std::uint8_t((299 * q.rgbRed + 587 * q.rgbGreen + 114 * q.rgbBlue + 500) / 1000);
        }
    }
}

int StatusFromGdiplus(GpStatus s)
{
    switch (s) {
    case Ok:
        return DIB_OK;
    case OutOfMemory:
        return DIB_ERR_NO_MEMORY;
    case InvalidParameter:
        return DIB_ERR_INVALID;
    default:
        return DIB_ERR_FAILED;
    }
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

} // namespace

// ---- Display --------------------------------------------------------------------------------

int TDib::Display(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip,
                  unsigned long rop, int usePalette, const TDib* mask, int highQuality) const
{
    if (GetBitsPerPixel() > 8 && (m_canalAlpha > 0 || mask)) {
        if (DisplayGDIPlus(dc, src, dst, clip, rop, usePalette, mask, highQuality) == DIB_OK)
            return DIB_OK;
    }
    return DisplayLead(dc, src, dst, clip, rop, usePalette, mask, highQuality);
}

int TDib::Display(CDC* dc, const tagRECT* dst, const tagRECT* clip, unsigned long rop,
                  int usePalette, const TDib* mask, int highQuality) const
{
    return Display(dc, nullptr, dst, clip, rop, usePalette, mask, highQuality);
}

int TDib::Display(CDC* dc, const tagRECT* dst, unsigned long rop, int usePalette, const TDib* mask,
                  int highQuality) const
{
    return Display(dc, nullptr, dst, nullptr, rop, usePalette, mask, highQuality);
}

int TDib::DisplayLead(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip,
                      unsigned long rop, int usePalette, const TDib* /*mask*/,
                      int highQuality) const
{
    HDC hdc = HdcOf(dc);
    int r;
    {
        PaintSession session(hdc, &m_bitmap, highQuality != 0, usePalette != 0);
        r = RkPaintDC(hdc, &m_bitmap, src, nullptr, dst, clip, std::uint32_t(rop));
    }
    if (r <= 0)
        core::SetLastErrorTextF("painting failed: %s", RkStatusText(r));
    return dib::StatusFromKernel(r);
}

// The image's pixels as straight ARGB (4 bytes a pixel, blue first), top row first, with the
// opacity of the grey mask where it covers the image, else of the image's own alpha (32 bits:
// the fourth byte; 16 bits with alpha channel 1: the second), else opaque.
static int BuildArgb(const TDib& image, const _BITMAPHANDLE& bm, int alphaChannel, const TDib* grey,
                     std::unique_ptr<std::uint8_t[], FreeDeleter>& out)
{
    const int w = bm.Width, h = bm.Height, bits = bm.BitsPerPixel;
    const auto size = core::CheckedImageSize(w, h, 32, 0);
    if (!size || !core::FitsAllocation(*size)) {
        core::SetLastErrorText("the image is too large for the alpha drawing buffer");
        return DIB_ERR_NO_MEMORY;
    }
    out.reset(static_cast<std::uint8_t*>(std::malloc(std::size_t(*size))));
    std::unique_ptr<std::uint8_t[], FreeDeleter> row(
        static_cast<std::uint8_t*>(std::malloc(std::size_t(bm.BytesPerLine))));
    std::unique_ptr<std::uint8_t[], FreeDeleter> maskRow;
    const _BITMAPHANDLE* mbm = grey ? &dib::TDibAccess::Bitmap(*grey) : nullptr;
    if (mbm)
        maskRow.reset(static_cast<std::uint8_t*>(std::malloc(std::size_t(mbm->BytesPerLine))));
    if (!out || !row || (mbm && !maskRow)) {
        core::SetLastErrorText("no memory for the alpha drawing buffer");
        return DIB_ERR_NO_MEMORY;
    }
    std::uint8_t level[256];
    if (mbm)
        GreyLevels(*mbm, level);
    const bool rgb = bm.Order == RK_ORDER_RGB;
    const bool ownAlpha = (bits == 32 && alphaChannel == 3) || (bits == 16 && alphaChannel == 1);
    for (int y = 0; y < h; ++y) {
        if (image.GetLinia(y, row.get(), std::uint64_t(bm.BytesPerLine)) != DIB_OK) {
            core::SetLastErrorText("an image row could not be read");
            return DIB_ERR_FAILED;
        }
        const bool maskHere =
            mbm && y < mbm->Height &&
            grey->GetLinia(y, maskRow.get(), std::uint64_t(mbm->BytesPerLine)) == DIB_OK;
        std::uint8_t* o = out.get() + std::size_t(y) * std::size_t(w) * 4;
        const std::uint8_t* p = row.get();
        for (int x = 0; x < w; ++x, o += 4) {
            std::uint8_t r = 0, g = 0, b = 0, a = 255;
            switch (bits) {
            case 24:
            case 32: {
                const std::uint8_t* q = p + std::size_t(x) * std::size_t(bits / 8);
                b = rgb ? q[2] : q[0];
                g = q[1];
                r = rgb ? q[0] : q[2];
                if (bits == 32 && ownAlpha)
                    a = q[3];
                break;
            }
            case 48: {
                const std::uint8_t* q = p + std::size_t(x) * 6;
                b = rgb ? q[5] : q[1];
                g = q[3];
                r = rgb ? q[1] : q[5];
                break;
            }
            case 16: {
                const std::uint8_t* q = p + std::size_t(x) * 2;
                if (ownAlpha) {
                    r = g = b = q[0];
                    a = q[1];
                } else {
                    const unsigned v = unsigned(q[0]) | (unsigned(q[1]) << 8);
                    auto expand = [](unsigned c) { return std::uint8_t((c << 3) | (c >> 2)); };
                    const std::uint8_t first = expand(v & 31), second = expand((v >> 5) & 31),
                                       third = expand((v >> 10) & 31);
                    b = rgb ? third : first;
                    g = second;
                    r = rgb ? first : third;
                }
                break;
            }
            default: {
                // Packed indices, most significant bits first.
                const std::uint64_t bit = std::uint64_t(x) * unsigned(bits);
                const unsigned shift = 8u - unsigned(bits) - unsigned(bit % 8);
                const int index = (p[bit / 8] >> shift) & ((1 << bits) - 1);
                if (bm.pPalette && index < bm.ColorCount) {
                    const tagRGBQUAD& q = bm.pPalette[index];
                    r = q.rgbRed;
                    g = q.rgbGreen;
                    b = q.rgbBlue;
                }
                break;
            }
            }
            if (maskHere && x < mbm->Width)
                a = level[maskRow[std::size_t(x)]];
            else if (mbm)
                a = 255; // outside the mask: opaque
            o[0] = b;
            o[1] = g;
            o[2] = r;
            o[3] = a;
        }
    }
    return DIB_OK;
}

int TDib::DisplayGDIPlus(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip,
                         unsigned long /*rop*/, int /*usePalette*/, const TDib* mask,
                         int highQuality) const
{
    if (m_bitmap.BytesPerLine == 0)
        return DIB_OK;
    HDC hdc = HdcOf(dc);
    if (!hdc || !dst) {
        core::SetLastErrorText(hdc ? "no destination rectangle" : "no device context");
        return DIB_ERR_INVALID;
    }
    std::unique_ptr<TDib> greyHolder;
    const TDib* grey = GreyMask(mask, greyHolder);
    if (mask && !grey) {
        core::SetLastErrorText("the mask could not be converted to grey");
        return DIB_ERR_NO_MEMORY;
    }
    // A local buffer rather than the image's display buffer: drawing leaves the image alone,
    // so two threads may draw one image at once.
    std::unique_ptr<std::uint8_t[], FreeDeleter> argb;
    if (int r = BuildArgb(*this, m_bitmap, m_canalAlpha, grey, argb); r != DIB_OK)
        return r;

    const int w = m_bitmap.Width, h = m_bitmap.Height;
    GpBitmap* bitmap = nullptr;
    // A bitmap is an image (GpBitmap derives from GpImage, at the same address).
    auto image = [&bitmap] { return reinterpret_cast<GpImage*>(bitmap); };
    GpStatus s = GdipCreateBitmapFromScan0(w, h, w * 4, PixelFormat32bppARGB, argb.get(), &bitmap);
    GpGraphics* graphics = nullptr;
    if (s == Ok)
        s = GdipCreateFromHDC(hdc, &graphics);
    if (s == Ok) {
        GdipSetInterpolationMode(graphics, highQuality ? InterpolationModeBicubic
                                                       : InterpolationModeNearestNeighbor);
        GdipSetSmoothingMode(graphics,
                             highQuality ? SmoothingModeAntiAlias : SmoothingModeHighSpeed);
        if (clip)
            s = GdipSetClipRectI(graphics, clip->left, clip->top, clip->right - clip->left,
                                 clip->bottom - clip->top, CombineModeReplace);
    }
    const int dw = dst->right - dst->left, dh = dst->bottom - dst->top;
    if (s == Ok) {
        if (!src)
            s = GdipDrawImageRectRectI(graphics, image(), dst->left, dst->top, dw, dh, 0, 0, w, h,
                                       UnitPixel, nullptr, nullptr, nullptr);
        else
            s = GdipDrawImagePointRectI(graphics, image(), dst->left, dst->top, dst->left, dst->top,
                                        dw, dh, UnitPixel);
    }
    if (bitmap)
        GdipDisposeImage(image());
    if (graphics)
        GdipDeleteGraphics(graphics);
    if (s != Ok)
        core::SetLastErrorTextF("the alpha drawing failed (status %d)", int(s));
    return StatusFromGdiplus(s);
}

int TDib::DisplayEx(CDC* dc, const tagRECT* dst, unsigned long effect, unsigned int effectParam,
                    int usePalette, const TDib* mask, int highQuality) const
{
    if (m_canalAlpha > 0 || mask) {
        std::unique_ptr<TDib> composed(CalcDibAlpha(dc, this, dst, mask));
        if (composed)
            return composed->DisplayEx(dc, dst, effect, effectParam, usePalette, nullptr,
                                       highQuality);
    }
    HDC hdc = HdcOf(dc);
    int r;
    {
        PaintSession session(hdc, &m_bitmap, highQuality != 0, usePalette != 0);
        r = effect > 0xFFFFFFFFul ? RK_ERROR_INV_PARAMETER
                                  : RkPaintDCEffect(hdc, &m_bitmap, nullptr, nullptr, dst, nullptr,
                                                    unsigned(effect), effectParam);
    }
    if (r <= 0)
        core::SetLastErrorTextF("effect painting failed: %s", RkStatusText(r));
    return dib::StatusFromKernel(r);
}

// ---- composition against the device ---------------------------------------------------------

TDib* TDib::CalcDibAlpha(CDC* dc, const TDib* image, const tagRECT* dst, const TDib* mask)
{
    if (!image || !(image->m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return nullptr;
    const bool ownAlpha = image->m_canalAlpha > 0;
    if (!ownAlpha && !mask)
        return nullptr;
    const int w = image->GetMidaX(), h = image->GetMidaY();
    const int bits = image->GetBitsPerPixel() - (ownAlpha ? 8 : 0);
    std::unique_ptr<TDib> result(new (std::nothrow) TDib);
    if (!result || result->Crear(w, h, bits) != DIB_OK)
        return nullptr;
    // The composed image is opaque, whatever its depth.
    result->m_canalAlpha = -1;
    result->m_resolucioX = image->m_resolucioX;
    result->m_resolucioY = image->m_resolucioY;

    bool copied = false;
    HDC source = HdcOf(dc);
    if (source && dst) {
        if (HDC target = RkCreateBitmapDC(&result->m_bitmap)) {
            SetMapMode(target, MM_TEXT);
            copied = StretchBlt(target, 0, 0, w, h, source, dst->left, dst->top,
                                dst->right - dst->left, dst->bottom - dst->top, SRCCOPY) != FALSE;
            RkDeleteBitmapDC(target);
        }
    }
    if (!copied && RkFillBitmap(&result->m_bitmap, RGB(255, 255, 255)) <= 0)
        return nullptr;

    // The opacity: the image's own alpha, or the mask (through a grey copy).
    _BITMAPHANDLE alpha{};
    RkInitBitmap(&alpha, BITMAPHANDLE_SIZE, 0, 0, 0);
    struct AlphaGuard {
        _BITMAPHANDLE& bm;
        ~AlphaGuard() { RkFreeBitmap(&bm); }
    } alphaGuard{alpha};
    std::unique_ptr<TDib> greyHolder;
    const _BITMAPHANDLE* opacity = nullptr;
    if (mask) {
        const TDib* grey = GreyMask(mask, greyHolder);
        if (!grey)
            return nullptr;
        opacity = &grey->m_bitmap;
    } else {
        if (RkGetBitmapAlpha(&image->m_bitmap, &alpha, BITMAPHANDLE_SIZE) <= 0)
            return nullptr;
        opacity = &alpha;
    }
    if (RkBlendBitmapMasked(&result->m_bitmap, 0, 0, w, h, &image->m_bitmap, 0, 0, opacity, 0, 0) <=
        0)
        return nullptr;
    return result.release();
}

TDib* TDib::CalcDibAlpha(CDC* dc, const tagRECT* dst, const TDib* mask) const
{
    return CalcDibAlpha(dc, this, dst, mask);
}

int TDib::TeAlpha() const
{
    return m_canalAlpha > 0 ? 1 : 0;
}

int TDib::GetAlpha(int format, int bitsPerPixel)
{
    if (format != RK_FORMAT_PNG)
        return 0;
    if (bitsPerPixel == 32)
        return 3;
    if (bitsPerPixel == 16)
        return 1;
    return -1;
}

int TDib::GetAlpha(CFILEINFO& info)
{
    return info.AlphaChannel;
}
