// Tests of `dibtool convert` and `dibtool preview`: the files they write, read back with libpng
// and libtiff; options before and after the files; usage errors; and Ctrl-C, sent to a tool
// whose standard error is a terminal (a pseudo-terminal) as soon as its progress bar shows,
// which must leave no file behind and exit 130.
#include "run_tool.h"
#include "support/support.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <png.h>
#include <poll.h>
#include <string>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
const std::string kData = DIB_TEST_DATA_DIR;
using Bytes = std::vector<std::uint8_t>;

struct Tool {
    dibtest::TempDir dir;
    dibtest::ToolRun Run(std::vector<std::string> args)
    {
        return dibtest::RunDibtool(dir.path(), std::move(args));
    }
    std::string Path(const std::string& name) const { return (dir.path() / name).string(); }
    // The names in the folder other than the tool's own output captures.
    std::vector<std::string> Written() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) {
            const std::string n = e.path().filename().string();
            if (n != "stdout.txt" && n != "stderr.txt")
                names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

struct Png {
    int width = 0, height = 0;
    Bytes rgb; // red, green, blue per pixel
};

bool ReadPng(const std::string& path, Png& out)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    out.width = int(image.width);
    out.height = int(image.height);
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr) != 0;
}

struct TiffFile {
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 0, photometric = 0, compression = 0;
    Bytes data; // rows, interleaved as stored
};

bool ReadTiff(const std::string& path, TiffFile& out)
{
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return false;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &out.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &out.height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &out.samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &out.photometric);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &out.compression);
    Bytes line(std::size_t(TIFFScanlineSize(tif)));
    bool ok = true;
    for (std::uint32_t y = 0; y < out.height && ok; ++y) {
        ok = TIFFReadScanline(tif, line.data(), y, 0) == 1;
        out.data.insert(out.data.end(), line.begin(), line.end());
    }
    TIFFClose(tif);
    return ok;
}

Bytes Samples(const std::string& name)
{
    const std::string s = dibtest::Slurp(kData + "/tiff/" + name);
    return Bytes(s.begin(), s.end());
}

// What a screen shows of C, M, Y, K: red 255 - C - K, green 255 - M - K, blue 255 - Y - K, at
// least 0 each (the previews' adaptation).
Bytes DisplayRgb(const Bytes& cmyk, std::size_t stride)
{
    Bytes rgb;
    for (std::size_t p = 0; p + stride <= cmyk.size(); p += stride)
        for (int c = 0; c < 3; ++c)
            rgb.push_back(std::uint8_t(std::max(0, 255 - cmyk[p + std::size_t(c)] - cmyk[p + 3])));
    return rgb;
}

// ---- convert ------------------------------------------------------------------------------

TEST(ConvertVerb, CmykIntoPngShowsTheDisplayColours)
{
    Tool t;
    const std::string out = t.Path("cmyk.png");
    const auto run = t.Run({"convert", kData + "/tiff/cmyk8.tif", out});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, out + ": 7 x 5 pixels, 24 bits per pixel, format 75 (PNG)\n");
    Png png;
    ASSERT_TRUE(ReadPng(out, png));
    EXPECT_EQ(png.width, 7);
    EXPECT_EQ(png.height, 5);
    EXPECT_EQ(png.rgb, DisplayRgb(Samples("cmyk8.samples"), 4));
}

TEST(ConvertVerb, SpotChannelsIntoPngShowTheProcessColours)
{
    Tool t;
    const auto run = t.Run({"convert", kData + "/tiff/cmyk_spots.tif", t.Path("spots.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Png png;
    ASSERT_TRUE(ReadPng(t.Path("spots.png"), png));
    EXPECT_EQ(png.rgb, DisplayRgb(Samples("cmyk_spots.samples"), 6));
}

TEST(ConvertVerb, TiffKeepsCmykAndSpotChannels)
{
    Tool t;
    struct {
        const char* in;
        std::uint16_t samples;
    } cases[] = {{"cmyk8", 4}, {"cmyk_spots", 6}};
    for (const auto& c : cases) {
        const std::string out = t.Path(std::string(c.in) + ".tif");
        const auto run = t.Run({"convert", kData + "/tiff/" + c.in + ".tif", out});
        ASSERT_EQ(run.exitCode, 0) << c.in << run.err;
        EXPECT_NE(run.out.find("format 86 (TIFF CMYK LZW)"), std::string::npos) << run.out;
        TiffFile tif;
        ASSERT_TRUE(ReadTiff(out, tif)) << c.in;
        EXPECT_EQ(tif.photometric, PHOTOMETRIC_SEPARATED);
        EXPECT_EQ(tif.compression, COMPRESSION_LZW);
        EXPECT_EQ(tif.samples, c.samples);
        EXPECT_EQ(tif.data, Samples(std::string(c.in) + ".samples")) << c.in;
    }
}

TEST(ConvertVerb, FormatFromOptionOrExtensionAndOptionsAnywhere)
{
    Tool t;
    const std::string in = kData + "/tiff/rgb8.tif";
    struct {
        std::vector<std::string> args;
        const char* out;
        std::uint16_t compression; // of a TIFF result, else 0
    } cases[] = {
        {{"convert", "--quiet", in, "OUT.tif"}, "OUT.tif", COMPRESSION_LZW},
        {{"convert", in, "OUT", "--format", "189"}, "OUT", 32946},
        {{"convert", in, "--format=tiff-packbits", "OUT.x"}, "OUT.x", COMPRESSION_PACKBITS},
        {{"convert", in, "OUT.bmp", "--quiet"}, "OUT.bmp", 0},
        {{"convert", in, "OUT.jpeg", "--quality", "10"}, "OUT.jpeg", 0},
        {{"convert", "--format", "PNG", "--", in, "OUT.dat"}, "OUT.dat", 0},
    };
    for (auto& c : cases) {
        for (auto& a : c.args)
            if (a.rfind("OUT", 0) == 0)
                a = t.Path(a);
        const auto run = t.Run(c.args);
        ASSERT_EQ(run.exitCode, 0) << c.out << run.err;
        const auto rerun = t.Run({"info", "--json", t.Path(c.out)});
        ASSERT_EQ(rerun.exitCode, 0) << c.out;
        EXPECT_NE(rerun.out.find("\"width\": 7,"), std::string::npos) << c.out;
        if (c.compression) {
            TiffFile tif;
            ASSERT_TRUE(ReadTiff(t.Path(c.out), tif));
            EXPECT_EQ(tif.compression, c.compression) << c.out;
            EXPECT_EQ(tif.samples, 3);
        }
    }
    Png png;
    ASSERT_TRUE(ReadPng(t.Path("OUT.dat"), png));
    Bytes rgb = Samples("rgb8.samples");
    EXPECT_EQ(png.rgb, rgb);
}

TEST(ConvertVerb, UsageErrorsTouchNothing)
{
    Tool t;
    const std::string in = kData + "/tiff/rgb8.tif";
    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"convert", in},
             {"convert", in, t.Path("a.xyz")},
             {"convert", in, t.Path("a.png"), "--format", "nonsense"},
             {"convert", in, t.Path("a.png"), "--format", "76"}, // read only
             {"convert", in, t.Path("a.png"), "--bpp", "0"},
             {"convert", in, t.Path("a.png"), "--quality", "x"},
             {"convert", in, t.Path("a.png"), "--quality"},
             {"convert", in, t.Path("a.png"), "--colour", "1"},
         }) {
        const auto run = t.Run(bad);
        EXPECT_EQ(run.exitCode, 2) << bad.back() << run.err;
        EXPECT_NE(run.err.find("usage: dibtool convert "), std::string::npos) << run.err;
    }
    EXPECT_TRUE(t.Written().empty());
}

TEST(ConvertVerb, FailedReadWritesNothing)
{
    Tool t;
    std::ofstream(t.Path("junk.tif")) << "II*\0 this is not a TIFF";
    const auto run = t.Run({"convert", t.Path("junk.tif"), t.Path("out.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.find("dibtool convert: " + t.Path("junk.tif") + ": "), 0u) << run.err;
    EXPECT_EQ(t.Written(), std::vector<std::string>{"junk.tif"});
}

// An uncompressed 24-bit BMP of width x height pixels, written by hand.
void WriteBmp(const std::string& path, int width, int height)
{
    const std::uint32_t row = std::uint32_t(width * 3 + 3) & ~3u;
    const std::uint32_t bits = row * std::uint32_t(height);
    std::uint8_t h[54] = {'B', 'M'};
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[at + i] = std::uint8_t(v >> (8 * i));
    };
    put32(2, 54 + bits);
    put32(10, 54);
    put32(14, 40);
    put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(height));
    h[26] = 1;
    h[28] = 24;
    put32(34, bits);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(h), 54);
    std::vector<char> line(row);
    for (int y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < row; ++x)
            line[x] = char((x * 7 + std::uint32_t(y) * 13) & 0xFF);
        f.write(line.data(), std::streamsize(row));
    }
}

TEST(ConvertVerb, CtrlCCancelsAndLeavesNoFile)
{
    Tool t;
    WriteBmp(t.Path("big.bmp"), 3000, 2000);
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);

    std::vector<std::string> args = {DIBTOOL_PATH, "convert", t.Path("big.bmp"), t.Path("big.tif")};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Read the terminal until the bar shows, interrupt, then drain until the tool exits.
    std::string seen;
    bool sent = false;
    int status = 0;
    for (int rounds = 0; rounds < 6000; ++rounds) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
            char buf[512];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                seen.append(buf, std::size_t(n));
        }
        if (!sent && seen.find('%') != std::string::npos) {
            kill(pid, SIGINT);
            sent = true;
        }
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
    }
    close(master);
    ASSERT_TRUE(sent) << "no progress bar on the terminal: " << seen;
    ASSERT_TRUE(WIFEXITED(status)) << seen;
    EXPECT_EQ(WEXITSTATUS(status), 130) << seen;
    EXPECT_NE(seen.find("interrupted"), std::string::npos) << seen;
    EXPECT_EQ(t.Written(), std::vector<std::string>{"big.bmp"});
}

// ---- preview ------------------------------------------------------------------------------

TEST(PreviewVerb, BoxedAndBudgeted)
{
    Tool t;
    const std::string in = kData + "/tiff/rgb8_big.tif";
    const auto boxed = t.Run(
        {"preview", in, t.Path("box.png"), "--box", "40x30", "--background", "#FF0000", "--quiet"});
    ASSERT_EQ(boxed.exitCode, 0) << boxed.err;
    EXPECT_EQ(boxed.out, t.Path("box.png") + ": 40 x 30 pixels, 24 bits per pixel\n");
    Png png;
    ASSERT_TRUE(ReadPng(t.Path("box.png"), png));
    EXPECT_EQ(png.width, 40);
    EXPECT_EQ(png.height, 30);
    const auto kb = t.Run({"preview", "--kb", "2", in, t.Path("kb.tif")});
    ASSERT_EQ(kb.exitCode, 0) << kb.err;
    TiffFile tif;
    ASSERT_TRUE(ReadTiff(t.Path("kb.tif"), tif));
    EXPECT_LE(std::uint64_t(tif.width) * tif.height * 3, 2u * 2048u);
    EXPECT_GT(tif.width, 0u);
}

TEST(PreviewVerb, CmykFileShowsDisplayColours)
{
    Tool t;
    // The box has the file's own size; the preview is resampled (twice the box, then halved),
    // and inks are adapted after scaling, so each channel's mean is compared loosely.
    const auto run = t.Run({"preview", kData + "/tiff/cmyk8.tif", t.Path("p.png"), "--box", "7x5"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Png png;
    ASSERT_TRUE(ReadPng(t.Path("p.png"), png));
    const Bytes want = DisplayRgb(Samples("cmyk8.samples"), 4);
    ASSERT_EQ(png.rgb.size(), want.size());
    for (std::size_t c = 0; c < 3; ++c) {
        double got = 0, expected = 0;
        for (std::size_t i = c; i < want.size(); i += 3) {
            got += png.rgb[i];
            expected += want[i];
        }
        EXPECT_NEAR(got / 35.0, expected / 35.0, 12.0) << "channel " << c;
    }
}

TEST(PreviewVerb, UsageAndRefusals)
{
    Tool t;
    const std::string in = kData + "/tiff/rgb8.tif";
    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"preview", in, t.Path("p.png")},
             {"preview", in, t.Path("p.png"), "--box", "10x10", "--kb", "4"},
             {"preview", in, t.Path("p.png"), "--box", "10"},
             {"preview", in, t.Path("p.png"), "--box", "0x10"},
             {"preview", in, t.Path("p.png"), "--kb", "4", "--background", "ffffff"},
             {"preview", in, t.Path("p.png"), "--box", "9x9", "--background", "fffff"}})
        EXPECT_EQ(t.Run(bad).exitCode, 2) << bad.back();
    const auto lab = t.Run({"preview", kData + "/tiff/lab8.tif", t.Path("lab.png"), "--kb", "4"});
    EXPECT_EQ(lab.exitCode, 1);
    EXPECT_NE(lab.err.find("status -2 (input of an unsupported kind)"), std::string::npos)
        << lab.err;
    EXPECT_TRUE(t.Written().empty());
}

} // namespace
