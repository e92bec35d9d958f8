// print_render.cpp - the display and printing paths from the command line.
//
// `dibtool print IN OUT.pdf [--fit | --size WxH]` and `dibtool print IN --printer NAME [...]`:
// IN through TDib::Print onto one A4 page of a print job (600 units per inch), written as a
// PDF or handed to CUPS's `lp`. Without --fit or --size the image keeps its own size (from its
// resolution) at the page's top-left corner; --fit fills the page's width first, then shrinks
// to its height, centred; --size places W x H units at the page's centre.
//
// `dibtool render IN OUT.png --box WxH [--quality fast|high]`: IN fitted into a white box of
// W x H pixels and drawn there as a host's window would draw it (fast: TDib::Pintar, nearest
// pixel; high: TDib::Display with high-quality sampling), saved as PNG.
//
// Options may stand anywhere among the file arguments; "--" ends them. Exit status: 0 done,
// 1 the work failed (one line on stderr says why), 2 the command line was wrong.
#include "verbs.h"

#include <cairo.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dib/Status.h>
#include <dib/TDib.h>
#include <dib/outside/win/cairo_dc.h>
#include <dib/outside/win/print_job.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kA4WidthMm = 210.0;
constexpr double kA4HeightMm = 297.0;
constexpr int kMaxBoxSide = 32767;                   // cairo's largest image surface side
constexpr std::int64_t kMaxBoxBytes = 1ll << 30;     // 4 bytes a pixel
constexpr std::int64_t kMaxPrintSide = 600ll * 1000; // 1000 inches in printer units
constexpr unsigned short kCentred = 1 | 4;

struct Args {
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> options; // name, value ("" for flags)
    std::string error;
};

// Splits argv into file arguments and options. valued: options that take a value, given as
// "--name VALUE" or "--name=VALUE"; flags: options without one.
Args Parse(int argc, char** argv, std::initializer_list<std::string_view> valued,
           std::initializer_list<std::string_view> flags)
{
    Args a;
    bool optionsEnded = false;
    for (int i = 0; i < argc && a.error.empty(); ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg.substr(0, 2) != "--") {
            a.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        bool known = false;
        for (std::string_view v : valued) {
            if (name != v)
                continue;
            known = true;
            if (eq != std::string_view::npos)
                a.options.emplace_back(name, arg.substr(eq + 1));
            else if (i + 1 < argc)
                a.options.emplace_back(name, argv[++i]);
            else
                a.error = std::string(name) + " needs a value";
        }
        for (std::string_view f : flags) {
            if (name == f && eq == std::string_view::npos) {
                known = true;
                a.options.emplace_back(name, "");
            }
        }
        if (!known)
            a.error = "unknown option " + std::string(arg);
    }
    return a;
}

// "WxH" with both sides in [1, max].
bool ParseSize(const std::string& text, std::int64_t max, int& w, int& h)
{
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long a = std::strtoll(s, &end, 10);
    if (end == s || (*end != 'x' && *end != 'X') || errno != 0)
        return false;
    const char* second = end + 1;
    const long long b = std::strtoll(second, &end, 10);
    if (end == second || *end != '\0' || errno != 0 || *s == '-' || *second == '-')
        return false;
    if (a < 1 || b < 1 || a > max || b > max)
        return false;
    w = int(a);
    h = int(b);
    return true;
}

const char* Why()
{
    const char* why = DibGetLastErrorText();
    return why && *why ? why : "no reason given";
}

int OpenImage(const char* verb, const std::string& file, TDib& image)
{
    const auto path = FromUtf8(file);
    if (!path) {
        std::fprintf(stderr, "dibtool %s: file names must be UTF-8\n", verb);
        return 2;
    }
    if (const int status = image.Obrir(path->c_str()); status != DIB_OK) {
        std::fprintf(stderr, "dibtool %s: %s: cannot be read: status %d (%s)\n", verb, file.c_str(),
                     status, Why());
        return 1;
    }
    return 0;
}

// The first executable `name` on PATH.
bool OnPath(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "";
    while (true) {
        const std::size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string_view::npos)
            return false;
        rest.remove_prefix(colon + 1);
    }
}

int PrintUsage()
{
    std::fprintf(stderr, "usage: dibtool print IN OUT.pdf [--fit | --size WxH]\n"
                         "       dibtool print IN --printer NAME [--fit | --size WxH]\n"
                         "(WxH in printer units, 600 per inch; the page is A4)\n");
    return 2;
}

int RenderUsage()
{
    std::fprintf(stderr, "usage: dibtool render IN OUT.png --box WxH [--quality fast|high]\n");
    return 2;
}

} // namespace

int RunPrint(int argc, char** argv)
{
    const Args a = Parse(argc, argv, {"--size", "--printer"}, {"--fit"});
    if (!a.error.empty()) {
        std::fprintf(stderr, "dibtool print: %s\n", a.error.c_str());
        return PrintUsage();
    }
    bool fit = false, sized = false;
    int sizeW = 0, sizeH = 0;
    std::string printer;
    for (const auto& [name, value] : a.options) {
        if (name == "--fit") {
            fit = true;
        } else if (name == "--size") {
            if (!ParseSize(value, kMaxPrintSide, sizeW, sizeH)) {
                std::fprintf(stderr,
                             "dibtool print: --size wants WxH, whole units from 1 to %lld\n",
                             static_cast<long long>(kMaxPrintSide));
                return 2;
            }
            sized = true;
        } else {
            printer = value;
        }
    }
    const bool spool = !printer.empty();
    if ((fit && sized) || a.files.size() != (spool ? 1u : 2u))
        return PrintUsage();
    const std::string& in = a.files[0];
    const std::string out = spool ? std::string() : a.files[1];
    if (spool && !OnPath("lp")) {
        std::fprintf(stderr,
                     "dibtool print: cannot print to '%s': no `lp` command on PATH (CUPS's "
                     "client is not installed)\n",
                     printer.c_str());
        return 1;
    }

    TDib image;
    if (const int r = OpenImage("print", in, image); r != 0)
        return r;

    // Deleting the context before EndDoc abandons the job: no file is left behind.
    CDC job;
    job.Attach(WinCreatePrinterDC(spool ? printer.c_str() : nullptr, spool ? nullptr : out.c_str(),
                                  kA4WidthMm, kA4HeightMm));
    if (!job.GetSafeHdc()) {
        std::fprintf(stderr, "dibtool print: %s: cannot be created (%s)\n",
                     spool ? "the print job" : out.c_str(), std::strerror(errno));
        return 1;
    }
    const int pageW = int(kA4WidthMm / 25.4 * kPrinterDpi + 0.5);
    const int pageH = int(kA4HeightMm / 25.4 * kPrinterDpi + 0.5);

    // The destination as Print takes it: inclusive edges.
    RECT dst{};
    const RECT* where = nullptr;
    if (fit) {
        const RECT page{0, 0, pageW, pageH};
        RECT r{};
        if (const int status = image.CalcDisplayRect(&page, &r, kCentred); status != DIB_OK) {
            std::fprintf(stderr, "dibtool print: %s: cannot be fitted to the page: status %d\n",
                         in.c_str(), status);
            return 1;
        }
        dst = {r.left, r.top, r.right - 1, r.bottom - 1};
        where = &dst;
    } else if (sized) {
        const int left = (pageW - sizeW) / 2, top = (pageH - sizeH) / 2;
        dst = {left, top, left + sizeW - 1, top + sizeH - 1};
        where = &dst;
    }

    const std::wstring title = FromUtf8(in).value_or(L"dibtool");
    const DOCINFOW info{int(sizeof(DOCINFOW)), title.c_str(), nullptr, nullptr, 0};
    if (StartDocW(job, &info) <= 0 || StartPage(job) <= 0) {
        std::fprintf(stderr, "dibtool print: the print job cannot be started\n");
        return 1;
    }
    if (const int status = image.Print(&job, where); status != DIB_OK) {
        std::fprintf(stderr, "dibtool print: %s: printing failed: status %d (%s)\n", in.c_str(),
                     status, Why());
        return 1;
    }
    if (EndPage(job) <= 0 || EndDoc(job) <= 0) {
        if (spool)
            std::fprintf(stderr,
                         "dibtool print: the printer '%s' did not take the job (`lp` failed)\n",
                         printer.c_str());
        else
            std::fprintf(stderr, "dibtool print: %s: the PDF cannot be written\n", out.c_str());
        return 1;
    }
    const int shownW = where ? int(dst.right - dst.left + 1) : 0;
    const int shownH = where ? int(dst.bottom - dst.top + 1) : 0;
    std::printf("%s: %d x %d pixels on an A4 page (%d x %d units, 600 per inch)", in.c_str(),
                image.GetMidaX(), image.GetMidaY(), pageW, pageH);
    if (where)
        std::printf(", at (%ld, %ld) size %d x %d", long(dst.left == 0 ? 1 : dst.left),
                    long(dst.top == 0 ? 1 : dst.top), shownW, shownH);
    else
        std::printf(", at its own size from the top-left corner");
    std::printf(" -> %s\n", spool ? ("printer " + printer).c_str() : out.c_str());
    return 0;
}

int RunRender(int argc, char** argv)
{
    const Args a = Parse(argc, argv, {"--box", "--quality"}, {});
    if (!a.error.empty()) {
        std::fprintf(stderr, "dibtool render: %s\n", a.error.c_str());
        return RenderUsage();
    }
    int boxW = 0, boxH = 0;
    bool high = false, boxed = false;
    for (const auto& [name, value] : a.options) {
        if (name == "--box") {
            if (!ParseSize(value, kMaxBoxSide, boxW, boxH) ||
                std::int64_t(boxW) * boxH * 4 > kMaxBoxBytes) {
                std::fprintf(stderr,
                             "dibtool render: --box wants WxH, sides from 1 to %d pixels and at "
                             "most %lld pixels in all\n",
                             kMaxBoxSide, static_cast<long long>(kMaxBoxBytes / 4));
                return 2;
            }
            boxed = true;
        } else if (value == "fast" || value == "high") {
            high = value == "high";
        } else {
            std::fprintf(stderr, "dibtool render: --quality is fast or high\n");
            return 2;
        }
    }
    if (!boxed || a.files.size() != 2)
        return RenderUsage();
    const std::string& in = a.files[0];
    const std::string& out = a.files[1];

    TDib image;
    if (const int r = OpenImage("render", in, image); r != 0)
        return r;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, boxW, boxH);
    cairo_t* cr = cairo_create(surface);
    cairo_surface_destroy(surface); // cr holds it
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        std::fprintf(stderr, "dibtool render: no memory for a %d x %d surface\n", boxW, boxH);
        return 1;
    }
    cairo_set_source_rgb(cr, 1, 1, 1); // a window's background
    cairo_paint(cr);

    int status;
    CRect area(0, 0, boxW, boxH);
    {
        CDC dc;
        dc.Attach(WinCreateCairoDC(cr, boxW, boxH, 96));
        if (!dc.GetSafeHdc()) {
            cairo_destroy(cr);
            std::fprintf(stderr, "dibtool render: no device context on the surface\n");
            return 1;
        }
        if (high) {
            RECT fitted{};
            status = image.CalcDisplayRect(&area, &fitted, kCentred);
            if (status == DIB_OK)
                status = image.Display(&dc, &fitted, SRCCOPY, 1, nullptr, 1);
            if (status == DIB_OK)
                area = fitted;
        } else {
            status = image.Pintar(&dc, area, kCentred);
        }
    }
    if (status != DIB_OK) {
        cairo_destroy(cr);
        std::fprintf(stderr, "dibtool render: %s: drawing failed: status %d (%s)\n", in.c_str(),
                     status, Why());
        return 1;
    }
    cairo_surface_t* target = cairo_get_target(cr);
    cairo_surface_flush(target);
    const cairo_status_t written = cairo_surface_write_to_png(target, out.c_str());
    cairo_destroy(cr);
    if (written != CAIRO_STATUS_SUCCESS) {
        ::unlink(out.c_str());
        std::fprintf(stderr, "dibtool render: %s: cannot be written (%s)\n", out.c_str(),
                     cairo_status_to_string(written));
        return 1;
    }
    std::printf("%s: %d x %d pixels drawn at (%ld, %ld) size %d x %d in a %d x %d box (%s) -> "
                "%s\n",
                in.c_str(), image.GetMidaX(), image.GetMidaY(), long(area.left), long(area.top),
                area.Width(), area.Height(), boxW, boxH, high ? "high quality" : "fast",
                out.c_str());
    return 0;
}
