// Flips, mirrors, quarter turns, crops, rectangle copies and block copies, checked pixel by
// pixel against the reference layout at every depth.
#include "raster_test_util.h"

using namespace rktest;

namespace {

using Matrix = std::vector<std::vector<std::uint64_t>>;

Matrix transform(const Matrix& m, int quarters, bool mirror, bool flip)
{
    int h = int(m.size()), w = int(m[0].size());
    Matrix out;
    if (quarters % 2 == 1)
        out.assign(std::size_t(w), std::vector<std::uint64_t>(std::size_t(h)));
    else
        out.assign(std::size_t(h), std::vector<std::uint64_t>(std::size_t(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int tx = x, ty = y;
            if (mirror)
                tx = w - 1 - x;
            if (flip)
                ty = h - 1 - y;
            if (quarters == 1) { // clockwise: the top row becomes the right column
                tx = h - 1 - y;
                ty = x;
            } else if (quarters == 2) {
                tx = w - 1 - x;
                ty = h - 1 - y;
            } else if (quarters == 3) {
                tx = y;
                ty = w - 1 - x;
            }
            out[std::size_t(ty)][std::size_t(tx)] = m[std::size_t(y)][std::size_t(x)];
        }
    return out;
}

TEST(RasterGeometry, FlipMirrorAndTurnsAtEveryDepth)
{
    for (int bits : kDepths) {
        for (int w : {1, 6, 11}) {
            for (std::uint32_t flags : {0x201u, 0x80u}) {
                Bmp b;
                ASSERT_EQ(create(b, w, 5, bits, flags), RK_SUCCESS);
                fillPattern(b.get(), unsigned(w));
                Matrix m = pixels(b.get());
                ASSERT_EQ(RkFlipBitmap(b.get()), RK_SUCCESS);
                EXPECT_EQ(pixels(b.get()), transform(m, 0, false, true)) << bits << " " << w;
                ASSERT_EQ(RkFlipBitmap(b.get()), RK_SUCCESS);
                ASSERT_EQ(RkReverseBitmap(b.get()), RK_SUCCESS);
                EXPECT_EQ(pixels(b.get()), transform(m, 0, true, false)) << bits << " " << w;
                ASSERT_EQ(RkReverseBitmap(b.get()), RK_SUCCESS);
                for (int q = 1; q <= 3; ++q) {
                    ASSERT_EQ(RkRotateBitmapQuarters(b.get(), q), RK_SUCCESS);
                    EXPECT_EQ(b->Width, q == 2 ? w : 5);
                    EXPECT_EQ(pixels(b.get()), transform(m, q, false, false))
                        << "bits " << bits << " width " << w << " quarters " << q;
                    ASSERT_EQ(RkRotateBitmapQuarters(b.get(), 4 - q), RK_SUCCESS);
                    EXPECT_EQ(pixels(b.get()), m) << bits << " " << w << " " << q;
                }
                EXPECT_EQ(RkRotateBitmapQuarters(b.get(), 4), RK_ERROR_INV_PARAMETER);
                EXPECT_EQ(RkRotateBitmapQuarters(b.get(), 0), RK_ERROR_INV_PARAMETER);
            }
        }
    }
}

TEST(RasterGeometry, QuarterTurnFollowsTheViewPerspective)
{
    // Stored bottom-up, a clockwise turn of the picture is an anticlockwise turn of the rows.
    Bmp b;
    ASSERT_EQ(create(b, 4, 3, 8, 0x201, RK_BOTTOM_LEFT), RK_SUCCESS);
    fillPattern(b.get());
    Matrix m = pixels(b.get());
    b->XResolution = 100;
    b->YResolution = 200;
    ASSERT_EQ(RkRotateBitmapQuarters(b.get(), 1), RK_SUCCESS);
    EXPECT_EQ(pixels(b.get()), transform(m, 3, false, false));
    EXPECT_EQ(b->ViewPerspective, RK_BOTTOM_LEFT);
    EXPECT_EQ(b->XResolution, 200);
    EXPECT_EQ(b->YResolution, 100);
}

TEST(RasterGeometry, CropAndRectangleCopy)
{
    for (int bits : kDepths) {
        Bmp b, r;
        ASSERT_EQ(create(b, 13, 7, bits, 0x201, RK_BOTTOM_LEFT), RK_SUCCESS);
        fillPattern(b.get());
        Matrix m = pixels(b.get());
        ASSERT_EQ(RkCopyBitmapRect(r.get(), 284, b.get(), 284, 3, 2, 9, 4), RK_SUCCESS);
        Matrix part = pixels(r.get());
        ASSERT_EQ(part.size(), 4u);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(part[std::size_t(y)][std::size_t(x)],
                          m[std::size_t(y + 2)][std::size_t(x + 3)])
                    << bits;
        EXPECT_EQ(r->ViewPerspective, RK_BOTTOM_LEFT);
        EXPECT_EQ(r->ColorCount, b->ColorCount);

        struct {
            int x, y, w, h;
        } outside[] = {{-1, 0, 2, 2}, {0, -1, 2, 2}, {12, 0, 2, 1},       {0, 6, 1, 2},
                       {0, 0, 0, 1},  {0, 0, 1, 0},  {1, 1, INT32_MAX, 1}};
        for (auto& o : outside) {
            EXPECT_EQ(RkCopyBitmapRect(r.get(), 284, b.get(), 284, o.x, o.y, o.w, o.h),
                      RK_ERROR_INV_PARAMETER);
            EXPECT_EQ(RkCropBitmap(b.get(), o.x, o.y, o.w, o.h), RK_ERROR_INV_PARAMETER);
        }
        EXPECT_EQ(b->Width, 13);
        ASSERT_EQ(RkCropBitmap(b.get(), 3, 2, 9, 4), RK_SUCCESS);
        EXPECT_EQ(b->Width, 9);
        EXPECT_EQ(pixels(b.get()), part);
        // The destination may be the source record itself.
        ASSERT_EQ(RkCopyBitmapRect(b.get(), 284, b.get(), 284, 1, 1, 2, 2), RK_SUCCESS);
        EXPECT_EQ(b->Width, 2);
        EXPECT_EQ(pixels(b.get())[0][0], part[1][1]);
    }
}

TEST(RasterGeometry, BlockCopyIsClippedToBothBitmaps)
{
    for (int bits : {1, 4, 24}) {
        Bmp src, dst;
        ASSERT_EQ(create(src, 10, 6, bits), RK_SUCCESS);
        ASSERT_EQ(create(dst, 7, 5, bits), RK_SUCCESS);
        fillPattern(src.get(), 3);
        fillPattern(dst.get(), 4);
        Matrix s = pixels(src.get()), d = pixels(dst.get());
        // Starts left of and above the destination, runs past its right and bottom edges.
        ASSERT_EQ(RkCombineCopy(dst.get(), -2, -1, src.get(), 1, 0, 100, 100), RK_SUCCESS);
        Matrix got = pixels(dst.get());
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                int sx = x + 3, sy = y + 1;
                std::uint64_t want = (sx < 10 && sy < 6) ? s[std::size_t(sy)][std::size_t(sx)]
                                                         : d[std::size_t(y)][std::size_t(x)];
                ASSERT_EQ(got[std::size_t(y)][std::size_t(x)], want) << bits;
            }
        EXPECT_EQ(RkCombineCopy(dst.get(), INT32_MIN, 0, src.get(), INT32_MAX, 0, INT32_MAX, 1),
                  RK_SUCCESS);
        EXPECT_EQ(pixels(dst.get()), got); // nothing overlapped
        EXPECT_EQ(RkCombineCopy(dst.get(), 0, 0, src.get(), 0, 0, -1, 1), RK_ERROR_INV_PARAMETER);
    }
    Bmp a, b;
    ASSERT_EQ(create(a, 4, 4, 8), RK_SUCCESS);
    ASSERT_EQ(create(b, 4, 4, 24), RK_SUCCESS);
    EXPECT_EQ(RkCombineCopy(a.get(), 0, 0, b.get(), 0, 0, 4, 4), RK_ERROR_BITSPERPIXEL);
}

TEST(RasterGeometry, BlockCopyWithinOneBitmapOverlapping)
{
    Bmp b;
    ASSERT_EQ(create(b, 5, 6, 8), RK_SUCCESS);
    fillPattern(b.get());
    Matrix m = pixels(b.get());
    ASSERT_EQ(RkCombineCopy(b.get(), 1, 2, b.get(), 0, 0, 4, 4), RK_SUCCESS);
    Matrix got = pixels(b.get());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(got[std::size_t(y + 2)][std::size_t(x + 1)],
                      m[std::size_t(y)][std::size_t(x)]);
}

} // namespace
