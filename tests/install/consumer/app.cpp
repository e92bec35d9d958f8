// A host application's first steps with an installed libdib.
#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <dib/Version.h>

int main()
{
    TDib image;
    if (image.Crear(10, 4, 24) != 0 || image.GetBytesPerLinia() != 32)
        return 1;
    CFILEINFO info;
    if (info.AlphaChannel != -1)
        return 1;
    std::printf("libdib %s: %dx%d\n", dib_version(), image.GetMidaX(), image.GetMidaY());
    return 0;
}
