// Masks, ColorPromig and Acoblar on a square 24-bit image (side DIB_BENCH_OPS_SIDE, default
// 10000), each against OpenCV doing the same job in the same run:
//   whole-image mask     vs cv::inRange on the same pixels (the goal: under 0.5 s)
//   region mask          vs cv::floodFill (4-connected, fixed range, mask only) of an image
//                        that matches everywhere (goal: at most 2x, under 150 MiB extra)
//   ColorPromig r=10000  on a 10 x 10 image (goal: under 1 ms)
//   Acoblar mode 2       vs cv::hconcat of two such images, and `vips join a.v b.v out.v
//                        horizontal` (a separate process, start-up included; goal: at most 1.5x)
// Counter "ratio" is ours / OpenCV's, "ratio_vips" ours / vips's (when vips is on the PATH);
// "extra_MiB" the growth of peak resident memory.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <fstream>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <string>
#include <unistd.h>

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

std::string scratch(const char* name)
{
    return "/tmp/dib_bench_compose_" + std::to_string(getpid()) + "_" + name;
}

// m (blue, green, red) in vips's own format at path, through a binary PPM; false without vips.
bool writeVips(const cv::Mat& m, const std::string& path)
{
    const std::string ppm = scratch("in.ppm");
    FILE* f = std::fopen(ppm.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n255\n", m.cols, m.rows);
    cv::Mat rgb;
    cv::cvtColor(m, rgb, cv::COLOR_BGR2RGB);
    for (int y = 0; y < rgb.rows; ++y)
        std::fwrite(rgb.ptr(y), 1, std::size_t(rgb.cols) * 3, f);
    std::fclose(f);
    const bool ok =
        std::system(("vips copy " + ppm + " " + path + " > /dev/null 2>&1").c_str()) == 0;
    std::remove(ppm.c_str());
    return ok;
}

void BM_Acoblar(benchmark::State& state)
{
    double ours = 0, theirs = 0, vips = -1;
    for (auto _ : state) {
        state.PauseTiming();
        TDib a, b;
        cv::Mat ma, mb, joined;
        makeImage(a, ma);
        makeImage(b, mb);
        const std::string va = scratch("a.v"), vb = scratch("b.v"), out = scratch("out.v");
        const bool haveVips = writeVips(ma, va) && writeVips(mb, vb);
        state.ResumeTiming();
        ours = timed([&] { a.Acoblar(&b, 2); });
        theirs = timed([&] { cv::hconcat(ma, mb, joined); });
        if (haveVips) {
            int rc = 0;
            const std::string command =
                "vips join " + va + " " + vb + " " + out + " horizontal > /dev/null 2>&1";
            vips = timed([&] { rc = std::system(command.c_str()); });
            if (rc != 0)
                vips = -1;
        }
        for (const std::string& p : {va, vb, out})
            std::remove(p.c_str());
    }
    state.counters["ours_s"] = ours;
    state.counters["ratio"] = ours / theirs;
    if (vips > 0)
        state.counters["ratio_vips"] = ours / vips;
}

} // namespace

BENCHMARK(BM_WholeMask)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionMask)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorPromigHugeRadius)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Acoblar)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
