// CFILEINFO and CInfoFitxerDIB: reset values, copies and the exchange with the kernel record.
#include <cstring>
#include <dib/FileInfo.h>
#include <gtest/gtest.h>
#include <string>

namespace {

_FILEINFO KernelRecord(int format, int bits, int colourModel)
{
    _FILEINFO f{};
    f.uStructSize = FILEINFO_SIZE;
    f.Format = format;
    f.BitsPerPixel = bits;
    f.ColourModel = colourModel;
    return f;
}

} // namespace

// How a kernel record's format, depth and colour model become the library's colour space and
// channel layout.
TEST(FileInfo, TakeOverTable)
{
    struct Case {
        int format, bits, model;
        std::uint32_t cs, channels, bpc;
    } cases[] = {
        {6, 32, 0, DIB_CS_CMYK, 4, 8}, {75, 16, 0, DIB_CS_GREY, 2, 8},
        {75, 8, 2, DIB_CS_GREY, 1, 8}, {75, 24, 0, DIB_CS_RGB, 3, 8},
        {75, 32, 0, DIB_CS_RGB, 4, 8}, {86, 24, 0, DIB_CS_CMYK, 3, 8},
        {85, 8, 3, DIB_CS_CMYK, 1, 8}, {6, 4, 0, DIB_CS_RGB, 1, 4},
        {3, 12, 3, DIB_CS_LAB, 1, 12}, {3, 16, 7, DIB_CS_NONE, 2, 8},
        {6, 24, 2, DIB_CS_RGB, 3, 8},  {6, 8, 0, DIB_CS_GREY, 1, 8},
        {6, 1, 0, DIB_CS_MONO, 1, 1},  {3, 48, 0, DIB_CS_RGB, 6, 8},
        {3, 0, 0, DIB_CS_RGB, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.bits << " bits");
        CFILEINFO info;
        info.AlphaChannel = 2;
        info.EngineInfo = L"<ImageInfo/>";
        info.Tiled = info.Indexed = 1;
        info = KernelRecord(c.format, c.bits, c.model);
        EXPECT_EQ(info.ColorSpace, c.cs);
        EXPECT_EQ(info.Channels, c.channels);
        EXPECT_EQ(info.BitsPerChannel, c.bpc);
        EXPECT_EQ(info.AlphaChannel, -1);
        EXPECT_TRUE(info.EngineInfo.IsEmpty());
        EXPECT_EQ(info.Tiled, 0);
        EXPECT_EQ(info.Indexed, 0);
    }
}

TEST(FileInfo, KernelFieldsTravelBothWays)
{
    _FILEINFO k = KernelRecord(17, 24, 0);
    k.Width = 640;
    k.Height = 480;
    k.XResolution = 300;
    k.YResolution = 72;
    k.FileBytes = 1234567890123;
    std::memcpy(k.Compression, u"Progressive JPEG", sizeof(u"Progressive JPEG"));
    k.Extension[1023] = 0x5A;
    k.Tail[63] = 0xA5;
    k.Misc64[2] = -7;
    k.Misc4 = 99;
    k.SamplesPerPixel = 3;

    const CFILEINFO info(k);
    EXPECT_EQ(info.Width, 640);
    EXPECT_EQ(info.XResolution, 300.0);
    EXPECT_EQ(std::u16string(info.Compression), u"Progressive JPEG");

    _FILEINFO back{};
    info.Get(&back);
    EXPECT_EQ(back.uStructSize, FILEINFO_SIZE);
    EXPECT_EQ(std::memcmp(&back, &k, sizeof k), 0);
    info.Get(nullptr);
}

TEST(FileInfo, GetRoundsResolutionsHalvesAwayFromZero)
{
    struct Case {
        double in;
        std::int32_t out;
    } cases[] = {{299.5, 300}, {299.4, 299},      {-2.5, -3},
                 {0.0, 0},     {1e30, INT32_MAX}, {-1e30, INT32_MIN}};
    for (const auto& c : cases) {
        CFILEINFO info;
        info.XResolution = c.in;
        info.YResolution = c.in;
        _FILEINFO k{};
        info.Get(&k);
        EXPECT_EQ(k.XResolution, c.out) << c.in;
        EXPECT_EQ(k.YResolution, c.out) << c.in;
    }
}

TEST(FileInfo, ResetAndCopies)
{
    CFILEINFO a;
    EXPECT_EQ(a.AlphaChannel, -1);
    EXPECT_EQ(a.BackgroundColour, 0xFFFFFF);
    EXPECT_EQ(a.Name[0], u'\0');

    a.uStructSize = 77;
    a.Format = 10;
    a.AlphaChannel = 3;
    a.EngineInfo = L"<ImageInfo><width>5</width></ImageInfo>";
    a.Tiled = 1;
    a.Indexed = 1;
    a.ColorSpace = DIB_CS_LAB;
    a.XResolution = 299.75;
    a.Extension[0] = 1;

    CFILEINFO b;
    b.uStructSize = 5;
    b = a;
    EXPECT_EQ(b.uStructSize, 5u); // the leading word is never copied
    EXPECT_EQ(b.AlphaChannel, 3);
    EXPECT_EQ(b.EngineInfo, a.EngineInfo);
    EXPECT_EQ(b.Tiled, 1);
    EXPECT_EQ(b.Indexed, 1);
    EXPECT_EQ(b.ColorSpace, DIB_CS_LAB);
    EXPECT_EQ(b.XResolution, 299.75);
    const CFILEINFO c(a);
    EXPECT_EQ(c.EngineInfo, a.EngineInfo);

    b.Reset();
    EXPECT_EQ(b.Format, 0);
    EXPECT_EQ(b.AlphaChannel, -1);
    EXPECT_TRUE(b.EngineInfo.IsEmpty());
    EXPECT_EQ(b.uStructSize, 5u);
    EXPECT_EQ(b.Extension[0], 1); // the kernel blocks are left as they were
}

TEST(InfoFitxerDIB, LabelsValuesAndCopies)
{
    CInfoFitxerDIB a;
    EXPECT_TRUE(a.m_nomFormat.IsEmpty());
    EXPECT_EQ(a.m_info.AlphaChannel, -1);
    a.m_nomFormat = L"TIFF";
    a.AfegirInfo(L"Indexed", L"Yes");
    a.AfegirInfo(22020u, L"3 x 4 pxl");
    a.AfegirInfo(nullptr, nullptr);
    a.m_info.Width = 3;
    ASSERT_EQ(a.m_etiquetes.GetCount(), 3);
    ASSERT_EQ(a.m_valors.GetCount(), 3);
    EXPECT_STREQ(a.m_etiquetes.Get(1), L"Dimension");
    EXPECT_STREQ(a.m_valors.Get(1), L"3 x 4 pxl");

    CInfoFitxerDIB b(a);
    CInfoFitxerDIB c;
    c.AfegirInfo(L"old", L"old");
    c = a;
    for (const CInfoFitxerDIB* copy : {&b, &c}) {
        EXPECT_EQ(copy->m_nomFormat, L"TIFF");
        EXPECT_EQ(copy->m_etiquetes.GetCount(), 3);
        EXPECT_STREQ(copy->m_valors.Get(0), L"Yes");
        EXPECT_EQ(copy->m_info.Width, 3);
    }
}
