// Disk-backed images: TDib::CrearDisc of an image larger than comfortable in memory, every row
// written then read back through SetLinia/GetLinia, against plain pwrite/pread of the same bytes to
// a temporary file in the same run (the reference runs before and after the kernel; its faster run
// counts).
//
// Counters: peak resident memory (VmHWM, MiB; the goal is under 256), the row throughput of
// both routes (MiB/s) and their ratio (kernel / reference; 1.0 = as fast as raw file I/O).
// DIB_BENCH_RASTER_SIDE overrides the side of the square 24-bit bitmap (default 40000: 4.5 GB).
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int side()
{
    const char* s = std::getenv("DIB_BENCH_RASTER_SIDE");
    int v = s ? std::atoi(s) : 0;
    return v > 0 ? v : 40000;
}

double vmHwmMiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void stamp(std::vector<std::uint8_t>& row, int y)
{
    std::memcpy(row.data(), &y, sizeof y);
    std::memcpy(row.data() + row.size() - sizeof y, &y, sizeof y);
}

// Plain pwrite then pread of rows rows of `bytes` bytes to an unnamed temporary file, sized
// beforehand as the kernel sizes its own.
double referenceSeconds(int rows, std::size_t bytes)
{
    const char* dir = std::getenv("TMPDIR");
    int fd = ::open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR, 0600);
    if (fd < 0)
        return -1;
    if (::ftruncate(fd, off_t(rows) * off_t(bytes)) != 0)
        return ::close(fd), -1;
    std::vector<std::uint8_t> row(bytes, 0x5A);
    auto start = std::chrono::steady_clock::now();
    for (int y = 0; y < rows; ++y) {
        stamp(row, y);
        if (::pwrite(fd, row.data(), bytes, off_t(y) * off_t(bytes)) != ssize_t(bytes))
            return ::close(fd), -1;
    }
    for (int y = 0; y < rows; ++y) {
        if (::pread(fd, row.data(), bytes, off_t(y) * off_t(bytes)) != ssize_t(bytes))
            return ::close(fd), -1;
        benchmark::DoNotOptimize(row.data());
    }
    double t = seconds(start);
    ::close(fd);
    return t;
}

void BM_CrearDiscRows(benchmark::State& state)
{
    const int n = side();
    // The reference runs before and after the kernel and its faster run counts, so that
    // neither route is favoured by what the page cache holds.
    double before = referenceSeconds(n, (std::size_t(n) * 3 + 3) & ~std::size_t(3));
    for (auto _ : state) {
        TDib image;
        if (image.CrearDisc(n, n, 24) != 0) {
            state.SkipWithError("cannot create the disk-backed image");
            return;
        }
        std::size_t bytes = std::size_t(image.GetBytesPerLinia());
        std::vector<std::uint8_t> row(bytes, 0x5A);
        bool ok = true;
        auto start = std::chrono::steady_clock::now();
        for (int y = 0; y < n && ok; ++y) {
            stamp(row, y);
            ok = image.SetLinia(y, row.data(), bytes) == 0;
        }
        for (int y = 0; y < n && ok; ++y) {
            int got = -1;
            ok = image.GetLinia(y, row.data(), bytes) == 0;
            std::memcpy(&got, row.data() + bytes - sizeof got, sizeof got);
            ok = ok && got == y;
        }
        double kernel = seconds(start);
        image.Done();
        if (!ok) {
            state.SkipWithError("row write or read-back failed");
            return;
        }
        double after = referenceSeconds(n, bytes);
        double reference = before > 0 && after > 0 ? std::min(before, after) : -1;
        double mib = 2.0 * double(bytes) * n / (1024.0 * 1024.0);
        state.counters["VmHWM_MiB"] = vmHwmMiB();
        state.counters["image_MiB_per_s"] = mib / kernel;
        state.counters["reference_MiB_per_s"] = reference > 0 ? mib / reference : 0;
        state.counters["ratio_to_reference"] = reference > 0 ? reference / kernel : 0;
        state.SetIterationTime(kernel);
    }
}

BENCHMARK(BM_CrearDiscRows)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
