// tiff_layouts_internal.h - what a TIFF's tags say about its lines, and the per-line
// conversions of the reader (sample split, photometric, associated alpha).
#pragma once

#include <cstdint>
#include <tiffio.h>
#include <vector>

namespace codec_tiff {

struct TiffLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 0;        // BitsPerSample
    std::uint16_t samples = 0;     // SamplesPerPixel
    std::uint16_t photometric = 0; // as converted: JPEG-compressed YCbCr is read as RGB (2)
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t inkSet = 0; // 0 when absent
    std::uint16_t extraCount = 0;
    int alphaIndex = -1;         // file sample of the alpha; -1 none (an index of 0 too)
    bool premultiplied = false;  // associated alpha, and the caller wants alpha
    int kept = 0;                // samples in a colour line (the alpha sample never is)
    int colourCount = 0;         // leading file samples that carry colour (at most kept)
    int lineBits = 0;            // bits x kept
    std::uint64_t lineBytes = 0; // line-size rule, rounded up to 4
    bool alphaLine = false;      // the alpha samples travel as a line of their own
    bool separate() const { return planar == PLANARCONFIG_SEPARATE && samples > 1; }
};

// Reads the tags and derives the layout for one read. sixteen selects the 16-bit rules (colour
// count without the ink set). Returns 1, or -16 for a layout the reader does not handle
// (the reasons are listed in tiff_codec.h); the last error text says which.
int DescribeLayout(TIFF* tif, bool wantAlpha, bool sixteen, TiffLayout& layout);

// 8-bit lines. in is one interleaved scan line; line receives kept samples per pixel, alpha
// (when not null) one sample per pixel. Extra samples past the colour count are inverted.
void SplitInterleaved8(const TiffLayout& l, const std::uint8_t* in, std::uint8_t* line,
                       std::uint8_t* alpha);
// Spreads file plane `plane` into line (or into alpha for the alpha plane; dropped without one).
void SpreadPlane8(const TiffLayout& l, int plane, const std::uint8_t* in, std::uint8_t* line,
                  std::uint8_t* alpha);
// Photometric conversion, then undoing associated alpha (alpha is the alpha line or null).
void ConvertLine8(const TiffLayout& l, std::uint8_t* line, const std::uint8_t* alpha);

// 16-bit lines, native words.
void SplitInterleaved16(const TiffLayout& l, const std::uint16_t* in, std::uint16_t* line,
                        std::uint16_t* alpha);
void SpreadPlane16(const TiffLayout& l, int plane, const std::uint16_t* in, std::uint16_t* line,
                   std::uint16_t* alpha);
// Undoing associated alpha, then the photometric conversion.
void ConvertLine16(const TiffLayout& l, std::uint16_t* line, const std::uint16_t* alpha);

} // namespace codec_tiff
