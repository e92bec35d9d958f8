// TDib and the Windows-shaped image objects: packed DIBs, DDBs, icons, device contexts.
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <memory>
#include <raster/kernel.h>
#include <win/fault_injection.h>
#include <win/gdi.h>
#include <win/global_memory.h>

using dib::TDibAccess;

namespace {

// A packed DIB in movable global memory: header, `colours` palette entries, pixel rows.
HGLOBAL MakePackedDib(int width, int height, int bits, std::uint32_t clrUsed, int colours,
                      std::size_t pixelBytes)
{
    const std::size_t bytes = 40 + 4 * std::size_t(colours) + pixelBytes;
    HGLOBAL h = GlobalAlloc(GHND, bytes);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    BITMAPINFOHEADER hdr{};
    hdr.biSize = 40;
    hdr.biWidth = width;
    hdr.biHeight = height;
    hdr.biPlanes = 1;
    hdr.biBitCount = WORD(bits);
    hdr.biCompression = BI_RGB;
    hdr.biClrUsed = clrUsed;
    std::memcpy(p, &hdr, sizeof hdr);
    GlobalUnlock(h);
    return h;
}

} // namespace

TEST(TDib, ImportFromDIBSizesItsColourTable)
{
    // 8 bits, colours-used 0 -> 256 entries before the bits.
    HGLOBAL h = MakePackedDib(3, 2, 8, 0, 256, 8);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    auto* pal = reinterpret_cast<tagRGBQUAD*>(p + 40);
    pal[7] = {10, 20, 30, 0};
    p[40 + 1024 + 0] = 7; // bottom-up DIB: the first stored row is the bottom row
    GlobalUnlock(h);
    TDib d;
    ASSERT_EQ(d.ImportFromDIB(h, 1), 0);
    EXPECT_EQ(d.GetMidaX(), 3);
    EXPECT_EQ(TDibAccess::Bitmap(d).ViewPerspective, RK_TOP_LEFT);
    EXPECT_EQ(d.GetPixel(0, 1), RGB(30, 20, 10));
    EXPECT_EQ(d.GetPixel(0, 0), d.GetPixel(1, 0));
    GlobalFree(h);
}

TEST(TDib, ImportFromDIBRefusals)
{
    TDib d;
    d.Crear(2, 2, 24);
    HGLOBAL h16 = MakePackedDib(2, 2, 16, 0, 0, 8);
    EXPECT_EQ(d.ImportFromDIB(h16, 1), -2);
    EXPECT_EQ(d.EsBuit(), 1);
    EXPECT_EQ(GlobalLockCount(h16), 0u);
    GlobalFree(h16);

    // Colours-used claims more entries than the block holds.
    HGLOBAL big = MakePackedDib(2, 2, 8, 100000, 0, 8);
    EXPECT_EQ(d.ImportFromDIB(big, 1), -3);
    GlobalFree(big);
    // Pixel rows cut short.
    HGLOBAL shortRows = MakePackedDib(100, 100, 24, 0, 0, 300);
    EXPECT_EQ(d.ImportFromDIB(shortRows, 1), -3);
    GlobalFree(shortRows);
    EXPECT_EQ(d.ImportFromDIB(nullptr, 1), -3);
    EXPECT_LT(d.ImportFromDIB(nullptr, 0), 0);
}

TEST(TDib, ExportAndImportRoundTrip)
{
    TDib a;
    ASSERT_EQ(a.Crear(5, 4, 24), 0);
    a.SetPixel(4, 3, RGB(200, 100, 50));
    for (int variant : {0, 1}) {
        void* dibHandle = a.ExportToDIB(variant);
        ASSERT_NE(dibHandle, nullptr);
        TDib b;
        ASSERT_EQ(b.ImportFromDIB(dibHandle, variant), 0);
        EXPECT_EQ(b.GetPixel(4, 3), RGB(200, 100, 50));
        GlobalFree(dibHandle);
    }
    HBITMAP ddb = a.ExportToDDB(0);
    ASSERT_NE(ddb, nullptr);
    TDib c;
    TDibAccess::EspaiColor(c) = DIB_CS_RGB;
    ASSERT_EQ(c.ImportFromDDB(ddb, 0), 0);
    EXPECT_EQ(c.GetPixel(4, 3), RGB(200, 100, 50));
    EXPECT_EQ(TDibAccess::EspaiColor(c), DIB_CS_RGB); // kept
    DeleteObject(ddb);
}

TEST(TDib, FromIconDrawsOverTheBackground)
{
    // A 4x2 colour icon: left half transparent (AND 1), right half opaque red.
    BITMAPINFO info{};
    info.bmiHeader = {40, 4, -2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* colourBits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &colourBits, nullptr, 0);
    ASSERT_NE(colour, nullptr);
    auto* c = static_cast<BYTE*>(colourBits);
    for (int y = 0; y < 2; ++y)
        for (int x = 2; x < 4; ++x)
            c[y * 12 + 3 * x + 2] = 255; // red, blue-green-red order

    struct {
        BITMAPINFOHEADER h;
        RGBQUAD pal[2];
    } mono{{40, 4, -2, 1, 1, BI_RGB, 0, 0, 0, 2, 0}, {{0, 0, 0, 0}, {255, 255, 255, 0}}};
    void* maskBits = nullptr;
    HBITMAP mask = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&mono), DIB_RGB_COLORS,
                                    &maskBits, nullptr, 0);
    ASSERT_NE(mask, nullptr);
    static_cast<BYTE*>(maskBits)[0] = 0xC0; // row 0: pixels 0, 1 keep the background
    static_cast<BYTE*>(maskBits)[4] = 0xC0;
    ICONINFO ii{TRUE, 0, 0, mask, colour};
    HICON icon = CreateIconIndirect(&ii);
    ASSERT_NE(icon, nullptr);

    std::unique_ptr<TDib> img(TDib::FromIcon(icon, RGB(0, 0, 255)));
    ASSERT_TRUE(img);
    EXPECT_EQ(img->GetMidaX(), 4);
    EXPECT_EQ(img->GetMidaY(), 2);
    EXPECT_EQ(img->GetBitsPerPixel(), 24);
    EXPECT_EQ(img->GetPixel(0, 0), RGB(0, 0, 255));
    EXPECT_EQ(img->GetPixel(3, 1), RGB(255, 0, 0));
    EXPECT_EQ(TDib::FromIcon(nullptr, 0), nullptr);
    DestroyIcon(icon);
    DeleteObject(colour);
    DeleteObject(mask);
}

TEST(TDib, DeviceContextDrawsIntoThePixels)
{
    TDib d;
    ASSERT_EQ(d.Crear(4, 4, 24), 0);
    HDC dc = d.CreateDCW();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetMapMode(dc), MM_TEXT);
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    const RECT r{1, 1, 3, 3};
    FillRect(dc, &r, green);
    DeleteObject(green);
    EXPECT_EQ(d.DeleteDC(dc), 0);
    EXPECT_EQ(d.GetPixel(1, 1), RGB(0, 255, 0));
    EXPECT_EQ(d.GetPixel(0, 0), RGB(0, 0, 0));
}

TEST(TDib, FromIconOfAMonochromeIconUsesTheLowerHalfOfTheMask)
{
    // 8x8 icon: mask 8x16, AND mask (top half) all 0, XOR mask (bottom half) first row white.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD pal[2];
    } mono{{40, 8, -16, 1, 1, BI_RGB, 0, 0, 0, 2, 0}, {{0, 0, 0, 0}, {255, 255, 255, 0}}};
    void* bits = nullptr;
    HBITMAP mask = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&mono), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
    ASSERT_NE(mask, nullptr);
    static_cast<BYTE*>(bits)[8 * 4] = 0xFF; // row 8: the XOR mask's first row
    ICONINFO ii{TRUE, 0, 0, mask, nullptr};
    HICON icon = CreateIconIndirect(&ii);
    ASSERT_NE(icon, nullptr);
    const std::size_t gdiBefore = WinLiveGdiObjects();

    std::unique_ptr<TDib> img(TDib::FromIcon(icon, RGB(0, 0, 0)));
    ASSERT_TRUE(img);
    EXPECT_EQ(img->GetBitsPerPixel(), 1);
    EXPECT_EQ(img->GetMidaY(), 8);
    EXPECT_EQ(img->GetPixel(3, 0), RGB(255, 255, 255));
    EXPECT_EQ(img->GetPixel(3, 1), RGB(0, 0, 0));
    EXPECT_EQ(WinLiveGdiObjects(), gdiBefore); // the icon's bitmap copies are gone

    // No GDI object can be made: null and nothing left behind.
    WinFailGdiObjectsAfter(0);
    EXPECT_EQ(TDib::FromIcon(icon, 0), nullptr);
    WinFailGdiObjectsAfter(-1);
    EXPECT_EQ(WinLiveGdiObjects(), gdiBefore);
    DestroyIcon(icon);
    DeleteObject(mask);
}

// Any non-zero variant selects the second export or import, not only 1.
TEST(TDib, EveryNonZeroVariantSelectsTheSecondOperation)
{
    TDib a;
    ASSERT_EQ(a.Crear(3, 2, 8), 0);
    for (int variant : {2, -1}) {
        void* dibHandle = a.ExportToDIB(variant);
        ASSERT_NE(dibHandle, nullptr) << variant;
        const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dibHandle));
        EXPECT_EQ(header->biHeight, -2); // top-down rows, as variant 1
        GlobalUnlock(dibHandle);
        GlobalFree(dibHandle);

        HBITMAP ddb = a.ExportToDDB(variant);
        ASSERT_NE(ddb, nullptr) << variant;
        BITMAP bm{};
        ASSERT_NE(GetObjectW(ddb, sizeof bm, &bm), 0);
        EXPECT_EQ(bm.bmBitsPixel, 24);
        TDib b;
        EXPECT_EQ(b.ImportFromDDB(ddb, variant), 0);
        EXPECT_EQ(b.GetBitsPerPixel(), 24);
        DeleteObject(ddb);
    }
}

// BI_BITFIELDS: the three masks sit between the header and the colour table.
TEST(TDib, ImportFromDIBSkipsTheColourMasks)
{
    const std::uint32_t masks[3] = {0xFF0000, 0xFF00, 0xFF};
    auto make = [&](std::size_t blockBytes) {
        HGLOBAL h = GlobalAlloc(GHND, blockBytes);
        auto* p = static_cast<BYTE*>(GlobalLock(h));
        BITMAPINFOHEADER hdr{40, 1, 1, 1, 32, BI_BITFIELDS, 0, 0, 0, 1, 0};
        std::memcpy(p, &hdr, sizeof hdr);
        std::memcpy(p + 40, masks, std::min<std::size_t>(12, blockBytes - 40));
        if (blockBytes >= 60) {
            const BYTE pixel[4] = {10, 20, 30, 0}; // after masks and one table entry
            std::memcpy(p + 56, pixel, 4);
        }
        GlobalUnlock(h);
        return h;
    };
    HGLOBAL whole = make(60);
    TDib d;
    ASSERT_EQ(d.ImportFromDIB(whole, 1), 0);
    EXPECT_EQ(d.GetPixel(0, 0), RGB(30, 20, 10));
    GlobalFree(whole);
    // The masks themselves run past the block: refused before the kernel reads them.
    HGLOBAL cut = make(48);
    EXPECT_EQ(d.ImportFromDIB(cut, 1), -3);
    EXPECT_EQ(d.EsBuit(), 1);
    GlobalFree(cut);
}

// Every GDI object, global block or pixel store that the exchange needs fails in turn: each
// call fails cleanly or succeeds with the whole result, and nothing is left behind.
TEST(TDib, ExchangeUnderExhaustionLeavesNothingBehind)
{
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD pal[2];
    } mono{{40, 4, -8, 1, 1, BI_RGB, 0, 0, 0, 2, 0}, {{0, 0, 0, 0}, {255, 255, 255, 0}}};
    void* bits = nullptr;
    HBITMAP mask = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&mono), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
    ASSERT_NE(mask, nullptr);
    std::memset(bits, 0xFF, 4 * 4); // AND mask all 1: the background shows everywhere
    ICONINFO ii{TRUE, 0, 0, mask, nullptr};
    HICON icon = CreateIconIndirect(&ii);
    ASSERT_NE(icon, nullptr);
    TDib source;
    ASSERT_EQ(source.Crear(4, 4, 24), 0);
    const std::size_t gdiBefore = WinLiveGdiObjects();
    const std::size_t blocksBefore = WinLiveGlobalBlocks();

    for (int which = 0; which < 3; ++which) {
        for (long n = 0; n < 12; ++n) {
            SCOPED_TRACE(testing::Message() << "fault " << which << " after " << n);
            if (which == 0)
                WinFailGdiObjectsAfter(n);
            else if (which == 1)
                WinFailAllocationsAfter(n);
            else
                RkFailAllocationsAfter(n);
            std::unique_ptr<TDib> img(TDib::FromIcon(icon, RGB(255, 255, 255)));
            if (img) {
                EXPECT_EQ(img->GetPixel(0, 0), RGB(255, 255, 255)); // never without background
                EXPECT_EQ(img->GetPixel(3, 3), RGB(255, 255, 255));
            }
            void* dibHandle = source.ExportToDIB(0);
            if (dibHandle) {
                TDib back;
                back.ImportFromDIB(dibHandle, 1);
                GlobalFree(dibHandle);
            }
            if (HBITMAP ddb = source.ExportToDDB(0)) {
                TDib back;
                if (back.ImportFromDDB(ddb, 0) != 0) {
                    EXPECT_EQ(back.EsBuit(), 1);
                }
                DeleteObject(ddb);
            }
            if (HDC dc = source.CreateDCW())
                source.DeleteDC(dc);
            WinFailGdiObjectsAfter(-1);
            WinFailAllocationsAfter(-1);
            RkFailAllocationsAfter(-1);
            img.reset();
            EXPECT_EQ(WinLiveGdiObjects(), gdiBefore);
            EXPECT_EQ(WinLiveGlobalBlocks(), blocksBefore);
        }
    }
    DestroyIcon(icon);
    DeleteObject(mask);
}
