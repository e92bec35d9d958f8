// fuzz_open.cpp - a memory block described (GetInfoMem) and opened (ObrirMem) through the own
// TIFF reader (format 189) and through the kernel's loader (format 0).
#include <cstdint>
#include <dib/FileInfo.h>
#include <dib/TDib.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every input goes through a temporary file; larger ones only repeat what smaller ones do.
    if (size == 0 || size > (1u << 20))
        return 0;
    CFILEINFO info;
    TDib::GetInfoMem(data, int(size), &info);
    TDib image;
    image.ObrirMem(data, int(size), 0, 189);
    image.ObrirMem(data, int(size), 0, 0);
    // A depth asked of the kernel.
    image.ObrirMem(data, int(size), 24, 0);
    return 0;
}
