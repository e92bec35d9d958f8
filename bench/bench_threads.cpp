// bench_threads.cpp - row reads on several threads at once, each thread on an image of its own.
//
//   BM_RowReads       TDib::GetLinia of whole rows of a 2000 x 2000 24-bit image in memory
//   BM_ShortRowReads  the same with 16 pixels of each row, where the per-call checks dominate
//
// Each runs with 1 and 4 threads; thread i reads image i only, so nothing the threads touch is
// shared but the library itself. The rows/s figure is the total of all threads. At the end the
// 4-thread throughput is printed as a ratio of the 1-thread throughput of this run.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <dib/TDib.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 2000;
constexpr int kImages = 4;
constexpr std::uint64_t kShortBytes = 16 * 3;

std::vector<std::unique_ptr<TDib>>& images()
{
    static std::vector<std::unique_ptr<TDib>> all = [] {
        std::vector<std::unique_ptr<TDib>> v;
        for (int i = 0; i < kImages; ++i) {
            auto d = std::make_unique<TDib>();
            if (d->Crear(kSide, kSide, 24) != 0) {
                std::fprintf(stderr, "cannot create a %dx%d image\n", kSide, kSide);
                std::exit(1);
            }
            std::vector<unsigned char> row(std::size_t(d->GetBytesPerLinia()));
            for (int y = 0; y < kSide; ++y) {
                for (std::size_t x = 0; x < row.size(); ++x)
                    row[x] = static_cast<unsigned char>(x * 7 + std::size_t(y) + std::size_t(i));
                d->SetLinia(y, row.data(), row.size());
            }
            v.push_back(std::move(d));
        }
        return v;
    }();
    return all;
}

std::map<std::string, double>& rates()
{
    static std::map<std::string, double> r;
    return r;
}

void readRows(benchmark::State& state, bool shortRows)
{
    const TDib& image = *images()[std::size_t(state.thread_index()) % kImages];
    const std::uint64_t bytes =
        shortRows ? kShortBytes : static_cast<std::uint64_t>(image.GetBytesPerLinia());
    std::vector<unsigned char> row(std::size_t(image.GetBytesPerLinia()));
    std::int64_t rows = 0;
    for (auto _ : state) {
        for (int y = 0; y < kSide; ++y) {
            if (image.GetLinia(y, row.data(), bytes) != 0)
                state.SkipWithError("GetLinia failed");
            benchmark::DoNotOptimize(row.data());
        }
        rows += kSide;
    }
    state.counters["rows/s"] = benchmark::Counter(double(rows), benchmark::Counter::kIsRate);
}

void BM_RowReads(benchmark::State& state)
{
    readRows(state, false);
}

void BM_ShortRowReads(benchmark::State& state)
{
    readRows(state, true);
}

BENCHMARK(BM_RowReads)->Threads(1)->Threads(4)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ShortRowReads)->Threads(1)->Threads(4)->UseRealTime()->MinTime(1.0);

// Remembers each run's total rows/s for the summary.
class Recorder : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            auto it = run.counters.find("rows/s");
            if (it != run.counters.end() && !run.error_occurred)
                rates()[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void summary(const char* name)
{
    const std::string base = std::string(name) + "/min_time:1.000/real_time/threads:";
    auto one = rates().find(base + "1"), four = rates().find(base + "4");
    if (one == rates().end() || four == rates().end() || one->second <= 0)
        return;
    std::printf("%s: %.3g rows/s on 1 thread, %.3g rows/s on 4 threads (4 images): ratio %.2f\n",
                name, one->second, four->second, four->second / one->second);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    images();
    Recorder reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    summary("BM_RowReads");
    summary("BM_ShortRowReads");
    return 0;
}
