// Tests of `dibtool code`: the tool is run as a process, its BMP read back and decoded by zbar.
#include "run_tool.h"
#include "support/support.h"
#include "support/zbar_decode.h"

#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using dibtest::Slurp;
using dibtest::ToolRun;

ToolRun RunTool(const fs::path& dir, std::vector<std::string> args)
{
    return dibtest::RunDibtool(dir, std::move(args));
}

std::uint32_t U32(const std::string& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(b.at(at + i));
    return v;
}

// A 1-bit BMP as grey pixels, through its own palette.
dibtest::GreyPicture ReadBmp1(const fs::path& path)
{
    const std::string b = Slurp(path);
    dibtest::GreyPicture p;
    if (b.size() < 62 || b[0] != 'B' || b[1] != 'M' || U32(b, 28) % 65536 != 1) {
        ADD_FAILURE() << path << " is not a 1-bit BMP";
        return p;
    }
    const std::uint32_t offset = U32(b, 10);
    p.width = int(U32(b, 18));
    const int height = int(std::int32_t(U32(b, 22)));
    p.height = height < 0 ? -height : height;
    const std::size_t line = (std::size_t(p.width) + 31) / 32 * 4;
    if (b.size() < offset + line * p.height) {
        ADD_FAILURE() << path << " is short";
        return p;
    }
    std::uint8_t grey[2];
    for (int i = 0; i < 2; ++i)
        grey[i] = static_cast<std::uint8_t>(b[54 + 4 * i]); // blue = green = red
    for (int y = 0; y < p.height; ++y) {
        const std::size_t row = offset + line * std::size_t(height < 0 ? y : p.height - 1 - y);
        for (int x = 0; x < p.width; ++x)
            p.pixels.push_back(
                grey[(static_cast<unsigned char>(b[row + x / 8]) >> (7 - x % 8)) & 1]);
    }
    return p;
}

TEST(DibtoolCode, WritesDecodableBmp)
{
    dibtest::TempDir dir;
    struct Case {
        std::string kind, text, scale;
        dibtest::SymbolType type;
    };
    const Case cases[] = {
        {"qr", "https://example.org/item/42", "4", dibtest::kQrCode},
        {"qr", "\xc3\x89tiquette \xf0\x9f\x93\xa6 \xe6\x97\xa5\xe6\x9c\xac", "5", dibtest::kQrCode},
        {"code128", "PALLET-0042", "3", dibtest::kCode128},
    };
    for (const Case& c : cases) {
        const fs::path out = dir.path() / "label.BMP";
        const ToolRun run =
            RunTool(dir.path(), {"code", c.kind, c.text, out.string(), "--scale", c.scale});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("1 bit per pixel"), std::string::npos) << run.out;
        const auto picture = ReadBmp1(out);
        const auto found = dibtest::Decode(dibtest::ScaleWithBorder(picture, 1, 40));
        ASSERT_EQ(found.size(), 1u) << c.text;
        EXPECT_EQ(found[0].type, c.type);
        EXPECT_EQ(found[0].text, c.text);
    }
}

TEST(DibtoolCode, ScaleMultipliesEachPixel)
{
    dibtest::TempDir dir;
    const fs::path one = dir.path() / "one.bmp", three = dir.path() / "three.bmp";
    ASSERT_EQ(RunTool(dir.path(), {"code", "qr", "scale", one.string()}).exitCode, 0);
    ASSERT_EQ(RunTool(dir.path(), {"code", "qr", "scale", three.string(), "--scale", "3"}).exitCode,
              0);
    const auto a = ReadBmp1(one), b = ReadBmp1(three);
    ASSERT_EQ(a.width, 25); // 21 modules and the 2-pixel margins
    ASSERT_EQ(b.width, 3 * a.width);
    ASSERT_EQ(b.height, 3 * a.height);
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x)
            ASSERT_EQ(b.pixels[std::size_t(y) * b.width + x],
                      a.pixels[std::size_t(y / 3) * a.width + x / 3]);
    EXPECT_EQ(a.pixels[0], 255);        // the margin is white
    EXPECT_EQ(a.pixels[2 * 25 + 2], 0); // the finder pattern's corner
}

TEST(DibtoolCode, Refusals)
{
    dibtest::TempDir dir;
    const std::string bmp = (dir.path() / "x.bmp").string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{"code", "qr", "x", (dir.path() / "x.png").string()}, 2, "only .bmp files"},
        {{"code", "qr", "x", bmp, "--scale", "0"}, 2, "--scale"},
        {{"code", "qr", "x", bmp, "--scale", "2x"}, 2, "--scale"},
        {{"code", "qr", "x", bmp, "--scale"}, 2, "usage"},
        {{"code", "ean13", "x", bmp}, 2, "usage"},
        {{"code", "qr", "x"}, 2, "usage"},
        {{"code", "qr", "bad \xff utf-8", bmp}, 2, "UTF-8"},
        {{"code", "code128", "5 \xe2\x82\xac", bmp}, 1, "cannot be drawn"},
        {{"code", "qr", "", bmp}, 1, "cannot be drawn"},
        {{"code", "qr", "x", (dir.path() / "missing" / "x.bmp").string()}, 1, "cannot write"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(dir.path(), c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.back();
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(bmp)) << c.args.back();
    }
}

} // namespace
