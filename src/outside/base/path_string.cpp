// path_string.cpp - CPathString on the POSIX file system (paths reach it as UTF-8).
#include "base/path_string.h"

#include "win/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file-system name of a path; "" when it has none (see PathToUtf8) or memory ran out.
std::string Utf8(const std::wstring& w)
{
    try {
        std::string out;
        return PathToUtf8(w.c_str(), out) ? out : std::string();
    } catch (const std::exception&) {
        return {};
    }
}

std::wstring TempFolder()
{
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return Utf8ToWide(dir);
}

std::wstring Hex(std::uint64_t v, int digits)
{
    wchar_t buf[32];
    std::swprintf(buf, 32, L"%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

} // namespace

CPathString::CPathString() = default;
CPathString::CPathString(const wchar_t* path) : m_path(path ? path : L"") {}
CPathString::CPathString(const std::wstring& path) : m_path(path) {}
CPathString::CPathString(const CPathString&) = default;
CPathString& CPathString::operator=(const CPathString&) = default;
CPathString& CPathString::operator=(const wchar_t* path)
{
    m_path = path ? path : L"";
    return *this;
}
CPathString::~CPathString() = default;

int CPathString::GetTempFileNameW(const wchar_t* prefix, unsigned int unique)
{
    try {
        const std::wstring base = TempFolder() + L"/" + (prefix ? prefix : L"");
        if (unique != 0) {
            m_path = base + Hex(unique, 4) + L".tmp";
            return 1;
        }
        // Random names: two processes (or threads) never probe the same sequence.
        std::random_device rd;
        std::mt19937_64 gen((std::uint64_t(rd()) << 32) ^ rd() ^ std::uint64_t(::getpid()));
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const std::wstring candidate = base + Hex(gen() & 0xFFFFFFFFull, 8) + L".tmp";
            const std::string utf8 = Utf8(candidate);
            if (utf8.empty())
                return 0;
            const int fd = ::open(utf8.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::close(fd);
                m_path = candidate;
                return 1;
            }
            if (errno != EEXIST)
                return 0;
        }
    } catch (const std::exception&) {
    }
    return 0;
}

std::int64_t CPathString::GetMida() const
{
    struct stat st {};
    const std::string p = Utf8(m_path);
    if (p.empty() || ::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

int CPathString::Esborrar() const
{
    const std::string p = Utf8(m_path);
    return (!p.empty() && ::unlink(p.c_str()) == 0) ? 1 : 0;
}

int CPathString::TestCarpeta() const
{
    struct stat st {};
    const std::string p = Utf8(m_path);
    return (!p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? 1 : 0;
}

int CPathString::CrearCarpeta() const
{
    std::string p = Utf8(m_path);
    if (p.empty())
        return 0;
    // Create each missing component in turn; a component made meanwhile by someone else
    // (EEXIST) is fine as long as the end result is a folder.
    for (std::size_t pos = 1; pos <= p.size(); ++pos) {
        if (pos == p.size() || p[pos] == '/') {
            const std::string part = p.substr(0, pos);
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
                return 0;
        }
    }
    return TestCarpeta();
}

CPathString CPathString::GetCarpeta() const
{
    const std::size_t slash = m_path.find_last_of(L'/');
    if (slash == std::wstring::npos)
        return CPathString();
    if (slash == 0)
        return CPathString(L"/");
    return CPathString(m_path.substr(0, slash));
}
