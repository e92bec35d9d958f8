// bench_stream_bmp.cpp - the streaming BMP writer against plain write(2) of the same bytes.
//
//   bench_stream_bmp [folder] [width] [height] [runs]
//
// Defaults: $TMPDIR or /tmp, 40000 x 40000 pixels at 8 bits (1.6 GB), 3 runs. Each run writes
// the file twice, alternating: once with L_StartDynamicSaveBMP / L_DynamicSaveBMProw /
// L_EndDynamicSaveBMP and once as the same header, palette and rows through write(2), one
// call per row. The library's runs happen in a child process so that its peak resident memory
// (VmHWM) is its own; operator new is counted around the row loop. Prints the medians, the
// ratio and the memory figures. The file is removed after every run.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/StreamWriters.h>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<long> g_news{0};

} // namespace

void* operator new(std::size_t n)
{
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;

long VmHwmKb()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kb = std::atol(line + 6);
    std::fclose(f);
    return kb;
}

void FillRow(std::vector<unsigned char>& row, int y)
{
    for (std::size_t x = 0; x < row.size(); ++x)
        row[x] = static_cast<unsigned char>(x + std::size_t(y) * 7);
}

void Put16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The reference: headers and an ascending grey palette, then every row with one write(2).
double PlainWrite(const std::string& path, int w, int h)
{
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return -1;
    const std::size_t stride = (std::size_t(w) + 3) / 4 * 4;
    std::vector<unsigned char> head(54 + 1024, 0);
    head[0] = 'B';
    head[1] = 'M';
    Put32(&head[2], std::uint32_t(head.size() + stride * std::size_t(h)));
    Put32(&head[10], std::uint32_t(head.size()));
    Put32(&head[14], 40);
    Put32(&head[18], std::uint32_t(w));
    Put32(&head[22], std::uint32_t(h));
    Put16(&head[26], 1);
    Put16(&head[28], 8);
    Put32(&head[34], std::uint32_t(stride * std::size_t(h)));
    Put32(&head[46], 256);
    for (int i = 0; i < 256; ++i)
        std::memset(&head[54 + std::size_t(i) * 4], i, 3);
    bool ok = ::write(fd, head.data(), head.size()) == ssize_t(head.size());
    std::vector<unsigned char> row(stride, 0);
    for (int y = 0; y < h && ok; ++y) {
        FillRow(row, y);
        ok = ::write(fd, row.data(), row.size()) == ssize_t(row.size());
    }
    ok = ::close(fd) == 0 && ok;
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    return ok ? s : -1;
}

struct LibResult {
    double seconds = -1;
    long hwmKb = -1;
    long startKb = -1;
    long newsInRows = -1;
};

// The library's run, in a child: the child's own peak memory and allocation count.
LibResult LibraryWrite(const std::string& path, int w, int h)
{
    int fds[2];
    LibResult r;
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        LibResult c;
        c.startKb = VmHwmKb();
        const std::wstring wide(path.begin(), path.end());
        std::vector<unsigned char> row((std::size_t(w) + 3) / 4 * 4, 0);
        const auto start = Clock::now();
        void* handle = L_StartDynamicSaveBMP(w, h, 8, 300, 300, wide.c_str(), 1, 0, 0);
        bool ok = handle != nullptr;
        const long before = g_news.load();
        for (int y = 0; y < h && ok; ++y) {
            FillRow(row, y);
            ok = L_DynamicSaveBMProw(row.data(), handle) == 0;
        }
        c.newsInRows = g_news.load() - before;
        if (handle)
            ok = L_EndDynamicSaveBMP(handle) == 0 && ok;
        if (ok)
            c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        c.hwmKb = VmHwmKb();
        if (write(fds[1], &c, sizeof c) != sizeof c)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &r, sizeof r) != sizeof r)
        r = LibResult{};
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return r;
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
    const int w = argc > 2 ? std::atoi(argv[2]) : 40000;
    const int h = argc > 3 ? std::atoi(argv[3]) : 40000;
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    const std::string path = dir + "/bench_stream_bmp.bmp";
    std::printf("%d x %d, 8 bits: %.2f GB per file, %d runs\n", w, h,
                (54.0 + 1024 + double((std::size_t(w) + 3) / 4 * 4) * h) / 1e9, runs);
    std::vector<double> plain, lib;
    LibResult last;
    for (int i = 0; i < runs; ++i) {
        const double p = PlainWrite(path, w, h);
        std::remove(path.c_str());
        const LibResult l = LibraryWrite(path, w, h);
        std::remove(path.c_str());
        if (p < 0 || l.seconds < 0) {
            std::fprintf(stderr, "run %d failed (plain %.3f, library %.3f)\n", i, p, l.seconds);
            return 1;
        }
        std::printf("run %d: write(2) %.3f s, streaming writer %.3f s\n", i, p, l.seconds);
        plain.push_back(p);
        lib.push_back(l.seconds);
        last = l;
    }
    const double mp = Median(plain), ml = Median(lib);
    std::printf("median: write(2) %.3f s, streaming writer %.3f s, ratio %.2f\n", mp, ml, ml / mp);
    std::printf("writer child: VmHWM %.1f MiB (%.1f MiB at start, %.1f MiB more)\n",
                last.hwmKb / 1024.0, last.startKb / 1024.0, (last.hwmKb - last.startKb) / 1024.0);
    std::printf("operator new calls during the %d rows: %ld (%.4f per row)\n", h, last.newsInRows,
                double(last.newsInRows) / h);
    return 0;
}
