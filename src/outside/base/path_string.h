// path_string.h - a wide-character file path with the file operations the library needs.
#pragma once

#include "../outside_api.h"

#include <cstdint>
#include <string>

class OUTSIDE_API CPathString {
public:
    CPathString();
    CPathString(const wchar_t* path); // null gives an empty path
    CPathString(const std::wstring& path);
    CPathString(const CPathString&);
    CPathString& operator=(const CPathString&);
    CPathString& operator=(const wchar_t* path);
    ~CPathString();

    const wchar_t* c_str() const { return m_path.c_str(); }
    operator const wchar_t*() const { return m_path.c_str(); }
    const std::wstring& str() const { return m_path; }
    int IsEmpty() const { return m_path.empty() ? 1 : 0; }

    // Makes this path a temporary file name in the temporary folder ($TMPDIR when set and not
    // empty, else /tmp): <folder>/<prefix><hex>.tmp.
    // unique == 0: a name no file has yet is chosen and the file is created, empty, so no one
    // else can take it; the caller deletes it (Esborrar). unique != 0: the name is made from
    // unique (hexadecimal) and no file is created. A null prefix counts as empty.
    // 1 on success; 0 when no file could be created (the path is then left unchanged).
    int GetTempFileNameW(const wchar_t* prefix, unsigned int unique = 0);

    // The size in bytes of the file at this path; -1 when it does not exist or is no file.
    std::int64_t GetMida() const;
    // Deletes the file at this path. 1 on success, 0 on failure (no file, or a folder).
    int Esborrar() const;
    // 1 when this path names an existing folder, else 0.
    int TestCarpeta() const;
    // Creates this folder and any missing parent. 1 when the folder exists afterwards, else 0.
    int CrearCarpeta() const;
    // The folder part of this path (everything before the last '/'); "/" for a file at the
    // root and "" for a bare name.
    CPathString GetCarpeta() const;

private:
    std::wstring m_path;
};
