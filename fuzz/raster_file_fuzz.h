// The body of the raster kernel's file-format fuzz targets: file information and loads of one
// input from memory, at the file's own depth and converted, and a callback load through a file.
#pragma once

#include <raster/file_module.h>
#include <raster/kernel.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzzraster {

inline int CountRows(_FILEINFO*, _BITMAPHANDLE*, std::uint8_t*, std::uint32_t, int, int rows,
                     void* user)
{
    *static_cast<long*>(user) += rows;
    return 1;
}

inline void Run(const std::uint8_t* data, std::size_t size)
{
    _FILEINFO info{};
    RkFileInfoMemory(data, size, &info, FILEINFO_SIZE);
    for (int bits : {0, 24, 32}) {
        _BITMAPHANDLE b;
        RkInitBitmap(&b, BITMAPHANDLE_SIZE, 0, 0, 0);
        RkLoadMemory(data, size, &b, BITMAPHANDLE_SIZE, bits, RK_ORDER_BGR, nullptr);
        RkFreeBitmap(&b);
    }
    // The callback-only load (rows kept back for bottom-up files) reads a path.
    static const int fd = memfd_create("fuzz_raster", 0);
    if (fd < 0)
        return;
    (void)ftruncate(fd, 0);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
        if (n <= 0)
            return;
        done += std::size_t(n);
    }
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    _BITMAPHANDLE b;
    RkInitBitmap(&b, BITMAPHANDLE_SIZE, 0, 0, 0);
    long rows = 0;
    RkLoadFileCallback(path.c_str(), &b, BITMAPHANDLE_SIZE, 8, RK_ORDER_BGR, RK_LOAD_CALLBACK,
                       CountRows, &rows, nullptr);
    RkFreeBitmap(&b);
}

} // namespace fuzzraster
