// fuzz_tiftools.cpp - CTIFTools on arbitrary bytes written to a temporary file: every header
// query, raw scan lines of the object, and windowed reads at 8 and 24 bits per pixel.
#include <base/progress.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dib/LineConsumer.h>
#include <dib/TiffTools.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Touches every byte a line of width pixels at `stride` bytes each must hold.
class Touch : public TProcesLiniaDIB {
public:
    explicit Touch(int stride) : TProcesLiniaDIB(64, 8, 3, 0), stride_(stride) {}
    int Init(int w, int, CRect&) override
    {
        width_ = w;
        return 0;
    }
    int Processar(unsigned char* line, unsigned char*) override
    {
        for (long i = 0; i < long(width_) * stride_; ++i)
            sum_ += line[i];
        return 1;
    }
    int Done() override { return int(sum_ & 1); }

private:
    int stride_;
    int width_ = 0;
    unsigned sum_ = 0;
};

const std::string& TempPath()
{
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_tiftools_XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0)
            close(fd);
        return std::string(name);
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 18))
        return 0;
    const std::string& path = TempPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    const bool written = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    if (!written)
        return 0;
    const std::wstring wide(path.begin(), path.end());
    const wchar_t* p = wide.c_str();

    CTiffHeaderSelection header;
    CTIFTools::GetHeaderSelectionValues(p, header);
    if (header.iccProfile) {
        // The profile's own size must lie in the copy.
        const unsigned n = unsigned(header.iccProfile[0]) << 24 | header.iccProfile[1] << 16 |
                           header.iccProfile[2] << 8 | header.iccProfile[3];
        volatile unsigned char last = header.iccProfile[n - 1];
        (void)last;
    }
    for (std::uint32_t i = 0; header.inkNames && i < header.inkNamesSize; ++i) {
        volatile char c = header.inkNames[i];
        (void)c;
    }
    header.Release();
    _FILEINFO info{};
    CTIFTools::GetInfoFitxer(p, &info);
    CTIFTools::_VerifyTiffMultiChannelInfo(p);
    CTIFTools::GetNumberOfChannels(p);
    std::vector<unsigned char> names(24);
    CTIFTools::GetSeparationList(p, names.data(), names.size(), 0);
    CString date, software;
    CTIFTools::GetCreationDateTimeAndSoftware(p, date, software);
    _VelanTIFFInfo repeat;
    CTIFTools::GetStorkRapport(p, &repeat);
    CTIFTools::GetEspaiTiff(p);

    CTIFTools tools;
    if (tools.OpenTiff(p, L"rm") == 0) {
        const std::uint64_t bytes = tools.ScanlineSize();
        if (bytes > 0 && bytes <= (1u << 20)) {
            std::vector<unsigned char> line(bytes);
            for (unsigned row = 0; row < 4; ++row)
                tools.ReadTIFLine(row, line.data(), -1);
        }
        CTIFTools copy(tools);
    }

    CRect window(1, 1, 40, 40);
    for (int bits : {8, 24}) {
        Touch consumer(bits / 8);
        CTIFTools::ObrirDinamic(p, &consumer, bits, nullptr, &window, 1);
    }
    if (std::int64_t(info.Width) * info.Height <= (1 << 16)) {
        Touch whole(3);
        TIndicadorEstat progress;
        CTIFTools::ObrirDinamic(p, &whole, 24, &progress, nullptr, 1);
    }
    return 0;
}
