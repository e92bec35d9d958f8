// Settings store: values across reopenings, sub-folders, concurrent and killed writers.
#include "base/registry.h"
#include "base/registry_internal.h"
#include "support/support.h"
#include "win/files.h"

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_old = old ? old : "";
        m_had = old != nullptr;
        ::setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_had)
            ::setenv("XDG_CONFIG_HOME", m_old.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string StoreText() const
    {
        std::ifstream in(TCarpetaRegistry::GetFitxerMagatzem());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    dibtest::TempDir m_dir;
    std::string m_old;
    bool m_had = false;
};

const wchar_t* const kTwain = L"Software\\Corvane\\Twain";

TEST_F(Registry, MissingKeyGivesDefaults)
{
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    EXPECT_EQ(k.Obrir(0), 0);
    int v = 5;
    unsigned long u = 5;
    EXPECT_EQ(k.TornaValor(L"EnableUI", v, 1), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(k.TornaValor(L"FlagsImpressio", u, 40), 0);
    EXPECT_EQ(u, 40u);
    EXPECT_EQ(k.EntraValor(L"EnableUI", 1), 0); // not open for writing
}

TEST_F(Registry, ValuesSurviveReopeningAndCaseIsIgnored)
{
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        EXPECT_EQ(k.EntraValor(L"EnableUI", 0), 1);
        EXPECT_EQ(k.EntraValor(L"KeepOpen", 0xFFFFFFFFu), 1);
        EXPECT_EQ(k.EntraText(L"Nom = [x]%", L"scanner\nà l'étage"), 1);
        int v = 9;
        EXPECT_EQ(k.TornaValor(L"enableui", v, 1), 1); // own writes are visible at once
        EXPECT_EQ(v, 0);
        ASSERT_EQ(k.Tancar(), 1);
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, L"software\\\\CORVANE\\twain\\");
    ASSERT_EQ(k.Obrir(0), 1);
    int v = 9;
    unsigned long u = 0;
    std::wstring s;
    EXPECT_EQ(k.TornaValor(L"ENABLEUI", v, 1), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(k.TornaValor(L"KeepOpen", u, 0), 1);
    EXPECT_EQ(u, 0xFFFFFFFFul);
    EXPECT_EQ(k.TornaValor(L"KeepOpen", v, 0), 1);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(k.TornaText(L"Nom = [x]%", s, nullptr), 1);
    EXPECT_EQ(s, L"scanner\nà l'étage");
    EXPECT_EQ(k.TornaValor(L"Nom = [x]%", v, 3), 0); // a text is no dword
    EXPECT_EQ(v, 3);
    EXPECT_EQ(StoreText().find("[Software\\Corvane\\Twain]"), StoreText().find('['));
}

TEST_F(Registry, SubFoldersAndTheApplicationKey)
{
    TCarpetaRegistry::SetNomAplicacio(L"Visor");
    EXPECT_EQ(TCarpetaRegistry::GetClauAplicacio(), L"Software\\Visor");
    TCarpetaRegistry app(HKEY_CURRENT_USER, TCarpetaRegistry::GetClauAplicacio().c_str());
    TCarpetaRegistry dib(app, L"DIB");
    EXPECT_EQ(dib.GetPath(), L"Software\\Visor\\DIB");
    ASSERT_EQ(dib.Obrir(1), 1);
    dib.EntraValor(L"ModeImpressio", 1);
    ASSERT_EQ(dib.Tancar(), 1);
    // Opening for writing without values still creates the key.
    TCarpetaRegistry source(TCarpetaRegistry(HKEY_CURRENT_USER, kTwain), L"Scanner X");
    ASSERT_EQ(source.Obrir(1), 1);
    ASSERT_EQ(source.Tancar(), 1);
    EXPECT_EQ(source.Obrir(0), 1);
    EXPECT_EQ(app.Obrir(0), 0); // the parent key holds nothing of its own
    TCarpetaRegistry::SetNomAplicacio(L"Suite\\Visor/2");
    EXPECT_EQ(TCarpetaRegistry::GetClauAplicacio(), L"Software\\Suite_Visor_2");
    TCarpetaRegistry::SetNomAplicacio(nullptr);
    EXPECT_FALSE(TCarpetaRegistry::GetNomAplicacio().empty());

    TCarpetaRegistry other(reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u}), L"Software");
    EXPECT_EQ(other.Obrir(1), 0);
    TCarpetaRegistry nullPath(HKEY_CURRENT_USER, nullptr);
    EXPECT_EQ(nullPath.Obrir(1), 0);
    TCarpetaRegistry bad(HKEY_CURRENT_USER, kTwain);
    EXPECT_EQ(bad.Obrir(2), 0);
}

TEST_F(Registry, DamagedLinesCostOnlyThemselves)
{
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        k.EntraValor(L"A", 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    {
        std::ofstream out(TCarpetaRegistry::GetFitxerMagatzem(), std::ios::app);
        out << "garbage line\nB=dword:99999999999\nC=dword:-1\nD=qword:1\nE=dword:7\n[\n";
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(0), 1);
    int v = 0;
    EXPECT_EQ(k.TornaValor(L"A", v, 0), 1);
    EXPECT_EQ(k.TornaValor(L"B", v, 0), 0);
    EXPECT_EQ(k.TornaValor(L"C", v, 0), 0);
    EXPECT_EQ(k.TornaValor(L"D", v, 0), 0);
    EXPECT_EQ(k.TornaValor(L"E", v, 0), 1);
    EXPECT_EQ(v, 7);
}

TEST_F(Registry, NamesThatLookLikeSyntaxRoundTrip)
{
    const wchar_t* const names[] = {L";comment", L"#hash", L"[x]", L"a=b", L"100%", L" lead"};
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, L"Software\\;Key\\#Sub");
        ASSERT_EQ(k.Obrir(1), 1);
        std::uint32_t n = 1;
        for (const wchar_t* name : names)
            EXPECT_EQ(k.EntraValor(name, n++), 1) << name;
        ASSERT_EQ(k.Tancar(), 1);
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, L"Software\\;Key\\#Sub");
    ASSERT_EQ(k.Obrir(0), 1);
    int expected = 1;
    for (const wchar_t* name : names) {
        int v = 0;
        EXPECT_EQ(k.TornaValor(name, v, 0), 1) << name;
        EXPECT_EQ(v, expected++) << name;
    }
}

// A store of a few hundred thousand keys and values is read in linear time (a quadratic
// reader does not finish within the test's time limit).
TEST_F(Registry, LargeStoreIsReadInLinearTime)
{
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    {
        std::ofstream out(TCarpetaRegistry::GetFitxerMagatzem(), std::ios::app);
        for (int i = 0; i < 100000; ++i)
            out << "[K" << i << "]\n";
        out << "[Software\\Corvane\\Twain]\n";
        for (int i = 0; i < 100000; ++i)
            out << "V" << i << "=dword:" << i << "\n";
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(0), 1);
    int v = 0;
    EXPECT_EQ(k.TornaValor(L"v99999", v, 0), 1);
    EXPECT_EQ(v, 99999);
    EXPECT_EQ(TCarpetaRegistry(HKEY_CURRENT_USER, L"k77").Obrir(0), 1);
}

// Something other than a file at the store's path (here a FIFO nobody writes to) is an
// unreadable store: refused at once, never waited on.
TEST_F(Registry, StoreThatIsNoFileIsRefused)
{
    const std::string file = TCarpetaRegistry::GetFitxerMagatzem();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    EXPECT_EQ(k.Obrir(0), 0);
    EXPECT_EQ(k.Obrir(1), 0);
}

TEST_F(Registry, OversizedStoreIsLeftAlone)
{
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    {
        std::ofstream out(TCarpetaRegistry::GetFitxerMagatzem(), std::ios::app);
        out << std::string(17u << 20, ';');
    }
    const std::uintmax_t size = std::filesystem::file_size(TCarpetaRegistry::GetFitxerMagatzem());
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    EXPECT_EQ(k.Obrir(0), 0);
    EXPECT_EQ(k.Obrir(1), 0);
    EXPECT_EQ(std::filesystem::file_size(TCarpetaRegistry::GetFitxerMagatzem()), size);
}

TEST_F(Registry, SlashesBelongToKeyNames)
{
    TCarpetaRegistry twain(HKEY_CURRENT_USER, kTwain);
    TCarpetaRegistry source(twain, L"Scanner A/B");
    ASSERT_EQ(source.Obrir(1), 1);
    ASSERT_EQ(source.Tancar(), 1);
    EXPECT_EQ(
        TCarpetaRegistry(HKEY_CURRENT_USER, L"Software\\Corvane\\Twain\\Scanner A/B").Obrir(0), 1);
    EXPECT_EQ(TCarpetaRegistry(twain, L"Scanner A").Obrir(0), 0);
}

TEST_F(Registry, UnwritableStoreFailsAtOpen)
{
    // The store's folder is a file: nothing can be created below it.
    const std::string xdg = (m_dir.path() / "file").string();
    std::ofstream(xdg) << "x";
    ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    EXPECT_EQ(k.Obrir(1), 0);
    EXPECT_EQ(k.Obrir(0), 0);
}

// Each child process commits its own values one at a time, racing the other.
TEST_F(Registry, ConcurrentWritersLoseNothing)
{
    constexpr int kChildren = 3, kValues = 25;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t pids[kChildren];
    for (int c = 0; c < kChildren; ++c) {
        pids[c] = ::fork();
        ASSERT_GE(pids[c], 0);
        if (pids[c] == 0) {
            char b;
            ::close(go[1]);
            if (::read(go[0], &b, 1) < 0)
                ::_exit(3);
            for (int i = 0; i < kValues; ++i) {
                TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
                if (k.Obrir(1) != 1)
                    ::_exit(1);
                const std::wstring name = L"P" + std::to_wstring(c) + L"_" + std::to_wstring(i);
                k.EntraValor(name.c_str(), static_cast<std::uint32_t>(c * 1000 + i));
                if (k.Tancar() != 1)
                    ::_exit(2);
            }
            ::_exit(0);
        }
    }
    ::close(go[0]);
    ::close(go[1]); // releases every child at once
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(0), 1);
    for (int c = 0; c < kChildren; ++c) {
        for (int i = 0; i < kValues; ++i) {
            const std::wstring name = L"P" + std::to_wstring(c) + L"_" + std::to_wstring(i);
            int v = -1;
            EXPECT_EQ(k.TornaValor(name.c_str(), v, -1), 1) << c << " " << i;
            EXPECT_EQ(v, c * 1000 + i);
        }
    }
}

int g_hookPipe = -1;
void PauseBeforeRename()
{
    char b = 'x';
    if (::write(g_hookPipe, &b, 1) != 1)
        ::_exit(4);
    for (;;)
        ::pause();
}

TEST_F(Registry, KilledWriterLeavesThePreviousStore)
{
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        k.EntraValor(L"EnableUI", 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    const std::string before = StoreText();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        g_hookPipe = fds[1];
        base_internal::SetRegistryCommitHook(&PauseBeforeRename);
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        if (k.Obrir(1) != 1)
            ::_exit(1);
        k.EntraValor(L"EnableUI", 0);
        k.EntraValor(L"KeepOpen", 1);
        k.Tancar();
        ::_exit(5);
    }
    ::close(fds[1]);
    char b = 0;
    ASSERT_EQ(::read(fds[0], &b, 1), 1); // the child holds the lock, its new store written aside
    ::close(fds[0]);
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(StoreText(), before);
    // The lock died with the child: the next writer proceeds and keeps the old value.
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(1), 1);
    k.EntraValor(L"ShowStatus", 0);
    ASSERT_EQ(k.Tancar(), 1);
    ASSERT_EQ(k.Obrir(0), 1);
    int v = -1;
    EXPECT_EQ(k.TornaValor(L"EnableUI", v, -1), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(k.TornaValor(L"KeepOpen", v, -1), 0);
    EXPECT_EQ(k.TornaValor(L"ShowStatus", v, -1), 1);
    EXPECT_EQ(v, 0);
}

// A commit that would make the store larger than the reader accepts fails and keeps the old
// store, which stays readable; one that still fits goes through.
TEST_F(Registry, CommitBeyondTheSizeLimitIsRefused)
{
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        k.EntraValor(L"A", 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    {
        // One text value brings the store to about 64 bytes below 16 MiB ('%' is stored as
        // "%25", so memory stays small).
        const std::string head = "\n[Big]\nV=sz:";
        const std::size_t room = (16u << 20) - 64 - StoreText().size() - head.size() - 1;
        std::string value;
        for (std::size_t i = 0; i < room / 3; ++i)
            value += "%25";
        std::ofstream(TCarpetaRegistry::GetFitxerMagatzem(), std::ios::app)
            << head << value << "\n";
    }
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        k.EntraValor(L"B", 2); // fits
        ASSERT_EQ(k.Tancar(), 1);
    }
    const std::string fitted = StoreText();
    ASSERT_LE(fitted.size(), 16u << 20);
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(1), 1);
    k.EntraText(L"C", std::wstring(100, L'x').c_str());
    EXPECT_EQ(k.Tancar(), 0);
    EXPECT_EQ(StoreText(), fitted);
    ASSERT_EQ(k.Obrir(0), 1);
    int v = 0;
    EXPECT_EQ(k.TornaValor(L"B", v, 0), 1);
    EXPECT_EQ(v, 2);
    std::wstring c;
    EXPECT_EQ(k.TornaText(L"C", c, nullptr), 0);
}

// The root key holds values like any other, and commits of other keys keep them.
TEST_F(Registry, RootKeyValuesRoundTrip)
{
    for (const wchar_t* root : {L"", L"\\", L"\\\\"}) {
        TCarpetaRegistry k(HKEY_CURRENT_USER, root);
        EXPECT_EQ(k.GetPath(), L"");
        ASSERT_EQ(k.Obrir(1), 1);
        EXPECT_EQ(k.EntraValor(root[0] ? L"Slash" : L"Empty", 7), 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        k.EntraValor(L"Other", 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    TCarpetaRegistry root(HKEY_CURRENT_USER, L"\\");
    ASSERT_EQ(root.Obrir(0), 1);
    int v = 0;
    EXPECT_EQ(root.TornaValor(L"empty", v, 0), 1);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(root.TornaValor(L"slash", v, 0), 1);
    EXPECT_EQ(root.TornaValor(L"Other", v, 0), 0);
}

// An editor may put a byte-order mark before the first section: that section is read, and a
// commit of another key keeps it.
TEST_F(Registry, ByteOrderMarkIsSkipped)
{
    const std::string file = TCarpetaRegistry::GetFitxerMagatzem();
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file) << "\xEF\xBB\xBF[Software\\Corvane\\Twain]\r\nEnableUI=dword:5\r\n";
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, L"Software\\Visor");
        ASSERT_EQ(k.Obrir(1), 1);
        k.EntraValor(L"X", 1);
        ASSERT_EQ(k.Tancar(), 1);
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(0), 1);
    int v = 0;
    EXPECT_EQ(k.TornaValor(L"EnableUI", v, 0), 1);
    EXPECT_EQ(v, 5);
}

// Code points with no UTF-8 form (lone surrogates, values above U+10FFFF) would be stored as
// U+FFFD and fall onto that name's entry: refused in names, texts and key paths.
TEST_F(Registry, NamesThatAreNoUnicodeAreRefused)
{
    const std::wstring replacement = L"x\uFFFD";
    {
        TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
        ASSERT_EQ(k.Obrir(1), 1);
        ASSERT_EQ(k.EntraValor(replacement.c_str(), 1), 1);
        for (wchar_t bad : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000)}) {
            const std::wstring name = L"x" + std::wstring(1, bad);
            EXPECT_EQ(k.EntraValor(name.c_str(), 2), 0) << unsigned(bad);
            EXPECT_EQ(k.EntraText(name.c_str(), L"t"), 0) << unsigned(bad);
            EXPECT_EQ(k.EntraText(L"Text", name.c_str()), 0) << unsigned(bad);
            const std::wstring path = std::wstring(kTwain) + L"\\" + name;
            EXPECT_EQ(TCarpetaRegistry(HKEY_CURRENT_USER, path.c_str()).Obrir(1), 0);
            EXPECT_EQ(TCarpetaRegistry(k, name.c_str()).Obrir(1), 0);
        }
        ASSERT_EQ(k.Tancar(), 1);
    }
    TCarpetaRegistry k(HKEY_CURRENT_USER, kTwain);
    ASSERT_EQ(k.Obrir(0), 1);
    int v = 0;
    EXPECT_EQ(k.TornaValor(replacement.c_str(), v, 0), 1);
    EXPECT_EQ(v, 1);
    std::wstring t;
    EXPECT_EQ(k.TornaText(L"Text", t, nullptr), 0);
    EXPECT_EQ(StoreText().find("[Software\\Corvane\\Twain\\"), std::string::npos);
}

// Names fold by a fixed table: the same entry is found whatever locale the writing and the
// reading program run in.
TEST_F(Registry, CaseFoldingIgnoresTheLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    struct Case {
        const wchar_t* written;
        const wchar_t* read;
        bool same;
    } cases[] = {
        {L"ÉTÉ", L"été", true},
        {L"ΣΟΦΌΣ", L"σοφό\u03C2", true}, // final sigma
        {L"ЖУК", L"жук", true},
        {L"\u212Aelvin", L"kELVIN", true}, // Kelvin sign
        {L"\u1E9E", L"ß", true},           // capital sharp s
        {L"Straße", L"STRASSE", false},    // no expansion
        {L"I", L"ı", false},               // no Turkic rule
    };
    for (const char* writer : {"C", "C.UTF-8"}) {
        for (const char* reader : {"C", "C.UTF-8"}) {
            if (!std::setlocale(LC_ALL, writer))
                continue;
            const std::wstring path = L"Fold\\" + Utf8ToWide(writer) + L"\\" + Utf8ToWide(reader);
            TCarpetaRegistry w(HKEY_CURRENT_USER, path.c_str());
            ASSERT_EQ(w.Obrir(1), 1);
            std::uint32_t n = 1;
            for (const Case& c : cases)
                EXPECT_EQ(w.EntraValor(c.written, n++), 1);
            ASSERT_EQ(w.Tancar(), 1);
            if (!std::setlocale(LC_ALL, reader))
                continue;
            TCarpetaRegistry r(HKEY_CURRENT_USER, path.c_str());
            ASSERT_EQ(r.Obrir(0), 1);
            int expected = 1;
            for (const Case& c : cases) {
                int v = 0;
                EXPECT_EQ(r.TornaValor(c.read, v, 0), c.same ? 1 : 0)
                    << writer << " " << reader << " " << expected;
                if (c.same) {
                    EXPECT_EQ(v, expected);
                }
                ++expected;
            }
        }
    }
    std::setlocale(LC_ALL, saved.c_str());
}

} // namespace
