// A host application's first steps with an installed libdib: an image, its file information,
// the packed DIB it exports (freed with the exported global-memory calls), the library's
// module registered at load time, and the last error text.
#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/Status.h>
#include <dib/TDib.h>
#include <dib/Version.h>
#include <dib/outside/win/global_memory.h>
#include <dib/outside/win/module_resources.h>

int main()
{
    TDib image;
    if (image.Crear(10, 4, 24) != 0 || image.GetBytesPerLinia() != 32)
        return 1;
    CFILEINFO info;
    if (info.AlphaChannel != -1)
        return 1;
    void* dib = image.ExportToDIB(0);
    if (!dib || GlobalSize(dib) < 40 + 4 * 32)
        return 1;
    GlobalFree(dib);
    if (!WinFindModule(L"libdib"))
        return 1;
    std::printf("libdib %s: %dx%d, last error \"%s\"\n", dib_version(), image.GetMidaX(),
                image.GetMidaY(), DibGetLastErrorText());
    return 0;
}
