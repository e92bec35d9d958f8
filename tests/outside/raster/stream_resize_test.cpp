// The kernel's streaming resize against OpenCV's resize computed directly.
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <random>
#include <raster/kernel_status.h>
#include <raster/resize/stream_resize.h>
#include <vector>

namespace {

struct Size4 {
    int sw, sh, dw, dh, channels;
};

// Streams img through the resizer; returns the result rows in order (each yielded row written
// count times) and checks the total row count.
cv::Mat Stream(const cv::Mat& img, int dw, int dh)
{
    const int ch = img.channels();
    void* h = nullptr;
    EXPECT_EQ(RkStartResize(img.cols, img.rows, dw, dh, &h), RK_SUCCESS);
    cv::Mat out(dh, dw, img.type(), cv::Scalar::all(0));
    std::vector<unsigned char> row(static_cast<std::size_t>(std::max(img.cols, dw)) * ch);
    int written = 0;
    for (int y = 0; y < img.rows; ++y) {
        std::copy(img.ptr(y), img.ptr(y) + img.cols * ch, row.begin());
        int w = 0, n = -1;
        EXPECT_EQ(RkResizeRow(row.data(), y, ch * 8, &w, &n, h), RK_SUCCESS);
        EXPECT_EQ(w, dw);
        for (int k = 0; k < n; ++k, ++written)
            if (written < dh)
                std::copy(row.begin(), row.begin() + dw * ch, out.ptr(written));
    }
    EXPECT_EQ(written, dh);
    EXPECT_EQ(RkStopResize(h), RK_SUCCESS);
    return out;
}

cv::Mat Noise(int w, int h, int ch, unsigned seed)
{
    cv::Mat m(h, w, CV_8UC(ch));
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * ch; ++x)
            m.ptr(y)[x] = static_cast<unsigned char>((x * 7 + y * 3 + (rng() % 64)) & 0xFF);
    return m;
}

TEST(StreamResize, ReductionsMatchAreaAveraging)
{
    const Size4 cases[] = {{1000, 800, 250, 200, 3}, {97, 61, 13, 7, 1},      {50, 40, 50, 40, 4},
                           {100, 10, 37, 3, 3},      {640, 480, 101, 101, 1}, {9, 9, 1, 1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
        const cv::Mat img = Noise(c.sw, c.sh, c.channels, 7u);
        cv::Mat want;
        cv::resize(img, want, cv::Size(c.dw, c.dh), 0, 0, cv::INTER_AREA);
        const cv::Mat got = Stream(img, c.dw, c.dh);
        cv::Mat diff;
        cv::absdiff(got, want, diff);
        double maxDiff = 0;
        cv::minMaxLoc(diff.reshape(1), nullptr, &maxDiff);
        EXPECT_LE(maxDiff, 1.0);
    }
}

TEST(StreamResize, EnlargementInterpolatesAcrossAndRepeatsRowsDown)
{
    const cv::Mat img = Noise(40, 10, 3, 3u);
    const cv::Mat got = Stream(img, 130, 25);
    // Across: linear interpolation of the nearest source row.
    cv::Mat want;
    for (int j = 0; j < 25; ++j) {
        const int y = (2 * j + 1) * 10 / 50;
        cv::Mat line;
        cv::resize(img.row(y), line, cv::Size(130, 1), 0, 0, cv::INTER_LINEAR);
        cv::Mat diff;
        cv::absdiff(got.row(j), line, diff);
        double maxDiff = 0;
        cv::minMaxLoc(diff.reshape(1), nullptr, &maxDiff);
        EXPECT_LE(maxDiff, 1.0) << "row " << j;
    }
}

TEST(StreamResize, RowCountsAreExact)
{
    const int cases[][2] = {{100, 300}, {7, 3}, {10, 10}, {1, 5}, {5, 1}, {800, 200}, {3, 1000}};
    for (const auto& c : cases) {
        void* h = nullptr;
        ASSERT_EQ(RkStartResize(4, c[0], 2, c[1], &h), RK_SUCCESS);
        unsigned char row[16] = {};
        int total = 0;
        for (int y = 0; y < c[0]; ++y) {
            int w = 0, n = 0;
            ASSERT_EQ(RkResizeRow(row, y, 24, &w, &n, h), RK_SUCCESS);
            total += n;
        }
        EXPECT_EQ(total, c[1]) << c[0] << " -> " << c[1];
        RkStopResize(h);
    }
}

TEST(StreamResize, ColourAndAlphaStreamsShareOneHandle)
{
    void* h = nullptr;
    ASSERT_EQ(RkStartResize(4, 4, 2, 2, &h), RK_SUCCESS);
    int yielded = 0;
    for (int y = 0; y < 4; ++y) {
        unsigned char colour[12], alpha[4];
        std::fill(colour, colour + 12, static_cast<unsigned char>(y * 40));
        std::fill(alpha, alpha + 4, static_cast<unsigned char>(200));
        int w = 0, n = 0, wa = 0, na = 0;
        ASSERT_EQ(RkResizeRow(colour, y, 24, &w, &n, h), RK_SUCCESS);
        ASSERT_EQ(RkResizeRow(alpha, y, 8, &wa, &na, h), RK_SUCCESS);
        EXPECT_EQ(n, na);
        if (n) {
            EXPECT_EQ(colour[0], y == 1 ? 20 : 100);
            EXPECT_EQ(alpha[1], 200);
            yielded += n;
        }
    }
    EXPECT_EQ(yielded, 2);
    RkStopResize(h);
}

TEST(StreamResize, RefusesBadCalls)
{
    void* h = reinterpret_cast<void*>(1);
    EXPECT_EQ(RkStartResize(0, 5, 5, 5, &h), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(RkStartResize(5, 5, 5, 5, nullptr), RK_ERROR_INV_PARAMETER);
    ASSERT_EQ(RkStartResize(5, 2, 3, 1, &h), RK_SUCCESS);
    unsigned char row[15] = {};
    int w = 0, n = 0;
    EXPECT_EQ(RkResizeRow(row, 1, 24, &w, &n, h), RK_ERROR_INV_PARAMETER); // out of order
    EXPECT_EQ(RkResizeRow(row, 0, 12, &w, &n, h), RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(RkResizeRow(row, 0, 72, &w, &n, h), RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(RkResizeRow(nullptr, 0, 24, &w, &n, h), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkResizeRow(row, 0, 24, &w, &n, h), RK_SUCCESS);
    EXPECT_EQ(RkResizeRow(row, 1, 24, &w, &n, h), RK_SUCCESS);
    EXPECT_EQ(RkResizeRow(row, 2, 24, &w, &n, h), RK_ERROR_INV_PARAMETER); // past the height
    EXPECT_EQ(RkStopResize(h), RK_SUCCESS);
    EXPECT_EQ(RkStopResize(nullptr), RK_ERROR_INV_PARAMETER);
}

} // namespace
