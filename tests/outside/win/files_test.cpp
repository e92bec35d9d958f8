// Wide paths at the file system: UTF-8 conversions, _wfopen, temporary files.
#include "support/support.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <win/files.h>

namespace {

TEST(Utf8, WideToUtf8EncodesAllOfUnicode)
{
    struct Case {
        std::wstring in;
        std::string out;
    } cases[] = {
        {L"abc", "abc"},
        {L"\u00E9", "\xC3\xA9"},
        {L"\u65E5\u672C", "\xE6\x97\xA5\xE6\x9C\xAC"},
        {std::wstring(1, wchar_t(0x1F600)), "\xF0\x9F\x98\x80"},
        {std::wstring(1, wchar_t(0x10FFFF)), "\xF4\x8F\xBF\xBF"},
        {std::wstring(1, wchar_t(0xD800)), "\xEF\xBF\xBD"},
        {std::wstring(1, wchar_t(0x110000)), "\xEF\xBF\xBD"},
        {std::wstring(1, wchar_t(-1)), "\xEF\xBF\xBD"},
        {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToUtf8(c.in), c.out);
        if (c.out.find("\xEF\xBF\xBD") == std::string::npos) {
            EXPECT_EQ(Utf8ToWide(c.out), c.in);
        }
    }
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters)
{
    const std::wstring R(1, wchar_t(0xFFFD));
    struct Case {
        std::string in;
        std::wstring out;
    } cases[] = {
        {"a\xFF"
         "b",
         L"a" + R + L"b"},
        {"\xC0\xAF", R + R},                 // overlong
        {"\xE0\x80\x80", R + R + R},         // overlong three-byte form
        {"\xED\xA0\x80", R + R + R},         // surrogate
        {"\xF4\x90\x80\x80", R + R + R + R}, // above U+10FFFF
        {"\xF0\x9F\x98", R},                 // truncated at the end: one maximal subpart
        {"\xE6\x97"
         "x",
         R + L"x"},
        {"\x80", R},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.in;
}

TEST(WideFiles, NonAsciiPathRoundTrip)
{
    dibtest::TempDir dir;
    const std::wstring folder = Utf8ToWide(dir.path().string());
    const std::wstring path =
        folder + L"/\u00F1and\u00FA_\u65E5\u672C_" + wchar_t(0x1F600) + L".bin";
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("hello", 1, 5, f), 5u);
    std::fclose(f);
    // The file system sees the UTF-8 name.
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(WideToUtf8(path))));

    f = _wfopen(path.c_str(), L"rt");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(_filelength(_fileno(f)), 5);
    char buffer[8] = {};
    EXPECT_EQ(std::fread(buffer, 1, 8, f), 5u);
    EXPECT_STREQ(buffer, "hello");
    std::fclose(f);

    EXPECT_EQ(_wremove(path.c_str()), 0);
    EXPECT_EQ(_wremove(path.c_str()), -1);
    EXPECT_EQ(_wfopen(path.c_str(), L"rb"), nullptr);
}

TEST(WideFiles, RefusesBadArguments)
{
    dibtest::TempDir dir;
    const std::wstring path = Utf8ToWide((dir.path() / "x").string());
    EXPECT_EQ(_wfopen(nullptr, L"rb"), nullptr);
    EXPECT_EQ(_wfopen(path.c_str(), nullptr), nullptr);
    for (const wchar_t* mode : {L"", L"q", L"b", L"w, ccs=UTF-8"})
        EXPECT_EQ(_wfopen(path.c_str(), mode), nullptr) << WideToUtf8(mode);
    EXPECT_EQ(_filelength(-1), -1);
    EXPECT_EQ(DeleteFileW(nullptr), FALSE);
    EXPECT_EQ(DeleteFileW(path.c_str()), FALSE);

    // A name no UTF-8 name stands for is refused, never mapped onto the U+FFFD name of
    // another file.
    const std::wstring other = path + L"\uFFFD";
    FILE* f = _wfopen(other.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fputs("keep", f);
    std::fclose(f);
    for (wchar_t bad : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000)}) {
        const std::wstring name = path + bad;
        errno = 0;
        EXPECT_EQ(_wfopen(name.c_str(), L"wb"), nullptr);
        EXPECT_EQ(errno, EILSEQ);
        EXPECT_EQ(_wremove(name.c_str()), -1);
    }
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(WideToUtf8(other))), 4u);
    EXPECT_EQ(_wremove(other.c_str()), 0);
}

class TempPath : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (old)
            old_ = old;
    }
    void TearDown() override
    {
        if (hadOld_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

TEST_F(TempPath, FollowsTmpdirWithTrailingSlash)
{
    wchar_t buffer[MAX_PATH];
    setenv("TMPDIR", "/var/tmp/\xC3\xA9t\xC3\xA9", 1);
    const std::wstring expected = L"/var/tmp/\u00E9t\u00E9/";
    EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), expected.size());
    EXPECT_EQ(std::wstring(buffer), expected);
    // Too small: the size needed, with the null.
    EXPECT_EQ(GetTempPathW(3, buffer), expected.size() + 1);

    unsetenv("TMPDIR");
    EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), 5u);
    EXPECT_EQ(std::wstring(buffer), L"/tmp/");
}

TEST(TempFileName, CreatesUniqueEmptyFilesInANonAsciiFolder)
{
    dibtest::TempDir dir;
    const std::filesystem::path sub = dir.path() / "d\xC3\xA9j\xC3\xA0";
    std::filesystem::create_directory(sub);
    const std::wstring folder = Utf8ToWide(sub.string());

    wchar_t first[MAX_PATH], second[MAX_PATH];
    UINT a = GetTempFileNameW(folder.c_str(), L"PCXtra", 0, first);
    UINT b = GetTempFileNameW((folder + L"/").c_str(), L"PCX", 0, second);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(std::wstring(first), std::wstring(second));
    wchar_t expected[MAX_PATH];
    std::swprintf(expected, MAX_PATH, L"%ls/PCX%04X.tmp", folder.c_str(), a);
    EXPECT_EQ(std::wstring(first), std::wstring(expected));
    const std::filesystem::path made(WideToUtf8(first));
    ASSERT_TRUE(std::filesystem::exists(made));
    EXPECT_EQ(std::filesystem::file_size(made), 0u);

    // The file is usable through the wide calls.
    FILE* f = _wfopen(first, L"wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(DeleteFileW(first), TRUE);
    EXPECT_EQ(DeleteFileW(second), TRUE);
}

TEST(TempFileName, GivenNumberMakesOnlyTheName)
{
    dibtest::TempDir dir;
    const std::wstring folder = Utf8ToWide(dir.path().string());
    wchar_t name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(folder.c_str(), L"tmp", 0x1A2B, name), 0x1A2Bu);
    EXPECT_EQ(std::wstring(name), folder + L"/tmp1A2B.tmp");
    EXPECT_FALSE(std::filesystem::exists(WideToUtf8(name)));
}

TEST(TempFileName, RefusesMissingFoldersAndLongNames)
{
    dibtest::TempDir dir;
    wchar_t name[MAX_PATH];
    const std::wstring missing = Utf8ToWide((dir.path() / "missing").string());
    EXPECT_EQ(GetTempFileNameW(missing.c_str(), L"tmp", 0, name), 0u);
    const std::wstring longDir(MAX_PATH - 10, L'x');
    EXPECT_EQ(GetTempFileNameW(longDir.c_str(), L"tmp", 0, name), 0u);
    EXPECT_EQ(GetTempFileNameW(longDir.c_str(), L"tmp", 7, name), 0u);
    EXPECT_EQ(GetTempFileNameW(nullptr, L"tmp", 0, name), 0u);
    EXPECT_EQ(GetTempFileNameW(missing.c_str(), nullptr, 0, name), 0u);
    EXPECT_EQ(GetTempFileNameW(missing.c_str(), L"tmp", 0, nullptr), 0u);
}

} // namespace
