// library_module.h - the library's own resource module.
#pragma once

#include <dib/outside/win/windef.h>

namespace dib {

// The library's module ("libdib"): created and put in the module chain on first use, with the
// French string table; the user's language module is chosen at the same time. Idempotent and
// thread-safe; every entry point that loads the library's texts or dialogs reaches it through
// start-up or calls it first. Null only when memory ran out at the first call.
HINSTANCE LibraryModule();

} // namespace dib
