// strings.cpp - CMultiString and CStringEx.
#include "base/strings.h"

#include "win/files.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

CMultiString::CMultiString() = default;
CMultiString::CMultiString(const CMultiString& other) = default;
CMultiString& CMultiString::operator=(const CMultiString& other)
{
    if (this != &other)
        Set(other);
    return *this;
}
CMultiString::~CMultiString() = default;

int CMultiString::Afegir(const wchar_t* text)
{
    try {
        m_items.emplace_back(text ? text : L"");
    } catch (const std::exception&) {
        return -1;
    }
    return static_cast<int>(m_items.size()) - 1;
}

int CMultiString::Set(const CMultiString& other)
{
    if (this == &other)
        return 1;
    try {
        std::vector<std::wstring> copy(other.m_items);
        m_items.swap(copy);
    } catch (const std::exception&) {
        return 0;
    }
    return 1;
}

int CMultiString::Set(const wchar_t* multiSz)
{
    try {
        std::vector<std::wstring> items;
        for (const wchar_t* p = multiSz; p && *p; p += std::wcslen(p) + 1)
            items.emplace_back(p);
        m_items.swap(items);
    } catch (const std::exception&) {
        return 0;
    }
    return 1;
}

void CMultiString::Buidar()
{
    m_items.clear();
}

const wchar_t* CMultiString::Get(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_items.size())
        return nullptr;
    return m_items[static_cast<std::size_t>(index)].c_str();
}

std::string CStringEx::WideToUTF8(const wchar_t* text)
{
    if (!text)
        return {};
    return WideToUtf8(text);
}

int CStringEx::WideToUTF8(const wchar_t* text, char* buffer, std::size_t bufferBytes)
{
    if (!buffer || bufferBytes == 0)
        return -1;
    std::string utf8;
    try {
        utf8 = WideToUTF8(text);
    } catch (const std::exception&) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t n = utf8.size();
    const std::size_t limit = std::min<std::size_t>(bufferBytes - 1, INT_MAX);
    if (n > limit) {
        n = limit;
        // Back up over continuation bytes (10xxxxxx) to the start of the cut character.
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(buffer, utf8.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}
