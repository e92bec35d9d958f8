// The kernel's painting onto image surfaces and bitmaps, compared pixel by pixel.
#include <cairo.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <raster/ops/ops_tone.h>
#include <raster/paint/paint.h>
#include <vector>
#include <win/cairo_dc.h>
#include <win/gdi.h>

namespace {

struct Rgb {
    int r, g, b;
};

// A white ARGB image surface with a device context on it.
class Surface {
public:
    Surface(int w, int h) : w_(w), h_(h)
    {
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cr_ = cairo_create(surface_);
        cairo_set_source_rgb(cr_, 1, 1, 1);
        cairo_paint(cr_);
        dc_ = WinCreateCairoDC(cr_, w, h, 96);
    }
    ~Surface()
    {
        DeleteDC(dc_);
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    HDC dc() const { return dc_; }
    Rgb at(int x, int y) const
    {
        cairo_surface_flush(surface_);
        const auto* p = reinterpret_cast<const std::uint32_t*>(
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_));
        const std::uint32_t v = p[x];
        return Rgb{int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255)};
    }

private:
    int w_, h_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
    HDC dc_;
};

class Bitmap {
public:
    Bitmap(int w, int h, int bits, std::uint32_t memory = RK_MEMORY_CONVENTIONAL)
    {
        RkInitBitmap(&bm, BITMAPHANDLE_SIZE, 0, 0, 0);
        EXPECT_GT(RkCreateBitmap(&bm, BITMAPHANDLE_SIZE, memory, w, h, bits, RK_ORDER_BGR, nullptr,
                                 RK_TOP_LEFT),
                  0);
    }
    ~Bitmap() { RkFreeBitmap(&bm); }
    void fill(COLORREF c) { ASSERT_GT(RkFillBitmap(&bm, c), 0); }
    void put(int x, int y, COLORREF c) { ASSERT_GT(RkPutPixelColor(&bm, y, x, c), 0); }
    _BITMAPHANDLE bm{};
};

void ExpectNear(Rgb got, Rgb want, int tolerance, const char* what)
{
    EXPECT_NEAR(got.r, want.r, tolerance) << what;
    EXPECT_NEAR(got.g, want.g, tolerance) << what;
    EXPECT_NEAR(got.b, want.b, tolerance) << what;
}

// Restores the process-wide display-mode bits after each test.
class PaintTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = RkSetDisplayMode(0, 0); }
    void TearDown() override
    {
        RkSetDisplayMode(0xFFFFFFFFu, saved_);
        RkSetPaintSwitch(0);
    }
    std::uint32_t saved_ = 0;
};

TEST_F(PaintTest, DisplayModeBitsAreSetByMaskAndReturnedAsTheyWere)
{
    RkSetDisplayMode(0xFFFFFFFFu, 0x12);
    EXPECT_EQ(RkSetDisplayMode(0x2, 0), 0x12u);
    EXPECT_EQ(RkSetDisplayMode(0, 0), 0x10u);
    EXPECT_EQ(RkSetDisplayMode(0x400, 0xFFFFFFFFu), 0x10u);
    EXPECT_EQ(RkSetDisplayMode(0, 0), 0x410u);
}

TEST_F(PaintTest, OpaqueDepthsPaintTheirColours)
{
    // Every depth paints its colours exactly, unscaled.
    for (int bits : {1, 4, 8, 16, 24, 32, 48}) {
        Bitmap b(4, 2, bits);
        b.fill(RGB(255, 255, 255));
        b.put(0, 0, RGB(0, 0, 0));
        b.put(3, 1, bits >= 16 ? RGB(200, 40, 8) : RGB(0, 0, 0));
        Surface s(6, 4);
        const RECT dst{1, 1, 5, 3};
        ASSERT_GT(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0) << bits;
        ExpectNear(s.at(1, 1), {0, 0, 0}, 0, "top-left");
        ExpectNear(s.at(2, 1), {255, 255, 255}, 0, "white");
        const Rgb want = bits >= 16 ? Rgb{200, 40, 8} : Rgb{0, 0, 0};
        ExpectNear(s.at(4, 2), want, bits == 16 ? 7 : 0, "bottom-right");
        ExpectNear(s.at(0, 0), {255, 255, 255}, 0, "outside untouched");
        ExpectNear(s.at(5, 3), {255, 255, 255}, 0, "outside untouched");
    }
}

TEST_F(PaintTest, StraightAlphaBlendsOverWhenTheAlphaBitIsSet)
{
    Bitmap b(1, 1, 32);
    const std::uint8_t red[4] = {0, 0, 255, 128};
    ASSERT_GT(RkPutBitmapRow(&b.bm, red, 0, 4), 0);
    Surface blended(1, 1), opaque(1, 1);
    RkSetDisplayMode(RK_DISPLAY_ALPHA, RK_DISPLAY_ALPHA);
    ASSERT_GT(RkPaintDC(blended.dc(), &b.bm, nullptr, nullptr, nullptr, nullptr, SRCCOPY), 0);
    ExpectNear(blended.at(0, 0), {255, 127, 127}, 1, "alpha 128 over white");
    RkSetDisplayMode(RK_DISPLAY_ALPHA, 0);
    ASSERT_GT(RkPaintDC(opaque.dc(), &b.bm, nullptr, nullptr, nullptr, nullptr, SRCCOPY), 0);
    ExpectNear(opaque.at(0, 0), {255, 0, 0}, 0, "alpha ignored");
}

// A 2 x 2 checkerboard of black and white, reduced to one pixel: nearest sampling picks one
// of them, the area average gives grey.
TEST_F(PaintTest, SamplingFollowsTheDisplayModeBits)
{
    struct Case {
        std::uint32_t bits;
        int bitsPerPixel;
        bool grey;
    } cases[] = {
        {RK_DISPLAY_FAST, 24, false},
        {RK_DISPLAY_RESAMPLE, 24, true},
        {RK_DISPLAY_FAST | RK_DISPLAY_RESAMPLE, 24, true},
        {RK_DISPLAY_FAST, 1, false},
        {RK_DISPLAY_FAST | RK_DISPLAY_SCALE_TO_GRAY, 1, true},
        {RK_DISPLAY_FAST | RK_DISPLAY_SCALE_TO_GRAY, 24, false},
    };
    for (const Case& c : cases) {
        Bitmap b(64, 64, c.bitsPerPixel);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                b.put(x, y, (x + y) % 2 ? RGB(255, 255, 255) : RGB(0, 0, 0));
        RkSetDisplayMode(0xFFFFFFFFu, c.bits);
        Surface s(8, 8);
        const RECT dst{0, 0, 8, 8};
        ASSERT_GT(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const int v = s.at(x, y).g;
                if (c.grey)
                    EXPECT_NEAR(v, 128, 12) << c.bits << " at " << x << "," << y;
                else
                    EXPECT_TRUE(v == 0 || v == 255) << c.bits << " at " << x << "," << y;
            }
    }
}

TEST_F(PaintTest, SourceRectangleAndClipsLimitTheDrawing)
{
    Bitmap b(4, 4, 24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            b.put(x, y, RGB(x * 60, y * 60, 0));
    Surface s(8, 8);
    const RECT src{2, 2, 4, 4}, dst{0, 0, 4, 4}, clip{0, 0, 2, 4};
    ASSERT_GT(RkPaintDC(s.dc(), &b.bm, &src, nullptr, &dst, &clip, SRCCOPY), 0);
    // Source pixel (2, 2) doubled onto [0, 2) x [0, 2); the clip keeps columns 2 and 3 white.
    ExpectNear(s.at(0, 0), {120, 120, 0}, 0, "scaled source");
    ExpectNear(s.at(1, 3), {120, 180, 0}, 0, "scaled source");
    ExpectNear(s.at(2, 0), {255, 255, 255}, 0, "clipped");
    // A source clip limits the source instead.
    Surface t(4, 4);
    const RECT srcClip{0, 0, 2, 4};
    ASSERT_GT(RkPaintDC(t.dc(), &b.bm, nullptr, &srcClip, nullptr, nullptr, SRCCOPY), 0);
    ExpectNear(t.at(1, 1), {60, 60, 0}, 0, "inside the source clip");
    ExpectNear(t.at(2, 1), {255, 255, 255}, 0, "outside the source clip");
}

TEST_F(PaintTest, BitmapTargetsAndRasterOperations)
{
    Bitmap b(2, 1, 24);
    b.put(0, 0, RGB(255, 0, 0));
    b.put(1, 0, RGB(0, 0, 255));
    Bitmap target(4, 2, 24);
    target.fill(RGB(0, 255, 0));
    HDC dc = RkCreateBitmapDC(&target.bm);
    ASSERT_NE(dc, nullptr);
    const RECT dst{0, 0, 4, 2};
    ASSERT_GT(RkPaintDC(dc, &b.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0);
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 2, 0), RGB(0, 0, 255));
    ASSERT_GT(RkPaintDC(dc, &b.bm, nullptr, nullptr, &dst, nullptr, SRCINVERT), 0);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 0));
    ASSERT_GT(RkPaintDC(dc, &b.bm, nullptr, nullptr, &dst, nullptr, NOTSRCCOPY), 0);
    EXPECT_EQ(GetPixel(dc, 3, 1), RGB(255, 255, 0));
    EXPECT_GT(RkDeleteBitmapDC(dc), 0);
}

TEST_F(PaintTest, DiskBackedBitmapsPaintAsInMemory)
{
    RkSetDisplayMode(0xFFFFFFFFu, RK_DISPLAY_RESAMPLE);
    const std::uint64_t previous = RkSetDiskWindowBytes(4096);
    Bitmap mem(300, 200, 24), disk(300, 200, 24, RK_MEMORY_DISK);
    RkSetDiskWindowBytes(previous);
    std::vector<std::uint8_t> row(mem.bm.BytesPerLine);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 300; ++x) {
            row[x * 3] = std::uint8_t(x);
            row[x * 3 + 1] = std::uint8_t(y);
            row[x * 3 + 2] = std::uint8_t(x ^ y);
        }
        ASSERT_GT(RkPutBitmapRow(&mem.bm, row.data(), y, row.size()), 0);
        ASSERT_GT(RkPutBitmapRow(&disk.bm, row.data(), y, row.size()), 0);
    }
    Surface a(70, 50), b(70, 50);
    const RECT dst{0, 0, 70, 50};
    ASSERT_GT(RkPaintDC(a.dc(), &mem.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0);
    ASSERT_GT(RkPaintDC(b.dc(), &disk.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 70; ++x) {
            const Rgb p = a.at(x, y), q = b.at(x, y);
            ASSERT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b) << x << "," << y;
        }
}

TEST_F(PaintTest, WideSourcesAreReadInTilesWithoutSeams)
{
    RkSetDisplayMode(0xFFFFFFFFu, RK_DISPLAY_RESAMPLE);
    Bitmap b(40000, 2, 24);
    std::vector<std::uint8_t> row(b.bm.BytesPerLine);
    for (int x = 0; x < 40000; ++x)
        row[std::size_t(x) * 3 + 2] = std::uint8_t(std::int64_t(x) * 256 / 40000);
    ASSERT_GT(RkPutBitmapRow(&b.bm, row.data(), 0, row.size()), 0);
    ASSERT_GT(RkPutBitmapRow(&b.bm, row.data(), 1, row.size()), 0);
    Surface s(40, 1);
    const RECT dst{0, 0, 40, 1};
    ASSERT_GT(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0);
    for (int x = 0; x < 40; ++x)
        EXPECT_NEAR(s.at(x, 0).r, 6.4 * x + 3.2, 2.0) << x;
}

TEST_F(PaintTest, DisplayGammaAppliesOnlyWithThePaintingSwitch)
{
    Bitmap b(1, 1, 24);
    b.fill(RGB(64, 64, 64));
    ASSERT_GT(RkSetBitmapDisplayGamma(&b.bm, 200), 0);
    Surface off(1, 1), on(1, 1);
    RkSetPaintSwitch(0);
    ASSERT_GT(RkPaintDC(off.dc(), &b.bm, nullptr, nullptr, nullptr, nullptr, SRCCOPY), 0);
    EXPECT_EQ(off.at(0, 0).g, 64);
    RkSetPaintSwitch(1);
    ASSERT_GT(RkPaintDC(on.dc(), &b.bm, nullptr, nullptr, nullptr, nullptr, SRCCOPY), 0);
    EXPECT_EQ(on.at(0, 0).g, 128); // 255 * (64 / 255) ^ 0.5
}

TEST_F(PaintTest, EffectsEndWithThePlainPicture)
{
    Bitmap b(5, 3, 24);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            b.put(x, y, RGB(x * 50, y * 100, 7));
    const RECT dst{1, 1, 11, 7};
    Surface plain(12, 8);
    ASSERT_GT(RkPaintDC(plain.dc(), &b.bm, nullptr, nullptr, &dst, nullptr, SRCCOPY), 0);
    for (unsigned effect = RK_EFFECT_NONE; effect <= RK_EFFECT_LAST; ++effect) {
        for (unsigned strips : {0u, 1u, 3u, 64u, 1000u}) {
            Surface s(12, 8);
            ASSERT_GT(
                RkPaintDCEffect(s.dc(), &b.bm, nullptr, nullptr, &dst, nullptr, effect, strips), 0);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 12; ++x) {
                    const Rgb p = plain.at(x, y), q = s.at(x, y);
                    ASSERT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b)
                        << effect << "/" << strips << " at " << x << "," << y;
                }
        }
    }
    Surface s(2, 2);
    EXPECT_EQ(
        RkPaintDCEffect(s.dc(), &b.bm, nullptr, nullptr, &dst, nullptr, RK_EFFECT_LAST + 1, 0),
        RK_ERROR_INV_PARAMETER);
}

TEST_F(PaintTest, BadArgumentsAreRefused)
{
    Bitmap b(2, 2, 24);
    Surface s(2, 2);
    const RECT insideOut{2, 0, 0, 2}, empty{1, 1, 1, 2};
    EXPECT_EQ(RkPaintDC(s.dc(), &b.bm, &insideOut, nullptr, nullptr, nullptr, SRCCOPY),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, &insideOut, nullptr, SRCCOPY),
              RK_ERROR_INV_PARAMETER);
    EXPECT_GT(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, &empty, nullptr, SRCCOPY), 0);
    EXPECT_EQ(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, nullptr, nullptr, 0x12345678),
              RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkPaintDC(nullptr, &b.bm, nullptr, nullptr, nullptr, nullptr, SRCCOPY),
              RK_ERROR_INV_HANDLE);
    _BITMAPHANDLE none{};
    RkInitBitmap(&none, BITMAPHANDLE_SIZE, 0, 0, 0);
    EXPECT_EQ(RkPaintDC(s.dc(), &none, nullptr, nullptr, nullptr, nullptr, SRCCOPY),
              RK_ERROR_NO_BITMAP);
    EXPECT_EQ(RkPrintBitmap(s.dc(), &b.bm, 0, 0, -1, 5, 0), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkPrintBitmap(s.dc(), &b.bm, 0, 0, 1, 1, 1), RK_ERROR_INV_PARAMETER);
    // A destination far outside the target draws nothing and succeeds.
    const RECT far{100000, 100000, 100010, 100010};
    EXPECT_GT(RkPaintDC(s.dc(), &b.bm, nullptr, nullptr, &far, nullptr, SRCCOPY), 0);
}

TEST_F(PaintTest, PaintPaletteHoldsTheBitmapColours)
{
    Bitmap pal(2, 2, 8), rgb(2, 2, 24);
    Surface s(2, 2);
    HPALETTE p = RkCreatePaintPalette(s.dc(), &pal.bm);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GetPaletteEntries(p, 0, 0, nullptr), 256u);
    DeleteObject(p);
    EXPECT_EQ(RkCreatePaintPalette(s.dc(), &rgb.bm), nullptr);
}

// ---- the masked blend ------------------------------------------------------------------------

TEST(BlendMasked, ComposesThroughTheMaskAndCopiesWhereItDoesNotReach)
{
    Bitmap dst(4, 2, 24), src(4, 2, 32), mask(2, 1, 8);
    dst.fill(RGB(255, 255, 255));
    src.fill(RGB(255, 0, 0));
    std::uint8_t levels[4] = {128, 0, 0, 0};
    ASSERT_GT(RkPutBitmapRow(&mask.bm, levels, 0, 4), 0);
    // The kernel's default 8-bit palette is not grey: use a grey one.
    std::vector<tagRGBQUAD> grey(256);
    for (int i = 0; i < 256; ++i)
        grey[i] = tagRGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    ASSERT_GT(RkPutBitmapColors(&mask.bm, 0, 256, grey.data()), 0);
    ASSERT_GT(RkBlendBitmapMasked(&dst.bm, 0, 0, 4, 2, &src.bm, 0, 0, &mask.bm, 0, 0), 0);
    const COLORREF half = RkGetPixelColor(&dst.bm, 0, 0);
    EXPECT_EQ(GetRValue(half), 255);
    EXPECT_NEAR(GetGValue(half), 127, 1);
    EXPECT_EQ(RkGetPixelColor(&dst.bm, 0, 1), RGB(255, 255, 255)); // mask 0: transparent
    EXPECT_EQ(RkGetPixelColor(&dst.bm, 0, 2), RGB(255, 0, 0));     // beyond the mask: opaque
    EXPECT_EQ(RkGetPixelColor(&dst.bm, 1, 0), RGB(255, 0, 0));
}

TEST(BlendMasked, RefusesWhatItCannotUse)
{
    Bitmap dst(2, 2, 24), src(2, 2, 24), mask1(2, 2, 1), mask8(2, 2, 8);
    EXPECT_EQ(RkBlendBitmapMasked(&dst.bm, 0, 0, 2, 2, &src.bm, 0, 0, &mask1.bm, 0, 0),
              RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(RkBlendBitmapMasked(&dst.bm, 0, 0, -1, 2, &src.bm, 0, 0, &mask8.bm, 0, 0),
              RK_ERROR_INV_PARAMETER);
    // Blocks outside either bitmap do nothing.
    EXPECT_GT(RkBlendBitmapMasked(&dst.bm, 5, 5, 2, 2, &src.bm, 0, 0, &mask8.bm, 0, 0), 0);
    EXPECT_GT(
        RkBlendBitmapMasked(&dst.bm, INT32_MIN, 0, INT32_MAX, 2, &src.bm, 0, 0, &mask8.bm, 0, 0),
        0);
}

} // namespace
