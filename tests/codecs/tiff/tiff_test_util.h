// Reading the TIFF writer's files back with libtiff alone, and the stored form of given rows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tiffio.h>
#include <vector>

namespace tifftest {

// The first four bytes: "II*\0" or "MM\0*" for classic TIFF, 43 in place of 42 for BigTIFF.
inline bool IsBigTiffHeader(const std::filesystem::path& path)
{
    unsigned char h[4] = {};
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        if (std::fread(h, 1, 4, f) != 4)
            h[2] = h[3] = 0;
        std::fclose(f);
    }
    return (h[0] == 'I' && h[2] == 43) || (h[0] == 'M' && h[3] == 43);
}

struct TiffFile {
    bool opened = false;
    bool bigTiff = false;
    int width = 0, height = 0, samples = 0, bits = 0, photometric = -1, planar = 0;
    int compression = 0, predictor = 0, rowsPerStrip = 0, inks = 0, inkSet = 0;
    int resolutionUnit = 0;
    float xDpi = 0, yDpi = 0;
    std::vector<std::uint16_t> extraSamples;
    bool hasColorMap = false;
    std::vector<std::uint16_t> colorMap[3];
    std::string software, dateTime;
    std::vector<std::uint8_t> photoshop, icc;
    std::vector<std::vector<std::uint8_t>> rows; // interleaved files, when read
};

inline TiffFile ReadBack(const std::filesystem::path& path, bool withRows = true)
{
    TiffFile t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return t;
    t.opened = true;
    t.bigTiff = TIFFIsBigTIFF(tif) != 0;
    std::uint32_t u32 = 0;
    std::uint16_t u16 = 0;
    float f = 0;
    char* text = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &u32))
        t.width = int(u32);
    if (TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &u32))
        t.height = int(u32);
    if (TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &u32))
        t.rowsPerStrip = int(u32);
    auto get16 = [&](ttag_t tag, int& out) {
        if (TIFFGetField(tif, tag, &u16))
            out = u16;
    };
    get16(TIFFTAG_SAMPLESPERPIXEL, t.samples);
    get16(TIFFTAG_BITSPERSAMPLE, t.bits);
    get16(TIFFTAG_PHOTOMETRIC, t.photometric);
    get16(TIFFTAG_PLANARCONFIG, t.planar);
    get16(TIFFTAG_COMPRESSION, t.compression);
    get16(TIFFTAG_PREDICTOR, t.predictor);
    get16(TIFFTAG_NUMBEROFINKS, t.inks);
    get16(TIFFTAG_INKSET, t.inkSet);
    get16(TIFFTAG_RESOLUTIONUNIT, t.resolutionUnit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &f))
        t.xDpi = f;
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &f))
        t.yDpi = f;
    std::uint16_t* extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &u16, &extra) && u16)
        t.extraSamples.assign(extra, extra + u16);
    std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
        t.hasColorMap = true;
        const std::size_t n = std::size_t(1) << t.bits;
        t.colorMap[0].assign(r, r + n);
        t.colorMap[1].assign(g, g + n);
        t.colorMap[2].assign(b, b + n);
    }
    if (TIFFGetField(tif, TIFFTAG_SOFTWARE, &text))
        t.software = text;
    if (TIFFGetField(tif, TIFFTAG_DATETIME, &text))
        t.dateTime = text;
    void* data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_PHOTOSHOP, &u32, &data) && data)
        t.photoshop.assign(static_cast<std::uint8_t*>(data),
                           static_cast<std::uint8_t*>(data) + u32);
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &u32, &data) && data)
        t.icc.assign(static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + u32);
    if (withRows && t.planar == PLANARCONFIG_CONTIG) {
        const tmsize_t line = TIFFScanlineSize(tif);
        for (int y = 0; y < t.height; ++y) {
            std::vector<std::uint8_t> row(static_cast<std::size_t>(line));
            if (TIFFReadScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
                break;
            t.rows.push_back(std::move(row));
        }
    }
    TIFFClose(tif);
    return t;
}

// The first `count` rows of an interleaved file (fewer when a read fails).
inline std::vector<std::vector<std::uint8_t>> ReadRows(const std::filesystem::path& path, int count)
{
    std::vector<std::vector<std::uint8_t>> rows;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return rows;
    const tmsize_t line = TIFFScanlineSize(tif);
    for (int y = 0; y < count; ++y) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(line));
        if (TIFFReadScanline(tif, row.data(), std::uint32_t(y), 0) < 0)
            break;
        rows.push_back(std::move(row));
    }
    TIFFClose(tif);
    return rows;
}

// Every row of every plane of a separate-plane file (empty for a row libtiff cannot read).
inline std::vector<std::vector<std::vector<std::uint8_t>>>
ReadPlanes(const std::filesystem::path& path)
{
    std::vector<std::vector<std::vector<std::uint8_t>>> planes;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return planes;
    std::uint16_t samples = 0;
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    const tmsize_t line = TIFFScanlineSize(tif);
    for (std::uint16_t p = 0; p < samples; ++p) {
        planes.emplace_back();
        for (std::uint32_t y = 0; y < height; ++y) {
            std::vector<std::uint8_t> row(static_cast<std::size_t>(line));
            if (TIFFReadScanline(tif, row.data(), y, p) < 0)
                row.clear(); // a row libtiff cannot read: empty
            planes.back().push_back(std::move(row));
        }
    }
    TIFFClose(tif);
    return planes;
}

// A caller's interleaved row as the writer stores it: 3 samples in blue-green-red order
// swapped (colour order 1), samples 4 and above complemented.
inline std::vector<std::uint8_t> AsStored(const std::vector<std::uint8_t>& row, int samples,
                                          int bits, int colourOrder, int width)
{
    std::vector<std::uint8_t> out = row;
    if (bits != 8 && bits != 16)
        return out;
    const std::size_t bytes = std::size_t(bits / 8);
    for (std::size_t x = 0; x < std::size_t(width); ++x) {
        std::uint8_t* p = out.data() + x * samples * bytes;
        const std::uint8_t* q = row.data() + x * samples * bytes;
        if (samples == 3 && colourOrder == 1) {
            std::memcpy(p, q + 2 * bytes, bytes);
            std::memcpy(p + 2 * bytes, q, bytes);
        }
        for (int i = 4; i < samples; ++i) {
            if (bits == 8) {
                p[i] = std::uint8_t(255 - q[i]);
            } else {
                std::uint16_t v;
                std::memcpy(&v, q + 2 * i, 2);
                v = std::uint16_t(65535 - v);
                std::memcpy(p + 2 * i, &v, 2);
            }
        }
    }
    return out;
}

} // namespace tifftest
