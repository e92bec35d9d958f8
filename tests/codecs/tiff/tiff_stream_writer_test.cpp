// Tests of the streaming TIFF writer, reading every file back with libtiff: tags, file kind,
// strip layout, stored sample values, padding, abort, separate planes and refusals.
#include "support/support.h"
#include "tiff_test_util.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <dib/Status.h>
#include <dib/StreamWriters.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tifftest::ReadBack;
using tifftest::TiffFile;

class TiffStream : public ::testing::Test {
protected:
    fs::path File(const std::string& name) const { return dir.path() / name; }
    // A handle with the common defaults; rows per strip, compression and colour order vary.
    void* Start(const fs::path& path, int width, int height, int samples, int bits,
                int compression = 1, int colourOrder = 0, int rowsPerStrip = 0, int planar = 1,
                tagRGBQUAD* palette = nullptr, int minIsWhite = 0)
    {
        return L_StartDynamicSaveTIFF(width, height, samples, bits, minIsWhite, 300.0, 150.0,
                                      path.wstring().c_str(), compression, colourOrder, palette,
                                      rowsPerStrip, planar, nullptr, 0);
    }
    dibtest::TempDir dir;
};

TEST_F(TiffStream, PhotometricAndColourTags)
{
    tagRGBQUAD palette[16] = {};
    palette[1] = {0, 128, 255, 0};
    struct Case {
        const char* name;
        int samples, bits, minIsWhite;
        bool palette;
        int photometric, inks, inkSet;
        std::vector<std::uint16_t> extra;
    };
    const Case cases[] = {
        {"grey", 1, 8, 0, false, PHOTOMETRIC_MINISBLACK, 0, 0, {}},
        {"min-is-white 1 bit", 1, 1, 1, false, PHOTOMETRIC_MINISWHITE, 0, 0, {}},
        {"min-is-white 16 bits", 1, 16, 1, false, PHOTOMETRIC_MINISWHITE, 0, 0, {}},
        {"palette", 1, 4, 1, true, PHOTOMETRIC_PALETTE, 0, 0, {}},
        {"rgb", 3, 8, 1, false, PHOTOMETRIC_RGB, 0, 0, {}},
        {"two inks", 2, 8, 0, false, PHOTOMETRIC_SEPARATED, 2, INKSET_CMYK, {}},
        {"cmyk", 4, 16, 0, false, PHOTOMETRIC_SEPARATED, 4, INKSET_CMYK, {}},
        {"six", 6, 8, 0, false, PHOTOMETRIC_SEPARATED, 6, 0, {0, 0}},
        {"twenty", 20, 8, 0, false, PHOTOMETRIC_SEPARATED, 20, 0,
         std::vector<std::uint16_t>(16, 0)},
    };
    for (const Case& c : cases) {
        const fs::path path = File("tags.tif");
        void* h = Start(path, 5, 3, c.samples, c.bits, 1, 0, 0, 1, c.palette ? palette : nullptr,
                        c.minIsWhite);
        ASSERT_NE(h, nullptr) << c.name;
        ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK) << c.name;
        const TiffFile t = ReadBack(path);
        ASSERT_TRUE(t.opened) << c.name;
        EXPECT_EQ(t.samples, c.samples) << c.name;
        EXPECT_EQ(t.bits, c.bits) << c.name;
        EXPECT_EQ(t.photometric, c.photometric) << c.name;
        EXPECT_EQ(t.inks, c.inks) << c.name;
        EXPECT_EQ(t.inkSet, c.inkSet) << c.name;
        EXPECT_EQ(t.extraSamples, c.extra) << c.name;
        EXPECT_EQ(t.hasColorMap, c.palette) << c.name;
        if (c.palette) {
            // 8-bit components become 16-bit values with the byte in both halves.
            EXPECT_EQ(t.colorMap[0][1], 65535);
            EXPECT_EQ(t.colorMap[1][1], 32896);
            EXPECT_EQ(t.colorMap[2][1], 0);
        }
        EXPECT_FLOAT_EQ(t.xDpi, 300.0f);
        EXPECT_FLOAT_EQ(t.yDpi, 150.0f);
        EXPECT_EQ(t.resolutionUnit, RESUNIT_INCH);
        EXPECT_FALSE(t.software.empty());
        EXPECT_EQ(t.dateTime.size(), 19u) << t.dateTime; // YYYY:MM:DD HH:MM:SS
        EXPECT_EQ(t.dateTime[4], ':');
        EXPECT_EQ(t.dateTime[13], ':');
    }
}

TEST_F(TiffStream, CompressionExtras)
{
    struct Case {
        int compression, bits, predictor;
    };
    for (const Case c : {Case{COMPRESSION_LZW, 8, PREDICTOR_HORIZONTAL},
                         {COMPRESSION_LZW, 16, 2},
                         {COMPRESSION_LZW, 4, PREDICTOR_NONE},
                         {COMPRESSION_ADOBE_DEFLATE, 8, 0},
                         {COMPRESSION_PACKBITS, 8, 0}}) {
        const fs::path path = File("c.tif");
        void* h = Start(path, 9, 4, 1, c.bits, c.compression);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
        const TiffFile t = ReadBack(path);
        EXPECT_EQ(t.compression, c.compression);
        EXPECT_EQ(t.predictor, c.predictor) << c.compression << " " << c.bits;
    }
    const fs::path path = File("j.tif");
    void* h = Start(path, 16, 16, 3, 8, COMPRESSION_JPEG);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_EQ(ReadBack(path).compression, COMPRESSION_JPEG);
}

TEST_F(TiffStream, RowsPerStrip)
{
    struct Case {
        int height, request, expected;
    };
    for (const Case c : {Case{1000, -20, 128},
                         {10000, -20, 501},
                         {2560, -20, 128},
                         {2688, -20, 135},
                         {500, 7, 7},
                         {500, 0, 128},
                         {10, 0, 128},
                         {500, INT_MIN, 128}}) {
        const fs::path path = File("rps.tif");
        void* h = Start(path, 4, c.height, 1, 8, 1, 0, c.request);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
        EXPECT_EQ(ReadBack(path, false).rowsPerStrip, c.expected)
            << c.height << " rows, request " << c.request;
    }
}

// Width 30 000 at 8-bit RGB is 90 000 bytes a row: uncompressed, 47 488 rows plus 20 MiB stay
// below 4 GiB and 47 489 do not. Compressed files take the codec's worst case.
TEST_F(TiffStream, ClassicOrBigTiff)
{
    struct Case {
        int height, compression;
        bool big;
    };
    for (const Case c : {Case{47488, 1, false},
                         {47489, 1, true},
                         {30000, 5, false},
                         {40000, 5, true},
                         {40000, 32773, true},
                         {47000, 32946, false},
                         {47488, 32946, true},
                         {10000, 7, true},
                         {5000, 7, false}}) {
        const fs::path path = File("kind.tif");
        void* h = Start(path, 30000, c.height, 3, 8, c.compression);
        ASSERT_NE(h, nullptr) << c.height;
        ASSERT_EQ(L_AbortDynamicSaveTIFF(h), DIB_OK);
        // Aborted before the first row the file has no strips yet: its header tells the kind.
        EXPECT_EQ(tifftest::IsBigTiffHeader(path), c.big)
            << c.height << " rows, compression " << c.compression;
    }
}

// Stored values: swapped blue-green-red, complemented extra samples, everything else as given,
// for every route (strips of several sizes, each compression).
TEST_F(TiffStream, StoredSamples)
{
    struct Case {
        const char* name;
        int samples, bits, colourOrder;
    };
    const Case layouts[] = {
        {"bgr 8", 3, 8, 1}, {"rgb 8", 3, 8, 0},   {"bgr 16", 3, 16, 1},  {"cmyk", 4, 8, 1},
        {"six 8", 6, 8, 0}, {"six 16", 6, 16, 0}, {"grey 16", 1, 16, 1}, {"1 bit", 1, 1, 0},
    };
    const int compressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE,
                                COMPRESSION_PACKBITS};
    const int width = 13, height = 37;
    for (const Case& c : layouts) {
        for (int compression : compressions) {
            for (int rps : {0, 5, 1}) {
                const fs::path path = File("s.tif");
                void* h =
                    Start(path, width, height, c.samples, c.bits, compression, c.colourOrder, rps);
                ASSERT_NE(h, nullptr) << c.name;
                const std::size_t line = (std::size_t(width) * c.samples * c.bits + 7) / 8;
                std::vector<std::vector<std::uint8_t>> given;
                for (int r = 0; r < height; ++r) {
                    std::vector<std::uint8_t> row(line);
                    for (std::size_t i = 0; i < line; ++i)
                        row[i] = std::uint8_t(r * 31 + i * 7 + 3);
                    const auto copy = row;
                    ASSERT_EQ(L_DynamicSaveTIFFrow(row.data(), h, -1, -1), 0) << c.name;
                    EXPECT_EQ(row, copy) << "the caller's row changed";
                    given.push_back(row);
                }
                ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
                const TiffFile t = ReadBack(path);
                ASSERT_EQ(t.rows.size(), std::size_t(height)) << c.name;
                for (int r = 0; r < height; ++r) {
                    const auto expected =
                        tifftest::AsStored(given[r], c.samples, c.bits, c.colourOrder, width);
                    ASSERT_EQ(t.rows[r], expected) << c.name << ", compression " << compression
                                                   << ", rps " << rps << ", row " << r;
                }
            }
        }
    }
}

TEST_F(TiffStream, SpecificValues)
{
    // Six 8-bit samples: 10 in the fifth and sixth is stored as 245; three-sample blue, green,
    // red (10, 20, 30) as (30, 20, 10).
    const fs::path six = File("six.tif");
    void* h = Start(six, 1, 1, 6, 8);
    unsigned char pixel[6] = {1, 2, 3, 4, 10, 10};
    ASSERT_EQ(L_DynamicSaveTIFFrow(pixel, h, -1, -1), 0);
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_EQ(ReadBack(six).rows.at(0), (std::vector<std::uint8_t>{1, 2, 3, 4, 245, 245}));

    const fs::path bgr = File("bgr.tif");
    h = Start(bgr, 1, 1, 3, 8, 1, 1);
    unsigned char rgb[3] = {10, 20, 30};
    ASSERT_EQ(L_DynamicSaveTIFFrow(rgb, h, -1, -1), 0);
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_EQ(ReadBack(bgr).rows.at(0), (std::vector<std::uint8_t>{30, 20, 10}));
}

TEST_F(TiffStream, MissingRowsFilledSurplusDropped)
{
    struct Case {
        int samples, written, compression, rps;
        std::uint8_t fill;
    };
    for (const Case c : {Case{3, 60, 1, 0, 255},
                         {4, 60, 1, 0, 0},
                         {3, 60, 5, 7, 255},
                         {6, 60, 8, 0, 0},
                         {1, 0, 32773, 0, 0},
                         {3, 100, 1, 0, 0}}) {
        const fs::path path = File("pad.tif");
        void* h = Start(path, 8, 100, c.samples, 8, c.compression, 0, c.rps);
        ASSERT_NE(h, nullptr);
        std::vector<std::uint8_t> row(8 * std::size_t(c.samples), 77);
        for (int r = 0; r < c.written; ++r)
            ASSERT_EQ(L_DynamicSaveTIFFrow(row.data(), h, -1, -1), 0);
        if (c.written == 100) {
            EXPECT_EQ(L_DynamicSaveTIFFrow(row.data(), h, -1, -1), 1);
            EXPECT_EQ(L_DynamicSaveTIFFrow(row.data(), h, 5, 0), 1);
        }
        ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
        EXPECT_EQ(h, nullptr);
        const TiffFile t = ReadBack(path);
        ASSERT_EQ(t.rows.size(), 100u);
        for (int r = 0; r < 100; ++r) {
            const auto stored = tifftest::AsStored(row, c.samples, 8, 0, 8);
            const auto expected =
                r < c.written ? stored : std::vector<std::uint8_t>(row.size(), c.fill);
            ASSERT_EQ(t.rows[r], expected) << c.samples << " samples, row " << r;
        }
    }
}

// Abort keeps the rows written so far, a short last strip included.
TEST_F(TiffStream, AbortKeepsRowsWritten)
{
    for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
        const fs::path path = File("abort.tif");
        void* h = Start(path, 6, 300, 3, 8, compression);
        ASSERT_NE(h, nullptr);
        std::vector<std::uint8_t> row(18);
        for (int r = 0; r < 10; ++r) {
            std::fill(row.begin(), row.end(), std::uint8_t(r + 1));
            ASSERT_EQ(L_DynamicSaveTIFFrow(row.data(), h, -1, -1), 0);
        }
        EXPECT_EQ(L_AbortDynamicSaveTIFF(h), DIB_OK);
        EXPECT_EQ(h, nullptr);
        const auto rows = tifftest::ReadRows(path, 10);
        ASSERT_EQ(rows.size(), 10u) << compression;
        for (int r = 0; r < 10; ++r)
            EXPECT_EQ(rows[r], std::vector<std::uint8_t>(18, std::uint8_t(r + 1)));
    }
}

TEST_F(TiffStream, SeparatePlanes)
{
    for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW}) {
        const fs::path path = File("planes.tif");
        void* h = Start(path, 5, 20, 3, 8, compression, 1, 8, 2);
        ASSERT_NE(h, nullptr);
        std::vector<std::uint8_t> row(5);
        for (int plane = 0; plane < 2; ++plane) {
            for (int r = 0; r < 20; ++r) {
                std::fill(row.begin(), row.end(), std::uint8_t(10 * plane + r));
                const auto copy = row;
                ASSERT_EQ(L_DynamicSaveTIFFrow(row.data(), h, r, plane), 0);
                EXPECT_EQ(row, copy);
            }
        }
        // Plane 2: rows 0 to 3 only, so its first strip is partly written and the others
        // are filled.
        for (int r = 0; r < 4; ++r) {
            std::fill(row.begin(), row.end(), std::uint8_t(100 + r));
            ASSERT_EQ(L_DynamicSaveTIFFrow(row.data(), h, r, 2), 0);
        }
        EXPECT_EQ(L_DynamicSaveTIFFrow(row.data(), h, -1, 0), 1);
        EXPECT_EQ(L_DynamicSaveTIFFrow(row.data(), h, 0, -1), 1);
        EXPECT_EQ(L_DynamicSaveTIFFrow(row.data(), h, 20, 0), DIB_ERR_FAILED);
        EXPECT_EQ(L_DynamicSaveTIFFrow(row.data(), h, 0, 3), DIB_ERR_FAILED);
        ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);

        const auto planes = tifftest::ReadPlanes(path);
        ASSERT_EQ(planes.size(), 3u);
        for (int plane = 0; plane < 2; ++plane)
            for (int r = 0; r < 20; ++r)
                EXPECT_EQ(planes[plane].at(r), std::vector<std::uint8_t>(5, 10 * plane + r));
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(planes[2].at(r), std::vector<std::uint8_t>(5, 100 + r));
        EXPECT_TRUE(planes[2].at(4).empty()); // the partly written strip ends short
        for (int r = 8; r < 20; ++r) // strips 1 and 2 of the plane: filled (3 samples: 255)
            EXPECT_EQ(planes[2].at(r), std::vector<std::uint8_t>(5, 255)) << r;
    }
}

// Strips beyond 32 MiB go to libtiff row by row; the file is the same.
TEST_F(TiffStream, RowByRowRouteForHugeStrips)
{
    const int width = 4000, height = 2900; // 12 000 bytes a row, one strip of 34.8 MB
    const fs::path path = File("huge-strip.tif");
    void* h = Start(path, width, height, 3, 8, COMPRESSION_LZW, 1, height);
    ASSERT_NE(h, nullptr);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int r = 0; r < height - 1; ++r) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = std::uint8_t(i + r);
        const auto copy = row;
        ASSERT_EQ(L_DynamicSaveTIFFrow(row.data(), h, -1, -1), 0);
        ASSERT_EQ(row, copy) << "the predictor worked on the caller's row";
    }
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK); // the last row is filled
    const TiffFile t = ReadBack(path);
    ASSERT_EQ(t.rows.size(), std::size_t(height));
    EXPECT_EQ(t.rowsPerStrip, height);
    for (int r : {0, 1, 1000, height - 2}) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = std::uint8_t(i + r);
        EXPECT_EQ(t.rows[r], tifftest::AsStored(row, 3, 8, 1, width)) << r;
    }
    EXPECT_EQ(t.rows[height - 1], std::vector<std::uint8_t>(row.size(), 255));
}

TEST_F(TiffStream, PhotoshopBlock)
{
    const fs::path path = File("ps.tif");
    unsigned char block[] = {'8', 'B', 'I', 'M', 4, 4, 0, 0, 0, 0, 0, 2, 'h', 'i'};
    void* h = L_StartDynamicSaveTIFF(2, 2, 1, 8, 0, 72, 72, path.wstring().c_str(), 1, 0, nullptr,
                                     0, 1, block, sizeof block);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_EQ(ReadBack(path).photoshop, std::vector<std::uint8_t>(block, block + sizeof block));

    // A null block or a size of 0 writes no tag.
    h = L_StartDynamicSaveTIFF(2, 2, 1, 8, 0, 72, 72, path.wstring().c_str(), 1, 0, nullptr, 0, 1,
                               block, 0);
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_TRUE(ReadBack(path).photoshop.empty());
}

TEST_F(TiffStream, FolderCreatedAndRefusalsCreateNoFile)
{
    const fs::path nested = File("a/b/c.tif");
    void* h = Start(nested, 2, 2, 1, 8);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_TRUE(ReadBack(nested).opened);

    struct Case {
        const char* name;
        int width, height, samples, bits, compression, planar;
        double dpi;
        bool palette;
    };
    const Case cases[] = {
        {"width 0", 0, 2, 1, 8, 1, 1, 72, false},
        {"height -1", 2, -1, 1, 8, 1, 1, 72, false},
        {"0 samples", 2, 2, 0, 8, 1, 1, 72, false},
        {"21 samples", 2, 2, 21, 8, 1, 1, 72, false},
        {"3 bits", 2, 2, 1, 3, 1, 1, 72, false},
        {"rgb at 4 bits", 2, 2, 3, 4, 1, 1, 72, false},
        {"32 bits", 2, 2, 1, 32, 1, 1, 72, false},
        {"planar 3", 2, 2, 3, 8, 1, 3, 72, false},
        {"negative dpi", 2, 2, 1, 8, 1, 1, -1, false},
        {"nan dpi", 2, 2, 1, 8, 1, 1, std::numeric_limits<double>::quiet_NaN(), false},
        {"unknown compression", 2, 2, 1, 8, 12345, 1, 72, false},
        {"fax at 8 bits", 2, 2, 1, 8, COMPRESSION_CCITTFAX4, 1, 72, false},
        {"jpeg at 16 bits", 2, 2, 3, 16, COMPRESSION_JPEG, 1, 72, false},
        {"jpeg with palette", 2, 2, 1, 8, COMPRESSION_JPEG, 1, 72, true},
        {"palette with rgb", 2, 2, 3, 8, 1, 1, 72, true},
        {"row beyond 2 GiB", INT_MAX, 2, 3, 8, 1, 1, 72, false},
    };
    tagRGBQUAD palette[256] = {};
    for (const Case& c : cases) {
        const fs::path path = File("refused.tif");
        void* r = L_StartDynamicSaveTIFF(c.width, c.height, c.samples, c.bits, 0, c.dpi, 72,
                                         path.wstring().c_str(), c.compression, 0,
                                         c.palette ? palette : nullptr, 0, c.planar, nullptr, 0);
        EXPECT_EQ(r, nullptr) << c.name;
        EXPECT_FALSE(fs::exists(path)) << c.name;
    }
    EXPECT_EQ(Start(L"", 2, 2, 1, 8), nullptr);
    EXPECT_EQ(
        L_StartDynamicSaveTIFF(2, 2, 1, 8, 0, 72, 72, nullptr, 1, 0, nullptr, 0, 1, nullptr, 0),
        nullptr);
    // A file under a regular file cannot be created.
    EXPECT_EQ(Start(File("a/b/c.tif/d.tif"), 2, 2, 1, 8), nullptr);
    // A device that takes no bytes: the header cannot be written.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(Start("/dev/full", 2, 2, 1, 8), nullptr);
    }

    void* none = nullptr;
    unsigned char row[8] = {};
    EXPECT_EQ(L_DynamicSaveTIFFrow(row, nullptr, -1, -1), DIB_ERR_INVALID);
    EXPECT_EQ(L_EndDynamicSaveTIFF(none), DIB_ERR_INVALID);
    EXPECT_EQ(L_AbortDynamicSaveTIFF(none), DIB_ERR_INVALID);
    h = Start(File("n.tif"), 2, 2, 1, 8);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(L_DynamicSaveTIFFrow(nullptr, h, -1, -1), DIB_ERR_INVALID);
    EXPECT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
}

// The handle's first member is the libtiff file: a tag set there before the first row lands in
// the file (here an ICC profile, which libtiff knows).
TEST_F(TiffStream, TagsThroughTheHandle)
{
    const fs::path path = File("icc.tif");
    void* h = Start(path, 3, 3, 3, 8);
    ASSERT_NE(h, nullptr);
    TIFF* tif = *static_cast<TIFF**>(h);
    const unsigned char profile[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(sizeof profile), profile), 1);
    ASSERT_EQ(L_EndDynamicSaveTIFF(h), DIB_OK);
    EXPECT_EQ(ReadBack(path).icc, std::vector<std::uint8_t>(profile, profile + sizeof profile));
}

} // namespace
