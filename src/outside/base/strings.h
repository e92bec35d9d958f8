// strings.h - lists of wide strings and the UTF-8 conversion with a byte limit.
#pragma once

#include "../outside_api.h"

#include <cstddef>
#include <string>
#include <vector>

// An ordered list of wide strings. Indexes run from 0 to GetCount() - 1.
class OUTSIDE_API CMultiString {
public:
    CMultiString();
    CMultiString(const CMultiString& other);
    CMultiString& operator=(const CMultiString& other);
    ~CMultiString();

    // Appends a copy of text (null appends an empty string). Returns the new string's index,
    // or -1 when memory runs out.
    int Afegir(const wchar_t* text);
    // Replaces the content with a copy of other's strings. 1 on success, 0 on no memory (the
    // content is then unchanged).
    int Set(const CMultiString& other);
    // Replaces the content with the strings of a Windows multi-string: strings each ended by
    // a null, the list ended by an empty string ("a\0b\0\0"). Null gives an empty list.
    int Set(const wchar_t* multiSz);
    void Buidar();

    int GetCount() const { return static_cast<int>(m_items.size()); }
    // The string at index, or null for an index out of range. Valid until the list changes.
    const wchar_t* Get(int index) const;
    const wchar_t* operator[](int index) const { return Get(index); }

private:
    std::vector<std::wstring> m_items;
};

class OUTSIDE_API CStringEx {
public:
    // Converts text to UTF-8 into buffer, which holds bufferBytes bytes; the result is always
    // null-terminated and cut, when it does not fit, at the last whole character that leaves
    // room for the null (a character is never split). Code points that are not Unicode scalar
    // values become U+FFFD. Returns the bytes written without the null; -1 when buffer is null
    // or bufferBytes is 0 (nothing written). A null text gives "".
    static int WideToUTF8(const wchar_t* text, char* buffer, std::size_t bufferBytes);
    // The whole UTF-8 form of text (null: "").
    static std::string WideToUTF8(const wchar_t* text);
};
