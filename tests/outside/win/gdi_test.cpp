// Software GDI: DIB sections at every depth, fills, pixels, blits, icons, handle validation.
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>
#include <win/fault_injection.h>
#include <win/gdi.h>

namespace {

// A BITMAPINFO with room for a full colour table.
struct Info {
    BITMAPINFOHEADER header{};
    RGBQUAD colours[256]{};
    const BITMAPINFO* get() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

Info makeInfo(int width, int height, int bpp, std::vector<COLORREF> palette = {})
{
    Info info;
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = height;
    info.header.biPlanes = 1;
    info.header.biBitCount = WORD(bpp);
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = DWORD(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i)
        info.colours[i] = {GetBValue(palette[i]), GetGValue(palette[i]), GetRValue(palette[i]), 0};
    return info;
}

std::vector<COLORREF> greys(int n)
{
    std::vector<COLORREF> p;
    for (int i = 0; i < n; ++i) {
        BYTE v = BYTE(i * 255 / (n - 1));
        p.push_back(RGB(v, v, v));
    }
    return p;
}

// A memory DC with a new DIB section selected; both released at the end of the scope.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    void* bits = nullptr;
    Canvas(int width, int height, int bpp, std::vector<COLORREF> palette = {})
    {
        Info info = makeInfo(width, height, bpp, std::move(palette));
        bitmap = CreateDIBSection(nullptr, info.get(), DIB_RGB_COLORS, &bits, nullptr, 0);
        dc = CreateCompatibleDC(nullptr);
        old = SelectObject(dc, bitmap);
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    void fill(RECT r, COLORREF c) const
    {
        HBRUSH brush = CreateSolidBrush(c);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
};

struct DepthCase {
    int bpp;
    std::vector<COLORREF> palette;
    COLORREF colour; // exactly representable at that depth
};

class DibDepth : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(DibDepth, CreateFillSetGetAndLayout)
{
    const DepthCase cases[] = {
        {1, {RGB(0, 0, 0), RGB(255, 255, 255)}, RGB(255, 255, 255)},
        {4, greys(16), RGB(17, 17, 17)},
        {8, {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 0, 255)}, RGB(255, 0, 0)},
        {16, {}, RGB(255, 0, 132)},
        {24, {}, RGB(1, 2, 3)},
        {32, {}, RGB(1, 2, 3)},
    };
    const auto [index, topDown] = GetParam();
    const DepthCase& c = cases[index];
    SCOPED_TRACE(c.bpp);
    const int w = 13, h = 5;
    Canvas canvas(w, topDown ? -h : h, c.bpp, c.palette);
    ASSERT_NE(canvas.bitmap, nullptr);
    ASSERT_NE(canvas.bits, nullptr);

    BITMAP bm{};
    ASSERT_EQ(GetObjectW(canvas.bitmap, sizeof(bm), &bm), int(sizeof(BITMAP)));
    const int stride = ((w * c.bpp + 31) / 32) * 4;
    EXPECT_EQ(bm.bmWidth, w);
    EXPECT_EQ(bm.bmHeight, h);
    EXPECT_EQ(bm.bmWidthBytes, stride);
    EXPECT_EQ(bm.bmBitsPixel, c.bpp);
    EXPECT_EQ(bm.bmBits, canvas.bits);
    DIBSECTION ds{};
    ASSERT_EQ(GetObjectW(canvas.bitmap, sizeof(ds), &ds), int(sizeof(DIBSECTION)));
    EXPECT_EQ(ds.dsBmih.biHeight, topDown ? -h : h);

    // New pixels are zero: black, or palette entry 0.
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), c.palette.empty() ? RGB(0, 0, 0) : c.palette[0]);
    canvas.fill({2, 1, 12, 4}, c.colour);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            bool inside = x >= 2 && x < 12 && y >= 1 && y < 4;
            if (inside) {
                ASSERT_EQ(GetPixel(canvas.dc, x, y), c.colour) << x << "," << y;
            } else {
                ASSERT_NE(GetPixel(canvas.dc, x, y), c.colour) << x << "," << y;
            }
        }
    EXPECT_EQ(SetPixel(canvas.dc, 0, 0, c.colour), c.colour);
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), c.colour);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {w, 0}, {0, h}}) {
        EXPECT_EQ(GetPixel(canvas.dc, x, y), CLR_INVALID);
        EXPECT_EQ(SetPixel(canvas.dc, x, y, c.colour), CLR_INVALID);
    }

    // Picture row 0 is the first stored row of a top-down section, the last of a bottom-up one.
    const auto* bytes = static_cast<const BYTE*>(canvas.bits);
    const BYTE* top = bytes + (topDown ? 0 : std::size_t(h - 1) * stride);
    EXPECT_NE(top[0], 0);
    const BYTE* other = bytes + (topDown ? std::size_t(h - 1) * stride : 0);
    EXPECT_EQ(other[0], 0);
    if (c.bpp == 24) {
        EXPECT_EQ(top[0], 3); // blue, green, red
        EXPECT_EQ(top[2], 1);
    }
    if (c.bpp == 32) {
        EXPECT_EQ(top[3], 0); // GDI leaves the fourth byte 0
    }
}

INSTANTIATE_TEST_SUITE_P(AllDepths, DibDepth,
                         ::testing::Combine(::testing::Range(0, 6), ::testing::Bool()));

TEST(Dib, ColoursMapToTheNearestPaletteEntry)
{
    Canvas canvas(4, 1, 8, greys(256));
    EXPECT_EQ(SetPixel(canvas.dc, 0, 0, RGB(100, 110, 120)), RGB(110, 110, 110));
    Canvas mono(4, 1, 1, {RGB(0, 0, 0), RGB(255, 255, 255)});
    EXPECT_EQ(SetPixel(mono.dc, 0, 0, RGB(200, 90, 200)), RGB(255, 255, 255));
    EXPECT_EQ(SetPixel(mono.dc, 1, 0, RGB(60, 90, 60)), RGB(0, 0, 0));
    // 16 bits keep 5 bits per channel.
    Canvas c16(1, 1, 16);
    EXPECT_EQ(SetPixel(c16.dc, 0, 0, RGB(0x87, 0x40, 0x0F)), RGB(0x84, 0x42, 0x08));
}

TEST(Dib, RefusesBadHeaders)
{
    struct Case {
        const char* what;
        Info info;
    };
    std::vector<Case> cases = {
        {"zero width", makeInfo(0, 4, 24)},
        {"negative width", makeInfo(-4, 4, 24)},
        {"zero height", makeInfo(4, 0, 24)},
        {"2 bits", makeInfo(4, 4, 2)},
        {"48 bits", makeInfo(4, 4, 48)},
        {"40 GB", makeInfo(100000, 100000, 32)},
        {"stride overflow", makeInfo(0x7FFFFFFF, 2, 32)},
    };
    Info rle = makeInfo(4, 4, 8);
    rle.header.biCompression = BI_RLE8;
    cases.push_back({"RLE", rle});
    Info planes = makeInfo(4, 4, 8);
    planes.header.biPlanes = 2;
    cases.push_back({"planes", planes});
    Info small = makeInfo(4, 4, 8);
    small.header.biSize = 12;
    cases.push_back({"core header", small});
    Info huge = makeInfo(4, 4, 8);
    huge.header.biSize = 0xFFFFFFF0; // would place the colour table far outside
    cases.push_back({"huge header", huge});
    for (const Case& c : cases) {
        void* bits = reinterpret_cast<void*>(1);
        EXPECT_EQ(CreateDIBSection(nullptr, c.info.get(), DIB_RGB_COLORS, &bits, nullptr, 0),
                  nullptr)
            << c.what;
        EXPECT_EQ(bits, nullptr) << c.what;
    }
    Info ok = makeInfo(4, 4, 8);
    EXPECT_EQ(CreateDIBSection(nullptr, ok.get(), DIB_PAL_COLORS, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(CreateDIBSectionOnMemory(ok.get(), nullptr), nullptr);
}

TEST(Dib, SectionOnCallerMemoryDrawsThereAndLeavesItAlone)
{
    std::vector<BYTE> pixels(4 * 3 * 2, 0); // 3x2, 32 bits, top-down
    Info info = makeInfo(3, -2, 32);
    HBITMAP bitmap = CreateDIBSectionOnMemory(info.get(), pixels.data());
    ASSERT_NE(bitmap, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    EXPECT_EQ(SetPixel(dc, 2, 1, RGB(10, 20, 30)), RGB(10, 20, 30));
    EXPECT_EQ(pixels[(1 * 3 + 2) * 4 + 0], 30);
    EXPECT_EQ(pixels[(1 * 3 + 2) * 4 + 2], 10);
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(bitmap));
    pixels[0] = 1; // still ours (ASan would report a use after free)
}

TEST(Dib, ColourTables)
{
    Canvas canvas(2, 2, 4, greys(16));
    RGBQUAD table[20]{};
    EXPECT_EQ(GetDIBColorTable(canvas.dc, 0, 20, table), 16u);
    EXPECT_EQ(table[15].rgbRed, 255);
    EXPECT_EQ(GetDIBColorTable(canvas.dc, 14, 5, table), 2u);
    EXPECT_EQ(GetDIBColorTable(canvas.dc, 16, 1, table), 0u);
    const RGBQUAD red = {0, 0, 255, 0};
    EXPECT_EQ(SetDIBColorTable(canvas.dc, 3, 1, &red), 1u);
    canvas.fill({0, 0, 2, 2}, RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(canvas.dc, 1, 1), RGB(255, 0, 0));
    Canvas rgb(2, 2, 24);
    EXPECT_EQ(GetDIBColorTable(rgb.dc, 0, 1, table), 0u);
}

TEST(Blit, CopiesConvertsAndClips)
{
    Canvas src(4, 4, 24);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            SetPixel(src.dc, x, y, RGB(x * 60, y * 60, 0));
    Canvas dest(6, 6, 32);
    dest.fill({0, 0, 6, 6}, RGB(9, 9, 9));
    // Partly outside both: only the overlap is written.
    EXPECT_TRUE(BitBlt(dest.dc, 3, -1, 4, 4, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(dest.dc, 3, 0), RGB(0, 60, 0));
    EXPECT_EQ(GetPixel(dest.dc, 5, 2), RGB(120, 180, 0));
    EXPECT_EQ(GetPixel(dest.dc, 2, 0), RGB(9, 9, 9));
    EXPECT_EQ(GetPixel(dest.dc, 3, 3), RGB(9, 9, 9));

    // To a palette target: nearest entries.
    SetPixel(src.dc, 3, 3, RGB(200, 200, 200));
    Canvas mono(4, 4, 1, {RGB(0, 0, 0), RGB(255, 255, 255)});
    EXPECT_TRUE(BitBlt(mono.dc, 0, 0, 4, 4, src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(mono.dc, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(mono.dc, 3, 3), RGB(255, 255, 255));

    // Raster operations on colours.
    EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 1, 1, src.dc, 3, 3, SRCINVERT));
    EXPECT_EQ(GetPixel(dest.dc, 0, 0), RGB(9 ^ 200, 9 ^ 200, 9 ^ 200));
    EXPECT_TRUE(BitBlt(dest.dc, 0, 0, 6, 6, nullptr, 0, 0, WHITENESS));
    EXPECT_EQ(GetPixel(dest.dc, 5, 5), RGB(255, 255, 255));
    EXPECT_FALSE(BitBlt(dest.dc, 0, 0, 6, 6, src.dc, 0, 0, 0x00AA0029)); // unsupported
    EXPECT_FALSE(BitBlt(dest.dc, 0, 0, 6, 6, nullptr, 0, 0, SRCCOPY));
}

TEST(Blit, ThirtyTwoBitCopyKeepsTheFourthByte)
{
    std::vector<BYTE> a(4 * 2, 0), b(4 * 2, 0);
    a[3] = 0x80;
    a[4 + 3] = 0xFF;
    Info info = makeInfo(2, -1, 32);
    HBITMAP ha = CreateDIBSectionOnMemory(info.get(), a.data());
    HBITMAP hb = CreateDIBSectionOnMemory(info.get(), b.data());
    HDC da = CreateCompatibleDC(nullptr), db = CreateCompatibleDC(nullptr);
    HGDIOBJ oa = SelectObject(da, ha), ob = SelectObject(db, hb);
    EXPECT_TRUE(BitBlt(db, 0, 0, 2, 1, da, 0, 0, SRCCOPY));
    EXPECT_EQ(b[3], 0x80);
    EXPECT_EQ(b[7], 0xFF);
    SelectObject(da, oa);
    SelectObject(db, ob);
    DeleteDC(da);
    DeleteDC(db);
    DeleteObject(ha);
    DeleteObject(hb);
}

TEST(Blit, OverlappingCopyWithinOneBitmap)
{
    Canvas c(5, 1, 8, greys(256));
    for (int x = 0; x < 5; ++x)
        SetPixel(c.dc, x, 0, RGB(x * 10, x * 10, x * 10));
    EXPECT_TRUE(BitBlt(c.dc, 1, 0, 4, 1, c.dc, 0, 0, SRCCOPY));
    for (int x = 1; x < 5; ++x)
        EXPECT_EQ(GetRValue(GetPixel(c.dc, x, 0)), (x - 1) * 10) << x;

    // Vertical copies within one bitmap read only the source rows, as they were before the
    // call; -1 marks a row the call leaves alone.
    struct Case {
        bool stretch;
        int y, height, srcY, srcHeight;
        int expected[8];
    } cases[] = {
        {false, 2, 6, 0, 6, {-1, -1, 0, 1, 2, 3, 4, 5}},      // down, overlapping
        {false, 0, 6, 2, 6, {2, 3, 4, 5, 6, 7, -1, -1}},      // up, overlapping
        {false, 0, 4, -2, 4, {-1, -1, 0, 1, -1, -1, -1, -1}}, // source partly above
        {false, 6, 4, 6, 4, {-1, -1, -1, -1, -1, -1, 6, 7}},  // partly below
        {true, 0, 8, 8, -8, {7, 6, 5, 4, 3, 2, 1, 0}},        // mirrored in place
        {true, 0, 4, 4, 2, {4, 4, 5, 5, -1, -1, -1, -1}},     // enlarged upwards
        {true, 4, 4, 0, 8, {-1, -1, -1, -1, 1, 3, 5, 7}},     // shrunk downwards
    };
    Canvas column(1, 8, 8, greys(256));
    for (const Case& k : cases) {
        for (int y = 0; y < 8; ++y)
            SetPixel(column.dc, 0, y, RGB(y * 10, y * 10, y * 10));
        if (k.stretch)
            EXPECT_TRUE(StretchBlt(column.dc, 0, k.y, 1, k.height, column.dc, 0, k.srcY, 1,
                                   k.srcHeight, SRCCOPY));
        else
            EXPECT_TRUE(BitBlt(column.dc, 0, k.y, 1, k.height, column.dc, 0, k.srcY, SRCCOPY));
        for (int y = 0; y < 8; ++y) {
            const int want = k.expected[y] < 0 ? y : k.expected[y];
            EXPECT_EQ(GetRValue(GetPixel(column.dc, 0, y)), want * 10)
                << (k.stretch ? "stretch " : "blit ") << k.y << "," << k.srcY << " row " << y;
        }
    }
}

TEST(Blit, StretchEnlargesShrinksAndMirrors)
{
    Canvas src(2, 2, 24);
    const COLORREF q[2][2] = {{RGB(255, 0, 0), RGB(0, 255, 0)}, {RGB(0, 0, 255), RGB(9, 9, 9)}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            SetPixel(src.dc, x, y, q[y][x]);
    Canvas big(4, 4, 24);
    EXPECT_TRUE(StretchBlt(big.dc, 0, 0, 4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(GetPixel(big.dc, x, y), q[y / 2][x / 2]) << x << "," << y;

    // Mirrored horizontally: a negative destination width.
    Canvas mirror(2, 2, 24);
    EXPECT_TRUE(StretchBlt(mirror.dc, 2, 0, -2, 2, src.dc, 0, 0, 2, 2, SRCCOPY));
    EXPECT_EQ(GetPixel(mirror.dc, 0, 0), q[0][1]);
    EXPECT_EQ(GetPixel(mirror.dc, 1, 1), q[1][0]);

    // Shrinking samples the pixel under each destination centre.
    Canvas small(1, 1, 8, greys(256));
    EXPECT_TRUE(StretchBlt(small.dc, 0, 0, 1, 1, big.dc, 0, 0, 4, 4, SRCCOPY));
    EXPECT_EQ(GetPixel(small.dc, 0, 0), RGB(9, 9, 9));

    EXPECT_FALSE(StretchBlt(big.dc, 0, 0, 0, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
    EXPECT_FALSE(StretchBlt(big.dc, 0, 0, 4, 4, src.dc, 0, 0, 2, 0, SRCCOPY));
    // Source pixels outside the source leave the destination alone.
    big.fill({0, 0, 4, 4}, RGB(1, 1, 1));
    EXPECT_TRUE(StretchBlt(big.dc, 0, 0, 4, 4, src.dc, 1, 1, 2, 2, SRCCOPY));
    EXPECT_EQ(GetPixel(big.dc, 0, 0), q[1][1]);
    EXPECT_EQ(GetPixel(big.dc, 3, 3), RGB(1, 1, 1));
}

TEST(Blit, StretchDIBitsCountsBottomUpRowsFromTheBottom)
{
    // 1x3 bottom-up 24-bit DIB: stored rows bottom to top are red, green, blue, so the
    // picture reads blue, green, red from the top.
    const BYTE pixels[3][4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    Info info = makeInfo(1, 3, 24);
    Canvas c(1, 3, 24);
    EXPECT_EQ(
        StretchDIBits(c.dc, 0, 0, 1, 3, 0, 0, 1, 3, pixels, info.get(), DIB_RGB_COLORS, SRCCOPY),
        3);
    EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(c.dc, 0, 2), RGB(255, 0, 0));
    // srcY 0, height 1 is the bottom row (red) of a bottom-up DIB...
    EXPECT_EQ(
        StretchDIBits(c.dc, 0, 0, 1, 1, 0, 0, 1, 1, pixels, info.get(), DIB_RGB_COLORS, SRCCOPY),
        1);
    EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(255, 0, 0));
    // ...and the top row (stored first) of a top-down one.
    info.header.biHeight = -3;
    StretchDIBits(c.dc, 0, 0, 1, 1, 0, 0, 1, 1, pixels, info.get(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(255, 0, 0));
    StretchDIBits(c.dc, 0, 0, 1, 1, 0, 2, 1, 1, pixels, info.get(), DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(GetPixel(c.dc, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(
        StretchDIBits(c.dc, 0, 0, 1, 1, 0, 0, 1, 1, nullptr, info.get(), DIB_RGB_COLORS, SRCCOPY),
        0);
    EXPECT_EQ(
        StretchDIBits(nullptr, 0, 0, 1, 1, 0, 0, 1, 1, pixels, info.get(), DIB_RGB_COLORS, SRCCOPY),
        0);
}

TEST(DeviceContext, PalettesAreRecorded)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ stock = GetStockObject(DEFAULT_PALETTE);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PAL), stock);
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[2];
    } lp{};
    lp.head.palVersion = 0x300;
    lp.head.palNumEntries = 3;
    lp.more[1] = {1, 2, 3, 0};
    HPALETTE palette = CreatePalette(&lp.head);
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(GetObjectType(palette), OBJ_PAL);
    WORD count = 0;
    EXPECT_EQ(GetObjectW(palette, sizeof(count), &count), int(sizeof(WORD)));
    EXPECT_EQ(count, 3);
    PALETTEENTRY e[4]{};
    EXPECT_EQ(GetPaletteEntries(palette, 1, 4, e), 2u);
    EXPECT_EQ(e[1].peBlue, 3);
    EXPECT_EQ(SelectPalette(dc, palette, FALSE), stock);
    EXPECT_EQ(RealizePalette(dc), 0u);
    EXPECT_EQ(SelectPalette(dc, static_cast<HPALETTE>(stock), FALSE), palette);
    EXPECT_TRUE(DeleteObject(palette));
    EXPECT_EQ(SelectPalette(dc, palette, FALSE), nullptr);
    EXPECT_EQ(RealizePalette(nullptr), GDI_ERROR);
    lp.head.palNumEntries = 0;
    EXPECT_EQ(CreatePalette(&lp.head), nullptr);
    DeleteDC(dc);
}

TEST(DeviceContext, FaultInjectionAndLiveCounts)
{
    const std::size_t before = WinLiveGdiObjects();
    {
        Canvas c(2, 2, 24);
        EXPECT_EQ(WinLiveGdiObjects(), before + 2);
    }
    EXPECT_EQ(WinLiveGdiObjects(), before);

    WinFailGdiObjectsAfter(1);
    HBRUSH ok = CreateSolidBrush(0);
    Info info = makeInfo(2, 2, 24);
    void* bits = reinterpret_cast<void*>(1);
    HBITMAP refused = CreateDIBSection(nullptr, info.get(), DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC noDc = CreateCompatibleDC(nullptr);
    WinFailGdiObjectsAfter(-1);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(noDc, nullptr);
    DeleteObject(ok);
    EXPECT_EQ(WinLiveGdiObjects(), before);
}

TEST(DeviceContext, ScreenModesAndCaps)
{
    HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
    EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
    EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
    EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 1920);
    EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 1080);
    EXPECT_NE(GetDeviceCaps(screen, RASTERCAPS) & RC_STRETCHBLT, 0);
    EXPECT_EQ(GetMapMode(screen), MM_TEXT);
    EXPECT_EQ(SetMapMode(screen, MM_LOMETRIC), MM_TEXT);
    EXPECT_EQ(GetMapMode(screen), MM_LOMETRIC);
    EXPECT_EQ(SetMapMode(screen, 99), 0);
    EXPECT_EQ(SetStretchBltMode(screen, HALFTONE), BLACKONWHITE);
    // The screen surface is a 32-bit DIB section whose pixels drawing reaches.
    DIBSECTION surface{};
    ASSERT_EQ(GetObjectW(GetCurrentObject(screen, OBJ_BITMAP), sizeof(surface), &surface),
              int(sizeof(DIBSECTION)));
    EXPECT_EQ(surface.dsBm.bmWidth, 1920);
    EXPECT_EQ(surface.dsBm.bmBitsPixel, 32);
    SetPixel(screen, 1, 0, RGB(7, 8, 9));
    EXPECT_EQ(static_cast<const BYTE*>(surface.dsBm.bmBits)[4], 9);

    // The screen surface takes no bitmap; a memory DC compatible with it does.
    Info info = makeInfo(2, 2, 24);
    HBITMAP bitmap = CreateDIBSection(screen, info.get(), DIB_RGB_COLORS, nullptr, nullptr, 0);
    EXPECT_EQ(SelectObject(screen, bitmap), nullptr);
    HDC memory = CreateCompatibleDC(screen);
    EXPECT_EQ(GetObjectType(memory), OBJ_MEMDC);
    EXPECT_EQ(GetDeviceCaps(memory, BITSPIXEL), 1); // the stock 1x1 monochrome bitmap
    HGDIOBJ stock = SelectObject(memory, bitmap);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(GetCurrentObject(memory, OBJ_BITMAP), bitmap);
    EXPECT_EQ(GetDeviceCaps(memory, BITSPIXEL), 24);
    // Selected bitmaps are neither deleted nor selected twice.
    HDC second = CreateCompatibleDC(nullptr);
    EXPECT_EQ(SelectObject(second, bitmap), nullptr);
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_EQ(SelectObject(memory, stock), bitmap);
    EXPECT_NE(SelectObject(second, bitmap), nullptr);
    EXPECT_TRUE(DeleteDC(second)); // deleting the DC deselects
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
    EXPECT_EQ(GetDC(reinterpret_cast<HWND>(0x1234)), nullptr);
    // Stock objects survive DeleteObject.
    HGDIOBJ white = GetStockObject(WHITE_BRUSH);
    EXPECT_TRUE(DeleteObject(white));
    EXPECT_EQ(GetObjectType(white), OBJ_BRUSH);
}

TEST(DeviceContext, BadHandlesFailCleanly)
{
    int local = 0;
    HDC freed = CreateCompatibleDC(nullptr);
    DeleteDC(freed);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    const RECT r{0, 0, 1, 1};
    for (HDC dc : {static_cast<HDC>(nullptr), freed, reinterpret_cast<HDC>(&local),
                   reinterpret_cast<HDC>(brush)}) {
        EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
        EXPECT_EQ(SetPixel(dc, 0, 0, 0), CLR_INVALID);
        EXPECT_EQ(FillRect(dc, &r, brush), 0);
        EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, dc, 0, 0, SRCCOPY));
        EXPECT_EQ(SetMapMode(dc, MM_TEXT), 0);
        EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 0);
        EXPECT_FALSE(DeleteDC(dc));
        if (dc) {
            EXPECT_EQ(CreateCompatibleDC(dc), nullptr);
        }
        EXPECT_EQ(SelectObject(dc, brush), nullptr);
    }
    Canvas c(1, 1, 24);
    EXPECT_EQ(FillRect(c.dc, &r, reinterpret_cast<HBRUSH>(&local)), 0);
    EXPECT_EQ(FillRect(c.dc, nullptr, brush), 0);
    EXPECT_EQ(GetObjectW(&local, sizeof(BITMAP), &local), 0);
    EXPECT_FALSE(DeleteObject(&local));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush));
    EXPECT_EQ(FillRect(c.dc, &r, brush), 0);
}

// Icons: Windows draws destination = (destination AND mask) XOR colour.
TEST(Icon, ColourIconHonoursTheMasks)
{
    // 4x1: mask bits 1,1,0,0 with colours black, white, red, black.
    Info maskInfo = makeInfo(4, 1, 1, {RGB(0, 0, 0), RGB(255, 255, 255)});
    Info colourInfo = makeInfo(4, 1, 24);
    HBITMAP mask = CreateDIBSection(nullptr, maskInfo.get(), DIB_RGB_COLORS, nullptr, nullptr, 0);
    HBITMAP colour =
        CreateDIBSection(nullptr, colourInfo.get(), DIB_RGB_COLORS, nullptr, nullptr, 0);
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, mask);
        SetPixel(dc, 0, 0, RGB(255, 255, 255));
        SetPixel(dc, 1, 0, RGB(255, 255, 255));
        SelectObject(dc, colour);
        SetPixel(dc, 1, 0, RGB(255, 255, 255));
        SetPixel(dc, 2, 0, RGB(255, 0, 0));
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    ICONINFO ii{TRUE, 0, 0, mask, colour};
    HICON icon = CreateIconIndirect(&ii);
    ASSERT_NE(icon, nullptr);
    // The icon holds copies: the originals can go.
    DeleteObject(mask);
    DeleteObject(colour);

    Canvas canvas(6, 2, 24);
    canvas.fill({0, 0, 6, 2}, RGB(10, 200, 30));
    EXPECT_TRUE(DrawIcon(canvas.dc, 1, 1, icon));
    EXPECT_EQ(GetPixel(canvas.dc, 1, 1), RGB(10, 200, 30));                   // transparent
    EXPECT_EQ(GetPixel(canvas.dc, 2, 1), RGB(255 - 10, 255 - 200, 255 - 30)); // inverted
    EXPECT_EQ(GetPixel(canvas.dc, 3, 1), RGB(255, 0, 0));                     // opaque red
    EXPECT_EQ(GetPixel(canvas.dc, 4, 1), RGB(0, 0, 0));                       // opaque black
    EXPECT_EQ(GetPixel(canvas.dc, 5, 1), RGB(10, 200, 30));                   // beyond the icon
    EXPECT_EQ(GetPixel(canvas.dc, 1, 0), RGB(10, 200, 30));                   // above it
    // Clipped at the edges without harm.
    EXPECT_TRUE(DrawIcon(canvas.dc, 4, 1, icon));
    EXPECT_TRUE(DrawIcon(canvas.dc, -100, -100, icon));

    ICONINFO out{};
    ASSERT_TRUE(GetIconInfo(icon, &out));
    EXPECT_TRUE(out.fIcon);
    ASSERT_NE(out.hbmColor, nullptr);
    BITMAP bm{};
    GetObjectW(out.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 4);
    EXPECT_EQ(bm.bmHeight, 1);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    GetObjectW(out.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmBitsPixel, 24);
    EXPECT_TRUE(DeleteObject(out.hbmMask));
    EXPECT_TRUE(DeleteObject(out.hbmColor));

    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(icon));
    EXPECT_FALSE(DrawIcon(canvas.dc, 0, 0, icon));
    EXPECT_FALSE(GetIconInfo(icon, &out));
}

TEST(Icon, MonochromeIconHasAndAboveXor)
{
    // 4x1 icon, mask 4x2: AND row 0,0,1,1 over XOR row 0,1,0,1.
    Info maskInfo = makeInfo(4, -2, 1, {RGB(0, 0, 0), RGB(255, 255, 255)});
    void* bits = nullptr;
    HBITMAP mask = CreateDIBSection(nullptr, maskInfo.get(), DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(mask, nullptr);
    static_cast<BYTE*>(bits)[0] = 0x30; // AND: 0011
    static_cast<BYTE*>(bits)[4] = 0x50; // XOR: 0101
    ICONINFO ii{TRUE, 0, 0, mask, nullptr};
    HICON icon = CreateIconIndirect(&ii);
    ASSERT_NE(icon, nullptr);

    Canvas canvas(4, 1, 24);
    canvas.fill({0, 0, 4, 1}, RGB(10, 200, 30));
    EXPECT_TRUE(DrawIcon(canvas.dc, 0, 0, icon));
    EXPECT_EQ(GetPixel(canvas.dc, 0, 0), RGB(0, 0, 0));                       // black
    EXPECT_EQ(GetPixel(canvas.dc, 1, 0), RGB(255, 255, 255));                 // white
    EXPECT_EQ(GetPixel(canvas.dc, 2, 0), RGB(10, 200, 30));                   // transparent
    EXPECT_EQ(GetPixel(canvas.dc, 3, 0), RGB(255 - 10, 255 - 200, 255 - 30)); // inverted

    // Onto a 1-bit target over white.
    Canvas mono(4, 1, 1, {RGB(0, 0, 0), RGB(255, 255, 255)});
    mono.fill({0, 0, 4, 1}, RGB(255, 255, 255));
    EXPECT_TRUE(DrawIcon(mono.dc, 0, 0, icon));
    EXPECT_EQ(GetPixel(mono.dc, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(mono.dc, 1, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(mono.dc, 2, 0), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(mono.dc, 3, 0), RGB(0, 0, 0));

    ICONINFO out{};
    ASSERT_TRUE(GetIconInfo(icon, &out));
    EXPECT_EQ(out.hbmColor, nullptr);
    BITMAP bm{};
    GetObjectW(out.hbmMask, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmHeight, 2);
    DeleteObject(out.hbmMask);
    DestroyIcon(icon);

    // An odd-height mask without a colour bitmap is no icon.
    Info oddInfo = makeInfo(4, 3, 1, {RGB(0, 0, 0), RGB(255, 255, 255)});
    HBITMAP odd = CreateDIBSection(nullptr, oddInfo.get(), DIB_RGB_COLORS, nullptr, nullptr, 0);
    ICONINFO bad{TRUE, 0, 0, odd, nullptr};
    EXPECT_EQ(CreateIconIndirect(&bad), nullptr);
    bad.hbmMask = nullptr;
    EXPECT_EQ(CreateIconIndirect(&bad), nullptr);
    EXPECT_EQ(CreateIconIndirect(nullptr), nullptr);
    DeleteObject(odd);
    DeleteObject(mask);
}

TEST(DeviceContext, ConcurrentDrawingOnSeparateBitmaps)
{
    auto work = [](COLORREF colour, bool* ok) {
        for (int i = 0; i < 50; ++i) {
            Canvas c(16, 16, (i & 1) ? 8 : 24, greys(256));
            c.fill({0, 0, 16, 16}, colour);
            Canvas d(8, 8, 32);
            StretchBlt(d.dc, 0, 0, 8, 8, c.dc, 0, 0, 16, 16, SRCCOPY);
            if (GetPixel(d.dc, 7, 7) != colour)
                *ok = false;
        }
    };
    bool ok[3] = {true, true, true};
    std::thread a(work, RGB(0, 0, 0), &ok[0]), b(work, RGB(255, 255, 255), &ok[1]),
        c(work, RGB(34, 34, 34), &ok[2]);
    a.join();
    b.join();
    c.join();
    EXPECT_TRUE(ok[0] && ok[1]);
    EXPECT_TRUE(ok[2]);
}

} // namespace
