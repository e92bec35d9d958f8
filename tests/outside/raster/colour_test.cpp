// Fills, inversion, alpha planes, colour queries, colour-resolution changes and the status
// callback.
#include "raster_test_util.h"

#include <cstring>

using namespace rktest;

namespace {

TEST(RasterColour, FillMapsToNearestEntryAndLeavesPadding)
{
    struct Case {
        int bits;
        COLORREF fill, read;
    } cases[] = {
        {1, RGB(100, 100, 100), RGB(0, 0, 0)},   {2, RGB(160, 170, 180), RGB(170, 170, 170)},
        {4, RGB(0, 120, 130), RGB(0, 128, 128)}, {8, RGB(49, 101, 150), RGB(51, 102, 153)},
        {16, RGB(8, 16, 33), RGB(8, 16, 33)},    {24, RGB(1, 2, 3), RGB(1, 2, 3)},
        {32, RGB(1, 2, 3), RGB(1, 2, 3)},        {48, RGB(200, 100, 50), RGB(200, 100, 50)}};
    for (const Case& c : cases) {
        Bmp b;
        ASSERT_EQ(create(b, 7, 3, c.bits), RK_SUCCESS);
        ASSERT_EQ(RkFillBitmap(b.get(), c.fill), RK_SUCCESS);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                ASSERT_EQ(RkGetPixelColor(b.get(), y, x), c.read) << c.bits;
        std::vector<std::uint8_t> line(std::size_t(b->BytesPerLine));
        RkGetBitmapRow(b.get(), line.data(), 2, line.size());
        std::size_t used = (std::size_t(7) * unsigned(c.bits) + 7) / 8;
        for (std::size_t i = used; i < line.size(); ++i)
            EXPECT_EQ(line[i], 0) << "padding, bits " << c.bits;
        std::uint32_t n = 0;
        ASSERT_EQ(RkGetColorCount(b.get(), &n), RK_SUCCESS);
        EXPECT_EQ(n, 1u);
    }
}

TEST(RasterColour, InvertClearAndAlpha)
{
    Bmp b;
    ASSERT_EQ(create(b, 3, 2, 32), RK_SUCCESS);
    ASSERT_EQ(RkFillBitmap(b.get(), RGB(10, 20, 30)), RK_SUCCESS);
    ASSERT_EQ(RkSetBitmapAlphaValues(b.get(), 77), RK_SUCCESS);
    ASSERT_EQ(RkInvertBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(RkGetPixelColor(b.get(), 1, 2), RGB(245, 235, 225));
    Bmp a;
    ASSERT_EQ(RkGetBitmapAlpha(b.get(), a.get(), 284), RK_SUCCESS);
    EXPECT_EQ(a->BitsPerPixel, 8);
    EXPECT_EQ(RkGetPixelColor(a.get(), 1, 2), RGB(77, 77, 77)); // alpha kept by the inversion
    EXPECT_EQ(RkSetBitmapAlphaValues(b.get(), 256), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkSetBitmapAlphaValues(a.get(), 1), RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(RkGetBitmapAlpha(a.get(), b.get(), 284), RK_ERROR_BITSPERPIXEL);
    ASSERT_EQ(RkClearBitmap(b.get()), RK_SUCCESS);
    std::uint8_t line[12];
    RkGetBitmapRow(b.get(), line, 0, 12);
    EXPECT_EQ(std::count(line, line + 12, 0), 12);

    Bmp p; // palette depths invert the palette, not the indices
    ASSERT_EQ(create(p, 2, 2, 1), RK_SUCCESS);
    ASSERT_EQ(RkInvertBitmap(p.get()), RK_SUCCESS);
    EXPECT_EQ(RkGetPixelColor(p.get(), 0, 0), RGB(255, 255, 255));
}

TEST(RasterColour, GreyTestAndColourCount)
{
    Bmp b;
    ASSERT_EQ(create(b, 4, 4, 24), RK_SUCCESS);
    EXPECT_EQ(RkIsGrayScaleBitmap(b.get()), 1);
    RkPutPixelColor(b.get(), 3, 3, RGB(9, 9, 9));
    RkPutPixelColor(b.get(), 2, 3, RGB(200, 200, 200));
    EXPECT_EQ(RkIsGrayScaleBitmap(b.get()), 1);
    RkPutPixelColor(b.get(), 1, 1, RGB(9, 9, 10));
    EXPECT_EQ(RkIsGrayScaleBitmap(b.get()), 0);
    std::uint32_t n = 0;
    ASSERT_EQ(RkGetColorCount(b.get(), &n), RK_SUCCESS);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(RkGetColorCount(b.get(), nullptr), RK_ERROR_INV_PARAMETER);

    // Palette depths: only the entries pixels use matter (the default 8-bit palette is colour).
    Bmp p;
    ASSERT_EQ(create(p, 4, 4, 8), RK_SUCCESS);
    EXPECT_EQ(RkIsGrayScaleBitmap(p.get()), 1);
    RkPutPixelColor(p.get(), 0, 0, RGB(255, 0, 0));
    EXPECT_EQ(RkIsGrayScaleBitmap(p.get()), 0);
    ASSERT_EQ(RkGetColorCount(p.get(), &n), RK_SUCCESS);
    EXPECT_EQ(n, 2u);
}

TEST(RasterColour, ResolutionRoundTripsAreExact)
{
    // Every palette entry of a palette depth survives a trip through 24 and 32 bits.
    for (int bits : {1, 2, 4, 8}) {
        for (int through : {24, 32, 48}) {
            Bmp b;
            int count = 1 << bits;
            ASSERT_EQ(create(b, count, 2, bits, 0x201, RK_BOTTOM_LEFT), RK_SUCCESS);
            std::vector<std::uint8_t> line(std::size_t(b->BytesPerLine));
            for (int x = 0; x < count; ++x)
                refSet(line.data(), x, bits, std::uint64_t(x));
            RkPutBitmapRow(b.get(), line.data(), 1, line.size());
            auto before = pixels(b.get());
            std::vector<tagRGBQUAD> pal(b->pPalette, b->pPalette + count);
            ASSERT_EQ(RkColorResBitmap(b.get(), through, nullptr), RK_SUCCESS);
            EXPECT_EQ(b->BitsPerPixel, through);
            EXPECT_EQ(b->ColorCount, 0);
            EXPECT_EQ(b->ViewPerspective, RK_BOTTOM_LEFT);
            for (int x = 0; x < count; ++x)
                ASSERT_EQ(RkGetPixelColor(b.get(), 1, x),
                          RGB(pal[std::size_t(x)].rgbRed, pal[std::size_t(x)].rgbGreen,
                              pal[std::size_t(x)].rgbBlue));
            ASSERT_EQ(RkColorResBitmap(b.get(), bits, pal.data()), RK_SUCCESS);
            EXPECT_EQ(pixels(b.get()), before) << bits << " via " << through;
        }
    }
    // 24 -> 32 -> 24 keeps every byte.
    Bmp c;
    ASSERT_EQ(create(c, 9, 3, 24), RK_SUCCESS);
    fillPattern(c.get());
    auto before = pixels(c.get());
    ASSERT_EQ(RkColorResBitmap(c.get(), 32, nullptr), RK_SUCCESS);
    ASSERT_EQ(RkColorResBitmap(c.get(), 24, nullptr), RK_SUCCESS);
    EXPECT_EQ(pixels(c.get()), before);
    EXPECT_EQ(RkColorResBitmap(c.get(), 12, nullptr), RK_ERROR_BITSPERPIXEL);
}

TEST(RasterColour, ReductionsMapToNearestEntry)
{
    Bmp b;
    ASSERT_EQ(create(b, 3, 1, 24), RK_SUCCESS);
    RkPutPixelColor(b.get(), 0, 0, RGB(250, 5, 5));
    RkPutPixelColor(b.get(), 0, 1, RGB(100, 100, 100));
    RkPutPixelColor(b.get(), 0, 2, RGB(20, 20, 200));
    Bmp c;
    ASSERT_EQ(RkCopyBitmap(c.get(), 284, b.get(), 284), RK_SUCCESS);
    ASSERT_EQ(RkColorResBitmap(b.get(), 4, nullptr), RK_SUCCESS); // the VGA colours
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 1), RGB(128, 128, 128));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 2), RGB(0, 0, 255));
    tagRGBQUAD two[2] = {{0, 0, 0, 0}, {0, 0, 255, 0}}; // black and red
    ASSERT_EQ(RkColorResBitmap(c.get(), 1, two), RK_SUCCESS);
    EXPECT_EQ(RkGetPixelColor(c.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(RkGetPixelColor(c.get(), 0, 2), RGB(0, 0, 0));
}

struct Calls {
    int count = 0;
    int last = -1;
    int stopAt = 1000;
    bool monotonic = true;
};

int record(int percent, void* user)
{
    auto* c = static_cast<Calls*>(user);
    ++c->count;
    c->monotonic = c->monotonic && percent > c->last && percent <= 100;
    c->last = percent;
    return percent >= c->stopAt ? 0 : 1;
}

class RasterCallback : public ::testing::Test {
protected:
    void TearDown() override { RkSetStatusCallback(nullptr, nullptr); }
};

TEST_F(RasterCallback, ReportsAtMostOncePerPercent)
{
    Bmp b;
    ASSERT_EQ(create(b, 3, 1000, 24), RK_SUCCESS);
    Calls calls;
    EXPECT_EQ(RkSetStatusCallback(record, &calls), nullptr);
    void* user = nullptr;
    EXPECT_EQ(RkGetStatusCallback(&user), &record);
    EXPECT_EQ(user, &calls);
    ASSERT_EQ(RkReverseBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(calls.count, 101);
    EXPECT_EQ(calls.last, 100);
    EXPECT_TRUE(calls.monotonic);
    void* previous = nullptr;
    EXPECT_EQ(RkSetStatusCallback(nullptr, nullptr, &previous), &record);
    EXPECT_EQ(previous, &calls);
}

TEST_F(RasterCallback, CancellingLeavesTheBitmapAsItWas)
{
    using Op = int (*)(_BITMAPHANDLE*);
    Op ops[] = {
        RkFlipBitmap,
        RkReverseBitmap,
        RkInvertBitmap,
        [](_BITMAPHANDLE* b) { return RkRotateBitmapQuarters(b, 1); },
        [](_BITMAPHANDLE* b) { return RkRotateBitmapQuarters(b, 2); },
        [](_BITMAPHANDLE* b) { return RkColorResBitmap(b, 8, nullptr); },
        [](_BITMAPHANDLE* b) { return RkCropBitmap(b, 1, 1, 5, 50); },
    };
    for (Op op : ops) {
        Bmp b;
        ASSERT_EQ(create(b, 7, 200, 24), RK_SUCCESS);
        fillPattern(b.get());
        auto before = pixels(b.get());
        Calls calls;
        calls.stopAt = 40;
        RkSetStatusCallback(record, &calls);
        EXPECT_EQ(op(b.get()), RK_ERROR_CANCELLED);
        RkSetStatusCallback(nullptr, nullptr);
        EXPECT_EQ(calls.last, 40);
        EXPECT_EQ(b->Width, 7);
        EXPECT_EQ(b->BitsPerPixel, 24);
        EXPECT_EQ(pixels(b.get()), before);
    }
}

} // namespace
