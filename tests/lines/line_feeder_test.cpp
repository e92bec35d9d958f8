// TProcesLiniaDIB and the line feeder TDib::ProcesarLiniesDIB.
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <support/fakes.h>

using dibtest::FakeConsumer;
using dibtest::FakeProgress;

namespace {

// An 8-bit image whose row y holds the value y in every pixel.
void MakeRows(TDib& d, int w, int h, int view = RK_TOP_LEFT)
{
    d.Done();
    ASSERT_GT(RkCreateBitmap(&dib::TDibAccess::Bitmap(d), BITMAPHANDLE_SIZE, 0x201, w, h, 8,
                             RK_ORDER_BGR, nullptr, view),
              0);
    std::vector<unsigned char> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), static_cast<unsigned char>(y));
        ASSERT_EQ(d.SetLinia(y, row.data(), row.size()), 0);
    }
}

} // namespace

TEST(LineConsumer, FormatFieldsAndDefaults)
{
    FakeConsumer c(64, 8, 3, 0);
    EXPECT_EQ(c.OutCS(), 64u);
    EXPECT_EQ(c.OutBpc(), 8);
    EXPECT_EQ(c.OutCha(), 3);
    EXPECT_EQ(c.OutAlpha(), 0);
    EXPECT_EQ(c.GetMidaX(), -1);
    EXPECT_EQ(c.GetMidaY(), -1);
    FakeConsumer multi(0xFFFFFFFFul, 16, 5, 1);
    FakeConsumer copy(multi);
    EXPECT_EQ(copy.OutCS(), DIB_CS_MULTICHANNEL);
    EXPECT_EQ(copy.OutCha(), 5);
    EXPECT_EQ(copy.OutAlpha(), 1);
}

TEST(LineFeeder, WholeImageWhenLineCountIsNegative)
{
    TDib d;
    MakeRows(d, 4, 6);
    FakeConsumer c;
    c.lineBytes = 4;
    EXPECT_EQ(d.ProcesarLiniesDIB(&c, 3, -1, 0, 4, nullptr), 0);
    ASSERT_EQ(c.lines.size(), 6u);
    for (int y = 0; y < 6; ++y)
        EXPECT_EQ(c.lines[std::size_t(y)][0], y);
    for (bool isNull : c.alphaWasNull)
        EXPECT_TRUE(isNull);
    EXPECT_EQ(c.inits, 0); // the caller runs Init and Done
    EXPECT_EQ(c.dones, 0);
}

TEST(LineFeeder, PartOfTheImageWithProgress)
{
    TDib d;
    MakeRows(d, 3, 20);
    FakeConsumer c;
    c.lineBytes = 1;
    FakeProgress progress;
    EXPECT_EQ(d.ProcesarLiniesDIB(&c, 10, 5, 0, -1, &progress), 0);
    ASSERT_EQ(c.lines.size(), 5u);
    EXPECT_EQ(c.lines.front()[0], 10);
    EXPECT_EQ(c.lines.back()[0], 14);
    ASSERT_EQ(progress.opened.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(progress.StepOf(i, 5), long(i));
    EXPECT_EQ(progress.closed, 5);
    EXPECT_EQ(progress.GetProfunditat(), 0u);
}

TEST(LineFeeder, BytesPerLineFollowTheDepth)
{
    struct Case {
        int bits, width, firstColumn, pixelCount;
        std::size_t bytes;
    } cases[] = {{1, 20, 0, 9, 2},    {4, 20, 0, 3, 2}, {24, 20, 0, 3, 9}, {24, 20, 0, -1, 60},
                 {24, 20, 2, -1, 54}, {1, 20, 3, 9, 2}, {48, 3, 1, 2, 12}, {2, 9, 1, 7, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.bits << " bits, column " << c.firstColumn << ", pixels " << c.pixelCount);
        TDib d;
        ASSERT_EQ(d.Crear(c.width, 2, c.bits), 0);
        std::vector<unsigned char> row(std::size_t(d.GetBytesPerLinia()));
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<unsigned char>(i * 37 + 11);
        d.SetLinia(1, row.data(), row.size());
        // The consumer reads exactly the expected count (ASan catches a shorter buffer) and
        // must see what the kernel gives for that count from that column.
        FakeConsumer probe;
        probe.lineBytes = c.bytes;
        EXPECT_EQ(d.ProcesarLiniesDIB(&probe, 1, 1, c.firstColumn, c.pixelCount, nullptr), 0);
        std::vector<unsigned char> want(c.bytes);
        ASSERT_EQ(d.GetLinia(1, c.firstColumn, want.data(), c.bytes), 0);
        ASSERT_EQ(probe.lines.size(), 1u);
        EXPECT_EQ(probe.lines[0], want);
    }
}

TEST(LineFeeder, BottomUpImageDeliversItsVisualTopFirst)
{
    TDib d;
    MakeRows(d, 2, 4, RK_BOTTOM_LEFT); // SetLinia writes rows from the top
    FakeConsumer c;
    c.lineBytes = 1;
    ASSERT_EQ(d.ProcesarLiniesDIB(&c, 0, -1, 0, -1, nullptr), 0);
    ASSERT_EQ(c.lines.size(), 4u);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(c.lines[std::size_t(y)][0], y);
}

TEST(LineFeeder, ConsumerStopsEarly)
{
    TDib d;
    MakeRows(d, 2, 8);
    for (long k : {1L, 3L}) {
        FakeConsumer c;
        c.stopAfter = k;
        FakeProgress progress;
        EXPECT_EQ(d.ProcesarLiniesDIB(&c, 0, -1, 0, -1, &progress), 0);
        EXPECT_EQ(long(c.lines.size()), k);
        EXPECT_EQ(progress.GetProfunditat(), 0u); // every sub-range opened was closed
    }
}

TEST(LineFeeder, CancelThroughProgress)
{
    TDib d;
    MakeRows(d, 2, 8);
    FakeConsumer c;
    FakeProgress progress(2);
    EXPECT_EQ(d.ProcesarLiniesDIB(&c, 0, -1, 0, -1, &progress), -5);
    EXPECT_EQ(c.lines.size(), 3u); // the line of the cancelling step is still delivered
    EXPECT_EQ(progress.GetProfunditat(), 0u);
    EXPECT_EQ(dib::TDibAccess::Bitmap(d).LockCount, 0);
}

TEST(LineFeeder, RegionsOutsideTheImageAreRefused)
{
    TDib d;
    MakeRows(d, 4, 4);
    struct Case {
        int firstLine, lineCount, firstColumn, pixelCount;
    } cases[] = {{-1, 2, 0, -1}, {3, 2, 0, -1}, {0, 1, 4, -1},         {0, 1, -1, 2},
                 {0, 1, 2, 3},   {0, 1, 0, 0},  {INT32_MAX, 1, 0, -1}, {1, INT32_MAX, 0, 1}};
    for (const auto& c : cases) {
        FakeConsumer consumer;
        EXPECT_EQ(d.ProcesarLiniesDIB(&consumer, c.firstLine, c.lineCount, c.firstColumn,
                                      c.pixelCount, nullptr),
                  -3)
            << c.firstLine << " " << c.lineCount << " " << c.firstColumn << " " << c.pixelCount;
        EXPECT_TRUE(consumer.lines.empty());
    }
    EXPECT_EQ(d.ProcesarLiniesDIB(nullptr, 0, 1, 0, 1, nullptr), -3);
    FakeConsumer none;
    EXPECT_EQ(d.ProcesarLiniesDIB(&none, 2, 0, 0, 1, nullptr), 0);
    TDib empty;
    EXPECT_EQ(empty.ProcesarLiniesDIB(&none, 0, -1, 0, -1, nullptr), 0);
    EXPECT_TRUE(none.lines.empty());
}
