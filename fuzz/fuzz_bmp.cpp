// Fuzz target: the raster kernel's file module on BMP input (the whole dispatch; seeds are
// BMP files).
#include "raster_file_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzraster::Run(data, size);
    return 0;
}
