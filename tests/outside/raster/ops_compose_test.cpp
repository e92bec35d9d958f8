// The kernel's compositing and plane operations, checked against per-channel arithmetic
// written here and OpenCV's colour conversions called directly.
#include "raster_test_util.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <raster/kernel.h>
#include <raster/ops/ops_compose.h>

using namespace rktest;

namespace {

// A 24-bit bitmap whose pixel (x, y) is colour(x, y) (COLORREF).
template <typename Colour> void paint(_BITMAPHANDLE* b, Colour colour)
{
    for (int y = 0; y < b->Height; ++y)
        for (int x = 0; x < b->Width; ++x)
            ASSERT_GT(RkPutPixelColor(b, y, x, colour(x, y)), 0);
}

COLORREF noise(int x, int y, unsigned seed)
{
    return COLORREF(patternValue(x, y, 24, seed));
}

int channel(COLORREF c, int i)
{
    return int((c >> (8 * i)) & 0xFF);
}

// Picture row r of a bitmap as the kernel's row calls number it.
int stored(const _BITMAPHANDLE* b, int r)
{
    return b->ViewPerspective == RK_TOP_LEFT ? r : b->Height - 1 - r;
}

} // namespace

TEST(OpsCombine, EveryOperationMatchesPerChannelArithmetic)
{
    struct Case {
        std::uint32_t flags;
        int (*expect)(int d, int s);
    } cases[] = {
        {RK_COMBINE_COPY, [](int, int s) { return s; }},
        {RK_COMBINE_AND, [](int d, int s) { return d & s; }},
        {RK_COMBINE_OR, [](int d, int s) { return d | s; }},
        {RK_COMBINE_XOR, [](int d, int s) { return d ^ s; }},
        {RK_COMBINE_ADD, [](int d, int s) { return std::min(d + s, 255); }},
        {RK_COMBINE_SUBTRACT, [](int d, int s) { return std::max(d - s, 0); }},
        {RK_COMBINE_MULTIPLY, [](int d, int s) { return int(std::nearbyint(d * s / 255.0)); }},
        {RK_COMBINE_DARKEN, [](int d, int s) { return std::min(d, s); }},
        {RK_COMBINE_LIGHTEN, [](int d, int s) { return std::max(d, s); }},
        {RK_COMBINE_AVERAGE, [](int d, int s) { return int(std::nearbyint((d + s) / 2.0)); }},
        {RK_COMBINE_DIFFERENCE, [](int d, int s) { return std::abs(d - s); }},
        {RK_COMBINE_ADD | RK_COMBINE_INVERT_SRC,
         [](int d, int s) { return std::min(d + 255 - s, 255); }},
        {RK_COMBINE_SUBTRACT | RK_COMBINE_INVERT_DST,
         [](int d, int s) { return std::max(255 - d - s, 0); }},
        {RK_COMBINE_AND | RK_COMBINE_INVERT_RES, [](int d, int s) { return 255 - (d & s); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        Bmp dst, src;
        ASSERT_GT(create(dst, 37, 9, 24), 0);
        ASSERT_GT(create(src, 37, 9, 24), 0);
        paint(dst.get(), [](int x, int y) { return noise(x, y, 3); });
        paint(src.get(), [](int x, int y) { return noise(x, y, 4); });
        ASSERT_EQ(RkCombineBitmap(dst.get(), 0, 0, 37, 9, src.get(), 0, 0, c.flags), 1);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 37; ++x) {
                const COLORREF got = RkGetPixelColor(dst.get(), y, x);
                for (int i = 0; i < 3; ++i)
                    ASSERT_EQ(channel(got, i),
                              c.expect(channel(noise(x, y, 3), i), channel(noise(x, y, 4), i)))
                        << x << "," << y;
            }
    }
}

TEST(OpsCombine, ClipsToBothBitmapsInPictureRows)
{
    // Source top-down, destination bottom-up: the block lands the right way up.
    for (int view : {RK_TOP_LEFT, RK_BOTTOM_LEFT}) {
        Bmp dst, src;
        ASSERT_GT(create(dst, 10, 8, 24, 0x201, view), 0);
        ASSERT_GT(create(src, 6, 5, 24), 0);
        paint(src.get(), [](int x, int y) { return RGB(x * 10, y * 10, 7); });
        ASSERT_EQ(RkCombineBitmap(dst.get(), 7, -2, 6, 5, src.get(), 0, 0, RK_COMBINE_COPY), 1);
        for (int r = 0; r < 8; ++r)
            for (int x = 0; x < 10; ++x) {
                const COLORREF got = RkGetPixelColor(dst.get(), stored(dst.get(), r), x);
                const bool inside = x >= 7 && r < 3;
                EXPECT_EQ(got, inside ? RGB((x - 7) * 10, (r + 2) * 10, 7) : 0u)
                    << view << " " << x << "," << r;
            }
    }
    Bmp a, b;
    ASSERT_GT(create(a, 4, 4, 24), 0);
    ASSERT_GT(create(b, 4, 4, 24), 0);
    EXPECT_EQ(RkCombineBitmap(a.get(), 100, 100, 4, 4, b.get(), 0, 0, RK_COMBINE_COPY), 1);
    EXPECT_EQ(RkCombineBitmap(a.get(), 0, 0, -1, 4, b.get(), 0, 0, RK_COMBINE_COPY),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkCombineBitmap(a.get(), 0, 0, 4, 4, b.get(), 0, 0, 0x0C00), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkCombineBitmap(a.get(), 0, 0, 4, 4, b.get(), 0, 0, 0x1100), RK_ERROR_INV_PARAMETER);
}

TEST(OpsCombine, OverlappingBlocksOfOneBitmap)
{
    for (int shift : {-3, 3}) {
        Bmp b;
        ASSERT_GT(create(b, 5, 12, 24), 0);
        paint(b.get(), [](int x, int y) { return RGB(x, y, 1); });
        ASSERT_EQ(RkCombineBitmap(b.get(), 0, 3 + shift, 5, 6, b.get(), 0, 3, RK_COMBINE_COPY), 1);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(RkGetPixelColor(b.get(), 3 + shift + y, x), RGB(x, 3 + y, 1));
    }
}

TEST(OpsCombine, AcrossDepthsByColour)
{
    // Every depth into 24 bits gives the source's colours; 24 bits into every depth gives what
    // the kernel's own pixel write would store.
    for (int bits : kDepths) {
        SCOPED_TRACE(bits);
        Bmp src, dst, ref, colour;
        ASSERT_GT(create(src, 9, 4, bits), 0);
        fillPattern(src.get(), 5);
        ASSERT_GT(create(dst, 9, 4, 24), 0);
        ASSERT_EQ(RkCombineBitmap(dst.get(), 0, 0, 9, 4, src.get(), 0, 0, RK_COMBINE_COPY), 1);
        ASSERT_GT(create(colour, 9, 4, 24), 0);
        paint(colour.get(), [](int x, int y) { return noise(x, y, 6); });
        ASSERT_GT(create(ref, 9, 4, bits), 0);
        paint(ref.get(), [&](int x, int y) { return noise(x, y, 6); });
        Bmp into;
        ASSERT_GT(create(into, 9, 4, bits), 0);
        ASSERT_EQ(RkCombineBitmap(into.get(), 0, 0, 9, 4, colour.get(), 0, 0,
                                  RK_COMBINE_COPY | RK_COMBINE_BY_COLOUR),
                  1);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x) {
                EXPECT_EQ(RkGetPixelColor(dst.get(), y, x), RkGetPixelColor(src.get(), y, x));
                EXPECT_EQ(RkGetPixelColor(into.get(), y, x), RkGetPixelColor(ref.get(), y, x));
            }
    }
}

TEST(OpsCombine, ThirtyTwoBitCopyCarriesTheFourthByte)
{
    Bmp dst, src, plain;
    ASSERT_GT(create(dst, 3, 1, 32), 0);
    ASSERT_GT(create(src, 3, 1, 32), 0);
    ASSERT_GT(create(plain, 3, 1, 24), 0);
    ASSERT_GT(RkSetBitmapAlphaValues(src.get(), 77), 0);
    ASSERT_EQ(RkCombineBitmap(dst.get(), 0, 0, 3, 1, src.get(), 0, 0, RK_COMBINE_COPY), 1);
    EXPECT_EQ(pixels(dst.get())[0][1] >> 24, 77u);
    ASSERT_EQ(RkCombineBitmap(dst.get(), 0, 0, 3, 1, plain.get(), 0, 0, RK_COMBINE_COPY), 1);
    EXPECT_EQ(pixels(dst.get())[0][1] >> 24, 255u);
    ASSERT_EQ(RkCombineBitmap(dst.get(), 0, 0, 3, 1, src.get(), 0, 0, RK_COMBINE_OR), 1);
    EXPECT_EQ(pixels(dst.get())[0][1] >> 24, 255u); // kept
}

TEST(OpsPlanes, SeparationsMergeBackAndMatchOpenCv)
{
    for (int selector :
         {RK_PLANES_RGB, RK_PLANES_CMYK, RK_PLANES_HSV, RK_PLANES_HLS, RK_PLANES_CMY}) {
        SCOPED_TRACE(selector);
        const int n = RkPlaneCount(selector);
        Bmp src;
        ASSERT_GT(create(src, 23, 7, 24, 0x201, RK_BOTTOM_LEFT), 0);
        paint(src.get(), [](int x, int y) { return noise(x, y, 9); });
        Bmp planes[4];
        _BITMAPHANDLE records[4];
        for (auto& r : records)
            RkInitBitmap(&r, BITMAPHANDLE_SIZE, 0, 0, 0);
        ASSERT_EQ(RkSeparatePlanes(src.get(), records, BITMAPHANDLE_SIZE, n, selector), 1);
        for (int p = 0; p < n; ++p)
            planes[p].h = records[p];
        cv::Mat bgr(7, 23, CV_8UC3), hsv;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 23; ++x) {
                const COLORREF c = RkGetPixelColor(src.get(), y, x);
                bgr.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(c >> 16), uchar(c >> 8), uchar(c));
            }
        if (selector == RK_PLANES_HSV)
            cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV_FULL);
        if (selector == RK_PLANES_HLS)
            cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HLS_FULL);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 23; ++x) {
                const cv::Vec3b c = bgr.at<cv::Vec3b>(y, x);
                const int r = c[2], g = c[1], b = c[0], m = std::max({r, g, b});
                int want[4] = {};
                switch (selector) {
                case RK_PLANES_RGB:
                    want[0] = r, want[1] = g, want[2] = b;
                    break;
                case RK_PLANES_CMYK:
                    want[0] = m - r, want[1] = m - g, want[2] = m - b, want[3] = 255 - m;
                    break;
                case RK_PLANES_CMY:
                    want[0] = 255 - r, want[1] = 255 - g, want[2] = 255 - b;
                    break;
                default:
                    for (int i = 0; i < 3; ++i)
                        want[i] = hsv.at<cv::Vec3b>(y, x)[i];
                }
                for (int p = 0; p < n; ++p)
                    ASSERT_EQ(pixels(planes[p].get())[std::size_t(y)][std::size_t(x)],
                              std::uint64_t(want[p]));
            }
        EXPECT_EQ(planes[0]->ViewPerspective, RK_BOTTOM_LEFT);

        // Merged into a top-down bitmap: the same picture (hue conversions round).
        Bmp back;
        ASSERT_GT(create(back, 23, 7, 24), 0);
        const _BITMAPHANDLE* list[4] = {planes[0].get(), planes[1].get(), planes[2].get(),
                                        planes[3].get()};
        ASSERT_EQ(RkMergePlanes(back.get(), list, n, selector), 1);
        const int slack = (selector == RK_PLANES_HSV || selector == RK_PLANES_HLS) ? 12 : 0;
        for (int r = 0; r < 7; ++r)
            for (int x = 0; x < 23; ++x) {
                const COLORREF a = RkGetPixelColor(back.get(), r, x);
                const COLORREF b = RkGetPixelColor(src.get(), stored(src.get(), r), x);
                for (int i = 0; i < 3; ++i)
                    ASSERT_LE(std::abs(channel(a, i) - channel(b, i)), slack) << x << "," << r;
            }
    }
}

TEST(OpsPlanes, MergeRefusesBadPlanesAndLeavesTheTarget)
{
    Bmp dst, grey, small, colour;
    ASSERT_GT(create(dst, 5, 5, 24), 0);
    ASSERT_GT(RkFillBitmap(dst.get(), RGB(1, 2, 3)), 0);
    ASSERT_GT(create(grey, 5, 5, 8), 0);
    ASSERT_GT(create(small, 4, 5, 8), 0);
    ASSERT_GT(create(colour, 5, 5, 24), 0);
    const _BITMAPHANDLE* wrongDepth[3] = {grey.get(), colour.get(), grey.get()};
    const _BITMAPHANDLE* wrongSize[3] = {grey.get(), small.get(), grey.get()};
    const _BITMAPHANDLE* missing[3] = {grey.get(), nullptr, grey.get()};
    EXPECT_EQ(RkMergePlanes(dst.get(), wrongDepth, 3, RK_PLANES_RGB), RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(RkMergePlanes(dst.get(), wrongSize, 3, RK_PLANES_RGB), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkMergePlanes(dst.get(), missing, 3, RK_PLANES_RGB), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkMergePlanes(dst.get(), wrongSize, 3, 9), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkMergePlanes(dst.get(), nullptr, 3, RK_PLANES_RGB), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkGetPixelColor(dst.get(), 2, 2), RGB(1, 2, 3));
    _BITMAPHANDLE out[4];
    EXPECT_EQ(RkSeparatePlanes(dst.get(), out, BITMAPHANDLE_SIZE, 3, RK_PLANES_CMYK),
              RK_ERROR_INV_PARAMETER);
}

TEST(OpsRemap, ChannelsThroughTheTableAtEveryDepth)
{
    std::vector<int> table(65536);
    for (std::size_t v = 0; v < table.size(); ++v)
        table[v] = v < 256 ? int(300 - v) : int(70000 - v); // clamps at the top
    for (int bits : kDepths) {
        for (std::uint32_t channels :
             {RK_CHANNEL_RED, RK_CHANNEL_RGB, RK_CHANNEL_GREEN | RK_CHANNEL_BLUE}) {
            SCOPED_TRACE(testing::Message() << bits << " " << channels);
            Bmp b, before;
            ASSERT_GT(create(b, 11, 3, bits), 0);
            fillPattern(b.get(), 2);
            ASSERT_GT(RkCopyBitmap(before.get(), BITMAPHANDLE_SIZE, b.get(), BITMAPHANDLE_SIZE), 0);
            ASSERT_EQ(RkRemapBitmapValues(b.get(), table.data(), 65536, channels), 1);
            auto map8 = [&](std::uint32_t bit, int v) {
                return (channels & bit) ? std::clamp(300 - v, 0, 255) : v;
            };
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 11; ++x) {
                    const std::uint64_t was = pixels(before.get())[y][x];
                    const std::uint64_t now = pixels(b.get())[y][x];
                    if (bits == 48) {
                        const std::uint32_t order[3] = {RK_CHANNEL_BLUE, RK_CHANNEL_GREEN,
                                                        RK_CHANNEL_RED};
                        for (int i = 0; i < 3; ++i) {
                            const int v = int((was >> (16 * i)) & 0xFFFF);
                            const int want = (channels & order[i]) ? std::min(70000 - v, 65535) : v;
                            EXPECT_EQ(int((now >> (16 * i)) & 0xFFFF), want);
                        }
                    } else if (bits <= 8) {
                        EXPECT_EQ(now, was); // the palette changes, not the indices
                    }
                    if (bits != 48 && bits != 16) {
                        const COLORREF c = RkGetPixelColor(before.get(), y, x);
                        const COLORREF want = RGB(map8(RK_CHANNEL_RED, channel(c, 0)),
                                                  map8(RK_CHANNEL_GREEN, channel(c, 1)),
                                                  map8(RK_CHANNEL_BLUE, channel(c, 2)));
                        ASSERT_EQ(RkGetPixelColor(b.get(), y, x), want);
                    }
                    if (bits == 32) {
                        EXPECT_EQ(now >> 24, was >> 24);
                    }
                }
        }
    }
    Bmp b;
    ASSERT_GT(create(b, 2, 2, 24), 0);
    EXPECT_EQ(RkRemapBitmapValues(b.get(), table.data(), 255, RK_CHANNEL_RGB),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkRemapBitmapValues(b.get(), nullptr, 256, RK_CHANNEL_RGB), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkRemapBitmapValues(b.get(), table.data(), 256, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkRemapBitmapValues(b.get(), table.data(), 256, 0x10), RK_ERROR_INV_PARAMETER);
    Bmp wide;
    ASSERT_GT(create(wide, 2, 2, 48), 0);
    EXPECT_EQ(RkRemapBitmapValues(wide.get(), table.data(), 256, RK_CHANNEL_RGB),
              RK_ERROR_INV_PARAMETER);
}

TEST(OpsDisk, CombineSeparateMergeAndRemapInBoundedMemory)
{
    const std::uint64_t previous = RkSetDiskWindowBytes(4096);
    Bmp dst, src;
    ASSERT_GT(create(dst, 300, 120, 24, RK_MEMORY_DISK), 0);
    ASSERT_GT(create(src, 300, 120, 24, RK_MEMORY_DISK, RK_BOTTOM_LEFT), 0);
    paint(src.get(), [](int x, int y) { return noise(x, y, 11); });
    ASSERT_EQ(RkCombineBitmap(dst.get(), 0, 0, 300, 120, src.get(), 0, 0, RK_COMBINE_COPY), 1);
    for (int r = 0; r < 120; r += 7)
        for (int x = 0; x < 300; x += 13)
            ASSERT_EQ(RkGetPixelColor(dst.get(), r, x), RkGetPixelColor(src.get(), 119 - r, x));
    _BITMAPHANDLE records[4];
    for (auto& r : records)
        RkInitBitmap(&r, BITMAPHANDLE_SIZE, 0, 0, 0);
    ASSERT_EQ(RkSeparatePlanes(dst.get(), records, BITMAPHANDLE_SIZE, 4, RK_PLANES_CMYK), 1);
    Bmp planes[4];
    for (int p = 0; p < 4; ++p) {
        planes[p].h = records[p];
        EXPECT_TRUE(planes[p]->Flags & BITMAP_FLAG_DISK);
    }
    std::vector<int> identity(256);
    for (int v = 0; v < 256; ++v)
        identity[std::size_t(v)] = v;
    ASSERT_EQ(RkRemapBitmapValues(dst.get(), identity.data(), 256, RK_CHANNEL_RGB), 1);
    const _BITMAPHANDLE* list[4] = {planes[0].get(), planes[1].get(), planes[2].get(),
                                    planes[3].get()};
    ASSERT_GT(RkFillBitmap(dst.get(), 0), 0);
    ASSERT_EQ(RkMergePlanes(dst.get(), list, 4, RK_PLANES_CMYK), 1);
    EXPECT_TRUE(dst->Flags & BITMAP_FLAG_DISK);
    for (int r = 0; r < 120; r += 5)
        for (int x = 0; x < 300; x += 11)
            ASSERT_EQ(RkGetPixelColor(dst.get(), r, x), RkGetPixelColor(src.get(), 119 - r, x));
    RkSetDiskWindowBytes(previous);
}
