// Tests of `dibtool print` and `dibtool render`: PDFs checked with poppler's tools (page count
// and size, the embedded image's size, the page rendered and sampled where the image should
// be), PNGs read back with libpng and compared with the PIL-written fixtures, and the refusals.
#include "run_tool.h"
#include "support/support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <png.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using dibtest::ToolRun;

const std::string kData = std::string(DIB_TEST_DATA_DIR) + "/display/";
// quads.png: 40 x 30, quarters of 20 x 15: red, green on top; blue, yellow below.
const std::string kQuads = kData + "quads.png";
// ramp.png: 16 x 12, pixel (x, y) = (16x, 20y, 255 - 8x - 8y).
const std::string kRamp = kData + "ramp.png";

struct Rgb {
    int r, g, b;
};
constexpr Rgb kRed{200, 30, 30}, kGreen{30, 160, 60}, kBlue{40, 60, 190}, kYellow{230, 200, 40},
    kWhite{255, 255, 255};

Rgb Ramp(int x, int y)
{
    return {16 * x, 20 * y, 255 - 8 * x - 8 * y};
}

int Diff(Rgb a, Rgb b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// An RGB picture: read from a PNG (libpng) or a PPM (pdftoppm).
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> px;
    Rgb at(int x, int y) const
    {
        const unsigned char* p = px.data() + (std::size_t(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

Picture ReadPng(const fs::path& path)
{
    Picture p;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << path << ": " << image.message;
        return p;
    }
    image.format = PNG_FORMAT_RGB;
    p.width = int(image.width);
    p.height = int(image.height);
    p.px.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p.px.data(), 0, nullptr)) {
        ADD_FAILURE() << path << ": " << image.message;
        p = {};
    }
    return p;
}

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// The first page of pdf rendered by pdftoppm at dpi.
Picture RenderPdf(const fs::path& pdf, int dpi)
{
    Picture p;
    const std::string ppm =
        Capture("pdftoppm -r " + std::to_string(dpi) + " -f 1 -l 1 '" + pdf.string() + "'");
    int max = 0, offset = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &p.width, &p.height, &max, &offset) != 3 ||
        ppm.size() < std::size_t(offset) + 1 + std::size_t(p.width) * p.height * 3) {
        ADD_FAILURE() << "pdftoppm gave no picture for " << pdf;
        return {};
    }
    p.px.assign(ppm.begin() + offset + 1, ppm.end());
    return p;
}

bool HavePoppler()
{
    return std::system("command -v pdfinfo >/dev/null 2>&1 && command -v pdftoppm >/dev/null 2>&1 "
                       "&& command -v pdfimages >/dev/null 2>&1") == 0;
}

class PrintRender : public ::testing::Test {
protected:
    // The printing settings come from the settings store: a private, empty one.
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", tmp_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
    ToolRun Run(std::vector<std::string> args) { return dibtest::RunDibtool(tmp_.path(), args); }
    fs::path Out(const char* name) const { return tmp_.path() / name; }
    dibtest::TempDir tmp_;
};

// ---- print ------------------------------------------------------------------------------------

struct PrintCase {
    const char* name;
    std::vector<std::string> options; // placed before the files when optionsFirst
    bool optionsFirst;
    int dpi;              // pdftoppm's resolution
    double left, top;     // the image on the page, in pixels at dpi
    double width, height; //
};

TEST_F(PrintRender, PrintPutsTheImageWhereTheFitSays)
{
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils not installed";
    const double a4W = 4961, a4H = 7016; // 600 units per inch
    const PrintCase cases[] = {
        // --fit: the page's width, 4961 x 3720 units, centred: top (7016 - 3720) / 2 = 1648.
        {"fit", {"--fit"}, false, 30, 0, 1648 / 20.0, a4W / 20.0, 3720 / 20.0},
        // --size: 1200 x 600 units centred on the page, options before the files.
        {"size",
         {"--size", "1200x600"},
         true,
         60,
         (a4W - 1200) / 2 / 10,
         (a4H - 600) / 2 / 10,
         120,
         60},
        // Neither: the image's own size from its resolution (none: 72 per inch), top left.
        {"own size", {}, false, 72, 0, 0, 40, 30},
    };
    for (const PrintCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path pdf = Out("page.pdf");
        std::vector<std::string> args{"print"};
        if (c.optionsFirst)
            args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {kQuads, pdf.string()});
        if (!c.optionsFirst)
            args.insert(args.end(), c.options.begin(), c.options.end());
        const ToolRun run = Run(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("40 x 30 pixels on an A4 page"), std::string::npos) << run.out;

        const std::string info = Capture("pdfinfo '" + pdf.string() + "'");
        EXPECT_NE(info.find("Pages:           1\n"), std::string::npos) << info;
        EXPECT_NE(info.find("(A4)"), std::string::npos) << info;
        // The picture goes into the PDF at its own size, not resampled.
        const std::string list = Capture("pdfimages -list '" + pdf.string() + "'");
        int page = 0, num = 0, w = 0, h = 0;
        char type[16] = {};
        const std::size_t line = list.find('\n', list.find("-----"));
        ASSERT_NE(line, std::string::npos) << list;
        ASSERT_EQ(std::sscanf(list.c_str() + line, "%d %d %15s %d %d", &page, &num, type, &w, &h),
                  5)
            << list;
        EXPECT_EQ(w, 40);
        EXPECT_EQ(h, 30);

        const Picture p = RenderPdf(pdf, c.dpi);
        ASSERT_GT(p.width, 0);
        // Each quarter sampled at its centre, and white just outside the image's edges.
        const struct {
            double fx, fy;
            Rgb colour;
        } samples[] = {{0.25, 0.25, kRed},    {0.75, 0.25, kGreen}, {0.25, 0.75, kBlue},
                       {0.75, 0.75, kYellow}, {0.5, -0.08, kWhite}, {0.5, 1.08, kWhite},
                       {1.08, 0.5, kWhite}};
        for (const auto& s : samples) {
            const int x = int(c.left + s.fx * c.width), y = int(c.top + s.fy * c.height);
            if (x < 0 || y < 0 || x >= p.width || y >= p.height)
                continue; // beyond the page
            EXPECT_LE(Diff(p.at(x, y), s.colour), 3) << "at " << x << "," << y;
        }
    }
}

TEST_F(PrintRender, PrintFailuresLeaveNoFileAndSayWhy)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"unreadable input", {"print", kData + "missing.png", Out("a.pdf")}, 1, "cannot be read"},
        {"folder missing", {"print", kQuads, Out("no/such/a.pdf")}, 1, "cannot be created"},
        {"fit and size", {"print", kQuads, Out("a.pdf"), "--fit", "--size", "9x9"}, 2, "usage"},
        {"no output", {"print", kQuads}, 2, "usage"},
        {"bad size", {"print", "--size", "0x10", kQuads, Out("a.pdf")}, 2, "--size"},
        {"size not a number", {"print", kQuads, Out("a.pdf"), "--size=12xy"}, 2, "--size"},
        {"size without value", {"print", kQuads, Out("a.pdf"), "--size"}, 2, "needs a value"},
        {"unknown option", {"print", kQuads, Out("a.pdf"), "--fitt"}, 2, "unknown option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Out("a.pdf")));
    }
    // Nothing but the tool's own output files is left in the folder (no temporary PDFs).
    for (const auto& entry : fs::directory_iterator(tmp_.path()))
        EXPECT_TRUE(entry.path().filename() == "stdout.txt" ||
                    entry.path().filename() == "stderr.txt" || entry.path().filename() == "libdib")
            << entry.path();
}

TEST_F(PrintRender, PrinterWithoutSpoolerOrQueueFailsWithOneLine)
{
    const fs::path bin = tmp_.path() / "bin";
    fs::create_directories(bin);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";

    // No `lp` at all.
    ::setenv("PATH", bin.c_str(), 1);
    ToolRun run = Run({"print", kQuads, "--printer", "front-desk", "--fit"});
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no `lp` command"), std::string::npos) << run.err;

    // An `lp` that knows no such printer.
    {
        FILE* f = std::fopen((bin / "lp").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "#!/bin/sh\necho 'lp: The printer or class does not exist.' >&2\nexit 1\n");
        std::fclose(f);
    }
    fs::permissions(bin / "lp", fs::perms::owner_all);
    ::setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
    run = Run({"print", "--printer=nowhere", kQuads});
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("the printer 'nowhere' did not take the job"), std::string::npos)
        << run.err;
    // A printer and an output file at once is a mistake.
    EXPECT_EQ(Run({"print", kQuads, Out("a.pdf"), "--printer", "x"}).exitCode, 2);
}

// ---- render -----------------------------------------------------------------------------------

TEST_F(PrintRender, RenderFitsIntoTheBoxOnWhite)
{
    const fs::path png = Out("box.png");
    // 40 x 30 into 100 x 100: 100 x 75, centred: top 12.
    const ToolRun run = Run({"render", "--box", "100x100", kQuads, png.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("at (0, 12) size 100 x 75 in a 100 x 100 box (fast)"), std::string::npos)
        << run.out;
    const Picture p = ReadPng(png);
    ASSERT_EQ(p.width, 100);
    ASSERT_EQ(p.height, 100);
    const struct {
        int x, y;
        Rgb colour;
    } samples[] = {{0, 11, kWhite},   {99, 11, kWhite},  {0, 12, kRed},   {49, 12, kRed},
                   {50, 12, kGreen},  {99, 47, kGreen},  {0, 52, kBlue},  {49, 86, kBlue},
                   {50, 86, kYellow}, {99, 86, kYellow}, {0, 87, kWhite}, {50, 99, kWhite}};
    for (const auto& s : samples)
        EXPECT_LE(Diff(p.at(s.x, s.y), s.colour), 1) << "at " << s.x << "," << s.y;
}

TEST_F(PrintRender, RenderFastIsNearestAndHighIsSmooth)
{
    // ramp.png doubled: 32 x 24 fills the box exactly.
    const fs::path fast = Out("fast.png"), high = Out("high.png");
    ASSERT_EQ(Run({"render", kRamp, fast.string(), "--box", "32x24", "--quality", "fast"}).exitCode,
              0);
    ASSERT_EQ(Run({"render", kRamp, high.string(), "--box=32x24", "--quality=high"}).exitCode, 0);
    const Picture f = ReadPng(fast), h = ReadPng(high);
    ASSERT_EQ(f.width, 32);
    ASSERT_EQ(f.height, 24);
    ASSERT_EQ(h.width, 32);
    ASSERT_EQ(h.height, 24);
    int smoothed = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) {
            // Nearest: each source pixel becomes a 2 x 2 block of its own colour.
            ASSERT_LE(Diff(f.at(x, y), Ramp(x / 2, y / 2)), 1) << x << "," << y;
            // High quality: between the neighbours it blends (a step of 20 at most per pixel).
            ASSERT_LE(Diff(h.at(x, y), Ramp(x / 2, y / 2)), 20) << x << "," << y;
            smoothed += Diff(h.at(x, y), f.at(x, y)) > 2;
        }
    EXPECT_GT(smoothed, 32 * 24 / 4);
}

TEST_F(PrintRender, RenderRefusals)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"no box", {"render", kQuads, Out("r.png")}, 2, "usage"},
        {"half a box", {"render", kQuads, Out("r.png"), "--box", "10x"}, 2, "--box"},
        {"box too wide", {"render", kQuads, Out("r.png"), "--box", "40000x10"}, 2, "--box"},
        {"box too big", {"render", kQuads, Out("r.png"), "--box", "30000x30000"}, 2, "--box"},
        {"quality",
         {"render", kQuads, Out("r.png"), "--box", "9x9", "--quality", "best"},
         2,
         "--quality"},
        {"three files", {"render", kQuads, Out("r.png"), "x", "--box", "9x9"}, 2, "usage"},
        {"unreadable input",
         {"render", kData + "make_fixtures.py", Out("r.png"), "--box", "9x9"},
         1,
         "cannot be read"},
        {"unwritable output",
         {"render", kQuads, Out("no/such/r.png"), "--box", "9x9"},
         1,
         "cannot be written"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Out("r.png")));
    }
}

} // namespace
