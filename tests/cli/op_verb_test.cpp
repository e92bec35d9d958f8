// Tests of `dibtool op`: the command line as parsed (--dry-run), its refusals, and whole runs on
// a TIFF fixture written by tifffile, whose output is read back with libtiff.
#include "run_tool.h"
#include "support/support.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <tiffio.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

using dibtest::ToolRun;

// rgb8_big.tif: 37 x 40, sample c of pixel (x, y) = (5x + 3y + 80c) % 256.
const std::string kFixture = std::string(DIB_TEST_DATA_DIR) + "/tiff/rgb8_big.tif";
constexpr int kW = 37, kH = 40;

int Sample(int x, int y, int c)
{
    return (5 * x + 3 * y + 80 * c) % 256;
}

ToolRun Op(const fs::path& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), "op");
    return dibtest::RunDibtool(dir, std::move(args));
}

// A TIFF read with libtiff: size, samples per pixel, bits per sample and the samples.
struct Picture {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, bits = 0;
    std::vector<std::vector<std::uint8_t>> rows;
};

Picture ReadTiff(const fs::path& path)
{
    Picture p;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) {
        ADD_FAILURE() << path << " does not open";
        return p;
    }
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &p.bits);
    for (std::uint32_t y = 0; y < p.height; ++y) {
        std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize(tif)));
        if (TIFFReadScanline(tif, row.data(), y, 0) < 0)
            ADD_FAILURE() << "row " << y;
        p.rows.push_back(std::move(row));
    }
    TIFFClose(tif);
    return p;
}

TEST(OpVerb, HelpListsEveryOperationWithItsMember)
{
    dibtest::TempDir dir;
    const ToolRun run = Op(dir.path(), {"--help"});
    ASSERT_EQ(run.exitCode, 0);
    for (const char* line :
         {"rotate DEGREES [grow]", "TDib::Rotar)", "resize-fit WIDTH HEIGHT",
          "crop X Y WIDTH HEIGHT", "depth BITS [optimised] [dither]", "TDib::GrayScale)",
          "isolate KEY COLOUR", "TDib::ExtreureMascaraColor)"})
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
}

TEST(OpVerb, DryRunShowsTheStepsAndTheirMembers)
{
    dibtest::TempDir dir;
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"rotate", "90", "grow,", "resize-fit", "1024", "1024,", "grey"},
         "1. rotate 90 grow -> TDib::Rotar\n2. resize-fit 1024 1024 -> TDib::EscalarAR\n"
         "3. grey -> TDib::GrayScale\n"},
        {{"grey,invert", ",", "fill", "#00ff80", ",mirror"},
         "1. grey -> TDib::GrayScale\n2. invert -> TDib::Invertir\n"
         "3. fill #00ff80 -> TDib::SetColor\n4. mirror -> TDib::FlipX\n"},
        {{"depth", "8", "dither", "optimised"}, "1. depth 8 dither optimised -> TDib::CanviaBPP\n"},
        {{"rotate-fine", "-11.5", "grow", ",", "gamma", "2.2"},
         "1. rotate-fine -11.5 grow -> TDib::RotarFine\n2. gamma 2.2 -> TDib::SetGamma\n"},
        {{"mask", "white", "0.25"}, "1. mask white 0.25 -> TDib::ExtreureMascaraColor\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--dry-run", "in.tif", "out.tif"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolRun run = Op(dir.path(), args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, c.out);
    }
}

TEST(OpVerb, CommandLineMistakesExitTwoBeforeAnyFileIsTouched)
{
    dibtest::TempDir dir;
    const std::string out = (dir.path() / "out.tif").string();
    const struct {
        std::vector<std::string> ops;
        const char* err;
    } cases[] = {
        {{}, "usage: dibtool op"},
        {{"frobnicate"}, "unknown operation 'frobnicate'"},
        {{"rotate"}, "needs its arguments: rotate DEGREES [grow]"},
        {{"rotate", "ninety"}, "'ninety' is not a valid DEGREES"},
        {{"rotate", "90", "grow", "grow"}, "unexpected 'grow'"},
        {{"rotate", "90", "sideways"}, "unexpected 'sideways'"},
        {{"contrast", "1001"}, "not a valid AMOUNT"},
        {{"contrast", " 5"}, "not a valid AMOUNT"},
        {{"gamma", "nan"}, "not a valid GAMMA"},
        {{"resize", "0", "10"}, "not a valid WIDTH"},
        {{"resize", "99999999999", "10"}, "not a valid WIDTH"},
        {{"fill", "#GG0000"}, "not a valid COLOUR"},
        {{"fill", "#FFF"}, "not a valid COLOUR"},
        {{"mask", "000000", "1.5"}, "not a valid TOLERANCE"},
        {{"grey,,invert"}, "missing before a comma"},
        {{",", "grey"}, "missing before a comma"},
        {{"grey,"}, "missing after the last comma"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {kFixture, out};
        args.insert(args.end(), c.ops.begin(), c.ops.end());
        const ToolRun run = Op(dir.path(), args);
        EXPECT_EQ(run.exitCode, 2) << c.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
    EXPECT_EQ(Op(dir.path(), {kFixture, out}).exitCode, 2);
}

TEST(OpVerb, QuarterTurnMovesEveryPixel)
{
    dibtest::TempDir dir;
    const fs::path out = dir.path() / "turned.tif";
    const ToolRun run = Op(dir.path(), {kFixture, out.string(), "turn-right"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("40 x 37 pixels, 24 bits per pixel, 1 operation"), std::string::npos)
        << run.out;
    const Picture p = ReadTiff(out);
    ASSERT_EQ(p.width, std::uint32_t(kH));
    ASSERT_EQ(p.height, std::uint32_t(kW));
    ASSERT_EQ(p.samples, 3);
    // Clockwise: out(x, y) = in(y, H - 1 - x).
    for (int y = 0; y < kW; ++y)
        for (int x = 0; x < kH; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(p.rows[std::size_t(y)][std::size_t(3 * x + c)], Sample(y, kH - 1 - x, c))
                    << x << "," << y;
}

TEST(OpVerb, OperationsRunInOrder)
{
    dibtest::TempDir dir;
    const fs::path out = dir.path() / "out.tif";
    // Invert then mirror: out(x, y) = 255 - in(W - 1 - x, y).
    ToolRun run = Op(dir.path(), {kFixture, out.string(), "invert,", "mirror"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Picture p = ReadTiff(out);
    ASSERT_EQ(p.width, std::uint32_t(kW));
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(p.rows[std::size_t(y)][std::size_t(3 * x + c)],
                          255 - Sample(kW - 1 - x, y, c));
    // 40 x 37 after the turn; fitted into 20 x 20 it is 20 x 19 (18.5 away from zero); grey.
    run = Op(dir.path(),
             {kFixture, out.string(), "rotate", "90", "grow,", "resize-fit", "20", "20,", "grey"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    p = ReadTiff(out);
    EXPECT_EQ(p.width, 20u);
    EXPECT_EQ(p.height, 19u);
    EXPECT_EQ(p.samples, 1);
    EXPECT_EQ(p.bits, 8);
}

TEST(OpVerb, FailuresNameTheFileTheOperationAndTheStatus)
{
    dibtest::TempDir dir;
    const fs::path out = dir.path() / "out.tif";
    // The crop reaches past the right edge.
    ToolRun run = Op(dir.path(), {kFixture, out.string(), "grey,", "crop", "30", "0", "20", "20"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("rgb8_big.tif: crop 30 0 20 20: status -3003 ("), std::string::npos)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(out));

    const std::string missing = (dir.path() / "missing.tif").string();
    run = Op(dir.path(), {missing, out.string(), "grey"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing.tif: read: status "), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));

    // A folder where the file should be.
    const fs::path folder = dir.path() / "folder.tif";
    fs::create_directory(folder);
    run = Op(dir.path(), {kFixture, folder.string(), "grey"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("folder.tif: write: status "), std::string::npos) << run.err;
}

} // namespace
