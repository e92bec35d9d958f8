// library_entry.cpp - runs start-up when the dynamic loader loads libdib.so, before any export
// can be called. Linked into the shared library only.
#include <startup/startup.h>

__attribute__((constructor)) static void DibLibraryAttach()
{
    dib::Startup();
}
