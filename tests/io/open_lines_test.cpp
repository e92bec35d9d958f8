// Line-by-line open: the reader each description leads to, the consumer protocol, what keep
// does to the image, and the kernel route's row callback driven with rows made here.
#include "io_test_util.h"
#include "support/fakes.h"
#include "support/support.h"

#include <base/word2byte.h>
#include <codecs/tiff/tiff_codec.h>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <io/io_internal.h>

using namespace iotest;
using dib::TDibAccess;
using dibtest::FakeConsumer;

namespace {

constexpr int W = 7, H = 5;

// The kernel's row callback, reachable from the tests.
struct Callbacks : TDib {
    using TDib::__ObrirDinamicProc;
};

} // namespace

TEST(ObrirDinamic, OwnTiffLinesWithoutKeepingTheImage)
{
    FakeConsumer consumer;
    consumer.lineBytes = W * 3;
    TDib image;
    TDibAccess::ResolucioX(image) = 5.0;
    ASSERT_EQ(image.ObrirDinamic(Tiff("rgb8_lzw.tif").c_str(), &consumer), 0);
    EXPECT_EQ(image.EsBuit(), 1);
    EXPECT_EQ(TDibAccess::ResolucioX(image), 5.0);
    EXPECT_EQ(TDibAccess::EspaiColor(image), DIB_CS_NONE);
    EXPECT_EQ(consumer.inits, 1);
    EXPECT_EQ(consumer.dones, 1);
    ASSERT_EQ(consumer.lines.size(), std::size_t(H));
    const Bytes s = Samples("rgb8_lzw.tif");
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(consumer.lines[y][std::size_t(x * 3 + k)], s[(y * W + x) * 3 + 2 - k]);
}

TEST(ObrirDinamic, KeepFillsTheImageAndSixteenBitLinesStaySixteen)
{
    FakeConsumer consumer(64, 16, 3, 0);
    consumer.lineBytes = W * 6;
    TDib image;
    ASSERT_EQ(image.ObrirDinamic(Tiff("rgb16.tif").c_str(), &consumer, 0, 1), 0)
        << DibGetLastErrorText();
    ASSERT_EQ(consumer.lines.size(), std::size_t(H));
    ASSERT_EQ(image.GetBitsPerPixel(), 24);
    EXPECT_EQ(TDibAccess::BitsPerCanal(image), 8u);
    EXPECT_EQ(TDibAccess::Canals(image), 3u);
    const Bytes s = Samples("rgb16.tif");
    for (int y = 0; y < H; ++y) {
        const Bytes row = Row(image, y);
        for (int x = 0; x < W; ++x)
            for (int k = 0; k < 3; ++k) {
                const std::uint16_t v = Word(&s[std::size_t((y * W + x) * 6 + (2 - k) * 2)]);
                ASSERT_EQ(Word(&consumer.lines[y][std::size_t((x * 3 + k) * 2)]), v);
                ASSERT_EQ(row[std::size_t(x * 3 + k)], g_word2byte[v]);
            }
    }
}

TEST(ObrirDinamic, ConsumerChoicesOnTheOwnReaders)
{
    CFILEINFO jpeg;
    ASSERT_EQ(TDibAccess::InfoJPEG(Jpeg("rgb420.jpg").c_str(), jpeg), 1);
    jpeg.Format = 98; // a JPEG-family number the kernel does not write
    struct Case {
        std::wstring path;
        const CFILEINFO* info;
        int height;
    } cases[] = {{Tiff("rgb8_big.tif"), nullptr, 40}, {Jpeg("rgb420.jpg"), &jpeg, 29}};
    for (const Case& c : cases) {
        // From the row Init asks for on.
        FakeConsumer from;
        from.initResult = 10;
        ASSERT_EQ(TDib().ObrirDinamic(c.path.c_str(), &from, 0, 0, 0, nullptr, c.info), 0);
        EXPECT_EQ(from.lines.size(), std::size_t(c.height - 10));
        // Stopped by the first Processar: no second line, Done all the same.
        FakeConsumer stop;
        stop.stopAfter = 1;
        ASSERT_EQ(TDib().ObrirDinamic(c.path.c_str(), &stop, 0, 0, 0, nullptr, c.info), 0);
        EXPECT_EQ(stop.lines.size(), 1u);
        EXPECT_EQ(stop.dones, 1);
        // Cancelled.
        FakeConsumer cancelled;
        StopAfter progress(3);
        EXPECT_EQ(TDib().ObrirDinamic(c.path.c_str(), &cancelled, 0, 0, 0, &progress, c.info),
                  DIB_ERR_FAILED);
        EXPECT_EQ(cancelled.dones, 0);
    }
}

TEST(ObrirDinamic, FailuresBeforeAndDuringTheRun)
{
    dibtest::TempDir dir;
    const std::string junk = (dir.path() / "junk").string();
    std::ofstream(junk) << "junk";
    FakeConsumer consumer;
    TDib image;
    ASSERT_EQ(image.Crear(2, 2, 24), 0);
    EXPECT_LT(image.ObrirDinamic(Wide(junk).c_str(), &consumer, 0, 1), 0);
    EXPECT_EQ(consumer.inits, 0);
    EXPECT_EQ(image.GetMidaX(), 2) << "a failed open keeps the image";
    // A description whose sizes do not fit is refused before any reader runs.
    CFILEINFO hostile;
    hostile.Format = 0;
    hostile.Width = 0x7FFFFFFF;
    hostile.Height = 1;
    hostile.BitsPerPixel = 64;
    EXPECT_EQ(image.ObrirDinamic(Tiff("rgb8.tif").c_str(), &consumer, 0, 0, 0, nullptr, &hostile),
              DIB_ERR_INVALID);
    EXPECT_EQ(consumer.inits, 0);
}

TEST(ObrirDinamic, TiledTiffGoesToTheKernel)
{
    CFILEINFO info;
    ASSERT_EQ(dib::TiffReaderAccess::InfoTiff(Wide(kData + "/io/rgb8_tiled16.tif").c_str(), info),
              1);
    ASSERT_EQ(info.Tiled, 1);
    FakeConsumer consumer;
    consumer.lineBytes = 37 * 3;
    const int r = TDib().ObrirDinamic(Wide(kData + "/io/rgb8_tiled16.tif").c_str(), &consumer, 0, 0,
                                      0, nullptr, &info);
    if (!KernelReads(RK_FORMAT_TIFF)) {
        // The placeholder kernel knows no file: the kernel route was taken all the same.
        EXPECT_EQ(r, DIB_STATUS_KERNEL_BASE + RK_ERROR_FILE_FORMAT);
        EXPECT_EQ(consumer.inits, 1);
        EXPECT_EQ(consumer.dones, 1);
        return;
    }
    EXPECT_EQ(consumer.inits, 1);
    EXPECT_EQ(consumer.dones, 1);
    ASSERT_EQ(r, 0) << DibGetLastErrorText();
    // The fixture script wrote (5x + 3y + 80c) mod 256; lines arrive blue first.
    ASSERT_EQ(consumer.lines.size(), 40u);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 37; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(consumer.lines[y][std::size_t(x * 3 + 2 - c)],
                          (x * 5 + y * 3 + c * 80) % 256)
                    << x << "," << y << "," << c;
}

// ---- the kernel route's callback --------------------------------------------------------------

namespace {

struct Rows {
    _BITMAPHANDLE bitmap{};
    Bytes buffer;
};

// rows x width pixels of `bytes` bytes, rows BytesPerLine apart; byte k of pixel x in row y
// holds y * 50 + x * 10 + k, the last byte of each pixel the alpha 255 / 0 / 128 by column.
Rows MakeRows(int width, int rows, int bytes, bool alphaLast)
{
    Rows r;
    r.bitmap.Width = width;
    r.bitmap.Height = rows;
    r.bitmap.BitsPerPixel = bytes * 8;
    r.bitmap.BytesPerLine = (width * bytes + 3) / 4 * 4;
    r.buffer.assign(std::size_t(r.bitmap.BytesPerLine) * rows, 0);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < bytes; ++k)
                r.buffer[std::size_t(y * r.bitmap.BytesPerLine + x * bytes + k)] =
                    alphaLast && k == bytes - 1 ? std::uint8_t(x % 3 == 0   ? 255
                                                               : x % 3 == 1 ? 0
                                                                            : 128)
                                                : std::uint8_t(y * 50 + x * 10 + k);
    return r;
}

dib::io::LoadContext Context(TProcesLiniaDIB* consumer, int width, int height, int bits,
                             int channels, int alpha)
{
    dib::io::LoadContext c;
    c.consumer = consumer;
    c.width = width;
    c.height = height;
    c.bitsPerPixel = bits;
    c.bytesPerPixel = bits < 8 ? 1 : bits / 8;
    c.lineSize = (width * bits / 8 + 3) / 4 * 4;
    c.channels = channels;
    c.pixelStride = channels;
    c.alphaChannel = alpha;
    c.lastColumn = width - 1;
    c.lastRow = height - 1;
    return c;
}

} // namespace

TEST(ObrirDinamicProc, AlphaSplitAndCompositeOverWhite)
{
    for (int outAlpha : {0, 1}) {
        SCOPED_TRACE(outAlpha);
        FakeConsumer consumer(64, 8, 3, outAlpha);
        consumer.lineBytes = 4 * 3;
        Rows rows = MakeRows(4, 2, 4, true);
        auto c = Context(&consumer, 4, 2, 32, 4, 3);
        Bytes colour(std::size_t(c.lineSize)), alpha(4);
        c.colourLine = colour.data();
        c.alphaLine = alpha.data();
        ASSERT_EQ(
            Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 0, 2, &c),
            1);
        ASSERT_EQ(consumer.lines.size(), 2u);
        EXPECT_FALSE(consumer.alphaWasNull[0]);
        for (int x = 0; x < 4; ++x) {
            const int a = x % 3 == 0 ? 255 : x % 3 == 1 ? 0 : 128;
            EXPECT_EQ(alpha[std::size_t(x)], a) << "the last line's alpha";
            for (int k = 0; k < 3; ++k) {
                const int v = 50 + x * 10 + k;
                const int want = outAlpha ? v : 255 - (255 - v) * a / 255;
                EXPECT_EQ(consumer.lines[1][std::size_t(x * 3 + k)], want) << x << " " << k;
            }
        }
        EXPECT_EQ(c.currentRow, 2);
    }
    // The documented value: a = 128 over v = 0 gives 127.
    FakeConsumer consumer(64, 8, 3, 0);
    consumer.lineBytes = 3;
    Rows black = MakeRows(1, 1, 4, false);
    black.buffer = {0, 0, 0, 128};
    auto c = Context(&consumer, 1, 1, 32, 4, 3);
    Bytes colour(4), alpha(1);
    c.colourLine = colour.data();
    c.alphaLine = alpha.data();
    ASSERT_EQ(
        Callbacks::__ObrirDinamicProc(nullptr, &black.bitmap, black.buffer.data(), 2, 0, 1, &c), 1);
    EXPECT_EQ(consumer.lines[0], Bytes({127, 127, 127}));
}

TEST(ObrirDinamicProc, GreyWithAlphaTakesTheFirstAndFourthBytes)
{
    FakeConsumer consumer(8, 8, 1, 1);
    consumer.lineBytes = 3;
    Rows rows = MakeRows(3, 1, 4, true);
    auto c = Context(&consumer, 3, 1, 32, 2, 1);
    c.pixelStride = 4;
    Bytes colour(std::size_t(c.lineSize)), alpha(3);
    c.colourLine = colour.data();
    c.alphaLine = alpha.data();
    ASSERT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 0, 1, &c),
              1);
    EXPECT_EQ(consumer.lines[0], Bytes({0, 10, 20}));
    EXPECT_EQ(alpha, Bytes({255, 0, 128}));
}

TEST(ObrirDinamicProc, RegionRowsAndRefusal)
{
    // Rows 1 and 2 only, columns 2 to 3, delivered over two calls of three and two rows.
    FakeConsumer consumer;
    consumer.lineBytes = 2 * 3;
    Rows rows = MakeRows(5, 5, 3, false);
    auto c = Context(&consumer, 5, 5, 24, 3, -1);
    c.firstRow = 1;
    c.lastRow = 2;
    c.firstColumn = 2;
    c.lastColumn = 3;
    const int stride = rows.bitmap.BytesPerLine;
    ASSERT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 0, 3, &c),
              1);
    ASSERT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data() + 3 * stride,
                                            2, 3, 2, &c),
              1);
    ASSERT_EQ(consumer.lines.size(), 2u);
    EXPECT_EQ(consumer.lines[0][0], 50 + 20);
    EXPECT_EQ(consumer.lines[1][3], 100 + 30);
    EXPECT_TRUE(consumer.alphaWasNull[0]);

    // A consumer that refuses its first line gets no other, in this call or the next.
    FakeConsumer stop;
    stop.stopAfter = 1;
    auto s = Context(&stop, 5, 5, 24, 3, -1);
    EXPECT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 0, 3, &s),
              1);
    EXPECT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 3, 2, &s),
              1);
    EXPECT_EQ(stop.lines.size(), 1u);
}

TEST(ObrirDinamicProc, NoticesProgressAndBounds)
{
    FakeConsumer consumer;
    consumer.lineBytes = 1;
    Rows rows = MakeRows(16, 2, 1, false);
    auto c = Context(&consumer, 16, 2, 8, 1, -1);
    // A notice without rows.
    EXPECT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 1, 0, 2, &c),
              1);
    EXPECT_TRUE(consumer.lines.empty());
    EXPECT_EQ(c.currentRow, 0);
    // A stop asked through the indicator: 0, the rows of the call still delivered.
    dibtest::FakeProgress progress(0);
    c.progress = &progress;
    EXPECT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 0, 1, &c),
              0);
    EXPECT_EQ(consumer.lines.size(), 1u);
    // Packed rows: the line starts at the byte holding the first column's pixel.
    FakeConsumer packed(32, 1, 1, 0);
    packed.lineBytes = 1;
    auto p = Context(&packed, 16, 2, 1, 1, -1);
    p.firstColumn = 9;
    Rows bits = MakeRows(16, 1, 1, false);
    EXPECT_EQ(Callbacks::__ObrirDinamicProc(nullptr, &bits.bitmap, bits.buffer.data(), 2, 0, 1, &p),
              1);
    EXPECT_EQ(packed.lines[0][0], bits.buffer[1]);
    // Rows narrower than the context says: refused, nothing read past them.
    FakeConsumer narrow(64, 8, 3, 0);
    auto n = Context(&narrow, 16, 2, 32, 4, 3);
    Bytes colour(64), alpha(16);
    n.colourLine = colour.data();
    n.alphaLine = alpha.data();
    Rows small = MakeRows(4, 1, 4, true);
    EXPECT_EQ(
        Callbacks::__ObrirDinamicProc(nullptr, &small.bitmap, small.buffer.data(), 2, 0, 1, &n), 0);
    EXPECT_TRUE(narrow.lines.empty());
    // No consumer: only the row count moves.
    auto none = Context(nullptr, 16, 2, 8, 1, -1);
    EXPECT_EQ(
        Callbacks::__ObrirDinamicProc(nullptr, &rows.bitmap, rows.buffer.data(), 2, 0, 2, &none),
        1);
    EXPECT_EQ(none.currentRow, 2);
}
