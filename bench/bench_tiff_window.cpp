// bench_tiff_window.cpp - a 1000 x 1000 window of a large uncompressed RGB TIFF through
// CTIFTools::ObrirDinamic into a line consumer, against `vips crop` of the same window.
//
//   bench_tiff_window [folder] [size] [runs]
//
// Defaults: $TMPDIR or /tmp, a 20000 x 20000 RGB strip TIFF (1.2 GB, one row per strip as
// libtiff's default strip size gives at this width), 3 runs. The window is the size x size
// image's centre 1000 x 1000 square. Each run times ObrirDinamic in a child process (which
// also reports the bytes it read, /proc/self/io rchar, and the lines its consumer received)
// and then `vips crop IN OUT.v x y 1000 1000` (process start included). Prints medians and
// the ratio. The files are removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/LineConsumer.h>
#include <dib/TiffTools.h>
#include <string>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWindow = 1000;

class CountLines : public TProcesLiniaDIB {
public:
    CountLines() : TProcesLiniaDIB(64, 8, 3, 0) {}
    int Init(int w, int h, CRect&) override
    {
        width_ = w;
        height_ = h;
        return 0;
    }
    int Processar(unsigned char* line, unsigned char*) override
    {
        ++lines_;
        for (int i = 0; i < width_ * 3; i += 61)
            sum_ += line[i];
        return 1;
    }
    int Done() override { return 0; }
    int width_ = 0, height_ = 0;
    long lines_ = 0;
    unsigned long sum_ = 0;
};

bool WriteTiff(const std::string& path, int size)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, size);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, size);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<unsigned char> row(std::size_t(size) * 3);
    for (int y = 0; y < size; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<unsigned char>(i * 3 + std::size_t(y));
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) != 1) {
            TIFFClose(tif);
            return false;
        }
    }
    TIFFClose(tif);
    return true;
}

long RcharBytes()
{
    FILE* f = std::fopen("/proc/self/io", "r");
    if (!f)
        return -1;
    char line[128];
    long n = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "rchar:", 6) == 0)
            n = std::atol(line + 6);
    std::fclose(f);
    return n;
}

struct WindowResult {
    double seconds = -1;
    int status = 0;
    int initWidth = 0, initHeight = 0;
    long lines = 0;
    long bytesRead = -1;
};

WindowResult ReadWindow(const std::string& path, int x0, int y0)
{
    int fds[2];
    WindowResult r;
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        WindowResult c;
        const std::wstring wide(path.begin(), path.end());
        CountLines consumer;
        CRect window(x0, y0, x0 + kWindow - 1, y0 + kWindow - 1);
        const long before = RcharBytes();
        const auto start = Clock::now();
        c.status = CTIFTools::ObrirDinamic(wide.c_str(), &consumer, 24, nullptr, &window, 1);
        c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        c.bytesRead = RcharBytes() - before;
        c.initWidth = consumer.width_;
        c.initHeight = consumer.height_;
        c.lines = consumer.lines_;
        if (write(fds[1], &c, sizeof c) != sizeof c)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &r, sizeof r) != sizeof r)
        r = WindowResult{};
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return r;
}

double VipsCrop(const std::string& in, const std::string& out, int x0, int y0)
{
    const std::string cmd = "vips crop '" + in + "' '" + out + "' " + std::to_string(x0) + " " +
                            std::to_string(y0) + " " + std::to_string(kWindow) + " " +
                            std::to_string(kWindow);
    const auto start = Clock::now();
    const int rc = std::system(cmd.c_str());
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::remove(out.c_str());
    return rc == 0 ? s : -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const int size = argc > 2 ? std::max(kWindow, std::atoi(argv[2])) : 20000;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::string tiff = dir + "/bench_tiff_window.tif";
    const std::string out = dir + "/bench_tiff_window.v";
    if (!WriteTiff(tiff, size)) {
        std::fprintf(stderr, "cannot write %s\n", tiff.c_str());
        return 1;
    }
    const int x0 = (size - kWindow) / 2, y0 = x0;
    std::printf("%d x %d RGB, %.2f GB; window %d x %d at (%d, %d), %d runs\n", size, size,
                double(size) * size * 3 / 1e9, kWindow, kWindow, x0, y0, runs);
    std::vector<double> lib, vips;
    WindowResult last;
    for (int i = 0; i < runs; ++i) {
        const WindowResult r = ReadWindow(tiff, x0, y0);
        const double v = VipsCrop(tiff, out, x0, y0);
        if (r.status < 0 || r.seconds < 0 || v < 0) {
            std::fprintf(stderr, "run %d failed: ObrirDinamic %d, vips %.3f\n", i, r.status, v);
            std::remove(tiff.c_str());
            return 1;
        }
        std::printf("run %d: ObrirDinamic %.3f s, vips crop %.3f s\n", i, r.seconds, v);
        lib.push_back(r.seconds);
        vips.push_back(v);
        last = r;
    }
    std::remove(tiff.c_str());
    const double ml = Median(lib), mv = Median(vips);
    std::printf("median: ObrirDinamic %.3f s, vips crop %.3f s, ratio %.2f\n", ml, mv, ml / mv);
    std::printf("consumer: Init(%d, %d), %ld lines; %.1f MB read of %.1f MB of pixels\n",
                last.initWidth, last.initHeight, last.lines, last.bytesRead / 1e6,
                double(size) * size * 3 / 1e6);
    return 0;
}
