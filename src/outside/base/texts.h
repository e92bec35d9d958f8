// texts.h - the library's string table, the language resource loader, and text formatting.
//
// String tables live in modules (win/module_resources.h) as RT_STRING resources in the Windows
// layout: block id / 16 + 1 holds strings id & ~15 .. id | 15, each a 16-bit length and that
// many UTF-16LE units. The library's own texts are French (ids 22001 to 22048); a host may
// register tables for other languages, and the loader picks one by the user's language.
//
// Lookup order of every string load (AfxLoadString, CString::LoadString once the loader has
// run): the language module chosen by CarregarRecursosIdioma, then the module that
// AfxFindResourceHandle finds for the string's block, then the built-in French table. So the
// library's texts are available even before start-up has run, and a host module cannot hide
// them by holding the same block.
#pragma once

#include "../outside_api.h"
#include "../win/afx.h"
#include "../win/windef.h"

#include <cstddef>
#include <ctime>
#include <string>

struct TEntradaText {
    UINT id;
    const wchar_t* text;
};

// The built-in French table, in ascending id order.
OUTSIDE_API const TEntradaText* GetTaulaTextosFrancesa(std::size_t& count);

// Adds strings to module's string table (merging with blocks it already holds; an id given
// again replaces the old text). Ids must be 1..65535 and texts at most 65535 UTF-16 units.
// TRUE on success; FALSE for a bad module or entry, or no memory.
OUTSIDE_API BOOL AfxAfegirTaulaTextos(HINSTANCE module, const TEntradaText* entries,
                                      std::size_t count);

// Registers a translation of the library's texts for language ("en", "de", "pt_BR": a
// language code, optionally with a territory). The entries are copied. Registering a language
// again replaces its table. FALSE for bad arguments.
OUTSIDE_API BOOL AfxRegistrarIdioma(const char* language, const TEntradaText* entries,
                                    std::size_t count);

// The language loader. Makes sure module own holds the French table, picks the user's
// language from LANGUAGE (a ':'-separated list), else LC_ALL, LC_MESSAGES, LANG ("pt_BR.UTF-8"
// tries "pt_BR" then "pt"), and returns the module of its texts: own for French or any language
// without a registered table; for a registered language, a module named "libdib.<language>"
// holding its table, created once and registered in the module chain. The choice is kept for
// the process (until the next call) and the string loader of win/afx.h is set to the lookup
// above. With own null, a module "libdib.fr" stands in for it. Null only when no memory.
OUTSIDE_API HINSTANCE CarregarRecursosIdioma(HINSTANCE own);
// The module chosen by the last CarregarRecursosIdioma, or null.
OUTSIDE_API HINSTANCE GetModulIdioma();

// Loads string id into buffer (max characters including the null; a longer text is cut).
// Returns the characters copied without the null; 0 when no table holds the id (buffer then
// holds ""), or buffer is null or max is 0.
OUTSIDE_API int AfxLoadString(UINT id, wchar_t* buffer, UINT max);
// The text of id; empty when no table holds it.
OUTSIDE_API std::wstring AfxLoadString(UINT id);
// TRUE and text set when a table holds id; FALSE and text unchanged otherwise.
OUTSIDE_API BOOL AfxLoadString(UINT id, CString& text);

// printf-style formatting with a wide format, with the Windows meaning of the conversions in
// wide text (as CString::Format): %s and %c take wide arguments, %S and %C narrow ones,
// %I64d 64-bit. The format may be a string id (loaded first; an unknown id formats as "").
// A format that cannot be produced gives "".
OUTSIDE_API std::wstring AfxFormatString(const wchar_t* format, ...);
OUTSIDE_API std::wstring AfxFormatString(UINT formatId, ...);

// MFC's placeholder substitution: the text of id with %1 (and %2) replaced by the arguments
// (null counts as ""). rString is emptied when the id is unknown.
OUTSIDE_API void AfxFormatString1(CString& rString, UINT id, const wchar_t* arg1);
OUTSIDE_API void AfxFormatString2(CString& rString, UINT id, const wchar_t* arg1,
                                  const wchar_t* arg2);

// Formats a time with strftime conversions (local time). A null format gives
// "%d/%m/%Y %H:%M:%S". "" when the time cannot be converted or the result exceeds 1024
// characters.
OUTSIDE_API std::wstring AfxFormatDate(std::time_t time, const wchar_t* format);
