// Colour queries (grey test, colour count) and the status callback's reports.
#include "raster_test_util.h"

using namespace rktest;

namespace {

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
    bool monotonic = true;
};

int record(int percent, void* user)
{
    auto* c = static_cast<Calls*>(user);
    ++c->count;
    c->monotonic = c->monotonic && percent > c->last && percent <= 100;
    c->last = percent;
    return 1;
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
