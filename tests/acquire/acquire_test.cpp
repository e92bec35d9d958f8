// Acquisition through the library: TWAIN- and WIA-shaped scans into a TDib on SANE's test
// backend, the settings store, the messages, the streaming scan to TIFF and the Photo CD
// dialog, each dialog driven by a scripted sink.
#include "../../src/acquire/acquire_internal.h"
#include "support/sane_test_env.h"
#include "support/support.h"

#include <base/registry.h>
#include <base/ui.h>
#include <cstdlib>
#include <cstring>
#include <dib/Acquire.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/library_module.h>
#include <fstream>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <sstream>
#include <tiffio.h>
#include <win/module_resources.h>

DIB_SANE_TEST_LEAK_SUPPRESSIONS()

namespace {

using dib::TDibAccess;
using dibtest::SaneTestEnv;

// Answers choice dialogs from a script (cancel once it runs out) and records what it shows.
class Script : public TInterficieUsuari {
public:
    std::vector<std::wstring> boxes; // "caption|text|type"
    std::vector<int> picks;          // list index to choose, -1 cancel
    std::vector<std::wstring> items; // the items of the last dialog
    std::wstring caption, label;
    UINT templateSeen = 0;
    int rounds = 0;

    int MessageBox(const wchar_t* text, const wchar_t* cap, UINT type, UINT) override
    {
        boxes.push_back(std::wstring(cap ? cap : L"") + L"|" + text + L"|" + std::to_wstring(type));
        return IDOK;
    }
    INT_PTR RunDialog(HWND dialog, UINT templateId) override
    {
        ++rounds;
        templateSeen = templateId;
        caption = UiGetText(dialog);
        label = UiGetText(UiGetDlgItem(dialog, 1001));
        HWND list = UiGetDlgItem(dialog, 1000);
        items.clear();
        for (int i = 0; i < UiListCount(list); ++i)
            items.push_back(UiListText(list, i));
        if (picks.empty())
            return IDCANCEL;
        const int pick = picks.front();
        picks.erase(picks.begin());
        if (pick < 0)
            return IDCANCEL;
        if (pick < 1000)
            UiListSetSel(list, pick);
        return IDOK; // pick >= 1000: OK with the selection as it is
    }
};

class AcquireTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SaneTestEnv::Configure();
        ::setenv("XDG_CONFIG_HOME", tmp.path().c_str(), 1);
        SetInterficieUsuari(&script);
    }
    void TearDown() override { SetInterficieUsuari(nullptr); }
    dibtest::TempDir tmp;
    Script script;
};

std::wstring Box(const std::wstring& text)
{
    return L"|" + text + L"|16";
}

TEST(TwainMessages, CodesToTexts)
{
    struct Case {
        int code;
        const wchar_t* text;
    } cases[] = {
        {-80, L"Échec dû à une cause inconnue"},
        {-81, L"Mémoire insuffisante pour  l'opération "},
        {-82, L"Aucune source de données"},
        {-83, L"DS est connecté au plus grand nombre possible d'apps"},
        {-84, L"DS ou DSM a reporté une erreur"},
        {-86, L"Système de communication non reconnu "},
        {-90, L"Opération annulée "},
        {-566, L"Opération non supportée "},
        {-568, L"Paramètre invalide "},
        {-85, L"Erreur TWAIN inconnue (-85)"},
        {0, L"Erreur TWAIN inconnue (0)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dib::TextErrorTwain(c.code), c.text) << c.code;
}

TEST_F(AcquireTest, SettingsRoundTripThroughTheStore)
{
    DIB_CFGTWAIN c;
    c.EnableUI = 5; // overwritten by the defaults
    EXPECT_EQ(TDib::GetConfigTwain(nullptr, c), 1);
    EXPECT_EQ(c.EnableUI, 1);
    EXPECT_EQ(c.ShowStatus, 1);
    EXPECT_EQ(c.NativeXfer, 1);
    EXPECT_EQ(c.KeepOpen, 0);

    const DIB_CFGTWAIN general{0, 0, 1, 0};
    EXPECT_EQ(TDib::SetConfigTwain(L"", general), 1);
    {
        // A source's key holding only KeepOpen overrides only that value.
        TCarpetaRegistry key(HKEY_CURRENT_USER, L"Software\\Corvane\\Twain\\test:0");
        ASSERT_EQ(key.Obrir(1), 1);
        key.EntraValor(L"KeepOpen", 1);
        ASSERT_EQ(key.Tancar(), 1);
    }
    EXPECT_EQ(TDib::GetConfigTwain(L"test:0", c), 1);
    EXPECT_EQ(std::vector<int>({c.EnableUI, c.ShowStatus, c.NativeXfer, c.KeepOpen}),
              std::vector<int>({0, 0, 1, 1}));

    // Names with ':' and '/' are one key segment; a backslash becomes '_'.
    const DIB_CFGTWAIN own{1, 0, 0, 1};
    EXPECT_EQ(TDib::SetConfigTwain(L"net:host/scanner\\2", own), 1);
    EXPECT_EQ(TDib::GetConfigTwain(L"net:host/scanner\\2", c), 1);
    EXPECT_EQ(std::vector<int>({c.EnableUI, c.ShowStatus, c.NativeXfer, c.KeepOpen}),
              std::vector<int>({1, 0, 0, 1}));
    std::ifstream in(TCarpetaRegistry::GetFitxerMagatzem());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("[Software\\Corvane\\Twain\\net:host/scanner_2]"), std::string::npos)
        << text.str();
    EXPECT_EQ(TDib::GetConfigTwain(L"other", c), 1); // general values only
    EXPECT_EQ(c.KeepOpen, 0);

    // A store that cannot be written: 0.
    ::setenv("XDG_CONFIG_HOME", "/proc/nonexistent", 1);
    EXPECT_EQ(TDib::SetConfigTwain(nullptr, general), 0);
}

TEST_F(AcquireTest, ObrirTwainTakesTheScansFacts)
{
    struct Case {
        std::map<std::string, std::string> conf;
        int bits, space, channels, perChannel;
    } cases[] = {
        {{{"resolution", "300"}, {"br_x", "10"}, {"br_y", "10"}}, 8, 8, 1, 8},
        {{{"mode", "Color"}}, 24, 64, 3, 8},
        {{{"depth", "1"}}, 1, 32, 1, 1},
        {{{"mode", "Color"}, {"depth", "16"}}, 48, 64, 3, 16},
    };
    for (const Case& c : cases) {
        SaneTestEnv::Configure(c.conf);
        TDib image;
        ASSERT_EQ(image.Crear(4, 4, 32), 0); // alpha channel 3, 72 dpi
        ASSERT_EQ(image.ObrirTwain(nullptr, nullptr, nullptr), 0);
        const double dpi = c.conf.count("resolution") ? 300 : 50;
        EXPECT_EQ(image.GetResolucioX(), dpi);
        EXPECT_EQ(image.GetResolucioY(), dpi);
        EXPECT_EQ(image.GetBitsPerPixel(), c.bits);
        EXPECT_EQ(TDibAccess::EspaiColor(image), static_cast<std::uint32_t>(c.space));
        EXPECT_EQ(TDibAccess::Canals(image), static_cast<std::uint32_t>(c.channels));
        EXPECT_EQ(TDibAccess::BitsPerCanal(image), static_cast<std::uint32_t>(c.perChannel));
        EXPECT_EQ(TDibAccess::CanalAlpha(image), -1);
        EXPECT_EQ(TDibAccess::Bitmap(image).ViewPerspective, RK_TOP_LEFT);
    }
    EXPECT_TRUE(script.boxes.empty());
}

TEST_F(AcquireTest, ObrirTwainFailuresShowTheirTextAndLeaveTheImageEmpty)
{
    struct Case {
        const char* what;
        std::map<std::string, std::string> conf;
        bool backend;
        std::wstring source;
        std::wstring box; // empty: silent
    } cases[] = {
        {"unknown source", {}, true, L"nope:0", Box(L"Aucune source de données")},
        {"name too long", {}, true, std::wstring(600, L'x'), Box(L"Paramètre invalide ")},
        {"jammed",
         {{"read-status-code", "\"SANE_STATUS_JAMMED\""}},
         true,
         L"",
         Box(L"DS ou DSM a reporté une erreur")},
        {"cancelled", {{"read-status-code", "\"SANE_STATUS_CANCELLED\""}}, true, L"", L""},
        {"no scanner", {}, false, L"", Box(L"Aucune source de données")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SaneTestEnv::Configure(c.conf, c.backend);
        script.boxes.clear();
        TDib image;
        ASSERT_EQ(image.Crear(8, 8, 24), 0);
        EXPECT_EQ(image.ObrirTwain(nullptr, c.source.c_str(), nullptr), DIB_ERR_FAILED);
        EXPECT_EQ(image.EsBuit(), 1);
        if (c.box.empty()) {
            EXPECT_TRUE(script.boxes.empty());
        } else {
            ASSERT_EQ(script.boxes.size(), 1u);
            EXPECT_NE(script.boxes[0].find(c.box), std::wstring::npos) << script.boxes[0];
        }
    }
}

TEST_F(AcquireTest, NamedSourceAndStoredSettings)
{
    SaneTestEnv::Configure({{"mode", "Color"}});
    TDib image;
    const DIB_CFGTWAIN keep{0, 1, 1, 1}; // flags 0x20
    EXPECT_EQ(TDib::SetConfigTwain(L"test:1", keep), 1);
    EXPECT_EQ(image.ObrirTwain(nullptr, L"test:1", nullptr), 0);
    EXPECT_EQ(image.GetBitsPerPixel(), 24);
    const DIB_CFGTWAIN given{1, 1, 1, 0}; // flags 3
    EXPECT_EQ(image.ObrirTwain(nullptr, L"test:0", &given), 0);
}

TEST_F(AcquireTest, SelectingASource)
{
    script.picks = {-1, 1};
    EXPECT_EQ(TDib::SeleccionarTwain(nullptr), 0); // cancelled: silent
    EXPECT_EQ(TDib::SeleccionarTwain(nullptr), 0);
    EXPECT_EQ(script.items, (std::vector<std::wstring>{L"test:0", L"test:1"}));
    EXPECT_EQ(script.templateSeen, SC_DLG_TWAIN_SOURCE);
    EXPECT_TRUE(script.boxes.empty());
    EXPECT_EQ(TDib::ExisteixTwain(nullptr), 1);

    SaneTestEnv::Configure({}, false);
    EXPECT_EQ(TDib::SeleccionarTwain(nullptr), DIB_ERR_FAILED);
    ASSERT_EQ(script.boxes.size(), 1u);
    EXPECT_NE(script.boxes[0].find(Box(L"Aucune source de données")), std::wstring::npos);
    EXPECT_EQ(TDib::ExisteixTwain(nullptr), SC_ERROR_NO_SOURCE);
}

TEST_F(AcquireTest, OneConnectionPerObject)
{
    TTwainOperation a;
    ASSERT_NE(a.EsBuit(), 0);
    EXPECT_TRUE(a.GetRTTI()->IsDerivedFrom(&TItem::m_rttiTItem));
    TTwainOperation b(a);
    ASSERT_NE(b.EsBuit(), 0);
    EXPECT_NE(a.GetSession(), b.GetSession());
    TTwainOperation* c = a.Duplicar();
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->GetSession(), a.GetSession());
    b = a;
    EXPECT_NE(b.GetSession(), a.GetSession());
    delete c;

    wchar_t name[DIB_TWAIN_NAME_CHARS];
    EXPECT_EQ(a.GetDefaultSource(name), 1);
    EXPECT_STREQ(name, L"test:0");
    EXPECT_EQ(a.GetDefaultSource(nullptr), 0);
    int count = 0;
    EXPECT_EQ(
        a.GetSources([](void* n, _LTWAINSOURCEINFO*, void*) { return ++*static_cast<int*>(n), 1; },
                     &count),
        1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(a.Done(), 0);
    EXPECT_EQ(a.EsBuit(), 0);
    EXPECT_EQ(a.TwainSelect(L"test:0"), 0); // no connection
    _BITMAPHANDLE bm{};
    EXPECT_EQ(a.Acquire(&bm, nullptr, 0), 0);
    EXPECT_EQ(a.GetDefaultSource(name), 0);
}

TEST_F(AcquireTest, ObrirWiaListsDevicesThenScans)
{
    script.picks = {1};
    TDib image;
    EXPECT_EQ(image.ObrirWia(nullptr, L"ignored"), 0);
    ASSERT_EQ(script.boxes.size(), 2u);
    EXPECT_EQ(script.boxes[0], L"Available WIA Devices|Device ID: test:0\nDevice Name: Noname "
                               L"frontend-tester\nDevice Desc.:virtual device|64");
    EXPECT_EQ(script.templateSeen, SC_DLG_WIA_DEVICE);
    EXPECT_EQ(image.GetResolucioX(), 50.0);

    script.boxes.clear();
    EXPECT_EQ(image.ObrirWia(nullptr, nullptr), DIB_ERR_FAILED); // the script cancels
    EXPECT_EQ(image.EsBuit(), 1);
    EXPECT_EQ(script.boxes.size(), 2u);

    TWiaOperation wia;
    _BITMAPHANDLE bm{};
    script.boxes.clear();
    EXPECT_EQ(wia.WiaSelect(L"test:1"), 0);
    EXPECT_EQ(wia.Acquire(&bm, L"test:1"), 0);
    EXPECT_TRUE(script.boxes.empty()); // a named device needs neither list nor choice
    EXPECT_EQ(wia.LastResult(), 1);
    EXPECT_EQ(wia.LastPages(), 1);
    EXPECT_EQ(wia.Acquire(&bm, L"nothing"), 0);
    EXPECT_EQ(wia.LastResult(), SC_ERROR_NO_SOURCE);
    EXPECT_TRUE(bm.Flags & BITMAP_FLAG_ALLOCATED); // as it was
    RkFreeBitmap(&bm);
    TWiaOperation copy(wia); // its own connection: both end cleanly
    EXPECT_EQ(copy.Done(), 0);
}

TEST_F(AcquireTest, PhotoCdDialog)
{
    struct Case {
        std::array<std::int32_t, 6> flags;
        std::vector<int> picks;
        INT_PTR result;
        int chosen;
        std::vector<std::wstring> items;
    } cases[] = {
        {{0, 1, 1, 1, 0, 0}, {1000}, IDOK, 1, {L"192 x 128", L"384 x 256", L"768 x 512"}},
        {{1, 1, 1, 1, 1, 1},
         {5},
         IDOK,
         5,
         {L"96 x 64", L"192 x 128", L"384 x 256", L"768 x 512", L"1536 x 1024", L"3072 x 2048"}},
        {{0, 0, 0, 0, 0, 0}, {1000, 1000, -1}, IDCANCEL, 0, {}}, // OK cannot confirm
        {{1, 0, 0, 0, 0, 1}, {-1}, IDCANCEL, 0, {L"96 x 64", L"3072 x 2048"}},
    };
    for (const Case& c : cases) {
        _PCDINFO info{};
        std::copy(c.flags.begin(), c.flags.end(), info.resolutions);
        CDlgSeleccioPCD dialog(&info, nullptr);
        script.picks = c.picks;
        script.rounds = 0;
        EXPECT_EQ(dialog.DoModal(), c.result);
        EXPECT_EQ(dialog.GetSeleccionat(), c.chosen);
        EXPECT_EQ(script.items, c.items);
        EXPECT_EQ(script.templateSeen, 5290u);
        EXPECT_EQ(script.caption, L"Kodak PhotoCD");
        EXPECT_EQ(script.label, L"Chosissez la Résolution de l'Image:");
        EXPECT_EQ(script.rounds, static_cast<int>(c.picks.size()));
    }
    CDlgSeleccioPCD none;
    SetInterficieUsuari(nullptr);
    EXPECT_EQ(none.DoModal(), IDCANCEL);

    // The template in the library module.
    HRSRC res = FindResourceW(dib::LibraryModule(), MAKEINTRESOURCEW(5290), RT_DIALOG);
    ASSERT_NE(res, nullptr);
    const auto* bytes =
        static_cast<const std::uint8_t*>(LockResource(LoadResource(dib::LibraryModule(), res)));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + 4),
              (std::vector<std::uint8_t>{1, 0, 0xFF, 0xFF}));
    EXPECT_EQ(bytes[16], 4); // four controls
    EXPECT_EQ(bytes[22], 186);
    EXPECT_EQ(bytes[24], 106);
}

// Reads a whole TIFF written by the streaming scan.
struct TiffFacts {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 0, photometric = 0;
    float xres = 0;
    std::vector<std::vector<std::uint8_t>> rows;
};

TiffFacts ReadTiff(const std::string& path)
{
    TiffFacts f;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t)
        return f;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &f.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &f.height);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &f.bits);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &f.samples);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &f.photometric);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &f.xres);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize64(t)));
    for (std::uint32_t y = 0; y < f.height; ++y) {
        if (TIFFReadScanline(t, row.data(), y, 0) != 1)
            break;
        f.rows.push_back(row);
    }
    TIFFClose(t);
    return f;
}

TEST_F(AcquireTest, StreamingScanToTiff)
{
    struct Case {
        std::map<std::string, std::string> conf;
        DIB_SCANSETTINGS settings;
        std::uint16_t bits, samples, photometric;
    } cases[] = {
        {{{"test-picture", "\"Color pattern\""}}, {75, 3, 0}, 16, 3, PHOTOMETRIC_RGB},
        {{{"test-picture", "\"Grid\""}}, {0, 2, 8}, 8, 1, PHOTOMETRIC_MINISBLACK},
        {{{"test-picture", "\"Grid\""}}, {0, 1, 0}, 1, 1, PHOTOMETRIC_MINISWHITE},
        {{{"hand-scanner", "true"}}, {0, 2, 0}, 16, 1, PHOTOMETRIC_MINISBLACK},
    };
    const std::string path = (tmp.path() / "scan.tif").string();
    const std::wstring wpath(path.begin(), path.end());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits * 10 + c.samples);
        SaneTestEnv::Configure(c.conf);
        ASSERT_EQ(TDib::EscanejarATIFF(nullptr, &c.settings, wpath.c_str()), 0)
            << DibGetLastErrorText();
        const TiffFacts f = ReadTiff(path);
        EXPECT_EQ(f.bits, c.bits);
        EXPECT_EQ(f.samples, c.samples);
        EXPECT_EQ(f.photometric, c.photometric);
        EXPECT_GT(f.height, 0u);
        EXPECT_EQ(f.rows.size(), f.height);
        EXPECT_EQ(f.xres, c.settings.resolution ? c.settings.resolution : 50);

        // The same scan through the bitmap route: the same pixels (16 bits: the high bytes).
        if (c.conf.count("hand-scanner"))
            continue;
        DIB_SCANSETTINGS narrow = c.settings;
        if (narrow.bitDepth == 0 && narrow.mode != 1)
            narrow.bitDepth = 16;
        TDib image;
        ASSERT_EQ(image.ObrirEscaner(nullptr, &narrow), 0) << DibGetLastErrorText();
        ASSERT_EQ(static_cast<std::uint32_t>(image.GetMidaY()), f.height);
        std::vector<std::uint8_t> line(static_cast<std::size_t>(image.GetBytesPerLinia()));
        for (std::uint32_t y = 0; y < f.height; y += 17) {
            ASSERT_EQ(image.GetLinia(static_cast<int>(y), line.data(), line.size()), 0);
            for (std::uint32_t x = 0; x < f.width; x += 13) {
                if (c.bits == 1) {
                    const bool tiffBlack = f.rows[y][x / 8] & (0x80 >> (x % 8));
                    const bool dibWhite = line[x / 8] & (0x80 >> (x % 8));
                    EXPECT_NE(tiffBlack, dibWhite);
                } else if (c.samples == 1) {
                    EXPECT_EQ(f.rows[y][x], line[x]);
                } else {
                    std::uint16_t r;
                    std::memcpy(&r, &f.rows[y][x * 6], 2);
                    std::uint16_t red48;
                    std::memcpy(&red48, &line[x * 6 + 4], 2); // bitmap: blue, green, red
                    EXPECT_EQ(r, red48);
                }
            }
        }
    }
    // A failed scan leaves no file; bad arguments are refused before scanning.
    SaneTestEnv::Configure({{"read-status-code", "\"SANE_STATUS_JAMMED\""}});
    std::filesystem::remove(path);
    EXPECT_EQ(TDib::EscanejarATIFF(nullptr, nullptr, wpath.c_str()), DIB_ERR_FAILED);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(TDib::EscanejarATIFF(nullptr, nullptr, nullptr), DIB_ERR_INVALID);
    EXPECT_EQ(TDib::EscanejarATIFF(L"nope", nullptr, wpath.c_str()), DIB_ERR_INVALID);
    const DIB_SCANSETTINGS bad{0, 7, 0};
    EXPECT_EQ(TDib::EscanejarATIFF(nullptr, &bad, wpath.c_str()), DIB_ERR_INVALID);
}

} // namespace
