// bench_tiff_read.cpp - reading a 10000 x 10000 RGB LZW TIFF into a TDib against libtiff alone.
//
//   BM_LibtiffScanlines  TIFFReadScanline of every row into one buffer: the floor
//   BM_TDibLoad          TDib::_loadTiff into the image (RGB -> BGR, rows into the bitmap)
//   tiffinfo -D          the same file decoded by libtiff's own tool, as a whole process
//
// The file (smooth gradients with a little noise, about 2:1 under LZW) is written once to
// $TMPDIR. At the end each figure is printed as a ratio of tiffinfo's, all measured in this run
// (goal: the load at most 1.1).
#include <benchmark/benchmark.h>
#include <chrono>
#include <codecs/tiff/tiff_codec.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dib/TDib.h>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

constexpr std::uint32_t kSide = 10000;

std::string FilePath()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/libdib-bench-rgb-lzw.tif";
}

void MakeFile(const std::string& path)
{
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        std::abort();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kSide);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kSide);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    std::vector<std::uint8_t> row(kSide * 3);
    std::uint32_t seed = 12345;
    for (std::uint32_t y = 0; y < kSide; ++y) {
        for (std::uint32_t x = 0; x < kSide; ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            row[x * 3 + 0] = std::uint8_t(x / 40 + (seed & 3));
            row[x * 3 + 1] = std::uint8_t(y / 40);
            row[x * 3 + 2] = std::uint8_t((x + y) / 80 + ((seed >> 8) & 1));
        }
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
}

const std::string& File()
{
    static const std::string path = [] {
        const std::string p = FilePath();
        if (FILE* f = std::fopen(p.c_str(), "rb"))
            std::fclose(f);
        else
            MakeFile(p);
        return p;
    }();
    return path;
}

double g_libtiff = 0, g_load = 0, g_tool = 0;

void BM_LibtiffScanlines(benchmark::State& state)
{
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        TIFF* t = TIFFOpen(File().c_str(), "r");
        std::vector<std::uint8_t> buf(TIFFScanlineSize64(t));
        for (std::uint32_t y = 0; y < kSide; ++y)
            TIFFReadScanline(t, buf.data(), y, 0);
        TIFFClose(t);
        benchmark::DoNotOptimize(buf.data());
        g_libtiff = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
}

void BM_TDibLoad(benchmark::State& state)
{
    const std::wstring wide(File().begin(), File().end());
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        TDib image;
        if (dib::TiffReaderAccess::LoadTiff(image, wide.c_str(), 0, nullptr, nullptr, 1, 0, 1) != 1)
            state.SkipWithError("load failed");
        g_load = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
}

void BM_TiffinfoD(benchmark::State& state)
{
    const std::string command = "tiffinfo -D " + File() + " > /dev/null 2>&1";
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("tiffinfo failed");
        g_tool = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
}

BENCHMARK(BM_TiffinfoD)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffScanlines)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TDibLoad)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffinfoD)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    File();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (g_tool > 0)
        std::printf("ratios to tiffinfo -D (%.3f s): libtiff scan lines %.2f, TDib load %.2f\n",
                    g_tool, g_libtiff / g_tool, g_load / g_tool);
    return 0;
}
