// module_resources.h - modules with resource tables, and the ordered MFC-style module chain.
//
// An HINSTANCE (HMODULE) is a handle to a module object: a name and a table of resources, each
// filed under a type and a name. Types and names are either numeric (MAKEINTRESOURCEW(id), ids
// 1 to 65535) or strings; string names compare without regard to ASCII case, and a string of
// the form "#123" means the numeric id 123, as on Windows.
//
// The chain is the ordered list of registered modules. The first registered module stands for
// the application: a null module passed to FindResourceW, LoadResource or SizeofResource means
// that one. The library registers its own module at start-up; hosts and tests register theirs.
//
// All calls are thread-safe. Resource bytes are copied into the module when added and stay
// valid, at a fixed address, until the module is destroyed.
#pragma once

#include "../outside_api.h"
#include "windef.h"

inline bool IS_INTRESOURCE(const void* p)
{
    return (reinterpret_cast<std::uintptr_t>(p) >> 16) == 0;
}
inline LPWSTR MAKEINTRESOURCEW(std::uintptr_t id)
{
    return reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(id)));
}
#define MAKEINTRESOURCE MAKEINTRESOURCEW

// Standard resource types.
#define RT_CURSOR MAKEINTRESOURCEW(1)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_VERSION MAKEINTRESOURCEW(16)

// ---- Win32 lookups ------------------------------------------------------------------------

// The resource of that name and type in module (null: the application module); null when the
// module is not live, an argument is null or id 0, or no such resource exists.
OUTSIDE_API HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// A handle to the resource's bytes (which LockResource turns into their address); null for a
// resource handle that is not one of module's live resources.
OUTSIDE_API HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The resource's size in bytes; 0 for a bad handle.
OUTSIDE_API DWORD SizeofResource(HMODULE module, HRSRC resource);
// The address of the resource's bytes (read-only); null when loaded is not a live resource.
OUTSIDE_API void* LockResource(HGLOBAL loaded);
// Resources need no release; always FALSE, as on 32-bit and later Windows.
OUTSIDE_API BOOL FreeResource(HGLOBAL loaded);

// ---- modules and the chain ----------------------------------------------------------------

// A new empty module, not yet in the chain. Null when name is null.
OUTSIDE_API HINSTANCE WinCreateModule(LPCWSTR name);
// Adds (or replaces) the resource of that type and name with a copy of size bytes at data
// (data may be null only when size is 0). FALSE for a bad module or arguments, or no memory.
// Replacing a resource invalidates handles obtained for the old one; addresses already
// obtained from LockResource keep the old bytes readable until the module is destroyed. Adding
// the same bytes again changes nothing.
OUTSIDE_API BOOL WinAddResource(HINSTANCE module, LPCWSTR type, LPCWSTR name, const void* data,
                                SIZE_T size);
// Appends the module to the end of the chain (atFront: inserts it first, so it becomes the
// application module). FALSE when the module is not live or already in the chain.
OUTSIDE_API BOOL WinRegisterModule(HINSTANCE module, BOOL atFront = FALSE);
// Takes the module out of the chain (it stays live). FALSE when it was not in the chain.
// If it was the current resource module, that setting is cleared.
OUTSIDE_API BOOL WinUnregisterModule(HINSTANCE module);
// Takes the module out of the chain and destroys it with its resources. FALSE for a bad handle.
OUTSIDE_API BOOL WinDestroyModule(HINSTANCE module);
// The module's name (valid until the module is destroyed); null for a bad handle.
OUTSIDE_API LPCWSTR WinGetModuleName(HINSTANCE module);
// The live module of that name (exact match), or null.
OUTSIDE_API HINSTANCE WinFindModule(LPCWSTR name);
// The module at position index of the chain (0 is the application module), or null past
// its end.
OUTSIDE_API HINSTANCE WinGetChainModule(std::size_t index);

// ---- MFC module state ---------------------------------------------------------------------

// The application module: the first module in the chain; null when the chain is empty.
OUTSIDE_API HINSTANCE AfxGetInstanceHandle();
// The module searched first for resources: the one set by AfxSetResourceHandle, else the
// application module.
OUTSIDE_API HINSTANCE AfxGetResourceHandle();
// Sets the module searched first (null: back to the application module). A handle that is not
// a live module is ignored.
OUTSIDE_API void AfxSetResourceHandle(HINSTANCE module);
// The module that holds a resource of that name and type: the resource module first, then the
// chain in order. Null when none does.
OUTSIDE_API HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type);
