// UTF-8 cuts, string lists, the string table, the language loader and the UI sink.
#include "base/strings.h"
#include "base/texts.h"
#include "base/ui.h"
#include "win/module_resources.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(WideToUTF8, CutsNeverSplitACharacter)
{
    // "a" (1 byte), "é" (2), "€" (3), "😀" (4): 10 bytes in all.
    const wchar_t* text = L"aé€😀";
    struct Case {
        std::size_t limit;
        const char* expected;
    } cases[] = {
        {1, ""},
        {2, "a"},
        {3, "a"}, // é needs 2 bytes + null
        {4, "a\xC3\xA9"},
        {6, "a\xC3\xA9"}, // € needs 3
        {7, "a\xC3\xA9\xE2\x82\xAC"},
        {10, "a\xC3\xA9\xE2\x82\xAC"}, // 😀 needs 4
        {11, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {1024, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        std::vector<char> buf(c.limit + 4, '#');
        const int n = CStringEx::WideToUTF8(text, buf.data(), c.limit);
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected))) << c.limit;
        EXPECT_STREQ(buf.data(), c.expected) << c.limit;
        EXPECT_EQ(buf[c.limit], '#') << "wrote past the limit " << c.limit;
    }
    char b[4] = "xy";
    EXPECT_EQ(CStringEx::WideToUTF8(text, b, 0), -1);
    EXPECT_STREQ(b, "xy");
    EXPECT_EQ(CStringEx::WideToUTF8(text, nullptr, 10), -1);
    EXPECT_EQ(CStringEx::WideToUTF8(nullptr, b, 4), 0);
    EXPECT_STREQ(b, "");
    EXPECT_EQ(CStringEx::WideToUTF8(L"\xD800x"), "\xEF\xBF\xBDx"); // lone surrogate
}

TEST(MultiString, AppendSetAndIndex)
{
    CMultiString a;
    EXPECT_EQ(a.Afegir(L"Dimension"), 0);
    EXPECT_EQ(a.Afegir(nullptr), 1);
    EXPECT_EQ(a.GetCount(), 2);
    EXPECT_STREQ(a.Get(1), L"");
    EXPECT_EQ(a.Get(2), nullptr);
    EXPECT_EQ(a[-1], nullptr);
    CMultiString b;
    EXPECT_EQ(b.Set(a), 1);
    a.Buidar();
    EXPECT_EQ(b.GetCount(), 2);
    EXPECT_STREQ(b[0], L"Dimension");
    EXPECT_EQ(b.Set(L"x\0yy\0\0"), 1);
    ASSERT_EQ(b.GetCount(), 2);
    EXPECT_STREQ(b[1], L"yy");
    CMultiString c(b);
    EXPECT_STREQ(c[0], L"x");
}

TEST(StringTable, LibraryTextsAreExact)
{
    struct Case {
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {22003, L"TIFF Compressé (LZW)"}, {22006, L"Image de LeadTools®"},
        {22019, L"Inconnue (n° %i)"},     {22030, L"Mémoire insuffisante pour  l'opération "},
        {22039, L"Opération annulée "},   {22044, L"Chosissez la Résolution de l'Image:"},
        {22047, L"Échelle de gris"},      {22048, L"Monochrome"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AfxLoadString(c.id), c.text) << c.id;
    std::size_t n = 0;
    const TEntradaText* t = GetTaulaTextosFrancesa(n);
    EXPECT_EQ(n, 36u);
    for (std::size_t i = 1; i < n; ++i)
        EXPECT_LT(t[i - 1].id, t[i].id);
    EXPECT_EQ(AfxLoadString(22002), L""); // an id without text
}

TEST(StringTable, LoadIntoABufferCuts)
{
    wchar_t buf[8];
    EXPECT_EQ(AfxLoadString(22047, buf, 8), 7);
    EXPECT_STREQ(buf, L"Échelle");
    EXPECT_EQ(AfxLoadString(1, buf, 8), 0);
    EXPECT_STREQ(buf, L"");
    EXPECT_EQ(AfxLoadString(22047, nullptr, 8), 0);
    CString s(L"keep");
    EXPECT_EQ(AfxLoadString(7, s), FALSE);
    EXPECT_EQ(s, L"keep");
    EXPECT_EQ(AfxLoadString(22021, s), TRUE);
    EXPECT_EQ(s, L"DPI");
}

TEST(StringTable, FormattingFollowsWideWindowsConventions)
{
    EXPECT_EQ(AfxFormatString(22040u, -85), L"Erreur TWAIN inconnue (-85)");
    EXPECT_EQ(AfxFormatString(22019u, 0), L"Inconnue (n° 0)");
    EXPECT_EQ(AfxFormatString(L"%s: %s", L"DPI", L"300.00 x 300.00 dpi"),
              L"DPI: 300.00 x 300.00 dpi");
    EXPECT_EQ(AfxFormatString(L"%i x %i pxl", 640, 480), L"640 x 480 pxl");
    EXPECT_EQ(AfxFormatString(9u, 1), L"");

    const TEntradaText host[] = {{40001, L"Fichier %1 : %2 (%3)"}};
    HINSTANCE m = WinCreateModule(L"test.placeholders");
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(AfxAfegirTaulaTextos(m, host, 1));
    ASSERT_TRUE(WinRegisterModule(m));
    CString out;
    AfxFormatString2(out, 40001, L"a.tif", nullptr);
    EXPECT_EQ(out, L"Fichier a.tif :  (%3)");
    AfxFormatString1(out, 40001, L"b");
    EXPECT_EQ(out, L"Fichier b : %2 (%3)");
    AfxFormatString1(out, 40002, L"b");
    EXPECT_TRUE(out.IsEmpty());
    WinDestroyModule(m);

    // Mid-June 2000, noon UTC: the same year and month in every time zone.
    EXPECT_EQ(AfxFormatDate(961070400, L"%Y-%m"), L"2000-06");
    EXPECT_EQ(AfxFormatDate(0, L""), L"");
}

TEST(StringTable, TablesInModulesKeepEveryCharacter)
{
    HINSTANCE m = WinCreateModule(L"test.blocks");
    ASSERT_NE(m, nullptr);
    const TEntradaText a[] = {{100, L"cent 😀"}, {101, L"x"}};
    const TEntradaText b[] = {{101, L"cent-un"}, {115, L"fin"}, {116, L"bloc suivant"}};
    ASSERT_TRUE(AfxAfegirTaulaTextos(m, a, 2));
    ASSERT_TRUE(AfxAfegirTaulaTextos(m, b, 3)); // merges into the existing block
    ASSERT_TRUE(WinRegisterModule(m));
    EXPECT_EQ(AfxLoadString(100), L"cent 😀");
    EXPECT_EQ(AfxLoadString(101), L"cent-un");
    EXPECT_EQ(AfxLoadString(115), L"fin");
    EXPECT_EQ(AfxLoadString(116), L"bloc suivant");
    CString viaCString;
    EXPECT_TRUE(viaCString.LoadString(100));
    EXPECT_EQ(viaCString, L"cent 😀");
    const TEntradaText bad[] = {{0, L"zero"}};
    EXPECT_FALSE(AfxAfegirTaulaTextos(m, bad, 1));
    EXPECT_FALSE(AfxAfegirTaulaTextos(nullptr, a, 2));
    WinDestroyModule(m);
}

class Language : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* v : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            const char* old = std::getenv(v);
            m_saved.push_back({v, old ? old : "", old != nullptr});
            ::unsetenv(v);
        }
    }
    void TearDown() override
    {
        for (const Saved& s : m_saved) {
            if (s.had)
                ::setenv(s.name, s.value.c_str(), 1);
            else
                ::unsetenv(s.name);
        }
        CarregarRecursosIdioma(m_own);
        if (m_own)
            WinDestroyModule(m_own);
    }
    struct Saved {
        const char* name;
        std::string value;
        bool had;
    };
    std::vector<Saved> m_saved;
    HINSTANCE m_own = nullptr;
};

TEST_F(Language, PicksARegisteredLanguageAndFallsBackToFrench)
{
    m_own = WinCreateModule(L"libdib-test-own");
    ASSERT_NE(m_own, nullptr);
    const TEntradaText english[] = {{22047, L"Greyscale"}};
    ASSERT_TRUE(AfxRegistrarIdioma("en", english, 1));

    ::setenv("LANG", "en_GB.UTF-8", 1);
    HINSTANCE en = CarregarRecursosIdioma(m_own);
    ASSERT_NE(en, nullptr);
    EXPECT_NE(en, m_own);
    EXPECT_EQ(GetModulIdioma(), en);
    EXPECT_STREQ(WinGetModuleName(en), L"libdib.en");
    EXPECT_EQ(AfxLoadString(22047), L"Greyscale");
    EXPECT_EQ(AfxLoadString(22048), L"Monochrome"); // missing from the translation
    EXPECT_EQ(CarregarRecursosIdioma(m_own), en);   // made once

    ::setenv("LANGUAGE", "fr:en", 1); // French first
    EXPECT_EQ(CarregarRecursosIdioma(m_own), m_own);
    EXPECT_EQ(AfxLoadString(22047), L"Échelle de gris");

    ::setenv("LANGUAGE", "xx_YY", 1);
    ::setenv("LANG", "C", 1);
    EXPECT_EQ(CarregarRecursosIdioma(m_own), m_own);
    // The own module now holds the French table.
    EXPECT_NE(FindResourceW(m_own, MAKEINTRESOURCEW(22047 / 16 + 1), RT_STRING), nullptr);
}

// A scripted sink: answers from a queue and records what it was shown.
class Script : public TInterficieUsuari {
public:
    std::vector<std::wstring> shown;
    std::vector<int> answers;
    HWND lastTextWindow = nullptr;

    int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type, UINT) override
    {
        shown.push_back(std::wstring(caption) + L"|" + text + L"|" + std::to_wstring(type));
        int a = answers.empty() ? IDCANCEL : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return a;
    }
    INT_PTR RunDialog(HWND dialog, UINT templateId) override
    {
        if (templateId != 5290)
            return IDCANCEL;
        HWND list = UiGetDlgItem(dialog, 1000);
        UiListSetSel(list, UiListCount(list) - 1);
        return IDOK;
    }
    void TextCanviat(HWND window, const wchar_t*) override { lastTextWindow = window; }
};

TEST(UserInterface, DefaultAnswers)
{
    struct Case {
        UINT type;
        int answer;
    } cases[] = {
        {MB_OK | MB_ICONERROR, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_YESNO | MB_DEFBUTTON3, IDYES}, // no third button
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_CANCELTRYCONTINUE, IDCANCEL},
        {0xF, IDOK},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RespostaPerDefecte(c.type), c.answer) << c.type;
}

TEST(UserInterface, MessageBoxesWithAndWithoutASink)
{
    ASSERT_EQ(GetInterficieUsuari(), nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(AfxMosaMessageBox(L"ligne 1\nligne 2", MB_YESNO | MB_DEFBUTTON2, 0, L"Titre"), IDNO);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Titre: ligne 1 ligne 2\n");

    Script script;
    script.answers = {IDRETRY};
    EXPECT_EQ(SetInterficieUsuari(&script), nullptr);
    EXPECT_EQ(AfxMosaMessageBox(22034u, MB_RETRYCANCEL | MB_ICONERROR, 7, L"TWAIN"), IDRETRY);
    ASSERT_EQ(script.shown.size(), 1u);
    EXPECT_EQ(script.shown[0], L"TWAIN|Opération non supportée |21");
    EXPECT_EQ(SetInterficieUsuari(nullptr), &script);
}

TEST(UserInterface, DialogWindowsAndTexts)
{
    HWND dlg = UiCrearFinestra(nullptr, 0, L"<Kodak Photo CD>");
    ASSERT_NE(dlg, nullptr);
    HWND label = UiCrearFinestra(dlg, 1001, L"<Seleccione>");
    HWND list = UiCrearFinestra(dlg, 1000, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(UiDoModal(dlg, 5290), IDCANCEL); // no sink: cancel

    EXPECT_TRUE(AfxSetWindowText(dlg, 22043));
    EXPECT_TRUE(AfxSetDlgItemText(dlg, 1001, 22044));
    EXPECT_FALSE(AfxSetDlgItemText(dlg, 1234, 22044));
    EXPECT_FALSE(AfxSetWindowText(dlg, 1));
    EXPECT_EQ(UiGetText(dlg), L"Kodak PhotoCD");
    EXPECT_EQ(UiGetText(label), L"Chosissez la Résolution de l'Image:");

    for (int i : {1, 2, 3}) {
        const int at = UiListAfegir(list, L"item");
        EXPECT_EQ(UiListSetData(list, at, i), 0);
    }
    EXPECT_EQ(UiListSetSel(list, 0), 0);
    EXPECT_EQ(UiListSetSel(list, 3), LB_ERR);

    Script script;
    SetInterficieUsuari(&script);
    EXPECT_EQ(UiDoModal(dlg, 5290), IDOK);
    EXPECT_EQ(UiListGetData(list, UiListGetSel(list)), 3);
    UiSetText(label, L"x");
    EXPECT_EQ(script.lastTextWindow, label);
    SetInterficieUsuari(nullptr);

    EXPECT_TRUE(UiDestruirFinestra(dlg));
    EXPECT_FALSE(UiDestruirFinestra(list)); // went with its dialog
    EXPECT_EQ(UiListCount(list), LB_ERR);
    EXPECT_EQ(UiDoModal(dlg, 5290), IDCANCEL);
    EXPECT_EQ(UiCrearFinestra(dlg, 1, L"orphan"), nullptr);
}

} // namespace
