// print_job.cpp - printer contexts: a cairo PDF surface writing to a temporary file, a context
// on it scaled to 600 units per inch, and the job's delivery at EndDoc.
//
// The job lives as user data of its cairo context, so that it goes when the device context
// that holds the context is deleted, whichever way that happens.
#include "win/print_job.h"

#include "win/cairo_dc.h"
#include "win/files.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <new>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr double kA4WidthMm = 210.0;
constexpr double kA4HeightMm = 297.0;
constexpr double kMaxSideMm = 5000.0;

cairo_user_data_key_t jobKey;

struct Job {
    enum class State { Created, Started, InPage, Ended };
    State state = State::Created;
    std::string printer;
    std::string output;    // final path (file route)
    std::string temporary; // where the PDF is written meanwhile
    std::string title;
    int fd = -1;
    bool writeFailed = false;
    cairo_surface_t* surface = nullptr;

    ~Job() { discard(); }

    // Stops writing and removes the temporary file.
    void discard()
    {
        closeSurface();
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!temporary.empty())
            ::unlink(temporary.c_str());
        temporary.clear();
    }
    void closeSurface()
    {
        if (!surface)
            return;
        cairo_surface_finish(surface);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
            writeFailed = true;
        cairo_surface_destroy(surface);
        surface = nullptr;
    }
};

cairo_status_t writeToJob(void* closure, const unsigned char* data, unsigned int length)
{
    auto* job = static_cast<Job*>(closure);
    while (length > 0 && job->fd >= 0) {
        const ssize_t n = ::write(job->fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            job->writeFailed = true;
            return CAIRO_STATUS_WRITE_ERROR;
        }
        data += n;
        length -= unsigned(n);
    }
    return job->fd >= 0 ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

void destroyJob(void* data)
{
    delete static_cast<Job*>(data);
}

Job* jobOf(HDC dc)
{
    cairo_t* cr = WinGetDCCairo(dc);
    return cr ? static_cast<Job*>(cairo_get_user_data(cr, &jobKey)) : nullptr;
}

int runSpooler(const Job& job, const std::string& file)
{
    std::vector<std::string> args{"lp", "-d", job.printer};
    if (!job.title.empty()) {
        args.push_back("-t");
        args.push_back(job.title);
    }
    args.push_back("--");
    args.push_back(file);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "lp", nullptr, nullptr, argv.data(), environ) != 0)
        return SP_ERROR;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return SP_ERROR;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : SP_ERROR;
}

} // namespace

HDC WinCreatePrinterDC(const char* printer, const char* output, double widthMm, double heightMm)
{
    const bool spool = printer && *printer;
    if (!spool && (!output || !*output))
        return nullptr;
    if (!std::isfinite(widthMm) || !std::isfinite(heightMm) || widthMm < 0 || heightMm < 0 ||
        widthMm > kMaxSideMm || heightMm > kMaxSideMm)
        return nullptr;
    if (widthMm == 0 || heightMm == 0) {
        widthMm = kA4WidthMm;
        heightMm = kA4HeightMm;
    }
    const int width = int(std::lround(widthMm / 25.4 * kPrinterDpi));
    const int height = int(std::lround(heightMm / 25.4 * kPrinterDpi));
    if (width < 1 || height < 1)
        return nullptr;

    auto job = std::unique_ptr<Job>(new (std::nothrow) Job);
    if (!job)
        return nullptr;
    if (spool) {
        job->printer = printer;
        const char* dir = std::getenv("TMPDIR");
        job->temporary = std::string(dir && *dir ? dir : "/tmp") + "/libdib-print-XXXXXX";
    } else {
        job->output = output;
        job->temporary = job->output + ".XXXXXX";
    }
    std::vector<char> name(job->temporary.begin(), job->temporary.end());
    name.push_back('\0');
    job->fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (job->fd < 0) {
        job->temporary.clear();
        return nullptr;
    }
    job->temporary = name.data();
    if (!spool)
        ::fchmod(job->fd, 0644); // what the PDF would have had, written directly

    const double points = 72.0 / kPrinterDpi;
    job->surface = cairo_pdf_surface_create_for_stream(writeToJob, job.get(), widthMm / 25.4 * 72.0,
                                                       heightMm / 25.4 * 72.0);
    if (cairo_surface_status(job->surface) != CAIRO_STATUS_SUCCESS)
        return nullptr;
    cairo_t* cr = cairo_create(job->surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        return nullptr;
    }
    cairo_scale(cr, points, points);
    Job* raw = job.get();
    if (cairo_set_user_data(cr, &jobKey, raw, destroyJob) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        return nullptr;
    }
    job.release(); // owned by cr from here
    HDC dc = WinCreateCairoDC(cr, width, height, kPrinterDpi);
    cairo_destroy(cr); // the device context holds the only reference now (or none: job gone)
    return dc;
}

int StartDocW(HDC dc, const DOCINFOW* info)
{
    Job* job = jobOf(dc);
    if (!job || job->state != Job::State::Created)
        return SP_ERROR;
    if (info && info->lpszDocName) {
        job->title = WideToUtf8(info->lpszDocName);
        cairo_pdf_surface_set_metadata(job->surface, CAIRO_PDF_METADATA_TITLE, job->title.c_str());
    }
    job->state = Job::State::Started;
    return 1;
}

int StartPage(HDC dc)
{
    Job* job = jobOf(dc);
    if (!job || job->state != Job::State::Started)
        return SP_ERROR;
    job->state = Job::State::InPage;
    return 1;
}

int EndPage(HDC dc)
{
    Job* job = jobOf(dc);
    if (!job || job->state != Job::State::InPage)
        return SP_ERROR;
    job->state = Job::State::Started;
    cairo_t* cr = WinGetDCCairo(dc);
    cairo_show_page(cr);
    return cairo_status(cr) == CAIRO_STATUS_SUCCESS && !job->writeFailed ? 1 : SP_ERROR;
}

int EndDoc(HDC dc)
{
    Job* job = jobOf(dc);
    if (!job || (job->state != Job::State::Started && job->state != Job::State::InPage))
        return SP_ERROR;
    cairo_t* cr = WinGetDCCairo(dc);
    if (job->state == Job::State::InPage)
        cairo_show_page(cr);
    job->state = Job::State::Ended;
    bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    job->closeSurface();
    ok = ok && !job->writeFailed && ::fsync(job->fd) == 0;
    ok = ::close(job->fd) == 0 && ok;
    job->fd = -1;
    int result = ok ? 1 : SP_ERROR;
    if (ok && job->printer.empty()) {
        if (::rename(job->temporary.c_str(), job->output.c_str()) == 0)
            job->temporary.clear();
        else
            result = SP_ERROR;
    } else if (ok) {
        result = runSpooler(*job, job->temporary);
    }
    job->discard();
    return result;
}

int AbortDoc(HDC dc)
{
    Job* job = jobOf(dc);
    if (!job)
        return SP_ERROR;
    job->state = Job::State::Ended;
    job->discard();
    return 1;
}
