// The JPEG, generic TIFF and Photo CD codecs, driven directly through their Codec records and
// checked against fixtures made by independent tools (tests/data/formats_b/make_fixtures.py,
// tests/data/jpeg/make_fixtures.py).
#include <algorithm>
#include <core/byte_source.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <raster/formats/codecs_b.h>
#include <sstream>
#include <string>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadData(const std::string& relative)
{
    std::ifstream f(std::string(DIB_TEST_DATA_DIR) + "/" + relative, std::ios::binary);
    EXPECT_TRUE(f.good()) << relative;
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Pixels of a binary PNM (P5 or P6) without its header.
Bytes PnmPixels(const Bytes& pnm, int& width, int& height, int& channels)
{
    std::string head(pnm.begin(), pnm.begin() + std::min<std::size_t>(pnm.size(), 64));
    std::istringstream in(head);
    std::string magic;
    int maxval = 0;
    in >> magic >> width >> height >> maxval;
    channels = magic == "P6" ? 3 : 1;
    const std::size_t at = std::size_t(in.tellg()) + 1;
    return Bytes(pnm.begin() + long(at), pnm.end());
}

// Collects everything a reader delivers.
struct Sink : rkfmt::RowSink {
    rkfmt::PictureShape shape;
    Bytes pixels; // rows packed at their line size, top first
    std::size_t rowBytes = 0;
    int begins = 0;
    int rows = 0;
    int stopAfter = -1; // answer RK_ERROR_CANCELLED once this many rows arrived

    int Begin(const rkfmt::PictureShape& s) override
    {
        ++begins;
        shape = s;
        rowBytes = std::size_t(s.width) * std::size_t(s.bitsPerPixel) / 8;
        return RK_SUCCESS;
    }
    int Rows(const std::uint8_t* data, int count, std::size_t stride) override
    {
        for (int i = 0; i < count; ++i)
            pixels.insert(pixels.end(), data + std::size_t(i) * stride,
                          data + std::size_t(i) * stride + rowBytes);
        rows += count;
        if (stopAfter >= 0 && rows >= stopAfter)
            return RK_ERROR_CANCELLED;
        return RK_SUCCESS;
    }
    const std::uint8_t* At(int x, int y) const
    {
        return pixels.data() + std::size_t(y) * rowBytes +
               std::size_t(x) * std::size_t(shape.bitsPerPixel / 8);
    }
};

// Rows from a packed buffer; can refuse at a given row.
struct Source : rkfmt::RowSource {
    const Bytes& data;
    std::size_t rowBytes;
    int refuseAt = -1;
    Source(const Bytes& d, std::size_t r) : data(d), rowBytes(r) {}
    int Rows(std::uint8_t* into, int first, int count, std::size_t stride) override
    {
        if (refuseAt >= 0 && first + count > refuseAt)
            return RK_ERROR_CANCELLED;
        for (int i = 0; i < count; ++i)
            std::memcpy(into + std::size_t(i) * stride,
                        data.data() + std::size_t(first + i) * rowBytes, rowBytes);
        return RK_SUCCESS;
    }
};

int Info(const rkfmt::Codec& codec, const Bytes& data, _FILEINFO& info)
{
    std::memset(&info, 0, sizeof info);
    info.uStructSize = FILEINFO_SIZE;
    auto source = core::MemorySource(data.data(), data.size());
    return codec.info(*source, info);
}

int Load(const rkfmt::Codec& codec, const Bytes& data, Sink& sink)
{
    auto source = core::MemorySource(data.data(), data.size());
    return codec.load(*source, sink);
}

std::string Text(const char16_t* t)
{
    std::string s;
    for (; *t; ++t)
        s += char(*t);
    return s;
}

// Runs a save into an unnamed file and returns its bytes.
int Save(const rkfmt::Codec& codec, const rkfmt::SaveRequest& request, rkfmt::RowSource& rows,
         Bytes& out)
{
    FILE* f = std::tmpfile();
    if (!f)
        return -1000;
    const int r = codec.save(request, rows, fileno(f));
    const off_t end = lseek(fileno(f), 0, SEEK_END);
    out.resize(std::size_t(std::max<off_t>(end, 0)));
    if (!out.empty()) {
        EXPECT_EQ(pread(fileno(f), out.data(), out.size(), 0), ssize_t(out.size()));
    }
    std::fclose(f);
    return r;
}

// The 37 x 29 source pattern as B, G, R rows.
Bytes PatternBgr()
{
    Bytes rgb = ReadData("formats_b/pattern.rgb");
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        std::swap(rgb[i], rgb[i + 2]);
    return rgb;
}

int MaxDiff(const Bytes& a, const Bytes& b)
{
    int worst = a.size() == b.size() ? 0 : 1000;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

// ---- JPEG ---------------------------------------------------------------------------------------

TEST(JpegCodec, ProbeAcceptsJpegStreamsOnly)
{
    const std::uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
    const std::uint8_t text[] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(kJpegCodec.probe(jpeg, sizeof jpeg, sizeof jpeg), RK_FORMAT_JPEG);
    EXPECT_EQ(kJpegCodec.probe(text, sizeof text, sizeof text), 0);
    EXPECT_EQ(kJpegCodec.probe(jpeg, 2, 2), 0);
}

TEST(JpegCodec, InfoByFile)
{
    struct Case {
        const char* file;
        int format, bits, xres, yres, model;
        const char* compression;
    } cases[] = {
        {"jpeg/grey.jpg", RK_FORMAT_JPEG, 8, 0, 0, RK_COLOUR_MODEL_RGB, "JPEG"},
        {"jpeg/rgb420.jpg", RK_FORMAT_JPEG_411, 24, 0, 0, RK_COLOUR_MODEL_RGB, "JPEG"},
        {"formats_b/rgb422.jpg", RK_FORMAT_JPEG_422, 24, 0, 0, RK_COLOUR_MODEL_RGB, "JPEG"},
        {"jpeg/rgb444-dpi.jpg", RK_FORMAT_JPEG, 24, 300, 150, RK_COLOUR_MODEL_RGB, "JPEG"},
        {"jpeg/rgb-dpcm.jpg", RK_FORMAT_JPEG, 24, 254, 127, RK_COLOUR_MODEL_RGB, "JPEG"},
        {"jpeg/progressive.jpg", RK_FORMAT_JPEG_411, 24, 0, 0, RK_COLOUR_MODEL_RGB,
         "Progressive JPEG"},
        {"formats_b/arith.jpg", RK_FORMAT_JPEG_411, 24, 0, 0, RK_COLOUR_MODEL_RGB,
         "Arithmetic JPEG"},
        {"jpeg/cmyk-im.jpg", RK_FORMAT_JPEG, 32, 0, 0, RK_COLOUR_MODEL_CMYK, "JPEG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        _FILEINFO info;
        ASSERT_EQ(Info(kJpegCodec, ReadData(c.file), info), RK_SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        EXPECT_EQ(info.Width, 37);
        EXPECT_EQ(info.Height, 29);
        EXPECT_EQ(info.BitsPerPixel, c.bits);
        EXPECT_EQ(info.XResolution, c.xres);
        EXPECT_EQ(info.YResolution, c.yres);
        EXPECT_EQ(info.ColourModel, c.model);
        EXPECT_EQ(Text(info.Compression), c.compression);
    }
}

TEST(JpegCodec, LoadMatchesAnIndependentDecoder)
{
    struct Case {
        const char* file;
        const char* expected; // PNM, or raw C, M, Y, K bytes
    } cases[] = {
        {"jpeg/grey.jpg", "jpeg/grey.pgm"},
        {"jpeg/rgb420.jpg", "jpeg/rgb420.ppm"},
        {"formats_b/rgb422.jpg", "formats_b/rgb422.ppm"},
        {"jpeg/progressive.jpg", "jpeg/progressive.ppm"},
        {"formats_b/arith.jpg", "formats_b/arith.ppm"},
        {"jpeg/rgb444-dpi.jpg", "jpeg/rgb444-dpi.ppm"},
        {"jpeg/cmyk-im.jpg", "jpeg/cmyk-im.cmyk"},
        {"jpeg/cmyk-pil.jpg", "jpeg/cmyk-pil.cmyk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Sink sink;
        ASSERT_EQ(Load(kJpegCodec, ReadData(c.file), sink), RK_SUCCESS);
        EXPECT_EQ(sink.begins, 1);
        EXPECT_EQ(sink.rows, 29);
        Bytes want = ReadData(c.expected);
        if (std::string(c.expected).find(".cmyk") == std::string::npos) {
            int w, h, channels;
            want = PnmPixels(want, w, h, channels);
            EXPECT_EQ(sink.shape.bitsPerPixel, channels * 8);
            if (channels == 3)
                for (std::size_t i = 0; i + 2 < want.size(); i += 3)
                    std::swap(want[i], want[i + 2]);
            else {
                ASSERT_EQ(sink.shape.palette.size(), 256u);
                EXPECT_EQ(sink.shape.palette[200].rgbGreen, 200);
            }
        } else {
            EXPECT_EQ(sink.shape.bitsPerPixel, 32);
        }
        EXPECT_EQ(sink.pixels, want);
    }
}

TEST(JpegCodec, DamagedDataIsAFailure)
{
    for (const char* file : {"jpeg/rgb420.jpg", "jpeg/progressive.jpg", "formats_b/arith.jpg"}) {
        SCOPED_TRACE(file);
        const Bytes whole = ReadData(file);
        for (std::size_t cut :
             {whole.size() / 2, whole.size() - 10, std::size_t(120), std::size_t(3)}) {
            Bytes part(whole.begin(), whole.begin() + long(cut));
            Sink sink;
            _FILEINFO info;
            const int r = Load(kJpegCodec, part, sink);
            EXPECT_TRUE(r == RK_ERROR_FILE_CORRUPT || r == RK_ERROR_FORMAT_UNSUPPORTED)
                << "cut at " << cut << ": " << r;
            if (cut < 150) {
                EXPECT_LE(Info(kJpegCodec, part, info), 0);
            }
        }
    }
}

TEST(JpegCodec, HugeClaimsInTinyFilesAreRefused)
{
    // A progressive frame of 65000 x 65000 with one scan of nothing: the coefficient store
    // would need gigabytes.
    const Bytes data = {0xFF, 0xD8, // SOI
                        0xFF, 0xC2, 0x00, 0x11, 0x08, 0xFD, 0xE8, 0xFD, 0xE8,
                        0x03,                                                 // SOF2 65000 x 65000
                        0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00, // three components
                        0xFF, 0xD9};
    Sink sink;
    EXPECT_LE(Load(kJpegCodec, data, sink), 0);
    EXPECT_EQ(sink.rows, 0);
}

TEST(JpegCodec, CancelledBySinkStops)
{
    Sink sink;
    sink.stopAfter = 1;
    EXPECT_EQ(Load(kJpegCodec, ReadData("jpeg/rgb420.jpg"), sink), RK_ERROR_CANCELLED);
    EXPECT_LT(sink.rows, 29);
}

rkfmt::SaveRequest Request(int format, int bits, int quality = 0)
{
    rkfmt::SaveRequest r;
    r.format = format;
    r.width = 37;
    r.height = 29;
    r.bitsPerPixel = bits;
    r.quality = quality;
    return r;
}

TEST(JpegCodec, SavesEachSamplingAndReadsBack)
{
    const Bytes bgr = PatternBgr();
    for (int format : {RK_FORMAT_JPEG, RK_FORMAT_JPEG_411, RK_FORMAT_JPEG_422}) {
        SCOPED_TRACE(format);
        rkfmt::SaveRequest request = Request(format, 24, 2);
        request.xResolution = 300;
        request.yResolution = 200;
        Source rows(bgr, 37 * 3);
        Bytes file;
        ASSERT_EQ(Save(kJpegCodec, request, rows, file), RK_SUCCESS);
        _FILEINFO info;
        ASSERT_EQ(Info(kJpegCodec, file, info), RK_SUCCESS);
        EXPECT_EQ(info.Format, format);
        EXPECT_EQ(info.XResolution, 300);
        EXPECT_EQ(info.YResolution, 200);
        Sink sink;
        ASSERT_EQ(Load(kJpegCodec, file, sink), RK_SUCCESS);
        if (format == RK_FORMAT_JPEG) {
            EXPECT_LE(MaxDiff(sink.pixels, bgr), 4);
        }
    }
}

TEST(JpegCodec, QualityFactorRunsFromBestToSmallest)
{
    const Bytes bgr = PatternBgr();
    std::size_t sizes[3];
    const int factors[3] = {2, 0, 255};
    for (int i = 0; i < 3; ++i) {
        Source rows(bgr, 37 * 3);
        Bytes file;
        ASSERT_EQ(Save(kJpegCodec, Request(RK_FORMAT_JPEG, 24, factors[i]), rows, file),
                  RK_SUCCESS);
        sizes[i] = file.size();
    }
    EXPECT_GT(sizes[0], sizes[1]);
    EXPECT_GT(sizes[1], sizes[2]);
}

TEST(JpegCodec, SavesGreyAndExpandsColourPalettes)
{
    Bytes indexes(37 * 29);
    for (std::size_t i = 0; i < indexes.size(); ++i)
        indexes[i] = std::uint8_t(i % 4);
    struct Case {
        std::vector<tagRGBQUAD> palette;
        int bits;
    } cases[] = {
        {{{0, 0, 0, 0}, {85, 85, 85, 0}, {170, 170, 170, 0}, {255, 255, 255, 0}}, 8},
        {{{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {255, 255, 255, 0}}, 24},
    };
    for (const Case& c : cases) {
        rkfmt::SaveRequest request = Request(RK_FORMAT_JPEG, 8, 2);
        request.palette = c.palette;
        Source rows(indexes, 37);
        Bytes file;
        ASSERT_EQ(Save(kJpegCodec, request, rows, file), RK_SUCCESS);
        Sink sink;
        ASSERT_EQ(Load(kJpegCodec, file, sink), RK_SUCCESS);
        ASSERT_EQ(sink.shape.bitsPerPixel, c.bits);
        // A flat area away from edges keeps its colour.
        const std::uint8_t* p = sink.At(0, 0);
        EXPECT_NEAR(p[0], c.palette[0].rgbBlue, 40);
    }
}

TEST(JpegCodec, SaveRefusesDepthsAndStopsWhenTheSourceDoes)
{
    const Bytes bgr = PatternBgr();
    Source rows(bgr, 37 * 3);
    Bytes file;
    EXPECT_EQ(Save(kJpegCodec, Request(RK_FORMAT_JPEG, 32), rows, file), RK_ERROR_BITSPERPIXEL);
    rows.refuseAt = 20;
    EXPECT_EQ(Save(kJpegCodec, Request(RK_FORMAT_JPEG, 24), rows, file), RK_ERROR_CANCELLED);
}

// ---- TIFF
// -----------------------------------------------------------------------------------------

TEST(TiffCodec, ProbeAcceptsClassicAndBigTiff)
{
    const std::uint8_t ii[] = {'I', 'I', 42, 0}, mm[] = {'M', 'M', 0, 42},
                       big[] = {'I', 'I', 43, 0}, other[] = {'I', 'I', 44, 0};
    EXPECT_EQ(kTiffCodec.probe(ii, 4, 4), RK_FORMAT_TIFF);
    EXPECT_EQ(kTiffCodec.probe(mm, 4, 4), RK_FORMAT_TIFF);
    EXPECT_EQ(kTiffCodec.probe(big, 4, 4), RK_FORMAT_TIFF);
    EXPECT_EQ(kTiffCodec.probe(other, 4, 4), 0);
}

TEST(TiffCodec, InfoByCompressionAndPhotometric)
{
    struct Case {
        const char* file;
        int format, bits, model;
    } cases[] = {
        {"formats_b/tiled.tif", RK_FORMAT_TIFF_LZW, 24, RK_COLOUR_MODEL_RGB},
        {"formats_b/separate.tif", RK_FORMAT_TIFF_PACKBITS, 24, RK_COLOUR_MODEL_RGB},
        {"formats_b/big.tif", RK_FORMAT_TIFF_DEFLATE, 24, RK_COLOUR_MODEL_RGB},
        {"formats_b/rgb16.tif", RK_FORMAT_TIFF, 48, RK_COLOUR_MODEL_RGB},
        {"formats_b/ycbcr-jpeg.tif", RK_FORMAT_TIFF_JPEG_420, 24, RK_COLOUR_MODEL_RGB},
        {"formats_b/lab.tif", RK_FORMAT_TIFF, 24, RK_COLOUR_MODEL_LAB},
        {"formats_b/palette.tif", RK_FORMAT_TIFF_LZW, 8, RK_COLOUR_MODEL_RGB},
        {"formats_b/g4.tif", RK_FORMAT_TIFF_CCITT, 1, RK_COLOUR_MODEL_RGB},
        {"formats_b/rgba.tif", RK_FORMAT_TIFF, 32, RK_COLOUR_MODEL_RGB},
        {"formats_b/cmyk.tif", RK_FORMAT_TIFF_CMYK, 32, RK_COLOUR_MODEL_CMYK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        _FILEINFO info;
        ASSERT_EQ(Info(kTiffCodec, ReadData(c.file), info), RK_SUCCESS);
        EXPECT_EQ(info.Format, c.format);
        EXPECT_EQ(info.Width, 37);
        EXPECT_EQ(info.Height, 29);
        EXPECT_EQ(info.BitsPerPixel, c.bits);
        EXPECT_EQ(info.ColourModel, c.model);
        EXPECT_EQ(info.PageCount, 1);
    }
}

TEST(TiffCodec, LoadMatchesIndependentDecoders)
{
    struct Case {
        const char* file;
        const char* expected; // R, G, B (or R, G, B, A) bytes
        int bits;
        int tolerance;
    } cases[] = {
        {"formats_b/tiled.tif", "formats_b/pattern.rgb", 24, 0},
        {"formats_b/separate.tif", "formats_b/pattern.rgb", 24, 0},
        {"formats_b/big.tif", "formats_b/pattern.rgb", 24, 0},
        {"formats_b/rgb16.tif", "formats_b/pattern.rgb", 24, 1},
        {"formats_b/ycbcr-jpeg.tif", "formats_b/ycbcr-jpeg.rgb", 24, 2},
        {"formats_b/palette.tif", "formats_b/palette.rgb", 24, 0},
        {"formats_b/g4.tif", "formats_b/g4.rgb", 24, 0},
        {"formats_b/rgba.tif", "formats_b/rgba.rgba", 32, 2},
        {"formats_b/cmyk.tif", "formats_b/cmyk.rgb", 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Sink sink;
        ASSERT_EQ(Load(kTiffCodec, ReadData(c.file), sink), RK_SUCCESS);
        ASSERT_EQ(sink.shape.bitsPerPixel, c.bits);
        EXPECT_EQ(sink.rows, 29);
        Bytes want = ReadData(c.expected);
        const std::size_t step = std::size_t(c.bits / 8);
        for (std::size_t i = 0; i + 2 < want.size(); i += step)
            std::swap(want[i], want[i + 2]);
        EXPECT_LE(MaxDiff(sink.pixels, want), c.tolerance);
    }
}

// Uncompressed tiles whose size is no multiple of 1024 bytes (16 x 16 RGB: 768), read from a
// file (libtiff allocates the raw buffer) and from memory (libtiff maps the data).
TEST(TiffCodec, UncompressedTilesOfAnySizeFromFileAndMemory)
{
    const std::string path = std::string(DIB_TEST_DATA_DIR) + "/io/rgb8_tiled16.tif";
    const Bytes data = ReadData("io/rgb8_tiled16.tif");
    for (const bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "file" : "memory");
        auto source = fromFile ? core::FileSource(path.c_str())
                               : core::MemorySource(data.data(), data.size());
        ASSERT_NE(source, nullptr);
        Sink sink;
        ASSERT_EQ(kTiffCodec.load(*source, sink), RK_SUCCESS);
        ASSERT_EQ(sink.shape.width, 37);
        ASSERT_EQ(sink.rows, 40);
        ASSERT_EQ(sink.pixels.size(), std::size_t(37 * 40 * 3));
        // As the fixture script wrote them: (5x + 3y + 80c) mod 256, stored B, G, R here.
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 37; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(sink.pixels[std::size_t((y * 37 + x) * 3 + 2 - c)],
                              (x * 5 + y * 3 + c * 80) % 256)
                        << x << "," << y << "," << c;
    }
}

TEST(TiffCodec, BottomUpFilesAreDeliveredInFileOrder)
{
    for (const char* file : {"formats_b/bottom-up.tif", "formats_b/tiled.tif"}) {
        SCOPED_TRACE(file);
        const bool bottomUp = std::string(file).find("bottom") != std::string::npos;
        Sink sink;
        ASSERT_EQ(Load(kTiffCodec, ReadData(file), sink), RK_SUCCESS);
        EXPECT_EQ(sink.shape.bottomUp, bottomUp);
        const Bytes picture = PatternBgr();
        for (int row = 0; row < 29; ++row) {
            const int pictureRow = bottomUp ? 28 - row : row;
            ASSERT_EQ(
                std::memcmp(sink.At(0, row), picture.data() + std::size_t(pictureRow) * 111, 111),
                0)
                << row;
        }
    }
}

// libtiff's CIELab display transform tints neutral greys (its white is D50, the display's
// D65) and its curve is not sRGB's: only the brightness of each pixel is compared, loosely,
// with an sRGB converter's.
TEST(TiffCodec, CieLabLoadsWithItsLightness)
{
    Sink sink;
    ASSERT_EQ(Load(kTiffCodec, ReadData("formats_b/lab.tif"), sink), RK_SUCCESS);
    const Bytes want = ReadData("formats_b/lab.rgb");
    ASSERT_EQ(sink.pixels.size(), want.size());
    int worst = 0;
    for (std::size_t i = 0; i < want.size(); i += 3) {
        const int got = sink.pixels[i] + sink.pixels[i + 1] + sink.pixels[i + 2];
        worst = std::max(worst, std::abs(got - 3 * int(want[i])));
    }
    EXPECT_LE(worst, 3 * 25);
}

TEST(TiffCodec, DamagedAndHostileFilesFail)
{
    const Bytes tiled = ReadData("formats_b/tiled.tif");
    Bytes half(tiled.begin(), tiled.begin() + long(tiled.size() / 2));
    Sink sink;
    EXPECT_LE(Load(kTiffCodec, half, sink), 0);

    // 100000 x 100000 pixels, one strip at offset 8 of 8 bytes: far more pixels than data.
    Bytes hostile = {'I', 'I', 42, 0, 8, 0, 0, 0, 6, 0};
    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        const std::uint8_t e[12] = {std::uint8_t(tag),
                                    std::uint8_t(tag >> 8),
                                    std::uint8_t(type),
                                    0,
                                    1,
                                    0,
                                    0,
                                    0,
                                    std::uint8_t(value),
                                    std::uint8_t(value >> 8),
                                    std::uint8_t(value >> 16),
                                    std::uint8_t(value >> 24)};
        hostile.insert(hostile.end(), e, e + 12);
    };
    entry(256, 4, 100000); // width
    entry(257, 4, 100000); // height
    entry(258, 3, 8);      // bits per sample
    entry(262, 3, 1);      // min-is-black
    entry(273, 4, 8);      // strip offset
    entry(279, 4, 8);      // strip byte count
    hostile.insert(hostile.end(), 4, 0);
    Sink hostileSink;
    EXPECT_EQ(Load(kTiffCodec, hostile, hostileSink), RK_ERROR_FILE_CORRUPT);
    EXPECT_EQ(hostileSink.begins, 0);

    const Bytes text = {'I', 'I', 42, 0, 'h', 'e', 'l', 'l', 'o'};
    _FILEINFO info;
    EXPECT_LE(Info(kTiffCodec, text, info), 0);
}

// What libtiff itself reads back from a file we wrote.
struct Tags {
    std::uint16_t compression = 0, photometric = 0, samples = 0, bits = 0;
    Bytes firstRow;
};

Tags ReadTags(const Bytes& file)
{
    Tags t;
    FILE* f = std::tmpfile();
    std::fwrite(file.data(), 1, file.size(), f);
    std::fflush(f);
    lseek(fileno(f), 0, SEEK_SET);
    TIFF* tif = TIFFFdOpen(dup(fileno(f)), "check", "r");
    std::fclose(f);
    if (!tif)
        return t;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    t.firstRow.resize(std::size_t(TIFFScanlineSize(tif)));
    TIFFReadScanline(tif, t.firstRow.data(), 0, 0);
    TIFFClose(tif);
    return t;
}

TEST(TiffCodec, SavesEachFormatAndDepth)
{
    const Bytes bgr = PatternBgr();
    Bytes bgra, grey, one(5 * 29), nibbles(19 * 29);
    for (std::size_t i = 0; i < bgr.size(); i += 3) {
        bgra.insert(bgra.end(), {bgr[i], bgr[i + 1], bgr[i + 2], std::uint8_t(i % 256)});
        grey.push_back(bgr[i + 1]);
    }
    for (std::size_t i = 0; i < one.size(); ++i)
        one[i] = std::uint8_t(0xA5 ^ i);
    for (std::size_t i = 0; i < nibbles.size(); ++i)
        nibbles[i] = std::uint8_t(i * 17);
    std::vector<tagRGBQUAD> ramp(256), colours(16);
    for (int i = 0; i < 256; ++i)
        ramp[std::size_t(i)] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
    for (int i = 0; i < 16; ++i)
        colours[std::size_t(i)] = {std::uint8_t(i * 16), 0, std::uint8_t(255 - i * 16), 0};

    struct Case {
        int bits;
        const Bytes* rows;
        std::size_t rowBytes;
        const std::vector<tagRGBQUAD>* palette;
        std::uint16_t photometric;
    } cases[] = {
        {1, &one, 5, nullptr, PHOTOMETRIC_MINISBLACK},
        {4, &nibbles, 19, &colours, PHOTOMETRIC_PALETTE},
        {8, &grey, 37, &ramp, PHOTOMETRIC_MINISBLACK},
        {24, &bgr, 111, nullptr, PHOTOMETRIC_RGB},
        {32, &bgra, 148, nullptr, PHOTOMETRIC_RGB},
    };
    const std::pair<int, std::uint16_t> formats[] = {
        {RK_FORMAT_TIFF, COMPRESSION_NONE},
        {RK_FORMAT_TIFF_LZW, COMPRESSION_LZW},
        {RK_FORMAT_TIFF_PACKBITS, COMPRESSION_PACKBITS},
        {RK_FORMAT_TIFF_DEFLATE, COMPRESSION_DEFLATE}};
    for (const auto& [format, compression] : formats)
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << format << " / " << c.bits);
            rkfmt::SaveRequest request = Request(format, c.bits);
            if (c.palette)
                request.palette = *c.palette;
            Source rows(*c.rows, c.rowBytes);
            Bytes file;
            ASSERT_EQ(Save(kTiffCodec, request, rows, file), RK_SUCCESS);
            const Tags tags = ReadTags(file);
            EXPECT_EQ(tags.compression, compression);
            EXPECT_EQ(tags.photometric, c.photometric);
            EXPECT_EQ(tags.bits * tags.samples, c.bits);
            // The first row as libtiff reads it: R first for colour.
            Bytes want(c.rows->begin(), c.rows->begin() + long(c.rowBytes));
            if (c.bits >= 24)
                for (std::size_t i = 0; i + 2 < want.size(); i += std::size_t(c.bits / 8))
                    std::swap(want[i], want[i + 2]);
            EXPECT_EQ(tags.firstRow, want);
            _FILEINFO info;
            ASSERT_EQ(Info(kTiffCodec, file, info), RK_SUCCESS);
            EXPECT_EQ(info.Format, format);
        }
}

TEST(TiffCodec, CmykFormatsWriteTheKernelsBytes)
{
    Bytes cmyk(148 * 29);
    for (std::size_t i = 0; i < cmyk.size(); ++i)
        cmyk[i] = std::uint8_t(i * 7);
    const std::pair<int, std::uint16_t> formats[] = {
        {RK_FORMAT_TIFF_CMYK, COMPRESSION_NONE},
        {RK_FORMAT_TIFF_CMYK_LZW, COMPRESSION_LZW},
        {RK_FORMAT_TIFF_CMYK_PACKBITS, COMPRESSION_PACKBITS}};
    for (const auto& [format, compression] : formats) {
        SCOPED_TRACE(format);
        Source rows(cmyk, 148);
        Bytes file;
        ASSERT_EQ(Save(kTiffCodec, Request(format, 32), rows, file), RK_SUCCESS);
        const Tags tags = ReadTags(file);
        EXPECT_EQ(tags.compression, compression);
        EXPECT_EQ(tags.photometric, PHOTOMETRIC_SEPARATED);
        EXPECT_EQ(tags.samples, 4);
        EXPECT_EQ(tags.firstRow, Bytes(cmyk.begin(), cmyk.begin() + 148));
        _FILEINFO info;
        ASSERT_EQ(Info(kTiffCodec, file, info), RK_SUCCESS);
        EXPECT_EQ(info.Format, format);
    }
}

TEST(TiffCodec, SaveStopsWhenTheSourceDoes)
{
    const Bytes bgr = PatternBgr();
    Source rows(bgr, 111);
    rows.refuseAt = 3;
    Bytes file;
    EXPECT_EQ(Save(kTiffCodec, Request(RK_FORMAT_TIFF, 24), rows, file), RK_ERROR_CANCELLED);
    EXPECT_EQ(Save(kTiffCodec, Request(RK_FORMAT_TIFF, 16), rows, file), RK_ERROR_BITSPERPIXEL);
}

// ---- Photo CD -----------------------------------------------------------------------------------

struct PcdResolution {
    int saved = RkGetPCDResolution();
    explicit PcdResolution(int r) { RkSetPCDResolution(r); }
    ~PcdResolution() { RkSetPCDResolution(saved); }
};

TEST(PcdCodec, InfoFollowsTheProcessResolution)
{
    const Bytes file = ReadData("formats_b/synthetic.pcd");
    EXPECT_EQ(kPcdCodec.probe(file.data(), 64, file.size()), RK_FORMAT_PCD);
    EXPECT_EQ(kPcdCodec.probe(file.data(), 64, 4096), 0);
    for (int r = 0; r <= 5; ++r) {
        PcdResolution setting(r);
        _FILEINFO info;
        ASSERT_EQ(Info(kPcdCodec, file, info), RK_SUCCESS);
        EXPECT_EQ(info.Format, RK_FORMAT_PCD);
        EXPECT_EQ(info.Width, 96 << r);
        EXPECT_EQ(info.Height, 64 << r);
        EXPECT_EQ(info.BitsPerPixel, 24);
    }
}

TEST(PcdCodec, LoadsTheThreeImagePacks)
{
    const Bytes file = ReadData("formats_b/synthetic.pcd");
    Sink sinks[3]; // Base/16, Base/4, Base: resolutions 1 to 3
    for (int r = 0; r < 3; ++r) {
        PcdResolution setting(r + 1);
        ASSERT_EQ(Load(kPcdCodec, file, sinks[r]), RK_SUCCESS);
        EXPECT_EQ(sinks[r].shape.width, 192 << r);
        EXPECT_EQ(sinks[r].shape.height, 128 << r);
        EXPECT_EQ(sinks[r].shape.bitsPerPixel, 24);
    }
    const Bytes text = ReadData("formats_b/pcd-expected.txt");
    std::istringstream expected(std::string(text.begin(), text.end()));
    int res, x, y, r, g, b, checked = 0;
    while (expected >> res >> x >> y >> r >> g >> b) {
        const std::uint8_t* p = sinks[res].At(x, y);
        ASSERT_EQ(p[2], r) << res << " " << x << "," << y;
        ASSERT_EQ(p[1], g) << res << " " << x << "," << y;
        ASSERT_EQ(p[0], b) << res << " " << x << "," << y;
        ++checked;
    }
    EXPECT_GT(checked, 1000);

    // Base/64: 2 x 2 blocks of Base/16 averaged.
    PcdResolution setting(0);
    Sink smallest;
    ASSERT_EQ(Load(kPcdCodec, file, smallest), RK_SUCCESS);
    ASSERT_EQ(smallest.shape.width, 96);
    ASSERT_EQ(smallest.shape.height, 64);
    for (int y = 0; y < 64; y += 5)
        for (int x = 0; x < 96; x += 7)
            for (int c = 0; c < 3; ++c) {
                const int sum = sinks[0].At(2 * x, 2 * y)[c] + sinks[0].At(2 * x + 1, 2 * y)[c] +
                                sinks[0].At(2 * x, 2 * y + 1)[c] +
                                sinks[0].At(2 * x + 1, 2 * y + 1)[c];
                ASSERT_EQ(smallest.At(x, y)[c], (sum + 2) / 4) << x << "," << y;
            }
}

TEST(PcdCodec, TurnsAsTheOrientationByteSays)
{
    Bytes file = ReadData("formats_b/synthetic.pcd");
    PcdResolution setting(1);
    Sink stored;
    ASSERT_EQ(Load(kPcdCodec, file, stored), RK_SUCCESS);
    const int w = 192, h = 128;
    for (int orientation = 1; orientation <= 3; ++orientation) {
        SCOPED_TRACE(orientation);
        file[0xE02] = std::uint8_t(0xFC | orientation); // only the low two bits count
        Sink turned;
        ASSERT_EQ(Load(kPcdCodec, file, turned), RK_SUCCESS);
        _FILEINFO info;
        ASSERT_EQ(Info(kPcdCodec, file, info), RK_SUCCESS);
        EXPECT_EQ(info.Width, turned.shape.width);
        EXPECT_EQ(info.Height, turned.shape.height);
        for (int y = 0; y < h; y += 7)
            for (int x = 0; x < w; x += 5) {
                int ox = x, oy = y;
                if (orientation == 1) { // counter-clockwise: the right edge becomes the top
                    ox = y;
                    oy = w - 1 - x;
                } else if (orientation == 2) {
                    ox = w - 1 - x;
                    oy = h - 1 - y;
                } else {
                    ox = h - 1 - y;
                    oy = x;
                }
                ASSERT_EQ(std::memcmp(turned.At(ox, oy), stored.At(x, y), 3), 0) << x << "," << y;
            }
    }
}

TEST(PcdCodec, RefusesWhatItCannotRead)
{
    const Bytes file = ReadData("formats_b/synthetic.pcd");
    {
        PcdResolution setting(4);
        Sink sink;
        EXPECT_EQ(Load(kPcdCodec, file, sink), RK_ERROR_PCD_RESOLUTION);
        EXPECT_EQ(sink.begins, 0);
    }
    Bytes unsigned_ = file;
    unsigned_[2048] = 'X';
    Sink sink;
    EXPECT_EQ(Load(kPcdCodec, unsigned_, sink), RK_ERROR_FILE_FORMAT);
    _FILEINFO info;
    EXPECT_EQ(Info(kPcdCodec, unsigned_, info), RK_ERROR_FILE_FORMAT);

    // Cut inside Base: the smaller packs still load, Base does not.
    const Bytes cut(file.begin(), file.begin() + 96 * 2048 + 1000);
    for (int r = 1; r <= 3; ++r) {
        PcdResolution setting(r);
        Sink s;
        EXPECT_EQ(Load(kPcdCodec, cut, s), r < 3 ? RK_SUCCESS : RK_ERROR_FILE_CORRUPT);
    }
    const Bytes header(file.begin(), file.begin() + 2048 + 7);
    EXPECT_EQ(Info(kPcdCodec, header, info), RK_ERROR_FILE_CORRUPT);
}

TEST(PcdCodec, CancelledBySinkStops)
{
    Bytes file = ReadData("formats_b/synthetic.pcd");
    PcdResolution setting(2);
    for (std::uint8_t orientation : {0, 1}) {
        file[0xE02] = orientation;
        Sink sink;
        sink.stopAfter = 1;
        EXPECT_EQ(Load(kPcdCodec, file, sink), RK_ERROR_CANCELLED);
    }
}

} // namespace
