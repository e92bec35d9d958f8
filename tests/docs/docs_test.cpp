// The user's first contact with the library: the README's example program (built here and
// identical to the README's listing), the large-image writer of the demo, and `make demo`
// itself. Each program runs as a separate process; what it writes is read back with libtiff
// and libpng, never with the library.
#include "support/support.h"

#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <png.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <tiffio.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
const fs::path kSource = DIB_SOURCE_DIR;
const fs::path kSamples = kSource / "samples";

struct ProgramRun {
    int exitCode = -1; // -1: did not start or did not exit normally
    std::string out, err;
};

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs program with args, standard input /dev/null; extraEnv ("NAME=value") is added to the
// environment. dir receives the standard output and error.
ProgramRun RunProgram(const fs::path& dir, std::vector<std::string> args,
                      const std::vector<std::string>& extraEnv = {})
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore(extraEnv);
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);

    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    ProgramRun run;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = Slurp(out);
    run.err = Slurp(err);
    return run;
}

struct Rgb {
    int r, g, b;
};

// A decoded picture as 8-bit RGB, from libtiff's RGBA interface or libpng's simple one.
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    Rgb At(int x, int y) const
    {
        const std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

bool ReadPng(const fs::path& path, Picture& pic)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    pic.width = int(image.width);
    pic.height = int(image.height);
    pic.rgb.resize(PNG_IMAGE_SIZE(image));
    png_color white{255, 255, 255};
    const bool ok = png_image_finish_read(&image, &white, pic.rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

struct TiffFacts {
    std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
    std::uint16_t samples = 0, bits = 0, photometric = 0, compression = 0;
    float xres = 0;
};

bool ReadTiff(const fs::path& path, TiffFacts& facts, Picture* pic = nullptr)
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return false;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &facts.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &facts.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &facts.rowsPerStrip);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &facts.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &facts.bits);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &facts.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &facts.compression);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &facts.xres);
    bool ok = true;
    if (pic) {
        std::vector<std::uint32_t> rgba(std::size_t(facts.width) * facts.height);
        ok = TIFFReadRGBAImageOriented(tif, facts.width, facts.height, rgba.data(),
                                       ORIENTATION_TOPLEFT, 0) != 0;
        pic->width = int(facts.width);
        pic->height = int(facts.height);
        pic->rgb.clear();
        for (std::uint32_t v : rgba) {
            pic->rgb.push_back(std::uint8_t(TIFFGetR(v)));
            pic->rgb.push_back(std::uint8_t(TIFFGetG(v)));
            pic->rgb.push_back(std::uint8_t(TIFFGetB(v)));
        }
    }
    TIFFClose(tif);
    return ok;
}

// The samples' scene (samples/make-samples.sh) at a fraction (fx, fy) of its size: the sun's
// centre and a spot of sky near the top left, with their colours.
constexpr double kSunX = 0.78, kSkyX = 0.04, kSkyY = 0.42;
double SunY(double aspect)
{
    return 0.10 + 0.10 * aspect;
} // aspect = width / height
constexpr Rgb kSun{255, 214, 64};

::testing::AssertionResult Near(Rgb got, Rgb want, int tolerance)
{
    if (std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.b - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << got.r << ", " << got.g << ", " << got.b << ") is not within " << tolerance
           << " of (" << want.r << ", " << want.g << ", " << want.b << ")";
}

Rgb SunOf(const Picture& pic)
{
    const double aspect = double(pic.width) / pic.height;
    return pic.At(int(kSunX * pic.width), int(SunY(aspect) * pic.height));
}

// ---- quickstart ------------------------------------------------------------------------------

struct SampleCase {
    const char* file;
    int width, height;
    int tolerance; // for the sun's colour (JPEG, palette, CMYK display colours, a soft edge)
};

class QuickstartSample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(QuickstartSample, DescribesOpensAndSavesAPreview)
{
    const SampleCase c = GetParam();
    dibtest::TempDir tmp;
    const fs::path in = kSamples / c.file, out = tmp.path() / "preview.tif";
    const ProgramRun run = RunProgram(tmp.path(), {QUICKSTART_PATH, in.string(), out.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string size = std::to_string(c.width) + " x " + std::to_string(c.height);
    EXPECT_EQ(run.out.rfind(in.string() + ": ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(": " + size + " pxl\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nopened: " + size + " pixels, "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\npreview: 160 x 120 pixels, 24 bits per pixel, saved as " +
                           out.string() + "\n"),
              std::string::npos)
        << run.out;

    // Every sample has the box's shape, so the preview is the whole picture, in screen colours.
    TiffFacts facts;
    Picture pic;
    ASSERT_TRUE(ReadTiff(out, facts, &pic));
    EXPECT_EQ(facts.width, 160u);
    EXPECT_EQ(facts.height, 120u);
    EXPECT_EQ(facts.samples, 3);
    EXPECT_EQ(facts.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(facts.compression, COMPRESSION_LZW);
    EXPECT_TRUE(Near(SunOf(pic), kSun, c.tolerance)) << "the sun of " << c.file;
}

INSTANTIATE_TEST_SUITE_P(Samples, QuickstartSample,
                         ::testing::Values(SampleCase{"photo.jpg", 256, 192, 24},
                                           SampleCase{"cmyk-lzw.tif", 256, 192, 40},
                                           SampleCase{"deep16.tif", 128, 96, 24},
                                           SampleCase{"icc.tif", 256, 192, 16},
                                           SampleCase{"rgba.png", 128, 96, 32},
                                           SampleCase{"palette.gif", 256, 192, 32},
                                           SampleCase{"layers.psd", 256, 192, 16},
                                           SampleCase{"picture.bmp", 128, 96, 16}),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(Quickstart, FailuresWriteNothing)
{
    dibtest::TempDir tmp;
    const fs::path out = tmp.path() / "out.tif";
    const fs::path text = tmp.path() / "notes.txt";
    std::ofstream(text) << "not a picture\n";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {{QUICKSTART_PATH}, 2},
        {{QUICKSTART_PATH, (kSamples / "photo.jpg").string()}, 2},
        {{QUICKSTART_PATH, (kSamples / "photo.jpg").string(), out.string(), "x"}, 2},
        {{QUICKSTART_PATH, (tmp.path() / "missing.jpg").string(), out.string()}, 1},
        {{QUICKSTART_PATH, text.string(), out.string()}, 1},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunProgram(tmp.path(), c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args.back() << "\n" << run.err;
        EXPECT_FALSE(run.err.empty());
        EXPECT_FALSE(fs::exists(out)) << c.args.back();
    }
}

// The README shows the example program from the same text.
TEST(Readme, ShowsTheExampleProgramAsItIs)
{
    const std::string readme = Slurp(kSource / "README.md");
    const std::string program = Slurp(kSource / "examples" / "quickstart.cpp");
    ASSERT_FALSE(program.empty());
    const std::string firstLine = program.substr(0, program.find('\n') + 1);
    const std::size_t start = readme.find("```cpp\n" + firstLine);
    ASSERT_NE(start, std::string::npos) << "no ```cpp block in README.md begins with " << firstLine;
    const std::size_t body = start + 7;
    const std::size_t end = readme.find("\n```\n", body);
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(readme.substr(body, end + 1 - body), program);
}

// ---- make_big_tiff ----------------------------------------------------------------------------

TEST(MakeBigTiff, WritesTheRampRowByRow)
{
    dibtest::TempDir tmp;
    const fs::path out = tmp.path() / "sub" / "big.tif";
    const ProgramRun run = RunProgram(tmp.path(), {MAKE_BIG_TIFF_PATH, out.string(), "301x203"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind(out.string() + ": 301 x 203 pixels, RGB, 8 bits per sample, LZW, ", 0),
              0u)
        << run.out;

    TiffFacts f;
    Picture pic;
    ASSERT_TRUE(ReadTiff(out, f, &pic));
    EXPECT_EQ(f.width, 301u);
    EXPECT_EQ(f.height, 203u);
    EXPECT_EQ(f.samples, 3);
    EXPECT_EQ(f.bits, 8);
    EXPECT_EQ(f.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(f.compression, COMPRESSION_LZW);
    EXPECT_EQ(f.rowsPerStrip, 64u);
    EXPECT_FLOAT_EQ(f.xres, 300.0f);
    // Red runs across, green down; every row reached the file in its place.
    int wrong = 0;
    for (int y = 0; y < pic.height; ++y) {
        for (int x = 0; x < pic.width; ++x) {
            const Rgb p = pic.At(x, y);
            wrong += p.r != 255 * x / 300 || p.g != 255 * y / 202 || p.b < 64;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(MakeBigTiff, RefusesBadSizesAndPaths)
{
    dibtest::TempDir tmp;
    const fs::path out = tmp.path() / "big.tif";
    struct Case {
        const char* path;
        const char* size;
        int exitCode;
    } cases[] = {
        {out.c_str(), "0x10", 2},     {out.c_str(), "10", 2},
        {out.c_str(), "10x", 2},      {out.c_str(), "x10", 2},
        {out.c_str(), "10x10x10", 2}, {out.c_str(), "100001x1", 2},
        {out.c_str(), "-5x10", 2},    {"/proc/self/no/such/big.tif", "8x8", 1},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunProgram(tmp.path(), {MAKE_BIG_TIFF_PATH, c.path, c.size});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.size << "\n" << run.err;
        EXPECT_FALSE(fs::exists(out)) << c.size;
    }
}

// ---- make demo -------------------------------------------------------------------------------

std::uint32_t Be32(const std::string& s, std::size_t at)
{
    return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint8_t(s[at + 3]);
}

TEST(Demo, RunsOnTheSamplesAndListsWhatItWrote)
{
    dibtest::TempDir tmp;
    // The demo drives the file commands of dibtool; a tool built without them cannot run it.
    const ProgramRun help = RunProgram(tmp.path(), {DIBTOOL_PATH, "--help"});
    for (const char* command : {"info", "convert", "preview", "icc"})
        if (help.out.find(std::string("\n  ") + command + " ") == std::string::npos)
            GTEST_SKIP() << "dibtool has no '" << command << "' command";
    const fs::path out = tmp.path() / "out";
    const ProgramRun run =
        RunProgram(tmp.path(), {"bash", (kSource / "scripts" / "demo.sh").string(), DIB_BUILD_DIR},
                   {"DIB_DEMO_OUT=" + out.string(), "DIB_DEMO_BIG=640x480"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("$ dibtool info samples/photo.jpg\n"), std::string::npos);

    // Previews fill their box whatever the picture's shape.
    struct Expected {
        const char* file;
        int width, height; // 0: not fixed
    } expected[] = {
        {"previews/photo.png", 160, 120},     {"previews/cmyk-lzw.png", 160, 120},
        {"previews/deep16.png", 160, 120},    {"previews/icc.png", 160, 120},
        {"previews/rgba.png", 160, 120},      {"previews/palette.png", 160, 120},
        {"previews/layers.png", 160, 120},    {"previews/picture.png", 160, 120},
        {"previews/big.png", 400, 400},       {"previews/photo-12kb.png", 0, 0},
        {"converted/cmyk-lzw.png", 256, 192}, {"converted/layers.png", 256, 192},
    };
    const std::size_t listing = run.out.rfind("== written under");
    ASSERT_NE(listing, std::string::npos);
    for (const Expected& e : expected) {
        Picture pic;
        ASSERT_TRUE(ReadPng(out / e.file, pic)) << e.file;
        if (e.width) {
            EXPECT_EQ(pic.width, e.width) << e.file;
            EXPECT_EQ(pic.height, e.height) << e.file;
        }
        EXPECT_NE(run.out.find(std::string("  ") + e.file + "\n", listing), std::string::npos)
            << e.file << " is not in the listing";
    }

    // The conversions show the scene's colours: the CMYK plates and the Photoshop composite
    // (a half-transparent red band over the sky) rendered for the screen.
    for (const char* file : {"converted/cmyk-lzw.png", "converted/layers.png"}) {
        Picture pic;
        ASSERT_TRUE(ReadPng(out / file, pic));
        EXPECT_TRUE(Near(SunOf(pic), kSun, 40)) << file;
    }
    Picture layers;
    ASSERT_TRUE(ReadPng(out / "converted/layers.png", layers));
    EXPECT_TRUE(Near(layers.At(int(kSkyX * 256), int(kSkyY * 192)), {160, 84, 106}, 16));

    // The profile comes out whole: its header states its own length and signature.
    const std::string icc = Slurp(out / "converted/icc.icc");
    ASSERT_GE(icc.size(), 128u);
    EXPECT_EQ(Be32(icc, 0), icc.size());
    EXPECT_EQ(icc.substr(36, 4), "acsp");

    TiffFacts big;
    ASSERT_TRUE(ReadTiff(out / "big.tif", big));
    EXPECT_EQ(big.width, 640u);
    EXPECT_EQ(big.height, 480u);
}

} // namespace
