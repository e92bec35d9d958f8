// ColorPromig and both ExtreureMascaraColor, against a direct transcription of the averaging
// rule and OpenCV's inRange and floodFill.
#include "ops_test_util.h"

#include <chrono>
#include <climits>
#include <cmath>
#include <memory>
#include <opencv2/imgproc.hpp>

using namespace opstest;

namespace {

// The averaging rule as written: arrays over the clipped window, column-major.
unsigned long ReferenceAverage(const TDib& d, int x, int y, int radius)
{
    if (radius == 0)
        return d.GetPixel(x, y);
    if (radius < 0)
        return 0;
    std::vector<double> dist;
    std::vector<COLORREF> colours;
    const std::int64_t c0 = std::max<std::int64_t>(std::int64_t(x) - radius, 0);
    const std::int64_t c1 = std::min<std::int64_t>(std::int64_t(x) + radius + 1, d.GetMidaX());
    const std::int64_t r0 = std::max<std::int64_t>(std::int64_t(y) - radius, 0);
    const std::int64_t r1 = std::min<std::int64_t>(std::int64_t(y) + radius + 1, d.GetMidaY());
    for (std::int64_t col = c0; col < c1; ++col)
        for (std::int64_t row = r0; row < r1; ++row) {
            colours.push_back(COLORREF(d.GetPixel(int(col), int(row))));
            const double dx = double(x - col), dy = double(y - row);
            dist.push_back(std::min(dx * dx + dy * dy, double(radius)));
        }
    double m = 0;
    for (double v : dist)
        m = std::max(m, v);
    double s = 0;
    for (double& v : dist) {
        v = 1 - v / m;
        s += v;
    }
    double a[3] = {};
    for (std::size_t k = 0; k < dist.size(); ++k) {
        const double w = dist[k] / s;
        if (w > 0)
            for (int i = 0; i < 3; ++i)
                a[i] += double((colours[k] >> (8 * i)) & 255) * w;
    }
    return (std::uint64_t(a[0]) & 255) | (std::uint64_t(a[1]) & 255) << 8 |
           (std::uint64_t(a[2]) & 255) << 16;
}

cv::Mat ToBgr(const TDib& d)
{
    cv::Mat m(d.GetMidaY(), d.GetMidaX(), CV_8UC3);
    for (int y = 0; y < m.rows; ++y)
        for (int x = 0; x < m.cols; ++x) {
            const COLORREF c = At(d, x, y);
            m.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(c >> 16), uchar(c >> 8), uchar(c));
        }
    return m;
}

// The mask's bits as a 0 / 255 matrix.
cv::Mat MaskBits(const TDib& mask)
{
    EXPECT_EQ(mask.GetBitsPerPixel(), 1);
    cv::Mat m(mask.GetMidaY(), mask.GetMidaX(), CV_8U);
    std::vector<unsigned char> line(std::size_t(mask.GetBytesPerLinia()));
    for (int y = 0; y < m.rows; ++y) {
        EXPECT_EQ(mask.GetLinia(y, line.data(), line.size()), 0);
        for (int x = 0; x < m.cols; ++x)
            m.at<uchar>(y, x) = (line[std::size_t(x) / 8] & (0x80 >> (x % 8))) ? 255 : 0;
    }
    return m;
}

bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && cv::countNonZero(a != b) == 0;
}

} // namespace

TEST(ColorPromig, MatchesTheAveragingRuleEverywhere)
{
    TDib d;
    Make(d, 13, 9, 24, Layout::TopDown);
    Paint(d, [](int x, int y) { return RGB(x * 19, y * 27, (x * y * 7) % 256); });
    for (int radius : {-1, 0, 1, 2, 3, 5, 8, 20})
        for (int y = -3; y < 12; y += 2)
            for (int x = -3; x < 16; x += 2)
                ASSERT_EQ(d.ColorPromig(x, y, radius), ReferenceAverage(d, x, y, radius))
                    << x << "," << y << " r" << radius;
    EXPECT_EQ(d.ColorPromig(4, 4, 1), d.GetPixel(4, 4)); // only the centre weighs
    EXPECT_EQ(d.ColorPromig(-1, 4, 0), 0u);
    EXPECT_EQ(d.ColorPromig(400, 400, 3), 0u);
}

TEST(ColorPromig, TruncatesAndStaysBoundedForHugeRadii)
{
    TDib d;
    Make(d, 10, 10, 24, Layout::TopDown);
    Paint(d, [](int, int) { return RGB(200, 100, 50); });
    const unsigned long a = d.ColorPromig(5, 5, 2);
    for (int i = 0; i < 3; ++i) {
        const int want = int((RGB(200, 100, 50) >> (8 * i)) & 255);
        const int got = int((a >> (8 * i)) & 255);
        EXPECT_TRUE(got == want || got == want - 1);
    }
    const auto start = std::chrono::steady_clock::now();
    for (int radius : {10000, 23170, 23171, INT_MAX}) {
        EXPECT_EQ(d.ColorPromig(5, 5, radius), ReferenceAverage(d, 5, 5, radius));
        EXPECT_EQ(d.ColorPromig(INT_MAX, INT_MIN, radius),
                  ReferenceAverage(d, INT_MAX, INT_MIN, radius));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    TDib one;
    Make(one, 1, 1, 24, Layout::TopDown);
    one.SetPixel(0, 0, 0x123456ul);
    EXPECT_EQ(one.ColorPromig(0, 0, 4), 0u); // no weight is positive
    EXPECT_EQ(TDib().ColorPromig(0, 0, 3), 0u);
}

TEST(ExtreureMascaraColor, WholeImageMatchesInRangeAtEveryDepthAndLayout)
{
    for (int bits : {1, 2, 4, 8, 16, 24, 32, 48})
        for (Layout layout : kLayouts)
            for (double tolerance : {0.0, 0.02, 0.5, 1.0}) {
                SCOPED_TRACE(testing::Message() << bits << " " << Name(layout) << " " << tolerance);
                TDib d;
                Make(d, 29, 11, bits, layout);
                Paint(d, Blobs);
                const COLORREF key = At(d, 4, 3);
                const int t = int(std::lround(tolerance * 255));
                cv::Mat want;
                const cv::Scalar k(key >> 16 & 255, key >> 8 & 255, key & 255);
                cv::inRange(ToBgr(d), k - cv::Scalar::all(t), k + cv::Scalar::all(t), want);
                std::unique_ptr<TDib> mask(d.ExtreureMascaraColor(key | 0xAB000000ul, tolerance));
                ASSERT_TRUE(mask);
                EXPECT_TRUE(Same(MaskBits(*mask), want));
            }
}

TEST(ExtreureMascaraColor, SeedRegionMatchesFourConnectedFloodFill)
{
    for (Layout layout : kLayouts)
        for (double tolerance : {0.0, 0.03, 0.6})
            for (const cv::Point seed : {cv::Point(0, 0), cv::Point(7, 5), cv::Point(30, 12)}) {
                SCOPED_TRACE(testing::Message() << Name(layout) << " " << tolerance << " " << seed);
                TDib d;
                Make(d, 31, 13, 24, layout);
                Paint(d, Blobs);
                const COLORREF key = At(d, seed.x, seed.y);
                const int t = int(std::lround(tolerance * 255));
                cv::Mat image = ToBgr(d);
                cv::Mat fill = cv::Mat::zeros(image.rows + 2, image.cols + 2, CV_8U);
                cv::floodFill(image, fill, seed, cv::Scalar(), nullptr, cv::Scalar::all(t),
                              cv::Scalar::all(t),
                              4 | cv::FLOODFILL_FIXED_RANGE | cv::FLOODFILL_MASK_ONLY | (255 << 8));
                const cv::Mat want = fill(cv::Rect(1, 1, image.cols, image.rows));
                CRect bounds;
                std::unique_ptr<TDib> mask(
                    d.ExtreureMascaraColor(key, CPoint(seed.x, seed.y), tolerance, &bounds));
                ASSERT_TRUE(mask);
                EXPECT_TRUE(Same(MaskBits(*mask), want));
                const cv::Rect box = cv::boundingRect(want);
                EXPECT_EQ(bounds.left, box.x);
                EXPECT_EQ(bounds.top, box.y);
                EXPECT_EQ(bounds.right, box.x + box.width - 1);
                EXPECT_EQ(bounds.bottom, box.y + box.height - 1);
            }
}

// Rows wider than a word of the fill: irregular regions (about two pixels in three match)
// whose runs cross word boundaries, against floodFill and inRange.
TEST(ExtreureMascaraColor, WideRowsAgainstFloodFillAndInRange)
{
    for (int width : {63, 64, 65, 200})
        for (Layout layout : {Layout::TopDown, Layout::BottomUp})
            for (unsigned seedRng : {1u, 2u}) {
                SCOPED_TRACE(testing::Message() << width << " " << Name(layout) << " " << seedRng);
                TDib d;
                Make(d, width, 37, 24, layout);
                cv::RNG rng(seedRng);
                Paint(d, [&](int, int) {
                    return rng.uniform(0, 3) ? RGB(90, 160, 30) : RGB(91, 10, 200);
                });
                const COLORREF key = RGB(90, 160, 30);
                cv::Mat image = ToBgr(d), want;
                const cv::Scalar k(30, 160, 90);
                cv::inRange(image, k - cv::Scalar::all(3), k + cv::Scalar::all(3), want);
                std::unique_ptr<TDib> whole(d.ExtreureMascaraColor(key, 3 / 255.0));
                ASSERT_TRUE(whole);
                EXPECT_TRUE(Same(MaskBits(*whole), want));
                for (int y = 0; y < 37; y += 9)
                    for (int x = 0; x < width; x += 17) {
                        cv::Mat fill = cv::Mat::zeros(image.rows + 2, image.cols + 2, CV_8U);
                        if (want.at<uchar>(y, x))
                            cv::floodFill(image, fill, cv::Point(x, y), cv::Scalar(), nullptr,
                                          cv::Scalar::all(3), cv::Scalar::all(3),
                                          4 | cv::FLOODFILL_FIXED_RANGE | cv::FLOODFILL_MASK_ONLY |
                                              (255 << 8));
                        const cv::Mat region = fill(cv::Rect(1, 1, image.cols, image.rows));
                        CRect bounds;
                        std::unique_ptr<TDib> mask(
                            d.ExtreureMascaraColor(key, CPoint(x, y), 3 / 255.0, &bounds));
                        ASSERT_TRUE(mask);
                        EXPECT_TRUE(Same(MaskBits(*mask), region)) << x << "," << y;
                        if (cv::countNonZero(region) == 0) {
                            EXPECT_EQ(bounds.left, INT_MAX);
                            continue;
                        }
                        const cv::Rect box = cv::boundingRect(region);
                        EXPECT_EQ(bounds.left, box.x);
                        EXPECT_EQ(bounds.top, box.y);
                        EXPECT_EQ(bounds.right, box.x + box.width - 1);
                        EXPECT_EQ(bounds.bottom, box.y + box.height - 1);
                    }
            }
}

TEST(ExtreureMascaraColor, SentinelsClampingAndCorners)
{
    TDib d;
    Make(d, 6, 6, 24, Layout::TopDown);
    // Two white squares touching only at a corner.
    Paint(d, [](int x, int y) { return (x < 3) == (y < 3) ? RGB(255, 255, 255) : RGB(0, 0, 0); });
    CRect bounds;
    std::unique_ptr<TDib> mask(d.ExtreureMascaraColor(0xFFFFFF, CPoint(0, 0), 0.0, &bounds));
    ASSERT_TRUE(mask);
    EXPECT_EQ(cv::countNonZero(MaskBits(*mask)), 9);
    EXPECT_EQ(bounds.right, 2);
    EXPECT_EQ(bounds.bottom, 2);

    const CPoint outside[] = {CPoint(-1, 0), CPoint(0, -1), CPoint(6, 0), CPoint(0, 6),
                              CPoint(INT_MIN, INT_MAX)};
    for (const CPoint& p : outside) {
        mask.reset(d.ExtreureMascaraColor(0xFFFFFF, p, 1.0, &bounds));
        ASSERT_TRUE(mask);
        EXPECT_EQ(cv::countNonZero(MaskBits(*mask)), 0);
        EXPECT_EQ(bounds.left, 2147483647);
        EXPECT_EQ(bounds.top, 2147483647);
        EXPECT_EQ(bounds.right, -2147483647);
        EXPECT_EQ(bounds.bottom, -2147483647);
    }
    // A seed that does not match: empty mask and the sentinels.
    mask.reset(d.ExtreureMascaraColor(0x00FF00, CPoint(1, 1), 0.0, &bounds));
    EXPECT_EQ(cv::countNonZero(MaskBits(*mask)), 0);
    EXPECT_EQ(bounds.left, 2147483647);

    // Tolerances beyond [0, 1] clamp; NaN is exact.
    struct {
        double tolerance;
        int set;
    } cases[] = {{2.0, 36}, {1.0, 36}, {-1.0, 18}, {std::nan(""), 18}, {0.5, 18}, {0.999, 36}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tolerance);
        mask.reset(d.ExtreureMascaraColor(0xFFFFFF, c.tolerance));
        ASSERT_TRUE(mask);
        EXPECT_EQ(cv::countNonZero(MaskBits(*mask)), c.set);
        mask.reset(d.ExtreureMascaraColor(0xFFFFFF, CPoint(5, 5), c.tolerance, nullptr));
        EXPECT_EQ(cv::countNonZero(MaskBits(*mask)), c.set == 36 ? 36 : 9);
    }
    EXPECT_EQ(TDib().ExtreureMascaraColor(0, 1.0), nullptr);
    EXPECT_EQ(TDib().ExtreureMascaraColor(0, CPoint(0, 0), 1.0, &bounds), nullptr);
}

TEST(ExtreureMascaraColor, PaletteImagesCompareColoursNotIndices)
{
    std::array<tagRGBQUAD, 256> palette = Greys();
    palette[7] = {0, 0, 250, 0};   // red
    palette[200] = {0, 0, 255, 0}; // red as well
    TDib d;
    Make(d, 4, 1, 8, Layout::TopDown, palette.data());
    const unsigned char line[4] = {7, 200, 1, 250};
    ASSERT_EQ(d.SetLinia(0, line, 4), 0);
    std::unique_ptr<TDib> mask(d.ExtreureMascaraColor(RGB(255, 0, 0), 0.02));
    ASSERT_TRUE(mask);
    unsigned char bits = 0;
    ASSERT_EQ(mask->GetLinia(0, &bits, 1), 0);
    EXPECT_EQ(bits & 0xF0, 0xC0);
}

TEST(ExtreureMascaraColor, FailedMaskCreationGivesNull)
{
    TDib d;
    Make(d, 8, 8, 24, Layout::TopDown);
    RkFailAllocationsAfter(0);
    TDib* whole = d.ExtreureMascaraColor(0, 1.0);
    TDib* region = d.ExtreureMascaraColor(0, CPoint(1, 1), 1.0, nullptr);
    RkFailAllocationsAfter(-1);
    EXPECT_EQ(whole, nullptr);
    EXPECT_EQ(region, nullptr);
    delete whole;
    delete region;
}
