// Display: Pintar of a 10000 x 10000 24-bit image into a 1000 x 1000 image surface, nearest and
// high quality, against a bare cairo program doing the same paint from an RGB24 image surface
// prepared beforehand (its preparation is not timed). A third run paints a disk-backed image
// (CrearDisc, side DIB_BENCH_DISPLAY_DISK_SIDE, default 40000: 4.5 GB) fitted into 1000 x 1000
// and reports the growth of resident memory that painting causes.
//
// Counters: ratio = this run's time / the bare cairo run of the same sampling (measured in the
// same process); rss_MiB = peak resident memory added by painting the disk-backed image.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <chrono>
#include <cstdlib>
#include <dib/TDib.h>
#include <dib/outside/win/cairo_dc.h>
#include <fstream>
#include <string>

namespace {

constexpr int kSide = 10000;
constexpr int kBox = 1000;

double vmHwmMiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

double bareSeconds[2] = {0, 0};

cairo_surface_t* bareSource()
{
    static cairo_surface_t* s = [] {
        cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kSide, kSide);
        unsigned char* data = cairo_image_surface_get_data(image);
        const int stride = cairo_image_surface_get_stride(image);
        for (int y = 0; y < kSide; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * stride);
            for (int x = 0; x < kSide; ++x)
                row[x] = 0xFF000000u | std::uint32_t((x * 7) & 255) << 16 |
                         std::uint32_t((y * 3) & 255) << 8 | std::uint32_t((x ^ y) & 255);
        }
        cairo_surface_mark_dirty(image);
        return image;
    }();
    return s;
}

TDib& image()
{
    static TDib* d = [] {
        auto* t = new TDib;
        t->Crear(kSide, kSide, 24);
        std::string row(std::size_t(kSide) * 3, '\0');
        for (int y = 0; y < kSide; ++y) {
            for (int x = 0; x < kSide; ++x) {
                row[std::size_t(x) * 3] = char((x ^ y) & 255);
                row[std::size_t(x) * 3 + 1] = char((y * 3) & 255);
                row[std::size_t(x) * 3 + 2] = char((x * 7) & 255);
            }
            t->SetLinia(y, reinterpret_cast<const unsigned char*>(row.data()), row.size());
        }
        return t;
    }();
    return *d;
}

void BM_BareCairo(benchmark::State& state)
{
    const bool good = state.range(0) != 0;
    cairo_surface_t* source = bareSource();
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kBox, kBox);
        cairo_t* cr = cairo_create(target);
        cairo_scale(cr, double(kBox) / kSide, double(kBox) / kSide);
        cairo_set_source_surface(cr, source, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr),
                                 good ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
        cairo_paint(cr);
        cairo_surface_flush(target);
        cairo_destroy(cr);
        cairo_surface_destroy(target);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    bareSeconds[good] = total / double(state.iterations());
}

void BM_Pintar(benchmark::State& state)
{
    const bool good = state.range(0) != 0;
    TDib& d = image();
    double total = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kBox, kBox);
        cairo_t* cr = cairo_create(target);
        CDC dc;
        dc.Attach(WinCreateCairoDC(cr, kBox, kBox, 96));
        if (good) {
            const RECT box{0, 0, kBox, kBox};
            d.Display(&dc, &box, SRCCOPY, 0, nullptr, 1);
        } else {
            CRect box(0, 0, kBox, kBox);
            d.Pintar(&dc, box, 0);
        }
        dc.DeleteDC();
        cairo_surface_flush(target);
        cairo_destroy(cr);
        cairo_surface_destroy(target);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    const double mine = total / double(state.iterations());
    if (bareSeconds[good] > 0)
        state.counters["ratio"] = mine / bareSeconds[good];
}

void BM_PintarDiskBacked(benchmark::State& state)
{
    const char* env = std::getenv("DIB_BENCH_DISPLAY_DISK_SIDE");
    const int side = env && std::atoi(env) > 0 ? std::atoi(env) : 40000;
    TDib d;
    if (d.CrearDisc(side, side, 24) != 0) {
        state.SkipWithError("CrearDisc failed");
        return;
    }
    const double before = vmHwmMiB();
    for (auto _ : state) {
        cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kBox, kBox);
        cairo_t* cr = cairo_create(target);
        CDC dc;
        dc.Attach(WinCreateCairoDC(cr, kBox, kBox, 96));
        const RECT box{0, 0, kBox, kBox};
        if (d.Display(&dc, &box, SRCCOPY, 0, nullptr, int(state.range(0))) != 0)
            state.SkipWithError("painting failed");
        dc.DeleteDC();
        cairo_destroy(cr);
        cairo_surface_destroy(target);
    }
    state.counters["rss_MiB"] = vmHwmMiB() - before;
}

} // namespace

// The bare runs come first: the ratios refer to them.
BENCHMARK(BM_BareCairo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Pintar)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PintarDiskBacked)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
