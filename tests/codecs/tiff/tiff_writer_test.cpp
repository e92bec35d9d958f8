// Tests of the whole-image TIFF writer (TDib::_saveTiff, _saveTiffMemory): the layout chosen
// for each depth and palette, the CMYK conversion, progress and cancellation, the memory
// route, and the files as an independent reader sees them.
#include "support/fakes.h"
#include "support/support.h"
#include "tiff_test_util.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <dib/Status.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/outside/win/global_memory.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using dib::TDibAccess;
using tifftest::ReadBack;
using tifftest::TiffFile;

// An image whose stored bytes follow (3x + 5y + i) for byte i of pixel x on row y.
void Fill(TDib& d)
{
    const int bpl = d.GetBytesPerLinia();
    std::vector<unsigned char> row(std::size_t(bpl), 0);
    for (int y = 0; y < d.GetMidaY(); ++y) {
        for (int i = 0; i < bpl; ++i)
            row[std::size_t(i)] = static_cast<unsigned char>(5 * y + 3 * i + 1);
        ASSERT_EQ(d.SetLinia(y, row.data(), std::uint64_t(bpl)), 0);
    }
}

std::vector<unsigned char> Row(const TDib& d, int y)
{
    std::vector<unsigned char> row(std::size_t(d.GetBytesPerLinia()));
    EXPECT_EQ(d.GetLinia(y, row.data(), row.size()), 0);
    return row;
}

tagRGBQUAD Grey(int g)
{
    return {BYTE(g), BYTE(g), BYTE(g), 0};
}

class TiffSave : public ::testing::Test {
protected:
    fs::path File(const std::string& name) const { return dir.path() / name; }
    int Save(const TDib& d, const fs::path& path, int compression = 1, int cmyk = 0,
             TIndicadorEstat* progress = nullptr)
    {
        return TDibAccess::SaveTiff(d, path.wstring().c_str(), compression, cmyk, progress);
    }
    dibtest::TempDir dir;
};

TEST_F(TiffSave, LayoutByDepthAndPalette)
{
    std::vector<tagRGBQUAD> up8(256), down1 = {Grey(255), Grey(0)}, up2(4), colours4(16);
    for (int i = 0; i < 256; ++i)
        up8[std::size_t(i)] = Grey(i);
    for (int i = 0; i < 4; ++i)
        up2[std::size_t(i)] = Grey(i * 85);
    for (int i = 0; i < 16; ++i)
        colours4[std::size_t(i)] = {BYTE(i * 16), BYTE(255 - i), BYTE(i), 0};
    struct Case {
        const char* name;
        int bits;
        const std::vector<tagRGBQUAD>* palette; // null: the kernel's default
        int samples, bitsPerSample, photometric;
        bool colorMap;
    };
    const Case cases[] = {
        {"1 bit white-black", 1, &down1, 1, 1, PHOTOMETRIC_MINISWHITE, false},
        {"1 bit black-white (default)", 1, nullptr, 1, 1, PHOTOMETRIC_MINISBLACK, false},
        {"2 bit ramp", 2, &up2, 1, 2, PHOTOMETRIC_MINISBLACK, false},
        {"4 bit colours", 4, &colours4, 1, 4, PHOTOMETRIC_PALETTE, true},
        {"8 bit grey", 8, &up8, 1, 8, PHOTOMETRIC_MINISBLACK, false},
        {"8 bit colour cube (default)", 8, nullptr, 1, 8, PHOTOMETRIC_PALETTE, true},
        {"16 bit", 16, nullptr, 3, 8, PHOTOMETRIC_RGB, false},
        {"24 bit", 24, nullptr, 3, 8, PHOTOMETRIC_RGB, false},
        {"32 bit", 32, nullptr, 4, 8, PHOTOMETRIC_SEPARATED, false},
        {"48 bit", 48, nullptr, 3, 16, PHOTOMETRIC_RGB, false},
    };
    for (const Case& c : cases) {
        TDib d;
        ASSERT_EQ(d.Crear(21, 7, c.bits, c.palette ? c.palette->data() : nullptr), 0) << c.name;
        Fill(d);
        const fs::path path = File("layout.tif");
        ASSERT_EQ(Save(d, path, COMPRESSION_LZW), 1) << c.name;
        const TiffFile t = ReadBack(path);
        EXPECT_EQ(t.samples, c.samples) << c.name;
        EXPECT_EQ(t.bits, c.bitsPerSample) << c.name;
        EXPECT_EQ(t.photometric, c.photometric) << c.name;
        EXPECT_EQ(t.hasColorMap, c.colorMap) << c.name;
        EXPECT_EQ(t.compression, COMPRESSION_LZW);
        EXPECT_EQ(t.rowsPerStrip, 128);
        if (c.bits == 32) {
            EXPECT_EQ(t.inkSet, INKSET_CMYK);
        }
        ASSERT_EQ(t.rows.size(), 7u) << c.name;
        // Depths written as stored: every byte unchanged; 24 and 48 bits with red first.
        for (int y = 0; y < 7; ++y) {
            const auto stored = Row(d, y);
            const std::size_t line = t.rows[y].size();
            std::vector<std::uint8_t> expected(line);
            std::copy_n(stored.begin(), std::min(line, stored.size()), expected.begin());
            if (c.bits == 24 || c.bits == 48)
                expected = tifftest::AsStored(expected, 3, c.bitsPerSample, 1, 21);
            if (c.bits == 16) {
                for (int x = 0; x < 21; ++x) {
                    const unsigned v = stored[2 * x] | stored[2 * x + 1] << 8;
                    auto e = [](unsigned f) { return std::uint8_t((f << 3) | (f >> 2)); };
                    expected[3 * x] = e((v >> 10) & 31);
                    expected[3 * x + 1] = e((v >> 5) & 31);
                    expected[3 * x + 2] = e(v & 31);
                }
            }
            ASSERT_EQ(t.rows[y], expected) << c.name << ", row " << y;
        }
        if (c.colorMap) {
            const tagRGBQUAD* p = c.palette ? c.palette->data() : TDibAccess::Bitmap(d).pPalette;
            for (int i : {0, 1, 7, (1 << c.bits) - 1}) {
                EXPECT_EQ(t.colorMap[0][i], p[i].rgbRed * 257) << c.name << " entry " << i;
                EXPECT_EQ(t.colorMap[2][i], p[i].rgbBlue * 257) << c.name << " entry " << i;
            }
        }
    }
}

TEST_F(TiffSave, CmykFromEachPixelsColour)
{
    // Pure red becomes cyan 0, magenta 255, yellow 255, black 0, from every depth.
    std::vector<tagRGBQUAD> palette(256, tagRGBQUAD{0, 0, 0, 0});
    palette[3] = {0, 0, 255, 0};
    struct Case {
        int bits;
        std::vector<unsigned char> redPixel; // stored bytes of the first pixel
    };
    for (const Case& c : {Case{24, {0, 0, 255}}, Case{48, {0, 0, 0, 0, 255, 255}},
                          Case{16, {0x00, 0x7C}}, Case{4, {0x30}}, Case{8, {3}}}) {
        TDib d;
        ASSERT_EQ(d.Crear(4, 2, c.bits, c.bits <= 8 ? palette.data() : nullptr), 0);
        std::vector<unsigned char> row(std::size_t(d.GetBytesPerLinia()), 0);
        std::copy(c.redPixel.begin(), c.redPixel.end(), row.begin());
        ASSERT_EQ(d.SetLinia(0, row.data(), row.size()), 0);
        const fs::path path = File("cmyk.tif");
        ASSERT_EQ(Save(d, path, COMPRESSION_PACKBITS, 1), 1) << c.bits;
        const TiffFile t = ReadBack(path);
        EXPECT_EQ(t.samples, 4);
        EXPECT_EQ(t.photometric, PHOTOMETRIC_SEPARATED);
        EXPECT_EQ(t.inkSet, INKSET_CMYK);
        ASSERT_EQ(t.rows.size(), 2u);
        EXPECT_EQ(std::vector<std::uint8_t>(t.rows[0].begin(), t.rows[0].begin() + 4),
                  (std::vector<std::uint8_t>{0, 255, 255, 0}))
            << c.bits << " bits";
    }
    // 32 bits are written as they are, with or without the flag.
    TDib d;
    ASSERT_EQ(d.Crear(3, 1, 32), 0);
    unsigned char px[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_EQ(d.SetLinia(0, px, 12), 0);
    ASSERT_EQ(Save(d, File("32.tif"), 1, 1), 1);
    EXPECT_EQ(ReadBack(File("32.tif")).rows.at(0), std::vector<std::uint8_t>(px, px + 12));
}

TEST_F(TiffSave, ResolutionAndBottomUpRows)
{
    TDib d;
    ASSERT_EQ(d.Crear(3, 4, 8), 0);
    Fill(d);
    TDibAccess::ResolucioX(d) = 300.0;
    TDibAccess::ResolucioY(d) = 200.0;
    // Stored bottom-up: the file starts with the image's top row, the last one stored.
    TDibAccess::Bitmap(d).ViewPerspective = RK_BOTTOM_LEFT;
    const auto top = Row(d, 0);
    const fs::path path = File("res.tif");
    ASSERT_EQ(Save(d, path), 1);
    const TiffFile t = ReadBack(path);
    EXPECT_FLOAT_EQ(t.xDpi, 300.0f);
    EXPECT_FLOAT_EQ(t.yDpi, 200.0f);
    ASSERT_EQ(t.rows.size(), 4u);
    EXPECT_EQ(t.rows[0], std::vector<std::uint8_t>(top.begin(), top.begin() + 3));
}

TEST_F(TiffSave, ProgressAndCancellation)
{
    TDib d;
    ASSERT_EQ(d.Crear(5, 30, 24), 0);
    Fill(d);
    dibtest::FakeProgress progress;
    ASSERT_EQ(Save(d, File("p.tif"), 1, 0, &progress), 1);
    EXPECT_EQ(progress.opened.size(), 30u);
    EXPECT_EQ(progress.closed, 30);
    EXPECT_EQ(progress.GetProfunditat(), 0u);

    // Cancelled at row 10: -100, the indicator balanced, the file ended with rows 10 on
    // filled (255 for RGB).
    dibtest::FakeProgress cancel(10);
    const fs::path path = File("c.tif");
    EXPECT_EQ(Save(d, path, 1, 0, &cancel), -100);
    EXPECT_EQ(cancel.GetProfunditat(), 0u);
    const TiffFile t = ReadBack(path);
    ASSERT_EQ(t.rows.size(), 30u);
    const auto row9 = Row(d, 9);
    EXPECT_EQ(
        t.rows[9],
        tifftest::AsStored(std::vector<std::uint8_t>(row9.begin(), row9.begin() + 15), 3, 8, 1, 5));
    EXPECT_EQ(t.rows[10], std::vector<std::uint8_t>(15, 255));
}

TEST_F(TiffSave, Failures)
{
    TDib empty;
    EXPECT_EQ(Save(empty, File("e.tif")), -100);
    EXPECT_FALSE(fs::exists(File("e.tif")));
    TDib d;
    ASSERT_EQ(d.Crear(2, 2, 8), 0);
    EXPECT_EQ(Save(d, File("x.tif"), 12345), -100);            // no such compression
    EXPECT_EQ(Save(d, File("j.tif"), COMPRESSION_JPEG), -100); // palette image: not JPEG
    EXPECT_EQ(TDibAccess::SaveTiff(d, nullptr, 1, 0, nullptr), -100);
    EXPECT_EQ(TDibAccess::SaveTiff(d, L"", 1, 0, nullptr), -100);
    TDib rgb;
    ASSERT_EQ(rgb.Crear(16, 16, 24), 0);
    EXPECT_EQ(Save(rgb, File("j.tif"), COMPRESSION_JPEG), 1);

    void* memory = reinterpret_cast<void*>(1);
    unsigned long size = 7;
    EXPECT_EQ(TDibAccess::SaveTiffMemory(empty, memory, size, 1), DIB_ERR_INVALID);
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(TiffSave, MemoryHoldsTheSameFile)
{
    for (int compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
        TDib d;
        ASSERT_EQ(d.Crear(300, 200, 24), 0);
        Fill(d);
        void* memory = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(TDibAccess::SaveTiffMemory(d, memory, size, compression), 0);
        ASSERT_NE(memory, nullptr);
        EXPECT_EQ(GlobalSize(memory), size);
        const fs::path fromMemory = File("m.tif");
        {
            std::ofstream out(fromMemory, std::ios::binary);
            out.write(static_cast<const char*>(GlobalLock(memory)), std::streamsize(size));
            GlobalUnlock(memory);
        }
        EXPECT_EQ(GlobalFree(memory), nullptr);
        const fs::path fromFile = File("f.tif");
        ASSERT_EQ(Save(d, fromFile, compression), 1);
        const TiffFile a = ReadBack(fromMemory), b = ReadBack(fromFile);
        ASSERT_TRUE(a.opened);
        EXPECT_EQ(a.compression, compression);
        EXPECT_EQ(a.rows, b.rows);
        EXPECT_EQ(a.rows.size(), 200u);
        if (compression == COMPRESSION_NONE) { // 180 000 bytes of pixels and the directory
            EXPECT_GT(size, 180000u);
        }
    }
}

// Files of several layouts read by tifffile (when installed), which checks every sample
// against the pattern it computes itself. (tifffile decodes LZW only with a codec package
// Debian lacks: LZW is read back through libtiff above.)
TEST_F(TiffSave, IndependentReaderAgrees)
{
    if (std::system("/usr/bin/python3 -c 'import tifffile, numpy' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-tifffile is not installed";
    std::string files;
    struct Case {
        int bits, compression, cmyk;
    };
    for (const Case c :
         {Case{24, 1, 0}, {24, 32946, 0}, {24, 32773, 1}, {48, 8, 0}, {8, 1, 0}, {32, 8, 0}}) {
        TDib d;
        std::vector<tagRGBQUAD> grey(256);
        for (int i = 0; i < 256; ++i)
            grey[std::size_t(i)] = Grey(i);
        ASSERT_EQ(d.Crear(301, 133, c.bits, c.bits == 8 ? grey.data() : nullptr), 0);
        Fill(d);
        const std::string name = "b" + std::to_string(c.bits) + "_c" +
                                 std::to_string(c.compression) + "_k" + std::to_string(c.cmyk) +
                                 ".tif";
        ASSERT_EQ(Save(d, File(name), c.compression, c.cmyk), 1);
        files += " '" + File(name).string() + "'";
    }
    const std::string command = "/usr/bin/python3 '" DIB_TIFF_CHECKER "'" + files;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace
