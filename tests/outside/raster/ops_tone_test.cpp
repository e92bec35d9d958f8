// Tone and colour operations of the kernel: the documented level formulas computed here in
// double, and OpenCV's cvtColor, medianBlur, blur and GaussianBlur called directly.
#include "ops_test_util.h"

#include <cmath>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <raster/ops/ops_geometry.h>
#include <raster/ops/ops_tone.h>

using namespace rktest;
using namespace rkops;

namespace {

constexpr std::uint32_t kMemory = 0x201, kDisk = 0x80;

using Level = std::function<double(double)>;

std::uint8_t expect8(const Level& f, int v)
{
    return std::uint8_t(std::clamp(std::round(f(v)), 0.0, 255.0));
}

struct LevelCase {
    const char* name;
    std::function<int(_BITMAPHANDLE*)> run;
    Level level;
};

const LevelCase kLevels[] = {
    {"contrast +500", [](_BITMAPHANDLE* b) { return RkChangeBitmapContrast(b, 500, 0); },
     [](double v) { return 128 + (v - 128) * 2.0; }},
    {"contrast -250", [](_BITMAPHANDLE* b) { return RkChangeBitmapContrast(b, -250, 0); },
     [](double v) { return 128 + (v - 128) * 0.75; }},
    {"contrast -1000", [](_BITMAPHANDLE* b) { return RkChangeBitmapContrast(b, -1000, 0); },
     [](double) { return 128.0; }},
    {"brightness +200", [](_BITMAPHANDLE* b) { return RkChangeBitmapIntensity(b, 200, 0); },
     [](double v) { return v + 51; }},
    {"brightness -1000", [](_BITMAPHANDLE* b) { return RkChangeBitmapIntensity(b, -1000, 0); },
     [](double) { return 0.0; }},
    {"gamma 2.2", [](_BITMAPHANDLE* b) { return RkGammaCorrectBitmap(b, 220, 0); },
     [](double v) { return 255 * std::pow(v / 255, 1 / 2.2); }},
    {"gamma 0.5", [](_BITMAPHANDLE* b) { return RkGammaCorrectBitmap(b, 50, 0); },
     [](double v) { return 255 * std::pow(v / 255, 2.0); }},
    {"posterise 4", [](_BITMAPHANDLE* b) { return RkPosterizeBitmap(b, 4, 0); },
     [](double v) { return std::round(std::round(v * 3 / 255) * 85); }},
    {"posterise 2", [](_BITMAPHANDLE* b) { return RkPosterizeBitmap(b, 2, 0); },
     [](double v) { return v >= 127.5 ? 255.0 : 0.0; }},
};

TEST(LevelOps, EverySampleFollowsItsFormula)
{
    cv::Mat src = picture(64, 40, CV_8UC4);
    for (const LevelCase& c : kLevels)
        for (std::uint32_t memory : {kMemory, kDisk})
            for (int bits : {24, 32}) {
                SCOPED_TRACE(testing::Message() << c.name << " " << bits << " " << memory);
                cv::Mat in;
                if (bits == 24)
                    cv::cvtColor(src, in, cv::COLOR_BGRA2BGR);
                else
                    in = src.clone();
                Bmp b;
                make(b, in, bits, memory);
                ASSERT_EQ(c.run(b.get()), 1);
                cv::Mat got = toMat(b.get());
                const int ch = bits / 8;
                for (int y = 0; y < in.rows; ++y)
                    for (int x = 0; x < in.cols * ch; ++x) {
                        std::uint8_t v = in.ptr(y)[x];
                        std::uint8_t want = (ch == 4 && x % 4 == 3) ? v : expect8(c.level, v);
                        ASSERT_EQ(got.ptr(y)[x], want) << "sample " << x << " row " << y;
                    }
            }
}

TEST(LevelOps, PaletteDepthsChangeThePalette)
{
    Bmp b;
    ASSERT_GT(create(b, 16, 4, 4), 0);
    fillPattern(b.get());
    auto before = pixels(b.get());
    tagRGBQUAD old[16], now[16];
    ASSERT_GT(RkGetBitmapColors(b.get(), 0, 16, old), 0);
    ASSERT_EQ(RkChangeBitmapIntensity(b.get(), 200, 0), 1);
    ASSERT_GT(RkGetBitmapColors(b.get(), 0, 16, now), 0);
    EXPECT_EQ(pixels(b.get()), before);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(now[i].rgbGreen, std::min(255, old[i].rgbGreen + 51));
}

TEST(LevelOps, SixteenBitSamples)
{
    cv::Mat src = picture(20, 10, CV_16UC3);
    Bmp b;
    make(b, src, 48);
    ASSERT_EQ(RkGammaCorrectBitmap(b.get(), 200, 0), 1);
    cv::Mat got = toMat(b.get());
    for (int y = 0; y < src.rows; ++y)
        for (int x = 0; x < src.cols * 3; ++x) {
            double v = src.ptr<std::uint16_t>(y)[x];
            EXPECT_EQ(got.ptr<std::uint16_t>(y)[x], std::round(65535 * std::sqrt(v / 65535)));
        }
}

TEST(IntensityStretch, LowestToZeroHighestToFull)
{
    cv::Mat src(4, 4, CV_8UC3, cv::Scalar(100, 100, 100));
    src.at<cv::Vec3b>(0, 0) = cv::Vec3b(50, 60, 70);
    src.at<cv::Vec3b>(3, 3) = cv::Vec3b(150, 140, 130);
    Bmp b;
    make(b, src, 24);
    ASSERT_EQ(RkStretchBitmapIntensity(b.get(), 0), 1);
    cv::Mat got = toMat(b.get());
    EXPECT_EQ(got.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 26, 51));
    EXPECT_EQ(got.at<cv::Vec3b>(3, 3), cv::Vec3b(255, 230, 204));
    EXPECT_EQ(got.at<cv::Vec3b>(1, 1), cv::Vec3b(128, 128, 128));
}

TEST(HistoContrast, StretchesThePercentiles)
{
    // Levels 100..155 evenly: the 0.5% tails are inside the first and last levels.
    cv::Mat src(56, 100, CV_8UC3);
    for (int y = 0; y < 56; ++y)
        src.row(y).setTo(cv::Scalar::all(100 + y));
    Bmp b;
    make(b, src, 24);
    ASSERT_EQ(RkHistoContrastBitmap(b.get(), 1000, 0), 1);
    cv::Mat got = toMat(b.get());
    EXPECT_EQ(got.at<cv::Vec3b>(0, 0)[0], 0);
    EXPECT_EQ(got.at<cv::Vec3b>(55, 0)[0], 255);
    // Half strength: half-way between the original and the stretch.
    Bmp h;
    make(h, src, 24);
    ASSERT_EQ(RkHistoContrastBitmap(h.get(), 500, 0), 1);
    EXPECT_EQ(toMat(h.get()).at<cv::Vec3b>(0, 0)[0], 50);
}

TEST(ColourOps, SaturationAgainstLuma)
{
    cv::Mat src = picture(50, 20, CV_8UC3);
    for (int change : {-1000, -400, 600}) {
        Bmp b;
        make(b, src, 24);
        ASSERT_EQ(RkChangeBitmapSaturation(b.get(), change, 0), 1);
        cv::Mat got = toMat(b.get());
        double k = 1 + change / 1000.0;
        for (int y = 0; y < src.rows; ++y)
            for (int x = 0; x < src.cols; ++x) {
                cv::Vec3b s = src.at<cv::Vec3b>(y, x), g = got.at<cv::Vec3b>(y, x);
                double luma = 0.114 * s[0] + 0.587 * s[1] + 0.299 * s[2];
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(g[c], std::clamp(luma + (s[c] - luma) * k, 0.0, 255.0), 1.0);
            }
    }
}

TEST(ColourOps, HueMatchesCvtColor)
{
    cv::Mat src = picture(40, 30, CV_8UC3);
    for (int degrees : {90, -180, 59, 360 + 30}) {
        for (std::uint32_t memory : {kMemory, kDisk}) {
            Bmp b;
            make(b, src, 24, memory);
            ASSERT_EQ(RkChangeBitmapHue(b.get(), degrees, 0), 1);
            cv::Mat f, hsv, back, want;
            src.convertTo(f, CV_32FC3, 1 / 255.0);
            cv::cvtColor(f, hsv, cv::COLOR_BGR2HSV);
            for (auto it = hsv.begin<cv::Vec3f>(); it != hsv.end<cv::Vec3f>(); ++it)
                (*it)[0] = std::fmod((*it)[0] + float(((degrees % 360) + 360) % 360), 360.0f);
            cv::cvtColor(hsv, back, cv::COLOR_HSV2BGR);
            back.convertTo(want, CV_8UC3, 255.0);
            EXPECT_LE(maxDiff(toMat(b.get()), want), 1) << degrees;
        }
    }
}

TEST(GreyScale, MatchesCvtColorOnEveryDepth)
{
    cv::Mat src = picture(33, 21, CV_8UC4), bgr, want;
    cv::cvtColor(src, bgr, cv::COLOR_BGRA2BGR);
    cv::cvtColor(bgr, want, cv::COLOR_BGR2GRAY);
    for (std::uint32_t memory : {kMemory, kDisk}) {
        for (int bits : {24, 32}) {
            Bmp b;
            make(b, bits == 24 ? bgr : src, bits, memory);
            ASSERT_EQ(RkGrayScaleBitmapBits(b.get(), 8), 1);
            EXPECT_EQ(b->BitsPerPixel, 8);
            EXPECT_EQ(maxDiff(toMat(b.get()), want), 0);
            tagRGBQUAD q[256];
            ASSERT_GT(RkGetBitmapColors(b.get(), 0, 256, q), 0);
            EXPECT_EQ(q[77].rgbRed, 77);
            EXPECT_EQ(q[77].rgbBlue, 77);
        }
    }
    // Every other depth: the luma of each pixel's colour.
    for (int bits : kDepths) {
        SCOPED_TRACE(bits);
        Bmp b;
        ASSERT_GT(create(b, 9, 5, bits), 0);
        fillPattern(b.get());
        std::vector<COLORREF> colours;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x)
                colours.push_back(RkGetPixelColor(b.get(), y, x));
        ASSERT_EQ(RkGrayScaleBitmapBits(b.get(), 8), 1);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x) {
                COLORREF c = colours[std::size_t(y * 9 + x)];
                cv::Mat px(1, 1, CV_8UC3, cv::Scalar((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF)),
                    g;
                cv::cvtColor(px, g, cv::COLOR_BGR2GRAY);
                EXPECT_NEAR(double(RkGetPixelColor(b.get(), y, x) & 0xFF), g.at<std::uint8_t>(0),
                            bits == 48 ? 1.0 : 0.0);
            }
    }
    Bmp b;
    ASSERT_GT(create(b, 4, 4, 24), 0);
    EXPECT_EQ(RkGrayScaleBitmapBits(b.get(), 4), RK_ERROR_BITSPERPIXEL);
}

struct FilterCase {
    const char* name;
    std::function<int(_BITMAPHANDLE*)> run;
    std::function<void(const cv::Mat&, cv::Mat&)> reference;
};

const FilterCase kFilters[] = {
    {"median 5", [](_BITMAPHANDLE* b) { return RkMedianFilterBitmap(b, 5, 0); },
     [](const cv::Mat& in, cv::Mat& out) { cv::medianBlur(in, out, 5); }},
    {"median 3", [](_BITMAPHANDLE* b) { return RkMedianFilterBitmap(b, 3, 0); },
     [](const cv::Mat& in, cv::Mat& out) { cv::medianBlur(in, out, 3); }},
    {"average 7", [](_BITMAPHANDLE* b) { return RkAverageFilterBitmap(b, 7, 0); },
     [](const cv::Mat& in, cv::Mat& out) {
         cv::blur(in, out, cv::Size(7, 7), cv::Point(-1, -1), cv::BORDER_REPLICATE);
     }},
    {"descreen", [](_BITMAPHANDLE* b) { return RkDescreenBitmap(b, 0); },
     [](const cv::Mat& in, cv::Mat& out) {
         cv::GaussianBlur(in, out, cv::Size(5, 5), 1.0, 1.0, cv::BORDER_REPLICATE);
     }},
};

TEST(Filters, MatchOpenCVInMemoryAndInDiskBands)
{
    // 1500 x 1000 at 24 bits is more than one band of a disk-backed bitmap.
    cv::Mat big = picture(1500, 1000, CV_8UC3), small = picture(61, 47, CV_8UC4);
    for (const FilterCase& c : kFilters)
        for (std::uint32_t memory : {kMemory, kDisk})
            for (const cv::Mat* src : {&big, &small}) {
                SCOPED_TRACE(testing::Message()
                             << c.name << " memory " << memory << " " << src->cols);
                Bmp b;
                make(b, *src, src->channels() * 8, memory);
                ASSERT_EQ(c.run(b.get()), 1);
                cv::Mat want;
                c.reference(*src, want);
                EXPECT_EQ(maxDiff(toMat(b.get()), want), 0);
            }
}

TEST(Filters, Refusals)
{
    Bmp b;
    ASSERT_GT(create(b, 8, 8, 24), 0);
    EXPECT_EQ(RkMedianFilterBitmap(b.get(), 4, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkMedianFilterBitmap(b.get(), 0, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkAverageFilterBitmap(b.get(), 257, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkAverageFilterBitmap(b.get(), 3, 1), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkMedianFilterBitmap(b.get(), 1, 0), 1);
    Bmp p;
    ASSERT_GT(create(p, 8, 8, 4), 0);
    EXPECT_EQ(RkMedianFilterBitmap(p.get(), 3, 0), RK_ERROR_BITSPERPIXEL);
    Bmp w;
    ASSERT_GT(create(w, 8, 8, 48), 0);
    EXPECT_EQ(RkMedianFilterBitmap(w.get(), 7, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkMedianFilterBitmap(w.get(), 5, 0), 1);
}

TEST(ToneOps, Refusals)
{
    Bmp e;
    EXPECT_EQ(RkChangeBitmapContrast(e.get(), 10, 0), RK_ERROR_NO_BITMAP);
    Bmp b;
    ASSERT_GT(create(b, 8, 8, 24), 0);
    EXPECT_EQ(RkChangeBitmapContrast(b.get(), 1001, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeBitmapIntensity(b.get(), -1001, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeBitmapSaturation(b.get(), 5, 2), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkGammaCorrectBitmap(b.get(), 0, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkPosterizeBitmap(b.get(), 1, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkPosterizeBitmap(b.get(), 65, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeColorRes(b.get(), 100, 8, 0, nullptr, 0), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 8, 0x3, nullptr, 0),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 8, RK_CRF_USERPALETTE, nullptr, 0),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 4, 0, nullptr, 17),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 8, 0x100, nullptr, 0),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 12, 0, nullptr, 0),
              RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(b->BitsPerPixel, 24);
}

// ---- colour resolution --------------------------------------------------------------------------

TEST(ColorRes, OptimisedPaletteKeepsFewColoursExactly)
{
    // Six colours in blocks: an optimised 8-bit palette holds each exactly.
    const COLORREF six[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x123456, 0xFEDCBA, 0x808080};
    for (std::uint32_t memory : {kMemory, kDisk}) {
        Bmp b;
        ASSERT_GT(create(b, 60, 10, 24, memory), 0);
        for (int x = 0; x < 60; ++x)
            for (int y = 0; y < 10; ++y)
                ASSERT_GT(RkPutPixelColor(b.get(), y, x, six[x / 10]), 0);
        ASSERT_EQ(
            RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 8, RK_CRF_OPTIMIZEDPALETTE, nullptr, 16),
            1);
        EXPECT_EQ(b->BitsPerPixel, 8);
        for (int x = 0; x < 60; ++x)
            EXPECT_EQ(RkGetPixelColor(b.get(), 3, x), six[x / 10]) << x;
    }
}

TEST(ColorRes, BlackAndWhiteNearestAndDithered)
{
    cv::Mat grey(64, 64, CV_8UC3, cv::Scalar::all(96));
    grey(cv::Rect(0, 0, 64, 8)).setTo(cv::Scalar::all(200));
    Bmp plain, dithered;
    make(plain, grey, 24);
    make(dithered, grey, 24);
    ASSERT_EQ(RkChangeColorRes(plain.get(), BITMAPHANDLE_SIZE, 1, RK_CRF_FIXEDPALETTE, nullptr, 0),
              1);
    ASSERT_EQ(RkChangeColorRes(dithered.get(), BITMAPHANDLE_SIZE, 1,
                               RK_CRF_FIXEDPALETTE | RK_CRF_FLOYDSTEIN, nullptr, 0),
              1);
    EXPECT_EQ(RkGetPixelColor(plain.get(), 0, 5), 0xFFFFFFu);
    EXPECT_EQ(RkGetPixelColor(plain.get(), 40, 5), 0u);
    // Diffusion keeps the mean: about 96 / 255 of the lower rows' pixels are white.
    int white = 0;
    for (int y = 8; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            white += RkGetPixelColor(dithered.get(), y, x) == 0xFFFFFF;
    EXPECT_NEAR(white / (56.0 * 64), 96 / 255.0, 0.02);
}

TEST(ColorRes, UserPaletteWithFewerEntries)
{
    tagRGBQUAD user[3] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}}; // red, green, blue
    Bmp b;
    ASSERT_GT(create(b, 3, 1, 24), 0);
    RkPutPixelColor(b.get(), 0, 0, 0x0000F0); // reddish
    RkPutPixelColor(b.get(), 0, 1, 0xE00000); // bluish
    RkPutPixelColor(b.get(), 0, 2, 0x000000); // black: nearest of the three, never the padding
    ASSERT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 4, RK_CRF_USERPALETTE, user, 3), 1);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), 0x0000FFu);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 1), 0xFF0000u);
    std::vector<std::uint8_t> line(4);
    ASSERT_GT(RkGetBitmapRow(b.get(), line.data(), 0, 4), 0);
    EXPECT_LT(refGet(line.data(), 2, 4), 3u);
}

TEST(ColorRes, ExpansionsAreExact)
{
    Bmp b;
    ASSERT_GT(create(b, 5, 5, 8), 0);
    fillPattern(b.get());
    std::vector<COLORREF> before;
    for (int x = 0; x < 5; ++x)
        before.push_back(RkGetPixelColor(b.get(), 2, x));
    ASSERT_EQ(RkChangeColorRes(b.get(), BITMAPHANDLE_SIZE, 24, RK_CRF_FIXEDPALETTE, nullptr, 0), 1);
    EXPECT_EQ(b->BitsPerPixel, 24);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(RkGetPixelColor(b.get(), 2, x), before[std::size_t(x)]);
}

TEST(DisplayGamma, DefaultSetAndCopied)
{
    Bmp b;
    std::uint32_t g = 0;
    EXPECT_EQ(RkGetBitmapDisplayGamma(b.get(), &g), RK_ERROR_NO_BITMAP);
    ASSERT_GT(create(b, 4, 4, 24), 0);
    ASSERT_EQ(RkGetBitmapDisplayGamma(b.get(), &g), 1);
    EXPECT_EQ(g, RK_DISPLAY_GAMMA_DEFAULT);
    ASSERT_EQ(RkSetBitmapDisplayGamma(b.get(), 180), 1);
    ASSERT_EQ(RkSizeBitmap(b.get(), 8, 8, RK_SIZE_BILINEAR), 1);
    Bmp c;
    ASSERT_EQ(RkCopyBitmap(c.get(), BITMAPHANDLE_SIZE, b.get(), BITMAPHANDLE_SIZE), 1);
    ASSERT_EQ(RkGetBitmapDisplayGamma(c.get(), &g), 1);
    EXPECT_EQ(g, 180u);
}

} // namespace
