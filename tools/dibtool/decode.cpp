// decode.cpp - `dibtool decode IN [--stream] [--quiet]`: decodes IN and prints its size and a
// checksum of its pixels; what whole-process benchmarks time.
//
// Without --stream the image is opened into memory (TDib::Obrir, rows top-down); with it the
// lines go through TDib::ObrirDinamic to a line consumer and no image is kept. The checksum is
// FNV-1a 64 over each row's colour bytes, top row first: the line-size rule's bytes (no
// padding), without the alpha samples. Both routes give the same checksum for files of 8-bit
// samples (the in-memory route stores 16-bit samples reduced to 8 bits, while lines keep
// them).
#include "cli.h"
#include "verbs.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <new>
#include <vector>

namespace {

class Fnv1a64 {
public:
    void Add(const unsigned char* bytes, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            hash_ = (hash_ ^ bytes[i]) * 0x100000001b3ull;
    }
    // Pixels of `stride` bytes, leaving out byte `skip` of each.
    void AddWithout(const unsigned char* bytes, std::size_t pixels, std::size_t stride,
                    std::size_t skip)
    {
        for (std::size_t p = 0; p < pixels; ++p)
            for (std::size_t b = 0; b < stride; ++b)
                if (b != skip)
                    Add(bytes + p * stride + b, 1);
    }
    std::uint64_t value() const { return hash_; }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ull;
};

// Takes every line with the alpha samples apart (OutAlpha 1: colours untouched) and hashes
// the colour bytes.
class ChecksumConsumer : public TProcesLiniaDIB {
public:
    ChecksumConsumer(const CFILEINFO& f, std::uint64_t lineBytes)
        : TProcesLiniaDIB(f.ColorSpace, int(f.BitsPerChannel), int(f.Channels), 1),
          lineBytes_(lineBytes)
    {
    }
    int Init(int width, int height, CRect&) override
    {
        width_ = width;
        height_ = height;
        return 0;
    }
    int Processar(unsigned char* line, unsigned char*) override
    {
        if (line)
            hash_.Add(line, lineBytes_);
        ++lines_;
        return 1;
    }
    int Done() override { return 0; }

    int width_ = 0, height_ = 0;
    int lines_ = 0;
    Fnv1a64 hash_;

private:
    std::uint64_t lineBytes_;
};

void Print(const std::string& file, int width, int height, int lines, std::uint64_t hash,
           const char* route)
{
    std::printf("%s: %d x %d pixels, %d lines, fnv1a64 %016" PRIx64 " (%s)\n", file.c_str(), width,
                height, lines, hash, route);
}

} // namespace

int RunDecode(int argc, char** argv)
{
    cli::Args args("decode", "IN [--stream] [--quiet]");
    if (const int rc = args.Parse(argc, argv, {{"--stream", false}, {"--quiet", false}}, 1, 1);
        rc >= 0)
        return rc;
    const std::string& in = args.Files()[0];
    std::wstring path;
    if (!cli::Wide(in, path))
        return args.UsageError("IN must be UTF-8");

    cli::InstallInterruptHandler();
    cli::Progress progress(cli::ShowProgress(args));
    auto fail = [&](const char* operation, int status) {
        progress.Finish();
        return cli::Failure("decode", in, operation, status);
    };
    DibClearLastErrorText();
    CFILEINFO info;
    if (const int status = TDib::GetInfoFitxer(path.c_str(), 0, &info); status < 0)
        return fail("describe", status);
    const bool alpha = info.AlphaChannel >= 1 && info.Channels > 1;

    if (args.Has("--stream")) {
        // The lines arrive at the file's depth, the alpha samples apart.
        std::int64_t bits = info.BitsPerPixel;
        if (alpha)
            bits = bits * (info.Channels - 1) / info.Channels;
        ChecksumConsumer consumer(info, TDib::TamanyLinia(info.Width, int(bits), 0));
        TDib none;
        const int status = none.ObrirDinamic(path.c_str(), &consumer, 0, 0, 0, &progress, &info, 1);
        if (status != DIB_OK)
            return fail("decode", status == 1 ? DIB_ERR_FAILED : status);
        progress.Finish();
        Print(in, consumer.width_, consumer.height_, consumer.lines_, consumer.hash_.value(),
              "streamed");
        return cli::kExitOk;
    }

    TDib image;
    if (const int status = image.Obrir(path.c_str(), 0, &progress, 1, &info); status != DIB_OK)
        return fail("read", status);
    progress.Finish();
    const int width = image.GetMidaX(), height = image.GetMidaY(), bits = image.GetBitsPerPixel();
    const unsigned long bytes = TDib::TamanyLinia(width, bits, 0);
    // An alpha sample stored in the pixel is left out, as the streamed lines leave it.
    const bool skipAlpha = alpha && info.BitsPerChannel == 8 &&
                           std::int64_t(bits) == 8 * std::int64_t(info.Channels) &&
                           info.AlphaChannel < std::int32_t(info.Channels);
    std::vector<unsigned char> row;
    try {
        row.resize(bytes);
    } catch (const std::bad_alloc&) {
        return fail("read", DIB_ERR_NO_MEMORY);
    }
    Fnv1a64 hash;
    for (int y = 0; y < height && bytes > 0; ++y) {
        if (const int status = image.GetLinia(y, row.data(), bytes); status != DIB_OK)
            return fail("read a row", status);
        if (skipAlpha)
            hash.AddWithout(row.data(), std::size_t(width), info.Channels,
                            std::size_t(info.AlphaChannel));
        else
            hash.Add(row.data(), bytes);
    }
    Print(in, width, height, height, hash.value(), "in memory");
    return cli::kExitOk;
}
