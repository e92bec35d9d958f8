// The bounded preview size, the streaming resize statuses and the preview scaler.
#include <array>
#include <cstdint>
#include <cstring>
#include <dib/Preview.h>
#include <dib/TDib.h>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Runs a scaler over lines made by line(y, buffer) and returns the preview.
template <class MakeLine>
std::unique_ptr<TDib> RunScaler(TPLPreviewDIBDinamic& s, int lineBytes, int srcH, MakeLine line,
                                std::vector<unsigned char>* alpha = nullptr)
{
    CRect region(0, 0, 0, 0);
    EXPECT_EQ(s.Init(0, 0, region), 0);
    EXPECT_EQ(region.bottom, srcH - 1);
    std::vector<unsigned char> buf(static_cast<std::size_t>(lineBytes));
    for (int y = 0; y < srcH + 2; ++y) { // two extra lines: ignored
        line(y, buf.data());
        EXPECT_EQ(s.Processar(buf.data(), alpha ? alpha->data() : nullptr), 1);
    }
    EXPECT_EQ(s.Done(), 0);
    return std::unique_ptr<TDib>(s.TreuDIB());
}

std::vector<unsigned char> Row(const TDib& d, int y)
{
    std::vector<unsigned char> r(TDib::TamanyLinia(d.GetMidaX(), d.GetBitsPerPixel(), 4));
    EXPECT_EQ(d.GetLinia(y, r.data(), r.size()), 0);
    return r;
}

TEST(BoundedSize, CalculaMidesAcotades)
{
    struct Case {
        int kb, bits, w, h, wantW, wantH;
    } const cases[] = {
        {100, 24, 1000, 1000, 184, 184}, {100, 24, 10, 10, 178, 178}, {64, 8, 4000, 3000, 295, 221},
        {50, 32, 1920, 1080, 150, 84},   {1, 24, 5000, 1, 667, 1},    {1, 1, 100000, 10, 9050, 1},
        {30, 24, 1000, 1000, 101, 101},
    };
    for (const auto& c : cases) {
        int w = -7, h = -7;
        EXPECT_EQ(TDib::CalculaMidesAcotades(c.kb, c.bits, c.w, c.h, w, h), 1);
        EXPECT_EQ(w, c.wantW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.wantH) << c.w << "x" << c.h;
    }
    // Sizes whose byte count passes 32 bits are still reduced, not enlarged.
    int w = 0, h = 0;
    EXPECT_EQ(TDib::CalculaMidesAcotades(100, 32, 60000, 60000, w, h), 1);
    EXPECT_LE(TDib::TamanyLinia(w, 32, 4) * h, 2u * 102400u);
    for (auto args : {std::array<int, 3>{0, 10, 10}, {100, 0, 10}, {100, 10, -1}}) {
        int a = -7, b = -7;
        EXPECT_EQ(TDib::CalculaMidesAcotades(args[0], 24, args[1], args[2], a, b), 0);
        EXPECT_EQ(a, -7);
        EXPECT_EQ(b, -7);
    }
}

TEST(DynamicResize, StatusesAndRows)
{
    void* h = reinterpret_cast<void*>(1);
    EXPECT_EQ(TDib::StartDynamicResize(0, 1, 1, 1, h), -3003);
    EXPECT_EQ(h, nullptr);
    ASSERT_EQ(TDib::StartDynamicResize(4, 4, 2, 2, h), 0);
    unsigned char row[12] = {10, 10, 10, 30, 30, 30, 50, 50, 50, 70, 70, 70};
    int w = 0, n = -1;
    EXPECT_EQ(TDib::DynamicResize(row, 0, 12, w, n, h), -3005);
    EXPECT_EQ(TDib::DynamicResize(row, 0, 24, w, n, h), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(TDib::DynamicResize(row, 1, 24, w, n, h), 0);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(row[0], 20);
    EXPECT_EQ(row[3], 60);
    EXPECT_EQ(TDib::DynamicResize(row, 3, 24, w, n, h), -3003);
    EXPECT_EQ(TDib::StopDynamicResize(h), 0);
    EXPECT_EQ(TDib::StopDynamicResize(nullptr), -3003);
}

// 1000 x 800 RGB -> 250 x 200: every 4 x 4 block of the source has one colour, so each
// preview pixel is that colour exactly; 200 lines are written in order.
TEST(PreviewScaler, ReducesRgbLineByLine)
{
    TPLPreviewDIBDinamic s(64, 8, 3, 0, 1000, 800, 250, 200, nullptr, nullptr, 0, 3);
    EXPECT_EQ(s.GetMidaX(), -1);
    EXPECT_EQ(s.GetMidaY(), -1);
    auto d = RunScaler(s, 3000, 800, [](int y, unsigned char* b) {
        for (int x = 0; x < 1000; ++x) {
            b[3 * x] = static_cast<unsigned char>(x / 4);
            b[3 * x + 1] = static_cast<unsigned char>(y / 4);
            b[3 * x + 2] = 9;
        }
    });
    ASSERT_TRUE(d);
    ASSERT_EQ(d->GetMidaX(), 250);
    ASSERT_EQ(d->GetMidaY(), 200);
    ASSERT_EQ(d->GetBitsPerPixel(), 24);
    for (int y : {0, 1, 117, 199}) {
        const auto r = Row(*d, y);
        for (int x : {0, 3, 249}) {
            EXPECT_EQ(r[3 * x], x);
            EXPECT_EQ(r[3 * x + 1], y);
            EXPECT_EQ(r[3 * x + 2], 9);
        }
    }
    EXPECT_EQ(s.TreuDIB(), nullptr);
}

TEST(PreviewScaler, EnlargesToEveryLine)
{
    TPLPreviewDIBDinamic s(8, 8, 1, 0, 10, 100, 30, 300, nullptr, nullptr, 0, 3);
    auto d = RunScaler(s, 12, 100,
                       [](int y, unsigned char* b) { std::memset(b, y < 100 ? y + 1 : 0, 12); });
    ASSERT_TRUE(d);
    ASSERT_EQ(d->GetMidaY(), 300);
    for (int y = 0; y < 300; ++y)
        EXPECT_EQ(Row(*d, y)[0], y / 3 + 1) << y;
    // Grey: 8 bits with the 256-level grey palette.
    tagRGBQUAD pal[256];
    ASSERT_EQ(d->GetPaleta(pal, nullptr), 256);
    EXPECT_EQ(pal[77].rgbRed, 77);
    EXPECT_EQ(pal[77].rgbBlue, 77);
}

TEST(PreviewScaler, CmykIsAdaptedUnlessPhotoshop)
{
    for (int format : {3, 76}) {
        TPLPreviewDIBDinamic s(2, 8, 4, 0, 2, 1, 2, 1, nullptr, nullptr, 0, format);
        auto d = RunScaler(s, 8, 1, [](int, unsigned char* b) {
            const unsigned char px[8] = {10, 20, 30, 40, 10, 20, 30, 40};
            std::memcpy(b, px, 8);
        });
        ASSERT_TRUE(d);
        const auto r = Row(*d, 0);
        if (format == 76) {
            EXPECT_EQ(r[0], 10);
            EXPECT_EQ(r[3], 40);
        } else {
            EXPECT_EQ(r[0], 255 - 30 - 40); // blue from yellow
            EXPECT_EQ(r[1], 255 - 20 - 40);
            EXPECT_EQ(r[2], 255 - 10 - 40);
            EXPECT_EQ(r[3], 0);
        }
    }
}

TEST(PreviewScaler, AlphaCompositesOverWhite)
{
    const struct {
        unsigned char a;
        unsigned char want[3];
    } cases[] = {{0, {255, 255, 255}}, {255, {200, 100, 0}}, {128, {227, 177, 127}}};
    for (const auto& c : cases) {
        TPLPreviewDIBDinamic s(64, 8, 3, 1, 1, 1, 1, 1, nullptr, nullptr, 0, 3);
        std::vector<unsigned char> alpha(4, c.a);
        auto d = RunScaler(
            s, 4, 1,
            [](int, unsigned char* b) {
                b[0] = 200;
                b[1] = 100;
                b[2] = 0;
            },
            &alpha);
        ASSERT_TRUE(d);
        const auto r = Row(*d, 0);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(r[i], c.want[i]) << "alpha " << int(c.a);
    }
}

TEST(PreviewScaler, ConvertsSixteenBitsAndDropsExtraChannels)
{
    // 16-bit RGB with a fourth sample per pixel: 65535 -> 255, 32896 -> 128 (g_word2byte).
    TPLPreviewDIBDinamic s(64, 16, 4, 0, 2, 2, 2, 2, nullptr, nullptr, 0, 3);
    auto d = RunScaler(s, 16, 2, [](int, unsigned char* b) {
        const std::uint16_t px[8] = {65535, 32896, 0, 7, 0, 65535, 257, 9};
        std::memcpy(b, px, 16);
    });
    ASSERT_TRUE(d);
    const auto r = Row(*d, 1);
    const unsigned char want[6] = {255, 128, 0, 0, 255, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(r[i], want[i]) << i;
    // 8-bit RGBA lines for an RGB colour space: the fourth byte is dropped.
    TPLPreviewDIBDinamic s8(64, 8, 4, 0, 2, 1, 2, 1, nullptr, nullptr, 0, 3);
    auto d8 = RunScaler(s8, 8, 1, [](int, unsigned char* b) {
        const unsigned char px[8] = {1, 2, 3, 99, 4, 5, 6, 99};
        std::memcpy(b, px, 8);
    });
    ASSERT_TRUE(d8);
    const auto r8 = Row(*d8, 0);
    EXPECT_EQ(r8[2], 3);
    EXPECT_EQ(r8[3], 4);
}

// Packed lines are expanded to levels before scaling: a 1-bit checkerboard halves to mid
// grey, not to an index.
TEST(PreviewScaler, PackedLinesAreExpanded)
{
    TPLPreviewDIBDinamic mono(32, 1, 1, 0, 16, 16, 8, 8, nullptr, nullptr, 0, 3);
    auto d = RunScaler(mono, 4, 16,
                       [](int y, unsigned char* b) { b[0] = b[1] = (y % 2 == 0) ? 0xAA : 0x55; });
    ASSERT_TRUE(d);
    ASSERT_EQ(d->GetBitsPerPixel(), 8);
    const auto r = Row(*d, 3);
    for (int x = 0; x < 8; ++x)
        EXPECT_NEAR(r[x], 128, 1) << x;

    // 4-bit indices in an RGB colour space take the palette's colours.
    tagRGBQUAD pal[16] = {};
    pal[1] = tagRGBQUAD{10, 20, 30, 0};
    pal[2] = tagRGBQUAD{30, 40, 50, 0};
    TPLPreviewDIBDinamic four(64, 4, 1, 0, 4, 1, 2, 1, pal, nullptr, 0, 3);
    auto d4 = RunScaler(four, 4, 1, [](int, unsigned char* b) {
        b[0] = 0x12;
        b[1] = 0x21;
    });
    ASSERT_TRUE(d4);
    ASSERT_EQ(d4->GetBitsPerPixel(), 24);
    const auto r4 = Row(*d4, 0);
    EXPECT_EQ(r4[0], 20);
    EXPECT_EQ(r4[1], 30);
    EXPECT_EQ(r4[2], 40);
}

TEST(PreviewScaler, RefusalsCopiesAndUnfinishedRuns)
{
    CRect region(0, 0, 0, 0);
    TPLPreviewDIBDinamic odd(64, 12, 3, 0, 4, 4, 2, 2, nullptr, nullptr, 0, 3);
    EXPECT_EQ(odd.Init(0, 0, region), DIB_ERR_INVALID);
    TPLPreviewDIBDinamic few(64, 8, 2, 0, 4, 4, 2, 2, nullptr, nullptr, 0, 3);
    EXPECT_EQ(few.Init(0, 0, region), DIB_ERR_INVALID);
    TPLPreviewDIBDinamic empty(64, 8, 3, 0, 4, 4, 0, 2, nullptr, nullptr, 0, 3);
    EXPECT_EQ(empty.Init(0, 0, region), DIB_ERR_INVALID);
    unsigned char line[16] = {};
    EXPECT_EQ(empty.Processar(line, nullptr), 1); // no run: ignored

    // A scaler destroyed mid-run (the source failed) releases everything.
    auto* live = new TPLPreviewDIBDinamic(64, 8, 3, 0, 4, 4, 2, 2, nullptr, nullptr, 0, 3);
    ASSERT_EQ(live->Init(0, 0, region), 0);
    EXPECT_EQ(live->Init(0, 0, region), DIB_ERR_INVALID);
    live->Processar(line, nullptr);
    // Copies never share the run or the image.
    TPLPreviewDIBDinamic copy(*live);
    TPLPreviewDIBDinamic assigned(8, 8, 1, 0, 1, 1, 1, 1, nullptr, nullptr, 0, 3);
    assigned = *live;
    delete live;
    ASSERT_EQ(copy.Init(0, 0, region), 0);
    for (int y = 0; y < 4; ++y)
        copy.Processar(line, nullptr);
    copy.Done();
    std::unique_ptr<TDib> a(copy.TreuDIB());
    std::unique_ptr<TDib> b(assigned.TreuDIB());
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(a->GetMidaX(), 2);
}

} // namespace

namespace {

TEST(ImagePreview, BudgetedPreviewOfAnImage)
{
    // 400 x 200 at 24 bits, 4 x 4 blocks of one colour; 30 KB -> 143 x 71.
    TDib src;
    ASSERT_EQ(src.Crear(400, 200, 24), DIB_OK);
    std::vector<unsigned char> row(1200);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 400; ++x) {
            row[3 * x] = static_cast<unsigned char>(x / 4);
            row[3 * x + 1] = static_cast<unsigned char>(y / 4);
            row[3 * x + 2] = 50;
        }
        ASSERT_EQ(src.SetLinia(y, row.data(), row.size()), DIB_OK);
    }
    int w = 0, h = 0;
    ASSERT_EQ(TDib::CalculaMidesAcotades(30, 24, 400, 200, w, h), 1);
    TDib* p = nullptr;
    ASSERT_EQ(GetPreviewDIB(&src, 30, p, nullptr), DIB_OK);
    std::unique_ptr<TDib> owned(p);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetMidaX(), w);
    EXPECT_EQ(p->GetMidaY(), h);
    EXPECT_EQ(p->GetBitsPerPixel(), 24);
    const auto r = Row(*p, h - 1);
    EXPECT_NEAR(r[3 * (w - 1)], 99, 1);
    EXPECT_NEAR(r[3 * (w - 1) + 1], 49, 1);
    EXPECT_EQ(r[2], 50);

    // Budget 0: a duplicate.
    TDib* dup = nullptr;
    ASSERT_EQ(src.GetPreview(0, dup, nullptr), DIB_OK);
    std::unique_ptr<TDib> ownedDup(dup);
    ASSERT_TRUE(dup);
    EXPECT_EQ(dup->GetMidaX(), 400);
    TDib* none = reinterpret_cast<TDib*>(8);
    EXPECT_EQ(GetPreviewDIB(nullptr, 30, none, nullptr), DIB_ERR_INVALID);
    EXPECT_EQ(none, nullptr);
}

TEST(ImagePreview, PaletteImagesPreviewInColour)
{
    // An 8-bit image whose format fields were never set: its indices become colours.
    TDib src;
    tagRGBQUAD pal[256] = {};
    pal[1] = tagRGBQUAD{0, 0, 200, 0};
    pal[2] = tagRGBQUAD{0, 100, 0, 0};
    ASSERT_EQ(src.Crear(64, 64, 8, pal), DIB_OK);
    std::vector<unsigned char> row(64);
    for (int x = 0; x < 64; ++x)
        row[x] = static_cast<unsigned char>(1 + x % 2);
    for (int y = 0; y < 64; ++y)
        ASSERT_EQ(src.SetLinia(y, row.data(), row.size()), DIB_OK);
    TDib* p = nullptr;
    ASSERT_EQ(src.GetPreview(1, p, nullptr), DIB_OK);
    std::unique_ptr<TDib> owned(p);
    ASSERT_TRUE(p);
    ASSERT_EQ(p->GetBitsPerPixel(), 24);
    const auto r = Row(*p, 0);
    EXPECT_NEAR(r[0], 0, 1);
    EXPECT_NEAR(r[1], 50, 1);
    EXPECT_NEAR(r[2], 100, 1);
}

} // namespace
