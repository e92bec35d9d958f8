// Masks, ColorPromig and Acoblar on a square 24-bit image (side DIB_BENCH_OPS_SIDE, default
// 10000), each against OpenCV doing the same job in the same run:
//   whole-image mask     vs cv::inRange on the same pixels (the goal: under 0.5 s)
//   region mask          vs cv::floodFill (4-connected, fixed range, mask only) of an image
//                        that matches everywhere (goal: at most 2x, under 150 MiB extra)
//   ColorPromig r=10000  on a 10 x 10 image (goal: under 1 ms)
//   Acoblar mode 2       vs cv::hconcat of two such images
// Counter "ratio" is ours / OpenCV's; "extra_MiB" the growth of peak resident memory.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <fstream>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <string>

namespace {

int side()
{
    const char* s = std::getenv("DIB_BENCH_OPS_SIDE");
    const int v = s ? std::atoi(s) : 0;
    return v > 0 ? v : 10000;
}

double vmHwmMiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

template <typename F> double timed(F f)
{
    const auto t = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A uniform-ish image (every pixel within 4 of grey 128) and its pixels as a Mat.
void makeImage(TDib& d, cv::Mat& m)
{
    const int n = side();
    d.Crear(n, n, 24);
    m.create(n, n, CV_8UC3);
    std::vector<unsigned char> line(std::size_t(n) * 3);
    for (int y = 0; y < n; ++y) {
        for (std::size_t i = 0; i < line.size(); ++i)
            line[i] = static_cast<unsigned char>(126 + (i * 7 + std::size_t(y)) % 5);
        d.SetLinia(y, line.data(), line.size());
        std::memcpy(m.ptr(y), line.data(), line.size());
    }
}

void BM_WholeMask(benchmark::State& state)
{
    TDib d;
    cv::Mat m, out;
    makeImage(d, m);
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        ours = timed([&] { std::unique_ptr<TDib> mask(d.ExtreureMascaraColor(0x808080, 0.01)); });
        theirs = timed([&] { cv::inRange(m, cv::Scalar::all(125), cv::Scalar::all(131), out); });
    }
    state.counters["ours_s"] = ours;
    state.counters["ratio"] = ours / theirs;
}

void BM_RegionMask(benchmark::State& state)
{
    TDib d;
    cv::Mat m;
    makeImage(d, m);
    double ours = 0, theirs = 0, extra = 0;
    for (auto _ : state) {
        const double before = vmHwmMiB();
        ours = timed([&] {
            std::unique_ptr<TDib> mask(
                d.ExtreureMascaraColor(0x808080, CPoint(0, 0), 0.02, nullptr));
        });
        extra = vmHwmMiB() - before;
        theirs = timed([&] {
            cv::Mat fill = cv::Mat::zeros(m.rows + 2, m.cols + 2, CV_8U);
            cv::floodFill(m, fill, cv::Point(0, 0), cv::Scalar(), nullptr, cv::Scalar::all(5),
                          cv::Scalar::all(5),
                          4 | cv::FLOODFILL_FIXED_RANGE | cv::FLOODFILL_MASK_ONLY | (255 << 8));
        });
    }
    state.counters["ours_s"] = ours;
    state.counters["ratio"] = ours / theirs;
    state.counters["extra_MiB"] = extra;
}

void BM_ColorPromigHugeRadius(benchmark::State& state)
{
    TDib d;
    d.Crear(10, 10, 24);
    for (auto _ : state)
        benchmark::DoNotOptimize(d.ColorPromig(5, 5, 10000));
}

void BM_Acoblar(benchmark::State& state)
{
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TDib a, b;
        cv::Mat ma, mb, joined;
        makeImage(a, ma);
        makeImage(b, mb);
        state.ResumeTiming();
        ours = timed([&] { a.Acoblar(&b, 2); });
        theirs = timed([&] { cv::hconcat(ma, mb, joined); });
    }
    state.counters["ours_s"] = ours;
    state.counters["ratio"] = ours / theirs;
}

} // namespace

BENCHMARK(BM_WholeMask)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionMask)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorPromigHugeRadius)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Acoblar)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
