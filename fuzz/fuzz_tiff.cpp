// fuzz_tiff.cpp - the TIFF reader on arbitrary bytes: header information, lines to a consumer
// with and without alpha, into an image (CMYK adapted), and the palette expansion.
#include <codecs/tiff/tiff_codec.h>
#include <cstdint>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>

namespace {

// Touches every delivered byte so that a line shorter than announced is seen by the sanitizers.
class Touch : public TProcesLiniaDIB {
public:
    explicit Touch(int alpha) : TProcesLiniaDIB(64, 8, 3, alpha) {}
    int Init(int w, int, CRect& region) override
    {
        width_ = w;
        region.left = w / 3;
        return 1;
    }
    int Processar(unsigned char* line, unsigned char* alpha) override
    {
        // Every layout has at least one bit per pixel, and an alpha line (8 or 16 bits only)
        // at least one byte per pixel.
        const int pixels = width_ - width_ / 3;
        for (int i = 0; i < (pixels + 7) / 8; ++i)
            sum_ += line[i];
        for (int x = 0; alpha && x < pixels; ++x)
            sum_ += alpha[x];
        return 1;
    }
    int Done() override { return int(sum_ & 1); }

private:
    int width_ = 0;
    unsigned sum_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    auto source = core::MemorySource(data, size);
    if (!source)
        return 0;
    CFILEINFO info;
    codec_tiff::InfoTiff(*source, info);
    for (int alpha : {0, 1}) {
        Touch consumer(alpha);
        TDib image;
        codec_tiff::LoadRequest q;
        q.processor = &consumer;
        q.image = alpha ? &image : nullptr;
        q.adaptCmyk = true;
        q.wantAlpha = alpha != 0;
        codec_tiff::LoadTiff(*source, q);
    }
    Touch consumer(0);
    TDib image;
    codec_tiff::LoadIndexedTiff(*source, 24, &consumer, nullptr, &image);
    return 0;
}
