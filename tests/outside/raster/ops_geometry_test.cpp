// Rotation, shear and resizes of the kernel against OpenCV called directly, on memory,
// disk-backed and bottom-up bitmaps of every depth.
#include "ops_test_util.h"

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <raster/ops/ops_geometry.h>

using namespace rktest;
using namespace rkops;

namespace {

constexpr std::uint32_t kMemory = 0x201, kDisk = 0x80;

// The forward map of a clockwise turn by deg about the pixel-centre middle, onto a w x h canvas.
cv::Mat turnMatrix(int W, int H, int w, int h, double deg)
{
    cv::Mat m = cv::getRotationMatrix2D(cv::Point2f((W - 1) / 2.0f, (H - 1) / 2.0f), -deg, 1.0);
    m.at<double>(0, 2) += (w - 1) / 2.0 - (W - 1) / 2.0;
    m.at<double>(1, 2) += (h - 1) / 2.0 - (H - 1) / 2.0;
    return m;
}

struct TurnCase {
    int bits;
    std::uint32_t memory;
    int view;
};

class Turn : public ::testing::TestWithParam<TurnCase> {};

TEST_P(Turn, MatchesWarpAffine)
{
    const TurnCase c = GetParam();
    const int W = 301, H = 203;
    cv::Mat src = picture(W, H, matTypeOf(c.bits));
    Bmp b;
    make(b, src, c.bits, c.memory, c.view);
    const COLORREF fill = 0x00336699;
    ASSERT_EQ(RkRotateBitmap(b.get(), 3000, RK_ROTATE_RESIZE | RK_ROTATE_RESAMPLE, fill), 1);
    double rad = 30 * CV_PI / 180;
    int w = int(std::floor(W * std::cos(rad) + H * std::sin(rad) + 0.5));
    int h = int(std::floor(W * std::sin(rad) + H * std::cos(rad) + 0.5));
    ASSERT_EQ(b->Width, w);
    ASSERT_EQ(b->Height, h);
    EXPECT_EQ(b->ViewPerspective, c.view);
    cv::Scalar f(0x33, 0x66, 0x99, 0); // blue, green, red
    if (c.bits == 48)
        f = cv::Scalar(0x3333, 0x6666, 0x9999);
    cv::Mat want;
    cv::warpAffine(src, want, turnMatrix(W, H, w, h, 30), cv::Size(w, h), cv::INTER_LINEAR,
                   cv::BORDER_CONSTANT, f);
    cv::Mat got = toMat(b.get()), diff;
    cv::absdiff(got, want, diff);
    // The kernel inverts the map analytically, OpenCV numerically: positions may differ in
    // their last bits, so a sample may land one level apart. Tiles (disk) and storage mirrors
    // (bottom-up) change the map's arithmetic, and OpenCV places samples on a 1/32-pixel grid:
    // on this noise a sample may then move by up to 255/32 levels.
    const bool exact = c.memory == kMemory && c.view == RK_TOP_LEFT;
    const double level = c.bits == 48 ? 257 : 1;
    EXPECT_LE(cv::norm(diff, cv::NORM_INF), level * (exact ? 1 : 8));
    // Few samples move at all.
    EXPECT_LT(cv::countNonZero(diff.reshape(1) > level), exact ? 1 : int(diff.total()) / 20);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, Turn,
    ::testing::Values(TurnCase{24, kMemory, RK_TOP_LEFT}, TurnCase{32, kMemory, RK_TOP_LEFT},
                      TurnCase{48, kMemory, RK_TOP_LEFT}, TurnCase{24, kDisk, RK_TOP_LEFT},
                      TurnCase{32, kDisk, RK_BOTTOM_LEFT}, TurnCase{24, kMemory, RK_BOTTOM_LEFT}));

// Every depth turns by 45 degrees, in memory and on disk, with the corners filled.
TEST(RotateBitmap, EveryDepthFillsTheCorners)
{
    for (std::uint32_t memory : {kMemory, kDisk})
        for (int bits : kDepths) {
            SCOPED_TRACE(testing::Message() << bits << " bits, memory " << memory);
            Bmp b;
            ASSERT_GT(create(b, 40, 30, bits, memory), 0);
            fillPattern(b.get());
            ASSERT_EQ(
                RkRotateBitmap(b.get(), 4500, RK_ROTATE_RESIZE | RK_ROTATE_RESAMPLE, 0xFFFFFF), 1);
            EXPECT_EQ(b->Width, 49);
            EXPECT_EQ(b->Height, 49);
            EXPECT_EQ(b->BitsPerPixel, bits);
            // White as this depth holds it (16 bits: 5-5-5; palettes: the nearest entry).
            Bmp one;
            ASSERT_GT(create(one, 1, 1, bits), 0);
            ASSERT_GT(RkPutPixelColor(one.get(), 0, 0, 0xFFFFFF), 0);
            COLORREF white = RkGetPixelColor(one.get(), 0, 0);
            EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), white);
            EXPECT_EQ(RkGetPixelColor(b.get(), 48, 48), white);
        }
}

TEST(RotateBitmap, QuarterTurnsMoveEveryPixel)
{
    cv::Mat src = picture(300, 200, CV_8UC3);
    const struct {
        int angle;
        std::uint32_t flags;
        int code;
    } cases[] = {{9000, RK_ROTATE_RESIZE, cv::ROTATE_90_CLOCKWISE},
                 {27000, RK_ROTATE_RESIZE, cv::ROTATE_90_COUNTERCLOCKWISE},
                 {18000, 0, cv::ROTATE_180},
                 {-9000, RK_ROTATE_RESIZE, cv::ROTATE_90_COUNTERCLOCKWISE},
                 {36000 + 9000, RK_ROTATE_RESIZE | RK_ROTATE_RESAMPLE, cv::ROTATE_90_CLOCKWISE}};
    for (const auto& c : cases)
        for (int view : {RK_TOP_LEFT, RK_BOTTOM_LEFT}) {
            SCOPED_TRACE(testing::Message() << c.angle << " view " << view);
            Bmp b;
            make(b, src, 24, kMemory, view);
            ASSERT_EQ(RkRotateBitmap(b.get(), c.angle, c.flags, 0), 1);
            cv::Mat want;
            cv::rotate(src, want, c.code);
            EXPECT_EQ(maxDiff(toMat(b.get()), want), 0);
        }
}

// Whole-byte depths move blocks of rows: odd sizes, single rows and columns, both storage
// kinds, and a disk-backed picture that takes several bands.
TEST(RotateBitmap, QuarterTurnsOfWholeByteDepthsInBlocks)
{
    const struct {
        int w, h;
    } sizes[] = {{130, 70}, {1, 150}, {150, 1}, {64, 64}};
    for (int bits : {8, 16, 24, 32, 48})
        for (std::uint32_t memory : {kMemory, kDisk})
            for (const auto& size : sizes)
                for (int view : {RK_TOP_LEFT, RK_BOTTOM_LEFT})
                    for (int angle : {9000, 27000}) {
                        SCOPED_TRACE(testing::Message()
                                     << bits << " bits " << memory << " " << size.w << "x" << size.h
                                     << " view " << view << " angle " << angle);
                        cv::Mat src = picture(size.w, size.h, matTypeOf(bits), unsigned(bits));
                        Bmp b;
                        make(b, src, bits, memory, view);
                        ASSERT_EQ(RkRotateBitmap(b.get(), angle, RK_ROTATE_RESIZE, 0), 1);
                        cv::Mat want;
                        cv::rotate(src, want,
                                   angle == 9000 ? cv::ROTATE_90_CLOCKWISE
                                                 : cv::ROTATE_90_COUNTERCLOCKWISE);
                        EXPECT_EQ(maxDiff(toMat(b.get()), want), 0);
                    }
    for (int angle : {9000, 27000}) {
        SCOPED_TRACE(angle);
        cv::Mat src = picture(3000, 1500, CV_8UC3);
        Bmp b;
        make(b, src, 24, kDisk);
        ASSERT_EQ(RkRotateBitmap(b.get(), angle, RK_ROTATE_RESIZE, 0), 1);
        cv::Mat want;
        cv::rotate(src, want,
                   angle == 9000 ? cv::ROTATE_90_CLOCKWISE : cv::ROTATE_90_COUNTERCLOCKWISE);
        EXPECT_EQ(maxDiff(toMat(b.get()), want), 0);
    }
}

TEST(RotateBitmap, WithoutGrowKeepsTheCanvas)
{
    Bmp b;
    ASSERT_GT(create(b, 300, 200, 8), 0);
    ASSERT_EQ(RkRotateBitmap(b.get(), 9000, 0, 0xFFFFFF), 1);
    EXPECT_EQ(b->Width, 300);
    EXPECT_EQ(b->Height, 200);
    // The turned picture is 200 wide: 50 columns of fill either side.
    EXPECT_EQ(RkGetPixelColor(b.get(), 100, 10), 0xFFFFFFu);
    EXPECT_EQ(RkGetPixelColor(b.get(), 100, 150), 0u);
}

TEST(ShearBitmap, MatchesWarpAffine)
{
    const int W = 120, H = 81;
    cv::Mat src = picture(W, H, CV_8UC3);
    for (int direction : {RK_SHEAR_HORIZONTAL, RK_SHEAR_VERTICAL})
        for (int angle : {2000, -4500})
            for (std::uint32_t memory : {kMemory, kDisk}) {
                SCOPED_TRACE(testing::Message() << direction << " " << angle << " " << memory);
                Bmp b;
                make(b, src, 24, memory);
                ASSERT_EQ(RkShearBitmap(b.get(), angle, direction, 0), 1);
                double t = std::tan(angle / 100.0 * CV_PI / 180);
                bool hz = direction == RK_SHEAR_HORIZONTAL;
                double extra = std::round(((hz ? H : W) - 1) * std::fabs(t));
                cv::Size size(hz ? W + int(extra) : W, hz ? H : H + int(extra));
                ASSERT_EQ(b->Width, size.width);
                ASSERT_EQ(b->Height, size.height);
                cv::Mat fwd =
                    hz ? (cv::Mat_<double>(2, 3) << 1, -t, (H - 1) / 2.0 * t + extra / 2, 0, 1, 0)
                       : (cv::Mat_<double>(2, 3) << 1, 0, 0, t, 1, -(W - 1) / 2.0 * t + extra / 2);
                cv::Mat want, diff;
                cv::warpAffine(src, want, fwd, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
                cv::absdiff(toMat(b.get()), want, diff);
                EXPECT_LE(cv::norm(diff, cv::NORM_INF), 1);
            }
}

TEST(ShearBitmap, PositiveAngleMovesTheTopRight)
{
    Bmp b;
    ASSERT_GT(create(b, 10, 11, 24), 0);
    ASSERT_EQ(RkFillBitmap(b.get(), 0x0000FF), 1);
    ASSERT_EQ(RkShearBitmap(b.get(), 4500, RK_SHEAR_HORIZONTAL, 0xFFFFFF), 1);
    ASSERT_EQ(b->Width, 20);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), 0xFFFFFFu);   // top left uncovered
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 19), 0x0000FFu);  // top right covered
    EXPECT_EQ(RkGetPixelColor(b.get(), 10, 0), 0x0000FFu);  // bottom left covered
    EXPECT_EQ(RkGetPixelColor(b.get(), 10, 19), 0xFFFFFFu); // bottom right uncovered
}

TEST(GeometryOps, Refusals)
{
    Bmp b;
    EXPECT_EQ(RkRotateBitmap(b.get(), 100, 0, 0), RK_ERROR_NO_BITMAP);
    ASSERT_GT(create(b, 20, 10, 24), 0);
    EXPECT_EQ(RkRotateBitmap(b.get(), 100, 0x4, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkShearBitmap(b.get(), 4501, RK_SHEAR_HORIZONTAL, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkShearBitmap(b.get(), 100, 2, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkResizeBitmap(b.get(), 0, 5, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkResizeBitmap(b.get(), 5, 5, 1), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkSizeBitmap(b.get(), 5, 5, 5), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkSizeBitmap(b.get(), 5, -1, RK_SIZE_AREA), RK_ERROR_INV_PARAMETER);
    // A canvas that cannot be made leaves the bitmap as it was.
    RkFailAllocationsAfter(0);
    EXPECT_EQ(RkRotateBitmap(b.get(), 1000, RK_ROTATE_RESIZE, 0), RK_ERROR_NO_MEMORY);
    EXPECT_EQ(RkSizeBitmap(b.get(), 40, 40, RK_SIZE_BICUBIC), RK_ERROR_NO_MEMORY);
    RkFailAllocationsAfter(-1);
    EXPECT_EQ(b->Width, 20);
    EXPECT_EQ(b->Height, 10);
}

TEST(GeometryOps, CancelLeavesTheBitmap)
{
    Bmp b;
    ASSERT_GT(create(b, 64, 48, 24), 0);
    fillPattern(b.get());
    cv::Mat before = toMat(b.get());
    auto stop = [](int, void*) { return 0; };
    RkStatusCallback old = RkSetStatusCallback(stop, nullptr);
    EXPECT_EQ(RkRotateBitmap(b.get(), 1000, RK_ROTATE_RESIZE, 0), RK_ERROR_CANCELLED);
    EXPECT_EQ(RkSizeBitmap(b.get(), 10, 10, RK_SIZE_AREA), RK_ERROR_CANCELLED);
    EXPECT_EQ(RkResizeBitmap(b.get(), 10, 10, 0), RK_ERROR_CANCELLED);
    RkSetStatusCallback(old, nullptr);
    EXPECT_EQ(maxDiff(toMat(b.get()), before), 0);
}

// ---- resizes ------------------------------------------------------------------------------------

struct SizeCase {
    int method;
    int cvMethod;
    int w, h;
};

TEST(SizeBitmap, MemoryMatchesResizeExactlyAndDiskWithinALevel)
{
    const SizeCase cases[] = {
        {RK_SIZE_BILINEAR, cv::INTER_LINEAR, 77, 45},
        {RK_SIZE_BILINEAR, cv::INTER_LINEAR, 250, 180},
        {RK_SIZE_BICUBIC, cv::INTER_CUBIC, 61, 33},
        {RK_SIZE_BICUBIC, cv::INTER_CUBIC, 230, 190},
        {RK_SIZE_AREA, cv::INTER_AREA, 40, 30},
        {RK_SIZE_AREA, cv::INTER_AREA, 53, 37},
        {RK_SIZE_RESAMPLE, cv::INTER_AREA, 53, 37},
        {RK_SIZE_RESAMPLE, cv::INTER_LINEAR, 200, 150},
        {RK_SIZE_AREA, cv::INTER_AREA, 250, 170},
    };
    const int W = 160, H = 120;
    for (int bits : {8, 24, 32, 48}) {
        cv::Mat src = picture(W, H, matTypeOf(bits));
        for (const SizeCase& c : cases)
            for (std::uint32_t memory : {kMemory, kDisk}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, method " << c.method << " to "
                                                << c.w << "x" << c.h << " memory " << memory);
                Bmp b;
                ASSERT_GT(RkCreateBitmap(b.get(), BITMAPHANDLE_SIZE, memory, W, H, bits,
                                         RK_ORDER_BGR, nullptr, RK_TOP_LEFT),
                          0);
                if (bits == 8) { // a grey ramp: samples, not indices
                    std::vector<tagRGBQUAD> ramp(256);
                    for (int i = 0; i < 256; ++i)
                        ramp[std::size_t(i)] = {BYTE(i), BYTE(i), BYTE(i), 0};
                    ASSERT_GT(RkPutBitmapColors(b.get(), 0, 256, ramp.data()), 0);
                }
                fromMat(b.get(), src);
                ASSERT_EQ(RkSizeBitmap(b.get(), c.w, c.h, c.method), 1);
                cv::Mat want, diff;
                cv::resize(src, want, cv::Size(c.w, c.h), 0, 0, c.cvMethod);
                cv::absdiff(toMat(b.get()), want, diff);
                double tolerance = memory == kMemory ? 0 : (bits == 48 ? 2 : 1);
                EXPECT_LE(cv::norm(diff, cv::NORM_INF), tolerance);
            }
    }
}

TEST(SizeBitmap, AlphaIsInterpolatedWithTheColours)
{
    cv::Mat src(2, 2, CV_8UC4, cv::Scalar(10, 20, 30, 0));
    src.at<cv::Vec4b>(0, 0) = cv::Vec4b(10, 20, 30, 255);
    Bmp b;
    make(b, src, 32);
    ASSERT_EQ(RkSizeBitmap(b.get(), 4, 4, RK_SIZE_BILINEAR), 1);
    cv::Mat got = toMat(b.get());
    EXPECT_EQ(got.at<cv::Vec4b>(0, 0)[3], 255);
    EXPECT_EQ(got.at<cv::Vec4b>(3, 3)[3], 0);
    EXPECT_GT(got.at<cv::Vec4b>(1, 1)[3], 0);
    EXPECT_LT(got.at<cv::Vec4b>(1, 1)[3], 255);
}

TEST(ResizeBitmap, NearestOnEveryDepthMatchesNearestExact)
{
    for (int bits : kDepths)
        for (std::uint32_t memory : {kMemory, kDisk}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, memory " << memory);
            Bmp b;
            ASSERT_GT(create(b, 37, 23, bits, memory), 0);
            fillPattern(b.get());
            auto before = pixels(b.get());
            ASSERT_EQ(RkResizeBitmap(b.get(), 80, 11, 0), 1);
            ASSERT_EQ(b->Width, 80);
            ASSERT_EQ(b->Height, 11);
            auto after = pixels(b.get());
            // Each destination pixel is the source pixel under its centre.
            for (int y = 0; y < 11; ++y)
                for (int x = 0; x < 80; ++x)
                    ASSERT_EQ(after[std::size_t(y)][std::size_t(x)],
                              before[std::size_t((2 * y + 1) * 23 / 22)]
                                    [std::size_t((2 * x + 1) * 37 / 160)]);
        }
    cv::Mat src = picture(37, 23, CV_8UC3), want;
    Bmp b;
    make(b, src, 24);
    ASSERT_EQ(RkResizeBitmap(b.get(), 80, 11, 0), 1);
    cv::resize(src, want, cv::Size(80, 11), 0, 0, cv::INTER_NEAREST_EXACT);
    EXPECT_EQ(maxDiff(toMat(b.get()), want), 0);
}

} // namespace
