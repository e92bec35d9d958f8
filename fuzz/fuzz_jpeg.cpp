// fuzz_jpeg.cpp - the JPEG reader and the ICC join on arbitrary bytes: header, decoding into
// an image and to a consumer at the file's depth or a converted one, and the embedded profile.
#include <codecs/jpeg/jpeg_reader.h>
#include <core/byte_source.h>
#include <cstdint>
#include <cstdlib>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>

namespace {

// Reads every byte of every line it is given, from the column it asked for.
class TouchingConsumer : public TProcesLiniaDIB {
public:
    TouchingConsumer(int left, int first, int bytesPerPixel)
        : TProcesLiniaDIB(0, 8, bytesPerPixel, 0), left_(left), first_(first), bpp_(bytesPerPixel)
    {
    }
    int Init(int width, int, CRect& region) override
    {
        width_ = width;
        region.left = left_;
        return first_;
    }
    int Processar(unsigned char* line, unsigned char*) override
    {
        const int from = left_ < 0 ? 0 : (left_ >= width_ ? width_ - 1 : left_);
        for (int i = 0; i < (width_ - from) * bpp_; ++i)
            sum_ += line[i];
        return 1;
    }
    int Done() override { return int(sum_ & 1); }

private:
    int left_, first_, bpp_, width_ = 0;
    unsigned sum_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    auto source = core::MemorySource(data, size);
    CFILEINFO info;
    // Huge frames are valid JPEG; the cap keeps each run within the fuzzer's memory limit.
    if (jpeg::Info(*source, info) == 1 &&
        std::int64_t(info.Width) * info.Height * (info.BitsPerPixel / 8) <= (1 << 24)) {
        const std::uint8_t knob = size > 0 ? data[size - 1] : 0;
        static const int kDepths[] = {0, 8, 24, 32};
        const int depth = kDepths[knob & 3];
        const int bytesPerPixel = depth == 0 ? info.BitsPerPixel / 8 : depth / 8;
        TouchingConsumer consumer((knob >> 2) & 7 ? info.Width - (knob >> 2) % 8 : 0,
                                  (knob >> 5) & 3, bytesPerPixel);
        TDib image;
        jpeg::Load(image, *source, depth, &consumer, nullptr, 1, knob & 0x80);
        if (!image.EsBuit()) {
            std::uint8_t row[1 << 18];
            const int bytes = image.GetBytesPerLinia();
            if (bytes > 0 && bytes <= int(sizeof row))
                for (int y = 0; y < image.GetMidaY(); ++y)
                    image.GetLinia(y, row, std::uint64_t(bytes));
        }
    }
    unsigned char* profile = nullptr;
    unsigned int length = 0;
    if (jpeg::EmbeddedIcc(*source, &profile, &length))
        std::free(profile);
    return 0;
}
