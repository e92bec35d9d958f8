// Rows, columns, pixels and rectangles of TDib, and the static raw-line functions.
#include <array>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <memory>
#include <raster/kernel.h>
#include <vector>

using dib::TDibAccess;

namespace {

// Reference packing: pixel x of a packed line, most significant bits first.
unsigned PackedGet(const unsigned char* line, int x, int bits)
{
    const int bit = x * bits;
    return (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void PackedSet(unsigned char* line, int x, int bits, unsigned v)
{
    const int bit = x * bits;
    const int shift = 8 - bits - bit % 8;
    const unsigned mask = ((1u << bits) - 1) << shift;
    line[bit / 8] = static_cast<unsigned char>((line[bit / 8] & ~mask) | ((v << shift) & mask));
}

// A bottom-up image (stored row 0 is the bottom row), as loaders may leave one.
void MakeBottomUp(TDib& d, int w, int h, int bits)
{
    d.Done();
    ASSERT_GT(RkCreateBitmap(&TDibAccess::Bitmap(d), BITMAPHANDLE_SIZE, 0x201, w, h, bits,
                             RK_ORDER_BGR, nullptr, RK_BOTTOM_LEFT),
              0);
}

} // namespace

TEST(LineSize, Rule)
{
    struct Case {
        int w, bits, align;
        unsigned long bytes;
    } cases[] = {{10, 1, 4, 4}, {10, 1, 0, 2}, {3, 24, 4, 12}, {5, 4, 0, 3},
                 {3, 12, 0, 4}, {7, 2, 0, 2},  {9, 2, 0, 3},   {0, 8, 4, 0},
                 {-1, 8, 0, 0}, {4, 0, 0, 0},  {5, 48, 4, 32}, {5, 16, 0, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(TDib::TamanyLinia(c.w, c.bits, c.align), c.bytes)
            << c.w << " x " << c.bits << " / " << c.align;
    EXPECT_EQ(TDib::TamanyBitmap(3, 5, 24, 4), 60u);
    EXPECT_EQ(TDib::TamanyBitmap(20000, 20000, 24, 4), 1200000000u);
    EXPECT_EQ(TDib::TamanyBitmap(70000, 70000, 24, 4), 0u); // does not fit 32 bits
}

// Every packed depth at odd widths: a row written pixel by pixel in the reference layout reads
// back whole, from a column, and pixel by pixel through the kernel's colours.
TEST(LineAccess, PackedDepthsAtOddWidths)
{
    for (int bits : {1, 2, 4}) {
        for (int width : {1, 3, 5, 7, 9, 13}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, width " << width);
            TDib d;
            ASSERT_EQ(d.Crear(width, 2, bits), 0);
            const unsigned long n = TDib::TamanyLinia(width, bits, 0);
            std::vector<unsigned char> in(n, 0), out(n, 0xEE);
            for (int x = 0; x < width; ++x)
                PackedSet(in.data(), x, bits, unsigned(x * 7 + 1) & ((1u << bits) - 1));
            ASSERT_EQ(d.SetLinia(1, in.data(), n), 0);
            ASSERT_EQ(d.GetLinia(1, out.data(), n), 0);
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(PackedGet(out.data(), x, bits), PackedGet(in.data(), x, bits)) << x;
            // From a column that does not start a byte: that pixel lands in the top bits.
            const int col = width / 2;
            const unsigned long rest = TDib::TamanyLinia(width - col, bits, 0);
            std::vector<unsigned char> part(rest, 0);
            ASSERT_EQ(d.GetLinia(1, col, part.data(), rest), 0);
            for (int x = col; x < width; ++x)
                EXPECT_EQ(PackedGet(part.data(), x - col, bits), PackedGet(in.data(), x, bits));
            // The other row is untouched.
            std::fill(out.begin(), out.end(), 0xEE);
            ASSERT_EQ(d.GetLinia(0, out.data(), n), 0);
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(PackedGet(out.data(), x, bits), 0u);
        }
    }
}

TEST(LineAccess, SwapOnlyAt24BitsAndOnlyWholeGroups)
{
    TDib d;
    ASSERT_EQ(d.Crear(1, 1, 24), 0);
    const unsigned char px[4] = {1, 2, 3, 0};
    ASSERT_EQ(d.SetLinia(0, px, 4), 0);
    unsigned char out[4] = {};
    ASSERT_EQ(d.GetLinia(0, out, 4, 1), 0);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], 0);

    TDib g;
    ASSERT_EQ(g.Crear(4, 1, 8), 0);
    const unsigned char grey[4] = {1, 2, 3, 4};
    g.SetLinia(0, grey, 4);
    unsigned char gout[4] = {};
    ASSERT_EQ(g.GetLinia(0, gout, 4, 1), 0);
    EXPECT_EQ(std::memcmp(grey, gout, 4), 0);
}

TEST(LineAccess, RowsCountFromTheTopWhateverTheStorage)
{
    TDib d;
    MakeBottomUp(d, 2, 3, 8);
    const unsigned char top[4] = {42, 43, 0, 0};
    ASSERT_GT(RkPutBitmapRow(&TDibAccess::Bitmap(d), top, 2, 4), 0); // last stored row
    unsigned char out[4] = {};
    ASSERT_EQ(d.GetLinia(0, out, 4), 0);
    EXPECT_EQ(out[0], 42);
    unsigned char mid[1] = {9};
    ASSERT_EQ(d.SetLinia(1, 1, mid, 1), 0);
    unsigned char check[4] = {};
    RkGetBitmapRow(&TDibAccess::Bitmap(d), check, 1, 4);
    EXPECT_EQ(check[1], 9);

    TDib t;
    ASSERT_EQ(t.Crear(2, 3, 8), 0);
    ASSERT_GT(RkPutBitmapRow(&TDibAccess::Bitmap(t), top, 0, 4), 0);
    ASSERT_EQ(t.GetLinia(0, out, 4), 0);
    EXPECT_EQ(out[0], 42);
}

TEST(LineAccess, RefusalsAreStatusesNotOverruns)
{
    TDib d;
    ASSERT_EQ(d.Crear(3, 3, 24), 0);
    std::array<unsigned char, 64> buf{};
    for (int row : {-1, 3, INT32_MIN, INT32_MAX})
        EXPECT_EQ(d.GetLinia(row, buf.data(), 9), -3003) << row;
    EXPECT_EQ(d.GetLinia(0, buf.data(), 13), -3003); // past the stored row (12 bytes)
    EXPECT_EQ(d.GetLinia(0, nullptr, 9), -3003);
    EXPECT_EQ(d.GetLinia(0, buf.data(), 0), -3003);
    EXPECT_EQ(d.GetLinia(0, 3, buf.data(), 1), -3003);
    EXPECT_EQ(d.SetLinia(0, 2, buf.data(), 7), -3003);
    EXPECT_EQ(d.SetPixel(5, 0, buf.data()), -3003);
    TDib empty;
    EXPECT_LT(empty.GetLinia(0, buf.data(), 1), 0);
    EXPECT_EQ(empty.GetPixel(0, 0), 0u);
}

TEST(LineAccess, PixelsByBytesAndByColour)
{
    TDib d;
    ASSERT_EQ(d.Crear(3, 2, 24), 0);
    const unsigned char bgr[3] = {10, 20, 30};
    EXPECT_EQ(d.SetPixel(2, 1, bgr), 0);
    EXPECT_EQ(d.GetPixel(2, 1), RGB(30, 20, 10));
    EXPECT_EQ(d.SetPixel(0, 0, static_cast<unsigned long>(RGB(1, 2, 3))), 0);
    EXPECT_EQ(d.GetPixel(0, 0), RGB(1, 2, 3));
    TDib packed;
    ASSERT_EQ(packed.Crear(8, 1, 4), 0);
    EXPECT_EQ(packed.SetPixel(0, 0, bgr), -3003); // zero whole bytes per pixel
}

TEST(LineAccess, ColumnOfAOneBitImageIsPackedBottomFirst)
{
    TDib d;
    ASSERT_EQ(d.Crear(3, 10, 1), 0);
    // Rows 0 and 9 set at column 1 (row 0 is the top).
    const unsigned char on[1] = {0x40};
    d.SetLinia(0, on, 1);
    d.SetLinia(9, on, 1);
    unsigned char col[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(d.GetColumna(1, col, 2), 0);
    EXPECT_EQ(col[0], 0x80); // row 9 first
    EXPECT_EQ(col[1], 0x40); // rows 1 and 0 in the top two bits
    EXPECT_EQ(col[2], 0xEE); // nothing past ceil(10 / 8) bytes
}

TEST(LineAccess, ColumnOfAColourImage)
{
    TDib d;
    ASSERT_EQ(d.Crear(2, 3, 24), 0);
    for (int y = 0; y < 3; ++y) {
        const unsigned char px[3] = {static_cast<unsigned char>(y), 0, 0};
        d.SetPixel(1, y, px);
    }
    unsigned char col[10];
    std::memset(col, 0xEE, sizeof col);
    EXPECT_EQ(d.GetColumna(1, col, 9), 0);
    EXPECT_EQ(col[0], 2);
    EXPECT_EQ(col[3], 1);
    EXPECT_EQ(col[6], 0);
    EXPECT_EQ(col[9], 0xEE);
    EXPECT_EQ(d.GetColumna(2, col, 9), -3003);
    TDib empty;
    EXPECT_EQ(empty.GetColumna(0, col, 0), 0);
}

TEST(LineAccess, PortionIsClampedAndWrittenBack)
{
    TDib d;
    ASSERT_EQ(d.Crear(100, 100, 24), 0);
    TDibAccess::ResolucioX(d) = 300.0;
    d.SetPixel(10, 10, static_cast<unsigned long>(RGB(7, 8, 9)));
    tagRECT r{10, 10, 500, 500};
    TDib* out = nullptr;
    EXPECT_EQ(d.GetPorcioBitmap(&r, out), 0);
    std::unique_ptr<TDib> owned(out);
    ASSERT_TRUE(out);
    EXPECT_EQ(r.right, 99);
    EXPECT_EQ(r.bottom, 99);
    EXPECT_EQ(out->GetMidaX(), 90);
    EXPECT_EQ(out->GetMidaY(), 90);
    EXPECT_EQ(out->GetPixel(0, 0), RGB(7, 8, 9));
    EXPECT_EQ(out->GetResolucioX(), 300.0);

    tagRECT outside{-5, 0, 3, 3};
    TDib* empty = nullptr;
    EXPECT_EQ(d.GetPorcioBitmap(&outside, empty), -3003);
    std::unique_ptr<TDib> ownedEmpty(empty);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->EsBuit(), 1);
    TDib* none = nullptr;
    EXPECT_EQ(d.GetPorcioBitmap(nullptr, none), -3);
    delete none;
}

TEST(LineAccess, PortionOfABottomUpImageCountsRowsFromTheTop)
{
    TDib d;
    MakeBottomUp(d, 4, 4, 8);
    const unsigned char row[4] = {1, 2, 3, 4};
    ASSERT_EQ(d.SetLinia(0, row, 4), 0); // the top row
    tagRECT r{1, 0, 2, 1};
    TDib* out = nullptr;
    ASSERT_EQ(d.GetPorcioBitmap(&r, out), 0);
    std::unique_ptr<TDib> owned(out);
    EXPECT_EQ(TDibAccess::Bitmap(*out).ViewPerspective, RK_TOP_LEFT);
    unsigned char got[4] = {};
    ASSERT_EQ(out->GetLinia(0, got, 2), 0);
    EXPECT_EQ(got[0], 2);
    EXPECT_EQ(got[1], 3);
}

TEST(RawLines, GetPixelByDepth)
{
    const unsigned char mono[2] = {0x00, 0x40};
    EXPECT_EQ(TDib::getPixel(9, mono, 1, nullptr), 0xFFFFFFu);
    EXPECT_EQ(TDib::getPixel(8, mono, 1, nullptr), 0u);
    const tagRGBQUAD pal[16] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
    EXPECT_EQ(TDib::getPixel(9, mono, 1, pal), RGB(6, 5, 4));
    const unsigned char nib[1] = {0x1F};
    EXPECT_EQ(TDib::getPixel(0, nib, 4, nullptr), RGB(16, 16, 16));
    EXPECT_EQ(TDib::getPixel(1, nib, 4, nullptr), RGB(240, 240, 240));
    EXPECT_EQ(TDib::getPixel(0, nib, 4, pal), RGB(6, 5, 4));
    const unsigned char grey[2] = {0, 77};
    EXPECT_EQ(TDib::getPixel(1, grey, 8, nullptr), RGB(77, 77, 77));
    const unsigned char bgr[6] = {0, 0, 0, 10, 20, 30};
    EXPECT_EQ(TDib::getPixel(1, bgr, 24, nullptr), RGB(30, 20, 10));
    const unsigned char k[4] = {200, 100, 50, 60};
    EXPECT_EQ(TDib::getPixel(0, k, 32, nullptr), RGB(0, 40, 140));
    EXPECT_EQ(TDib::getPixel(0, k, 16, nullptr), 0u);
}

TEST(RawLines, CmykLoadAdaptation)
{
    unsigned char px[12] = {0, 0, 0, 0, 255, 0, 0, 0, 10, 20, 30, 240};
    EXPECT_EQ(TDib::AdaptarPerCarregarCMYK(px, 3), 0);
    const unsigned char want[12] = {255, 255, 255, 0, 255, 255, 0, 0, 0, 0, 5, 0};
    EXPECT_EQ(std::memcmp(px, want, 12), 0);
    unsigned char untouched[4] = {1, 2, 3, 4};
    TDib::AdaptarPerCarregarCMYK(untouched, 0);
    EXPECT_EQ(untouched[3], 4);
}

TEST(RawLines, FlipWholeBytePixels)
{
    struct Case {
        int bits, width;
    } cases[] = {{8, 1}, {8, 4}, {16, 3}, {24, 1}, {24, 3}, {32, 2}, {48, 5}};
    for (const auto& c : cases) {
        const int bpp = c.bits / 8;
        std::vector<unsigned char> line(std::size_t(bpp * c.width));
        for (std::size_t i = 0; i < line.size(); ++i)
            line[i] = static_cast<unsigned char>(i);
        auto before = line;
        EXPECT_EQ(TDib::FlipLine(c.bits, line.data(), c.width), 0);
        for (int x = 0; x < c.width; ++x)
            EXPECT_EQ(std::memcmp(&line[std::size_t(x * bpp)],
                                  &before[std::size_t((c.width - 1 - x) * bpp)], std::size_t(bpp)),
                      0)
                << c.bits << " bits, pixel " << x;
    }
}

TEST(RawLines, FlipPackedPixels)
{
    for (int bits : {1, 2, 4}) {
        for (int width : {2, 3, 5, 9, 15}) {
            const unsigned long n = TDib::TamanyLinia(width, bits, 0);
            std::vector<unsigned char> line(n, 0);
            for (int x = 0; x < width; ++x)
                PackedSet(line.data(), x, bits, unsigned(x * 5 + 3) & ((1u << bits) - 1));
            auto before = line;
            EXPECT_EQ(TDib::FlipLine(bits, line.data(), width), 0);
            for (int x = 0; x < width; ++x)
                EXPECT_EQ(PackedGet(line.data(), x, bits),
                          PackedGet(before.data(), width - 1 - x, bits))
                    << bits << " bits, width " << width << ", pixel " << x;
        }
    }
}

TEST(LineAccess, ColumnOutsideAOneBitImageIsRefused)
{
    TDib d;
    ASSERT_EQ(d.Crear(3, 10, 1), 0);
    for (int column : {-1, 3, INT32_MAX}) {
        unsigned char col[2] = {0xEE, 0xEE};
        EXPECT_EQ(d.GetColumna(column, col, 2), -3003) << column;
        EXPECT_EQ(col[0], 0xEE);
    }
}
