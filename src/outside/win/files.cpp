// files.cpp - UTF-8 at the file-system edge, the runtime's wide file calls, temporary files.
//
// Contents: WideToUtf8, Utf8ToWide, _wfopen/_wfsopen, _wremove, DeleteFileW, _filelength,
// _flushall, GetTempPathW, GetTempFileNameW.
#include "win/files.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = kReplacement;
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

bool toPath(const wchar_t* path, std::string& out)
{
    if (!path) {
        errno = EINVAL;
        return false;
    }
    return PathToUtf8(path, out);
}

// The runtime's mode letters, keeping those stdio knows and dropping text-mode markers, which
// change nothing here. Flags meant for the Windows cache (S, R, T, D, N) are dropped as well.
bool toMode(const wchar_t* mode, std::string& out)
{
    if (!mode || !*mode) {
        errno = EINVAL;
        return false;
    }
    out.clear();
    for (const wchar_t* m = mode; *m; ++m) {
        switch (*m) {
        case L'r':
        case L'w':
        case L'a':
        case L'+':
        case L'b':
        case L'x':
            out.push_back(char(*m));
            break;
        case L't':
        case L'S':
        case L'R':
        case L'T':
        case L'D':
        case L'N':
        case L'c':
        case L'n':
        case L' ':
            break;
        default: // ",ccs=" encodings and anything unknown
            errno = EINVAL;
            return false;
        }
    }
    if (out.empty() || (out[0] != 'r' && out[0] != 'w' && out[0] != 'a')) {
        errno = EINVAL;
        return false;
    }
    return true;
}

} // namespace

std::string WideToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text)
        appendUtf8(out, static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(w)));
    return out;
}

bool PathToUtf8(const wchar_t* path, std::string& out)
{
    out.clear();
    if (!path) {
        errno = EILSEQ;
        return false;
    }
    for (const wchar_t* p = path; *p; ++p) {
        const auto c = static_cast<std::uint32_t>(*p);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            errno = EILSEQ;
            return false;
        }
    }
    out = WideToUtf8(path);
    return true;
}

std::wstring Utf8ToWide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char b = *p;
        if (b < 0x80) {
            out.push_back(wchar_t(b));
            ++p;
            continue;
        }
        // Lead byte: sequence length and the allowed range of the second byte (Unicode table
        // 3-7), so overlong forms, surrogates and values above U+10FFFF are ill-formed.
        int length = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        char32_t c = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            c = b & 0x0F;
            if (b == 0xE0)
                lo = 0xA0;
            if (b == 0xED)
                hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            c = b & 0x07;
            if (b == 0xF0)
                lo = 0x90;
            if (b == 0xF4)
                hi = 0x8F;
        } else {
            out.push_back(wchar_t(kReplacement));
            ++p;
            continue;
        }
        const unsigned char* q = p + 1;
        int i = 1;
        for (; i < length && q < end; ++i, ++q) {
            unsigned char t = *q;
            if (t < (i == 1 ? lo : 0x80) || t > (i == 1 ? hi : 0xBF))
                break;
            c = (c << 6) | (t & 0x3F);
        }
        // A complete sequence gives its code point; a maximal ill-formed subpart gives one
        // replacement character and decoding resumes at the byte that broke it.
        out.push_back(i == length ? wchar_t(c) : wchar_t(kReplacement));
        p = q;
    }
    return out;
}

FILE* _wfopen(const wchar_t* path, const wchar_t* mode)
{
    std::string p, m;
    if (!toPath(path, p) || !toMode(mode, m))
        return nullptr;
    return std::fopen(p.c_str(), m.c_str());
}

FILE* _wfsopen(const wchar_t* path, const wchar_t* mode, int /*shareFlag*/)
{
    return _wfopen(path, mode);
}

int _wremove(const wchar_t* path)
{
    std::string p;
    if (!toPath(path, p))
        return -1;
    return ::unlink(p.c_str()) == 0 ? 0 : -1;
}

BOOL DeleteFileW(LPCWSTR path)
{
    return _wremove(path) == 0 ? TRUE : FALSE;
}

long _filelength(int fd)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return -1;
    return static_cast<long>(st.st_size);
}

int _flushall()
{
    std::fflush(nullptr);
    return 0;
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer)
{
    const char* env = std::getenv("TMPDIR");
    std::wstring dir = Utf8ToWide(env && *env ? env : "/tmp");
    if (dir.back() != L'/')
        dir.push_back(L'/');
    const DWORD needed = static_cast<DWORD>(dir.size() + 1);
    if (!buffer || size < needed)
        return needed;
    std::wmemcpy(buffer, dir.c_str(), dir.size() + 1);
    return needed - 1;
}

UINT GetTempFileNameW(LPCWSTR dir, LPCWSTR prefix, UINT unique, LPWSTR out)
{
    if (!dir || !prefix || !out)
        return 0;
    std::wstring base = dir;
    if (base.empty())
        base = L".";
    if (base.back() != L'/')
        base.push_back(L'/');
    for (int i = 0; i < 3 && prefix[i]; ++i)
        base.push_back(prefix[i]);

    auto makeName = [&](UINT number) {
        wchar_t digits[8];
        std::swprintf(digits, 8, L"%04X", number & 0xFFFF);
        return base + digits + L".tmp";
    };
    auto store = [&](const std::wstring& name) {
        if (name.size() >= MAX_PATH)
            return false;
        std::wmemcpy(out, name.c_str(), name.size() + 1);
        return true;
    };

    if (unique != 0) {
        unique &= 0xFFFF;
        if (unique == 0)
            unique = 1;
        return store(makeName(unique)) ? unique : 0;
    }
    if (makeName(0).size() >= MAX_PATH)
        return 0;
    // Numbers 1 to 65535 from a random start: the first name that can be created exclusively
    // is the one, so concurrent callers (threads or processes) never share a file.
    std::random_device rd;
    const UINT start = rd() % 0xFFFF;
    for (UINT k = 0; k < 0xFFFF; ++k) {
        const UINT number = (start + k) % 0xFFFF + 1;
        const std::wstring name = makeName(number);
        std::string path;
        if (!PathToUtf8(name.c_str(), path))
            return 0;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return store(name) ? number : 0;
        }
        if (errno != EEXIST)
            return 0;
    }
    return 0;
}
