// formats.cpp - DibGetFormats: the kernel's format table joined with the numbers of the own
// readers' families, each marked with the route Obrir and Salvar take for it.
#include "io_internal.h"

#include <algorithm>
#include <dib/Formats.h>
#include <raster/file_module.h>
#include <vector>

namespace {

// Numbers the kernel's table lacks but the own readers answer to.
constexpr int kFamilyOnly[] = {98, 101, 139, 140, 141, 391, 392, 393};

DibFormat Describe(int format)
{
    const char* name = RkFormatName(format);
    const bool tiff = dib::io::IsTiffFamily(format), jpeg = dib::io::IsJpegFamily(format);
    if (!name)
        name = tiff ? "TIFF" : "JPEG";
    // Reads: the own readers for their families, the kernel (with the readers registered
    // with it, Photoshop included) for the rest. Writes: the own TIFF writer for the TIFF
    // family, the kernel for the rest.
    const int reads = tiff || jpeg || RkFormatCanRead(format) ? 1 : 0;
    const int writes = tiff || RkFormatCanWrite(format) ? 1 : 0;
    return {format, name, reads, writes, tiff ? 1 : 0};
}

const std::vector<DibFormat>& Table()
{
    static const std::vector<DibFormat> table = [] {
        std::vector<int> numbers(std::begin(kFamilyOnly), std::end(kFamilyOnly));
        for (int i = 0; RkFormatAt(i) != 0; ++i)
            numbers.push_back(RkFormatAt(i));
        std::sort(numbers.begin(), numbers.end());
        numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
        std::vector<DibFormat> out;
        for (int f : numbers)
            out.push_back(Describe(f));
        return out;
    }();
    return table;
}

} // namespace

extern "C" int DibGetFormats(DibFormat* formats, int capacity)
{
    const std::vector<DibFormat>& table = Table();
    if (formats && capacity > 0)
        std::copy_n(table.begin(), std::min<std::size_t>(table.size(), std::size_t(capacity)),
                    formats);
    return int(table.size());
}
