// tiff_writer.cpp - a whole TDib as TIFF, to a file or to a global memory block, through the
// streaming TIFF writer so that both carry the same tags.
//
// Contents
//   layout by depth      Layout, PickLayout, GreyRamp
//   row conversion       PixelColour, ToCmyk, From555
//   the save             tiffw::SaveImage, TDib::_saveTiff, TDib::_saveTiffMemory
#include "tiff_writer_internal.h"

#include <algorithm>
#include <base/progress.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <core/pixels.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dib/Status.h>
#include <dib/StreamWriters.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <new>
#include <raster/kernel.h>
#include <vector>
#include <win/global_memory.h>

namespace {

constexpr int kSaveFailed = -100;

enum class Source {
    Direct,  // the stored row as it is
    From555, // 16-bit x-5-5-5 to 8-bit red, green, blue
    ToCmyk,  // each pixel's colour to C, M, Y, K = 0
};

struct Layout {
    Source source = Source::Direct;
    int samples = 1;
    int bits = 8;
    int minIsWhite = 0;
    int colourOrder = 0;
    bool withPalette = false;
    tagRGBQUAD palette[256] = {};
};

// 1: the palette is the ascending grey ramp of the depth (entry i = i * 255 / (2^bits - 1)),
// -1 the descending one, 0 neither.
int GreyRamp(const tagRGBQUAD* palette, int count, int bits)
{
    const int n = 1 << bits;
    if (!palette || count != n)
        return 0;
    bool up = true, down = true;
    for (int i = 0; i < n; ++i) {
        const int level = i * 255 / (n - 1);
        const tagRGBQUAD& e = palette[i];
        const bool grey = e.rgbRed == e.rgbGreen && e.rgbGreen == e.rgbBlue;
        up = up && grey && e.rgbRed == level;
        down = down && grey && e.rgbRed == 255 - level;
    }
    return up ? 1 : down ? -1 : 0;
}

bool PickLayout(const _BITMAPHANDLE& b, int channels, int bitsPerChannel, int cmyk, Layout& l)
{
    const int bits = b.BitsPerPixel;
    l.colourOrder = b.Order == RK_ORDER_BGR ? 1 : 0;
    // Inks beyond the four process colours (spot channels, as the reader stores them): one
    // 8-bit sample per channel, as stored. Read by depth alone, 48 bits would pass for 16-bit
    // RGB and 40 bits would be refused.
    if (channels >= 5 && channels <= 20 && bitsPerChannel == 8 && bits == 8 * channels) {
        l.samples = channels;
        l.bits = 8;
        l.colourOrder = 0;
        return true;
    }
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8: {
        l.samples = 1;
        l.bits = bits;
        const int ramp = GreyRamp(b.pPalette, b.ColorCount, bits);
        if (ramp != 0 || !b.pPalette || b.ColorCount <= 0) {
            l.minIsWhite = ramp == -1 || (ramp == 0 && bits < 8) ? 1 : 0;
        } else {
            // Entries the bitmap lacks stay black.
            l.withPalette = true;
            const int n = std::min(b.ColorCount, 1 << bits);
            std::memcpy(l.palette, b.pPalette, sizeof(tagRGBQUAD) * std::size_t(n));
        }
        break;
    }
    case 16:
        l.source = Source::From555;
        l.samples = 3;
        l.colourOrder = 0;
        break;
    case 24:
        l.samples = 3;
        break;
    case 32:
        l.samples = 4;
        l.colourOrder = 0;
        return true; // already four samples: no CMYK conversion
    case 48:
        l.samples = 3;
        l.bits = 16;
        break;
    default:
        return false;
    }
    if (cmyk) {
        l.source = Source::ToCmyk;
        l.samples = 4;
        l.bits = 8;
        l.colourOrder = 0;
        l.withPalette = false;
        l.minIsWhite = 0;
    }
    return true;
}

// Red, green and blue of pixel x of a stored row.
void PixelColour(const _BITMAPHANDLE& b, const std::uint8_t* row, int x, std::uint8_t rgb[3])
{
    const int bits = b.BitsPerPixel;
    const std::uint64_t raw = core::ReadPixel(row, x, bits);
    unsigned c[3]; // in storage order
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8: {
        if (b.pPalette && raw < std::uint64_t(b.ColorCount)) {
            const tagRGBQUAD& e = b.pPalette[raw];
            rgb[0] = e.rgbRed;
            rgb[1] = e.rgbGreen;
            rgb[2] = e.rgbBlue;
        } else { // no palette: the index as a grey level
            const auto grey = std::uint8_t(raw * 255 / ((1u << bits) - 1));
            rgb[0] = rgb[1] = rgb[2] = grey;
        }
        return;
    }
    case 16: {
        auto expand = [](unsigned v) { return (v << 3) | (v >> 2); };
        c[0] = expand(unsigned(raw) & 31);
        c[1] = expand(unsigned(raw >> 5) & 31);
        c[2] = expand(unsigned(raw >> 10) & 31);
        break;
    }
    case 48: // the high byte of each little-endian sample
        c[0] = unsigned(raw >> 8) & 255;
        c[1] = unsigned(raw >> 24) & 255;
        c[2] = unsigned(raw >> 40) & 255;
        break;
    default:
        c[0] = unsigned(raw) & 255;
        c[1] = unsigned(raw >> 8) & 255;
        c[2] = unsigned(raw >> 16) & 255;
        break;
    }
    const bool rgbOrder = b.Order == RK_ORDER_RGB;
    rgb[0] = std::uint8_t(rgbOrder ? c[0] : c[2]);
    rgb[1] = std::uint8_t(c[1]);
    rgb[2] = std::uint8_t(rgbOrder ? c[2] : c[0]);
}

void ConvertRow(const _BITMAPHANDLE& b, Source source, const std::uint8_t* in, std::uint8_t* out)
{
    const int width = b.Width;
    std::uint8_t rgb[3];
    if (source == Source::From555) {
        for (int x = 0; x < width; ++x, out += 3)
            PixelColour(b, in, x, out);
        return;
    }
    if (b.BitsPerPixel == 24 && b.Order == RK_ORDER_BGR) { // the common case, without lookups
        for (int x = 0; x < width; ++x, in += 3, out += 4) {
            out[0] = std::uint8_t(255 - in[2]);
            out[1] = std::uint8_t(255 - in[1]);
            out[2] = std::uint8_t(255 - in[0]);
            out[3] = 0;
        }
        return;
    }
    for (int x = 0; x < width; ++x, out += 4) {
        PixelColour(b, in, x, rgb);
        out[0] = std::uint8_t(255 - rgb[0]);
        out[1] = std::uint8_t(255 - rgb[1]);
        out[2] = std::uint8_t(255 - rgb[2]);
        out[3] = 0;
    }
}

struct StreamGuard {
    void* handle = nullptr;
    ~StreamGuard()
    {
        if (handle)
            L_EndDynamicSaveTIFF(handle);
    }
};

} // namespace

namespace tiffw {

int SaveImage(const TDib& image, const wchar_t* path, MemoryFile* memory, int compression, int cmyk,
              TIndicadorEstat* progress)
{
    const _BITMAPHANDLE& b = dib::TDibAccess::Bitmap(image);
    Layout layout;
    if (image.EsBuit() || b.Width < 1 || b.Height < 1 ||
        !PickLayout(b, int(dib::TDibAccess::Canals(image)),
                    int(dib::TDibAccess::BitsPerCanal(image)), cmyk, layout)) {
        core::SetLastErrorText("TIFF writer: no image, or a depth it cannot write");
        return kSaveFailed;
    }
    const auto outLine = core::CheckedLineSize(std::int64_t(b.Width) * layout.samples, layout.bits);
    std::vector<std::uint8_t> row, converted;
    try {
        row.resize(std::size_t(b.BytesPerLine));
        if (layout.source != Source::Direct)
            converted.resize(std::size_t(outLine.value_or(0)));
    } catch (const std::bad_alloc&) {
        core::SetLastErrorText("out of memory");
        return kSaveFailed;
    }

    StreamArgs a;
    a.width = b.Width;
    a.height = b.Height;
    a.samples = layout.samples;
    a.bits = layout.bits;
    a.minIsWhite = layout.minIsWhite;
    a.xDpi = image.GetResolucioX();
    a.yDpi = image.GetResolucioY();
    a.compression = compression;
    a.colourOrder = layout.colourOrder;
    a.palette = layout.withPalette ? layout.palette : nullptr;
    a.rowsPerStrip = 0;
    a.planar = 1;
    StreamGuard stream;
    stream.handle = StartStream(a, path, memory);
    if (!stream.handle)
        return kSaveFailed;

    bool failed = false;
    for (int r = 0; r < b.Height && !failed; ++r) {
        if (!TIndicadorEstat::SetRangPosicioRel(progress, std::uint64_t(r),
                                                std::uint64_t(b.Height))) {
            TIndicadorEstat::PopRangRel(progress);
            core::SetLastErrorText("cancelled");
            failed = true;
            break;
        }
        const int stored = dib::TDibAccess::StoredRow(b, r);
        if (RkGetBitmapRow(&b, row.data(), stored, row.size()) < 1) {
            core::SetLastErrorText("TIFF writer: a row of the image could not be read");
            failed = true;
        } else {
            std::uint8_t* out = row.data();
            if (layout.source != Source::Direct) {
                ConvertRow(b, layout.source, row.data(), converted.data());
                out = converted.data();
            }
            if (L_DynamicSaveTIFFrow(out, stream.handle, -1, -1) != 0)
                failed = true;
        }
        TIndicadorEstat::PopRangRel(progress);
    }
    if (L_EndDynamicSaveTIFF(stream.handle) != DIB_OK)
        failed = true;
    return failed ? kSaveFailed : 1;
}

} // namespace tiffw

int TDib::_saveTiff(const wchar_t* path, int compression, int cmyk, TIndicadorEstat* progress) const
{
    if (!path || !*path)
        return kSaveFailed;
    return tiffw::SaveImage(*this, path, nullptr, compression, cmyk, progress);
}

int TDib::_saveTiffMemory(void*& memory, unsigned long& size, int compression) const
{
    memory = nullptr;
    size = 0;
    tiffw::MemoryFile file;
    if (tiffw::SaveImage(*this, nullptr, &file, compression, 0, nullptr) != 1)
        return file.outOfMemory ? DIB_ERR_NO_MEMORY : DIB_ERR_INVALID;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(file.size));
    void* bytes = block ? GlobalLock(block) : nullptr;
    if (!bytes) {
        if (block)
            GlobalFree(block);
        core::SetLastErrorText("out of memory");
        return DIB_ERR_NO_MEMORY;
    }
    std::memcpy(bytes, file.data, std::size_t(file.size));
    GlobalUnlock(block);
    memory = block;
    size = static_cast<unsigned long>(file.size);
    return DIB_OK;
}
