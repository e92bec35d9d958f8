// files.h - wide-character paths at the file-system edge, temporary files and the runtime's
// wide file functions.
//
// Paths arrive as wchar_t strings (UTF-32) and reach the file system as UTF-8.
#pragma once

#include "../outside_api.h"
#include "windef.h"

#include <cstdio>
#include <string>
#include <string_view>

// UTF-8 of a wide string; every code point above U+10FFFF or in the surrogate range becomes
// U+FFFD.
OUTSIDE_API std::string WideToUtf8(std::wstring_view text);
// The UTF-8 name of a path for the file system. False (errno EILSEQ) for a null path or one
// holding a code point that is no Unicode scalar value (a lone surrogate, a value above
// U+10FFFF): no UTF-8 name stands for it, and mapping it to U+FFFD would reach another file.
OUTSIDE_API bool PathToUtf8(const wchar_t* path, std::string& out);
// Wide string of UTF-8; each ill-formed sequence (maximal subpart, as Unicode recommends)
// becomes U+FFFD.
OUTSIDE_API std::wstring Utf8ToWide(std::string_view text);

// fopen with a wide path and mode. The mode takes r, w, a, +, b, t and x; t (text) reads and
// writes bytes unchanged, and a ",ccs=..." suffix is refused. Null with errno set on failure.
OUTSIDE_API FILE* _wfopen(const wchar_t* path, const wchar_t* mode);
// As _wfopen; the sharing flag is not enforced.
OUTSIDE_API FILE* _wfsopen(const wchar_t* path, const wchar_t* mode, int shareFlag);
// Removes a file: 0 on success, -1 with errno set on failure.
OUTSIDE_API int _wremove(const wchar_t* path);
// Deletes a file: nonzero on success.
OUTSIDE_API BOOL DeleteFileW(LPCWSTR path);
// The size of the open file in bytes; -1 for a bad descriptor.
OUTSIDE_API long _filelength(int fd);
inline int _fileno(FILE* file)
{
    return fileno(file);
}
// Flushes every open output stream; returns 0.
OUTSIDE_API int _flushall();

// The temporary folder with a trailing '/': $TMPDIR when set and not empty, else /tmp.
// Returns its length without the terminating null when it fits in size characters (with the
// null), else the size needed (with the null) and buffer untouched; 0 on failure.
OUTSIDE_API DWORD GetTempPathW(DWORD size, LPWSTR buffer);
// Makes the name dir/<first 3 characters of prefix><unique as 4 hex digits>.tmp into out, which
// holds MAX_PATH characters. unique != 0: only the name is made (no file), result unique.
// unique == 0: numbers are tried until a file of that name can be created new (empty); result
// the number used. 0 on failure: a null argument, a name longer than MAX_PATH - 1 characters,
// or no file could be created (folder missing, all 65535 names taken).
OUTSIDE_API UINT GetTempFileNameW(LPCWSTR dir, LPCWSTR prefix, UINT unique, LPWSTR out);
