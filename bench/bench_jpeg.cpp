// bench_jpeg.cpp - decoding a 10000 x 8000 baseline RGB JPEG: into a TDib, to a line consumer
// without an image, and, as the reference in the same run, libjpeg alone into one buffer and
// the djpeg program to /dev/null.
//
// The file is made once per run in $TMPDIR (quality 90, 4:2:0, a pattern with detail so the
// entropy decoder has work). Figures to compare: LoadIntoTDib / LibjpegToBuffer.
#include <benchmark/benchmark.h>
#include <chrono>
#include <codec/jpeg_support.h>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 10000;
constexpr int kHeight = 8000;

bool Encode(const char* path)
{
    FILE* out = std::fopen(path, "wb");
    if (!out)
        return false;
    std::vector<unsigned char> row(std::size_t(kWidth) * 3);
    codec::JpegErrors errors;
    jpeg_compress_struct cinfo;
    cinfo.err = codec::InitJpegErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::fclose(out);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = int(noise >> 28);
            row[3 * std::size_t(x)] = static_cast<unsigned char>((x / 7 + y / 5) + grain);
            row[3 * std::size_t(x) + 1] = static_cast<unsigned char>((x * y / 97) + grain);
            row[3 * std::size_t(x) + 2] = static_cast<unsigned char>(((x ^ y) >> 3) + grain);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

const std::string& TestFile()
{
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/dib_bench_10000x8000.jpg";
        if (!std::filesystem::exists(p) && !Encode(p.c_str()))
            p.clear();
        return p;
    }();
    return path;
}

// libjpeg alone: the whole image into one freshly allocated buffer, red-green-blue.
bool DecodeToBuffer(const char* path, unsigned char* pixels)
{
    FILE* in = std::fopen(path, "rb");
    if (!in)
        return false;
    codec::JpegErrors errors;
    jpeg_decompress_struct cinfo;
    cinfo.err = codec::InitJpegErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(in);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t(cinfo.output_width) * 3;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {pixels + stride * cinfo.output_scanline};
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(in);
    return true;
}

void LibjpegToBuffer(benchmark::State& state)
{
    const std::string& path = TestFile();
    for (auto _ : state) {
        std::unique_ptr<unsigned char[]> pixels(
            new unsigned char[std::size_t(kWidth) * kHeight * 3]);
        if (!DecodeToBuffer(path.c_str(), pixels.get()))
            state.SkipWithError("libjpeg failed");
        benchmark::DoNotOptimize(pixels.get());
    }
}

void LoadIntoTDib(benchmark::State& state)
{
    const std::string& path = TestFile();
    const std::wstring wide(path.begin(), path.end());
    for (auto _ : state) {
        TDib image;
        if (dib::TDibAccess::LoadJPEG(image, wide.c_str(), 24, nullptr, nullptr, 1, 0) != 1)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.GetMidaX());
    }
}

// Heap in use (malloc's count) while lines arrive, against the count before the load.
class HeapWatcher : public TProcesLiniaDIB {
public:
    HeapWatcher() : TProcesLiniaDIB(64, 8, 3, 0) {}
    std::size_t base = 0, peak = 0;
    int lines = 0;
    int Init(int, int, CRect&) override { return 0; }
    int Processar(unsigned char* line, unsigned char*) override
    {
        benchmark::DoNotOptimize(line[0]);
        if (lines++ % 500 == 0) {
            const std::size_t used = mallinfo2().uordblks;
            if (used > peak)
                peak = used;
        }
        return 1;
    }
    int Done() override { return 0; }
};

void LoadToConsumer(benchmark::State& state)
{
    const std::string& path = TestFile();
    const std::wstring wide(path.begin(), path.end());
    double peakAbove = 0;
    for (auto _ : state) {
        HeapWatcher watcher;
        watcher.base = mallinfo2().uordblks;
        TDib image;
        if (dib::TDibAccess::LoadJPEG(image, wide.c_str(), 24, &watcher, nullptr, 0, 0) != 1)
            state.SkipWithError("load failed");
        peakAbove = double(watcher.peak - watcher.base);
    }
    state.counters["heap_peak_bytes"] = peakAbove;
    state.counters["line_bytes"] = double(kWidth) * 3;
}

void DjpegToDevNull(benchmark::State& state)
{
    const std::string command = "djpeg -ppm -outfile /dev/null '" + TestFile() + "'";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("djpeg failed (libjpeg-turbo-progs installed?)");
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

} // namespace

BENCHMARK(LibjpegToBuffer)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(LoadIntoTDib)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(LoadToConsumer)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(DjpegToDevNull)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_MAIN();
