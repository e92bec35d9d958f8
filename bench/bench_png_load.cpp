// bench_png_load.cpp - loading an 8000 x 8000 RGB PNG with the raster kernel against libpng
// alone decoding the same file.
//
//   BM_LibpngDecode   png_read_row of every row into a freshly allocated image: the floor
//   BM_RkLoadFile     RkLoadFile at 24 bits, blue-green-red, into a new bitmap
//
// The file (smooth gradients with a little noise, default zlib level) is written once to
// $TMPDIR. At the end the load's time is printed as a ratio of libpng's, both measured in this
// run (goal: at most 1.15).
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <png.h>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr std::uint32_t kSide = 8000;

std::string FilePath()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/libdib-bench-rgb-8000.png";
}

void MakeFile(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        std::abort();
    png_init_io(png, f);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<std::uint8_t> row(kSide * 3);
    std::uint32_t seed = 12345;
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const std::uint32_t noise = (seed >> 24) & 7;
            row[3 * x] = std::uint8_t((x / 32 + noise) & 255);
            row[3 * x + 1] = std::uint8_t((y / 32 + noise) & 255);
            row[3 * x + 2] = std::uint8_t(((x + y) / 64 + noise) & 255);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

const std::string& File()
{
    static const std::string path = [] {
        const std::string p = FilePath();
        struct stat st {};
        if (stat(p.c_str(), &st) != 0)
            MakeFile(p);
        return p;
    }();
    return path;
}

double g_libpng = 0, g_kernel = 0;

double DecodeWithLibpng()
{
    const auto start = std::chrono::steady_clock::now();
    FILE* f = std::fopen(File().c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        std::abort();
    png_init_io(png, f);
    png_read_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[rowBytes * kSide]);
    for (std::uint32_t y = 0; y < kSide; ++y)
        png_read_row(png, image.get() + rowBytes * y, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    benchmark::DoNotOptimize(image[rowBytes * kSide - 1]);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double LoadWithKernel()
{
    const auto start = std::chrono::steady_clock::now();
    _BITMAPHANDLE b;
    RkInitBitmap(&b, BITMAPHANDLE_SIZE, 0, 0, 0);
    if (RkLoadFile(File().c_str(), &b, BITMAPHANDLE_SIZE, 24, RK_ORDER_BGR, 0, nullptr) <= 0)
        std::abort();
    RkFreeBitmap(&b);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_LibpngDecode(benchmark::State& state)
{
    File();
    double best = 1e9;
    for (auto _ : state)
        best = std::min(best, DecodeWithLibpng());
    g_libpng = best;
}

void BM_RkLoadFile(benchmark::State& state)
{
    File();
    double best = 1e9;
    for (auto _ : state)
        best = std::min(best, LoadWithKernel());
    g_kernel = best;
}

BENCHMARK(BM_LibpngDecode)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RkLoadFile)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (g_libpng > 0 && g_kernel > 0)
        std::printf("RkLoadFile / libpng alone (best of 3 each): %.3f\n", g_kernel / g_libpng);
    benchmark::Shutdown();
    return 0;
}
