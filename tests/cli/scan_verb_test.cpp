// `dibtool scan`, spawned against SANE's test backend (a private SANE_CONFIG_DIR, inherited by
// the tool) with standard input on /dev/null, so the tool never asks.
#include "run_tool.h"
#include "support/sane_test_env.h"
#include "support/support.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

DIB_SANE_TEST_LEAK_SUPPRESSIONS()

namespace {

namespace fs = std::filesystem;
using dibtest::SaneTestEnv;

using dibtest::Slurp;
using dibtest::ToolRun;

// `dibtool scan` with args. The test backend sometimes leaks its line buffer when it restarts
// a frame, and it is unloaded at sane_exit, so a sanitizer build of the tool cannot tell that
// leak from ours by module: leak checking is off in the spawned tool (the scanner tests of the
// library run in process with the backend held loaded, and check for leaks there).
ToolRun RunTool(const fs::path& dir, std::vector<std::string> args)
{
    ::setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
    args.insert(args.begin(), "scan");
    return dibtest::RunDibtool(dir, std::move(args));
}

TEST(ScanVerb, ListScanAndStream)
{
    SaneTestEnv::Configure({{"test-picture", "\"Grid\""}});
    dibtest::TempDir dir;
    ToolRun r = RunTool(dir.path(), {"--list"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "test:0\tNoname frontend-tester\ntest:1\tNoname frontend-tester\n");

    const fs::path bmp = dir.path() / "page.bmp";
    r = RunTool(dir.path(),
                {"--device", "test:1", "--mode", "lineart", "--resolution", "254", bmp.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, bmp.string() + ": 800 x 1000, 1 bits, 254 dpi\n");
    const std::string b = Slurp(bmp);
    ASSERT_GT(b.size(), 62u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(b[28]), 1); // bits per pixel

    const fs::path tif = dir.path() / "page.tif";
    r = RunTool(dir.path(), {"--mode", "grey", "--to-tiff", tif.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(fs::file_size(tif), 8u);
}

TEST(ScanVerb, Failures)
{
    SaneTestEnv::Configure();
    dibtest::TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* err; // part of standard error
    } cases[] = {
        {{}, 2, "usage"},
        {{"--mode", "sepia", "x.bmp"}, 2, "usage"},
        {{"--resolution", "0", "x.bmp"}, 2, "usage"},
        {{"x.png"}, 2, ".bmp"},
        {{"--device", "nope:0", "x.bmp"}, 1, "no device named 'nope:0'"},
    };
    for (const Case& c : cases) {
        const ToolRun r = RunTool(dir.path(), c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    SaneTestEnv::Configure({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
    ToolRun r = RunTool(dir.path(), {(dir.path() / "j.bmp").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Document feeder jammed"), std::string::npos) << r.err;
    SaneTestEnv::Configure({}, false);
    r = RunTool(dir.path(), {"--list"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no scanner found"), std::string::npos) << r.err;
}

} // namespace
