// Image data: compressions, depths, colour modes and conversions, PackBits layouts and
// untrusted sizes, on documents built byte by byte.

#include "psd_test_util.h"

#include <chrono>

using namespace psdtest;

namespace {

struct Result {
    int status = 1;
    HBITMAP bitmap = nullptr;
    Pixels px;
    ~Result()
    {
        if (bitmap)
            DeleteObject(bitmap);
    }
};

void LoadDoc(const Doc& d, Result& r)
{
    Files files;
    CPSDTools psd;
    r.status = psd.Load(files.Write(d.Build()).c_str());
    r.bitmap = psd.Detach();
    r.px = Read(r.bitmap);
}

// A document of one pixel row: planes[c] holds channel c's samples (bytes as stored).
Doc Planar(unsigned mode, unsigned depth, const std::vector<Bytes>& planes, bool packBits,
           std::uint32_t width)
{
    Doc d;
    d.mode = mode;
    d.depth = depth;
    d.channels = unsigned(planes.size());
    d.width = width;
    d.height = 1;
    d.compression = packBits ? 1 : 0;
    if (packBits) {
        d.data = PackBitsRows(planes);
    } else {
        for (const Bytes& p : planes)
            Append(d.data, p);
    }
    return d;
}

TEST(PsdImage, UnsupportedCompressionsAndDepths)
{
    for (auto [compression, status] : {std::pair{2u, -10}, {3u, -11}, {4u, -12}, {0xFFFFu, -12}}) {
        Doc d;
        d.compression = compression;
        d.data = {1, 2, 3};
        Result r;
        LoadDoc(d, r);
        EXPECT_EQ(r.status, status) << compression;
        EXPECT_EQ(r.bitmap, nullptr);
    }
    for (auto [depth, status] : {std::pair{1u, -7}, {32u, -8}, {4u, -8}, {0u, -8}}) {
        for (unsigned compression : {0u, 1u}) {
            Doc d;
            d.mode = depth == 1 ? 0 : 3;
            d.channels = depth == 1 ? 1 : 3;
            d.depth = depth;
            d.compression = compression;
            d.data.assign(64, 0);
            Result r;
            LoadDoc(d, r);
            EXPECT_EQ(r.status, status) << depth << " " << compression;
            EXPECT_EQ(r.bitmap, nullptr);
        }
    }
}

struct PixelCase {
    const char* what;
    unsigned mode, depth;
    std::vector<Bytes> planes; // one pixel
    COLORREF expected;
};

class OnePixel : public ::testing::TestWithParam<PixelCase> {};

// Raw and PackBits give the same colour.
TEST_P(OnePixel, DrawsTheDocumentedColour)
{
    const PixelCase& c = GetParam();
    for (bool packBits : {false, true}) {
        Result r;
        LoadDoc(Planar(c.mode, c.depth, c.planes, packBits, 1), r);
        ASSERT_EQ(r.status, 0) << c.what;
        ASSERT_NE(r.bitmap, nullptr) << c.what;
        EXPECT_EQ(r.px.At(0, 0), c.expected) << c.what << (packBits ? " packbits" : " raw");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Psd, OnePixel,
    ::testing::Values(
        PixelCase{"rgb_white", 3, 8, {{255}, {255}, {255}}, RGB(255, 255, 255)},
        PixelCase{
            "rgb16_high_byte", 3, 16, {{0x12, 0xAB}, {0x34, 0xFF}, {0, 1}}, RGB(0x12, 0x34, 0)},
        PixelCase{"grey16", 1, 16, {{0xFF, 0x00}}, RGB(255, 255, 255)},
        PixelCase{"grey8", 1, 8, {{0x80}}, RGB(128, 128, 128)},
        PixelCase{"duotone", 8, 8, {{0x41}}, RGB(0x41, 0x41, 0x41)},
        PixelCase{"cmyk_no_ink", 4, 8, {{255}, {255}, {255}, {255}}, RGB(253, 253, 253)},
        PixelCase{"cmyk_black", 4, 8, {{0}, {0}, {0}, {255}}, RGB(0, 0, 0)},
        PixelCase{"cmyk_cyan", 4, 8, {{0}, {255}, {255}, {255}}, RGB(0, 253, 253)},
        PixelCase{"cmyk16_no_ink",
                  4,
                  16,
                  {{0xFF, 0xFF}, {0xFF, 0xFF}, {0xFF, 0xFF}, {0xFF, 0xFF}},
                  RGB(254, 254, 254)},
        PixelCase{"lab_white", 9, 8, {{255}, {128}, {128}}, RGB(253, 253, 253)},
        PixelCase{"lab_mid", 9, 8, {{128}, {128}, {128}}, RGB(119, 119, 119)},
        PixelCase{"lab_black", 9, 8, {{0}, {128}, {128}}, RGB(0, 0, 0)},
        PixelCase{"lab_dark", 9, 8, {{20}, {128}, {128}}, RGB(21, 21, 21)},
        PixelCase{"lab16_white", 9, 16, {{0xFF, 0xFF}, {0x80, 0}, {0x80, 0}}, RGB(253, 253, 253)}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(PsdImage, ExtraChannels)
{
    // Raw RGB, CMYK and Lab draw only with exactly their colour channels.
    for (auto [mode, n] : {std::pair{3u, 4}, {4u, 5}, {9u, 4}, {3u, 2}}) {
        std::vector<Bytes> planes(std::size_t(n), Bytes{9, 9});
        Result r;
        LoadDoc(Planar(mode, 8, planes, false, 2), r);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.bitmap, nullptr) << mode << " " << n;
    }
    // PackBits draws them and ignores the extra channels, at 8 and 16 bits.
    struct Case {
        unsigned mode, depth;
        std::vector<Bytes> planes;
        COLORREF expected;
    };
    const Case cases[] = {
        {3, 8, {{1, 1}, {2, 2}, {3, 3}, {200, 200}}, RGB(1, 2, 3)},
        {1, 8, {{7, 7}, {200, 200}}, RGB(7, 7, 7)},
        {1, 16, {{7, 1, 7, 1}, {200, 0, 200, 0}}, RGB(7, 7, 7)},
        {3, 16, {{1, 9, 1, 9}, {2, 9, 2, 9}, {3, 9, 3, 9}, {0, 0, 0, 0}}, RGB(1, 2, 3)},
        {4, 8, {{255, 255}, {255, 255}, {255, 255}, {255, 255}, {0, 0}}, RGB(253, 253, 253)},
        {4,
         16,
         {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {255, 255, 255, 255}, {1, 2, 3, 4}},
         RGB(0, 0, 0)},
        {9, 8, {{255, 255}, {128, 128}, {128, 128}, {0, 0}}, RGB(253, 253, 253)},
        {8, 8, {{9, 9}, {100, 100}}, RGB(9, 9, 9)},
    };
    for (const Case& c : cases) {
        Result r;
        LoadDoc(Planar(c.mode, c.depth, c.planes, true, 2), r);
        ASSERT_EQ(r.status, 0);
        ASSERT_NE(r.bitmap, nullptr);
        EXPECT_EQ(r.px.At(0, 0), c.expected) << c.mode << "/" << c.depth;
        EXPECT_EQ(r.px.At(1, 0), c.expected) << c.mode << "/" << c.depth;
    }
}

TEST(PsdImage, MultichannelAndUnassignedModes)
{
    // Multichannel: CMY with no black for 3 channels, CMYK for exactly 4; raw is not read.
    Result cmy;
    LoadDoc(Planar(7, 8, {{128}, {255}, {0}}, true, 1), cmy);
    ASSERT_NE(cmy.bitmap, nullptr);
    EXPECT_EQ(cmy.px.At(0, 0), RGB(127, 254, 0));
    Result cmyk;
    LoadDoc(Planar(7, 8, {{255}, {255}, {255}, {0}}, true, 1), cmyk);
    ASSERT_NE(cmyk.bitmap, nullptr);
    EXPECT_EQ(cmyk.px.At(0, 0), RGB(0, 0, 0));
    Result five;
    LoadDoc(Planar(7, 8, {{128}, {255}, {0}, {0}, {0}}, true, 1), five);
    EXPECT_EQ(five.px.At(0, 0), RGB(127, 254, 0));
    Result raw;
    LoadDoc(Planar(7, 8, {{1}, {2}, {3}}, false, 1), raw);
    EXPECT_EQ(raw.status, 0);
    EXPECT_EQ(raw.bitmap, nullptr);

    // Drawn as nothing in PackBits (white), not read raw; too few channels for the mode too.
    const std::pair<unsigned, std::vector<Bytes>> white[] = {
        {0, {{0}}},      {5, {{0}}},      {6, {{0}, {0}, {0}}}, {42, {{0}}},
        {7, {{0}, {0}}}, {3, {{0}, {0}}}, {4, {{0}, {0}, {0}}}, {9, {{0}}}};
    for (const auto& [mode, planes] : white) {
        Result r;
        LoadDoc(Planar(mode, 8, planes, true, 1), r);
        EXPECT_EQ(r.status, 0) << mode;
        ASSERT_NE(r.bitmap, nullptr) << mode;
        EXPECT_EQ(r.px.At(0, 0), RGB(255, 255, 255)) << mode;
        Result rawr;
        LoadDoc(Planar(mode, 8, planes, false, 1), rawr);
        EXPECT_EQ(rawr.status, 0) << mode;
        EXPECT_EQ(rawr.bitmap, nullptr) << mode;
    }
}

Bytes Palette()
{
    Bytes p(768);
    for (int i = 0; i < 256; ++i) {
        p[std::size_t(i)] = std::uint8_t(i);
        p[std::size_t(256 + i)] = std::uint8_t(255 - i);
        p[std::size_t(512 + i)] = std::uint8_t(i / 2);
    }
    return p;
}

TEST(PsdImage, Indexed)
{
    Bytes count0, count16;
    Put16(count0, 0);
    Put16(count16, 16);
    struct Case {
        const char* what;
        Bytes table;
        Bytes resources;
        bool drawn;
    };
    const Case cases[] = {
        {"no 1046: every entry counts", Palette(), {}, true},
        {"1046 = 16", Palette(), Block(1046, count16), true},
        {"1046 = 0", Palette(), Block(1046, count0), false},
        {"no table", {}, {}, false},
        {"short table", Bytes(767, 1), {}, false},
    };
    for (const Case& c : cases) {
        for (bool packBits : {false, true}) {
            Doc d = Planar(2, 8, {{10, 200}}, packBits, 2);
            d.colourModeData = c.table;
            d.resources = c.resources;
            Result r;
            LoadDoc(d, r);
            ASSERT_EQ(r.status, 0) << c.what;
            ASSERT_NE(r.bitmap, nullptr) << c.what;
            EXPECT_EQ(r.px.At(0, 0), c.drawn ? RGB(10, 245, 5) : RGB(255, 255, 255)) << c.what;
            EXPECT_EQ(r.px.At(1, 0), c.drawn ? RGB(200, 55, 100) : RGB(255, 255, 255)) << c.what;
        }
    }
}

TEST(PsdImage, ResolutionAndBitmapLayout)
{
    Doc d = Planar(3, 8, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, false, 3);
    Result plain;
    LoadDoc(d, plain);
    EXPECT_EQ(plain.px.xppm, 3780);
    EXPECT_EQ(plain.px.yppm, 3780);
    EXPECT_EQ(plain.px.bitCount, 24);
    EXPECT_TRUE(plain.px.bottomUp);
    EXPECT_EQ(plain.px.At(2, 0), RGB(3, 6, 9));

    d.resources = Block(1005, Resolution(300, 72));
    Result dpi;
    LoadDoc(d, dpi);
    EXPECT_EQ(dpi.px.xppm, 11811);
    EXPECT_EQ(dpi.px.yppm, 2834);
}

// Two rows, three channels: the rows of the picture come out top to bottom, whatever way the
// PackBits runs are cut.
TEST(PsdImage, PackBitsRunsAndTable)
{
    Doc d;
    d.width = 3;
    d.height = 2;
    d.channels = 3;
    d.compression = 1;
    Bytes table(3 * 2 * 2, 0);
    // Channel 0: one literal run over both rows; channel 1: a no-op, then a repeat over both
    // rows; channel 2: literal rows. The table is wrong on purpose: the runs decide.
    Bytes runs = {5, 10, 11, 12, 20, 21, 22, 128, 0xFB, 50, 2, 1, 2, 3, 2, 4, 5, 6};
    d.data = table;
    Append(d.data, runs);
    Result r;
    LoadDoc(d, r);
    ASSERT_EQ(r.status, 0);
    ASSERT_NE(r.bitmap, nullptr);
    EXPECT_EQ(r.px.At(0, 0), RGB(10, 50, 1));
    EXPECT_EQ(r.px.At(2, 0), RGB(12, 50, 3));
    EXPECT_EQ(r.px.At(0, 1), RGB(20, 50, 4));
    EXPECT_EQ(r.px.At(2, 1), RGB(22, 50, 6));

    // A run passing the end of a plane is cut there; the next channel starts after it.
    Doc over = d;
    over.data = table;
    Append(over.data, {7, 10, 11, 12, 20, 21, 22, 98, 99, 0xFB, 50, 2, 1, 2, 3, 2, 4, 5, 6});
    Result o;
    LoadDoc(over, o);
    EXPECT_EQ(o.px.At(0, 0), RGB(10, 50, 1));
    EXPECT_EQ(o.px.At(2, 1), RGB(22, 50, 6));

    // Short data: what the file cannot supply reads as 0xFE, and the picture is drawn.
    Doc cut = d;
    cut.data.resize(table.size() + 12);
    Result c;
    LoadDoc(cut, c);
    ASSERT_NE(c.bitmap, nullptr);
    EXPECT_EQ(c.px.At(0, 0), RGB(10, 50, 1));
    EXPECT_EQ(c.px.At(2, 1), RGB(22, 50, 0xFE));
}

TEST(PsdImage, UntrustedSizes)
{
    // A tiny file declaring a huge picture: refused before anything is allocated.
    const auto start = std::chrono::steady_clock::now();
    for (unsigned compression : {0u, 1u}) {
        Doc d;
        d.width = 30000;
        d.height = 30000;
        d.compression = compression;
        d.data.assign(30, 0x80);
        Result r;
        LoadDoc(d, r);
        EXPECT_EQ(r.status, compression == 1 ? -6 : 0);
        EXPECT_EQ(r.bitmap, nullptr);
        d.width = 0x7FFFFFFF;
        d.height = 0x7FFFFFFF;
        d.channels = 0x7FFF;
        LoadDoc(d, r);
        EXPECT_EQ(r.status, compression == 1 ? -6 : 0);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // Empty or negative sizes: no DIB section can be made.
    for (std::uint32_t w : {0u, 0x80000000u}) {
        Doc d;
        d.width = w;
        Result r;
        LoadDoc(d, r);
        EXPECT_EQ(r.status, -9) << w;
    }
    // No channel at all: nothing to draw.
    Doc none;
    none.channels = 0;
    Result r;
    LoadDoc(none, r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.bitmap, nullptr);
    // The file ends inside the compression code.
    Doc half;
    half.withCompression = false;
    half.data = {0};
    LoadDoc(half, r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.bitmap, nullptr);
}

} // namespace
