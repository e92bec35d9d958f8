// Geometry and tone operations on a square 24-bit image (side DIB_BENCH_OPS_SIDE, default
// 10000), each against a peer doing the same job in the same run:
//   FastRotate90CW         vs `vips rot in.v out.v d90` (goal: at most 1.5x) and cv::rotate
//   RotarFine 0.2 rad grow vs `vips rotate in.v out.v 11.45` (goal: at most 1.5x)
//   interpolated resize    the kernel's box-average resize to half size (what EscalarInt
//                          method 4 calls on 24 bits) vs cv::resize INTER_AREA (goal: 1.2x) and
//                          `vips resize in.v out.v 0.5` (1.0x)
//   EscalarInt             method 4 to half size, 24 bits vs cv::resize INTER_AREA, and the
//                          32-bit path vs the 24-bit one (goal: at most 2.5x)
//   table operations       contrast, brightness, gamma, invert, posterise vs `vips linear`
//                          (a x + b into 8 bits)
//                          (goal: at most 1.0x)
//   GrayScale              vs cv::cvtColor (goal: at most 1.2x)
//   SuavitzarMed(5)        vs cv::medianBlur (goal: at most 1.5x)
// vips runs as a separate process on its own file format (wall time, start-up included), as
// the goals are stated; OpenCV runs in process with its parallel backend (both cores), as do
// our operations that are one OpenCV call on memory bitmaps. Counter "ratio" is ours / peer.
// vips must be on the PATH (Debian libvips-tools); its peers are skipped otherwise.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <raster/kernel.h>
#include <raster/ops/ops_geometry.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int side()
{
    const char* s = std::getenv("DIB_BENCH_OPS_SIDE");
    const int v = s ? std::atoi(s) : 0;
    return v > 0 ? v : 10000;
}

template <typename F> double timed(F f)
{
    const auto t = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

std::string scratch(const char* name)
{
    return "/tmp/dib_bench_ops_" + std::to_string(getpid()) + "_" + name;
}

bool haveVips()
{
    static const bool have = std::system("vips --version > /dev/null 2>&1") == 0;
    return have;
}

// Seconds taken by a vips command (arguments after "vips"), or -1 when it failed.
double vips(const std::string& args)
{
    const std::string command = "vips " + args + " > /dev/null 2>&1";
    int rc = 0;
    const double s = timed([&] { rc = std::system(command.c_str()); });
    return rc == 0 ? s : -1;
}

// A textured 24-bit image, its pixels as a Mat (blue, green, red) and, when vips is there, the
// same pixels in vips's own format at in.v (made once per run).
struct Fixture {
    TDib dib;
    cv::Mat mat;
    std::string v;

    explicit Fixture(int bits = 24)
    {
        const int n = side();
        const int bytes = bits / 8;
        dib.Crear(n, n, bits);
        mat.create(n, n, bits == 32 ? CV_8UC4 : CV_8UC3);
        std::vector<unsigned char> line(std::size_t(n) * std::size_t(bytes));
        for (int y = 0; y < n; ++y) {
            for (std::size_t i = 0; i < line.size(); ++i)
                line[i] = static_cast<unsigned char>((i * 7 + std::size_t(y) * 3 + i / 97) & 255);
            dib.SetLinia(y, line.data(), line.size());
            std::memcpy(mat.ptr(y), line.data(), line.size());
        }
    }

    // in.v for vips, written through a binary PPM.
    const std::string& vipsFile()
    {
        if (!v.empty() || !haveVips() || mat.channels() != 3)
            return v;
        const std::string ppm = scratch("in.ppm");
        if (FILE* f = std::fopen(ppm.c_str(), "wb")) {
            std::fprintf(f, "P6\n%d %d\n255\n", mat.cols, mat.rows);
            std::vector<unsigned char> rgb(std::size_t(mat.cols) * 3);
            for (int y = 0; y < mat.rows; ++y) {
                const unsigned char* p = mat.ptr(y);
                for (std::size_t i = 0; i < rgb.size(); i += 3) {
                    rgb[i] = p[i + 2];
                    rgb[i + 1] = p[i + 1];
                    rgb[i + 2] = p[i];
                }
                std::fwrite(rgb.data(), 1, rgb.size(), f);
            }
            std::fclose(f);
            const std::string file = scratch("in.v");
            if (vips("copy " + ppm + " " + file) >= 0)
                v = file;
            std::remove(ppm.c_str());
        }
        return v;
    }

    ~Fixture()
    {
        if (!v.empty())
            std::remove(v.c_str());
        std::remove(scratch("out.v").c_str());
    }
};

Fixture& shared24()
{
    static Fixture f;
    return f;
}

// Times op on a fresh copy of the shared image (the copy is not timed).
double onCopy(const std::function<void(TDib&)>& op)
{
    TDib copy(shared24().dib);
    return timed([&] { op(copy); });
}

void report(benchmark::State& state, double ours, double peer, const char* name = "ratio")
{
    state.counters["ours_s"] = ours;
    if (peer > 0)
        state.counters[name] = ours / peer;
}

void BM_FastRotate90(benchmark::State& state)
{
    Fixture& f = shared24();
    const std::string in = f.vipsFile();
    double ours = 0, cvs = 0, vs = -1;
    for (auto _ : state) {
        ours = onCopy([](TDib& d) { d.FastRotate90CW(); });
        cv::Mat out;
        cvs = timed([&] { cv::rotate(f.mat, out, cv::ROTATE_90_CLOCKWISE); });
        if (!in.empty())
            vs = vips("rot " + in + " " + scratch("out.v") + " d90");
    }
    report(state, ours, vs, "ratio_vips");
    report(state, ours, cvs, "ratio_cv");
}

void BM_RotarFine(benchmark::State& state)
{
    Fixture& f = shared24();
    const std::string in = f.vipsFile();
    double ours = 0, vs = -1;
    for (auto _ : state) {
        ours = onCopy([](TDib& d) { d.RotarFine(0.2, 1, 0xFFFFFF); });
        if (!in.empty())
            vs = vips("rotate " + in + " " + scratch("out.v") + " 11.45");
    }
    report(state, ours, vs, "ratio_vips");
}

int SizeHalf(TDib& d)
{
    return RkSizeBitmap(&dib::TDibAccess::Bitmap(d), d.GetMidaX() / 2, d.GetMidaY() / 2,
                        RK_SIZE_RESAMPLE);
}

void BM_ResizeHalf(benchmark::State& state)
{
    Fixture& f = shared24();
    const std::string in = f.vipsFile();
    double ours = 0, cvs = 0, vs = -1;
    for (auto _ : state) {
        ours = onCopy([](TDib& d) { SizeHalf(d); });
        cv::Mat out;
        cvs = timed([&] {
            cv::resize(f.mat, out, cv::Size(f.mat.cols / 2, f.mat.rows / 2), 0, 0, cv::INTER_AREA);
        });
        if (!in.empty())
            vs = vips("resize " + in + " " + scratch("out.v") + " 0.5");
    }
    report(state, ours, vs, "ratio_vips");
    report(state, ours, cvs, "ratio_cv");
}

// TDib::EscalarInt (method 4) to half size: 24 bits against cv::resize INTER_AREA, and the
// 32-bit path (channel by channel) against the 24-bit one (goal: at most 2.5x).
void BM_EscalarInt(benchmark::State& state)
{
    Fixture& f = shared24();
    double ours24 = 0, ours32 = 0, cvs = 0;
    for (auto _ : state) {
        ours24 = onCopy([](TDib& d) { d.EscalarInt(d.GetMidaX() / 2, d.GetMidaY() / 2, 4); });
        cv::Mat out;
        cvs = timed([&] {
            cv::resize(f.mat, out, cv::Size(f.mat.cols / 2, f.mat.rows / 2), 0, 0, cv::INTER_AREA);
        });
        Fixture f32(32);
        f32.mat.release();
        ours32 =
            timed([&] { f32.dib.EscalarInt(f32.dib.GetMidaX() / 2, f32.dib.GetMidaY() / 2, 4); });
    }
    report(state, ours24, cvs, "ratio_cv");
    state.counters["ours32_s"] = ours32;
    if (ours24 > 0)
        state.counters["ratio_32_24"] = ours32 / ours24;
}

void tableOp(benchmark::State& state, const std::function<void(TDib&)>& op)
{
    Fixture& f = shared24();
    const std::string in = f.vipsFile();
    double ours = 0, vs = -1;
    for (auto _ : state) {
        ours = onCopy(op);
        if (!in.empty())
            vs = vips("linear --uchar " + in + " " + scratch("out.v") + " 1.2 10");
    }
    report(state, ours, vs, "ratio_vips");
}

void BM_Contrast(benchmark::State& s)
{
    tableOp(s, [](TDib& d) { d.SetContrast(300); });
}
void BM_Brightness(benchmark::State& s)
{
    tableOp(s, [](TDib& d) { d.CanviaBrillo(200, 0); });
}
void BM_Gamma(benchmark::State& s)
{
    tableOp(s, [](TDib& d) { d.SetGamma(2.2); });
}
void BM_Invert(benchmark::State& s)
{
    tableOp(s, [](TDib& d) { d.Invertir(); });
}
void BM_Posterise(benchmark::State& s)
{
    tableOp(s, [](TDib& d) { d.Posteritzar(4); });
}

void BM_GrayScale(benchmark::State& state)
{
    Fixture& f = shared24();
    double ours = 0, cvs = 0;
    for (auto _ : state) {
        ours = onCopy([](TDib& d) { d.GrayScale(); });
        cv::Mat out;
        cvs = timed([&] { cv::cvtColor(f.mat, out, cv::COLOR_BGR2GRAY); });
    }
    report(state, ours, cvs, "ratio_cv");
}

void BM_Median5(benchmark::State& state)
{
    Fixture& f = shared24();
    double ours = 0, cvs = 0;
    for (auto _ : state) {
        ours = onCopy([](TDib& d) { d.SuavitzarMed(5); });
        cv::Mat out;
        cvs = timed([&] { cv::medianBlur(f.mat, out, 5); });
    }
    report(state, ours, cvs, "ratio_cv");
}

} // namespace

BENCHMARK(BM_FastRotate90)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotarFine)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeHalf)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EscalarInt)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Brightness)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gamma)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Invert)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Posterise)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrayScale)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Median5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
