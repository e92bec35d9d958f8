// TDib's geometric operations: the angle conversion, the status rules, the aspect-preserving
// fit, the view perspective, and the same operations on disk-backed and bottom-up images.
#include <cmath>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <gtest/gtest.h>
#include <limits>
#include <ops/angles.h>
#include <raster/kernel.h>
#include <vector>

namespace {

using dib::TDibAccess;

// A w x h image at bits whose pixels differ from one another.
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

TEST(Angles, HundredthsOfADegree)
{
    const double pi = 3.14159265358979323846;
    const struct {
        double radians;
        int hundredths;
    } cases[] = {{pi / 2, 8999},   {pi, 17999},
                 {-0.00001, -1},   {0.0, 0},
                 {2 * pi, 35999},  {4 * pi + pi / 2, 8999},
                 {-pi / 2, -9000}, {1000.0, 5729577 % 36000}};
    for (const auto& c : cases) {
        int a = 12345;
        ASSERT_TRUE(dib::ops::AngleToHundredths(c.radians, a)) << c.radians;
        EXPECT_EQ(a, c.hundredths % 36000) << c.radians;
    }
    for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), -1e300, 1e13}) {
        int a = 7;
        EXPECT_FALSE(dib::ops::AngleToHundredths(bad, a)) << bad;
        EXPECT_EQ(a, 7);
    }
}

TEST(Rotation, BadAnglesAreRefusedAndLeaveTheImage)
{
    TDib d;
    Fill(d, 30, 20, 24);
    auto before = Pixels(d);
    for (double bad : {std::nan(""), HUGE_VAL, -1e200}) {
        EXPECT_EQ(d.RotarFine(bad, 1, 0), DIB_ERR_INVALID);
        EXPECT_EQ(d.InclinarX(bad, 0), DIB_ERR_INVALID);
        EXPECT_EQ(d.InclinarY(bad, 0), DIB_ERR_INVALID);
    }
    // A shear beyond 45 degrees is the kernel's refusal.
    EXPECT_EQ(d.InclinarX(1.0, 0), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.GetMidaX(), 30);
    EXPECT_EQ(Pixels(d), before);
    TDib empty;
    EXPECT_EQ(empty.Rotar(10, 1), DIB_STATUS_KERNEL_BASE + RK_ERROR_NO_BITMAP);
}

TEST(Rotation, QuarterTurnsAndWhiteCorners)
{
    TDib d;
    Fill(d, 300, 200, 24);
    const unsigned long topLeft = d.GetPixel(0, 0), bottomLeft = d.GetPixel(0, 199);
    ASSERT_EQ(d.Rotar(90, 1), DIB_OK);
    EXPECT_EQ(d.GetMidaX(), 200);
    EXPECT_EQ(d.GetMidaY(), 300);
    EXPECT_EQ(d.GetPixel(199, 0), topLeft);  // the top left went to the top right
    EXPECT_EQ(d.GetPixel(0, 0), bottomLeft); // the bottom left to the top left
    ASSERT_EQ(d.FastRotate270CW(), DIB_OK);
    EXPECT_EQ(d.GetPixel(0, 0), topLeft);
    ASSERT_EQ(d.FastRotate180CW(), DIB_OK);
    EXPECT_EQ(d.GetPixel(299, 199), topLeft);
    ASSERT_EQ(d.FastRotate90CW(), DIB_OK);
    EXPECT_EQ(d.GetMidaX(), 200);

    TDib r;
    ASSERT_EQ(r.Crear(100, 100, 24), DIB_OK);
    ASSERT_EQ(r.Rotar(45, 1), DIB_OK);
    EXPECT_EQ(r.GetMidaX(), 141);
    EXPECT_EQ(r.GetPixel(0, 0), 0xFFFFFFul);
    EXPECT_EQ(r.GetPixel(70, 70), 0ul);
    // Whole turns are taken off first: a huge number of degrees cannot overflow.
    TDib t;
    Fill(t, 30, 20, 8);
    auto before = Pixels(t);
    EXPECT_EQ(t.Rotar(360 * 5965232, 1), DIB_OK);
    EXPECT_EQ(Pixels(t), before);
}

TEST(Rotation, RotarFineFillsWithTheCallerColour)
{
    for (bool disk : {false, true}) {
        TDib d;
        Fill(d, 60, 40, 24, disk);
        ASSERT_EQ(d.RotarFine(0.2, 1, 0x0000FF), DIB_OK);
        EXPECT_GT(d.GetMidaX(), 60);
        EXPECT_EQ(d.GetPixel(0, 0), 0x0000FFul);
    }
    // A 32-bit image keeps its alpha index; the corners are transparent.
    TDib a;
    ASSERT_EQ(a.Crear(20, 20, 32), DIB_OK);
    ASSERT_EQ(a.RotarFine(0.5, 1, 0xFFFFFF), DIB_OK);
    unsigned char px[4];
    ASSERT_EQ(a.GetLinia(0, 0, px, 4), DIB_OK);
    EXPECT_EQ(px[3], 0);
    EXPECT_EQ(TDibAccess::CanalAlpha(a), 3);
}

TEST(Scaling, EscalarSameSizeReturnsOne)
{
    TDib d;
    Fill(d, 30, 20, 4);
    auto before = Pixels(d);
    EXPECT_EQ(d.Escalar(30, 20), 1);
    EXPECT_EQ(Pixels(d), before);
    EXPECT_EQ(d.Escalar(60, 40), DIB_OK);
    EXPECT_EQ(d.GetMidaX(), 60);
    EXPECT_EQ(d.GetPixel(1, 1), before[0]);
    EXPECT_EQ(d.Escalar(0, 40), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
}

TEST(Scaling, EscalarARFitsTheBox)
{
    const struct {
        int w, h, boxW, boxH, wantW, wantH;
    } cases[] = {{400, 200, 100, 100, 100, 50}, {200, 400, 100, 100, 50, 100},
                 {40, 20, 100, 100, 100, 50},   {100, 100, 100, 100, 100, 100},
                 {10000, 1, 100, 100, 100, 1},  {1, 3000, 50, 50, 1, 50},
                 {300, 200, 30, 1000, 30, 20},  {3, 2, 2147483647, 5, 8, 5}};
    for (int interpolate : {0, 1})
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " in " << c.boxW << "x"
                                            << c.boxH << " interpolate " << interpolate);
            TDib d;
            ASSERT_EQ(d.Crear(c.w, c.h, 24), DIB_OK);
            EXPECT_EQ(d.EscalarAR(c.boxW, c.boxH, 0, interpolate), DIB_OK);
            EXPECT_EQ(d.GetMidaX(), c.wantW);
            EXPECT_EQ(d.GetMidaY(), c.wantH);
        }
    TDib empty;
    EXPECT_EQ(empty.EscalarAR(100, 100, 0, 0), DIB_ERR_INVALID);
    TDib d;
    ASSERT_EQ(d.Crear(40, 20, 24), DIB_OK);
    EXPECT_EQ(d.EscalarAR(0, 100, 0, 1), DIB_ERR_INVALID);
    EXPECT_EQ(d.EscalarAR(100, -1, 0, 0), DIB_ERR_INVALID);
    EXPECT_EQ(d.GetMidaX(), 40);
}

TEST(Scaling, InterpolatedFitKeepsAlpha)
{
    TDib d;
    ASSERT_EQ(d.Crear(4, 4, 32), DIB_OK);
    ASSERT_EQ(d.EscalarAR(2, 2, 0, 1), DIB_OK);
    unsigned char px[8];
    ASSERT_EQ(d.GetLinia(0, px, 8), DIB_OK);
    EXPECT_EQ(px[3], 255);
    EXPECT_EQ(px[7], 255);
}

// 32 bits: each of the four bytes is resampled as a plane of its own (the alpha byte too).
TEST(Scaling, EscalarIntResizesEachByteOfA32BitImage)
{
    TDib d;
    ASSERT_EQ(d.Crear(4, 2, 32), DIB_OK);
    for (int y = 0; y < 2; ++y) {
        unsigned char row[16];
        for (int x = 0; x < 4; ++x) {
            row[4 * x + 0] = static_cast<unsigned char>(x * 10);
            row[4 * x + 1] = static_cast<unsigned char>(100 + y * 20);
            row[4 * x + 2] = 7;
            row[4 * x + 3] = static_cast<unsigned char>(x < 2 ? 0 : 200);
        }
        ASSERT_EQ(d.SetLinia(y, row, 16), DIB_OK);
    }
    ASSERT_EQ(d.EscalarInt(2, 1, 4), DIB_OK);
    ASSERT_EQ(d.GetMidaX(), 2);
    ASSERT_EQ(d.GetMidaY(), 1);
    unsigned char px[8];
    ASSERT_EQ(d.GetLinia(0, px, 8), DIB_OK);
    const unsigned char want[8] = {5, 110, 7, 0, 25, 110, 7, 200};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(px[i], want[i]) << "byte " << i;
}

TEST(Scaling, EscalarIntFailureLeavesTheImage)
{
    TDib d;
    Fill(d, 30, 20, 32);
    const auto before = Pixels(d);
    EXPECT_EQ(d.EscalarInt(0, 10, 4), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.EscalarInt(10, 10, 9), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
    EXPECT_EQ(d.GetMidaX(), 30);
    EXPECT_EQ(Pixels(d), before);
    TDib empty;
    EXPECT_EQ(empty.EscalarInt(10, 10, 4), DIB_ERR_INVALID);
    // Every method reaches the requested size.
    for (unsigned m = 0; m <= 4; ++m) {
        TDib e;
        Fill(e, 30, 20, 24);
        EXPECT_EQ(e.EscalarInt(45, 7, m), DIB_OK) << m;
        EXPECT_EQ(e.GetMidaX(), 45);
        EXPECT_EQ(e.GetMidaY(), 7);
    }
}

TEST(Perspective, CanviSentitRewritesThePerspective)
{
    const int afterX[] = {1, 0, 3, 2, 3};
    const int afterY[] = {2, 3, 0, 1, 2};
    for (int p = 0; p <= 4; ++p) {
        TDib d;
        Fill(d, 5, 3, 24);
        const unsigned long corner = d.GetPixel(0, 0);
        TDibAccess::Bitmap(d).ViewPerspective = p;
        ASSERT_EQ(d.CanviSentitX(), DIB_OK);
        EXPECT_EQ(TDibAccess::Bitmap(d).ViewPerspective, afterX[p]);
        EXPECT_EQ(d.GetPixel(4, 0), corner); // pixel calls take stored rows and columns
        TDibAccess::Bitmap(d).ViewPerspective = p;
        ASSERT_EQ(d.CanviSentitY(), DIB_OK);
        EXPECT_EQ(TDibAccess::Bitmap(d).ViewPerspective, afterY[p]);
        EXPECT_EQ(d.GetPixel(4, 2), corner);
    }
    TDib empty;
    const int view = TDibAccess::Bitmap(empty).ViewPerspective;
    EXPECT_NE(empty.CanviSentitX(), DIB_OK);
    EXPECT_EQ(TDibAccess::Bitmap(empty).ViewPerspective, view);
}

TEST(Perspective, AjustarPerspectiva)
{
    const struct {
        int view, reorder;
        int cornerX, cornerY; // where the stored (0, 0) pixel ends up
    } cases[] = {{4, 0, 0, 0}, {4, 1, 0, 2}, {2, 1, 4, 0},
                 {3, 1, 4, 2}, {1, 1, 0, 0}, {7, 1, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.view << " " << c.reorder);
        TDib d;
        Fill(d, 5, 3, 8);
        const unsigned long corner = d.GetPixel(0, 0);
        TDibAccess::Bitmap(d).ViewPerspective = c.view;
        ASSERT_EQ(d.AjustarPerspectiva(c.reorder), DIB_OK);
        EXPECT_EQ(TDibAccess::Bitmap(d).ViewPerspective, 1);
        EXPECT_EQ(d.GetPixel(c.cornerX, c.cornerY), corner);
    }
}

TEST(Perspective, BottomUpImagesTurnAsTheyAreSeen)
{
    TDib top, bottom;
    Fill(top, 30, 20, 24);
    Fill(bottom, 30, 20, 24);
    // The same picture stored bottom-up.
    ASSERT_EQ(bottom.CanviSentitY(), DIB_OK);
    ASSERT_EQ(TDibAccess::Bitmap(bottom).ViewPerspective, 3);
    TDibAccess::Bitmap(bottom).ViewPerspective = 4;
    for (TDib* d : {&top, &bottom})
        ASSERT_EQ(d->RotarFine(0.3, 1, 0xFFFFFF), DIB_OK);
    ASSERT_EQ(bottom.GetMidaX(), top.GetMidaX());
    std::vector<unsigned char> a(size_t(top.GetBytesPerLinia())), b(a.size());
    for (int r = 0; r < top.GetMidaY(); ++r) {
        ASSERT_EQ(top.GetLinia(r, a.data(), a.size()), DIB_OK);
        ASSERT_EQ(bottom.GetLinia(r, b.data(), b.size()), DIB_OK);
        // The storage mirror changes the arithmetic of the sample positions, which the
        // interpolation places on a 1/32-pixel grid: a sample may move by 255/32 levels.
        for (std::size_t i = 0; i < a.size(); ++i)
            ASSERT_LE(std::abs(int(a[i]) - int(b[i])), 8) << "row " << r << " byte " << i;
    }
}

TEST(Crop, KeepsTheRectangle)
{
    TDib d;
    Fill(d, 30, 20, 24);
    const unsigned long p = d.GetPixel(5, 4);
    ASSERT_EQ(d.Crop(5, 4, 10, 6), DIB_OK);
    EXPECT_EQ(d.GetMidaX(), 10);
    EXPECT_EQ(d.GetMidaY(), 6);
    EXPECT_EQ(d.GetPixel(0, 0), p);
    EXPECT_EQ(d.Crop(5, 4, 10, 6), DIB_STATUS_KERNEL_BASE + RK_ERROR_INV_PARAMETER);
}

TEST(Mirrors, FlipXAndFlipYKeepThePerspective)
{
    TDib d;
    Fill(d, 7, 5, 1, true);
    const unsigned long p = d.GetPixel(0, 0);
    ASSERT_EQ(d.FlipX(), DIB_OK);
    ASSERT_EQ(d.FlipY(), DIB_OK);
    EXPECT_EQ(d.GetPixel(6, 4), p);
    EXPECT_EQ(TDibAccess::Bitmap(d).ViewPerspective, 1);
}

} // namespace
