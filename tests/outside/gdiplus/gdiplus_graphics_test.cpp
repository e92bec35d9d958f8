// GDI+-shaped drawing on cairo: straight alpha, 24-bit rows, interpolation, clipping, the
// unscaled form, bitmap targets and refused arguments.
#include <cairo.h>
#include <gdiplus/gdiplus_graphics.h>
#include <gtest/gtest.h>
#include <vector>
#include <win/cairo_dc.h>
#include <win/gdi.h>

namespace {

struct Surface {
    cairo_surface_t* s;
    cairo_t* cr;
    HDC dc;
    Surface(int w, int h)
        : s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h)), cr(cairo_create(s))
    {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        dc = WinCreateCairoDC(cr, w, h, 96);
    }
    ~Surface()
    {
        DeleteDC(dc);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
    }
    COLORREF at(int x, int y)
    {
        cairo_surface_flush(s);
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s));
        const std::uint32_t v = row[x];
        return RGB(BYTE(v >> 16), BYTE(v >> 8), BYTE(v));
    }
};

// Draws w x h pixels of the given format scaled onto dst of a white surface.
struct Drawing {
    GpGraphics* g = nullptr;
    GpBitmap* b = nullptr;
    Drawing(HDC dc, int w, int h, int stride, PixelFormat f, BYTE* pixels)
    {
        EXPECT_EQ(GdipCreateFromHDC(dc, &g), Ok);
        EXPECT_EQ(GdipCreateBitmapFromScan0(w, h, stride, f, pixels, &b), Ok);
    }
    ~Drawing()
    {
        GdipDisposeImage(image());
        GdipDeleteGraphics(g);
    }
    GpImage* image() { return reinterpret_cast<GpImage*>(b); }
};

TEST(GdiplusGraphics, StraightAlphaComposesOverTheTarget)
{
    Surface s(2, 1);
    BYTE argb[8] = {0, 0, 255, 128, 255, 0, 0, 0}; // red at half opacity, transparent blue
    Drawing d(s.dc, 2, 1, 8, PixelFormat32bppARGB, argb);
    ASSERT_EQ(GdipDrawImageRectI(d.g, d.image(), 0, 0, 2, 1), Ok);
    const COLORREF c = s.at(0, 0);
    EXPECT_EQ(GetRValue(c), 255);
    EXPECT_NEAR(GetGValue(c), 127, 1);
    EXPECT_NEAR(GetBValue(c), 127, 1);
    EXPECT_EQ(s.at(1, 0), RGB(255, 255, 255));
}

TEST(GdiplusGraphics, OpaqueFormatsAndStride)
{
    for (PixelFormat f : {PixelFormat24bppRGB, PixelFormat32bppRGB}) {
        const int bpp = f == PixelFormat24bppRGB ? 3 : 4;
        const int stride = 3 * bpp + 5; // rows padded beyond their pixels
        std::vector<BYTE> px(std::size_t(stride) * 2, 0);
        px[0] = 10, px[1] = 20, px[2] = 30;          // (0, 0)
        px[std::size_t(stride) + 2 * bpp + 2] = 200; // (2, 1) red
        if (bpp == 4)
            px[3] = 0; // unused byte: still opaque
        Surface s(3, 2);
        Drawing d(s.dc, 3, 2, stride, f, px.data());
        ASSERT_EQ(GdipDrawImageRectI(d.g, d.image(), 0, 0, 3, 2), Ok);
        EXPECT_EQ(s.at(0, 0), RGB(30, 20, 10)) << f;
        EXPECT_EQ(s.at(2, 1), RGB(200, 0, 0)) << f;
        EXPECT_EQ(s.at(1, 1), RGB(0, 0, 0)) << f;
    }
}

TEST(GdiplusGraphics, InterpolationModes)
{
    // A 16 x 16 checkerboard reduced to 4 x 4.
    std::vector<BYTE> px(16 * 16 * 4);
    for (int i = 0; i < 256; ++i) {
        const BYTE v = ((i % 16) + (i / 16)) % 2 ? 255 : 0;
        px[i * 4] = px[i * 4 + 1] = px[i * 4 + 2] = v;
        px[i * 4 + 3] = 255;
    }
    struct Case {
        InterpolationMode mode;
        bool grey;
    } cases[] = {{InterpolationModeNearestNeighbor, false},
                 {InterpolationModeBicubic, true},
                 {InterpolationModeHighQualityBicubic, true}};
    for (const Case& c : cases) {
        Surface s(4, 4);
        Drawing d(s.dc, 16, 16, 64, PixelFormat32bppARGB, px.data());
        ASSERT_EQ(GdipSetInterpolationMode(d.g, c.mode), Ok);
        InterpolationMode back;
        ASSERT_EQ(GdipGetInterpolationMode(d.g, &back), Ok);
        EXPECT_EQ(back, c.mode);
        ASSERT_EQ(GdipDrawImageRectRectI(d.g, d.image(), 0, 0, 4, 4, 0, 0, 16, 16, UnitPixel,
                                         nullptr, nullptr, nullptr),
                  Ok);
        const int g = GetGValue(s.at(1, 2));
        if (c.grey)
            EXPECT_NEAR(g, 128, 16) << c.mode;
        else
            EXPECT_TRUE(g == 0 || g == 255) << c.mode;
    }
}

TEST(GdiplusGraphics, ClipAndUnscaledPart)
{
    std::vector<BYTE> px(4 * 4 * 4, 0);
    for (int i = 0; i < 16; ++i) {
        px[i * 4 + 2] = BYTE(i * 16); // red = 16 * index
        px[i * 4 + 3] = 255;
    }
    Surface s(6, 6);
    Drawing d(s.dc, 4, 4, 16, PixelFormat32bppARGB, px.data());
    ASSERT_EQ(GdipSetClipRectI(d.g, 0, 0, 3, 6, CombineModeReplace), Ok);
    // The part at (1, 1) of size 2 x 2, drawn unscaled at (1, 1): the clip hides column 3.
    ASSERT_EQ(GdipDrawImagePointRectI(d.g, d.image(), 1, 1, 1, 1, 2, 2, UnitPixel), Ok);
    EXPECT_EQ(GetRValue(s.at(1, 1)), 5 * 16);
    EXPECT_EQ(GetRValue(s.at(2, 2)), 10 * 16);
    EXPECT_EQ(s.at(3, 1), RGB(255, 255, 255));
    EXPECT_EQ(s.at(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GdipSetClipRectI(d.g, 0, 0, 1, 1, CombineModeIntersect), Ok);
    EXPECT_EQ(GdipResetClip(d.g), Ok);
}

TEST(GdiplusGraphics, DrawsOnBitmapContexts)
{
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 3, 2, 1, 24, 0, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, section);
    HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
    const RECT all{0, 0, 3, 2};
    FillRect(dc, &all, white);
    BYTE argb[4] = {255, 0, 0, 128}; // blue at half opacity
    {
        Drawing d(dc, 1, 1, 4, PixelFormat32bppARGB, argb);
        ASSERT_EQ(GdipDrawImageRectI(d.g, d.image(), 1, 0, 2, 1), Ok);
    }
    const COLORREF c = GetPixel(dc, 2, 0);
    EXPECT_NEAR(GetRValue(c), 127, 1);
    EXPECT_EQ(GetBValue(c), 255);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 255, 255));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(section);
    DeleteObject(white);
}

TEST(GdiplusGraphics, RefusesBadArguments)
{
    BYTE px[16] = {};
    GpBitmap* b = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromScan0(2, 2, 8, PixelFormat32bppARGB, nullptr, &b),
              InvalidParameter);
    EXPECT_EQ(GdipCreateBitmapFromScan0(0, 2, 8, PixelFormat32bppARGB, px, &b), InvalidParameter);
    EXPECT_EQ(GdipCreateBitmapFromScan0(2, 2, 7, PixelFormat32bppARGB, px, &b), InvalidParameter);
    EXPECT_EQ(GdipCreateBitmapFromScan0(2, 2, 8, 0x30101, px, &b), InvalidParameter);
    EXPECT_EQ(b, nullptr);
    GpGraphics* g = nullptr;
    EXPECT_EQ(GdipCreateFromHDC(nullptr, &g), InvalidParameter);
    EXPECT_EQ(GdipDeleteGraphics(nullptr), InvalidParameter);
    EXPECT_EQ(GdipDisposeImage(nullptr), InvalidParameter);
    Surface s(2, 2);
    Drawing d(s.dc, 2, 2, 8, PixelFormat32bppARGB, px);
    EXPECT_EQ(GdipSetClipRectI(d.g, 0, 0, -1, 1, CombineModeReplace), InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectRectI(d.g, d.image(), 0, 0, 2, 2, 0, 0, 2, 2, UnitWorld, nullptr,
                                     nullptr, nullptr),
              InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectI(d.g, d.image(), 0, 0, -2, 2), InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectI(d.g, d.image(), 0, 0, 0, 2), Ok);
    // A source rectangle outside the image draws nothing.
    EXPECT_EQ(GdipDrawImageRectRectI(d.g, d.image(), 0, 0, 2, 2, 5, 5, 2, 2, UnitPixel, nullptr,
                                     nullptr, nullptr),
              Ok);
    EXPECT_EQ(s.at(0, 0), RGB(255, 255, 255));
}

} // namespace
