// CTIFTools against files made by tifffile and libtiff-tools (tests/data/tiftools/
// make_fixtures.sh). Sample c of pixel (x, y) in those files is (x * 37 + y * 11 + c * 53) % 256;
// 16-bit files store it times 256 plus c.
#include "support/fakes.h"

#include <base/progress.h>
#include <cstdlib>
#include <cstring>
#include <dib/TiffTools.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using dibtest::FakeConsumer;
using Bytes = std::vector<unsigned char>;

const std::string kDir = DIB_TIFTOOLS_DATA_DIR;

std::wstring Fixture(const std::string& name)
{
    const std::string p = kDir + name;
    return std::wstring(p.begin(), p.end());
}

unsigned char Sample(int x, int y, int c)
{
    return static_cast<unsigned char>((x * 37 + y * 11 + c * 53) % 256);
}

// The line ObrirDinamic should deliver for row y, columns [left, right], at `order` samples per
// pixel taken in that order (RGB files come as blue, green, red).
Bytes Expected(int y, int left, int right, std::vector<int> order)
{
    Bytes b;
    for (int x = left; x <= right; ++x)
        for (int c : order)
            b.push_back(Sample(x, y, c));
    return b;
}

struct Selection : CTiffHeaderSelection {
    ~Selection() { Release(); }
};

class Tools : public CTIFTools {
public:
    using CTIFTools::_esTIFF;
};

// ---- header selection ------------------------------------------------------------------------

TEST(TiffToolsHeader, ReadsEveryFieldOfAFullCmykFile)
{
    Selection h;
    EXPECT_EQ(CTIFTools::GetHeaderSelectionValues(Fixture("cmyk_inks.tif").c_str(), h), 0);
    EXPECT_EQ(h.flags, 0x3FFFEFu); // every bit but Orientation and the Photoshop block
    EXPECT_EQ(h.imageWidth, 13u);
    EXPECT_EQ(h.imageLength, 7u);
    EXPECT_EQ(h.bitsPerSample, 8);
    EXPECT_EQ(h.photometric, 5);
    EXPECT_EQ(h.samplesPerPixel, 4);
    EXPECT_FLOAT_EQ(h.xResolution, 300.0f);
    EXPECT_FLOAT_EQ(h.xPosition, 1.5f);
    EXPECT_FLOAT_EQ(h.yPosition, 2.5f);
    EXPECT_EQ(h.resolutionUnit, 2);
    ASSERT_NE(h.iccProfile, nullptr);
    EXPECT_EQ(h.iccProfile[3], 200);
    EXPECT_EQ(h.iccProfile[4], 0);
    EXPECT_EQ(h.iccProfile[199], 195);
    EXPECT_EQ(h.inkSet, 1);
    EXPECT_EQ(h.numberOfInks, 4);
    ASSERT_EQ(h.inkNamesSize, 26u);
    EXPECT_EQ(std::string(h.inkNames, h.inkNamesSize),
              std::string("Cyan\0Magenta\0Yellow\0Black\0", 26));
    EXPECT_STREQ(h.dateTime, "2024:05:17 10:20:30");
    EXPECT_STREQ(h.software, "fixture writer 1.0");
    EXPECT_STREQ(h.documentName, "job-17");
    EXPECT_STREQ(h.model, "Scanner X");
    EXPECT_STREQ(h.copyright, "(c) nobody");
    EXPECT_EQ(h.photoshop, nullptr);
}

TEST(TiffToolsHeader, StopsOrContinuesAfterTheInksAsTheFileSays)
{
    {
        // Not separated and no ink names: nothing after NumberOfInks.
        Selection h;
        CTIFTools::GetHeaderSelectionValues(Fixture("rgb_noinks.tif").c_str(), h);
        EXPECT_EQ(h.flags & 0x7F8000u, 0u);
        EXPECT_EQ(h.dateTime, nullptr);
        EXPECT_EQ(h.software, nullptr);
        EXPECT_FLOAT_EQ(h.xResolution, 150.0f);
    }
    {
        // Separated without names: the size says 0 and the texts follow.
        Selection h;
        h.inkNamesSize = 99;
        CTIFTools::GetHeaderSelectionValues(Fixture("cmyk_noinks.tif").c_str(), h);
        EXPECT_EQ(h.inkNamesSize, 0u);
        EXPECT_EQ(h.flags & 0x8000u, 0u);
        EXPECT_STREQ(h.dateTime, "2023:01:02 03:04:05");
        EXPECT_STREQ(h.software, "bare cmyk");
    }
    {
        // BigTIFF.
        Selection h;
        CTIFTools::GetHeaderSelectionValues(Fixture("bigtiff.tif").c_str(), h);
        EXPECT_EQ(h.imageWidth, 13u);
        EXPECT_FLOAT_EQ(h.yResolution, 200.0f);
    }
}

TEST(TiffToolsHeader, ZeroResolutionBecomes72Dpi)
{
    Selection h;
    CTIFTools::GetHeaderSelectionValues(Fixture("xres0.tif").c_str(), h);
    EXPECT_EQ(h.flags & 0x980u, 0x980u);
    EXPECT_FLOAT_EQ(h.xResolution, 72.0f);
    EXPECT_FLOAT_EQ(h.yResolution, 72.0f);
    EXPECT_EQ(h.resolutionUnit, 2);
}

TEST(TiffToolsHeader, RefusesAProfileLongerThanItsTag)
{
    Selection h;
    CTIFTools::GetHeaderSelectionValues(Fixture("cmyk_icc_bad.tif").c_str(), h);
    EXPECT_EQ(h.flags & 0x2000u, 0u);
    EXPECT_EQ(h.iccProfile, nullptr);
    EXPECT_NE(h.flags & 0x8000u, 0u); // the rest is still read
}

TEST(TiffToolsHeader, InkNamesNeverRunPastTheTag)
{
    // The file states NumberOfInks 6 with two names.
    Selection h;
    CTIFTools::GetHeaderSelectionValues(Fixture("inks_short.tif").c_str(), h);
    ASSERT_NE(h.inkNames, nullptr);
    EXPECT_EQ(std::string(h.inkNames, h.inkNamesSize), std::string("Cyan\0Magenta\0", 13));
}

TEST(TiffToolsHeader, AFileThatDoesNotOpenLeavesTheRecord)
{
    Selection h;
    h.imageWidth = 77;
    for (const char* name : {"missing.tif", "make_fixtures.py", "lzw_truncated.tif"}) {
        EXPECT_EQ(CTIFTools::GetHeaderSelectionValues(Fixture(name).c_str(), h), 0);
        if (std::string(name) != "lzw_truncated.tif") {
            EXPECT_EQ(h.flags, 0u) << name;
            EXPECT_EQ(h.imageWidth, 77u) << name;
        }
    }
    EXPECT_EQ(CTIFTools::GetHeaderSelectionValues(nullptr, h), 0);
}

// ---- the other queries -----------------------------------------------------------------------

TEST(TiffToolsQueries, MultichannelVerdicts)
{
    const struct {
        const char* file;
        int expected;
    } cases[] = {
        {"sep6.tif", 1},           {"sep6_inkset2.tif", 1}, {"sep6_psd_spot.tif", 1},
        {"sep5_psd_alpha.tif", 0}, {"cmyk_inks.tif", 0},    {"cmyk_noinks.tif", 0},
        {"sep16.tif", 0},          {"sep6_deflate.tif", 0}, {"rgb8.tif", 0},
        {"missing.tif", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CTIFTools::_VerifyTiffMultiChannelInfo(Fixture(c.file).c_str()), c.expected)
            << c.file;
}

TEST(TiffToolsQueries, NumberOfChannels)
{
    const struct {
        const char* file;
        int expected;
    } cases[] = {
        {"cmyk_inks.tif", 4},   {"sep6.tif", 6}, {"sep6_inkset2.tif", 0}, {"inks_short.tif", 2},
        {"cmyk_noinks.tif", 0}, {"rgb8.tif", 0}, {"missing.tif", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CTIFTools::GetNumberOfChannels(Fixture(c.file).c_str()), c.expected) << c.file;
}

TEST(TiffToolsQueries, SeparationListIsWholeNamesAndTerminated)
{
    const std::wstring sep6 = Fixture("sep6.tif");
    const std::string all("Cyan\0Magenta\0Yellow\0Black\0Orange\0Green\0", 39);
    Bytes buffer(64, 0xEE);
    ASSERT_EQ(CTIFTools::GetSeparationList(sep6.c_str(), buffer.data(), 64, 0), 1);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 39), all);
    EXPECT_EQ(buffer[39], 0);
    EXPECT_EQ(buffer[63], 0);

    // 17 bytes hold "Cyan\0Magenta\0" and four more: only the whole names, then zeros.
    buffer.assign(64, 0xEE);
    ASSERT_EQ(CTIFTools::GetSeparationList(sep6.c_str(), buffer.data(), 17, 0), 1);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 13), all.substr(0, 13));
    for (int i = 13; i < 17; ++i)
        EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(buffer[17], 0xEE); // nothing past the size

    buffer.assign(64, 0xEE);
    EXPECT_EQ(CTIFTools::GetSeparationList(sep6.c_str(), buffer.data(), 3, 0), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[3], 0xEE);
    EXPECT_EQ(CTIFTools::GetSeparationList(sep6.c_str(), nullptr, 64, 0), 0);

    buffer.assign(64, 0xEE);
    ASSERT_EQ(CTIFTools::GetSeparationList(Fixture("inks_short.tif").c_str(), buffer.data(), 64, 0),
              1);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 14),
              std::string("Cyan\0Magenta\0\0", 14));
    for (const char* none : {"sep6_inkset2.tif", "cmyk_noinks.tif", "rgb8.tif", "missing.tif"})
        EXPECT_EQ(CTIFTools::GetSeparationList(Fixture(none).c_str(), buffer.data(), 64, 0), 0)
            << none;
}

TEST(TiffToolsQueries, CreationDateAndSoftware)
{
    CString date(L"old"), software(L"old");
    ASSERT_EQ(
        CTIFTools::GetCreationDateTimeAndSoftware(Fixture("cmyk_inks.tif").c_str(), date, software),
        1);
    EXPECT_EQ(date.str(), L"2024:05:17 10:20:30");
    EXPECT_EQ(software.str(), L"fixture writer 1.0");
    ASSERT_EQ(
        CTIFTools::GetCreationDateTimeAndSoftware(Fixture("grey8.tif").c_str(), date, software), 1);
    EXPECT_TRUE(date.IsEmpty());
    EXPECT_EQ(software.str(), L"tifffile.py");
    date = L"kept";
    EXPECT_EQ(
        CTIFTools::GetCreationDateTimeAndSoftware(Fixture("missing.tif").c_str(), date, software),
        0);
    EXPECT_EQ(date.str(), L"kept");
}

TEST(TiffToolsQueries, RepeatRecordOfTag33333)
{
    const std::uint8_t stored[16] = {0x11, 0x22, 0x33, 0x44, 1,    2,    3,    4,
                                     5,    6,    7,    8,    0xAA, 0xBB, 0xCC, 0xDD};
    for (const char* name : {"stork16.tif", "bigtiff.tif"}) {
        _VelanTIFFInfo info{};
        ASSERT_EQ(CTIFTools::GetStorkRapport(Fixture(name).c_str(), &info), 1) << name;
        EXPECT_EQ(std::memcmp(info.head, stored, 4), 0);
        EXPECT_EQ(std::memcmp(info.middle, stored + 4, 8), 0);
        EXPECT_EQ(std::memcmp(info.tail, stored + 12, 4), 0);
    }
    EXPECT_EQ(CTIFTools::GetStorkRapport(Fixture("stork16.tif").c_str(), nullptr), 1);
    for (const char* name : {"stork12.tif", "stork_short.tif", "rgb8.tif", "missing.tif"}) {
        _VelanTIFFInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(CTIFTools::GetStorkRapport(Fixture(name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.head[0], 0x5A) << name;
    }
}

TEST(TiffToolsQueries, FileInformation)
{
    const struct {
        const char* file;
        int width, height, bits, xdpi, ydpi;
    } cases[] = {
        {"cmyk_inks.tif", 13, 7, 32, 300, 300}, {"res_cm.tif", 13, 7, 8, 300, 300},
        {"xres0.tif", 13, 7, 24, 72, 150},      {"bigtiff.tif", 13, 7, 24, 200, 200},
        {"rgb16.tif", 13, 7, 48, 1, 1},         {"bilevel.tif", 13, 7, 1, 1, 1},
    };
    for (const auto& c : cases) {
        _FILEINFO info{};
        ASSERT_EQ(CTIFTools::GetInfoFitxer(Fixture(c.file).c_str(), &info), 1) << c.file;
        EXPECT_EQ(info.Width, c.width) << c.file;
        EXPECT_EQ(info.Height, c.height) << c.file;
        EXPECT_EQ(info.BitsPerPixel, c.bits) << c.file;
        EXPECT_EQ(info.XResolution, c.xdpi) << c.file;
        EXPECT_EQ(info.YResolution, c.ydpi) << c.file;
        EXPECT_EQ(info.Format, 3);
        EXPECT_EQ(info.ViewPerspective, 1);
    }
    _FILEINFO info{};
    EXPECT_EQ(CTIFTools::GetInfoFitxer(Fixture("missing.tif").c_str(), &info), 0);
    EXPECT_EQ(CTIFTools::GetInfoFitxer(Fixture("rgb8.tif").c_str(), nullptr), 0);
    EXPECT_EQ(CTIFTools::GetEspaiTiff(Fixture("cmyk_inks.tif").c_str()), 5);
    EXPECT_EQ(CTIFTools::GetEspaiTiff(Fixture("rgb8.tif").c_str()), 2);
    EXPECT_EQ(CTIFTools::GetEspaiTiff(Fixture("missing.tif").c_str()), 0);
    EXPECT_EQ(CTIFTools::TamanyLinia(10, 1, 4), 4u);
}

TEST(TiffToolsQueries, TiffFormatNumbers)
{
    for (int f = -1; f < 400; ++f) {
        const bool tiff =
            f == 3 || f == 11 || f == 17 || f == 22 || f == 24 || (f >= 85 && f <= 88);
        EXPECT_EQ(Tools::_esTIFF(f), tiff ? 1 : 0) << f;
    }
}

// ---- the object ------------------------------------------------------------------------------

TEST(TiffToolsObject, OpensReadsAndCloses)
{
    CTIFTools t;
    EXPECT_EQ(t.GetStatus(), 0);
    Bytes line(64);
    EXPECT_EQ(t.ReadTIFLine(0, line.data(), 0), -3); // nothing open
    EXPECT_EQ(t.ScanlineSize(), 0u);

    const std::wstring planar = Fixture("rgb8_planar.tif");
    ASSERT_EQ(t.OpenTiff(planar.c_str(), L"rm"), 0);
    EXPECT_NE(t.GetStatus(), 0);
    EXPECT_EQ(t.GetPath().str(), planar);
    ASSERT_EQ(t.ScanlineSize(), 13u);
    Bytes plane0(13), minus1(13), plane2(13);
    ASSERT_EQ(t.ReadTIFLine(3, plane0.data(), 0), 0);
    ASSERT_EQ(t.ReadTIFLine(3, minus1.data(), -1), 0);
    ASSERT_EQ(t.ReadTIFLine(3, plane2.data(), 2), 0);
    EXPECT_EQ(plane0, minus1);
    for (int x = 0; x < 13; ++x) {
        EXPECT_EQ(plane0[x], Sample(x, 3, 0));
        EXPECT_EQ(plane2[x], Sample(x, 3, 2));
    }
    EXPECT_EQ(t.ReadTIFLine(7, plane0.data(), 0), -3); // past the last row
    EXPECT_EQ(t.ReadTIFLine(0, plane0.data(), 3), -3); // no such plane
    EXPECT_EQ(t.ReadTIFLine(0, nullptr, 0), -3);

    // A failed open leaves the earlier path and mode, and no file.
    EXPECT_EQ(t.OpenTiff(Fixture("missing.tif").c_str(), L"rm"), -3);
    EXPECT_EQ(t.GetStatus(), 0);
    EXPECT_EQ(t.GetPath().str(), planar);
    EXPECT_EQ(t.OpenTiff(planar.c_str(), L"w"), -3); // files are only read
    EXPECT_EQ(t.OpenTiff(planar.c_str(), L"r+"), -3);
    EXPECT_EQ(t.CloseTIF(), 0);
    t.DeleteContents();
    EXPECT_TRUE(t.GetPath().IsEmpty());
}

TEST(TiffToolsObject, CopiesHaveTheirOwnHandle)
{
    auto original = std::make_unique<CTIFTools>();
    ASSERT_EQ(original->OpenTiff(Fixture("rgb8.tif").c_str(), L"r"), 0);
    CTIFTools copy(*original);
    CTIFTools assigned;
    assigned = *original;
    original.reset(); // closes only its own handle
    Bytes line(39);
    for (CTIFTools* t : {&copy, &assigned}) {
        ASSERT_NE(t->GetStatus(), 0);
        EXPECT_EQ(t->GetMode().str(), L"r");
        ASSERT_EQ(t->ReadTIFLine(2, line.data(), -1), 0);
        EXPECT_EQ(line[3], Sample(1, 2, 0));
    }
    CTIFTools closed;
    CTIFTools copyOfClosed(closed);
    EXPECT_EQ(copyOfClosed.GetStatus(), 0);
    copy = copy;
    EXPECT_NE(copy.GetStatus(), 0);
}

// ---- the windowed read -----------------------------------------------------------------------

struct WindowRun {
    FakeConsumer consumer;
    int result = 0;
};

void Obrir(WindowRun& r, const std::string& file, int bits, CRect* window, std::size_t lineBytes,
           int readLines = 1, TIndicadorEstat* progress = nullptr)
{
    r.consumer.lineBytes = lineBytes;
    r.result = CTIFTools::ObrirDinamic(Fixture(file).c_str(), &r.consumer, bits, progress, window,
                                       readLines);
}

TEST(TiffToolsWindow, DeliversTheWindowInTheSourceLayout)
{
    const struct {
        const char* file;
        int bits;
        std::vector<int> order; // source samples of each delivered pixel
    } cases[] = {
        {"rgb8.tif", 0, {2, 1, 0}},
        {"rgb8.tif", 24, {2, 1, 0}},
        {"rgb8_planar.tif", 24, {2, 1, 0}},
        {"rgba_assoc.tif", 0, {2, 1, 0}},
        {"rgba_unassoc.tif", 24, {2, 1, 0}},
        {"rgbx_extra_plain.tif", 32, {2, 1, 0}},
        {"grey8.tif", 0, {0}},
        {"cmyk_inks.tif", 0, {0, 1, 2, 3}},
        {"sep6.tif", 32, {0, 1, 2, 3}},
        {"sep6.tif", 0, {0, 1, 2, 3, 4, 5}},
        {"rgb16.tif", 24, {2, 1, 0}},
        {"rgb16_planar.tif", 24, {2, 1, 0}},
        {"sep16.tif", 32, {0, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.bits));
        CRect window(2, 1, 5, 3);
        WindowRun r;
        Obrir(r, c.file, c.bits, &window, 4 * c.order.size());
        ASSERT_EQ(r.result, 0);
        EXPECT_EQ(r.consumer.width, 4);
        EXPECT_EQ(r.consumer.height, 3);
        EXPECT_EQ(r.consumer.dones, 1);
        ASSERT_EQ(r.consumer.lines.size(), 3u);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(r.consumer.lines[i], Expected(1 + i, 2, 5, c.order)) << "row " << 1 + i;
        EXPECT_TRUE(r.consumer.alphaWasNull[0]);
    }
}

TEST(TiffToolsWindow, SurplusSamplesAtNarrowWidths)
{
    // Two and one pixels per row: the surplus sample is dropped from every pixel.
    WindowRun grey;
    Obrir(grey, "ga8_w2.tif", 8, nullptr, 2);
    ASSERT_EQ(grey.result, 0);
    ASSERT_EQ(grey.consumer.lines.size(), 3u);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(grey.consumer.lines[y], Expected(y, 0, 1, {0}));
    WindowRun cmyk;
    Obrir(cmyk, "cmyka_w1.tif", 32, nullptr, 4);
    ASSERT_EQ(cmyk.result, 0);
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(cmyk.consumer.lines[y], Expected(y, 0, 0, {0, 1, 2, 3}));
}

TEST(TiffToolsWindow, SixteenBitSamplesAsWords)
{
    WindowRun r;
    Obrir(r, "rgb16.tif", 0, nullptr, 13 * 6);
    ASSERT_EQ(r.result, 0);
    ASSERT_EQ(r.consumer.lines.size(), 7u);
    std::uint16_t words[3];
    std::memcpy(words, r.consumer.lines[4].data() + 6 * 5, 6);
    EXPECT_EQ(words[0], Sample(5, 4, 2) * 256 + 2);
    EXPECT_EQ(words[1], Sample(5, 4, 1) * 256 + 1);
    EXPECT_EQ(words[2], Sample(5, 4, 0) * 256);
}

TEST(TiffToolsWindow, WindowsAreClippedToTheImage)
{
    CRect partly(10, 5, 40, 90);
    WindowRun r;
    Obrir(r, "rgb8.tif", 24, &partly, 9);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.consumer.width, 3);
    EXPECT_EQ(r.consumer.height, 2);
    ASSERT_EQ(r.consumer.lines.size(), 2u);
    EXPECT_EQ(r.consumer.lines[1], Expected(6, 10, 12, {2, 1, 0}));

    CRect outside(20, 0, 30, 3);
    WindowRun none;
    Obrir(none, "rgb8.tif", 24, &outside, 3);
    EXPECT_EQ(none.result, -3);
    EXPECT_EQ(none.consumer.inits, 0);

    // A consumer that widens the window past the image gets the part inside it.
    struct Widening : FakeConsumer {
        int Init(int w, int h, CRect& region) override
        {
            FakeConsumer::Init(w, h, region);
            region = CRect(-5, 4, 1000, 1000);
            return 0;
        }
    } widening;
    widening.lineBytes = 13 * 3;
    CRect small(1, 1, 2, 2);
    EXPECT_EQ(
        CTIFTools::ObrirDinamic(Fixture("rgb8.tif").c_str(), &widening, 24, nullptr, &small, 1), 0);
    ASSERT_EQ(widening.lines.size(), 3u);
    EXPECT_EQ(widening.lines[0], Expected(4, 0, 12, {2, 1, 0}));
}

TEST(TiffToolsWindow, ResultsFollowTheConsumerAndTheFile)
{
    {
        WindowRun r; // Init answering 0 is success
        r.consumer.initResult = 0;
        Obrir(r, "grey8.tif", 0, nullptr, 13);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.consumer.dones, 1);
    }
    {
        WindowRun r; // a refusal is returned as it is, without Done
        r.consumer.initResult = -7;
        Obrir(r, "grey8.tif", 0, nullptr, 13);
        EXPECT_EQ(r.result, -7);
        EXPECT_EQ(r.consumer.dones, 0);
        EXPECT_TRUE(r.consumer.lines.empty());
    }
    {
        WindowRun r; // the consumer stops after two lines: success
        r.consumer.stopAfter = 2;
        Obrir(r, "grey8.tif", 0, nullptr, 13);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.consumer.lines.size(), 2u);
        EXPECT_EQ(r.consumer.dones, 1);
    }
    {
        WindowRun r; // a file that does not open never reaches Init
        Obrir(r, "missing.tif", 0, nullptr, 13);
        EXPECT_EQ(r.result, -3006);
        EXPECT_EQ(r.consumer.inits, 0);
    }
    {
        WindowRun r; // a truncated strip ends the read with a failure, no garbage, no Done
        Obrir(r, "lzw_truncated.tif", 0, nullptr, 64 * 3);
        EXPECT_EQ(r.result, -3007);
        EXPECT_EQ(r.consumer.dones, 0);
        EXPECT_LT(r.consumer.lines.size(), 64u);
    }
    {
        WindowRun r; // fewer source bytes per pixel than asked: refused, not padded with garbage
        Obrir(r, "grey8.tif", 24, nullptr, 39);
        EXPECT_EQ(r.result, -3016);
        EXPECT_TRUE(r.consumer.lines.empty());
    }
    {
        WindowRun r; // packed depths and a zero read flag: Init and Done only
        Obrir(r, "bilevel.tif", 0, nullptr, 2);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.consumer.dones, 1);
        EXPECT_TRUE(r.consumer.lines.empty());
        WindowRun q;
        Obrir(q, "rgb8.tif", 0, nullptr, 39, 0);
        EXPECT_EQ(q.result, 0);
        EXPECT_TRUE(q.consumer.lines.empty());
    }
    {
        WindowRun r; // found by fuzzing: 612 bytes claiming rows of 2.7 GB are refused
        CRect window(1, 1, 40, 40);
        Obrir(r, "hostile_wide_rows.tif", 8, &window, 40);
        EXPECT_EQ(r.result, -3016);
        EXPECT_EQ(r.consumer.dones, 0);
    }
    EXPECT_EQ(CTIFTools::ObrirDinamic(Fixture("rgb8.tif").c_str(), nullptr, 0, nullptr, nullptr, 1),
              0);
}

class StopAt : public TIndicadorEstat {
public:
    std::vector<double> positions;
    std::size_t stopAfter = 1000;

protected:
    void MostrarPosicio(double pos) override
    {
        positions.push_back(pos);
        if (positions.size() == stopAfter)
            Aturar();
    }
};

TEST(TiffToolsWindow, ProgressEveryTenthRowAndCancel)
{
    StopAt progress;
    progress.SetRang(0.0, 100.0);
    WindowRun r;
    Obrir(r, "grey8_tall.tif", 0, nullptr, 13, 1, &progress);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.consumer.lines.size(), 45u);
    ASSERT_GE(progress.positions.size(), 4u);
    EXPECT_NEAR(progress.positions[progress.positions.size() - 4], 10.0 / 45 * 100, 1e-9);
    EXPECT_NEAR(progress.positions.back(), 40.0 / 45 * 100, 1e-9);

    StopAt cancelling;
    cancelling.stopAfter = 2; // the second report asks to stop
    WindowRun c;
    Obrir(c, "grey8_tall.tif", 0, nullptr, 13, 1, &cancelling);
    EXPECT_EQ(c.result, -5);
    EXPECT_EQ(c.consumer.lines.size(), 20u);
    EXPECT_EQ(c.consumer.dones, 0);
}

} // namespace
