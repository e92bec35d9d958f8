// Open: every reader reached from the file's description, pixels and members against what
// tifffile and djpeg decoded, the state after failures, memory blocks and module resources.
#include "io_test_util.h"
#include "support/fakes.h"
#include "support/support.h"

#include <base/word2byte.h>
#include <dib/FileInfo.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <win/module_resources.h>

using namespace iotest;
using dib::TDibAccess;

namespace {

constexpr int W = 7, H = 5;

// An image with a bitmap and members of its own, to see what an open keeps or replaces.
void FillOld(TDib& image)
{
    ASSERT_EQ(image.Crear(3, 2, 8), 0);
    TDibAccess::ResolucioX(image) = 11.0;
    TDibAccess::ResolucioY(image) = 12.0;
    TDibAccess::EspaiColor(image) = DIB_CS_GREY;
    TDibAccess::Canals(image) = 1;
    TDibAccess::BitsPerCanal(image) = 8;
}

void ExpectOld(const TDib& image)
{
    EXPECT_EQ(image.GetMidaX(), 3);
    EXPECT_EQ(image.GetMidaY(), 2);
    EXPECT_EQ(TDibAccess::ResolucioX(image), 11.0);
    EXPECT_EQ(TDibAccess::EspaiColor(image), DIB_CS_GREY);
    EXPECT_EQ(TDibAccess::Canals(image), 1u);
}

} // namespace

TEST(Obrir, OwnTiffReaderPixelsAndMembers)
{
    // expected(sample bytes of pixel, k): the image byte k of that pixel.
    struct Case {
        const char* file;
        int bits, channels, bpc;
        std::uint32_t cs;
        int samples;     // per pixel in the .samples file
        int sampleBytes; // bytes of one sample there
        int bytes;       // per pixel in the image
        std::uint8_t (*expected)(const std::uint8_t* s, int k);
    } cases[] = {
        {"rgb8.tif", 24, 3, 8, DIB_CS_RGB, 3, 1, 3,
         [](const std::uint8_t* s, int k) { return s[2 - k]; }},
        {"rgb8_lzw.tif", 24, 3, 8, DIB_CS_RGB, 3, 1, 3,
         [](const std::uint8_t* s, int k) { return s[2 - k]; }},
        {"grey8.tif", 8, 1, 8, DIB_CS_GREY, 1, 1, 1,
         [](const std::uint8_t* s, int) { return s[0]; }},
        {"cmyk8.tif", 32, 4, 8, DIB_CS_CMYK, 4, 1, 4,
         [](const std::uint8_t* s, int k) { return s[k]; }},
        // 16 bits per sample: reduced to 8 bits, the layout kept.
        {"rgb16.tif", 24, 3, 8, DIB_CS_RGB, 3, 2, 3,
         [](const std::uint8_t* s, int k) { return g_word2byte[Word(s + (2 - k) * 2)]; }},
        {"grey16_miniswhite.tif", 8, 1, 8, DIB_CS_GREY, 1, 2, 1,
         [](const std::uint8_t* s, int) { return g_word2byte[65535 - Word(s)]; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TDib image;
        FillOld(image);
        ASSERT_EQ(image.Obrir(Tiff(c.file).c_str()), 0) << DibGetLastErrorText();
        ASSERT_EQ(image.GetMidaX(), W);
        ASSERT_EQ(image.GetMidaY(), H);
        EXPECT_EQ(image.GetBitsPerPixel(), c.bits);
        EXPECT_EQ(TDibAccess::EspaiColor(image), c.cs);
        EXPECT_EQ(TDibAccess::Canals(image), std::uint32_t(c.channels));
        EXPECT_EQ(TDibAccess::BitsPerCanal(image), std::uint32_t(c.bpc));
        EXPECT_EQ(TDibAccess::CanalAlpha(image), -1);
        const Bytes s = Samples(c.file);
        for (int y = 0; y < H; ++y) {
            const Bytes row = Row(image, y);
            for (int x = 0; x < W; ++x)
                for (int k = 0; k < c.bytes; ++k)
                    ASSERT_EQ(
                        row[std::size_t(x * c.bytes + k)],
                        c.expected(&s[std::size_t((y * W + x) * c.samples * c.sampleBytes)], k))
                        << x << "," << y << " byte " << k;
        }
    }
}

TEST(Obrir, ResolutionFromTheDescription)
{
    TDib image;
    ASSERT_EQ(image.Obrir(Tiff("grey8.tif").c_str()), 0);
    EXPECT_EQ(TDibAccess::ResolucioX(image), 300.0);
    EXPECT_EQ(TDibAccess::Bitmap(image).XResolution, 300);
    // Per centimetre.
    ASSERT_EQ(image.Obrir(Tiff("res_cm.tif").c_str()), 0);
    EXPECT_NEAR(TDibAccess::ResolucioY(image), 762.0, 1e-9);
    EXPECT_EQ(TDibAccess::Bitmap(image).YResolution, 762);
    // No resolution in the file: 72 in the members and in the bitmap.
    ASSERT_EQ(image.Obrir(Tiff("grey4.tif").c_str()), 0);
    EXPECT_EQ(TDibAccess::ResolucioX(image), 72.0);
    EXPECT_EQ(TDibAccess::ResolucioY(image), 72.0);
    EXPECT_EQ(TDibAccess::Bitmap(image).YResolution, 72);
}

TEST(Obrir, CallersDescriptionChoosesTheJpegReader)
{
    CFILEINFO info;
    ASSERT_EQ(TDibAccess::InfoJPEG(Jpeg("rgb444-dpi.jpg").c_str(), info), 1);
    info.Format = RK_FORMAT_JPEG;
    info.XResolution = 300.4;
    info.YResolution = 150.5;
    info.AlphaChannel = -1;
    TDib image;
    ASSERT_EQ(image.Obrir(Jpeg("rgb444-dpi.jpg").c_str(), 0, nullptr, 1, &info), 0)
        << DibGetLastErrorText();
    int w, h, ch;
    const Bytes ppm = Pnm(kData + "/jpeg/rgb444-dpi.ppm", w, h, ch);
    ASSERT_EQ(image.GetMidaX(), w);
    ASSERT_EQ(image.GetMidaY(), h);
    ASSERT_EQ(image.GetBitsPerPixel(), 24);
    for (int y = 0; y < h; ++y) {
        const Bytes row = Row(image, y);
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(row[std::size_t(x * 3 + k)], ppm[std::size_t((y * w + x) * 3 + 2 - k)]);
    }
    // The caller's record gives the members; the bitmap's resolution is rounded half away.
    EXPECT_EQ(TDibAccess::ResolucioX(image), 300.4);
    EXPECT_EQ(TDibAccess::Bitmap(image).XResolution, 300);
    EXPECT_EQ(TDibAccess::Bitmap(image).YResolution, 151);
    EXPECT_EQ(TDibAccess::EspaiColor(image), info.ColorSpace);
    // The wanted depth reaches the JPEG reader.
    ASSERT_EQ(image.Obrir(Jpeg("rgb444-dpi.jpg").c_str(), 8, nullptr, 1, &info), 0);
    EXPECT_EQ(image.GetBitsPerPixel(), 8);
}

TEST(Obrir, FailuresLeaveTheImageAsItWas)
{
    dibtest::TempDir dir;
    const std::string junk = (dir.path() / "junk.bin").string();
    std::ofstream(junk) << "this is no image at all";
    const Bytes whole = ReadAll(kData + "/tiff/rgb8_big.tif");
    const std::string cut = (dir.path() / "cut.tif").string();
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(whole.data()), std::streamsize(whole.size() / 2));

    for (const std::string& path : {junk, cut, dir.path().string() + "/missing.tif"}) {
        SCOPED_TRACE(path);
        TDib image;
        FillOld(image);
        EXPECT_LT(image.Obrir(Wide(path).c_str()), 0);
        ExpectOld(image);
    }
    // Cancelled on the third row.
    TDib image;
    FillOld(image);
    dibtest::FakeProgress progress(2);
    EXPECT_EQ(image.Obrir(Tiff("rgb8_big.tif").c_str(), 0, &progress), DIB_ERR_FAILED);
    ExpectOld(image);
    // A null path.
    EXPECT_LT(image.Obrir(nullptr), 0);
    ExpectOld(image);
}

TEST(ObrirMem, OwnTiffReaderAndRefusals)
{
    const Bytes file = ReadAll(kData + "/tiff/rgb8_lzw.tif");
    TDib image;
    FillOld(image);
    ASSERT_EQ(image.ObrirMem(file.data(), int(file.size()), 0, RK_FORMAT_TIFF_DEFLATE), 0)
        << DibGetLastErrorText();
    EXPECT_EQ(image.GetMidaX(), W);
    EXPECT_EQ(image.GetBitsPerPixel(), 24);
    EXPECT_EQ(TDibAccess::ResolucioX(image), 11.0) << "resolution members are kept";
    EXPECT_EQ(TDibAccess::EspaiColor(image), DIB_CS_RGB);
    const Bytes s = Samples("rgb8_lzw.tif");
    EXPECT_EQ(Row(image, 4)[3], s[(4 * W + 1) * 3 + 2]);

    const std::uint8_t junk[] = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    TDib other;
    FillOld(other);
    EXPECT_EQ(other.ObrirMem(junk, sizeof junk, 0, 0), DIB_ERR_INVALID);
    ExpectOld(other);
    EXPECT_LT(other.ObrirMem(junk, sizeof junk, 0, RK_FORMAT_TIFF_DEFLATE), 0);
    ExpectOld(other);
    EXPECT_EQ(other.ObrirMem(nullptr, 10, 0, 0), DIB_ERR_INVALID);
    EXPECT_EQ(other.ObrirMem(file.data(), 0, 0, 0), DIB_ERR_INVALID);
    EXPECT_EQ(other.ObrirMem(file.data(), -5, 0, RK_FORMAT_TIFF_DEFLATE), DIB_ERR_INVALID);
    ExpectOld(other);
}

TEST(ObrirRecurs, ModulesAndTheChain)
{
    const Bytes file = ReadAll(kData + "/tiff/rgb8.tif");
    HINSTANCE module = WinCreateModule(L"io-test-images");
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(
        WinAddResource(module, L"IMATGE_BINARIA", MAKEINTRESOURCEW(7), file.data(), file.size()));
    ASSERT_TRUE(WinAddResource(module, L"IMATGE_BINARIA", L"LOGO", file.data(), file.size()));
    const std::uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(WinAddResource(module, L"IMATGE_BINARIA", L"JUNK", junk, sizeof junk));

    TDib image;
    EXPECT_EQ(image.ObrirRecurs(8u, module), DIB_ERR_NO_RESOURCE);
    EXPECT_EQ(image.ObrirRecurs(L"ABSENT", module), DIB_ERR_NO_RESOURCE);
    EXPECT_EQ(image.ObrirRecurs(70000u, module), DIB_ERR_NO_RESOURCE);
    EXPECT_EQ(image.ObrirRecurs(L"JUNK", module), DIB_ERR_INVALID);
    // Not registered: the chain does not know the module.
    EXPECT_NE(image.ObrirRecurs(L"LOGO", nullptr), 0);
    if (!KernelReads(RK_FORMAT_TIFF)) {
        WinDestroyModule(module);
        GTEST_SKIP() << "the kernel's file module does not read TIFF yet";
    }
    EXPECT_EQ(image.ObrirRecurs(7u, module), 0);
    EXPECT_EQ(image.GetMidaX(), W);
    ASSERT_TRUE(WinRegisterModule(module));
    TDib fromChain;
    EXPECT_EQ(fromChain.ObrirRecurs(L"logo", nullptr), 0);
    EXPECT_EQ(fromChain.GetMidaY(), H);
    WinDestroyModule(module);
}

TEST(SetResolucioPCD, KernelRefusalIsInvalid)
{
    EXPECT_EQ(TDib::SetResolucioPCD(9), DIB_ERR_INVALID);
    EXPECT_EQ(TDib::SetResolucioPCD(-1), DIB_ERR_INVALID);
    EXPECT_EQ(TDib::SetResolucioPCD(4), 0);
    EXPECT_EQ(RkGetPCDResolution(), 4);
    EXPECT_EQ(TDib::SetResolucioPCD(2), 0);
}
