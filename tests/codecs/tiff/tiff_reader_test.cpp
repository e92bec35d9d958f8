// The TIFF reader against files made by other tools (tests/data/tiff/make_fixtures.sh) and the
// samples tifffile decodes from them, against byte-literal hostile files, and through the
// consumer protocol.
#include "support/fakes.h"
#include "support/support.h"

#include <base/word2byte.h>
#include <codecs/tiff/tiff_codec.h>
#include <codecs/tiff/tiff_layouts_internal.h>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using dib::TiffReaderAccess;
using dibtest::FakeConsumer;

const std::string kDir = DIB_TIFF_DATA_DIR;

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

std::wstring Fixture(const std::string& name)
{
    return Wide(kDir + name);
}

// tifffile's samples of a fixture (little-endian words for 16-bit files).
Bytes Samples(const std::string& name)
{
    return ReadAll(kDir + name.substr(0, name.size() - 4) + ".samples");
}

std::uint16_t Word(const std::uint8_t* p)
{
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

constexpr int W = 7, H = 5;

// What a consumer receives for one pixel, from the file's samples of that pixel.
using PixelRule = std::function<Bytes(const std::uint8_t* file, int samples)>;

Bytes Same(const std::uint8_t* f, int n)
{
    return Bytes(f, f + n);
}
Bytes Bgr(const std::uint8_t* f, int)
{
    return {f[2], f[1], f[0]};
}

struct Case8 {
    const char* file;
    int fileSamples;
    int kept;
    PixelRule rule;
};

class Reader8 : public testing::TestWithParam<Case8> {};

TEST_P(Reader8, DeliversTheFileSamplesConverted)
{
    const Case8& c = GetParam();
    const Bytes s = Samples(c.file);
    const int width = c.file == std::string("rgb8_tiled.tif") ? 37 : W;
    const int height = c.file == std::string("rgb8_tiled.tif") ? 40 : H;
    ASSERT_EQ(s.size(), std::size_t(width) * height * c.fileSamples) << c.file;
    FakeConsumer consumer(64, 8, c.kept, 0);
    consumer.lineBytes = std::size_t(width) * c.kept;
    TDib image;
    ASSERT_EQ(
        TiffReaderAccess::LoadTiff(image, Fixture(c.file).c_str(), 0, &consumer, nullptr, 0, 0, 0),
        1)
        << c.file;
    EXPECT_EQ(image.EsBuit(), 1);
    ASSERT_EQ(consumer.lines.size(), std::size_t(height));
    EXPECT_EQ(consumer.dones, 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* f = &s[(std::size_t(y) * width + x) * c.fileSamples];
            const Bytes want = c.rule(f, c.fileSamples);
            const Bytes got(consumer.lines[y].begin() + x * c.kept,
                            consumer.lines[y].begin() + (x + 1) * c.kept);
            ASSERT_EQ(got, want) << c.file << " pixel " << x << "," << y;
        }
}

Bytes SpotsInverted(const std::uint8_t* f, int)
{
    return {f[0], f[1], f[2], f[3], std::uint8_t(255 - f[4]), std::uint8_t(255 - f[5])};
}

Bytes YCbCr(const std::uint8_t* f, int)
{
    auto clamp = [](double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); };
    const double y = f[0], cb = f[1] - 128.0, cr = f[2] - 128.0;
    return {clamp(y + 1.772 * cb), clamp(y - 0.34414 * cb - 0.71414 * cr), clamp(y + 1.402 * cr)};
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Reader8,
    testing::Values(
        Case8{"grey8.tif", 1, 1, Same}, Case8{"grey8_lzw_pred.tif", 1, 1, Same},
        Case8{"grey8_miniswhite.tif", 1, 1,
              [](const std::uint8_t* f, int) { return Bytes{std::uint8_t(255 - f[0])}; }},
        Case8{"rgb8.tif", 3, 3, Bgr}, Case8{"rgb8_lzw.tif", 3, 3, Bgr},
        Case8{"rgb8_planar.tif", 3, 3, Bgr}, Case8{"rgb8_planar_zip.tif", 3, 3, Bgr},
        Case8{"rgb8_tiled.tif", 3, 3, Bgr}, Case8{"rgb8_icc.tif", 3, 3, Bgr},
        Case8{"cmyk8.tif", 4, 4, Same}, Case8{"cmyk8_noinkset.tif", 4, 4, Same},
        // Interleaved spot channels arrive inverted, separate planes as stored.
        Case8{"cmyk_spots.tif", 6, 6, SpotsInverted},
        Case8{"cmyk_spots_packbits.tif", 6, 6, SpotsInverted},
        Case8{"cmyk_spots_planar.tif", 6, 6, Same},
        // Alpha not wanted: colour as stored (still premultiplied), alpha dropped.
        Case8{"rgba8_assoc.tif", 4, 3, Bgr}, Case8{"rgba8_unassoc.tif", 4, 3, Bgr},
        Case8{"lab8.tif", 3, 3,
              [](const std::uint8_t* f, int) {
                  return Bytes{f[0], std::uint8_t(f[1] + 128), std::uint8_t(f[2] + 128)};
              }},
        Case8{"ycbcr8.tif", 3, 3, YCbCr}, Case8{"palette8.tif", 1, 1, Same}),
    [](const testing::TestParamInfo<Case8>& i) {
        std::string n = i.param.file;
        return n.substr(0, n.size() - 4);
    });

TEST(TiffReader, PackedGreyAndBilevel)
{
    struct {
        const char* file;
        int bits;
        bool complemented; // the consumer sees max - v
    } cases[] = {{"bilevel_miniswhite.tif", 1, true},
                 {"bilevel_minisblack.tif", 1, false},
                 {"grey4.tif", 4, false}};
    for (const auto& c : cases) {
        const Bytes s = Samples(c.file);
        FakeConsumer consumer(8, c.bits, 1, 0);
        consumer.lineBytes = (W * c.bits + 7) / 8;
        TDib image;
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture(c.file).c_str(), 0, &consumer, nullptr,
                                             1, 0, 0),
                  1)
            << c.file;
        ASSERT_EQ(consumer.lines.size(), std::size_t(H));
        const int max = (1 << c.bits) - 1;
        for (int y = 0; y < H; ++y) {
            Bytes stored(consumer.lineBytes);
            image.GetLinia(y, stored.data(), stored.size());
            for (int x = 0; x < W; ++x) {
                const int shift = 8 - c.bits - (x * c.bits) % 8;
                const int got = (consumer.lines[y][x * c.bits / 8] >> shift) & max;
                const int kept = (stored[x * c.bits / 8] >> shift) & max;
                int file = s[y * W + x];
                if (c.bits == 4)
                    file /= 17; // the 8-bit reference of a 4-bit sample
                EXPECT_EQ(got, c.complemented ? max - file : file) << c.file << " " << x;
                // The bitmap keeps the file's own bits.
                EXPECT_EQ(kept, file) << c.file << " " << x;
            }
        }
        // Palette chosen to match: white for 0 in min-is-white files.
        tagRGBQUAD pal[16];
        ASSERT_EQ(image.GetPaleta(pal, nullptr), 1 << c.bits);
        EXPECT_EQ(pal[0].rgbRed, c.complemented ? 255 : 0) << c.file;
        EXPECT_EQ(pal[max].rgbRed, c.complemented ? 0 : 255) << c.file;
    }
}

TEST(TiffReader, AlphaWantedComesAsItsOwnLineAndUnpremultiplied)
{
    for (const char* file : {"rgba8_assoc.tif", "rgba8_unassoc.tif"}) {
        const bool assoc = std::string(file) == "rgba8_assoc.tif";
        const Bytes s = Samples(file);
        FakeConsumer consumer(64, 8, 3, 1);
        consumer.lineBytes = W * 3;
        struct Alpha : FakeConsumer {
            using FakeConsumer::FakeConsumer;
            std::vector<Bytes> alphas;
            int Processar(unsigned char* line, unsigned char* alpha) override
            {
                alphas.emplace_back(alpha, alpha + W);
                return FakeConsumer::Processar(line, alpha);
            }
        } c(64, 8, 3, 1);
        c.lineBytes = W * 3;
        TDib image;
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture(file).c_str(), 0, &c, nullptr, 1, 0, 1),
                  1);
        ASSERT_EQ(c.alphas.size(), std::size_t(H));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const std::uint8_t* f = &s[(y * W + x) * 4];
                const unsigned a = f[3];
                EXPECT_EQ(c.alphas[y][x], a);
                for (int k = 0; k < 3; ++k) {
                    unsigned want = f[2 - k];
                    if (assoc)
                        want = a == 0 ? 0 : std::min(255u, want * 255 / a);
                    EXPECT_EQ(c.lines[y][x * 3 + k], want) << file << " " << x << "," << y;
                }
            }
        EXPECT_EQ(image.GetBitsPerPixel(), 24);
    }
}

TEST(TiffReader, SixteenBitLinesToTheConsumerAndReducedToTheImage)
{
    struct {
        const char* file;
        int samples, kept;
        std::function<std::uint16_t(const std::uint8_t* f, int k)> rule;
    } cases[] = {
        {"rgb16.tif", 3, 3, [](const std::uint8_t* f, int k) { return Word(f + (2 - k) * 2); }},
        {"grey16_miniswhite.tif", 1, 1,
         [](const std::uint8_t* f, int) { return std::uint16_t(65535 - Word(f)); }},
        // Associated alpha of 32768 doubles each sample (floored, held at 65535).
        {"rgba16_assoc.tif", 4, 3, [](const std::uint8_t* f, int k) {
             return std::uint16_t(std::min<std::uint64_t>(
                 65535, std::uint64_t(Word(f + (2 - k) * 2)) * 65535 / 32768));
         }}};
    for (const auto& c : cases) {
        const Bytes s = Samples(c.file);
        FakeConsumer consumer(64, 16, c.kept, 1);
        consumer.lineBytes = W * c.kept * 2;
        TDib image;
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture(c.file).c_str(), 0, &consumer, nullptr,
                                             1, 0, 1),
                  1);
        ASSERT_EQ(image.GetBitsPerPixel(), c.kept * 8) << c.file;
        ASSERT_EQ(consumer.lines.size(), std::size_t(H));
        std::vector<unsigned char> row(std::size_t(image.GetBytesPerLinia()));
        for (int y = 0; y < H; ++y) {
            ASSERT_EQ(image.GetLinia(y, row.data(), row.size()), 0);
            for (int x = 0; x < W; ++x)
                for (int k = 0; k < c.kept; ++k) {
                    const std::uint16_t want = c.rule(&s[(y * W + x) * c.samples * 2], k);
                    ASSERT_EQ(Word(&consumer.lines[y][(x * c.kept + k) * 2]), want)
                        << c.file << " " << x << "," << y << " sample " << k;
                    ASSERT_EQ(row[std::size_t(x * c.kept + k)], g_word2byte[want])
                        << c.file << " image " << x << "," << y << " sample " << k;
                }
        }
    }
    // Neither consumer nor image: success, nothing read.
    TDib image;
    EXPECT_EQ(TiffReaderAccess::LoadTiff(image, Fixture("rgb16.tif").c_str(), 0, nullptr, nullptr,
                                         0, 0, 1),
              1);
    EXPECT_EQ(image.EsBuit(), 1);
}

TEST(TiffReader, IntoImageRowsPaletteAndCmyk)
{
    TDib image;
    FakeConsumer consumer(64, 8, 3, 0);
    consumer.lineBytes = W * 3;
    ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture("rgb8_lzw.tif").c_str(), 0, &consumer,
                                         nullptr, 1, 0, 1),
              1);
    ASSERT_EQ(image.GetMidaX(), W);
    ASSERT_EQ(image.GetMidaY(), H);
    ASSERT_EQ(image.GetBitsPerPixel(), 24);
    for (int y = 0; y < H; ++y) {
        Bytes row(W * 3);
        ASSERT_EQ(image.GetLinia(y, row.data(), row.size()), 0);
        EXPECT_EQ(row, consumer.lines[y]);
    }

    // Palette: indices kept, ColorMap's high bytes as the bitmap palette.
    ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture("palette8.tif").c_str(), 0, nullptr,
                                         nullptr, 1, 0, 1),
              1);
    ASSERT_EQ(image.GetBitsPerPixel(), 8);
    tagRGBQUAD pal[256];
    ASSERT_EQ(image.GetPaleta(pal, nullptr), 256);
    for (int i : {0, 1, 100, 255}) {
        EXPECT_EQ(pal[i].rgbRed, (i * 3) % 256);
        EXPECT_EQ(pal[i].rgbGreen, (i * 3 + 40) % 256);
        EXPECT_EQ(pal[i].rgbBlue, (i * 3 + 80) % 256);
    }

    // 8-bit grey: min-is-black values under a grey ramp.
    const Bytes g = Samples("grey8_miniswhite.tif");
    ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture("grey8_miniswhite.tif").c_str(), 0, nullptr,
                                         nullptr, 1, 0, 1),
              1);
    const unsigned long colour = image.GetPixel(3, 2);
    const unsigned grey = 255 - g[2 * W + 3];
    EXPECT_EQ(colour, grey | grey << 8 | grey << 16);

    // CMYK adapted to blue, green, red, 0.
    const Bytes k = Samples("cmyk8.tif");
    ASSERT_EQ(TiffReaderAccess::LoadTiff(image, Fixture("cmyk8.tif").c_str(), 0, nullptr, nullptr,
                                         1, 1, 1),
              1);
    ASSERT_EQ(image.GetBitsPerPixel(), 32);
    Bytes row(W * 4);
    image.GetLinia(1, row.data(), row.size());
    const std::uint8_t* f = &k[(1 * W + 2) * 4];
    auto sub = [](int a, int b, int c) { return std::uint8_t(std::max(0, a - b - c)); };
    EXPECT_EQ(row[2 * 4 + 0], sub(255, f[2], f[3]));
    EXPECT_EQ(row[2 * 4 + 1], sub(255, f[1], f[3]));
    EXPECT_EQ(row[2 * 4 + 2], sub(255, f[0], f[3]));
    EXPECT_EQ(row[2 * 4 + 3], 0);
}

TEST(TiffReader, ConsumerProtocol)
{
    const std::wstring path = Fixture("rgb8.tif");
    TDib image;
    {
        // First line from Init's result; the left edge moves every line.
        struct Shifted : FakeConsumer {
            using FakeConsumer::FakeConsumer;
            int Init(int w, int h, CRect& r) override
            {
                FakeConsumer::Init(w, h, r);
                r.left = 3;
                return 2;
            }
        } c;
        c.lineBytes = 3;
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, path.c_str(), 0, &c, nullptr, 0, 0, 0), 1);
        EXPECT_EQ(c.width, W);
        EXPECT_EQ(c.region.right, W - 1);
        EXPECT_EQ(c.region.bottom, H - 1);
        ASSERT_EQ(c.lines.size(), std::size_t(H - 2));
        const Bytes s = Samples("rgb8.tif");
        EXPECT_EQ(c.lines[0], Bgr(&s[(2 * W + 3) * 3], 3));
        EXPECT_EQ(c.dones, 1);
    }
    {
        FakeConsumer refuses;
        refuses.initResult = -4;
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, path.c_str(), 0, &refuses, nullptr, 1, 0, 0),
                  1);
        EXPECT_TRUE(refuses.lines.empty());
        EXPECT_EQ(refuses.dones, 0);
        EXPECT_EQ(image.GetMidaX(), W) << "the bitmap is still made, unfilled";
    }
    {
        FakeConsumer stops;
        stops.stopAfter = 1;
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, path.c_str(), 0, &stops, nullptr, 0, 0, 0), 1);
        EXPECT_EQ(stops.lines.size(), 1u);
        EXPECT_EQ(stops.dones, 1);
    }
    {
        FakeConsumer c;
        dibtest::FakeProgress progress(1);
        ASSERT_EQ(TiffReaderAccess::LoadTiff(image, path.c_str(), 0, &c, &progress, 1, 0, 0), -100);
        EXPECT_EQ(c.lines.size(), 2u);
        EXPECT_EQ(c.dones, 0);
        EXPECT_EQ(progress.opened.size(), 2u);
        EXPECT_EQ(progress.closed, 2);
    }
}

// A little-endian TIFF of one strip, built from its entries. Each entry is (tag, type, count,
// value); values of up to four bytes only.
Bytes MakeTiff(std::vector<std::array<std::uint32_t, 4>> entries, const Bytes& pixels)
{
    Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](std::uint32_t v) {
        out.push_back(std::uint8_t(v));
        out.push_back(std::uint8_t(v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    const std::uint32_t dataOffset = 8 + 2 + 12 * std::uint32_t(entries.size() + 2) + 4;
    entries.push_back({273, 4, 1, dataOffset});
    entries.push_back({279, 4, 1, std::uint32_t(pixels.size())});
    std::sort(entries.begin(), entries.end());
    u16(std::uint32_t(entries.size()));
    for (const auto& e : entries) {
        u16(e[0]);
        u16(e[1]);
        u32(e[2]);
        if (e[1] == 3) {
            u16(e[3]);
            u16(0);
        } else {
            u32(e[3]);
        }
    }
    u32(0);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

TEST(TiffReader, HostileAndDamagedFilesFailCleanly)
{
    const Bytes rgb = ReadAll(kDir + "rgb8_lzw.tif");
    const Bytes plain = ReadAll(kDir + "rgb8_big.tif");
    struct {
        const char* what;
        Bytes data;
        int status;
    } cases[] = {
        {"not a TIFF", Bytes{'n', 'o', 't', ' ', 'a', ' ', 't', 'i', 'f', 'f'}, -6},
        {"empty", Bytes{}, -6},
        // Strips past the end of the data: the first row that is missing fails the read.
        {"uncompressed cut in half", Bytes(plain.begin(), plain.begin() + plain.size() / 2), -7},
        // Width 2^31 - 1 with 8 samples of 8 bits on a 12-byte strip.
        {"huge line",
         MakeTiff({{256, 4, 1, 0x7FFFFFFF},
                   {257, 4, 1, 1},
                   {258, 3, 1, 8},
                   {262, 3, 1, 1},
                   {277, 3, 1, 8}},
                  Bytes(12)),
         -16},
        // 60000 x 60000 grey from 16 bytes: far more than the file could hold.
        {"huge image",
         MakeTiff({{256, 4, 1, 60000}, {257, 4, 1, 60000}, {258, 3, 1, 8}, {262, 3, 1, 1}},
                  Bytes(16)),
         -16},
        {"float samples",
         MakeTiff({{256, 4, 1, 2}, {257, 4, 1, 1}, {258, 3, 1, 32}, {262, 3, 1, 1}, {339, 3, 1, 3}},
                  Bytes(8)),
         -16},
        {"RGB with one sample",
         MakeTiff({{256, 4, 1, 2}, {257, 4, 1, 1}, {258, 3, 1, 8}, {262, 3, 1, 2}}, Bytes(2)), -16},
    };
    for (const auto& c : cases) {
        for (int into : {0, 1}) {
            TDib image;
            FakeConsumer consumer;
            testing::internal::CaptureStderr();
            testing::internal::CaptureStdout();
            const int r = TiffReaderAccess::LoadTiffMemory(image, c.data.data(), 0, c.data.size());
            codec_tiff::LoadRequest q;
            q.processor = &consumer;
            q.image = into ? &image : nullptr;
            auto source = core::MemorySource(c.data.data(), c.data.size());
            const int r2 = codec_tiff::LoadTiff(*source, q);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.what;
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.what;
            EXPECT_EQ(r, c.data.empty() ? -6 : c.status) << c.what;
            EXPECT_EQ(r2, c.status) << c.what;
            EXPECT_EQ(consumer.dones, 0) << c.what;
        }
    }
    // Damaged LZW codes: a failure, never the stale buffer delivered as a line. (The fixture
    // holds its strip at byte 8 and its directory after it.)
    Bytes damaged = rgb;
    std::fill(damaged.begin() + 12, damaged.begin() + 100, 0xFF);
    FakeConsumer consumer;
    codec_tiff::LoadRequest q;
    q.processor = &consumer;
    auto source = core::MemorySource(damaged.data(), damaged.size());
    EXPECT_EQ(codec_tiff::LoadTiff(*source, q), -7);
    EXPECT_EQ(consumer.dones, 0);
    // The directory cut off.
    TDib cut;
    EXPECT_EQ(TiffReaderAccess::LoadTiffMemory(cut, rgb.data(), 0, 100), -6);
    TDib image;
    EXPECT_EQ(
        TiffReaderAccess::LoadTiff(image, L"/nonexistent/x.tif", 0, nullptr, nullptr, 1, 0, 0), -6);
}

TEST(TiffReader, IndexedExpandsThePalette)
{
    TDib image;
    FakeConsumer c(64, 8, 3, 0);
    c.lineBytes = W * 3;
    ASSERT_EQ(TiffReaderAccess::LoadIndexedTiff(image, Fixture("palette8.tif").c_str(), 24, &c,
                                                nullptr, 1),
              1);
    const Bytes s = Samples("palette8.tif");
    ASSERT_EQ(c.lines.size(), std::size_t(H));
    for (int x = 0; x < W; ++x) {
        const int i = s[W + x];
        EXPECT_EQ(c.lines[1][x * 3 + 0], (i * 3 + 80) % 256);
        EXPECT_EQ(c.lines[1][x * 3 + 1], (i * 3 + 40) % 256);
        EXPECT_EQ(c.lines[1][x * 3 + 2], (i * 3) % 256);
    }
    EXPECT_EQ(image.GetBitsPerPixel(), 24);
    EXPECT_EQ(c.dones, 1);
    // Wrong requests, without reading (the path does not even exist).
    EXPECT_EQ(TiffReaderAccess::LoadIndexedTiff(image, L"/nonexistent", 8, nullptr, nullptr, 1),
              -16);
    EXPECT_EQ(TiffReaderAccess::LoadIndexedTiff(image, Fixture("rgb8.tif").c_str(), 24, nullptr,
                                                nullptr, 1),
              -16);
}

TEST(TiffReader, InfoFromTheHeader)
{
    struct {
        const char* file;
        int result;
        std::uint32_t colourSpace;
        int alpha;
        int bitsPerPixel;
    } cases[] = {
        {"tiled_cmyk.tif", 0, DIB_CS_CMYK, -1, 32},
        {"rgb8_tiled.tif", 1, DIB_CS_RGB, -1, 24},
        {"rgb8_planar.tif", 1, DIB_CS_RGB, -1, 24},
        {"rgb8_planar_zip.tif", 0, DIB_CS_RGB, -1, 24},
        {"grey4.tif", 1, DIB_CS_MONO, -1, 4},
        {"grey8.tif", 1, DIB_CS_GREY, -1, 8},
        {"bilevel_miniswhite.tif", 1, DIB_CS_MONO, -1, 1},
        {"rgba8_assoc.tif", 1, DIB_CS_RGB, 3, 32},
        {"cmyk_spots.tif", 1, DIB_CS_CMYK, -1, 48},
        {"cmyk8_noinkset.tif", 1, DIB_CS_CMYK, -1, 32},
        {"lab8.tif", 1, DIB_CS_LAB, -1, 24},
        {"palette8.tif", 1, DIB_CS_RGB, -1, 24},
        {"ycbcr8.tif", 1, DIB_CS_RGB, -1, 24},
    };
    for (const auto& c : cases) {
        CFILEINFO info;
        ASSERT_EQ(TiffReaderAccess::InfoTiff(Fixture(c.file).c_str(), info), c.result) << c.file;
        EXPECT_EQ(info.ColorSpace, c.colourSpace) << c.file;
        EXPECT_EQ(info.AlphaChannel, c.alpha) << c.file;
        EXPECT_EQ(info.BitsPerPixel, c.bitsPerPixel) << c.file;
        EXPECT_EQ(info.ViewPerspective, 1);
    }
    CFILEINFO info;
    ASSERT_EQ(TiffReaderAccess::InfoTiff(Fixture("palette8.tif").c_str(), info), 1);
    EXPECT_EQ(info.Indexed, 1);
    EXPECT_EQ(info.Channels, 3u);
    EXPECT_EQ(info.Format, 3);
    ASSERT_EQ(TiffReaderAccess::InfoTiff(Fixture("lab8.tif").c_str(), info), 1);
    EXPECT_EQ(info.Format, 3);
    info.Reset();
    ASSERT_EQ(TiffReaderAccess::InfoTiff(Fixture("cmyk8.tif").c_str(), info), 1);
    EXPECT_EQ(info.Format, 85);
    EXPECT_EQ(TiffReaderAccess::InfoTiff(Fixture("rgb8_tiled.tif").c_str(), info), 1);
    EXPECT_EQ(info.Tiled, 1);
    ASSERT_EQ(TiffReaderAccess::InfoTiff(Fixture("grey8.tif").c_str(), info), 1);
    EXPECT_DOUBLE_EQ(info.XResolution, 300.0);
    ASSERT_EQ(TiffReaderAccess::InfoTiff(Fixture("res_cm.tif").c_str(), info), 1);
    EXPECT_DOUBLE_EQ(info.XResolution, 762.0);
    EXPECT_EQ(TiffReaderAccess::InfoTiff(L"/nonexistent.tif", info), -10);

    // Centimetres without an XResolution tag: 0 across, the tag's value down.
    const Bytes cm = MakeTiff(
        {{256, 4, 1, 1}, {257, 4, 1, 1}, {258, 3, 1, 8}, {262, 3, 1, 1}, {296, 3, 1, 3}}, Bytes(1));
    dibtest::TempDir dir;
    const std::string path = (dir.path() / "cm.tif").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(cm.data()), cm.size());
    info.Reset();
    ASSERT_EQ(TiffReaderAccess::InfoTiff(Wide(path).c_str(), info), 1);
    EXPECT_EQ(info.XResolution, 0.0);
}

TEST(TiffLayouts, AlphaIndexZeroKeepsTheSample)
{
    // Every sample extra and the first one alpha: nothing is split off.
    codec_tiff::TiffLayout l;
    l.width = 2;
    l.samples = 2;
    l.bits = 8;
    l.kept = 2;
    l.colourCount = 0;
    l.alphaIndex = -1;
    l.photometric = PHOTOMETRIC_MINISBLACK;
    const std::uint8_t in[] = {1, 2, 3, 4};
    std::uint8_t line[4] = {};
    codec_tiff::SplitInterleaved8(l, in, line, nullptr);
    EXPECT_EQ(Bytes(line, line + 4), (Bytes{1, 2, 3, 4}));
}

TEST(TiffLayouts, CielabSixteenHoldsTheTopOfTheRange)
{
    codec_tiff::TiffLayout l;
    l.width = 1;
    l.samples = l.kept = l.colourCount = 3;
    l.bits = 16;
    l.photometric = PHOTOMETRIC_CIELAB;
    std::uint16_t line[3] = {100, 32767, std::uint16_t(-32768)};
    codec_tiff::ConvertLine16(l, line, nullptr);
    EXPECT_EQ(line[0], 100);
    EXPECT_EQ(line[1], 65535);
    EXPECT_EQ(line[2], 0);
}

} // namespace
