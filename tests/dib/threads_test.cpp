// Images used on several threads at once, each thread on images of its own: rows, pixels and
// drawing through device contexts. Run under ThreadSanitizer (make test-tsan) these also prove
// that nothing shared inside the library is touched without synchronisation.
#include <atomic>
#include <cstdint>
#include <dib/TDib.h>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <thread>
#include <vector>
#include <win/gdi.h>

namespace {

constexpr int kThreads = 4;

unsigned char Pattern(int thread, int row, std::size_t x)
{
    return static_cast<unsigned char>(x * 3 + std::size_t(row) * 7 + std::size_t(thread) * 31);
}

// Runs body(i) on kThreads threads, all released at once.
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

} // namespace

// Memory and disk-backed images at several depths, written and read row by row and pixel by
// pixel on their own threads; every thread must read back exactly what it wrote.
TEST(Threads, RowsAndPixelsOfDifferentImages)
{
    struct Setup {
        int bits;
        bool disk;
    } const setups[kThreads] = {{24, false}, {8, false}, {32, true}, {1, false}};
    std::vector<TDib> images(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        const int w = 61 + i, h = 40;
        const int rc = setups[i].disk ? images[i].CrearDisc(w, h, setups[i].bits)
                                      : images[i].Crear(w, h, setups[i].bits);
        ASSERT_EQ(rc, 0) << i;
    }
    std::atomic<int> mismatches{0};
    OnThreads([&](int i) {
        TDib& d = images[std::size_t(i)];
        const std::size_t bytes = std::size_t(d.GetBytesPerLinia());
        std::vector<unsigned char> row(bytes), back(bytes);
        for (int pass = 0; pass < 3; ++pass) {
            for (int y = 0; y < d.GetMidaY(); ++y) {
                for (std::size_t x = 0; x < bytes; ++x)
                    row[x] = Pattern(i + pass, y, x);
                if (d.SetLinia(y, row.data(), bytes) != 0)
                    mismatches.fetch_add(1);
            }
            for (int y = 0; y < d.GetMidaY(); ++y) {
                for (std::size_t x = 0; x < bytes; ++x)
                    row[x] = Pattern(i + pass, y, x);
                if (d.GetLinia(y, back.data(), bytes) != 0 || back != row)
                    mismatches.fetch_add(1);
            }
            // Pixels: white and black read back as such at every depth, palettes included.
            for (int y = 0; y < d.GetMidaY(); y += 3) {
                const unsigned long colour = (y + pass) % 2 ? 0xFFFFFFul : 0ul;
                d.SetPixel(y % d.GetMidaX(), y, colour);
                if (d.GetPixel(y % d.GetMidaX(), y) != colour)
                    mismatches.fetch_add(1);
            }
        }
    });
    EXPECT_EQ(mismatches.load(), 0);
}

// Each thread draws into its own image through its own device contexts (fill, pixels, a blit
// from a second image's context) while the others do the same.
TEST(Threads, DrawingOnDifferentContexts)
{
    std::vector<TDib> targets(kThreads), sources(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(targets[std::size_t(i)].Crear(48, 32, i % 2 ? 24 : 32), 0);
        ASSERT_EQ(sources[std::size_t(i)].Crear(16, 16, 24), 0);
    }
    std::atomic<int> failures{0};
    OnThreads([&](int i) {
        TDib& target = targets[std::size_t(i)];
        TDib& source = sources[std::size_t(i)];
        const COLORREF fill = RGB(10 * i, 200, 30), dot = RGB(250, 5 * i, 7);
        for (int round = 0; round < 5; ++round) {
            HDC s = source.CreateDCW();
            HDC t = target.CreateDCW();
            HBRUSH brush = CreateSolidBrush(fill);
            if (!s || !t || !brush) {
                failures.fetch_add(1);
            } else {
                RECT all{0, 0, 16, 16};
                FillRect(s, &all, brush);
                SetPixel(s, 3, 4, dot);
                RECT left{0, 0, 24, 32};
                FillRect(t, &left, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                if (!BitBlt(t, 30, 10, 16, 16, s, 0, 0, SRCCOPY))
                    failures.fetch_add(1);
                if (GetPixel(t, 33, 14) != dot || GetPixel(t, 31, 11) != fill ||
                    GetPixel(t, 5, 5) != RGB(0, 0, 0))
                    failures.fetch_add(1);
            }
            if (brush)
                DeleteObject(brush);
            if (t)
                target.DeleteDC(t);
            if (s)
                source.DeleteDC(s);
        }
        // What was drawn reached the image's own pixels.
        if (target.GetPixel(33, 14) != dot)
            failures.fetch_add(1);
    });
    EXPECT_EQ(failures.load(), 0);
}
