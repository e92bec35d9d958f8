// Acoblar, Combinar, MergeCMYK, ColorMerge, Substituir, AillarPla and SetColor, checked pixel
// by pixel against the placements and per-channel formulas the operations promise.
#include "ops_test_util.h"

#include <algorithm>
#include <cstring>
#include <raster/ops/ops_codes_compose.h>

using namespace opstest;

namespace {

COLORREF ColourA(int x, int y)
{
    return RGB(x * 2, y * 5, 17);
}
COLORREF ColourB(int x, int y)
{
    return RGB(250 - x, 3, y * 4);
}

} // namespace

TEST(Acoblar, EveryModePlacesBothImages)
{
    struct Case {
        unsigned long mode;
        int w2, h2; // other's size (this image is 100 x 50)
        int w, h;   // result
        int ax, ay; // where this image lands
        int bx, by; // where other lands
    } cases[] = {
        {1, 30, 50, 130, 50, 30, 0, 0, 0},  {2, 30, 50, 130, 50, 0, 0, 100, 0},
        {3, 100, 20, 100, 70, 0, 20, 0, 0}, {4, 100, 20, 100, 70, 0, 0, 0, 50},
        {1, 30, 60, 130, 50, 30, 0, 0, 0},  {4, 120, 20, 100, 70, 0, 0, 0, 50},
        {2, 30, 40, 130, 50, 0, 0, 100, 0},
    };
    for (Layout layout : kLayouts)
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << Name(layout) << " mode " << c.mode << " " << c.w2 << "x" << c.h2);
            TDib a, b;
            Make(a, 100, 50, 24, layout);
            Make(b, c.w2, c.h2, 24, layout == Layout::BottomUp ? Layout::TopDown : layout);
            Paint(a, ColourA);
            Paint(b, ColourB);
            ASSERT_EQ(a.Acoblar(&b, c.mode), 0);
            ASSERT_EQ(a.GetMidaX(), c.w);
            ASSERT_EQ(a.GetMidaY(), c.h);
            for (int y = 0; y < c.h; ++y)
                for (int x = 0; x < c.w; ++x) {
                    COLORREF want = 0;
                    if (x >= c.ax && x < c.ax + 100 && y >= c.ay && y < c.ay + 50)
                        want = ColourA(x - c.ax, y - c.ay);
                    else if (x >= c.bx && x < c.bx + c.w2 && y >= c.by && y < c.by + c.h2)
                        want = ColourB(x - c.bx, y - c.by);
                    ASSERT_EQ(At(a, x, y), want) << x << "," << y;
                }
            EXPECT_EQ(b.GetMidaX(), c.w2); // other untouched
        }
}

TEST(Acoblar, TakesTheOtherDepthAndKeepsColours)
{
    const auto greys = Greys();
    struct Case {
        int mine, theirs;
    } cases[] = {{8, 24}, {24, 8}, {24, 1}, {1, 8}, {32, 24}, {24, 32}, {48, 48}, {16, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mine << " + " << c.theirs);
        TDib a, b;
        Make(a, 5, 3, c.mine, Layout::TopDown, c.mine == 8 ? greys.data() : nullptr);
        Make(b, 4, 3, c.theirs, Layout::TopDown, c.theirs == 8 ? greys.data() : nullptr);
        auto grey = [](int x, int y) { return RGB(x * 60, x * 60, x * 60) * (y != 1); };
        Paint(a, grey);
        Paint(b, [&](int x, int y) { return grey(4 - x, y); });
        const std::vector<COLORREF> was = Picture(b), mine = Picture(a);
        ASSERT_EQ(a.Acoblar(&b, 2), 0);
        EXPECT_EQ(a.GetBitsPerPixel(), c.theirs);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(At(a, 5 + x, y), was[std::size_t(y * 4 + x)]);
        if (c.theirs == 1) // a 1-bit result keeps only black and white
            continue;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(At(a, x, y), mine[std::size_t(y * 5 + x)]) << x << "," << y;
    }
}

TEST(Acoblar, JoinsWithItselfAndRefusesBadArguments)
{
    TDib a;
    Make(a, 7, 4, 24, Layout::TopDown);
    Paint(a, ColourA);
    ASSERT_EQ(a.Acoblar(&a, 4), 0);
    ASSERT_EQ(a.GetMidaY(), 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(At(a, x, y), ColourA(x, y % 4));

    const std::vector<COLORREF> before = Picture(a);
    TDib empty;
    for (unsigned long mode : {0ul, 5ul, 0xFFFFFFFFul})
        EXPECT_EQ(a.Acoblar(&a, mode), -3);
    EXPECT_EQ(a.Acoblar(nullptr, 1), -3);
    EXPECT_EQ(a.Acoblar(&empty, 1), -3);
    EXPECT_EQ(empty.Acoblar(&a, 1), -3);
    EXPECT_EQ(Picture(a), before);

    RkFailAllocationsAfter(0);
    const int r = a.Acoblar(&a, 1);
    RkFailAllocationsAfter(-1);
    EXPECT_EQ(r, -3001);
    EXPECT_EQ(a.GetMidaX(), 7);
    EXPECT_EQ(Picture(a), before);
}

TEST(Acoblar, AlphaIndexFollowsTheResultDepth)
{
    TDib a, b;
    Make(a, 2, 2, 32, Layout::TopDown);
    Make(b, 2, 2, 24, Layout::TopDown);
    ASSERT_EQ(a.Acoblar(&b, 1), 0);
    EXPECT_EQ(a.GetBitsPerPixel(), 24);
    EXPECT_EQ(dib::TDibAccess::CanalAlpha(a), -1);
}

TEST(Combinar, ClipsToBothImages)
{
    struct Case {
        int sw, sh, x, y;
    } cases[] = {{4, 4, 8, 8}, {20, 20, 0, 0}, {5, 5, -2, -3}, {3, 3, 10, 0}, {6, 2, 2, 9}};
    for (Layout layout : kLayouts)
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << Name(layout) << " " << c.sw << "x" << c.sh << " at "
                                            << c.x << "," << c.y);
            TDib d, s;
            Make(d, 10, 10, 24, layout);
            Make(s, c.sw, c.sh, 24, Layout::TopDown);
            Paint(d, ColourA);
            Paint(s, ColourB);
            ASSERT_EQ(d.Combinar(&s, RK_COMBINE_COPY, c.x, c.y, 123, -7), 0);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x) {
                    const int sx = x - c.x, sy = y - c.y;
                    const bool in = sx >= 0 && sy >= 0 && sx < c.sw && sy < c.sh;
                    ASSERT_EQ(At(d, x, y), in ? ColourB(sx, sy) : ColourA(x, y));
                }
        }
    TDib d;
    Make(d, 3, 3, 24, Layout::TopDown);
    EXPECT_EQ(d.Combinar(nullptr, RK_COMBINE_COPY, 0, 0, 0, 0), -3);
    EXPECT_EQ(d.Combinar(&d, 0x7000, 0, 0, 0, 0), -3003);
    EXPECT_EQ(d.Combinar(&d, RK_COMBINE_COPY, 1, 1, 0, 0), 0);
}

TEST(MergeCMYK, RecreatesTwentyFourBitsFromFourPlanes)
{
    const auto greys = Greys();
    TDib p[4];
    for (int i = 0; i < 4; ++i) {
        Make(p[i], 6, 4, 8, i == 2 ? Layout::BottomUp : Layout::TopDown, greys.data());
        Paint(p[i], [i](int x, int y) {
            const int v = (x * 40 + y * 30 + i * 50) % 256;
            return RGB(v, v, v);
        });
    }
    TDib d;
    Make(d, 2, 2, 8, Layout::TopDown);
    ASSERT_EQ(d.MergeCMYK(&p[0], &p[1], &p[2], &p[3]), 0);
    EXPECT_EQ(d.GetBitsPerPixel(), 24);
    EXPECT_EQ(d.GetMidaX(), 6);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            int v[4];
            for (int i = 0; i < 4; ++i)
                v[i] = int(At(p[i], x, y) & 255);
            const COLORREF want =
                RGB(std::max(0, 255 - v[0] - v[3]), std::max(0, 255 - v[1] - v[3]),
                    std::max(0, 255 - v[2] - v[3]));
            ASSERT_EQ(At(d, x, y), want);
        }

    const std::vector<COLORREF> before = Picture(d);
    TDib small, colour, empty;
    Make(small, 5, 4, 8, Layout::TopDown);
    Make(colour, 6, 4, 24, Layout::TopDown);
    EXPECT_EQ(d.MergeCMYK(nullptr, &p[1], &p[2], &p[3]), -3);
    EXPECT_EQ(d.MergeCMYK(&p[0], &p[1], nullptr, &p[3]), -3);
    EXPECT_EQ(d.MergeCMYK(&p[0], &empty, &p[2], &p[3]), -3);
    EXPECT_EQ(d.MergeCMYK(&p[0], &small, &p[2], &p[3]), -3);
    EXPECT_EQ(d.MergeCMYK(&p[0], &p[1], &colour, &p[3]), -3005);
    EXPECT_EQ(Picture(d), before);
}

TEST(ColorMerge, SelectorsAndTargetDepths)
{
    const auto greys = Greys();
    for (int bits : {24, 32, 8}) {
        for (unsigned long selector : {0ul, 1ul, 4ul}) {
            SCOPED_TRACE(testing::Message() << bits << " selector " << selector);
            const int n = selector == 1 ? 4 : 3;
            std::vector<TDib> planes(static_cast<std::size_t>(n));
            std::vector<TDib*> list;
            for (int i = 0; i < n; ++i) {
                Make(planes[std::size_t(i)], 5, 3, 8, Layout::TopDown, greys.data());
                Paint(planes[std::size_t(i)], [i](int x, int y) {
                    const int v = (x * 50 + y * 70 + i * 30) % 200;
                    return RGB(v, v, v);
                });
                list.push_back(&planes[std::size_t(i)]);
            }
            TDib d;
            Make(d, 5, 3, bits, Layout::BottomUp);
            if (bits == 32) {
                ASSERT_GT(RkSetBitmapAlphaValues(&dib::TDibAccess::Bitmap(d), 99), 0);
            }
            ASSERT_EQ(d.ColorMerge(list.data(), selector), 0);
            TDib reference;
            Make(reference, 5, 3, bits, Layout::TopDown);
            Paint(reference, [&](int x, int y) {
                int v[4];
                for (int i = 0; i < n; ++i)
                    v[i] = int(At(planes[std::size_t(i)], x, y) & 255);
                if (selector == 0)
                    return RGB(v[0], v[1], v[2]);
                if (selector == 4)
                    return RGB(255 - v[0], 255 - v[1], 255 - v[2]);
                return RGB(std::max(0, 255 - v[0] - v[3]), std::max(0, 255 - v[1] - v[3]),
                           std::max(0, 255 - v[2] - v[3]));
            });
            EXPECT_EQ(Picture(d), Picture(reference));
            if (bits == 32) {
                unsigned char px[4];
                ASSERT_EQ(d.GetLinia(1, 2, px, 4), 0);
                EXPECT_EQ(px[3], 99);
            }
        }
    }
    TDib d, odd;
    Make(d, 5, 3, 24, Layout::TopDown);
    Make(odd, 5, 2, 8, Layout::TopDown);
    TDib* bad[3] = {&d, &d, &d};
    TDib* missing[3] = {&odd, nullptr, &odd};
    EXPECT_EQ(d.ColorMerge(nullptr, 0), -3);
    EXPECT_EQ(d.ColorMerge(missing, 0), -3);
    EXPECT_EQ(d.ColorMerge(bad, 0), -3005);
    EXPECT_EQ(d.ColorMerge(bad, 7), -3);
    TDib* sized[3] = {&odd, &odd, &odd};
    EXPECT_EQ(d.ColorMerge(sized, 0), -3);
}

TEST(Substituir, BlackPlaneAndChannelTables)
{
    std::vector<int> inverse(256), identity(256);
    for (int v = 0; v < 256; ++v) {
        inverse[std::size_t(v)] = 255 - v;
        identity[std::size_t(v)] = v;
    }
    for (Layout layout : kLayouts)
        for (int bits : {24, 32, 8}) {
            SCOPED_TRACE(testing::Message() << Name(layout) << " " << bits);
            TDib d;
            Make(d, 9, 5, bits, layout);
            Paint(d, [](int x, int y) { return RGB(x * 25, y * 50, 100 + x * 10); });
            const std::vector<COLORREF> before = Picture(d);
            ASSERT_EQ(d.Substituir(identity.data(), 256, 0), 0);
            EXPECT_EQ(Picture(d), before);
            ASSERT_EQ(d.Substituir(inverse.data(), 256, 0), 0);
            EXPECT_EQ(d.GetBitsPerPixel(), bits == 8 ? 24 : bits);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 9; ++x) {
                    const COLORREF c = before[std::size_t(y * 9 + x)];
                    const int rgb[3] = {int(c & 255), int(c >> 8 & 255), int(c >> 16 & 255)};
                    const int m = std::max({rgb[0], rgb[1], rgb[2]}), k = 255 - (255 - m);
                    COLORREF want = 0;
                    for (int i = 0; i < 3; ++i)
                        want |= COLORREF(std::max(0, 255 - (m - rgb[i]) - k)) << (8 * i);
                    ASSERT_EQ(At(d, x, y), want);
                }
        }
    TDib d;
    Make(d, 3, 1, 24, Layout::TopDown);
    Paint(d, [](int x, int) { return RGB(x * 100, 7, 200); });
    ASSERT_EQ(d.Substituir(inverse.data(), 256, RK_CHANNEL_RED), 0);
    EXPECT_EQ(At(d, 2, 0), RGB(55, 7, 200));
    EXPECT_EQ(d.Substituir(nullptr, 256, 0), -3);
    EXPECT_EQ(d.Substituir(inverse.data(), 255, 0), -3);
    EXPECT_EQ(d.Substituir(inverse.data(), 255, RK_CHANNEL_RED), -3003);
    EXPECT_EQ(At(d, 2, 0), RGB(55, 7, 200));
}

TEST(AillarPla, PaletteAndTwentyFourBits)
{
    std::array<tagRGBQUAD, 256> palette = Greys();
    palette[3] = palette[9] = {30, 20, 10, 5}; // RGB(10, 20, 30), twice
    TDib p;
    Make(p, 4, 1, 8, Layout::TopDown, palette.data());
    const unsigned char line[4] = {3, 9, 4, 200};
    ASSERT_EQ(p.SetLinia(0, line, 4), 0);
    p.AillarPla(RGB(10, 20, 30), RGB(1, 2, 3));
    std::array<tagRGBQUAD, 256> after{};
    ASSERT_EQ(p.GetPaleta(after.data(), nullptr), 256);
    for (int i = 0; i < 256; ++i) {
        const tagRGBQUAD want =
            (i == 3 || i == 9) ? tagRGBQUAD{3, 2, 1, 5} : tagRGBQUAD{255, 255, 255, 0};
        EXPECT_EQ(std::memcmp(&after[std::size_t(i)], &want, 4), 0) << i;
    }
    unsigned char back[4];
    ASSERT_EQ(p.GetLinia(0, back, 4), 0);
    EXPECT_EQ(std::memcmp(back, line, 4), 0);

    for (Layout layout : kLayouts) {
        TDib d;
        Make(d, 5, 4, 24, layout);
        Paint(d, [](int x, int y) { return x == y ? RGB(10, 20, 30) : RGB(x, y, 0); });
        d.AillarPla(RGB(10, 20, 30), RGB(200, 100, 50));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(At(d, x, y), x == y ? RGB(200, 100, 50) : RGB(255, 255, 255));
        d.AillarPla(0x123456, 0);
        EXPECT_EQ(At(d, 0, 0), RGB(255, 255, 255));
    }
    TDib wide;
    Make(wide, 2, 2, 32, Layout::TopDown);
    wide.AillarPla(0, 0x00FF00);
    EXPECT_EQ(At(wide, 1, 1), 0u);
}

TEST(SetColor, FillsAndSetsTheFourthByte)
{
    for (int bits : {1, 8, 24, 32, 48}) {
        TDib d;
        Make(d, 3, 2, bits, Layout::Disk);
        ASSERT_EQ(d.SetColor(0xFFFFFF, 17), 0);
        EXPECT_EQ(At(d, 2, 1), 0xFFFFFFu);
        if (bits == 32) {
            unsigned char px[4];
            ASSERT_EQ(d.GetLinia(0, 0, px, 4), 0);
            EXPECT_EQ(px[3], 17);
        }
    }
    EXPECT_LT(TDib().SetColor(0, 0), 0);
}
