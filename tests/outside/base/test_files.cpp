// Paths, temporary names and the buffered file.
#include "base/file_buffer.h"
#include "base/path_string.h"
#include "support/support.h"
#include "win/files.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Wide form of a path (std::filesystem would convert through the C locale).
std::wstring W(const fs::path& p)
{
    return Utf8ToWide(p.string());
}
fs::path P(const std::wstring& w)
{
    return fs::path(WideToUtf8(w));
}

// Points TMPDIR at a folder with a non-ASCII name for one test.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("TMPDIR");
        m_had = old != nullptr;
        m_old = old ? old : "";
        m_tmp = m_dir.path() / u8"tèmp 日本 🙂";
        fs::create_directories(m_tmp);
        ::setenv("TMPDIR", m_tmp.c_str(), 1);
    }
    void TearDown() override
    {
        if (m_had)
            ::setenv("TMPDIR", m_old.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    dibtest::TempDir m_dir;
    fs::path m_tmp;
    std::string m_old;
    bool m_had = false;
};

TEST_F(TempFolder, UniqueTemporaryFilesAreCreatedInTmpdir)
{
    std::set<std::wstring> names;
    for (int i = 0; i < 50; ++i) {
        CPathString p;
        ASSERT_EQ(p.GetTempFileNameW(L"PCXé"), 1);
        EXPECT_TRUE(names.insert(p.str()).second);
        const fs::path native = P(p.str());
        EXPECT_EQ(native.parent_path(), m_tmp);
        EXPECT_EQ(native.filename().string().rfind("PCXé", 0), 0u);
        EXPECT_EQ(native.extension(), ".tmp");
        EXPECT_TRUE(fs::is_regular_file(native));
        EXPECT_EQ(p.GetMida(), 0);
    }
    CPathString named;
    ASSERT_EQ(named.GetTempFileNameW(L"tmp", 0x2A), 1);
    EXPECT_EQ(P(named.str()).filename(), "tmp002A.tmp");
    EXPECT_FALSE(fs::exists(P(named.str())));

    ::setenv("TMPDIR", (m_tmp / "missing").c_str(), 1);
    CPathString none(L"unchanged");
    EXPECT_EQ(none.GetTempFileNameW(L"x"), 0);
    EXPECT_EQ(none.str(), L"unchanged");
}

TEST_F(TempFolder, SizeDeleteAndFolders)
{
    const fs::path file = m_tmp / u8"fitxer ñ.bin";
    std::ofstream(file, std::ios::binary) << std::string(12345, 'a');
    CPathString p(W(file));
    EXPECT_EQ(p.GetMida(), 12345);
    EXPECT_EQ(p.TestCarpeta(), 0);
    EXPECT_EQ(p.Esborrar(), 1);
    EXPECT_EQ(p.GetMida(), -1);
    EXPECT_EQ(p.Esborrar(), 0);

    CPathString deep(W(m_tmp / u8"à" / u8"ß" / u8"字"));
    EXPECT_EQ(deep.TestCarpeta(), 0);
    EXPECT_EQ(deep.CrearCarpeta(), 1);
    EXPECT_EQ(deep.TestCarpeta(), 1);
    EXPECT_EQ(deep.CrearCarpeta(), 1); // already there
    EXPECT_EQ(deep.GetMida(), -1);     // a folder is no file
    EXPECT_EQ(deep.Esborrar(), 0);
    EXPECT_EQ(deep.GetCarpeta().str(), W(m_tmp / u8"à" / u8"ß"));

    // A file in the way of a folder.
    std::ofstream(m_tmp / "plain") << "x";
    EXPECT_EQ(CPathString(W(m_tmp / "plain" / "sub")).CrearCarpeta(), 0);
    EXPECT_EQ(CPathString(L"").CrearCarpeta(), 0);
    EXPECT_EQ(CPathString(static_cast<const wchar_t*>(nullptr)).TestCarpeta(), 0);
    // A lone surrogate has no UTF-8 name: refused, not taken for the U+FFFD file.
    std::ofstream(m_tmp / u8"x\uFFFD") << "x";
    CPathString lone(W(m_tmp) + L"/x" + wchar_t(0xDC00));
    EXPECT_EQ(lone.GetMida(), -1);
    EXPECT_EQ(lone.Esborrar(), 0);
    EXPECT_TRUE(fs::exists(m_tmp / u8"x\uFFFD"));
    EXPECT_EQ(CPathString(L"name").GetCarpeta().str(), L"");
    EXPECT_EQ(CPathString(L"/name").GetCarpeta().str(), L"/");
}

std::vector<char> ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

TEST(FileBuffer, PiecesOfEverySizeArriveInOrder)
{
    dibtest::TempDir dir;
    const fs::path path = dir.path() / u8"sortida é.bmp";
    CFileBuffer f;
    ASSERT_EQ(f.Open(W(path).c_str(),
                     CFileBuffer::modeCreate | CFileBuffer::modeWrite | CFileBuffer::typeBinary,
                     64),
              1);
    std::vector<char> expected;
    // Smaller than, equal to and larger than the 64-byte buffer, and empty.
    for (std::size_t n : {10u, 54u, 1u, 64u, 0u, 200u, 63u, 3u}) {
        std::vector<char> piece(n);
        for (std::size_t i = 0; i < n; ++i)
            piece[i] = static_cast<char>(expected.size() + i);
        ASSERT_EQ(f.Write(piece.data(), n), 1);
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(f.GetLength(), expected.size());
    ASSERT_EQ(f.Flush(), 1);
    EXPECT_EQ(ReadAll(path), expected);
    ASSERT_EQ(f.Write("tail", 4), 1);
    ASSERT_EQ(f.Close(), 1);
    expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(f.Write("x", 1), 0); // closed
}

TEST(FileBuffer, WriteErrorsAreKept)
{
    CFileBuffer f;
    ASSERT_EQ(f.Open(L"/dev/full", CFileBuffer::modeWrite, 16), 1);
    EXPECT_EQ(f.Write("0123456789", 10), 1); // buffered
    EXPECT_EQ(f.Write("0123456789", 10), 0); // the flush fails
    EXPECT_EQ(f.HasError(), 1);
    EXPECT_EQ(f.Write("x", 1), 0);
    EXPECT_EQ(f.Flush(), 0);
    EXPECT_EQ(f.Close(), 0);

    ASSERT_EQ(f.Open(L"/dev/full", CFileBuffer::modeWrite), 1);
    EXPECT_EQ(f.Write("x", 1), 1);
    EXPECT_EQ(f.Close(), 0); // found at close

    EXPECT_EQ(f.Open(nullptr, CFileBuffer::modeWrite), 0);
    EXPECT_EQ(f.Open(L"/dev/null", CFileBuffer::modeRead), 0);
    // An absurd buffer size is refused before it reaches the allocator.
    EXPECT_EQ(f.Open(L"/dev/null", CFileBuffer::modeWrite, SIZE_MAX), 0);
    EXPECT_EQ(f.Open(L"/dev/null", CFileBuffer::modeWrite, CFileBuffer::kMaxBuffer + 1), 0);
    EXPECT_EQ(f.Open(L"/nonexistent/folder/x", CFileBuffer::modeCreate | CFileBuffer::modeWrite),
              0);
    EXPECT_EQ(f.Write(nullptr, 0), 0); // not open
}

// Re-opening a buffer whose bytes could not be written reports that failure instead of
// dropping it; once reported, the next Open proceeds.
TEST(FileBuffer, ReopeningReportsTheFailedClose)
{
    CFileBuffer f;
    ASSERT_EQ(f.Open(L"/dev/full", CFileBuffer::modeWrite), 1);
    ASSERT_EQ(f.Write("x", 1), 1); // buffered
    EXPECT_EQ(f.Open(L"/dev/null", CFileBuffer::modeWrite), 0);
    EXPECT_EQ(f.IsOpen(), 0);
    EXPECT_EQ(f.HasError(), 1);
    ASSERT_EQ(f.Open(L"/dev/null", CFileBuffer::modeWrite), 1);
    EXPECT_EQ(f.HasError(), 0);
    EXPECT_EQ(f.Write("x", 1), 1);
    EXPECT_EQ(f.Close(), 1);
}

// Open never waits on a FIFO: without a reader it fails at once, and read-write (where the
// writer could fill the pipe and wait forever) is refused; with a reader the bytes flow.
TEST(FileBuffer, FifoIsNeverWaitedOn)
{
    dibtest::TempDir dir;
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CFileBuffer f;
    for (unsigned flags : {unsigned(CFileBuffer::modeWrite),
                           unsigned(CFileBuffer::modeCreate | CFileBuffer::modeWrite)})
        EXPECT_EQ(f.Open(W(fifo).c_str(), flags), 0) << flags;
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(f.Open(W(fifo).c_str(), CFileBuffer::modeReadWrite), 0);
    ASSERT_EQ(f.Open(W(fifo).c_str(), CFileBuffer::modeWrite), 1);
    EXPECT_EQ(f.Write("abc", 3), 1);
    EXPECT_EQ(f.Close(), 1);
    char buf[8];
    EXPECT_EQ(::read(reader, buf, sizeof buf), 3);
    ::close(reader);
}

} // namespace
