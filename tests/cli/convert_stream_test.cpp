// Tests of `dibtool convert IN OUT.bmp --stream`: the streamed BMP parsed byte by byte and its
// pixels compared with the in-memory convert of the same file; refusals leave no file.
#include "run_tool.h"
#include "support/support.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const std::string kTiff = std::string(DIB_TEST_DATA_DIR) + "/tiff/";

struct Bmp {
    int width = 0, height = 0, bits = 0;
    bool topDown = false;
    std::vector<std::uint8_t> grey; // one value per pixel, top row first, through the palette
};

std::uint32_t Le(const std::string& s, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | std::uint8_t(s[at + std::size_t(i)]);
    return v;
}

bool ParseBmp(const std::string& path, Bmp& out)
{
    const std::string s = dibtest::Slurp(path);
    if (s.size() < 54 || s[0] != 'B' || s[1] != 'M' || Le(s, 2, 4) != s.size())
        return false;
    out.width = int(Le(s, 18, 4));
    const auto h = std::int32_t(Le(s, 22, 4));
    out.topDown = h < 0;
    out.height = h < 0 ? -h : h;
    out.bits = int(Le(s, 28, 2));
    const std::size_t offset = Le(s, 10, 4);
    const std::size_t stride = (std::size_t(out.width) * std::size_t(out.bits) + 31) / 32 * 4;
    const std::size_t colours = Le(s, 46, 4) ? Le(s, 46, 4) : (1u << out.bits);
    if (Le(s, 14, 4) != 40 || offset < 54 + colours * 4 ||
        offset + stride * std::size_t(out.height) != s.size())
        return false;
    for (int y = 0; y < out.height; ++y) {
        const int fileRow = out.topDown ? y : out.height - 1 - y;
        const std::size_t row = offset + stride * std::size_t(fileRow);
        for (int x = 0; x < out.width; ++x) {
            std::size_t index = std::uint8_t(s[row + std::size_t(x) * std::size_t(out.bits) / 8]);
            if (out.bits == 1)
                index = (index >> (7 - x % 8)) & 1;
            if (index >= colours)
                return false;
            const std::size_t entry = 54 + index * 4; // blue, green, red, 0
            if (s[entry] != s[entry + 1] || s[entry] != s[entry + 2])
                return false;
            out.grey.push_back(std::uint8_t(s[entry]));
        }
    }
    return true;
}

struct Tool {
    dibtest::TempDir dir;
    dibtest::ToolRun Run(std::vector<std::string> args)
    {
        return dibtest::RunDibtool(dir.path(), std::move(args));
    }
    std::string Path(const std::string& name) const { return (dir.path() / name).string(); }
    int Files() const
    {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string name = e.path().filename().string();
            n += name != "stdout.txt" && name != "stderr.txt";
        }
        return n;
    }
};

TEST(ConvertStream, PixelsEqualTheInMemoryConvert)
{
    const struct {
        const char* file;
        int bits;
    } cases[] = {{"grey8.tif", 8},
                 {"grey8_miniswhite.tif", 8},
                 {"grey8_lzw_pred.tif", 8},
                 {"bilevel_minisblack.tif", 1},
                 {"bilevel_miniswhite.tif", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Tool tool;
        const auto streamed =
            tool.Run({"convert", kTiff + c.file, tool.Path("s.bmp"), "--stream", "--quiet"});
        ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
        const auto held = tool.Run({"convert", "--quiet", kTiff + c.file, tool.Path("m.bmp")});
        ASSERT_EQ(held.exitCode, 0) << held.err;
        Bmp s, m;
        ASSERT_TRUE(ParseBmp(tool.Path("s.bmp"), s));
        ASSERT_TRUE(ParseBmp(tool.Path("m.bmp"), m));
        EXPECT_EQ(s.bits, c.bits);
        EXPECT_TRUE(s.topDown); // lines arrive top first
        EXPECT_EQ(s.width, m.width);
        EXPECT_EQ(s.height, m.height);
        EXPECT_EQ(s.grey, m.grey);
        EXPECT_EQ(tool.Files(), 2); // no temporary left behind
    }
}

TEST(ConvertStream, RefusalsWriteNothing)
{
    const struct {
        std::string in, out, extra;
        int exitCode;
    } cases[] = {
        {"rgb8.tif", "o.bmp", "", 2},  // colour
        {"grey4.tif", "o.bmp", "", 2}, // 4-bit grey
        {"grey8.tif", "o.png", "", 2}, // not a BMP
        {"grey8.tif", "o.bmp", "--bpp=1", 2}, {"missing.tif", "o.bmp", "", 1},
        {"make_fixtures.py", "o.bmp", "", 1}, {"grey8.tif", "no/such/folder/o.bmp", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in + " " + c.out);
        Tool tool;
        std::vector<std::string> args = {"convert", kTiff + c.in, tool.Path(c.out), "--stream"};
        if (!c.extra.empty())
            args.push_back(c.extra);
        const auto run = tool.Run(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(tool.Files(), 0);
    }
}

} // namespace
