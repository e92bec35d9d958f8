// Tests of `dibtool info`, `formats`, `icc` and `decode`, run as a user runs them: exit codes,
// text, JSON read by a strict reader, files written, checksums checked against the samples
// tifffile wrote beside the fixtures.
#include "json_check.h"
#include "run_tool.h"
#include "support/support.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const std::string kData = DIB_TEST_DATA_DIR;

struct Tool {
    dibtest::TempDir dir;
    dibtest::ToolRun Run(std::vector<std::string> args)
    {
        return dibtest::RunDibtool(dir.path(), std::move(args));
    }
    std::string Path(const std::string& name) const { return (dir.path() / name).string(); }
};

std::map<std::string, std::string> Json(const dibtest::ToolRun& run)
{
    dibtest::JsonReader reader;
    EXPECT_TRUE(reader.Parse(run.out)) << run.out;
    return reader.values;
}

// The token after `word` in text ("" when absent).
std::string After(const std::string& text, const std::string& word)
{
    const std::size_t at = text.find(word);
    if (at == std::string::npos)
        return {};
    std::istringstream rest(text.substr(at + word.size()));
    std::string token;
    rest >> token;
    return token;
}

std::uint64_t Fnv(const std::string& bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes)
        h = (h ^ c) * 0x100000001b3ull;
    return h;
}

// ---- info ---------------------------------------------------------------------------------

TEST(InfoVerb, LabelledDescriptionAsText)
{
    Tool t;
    const auto run = t.Run({"info", kData + "/tiff/rgb8_lzw.tif"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "TIFF");
    for (const char* line : {"\nEspace colorimétrique: RGB\n", "\nDimension: 7 x 5 pxl\n",
                             "\nBits par Pixel: 24 (3 x 8)\n"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin\n" << run.out;
}

TEST(InfoVerb, JsonHoldsEveryFieldOfTheFileInformation)
{
    Tool t;
    struct Case {
        std::string file;
        std::map<std::string, std::string> want;
    } cases[] = {
        {"/tiff/cmyk8.tif",
         {{"status", "0"},
          {"format", "85"},
          {"width", "7"},
          {"height", "5"},
          {"bits_per_pixel", "32"},
          {"colour_space", "2"},
          {"colour_space_name", "CMYK"},
          {"channels", "4"},
          {"bits_per_channel", "8"},
          {"alpha_channel", "-1"},
          {"indexed", "false"},
          {"tiled", "false"},
          {"view_perspective", "1"},
          {"icc_profile_bytes", "0"}}},
        {"/tiff/rgb8_icc.tif", {{"colour_space", "64"}, {"icc_profile_bytes", "523"}}},
        {"/png/rgba8_icc.png",
         {{"format", "75"},
          {"format_name", "Inconnue (n° 75)"},
          {"alpha_channel", "3"},
          {"bits_per_pixel", "32"}}},
        {"/tiff/rgb8_tiled.tif", {{"tiled", "true"}}},
    };
    for (const Case& c : cases) {
        // Options may come first.
        const auto run = t.Run({"info", "--json", kData + c.file});
        ASSERT_EQ(run.exitCode, 0) << c.file << run.err;
        auto values = Json(run);
        for (const char* key :
             {"file", "status", "format", "format_name", "width", "height", "bits_per_pixel",
              "resolution_x", "resolution_y", "colour_space", "colour_space_name", "channels",
              "bits_per_channel", "alpha_channel", "indexed", "tiled", "view_perspective",
              "icc_profile_bytes"})
            EXPECT_EQ(values.count(key), 1u) << c.file << " lacks " << key;
        EXPECT_EQ(values["file"], kData + c.file);
        for (const auto& [key, value] : c.want)
            EXPECT_EQ(values[key], value) << c.file << " " << key;
    }
}

TEST(InfoVerb, JsonEscapesTheFileName)
{
    Tool t;
    const std::string odd = t.Path("a \"quoted\\ name\tx.tif");
    fs::copy_file(kData + "/tiff/grey8.tif", odd);
    const auto run = t.Run({"info", odd, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Json(run)["file"], odd);
}

TEST(InfoVerb, EngineDescriptionIsAdded)
{
    Tool t;
    const auto run = t.Run({"info", kData + "/png/rgb8_dpi.png", "--engine", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto values = Json(run);
    EXPECT_NE(values["engine_description"].find("<ImageInfo"), std::string::npos)
        << values["engine_description"];
    const auto text = t.Run({"info", "--engine", kData + "/png/rgb8_dpi.png"});
    EXPECT_NE(text.out.find("\nEngine description:\n<"), std::string::npos) << text.out;
}

TEST(InfoVerb, FailuresAndUsage)
{
    Tool t;
    const auto missing = t.Run({"info", t.Path("missing.tif")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    // One line: file, operation, status code and its meaning.
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
    EXPECT_EQ(missing.err.find("dibtool info: " + t.Path("missing.tif") + ": describe: status -"),
              0u)
        << missing.err;
    EXPECT_NE(missing.err.find("(refused by the raster kernel or a file reader)"),
              std::string::npos)
        << missing.err;
    const auto json = t.Run({"info", "--json", t.Path("missing.tif")});
    EXPECT_EQ(json.exitCode, 1);
    auto values = Json(json);
    EXPECT_EQ(values["status"], After(missing.err, "status ").substr(0, 5));
    for (std::vector<std::string> bad :
         std::vector<std::vector<std::string>>{{"info"},
                                               {"info", "a.tif", "b.tif"},
                                               {"info", "a.tif", "--xml"},
                                               {"info", "a.tif", "--json", "--json"},
                                               {"info", "--json=yes", "a.tif"}})
        EXPECT_EQ(t.Run(bad).exitCode, 2) << bad.back();
}

// ---- formats ------------------------------------------------------------------------------

TEST(FormatsVerb, TableAsTextAndJson)
{
    Tool t;
    const auto text = t.Run({"formats"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("\n    75  PNG                  yes   yes\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("\n    76  PSD                  yes   no\n"), std::string::npos);
    const auto json = t.Run({"formats", "--json"});
    ASSERT_EQ(json.exitCode, 0);
    auto values = Json(json);
    int rows = 0;
    for (; values.count("[" + std::to_string(rows) + "].format"); ++rows) {
        const std::string at = "[" + std::to_string(rows) + "].";
        EXPECT_TRUE(values[at + "reads"] == "true" || values[at + "reads"] == "false");
        EXPECT_FALSE(values[at + "name"].empty());
    }
    EXPECT_EQ(rows + 1, std::count(text.out.begin(), text.out.end(), '\n'));
    EXPECT_EQ(t.Run({"formats", "extra"}).exitCode, 2);
}

// ---- icc ----------------------------------------------------------------------------------

TEST(IccVerb, ProfilesEmbeddedByOtherToolsComeOutWhole)
{
    Tool t;
    struct {
        const char* file;
        const char* profile;
    } cases[] = {{"/tiff/rgb8_icc.tif", "/tiff/rgb8_icc.icc"},
                 {"/jpeg/icc-im.jpg", "/jpeg/small.icc"},
                 {"/jpeg/icc-split.jpg", "/jpeg/big.icc"},
                 {"/png/rgba8_icc.png", "/jpeg/small.icc"}};
    for (const auto& c : cases) {
        const std::string out = t.Path("out.icc");
        const auto run = t.Run({"icc", kData + c.file, out});
        ASSERT_EQ(run.exitCode, 0) << c.file << run.err;
        const std::string want = dibtest::Slurp(kData + c.profile);
        EXPECT_EQ(dibtest::Slurp(out), want) << c.file;
        EXPECT_EQ(run.out, out + ": " + std::to_string(want.size()) + " bytes\n");
    }
}

TEST(IccVerb, FileWithoutProfile)
{
    Tool t;
    const auto run = t.Run({"icc", kData + "/tiff/rgb8.tif", t.Path("none.icc")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "dibtool icc: " + kData + "/tiff/rgb8.tif: no embedded ICC profile\n");
    EXPECT_FALSE(fs::exists(t.Path("none.icc")));
    EXPECT_EQ(t.Run({"icc", kData + "/tiff/rgb8.tif"}).exitCode, 2);
}

// ---- decode -------------------------------------------------------------------------------

TEST(DecodeVerb, BothRoutesGiveTheSameChecksum)
{
    Tool t;
    for (const char* file : {"/tiff/rgb8_lzw.tif", "/tiff/grey8.tif", "/tiff/cmyk8.tif",
                             "/tiff/cmyk_spots.tif", "/jpeg/rgb420.jpg", "/jpeg/progressive.jpg",
                             "/jpeg/cmyk-im.jpg", "/png/rgb8_dpi.png", "/png/rgba8_icc.png"}) {
        const auto memory = t.Run({"decode", kData + file});
        const auto stream = t.Run({"decode", "--stream", kData + file});
        ASSERT_EQ(memory.exitCode, 0) << file << memory.err;
        ASSERT_EQ(stream.exitCode, 0) << file << stream.err;
        const std::string sum = After(memory.out, "fnv1a64 ");
        EXPECT_EQ(sum.size(), 16u) << memory.out;
        EXPECT_EQ(After(stream.out, "fnv1a64 "), sum) << file;
        EXPECT_EQ(After(stream.out, "pixels, "), After(memory.out, "pixels, ")) << file;
        EXPECT_NE(memory.out.find("(in memory)"), std::string::npos);
        EXPECT_NE(stream.out.find("(streamed)"), std::string::npos);
    }
}

TEST(DecodeVerb, ChecksumIsOverTheRowsBlueGreenRed)
{
    // tifffile's samples are red, green, blue; rows in memory hold blue, green, red.
    std::string samples = dibtest::Slurp(kData + "/tiff/rgb8.samples");
    ASSERT_EQ(samples.size(), 105u);
    for (std::size_t p = 0; p + 2 < samples.size(); p += 3)
        std::swap(samples[p], samples[p + 2]);
    char want[17];
    std::snprintf(want, sizeof want, "%016llx", static_cast<unsigned long long>(Fnv(samples)));
    Tool t;
    const auto run = t.Run({"decode", kData + "/tiff/rgb8.tif"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              kData + "/tiff/rgb8.tif: 7 x 5 pixels, 5 lines, fnv1a64 " + want + " (in memory)\n");
}

TEST(DecodeVerb, UnreadableFile)
{
    Tool t;
    std::ofstream(t.Path("junk.png")) << "not an image at all";
    for (bool stream : {false, true}) {
        std::vector<std::string> args = {"decode", t.Path("junk.png")};
        if (stream)
            args.push_back("--stream");
        const auto run = t.Run(args);
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_NE(run.err.find(": status -"), std::string::npos) << run.err;
    }
}

} // namespace
