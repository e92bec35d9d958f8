// Tests of `dibtool tiff` (and its other name `tiff-info`): the tool is run as a process on the
// TIFF inspection fixtures (tests/data/tiftools/) and its text and JSON compared line by line.
#include "run_tool.h"
#include "support/support.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string kDir = DIB_TIFTOOLS_DATA_DIR;

dibtest::ToolRun RunVerb(std::vector<std::string> args)
{
    static dibtest::TempDir dir;
    return dibtest::RunDibtool(dir.path(), std::move(args));
}

TEST(TiffInfoVerb, TextOfAFullCmykFile)
{
    const auto run = RunVerb({"tiff", kDir + "cmyk_inks.tif"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string expected = "size:          13 x 7\n"
                                 "samples:       4 x 8 bits, photometric 5, planar 1, "
                                 "compression 1\n"
                                 "resolution:    300 x 300, unit 2\n"
                                 "ink set:       1\n"
                                 "inks:          4\n"
                                 "ink names:     Cyan, Magenta, Yellow, Black\n"
                                 "channels:      4\n"
                                 "multichannel:  no\n"
                                 "separations:   Cyan, Magenta, Yellow, Black\n"
                                 "date:          2024:05:17 10:20:30\n"
                                 "software:      fixture writer 1.0\n"
                                 "repeat:        -\n"
                                 "icc profile:   200 bytes\n";
    const auto firstLine = run.out.find('\n');
    ASSERT_NE(firstLine, std::string::npos);
    EXPECT_EQ(run.out.substr(0, firstLine), "file:          " + kDir + "cmyk_inks.tif");
    EXPECT_EQ(run.out.substr(firstLine + 1), expected);
}

TEST(TiffInfoVerb, JsonWithTheRepeatRecord)
{
    const auto run = RunVerb({"tiff", kDir + "bigtiff.tif", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line :
         {"  \"width\": 13,\n", "  \"photometric\": 2,\n", "  \"resolution\": [200, 200],\n",
          "  \"multichannel\": false,\n", "  \"date_time\": \"2021:06:07 08:09:10\",\n",
          "  \"software\": \"big writer\",\n",
          "  \"repeat\": [\"11223344\", \"0102030405060708\", \"aabbccdd\"],\n",
          "  \"icc_profile_bytes\": null\n}\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin\n" << run.out;
    const auto sep = RunVerb({"tiff", "--json", kDir + "sep6.tif"});
    EXPECT_NE(sep.out.find("\"separations\": [\"Cyan\", \"Magenta\", \"Yellow\", \"Black\", "
                           "\"Orange\", \"Green\"]"),
              std::string::npos)
        << sep.out;
    EXPECT_NE(sep.out.find("\"multichannel\": true"), std::string::npos);
}

TEST(TiffInfoVerb, RefusesWhatItCannotRead)
{
    for (const char* verb : {"tiff", "tiff-info"}) {
        SCOPED_TRACE(verb);
        EXPECT_EQ(RunVerb({verb, kDir + "missing.tif"}).exitCode, 1);
        EXPECT_EQ(RunVerb({verb, kDir + "make_fixtures.py"}).exitCode, 1);
        EXPECT_EQ(RunVerb({verb}).exitCode, 2);
        EXPECT_EQ(RunVerb({verb, "a.tif", "--xml"}).exitCode, 2);
    }
}

// tiff-info is kept as a second name of the same verb: byte-identical answers.
TEST(TiffInfoVerb, BothNamesAnswerAlike)
{
    const std::vector<std::vector<std::string>> cases = {
        {kDir + "cmyk_inks.tif"}, {kDir + "sep6.tif", "--json"}, {"--json", kDir + "bigtiff.tif"}};
    for (const auto& args : cases) {
        auto asTiff = args, asInfo = args;
        asTiff.insert(asTiff.begin(), "tiff");
        asInfo.insert(asInfo.begin(), "tiff-info");
        const auto a = RunVerb(asTiff), b = RunVerb(asInfo);
        EXPECT_EQ(a.exitCode, 0) << a.err;
        EXPECT_EQ(a.exitCode, b.exitCode);
        EXPECT_EQ(a.out, b.out);
        EXPECT_FALSE(a.out.empty());
    }
}

} // namespace
