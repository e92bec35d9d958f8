// texts.cpp - string tables in modules, the language loader, string loading and formatting.
//
// Contents: RT_STRING block coding; AfxAfegirTaulaTextos; language registry and loader;
// lookup and AfxLoadString; formatting.
#include "base/texts.h"

#include "win/module_resources.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <vector>

namespace {

// ---- RT_STRING blocks --------------------------------------------------------------------

using Block = std::vector<std::wstring>; // 16 strings

void PutUtf16(std::vector<std::uint8_t>& out, std::uint16_t u)
{
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
}

std::size_t Utf16Length(const std::wstring& s)
{
    std::size_t n = 0;
    for (wchar_t c : s)
        n += (static_cast<std::uint32_t>(c) > 0xFFFF && static_cast<std::uint32_t>(c) <= 0x10FFFF)
                 ? 2
                 : 1;
    return n;
}

std::vector<std::uint8_t> EncodeBlock(const Block& block)
{
    std::vector<std::uint8_t> out;
    for (const std::wstring& s : block) {
        PutUtf16(out, static_cast<std::uint16_t>(Utf16Length(s)));
        for (wchar_t wc : s) {
            std::uint32_t c = static_cast<std::uint32_t>(wc);
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
                c = 0xFFFD;
            if (c > 0xFFFF) {
                c -= 0x10000;
                PutUtf16(out, static_cast<std::uint16_t>(0xD800 + (c >> 10)));
                PutUtf16(out, static_cast<std::uint16_t>(0xDC00 + (c & 0x3FF)));
            } else {
                PutUtf16(out, static_cast<std::uint16_t>(c));
            }
        }
    }
    return out;
}

// Decodes a block. A block cut short yields the strings that are whole; a lone surrogate
// becomes U+FFFD.
Block DecodeBlock(const std::uint8_t* p, std::size_t size)
{
    Block block(16);
    std::size_t pos = 0;
    auto unit = [&](std::size_t at) { return std::uint16_t(p[at] | (p[at + 1] << 8)); };
    for (int i = 0; i < 16 && pos + 2 <= size; ++i) {
        const std::size_t len = unit(pos);
        pos += 2;
        if (pos + 2 * len > size)
            break;
        std::wstring s;
        for (std::size_t k = 0; k < len; ++k) {
            std::uint32_t c = unit(pos + 2 * k);
            if (c >= 0xD800 && c <= 0xDBFF && k + 1 < len) {
                const std::uint32_t lo = unit(pos + 2 * (k + 1));
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                    ++k;
                } else {
                    c = 0xFFFD;
                }
            } else if (c >= 0xD800 && c <= 0xDFFF) {
                c = 0xFFFD;
            }
            s += static_cast<wchar_t>(c);
        }
        block[static_cast<std::size_t>(i)] = std::move(s);
        pos += 2 * len;
    }
    return block;
}

LPCWSTR BlockName(UINT id)
{
    return MAKEINTRESOURCEW(id / 16 + 1);
}

// The text of id in module's table; false when the module holds no such string.
bool FromModule(HINSTANCE module, UINT id, std::wstring& text)
{
    if (!module || id == 0 || id > 0xFFFF)
        return false;
    HRSRC res = FindResourceW(module, BlockName(id), RT_STRING);
    if (!res)
        return false;
    const auto* p = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, res)));
    const DWORD size = SizeofResource(module, res);
    if (!p)
        return false;
    Block block = DecodeBlock(p, size);
    std::wstring& s = block[id % 16];
    if (s.empty())
        return false;
    text = std::move(s);
    return true;
}

// ---- languages ------------------------------------------------------------------------------

std::mutex g_mutex;
std::map<std::string, std::vector<std::pair<UINT, std::wstring>>> g_languages;
HINSTANCE g_languageModule = nullptr;

bool FromFrench(UINT id, std::wstring& text)
{
    std::size_t n = 0;
    const TEntradaText* t = GetTaulaTextosFrancesa(n);
    const TEntradaText* end = t + n;
    const TEntradaText* it =
        std::lower_bound(t, end, id, [](const TEntradaText& e, UINT v) { return e.id < v; });
    if (it == end || it->id != id)
        return false;
    text = it->text;
    return true;
}

bool Lookup(UINT id, std::wstring& text)
{
    HINSTANCE language;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        language = g_languageModule;
    }
    if (FromModule(language, id, text))
        return true;
    if (id >= 1 && id <= 0xFFFF) {
        HINSTANCE holder = AfxFindResourceHandle(BlockName(id), RT_STRING);
        if (holder != language && FromModule(holder, id, text))
            return true;
    }
    return FromFrench(id, text);
}

bool LoaderCallback(UINT id, std::wstring& text)
{
    try {
        return Lookup(id, text);
    } catch (const std::exception&) {
        return false;
    }
}

// Language candidates from the environment, most wanted first: "pt_BR.UTF-8@x" gives "pt_BR"
// and "pt".
std::vector<std::string> WantedLanguages()
{
    std::vector<std::string> raw;
    const auto env = [](const char* name) -> std::string {
        const char* v = std::getenv(name);
        return v ? v : "";
    };
    std::string list = env("LANGUAGE");
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t colon = list.find(':', start);
        const std::size_t end = colon == std::string::npos ? list.size() : colon;
        if (end > start)
            raw.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::string v = env(name);
        if (!v.empty()) {
            raw.push_back(v);
            break;
        }
    }
    std::vector<std::string> out;
    for (std::string v : raw) {
        v = v.substr(0, v.find_first_of(".@"));
        if (v.empty() || v == "C" || v == "POSIX")
            continue;
        out.push_back(v);
        const std::size_t us = v.find('_');
        if (us != std::string::npos && us > 0)
            out.push_back(v.substr(0, us));
    }
    return out;
}

bool AddFrench(HINSTANCE module)
{
    std::size_t n = 0;
    const TEntradaText* t = GetTaulaTextosFrancesa(n);
    return AfxAfegirTaulaTextos(module, t, n) != FALSE;
}

} // namespace

BOOL AfxAfegirTaulaTextos(HINSTANCE module, const TEntradaText* entries, std::size_t count)
{
    if (!module || (!entries && count > 0))
        return FALSE;
    try {
        std::map<UINT, Block> blocks;
        for (std::size_t i = 0; i < count; ++i) {
            const UINT id = entries[i].id;
            if (id == 0 || id > 0xFFFF || !entries[i].text)
                return FALSE;
            const std::wstring text = entries[i].text;
            if (Utf16Length(text) > 0xFFFF)
                return FALSE;
            auto [it, fresh] = blocks.try_emplace(id / 16 + 1);
            if (fresh) {
                it->second.assign(16, std::wstring());
                if (HRSRC res = FindResourceW(module, BlockName(id), RT_STRING)) {
                    const auto* p =
                        static_cast<const std::uint8_t*>(LockResource(LoadResource(module, res)));
                    if (p)
                        it->second = DecodeBlock(p, SizeofResource(module, res));
                }
            }
            it->second[id % 16] = text;
        }
        for (const auto& [blockId, block] : blocks) {
            const std::vector<std::uint8_t> bytes = EncodeBlock(block);
            if (!WinAddResource(module, RT_STRING, MAKEINTRESOURCEW(blockId), bytes.data(),
                                bytes.size()))
                return FALSE;
        }
    } catch (const std::exception&) {
        return FALSE;
    }
    return TRUE;
}

BOOL AfxRegistrarIdioma(const char* language, const TEntradaText* entries, std::size_t count)
{
    if (!language || !*language || (!entries && count > 0))
        return FALSE;
    try {
        std::vector<std::pair<UINT, std::wstring>> table;
        for (std::size_t i = 0; i < count; ++i) {
            if (entries[i].id == 0 || entries[i].id > 0xFFFF || !entries[i].text)
                return FALSE;
            table.emplace_back(entries[i].id, entries[i].text);
        }
        std::lock_guard<std::mutex> lock(g_mutex);
        g_languages[language] = std::move(table);
    } catch (const std::exception&) {
        return FALSE;
    }
    return TRUE;
}

HINSTANCE CarregarRecursosIdioma(HINSTANCE own)
{
    try {
        if (!own) {
            own = WinFindModule(L"libdib.fr");
            if (!own) {
                own = WinCreateModule(L"libdib.fr");
                if (!own)
                    return nullptr;
                WinRegisterModule(own);
            }
        }
        if (!FindResourceW(own, BlockName(22001), RT_STRING) && !AddFrench(own))
            return nullptr;

        HINSTANCE chosen = own;
        std::vector<std::pair<UINT, std::wstring>> table;
        std::string language;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            for (const std::string& want : WantedLanguages()) {
                if (want == "fr")
                    break;
                auto it = g_languages.find(want);
                if (it != g_languages.end()) {
                    language = want;
                    table = it->second;
                    break;
                }
            }
        }
        if (!language.empty()) {
            const std::wstring name = L"libdib." + std::wstring(language.begin(), language.end());
            HINSTANCE module = WinFindModule(name.c_str());
            if (!module) {
                module = WinCreateModule(name.c_str());
                if (module)
                    WinRegisterModule(module);
            }
            std::vector<TEntradaText> entries;
            for (const auto& [id, text] : table)
                entries.push_back({id, text.c_str()});
            if (module && AfxAfegirTaulaTextos(module, entries.data(), entries.size()))
                chosen = module;
        }
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_languageModule = chosen;
        }
        AfxSetStringLoader(&LoaderCallback);
        return chosen;
    } catch (const std::exception&) {
        return nullptr;
    }
}

HINSTANCE GetModulIdioma()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_languageModule;
}

int AfxLoadString(UINT id, wchar_t* buffer, UINT max)
{
    if (!buffer || max == 0)
        return 0;
    buffer[0] = L'\0';
    std::wstring text;
    if (!LoaderCallback(id, text))
        return 0;
    const std::size_t n = std::min<std::size_t>(text.size(), max - 1);
    std::wmemcpy(buffer, text.data(), n);
    buffer[n] = L'\0';
    return static_cast<int>(n);
}

std::wstring AfxLoadString(UINT id)
{
    std::wstring text;
    if (!LoaderCallback(id, text))
        return {};
    return text;
}

BOOL AfxLoadString(UINT id, CString& text)
{
    std::wstring s;
    if (!LoaderCallback(id, s))
        return FALSE;
    text = s.c_str();
    return TRUE;
}

std::wstring AfxFormatString(const wchar_t* format, ...)
{
    if (!format)
        return {};
    CString out;
    va_list args;
    va_start(args, format);
    out.FormatV(format, args);
    va_end(args);
    return out.str();
}

std::wstring AfxFormatString(UINT formatId, ...)
{
    std::wstring format;
    if (!LoaderCallback(formatId, format))
        return {};
    CString out;
    va_list args;
    va_start(args, formatId);
    out.FormatV(format.c_str(), args);
    va_end(args);
    return out.str();
}

namespace {

void FormatPlaceholders(CString& out, UINT id, const wchar_t* const* args, int count)
{
    std::wstring format;
    if (!LoaderCallback(id, format)) {
        out.Empty();
        return;
    }
    std::wstring result;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] >= L'1' &&
            format[i + 1] <= L'0' + count) {
            const wchar_t* a = args[format[i + 1] - L'1'];
            result += a ? a : L"";
            ++i;
        } else {
            result += format[i];
        }
    }
    out = result.c_str();
}

} // namespace

void AfxFormatString1(CString& rString, UINT id, const wchar_t* arg1)
{
    const wchar_t* args[1] = {arg1};
    try {
        FormatPlaceholders(rString, id, args, 1);
    } catch (const std::exception&) {
        rString.Empty();
    }
}

void AfxFormatString2(CString& rString, UINT id, const wchar_t* arg1, const wchar_t* arg2)
{
    const wchar_t* args[2] = {arg1, arg2};
    try {
        FormatPlaceholders(rString, id, args, 2);
    } catch (const std::exception&) {
        rString.Empty();
    }
}

std::wstring AfxFormatDate(std::time_t time, const wchar_t* format)
{
    std::tm tm{};
    if (!localtime_r(&time, &tm))
        return {};
    wchar_t buf[1025];
    const std::size_t n = std::wcsftime(buf, 1025, format ? format : L"%d/%m/%Y %H:%M:%S", &tm);
    if (n == 0)
        return {};
    return std::wstring(buf, n);
}
