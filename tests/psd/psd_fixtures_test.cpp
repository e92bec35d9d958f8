// Documents written by ImageMagick and psd-tools (scripts/make-psd-fixtures.py), checked
// against the channel planes psd-tools decodes from them.

#include "psd/psd_internal.h"
#include "psd_test_util.h"

#include <fstream>
#include <iterator>

using namespace psdtest;

namespace {

std::string DataPath(const std::string& name)
{
    return std::string(DIB_TEST_DATA_DIR) + "/psd/" + name;
}

Bytes Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

// The colour the reader must draw for pixel i, from the decoded planes.
COLORREF Expected(const Bytes& planes, const Bytes& rgb, int mode, int depth, int channels,
                  std::size_t pixels, std::size_t i)
{
    const int s = depth / 8;
    auto sample = [&](int c) -> unsigned {
        const std::size_t at = (std::size_t(c) * pixels + i) * std::size_t(s);
        return s == 2 ? (unsigned(planes[at]) << 8 | planes[at + 1]) : planes[at];
    };
    auto high = [&](int c) { return std::uint8_t(s == 2 ? sample(c) >> 8 : sample(c)); };
    const double D = s == 2 ? 65536.0 : 256.0;
    int r = 0, g = 0, b = 0;
    switch (mode) {
    case 1:
        return RGB(high(0), high(0), high(0));
    case 2:
        return RGB(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    case 3:
        return RGB(high(0), high(1), high(2));
    case 4:
        dib::psd::CMYKToRGB(1 - sample(0) / D, 1 - sample(1) / D, 1 - sample(2) / D,
                            1 - sample(3) / D, r, g, b);
        break;
    case 9:
        dib::psd::LabToRGB(int(float(sample(0)) / (D / 100)),
                           int(float(sample(1)) / (D / 256) - 128),
                           int(float(sample(2)) / (D / 256) - 128), r, g, b);
        break;
    default:
        ADD_FAILURE() << "mode " << mode << " channels " << channels;
    }
    return RGB(dib::psd::Clamp255(r), dib::psd::Clamp255(g), dib::psd::Clamp255(b));
}

struct Fixture {
    const char* name;
    int status;
    bool bitmap;
    int mode, depth, channels;
    double dpi; // -1: no resource 1005 (ImageMagick writes 0 for an unknown density)
};

const Fixture kFixtures[] = {
    {"im_rgb8_raw", 0, true, 3, 8, 3, 300},
    {"im_rgb8_rle", 0, true, 3, 8, 3, 72},
    {"im_rgb16_raw", 0, true, 3, 16, 3, 0},
    {"im_rgb16_rle", 0, true, 3, 16, 3, 0},
    // Raw RGB with an extra channel is not drawn; the same in PackBits is.
    {"im_rgba8_raw", 0, false, 3, 8, 4, 0},
    {"im_rgba8_rle", 0, true, 3, 8, 4, 0},
    {"im_grey8_raw", 0, true, 1, 8, 1, 0},
    {"im_grey16_rle", 0, true, 1, 16, 1, 0},
    {"im_greya8_rle", 0, true, 1, 8, 2, 0},
    {"im_cmyk8_rle", 0, true, 4, 8, 4, 0},
    {"im_cmyk8_raw", 0, true, 4, 8, 4, 0},
    {"im_cmyk16_rle", 0, true, 4, 16, 4, 0},
    // Indexed without resource 1046: all 256 entries count.
    {"im_indexed_rle", 0, true, 2, 8, 1, 0},
    {"im_indexed_raw", 0, true, 2, 8, 1, 0},
    {"im_icc_rle", 0, true, 3, 8, 3, 0},
    {"pt_rgb8_raw", 0, true, 3, 8, 3, 300},
    {"pt_rgb8_rle", 0, true, 3, 8, 3, -1},
    {"pt_rgba8_rle", 0, true, 3, 8, 4, -1},
    {"pt_lab8_raw", 0, true, 9, 8, 3, -1},
    {"pt_lab8_rle", 0, true, 9, 8, 3, -1},
    {"pt_cmyk8_raw", 0, true, 4, 8, 4, -1},
    {"pt_grey8_rle", 0, true, 1, 8, 1, -1},
    // psd-tools writes bitmap mode at depth 8: drawn as nothing (white).
    {"pt_bitmap_rle", 0, true, 0, 8, 1, -1},
};

class PsdFixture : public ::testing::TestWithParam<Fixture> {};

TEST_P(PsdFixture, DrawsWhatAnIndependentDecoderReads)
{
    const Fixture& f = GetParam();
    CPSDTools psd;
    ASSERT_EQ(psd.Load(Wide(DataPath(std::string(f.name) + ".psd")).c_str()), f.status);
    EXPECT_EQ(psd.Header().mode, f.mode);
    EXPECT_EQ(psd.BitsPerPixel(), f.depth);
    EXPECT_EQ(psd.Header().channels, f.channels);
    double x, y;
    psd.DPI(x, y);
    EXPECT_EQ(x, f.dpi);
    HBITMAP bitmap = psd.Detach();
    ASSERT_EQ(bitmap != nullptr, f.bitmap);
    if (!bitmap)
        return;
    const Pixels px = Read(bitmap);
    int w, h;
    psd.Dimensions(w, h);
    ASSERT_EQ(px.width, w);
    ASSERT_EQ(px.height, h);
    EXPECT_EQ(px.bitCount, 24);
    EXPECT_TRUE(px.bottomUp);
    EXPECT_EQ(px.xppm, f.dpi < 0 ? 3780 : LONG(f.dpi * 10000 / 254));

    if (f.mode == 0) {
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(px.At(i % w, i / w), RGB(255, 255, 255));
        DeleteObject(bitmap);
        return;
    }
    const Bytes planes = Slurp(DataPath(std::string(f.name) + ".planes"));
    const Bytes rgb = f.mode == 2 ? Slurp(DataPath(std::string(f.name) + ".rgb")) : Bytes{};
    const std::size_t pixels = std::size_t(w) * std::size_t(h);
    ASSERT_EQ(planes.size(), pixels * std::size_t(f.channels) * std::size_t(f.depth / 8));
    for (std::size_t i = 0; i < pixels; ++i)
        ASSERT_EQ(px.At(int(i % std::size_t(w)), int(i / std::size_t(w))),
                  Expected(planes, rgb, f.mode, f.depth, f.channels, pixels, i))
            << f.name << " pixel " << i;
    DeleteObject(bitmap);
}

INSTANTIATE_TEST_SUITE_P(Writers, PsdFixture, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PsdFixtureResources, PsdToolsResourcesAreRead)
{
    const std::wstring path = Wide(DataPath("pt_rgb8_raw.psd"));
    CPSDTools psd;
    ASSERT_EQ(psd.LoadHeaders(path.c_str()), 0);
    EXPECT_EQ(psd.GlobalAngle(), 120);
    EXPECT_TRUE(psd.IsCopyright());
    double x, y;
    psd.DPI(x, y);
    EXPECT_EQ(x, 300);
    EXPECT_EQ(y, 150);
    int size = 0;
    EXPECT_NE(psd.ICCProfile(size), nullptr);
    EXPECT_GT(size, 128);
    // The ICC scan agrees with the full reader.
    const unsigned long need = CPSDTools::_GetEmbededICC(path.c_str(), nullptr);
    EXPECT_EQ(need, unsigned(size));
    std::vector<unsigned char> icc(need);
    EXPECT_EQ(CPSDTools::_GetEmbededICC(path.c_str(), icc.data()), need);
    EXPECT_TRUE(std::equal(icc.begin(), icc.end(), psd.ICCProfile(size)));
    // The file form of the reader leaves alpha channel names to the buffer form.
    EXPECT_EQ(psd.AlphaChannelNames().GetCount(), 0);
}

TEST(PsdFixtureResources, ImageMagickProfileIsFound)
{
    const std::wstring path = Wide(DataPath("im_icc_rle.psd"));
    const unsigned long need = CPSDTools::_GetEmbededICC(path.c_str(), nullptr);
    EXPECT_GE(need, 128u);
    EXPECT_EQ(CPSDTools::_GetEmbededICC(Wide(DataPath("im_rgb8_rle.psd")).c_str(), nullptr), 0u);
}

} // namespace
