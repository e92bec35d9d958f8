// Fuzz target: the buffer form of CPSDTools::ReadImageResource (a TIFF's embedded Photoshop
// resource block), read twice into one object and copied.
#include <cstddef>
#include <cstdint>
#include <dib/PsdTools.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    std::vector<unsigned char> block(data, data + size);
    CPSDTools psd;
    psd.ReadImageResource(block.data(), block.size());
    psd.ReadImageResource(block.data(), block.size());
    CPSDTools copy;
    copy = psd;
    return 0;
}
