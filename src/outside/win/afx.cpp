// afx.cpp - the out-of-line parts of the MFC-shaped classes.
//
// Contents: exceptions; CString (construction, search, edits, Format, buffers, LoadString and
// the string-table loader); CRect set operations; CGdiObject, CBitmap, CBrush, CDC, CClientDC.
#include "win/afx.h"

#include "win/files.h"
#include "win/module_resources.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <langinfo.h>
#include <locale.h>

// ---- exceptions --------------------------------------------------------------------------

CException::~CException() = default;

void CException::Delete()
{
    if (m_bAutoDelete)
        delete this;
}

void AfxThrowMemoryException()
{
    static CMemoryException instance;
    throw &instance;
}

// ---- CString -----------------------------------------------------------------------------

namespace {

std::size_t clampIndex(int i, std::size_t size)
{
    return i < 0 ? 0 : std::min(std::size_t(i), size);
}

// Rewrites a format with MFC's wide conventions into the C library's: in a wide printf, %s and
// %c are narrow, so a bare s or c gains l; S and C (narrow in MFC) lose their case; h before s
// or c is dropped; I64 becomes ll and I32 nothing.
std::wstring toLibcFormat(const wchar_t* format)
{
    std::wstring out;
    for (const wchar_t* p = format; *p; ++p) {
        out.push_back(*p);
        if (*p != L'%')
            continue;
        ++p;
        if (*p == L'%') {
            out.push_back(L'%');
            continue;
        }
        // Flags, width, precision.
        while (*p && std::wcschr(L"-+ #0123456789.*", *p))
            out.push_back(*p++);
        bool sized = false;
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            out += L"ll";
            p += 3;
            sized = true;
        } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
            p += 3;
        } else if (*p == L'h' && (p[1] == L's' || p[1] == L'c' || p[1] == L'S' || p[1] == L'C')) {
            ++p;
            out.push_back(std::towlower(*p));
            continue;
        }
        while (!sized && *p && std::wcschr(L"hlLqjzt", *p)) {
            sized = true;
            while (*p && std::wcschr(L"hlLqjzt", *p))
                out.push_back(*p++);
        }
        if (!*p)
            break;
        if ((*p == L's' || *p == L'c') && !sized)
            out.push_back(L'l');
        if (*p == L'S' || *p == L'C')
            out.push_back(wchar_t(std::towlower(*p)));
        else
            out.push_back(*p);
    }
    return out;
}

// Narrow arguments are UTF-8 here, as every narrow text of the library, but vswprintf converts
// them with the thread's LC_CTYPE. When that is not UTF-8 (the "C" locale of a program that
// never called setlocale), the call runs under a copy of the thread's locale with a UTF-8
// character type (uselocale is per thread; numbers keep their locale).
class Utf8CtypeScope {
public:
    Utf8CtypeScope()
    {
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0)
            return;
        const locale_t copy = duplocale(uselocale(locale_t(0)));
        if (!copy)
            return;
        m_mine = newlocale(LC_CTYPE_MASK, "C.UTF-8", copy);
        if (!m_mine) {
            freelocale(copy);
            return;
        }
        m_old = uselocale(m_mine);
    }
    ~Utf8CtypeScope()
    {
        if (m_mine) {
            uselocale(m_old);
            freelocale(m_mine);
        }
    }
    Utf8CtypeScope(const Utf8CtypeScope&) = delete;
    Utf8CtypeScope& operator=(const Utf8CtypeScope&) = delete;

private:
    locale_t m_mine = locale_t(0);
    locale_t m_old = locale_t(0);
};

std::atomic<AfxStringLoader> g_stringLoader{nullptr};

// Windows string tables: RT_STRING block (id / 16) + 1 holds ids 16k .. 16k + 15 as 16 counted
// strings of UTF-16LE units.
bool loadFromStringTable(UINT id, std::wstring& text)
{
    LPCWSTR block = MAKEINTRESOURCEW((id >> 4) + 1);
    HINSTANCE module = AfxFindResourceHandle(block, RT_STRING);
    HRSRC res = module ? FindResourceW(module, block, RT_STRING) : nullptr;
    const BYTE* p =
        res ? static_cast<const BYTE*>(LockResource(LoadResource(module, res))) : nullptr;
    if (!p)
        return false;
    const BYTE* end = p + SizeofResource(module, res);
    auto unit = [](const BYTE* q) { return char16_t(q[0] | (q[1] << 8)); };
    for (UINT i = 0; i <= (id & 15); ++i) {
        if (end - p < 2)
            return false;
        const std::size_t length = unit(p);
        p += 2;
        if (std::size_t(end - p) < 2 * length)
            return false;
        if (i == (id & 15)) {
            if (length == 0)
                return false;
            std::u16string units;
            for (std::size_t k = 0; k < length; ++k)
                units.push_back(unit(p + 2 * k));
            text.clear();
            for (std::size_t k = 0; k < units.size(); ++k) {
                char32_t c = units[k];
                if (c >= 0xD800 && c <= 0xDBFF && k + 1 < units.size() && units[k + 1] >= 0xDC00 &&
                    units[k + 1] <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (units[k + 1] - 0xDC00);
                    ++k;
                } else if (c >= 0xD800 && c <= 0xDFFF) {
                    c = 0xFFFD;
                }
                text.push_back(wchar_t(c));
            }
            return true;
        }
        p += 2 * length;
    }
    return false;
}

} // namespace

void AfxSetStringLoader(AfxStringLoader loader)
{
    g_stringLoader.store(loader);
}

CString::CString(const wchar_t* text, int length)
{
    if (text && length > 0)
        s_.assign(text, std::size_t(length));
}

CString::CString(const char* utf8) : s_(utf8 ? Utf8ToWide(utf8) : std::wstring()) {}

CString& CString::operator=(const wchar_t* text)
{
    s_ = text ? text : L"";
    return *this;
}

CString& CString::operator=(wchar_t ch)
{
    s_.assign(1, ch);
    return *this;
}

CString& CString::operator+=(const CString& other)
{
    s_ += other.s_;
    return *this;
}

CString& CString::operator+=(const wchar_t* text)
{
    if (text)
        s_ += text;
    return *this;
}

CString& CString::operator+=(wchar_t ch)
{
    s_ += ch;
    return *this;
}

int CString::Compare(const wchar_t* other) const
{
    return std::wcscmp(s_.c_str(), other ? other : L"");
}

int CString::CompareNoCase(const wchar_t* other) const
{
    const wchar_t* a = s_.c_str();
    const wchar_t* b = other ? other : L"";
    for (;; ++a, ++b) {
        const std::wint_t ca = std::towlower(std::wint_t(*a)), cb = std::towlower(std::wint_t(*b));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (!*a)
            return 0;
    }
}

CString CString::Left(int count) const
{
    return CString(s_.substr(0, clampIndex(count, s_.size())));
}

CString CString::Mid(int first) const
{
    return CString(s_.substr(clampIndex(first, s_.size())));
}

CString CString::Mid(int first, int count) const
{
    const std::size_t start = clampIndex(first, s_.size());
    return CString(s_.substr(start, clampIndex(count, s_.size() - start)));
}

CString CString::Right(int count) const
{
    const std::size_t n = clampIndex(count, s_.size());
    return CString(s_.substr(s_.size() - n));
}

int CString::Find(wchar_t ch, int start) const
{
    if (start < 0 || std::size_t(start) > s_.size())
        return -1;
    std::size_t i = s_.find(ch, std::size_t(start));
    return i == std::wstring::npos ? -1 : int(i);
}

int CString::Find(const wchar_t* sub, int start) const
{
    if (!sub || start < 0 || std::size_t(start) > s_.size())
        return -1;
    std::size_t i = s_.find(sub, std::size_t(start));
    return i == std::wstring::npos ? -1 : int(i);
}

int CString::ReverseFind(wchar_t ch) const
{
    std::size_t i = s_.rfind(ch);
    return i == std::wstring::npos ? -1 : int(i);
}

int CString::FindOneOf(const wchar_t* chars) const
{
    if (!chars)
        return -1;
    std::size_t i = s_.find_first_of(chars);
    return i == std::wstring::npos ? -1 : int(i);
}

CString& CString::MakeUpper()
{
    for (wchar_t& c : s_)
        c = wchar_t(std::towupper(std::wint_t(c)));
    return *this;
}

CString& CString::MakeLower()
{
    for (wchar_t& c : s_)
        c = wchar_t(std::towlower(std::wint_t(c)));
    return *this;
}

CString& CString::MakeReverse()
{
    std::reverse(s_.begin(), s_.end());
    return *this;
}

CString& CString::TrimLeft()
{
    auto it = std::find_if(s_.begin(), s_.end(), [](wchar_t c) { return !std::iswspace(c); });
    s_.erase(s_.begin(), it);
    return *this;
}

CString& CString::TrimRight()
{
    while (!s_.empty() && std::iswspace(s_.back()))
        s_.pop_back();
    return *this;
}

CString& CString::Trim()
{
    return TrimRight().TrimLeft();
}

CString& CString::TrimLeft(wchar_t ch)
{
    s_.erase(0, s_.find_first_not_of(ch));
    return *this;
}

CString& CString::TrimRight(wchar_t ch)
{
    std::size_t last = s_.find_last_not_of(ch);
    s_.erase(last == std::wstring::npos ? 0 : last + 1);
    return *this;
}

CString& CString::Trim(wchar_t ch)
{
    return TrimRight(ch).TrimLeft(ch);
}

int CString::Replace(wchar_t from, wchar_t to)
{
    int n = 0;
    for (wchar_t& c : s_)
        if (c == from) {
            c = to;
            ++n;
        }
    return n;
}

int CString::Replace(const wchar_t* from, const wchar_t* to)
{
    if (!from || !*from)
        return 0;
    const std::wstring f = from, t = to ? to : L"";
    int n = 0;
    for (std::size_t i = s_.find(f); i != std::wstring::npos; i = s_.find(f, i + t.size())) {
        s_.replace(i, f.size(), t);
        ++n;
    }
    return n;
}

int CString::Insert(int index, wchar_t ch)
{
    s_.insert(clampIndex(index, s_.size()), 1, ch);
    return GetLength();
}

int CString::Insert(int index, const wchar_t* text)
{
    if (text)
        s_.insert(clampIndex(index, s_.size()), text);
    return GetLength();
}

int CString::Delete(int index, int count)
{
    const std::size_t start = clampIndex(index, s_.size());
    s_.erase(start, clampIndex(count, s_.size() - start));
    return GetLength();
}

int CString::Remove(wchar_t ch)
{
    const std::size_t before = s_.size();
    s_.erase(std::remove(s_.begin(), s_.end(), ch), s_.end());
    return int(before - s_.size());
}

void CString::FormatV(const wchar_t* format, va_list args)
{
    s_.clear();
    if (!format)
        return;
    const std::wstring fmt = toLibcFormat(format);
    const Utf8CtypeScope utf8;
    // vswprintf reports -1 both for a short buffer and for an encoding error (errno EILSEQ):
    // grow up to a bound for the first, give up with an empty string for the second.
    std::vector<wchar_t> buffer(256);
    constexpr std::size_t kLimit = std::size_t(1) << 24;
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        errno = 0;
        int n = std::vswprintf(buffer.data(), buffer.size(), fmt.c_str(), copy);
        va_end(copy);
        if (n >= 0) {
            s_.assign(buffer.data(), std::size_t(n));
            return;
        }
        if (errno == EILSEQ || buffer.size() >= kLimit)
            return;
        buffer.resize(buffer.size() * 4);
    }
}

void CString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::AppendFormat(const wchar_t* format, ...)
{
    CString more;
    va_list args;
    va_start(args, format);
    more.FormatV(format, args);
    va_end(args);
    s_ += more.s_;
}

wchar_t* CString::GetBuffer(int minLength)
{
    if (minLength > 0 && std::size_t(minLength) > s_.size())
        s_.resize(std::size_t(minLength));
    return s_.data();
}

wchar_t* CString::GetBufferSetLength(int length)
{
    s_.resize(length > 0 ? std::size_t(length) : 0);
    return s_.data();
}

void CString::ReleaseBuffer(int newLength)
{
    // std::wstring keeps a null after its last character, so the scan always stops.
    if (newLength < 0)
        s_.resize(std::wcslen(s_.c_str()));
    else
        s_.resize(std::min(std::size_t(newLength), s_.size()));
}

BOOL CString::LoadString(UINT id)
{
    std::wstring text;
    AfxStringLoader loader = g_stringLoader.load();
    if (!(loader ? loader(id, text) : loadFromStringTable(id, text)))
        return FALSE;
    s_ = std::move(text);
    return TRUE;
}

CString operator+(const CString& a, const CString& b)
{
    return CString(a.str() + b.str());
}
CString operator+(const CString& a, const wchar_t* b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(const wchar_t* a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, wchar_t b)
{
    CString r(a);
    r += b;
    return r;
}
CString operator+(wchar_t a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

// ---- CRect -------------------------------------------------------------------------------

BOOL CRect::IntersectRect(const RECT* a, const RECT* b)
{
    if (!a || !b) {
        SetRectEmpty();
        return FALSE;
    }
    CRect r(std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
            std::min(a->bottom, b->bottom));
    if (r.IsRectEmpty()) {
        SetRectEmpty();
        return FALSE;
    }
    *this = r;
    return TRUE;
}

BOOL CRect::UnionRect(const RECT* a, const RECT* b)
{
    const CRect ra(a), rb(b);
    if (ra.IsRectEmpty() && rb.IsRectEmpty()) {
        SetRectEmpty();
        return FALSE;
    }
    if (ra.IsRectEmpty()) {
        *this = rb;
        return TRUE;
    }
    if (rb.IsRectEmpty()) {
        *this = ra;
        return TRUE;
    }
    SetRect(std::min(ra.left, rb.left), std::min(ra.top, rb.top), std::max(ra.right, rb.right),
            std::max(ra.bottom, rb.bottom));
    return TRUE;
}

// ---- GDI wrappers ------------------------------------------------------------------------

CGdiObject::~CGdiObject()
{
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ handle)
{
    if (!handle || m_hObject)
        return FALSE;
    m_hObject = handle;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach()
{
    return std::exchange(m_hObject, nullptr);
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_hObject)
        return FALSE;
    return ::DeleteObject(Detach());
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* dc, int width, int height)
{
    return Attach(::CreateCompatibleBitmap(dc ? dc->m_hDC : nullptr, width, height));
}

BOOL CBrush::CreateSolidBrush(COLORREF colour)
{
    return Attach(::CreateSolidBrush(colour));
}

CDC::~CDC()
{
    if (m_hDC)
        ::DeleteDC(Detach());
}

BOOL CDC::Attach(HDC dc)
{
    if (!dc || m_hDC)
        return FALSE;
    m_hDC = dc;
    return TRUE;
}

HDC CDC::Detach()
{
    return std::exchange(m_hDC, nullptr);
}

BOOL CDC::DeleteDC()
{
    if (!m_hDC)
        return FALSE;
    return ::DeleteDC(Detach());
}

BOOL CDC::CreateCompatibleDC(CDC* other)
{
    return Attach(::CreateCompatibleDC(other ? other->m_hDC : nullptr));
}

void CDC::FillSolidRect(const RECT* rect, COLORREF colour)
{
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(m_hDC, rect, brush);
    ::DeleteObject(brush);
}

void CDC::FillSolidRect(int x, int y, int width, int height, COLORREF colour)
{
    // The far edges saturate: x + width may not fit a LONG.
    auto edge = [](int from, int extent) {
        return LONG(std::clamp<std::int64_t>(std::int64_t(from) + extent, INT32_MIN, INT32_MAX));
    };
    const RECT r{x, y, edge(x, width), edge(y, height)};
    FillSolidRect(&r, colour);
}

CWnd::~CWnd() = default;

CClientDC::CClientDC(CWnd* window) : m_hWnd(window ? window->m_hWnd : nullptr)
{
    m_hDC = ::GetDC(m_hWnd);
}

CClientDC::~CClientDC()
{
    if (m_hDC)
        ::ReleaseDC(m_hWnd, Detach());
}
