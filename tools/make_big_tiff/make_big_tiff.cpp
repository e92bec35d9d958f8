// make_big_tiff - writes a large RGB TIFF one row at a time with the streaming TIFF writer, so
// the image is never held in memory: the demo's large file.
//
//   make_big_tiff OUT.tif [WIDTHxHEIGHT]     (default 6000x6000)
//
// The picture is computed row by row: a colour ramp across and down with rings round the
// centre, fine enough that a good preview has to average it. LZW with horizontal differencing,
// 64 rows per strip, 300 dpi. Exit status 0 written, 1 the writer failed, 2 a wrong command
// line.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dib/Status.h>
#include <dib/StreamWriters.h>
#include <dib/outside/win/afx.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kMaxSide = 100000;

bool ParseSize(const char* text, int& width, int& height)
{
    char* end = nullptr;
    const long w = std::strtol(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X'))
        return false;
    const char* second = end + 1;
    const long h = std::strtol(second, &end, 10);
    if (end == second || *end != '\0' || w < 1 || h < 1 || w > kMaxSide || h > kMaxSide)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

void FillRow(std::vector<unsigned char>& row, int y, int width, int height)
{
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double ringPitch = std::max(width, height) / 60.0;
    const double dy = y - cy;
    for (int x = 0; x < width; ++x) {
        const double dx = x - cx;
        const double ring = 0.5 + 0.5 * std::cos(std::sqrt(dx * dx + dy * dy) / ringPitch * 6.2832);
        unsigned char* p = &row[std::size_t(x) * 3];
        p[0] = static_cast<unsigned char>(255.0 * x / std::max(1, width - 1));
        p[1] = static_cast<unsigned char>(255.0 * y / std::max(1, height - 1));
        p[2] = static_cast<unsigned char>(64 + 191 * ring);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int width = 6000, height = 6000;
    if (argc < 2 || argc > 3 || (argc == 3 && !ParseSize(argv[2], width, height))) {
        std::fprintf(stderr, "usage: make_big_tiff OUT.tif [WIDTHxHEIGHT]  (each side 1 to %d)\n",
                     kMaxSide);
        return 2;
    }
    const CString path(argv[1]);

    void* tiff = L_StartDynamicSaveTIFF(width, height, 3, 8, 0, 300.0, 300.0, path, 5 /* LZW */, 0,
                                        nullptr, 64, 1, nullptr, 0);
    if (!tiff) {
        std::fprintf(stderr, "make_big_tiff: cannot create %s: %s\n", argv[1],
                     DibGetLastErrorText());
        return 1;
    }
    std::vector<unsigned char> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        FillRow(row, y, width, height);
        if (L_DynamicSaveTIFFrow(row.data(), tiff, -1, -1) != 0) {
            std::fprintf(stderr, "make_big_tiff: %s: row %d was refused: %s\n", argv[1], y,
                         DibGetLastErrorText());
            L_AbortDynamicSaveTIFF(tiff);
            std::remove(argv[1]);
            return 1;
        }
    }
    if (L_EndDynamicSaveTIFF(tiff) != 0) {
        std::fprintf(stderr, "make_big_tiff: %s could not be completed: %s\n", argv[1],
                     DibGetLastErrorText());
        std::remove(argv[1]);
        return 1;
    }
    struct stat st {};
    const long long bytes = stat(argv[1], &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    std::printf("%s: %d x %d pixels, RGB, 8 bits per sample, LZW, %lld bytes\n", argv[1], width,
                height, bytes);
    return 0;
}
