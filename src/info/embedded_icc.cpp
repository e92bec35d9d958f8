// embedded_icc.cpp - the ICC profile embedded in a file, whatever its format family; also
// CTIFTools::GetEmbededICC, which lives here rather than with the TIFF tools because it
// answers through the file-information queries above them.
#include "format_families.h"

#include <codec/tiff_support.h>
#include <codecs/jpeg/jpeg_reader.h>
#include <core/byte_source.h>
#include <cstdlib>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/PsdTools.h>
#include <dib/TDib.h>
#include <dib/TiffTools.h>
#include <memory>
#include <string>
#include <win/files.h>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

unsigned long CopyOut(const void* profile, unsigned long bytes, void* buffer)
{
    if (buffer && profile && bytes > 0)
        std::memcpy(buffer, profile, bytes);
    return bytes;
}

constexpr int kFormatJpeg411 = 21;
constexpr int kFormatJpeg422 = 23;

unsigned long JpegProfile(const std::string& name, void* buffer)
{
    const auto source = core::FileSource(name.c_str());
    if (!source)
        return 0;
    unsigned char* profile = nullptr;
    unsigned int bytes = 0;
    if (!jpeg::EmbeddedIcc(*source, &profile, &bytes))
        return 0;
    const std::unique_ptr<unsigned char, FreeDeleter> owned(profile);
    return CopyOut(profile, bytes, buffer);
}

unsigned long TiffProfile(const std::string& name, void* buffer)
{
    const auto source = core::FileSource(name.c_str());
    if (!source)
        return 0;
    const auto tif = codec::TiffInput::Open(*source, "rmC", name.c_str());
    std::uint32_t bytes = 0;
    void* data = nullptr;
    if (!tif || TIFFGetField(tif->get(), TIFFTAG_ICCPROFILE, &bytes, &data) != 1 || !data)
        return 0;
    return CopyOut(data, bytes, buffer);
}

} // namespace

unsigned long TDib::GetEmbededICC(const wchar_t* path, void* buffer, CFILEINFO* info)
{
    int format = 0;
    if (info) {
        format = info->Format;
    } else {
        CFILEINFO described;
        if (GetInfoFitxer(path, 0, &described) < 0)
            return 0;
        format = described.Format;
    }
    std::string name;
    if (!path || !PathToUtf8(path, name))
        return 0;
    // The kernel's subsampled JPEG numbers (4:2:0 and 4:1:1, 4:2:2) carry APP2 profiles the
    // same way; left out, such a file would be reported as having none.
    if (dib::IsJpegFamily(format) || format == kFormatJpeg411 || format == kFormatJpeg422)
        return JpegProfile(name, buffer);
    if (format == dib::kFormatPsd)
        return CPSDTools::_GetEmbededICC(path, buffer);
    if (dib::IsTiffFamily(format))
        return TiffProfile(name, buffer);
    if (format == dib::kFormatPng) {
        unsigned char* profile = nullptr;
        const int bytes = GetEmbeddedProfileByRE(path, profile);
        const std::unique_ptr<unsigned char, FreeDeleter> owned(profile);
        return bytes > 0 ? CopyOut(profile, std::uint32_t(bytes), buffer) : 0;
    }
    return 0;
}

unsigned long CTIFTools::GetEmbededICC(const wchar_t* path, void* buffer)
{
    return TDib::GetEmbededICC(path, buffer, nullptr);
}
