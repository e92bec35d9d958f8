// bench_lines.cpp - the line feeder against a plain copy of the same bytes, and row access
// without allocation.
//
//   BM_FeederSum       TDib::ProcesarLiniesDIB over a 20000 x 20000 24-bit image, with a
//                      consumer that sums every byte it receives
//   BM_MemcpySum       the same rows memcpy'd from one block into a line buffer and summed the
//                      same way: the reference
//   BM_GetLiniaAllocs  GetLinia on every row of a small image, counting operator new calls
//
// At the end the feeder's throughput is printed as a ratio of the reference's, both measured in
// this run (goal: at least 0.5).
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

std::atomic<std::uint64_t> g_news{0};

} // namespace

// Counting replacements of the global allocation functions (the sized and aligned forms fall
// back to these).
void* operator new(std::size_t n)
{
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n)
{
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
// GCC cannot see that these deletes pair with the mallocs above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

constexpr int kSide = 20000;
constexpr int kBits = 24;

// One summing routine for both sides, so only the way the bytes arrive differs.
__attribute__((noinline)) std::uint64_t SumBytes(const unsigned char* p, std::size_t n)
{
    std::uint64_t s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += p[i];
    return s;
}

class SumConsumer : public TProcesLiniaDIB {
public:
    explicit SumConsumer(std::size_t bytes) : TProcesLiniaDIB(64, 8, 3, 0), bytes_(bytes) {}
    int Init(int, int, CRect&) override { return 0; }
    int Processar(unsigned char* line, unsigned char*) override
    {
        sum += SumBytes(line, bytes_);
        return 1;
    }
    int Done() override { return 0; }
    std::uint64_t sum = 0;

private:
    std::size_t bytes_;
};

// The big image and its reference copy, made once.
struct BigImage {
    TDib dib;
    std::vector<unsigned char> block; // the same rows, contiguous
    std::size_t stride = 0;
    std::size_t rowBytes = 0;

    BigImage()
    {
        if (dib.Crear(kSide, kSide, kBits) != 0) {
            std::fprintf(stderr, "cannot create the %dx%d image\n", kSide, kSide);
            std::exit(1);
        }
        stride = static_cast<std::size_t>(dib.GetBytesPerLinia());
        rowBytes = TDib::TamanyLinia(kSide, kBits, 0);
        block.resize(stride * kSide);
        std::vector<unsigned char> row(stride);
        for (int y = 0; y < kSide; ++y) {
            for (std::size_t i = 0; i < stride; ++i)
                row[i] = static_cast<unsigned char>(i * 7 + static_cast<std::size_t>(y));
            dib.SetLinia(y, row.data(), stride);
            std::memcpy(&block[static_cast<std::size_t>(y) * stride], row.data(), stride);
        }
    }
};

BigImage& Big()
{
    static BigImage big;
    return big;
}

void BM_FeederSum(benchmark::State& state)
{
    BigImage& big = Big();
    for (auto _ : state) {
        SumConsumer c(big.rowBytes);
        const int r = big.dib.ProcesarLiniesDIB(&c, 0, -1, 0, kSide, nullptr);
        if (r != 0)
            state.SkipWithError("feeder failed");
        benchmark::DoNotOptimize(c.sum);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(big.rowBytes) * kSide);
}

void BM_MemcpySum(benchmark::State& state)
{
    BigImage& big = Big();
    std::vector<unsigned char> line(big.rowBytes);
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (int y = 0; y < kSide; ++y) {
            std::memcpy(line.data(), &big.block[static_cast<std::size_t>(y) * big.stride],
                        big.rowBytes);
            sum += SumBytes(line.data(), big.rowBytes);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(big.rowBytes) * kSide);
}

void BM_GetLiniaAllocs(benchmark::State& state)
{
    TDib d;
    d.Crear(1000, 100, 24);
    std::vector<unsigned char> line(3000);
    std::uint64_t calls = 0;
    const std::uint64_t before = g_news.load();
    for (auto _ : state) {
        for (int y = 0; y < 100; ++y) {
            d.GetLinia(y, line.data(), line.size(), 1);
            d.GetLinia(y, 10, line.data(), 300);
        }
        calls += 200;
    }
    const std::uint64_t news = g_news.load() - before;
    state.counters["calls"] = double(calls);
    state.counters["new_per_call"] = calls ? double(news) / double(calls) : 0.0;
}

BENCHMARK(BM_FeederSum)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MemcpySum)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GetLiniaAllocs);

// Console output plus the real time per iteration of each benchmark, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (!r.error_occurred && r.iterations > 0)
                times[r.benchmark_name()] = {r.real_accumulated_time / double(r.iterations),
                                             r.cpu_accumulated_time / double(r.iterations)};
    }
    std::map<std::string, std::pair<double, double>> times; // real, CPU per iteration
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto feeder = reporter.times.find("BM_FeederSum/iterations:3");
    const auto ref = reporter.times.find("BM_MemcpySum/iterations:3");
    if (feeder != reporter.times.end() && ref != reporter.times.end() && feeder->second.first > 0 &&
        feeder->second.second > 0)
        std::printf("feeder throughput / memcpy throughput: %.2f real time, %.2f CPU time "
                    "(goal >= 0.50)\n",
                    ref->second.first / feeder->second.first,
                    ref->second.second / feeder->second.second);
    benchmark::Shutdown();
    return 0;
}
