// TDib's tone and colour operations: the argument conversions (checked against the kernel called
// with the converted value), the alpha channel after depth changes, and the display gamma.
#include <cmath>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <functional>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <raster/ops/ops_tone.h>
#include <vector>

namespace {

using dib::TDibAccess;

void Fill(TDib& d, int w, int h, int bits, bool disk = false)
{
    ASSERT_EQ(disk ? d.CrearDisc(w, h, bits) : d.Crear(w, h, bits), DIB_OK);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            d.SetPixel(x, y,
                       static_cast<unsigned long>((x * 37 + y * 101) * 2654435761u) & 0xFFFFFFu);
}

std::vector<unsigned long> Pixels(const TDib& d)
{
    std::vector<unsigned long> out;
    for (int y = 0; y < d.GetMidaY(); ++y)
        for (int x = 0; x < d.GetMidaX(); ++x)
            out.push_back(d.GetPixel(x, y));
    return out;
}

// Runs member on one image and kernel on a copy; both must give the same pixels.
void SameAsKernel(const std::function<int(TDib&)>& member,
                  const std::function<int(_BITMAPHANDLE*)>& kernel, int bits = 24)
{
    for (bool disk : {false, true}) {
        TDib a;
        Fill(a, 23, 17, bits, disk);
        TDib b(&a);
        ASSERT_EQ(member(a), DIB_OK);
        ASSERT_EQ(kernel(&TDibAccess::Bitmap(b)), 1);
        EXPECT_EQ(Pixels(a), Pixels(b));
    }
}

TEST(ToneArguments, ConversionsReachTheKernel)
{
    SameAsKernel([](TDib& d) { return d.CanviaTo(50); },
                 [](_BITMAPHANDLE* b) { return RkChangeBitmapHue(b, 90, 0); });
    SameAsKernel([](TDib& d) { return d.CanviaTo(-100); },
                 [](_BITMAPHANDLE* b) { return RkChangeBitmapHue(b, -180, 0); });
    SameAsKernel([](TDib& d) { return d.CanviaTo(33); },
                 [](_BITMAPHANDLE* b) { return RkChangeBitmapHue(b, 59, 0); });
    SameAsKernel([](TDib& d) { return d.SetGamma(2.2); },
                 [](_BITMAPHANDLE* b) { return RkGammaCorrectBitmap(b, 220, 0); });
    SameAsKernel([](TDib& d) { return d.CanviaGamma(2.2); },
                 [](_BITMAPHANDLE* b) { return RkGammaCorrectBitmap(b, 200, 0); });
    SameAsKernel([](TDib& d) { return d.SetContrast(300); },
                 [](_BITMAPHANDLE* b) { return RkChangeBitmapContrast(b, 300, 0); });
    SameAsKernel([](TDib& d) { return d.CanviaContrast(-300); },
                 [](_BITMAPHANDLE* b) { return RkChangeBitmapContrast(b, -300, 0); });
    SameAsKernel([](TDib& d) { return d.SetHistoContrast(500); },
                 [](_BITMAPHANDLE* b) { return RkHistoContrastBitmap(b, 500, 0); });
    SameAsKernel([](TDib& d) { return d.CanviaSaturacio(-700); },
                 [](_BITMAPHANDLE* b) { return RkChangeBitmapSaturation(b, -700, 0); });
    SameAsKernel([](TDib& d) { return d.Posteritzar(5); },
                 [](_BITMAPHANDLE* b) { return RkPosterizeBitmap(b, 5, 0); });
    SameAsKernel([](TDib& d) { return d.Invertir(); },
                 [](_BITMAPHANDLE* b) { return RkInvertBitmap(b); });
    SameAsKernel([](TDib& d) { return d.Destramar(); },
                 [](_BITMAPHANDLE* b) { return RkDescreenBitmap(b, 0); });
    SameAsKernel([](TDib& d) { return d.SuavitzarMed(5); },
                 [](_BITMAPHANDLE* b) { return RkMedianFilterBitmap(b, 5, 0); }, 32);
    SameAsKernel([](TDib& d) { return d.SuavitzarAvg(3); },
                 [](_BITMAPHANDLE* b) { return RkAverageFilterBitmap(b, 3, 0); });
    SameAsKernel([](TDib& d) { return d.Clear(); },
                 [](_BITMAPHANDLE* b) { return RkClearBitmap(b); });
    SameAsKernel([](TDib& d) { return d.CanviaBrillo(100, 1); },
                 [](_BITMAPHANDLE* b) {
                     int r = RkChangeBitmapIntensity(b, 100, 0);
                     return r > 0 ? RkStretchBitmapIntensity(b, 0) : r;
                 });
}

TEST(ToneArguments, Refusals)
{
    TDib d;
    Fill(d, 8, 8, 24);
    auto before = Pixels(d);
    EXPECT_EQ(d.CanviaGamma(0.8), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.SetGamma(std::nan("")), DIB_ERR_INVALID);
    EXPECT_EQ(d.SetGamma(1e300), DIB_ERR_INVALID);
    EXPECT_EQ(d.CanviaGamma(-HUGE_VAL), DIB_ERR_INVALID);
    EXPECT_EQ(d.SetContrast(5000), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.SuavitzarMed(4), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.CanviaBrillo(2000, 1), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(Pixels(d), before);
    TDib empty;
    EXPECT_EQ(empty.Invertir(), DIB_STATUS_KERNEL_BASE + RK_ERROR_NO_BITMAP);
    EXPECT_EQ(empty.GrayScale(), DIB_STATUS_KERNEL_BASE + RK_ERROR_NO_BITMAP);
}

TEST(Depth, AlphaChannelFollowsTheDepth)
{
    const struct {
        const char* name;
        std::function<int(TDib&)> run;
        int bits;
        int alpha;
        int status;
    } cases[] = {
        {"ToRGB", [](TDib& d) { return d.ToRGB(); }, 24, -1, DIB_OK},
        {"GrayScale", [](TDib& d) { return d.GrayScale(); }, 8, -1, DIB_OK},
        {"ToBlancINegre", [](TDib& d) { return d.ToBlancINegre(); }, 1, -1, DIB_OK},
        {"CanviaBPP 8", [](TDib& d) { return d.CanviaBPP(8, 0x2, 0, nullptr); }, 8, -1, DIB_OK},
        {"CanviaBPP 4 dithered", [](TDib& d) { return d.CanviaBPP(4, 0x10001, 0, nullptr); }, 4, -1,
         DIB_OK},
        // The same depth: 1 and nothing changes.
        {"CanviaBPP 32", [](TDib& d) { return d.CanviaBPP(32, 0, 0, nullptr); }, 32, 3, 1},
        {"ToCMYK", [](TDib& d) { return d.ToCMYK(); }, 32, 3, DIB_OK},
    };
    for (const auto& c : cases)
        for (bool disk : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.name << (disk ? " disk" : " memory"));
            TDib d;
            Fill(d, 12, 9, 32, disk);
            TDibAccess::CanalAlpha(d) = 3;
            EXPECT_EQ(c.run(d), c.status);
            EXPECT_EQ(d.GetBitsPerPixel(), c.bits);
            EXPECT_EQ(TDibAccess::CanalAlpha(d), c.alpha);
        }
}

TEST(Depth, CanviaBPPDefaultsAndGrey)
{
    TDib d;
    Fill(d, 16, 16, 24);
    auto before = Pixels(d);
    EXPECT_EQ(d.CanviaBPP(24, 0, 0, nullptr), 1);
    EXPECT_EQ(Pixels(d), before);
    // 8 bits with 0 colours: a full 256-entry palette, here the fixed one.
    ASSERT_EQ(d.CanviaBPP(8, 0x1, 0, nullptr), DIB_OK);
    EXPECT_EQ(d.GetPaleta(nullptr, nullptr), 256);
    ASSERT_EQ(d.GrayScale(), DIB_OK);
    EXPECT_EQ(d.EsImatgeGrisos(), 1);
    // Back to 24 bits: every colour of the 8-bit image is kept.
    auto grey = Pixels(d);
    ASSERT_EQ(d.ToRGB(), DIB_OK);
    EXPECT_EQ(Pixels(d), grey);
    EXPECT_EQ(d.CanviaBPP(8, 0x10, 4, nullptr), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.CanviaBPP(8, 0x100000000ul, 4, nullptr), DIB_ERR_INVALID);
}

TEST(DisplayGamma, SetReturnsThePrevious)
{
    TDib d;
    EXPECT_EQ(d.GetGamma(), 0u);
    ASSERT_EQ(d.Crear(4, 4, 24), DIB_OK);
    EXPECT_EQ(d.GetGamma(), 100u);
    EXPECT_EQ(d.SetGamma(150u), 100u);
    EXPECT_EQ(d.GetGamma(), 150u);
    EXPECT_EQ(d.SetGamma(220u), 150u);
    TDib copy(&d);
    EXPECT_EQ(copy.GetGamma(), 220u);
}

} // namespace
