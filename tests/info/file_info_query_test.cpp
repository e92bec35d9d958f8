// GetInfoFitxer and the queries on it, checked against fixtures made by independent tools
// (tifffile / ImageMagick / Pillow / cjpeg, see the make_fixtures scripts under tests/data).
#include "info_test_util.h"

#include <cmath>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/TiffTools.h>
#include <gtest/gtest.h>
#include <info/format_families.h>
#include <info/info_access.h>

using infotest::Data;
using infotest::DataPath;
using infotest::KernelFormat;
using infotest::ReadAll;

namespace {

struct TiffCase {
    const char* file;
    int status;
    int width, height, bitsPerPixel;
    std::uint32_t colourSpace, channels, bitsPerChannel;
    int alpha;
    double xres, yres;
    int indexed, tiled;
};

// Facts as tifffile reads them (size, samples, bits, photometric, extra samples, resolution
// and its unit); -5 for the layouts the own reader does not load.
const TiffCase kTiffCases[] = {
    {"tiff/rgb8.tif", 0, 7, 5, 24, DIB_CS_RGB, 3, 8, -1, 1.0, 1.0, 0, 0},
    {"tiff/grey8.tif", 0, 7, 5, 8, DIB_CS_GREY, 1, 8, -1, 300.0, 300.0, 0, 0},
    {"tiff/res_cm.tif", 0, 7, 5, 8, DIB_CS_GREY, 1, 8, -1, 762.0, 762.0, 0, 0},
    {"tiff/cmyk8.tif", 0, 7, 5, 32, DIB_CS_CMYK, 4, 8, -1, 1.0, 1.0, 0, 0},
    {"tiff/rgba8_unassoc.tif", 0, 7, 5, 32, DIB_CS_RGB, 4, 8, 3, 1.0, 1.0, 0, 0},
    {"tiff/rgba16_assoc.tif", 0, 7, 5, 64, DIB_CS_RGB, 4, 16, 3, 1.0, 1.0, 0, 0},
    {"tiff/rgb16.tif", 0, 7, 5, 48, DIB_CS_RGB, 3, 16, -1, 1.0, 1.0, 0, 0},
    {"tiff/bilevel_minisblack.tif", 0, 7, 5, 1, DIB_CS_MONO, 1, 1, -1, 1.0, 1.0, 0, 0},
    {"tiff/palette8.tif", 0, 7, 5, 24, DIB_CS_RGB, 3, 8, -1, 0.0, 0.0, 1, 0},
    {"tiff/lab8.tif", 0, 7, 5, 24, DIB_CS_LAB, 3, 8, -1, 1.0, 1.0, 0, 0},
    {"tiff/rgb8_tiled.tif", 0, 37, 40, 24, DIB_CS_RGB, 3, 8, -1, 1.0, 1.0, 0, 1},
    {"tiff/tiled_cmyk.tif", -5, 32, 32, 32, DIB_CS_CMYK, 4, 8, -1, 1.0, 1.0, 0, 1},
    {"tiff/rgb8_planar_zip.tif", -5, 7, 5, 24, DIB_CS_RGB, 3, 8, -1, 1.0, 1.0, 0, 0},
};

TEST(GetInfoFitxer, TiffFamilyThroughTheOwnInspector)
{
    for (const auto& c : kTiffCases) {
        SCOPED_TRACE(c.file);
        CFILEINFO info;
        ASSERT_EQ(TDib::GetInfoFitxer(Data(c.file).c_str(), 0, &info), c.status);
        EXPECT_TRUE(dib::IsTiffFamily(info.Format)) << info.Format;
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_EQ(info.BitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(info.ColorSpace, c.colourSpace);
        EXPECT_EQ(info.Channels, c.channels);
        EXPECT_EQ(info.BitsPerChannel, c.bitsPerChannel);
        EXPECT_EQ(info.AlphaChannel, c.alpha);
        EXPECT_NEAR(info.XResolution, c.xres, 1e-3);
        EXPECT_NEAR(info.YResolution, c.yres, 1e-3);
        EXPECT_EQ(info.Indexed, c.indexed);
        EXPECT_EQ(info.Tiled, c.tiled);
        EXPECT_EQ(info.ViewPerspective, 1);
        EXPECT_TRUE(info.EngineInfo.IsEmpty());
    }
}

TEST(GetInfoFitxer, RefusesWhatNoReaderOpens)
{
    const std::string folder = infotest::TempFolder();
    const std::string text = folder + "/info_text.txt";
    infotest::WriteAll(text, std::vector<unsigned char>(300, 'x'));
    const std::string empty = folder + "/info_empty.bin";
    infotest::WriteAll(empty, {});
    CFILEINFO info;
    EXPECT_EQ(TDib::GetInfoFitxer(infotest::Wide(text).c_str(), 0, &info), -3010);
    EXPECT_EQ(TDib::GetInfoFitxer(infotest::Wide(empty).c_str(), 1, &info), -3010);
    EXPECT_EQ(TDib::GetInfoFitxer(Data("tiff/missing.tif").c_str(), 0, &info), -3010);
    EXPECT_EQ(TDib::GetInfoFitxer(infotest::Wide(folder).c_str(), 0, &info), -3010);
    const wchar_t lone[] = {L'/', L't', L'm', L'p', L'/', wchar_t(0xD800), 0};
    EXPECT_EQ(TDib::GetInfoFitxer(lone, 0, &info), -3010);
    EXPECT_EQ(TDib::GetInfoFitxer(nullptr, 0, &info), -3);
    EXPECT_EQ(TDib::GetInfoFitxer(Data("tiff/rgb8.tif").c_str(), 0, nullptr), -3);
    EXPECT_EQ(TDib::TestFitxer(infotest::Wide(text).c_str()), 0);
    EXPECT_EQ(TDib::TestFitxer(nullptr), 0);
    EXPECT_EQ(TDib::TestFitxer(Data("tiff/grey8.tif").c_str()), 1);
    EXPECT_EQ(TDib::TestFitxer(Data("tiff/tiled_cmyk.tif").c_str()), 0);
    std::remove(text.c_str());
    std::remove(empty.c_str());
}

// Hostile and damaged TIFF data: a negative status or a description, never a crash, hang or
// large allocation (the sanitizer build checks the latter).
TEST(GetInfoMem, HostileTiffData)
{
    const std::vector<std::vector<unsigned char>> blocks = {
        {'I', 'I', 42, 0},
        {'I', 'I', 42, 0, 8, 0, 0, 0},
        {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF},              // 65535 entries, none there
        {'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xF0},              // first IFD past the end
        {'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0}, // BigTIFF, IFD past the end
        {'I', 'I', 42, 0, 8, 0, 0, 0, 3,    0,                  // 3 entries:
         0,   1,   4,  0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,   //  width 2^32 - 1
         1,   1,   4,  0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,   //  height 2^32 - 1
         21,  1,   3,  0, 1, 0, 0, 0, 0xFF, 0xFF, 0,    0,      //  65535 samples
         0,   0,   0,  0},
    };
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        CFILEINFO info;
        const int status = TDib::GetInfoMem(blocks[i].data(), int(blocks[i].size()), &info);
        EXPECT_LE(status, 0) << i;
        EXPECT_EQ(TDib::TestMem(blocks[i].data(), int(blocks[i].size())), status == 0 ? 1 : 0);
    }
    // Every cut of a real file.
    const std::vector<unsigned char> whole = ReadAll(DataPath("tiff/rgb8_icc.tif"));
    for (std::size_t cut = 1; cut < whole.size(); cut += 37) {
        CFILEINFO info;
        EXPECT_LE(TDib::GetInfoMem(whole.data(), int(cut), &info), 0) << cut;
    }
}

TEST(GetInfoMem, SameAsTheFile)
{
    for (const char* name : {"tiff/grey8.tif", "tiff/rgba8_unassoc.tif", "tiff/tiled_cmyk.tif"}) {
        SCOPED_TRACE(name);
        const std::vector<unsigned char> bytes = ReadAll(DataPath(name));
        CFILEINFO fromFile, fromMemory;
        const int status = TDib::GetInfoFitxer(Data(name).c_str(), 0, &fromFile);
        EXPECT_EQ(TDib::GetInfoMem(bytes.data(), int(bytes.size()), &fromMemory), status);
        EXPECT_EQ(fromMemory.Format, fromFile.Format);
        EXPECT_EQ(fromMemory.Width, fromFile.Width);
        EXPECT_EQ(fromMemory.BitsPerPixel, fromFile.BitsPerPixel);
        EXPECT_EQ(fromMemory.ColorSpace, fromFile.ColorSpace);
        EXPECT_EQ(fromMemory.AlphaChannel, fromFile.AlphaChannel);
        EXPECT_EQ(TDib::TestMem(bytes.data(), int(bytes.size())), status == 0 ? 1 : 0);
    }
    CFILEINFO info;
    const unsigned char byte = 0;
    EXPECT_EQ(TDib::GetInfoMem(nullptr, 10, &info), -3);
    EXPECT_EQ(TDib::GetInfoMem(&byte, 0, &info), -3);
    EXPECT_EQ(TDib::GetInfoMem(&byte, -5, &info), -3);
    EXPECT_EQ(TDib::GetInfoMem(&byte, 1, nullptr), -3);
    EXPECT_EQ(TDib::TestMem(nullptr, 0), 0);
}

// The temporary file of GetInfoMem needs a writable folder: without one the answer is -3.
TEST(GetInfoMem, NoTemporaryFolder)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", "/nonexistent-folder-for-info-tests", 1);
    const std::vector<unsigned char> bytes = ReadAll(DataPath("tiff/grey8.tif"));
    CFILEINFO info;
    EXPECT_EQ(TDib::GetInfoMem(bytes.data(), int(bytes.size()), &info), -3);
    EXPECT_EQ(TDib::TestMem(bytes.data(), int(bytes.size())), 0);
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(GetInfoFitxer, JpegFamilyThroughTheOwnInspector)
{
    if (!dib::IsJpegFamily(KernelFormat("jpeg/rgb444-dpi.jpg")))
        GTEST_SKIP() << "the kernel's file module does not report this JPEG in the family";
    struct Case {
        const char* file;
        int bits;
        std::uint32_t colourSpace;
        double xres, yres;
    };
    const Case cases[] = {
        {"jpeg/rgb444-dpi.jpg", 24, DIB_CS_RGB, 300.0, 150.0},
        {"jpeg/rgb-dpcm.jpg", 24, DIB_CS_RGB, 254.0, 127.0},
        {"jpeg/cmyk-im.jpg", 32, DIB_CS_CMYK, 0.0, 0.0}, // no density unit
        {"jpeg/grey.jpg", 8, DIB_CS_GREY, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CFILEINFO info;
        ASSERT_EQ(TDib::GetInfoFitxer(Data(c.file).c_str(), 0, &info), 0);
        EXPECT_EQ(info.Width, 37);
        EXPECT_EQ(info.Height, 29);
        EXPECT_EQ(info.BitsPerPixel, c.bits);
        EXPECT_EQ(info.Channels, std::uint32_t(c.bits / 8));
        EXPECT_EQ(info.ColorSpace, c.colourSpace);
        EXPECT_NEAR(info.XResolution, c.xres, 1e-6);
        EXPECT_NEAR(info.YResolution, c.yres, 1e-6);
    }
}

TEST(GetInfoFitxer, PhotoshopThroughItsHeader)
{
    if (KernelFormat("psd/im_rgb8_rle.psd") != dib::kFormatPsd)
        GTEST_SKIP() << "the kernel's file module does not report Photoshop documents";
    // Channels x depth from the header (ImageMagick and psd-tools made the files).
    const std::pair<const char*, int> cases[] = {
        {"psd/im_rgb8_rle.psd", 24},
        {"psd/im_rgba8_rle.psd", 32},
        {"psd/im_cmyk16_rle.psd", 64},
        {"psd/im_grey8_raw.psd", 8},
    };
    for (const auto& [file, bits] : cases) {
        CFILEINFO info;
        ASSERT_EQ(TDib::GetInfoFitxer(Data(file).c_str(), 0, &info), 0) << file;
        EXPECT_EQ(info.BitsPerPixel, bits) << file;
    }
    // Resource 1005 of the psd-tools file: 300 x 150 dpi.
    CFILEINFO info;
    ASSERT_EQ(TDib::GetInfoFitxer(Data("psd/pt_rgb8_raw.psd").c_str(), 0, &info), 0);
    EXPECT_DOUBLE_EQ(info.XResolution, 300.0);
    EXPECT_DOUBLE_EQ(info.YResolution, 150.0);
}

TEST(GetInfoFitxer, PngWithTheEngineDescription)
{
    CFILEINFO info;
    // The engine's text is stored whatever the kernel answers.
    TDib::GetInfoFitxer(Data("png/rgb8_dpi.png").c_str(), 1, &info);
    EXPECT_NE(info.EngineInfo.Find(L"<ImageInfo>"), -1);
    if (KernelFormat("png/rgb8_dpi.png") != dib::kFormatPng)
        GTEST_SKIP() << "the kernel's file module does not read PNG";
    ASSERT_EQ(TDib::GetInfoFitxer(Data("png/rgb8_dpi.png").c_str(), 1, &info), 0);
    EXPECT_NEAR(info.XResolution, 300.0, 0.01);
    EXPECT_NEAR(info.YResolution, 150.0, 0.02);
    EXPECT_EQ(info.Channels, 3u);
    ASSERT_EQ(TDib::GetInfoFitxer(Data("png/rgba8_icc.png").c_str(), 1, &info), 0);
    EXPECT_EQ(info.AlphaChannel, 3);
    ASSERT_EQ(TDib::GetInfoFitxer(Data("png/greya8.png").c_str(), 1, &info), 0);
    EXPECT_EQ(info.AlphaChannel, 1);
    // Samples of 16 bits are refused with the engine, described without it.
    EXPECT_EQ(TDib::GetInfoFitxer(Data("png/grey16.png").c_str(), 1, &info), -5);
    EXPECT_EQ(TDib::GetInfoFitxer(Data("png/grey16.png").c_str(), 0, &info), 0);
    EXPECT_EQ(TDib::TestFitxer(Data("png/grey16.png").c_str()), 0);
    EXPECT_EQ(TDib::TestFitxer(Data("png/bilevel.png").c_str()), 1);
}

struct XmlCase {
    const wchar_t* xml;
    int result;
    int width, height;
    double xres, yres;
    std::uint32_t colourSpace, channels, bitsPerChannel;
    int alpha, bitsPerPixel, samples;
};

TEST(InfoByRExml, AppliesTheDescription)
{
    // Start: 10 x 20, 50 dpi, RGB, 3 x 8, no alpha, 24 bits, 0 samples per pixel.
    const XmlCase cases[] = {
        {L"<ImageInfo><ResolutionX>100</ResolutionX><ResolutionY>50.5</ResolutionY>"
         L"<ResolutionUnits>Pixel/CM</ResolutionUnits></ImageInfo>",
         0, 10, 20, 254.0, 128.27, DIB_CS_RGB, 3, 8, -1, 24, 0},
        {L"<ImageInfo><Space>gray</Space></ImageInfo>", 0, 10, 20, 50, 50, DIB_CS_GREY, 3, 8, -1,
         24, 0},
        {L"<ImageInfo><Space>sepia</Space></ImageInfo>", 0, 10, 20, 50, 50, DIB_CS_RGB, 3, 8, -1,
         24, 0},
        {L"<ImageInfo><Space>MultiChannel</Space><Inkset/><Inkset NumChannels='6'/>"
         L"<BitsPerComponent>16</BitsPerComponent><AlphaChannel>5</AlphaChannel>"
         L"<width>12abc</width><height>x</height></ImageInfo>",
         0, 12, 0, 50, 50, DIB_CS_MULTICHANNEL, 6, 16, 5, 96, 6},
        {L"<ImageInfo><Space>cmyk</Space><Inkset NumChannels='-4'/>"
         L"<ResolutionX>nan</ResolutionX><ResolutionY>1e999</ResolutionY></ImageInfo>",
         0, 10, 20, 0, 0, DIB_CS_CMYK, 0, 8, -1, 0, 0},
        {L"<Other><width>5</width></Other>", 1, 10, 20, 50, 50, DIB_CS_RGB, 3, 8, -1, 24, 0},
        {L"<ImageInfo><width>5</width>", 1, 10, 20, 50, 50, DIB_CS_RGB, 3, 8, -1, 24, 0},
        {L"", 1, 10, 20, 50, 50, DIB_CS_RGB, 3, 8, -1, 24, 0},
        {nullptr, 1, 10, 20, 50, 50, DIB_CS_RGB, 3, 8, -1, 24, 0},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const XmlCase& c = cases[i];
        SCOPED_TRACE(i);
        CFILEINFO info;
        info.Width = 10;
        info.Height = 20;
        info.XResolution = info.YResolution = 50;
        info.ColorSpace = DIB_CS_RGB;
        info.Channels = 3;
        info.BitsPerChannel = 8;
        info.BitsPerPixel = 24;
        info.ViewPerspective = 4;
        ASSERT_EQ(dib::FileInfoAccess::InfoByRExml(c.xml, &info), c.result);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_NEAR(info.XResolution, c.xres, 1e-9);
        EXPECT_NEAR(info.YResolution, c.yres, 1e-9);
        EXPECT_EQ(info.ColorSpace, c.colourSpace);
        EXPECT_EQ(info.Channels, c.channels);
        EXPECT_EQ(info.BitsPerChannel, c.bitsPerChannel);
        EXPECT_EQ(info.AlphaChannel, c.alpha);
        EXPECT_EQ(info.BitsPerPixel, c.bitsPerPixel);
        EXPECT_EQ(info.SamplesPerPixel, c.samples);
        EXPECT_EQ(info.ViewPerspective, c.result == 0 ? 1 : 4);
    }
    EXPECT_EQ(dib::FileInfoAccess::InfoByRExml(L"<ImageInfo/>", nullptr), -3);
}

TEST(GetInfoByRE, EngineTextAndProfile)
{
    const CString xml = TDib::GetInfoByRE(Data("png/greya8.png").c_str());
    EXPECT_NE(xml.Find(L"<Space>GRAYSCALE</Space>"), -1);
    EXPECT_TRUE(TDib::GetInfoByRE(Data("tiff/rgb8.tif").c_str()).IsEmpty());
    EXPECT_TRUE(TDib::GetInfoByRE(nullptr).IsEmpty());
    // A path the engine cannot take whole is not cut to another file's name.
    const std::wstring longPath = Data("png/") + std::wstring(1100, L'a') + L".png";
    EXPECT_TRUE(TDib::GetInfoByRE(longPath.c_str()).IsEmpty());

    unsigned char* profile = reinterpret_cast<unsigned char*>(1);
    const int size = TDib::GetEmbeddedProfileByRE(Data("png/rgba8_icc.png").c_str(), profile);
    ASSERT_EQ(size, 588);
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(profile, profile + size),
              ReadAll(DataPath("jpeg/small.icc")));
    std::free(profile);
    profile = reinterpret_cast<unsigned char*>(1);
    EXPECT_EQ(TDib::GetEmbeddedProfileByRE(Data("png/greya8.png").c_str(), profile), 0);
    EXPECT_EQ(profile, nullptr);
}

TEST(GetEmbededICC, EveryFamily)
{
    struct Case {
        const char* file;
        int format;          // the record's format (0: described by GetInfoFitxer)
        const char* profile; // fixture holding the expected bytes, or null: none
    };
    const Case cases[] = {
        {"tiff/rgb8_icc.tif", 0, "tiff/rgb8_icc.icc"},
        {"tiff/rgb8_icc.tif", 3, "tiff/rgb8_icc.icc"},
        {"tiff/rgb8.tif", 0, nullptr},
        {"jpeg/icc-im.jpg", 10, "jpeg/small.icc"},
        {"jpeg/icc-split.jpg", 10, "jpeg/big.icc"},
        {"jpeg/icc-split.jpg", 0, "jpeg/big.icc"}, // described as 21 (4:2:0)
        {"jpeg/icc-split.jpg", 23, "jpeg/big.icc"},
        {"jpeg/grey.jpg", 10, nullptr},
        {"png/rgba8_icc.png", 75, "jpeg/small.icc"},
        {"png/rgb8_dpi.png", 75, nullptr},
        {"jpeg/icc-im.jpg", 6, nullptr}, // another family: not asked
        {"tiff/missing.tif", 3, nullptr},
        {"tiff/missing.tif", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.format));
        CFILEINFO record;
        record.Format = c.format;
        CFILEINFO* info = c.format ? &record : nullptr;
        const unsigned long size = TDib::GetEmbededICC(Data(c.file).c_str(), nullptr, info);
        if (!c.profile) {
            EXPECT_EQ(size, 0u);
            continue;
        }
        const std::vector<unsigned char> expected = ReadAll(DataPath(c.profile));
        ASSERT_EQ(size, expected.size());
        std::vector<unsigned char> buffer(size);
        EXPECT_EQ(TDib::GetEmbededICC(Data(c.file).c_str(), buffer.data(), info), size);
        EXPECT_EQ(buffer, expected);
    }
    // Photoshop resource 1039 (an sRGB profile Pillow made): the profile's own header gives its
    // size and signature.
    CFILEINFO psd;
    psd.Format = dib::kFormatPsd;
    const unsigned long size =
        TDib::GetEmbededICC(Data("psd/im_icc_rle.psd").c_str(), nullptr, &psd);
    ASSERT_GE(size, 128u);
    std::vector<unsigned char> buffer(size);
    ASSERT_EQ(TDib::GetEmbededICC(Data("psd/im_icc_rle.psd").c_str(), buffer.data(), &psd), size);
    const unsigned long declared =
        (buffer[0] << 24) | (buffer[1] << 16) | (buffer[2] << 8) | unsigned(buffer[3]);
    EXPECT_LE(declared, size);
    EXPECT_GE(declared + 1, size);
    EXPECT_EQ(std::memcmp(buffer.data() + 36, "acsp", 4), 0);
}

// The TIFF tools' forwarder answers as TDib does without file information: profiles written by
// Pillow (rgb8_icc.tif) and by tifffile (tiftools/cmyk_inks.tif, 200 bytes), none, no file.
TEST(GetEmbededICC, TiffToolsForwarder)
{
    const struct {
        const char* file;
        unsigned long size;
    } cases[] = {{"tiff/rgb8_icc.tif", 523},
                 {"tiftools/cmyk_inks.tif", 200},
                 {"jpeg/icc-im.jpg", 588},
                 {"tiff/rgb8.tif", 0},
                 {"tiff/missing.tif", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::wstring path = Data(c.file);
        ASSERT_EQ(CTIFTools::GetEmbededICC(path.c_str(), nullptr), c.size);
        if (c.size == 0)
            continue;
        std::vector<unsigned char> tools(c.size), dib(c.size);
        EXPECT_EQ(CTIFTools::GetEmbededICC(path.c_str(), tools.data()), c.size);
        EXPECT_EQ(TDib::GetEmbededICC(path.c_str(), dib.data(), nullptr), c.size);
        EXPECT_EQ(tools, dib);
    }
    // tifffile's profile: its size, big-endian, then the bytes 0, 1, 2, ...
    std::vector<unsigned char> profile(200);
    ASSERT_EQ(CTIFTools::GetEmbededICC(Data("tiftools/cmyk_inks.tif").c_str(), profile.data()),
              200u);
    EXPECT_EQ(profile[3], 200);
    EXPECT_EQ(profile[4 + 100], 100);
}

TEST(GetEspaiTiff, Photometric)
{
    const std::pair<const char*, int> cases[] = {
        {"tiff/rgb8.tif", 2},  {"tiff/lab8.tif", 8},    {"tiff/palette8.tif", 3},
        {"tiff/cmyk8.tif", 5}, {"tiff/ycbcr8.tif", 6},  {"tiff/bilevel_miniswhite.tif", 0},
        {"jpeg/grey.jpg", 0},  {"tiff/missing.tif", 0},
    };
    for (const auto& [file, photometric] : cases)
        EXPECT_EQ(TDib::GetEspaiTiff(Data(file).c_str()), photometric) << file;
    EXPECT_EQ(TDib::GetEspaiTiff(nullptr), 0);
}

TEST(GetInfo, FileSelectors)
{
    const std::wstring path = Data("tiff/grey8.tif");
    int value = -1;
    double real = -1;
    EXPECT_EQ(TDib::GetInfo(0, path.c_str(), &value), 0);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(TDib::GetInfo(1, path.c_str(), &value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(TDib::GetInfo(2, path.c_str(), &value), 0);
    EXPECT_EQ(value, 8);
    EXPECT_EQ(TDib::GetInfo(3, path.c_str(), &real), 0);
    EXPECT_DOUBLE_EQ(real, 300.0);
    EXPECT_EQ(TDib::GetInfo(4, path.c_str(), &real), 0);
    EXPECT_DOUBLE_EQ(real, 300.0);
    EXPECT_EQ(TDib::GetInfo(9, path.c_str(), &value), 0);
    EXPECT_TRUE(dib::IsTiffFamily(value));
    EXPECT_EQ(TDib::GetInfo(10, path.c_str(), &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(TDib::GetInfo(11, path.c_str(), &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(TDib::GetInfo(7, path.c_str(), nullptr), 0);
    value = 42;
    for (int selector : {5, 6, 12, 100, -1})
        EXPECT_EQ(TDib::GetInfo(selector, path.c_str(), &value), -3) << selector;
    EXPECT_EQ(value, 42);
    EXPECT_EQ(TDib::GetInfo(0, path.c_str(), nullptr), -3);
    _FILEINFO kernel;
    EXPECT_EQ(TDib::GetInfo(8, path.c_str(), &kernel), 0);
    EXPECT_EQ(kernel.uStructSize, FILEINFO_SIZE);
    // A file that cannot be described: its status, nothing written.
    EXPECT_EQ(TDib::GetInfo(0, Data("tiff/missing.tif").c_str(), &value), -3010);
    EXPECT_EQ(value, 42);
    // A 32-bit file: 32 bits unless its colour order is 0 (the TIFF inspector leaves the
    // kernel's order).
    CFILEINFO cmyk;
    ASSERT_EQ(TDib::GetInfoFitxer(Data("tiff/cmyk8.tif").c_str(), 0, &cmyk), 0);
    EXPECT_EQ(TDib::GetInfo(2, Data("tiff/cmyk8.tif").c_str(), &value), 0);
    EXPECT_EQ(value, cmyk.Order == 0 ? 24 : 32);
}

TEST(GetInfo, ImageSelectors)
{
    TDib image;
    ASSERT_EQ(image.Crear(10, 4, 24), 0);
    int value = -1;
    double real = -1;
    const std::pair<int, int> ints[] = {{0, 10}, {1, 4}, {2, 24}, {5, 32}, {6, 1}, {11, 1}};
    for (const auto& [selector, expected] : ints) {
        ASSERT_EQ(image.GetInfo(selector, &value), 0) << selector;
        EXPECT_EQ(value, expected) << selector;
    }
    EXPECT_EQ(image.GetInfo(3, &real), 0);
    EXPECT_DOUBLE_EQ(real, 72.0);
    EXPECT_EQ(image.GetInfo(4, &real), 0);
    EXPECT_DOUBLE_EQ(real, 72.0);
    value = 42;
    for (int selector : {7, 8, 9, 10, 12, -1})
        EXPECT_EQ(image.GetInfo(selector, &value), -3) << selector;
    EXPECT_EQ(value, 42);
    EXPECT_EQ(image.GetInfo(0, nullptr), -3);
}

TEST(GetInfoPCD, ArgumentsAndFailures)
{
    int value = 42;
    EXPECT_EQ(TDib::GetInfoPCD(3, Data("tiff/grey8.tif").c_str(), 0, &value), -3);
    EXPECT_EQ(TDib::GetInfoPCD(0, Data("tiff/grey8.tif").c_str(), 0, nullptr), -3);
    EXPECT_LT(TDib::GetInfoPCD(0, Data("tiff/missing.pcd").c_str(), 0, &value), 0);
    EXPECT_LT(TDib::GetInfoPCD(0, nullptr, 0, &value), 0);
    EXPECT_EQ(value, 42);
}

TEST(GetInfoPCD, SizesAtEachResolutionOfALandscapePicture)
{
    const std::wstring path = Data("formats_b/synthetic.pcd");
    const int widths[] = {96, 192, 384, 768, 1536, 3072};
    for (int r = 0; r <= 5; ++r) {
        int value = 0;
        ASSERT_EQ(TDib::GetInfoPCD(0, path.c_str(), r, &value), 0) << DibGetLastErrorText();
        EXPECT_EQ(value, widths[r]);
        ASSERT_EQ(TDib::GetInfoPCD(1, path.c_str(), r, &value), 0);
        EXPECT_EQ(value, widths[r] * 2 / 3);
    }
    int bits = 0;
    ASSERT_EQ(TDib::GetInfoPCD(2, path.c_str(), 2, &bits), 0);
    EXPECT_EQ(bits, 24);
}

TEST(GetPaletaFitxer, OnlyEightBitFilesOutsideTheTiffFamily)
{
    tagRGBQUAD palette[256] = {};
    for (const char* name : {"tiff/palette8.tif", "tiff/grey8.tif", "tiff/rgb8.tif",
                             "tiff/missing.tif", "jpeg/grey.jpg"})
        EXPECT_EQ(TDib::GetPaletaFitxer(Data(name).c_str(), palette), 0) << name;
    EXPECT_EQ(TDib::GetPaletaFitxer(nullptr, palette), 0);
}

TEST(GetPaletaFitxer, PaletteOfAnEightBitFile)
{
    if (KernelFormat("info/pal8.bmp") == 0 || KernelFormat("info/pal8.pcx") == 0)
        GTEST_SKIP() << "the kernel's file module does not read BMP and PCX";
    // Pillow's palettes: entry i of pal8 is (i, 255 - i, 7), of grey8 the grey i.
    tagRGBQUAD palette[256] = {};
    EXPECT_GT(TDib::GetPaletaFitxer(Data("info/pal8.bmp").c_str(), palette), 0);
    for (int i : {0, 37, 74}) {
        EXPECT_EQ(palette[i].rgbRed, i);
        EXPECT_EQ(palette[i].rgbGreen, 255 - i);
        EXPECT_EQ(palette[i].rgbBlue, 7);
    }
    EXPECT_GT(TDib::GetPaletaFitxer(Data("info/pal8.bmp").c_str(), nullptr), 0);
    EXPECT_EQ(TDib::GetPaletaFitxer(Data("info/grey8.bmp").c_str(), palette), 0);
    EXPECT_EQ(palette[37].rgbRed, 37);
    EXPECT_EQ(palette[37].rgbGreen, 37);
    EXPECT_EQ(palette[37].rgbBlue, 37);
    // An 8-bit PCX is described as 24 bits with indexed pixels, so nothing is loaded.
    CFILEINFO pcx;
    ASSERT_EQ(TDib::GetInfoFitxer(Data("info/pal8.pcx").c_str(), 0, &pcx), 0);
    EXPECT_EQ(pcx.BitsPerPixel, 24);
    EXPECT_EQ(pcx.Indexed, 1);
    EXPECT_EQ(TDib::GetPaletaFitxer(Data("info/pal8.pcx").c_str(), palette), 0);
}

TEST(GetDefaultChannels, ByColourSpace)
{
    const std::pair<unsigned long, int> cases[] = {
        {0, 0}, {2, 4}, {4, 3}, {8, 1}, {32, 1}, {64, 3}, {0xFFFFFFFFul, 0}, {1, 0}, {16, 0},
    };
    for (const auto& [space, channels] : cases)
        EXPECT_EQ(GetDefaultChannels(space), channels) << space;
}

} // namespace
