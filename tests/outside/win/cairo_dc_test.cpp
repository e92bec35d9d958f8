// Device contexts on host cairo contexts: drawing through cairo, reading image surfaces,
// transformations, surfaces that cannot be read.
#include <cairo.h>
#include <cstring>
#include <gtest/gtest.h>
#include <win/cairo_dc.h>
#include <win/fault_injection.h>
#include <win/gdi.h>

namespace {

// An RGB24 image surface with a cairo context and a DC on it.
struct Host {
    cairo_surface_t* surface;
    cairo_t* cr;
    HDC dc = nullptr;
    Host(int width, int height, cairo_format_t format = CAIRO_FORMAT_RGB24)
        : surface(cairo_image_surface_create(format, width, height)), cr(cairo_create(surface))
    {
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
    }
    ~Host()
    {
        DeleteDC(dc);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    // The surface pixel as a colour value.
    COLORREF at(int x, int y)
    {
        cairo_surface_flush(surface);
        std::uint32_t v;
        std::memcpy(&v,
                    cairo_image_surface_get_data(surface) +
                        y * cairo_image_surface_get_stride(surface) + 4 * x,
                    4);
        return RGB(BYTE(v >> 16), BYTE(v >> 8), BYTE(v));
    }
};

// A 2x2 24-bit bitmap selected into a memory DC: red, green / blue, grey.
struct Quad {
    const COLORREF q[2][2] = {{RGB(255, 0, 0), RGB(0, 255, 0)}, {RGB(0, 0, 255), RGB(9, 9, 9)}};
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap;
    HGDIOBJ old;
    Quad()
    {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
        old = SelectObject(dc, bitmap);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                SetPixel(dc, x, y, q[y][x]);
    }
    ~Quad()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
};

TEST(CairoDc, CreationCapsAndOwnership)
{
    Host host(40, 30);
    EXPECT_EQ(cairo_get_reference_count(host.cr), 1u);
    host.dc = WinCreateCairoDC(host.cr, 40, 30, 0);
    ASSERT_NE(host.dc, nullptr);
    EXPECT_EQ(cairo_get_reference_count(host.cr), 2u);
    EXPECT_EQ(WinGetDCCairo(host.dc), host.cr);
    EXPECT_EQ(GetDeviceCaps(host.dc, HORZRES), 40);
    EXPECT_EQ(GetDeviceCaps(host.dc, VERTRES), 30);
    EXPECT_EQ(GetDeviceCaps(host.dc, BITSPIXEL), 32);
    EXPECT_EQ(GetDeviceCaps(host.dc, LOGPIXELSX), 96);
    EXPECT_EQ(GetObjectType(host.dc), OBJ_DC);

    HDC printer = WinCreateCairoDC(host.cr, 40, 30, 300);
    EXPECT_EQ(GetDeviceCaps(printer, LOGPIXELSY), 300);
    EXPECT_TRUE(DeleteDC(printer));
    EXPECT_EQ(cairo_get_reference_count(host.cr), 2u);

    // No bitmap goes into it; bitmaps made compatible with it are 32-bit.
    HBITMAP bitmap = CreateCompatibleBitmap(host.dc, 3, 3);
    BITMAP bm{};
    GetObjectW(bitmap, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    EXPECT_EQ(SelectObject(host.dc, bitmap), nullptr);
    EXPECT_EQ(GetCurrentObject(host.dc, OBJ_BITMAP), nullptr);
    DeleteObject(bitmap);

    HDC memory = CreateCompatibleDC(nullptr);
    EXPECT_EQ(WinGetDCCairo(memory), nullptr);
    DeleteDC(memory);
    EXPECT_EQ(WinCreateCairoDC(nullptr, 1, 1, 0), nullptr);
    EXPECT_EQ(WinCreateCairoDC(host.cr, 0, 1, 0), nullptr);
    EXPECT_TRUE(DeleteDC(host.dc));
    host.dc = nullptr;
    EXPECT_EQ(cairo_get_reference_count(host.cr), 1u);
}

TEST(CairoDc, FillsPixelsAndReadsBack)
{
    Host host(20, 10);
    host.dc = WinCreateCairoDC(host.cr, 20, 10, 0);
    HBRUSH brush = CreateSolidBrush(RGB(200, 100, 50));
    const RECT r{2, 3, 5, 7};
    EXPECT_NE(FillRect(host.dc, &r, brush), 0);
    DeleteObject(brush);
    EXPECT_EQ(host.at(2, 3), RGB(200, 100, 50));
    EXPECT_EQ(host.at(4, 6), RGB(200, 100, 50));
    EXPECT_EQ(host.at(5, 6), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(host.dc, 4, 6), RGB(200, 100, 50));
    EXPECT_EQ(SetPixel(host.dc, 19, 9, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(host.at(19, 9), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(host.dc, 19, 9), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(host.dc, 20, 0), CLR_INVALID);
    EXPECT_EQ(SetPixel(host.dc, -1, 0, 0), CLR_INVALID);
}

TEST(CairoDc, TransformationAppliesToDrawingAndReading)
{
    Host host(10, 10);
    cairo_translate(host.cr, 5, 4);
    host.dc = WinCreateCairoDC(host.cr, 5, 6, 0);
    SetPixel(host.dc, 0, 0, RGB(10, 20, 30));
    EXPECT_EQ(host.at(5, 4), RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(host.dc, 0, 0), RGB(10, 20, 30));
}

TEST(CairoDc, BlitsBothWays)
{
    Quad quad;
    Host host(6, 6);
    host.dc = WinCreateCairoDC(host.cr, 6, 6, 0);
    EXPECT_TRUE(StretchBlt(host.dc, 0, 0, 4, 4, quad.dc, 0, 0, 2, 2, SRCCOPY));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(host.at(x, y), quad.q[y / 2][x / 2]) << x << "," << y;
    EXPECT_EQ(host.at(4, 4), RGB(255, 255, 255));
    // Mirrored, and partly outside the source (that part stays as it was).
    EXPECT_TRUE(StretchBlt(host.dc, 6, 4, -2, 2, quad.dc, 0, 0, 2, 2, SRCCOPY));
    EXPECT_EQ(host.at(4, 4), quad.q[0][1]);
    EXPECT_EQ(host.at(5, 5), quad.q[1][0]);
    EXPECT_TRUE(BitBlt(host.dc, 4, 0, 2, 2, quad.dc, 1, 1, NOTSRCCOPY));
    EXPECT_EQ(host.at(4, 0), RGB(246, 246, 246));
    EXPECT_EQ(host.at(5, 0), RGB(255, 255, 255));

    // The host as a source.
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(nullptr, 6, 6);
    HGDIOBJ old = SelectObject(memory, bitmap);
    EXPECT_TRUE(BitBlt(memory, 0, 0, 6, 6, host.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(memory, 3, 3), quad.q[1][1]);
    EXPECT_EQ(GetPixel(memory, 5, 5), quad.q[1][0]);

    // Combining operations go through a copy of the picture.
    EXPECT_TRUE(BitBlt(host.dc, 0, 0, 1, 1, memory, 3, 3, SRCINVERT));
    EXPECT_EQ(host.at(0, 0), RGB(255 ^ 9, 9, 9));
    EXPECT_TRUE(BitBlt(host.dc, 0, 0, 6, 6, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(host.at(5, 5), RGB(0, 0, 0));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

TEST(CairoDc, ScaledContextKeepsSourceResolution)
{
    // A 2x2 bitmap drawn into one unit of a context scaled by 2 fills 2x2 device pixels with
    // all four source pixels, as a print page receives the image itself.
    Quad quad;
    Host host(2, 2);
    cairo_scale(host.cr, 2, 2);
    host.dc = WinCreateCairoDC(host.cr, 1, 1, 0);
    EXPECT_TRUE(StretchBlt(host.dc, 0, 0, 1, 1, quad.dc, 0, 0, 2, 2, SRCCOPY));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            EXPECT_EQ(host.at(x, y), quad.q[y][x]) << x << "," << y;
}

HICON monochromeIcon()
{
    // 4x1: AND 0011 over XOR 0101: black, white, transparent, inverted.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD c[2];
    } info{{sizeof(BITMAPINFOHEADER), 4, -2, 1, 1, BI_RGB, 0, 0, 0, 2, 0},
           {{0, 0, 0, 0}, {255, 255, 255, 0}}};
    void* bits = nullptr;
    HBITMAP mask = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
    static_cast<BYTE*>(bits)[0] = 0x30;
    static_cast<BYTE*>(bits)[4] = 0x50;
    ICONINFO ii{TRUE, 0, 0, mask, nullptr};
    HICON icon = CreateIconIndirect(&ii);
    DeleteObject(mask);
    return icon;
}

TEST(CairoDc, DrawIconOnReadableSurface)
{
    HICON icon = monochromeIcon();
    Host host(4, 1);
    host.dc = WinCreateCairoDC(host.cr, 4, 1, 0);
    HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
    const RECT all{0, 0, 4, 1};
    FillRect(host.dc, &all, brush);
    DeleteObject(brush);
    EXPECT_TRUE(DrawIcon(host.dc, 0, 0, icon));
    EXPECT_EQ(host.at(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(host.at(1, 0), RGB(255, 255, 255));
    EXPECT_EQ(host.at(2, 0), RGB(10, 200, 30));
    EXPECT_EQ(host.at(3, 0), RGB(245, 55, 225));
    DestroyIcon(icon);
}

TEST(CairoDc, UnreadableSurfaceDrawsButCannotBeRead)
{
    HICON icon = monochromeIcon();
    Quad quad;
    cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR, nullptr);
    cairo_t* cr = cairo_create(recording);
    HDC dc = WinCreateCairoDC(cr, 4, 3, 72);
    ASSERT_NE(dc, nullptr);
    HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
    const RECT all{0, 0, 4, 3};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    EXPECT_TRUE(DrawIcon(dc, 0, 0, icon));
    EXPECT_TRUE(StretchBlt(dc, 0, 1, 4, 2, quad.dc, 0, 0, 2, 2, SRCCOPY));
    EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
    EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, quad.dc, 0, 0, SRCAND));
    HDC memory = CreateCompatibleDC(nullptr);
    EXPECT_FALSE(BitBlt(memory, 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
    DeleteDC(memory);
    DeleteDC(dc);
    cairo_destroy(cr);

    // Replay the recording onto an image to see what was drawn.
    Host host(4, 3);
    cairo_set_source_surface(host.cr, recording, 0, 0);
    cairo_paint(host.cr);
    cairo_surface_destroy(recording);
    EXPECT_EQ(host.at(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(host.at(1, 0), RGB(255, 255, 255));
    EXPECT_EQ(host.at(2, 0), RGB(10, 200, 30));
    EXPECT_EQ(host.at(3, 0), RGB(245, 55, 225));
    EXPECT_EQ(host.at(1, 1), quad.q[0][0]);
    EXPECT_EQ(host.at(3, 2), quad.q[1][1]);
    DestroyIcon(icon);
}

} // namespace
