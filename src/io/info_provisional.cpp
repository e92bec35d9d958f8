// info_provisional.cpp - a minimal file description until the file-information queries are
// merged (they replace this file).
#include "io_internal.h"

#include <base/path_string.h>
#include <codecs/tiff/tiff_codec.h>
#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <raster/file_module.h>
#include <win/files.h>

int TDib::GetInfoFitxer(const wchar_t* path, int, CFILEINFO* info)
{
    if (!path || !info)
        return DIB_ERR_INVALID;
    std::string utf8;
    if (!dib::io::Utf8Path(path, utf8))
        return DIB_ERR_INVALID;
    _FILEINFO record{};
    record.uStructSize = FILEINFO_SIZE;
    const int r = RkFileInfo(utf8.c_str(), &record, FILEINFO_SIZE);
    *info = record;
    if (r > 0 && dib::io::IsJpegFamily(info->Format))
        return dib::StatusFromKernel(dib::TDibAccess::InfoJPEG(path, *info));
    if (r > 0 && !dib::io::IsTiffFamily(info->Format))
        return DIB_OK;
    return dib::StatusFromKernel(dib::TiffReaderAccess::InfoTiff(path, *info));
}

int TDib::GetInfoMem(const unsigned char* data, int size, CFILEINFO* info)
{
    if (!data || size < 1 || !info)
        return DIB_ERR_INVALID;
    CPathString temp;
    if (!temp.GetTempFileNameW(L"tmp"))
        return DIB_ERR_INVALID;
    FILE* f = _wfopen(temp.c_str(), L"wb");
    const bool written = f && std::fwrite(data, 1, std::size_t(size), f) == std::size_t(size);
    if (f)
        std::fclose(f);
    const int r = written ? GetInfoFitxer(temp.c_str(), 0, info) : DIB_ERR_INVALID;
    temp.Esborrar();
    return r;
}

int TDib::TestMem(const unsigned char* data, int size)
{
    CFILEINFO info;
    return GetInfoMem(data, size, &info) >= 0 ? 1 : 0;
}
