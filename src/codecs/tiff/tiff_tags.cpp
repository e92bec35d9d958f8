// tiff_tags.cpp - the private TIFF fields and their extender, tag setting on an open file, and
// palette exchange with the ColorMap.
//
//   InstallTiffTagExtenderOnce   the extender, installed once per process, chaining the previous
//   L_SetTIFFTagExtender         replaces libtiff's extender
//   L_SetTIFFTag                 one tag on a writer's file
//   L_SetTIFFPalette             tagRGBQUAD entries -> ColorMap
//   L_GetTIFFPalette             ColorMap -> malloc'd tagRGBQUAD entries
#include "tiff_codec.h"

#include <atomic>
#include <codec/tiff_support.h>
#include <cstdarg>
#include <cstdlib>
#include <dib/TiffTags.h>
#include <mutex>
#include <tiffio.h>
#include <vector>

namespace {

// libtiff keeps a pointer to the table (it does not copy the names), so it lives for the
// process. The ICC profile is a custom field; the image source data (a layered document's
// private data) is known but ignored on reading.
TIFFFieldInfo g_privateFields[] = {
    {TIFFTAG_ICCPROFILE, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 0, 1,
     const_cast<char*>("ICC Profile")},
    {TIFFTAG_IMAGESOURCEDATA, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, 0 /* ignored */, 0, 1,
     const_cast<char*>("Image Source Data")},
};

std::atomic<TIFFExtendProc> g_previousExtender{nullptr};

void PrivateTagExtender(TIFF* tif)
{
    // Fields libtiff already knows keep libtiff's definition: TIFFMergeFieldInfo adds only
    // unknown tags, and libtiff's own ICC definition reads as the same counted byte array.
    TIFFMergeFieldInfo(tif, g_privateFields, sizeof g_privateFields / sizeof g_privateFields[0]);
    if (TIFFExtendProc previous = g_previousExtender.load(std::memory_order_acquire))
        previous(tif);
}

} // namespace

namespace codec_tiff {

void InstallTiffTagExtenderOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        codec::InstallTiffHandlersOnce();
        TIFFExtendProc previous = TIFFSetTagExtender(PrivateTagExtender);
        // A second install of this very extender (a second copy of the library's start-up
        // in one process) must not chain to itself.
        if (previous != PrivateTagExtender)
            g_previousExtender.store(previous, std::memory_order_release);
    });
}

} // namespace codec_tiff

int L_SetTIFFTagExtender(DibTiffExtender extender)
{
    TIFFSetTagExtender(extender);
    return 0;
}

int L_SetTIFFTag(void* handle, unsigned long tag, ...)
{
    if (!handle)
        return 0;
    TIFF* tif = *static_cast<TIFF**>(handle);
    if (!tif || tag > 0xFFFFFFFFul)
        return 0;
    va_list args;
    va_start(args, tag);
    TIFFVSetField(tif, static_cast<uint32_t>(tag), args);
    va_end(args);
    return 0;
}

int L_SetTIFFPalette(TIFF* tif, const tagRGBQUAD* palette, int bits)
{
    if (!tif || !palette || bits < 1 || bits > 16)
        return 0;
    const std::size_t count = std::size_t(1) << bits;
    std::vector<uint16_t> red, green, blue;
    try {
        red.resize(count);
        green.resize(count);
        blue.resize(count);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        red[i] = static_cast<uint16_t>(palette[i].rgbRed * 257);
        green[i] = static_cast<uint16_t>(palette[i].rgbGreen * 257);
        blue[i] = static_cast<uint16_t>(palette[i].rgbBlue * 257);
    }
    return TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data()) == 1 ? 1 : 0;
}

tagRGBQUAD* L_GetTIFFPalette(TIFF* tif)
{
    if (!tif)
        return nullptr;
    uint16_t samples = 1, bits = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    const int product = int(static_cast<int16_t>(samples)) * int(static_cast<int16_t>(bits));
    // Beyond 16 bits no ColorMap can exist (libtiff refuses one), and 2^product would not be
    // an allocation anyone wants.
    if (product <= 0 || product > 16)
        return nullptr;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || !red || !green || !blue)
        return nullptr;
    const std::size_t count = std::size_t(1) << product;
    // libtiff's ColorMap holds 2^BitsPerSample entries: with several samples per pixel the
    // entries past those are returned as black instead of being read past the arrays.
    const std::size_t stored = bits <= 16 ? std::size_t(1) << bits : 0;
    auto* out = static_cast<tagRGBQUAD*>(std::calloc(count, sizeof(tagRGBQUAD)));
    if (!out)
        return nullptr;
    for (std::size_t i = 0; i < count && i < stored; ++i) {
        out[i].rgbBlue = static_cast<BYTE>(blue[i] >> 8);
        out[i].rgbGreen = static_cast<BYTE>(green[i] >> 8);
        out[i].rgbRed = static_cast<BYTE>(red[i] >> 8);
        out[i].rgbReserved = 0;
    }
    return out;
}
