// fuzz_import_dib.cpp - a packed DIB from arbitrary bytes, imported both ways and read back.
#include <cstdint>
#include <cstring>
#include <dib/TDib.h>
#include <dib/outside/win/global_memory.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return 0;
    if (void* p = GlobalLock(block)) {
        std::memcpy(p, data, size);
        GlobalUnlock(block);
    }
    for (int lockHere : {1, 0}) {
        TDib image;
        if (image.ImportFromDIB(block, lockHere) == 0) {
            // Touch every row and export again: sizes the import accepted must hold.
            std::uint8_t row[1 << 14];
            const int height = image.GetMidaY();
            const int bytes = image.GetBytesPerLinia();
            if (bytes > 0 && bytes <= int(sizeof row))
                for (int y = 0; y < height; ++y)
                    image.GetLinia(y, row, bytes);
            if (void* out = image.ExportToDIB(0))
                GlobalFree(out);
        }
    }
    GlobalFree(block);
    return 0;
}
