// Loads libdib.so like a host and checks that its start-up ran before main: the library's
// module is registered and libtiff's messages are silent. Exit status 0 when both hold.
#include <cstdio>
#include <dib/outside/win/module_resources.h>
#include <tiffio.h>

int main()
{
    if (!WinFindModule(L"libdib")) {
        std::puts("the library's module is not registered");
        return 1;
    }
    // Anything libtiff prints here would show in the test's output; the test checks none.
    if (TIFFOpen("/nonexistent/dib-shared-startup.tif", "r") != nullptr)
        return 1;
    return 0;
}
