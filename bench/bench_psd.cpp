// bench_psd.cpp - the composite of a Photoshop document against ImageMagick reading only the
// composite, measured in the same run.
//
//   ours     CPSDTools::Load of the document (and the bitmap released), in a forked child:
//            wall time and the child's peak resident memory
//   theirs   `/usr/bin/convert 'FILE[0]' null:` as a whole process: wall time and peak memory
//
// The document is $DIB_BENCH_PSD, or a 5000 x 5000 RGB PackBits document made once with
// ImageMagick under $TMPDIR (or /tmp). Each side runs 5 times, alternating; the medians are
// printed with the ratio theirs / ours. Without ImageMagick only our side is measured.
// Arguments are ignored (run-bench.sh passes Google Benchmark flags).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dib/PsdTools.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <win/gdi.h>

namespace {

constexpr const char* kConvert = "/usr/bin/convert";

struct Run {
    double seconds = 0;
    double cpu = 0; // user + system
    long peakKiB = 0;
    int status = 0;
};

// Runs child() in a forked process; its wall time and peak resident memory.
template <class F> Run InChild(F child)
{
    Run r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(child());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakKiB = usage.ru_maxrss;
    r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

} // namespace

int main()
{
    const bool haveConvert = access(kConvert, X_OK) == 0;
    std::string path;
    if (const char* env = std::getenv("DIB_BENCH_PSD"); env && *env) {
        path = env;
    } else {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/dib_bench_5000_rgb_packbits.psd";
        if (!Exists(path)) {
            if (!haveConvert) {
                std::printf("bench_psd: no document (set DIB_BENCH_PSD) and no ImageMagick\n");
                return 0;
            }
            std::printf("bench_psd: making %s\n", path.c_str());
            const std::string make = std::string(kConvert) +
                                     " -seed 7 -size 5000x5000 plasma:fractal -depth 8"
                                     " -compress RLE '" +
                                     path + "'";
            if (std::system(make.c_str()) != 0)
                return 1;
        }
    }
    const std::wstring wide(path.begin(), path.end());

    int width = 0, height = 0;
    {
        CPSDTools probe;
        probe.LoadHeaders(wide.c_str());
        probe.Dimensions(width, height);
    }

    // The child's resident memory before it loads anything.
    const long baseline = InChild([] { return 0; }).peakKiB;
    std::vector<double> ours, theirs, oursCpu, theirsCpu;
    long oursPeak = 0, theirsPeak = 0;
    for (int i = 0; i < 5; ++i) {
        const Run a = InChild([&] {
            CPSDTools psd;
            const int status = psd.Load(wide.c_str());
            HBITMAP bitmap = psd.Detach();
            const bool ok = status == 0 && bitmap;
            if (bitmap)
                DeleteObject(bitmap);
            return ok ? 0 : 1;
        });
        if (a.status != 0) {
            std::printf("bench_psd: our load failed\n");
            return 1;
        }
        ours.push_back(a.seconds);
        oursCpu.push_back(a.cpu);
        oursPeak = std::max(oursPeak, a.peakKiB);
        if (haveConvert) {
            const Run b = InChild([&] {
                const std::string arg = path + "[0]";
                execl(kConvert, kConvert, arg.c_str(), "null:", static_cast<char*>(nullptr));
                return 127;
            });
            theirs.push_back(b.seconds);
            theirsCpu.push_back(b.cpu);
            theirsPeak = std::max(theirsPeak, b.peakKiB);
        }
    }
    const double image = double(width) * 3 * height / 1024.0;
    std::printf("document          %s (%d x %d)\n", path.c_str(), width, height);
    std::printf("ours    median wall %.3f s, cpu %.3f s, peak %ld KiB = baseline %ld + %ld"
                " (24-bit image %.0f KiB)\n",
                Median(ours), Median(oursCpu), oursPeak, baseline, oursPeak - baseline, image);
    if (haveConvert) {
        std::printf("convert median wall %.3f s, cpu %.3f s, peak %ld KiB\n", Median(theirs),
                    Median(theirsCpu), theirsPeak);
        // On a shared machine the processor time is the steadier figure.
        std::printf("ratio convert / ours: wall %.2f, cpu %.2f\n", Median(theirs) / Median(ours),
                    Median(theirsCpu) / Median(oursCpu));
    }
    return 0;
}
