// convert_stream.cpp - the streamed route of `dibtool convert`: TDib::ObrirDinamic hands the
// lines top to bottom to a consumer that writes each at once with L_DynamicSaveBMProw.
#include "convert_stream.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/StreamWriters.h>
#include <dib/TDib.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kMaxPixelsPerMetreDpi = 54546084; // the writer's largest resolution

int Dpi(double value)
{
    if (!std::isfinite(value) || value <= 0)
        return 0;
    return value >= kMaxPixelsPerMetreDpi ? kMaxPixelsPerMetreDpi : int(std::lround(value));
}

bool EndsWithBmp(std::string_view name)
{
    if (name.size() < 4)
        return false;
    std::string ext(name.substr(name.size() - 4));
    for (char& c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ext == ".bmp";
}

// The TIFF family's format numbers: their bilevel lines come from the library's own reader,
// which delivers 1 for white whatever the file's photometric (other formats' 1-bit lines are
// palette indices of unknown colours).
bool IsTiff(int format)
{
    for (int f : {3, 11, 17, 22, 24, 85, 86, 87, 88})
        if (f == format)
            return true;
    return false;
}

// The writer's palette is fixed (1 bit: 0 white, 1 black; 8 bits: ascending grey), so lines
// whose bits mean the opposite are inverted on the way.
class BmpRows : public TProcesLiniaDIB {
public:
    BmpRows(unsigned long cs, int bits, std::wstring path, int xDpi, int yDpi, bool invert)
        : TProcesLiniaDIB(cs, bits, 1, 0), m_bits(bits), m_path(std::move(path)), m_xDpi(xDpi),
          m_yDpi(yDpi), m_invert(invert)
    {
    }
    ~BmpRows() override
    {
        if (m_handle)
            L_AbortDynamicSaveBMP(m_handle);
    }
    BmpRows(const BmpRows&) = delete;
    BmpRows& operator=(const BmpRows&) = delete;

    int Init(int width, int height, CRect& region) override
    {
        region = CRect(0, 0, width - 1, height - 1);
        m_handle =
            L_StartDynamicSaveBMP(width, height, m_bits, m_xDpi, m_yDpi, m_path.c_str(), 1, 1, 0);
        if (!m_handle)
            return -1;
        m_height = height;
        const std::size_t bitsPerRow = std::size_t(width) * std::size_t(m_bits);
        m_lineBytes = (bitsPerRow + 7) / 8;
        m_row.assign((bitsPerRow + 31) / 32 * 4, 0);
        const int spare = int(bitsPerRow % 8);
        m_lastMask = spare == 0 ? 0xFF : static_cast<unsigned char>(0xFF << (8 - spare));
        return 0;
    }
    int Processar(unsigned char* line, unsigned char*) override
    {
        std::memcpy(m_row.data(), line, m_lineBytes);
        if (m_invert) {
            for (std::size_t i = 0; i < m_lineBytes; ++i)
                m_row[i] = static_cast<unsigned char>(~m_row[i]);
        }
        if (m_bits == 1)
            m_row[m_lineBytes - 1] &= m_lastMask;
        if (L_DynamicSaveBMProw(m_row.data(), m_handle) != 0) {
            m_writeFailed = true;
            return 0;
        }
        ++m_rows;
        return 1;
    }
    int Done() override { return 0; }

    bool Started() const { return m_handle != nullptr; }
    bool WriteFailed() const { return m_writeFailed; }
    bool Complete() const { return m_rows == m_height; }
    // Completes the file: the writer's status (0 every byte reached it).
    int End() { return m_handle ? L_EndDynamicSaveBMP(m_handle) : -3; }

private:
    int m_bits;
    std::wstring m_path;
    int m_xDpi, m_yDpi;
    bool m_invert;
    void* m_handle = nullptr;
    std::vector<unsigned char> m_row;
    std::size_t m_lineBytes = 0;
    unsigned char m_lastMask = 0xFF;
    int m_height = 0, m_rows = 0;
    bool m_writeFailed = false;
};

} // namespace

int ConvertStreamed(const cli::Args& args, const std::string& in, const std::string& out)
{
    for (const char* option : {"--format", "--bpp", "--quality"})
        if (args.Has(option))
            return args.UsageError(std::string("--stream writes the image's own depth as BMP: ") +
                                   option + " does not apply");
    if (!EndsWithBmp(out))
        return args.UsageError("--stream writes BMP files only: OUT must end in .bmp");
    // The finished file replaces OUT only when complete.
    const std::string part = out + ".part";
    std::wstring inPath, partPath;
    if (!cli::Wide(in, inPath) || !cli::Wide(part, partPath))
        return args.UsageError("IN and OUT must be UTF-8");

    DibClearLastErrorText();
    CFILEINFO info;
    if (const int status = TDib::GetInfoFitxer(inPath.c_str(), 0, &info); status < 0)
        return cli::Failure("convert", in, "describe", status);
    const bool grey = info.BitsPerPixel == 8 && info.ColorSpace == DIB_CS_GREY &&
                      info.Channels == 1 && info.AlphaChannel < 0;
    const bool bilevel = info.BitsPerPixel == 1 && IsTiff(int(info.Format));
    if (!grey && !bilevel) {
        char what[96];
        std::snprintf(what, sizeof what, "%d bits per pixel, %u channel(s)%s",
                      int(info.BitsPerPixel), unsigned(info.Channels),
                      info.BitsPerPixel == 1 ? ", not a TIFF" : "");
        return args.UsageError("--stream takes 8-bit grey images and 1-bit TIFF files; " + in +
                               " has " + what + " (convert it without --stream)");
    }

    cli::InstallInterruptHandler();
    cli::Progress progress(cli::ShowProgress(args));
    BmpRows rows(bilevel ? DIB_CS_MONO : DIB_CS_GREY, bilevel ? 1 : 8, partPath,
                 Dpi(info.XResolution), Dpi(info.YResolution), bilevel);
    TDib reader;
    const int status =
        reader.ObrirDinamic(inPath.c_str(), &rows, int(info.BitsPerPixel), 0, 0, &progress, &info);
    const bool started = rows.Started();
    const bool read = status == DIB_OK && !rows.WriteFailed() && rows.Complete();
    const int ended = started ? rows.End() : 0;
    progress.Finish();
    if (!read || ended != 0) {
        std::remove(part.c_str());
        if (!started)
            return cli::Failure("convert", out, "create", status < 0 ? status : -1);
        if (status != DIB_OK)
            return cli::Failure("convert", in, "read", status);
        return cli::Failure("convert", out, "write", ended != 0 ? ended : -1);
    }
    if (std::rename(part.c_str(), out.c_str()) != 0) {
        std::remove(part.c_str());
        std::fprintf(stderr, "dibtool convert: %s: cannot put the finished file in place\n",
                     out.c_str());
        return cli::kExitFailed;
    }
    std::printf("%s: %d x %d pixels, %d bits per pixel, BMP written line by line\n", out.c_str(),
                int(info.Width), int(info.Height), int(info.BitsPerPixel));
    return cli::kExitOk;
}
