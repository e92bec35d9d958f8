// module_resources.cpp - module objects, their resource tables and the module chain.
//
// Contents: ResourceKey (numeric or case-folded string id), Module, State (live modules, the
// chain, the resource module), the Win32 lookups, the registration calls, the MFC state calls.
#include "win/module_resources.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

// A type or name: a number, or a string folded to ASCII upper case ("#123" is the number 123).
struct ResourceKey {
    bool numeric = true;
    WORD id = 0;
    std::wstring text;

    bool operator<(const ResourceKey& o) const
    {
        if (numeric != o.numeric)
            return numeric;
        return numeric ? id < o.id : text < o.text;
    }
};

struct Resource;
struct Module;
// Handles are the objects' addresses, never dereferenced before being found among the live ones.
HRSRC toHandle(Resource* r)
{
    return reinterpret_cast<HRSRC>(r);
}
HINSTANCE toHandle(Module* m)
{
    return reinterpret_cast<HINSTANCE>(m);
}

std::optional<ResourceKey> keyOf(LPCWSTR value)
{
    if (!value)
        return std::nullopt;
    ResourceKey key;
    if (IS_INTRESOURCE(value)) {
        key.id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(value));
        if (key.id == 0)
            return std::nullopt;
        return key;
    }
    std::wstring s = value;
    if (s.size() > 1 && s[0] == L'#' && s.size() <= 6 &&
        std::all_of(s.begin() + 1, s.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        unsigned long n = std::wcstoul(s.c_str() + 1, nullptr, 10);
        if (n == 0 || n > 0xFFFF)
            return std::nullopt;
        key.id = static_cast<WORD>(n);
        return key;
    }
    if (s.empty())
        return std::nullopt;
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z')
            c = wchar_t(c - L'a' + L'A');
    key.numeric = false;
    key.text = std::move(s);
    return key;
}

struct Resource {
    std::unique_ptr<BYTE[]> bytes; // at least one byte, so a 0-byte resource has an address
    DWORD size = 0;
};

struct Module {
    std::wstring name;
    std::map<std::pair<ResourceKey, ResourceKey>, std::unique_ptr<Resource>> resources;
    // Replaced resources: another thread may still be reading bytes it locked before the
    // replacement, so they live as long as the module.
    std::vector<std::unique_ptr<Resource>> retired;

    Resource* find(const ResourceKey& type, const ResourceKey& name) const
    {
        auto it = resources.find({type, name});
        return it == resources.end() ? nullptr : it->second.get();
    }
    Resource* owned(HRSRC r) const
    {
        for (const auto& [key, res] : resources)
            if (toHandle(res.get()) == r)
                return res.get();
        return nullptr;
    }
};

struct State {
    std::mutex mutex;
    std::vector<std::unique_ptr<Module>> live;
    std::vector<Module*> chain;
    Module* resourceModule = nullptr;

    Module* module(HINSTANCE h)
    {
        for (auto& m : live)
            if (toHandle(m.get()) == h)
                return m.get();
        return nullptr;
    }
    // A null handle means the application module.
    Module* moduleOrApp(HMODULE h) { return h ? module(h) : (chain.empty() ? nullptr : chain[0]); }
    bool inChain(Module* m) const
    {
        return std::find(chain.begin(), chain.end(), m) != chain.end();
    }
    // The live resource whose bytes start at address, or null.
    Resource* resourceAt(const void* address)
    {
        for (auto& m : live)
            for (auto& [key, res] : m->resources)
                if (res->bytes.get() == address)
                    return res.get();
        return nullptr;
    }
};

State& state()
{
    static State* s = new State; // never destroyed: modules may be used during exit
    return *s;
}

} // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    auto nameKey = keyOf(name);
    auto typeKey = keyOf(type);
    if (!nameKey || !typeKey)
        return nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.moduleOrApp(module);
    return m ? toHandle(m->find(*typeKey, *nameKey)) : nullptr;
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.moduleOrApp(module);
    Resource* r = m ? m->owned(resource) : nullptr;
    return r ? r->bytes.get() : nullptr;
}

DWORD SizeofResource(HMODULE module, HRSRC resource)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.moduleOrApp(module);
    Resource* r = m ? m->owned(resource) : nullptr;
    return r ? r->size : 0;
}

void* LockResource(HGLOBAL loaded)
{
    if (!loaded)
        return nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    Resource* r = s.resourceAt(loaded);
    return r ? r->bytes.get() : nullptr;
}

BOOL FreeResource(HGLOBAL)
{
    return FALSE;
}

HINSTANCE WinCreateModule(LPCWSTR name)
{
    if (!name)
        return nullptr;
    auto m = std::make_unique<Module>();
    m->name = name;
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.live.push_back(std::move(m));
    return toHandle(s.live.back().get());
}

BOOL WinAddResource(HINSTANCE module, LPCWSTR type, LPCWSTR name, const void* data, SIZE_T size)
{
    auto nameKey = keyOf(name);
    auto typeKey = keyOf(type);
    if (!nameKey || !typeKey || (!data && size != 0) || size > 0xFFFFFFFFu)
        return FALSE;
    auto res = std::make_unique<Resource>();
    res->bytes.reset(new (std::nothrow) BYTE[size ? size : 1]);
    if (!res->bytes)
        return FALSE;
    if (size)
        std::copy_n(static_cast<const BYTE*>(data), size, res->bytes.get());
    res->size = static_cast<DWORD>(size);
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.module(module);
    if (!m)
        return FALSE;
    try {
        std::unique_ptr<Resource>& slot = m->resources[{*typeKey, *nameKey}];
        if (slot) {
            // The same bytes again change nothing (and cost nothing: a language loader may add
            // its table on every call).
            if (slot->size == res->size &&
                std::equal(slot->bytes.get(), slot->bytes.get() + slot->size, res->bytes.get()))
                return TRUE;
            m->retired.push_back(std::move(slot));
        }
        slot = std::move(res);
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

BOOL WinRegisterModule(HINSTANCE module, BOOL atFront)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.module(module);
    if (!m || s.inChain(m))
        return FALSE;
    if (atFront)
        s.chain.insert(s.chain.begin(), m);
    else
        s.chain.push_back(m);
    return TRUE;
}

BOOL WinUnregisterModule(HINSTANCE module)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.module(module);
    auto it = std::find(s.chain.begin(), s.chain.end(), m);
    if (!m || it == s.chain.end())
        return FALSE;
    s.chain.erase(it);
    if (s.resourceModule == m)
        s.resourceModule = nullptr;
    return TRUE;
}

BOOL WinDestroyModule(HINSTANCE module)
{
    std::unique_ptr<Module> gone;
    State& s = state();
    std::lock_guard lock(s.mutex);
    auto it = std::find_if(s.live.begin(), s.live.end(),
                           [&](const auto& m) { return toHandle(m.get()) == module; });
    if (!module || it == s.live.end())
        return FALSE;
    gone = std::move(*it);
    s.live.erase(it);
    s.chain.erase(std::remove(s.chain.begin(), s.chain.end(), gone.get()), s.chain.end());
    if (s.resourceModule == gone.get())
        s.resourceModule = nullptr;
    return TRUE;
}

LPCWSTR WinGetModuleName(HINSTANCE module)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    Module* m = s.module(module);
    return m ? m->name.c_str() : nullptr;
}

HINSTANCE WinFindModule(LPCWSTR name)
{
    if (!name)
        return nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    for (auto& m : s.live)
        if (m->name == name)
            return toHandle(m.get());
    return nullptr;
}

HINSTANCE WinGetChainModule(std::size_t index)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return index < s.chain.size() ? toHandle(s.chain[index]) : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.chain.empty() ? nullptr : toHandle(s.chain[0]);
}

HINSTANCE AfxGetResourceHandle()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.resourceModule)
        return toHandle(s.resourceModule);
    return s.chain.empty() ? nullptr : toHandle(s.chain[0]);
}

void AfxSetResourceHandle(HINSTANCE module)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!module)
        s.resourceModule = nullptr;
    else if (Module* m = s.module(module))
        s.resourceModule = m;
}

HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type)
{
    auto nameKey = keyOf(name);
    auto typeKey = keyOf(type);
    if (!nameKey || !typeKey)
        return nullptr;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.resourceModule && s.resourceModule->find(*typeKey, *nameKey))
        return toHandle(s.resourceModule);
    for (Module* m : s.chain)
        if (m->find(*typeKey, *nameKey))
            return toHandle(m);
    return nullptr;
}
