// Palette and colour queries of TDib.
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

// Exposes the protected histogram.
class HistogramDib : public TDib {
public:
    using TDib::GetBitmapHistogram;
};

} // namespace

TEST(Palette, UsedEntriesOfAFourBitImage)
{
    TDib d;
    ASSERT_EQ(d.Crear(5, 3, 4), 0);
    // Entry 15 only in the last pixel of the last row: the scan must reach it.
    const unsigned char last[1] = {0xF0};
    ASSERT_EQ(d.SetLinia(2, 4, last, 1), 0);
    std::vector<tagRGBQUAD> pal(16);
    std::vector<int> used(16, 7);
    EXPECT_EQ(d.GetPaleta(pal.data(), used.data()), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(used[std::size_t(i)], (i == 0 || i == 15) ? 1 : 0) << i;
}

TEST(Palette, UsedIgnoresPaddingBitsAndNeedsThePalette)
{
    TDib d;
    ASSERT_EQ(d.Crear(3, 1, 2), 0);
    std::vector<tagRGBQUAD> pal(4);
    std::vector<int> used(4, 9);
    EXPECT_EQ(d.GetPaleta(nullptr, used.data()), 4);
    EXPECT_EQ(used[0], 9);               // untouched without a palette
    const unsigned char row[1] = {0x1B}; // pixels 0, 1, 2, then 3 in the padding
    d.SetLinia(0, row, 1);
    EXPECT_EQ(d.GetPaleta(pal.data(), used.data()), 4);
    EXPECT_EQ(used[0], 1);
    EXPECT_EQ(used[1], 1);
    EXPECT_EQ(used[2], 1);
    EXPECT_EQ(used[3], 0);
}

TEST(Palette, SetPaletaReplacesOrKeeps)
{
    TDib d;
    ASSERT_EQ(d.Crear(2, 2, 1), 0);
    const tagRGBQUAD two[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    EXPECT_EQ(d.SetPaleta(two), 2);
    EXPECT_EQ(d.SetPaleta(nullptr), 2);
    tagRGBQUAD got[2];
    d.GetPaleta(got, nullptr);
    EXPECT_EQ(got[1].rgbRed, 6);
    EXPECT_EQ(d.GetPixel(0, 0), RGB(3, 2, 1));
    TDib empty;
    EXPECT_EQ(empty.GetPaleta(got, nullptr), 0);
    EXPECT_EQ(empty.SetPaleta(two), 0);
}

TEST(Palette, DistinctColours)
{
    TDib d;
    ASSERT_EQ(d.Crear(4, 4, 24), 0);
    EXPECT_EQ(d.GetNumColors(), 1);
    CList<unsigned long, unsigned long> list;
    EXPECT_EQ(d.GetLlistaColors(list), 1);
    EXPECT_EQ(d.GetLlistaColors(list), 1);
    EXPECT_EQ(list.GetCount(), 2); // not cleared between calls

    d.SetPixel(3, 3, static_cast<unsigned long>(RGB(1, 2, 3)));
    d.SetPixel(0, 2, static_cast<unsigned long>(RGB(9, 9, 9)));
    CList<unsigned long, unsigned long> three;
    EXPECT_EQ(d.GetLlistaColors(three), 3);
    EXPECT_EQ(d.GetNumColors(), 3);
    TDib empty;
    EXPECT_LT(empty.GetNumColors(), -3000);
}

TEST(Palette, HistogramOfATwentyFourBitImage)
{
    HistogramDib d;
    std::vector<std::uint32_t> h(256, 123);
    ASSERT_EQ(d.Crear(3, 2, 8), 0);
    EXPECT_EQ(d.GetBitmapHistogram(h.data(), 0), -3);
    ASSERT_EQ(d.Crear(3, 2, 24), 0);
    EXPECT_EQ(d.GetBitmapHistogram(h.data(), 4), -3);
    EXPECT_EQ(d.GetBitmapHistogram(nullptr, 0), -3);
    const unsigned char px[3] = {30, 60, 91}; // blue, green, red
    d.SetPixel(2, 1, px);

    struct Case {
        unsigned channel;
        unsigned value;
    } cases[] = {{0, 60}, {1, 91}, {2, 60}, {3, 30}};
    for (const auto& c : cases) {
        ASSERT_EQ(d.GetBitmapHistogram(h.data(), c.channel), 0);
        EXPECT_EQ(std::accumulate(h.begin(), h.end(), 0u), 6u);
        EXPECT_EQ(h[c.value], 1u) << c.channel;
        EXPECT_EQ(h[0], 5u);
    }
}

TEST(Palette, GreyTest)
{
    TDib d;
    ASSERT_EQ(d.Crear(2, 2, 24), 0);
    d.SetPixel(0, 0, static_cast<unsigned long>(RGB(50, 50, 50)));
    EXPECT_EQ(d.EsImatgeGrisos(), 1);
    d.SetPixel(1, 0, static_cast<unsigned long>(RGB(50, 51, 50)));
    EXPECT_EQ(d.EsImatgeGrisos(), 0);
    TDib empty;
    EXPECT_EQ(empty.EsImatgeGrisos(), 0); // a kernel error is not "grey"
}
