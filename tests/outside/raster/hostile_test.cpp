// Requests a careless or hostile caller makes: arguments at the limits of their types, DIB
// headers that lie, disk storage whose writes fail, and status callbacks that stop an operation
// at any report. Nothing may crash or overrun, and every failure leaves what the contract says.
#include "raster_test_util.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <iterator>

using namespace rktest;

namespace {

TEST(RasterHostile, ArgumentsAtTheLimitsAreRefusedAndChangeNothing)
{
    using Call = std::function<std::int64_t(_BITMAPHANDLE*, _BITMAPHANDLE*)>;
    std::vector<std::uint8_t> buf(64, 0);
    std::uint8_t* p = buf.data();
    const std::int64_t bad = RK_ERROR_INV_PARAMETER;
    struct Case {
        const char* what;
        Call call;
        std::int64_t rc;
    } cases[] = {
        {"row = height", [&](auto* b, auto*) { return RkGetBitmapRow(b, p, 4, 4); }, bad},
        {"no bytes", [&](auto* b, auto*) { return RkGetBitmapRow(b, p, 0, 0); }, bad},
        {"a byte past the row", [&](auto* b, auto*) { return RkGetBitmapRow(b, p, 0, 21); }, bad},
        {"past the row from a column",
         [&](auto* b, auto*) { return RkGetBitmapRowCol(b, p, 0, 4, 5); }, bad},
        {"column = width", [&](auto* b, auto*) { return RkPutBitmapRowCol(b, p, 0, 5, 1); }, bad},
        {"no buffer", [](auto* b, auto*) { return RkPutBitmapRow(b, nullptr, 0, 4); }, bad},
        {"row INT_MIN", [&](auto* b, auto*) { return RkGetBitmapRow(b, p, INT_MIN, 4); }, bad},
        {"row INT_MAX", [&](auto* b, auto*) { return RkPutBitmapRow(b, p, INT_MAX, 4); }, bad},
        {"column INT_MIN", [&](auto* b, auto*) { return RkGetBitmapRowCol(b, p, 0, INT_MIN, 1); },
         bad},
        {"column INT_MAX", [&](auto* b, auto*) { return RkPutBitmapRowCol(b, p, 0, INT_MAX, 1); },
         bad},
        {"bytes UINT64_MAX",
         [&](auto* b, auto*) { return RkPutBitmapRowCol(b, p, 0, 1, UINT64_MAX); }, bad},
        {"bytes wrapping to small",
         [&](auto* b, auto*) { return RkGetBitmapRowCol(b, p, 0, 3, UINT64_MAX - 2); }, bad},
        {"pixel INT_MIN", [](auto* b, auto*) { return RkPutPixelColor(b, INT_MIN, 0, 0); }, bad},
        {"palette range wraps",
         [](auto* b, auto*) {
             tagRGBQUAD q[2];
             return RkGetBitmapColors(b, INT_MAX, 2, q);
         },
         bad},
        {"crop beyond INT_MAX", [](auto* b, auto*) { return RkCropBitmap(b, 1, 0, INT_MAX, 1); },
         bad},
        {"crop at INT_MIN", [](auto* b, auto*) { return RkCropBitmap(b, INT_MIN, 0, 2, 2); }, bad},
        {"crop of nothing", [](auto* b, auto*) { return RkCropBitmap(b, 0, 0, 0, 1); }, bad},
        {"rectangle below",
         [](auto* b, auto* o) { return RkCopyBitmapRect(o, 284, b, 284, 0, 4, 1, 1); }, bad},
        {"rectangle copy, wrong size",
         [](auto* b, auto* o) { return RkCopyBitmapRect(o, 284, b, 283, 0, 0, 1, 1); },
         RK_ERROR_STRUCT_SIZE},
        {"no quarter turns", [](auto* b, auto*) { return RkRotateBitmapQuarters(b, 0); }, bad},
        {"four quarter turns", [](auto* b, auto*) { return RkRotateBitmapQuarters(b, 4); }, bad},
        {"INT_MIN quarter turns", [](auto* b, auto*) { return RkRotateBitmapQuarters(b, INT_MIN); },
         bad},
        {"block of negative width",
         [](auto* b, auto* o) { return RkCombineCopy(b, 0, 0, o, 0, 0, -1, 1); }, bad},
        {"block of INT_MIN height",
         [](auto* b, auto* o) { return RkCombineCopy(b, 0, 0, o, 0, 0, 1, INT_MIN); }, bad},
        {"alpha 256", [](auto* b, auto*) { return RkSetBitmapAlphaValues(b, 256); }, bad},
        {"alpha plane of 8 bits",
         [](auto* b, auto*) {
             Bmp grey;
             create(grey, 2, 2, 8);
             return RkGetBitmapAlpha(grey.get(), b, 284);
         },
         RK_ERROR_BITSPERPIXEL},
        {"rows of no bitmap",
         [&](auto*, auto*) {
             Bmp empty;
             return RkGetBitmapRow(empty.get(), p, 0, 4);
         },
         RK_ERROR_NO_BITMAP},
        {"alpha -1", [](auto* b, auto*) { return RkSetBitmapAlphaValues(b, -1); }, bad},
        {"depth 12", [](auto* b, auto*) { return RkColorResBitmap(b, 12, nullptr); },
         RK_ERROR_BITSPERPIXEL},
        {"depth INT_MIN", [](auto* b, auto*) { return RkColorResBitmap(b, INT_MIN, nullptr); },
         RK_ERROR_BITSPERPIXEL},
        {"DIB variant 2",
         [](auto* b, auto*) { return std::int64_t(RkConvertToDIB(b, 2) != nullptr); }, 0},
        {"DIB variant INT_MIN",
         [](auto* b, auto*) { return std::int64_t(RkConvertToDIB(b, INT_MIN) != nullptr); }, 0},
    };
    Bmp b24, b32;
    ASSERT_EQ(create(b24, 2, 2, 24), RK_SUCCESS);
    ASSERT_EQ(create(b32, 2, 2, 32), RK_SUCCESS);
    EXPECT_EQ(RkCombineCopy(b32.get(), 0, 0, b24.get(), 0, 0, 1, 1), RK_ERROR_BITSPERPIXEL);
    for (const Case& c : cases) {
        Bmp b, other;
        ASSERT_EQ(create(b, 5, 4, 32), RK_SUCCESS);
        ASSERT_EQ(create(other, 3, 3, 32), RK_SUCCESS);
        fillPattern(b.get());
        auto before = pixels(b.get());
        std::fill(buf.begin(), buf.end(), 0xCD);
        EXPECT_EQ(c.call(b.get(), other.get()), c.rc) << c.what;
        EXPECT_EQ(b->Width, 5) << c.what;
        EXPECT_EQ(pixels(b.get()), before) << c.what;
        EXPECT_EQ(other->Width, 3) << c.what;
        EXPECT_EQ(std::count(buf.begin(), buf.end(), 0xCD), 64) << c.what;
    }
}

TEST(RasterHostile, SizesWhoseByteCountsOverflowAreRefused)
{
    struct Case {
        int w, h, bits;
        std::uint32_t flags;
        int rc;
    } cases[] = {
        {INT_MAX, 1, 48, 0x201, RK_ERROR_TOO_LARGE}, // a row beyond INT_MAX bytes
        {INT_MAX, 1, 32, 0x80, RK_ERROR_TOO_LARGE},
        {INT_MAX / 3, 1, 24, 0x80, RK_ERROR_TOO_LARGE},       // 3 bytes a pixel, then rounded up
        {INT_MAX / 4, INT_MAX, 8, 0x201, RK_ERROR_NO_MEMORY}, // 2^60 bytes
        {INT_MIN, 1, 8, 0x201, RK_ERROR_INV_PARAMETER},
        {1, INT_MIN, 8, 0x80, RK_ERROR_INV_PARAMETER},
        {1, 1, INT_MIN, 0x201, RK_ERROR_BITSPERPIXEL},
        {5, 5, 12, 0x201, RK_ERROR_BITSPERPIXEL},
        {1, 1, 64, 0x201, RK_ERROR_BITSPERPIXEL},
    };
    for (const Case& c : cases) {
        Bmp b;
        EXPECT_EQ(create(b, c.w, c.h, c.bits, c.flags), c.rc) << c.w << "x" << c.h << "x" << c.bits;
        EXPECT_FALSE(b->Flags & BITMAP_FLAG_ALLOCATED);
    }
    EXPECT_EQ(RkCreateBitmap(nullptr, 284, 0x201, 5, 5, 8, 1, nullptr, 1), RK_ERROR_INV_PARAMETER);
    // The headers of a DIB say the same sizes with a few bytes behind them.
    BITMAPINFOHEADER h{40, INT_MAX, 1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::uint8_t bits[16] = {};
    Bmp b;
    EXPECT_EQ(RkConvertFromDIBBits(b.get(), 284, reinterpret_cast<BITMAPINFO*>(&h), bits),
              RK_ERROR_TOO_LARGE);
    h.biWidth = 1;
    h.biHeight = INT_MIN;
    EXPECT_EQ(RkConvertFromDIBBits(b.get(), 284, reinterpret_cast<BITMAPINFO*>(&h), bits),
              RK_ERROR_INV_PARAMETER);
}

// Disk-backed bitmaps whose file writes start failing after n of them: every operation either
// succeeds with the right result or reports RK_ERROR_IO, and the operations that build new
// storage leave the bitmap as it was.
TEST(RasterHostile, DiskWriteFailuresAreReported)
{
    using Op = int (*)(_BITMAPHANDLE*);
    struct Case {
        const char* what;
        Op op;
        bool keepsOnFailure;
    } cases[] = {
        {"flip", RkFlipBitmap, false},
        {"mirror", RkReverseBitmap, false},
        {"invert", RkInvertBitmap, false},
        {"fill", [](_BITMAPHANDLE* b) { return RkFillBitmap(b, RGB(1, 2, 3)); }, false},
        {"alpha values", [](_BITMAPHANDLE* b) { return RkSetBitmapAlphaValues(b, 9); }, false},
        {"half turn", [](_BITMAPHANDLE* b) { return RkRotateBitmapQuarters(b, 2); }, false},
        {"block copy", [](_BITMAPHANDLE* b) { return RkCombineCopy(b, 1, 2, b, 0, 0, 30, 9); },
         false},
        {"quarter turn", [](_BITMAPHANDLE* b) { return RkRotateBitmapQuarters(b, 1); }, true},
        {"crop", [](_BITMAPHANDLE* b) { return RkCropBitmap(b, 1, 1, 30, 10); }, true},
        {"to 8 bits", [](_BITMAPHANDLE* b) { return RkColorResBitmap(b, 8, nullptr); }, true},
        {"to 48 bits", [](_BITMAPHANDLE* b) { return RkColorResBitmap(b, 48, nullptr); }, true},
        {"alpha plane",
         [](_BITMAPHANDLE* b) {
             _BITMAPHANDLE a;
             RkInitBitmap(&a, 284, 0, 0, 0);
             int rc = RkGetBitmapAlpha(b, &a, 284);
             if (rc == RK_SUCCESS) // the plane replaces the bitmap, to compare it
                 rc = RkCopyBitmap(b, 284, &a, 284);
             RkFreeBitmap(&a);
             return rc;
         },
         true},
        {"copy",
         [](_BITMAPHANDLE* b) {
             _BITMAPHANDLE c;
             RkInitBitmap(&c, 284, 0, 0, 0);
             int rc = RkCopyBitmap(&c, 284, b, 284);
             if (rc == RK_SUCCESS)
                 rc = RkInvertBitmap(&c);
             if (rc == RK_SUCCESS)
                 rc = RkCombineCopy(b, 0, 0, &c, 0, 0, 99, 99);
             RkFreeBitmap(&c);
             return rc;
         },
         false},
    };
    std::uint64_t window = RkSetDiskWindowBytes(64);
    for (const Case& c : cases) {
        Bmp want;
        ASSERT_EQ(create(want, 33, 12, 32), RK_SUCCESS);
        fillPattern(want.get());
        ASSERT_EQ(c.op(want.get()), RK_SUCCESS) << c.what;
        bool succeeded = false;
        for (long n = 0; n < 400 && !succeeded; ++n) {
            Bmp b;
            ASSERT_EQ(create(b, 33, 12, 32, RK_MEMORY_DISK), RK_SUCCESS);
            fillPattern(b.get());
            auto before = pixels(b.get());
            RkFailDiskWritesAfter(n);
            int rc = c.op(b.get());
            RkFailDiskWritesAfter(-1);
            if (rc == RK_SUCCESS) {
                succeeded = true;
                EXPECT_EQ(pixels(b.get()), pixels(want.get())) << c.what << " after " << n;
            } else {
                ASSERT_EQ(rc, RK_ERROR_IO) << c.what << " after " << n;
                if (c.keepsOnFailure) {
                    EXPECT_EQ(b->Width, 33) << c.what;
                    EXPECT_EQ(b->BitsPerPixel, 32) << c.what;
                    EXPECT_EQ(pixels(b.get()), before) << c.what << " after " << n;
                }
            }
        }
        EXPECT_TRUE(succeeded) << c.what;
    }
    RkSetDiskWindowBytes(window);
}

struct Stop {
    int at = 0; // the report (0-based) that answers stop
    int calls = 0;
};

int stopAt(int, void* user)
{
    auto* s = static_cast<Stop*>(user);
    return s->calls++ == s->at ? 0 : 1;
}

class RasterCancel : public ::testing::Test {
protected:
    void TearDown() override { RkSetStatusCallback(nullptr, nullptr); }
};

// Stopped at any report, the first reports through the last, an operation answers
// RK_ERROR_CANCELLED and leaves the bitmap as it was.
TEST_F(RasterCancel, AtEveryReportTheBitmapStaysAsItWas)
{
    using Op = int (*)(_BITMAPHANDLE*);
    Op ops[] = {
        RkFlipBitmap,
        RkReverseBitmap,
        RkInvertBitmap,
        [](_BITMAPHANDLE* b) { return RkRotateBitmapQuarters(b, 1); },
        [](_BITMAPHANDLE* b) { return RkRotateBitmapQuarters(b, 2); },
        [](_BITMAPHANDLE* b) { return RkColorResBitmap(b, 8, nullptr); },
        [](_BITMAPHANDLE* b) { return RkCropBitmap(b, 1, 1, 5, 6); },
        [](_BITMAPHANDLE* b) {
            _BITMAPHANDLE a;
            RkInitBitmap(&a, 284, 0, 0, 0);
            int rc = RkGetBitmapAlpha(b, &a, 284);
            RkFreeBitmap(&a);
            return rc;
        },
    };
    for (std::uint32_t flags : {0x201u, 0x80u}) {
        for (std::size_t i = 0; i < std::size(ops); ++i) {
            Bmp b;
            ASSERT_EQ(create(b, 7, 9, 32, flags), RK_SUCCESS);
            fillPattern(b.get());
            auto before = pixels(b.get());
            Stop count{-1};
            RkSetStatusCallback(stopAt, &count);
            Bmp copy;
            ASSERT_EQ(RkCopyBitmap(copy.get(), 284, b.get(), 284), RK_SUCCESS);
            count.calls = 0;
            ASSERT_EQ(ops[i](copy.get()), RK_SUCCESS) << i;
            ASSERT_GT(count.calls, 1) << i;
            for (int at = 0; at < count.calls; ++at) {
                Stop stop{at};
                RkSetStatusCallback(stopAt, &stop);
                EXPECT_EQ(ops[i](b.get()), RK_ERROR_CANCELLED) << i << " at report " << at;
                EXPECT_EQ(b->Width, 7);
                EXPECT_EQ(b->BitsPerPixel, 32);
                ASSERT_EQ(pixels(b.get()), before)
                    << i << " at report " << at << " of " << count.calls;
            }
            RkSetStatusCallback(nullptr, nullptr);
        }
    }
}

struct Calls {
    int count = 0;
    int last = -1;
    bool monotonic = true;
};

int record(int percent, void* user)
{
    auto* c = static_cast<Calls*>(user);
    ++c->count;
    c->monotonic = c->monotonic && percent > c->last && percent <= 100;
    c->last = percent;
    return 1;
}

TEST_F(RasterCancel, ReportsAtMostOncePerPercent)
{
    Bmp b;
    ASSERT_EQ(create(b, 3, 1000, 24), RK_SUCCESS);
    Calls calls;
    EXPECT_EQ(RkSetStatusCallback(record, &calls), nullptr);
    void* user = nullptr;
    EXPECT_EQ(RkGetStatusCallback(&user), &record);
    EXPECT_EQ(user, &calls);
    ASSERT_EQ(RkReverseBitmap(b.get()), RK_SUCCESS);
    EXPECT_EQ(calls.count, 101);
    EXPECT_EQ(calls.last, 100);
    EXPECT_TRUE(calls.monotonic);
    void* previous = nullptr;
    EXPECT_EQ(RkSetStatusCallback(nullptr, nullptr, &previous), &record);
    EXPECT_EQ(previous, &calls);
}

} // namespace
