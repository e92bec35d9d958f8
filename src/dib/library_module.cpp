// library_module.cpp - creation of the library's resource module, once per process.
#include <base/texts.h>
#include <dib/internal/library_module.h>
#include <mutex>
#include <win/module_resources.h>

namespace dib {

HINSTANCE LibraryModule()
{
    static std::once_flag once;
    static HINSTANCE module = nullptr;
    std::call_once(once, [] {
        HINSTANCE own = WinCreateModule(L"libdib");
        if (!own)
            return;
        // Part of the chain, so that resource lookups of the host find the library's
        // resources; a failure leaves the module usable through its handle.
        WinRegisterModule(own);
        // Adds the French table to own and chooses the language module for the process.
        CarregarRecursosIdioma(own);
        module = own;
    });
    return module;
}

} // namespace dib
