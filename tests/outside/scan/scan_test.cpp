// Scanner sessions against SANE's test backend, checked against what scanimage (an independent
// frontend) reads from the same configuration.
#include "support/sane_test_env.h"

#include <base/ui.h>
#include <core/last_error.h>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <scan/scan.h>
#include <string>
#include <vector>
#include <win/global_memory.h>

DIB_SANE_TEST_LEAK_SUPPRESSIONS()

namespace {

using dibtest::SaneTestEnv;

// A PNM image as scanimage writes it (P4, P5, P6; 16-bit samples big-endian).
struct Pnm {
    char kind = 0;
    int width = 0, height = 0, maxval = 1;
    std::vector<std::uint8_t> data;
};

Pnm ReadScanimage(const std::string& args);

// scanimage now and then stalls on the test backend's multi-pass frames on a loaded machine
// (its own reader, not ours): a reference that came back empty is asked for again.
Pnm RunScanimage(const std::string& args)
{
    Pnm out;
    for (int attempt = 0; attempt < 3 && out.width == 0; ++attempt)
        out = ReadScanimage(args);
    return out;
}

Pnm ReadScanimage(const std::string& args)
{
    const std::string cmd = "SANE_CONFIG_DIR='" + SaneTestEnv::Dir().string() +
                            "' timeout 20 scanimage --format=pnm " + args + " 2>/dev/null";
    Pnm out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return out;
    std::vector<std::uint8_t> all;
    std::uint8_t buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        all.insert(all.end(), buf, buf + n);
    ::pclose(p);
    std::size_t at = 0;
    auto token = [&]() {
        std::string t;
        while (at < all.size()) {
            if (all[at] == '#') {
                while (at < all.size() && all[at] != '\n')
                    ++at;
            } else if (std::isspace(all[at])) {
                if (!t.empty())
                    break;
                ++at;
            } else {
                t += static_cast<char>(all[at++]);
            }
        }
        return t;
    };
    const std::string magic = token();
    if (magic.size() != 2 || magic[0] != 'P')
        return out;
    out.kind = magic[1];
    out.width = std::stoi(token());
    out.height = std::stoi(token());
    if (out.kind != '4')
        out.maxval = std::stoi(token());
    ++at; // the single white-space byte before the samples
    out.data.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(at, all.size())), all.end());
    return out;
}

// The expected bitmap row y from a PNM (bitmap layout of the stand-in).
std::vector<std::uint8_t> ExpectedRow(const Pnm& pnm, int y, int bits)
{
    const std::size_t w = static_cast<std::size_t>(pnm.width);
    std::vector<std::uint8_t> row;
    if (pnm.kind == '4') {
        const std::size_t n = (w + 7) / 8;
        for (std::size_t i = 0; i < n; ++i)
            row.push_back(static_cast<std::uint8_t>(~pnm.data[y * n + i]));
        if (w % 8)
            row.back() |= static_cast<std::uint8_t>(0xFF >> (w % 8)); // padding bits
        return row;
    }
    const std::size_t channels = pnm.kind == '6' ? 3 : 1;
    const std::size_t sample = pnm.maxval > 255 ? 2 : 1;
    const std::uint8_t* src = pnm.data.data() + y * w * channels * sample;
    for (std::size_t x = 0; x < w; ++x) {
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t from = channels == 3 ? 2 - c : c; // blue-green-red
            const std::uint8_t* s = src + (x * channels + from) * sample;
            if (bits == 8 || bits == 24) {
                row.push_back(s[0]);
            } else { // 48 bits: host-order 16-bit samples
                const std::uint16_t v = static_cast<std::uint16_t>(s[0] << 8 | s[1]);
                std::uint8_t b[2];
                std::memcpy(b, &v, 2);
                row.push_back(b[0]);
                row.push_back(b[1]);
            }
        }
    }
    return row;
}

class Session {
public:
    Session()
    {
        SCTWAINAPPDATA app{};
        app.uStructSize = SC_TWAIN_APPDATA_SIZE;
        status = ScTwainStartSession(&handle, &app);
    }
    ~Session()
    {
        if (handle)
            ScTwainEndSession(&handle);
    }
    HSCTWAINSESSION handle = nullptr;
    int status = 0;
};

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override { SaneTestEnv::Configure(); }
    void TearDown() override
    {
        RkFreeBitmap(&bitmap);
        ScSetTimeoutMs(0);
    }
    _BITMAPHANDLE bitmap{};
};

int Collect(void*, _LTWAINSOURCEINFO* info, void* user)
{
    static_cast<std::vector<std::wstring>*>(user)->push_back(info->pszTwnSourceName);
    return 1;
}

TEST_F(ScanTest, SourcesListingAndSelection)
{
    Session s;
    ASSERT_EQ(s.status, SC_SUCCESS);
    std::vector<std::wstring> all, def;
    EXPECT_EQ(ScTwainGetSources(s.handle, Collect, 32, SC_SOURCES_ALL, &all), SC_SUCCESS);
    EXPECT_EQ(all, (std::vector<std::wstring>{L"test:0", L"test:1"}));
    EXPECT_EQ(ScTwainGetSources(s.handle, Collect, 32, SC_SOURCES_DEFAULT, &def), SC_SUCCESS);
    EXPECT_EQ(def, std::vector<std::wstring>{L"test:0"});

    struct Case {
        const wchar_t* name;
        std::uint32_t size;
        int result;
    } cases[] = {
        {L"test:1", 12, SC_SUCCESS},
        {L"test:7", 12, SC_ERROR_NO_SOURCE},
        {L"", 12, SC_ERROR_INVALID_VALUE},
        {L"test:0", 16, SC_ERROR_INVALID_VALUE},
    };
    for (const Case& c : cases) {
        const SCTWAINSOURCE src{c.size, c.name};
        EXPECT_EQ(ScTwainSelectSource(s.handle, &src), c.result) << c.name;
    }
    def.clear();
    EXPECT_EQ(ScTwainGetSources(s.handle, Collect, 32, SC_SOURCES_DEFAULT, &def), SC_SUCCESS);
    EXPECT_EQ(def, std::vector<std::wstring>{L"test:1"}); // failed selections changed nothing

    auto stop = [](void*, _LTWAINSOURCEINFO*, void*) { return 0; };
    EXPECT_EQ(ScTwainGetSources(s.handle, stop, 32, SC_SOURCES_ALL, nullptr), SC_ERROR_CANCELLED);
    EXPECT_EQ(ScTwainGetSources(s.handle, Collect, 28, SC_SOURCES_ALL, &all),
              SC_ERROR_INVALID_VALUE);
    EXPECT_EQ(ScTwainGetSources(nullptr, Collect, 32, SC_SOURCES_ALL, &all), SC_ERROR_BAD_PROTOCOL);
}

TEST_F(ScanTest, NoDeviceAtAll)
{
    SaneTestEnv::Configure({}, false);
    EXPECT_EQ(ScTwainIsAvailable(nullptr), SC_ERROR_NO_SOURCE);
    Session s;
    ASSERT_EQ(s.status, SC_SUCCESS);
    EXPECT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), SC_ERROR_NO_SOURCE);
    EXPECT_EQ(ScTwainSelectSource(s.handle, nullptr), SC_ERROR_NO_SOURCE);
}

// Choice requests: the sink picks an item or cancels.
class Chooser : public TInterficieUsuari {
public:
    int pick = -1; // -1: cancel
    UINT templateSeen = 0;
    std::vector<std::wstring> items;
    int MessageBox(const wchar_t*, const wchar_t*, UINT, UINT) override { return IDOK; }
    INT_PTR RunDialog(HWND dialog, UINT templateId) override
    {
        templateSeen = templateId;
        HWND list = UiGetDlgItem(dialog, SC_DLG_LIST);
        for (int i = 0; i < UiListCount(list); ++i)
            items.push_back(UiListText(list, i));
        if (pick < 0)
            return IDCANCEL;
        UiListSetSel(list, pick);
        return IDOK;
    }
};

TEST_F(ScanTest, ChoiceThroughTheSink)
{
    Session s;
    Chooser chooser;
    SetInterficieUsuari(&chooser);
    EXPECT_EQ(ScTwainSelectSource(s.handle, nullptr), SC_ERROR_CANCELLED);
    EXPECT_EQ(chooser.templateSeen, SC_DLG_TWAIN_SOURCE);
    EXPECT_EQ(chooser.items, (std::vector<std::wstring>{L"test:0", L"test:1"}));
    chooser.pick = 1;
    EXPECT_EQ(ScTwainSelectSource(s.handle, nullptr), SC_SUCCESS);
    std::vector<std::wstring> def;
    ScTwainGetSources(s.handle, Collect, 32, SC_SOURCES_DEFAULT, &def);
    EXPECT_EQ(def, std::vector<std::wstring>{L"test:1"});
    SetInterficieUsuari(nullptr);
    EXPECT_EQ(ScTwainSelectSource(s.handle, nullptr), SC_ERROR_CANCELLED); // no sink
}

// Scans compared with scanimage's reading of the same configuration, row by row.
TEST_F(ScanTest, PicturesMatchAnIndependentFrontend)
{
    struct Case {
        const char* what;
        std::map<std::string, std::string> conf;
        int bits;
        const char* scanimageArgs;
    } cases[] = {
        {"grey black", {}, 8, ""},
        {"grey grid", {{"test-picture", "\"Grid\""}}, 8, ""},
        {"line art grid", {{"test-picture", "\"Grid\""}, {"depth", "1"}}, 1, ""},
        {"colour pattern", {{"test-picture", "\"Color pattern\""}, {"mode", "Color"}}, 24, ""},
        {"colour 16 bits",
         {{"test-picture", "\"Color pattern\""}, {"mode", "Color"}, {"depth", "16"}},
         48,
         ""},
        {"grey 16 bits", {{"test-picture", "\"Grid\""}, {"depth", "16"}}, 8, ""},
        // Lines carry 7 pixels more than they hold: the picture is the one without the loss,
        // cut (scanimage's own output is not a reference: it keeps the extra bytes).
        {"ppl loss", {{"test-picture", "\"Color pattern\""}, {"ppl-loss", "7"}}, 8, ""},
        {"fuzzy parameters",
         {{"test-picture", "\"Grid\""}, {"fuzzy-parameters", "true"}, {"resolution", "75"}},
         8,
         ""},
        {"three-pass",
         {{"test-picture", "\"Color pattern\""},
          {"mode", "Color"},
          {"three-pass", "true"},
          {"three-pass-order", "GBR"}},
         24,
         ""},
        {"read limit",
         {{"test-picture", "\"Grid\""}, {"read-limit", "true"}, {"read-limit-size", "333"}},
         8,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<std::string, std::string> conf = c.conf;
        const int loss = conf.count("ppl-loss") ? std::stoi(conf["ppl-loss"]) : 0;
        conf.erase("ppl-loss");
        SaneTestEnv::Configure(conf);
        const Pnm ref = RunScanimage(std::string("-d test:0 ") + c.scanimageArgs);
        ASSERT_GT(ref.width, 0) << "scanimage read nothing";
        SaneTestEnv::Configure(c.conf);
        Session s;
        ASSERT_EQ(s.status, SC_SUCCESS);
        ASSERT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), SC_SUCCESS)
            << core::GetLastErrorText();
        EXPECT_EQ(bitmap.Width, ref.width - loss);
        ASSERT_EQ(bitmap.Height, ref.height);
        EXPECT_EQ(bitmap.BitsPerPixel, c.bits);
        EXPECT_EQ(bitmap.ViewPerspective, RK_TOP_LEFT);
        const int dpi = c.conf.count("resolution") ? std::stoi(c.conf.at("resolution")) : 50;
        EXPECT_EQ(bitmap.XResolution, dpi);
        if (c.bits == 1) {
            tagRGBQUAD pal[2];
            ASSERT_GT(RkGetBitmapColors(&bitmap, 0, 2, pal), 0);
            EXPECT_EQ(pal[0].rgbRed, 0);
            EXPECT_EQ(pal[1].rgbRed, 255);
        }
        std::vector<std::uint8_t> row(static_cast<std::size_t>(bitmap.BytesPerLine));
        int mismatches = 0;
        for (int y = 0; y < ref.height && mismatches < 3; ++y) {
            std::vector<std::uint8_t> want = ExpectedRow(ref, y, c.bits);
            want.resize(want.size() - static_cast<std::size_t>(loss)); // 8-bit grey only
            ASSERT_GT(RkGetBitmapRow(&bitmap, row.data(), y, want.size()), 0);
            if (c.bits == 1 && ref.width % 8) // padding bits of the last byte are free
                row[want.size() - 1] |= static_cast<std::uint8_t>(0xFF >> (ref.width % 8));
            if (!std::equal(want.begin(), want.end(), row.begin())) {
                ADD_FAILURE() << "row " << y << " differs";
                ++mismatches;
            }
        }
        RkFreeBitmap(&bitmap);
    }
}

TEST_F(ScanTest, PropertiesMapOntoOptions)
{
    SaneTestEnv::Configure({{"test-picture", "\"Solid white\""}});
    Session s;
    _LTWAINPROPERTIES p{};
    ASSERT_EQ(ScTwainGetProperties(s.handle, &p, SC_TWAIN_PROPERTIES_SIZE, 0), SC_SUCCESS);
    EXPECT_EQ(p.nMinResolution, 1);
    EXPECT_EQ(p.nMaxResolution, 1200);
    EXPECT_DOUBLE_EQ(p.dMaxWidth, 200.0);

    struct Case {
        int dpi, pixel, depth;
        double l, t, r, b;
        int result, bits, width, height;
    } cases[] = {
        // The test device keeps whole millimetres: 127 mm at 100 dpi is 500 pixels.
        {100, SC_PIXEL_COLOUR, 8, 0, 0, 127, 101.6, SC_SUCCESS, 24, 500, 401}, // 102 mm
        {254, SC_PIXEL_LINEART, 0, 10, 20, 20, 30, SC_SUCCESS, 1, 100, 100},
        {127, SC_PIXEL_GREY, 16, 0, 0, 10, 20, SC_SUCCESS, 8, 50, 100},
        {30, SC_PIXEL_GREY, 8, -1, 0, 0, 0, SC_SUCCESS, 8, 11, 23}, // area as it was
        {5000, SC_PIXEL_GREY, 8, -1, 0, 0, 0, SC_ERROR_INVALID_VALUE, 0, 0, 0},
        {50, SC_PIXEL_GREY, 8, 0, 0, 500, 500, SC_ERROR_INVALID_VALUE, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        _LTWAINPROPERTIES q{};
        q.uStructSize = SC_TWAIN_PROPERTIES_SIZE;
        q.nResolution = c.dpi;
        q.nPixelType = c.pixel;
        q.nBitDepth = c.depth;
        q.dLeft = c.l, q.dTop = c.t, q.dRight = c.r, q.dBottom = c.b;
        ASSERT_EQ(ScTwainSetProperties(s.handle, &q, SC_PROPERTIES_SET), SC_SUCCESS);
        EXPECT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), c.result);
        if (c.result != SC_SUCCESS) {
            EXPECT_FALSE(bitmap.Flags & BITMAP_FLAG_ALLOCATED);
            continue;
        }
        EXPECT_EQ(bitmap.BitsPerPixel, c.bits);
        EXPECT_EQ(bitmap.Width, c.width);
        EXPECT_EQ(bitmap.Height, c.height);
        EXPECT_EQ(RkGetPixelColor(&bitmap, 0, 0), 0xFFFFFFu & RGB(255, 255, 255));
    }
    _LTWAINPROPERTIES bad{};
    bad.uStructSize = SC_TWAIN_PROPERTIES_SIZE;
    bad.nPixelType = 9;
    EXPECT_EQ(ScTwainSetProperties(s.handle, &bad, SC_PROPERTIES_SET), SC_ERROR_INVALID_VALUE);
    bad.nPixelType = 0;
    bad.uStructSize = 100;
    EXPECT_EQ(ScTwainSetProperties(s.handle, &bad, SC_PROPERTIES_SET), SC_ERROR_INVALID_VALUE);
    EXPECT_EQ(ScTwainSetProperties(s.handle, nullptr, SC_PROPERTIES_RESET), SC_SUCCESS);
    ASSERT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), SC_SUCCESS);
    EXPECT_EQ(bitmap.XResolution, 50); // the device's own settings again
}

TEST_F(ScanTest, DeviceErrorsMapAndLeaveNoBitmap)
{
    struct Case {
        const char* status;
        int result;
    } cases[] = {
        {"\"SANE_STATUS_JAMMED\"", SC_ERROR_OPERATION},
        {"\"SANE_STATUS_COVER_OPEN\"", SC_ERROR_OPERATION},
        {"\"SANE_STATUS_NO_MEM\"", SC_ERROR_LOW_MEMORY},
        {"\"SANE_STATUS_DEVICE_BUSY\"", SC_ERROR_MAX_CONNECTIONS},
        {"\"SANE_STATUS_CANCELLED\"", SC_ERROR_CANCELLED},
        {"\"SANE_STATUS_UNSUPPORTED\"", SC_ERROR_UNSUPPORTED},
        {"\"SANE_STATUS_INVAL\"", SC_ERROR_INVALID_VALUE},
        {"\"SANE_STATUS_ACCESS_DENIED\"", SC_ERROR_OPERATION},
        {"\"SANE_STATUS_EOF\"", SC_ERROR_OPERATION}, // no rows at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        SaneTestEnv::Configure({{"read-status-code", c.status}});
        Session s;
        EXPECT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), c.result);
        EXPECT_FALSE(bitmap.Flags & BITMAP_FLAG_ALLOCATED);
        EXPECT_STRNE(core::GetLastErrorText(), "");
    }
}

TEST_F(ScanTest, HandScannerHeightComesFromTheData)
{
    SaneTestEnv::Configure({{"hand-scanner", "true"}, {"test-picture", "\"Grid\""}});
    Session s;
    ASSERT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), SC_SUCCESS);
    EXPECT_EQ(bitmap.Width, 216); // 11 cm at 50 dpi
    EXPECT_GT(bitmap.Height, 0);
}

TEST_F(ScanTest, StalledScanIsCancelledByTheTimeout)
{
    SaneTestEnv::Configure(
        {{"read-delay", "true"}, {"read-delay-duration", "200000"}, {"resolution", "600"}});
    Session s;
    ASSERT_EQ(s.status, SC_SUCCESS);
    // Selected first, so that the short bound below falls on the scan, not on the listing.
    const SCTWAINSOURCE src{SC_TWAIN_SOURCE_SIZE, L"test:0"};
    ASSERT_EQ(ScTwainSelectSource(s.handle, &src), SC_SUCCESS);
    ScSetTimeoutMs(120);
    EXPECT_EQ(ScTwainAcquire(s.handle, &bitmap, BITMAPHANDLE_SIZE, 0), SC_ERROR_CANCELLED);
    ScSetTimeoutMs(0); // ending the session is bounded by the usual time
    EXPECT_NE(std::strstr(core::GetLastErrorText(), "no data"), nullptr);
    EXPECT_FALSE(bitmap.Flags & BITMAP_FLAG_ALLOCATED);
}

TEST_F(ScanTest, CapabilityOnlyNativeTransfer)
{
    Session s;
    HGLOBAL h = GlobalAlloc(GHND, 6);
    auto* bytes = static_cast<std::uint8_t*>(GlobalLock(h));
    const std::uint16_t type = SC_TWTY_UINT16;
    std::memcpy(bytes, &type, 2);
    GlobalUnlock(h);
    SCTWAINCAPABILITY cap{SC_ICAP_XFERMECH, SC_TWON_ONEVALUE, h};
    EXPECT_EQ(ScTwainStartCapsNeg(s.handle), SC_SUCCESS);
    EXPECT_EQ(ScTwainSetCapability(s.handle, &cap, SC_CAP_SET), SC_SUCCESS);
    cap.Cap = 0x0101;
    EXPECT_EQ(ScTwainSetCapability(s.handle, &cap, SC_CAP_SET), SC_ERROR_UNSUPPORTED);
    cap.hContainer = nullptr;
    EXPECT_EQ(ScTwainSetCapability(s.handle, &cap, SC_CAP_SET), SC_ERROR_INVALID_VALUE);
    EXPECT_EQ(ScTwainEndCapsNeg(s.handle), SC_SUCCESS);
    GlobalFree(h);
}

struct Pages {
    std::vector<int> heights;
    int stopAfter = 1000;
};

int OnPage(void*, _BITMAPHANDLE* page, void* user)
{
    auto* p = static_cast<Pages*>(user);
    p->heights.push_back(page->Height);
    return static_cast<int>(p->heights.size()) < p->stopAfter ? 1 : 0;
}

TEST_F(ScanTest, WiaFeederRunsEmpty)
{
    HSCWIASESSION w = nullptr;
    ASSERT_EQ(ScWiaStartSession(2, &w), SC_SUCCESS);
    std::vector<std::wstring> ids;
    auto collect = [](void*, SCWIADEVICEINFO* info, void* user) {
        static_cast<std::vector<std::wstring>*>(user)->push_back(info->pszDeviceId);
        return 1;
    };
    EXPECT_EQ(ScWiaEnumDevices(w, collect, &ids), SC_SUCCESS);
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(ScWiaSelectDevice(w, L"test:1"), SC_SUCCESS);
    EXPECT_EQ(ScWiaSelectDevice(w, L"nothing"), SC_ERROR_NO_SOURCE);

    Pages flatbed;
    EXPECT_EQ(ScWiaAcquire(w, nullptr, 7, OnPage, &flatbed), SC_SUCCESS);
    EXPECT_EQ(flatbed.heights.size(), 1u);

    _LTWAINPROPERTIES p{};
    p.uStructSize = SC_TWAIN_PROPERTIES_SIZE;
    p.nFeeder = SC_FEEDER_ADF;
    ASSERT_EQ(ScWiaSetProperties(w, &p, SC_PROPERTIES_SET), SC_SUCCESS);
    Pages stopped;
    stopped.stopAfter = 2;
    EXPECT_EQ(ScWiaAcquire(w, nullptr, 7, OnPage, &stopped), SC_ERROR_CANCELLED);
    EXPECT_EQ(stopped.heights.size(), 2u);
    Pages feeder;
    EXPECT_EQ(ScWiaAcquire(w, nullptr, 7, OnPage, &feeder), SC_SUCCESS);
    EXPECT_EQ(feeder.heights.size(), 10u); // the test feeder holds ten sheets per opening
    EXPECT_EQ(ScWiaEndSession(&w), SC_SUCCESS);
    EXPECT_EQ(w, nullptr);
}

} // namespace
