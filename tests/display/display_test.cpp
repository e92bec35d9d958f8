// Display and printing of TDib: fitting, the kernel and GDI+ paths on image surfaces and our
// own bitmaps, masks of other sizes and depths, composition against the device, printing
// with the settings store's modes, PDF output checked with poppler's tools.
#include "support/support.h"

#include <base/registry.h>
#include <cairo.h>
#include <cstdio>
#include <cstdlib>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <raster/paint/paint.h>
#include <string>
#include <win/cairo_dc.h>
#include <win/gdi.h>
#include <win/print_job.h>

namespace fs = std::filesystem;

namespace {

// A white RGB24 image surface and a CDC on it.
class Surface {
public:
    Surface(int w, int h)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h)),
          cr_(cairo_create(surface_))
    {
        cairo_set_source_rgb(cr_, 1, 1, 1);
        cairo_paint(cr_);
        dc.Attach(WinCreateCairoDC(cr_, w, h, 96));
    }
    ~Surface()
    {
        dc.DeleteDC();
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    COLORREF at(int x, int y) const
    {
        cairo_surface_flush(surface_);
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_));
        const std::uint32_t v = row[x];
        return RGB(BYTE(v >> 16), BYTE(v >> 8), BYTE(v));
    }
    bool allWhite() const
    {
        for (int y = 0; y < cairo_image_surface_get_height(surface_); ++y)
            for (int x = 0; x < cairo_image_surface_get_width(surface_); ++x)
                if (at(x, y) != RGB(255, 255, 255))
                    return false;
        return true;
    }
    CDC dc;

private:
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

void ExpectColour(COLORREF got, int r, int g, int b, int tolerance, const std::string& what)
{
    EXPECT_NEAR(GetRValue(got), r, tolerance) << what;
    EXPECT_NEAR(GetGValue(got), g, tolerance) << what;
    EXPECT_NEAR(GetBValue(got), b, tolerance) << what;
}

// A w x h image at bits, filled with colour; 32-bit images get alpha a.
std::unique_ptr<TDib> Solid(int w, int h, int bits, COLORREF colour, int a = 255)
{
    auto d = std::make_unique<TDib>();
    EXPECT_EQ(d->Crear(w, h, bits), DIB_OK);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            d->SetPixel(x, y, colour);
    if (bits == 32) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned char px[4] = {GetBValue(colour), GetGValue(colour),
                                             GetRValue(colour), BYTE(a)};
                d->SetPixel(x, y, px);
            }
    }
    return d;
}

// A grey 8-bit mask with the given level everywhere.
std::unique_ptr<TDib> GreyMask(int w, int h, int level)
{
    tagRGBQUAD grey[256];
    for (int i = 0; i < 256; ++i)
        grey[i] = tagRGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    auto m = std::make_unique<TDib>();
    EXPECT_EQ(m->Crear(w, h, 8, grey), DIB_OK);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char v = BYTE(level);
            m->SetPixel(x, y, &v);
        }
    return m;
}

// ---- fitting --------------------------------------------------------------------------------

TEST(CalcDisplayRect, FitsAsDocumented)
{
    struct Case {
        int w, h;
        RECT area;
        unsigned short flags;
        int status;
        RECT out;
    } cases[] = {
        {200, 100, {0, 0, 100, 100}, 0, 0, {0, 0, 100, 50}},
        {200, 100, {0, 0, 100, 100}, 4, 0, {0, 25, 100, 75}},
        {200, 100, {0, 0, 100, 100}, 12, 0, {0, 25, 100, 75}},
        {200, 100, {0, 0, 100, 100}, 8, 0, {0, 50, 100, 100}},
        {100, 200, {0, 0, 100, 100}, 0, 0, {0, 0, 50, 100}},
        {100, 200, {0, 0, 100, 100}, 1, 0, {25, 0, 75, 100}},
        {100, 200, {0, 0, 100, 100}, 3, 0, {25, 0, 75, 100}},
        {100, 200, {0, 0, 100, 100}, 2, 0, {50, 0, 100, 100}},
        {100, 200, {0, 0, 100, 100}, 16, 0, {0, 0, 100, 200}},
        {100, 200, {0, 0, 100, 100}, 20, 0, {0, -50, 100, 150}},
        {10, 10, {0, 0, 1000, 500}, 0, 0, {0, 0, 500, 500}},
        {10, 10, {10, 20, 1010, 520}, 5, 0, {260, 20, 760, 520}},
        {3, 1, {0, 0, 10, 10}, 0, 0, {0, 0, 10, 3}},
        {200, 100, {0, 0, 0, 100}, 0, -3, {}},
        {200, 100, {0, 0, 100, 0}, 0, -3, {}},
        {200, 100, {100, 0, 0, 100}, 0, -3, {}},
        // Flag 16 with a tall image in a wide area: the height passes 32 bits.
        {1, 1000, {0, 0, 1 << 30, 10}, 16, -3, {}},
        {1, 1000, {0, 0, 1 << 30, 10}, 0, 0, {0, 0, 0, 10}},
        // The area's extent itself passes 32 bits.
        {2, 1, {-2000000000, 0, 2000000000, 1000}, 0, 0, {-2000000000, 0, -1999998000, 1000}},
        {2, 1, {-2000000000, 0, 2000000000, 1000}, 1, 0, {-1000, 0, 1000, 1000}},
        {2, 1, {-2000000000, 0, 2000000000, 1000}, 2, 0, {1999998000, 0, 2000000000, 1000}},
    };
    for (const Case& c : cases) {
        auto d = Solid(c.w, c.h, 24, 0);
        RECT out{-7, -7, -7, -7};
        const int r = d->CalcDisplayRect(&c.area, &out, c.flags);
        EXPECT_EQ(r, c.status) << c.w << "x" << c.h << " flags " << c.flags;
        if (r == 0) {
            EXPECT_EQ(out.left, c.out.left) << c.w << "x" << c.h << " flags " << c.flags;
            EXPECT_EQ(out.top, c.out.top) << c.w << "x" << c.h << " flags " << c.flags;
            EXPECT_EQ(out.right, c.out.right) << c.w << "x" << c.h << " flags " << c.flags;
            EXPECT_EQ(out.bottom, c.out.bottom) << c.w << "x" << c.h << " flags " << c.flags;
        }
    }
    TDib empty;
    RECT area{0, 0, 10, 10}, out{};
    EXPECT_EQ(empty.CalcDisplayRect(&area, &out, 0), -3);
    auto d = Solid(2, 2, 24, 0);
    EXPECT_EQ(d->CalcDisplayRect(nullptr, &out, 0), -3);
    EXPECT_EQ(d->CalcDisplayRect(&area, nullptr, 0), -3);
}

TEST(Pintar, DrawsIntoTheFittedRectangle)
{
    auto d = Solid(20, 10, 24, RGB(0, 0, 255));
    Surface s(40, 40);
    CRect area(0, 0, 40, 40);
    ASSERT_EQ(d->Pintar(&s.dc, area, 4), DIB_OK);
    EXPECT_EQ(area.left, 0);
    EXPECT_EQ(area.top, 10);
    EXPECT_EQ(area.right, 40);
    EXPECT_EQ(area.bottom, 30);
    EXPECT_EQ(s.at(0, 10), RGB(0, 0, 255));
    EXPECT_EQ(s.at(39, 29), RGB(0, 0, 255));
    EXPECT_EQ(s.at(20, 9), RGB(255, 255, 255));
    EXPECT_EQ(s.at(20, 30), RGB(255, 255, 255));

    // An empty area: -3, nothing drawn, the area unchanged.
    Surface t(10, 10);
    CRect none(5, 0, 5, 10);
    EXPECT_EQ(d->Pintar(&t.dc, none, 0), -3);
    EXPECT_EQ(none.left, 5);
    EXPECT_TRUE(t.allWhite());
    TDib empty;
    CRect some(0, 0, 10, 10);
    EXPECT_EQ(empty.Pintar(&t.dc, some, 0), -3);
    EXPECT_TRUE(t.allWhite());
}

TEST(Pintar, AlphaImagesBlendAndTheDisplayBitsAreRestored)
{
    auto d = Solid(1, 1, 32, RGB(255, 0, 0), 128);
    const std::uint32_t before = RkSetDisplayMode(0, 0);
    Surface s(4, 4);
    CRect area(0, 0, 4, 4);
    ASSERT_EQ(d->Pintar(&s.dc, area, 0), DIB_OK);
    ExpectColour(s.at(2, 2), 255, 127, 127, 1, "alpha 128 over white");
    EXPECT_EQ(RkSetDisplayMode(0, 0), before);
    auto line = Solid(8, 8, 1, RGB(255, 255, 255));
    CRect small(0, 0, 2, 2);
    ASSERT_EQ(line->Pintar(&s.dc, small, 64), DIB_OK);
    EXPECT_EQ(RkSetDisplayMode(0, 0), before);
}

// ---- Display --------------------------------------------------------------------------------

TEST(Display, AlphaImagesBlendOverWhatTheDeviceShows)
{
    auto d = Solid(2, 2, 32, RGB(255, 0, 0), 128);
    ASSERT_TRUE(d->TeAlpha());
    Surface s(4, 4);
    const RECT dst{0, 0, 4, 4};
    ASSERT_EQ(d->Display(&s.dc, &dst, SRCCOPY, 0, nullptr, 0), DIB_OK);
    ExpectColour(s.at(3, 3), 255, 127, 127, 1, "alpha 128 over white");
    // The kernel path alone draws the image opaque.
    Surface t(4, 4);
    ASSERT_EQ(d->DisplayLead(&t.dc, nullptr, &dst, nullptr, SRCCOPY, 0, nullptr, 0), DIB_OK);
    EXPECT_EQ(t.at(3, 3), RGB(255, 0, 0));
}

TEST(Display, OpaqueImagesWithoutMaskNeverTakeTheAlphaPath)
{
    // With a source rectangle the alpha path draws the unscaled part and the kernel path
    // scales: a 2 x 2 image with src (0, 0, 2, 2) into 4 x 4 tells them apart.
    auto d = Solid(2, 2, 24, RGB(0, 128, 0));
    d->SetPixel(1, 1, RGB(0, 0, 200));
    Surface s(4, 4);
    const RECT src{0, 0, 2, 2}, dst{0, 0, 4, 4};
    ASSERT_EQ(d->Display(&s.dc, &src, &dst, nullptr, SRCCOPY, 0, nullptr, 0), DIB_OK);
    EXPECT_EQ(s.at(3, 3), RGB(0, 0, 200)); // scaled
    Surface t(4, 4);
    auto mask = GreyMask(2, 2, 255);
    ASSERT_EQ(d->Display(&t.dc, &src, &dst, nullptr, SRCCOPY, 0, mask.get(), 0), DIB_OK);
    EXPECT_EQ(t.at(1, 1), RGB(0, 0, 200)); // unscaled, through the alpha path
    EXPECT_EQ(t.at(3, 3), RGB(255, 255, 255));
}

TEST(Display, MasksOfOtherSizesAndDepths)
{
    auto d = Solid(4, 4, 24, RGB(255, 0, 0));
    const RECT dst{0, 0, 4, 4};
    // An 8-bit mask smaller than the image: transparent where it covers, opaque elsewhere.
    {
        Surface s(4, 4);
        auto mask = GreyMask(2, 2, 0);
        ASSERT_EQ(d->DisplayGDIPlus(&s.dc, nullptr, &dst, nullptr, SRCCOPY, 0, mask.get(), 0),
                  DIB_OK);
        EXPECT_EQ(s.at(1, 1), RGB(255, 255, 255));
        EXPECT_EQ(s.at(2, 1), RGB(255, 0, 0));
        EXPECT_EQ(s.at(1, 3), RGB(255, 0, 0));
    }
    // A larger mask: only its part over the image counts.
    {
        Surface s(4, 4);
        auto mask = GreyMask(9, 9, 128);
        ASSERT_EQ(d->DisplayGDIPlus(&s.dc, nullptr, &dst, nullptr, SRCCOPY, 0, mask.get(), 0),
                  DIB_OK);
        ExpectColour(s.at(3, 3), 255, 127, 127, 1, "half");
    }
    // A 1-bit mask is expanded to grey levels, not read as bytes.
    {
        Surface s(4, 4);
        TDib mask;
        ASSERT_EQ(mask.Crear(4, 4, 1), DIB_OK);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                mask.SetPixel(x, y, x < 2 ? RGB(0, 0, 0) : RGB(255, 255, 255));
        ASSERT_EQ(d->DisplayGDIPlus(&s.dc, nullptr, &dst, nullptr, SRCCOPY, 0, &mask, 0), DIB_OK);
        EXPECT_EQ(s.at(0, 2), RGB(255, 255, 255));
        EXPECT_EQ(s.at(1, 0), RGB(255, 255, 255));
        EXPECT_EQ(s.at(2, 2), RGB(255, 0, 0));
        EXPECT_EQ(s.at(3, 0), RGB(255, 0, 0));
    }
}

TEST(Display, OtherDepthsAreConvertedForTheAlphaPath)
{
    const RECT dst{0, 0, 2, 1};
    // 16 bits with alpha channel 1: grey and alpha.
    {
        TDib d;
        ASSERT_EQ(d.Crear(2, 1, 16), DIB_OK);
        const unsigned char opaque[2] = {60, 255}, clear[2] = {0, 0};
        d.SetPixel(0, 0, opaque);
        d.SetPixel(1, 0, clear);
        dib::TDibAccess::CanalAlpha(d) = 1;
        Surface s(2, 1);
        ASSERT_EQ(d.Display(&s.dc, &dst, SRCCOPY, 0, nullptr, 0), DIB_OK);
        EXPECT_EQ(s.at(0, 0), RGB(60, 60, 60));
        EXPECT_EQ(s.at(1, 0), RGB(255, 255, 255));
    }
    // 48 bits by the high bytes, 16 bits as 5-5-5, 8 bits through the palette (with a mask).
    for (int bits : {48, 16, 8}) {
        TDib d;
        ASSERT_EQ(d.Crear(2, 1, bits), DIB_OK);
        d.SetPixel(0, 0, RGB(248, 0, 0));
        d.SetPixel(1, 0, RGB(0, 0, 248));
        auto mask = GreyMask(2, 1, 255);
        Surface s(2, 1);
        ASSERT_EQ(d.DisplayGDIPlus(&s.dc, nullptr, &dst, nullptr, SRCCOPY, 0, mask.get(), 0),
                  DIB_OK)
            << bits;
        const int tolerance = bits == 8 ? 60 : 8;
        ExpectColour(s.at(0, 0), 248, 0, 0, tolerance, std::to_string(bits));
        ExpectColour(s.at(1, 0), 0, 0, 248, tolerance, std::to_string(bits));
    }
}

TEST(Display, HighQualityAgainstNearest)
{
    TDib d;
    ASSERT_EQ(d.Crear(32, 32, 32), DIB_OK);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const BYTE v = (x + y) % 2 ? 255 : 0;
            const unsigned char px[4] = {v, v, v, 255};
            d.SetPixel(x, y, px);
        }
    const RECT dst{0, 0, 4, 4};
    for (int hq : {0, 1}) {
        for (int path = 0; path < 2; ++path) {
            Surface s(4, 4);
            const int r =
                path == 0 ? d.Display(&s.dc, &dst, SRCCOPY, 0, nullptr, hq)
                          : d.DisplayLead(&s.dc, nullptr, &dst, nullptr, SRCCOPY, 0, nullptr, hq);
            ASSERT_EQ(r, DIB_OK);
            const int g = GetGValue(s.at(2, 1));
            if (hq)
                EXPECT_NEAR(g, 128, 16) << "path " << path;
            else
                EXPECT_TRUE(g == 0 || g == 255) << "path " << path << ": " << g;
        }
    }
}

TEST(Display, FailuresAreReportedAndTheKernelPathTakesOver)
{
    auto d = Solid(2, 2, 32, RGB(255, 0, 0), 128);
    const RECT dst{0, 0, 2, 2};
    EXPECT_EQ(d->DisplayGDIPlus(nullptr, nullptr, &dst, nullptr, SRCCOPY, 0, nullptr, 0), -3);
    EXPECT_EQ(d->Display(nullptr, &dst, SRCCOPY, 0, nullptr, 0), -3009);
    // A host context whose cairo context has failed: the alpha path reports it.
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 2, 2);
    cairo_t* cr = cairo_create(surface);
    CDC dc;
    dc.Attach(WinCreateCairoDC(cr, 2, 2, 96));
    cairo_scale(cr, 0, 0); // an invalid matrix puts the context in an error state
    EXPECT_NE(d->DisplayGDIPlus(&dc, nullptr, &dst, nullptr, SRCCOPY, 0, nullptr, 0), 0);
    EXPECT_NE(d->Display(&dc, &dst, SRCCOPY, 0, nullptr, 0), 0);
    dc.DeleteDC();
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    // An empty image has nothing to draw.
    TDib empty;
    Surface s(2, 2);
    EXPECT_EQ(empty.DisplayGDIPlus(&s.dc, nullptr, &dst, nullptr, SRCCOPY, 0, nullptr, 0), 0);
}

// ---- composition and effects ----------------------------------------------------------------

TEST(CalcDibAlpha, ComposesAgainstTheDevice)
{
    EXPECT_EQ(TDib::CalcDibAlpha(nullptr, nullptr, nullptr, nullptr), nullptr);
    auto opaque = Solid(2, 2, 24, RGB(1, 2, 3));
    Surface s(4, 4);
    const RECT dst{0, 0, 2, 2};
    EXPECT_EQ(opaque->CalcDibAlpha(&s.dc, &dst, nullptr), nullptr);

    auto d = Solid(2, 2, 32, RGB(255, 0, 0), 128);
    std::unique_ptr<TDib> c(d->CalcDibAlpha(&s.dc, &dst, nullptr));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->GetBitsPerPixel(), 24);
    EXPECT_FALSE(c->TeAlpha());
    ExpectColour(c->GetPixel(1, 1), 255, 127, 127, 1, "over the surface's white");

    // The background comes from the device: a black context.
    Surface black(2, 2);
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 0));
    const RECT all{0, 0, 2, 2};
    FillRect(black.dc.GetSafeHdc(), &all, brush);
    DeleteObject(brush);
    std::unique_ptr<TDib> onBlack(TDib::CalcDibAlpha(&black.dc, d.get(), &dst, nullptr));
    ASSERT_NE(onBlack, nullptr);
    ExpectColour(onBlack->GetPixel(0, 0), 128, 0, 0, 1, "over black");

    // No readable device: white. A mask of another size blends where it covers.
    auto mask = GreyMask(1, 2, 0);
    std::unique_ptr<TDib> masked(TDib::CalcDibAlpha(nullptr, opaque.get(), &dst, mask.get()));
    ASSERT_NE(masked, nullptr);
    EXPECT_EQ(masked->GetPixel(0, 1), RGB(255, 255, 255));
    EXPECT_EQ(masked->GetPixel(1, 1), RGB(1, 2, 3));
}

TEST(DisplayEx, EffectsAndAlphaComposition)
{
    auto d = Solid(3, 3, 24, RGB(0, 90, 0));
    const RECT dst{0, 0, 6, 6};
    for (unsigned long effect = 0; effect <= RK_EFFECT_LAST; ++effect) {
        Surface s(6, 6);
        ASSERT_EQ(d->DisplayEx(&s.dc, &dst, effect, 4, 0, nullptr, 0), DIB_OK) << effect;
        EXPECT_EQ(s.at(5, 5), RGB(0, 90, 0)) << effect;
    }
    Surface s(6, 6);
    EXPECT_EQ(d->DisplayEx(&s.dc, &dst, 99, 0, 0, nullptr, 0), -3003);
    auto a = Solid(3, 3, 32, RGB(255, 0, 0), 128);
    Surface t(6, 6);
    ASSERT_EQ(a->DisplayEx(&t.dc, &dst, RK_EFFECT_WIPE_DOWN, 2, 1, nullptr, 1), DIB_OK);
    ExpectColour(t.at(3, 3), 255, 127, 127, 1, "composed before the effect");
}

// ---- alpha of files -------------------------------------------------------------------------

TEST(GetAlpha, FromFormatAndDepth)
{
    EXPECT_EQ(TDib::GetAlpha(75, 32), 3);
    EXPECT_EQ(TDib::GetAlpha(75, 16), 1);
    EXPECT_EQ(TDib::GetAlpha(75, 24), -1);
    EXPECT_EQ(TDib::GetAlpha(75, 8), -1);
    for (int format : {0, 1, 3, 6, 10, 76})
        EXPECT_EQ(TDib::GetAlpha(format, 32), 0);
    CFILEINFO info;
    info.AlphaChannel = 3;
    EXPECT_EQ(TDib::GetAlpha(info), 3);
    info.AlphaChannel = -1;
    EXPECT_EQ(TDib::GetAlpha(info), -1);
}

TEST(GetAlpha, OfAPngFileThroughTheFileModule)
{
    const fs::path png = fs::path(DIB_TEST_DATA_DIR) / "display" / "rgba.png";
    _FILEINFO info{};
    info.uStructSize = FILEINFO_SIZE;
    if (RkFileInfo(png.c_str(), &info, FILEINFO_SIZE) <= 0)
        GTEST_SKIP() << "the file module does not read PNG yet";
    EXPECT_EQ(info.Format, RK_FORMAT_PNG);
    EXPECT_EQ(TDib::GetAlpha(info.Format, info.BitsPerPixel), 3);
}

// ---- printing -------------------------------------------------------------------------------

class PrintTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", tmp_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
    void Settings(int mode, unsigned flags)
    {
        TCarpetaRegistry app(HKEY_CURRENT_USER, TCarpetaRegistry::GetClauAplicacio().c_str());
        TCarpetaRegistry dibKey(app, L"DIB");
        ASSERT_EQ(dibKey.Obrir(1), 1);
        dibKey.EntraValor(L"ModeImpressio", std::uint32_t(mode));
        dibKey.EntraValor(L"FlagsImpressio", flags);
        ASSERT_EQ(dibKey.Tancar(), 1);
    }
    dibtest::TempDir tmp_;
};

TEST_F(PrintTest, DefaultModeUsesInclusiveEdgesAndTheNudge)
{
    auto d = Solid(10, 5, 24, RGB(0, 0, 255));
    Surface s(120, 60);
    const RECT dst{0, 0, 99, 49};
    ASSERT_EQ(d->Print(&s.dc, &dst), DIB_OK);
    // At (1, 1), 100 x 50.
    EXPECT_EQ(s.at(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(s.at(1, 1), RGB(0, 0, 255));
    EXPECT_EQ(s.at(100, 50), RGB(0, 0, 255));
    EXPECT_EQ(s.at(101, 50), RGB(255, 255, 255));
    EXPECT_EQ(s.at(100, 51), RGB(255, 255, 255));
    // Failures are reported, not hidden.
    TDib empty;
    EXPECT_NE(empty.Print(&s.dc, &dst), 0);
    EXPECT_EQ(d->Print(nullptr, &dst), -3009);
    const RECT insideOut{10, 10, 0, 0};
    EXPECT_EQ(d->Print(&s.dc, &insideOut), -3);
}

TEST_F(PrintTest, ModeOnePaintsTheSourceIntoTheDestination)
{
    Settings(1, 0x402);
    auto d = Solid(4, 4, 24, RGB(200, 0, 0));
    d->SetPixel(3, 3, RGB(0, 0, 200));
    Surface s(10, 10);
    const RECT src{2, 2, 4, 4}, dst{0, 0, 8, 8};
    const std::uint32_t before = RkSetDisplayMode(0, 0);
    ASSERT_EQ(d->Print(&s.dc, &src, &dst, nullptr), DIB_OK);
    EXPECT_EQ(RkSetDisplayMode(0, 0), before);
    EXPECT_EQ(s.at(0, 0), RGB(200, 0, 0));
    EXPECT_EQ(s.at(7, 7), RGB(0, 0, 200));
    EXPECT_EQ(s.at(8, 8), RGB(255, 255, 255));
}

TEST_F(PrintTest, PdfPagesCheckedWithPoppler)
{
    if (std::system("command -v pdfimages >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "poppler-utils not installed";
    auto d = Solid(300, 150, 24, RGB(0, 160, 0));
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 150; ++x)
            d->SetPixel(x, y, RGB(160, 0, 0));
    const fs::path pdf = tmp_.path() / "page.pdf";
    CDC dc;
    dc.Attach(WinCreatePrinterDC(nullptr, pdf.c_str(), 0, 0));
    ASSERT_NE(dc.GetSafeHdc(), nullptr);
    ASSERT_GT(StartDocW(dc, nullptr), 0);
    ASSERT_GT(StartPage(dc), 0);
    // One inch from the top-left corner, 3 x 1.5 inches.
    const RECT dst{600, 600, 2399, 1499};
    ASSERT_EQ(d->Print(&dc, &dst), DIB_OK);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
    dc.DeleteDC();

    auto capture = [](const std::string& command) {
        std::string out;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
                out.append(buffer, n);
            ::pclose(p);
        }
        return out;
    };
    const std::string list = capture("pdfimages -list '" + pdf.string() + "'");
    // page num type width height ...: the image at its own size, not resampled.
    int page = 0, num = 0, w = 0, h = 0;
    char type[16] = {};
    const std::size_t line = list.find("\n", list.find("-----"));
    ASSERT_NE(line, std::string::npos) << list;
    ASSERT_EQ(std::sscanf(list.c_str() + line, "%d %d %15s %d %d", &page, &num, type, &w, &h), 5)
        << list;
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 150);
    // Rendered at 20 dpi: the image spans [20, 80) x [20, 50); red on the left, green right.
    const std::string ppm = capture("pdftoppm -r 20 '" + pdf.string() + "'");
    int pw = 0, ph = 0, max = 0, offset = 0;
    ASSERT_EQ(std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &pw, &ph, &max, &offset), 3);
    const auto* px = reinterpret_cast<const unsigned char*>(ppm.data() + offset + 1);
    auto at = [&](int x, int y) {
        const unsigned char* p = px + (std::size_t(y) * pw + x) * 3;
        return RGB(p[0], p[1], p[2]);
    };
    ExpectColour(at(30, 35), 160, 0, 0, 2, "left half");
    ExpectColour(at(70, 35), 0, 160, 0, 2, "right half");
    EXPECT_EQ(at(10, 35), RGB(255, 255, 255));
    EXPECT_EQ(at(30, 60), RGB(255, 255, 255));
}

TEST_F(PrintTest, PrintsToTheSpoolerThroughLp)
{
    const fs::path log = tmp_.path() / "lp.log";
    {
        FILE* f = std::fopen((tmp_.path() / "lp").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "#!/bin/sh\necho \"$@\" > '%s'\nexit 0\n", log.c_str());
        std::fclose(f);
    }
    fs::permissions(tmp_.path() / "lp", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (tmp_.path().string() + ":" + oldPath).c_str(), 1);
    auto d = Solid(8, 8, 24, RGB(1, 2, 3));
    CDC dc;
    dc.Attach(WinCreatePrinterDC("front-desk", nullptr, 0, 0));
    ASSERT_NE(dc.GetSafeHdc(), nullptr);
    ASSERT_GT(StartDocW(dc, nullptr), 0);
    ASSERT_GT(StartPage(dc), 0);
    EXPECT_EQ(d->Print(&dc, nullptr), DIB_OK);
    EXPECT_GT(EndDoc(dc), 0);
    dc.DeleteDC();
    ::setenv("PATH", oldPath.c_str(), 1);
    FILE* f = std::fopen(log.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char args[256] = {};
    ASSERT_NE(std::fgets(args, sizeof args, f), nullptr);
    std::fclose(f);
    EXPECT_EQ(std::string(args).rfind("-d front-desk -- ", 0), 0u) << args;
}

} // namespace
