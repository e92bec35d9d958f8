// fuzz_info.cpp - the file-information queries on arbitrary bytes: GetInfoMem (through its
// temporary file), and on a file of the same bytes the description with the engine, the
// embedded ICC profile of every family, the photometric query and the engine's XML applied
// to a record.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <info/info_access.h>
#include <string>
#include <unistd.h>
#include <vector>
#include <win/files.h>

namespace {

constexpr std::size_t kMaxInput = 1 << 20;

// One file per process, rewritten for every input.
const std::wstring& InputPath()
{
    static const std::wstring path = [] {
        const char* dir = std::getenv("TMPDIR");
        const std::string name = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_info_" +
                                 std::to_string(getpid()) + ".bin";
        return Utf8ToWide(name);
    }();
    return path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size)
{
    FILE* f = _wfopen(InputPath().c_str(), L"wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > kMaxInput)
        return 0;
    CFILEINFO info;
    TDib::GetInfoMem(data, int(size), &info);

    if (WriteInput(data, size)) {
        const wchar_t* path = InputPath().c_str();
        CFILEINFO described;
        TDib::GetInfoFitxer(path, 1, &described);
        // The profile of each family the bytes might be, as a caller asks: size, then bytes.
        for (int format : {3, 10, 75, 76}) {
            CFILEINFO record;
            record.Format = format;
            const unsigned long bytes = TDib::GetEmbededICC(path, nullptr, &record);
            if (bytes > 0 && bytes <= (64u << 20)) {
                std::vector<unsigned char> profile(bytes);
                TDib::GetEmbededICC(path, profile.data(), &record);
            }
        }
        TDib::GetEspaiTiff(path);
        _wremove(path);
    }

    // The bytes as an engine description.
    const std::wstring xml = Utf8ToWide(
        std::string_view(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 65536)));
    CFILEINFO record;
    dib::FileInfoAccess::InfoByRExml(xml.c_str(), &record);
    return 0;
}
