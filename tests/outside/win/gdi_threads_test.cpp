// GDI calls from several threads: drawing on different contexts at once, blits between two
// contexts in both directions at once (a lock-order fault would hang here), selection races
// and host contexts on separate cairo surfaces.
#include <atomic>
#include <cairo.h>
#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include <win/cairo_dc.h>
#include <win/gdi.h>

namespace {

constexpr int kThreads = 4;

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

HBITMAP Section(int width, int height, int bits)
{
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), width, -height, 1, WORD(bits), BI_RGB, 0, 0, 0, 0, 0};
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
}

// A memory context with a bitmap of its own.
struct Canvas {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap;
    HGDIOBJ old;
    Canvas(int width, int height, int bits = 24)
        : bitmap(Section(width, height, bits)), old(SelectObject(dc, bitmap))
    {
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    bool ok() const { return dc && bitmap && old; }
};

} // namespace

TEST(GdiThreads, DrawingOnDifferentContexts)
{
    std::atomic<int> failures{0};
    OnThreads([&](int i) {
        Canvas target(40, 30, i % 2 ? 24 : 32), source(10, 10);
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
        if (!target.ok() || !source.ok() || !brush) {
            failures.fetch_add(1);
            return;
        }
        RECT all{0, 0, 10, 10};
        for (int round = 0; round < 20; ++round) {
            FillRect(source.dc, &all, brush);
            SetPixel(source.dc, 2, 3, RGB(255, 255, 255));
            if (!StretchBlt(target.dc, 0, 0, 20, 20, source.dc, 0, 0, 10, 10, SRCCOPY) ||
                !BitBlt(target.dc, 25, 5, 10, 10, source.dc, 0, 0, NOTSRCCOPY))
                failures.fetch_add(1);
            if (GetPixel(target.dc, 4, 6) != RGB(255, 255, 255) ||
                GetPixel(target.dc, 1, 1) != RGB(0, 0, 255) ||
                GetPixel(target.dc, 27, 8) != RGB(0, 0, 0) ||
                GetPixel(target.dc, 30, 10) != RGB(255, 255, 0))
                failures.fetch_add(1);
        }
        DeleteObject(brush);
    });
    EXPECT_EQ(failures.load(), 0);
}

// Threads blit a -> b and b -> a at the same time, and within one context: each call must lock
// both contexts in the same order or they would deadlock.
TEST(GdiThreads, OppositeBlitsBetweenTwoContexts)
{
    Canvas a(16, 16), b(16, 16);
    ASSERT_TRUE(a.ok() && b.ok());
    OnThreads([&](int i) {
        for (int round = 0; round < 200; ++round) {
            switch (i) {
            case 0:
                BitBlt(b.dc, 0, 0, 16, 16, a.dc, 0, 0, SRCCOPY);
                break;
            case 1:
                BitBlt(a.dc, 0, 0, 16, 16, b.dc, 0, 0, SRCINVERT);
                break;
            case 2:
                StretchBlt(a.dc, 0, 0, 8, 8, a.dc, 0, 0, 16, 16, SRCCOPY);
                break;
            default:
                SetPixel(b.dc, round % 16, 0, RGB(round, 0, 0));
                break;
            }
        }
    });
}

// One bitmap wanted by every thread: at most one context holds it at a time.
TEST(GdiThreads, SelectionIsExclusive)
{
    HBITMAP shared = Section(4, 4, 24);
    ASSERT_NE(shared, nullptr);
    std::atomic<int> holders{0}, overlaps{0}, selections{0};
    OnThreads([&](int i) {
        HDC dc = CreateCompatibleDC(nullptr);
        for (int round = 0; round < 200; ++round) {
            HGDIOBJ previous = SelectObject(dc, shared);
            if (!previous)
                continue;
            if (holders.fetch_add(1) != 0)
                overlaps.fetch_add(1);
            selections.fetch_add(1);
            SetPixel(dc, i, i, RGB(i, i, i));
            holders.fetch_sub(1);
            SelectObject(dc, previous);
        }
        DeleteDC(dc);
    });
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(selections.load(), 0);
    EXPECT_TRUE(DeleteObject(shared));
}

// Host contexts on separate image surfaces, drawn from separate threads.
TEST(GdiThreads, HostContextsOnSeparateSurfaces)
{
    std::atomic<int> failures{0};
    OnThreads([&](int i) {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 32, 32);
        cairo_t* cr = cairo_create(surface);
        HDC host = WinCreateCairoDC(cr, 32, 32, 0);
        Canvas source(8, 8);
        HBRUSH brush = CreateSolidBrush(RGB(0, 128, 0));
        RECT all{0, 0, 32, 32}, part{0, 0, 8, 8};
        for (int round = 0; round < 10 && host && source.ok(); ++round) {
            FillRect(host, &all, brush);
            FillRect(source.dc, &part, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            BitBlt(host, 4 * i, 4, 8, 8, source.dc, 0, 0, SRCCOPY);
            if (GetPixel(host, 4 * i + 1, 5) != RGB(255, 255, 255) ||
                GetPixel(host, 31, 31) != RGB(0, 128, 0))
                failures.fetch_add(1);
        }
        if (!host)
            failures.fetch_add(1);
        DeleteObject(brush);
        DeleteDC(host);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    });
    EXPECT_EQ(failures.load(), 0);
}
