// bench_tiff_write.cpp - the streaming TIFF writer against libtiff's own tiffcp on the same
// pixels, and the resident memory of a BigTIFF beyond 4 GiB.
//
//   (default)          a 10000 x 10000 RGB image (gradients with fine noise) is written
//                      uncompressed by libtiff as tiffcp's input (128 rows per strip, like the
//                      writer's), then each of these runs three times, the best time kept:
//                        tiffcp -c lzw:2      vs  L_StartDynamicSaveTIFF LZW (predictor 2)
//                        tiffcp -c zip        vs  L_StartDynamicSaveTIFF Deflate
//                      the writer takes rows blue-green-red (colour order 1), as TDib rows
//                      are, and swaps them itself. Prints each time and the writer's ratio.
//   --bigtiff DIR      writes a 40000 x 36000 RGB file (4.32 GB, uncompressed) row by row
//                      into DIR, checks that it is a BigTIFF of the expected size and prints
//                      the process's peak resident memory (goal: below 64 MiB).
// Needs tiffcp (libtiff-tools) for the comparison; the files go to $TMPDIR or /tmp.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/StreamWriters.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kWidth = 10000, kHeight = 10000;

// Row y of the test image, blue-green-red: smooth ramps with a little noise, so that the
// codecs find some but not all redundancy, as in a photograph.
void MakeRow(int width, int y, std::vector<std::uint8_t>& row, bool bgr)
{
    std::uint32_t seed = 2166136261u ^ std::uint32_t(y);
    for (int x = 0; x < width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = int(seed >> 29); // 0..7
        const std::uint8_t r = std::uint8_t((x * 255 / width + noise) & 255);
        const std::uint8_t g = std::uint8_t((y * 255 / kHeight + noise) & 255);
        const std::uint8_t b = std::uint8_t(((x + y) / 80 * 13 + noise) & 255);
        std::uint8_t* p = row.data() + 3 * std::size_t(x);
        p[0] = bgr ? b : r;
        p[1] = g;
        p[2] = bgr ? r : b;
    }
}

double Seconds(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool WriteInput(const fs::path& path)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(kWidth));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(kHeight));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 128);
    std::vector<std::uint8_t> row(std::size_t(kWidth) * 3);
    bool ok = true;
    for (int y = 0; y < kHeight && ok; ++y) {
        MakeRow(kWidth, y, row, false);
        ok = TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

double RunTiffcp(const char* codec, const fs::path& in, const fs::path& out)
{
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("tiffcp", "tiffcp", "-c", codec, in.c_str(), out.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return Seconds(t0);
}

// The rows are made before the clock starts: the writer is timed, not the image.
double RunWriter(int compression, const std::vector<std::uint8_t>& pixels, const fs::path& out)
{
    const auto t0 = std::chrono::steady_clock::now();
    void* h = L_StartDynamicSaveTIFF(kWidth, kHeight, 3, 8, 0, 300, 300, out.wstring().c_str(),
                                     compression, 1, nullptr, 0, 1, nullptr, 0);
    if (!h)
        return -1;
    const std::size_t line = std::size_t(kWidth) * 3;
    for (int y = 0; y < kHeight; ++y)
        if (L_DynamicSaveTIFFrow(const_cast<std::uint8_t*>(pixels.data()) + line * y, h, -1, -1))
            return -1;
    if (L_EndDynamicSaveTIFF(h) != 0)
        return -1;
    return Seconds(t0);
}

template <typename F> double Best(F run)
{
    double best = -1;
    for (int i = 0; i < 3; ++i) {
        const double t = run();
        if (t < 0)
            return -1;
        if (best < 0 || t < best)
            best = t;
    }
    return best;
}

int Compare(const fs::path& dir)
{
    const fs::path input = dir / "bench-input.tif";
    std::printf("writing the input (%d x %d RGB, uncompressed)...\n", kWidth, kHeight);
    if (!WriteInput(input)) {
        std::fprintf(stderr, "cannot write %s\n", input.c_str());
        return 1;
    }
    std::vector<std::uint8_t> pixels(std::size_t(kWidth) * 3 * kHeight);
    std::vector<std::uint8_t> row(std::size_t(kWidth) * 3);
    for (int y = 0; y < kHeight; ++y) {
        MakeRow(kWidth, y, row, true);
        std::memcpy(pixels.data() + row.size() * y, row.data(), row.size());
    }
    struct Pair {
        const char* name;
        const char* tiffcpCodec;
        int compression;
    };
    int status = 0;
    for (const Pair& p : {Pair{"LZW, predictor 2", "lzw:2", COMPRESSION_LZW},
                          Pair{"Deflate", "zip", COMPRESSION_ADOBE_DEFLATE}}) {
        const fs::path ref = dir / "bench-tiffcp.tif", ours = dir / "bench-writer.tif";
        const double reference = Best([&] { return RunTiffcp(p.tiffcpCodec, input, ref); });
        const double writer = Best([&] { return RunWriter(p.compression, pixels, ours); });
        if (reference < 0 || writer < 0) {
            std::fprintf(stderr, "%s: a run failed (is tiffcp installed?)\n", p.name);
            status = 1;
            continue;
        }
        std::printf("%-18s tiffcp %.2f s (%ju bytes)  writer %.2f s (%ju bytes)  ratio %.2f\n",
                    p.name, reference, std::uintmax_t(fs::file_size(ref)), writer,
                    std::uintmax_t(fs::file_size(ours)), writer / reference);
        fs::remove(ref);
        fs::remove(ours);
    }
    fs::remove(input);
    return status;
}

int BigTiff(const fs::path& dir)
{
    const int width = 40000, height = 36000;
    const fs::path path = dir / "bench-bigtiff.tif";
    const auto t0 = std::chrono::steady_clock::now();
    void* h = L_StartDynamicSaveTIFF(width, height, 3, 8, 0, 300, 300, path.wstring().c_str(), 1, 1,
                                     nullptr, 0, 1, nullptr, 0);
    if (!h) {
        std::fprintf(stderr, "cannot start %s\n", path.c_str());
        return 1;
    }
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        MakeRow(width, y, row, true);
        if (L_DynamicSaveTIFFrow(row.data(), h, -1, -1) != 0) {
            std::fprintf(stderr, "row %d refused\n", y);
            L_AbortDynamicSaveTIFF(h);
            return 1;
        }
    }
    const int end = L_EndDynamicSaveTIFF(h);
    const double seconds = Seconds(t0);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    const bool big = tif && TIFFIsBigTIFF(tif);
    if (tif)
        TIFFClose(tif);
    const std::uintmax_t size = fs::file_size(path);
    std::printf("BigTIFF %d x %d RGB: end %d, BigTIFF %s, %ju bytes, %.1f s, peak resident %.1f "
                "MiB\n",
                width, height, end, big ? "yes" : "no", size, seconds,
                double(usage.ru_maxrss) / 1024.0);
    fs::remove(path);
    return end == 0 && big && size > (std::uintmax_t(1) << 32) && usage.ru_maxrss < 64 * 1024 ? 0
                                                                                              : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    fs::path dir = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bigtiff") == 0)
            return BigTiff(i + 1 < argc ? fs::path(argv[i + 1]) : dir);
    }
    return Compare(dir);
}
