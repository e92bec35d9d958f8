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

} // namespace
