// fuzz_raster_jpeg_tiff.cpp - the kernel's JPEG and generic TIFF codecs on arbitrary bytes:
// probe, file information and loading, every delivered row read through.
#include <core/byte_source.h>
#include <cstdint>
#include <raster/formats/codecs_b.h>

namespace {

class TouchingSink : public rkfmt::RowSink {
public:
    int Begin(const rkfmt::PictureShape& shape) override
    {
        bytes_ = std::size_t(shape.width) * std::size_t(shape.bitsPerPixel) / 8;
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
    const std::size_t head = size < 64 ? size : 64;
    for (const rkfmt::Codec* codec : {&kJpegCodec, &kTiffCodec}) {
        if (!codec->probe(data, head, size))
            continue;
        auto source = core::MemorySource(data, size);
        _FILEINFO info{};
        info.uStructSize = FILEINFO_SIZE;
        codec->info(*source, info);
        TouchingSink sink;
        codec->load(*source, sink);
    }
    return 0;
}
