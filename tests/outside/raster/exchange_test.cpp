// Packed DIBs, DIB sections and device contexts on bitmaps.
#include "raster_test_util.h"

#include <climits>
#include <cstring>
#include <win/gdi.h>
#include <win/global_memory.h>

using namespace rktest;

namespace {

struct Global {
    HGLOBAL h;
    explicit Global(HGLOBAL handle) : h(handle) {}
    ~Global()
    {
        if (h)
            GlobalFree(h);
    }
    std::uint8_t* lock() { return static_cast<std::uint8_t*>(GlobalLock(h)); }
    void unlock() { GlobalUnlock(h); }
};

// A packed DIB in a movable block: header, colour table, pixels.
HGLOBAL packDib(const BITMAPINFOHEADER& h, const std::vector<std::uint8_t>& rest,
                std::size_t cut = 0)
{
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, sizeof h + rest.size() - cut);
    auto* p = static_cast<std::uint8_t*>(GlobalLock(g));
    std::memcpy(p, &h, sizeof h);
    std::memcpy(p + sizeof h, rest.data(), rest.size() - cut);
    GlobalUnlock(g);
    return g;
}

BITMAPINFOHEADER header(int w, int h, int bits, DWORD compression = BI_RGB, DWORD used = 0)
{
    BITMAPINFOHEADER b{};
    b.biSize = 40;
    b.biWidth = w;
    b.biHeight = h;
    b.biPlanes = 1;
    b.biBitCount = WORD(bits);
    b.biCompression = compression;
    b.biClrUsed = used;
    return b;
}

TEST(RasterDib, ImportsHandBuiltDibs)
{
    // 3 x 2, 24 bits, bottom-up: the first row in memory is the bottom of the picture.
    std::vector<std::uint8_t> pix = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0,  // bottom
                                     10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0}; // top
    Global g(packDib(header(3, 2, 24), pix));
    Bmp b;
    ASSERT_EQ(RkConvertFromDIB(b.get(), 284, g.h), RK_SUCCESS);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), RGB(30, 20, 10));
    EXPECT_EQ(RkGetPixelColor(b.get(), 1, 2), RGB(9, 8, 7));

    // 1 bit, two-colour table, top-down, through the header-and-bits entry.
    std::vector<std::uint8_t> mono(sizeof(BITMAPINFOHEADER) + 8);
    BITMAPINFOHEADER h = header(10, -1, 1);
    std::memcpy(mono.data(), &h, sizeof h);
    std::uint8_t table[8] = {0, 0, 255, 0, 255, 0, 0, 0}; // red, blue
    std::memcpy(mono.data() + 40, table, 8);
    std::uint8_t bits1[4] = {0x40, 0x40, 0, 0}; // pixels 1 and 9 set
    ASSERT_EQ(RkConvertFromDIBBits(b.get(), 284, reinterpret_cast<BITMAPINFO*>(mono.data()), bits1),
              RK_SUCCESS);
    EXPECT_EQ(b->BitsPerPixel, 1);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 1), RGB(0, 0, 255));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 9), RGB(0, 0, 255));

    // 16 bits 5-6-5 through BI_BITFIELDS becomes 24 bits.
    std::vector<std::uint8_t> f = {0x00, 0xF8, 0,    0,    0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0, // masks
                                   0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0};               // R G B
    Global g565(packDib(header(3, 1, 16, BI_BITFIELDS), f));
    ASSERT_EQ(RkConvertFromDIB(b.get(), 284, g565.h), RK_SUCCESS);
    EXPECT_EQ(b->BitsPerPixel, 24);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 1), RGB(0, 255, 0));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 2), RGB(0, 0, 255));
}

std::vector<std::uint8_t> le32(std::initializer_list<std::uint32_t> words)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            out.push_back(std::uint8_t(w >> (8 * i)));
    return out;
}

TEST(RasterDib, BitFieldHeaders)
{
    // One 32-bit pixel 0x11223344 under several mask sets.
    struct Case {
        const char* what;
        DWORD size; // header bytes
        std::uint32_t r, g, b;
        int rc;
        COLORREF colour;
    } cases[] = {
        {"masks inside a 124-byte header", 124, 0xFF, 0xFF00, 0xFF0000, RK_SUCCESS,
         RGB(0x44, 0x33, 0x22)},
        {"zero masks", 40, 0, 0, 0, RK_SUCCESS, RGB(0, 0, 0)},
        {"whole-word masks", 56, 0xFFFFFFFF, 0xFFFFFFFF, 0x80000000, RK_SUCCESS,
         RGB(0x11, 0x11, 0)},
        {"a header too short to hold its masks", 44, 0xFF0000, 0xFF00, 0xFF, RK_ERROR_INV_PARAMETER,
         0},
    };
    for (const Case& c : cases) {
        BITMAPINFOHEADER h = header(1, 1, 32, BI_BITFIELDS);
        h.biSize = c.size;
        // Masks follow the first 40 bytes, inside the header or after it; then the pixel, and
        // room enough that a misplaced mask would be read.
        auto rest = c.size == 44 ? std::vector<std::uint8_t>(4) : le32({c.r, c.g, c.b});
        if (c.size > 52)
            rest.resize(c.size - 40);
        for (std::uint8_t v : le32({0x11223344, 0, 0, 0}))
            rest.push_back(v);
        Global g(packDib(h, rest));
        Bmp b;
        EXPECT_EQ(RkConvertFromDIB(b.get(), 284, g.h), c.rc) << c.what;
        if (c.rc == RK_SUCCESS) {
            EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), c.colour) << c.what;
        }
    }
    // Masks that would lie past the end of the block.
    Global cut(packDib(header(1, 1, 16, BI_BITFIELDS), {0x00, 0x7C, 0, 0}));
    Bmp b;
    EXPECT_EQ(RkConvertFromDIB(b.get(), 284, cut.h), RK_ERROR_INV_PARAMETER);
    // A colour table at 24 bits (biClrUsed) lies between the header and the pixels.
    Global table(packDib(header(1, 1, 24, BI_RGB, 2), {9, 9, 9, 0, 9, 9, 9, 0, 1, 2, 3, 0}));
    ASSERT_EQ(RkConvertFromDIB(b.get(), 284, table.h), RK_SUCCESS);
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), RGB(3, 2, 1));
}

TEST(RasterDib, HostileHeadersAreRefusedAndKeepTheBitmap)
{
    Bmp b;
    ASSERT_EQ(create(b, 2, 2, 8), RK_SUCCESS);
    std::vector<std::uint8_t> eight(1024 + 8, 0);
    std::vector<std::uint8_t> rgb(64, 0);
    BITMAPINFOHEADER tooManyColours = header(2, 2, 8, BI_RGB, 300);
    BITMAPINFOHEADER moreThanDepth = header(2, 2, 4, BI_RGB, 17);
    BITMAPINFOHEADER negativeWidth = header(-2, 2, 24);
    BITMAPINFOHEADER minHeight = header(2, INT_MIN, 24);
    BITMAPINFOHEADER hugeHeader = header(2, 2, 24);
    hugeHeader.biSize = 0x7FFFFFFF;
    BITMAPINFOHEADER absurd = header(0x7FFFFFF, 0x7FFFFFF, 24);
    struct Case {
        const char* what;
        BITMAPINFOHEADER h;
        const std::vector<std::uint8_t>& rest;
        std::size_t cut;
        int rc;
    } cases[] = {
        {"biClrUsed > 256", tooManyColours, eight, 0, RK_ERROR_INV_PARAMETER},
        {"biClrUsed > 2^bits", moreThanDepth, eight, 0, RK_ERROR_INV_PARAMETER},
        {"negative width", negativeWidth, rgb, 0, RK_ERROR_INV_PARAMETER},
        {"INT_MIN height", minHeight, rgb, 0, RK_ERROR_INV_PARAMETER},
        {"header larger than block", hugeHeader, rgb, 0, RK_ERROR_INV_PARAMETER},
        {"absurd size, small block", absurd, rgb, 0, RK_ERROR_INV_PARAMETER},
        {"truncated pixels", header(2, 2, 24), rgb, 50, RK_ERROR_INV_PARAMETER},
        {"truncated table", header(2, 2, 8), eight, 1020, RK_ERROR_INV_PARAMETER},
        {"12 bits", header(2, 2, 12), rgb, 0, RK_ERROR_BITSPERPIXEL},
        {"RLE8", header(2, 2, 8, BI_RLE8), eight, 0, RK_ERROR_BITSPERPIXEL},
        {"bitfields at 24 bits", header(2, 2, 24, BI_BITFIELDS), rgb, 0, RK_ERROR_BITSPERPIXEL},
    };
    for (const Case& c : cases) {
        Global g(packDib(c.h, c.rest, c.cut));
        EXPECT_EQ(RkConvertFromDIB(b.get(), 284, g.h), c.rc) << c.what;
        EXPECT_EQ(b->BitsPerPixel, 8) << c.what;
    }
    Global tiny(GlobalAlloc(GMEM_MOVEABLE, 10));
    EXPECT_EQ(RkConvertFromDIB(b.get(), 284, tiny.h), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkConvertFromDIB(b.get(), 284, nullptr), RK_ERROR_INV_HANDLE);
    int notAHandle = 0;
    EXPECT_EQ(RkConvertFromDIB(b.get(), 284, &notAHandle), RK_ERROR_INV_HANDLE);
    EXPECT_EQ(RkConvertFromDIB(b.get(), 200, tiny.h), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkConvertFromDDB(nullptr, b.get(), 284, nullptr, nullptr, 0), RK_ERROR_INV_HANDLE);
    EXPECT_TRUE(b->Flags & BITMAP_FLAG_ALLOCATED);
}

void fillRect(HDC dc, int l, int t, int r, int btm, COLORREF colour)
{
    RECT rect{l, t, r, btm};
    HBRUSH brush = CreateSolidBrush(colour);
    EXPECT_NE(FillRect(dc, &rect, brush), 0);
    DeleteObject(brush);
}

TEST(RasterDc, DrawingLandsInThePixels)
{
    struct Case {
        int bits;
        std::uint32_t flags;
        int view;
    } cases[] = {{24, 0x201, RK_TOP_LEFT}, {24, 0x201, RK_BOTTOM_LEFT}, {8, 0x201, RK_TOP_LEFT},
                 {1, 0x201, RK_TOP_LEFT},  {2, 0x201, RK_TOP_LEFT},     {32, 0x201, RK_TOP_LEFT},
                 {48, 0x201, RK_TOP_LEFT}, {24, 0x80, RK_BOTTOM_LEFT},  {4, 0x80, RK_TOP_LEFT},
                 {16, 0x201, RK_TOP_LEFT}};
    for (const Case& c : cases) {
        Bmp b;
        ASSERT_EQ(create(b, 6, 5, c.bits, c.flags, c.view), RK_SUCCESS);
        HDC dc = RkCreateBitmapDC(b.get());
        ASSERT_NE(dc, nullptr) << c.bits;
        fillRect(dc, 1, 0, 3, 2, RGB(255, 255, 255));
        ASSERT_EQ(RkDeleteBitmapDC(dc), RK_SUCCESS);
        EXPECT_EQ(RkDeleteBitmapDC(dc), RK_ERROR_INV_HANDLE);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                int stored = c.view == RK_TOP_LEFT ? y : 4 - y;
                bool inside = x >= 1 && x < 3 && y < 2;
                ASSERT_EQ(RkGetPixelColor(b.get(), stored, x),
                          inside ? RGB(255, 255, 255) : RGB(0, 0, 0))
                    << "bits " << c.bits << " flags " << c.flags << " (" << x << "," << y << ")";
            }
    }
}

TEST(RasterDc, KeepsPrecisionAndSurvivesTheBitmap)
{
    // At 48 bits, pixels the drawing did not touch keep their low bytes.
    Bmp b;
    ASSERT_EQ(create(b, 4, 1, 48), RK_SUCCESS);
    std::uint8_t row[24] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    RkPutBitmapRow(b.get(), row, 0, 24);
    HDC dc = RkCreateBitmapDC(b.get());
    ASSERT_NE(dc, nullptr);
    fillRect(dc, 2, 0, 3, 1, RGB(1, 2, 3));
    ASSERT_EQ(RkDeleteBitmapDC(dc), RK_SUCCESS);
    std::uint8_t back[24];
    RkGetBitmapRow(b.get(), back, 0, 24);
    EXPECT_EQ(0, std::memcmp(back, row, 6));
    EXPECT_EQ(RkGetPixelColor(b.get(), 0, 2), RGB(1, 2, 3));

    // A context that outlives its bitmap draws into storage it keeps alive.
    Bmp c;
    ASSERT_EQ(create(c, 8, 8, 24), RK_SUCCESS);
    dc = RkCreateBitmapDC(c.get());
    ASSERT_NE(dc, nullptr);
    RkFreeBitmap(c.get());
    fillRect(dc, 0, 0, 8, 8, RGB(9, 9, 9));
    EXPECT_EQ(RkDeleteBitmapDC(dc), RK_SUCCESS);
    EXPECT_EQ(RkDeleteBitmapDC(nullptr), RK_ERROR_INV_HANDLE);
    Bmp empty;
    EXPECT_EQ(RkCreateBitmapDC(empty.get()), nullptr);
}

} // namespace
