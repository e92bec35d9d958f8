// bench_open_lines.cpp - peak memory of ObrirDinamic with a consumer: keep 0 should hold about
// one line beyond the decoder's state, keep 1 the whole image (the reference of the same run).
//
//   bench_open_lines [folder] [width] [height]
//
// Writes an uncompressed strip TIFF (libtiff) and a baseline JPEG (libjpeg) of width x height
// RGB pixels into folder (default $TMPDIR or /tmp), then opens each in a child process per case
// and prints the child's peak resident memory above a child that only starts up. The files
// are removed at the end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <jpeglib.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

class Sum : public TProcesLiniaDIB {
public:
    Sum() : TProcesLiniaDIB(64, 8, 3, 0) {}
    int Init(int w, int, CRect&) override
    {
        width_ = w;
        return 0;
    }
    int Processar(unsigned char* line, unsigned char*) override
    {
        for (int i = 0; i < width_ * 3; i += 97)
            sum_ += line[i];
        return 1;
    }
    int Done() override { return 0; }
    unsigned long sum_ = 0;

private:
    int width_ = 0;
};

void Pixel(int x, int y, unsigned char* p)
{
    p[0] = static_cast<unsigned char>(x * 3 + y);
    p[1] = static_cast<unsigned char>(y * 5);
    p[2] = static_cast<unsigned char>((x ^ y) & 0xFF);
}

bool WriteTiff(const std::string& path, int w, int h)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<unsigned char> row(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            Pixel(x, y, &row[std::size_t(x) * 3]);
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) != 1) {
            TIFFClose(tif);
            return false;
        }
    }
    TIFFClose(tif);
    return true;
}

bool WriteJpeg(const std::string& path, int w, int h)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            Pixel(x, y, &row[std::size_t(x) * 3]);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

// Peak resident kilobytes of a child that runs the case (path empty: start-up only).
long PeakKb(const std::string& path, int keep, int& status)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int r = 0;
        if (!path.empty()) {
            Sum sum;
            TDib image;
            const std::wstring wide(path.begin(), path.end());
            r = image.ObrirDinamic(wide.c_str(), &sum, 0, keep);
        }
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        long out[2] = {u.ru_maxrss, r};
        if (write(fds[1], out, sizeof out) != sizeof out)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    long in[2] = {-1, -1};
    if (read(fds[0], in, sizeof in) != sizeof in)
        in[0] = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    status = int(in[1]);
    return in[0];
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const int w = argc > 2 ? std::atoi(argv[2]) : 8000;
    const int h = argc > 3 ? std::atoi(argv[3]) : 6000;
    const std::string tiff = dir + "/bench_open_lines.tif";
    const std::string jpeg = dir + "/bench_open_lines.jpg";
    if (!WriteTiff(tiff, w, h) || !WriteJpeg(jpeg, w, h)) {
        std::fprintf(stderr, "cannot write the test files in %s\n", dir.c_str());
        return 1;
    }
    int status = 0;
    const long base = PeakKb("", 0, status);
    std::printf("%d x %d RGB (%.1f MB of pixels); start-up peak %ld kB\n", w, h,
                double(w) * h * 3 / 1e6, base);
    for (const std::string& path : {tiff, jpeg})
        for (int keep : {0, 1}) {
            const long kb = PeakKb(path, keep, status);
            std::printf("%-4s keep %d: status %d, peak above start-up %8.1f MB\n",
                        path.substr(path.size() - 3).c_str(), keep, status, (kb - base) / 1024.0);
        }
    std::remove(tiff.c_str());
    std::remove(jpeg.c_str());
    return 0;
}
