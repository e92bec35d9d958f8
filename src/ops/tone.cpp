// tone.cpp - TDib's tone and colour operations and the display gamma.
//
//   SetContrast, CanviaContrast, SetHistoContrast, SetGamma (double), CanviaGamma, CanviaBrillo,
//   CanviaSaturacio, CanviaTo, Invertir, Posteritzar        point operations
//   CanviaBPP, GrayScale, ToBlancINegre, ToRGB, ToCMYK       depth changes
//   Destramar, SuavitzarMed, SuavitzarAvg, Clear             neighbourhood operations, clearing
//   SetGamma (unsigned), GetGamma                            display gamma
#include <cmath>
#include <core/last_error.h>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/kernel.h>
#include <raster/ops/ops_tone.h>

namespace {

int Status(int r)
{
    if (r <= 0)
        core::SetLastErrorText(RkStatusText(r));
    return dib::StatusFromKernel(r);
}

// trunc(v) as an int, refused when v is not finite or does not fit.
bool TruncInt(double v, int& out)
{
    if (!std::isfinite(v) || v <= -2147483649.0 || v >= 2147483648.0)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace

int TDib::SetContrast(int amount)
{
    return Status(RkChangeBitmapContrast(&m_bitmap, amount, 0));
}

int TDib::CanviaContrast(int amount)
{
    return Status(RkChangeBitmapContrast(&m_bitmap, amount, 0));
}

int TDib::SetHistoContrast(int amount)
{
    return Status(RkHistoContrastBitmap(&m_bitmap, amount, 0));
}

int TDib::SetGamma(double gamma)
{
    int hundredths = 0;
    if (!TruncInt(gamma * 100.0, hundredths)) {
        core::SetLastErrorText("the gamma is not a finite number in range");
        return DIB_ERR_INVALID;
    }
    return Status(RkGammaCorrectBitmap(&m_bitmap, hundredths, 0));
}

int TDib::CanviaGamma(double gamma)
{
    // Only the integer part counts: 1.5 passes 100.
    int whole = 0;
    if (!TruncInt(gamma, whole) || whole > 21474836 || whole < -21474836) {
        core::SetLastErrorText("the gamma is not a finite number in range");
        return DIB_ERR_INVALID;
    }
    return Status(RkGammaCorrectBitmap(&m_bitmap, whole * 100, 0));
}

int TDib::CanviaBrillo(int brightness, int second)
{
    const int status = Status(RkChangeBitmapIntensity(&m_bitmap, brightness, 0));
    if (status != DIB_OK || second == 0)
        return status;
    return Status(RkStretchBitmapIntensity(&m_bitmap, 0));
}

int TDib::CanviaSaturacio(int amount)
{
    return Status(RkChangeBitmapSaturation(&m_bitmap, amount, 0));
}

int TDib::CanviaTo(int hue)
{
    // Hundredths of a half turn to whole degrees, truncated: 33 gives 59.
    const int degrees = static_cast<int>(hue * 180.0 / 100.0);
    return Status(RkChangeBitmapHue(&m_bitmap, degrees, 0));
}

int TDib::CanviaBPP(int bitsPerPixel, unsigned long flags, int colours, tagRGBQUAD* palette)
{
    if (bitsPerPixel == m_bitmap.BitsPerPixel && !EsBuit())
        return 1;
    if (flags > 0xFFFFFFFFul) {
        core::SetLastErrorText("unknown conversion flags");
        return DIB_ERR_INVALID;
    }
    if (colours < 1) {
        switch (bitsPerPixel) {
        case 1:
            colours = 2;
            break;
        case 2:
            colours = 4;
            break;
        case 4:
            colours = 16;
            break;
        case 8:
            colours = 256;
            break;
        case 24:
        case 32:
            colours = 0;
            break;
        default:
            break;
        }
    }
    const int status =
        Status(RkChangeColorRes(&m_bitmap, BITMAPHANDLE_SIZE, bitsPerPixel,
                                static_cast<std::uint32_t>(flags), palette, colours));
    // No alpha plane survives a depth other than 32 bits; a stale index would make display
    // treat the new pixels as transparent.
    if (status == DIB_OK && bitsPerPixel != 32)
        m_canalAlpha = -1;
    return status;
}

int TDib::GrayScale()
{
    const int status = Status(RkGrayScaleBitmapBits(&m_bitmap, 8));
    if (status == DIB_OK)
        m_canalAlpha = -1;
    return status;
}

int TDib::ToBlancINegre()
{
    const int status =
        Status(RkChangeColorRes(&m_bitmap, BITMAPHANDLE_SIZE, 1, RK_CRF_FIXEDPALETTE, nullptr, 0));
    if (status == DIB_OK)
        m_canalAlpha = -1;
    return status;
}

int TDib::ToRGB()
{
    const int status =
        Status(RkChangeColorRes(&m_bitmap, BITMAPHANDLE_SIZE, 24, RK_CRF_FIXEDPALETTE, nullptr, 0));
    if (status == DIB_OK)
        m_canalAlpha = -1;
    return status;
}

int TDib::ToCMYK()
{
    return Status(
        RkChangeColorRes(&m_bitmap, BITMAPHANDLE_SIZE, 32, RK_CRF_FIXEDPALETTE, nullptr, 0));
}

int TDib::Invertir()
{
    return Status(RkInvertBitmap(&m_bitmap));
}

int TDib::Posteritzar(int levels)
{
    return Status(RkPosterizeBitmap(&m_bitmap, levels, 0));
}

int TDib::Destramar()
{
    return Status(RkDescreenBitmap(&m_bitmap, 0));
}

int TDib::SuavitzarMed(unsigned int size)
{
    return Status(RkMedianFilterBitmap(&m_bitmap, size, 0));
}

int TDib::SuavitzarAvg(unsigned int size)
{
    return Status(RkAverageFilterBitmap(&m_bitmap, size, 0));
}

int TDib::Clear()
{
    return Status(RkClearBitmap(&m_bitmap));
}

unsigned int TDib::SetGamma(unsigned int gamma)
{
    std::uint32_t previous = 0;
    if (RkGetBitmapDisplayGamma(&m_bitmap, &previous) <= 0)
        return 0;
    RkSetBitmapDisplayGamma(&m_bitmap, gamma);
    return previous;
}

unsigned int TDib::GetGamma() const
{
    std::uint32_t gamma = 0;
    if (RkGetBitmapDisplayGamma(&m_bitmap, &gamma) <= 0)
        return 0;
    return gamma;
}
