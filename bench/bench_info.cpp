// bench_info.cpp - GetInfoFitxer reads headers only: its time must not grow with the file.
//
// Files made once per run in $TMPDIR (removed at the end): strip TIFFs of one layout (RGB,
// 8 bits, uncompressed, 64 rows per strip) of about 1 MB and 300 MB, and baseline JPEGs of
// noise at quality 100 of about 100 kB and 100 MB. Figures to compare: each large file against
// the small one of its kind (same run). The JPEG inspector is also timed on its own, since
// GetInfoFitxer reaches it only when the kernel reports the file in the JPEG family.
#include <benchmark/benchmark.h>
#include <codec/jpeg_support.h>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <filesystem>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

std::string TempName(const char* name)
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

bool MakeTiff(const std::string& path, std::uint32_t width, std::uint32_t height)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w8");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<unsigned char> row(std::size_t(width) * 3);
    bool ok = true;
    for (std::uint32_t y = 0; y < height && ok; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<unsigned char>(i + y);
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

bool MakeJpeg(const std::string& path, int width, int height)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::vector<unsigned char> row(std::size_t(width) * 3);
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
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.density_unit = 1;
    cinfo.X_density = cinfo.Y_density = 300;
    jpeg_start_compress(&cinfo, TRUE);
    std::uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (auto& b : row) {
            noise = noise * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(noise >> 24);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

void Describe(benchmark::State& state, const std::string& path)
{
    const std::wstring wide = Wide(path);
    int status = 0;
    for (auto _ : state) {
        CFILEINFO info;
        status = TDib::GetInfoFitxer(wide.c_str(), 0, &info);
        benchmark::DoNotOptimize(info.Width);
    }
    state.counters["status"] = status;
    state.counters["MB"] = double(std::filesystem::file_size(path)) / 1e6;
}

void InspectJpeg(benchmark::State& state, const std::string& path)
{
    const std::wstring wide = Wide(path);
    int result = 0;
    for (auto _ : state) {
        CFILEINFO info;
        result = dib::TDibAccess::InfoJPEG(wide.c_str(), info);
        benchmark::DoNotOptimize(info.Width);
    }
    state.counters["result"] = result;
    state.counters["MB"] = double(std::filesystem::file_size(path)) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const std::string tiffSmall = TempName("dib_bench_info_1mb.tif");
    const std::string tiffLarge = TempName("dib_bench_info_300mb.tif");
    const std::string jpegSmall = TempName("dib_bench_info_100kb.jpg");
    const std::string jpegLarge = TempName("dib_bench_info_100mb.jpg");
    // 600 x 580 x 3 = 1.04 MB and 10000 x 10000 x 3 = 300 MB of pixels; JPEG noise at quality
    // 100 takes about 2 bytes per pixel.
    if (!MakeTiff(tiffSmall, 600, 580) || !MakeTiff(tiffLarge, 10000, 10000) ||
        !MakeJpeg(jpegSmall, 225, 225) || !MakeJpeg(jpegLarge, 7100, 7100)) {
        std::fprintf(stderr, "bench_info: the test files cannot be written\n");
        return 1;
    }
    benchmark::RegisterBenchmark("GetInfoFitxer/tiff_1MB", Describe, tiffSmall);
    benchmark::RegisterBenchmark("GetInfoFitxer/tiff_300MB", Describe, tiffLarge);
    benchmark::RegisterBenchmark("GetInfoFitxer/jpeg_100kB", Describe, jpegSmall);
    benchmark::RegisterBenchmark("GetInfoFitxer/jpeg_100MB", Describe, jpegLarge);
    benchmark::RegisterBenchmark("InfoJPEG/jpeg_100kB", InspectJpeg, jpegSmall);
    benchmark::RegisterBenchmark("InfoJPEG/jpeg_100MB", InspectJpeg, jpegLarge);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& p : {tiffSmall, tiffLarge, jpegSmall, jpegLarge})
        std::remove(p.c_str());
    return 0;
}
