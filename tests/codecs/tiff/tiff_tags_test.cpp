// Private TIFF fields after start-up, the extender switch, tag setting and palette exchange.
#include "support/support.h"

#include <codecs/tiff/tiff_codec.h>
#include <cstdlib>
#include <cstring>
#include <dib/TiffTags.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

const std::string kDir = DIB_TIFF_DATA_DIR;

struct Closer {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, Closer>;

// A one-pixel-high palette file at `bits` per sample, written with libtiff directly.
Tiff WritePaletteFile(const std::string& path, int bits, const tagRGBQUAD* palette)
{
    Tiff t(TIFFOpen(path.c_str(), "w"));
    TIFFSetField(t.get(), TIFFTAG_IMAGEWIDTH, 8);
    TIFFSetField(t.get(), TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(t.get(), TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    EXPECT_EQ(L_SetTIFFPalette(t.get(), palette, bits), 1);
    std::uint8_t row[8] = {};
    TIFFWriteScanline(t.get(), row, 0, 0);
    return t;
}

TEST(TiffTags, PaletteRoundTrip)
{
    dibtest::TempDir dir;
    const std::string path = (dir.path() / "p.tif").string();
    std::vector<tagRGBQUAD> palette(16);
    for (int i = 0; i < 16; ++i)
        palette[i] = {BYTE(i * 3), BYTE(i * 5), BYTE(255 - i), 0};
    palette[1] = {0, 128, 255, 0}; // blue, green, red
    WritePaletteFile(path, 4, palette.data()).reset();

    Tiff t(TIFFOpen(path.c_str(), "r"));
    ASSERT_TRUE(t);
    std::uint16_t *r, *g, *b;
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_COLORMAP, &r, &g, &b), 1);
    EXPECT_EQ(r[1], 65535);
    EXPECT_EQ(g[1], 32896);
    EXPECT_EQ(b[1], 0);
    tagRGBQUAD* back = L_GetTIFFPalette(t.get());
    ASSERT_NE(back, nullptr);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(back[i].rgbBlue, palette[i].rgbBlue);
        EXPECT_EQ(back[i].rgbGreen, palette[i].rgbGreen);
        EXPECT_EQ(back[i].rgbRed, palette[i].rgbRed);
        EXPECT_EQ(back[i].rgbReserved, 0);
    }
    std::free(back);

    EXPECT_EQ(L_SetTIFFPalette(nullptr, palette.data(), 4), 0);
    EXPECT_EQ(L_SetTIFFPalette(t.get(), nullptr, 4), 0);
    EXPECT_EQ(L_SetTIFFPalette(t.get(), palette.data(), 0), 0);
    EXPECT_EQ(L_GetTIFFPalette(nullptr), nullptr);

    Tiff rgb(TIFFOpen((kDir + "rgb8.tif").c_str(), "r"));
    EXPECT_EQ(L_GetTIFFPalette(rgb.get()), nullptr);
    Tiff pal4(TIFFOpen((kDir + "palette4.tif").c_str(), "r"));
    tagRGBQUAD* p4 = L_GetTIFFPalette(pal4.get());
    ASSERT_NE(p4, nullptr);
    std::free(p4);
}

TEST(TiffTags, IccProfileReadsAsCountedBytesAfterStartup)
{
    std::ifstream in(kDir + "rgb8_icc.icc", std::ios::binary);
    const std::vector<char> icc(std::istreambuf_iterator<char>(in), {});
    auto source = core::FileSource((kDir + "rgb8_icc.tif").c_str());
    ASSERT_TRUE(source);
    auto t = codec::TiffInput::Open(*source);
    ASSERT_TRUE(t);
    std::uint32_t count = 0;
    void* data = nullptr;
    ASSERT_EQ(TIFFGetField(t->get(), TIFFTAG_ICCPROFILE, &count, &data), 1);
    ASSERT_EQ(count, icc.size());
    EXPECT_EQ(std::memcmp(data, icc.data(), count), 0);
    // Both private fields are known to every file opened after start-up.
    EXPECT_NE(TIFFFindField(t->get(), 34675, TIFF_ANY), nullptr);
    EXPECT_NE(TIFFFindField(t->get(), 37724, TIFF_ANY), nullptr);
}

int g_callerExtenderCalls = 0;
void CallerExtender(TIFF*)
{
    ++g_callerExtenderCalls;
}

TEST(TiffTags, ReplacedExtenderIsCalledAndOursIsNot)
{
    // Ours, as start-up installed it.
    const TIFFExtendProc ours = TIFFSetTagExtender(nullptr);
    TIFFSetTagExtender(ours);
    ASSERT_NE(ours, nullptr);

    EXPECT_EQ(L_SetTIFFTagExtender(CallerExtender), 0);
    Tiff t(TIFFOpen((kDir + "rgb8.tif").c_str(), "r"));
    EXPECT_GE(g_callerExtenderCalls, 1);
    EXPECT_EQ(L_SetTIFFTagExtender(ours), 0);
}

TEST(TiffTags, SetTagOnAWritersHandle)
{
    dibtest::TempDir dir;
    const std::string path = (dir.path() / "s.tif").string();
    struct {
        TIFF* tif;
        int other;
    } handle{TIFFOpen(path.c_str(), "w"), 0};
    ASSERT_NE(handle.tif, nullptr);
    EXPECT_EQ(L_SetTIFFTag(&handle, TIFFTAG_SOFTWARE, "libdib test"), 0);
    const unsigned char profile[] = {1, 2, 3};
    EXPECT_EQ(L_SetTIFFTag(&handle, TIFFTAG_ICCPROFILE, std::uint32_t(3), profile), 0);
    // libtiff refuses an unknown tag; the result is 0 all the same.
    EXPECT_EQ(L_SetTIFFTag(&handle, 65000ul, 1), 0);
    EXPECT_EQ(L_SetTIFFTag(nullptr, TIFFTAG_SOFTWARE, "x"), 0);
    TIFFSetField(handle.tif, TIFFTAG_IMAGEWIDTH, 1);
    TIFFSetField(handle.tif, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(handle.tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(handle.tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    std::uint8_t px = 0;
    TIFFWriteScanline(handle.tif, &px, 0, 0);
    TIFFClose(handle.tif);

    Tiff t(TIFFOpen(path.c_str(), "r"));
    char* software = nullptr;
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_SOFTWARE, &software), 1);
    EXPECT_STREQ(software, "libdib test");
    std::uint32_t count = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(TIFFGetField(t.get(), TIFFTAG_ICCPROFILE, &count, &data), 1);
    EXPECT_EQ(count, 3u);
}

} // namespace
