// Printer contexts: PDF pages at 600 units per inch checked with poppler's tools, the file
// appearing only when the job ends, and the spooler route through a fake `lp` on PATH.
#include "support/support.h"

#include <cairo.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <win/cairo_dc.h>
#include <win/gdi.h>
#include <win/print_job.h>

namespace fs = std::filesystem;

namespace {

std::string Capture(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

bool HavePoppler()
{
    return std::system("command -v pdfinfo >/dev/null 2>&1") == 0;
}

std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// One page with a red rectangle of 1 x 0.5 inch at (0.5 inch, 0.5 inch).
void DrawPage(HDC dc)
{
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    const RECT r{300, 300, 900, 600};
    EXPECT_NE(FillRect(dc, &r, red), 0);
    DeleteObject(red);
}

TEST(PrintJob, WritesA4PagesAt600UnitsPerInch)
{
    dibtest::TempDir tmp;
    const fs::path pdf = tmp.path() / "out.pdf";
    HDC dc = WinCreatePrinterDC(nullptr, pdf.c_str(), 0, 0);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 600);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 600);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 4961);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 7016);
    const DOCINFOW info{sizeof(DOCINFOW), L"Proof sheet", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &info), 0);
    EXPECT_EQ(StartDocW(dc, &info), SP_ERROR);
    for (int page = 0; page < 2; ++page) {
        ASSERT_GT(StartPage(dc), 0);
        DrawPage(dc);
        ASSERT_GT(EndPage(dc), 0);
    }
    EXPECT_FALSE(fs::exists(pdf)) << "the file appears only when the job ends";
    ASSERT_GT(EndDoc(dc), 0);
    EXPECT_EQ(EndDoc(dc), SP_ERROR);
    DeleteDC(dc);
    ASSERT_TRUE(fs::exists(pdf));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator{}), 1);
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils not installed";
    const std::string info1 = Capture("pdfinfo '" + pdf.string() + "'");
    int pages = 0;
    const std::size_t found = info1.find("Pages:");
    ASSERT_NE(found, std::string::npos) << info1;
    EXPECT_EQ(std::sscanf(info1.c_str() + found, "Pages: %d", &pages), 1);
    EXPECT_EQ(pages, 2);
    EXPECT_NE(info1.find("595.276 x 841.89 pts (A4)"), std::string::npos) << info1;
    EXPECT_NE(info1.find("Proof sheet"), std::string::npos) << info1;
    // At 60 dpi the rectangle covers pixels [30, 90) x [30, 60).
    const std::string ppm = Capture("pdftoppm -r 60 -f 1 -l 1 '" + pdf.string() + "'");
    ASSERT_GT(ppm.size(), 20u);
    int w = 0, h = 0, max = 0, offset = 0;
    ASSERT_EQ(std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &max, &offset), 3);
    const auto* px = reinterpret_cast<const unsigned char*>(ppm.data() + offset + 1);
    auto at = [&](int x, int y) { return px + (std::size_t(y) * w + x) * 3; };
    EXPECT_NEAR(w, 496, 1); // 8.27 inches
    EXPECT_EQ(at(60, 45)[0], 255);
    EXPECT_EQ(at(60, 45)[1], 0);
    EXPECT_EQ(at(20, 45)[1], 255);
    EXPECT_EQ(at(60, 70)[1], 255);
}

TEST(PrintJob, PageSizeFromTheJob)
{
    dibtest::TempDir tmp;
    const fs::path pdf = tmp.path() / "letter.pdf";
    HDC dc = WinCreatePrinterDC(nullptr, pdf.c_str(), 215.9, 279.4);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 5100);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 6600);
    ASSERT_GT(StartDocW(dc, nullptr), 0);
    ASSERT_GT(EndDoc(dc), 0); // ends with the page drawn so far
    DeleteDC(dc);
    if (!HavePoppler())
        GTEST_SKIP() << "poppler-utils not installed";
    const std::string info = Capture("pdfinfo '" + pdf.string() + "'");
    EXPECT_NE(info.find("612 x 792 pts (letter)"), std::string::npos) << info;
}

TEST(PrintJob, FailuresLeaveNoFileBehind)
{
    dibtest::TempDir tmp;
    // Refused at creation.
    EXPECT_EQ(WinCreatePrinterDC(nullptr, nullptr, 0, 0), nullptr);
    EXPECT_EQ(WinCreatePrinterDC(nullptr, (tmp.path() / "no/such/dir.pdf").c_str(), 0, 0), nullptr);
    EXPECT_EQ(WinCreatePrinterDC(nullptr, (tmp.path() / "a.pdf").c_str(), -1, 10), nullptr);
    EXPECT_EQ(WinCreatePrinterDC(nullptr, (tmp.path() / "a.pdf").c_str(), 1e9, 10), nullptr);
    // Aborted, or deleted before EndDoc.
    for (int way = 0; way < 2; ++way) {
        HDC dc = WinCreatePrinterDC(nullptr, (tmp.path() / "b.pdf").c_str(), 0, 0);
        ASSERT_NE(dc, nullptr);
        ASSERT_GT(StartDocW(dc, nullptr), 0);
        ASSERT_GT(StartPage(dc), 0);
        DrawPage(dc);
        if (way == 0) {
            EXPECT_GT(AbortDoc(dc), 0);
        }
        DeleteDC(dc);
    }
    // The destination cannot be replaced (a folder of that name): EndDoc reports it.
    fs::create_directory(tmp.path() / "taken.pdf");
    fs::create_directory(tmp.path() / "taken.pdf" / "inside");
    HDC dc = WinCreatePrinterDC(nullptr, (tmp.path() / "taken.pdf").c_str(), 0, 0);
    ASSERT_NE(dc, nullptr);
    ASSERT_GT(StartDocW(dc, nullptr), 0);
    EXPECT_EQ(EndDoc(dc), SP_ERROR);
    DeleteDC(dc);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator{}), 1);
    // Calls in the wrong order, and on contexts that are not print jobs.
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(StartDocW(screen, nullptr), SP_ERROR);
    EXPECT_EQ(AbortDoc(screen), SP_ERROR);
    ReleaseDC(nullptr, screen);
    HDC early = WinCreatePrinterDC(nullptr, (tmp.path() / "c.pdf").c_str(), 0, 0);
    EXPECT_EQ(StartPage(early), SP_ERROR);
    EXPECT_EQ(EndPage(early), SP_ERROR);
    EXPECT_EQ(EndDoc(early), SP_ERROR);
    DeleteDC(early);
}

TEST(PrintJob, NamedPrinterGoesToTheSpooler)
{
    dibtest::TempDir tmp;
    const fs::path log = tmp.path() / "lp.log", copy = tmp.path() / "spooled.pdf";
    {
        std::ofstream lp(tmp.path() / "lp");
        lp << "#!/bin/sh\n"
           << "echo \"$@\" > '" << log.string() << "'\n"
           << "for a; do last=$a; done\n"
           << "cp \"$last\" '" << copy.string() << "'\n"
           << "[ \"$2\" = broken ] && exit 1\n"
           << "exit 0\n";
    }
    fs::permissions(tmp.path() / "lp", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (tmp.path().string() + ":" + oldPath).c_str(), 1);
    ::setenv("TMPDIR", tmp.path().c_str(), 1);

    HDC dc = WinCreatePrinterDC("office", nullptr, 0, 0);
    ASSERT_NE(dc, nullptr);
    const DOCINFOW info{sizeof(DOCINFOW), L"Invoice", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &info), 0);
    ASSERT_GT(StartPage(dc), 0);
    DrawPage(dc);
    EXPECT_GT(EndDoc(dc), 0);
    DeleteDC(dc);
    const std::string args = ReadFile(log);
    EXPECT_EQ(args.rfind("-d office -t Invoice -- ", 0), 0u) << args;
    EXPECT_EQ(ReadFile(copy).rfind("%PDF-", 0), 0u);

    HDC bad = WinCreatePrinterDC("broken", nullptr, 0, 0);
    ASSERT_NE(bad, nullptr);
    ASSERT_GT(StartDocW(bad, nullptr), 0);
    EXPECT_EQ(EndDoc(bad), SP_ERROR);
    DeleteDC(bad);

    ::setenv("PATH", oldPath.c_str(), 1);
    ::unsetenv("TMPDIR");
    // Only the files the fake spooler wrote remain: the job's own files are gone.
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator{}), 3);
}

} // namespace
