// tiff_layouts.cpp - layouts of TIFF lines and the reader's per-line conversions.
//
//   DescribeLayout        tags -> samples kept, colour count, alpha, line size; refusals
//   *Interleaved8/16      one interleaved scan line -> colour line + alpha line
//   SpreadPlane8/16       one sample plane -> its place in the colour line
//   ConvertLine8/16       photometric (min-is-white, RGB order, YCbCr, CIELab), associated alpha
#include "tiff_layouts_internal.h"

#include <algorithm>
#include <cmath>
#include <core/checked_size.h>
#include <core/last_error.h>

namespace codec_tiff {
namespace {

constexpr int kUnsupported = -16;

int Refuse(const char* why)
{
    core::SetLastErrorText(why);
    return kUnsupported;
}

inline std::uint8_t Clamp8(long v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Associated alpha back to straight: v * 255 / a, floored. Data that is not truly
// premultiplied (a sample above its alpha) is clamped instead of wrapping.
inline std::uint8_t Unassociate8(unsigned v, unsigned a)
{
    return static_cast<std::uint8_t>(std::min(255u, v * 255u / a));
}

inline std::uint16_t Unassociate16(std::uint32_t v, std::uint32_t a)
{
    return static_cast<std::uint16_t>(
        std::min<std::uint64_t>(65535u, std::uint64_t(v) * 65535u / a));
}

} // namespace

int DescribeLayout(TIFF* tif, bool wantAlpha, bool sixteen, TiffLayout& l)
{
    l = TiffLayout{};
    std::uint16_t compression = COMPRESSION_NONE, format = SAMPLEFORMAT_UINT;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &l.planar))
        l.planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(tif, TIFFTAG_INKSET, &l.inkSet))
        l.inkSet = 0;
    std::uint16_t* kinds = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &l.extraCount, &kinds) || !kinds)
        l.extraCount = 0;

    if (l.width < 1 || l.height < 1 || l.width > 0x7FFFFFFFu || l.height > 0x7FFFFFFFu)
        return Refuse("image size outside 1 .. 2^31 - 1");
    if (l.samples < 1 || l.extraCount > l.samples)
        return Refuse("inconsistent samples per pixel");
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_INT)
        return Refuse("floating-point samples");
    if (sixteen ? l.bits != 16 : (l.bits != 1 && l.bits != 2 && l.bits != 4 && l.bits != 8))
        return Refuse("bits per sample not handled");
    switch (l.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_PALETTE:
    case PHOTOMETRIC_SEPARATED:
    case PHOTOMETRIC_CIELAB:
        break;
    case PHOTOMETRIC_YCBCR:
        if (compression == COMPRESSION_JPEG) {
            // libjpeg converts to RGB; the scan lines are then plain RGB.
            if (TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) != 1)
                return Refuse("JPEG colour conversion refused");
            l.photometric = PHOTOMETRIC_RGB;
        } else {
            std::uint16_t h = 1, v = 1;
            TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &h, &v);
            if (h != 1 || v != 1)
                return Refuse("subsampled YCbCr");
        }
        break;
    default:
        return Refuse("photometric interpretation not handled");
    }
    if (l.bits < 8 && l.samples > 1)
        return Refuse("packed samples with several samples per pixel");

    // The first associated (1) or unassociated (2) alpha among the extra samples.
    int kind = 0;
    for (int i = 0; i < l.extraCount; ++i)
        if (kinds[i] == EXTRASAMPLE_ASSOCALPHA || kinds[i] == EXTRASAMPLE_UNASSALPHA) {
            l.alphaIndex = l.samples - l.extraCount + i;
            kind = kinds[i];
            break;
        }
    // Every sample being an extra one with alpha first leaves no colour to go with it: the
    // sample is then kept as an ordinary one.
    if (l.alphaIndex <= 0)
        l.alphaIndex = -1;
    l.kept = l.alphaIndex > 0 ? l.samples - 1 : l.samples;
    l.premultiplied = l.alphaIndex > 0 && kind == EXTRASAMPLE_ASSOCALPHA && wantAlpha;
    l.alphaLine = l.alphaIndex > 0 && wantAlpha;
    l.colourCount = (!sixteen && l.inkSet == INKSET_CMYK) ? 4 : l.samples - l.extraCount;
    l.colourCount = std::min(l.colourCount, l.kept);

    const bool threeColours = l.photometric == PHOTOMETRIC_RGB ||
                              l.photometric == PHOTOMETRIC_YCBCR ||
                              l.photometric == PHOTOMETRIC_CIELAB;
    if (threeColours && l.kept < 3)
        return Refuse("fewer than three colour samples");
    if (l.photometric == PHOTOMETRIC_PALETTE && l.kept != 1)
        return Refuse("palette image with several samples");
    if (l.kept * l.bits > 64)
        return Refuse("too many samples per pixel");
    l.lineBits = l.kept * l.bits;
    const auto line = core::CheckedLineSize(l.width, l.lineBits, 4);
    // A line of 256 MiB is a 22-million-pixel row of six 16-bit channels.
    if (!line || *line > (std::uint64_t(256) << 20))
        return Refuse("line too long");
    l.lineBytes = *line;
    return 1;
}

void SplitInterleaved8(const TiffLayout& l, const std::uint8_t* in, std::uint8_t* line,
                       std::uint8_t* alpha)
{
    const int n = l.samples, cc = l.colourCount, ai = l.alphaIndex;
    // The common layouts without extra samples: plain copies, RGB swapped on the way.
    if (ai < 0 && cc == n) {
        if (n == 3 && l.photometric == PHOTOMETRIC_RGB) {
            // Swapped here, so ConvertLine8 leaves RGB alone when it sees the marker below.
            for (std::uint32_t p = 0; p < l.width; ++p, in += 3, line += 3) {
                line[0] = in[2];
                line[1] = in[1];
                line[2] = in[0];
            }
            return;
        }
        std::copy(in, in + std::size_t(l.width) * n, line);
        return;
    }
    for (std::uint32_t p = 0; p < l.width; ++p) {
        for (int s = 0; s < n; ++s) {
            const std::uint8_t v = *in++;
            if (s == ai) {
                if (alpha)
                    alpha[p] = v;
            } else if (s < cc || cc == 0) {
                *line++ = v;
            } else {
                *line++ = static_cast<std::uint8_t>(255 - v);
            }
        }
    }
}

void SpreadPlane8(const TiffLayout& l, int plane, const std::uint8_t* in, std::uint8_t* line,
                  std::uint8_t* alpha)
{
    if (plane == l.alphaIndex) {
        if (alpha)
            std::copy(in, in + l.width, alpha);
        return;
    }
    const int position = (l.alphaIndex >= 0 && plane > l.alphaIndex) ? plane - 1 : plane;
    std::uint8_t* out = line + position;
    for (std::uint32_t p = 0; p < l.width; ++p, out += l.kept)
        *out = in[p];
}

// True when SplitInterleaved8 already delivered the line in blue, green, red order.
static bool SwappedInSplit(const TiffLayout& l)
{
    return !l.separate() && l.alphaIndex < 0 && l.colourCount == l.samples && l.samples == 3 &&
           l.photometric == PHOTOMETRIC_RGB;
}

void ConvertLine8(const TiffLayout& l, std::uint8_t* line, const std::uint8_t* alpha)
{
    const int k = l.kept;
    const std::uint32_t w = l.width;
    switch (l.photometric) {
    case PHOTOMETRIC_MINISWHITE:
        if (l.bits == 8) {
            for (std::uint32_t p = 0; p < w; ++p)
                line[std::size_t(p) * k] =
                    static_cast<std::uint8_t>(255 - line[std::size_t(p) * k]);
        } else {
            // Packed depths: complementing every bit turns each sample v into max - v.
            const std::size_t bytes = (std::size_t(w) * l.bits + 7) / 8;
            for (std::size_t i = 0; i < bytes; ++i)
                line[i] = static_cast<std::uint8_t>(~line[i]);
        }
        break;
    case PHOTOMETRIC_RGB:
        if (!SwappedInSplit(l))
            for (std::uint32_t p = 0; p < w; ++p)
                std::swap(line[std::size_t(p) * k], line[std::size_t(p) * k + 2]);
        break;
    case PHOTOMETRIC_YCBCR:
        for (std::uint32_t p = 0; p < w; ++p) {
            std::uint8_t* px = line + std::size_t(p) * k;
            const double y = px[0], cb = px[1] - 128.0, cr = px[2] - 128.0;
            px[0] = Clamp8(std::lround(y + 1.772 * cb));
            px[1] = Clamp8(std::lround(y - 0.34414 * cb - 0.71414 * cr));
            px[2] = Clamp8(std::lround(y + 1.402 * cr));
        }
        break;
    case PHOTOMETRIC_CIELAB:
        for (std::uint32_t p = 0; p < w; ++p) {
            std::uint8_t* px = line + std::size_t(p) * k;
            px[1] = static_cast<std::uint8_t>(px[1] + 128);
            px[2] = static_cast<std::uint8_t>(px[2] + 128);
            if (l.premultiplied && alpha) {
                const unsigned a = alpha[p];
                if (a > 0) {
                    for (int s = 0; s < 3; ++s)
                        px[s] = Unassociate8(px[s], a);
                } else {
                    px[0] = 255;
                    px[1] = 128;
                    px[2] = 128;
                }
            }
        }
        return;
    default:
        break;
    }
    if (l.premultiplied && alpha && l.bits == 8) {
        const int cc = l.colourCount;
        for (std::uint32_t p = 0; p < w; ++p) {
            std::uint8_t* px = line + std::size_t(p) * k;
            const unsigned a = alpha[p];
            for (int s = 0; s < cc; ++s)
                px[s] = a > 0 ? Unassociate8(px[s], a) : 0;
        }
    }
}

void SplitInterleaved16(const TiffLayout& l, const std::uint16_t* in, std::uint16_t* line,
                        std::uint16_t* alpha)
{
    const int n = l.samples, cc = l.colourCount, ai = l.alphaIndex;
    const bool invertExtras = cc > 0 && l.photometric != PHOTOMETRIC_SEPARATED;
    for (std::uint32_t p = 0; p < l.width; ++p) {
        for (int s = 0; s < n; ++s) {
            const std::uint16_t v = *in++;
            if (s == ai) {
                if (alpha)
                    alpha[p] = v;
            } else if (s < cc || !invertExtras) {
                *line++ = v;
            } else {
                *line++ = static_cast<std::uint16_t>(65535 - v);
            }
        }
    }
}

void SpreadPlane16(const TiffLayout& l, int plane, const std::uint16_t* in, std::uint16_t* line,
                   std::uint16_t* alpha)
{
    if (plane == l.alphaIndex) {
        if (alpha)
            std::copy(in, in + l.width, alpha);
        return;
    }
    const int position = (l.alphaIndex >= 0 && plane > l.alphaIndex) ? plane - 1 : plane;
    std::uint16_t* out = line + position;
    for (std::uint32_t p = 0; p < l.width; ++p, out += l.kept)
        *out = in[p];
}

void ConvertLine16(const TiffLayout& l, std::uint16_t* line, const std::uint16_t* alpha)
{
    const int k = l.kept, cc = l.colourCount;
    const std::uint32_t w = l.width;
    if (l.premultiplied && alpha && l.photometric != PHOTOMETRIC_CIELAB) {
        for (std::uint32_t p = 0; p < w; ++p) {
            std::uint16_t* px = line + std::size_t(p) * k;
            const std::uint32_t a = alpha[p];
            for (int s = 0; s < cc; ++s)
                px[s] = a > 0 ? Unassociate16(px[s], a) : 0;
        }
    }
    switch (l.photometric) {
    case PHOTOMETRIC_RGB:
        for (std::uint32_t p = 0; p < w; ++p)
            std::swap(line[std::size_t(p) * k], line[std::size_t(p) * k + 2]);
        break;
    case PHOTOMETRIC_MINISWHITE:
        for (std::uint32_t p = 0; p < w; ++p)
            line[std::size_t(p) * k] = static_cast<std::uint16_t>(65535 - line[std::size_t(p) * k]);
        break;
    case PHOTOMETRIC_CIELAB:
        for (std::uint32_t p = 0; p < w; ++p) {
            std::uint16_t* px = line + std::size_t(p) * k;
            for (int s = 1; s < 3; ++s) {
                // Signed a*, b* in 1/256 units to the unsigned 0 .. 65535 encoding. Near the
                // top of the range the result passes 65535 and is held there.
                const double v = (static_cast<std::int16_t>(px[s]) / 256.0 + 128.0) * 257.0;
                px[s] = static_cast<std::uint16_t>(std::min(65535L, std::lround(v)));
            }
            if (l.premultiplied && alpha) {
                const std::uint32_t a = alpha[p];
                if (a > 0) {
                    for (int s = 0; s < 3; ++s)
                        px[s] = Unassociate16(px[s], a);
                } else {
                    px[0] = 65535;
                    px[1] = 32896;
                    px[2] = 32896;
                }
            }
        }
        break;
    default:
        break;
    }
}

} // namespace codec_tiff
