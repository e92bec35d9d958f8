// registry.h - the per-user settings store, in the shape of registry folders.
//
// HKEY_CURRENT_USER is one text file, ${XDG_CONFIG_HOME:-~/.config}/libdib/registry.txt
// (UTF-8): each key path is a section "[Software\Corvane\Twain]" and each value a line
// "name=dword:123" or "name=sz:text" ('%', '=', '[', ']' and control characters in names,
// paths and texts are written as %XX); the root key itself is the section "[]". A leading
// UTF-8 byte-order mark is skipped. Key paths and value names compare without regard to case,
// by Unicode simple case folding (a fixed table, Unicode 14.0, without the Turkic dotted and
// dotless i rules) whatever the process locale; key paths are split at backslashes only, and
// empty components are ignored ("A\\B\" is "A\B", and "" or "\" is the root key). Paths,
// names and texts must be Unicode scalar values: one holding a lone surrogate or a value above
// U+10FFFF has no UTF-8 form and is refused (the folder never opens, the value is not taken).
//
// Writes are atomic and merge: closing a folder opened for writing takes an exclusive lock on
// registry.txt.lock, reads the store again, applies this folder's changes, writes
// registry.txt.tmp, flushes it to disk and renames it over the store. A writer that dies at
// any point leaves the previous store whole; two writers (threads or processes) that change
// different values both keep their changes. Readers never lock: they see the store before or
// after a write, never a mix. A store larger than 16 MiB, or that cannot be read, is refused
// (reading gives the defaults; writing fails and leaves it alone), and a commit that would make
// the store larger than 16 MiB fails and leaves the store as it was.
#pragma once

#include "../outside_api.h"

#include <cstdint>
#include <string>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;
// The only root the store holds (a macro, as on Windows, so it is usable during static
// initialisation).
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))

class OUTSIDE_API TCarpetaRegistry {
public:
    // A folder at path under root (not opened yet). A root other than HKEY_CURRENT_USER, a
    // null path, or one that is not all Unicode scalar values, makes a folder that never opens.
    TCarpetaRegistry(HKEY root, const wchar_t* path);
    // The sub-folder name of parent (parent need not be open). A null or empty name is the
    // parent's own folder; a name that is not all Unicode scalar values makes a folder that
    // never opens.
    TCarpetaRegistry(const TCarpetaRegistry& parent, const wchar_t* name);
    ~TCarpetaRegistry(); // Tancar
    TCarpetaRegistry(const TCarpetaRegistry&) = delete;
    TCarpetaRegistry& operator=(const TCarpetaRegistry&) = delete;

    // mode 0: read; succeeds (1) when the key exists in the store. mode 1: write; succeeds
    // when the store's folder exists or could be created and its lock file opened; the key is
    // created on Tancar. Any other mode, or a folder already open, gives 0.
    int Obrir(int mode);
    // Closes. For a folder open for writing, commits the changes as described above: 1 when
    // they were stored (or there were none), 0 when the store could not be written or would
    // grow beyond 16 MiB (the changes are then lost and the store unchanged). A closed folder
    // gives 1.
    int Tancar();
    int EsOberta() const { return m_mode >= 0 ? 1 : 0; }

    // Reads a 32-bit value: 1 and value set when the folder is open and holds a dword of that
    // name (written by this object or found when it was opened); else 0 and value = def.
    int TornaValor(const wchar_t* name, int& value, int def) const;
    int TornaValor(const wchar_t* name, unsigned long& value, unsigned long def) const;
    // Reads a text value the same way.
    int TornaText(const wchar_t* name, std::wstring& value, const wchar_t* def) const;

    // Records a value to write on Tancar (folder open for writing, name not null or empty,
    // name and text all Unicode scalar values). 1 or 0.
    int EntraValor(const wchar_t* name, std::uint32_t value);
    int EntraText(const wchar_t* name, const wchar_t* value);

    // The folder's key path (without the root).
    const std::wstring& GetPath() const { return m_path; }

    // The application's name, for the application key. Defaults to the program's name
    // (/proc/self/comm), else "libdib". Set it once at start-up; null or "" restores the
    // default.
    static void SetNomAplicacio(const wchar_t* name);
    static std::wstring GetNomAplicacio();
    // The application's key path under HKEY_CURRENT_USER: "Software\<application name>", with
    // any '\' or '/' of the name written as '_' so that the name stays one key.
    static std::wstring GetClauAplicacio();
    // The store's file path (UTF-8), from the environment at the time of the call.
    static std::string GetFitxerMagatzem();

private:
    struct Canvi {
        std::wstring name;
        bool text;
        std::uint32_t dword;
        std::wstring sz;
    };
    const Canvi* Buscar(const wchar_t* name) const;
    int Entrar(Canvi c);

    std::wstring m_path;
    bool m_valid = false;
    int m_mode = -1;
    bool m_existia = false;
    std::vector<Canvi> m_valors; // the key's values when opened, then this object's changes
    std::vector<Canvi> m_canvis; // changes to commit
};
