// The kernel's record checks on several threads: bitmaps made and freed on some threads while
// others read and write rows of their own, and two records of one bitmap freed at once.
#include "raster_test_util.h"

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using namespace rktest;

namespace {

constexpr int kThreads = 4;

template <class Body> void OnThreads(Body body)
{
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads)
                std::this_thread::yield();
            body(i);
        });
    for (auto& t : threads)
        t.join();
}

TEST(RasterThreads, RowsWhileOtherBitmapsComeAndGo)
{
    std::atomic<int> failures{0};
    OnThreads([&](int i) {
        if (i % 2 == 0) {
            // Churn: fresh bitmaps reuse the slots of freed ones, and stale copies of freed
            // records must keep failing.
            for (int round = 0; round < 300; ++round) {
                Bmp b;
                if (create(b, 8, 2, 8) != RK_SUCCESS) {
                    failures.fetch_add(1);
                    continue;
                }
                _BITMAPHANDLE stale = b.h;
                RkFreeBitmap(b.get());
                std::uint8_t line[8];
                if (RkGetBitmapRow(&stale, line, 0, 8) != RK_ERROR_NO_BITMAP)
                    failures.fetch_add(1);
            }
            return;
        }
        Bmp own;
        if (create(own, 32, 16, 24) != RK_SUCCESS) {
            failures.fetch_add(1);
            return;
        }
        std::uint8_t row[96], back[96];
        for (int round = 0; round < 200; ++round) {
            const int y = round % 16;
            for (int x = 0; x < 96; ++x)
                row[x] = std::uint8_t(x + round + i);
            if (RkPutBitmapRow(own.get(), row, y, 96) != 96 ||
                RkGetBitmapRow(own.get(), back, y, 96) != 96 || std::memcmp(row, back, 96) != 0)
                failures.fetch_add(1);
            if (RkPutPixelColor(own.get(), y, 1, RGB(1, 2, 3)) != RK_SUCCESS ||
                RkGetPixelColor(own.get(), y, 1) != RGB(1, 2, 3))
                failures.fetch_add(1);
        }
    });
    EXPECT_EQ(failures.load(), 0);
}

// A careless owner frees a bitmap through a copy of its record while another thread frees the
// original: the bitmap is freed once (the sanitizers would report a second free).
TEST(RasterThreads, CopyAndOriginalFreedAtOnce)
{
    for (int round = 0; round < 50; ++round) {
        Bmp original;
        ASSERT_EQ(create(original, 4, 4, 8), RK_SUCCESS);
        _BITMAPHANDLE copy = original.h;
        std::atomic<bool> go{false};
        std::thread other([&] {
            while (!go.load())
                std::this_thread::yield();
            RkFreeBitmap(&copy);
        });
        go.store(true);
        RkFreeBitmap(original.get());
        other.join();
        std::uint8_t line[4];
        EXPECT_EQ(RkGetBitmapRow(original.get(), line, 0, 4), RK_ERROR_NO_BITMAP);
        EXPECT_EQ(RkGetBitmapRow(&copy, line, 0, 4), RK_ERROR_NO_BITMAP);
    }
}

} // namespace
