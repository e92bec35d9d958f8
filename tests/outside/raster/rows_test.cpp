// Records, storage, rows, pixels and palettes of the raster kernel.
#include "raster_test_util.h"

#include <climits>
#include <cstring>

using namespace rktest;

namespace {

TEST(RasterRecords, WrongDeclaredSizeIsRefusedEverywhere)
{
    Bmp b;
    ASSERT_EQ(create(b, 8, 8, 24), RK_SUCCESS);
    b->uStructSize = 280;
    std::uint8_t line[32];
    std::uint32_t n;
    EXPECT_EQ(RkGetBitmapRow(b.get(), line, 0, 24), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkPutBitmapRow(b.get(), line, 0, 24), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkFlipBitmap(b.get()), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkFillBitmap(b.get(), 0), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkGetColorCount(b.get(), &n), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkAccessBitmap(b.get()), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkFreeBitmap(b.get()), RK_ERROR_STRUCT_SIZE);
    Bmp c;
    EXPECT_EQ(RkCopyBitmap(c.get(), 284, b.get(), 284), RK_ERROR_STRUCT_SIZE);
    EXPECT_EQ(RkCopyBitmap(c.get(), 283, b.get(), 284), RK_ERROR_STRUCT_SIZE);
    b->uStructSize = BITMAPHANDLE_SIZE;
}

TEST(RasterRecords, StaleAndEditedRecordsAreRefused)
{
    Bmp b;
    ASSERT_EQ(create(b, 8, 8, 8), RK_SUCCESS);
    _BITMAPHANDLE stale = b.h; // a byte-for-byte copy, as a careless owner would make
    std::uint8_t line[8];
    EXPECT_EQ(RkGetBitmapRow(&stale, line, 0, 8), 8);
    ASSERT_EQ(RkFreeBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(RkGetBitmapRow(&stale, line, 0, 8), RK_ERROR_NO_BITMAP);
    EXPECT_EQ(RkFreeBitmap(&stale), RK_SUCCESS); // frees nothing twice
    EXPECT_EQ(RkFreeBitmap(b.get()), RK_SUCCESS);
    // New bitmaps reuse the freed one's place (and often its address): the copy still names
    // the old one.
    for (int i = 0; i < 4; ++i) {
        Bmp fresh;
        ASSERT_EQ(create(fresh, 8, 8, 8), RK_SUCCESS);
        stale.pStorage = fresh->pStorage;
        EXPECT_EQ(RkGetBitmapRow(&stale, line, 0, 8), RK_ERROR_NO_BITMAP) << i;
        EXPECT_EQ(RkFreeBitmap(&stale), RK_SUCCESS);
        EXPECT_EQ(RkGetBitmapRow(fresh.get(), line, 0, 8), 8) << i;
    }

    // Edits that would let a call run past the storage, or reach another bitmap's.
    Bmp other;
    ASSERT_EQ(create(other, 8, 8, 8), RK_SUCCESS);
    struct Edit {
        const char* what;
        void (*edit)(_BITMAPHANDLE&, _BITMAPHANDLE&);
        int rc;
    } edits[] = {
        {"width", [](auto& r, auto&) { r.Width = 4000; }, RK_ERROR_INV_HANDLE},
        {"height", [](auto& r, auto&) { r.Height = INT_MAX; }, RK_ERROR_INV_HANDLE},
        {"depth", [](auto& r, auto&) { r.BitsPerPixel = 48; }, RK_ERROR_INV_HANDLE},
        {"stride", [](auto& r, auto&) { r.BytesPerLine = INT_MIN; }, RK_ERROR_INV_HANDLE},
        {"storage", [](auto& r, auto& o) { r.pStorage = o.pStorage; }, RK_ERROR_NO_BITMAP},
        {"flags", [](auto& r, auto&) { r.Flags = 0; }, RK_ERROR_NO_BITMAP},
    };
    ASSERT_EQ(create(b, 8, 8, 8), RK_SUCCESS);
    for (const Edit& e : edits) {
        _BITMAPHANDLE saved = b.h;
        e.edit(b.h, other.h);
        EXPECT_EQ(RkGetBitmapRow(b.get(), line, 0, 8), e.rc) << e.what;
        EXPECT_EQ(RkFlipBitmap(b.get()), e.rc) << e.what;
        EXPECT_EQ(RkColorResBitmap(b.get(), 24, nullptr), e.rc) << e.what;
        b.h = saved;
        EXPECT_EQ(RkGetBitmapRow(b.get(), line, 0, 8), 8) << e.what;
    }
}

TEST(RasterRecords, AccessNestsAndReleaseMustMatch)
{
    Bmp b;
    EXPECT_EQ(RkAccessBitmap(b.get()), RK_ERROR_NO_BITMAP);
    ASSERT_EQ(create(b, 4, 4, 8), RK_SUCCESS);
    EXPECT_EQ(RkAccessBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(RkAccessBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(b->LockCount, 2);
    EXPECT_EQ(RkReleaseBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(RkReleaseBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(RkReleaseBitmap(b.get()), RK_ERROR_NOT_LOCKED);
}

TEST(RasterRecords, AllocationFaultInjection)
{
    Bmp a, b;
    RkFailAllocationsAfter(1);
    EXPECT_EQ(create(a, 4, 4, 8), RK_SUCCESS);
    EXPECT_EQ(RkCopyBitmap(b.get(), 284, a.get(), 284), RK_ERROR_NO_MEMORY);
    EXPECT_EQ(RkColorResBitmap(a.get(), 24, nullptr), RK_ERROR_NO_MEMORY);
    EXPECT_EQ(a->BitsPerPixel, 8); // unchanged after the failure
    RkFailAllocationsAfter(-1);
    EXPECT_EQ(RkCopyBitmap(b.get(), 284, a.get(), 284), RK_SUCCESS);
}

TEST(RasterPixels, ColoursPerDepth)
{
    struct Case {
        int bits;
        COLORREF put, get;
        std::vector<std::uint8_t> bytes; // stored bytes of pixel 0
    } cases[] = {
        {24, RGB(10, 20, 30), RGB(10, 20, 30), {30, 20, 10}},
        {32, RGB(10, 20, 30), RGB(10, 20, 30), {30, 20, 10, 0}},
        {48, RGB(1, 2, 255), RGB(1, 2, 255), {255, 255, 2, 2, 1, 1}},
        {16, RGB(255, 0, 8), RGB(255, 0, 8), {0x01, 0x7C}},
        {1, RGB(200, 200, 200), RGB(255, 255, 255), {0x80}},
        {2, RGB(90, 80, 80), RGB(85, 85, 85), {0x40}},
        {4, RGB(250, 10, 0), RGB(255, 0, 0), {0x90}},
        {8, RGB(0, 0, 250), RGB(0, 0, 255), {5}},
    };
    for (const Case& c : cases) {
        Bmp b;
        ASSERT_EQ(create(b, 3, 2, c.bits), RK_SUCCESS);
        ASSERT_EQ(RkPutPixelColor(b.get(), 1, 0, c.put), RK_SUCCESS);
        EXPECT_EQ(RkGetPixelColor(b.get(), 1, 0), c.get) << c.bits;
        std::vector<std::uint8_t> line(std::size_t(b->BytesPerLine));
        RkGetBitmapRow(b.get(), line.data(), 1, line.size());
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), line.begin())) << c.bits;
        EXPECT_EQ(RkGetPixelColor(b.get(), 0, 0), 0u) << c.bits; // cleared storage: black
    }
    // The fourth byte of a 32-bit pixel is not colour: writing a colour keeps it.
    Bmp b;
    ASSERT_EQ(create(b, 2, 1, 32), RK_SUCCESS);
    ASSERT_EQ(RkSetBitmapAlphaValues(b.get(), 200), RK_SUCCESS);
    RkPutPixelColor(b.get(), 0, 1, RGB(1, 2, 3));
    std::uint8_t line[8];
    RkGetBitmapRow(b.get(), line, 0, 8);
    EXPECT_EQ(line[7], 200);
}

TEST(RasterPalette, ReadWriteAndNearest)
{
    Bmp b;
    ASSERT_EQ(create(b, 4, 4, 4), RK_SUCCESS);
    tagRGBQUAD q[16];
    ASSERT_EQ(RkGetBitmapColors(b.get(), 0, 16, q), RK_SUCCESS);
    EXPECT_EQ(q[15].rgbRed, 255);
    EXPECT_EQ(RkGetBitmapColors(b.get(), 10, 7, q), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkGetBitmapColors(b.get(), -1, 2, q), RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(RkGetBitmapColors(b.get(), 0, 1, nullptr), RK_ERROR_INV_PARAMETER);
    tagRGBQUAD red{0, 0, 200, 0};
    ASSERT_EQ(RkPutBitmapColors(b.get(), 3, 1, &red), RK_SUCCESS);
    EXPECT_EQ(b->pPalette[3].rgbRed, 200);
    EXPECT_EQ(RkNearestPaletteIndex(b.get(), RGB(190, 0, 0)), 3);
    tagRGBQUAD two[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    Bmp m;
    ASSERT_EQ(RkCreateBitmap(m.get(), 284, 0x201, 4, 4, 1, RK_ORDER_BGR, two, 1), RK_SUCCESS);
    EXPECT_EQ(RkNearestPaletteIndex(m.get(), RGB(127, 128, 127)), 0);
    EXPECT_EQ(RkNearestPaletteIndex(m.get(), RGB(128, 128, 128)), 1);
    // Ties go to the lowest index.
    tagRGBQUAD same[2] = {{9, 9, 9, 0}, {9, 9, 9, 0}};
    ASSERT_EQ(RkPutBitmapColors(m.get(), 0, 2, same), RK_SUCCESS);
    EXPECT_EQ(RkNearestPaletteIndex(m.get(), RGB(1, 2, 3)), 0);
    Bmp rgb;
    ASSERT_EQ(create(rgb, 2, 2, 24), RK_SUCCESS);
    EXPECT_EQ(RkNearestPaletteIndex(rgb.get(), 0), RK_ERROR_BITSPERPIXEL);
    EXPECT_EQ(RkGetBitmapColors(rgb.get(), 0, 1, q), RK_ERROR_INV_PARAMETER);
}

} // namespace
