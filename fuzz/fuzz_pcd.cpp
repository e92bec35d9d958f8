// fuzz_pcd.cpp - the kernel's Photo CD codec on arbitrary bytes: file information and loading
// at the resolution the first byte picks (sector 0 is never read by the codec, so that byte is
// free), every delivered row read through.
#include <core/byte_source.h>
#include <cstdint>
#include <raster/formats/codecs_b.h>

namespace {

class TouchingSink : public rkfmt::RowSink {
public:
    int Begin(const rkfmt::PictureShape& shape) override
    {
        bytes_ = std::size_t(shape.width) * std::size_t(shape.bitsPerPixel / 8);
        return RK_SUCCESS;
    }
    int Rows(const std::uint8_t* rows, int count, std::size_t stride) override
    {
        for (int r = 0; r < count; ++r)
            for (std::size_t i = 0; i < bytes_; ++i)
                sum_ += rows[std::size_t(r) * stride + i];
        return sum_ == 0xFFFFFFFFu ? RK_ERROR_CANCELLED : RK_SUCCESS;
    }

private:
    std::size_t bytes_ = 0;
    unsigned sum_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RkSetPCDResolution(size > 0 ? data[0] % 4 : 0);
    auto source = core::MemorySource(data, size);
    if (kPcdCodec.probe(data, size < 64 ? size : 64, size) != RK_FORMAT_PCD)
        return 0;
    _FILEINFO info{};
    info.uStructSize = FILEINFO_SIZE;
    kPcdCodec.info(*source, info);
    TouchingSink sink;
    kPcdCodec.load(*source, sink);
    return 0;
}
