// The JPEG reader against files made by cjpeg, PIL and ImageMagick, with the pixels those
// tools' decoders give (tests/data/jpeg/make_fixtures.py).
#include <codecs/jpeg/jpeg_reader.h>
#include <core/byte_source.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <support/fakes.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string DataPath(const std::string& name)
{
    return std::string(DIB_JPEG_DATA_DIR) + "/" + name;
}

std::wstring WidePath(const std::string& name)
{
    const std::string p = DataPath(name);
    return std::wstring(p.begin(), p.end());
}

Bytes ReadFile(const std::string& name)
{
    std::ifstream in(DataPath(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A binary PNM (P5 grey, P6 colour) from djpeg: samples in file order.
struct Pnm {
    int width = 0, height = 0, channels = 0;
    Bytes samples;
    const unsigned char* Row(int y) const
    {
        return samples.data() + std::size_t(y) * width * channels;
    }
};

Pnm ReadPnm(const std::string& name)
{
    const Bytes data = ReadFile(name);
    Pnm p;
    int maxValue = 0, consumed = 0;
    char kind = 0;
    std::sscanf(reinterpret_cast<const char*>(data.data()), "P%c %d %d %d%n", &kind, &p.width,
                &p.height, &maxValue, &consumed);
    p.channels = kind == '6' ? 3 : 1;
    p.samples.assign(data.begin() + consumed + 1, data.end());
    EXPECT_EQ(p.samples.size(), std::size_t(p.width) * p.height * p.channels) << name;
    return p;
}

Bytes ImageRow(const TDib& image, int row)
{
    Bytes line(std::size_t(image.GetBytesPerLinia()));
    EXPECT_EQ(image.GetLinia(row, line.data(), line.size()), 0);
    return line;
}

// Expected delivered line y at depth: blue-green-red for colour, grey as is.
Bytes ExpectedLine(const Pnm& p, int y, int depth)
{
    const unsigned char* s = p.Row(y);
    Bytes out;
    for (int x = 0; x < p.width; ++x) {
        if (depth == 8) {
            out.push_back(s[x * p.channels]);
        } else if (p.channels == 3) {
            out.insert(out.end(), {s[3 * x + 2], s[3 * x + 1], s[3 * x]});
        } else {
            out.insert(out.end(), {s[x], s[x], s[x]});
        }
    }
    return out;
}

int Load(TDib& image, const std::string& name, int depth, TProcesLiniaDIB* consumer = nullptr,
         TIndicadorEstat* progress = nullptr, int intoImage = 1, int adapt = 0)
{
    const std::wstring path = WidePath(name);
    return dib::TDibAccess::LoadJPEG(image, path.c_str(), depth, consumer, progress, intoImage,
                                     adapt);
}

int LoadBytes(TDib& image, const Bytes& data, int depth, TProcesLiniaDIB* consumer = nullptr,
              TIndicadorEstat* progress = nullptr)
{
    auto source = core::MemorySource(data.data(), data.size());
    return jpeg::Load(image, *source, depth, consumer, progress, 1, 0);
}

// ---- header ---------------------------------------------------------------------------------

struct InfoCase {
    const char* file;
    int width, height, bits;
    unsigned channels, colourSpace;
    double xres, yres;
};

TEST(JpegInfo, DescribesTheHeader)
{
    const InfoCase cases[] = {
        {"rgb420.jpg", 37, 29, 24, 3, 0, 0.0, 0.0}, // JFIF unit 0: resolution left alone
        {"progressive.jpg", 37, 29, 24, 3, 0, 0.0, 0.0},
        {"grey.jpg", 37, 29, 8, 1, 0, 0.0, 0.0},
        {"rgb444-dpi.jpg", 37, 29, 24, 3, 0, 300.0, 150.0},
        {"rgb-dpcm.jpg", 37, 29, 24, 3, 0, 254.0, 127.0},
        {"cmyk-im.jpg", 37, 29, 32, 4, DIB_CS_CMYK, 0.0, 0.0},
        {"cmyk-pil.jpg", 37, 29, 32, 4, DIB_CS_CMYK, 0.0, 0.0},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.file);
        CFILEINFO info;
        info.AlphaChannel = 5;
        const std::wstring path = WidePath(c.file);
        ASSERT_EQ(dib::TDibAccess::InfoJPEG(path.c_str(), info), 1);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        EXPECT_EQ(info.BitsPerPixel, c.bits);
        EXPECT_EQ(info.Channels, c.channels);
        EXPECT_EQ(info.ColorSpace, c.colourSpace);
        EXPECT_EQ(info.ViewPerspective, 1);
        EXPECT_EQ(info.AlphaChannel, -1);
        EXPECT_DOUBLE_EQ(info.XResolution, c.xres);
        EXPECT_DOUBLE_EQ(info.YResolution, c.yres);
    }
}

TEST(JpegInfo, RefusesWhatIsNoJpegHeader)
{
    const Bytes whole = ReadFile("rgb420.jpg");
    const Bytes cases[] = {
        {},
        {'B', 'M', 0, 0, 0, 0},
        {0xFF, 0xD8},                         // start of image, then nothing
        {0xFF, 0xD8, 0xFF, 0xD9},             // no frame
        {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11}, // frame header cut short
        Bytes(whole.begin(), whole.begin() + 100),
    };
    for (const Bytes& data : cases) {
        SCOPED_TRACE(data.size());
        auto source = core::MemorySource(data.data(), data.size());
        CFILEINFO info;
        EXPECT_EQ(jpeg::Info(*source, info), 0);
        EXPECT_EQ(info.Width, 0);
    }
    CFILEINFO info;
    const std::wstring missing = WidePath("missing.jpg");
    EXPECT_EQ(dib::TDibAccess::InfoJPEG(missing.c_str(), info), -14);
}

// ---- pixels ---------------------------------------------------------------------------------

struct PixelCase {
    const char* file;
    int depth; // requested
    const char* expected;
};

TEST(JpegLoad, PixelsMatchAnIndependentDecoder)
{
    const PixelCase cases[] = {
        {"rgb420.jpg", 24, "rgb420.ppm"},
        {"rgb420.jpg", 0, "rgb420.ppm"}, // 0: the file's own depth
        {"progressive.jpg", 24, "progressive.ppm"},
        {"rgb444-dpi.jpg", 24, "rgb444-dpi.ppm"},
        {"rgb-dpcm.jpg", 24, "rgb-dpcm.ppm"},
        {"grey.jpg", 8, "grey.pgm"},
        {"grey.jpg", 24, "grey.pgm"},         // grey spread over blue, green and red
        {"rgb420.jpg", 8, "rgb420-grey.pgm"}, // colour to grey by the decoder
    };
    for (const PixelCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.depth));
        const Pnm expected = ReadPnm(c.expected);
        const int depth = c.depth ? c.depth : 24;
        TDib image;
        ASSERT_EQ(Load(image, c.file, c.depth), 1);
        ASSERT_EQ(image.GetMidaX(), expected.width);
        ASSERT_EQ(image.GetMidaY(), expected.height);
        ASSERT_EQ(image.GetBitsPerPixel(), depth);
        for (int y = 0; y < expected.height; ++y) {
            const Bytes want = ExpectedLine(expected, y, depth);
            Bytes got = ImageRow(image, y);
            got.resize(want.size());
            ASSERT_EQ(got, want) << "row " << y;
        }
        if (depth == 8) {
            tagRGBQUAD palette[256];
            ASSERT_EQ(image.GetPaleta(palette, nullptr), 256);
            EXPECT_EQ(palette[0].rgbRed, 0);
            EXPECT_EQ(palette[200].rgbRed, 200);
            EXPECT_EQ(palette[200].rgbGreen, 200);
            EXPECT_EQ(palette[200].rgbBlue, 200);
        }
    }
}

TEST(JpegLoad, CmykIsComplementedBackOrAdaptedForDisplay)
{
    for (const char* name : {"cmyk-im", "cmyk-pil"}) {
        SCOPED_TRACE(name);
        const Bytes plain = ReadFile(std::string(name) + ".cmyk"); // PIL: 0 = no ink
        const std::size_t row = 37 * 4;
        ASSERT_EQ(plain.size(), row * 29);
        // The file holds the inverted form: a full-ink 0x00 must come back as 0xFF.
        TDib image;
        ASSERT_EQ(Load(image, std::string(name) + ".jpg", 32), 1);
        ASSERT_EQ(image.GetBitsPerPixel(), 32);
        for (int y = 0; y < 29; ++y) {
            Bytes got = ImageRow(image, y);
            got.resize(row);
            ASSERT_EQ(got, Bytes(plain.begin() + y * row, plain.begin() + (y + 1) * row))
                << "row " << y;
        }
        TDib adapted;
        ASSERT_EQ(Load(adapted, std::string(name) + ".jpg", 32, nullptr, nullptr, 1, 1), 1);
        for (int y = 0; y < 29; ++y) {
            Bytes want(plain.begin() + y * row, plain.begin() + (y + 1) * row);
            TDib::AdaptarPerCarregarCMYK(want.data(), 37);
            Bytes got = ImageRow(adapted, y);
            got.resize(row);
            ASSERT_EQ(got, want) << "row " << y;
        }
    }
}

TEST(JpegLoad, RefusesDepthsItCannotDeliver)
{
    const std::pair<const char*, int> cases[] = {
        {"cmyk-im.jpg", 8}, {"cmyk-im.jpg", 24}, {"rgb420.jpg", 32},
        {"rgb420.jpg", 1},  {"grey.jpg", 4},     {"grey.jpg", 16},
    };
    for (const auto& [file, depth] : cases) {
        SCOPED_TRACE(std::string(file) + " at " + std::to_string(depth));
        TDib image;
        ASSERT_EQ(image.Crear(4, 4, 24), 0);
        dibtest::FakeConsumer consumer;
        EXPECT_EQ(Load(image, file, depth, &consumer), -5);
        EXPECT_EQ(consumer.inits, 0);
        EXPECT_EQ(image.GetMidaX(), 4); // the image was not touched
    }
}

TEST(JpegLoad, FailuresBeforeDecoding)
{
    TDib image;
    const std::wstring missing = WidePath("missing.jpg");
    EXPECT_EQ(dib::TDibAccess::LoadJPEG(image, missing.c_str(), 24, nullptr, nullptr, 1, 0), -3014);
    EXPECT_EQ(Load(image, "big.icc", 24), -5); // not a JPEG
    EXPECT_EQ(image.EsBuit(), 1);
}

// ---- consumers --------------------------------------------------------------------------------

TEST(JpegLoad, ConsumerProtocol)
{
    const Pnm expected = ReadPnm("rgb420.ppm");
    struct Case {
        int initResult;
        long stopAfter;
        int moveLeft;
        std::size_t lines; // delivered
        int dones;
    };
    const Case cases[] = {
        {0, -1, 0, 29, 1},  // every line
        {5, -1, 0, 24, 1},  // lines 0 to 4 skipped; file line 5 becomes row 0
        {0, 3, 0, 3, 1},    // the consumer stops: not an error, Done still called
        {0, -1, 10, 29, 1}, // lines start at column 10
        {-1, -1, 0, 0, 0},  // refused: no line, no Done, result 1, no image
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "init " << c.initResult << " stop " << c.stopAfter
                                        << " left " << c.moveLeft);
        struct MovingConsumer : dibtest::FakeConsumer {
            int left = 0;
            int Init(int w, int h, CRect& r) override
            {
                const int result = FakeConsumer::Init(w, h, r);
                r.left = left;
                return result;
            }
        } consumer;
        consumer.initResult = c.initResult;
        consumer.stopAfter = c.stopAfter;
        consumer.left = c.moveLeft;
        consumer.lineBytes = std::size_t(37 - c.moveLeft) * 3;
        TDib image;
        ASSERT_EQ(Load(image, "rgb420.jpg", 24, &consumer), 1);
        EXPECT_EQ(consumer.inits, 1);
        EXPECT_EQ(consumer.width, 37);
        EXPECT_EQ(consumer.height, 29);
        EXPECT_EQ(consumer.region.right, 36);
        EXPECT_EQ(consumer.region.bottom, 28);
        ASSERT_EQ(consumer.lines.size(), c.lines);
        EXPECT_EQ(consumer.dones, c.dones);
        const int first = c.initResult < 0 ? 0 : c.initResult;
        for (std::size_t i = 0; i < c.lines; ++i) {
            const Bytes full = ExpectedLine(expected, first + int(i), 24);
            const Bytes want(full.begin() + c.moveLeft * 3, full.end());
            ASSERT_EQ(consumer.lines[i], want) << "line " << i;
            EXPECT_TRUE(consumer.alphaWasNull[i]);
            // The image keeps every delivered line from row 0, whole.
            Bytes stored = ImageRow(image, int(i));
            stored.resize(full.size());
            EXPECT_EQ(stored, full) << "row " << i;
        }
        if (c.initResult < 0) {
            EXPECT_EQ(image.EsBuit(), 1);
        }
    }
}

TEST(JpegLoad, ConsumerWithoutImageHoldsNoBitmap)
{
    dibtest::FakeConsumer consumer(8, 8, 1, 0);
    consumer.lineBytes = 37;
    TDib image;
    ASSERT_EQ(Load(image, "grey.jpg", 8, &consumer, nullptr, 0), 1);
    EXPECT_EQ(consumer.lines.size(), 29u);
    EXPECT_EQ(consumer.dones, 1);
    EXPECT_EQ(image.EsBuit(), 1);
    const Pnm expected = ReadPnm("grey.pgm");
    EXPECT_EQ(consumer.lines[28], ExpectedLine(expected, 28, 8));
}

// ---- progress and cancellation --------------------------------------------------------------

class RecordingProgress : public TIndicadorEstat {
public:
    int stopAtQuestion = -1; // Cancelat answers yes from this question on (1-based)
    int stopAtPosition = -1; // SetPosicio answers 0 from this call on (1-based)
    mutable int questions = 0;
    std::vector<double> positions;
    int SetPosicio(double pos) override
    {
        positions.push_back(pos);
        TIndicadorEstat::SetPosicio(pos);
        return stopAtPosition > 0 && int(positions.size()) >= stopAtPosition ? 0 : 1;
    }
    int Cancelat() const override
    {
        ++questions;
        return stopAtQuestion > 0 && questions >= stopAtQuestion;
    }
};

TEST(JpegLoad, ProgressEveryTenthLineWithinTheRange)
{
    RecordingProgress progress;
    progress.SetRang(100.0, 200.0);
    progress.positions.clear();
    progress.questions = 0;
    TDib image;
    ASSERT_EQ(Load(image, "rgb420.jpg", 24, nullptr, &progress), 1);
    EXPECT_GE(progress.questions, 29); // after every line
    ASSERT_EQ(progress.positions.size(), 2u);
    EXPECT_DOUBLE_EQ(progress.positions[0], 100.0 + 10.0 / 29.0 * 100.0);
    EXPECT_DOUBLE_EQ(progress.positions[1], 100.0 + 20.0 / 29.0 * 100.0);
}

TEST(JpegLoad, CancellationLeavesNoImageAndNoDone)
{
    for (const bool bySetPosicio : {false, true}) {
        SCOPED_TRACE(bySetPosicio ? "SetPosicio" : "Cancelat");
        RecordingProgress progress;
        if (bySetPosicio)
            progress.stopAtPosition = 1; // at line 10
        else
            progress.stopAtQuestion = 4;
        dibtest::FakeConsumer consumer;
        TDib image;
        ASSERT_EQ(image.Crear(2, 2, 24), 0);
        EXPECT_EQ(Load(image, "rgb420.jpg", 24, &consumer, &progress), -100);
        EXPECT_EQ(consumer.lines.size(), bySetPosicio ? 10u : 4u);
        EXPECT_EQ(consumer.dones, 0);
        EXPECT_EQ(image.EsBuit(), 1);
    }
}

// ---- damaged data -----------------------------------------------------------------------------

// Offset of the first byte after the start-of-scan header.
std::size_t ScanStart(const Bytes& data)
{
    std::size_t i = 2;
    while (i + 4 <= data.size() && data[i] == 0xFF) {
        const std::size_t length = std::size_t(data[i + 2]) << 8 | data[i + 3];
        if (data[i + 1] == 0xDA)
            return i + 2 + length;
        i += 2 + length;
    }
    return 0;
}

TEST(JpegLoad, TruncatedDataFailsAndDeliversOnlyWholeLines)
{
    for (const char* name : {"rgb420.jpg", "progressive.jpg", "grey.jpg", "cmyk-im.jpg"}) {
        const Bytes whole = ReadFile(name);
        const std::size_t scan = ScanStart(whole);
        ASSERT_GT(scan, 0u) << name;
        // The last cut drops only the end-of-image marker: the decoder still asks for data
        // there, and a stream that stops short of its end marker counts as truncated.
        const std::size_t cuts[] = {scan + 1, (scan + whole.size()) / 2, whole.size() - 40,
                                    whole.size() - 2};
        for (const std::size_t cut : cuts) {
            SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
            const Bytes part(whole.begin(), whole.begin() + long(cut));
            dibtest::FakeConsumer consumer;
            consumer.lineBytes = 37;
            TDib full;
            ASSERT_EQ(Load(full, name, 0), 1);
            TDib image;
            EXPECT_EQ(LoadBytes(image, part, 0, &consumer), -149);
            EXPECT_EQ(image.EsBuit(), 1);
            EXPECT_EQ(consumer.dones, 0);
            EXPECT_LT(consumer.lines.size(), 29u);
            for (std::size_t i = 0; i < consumer.lines.size(); ++i) {
                Bytes want = ImageRow(full, int(i));
                want.resize(37);
                EXPECT_EQ(consumer.lines[i], want) << "line " << i;
            }
        }
    }
}

TEST(JpegLoad, CorruptScanFails)
{
    const Bytes whole = ReadFile("rgb420.jpg");
    const std::size_t scan = ScanStart(whole);
    Bytes damaged = whole;
    // An 0xFF 0xD3 inside the entropy data: a restart marker where none may be.
    damaged[scan + 200] = 0xFF;
    damaged[scan + 201] = 0xD3;
    TDib image;
    EXPECT_EQ(LoadBytes(image, damaged, 24), -149);
    EXPECT_EQ(image.EsBuit(), 1);
}

} // namespace
