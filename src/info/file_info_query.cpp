// file_info_query.cpp - the description of a file: the kernel's, corrected by the own inspectors.
//
// Contents
//   TDib::GetInfoFitxer (path, withEngine, CFILEINFO*)
//   TDib::GetInfoMem, TestFitxer, TestMem
#include "format_families.h"

#include <base/path_string.h>
#include <core/last_error.h>
#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/PsdTools.h>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/file_module.h>
#include <string>
#include <win/files.h>

namespace {

// The kernel's description of the file, zeroed first so a query that fails fills nothing in.
int KernelInfo(const wchar_t* path, _FILEINFO& k)
{
    k = _FILEINFO{};
    k.uStructSize = FILEINFO_SIZE;
    std::string name;
    if (!PathToUtf8(path, name))
        return RK_ERROR_FILE_OPEN;
    return RkFileInfo(name.c_str(), &k, FILEINFO_SIZE);
}

// A Photoshop document: resolution and depth from its header and resources.
int CorrectFromPsd(const wchar_t* path, CFILEINFO& info)
{
    CPSDTools psd;
    if (psd.LoadHeaders(path) != 0) {
        core::SetLastErrorText("the Photoshop header cannot be read");
        return DIB_ERR_FAILED;
    }
    // Without a resolution resource the reader answers -1: the kernel's values stand then.
    double x = 0, y = 0;
    psd.DPI(x, y);
    if (x > 0)
        info.XResolution = x;
    if (y > 0)
        info.YResolution = y;
    info.BitsPerPixel = int(psd.Header().channels) * int(psd.Header().depth);
    return DIB_OK;
}

} // namespace

int TDib::GetInfoFitxer(const wchar_t* path, int withEngine, CFILEINFO* info)
{
    if (!path || !info) {
        core::SetLastErrorText("null path or file-information record");
        return DIB_ERR_INVALID;
    }
    _FILEINFO k;
    const int known = KernelInfo(path, k);
    *info = k;
    if (withEngine)
        info->EngineInfo = GetInfoByRE(path);

    if (known > 0) {
        const int format = info->Format;
        if (format == dib::kFormatPsd)
            return CorrectFromPsd(path, *info);
        if (dib::IsJpegFamily(format))
            return dib::StatusFromKernel(_infoJPEG(path, *info));
        if (format == dib::kFormatPcx && info->BitsPerPixel == 8) {
            info->BitsPerPixel = 24;
            info->Indexed = 1;
            return DIB_OK;
        }
        if (format == dib::kFormatPng) {
            if (withEngine && !info->EngineInfo.IsEmpty() &&
                _infoByRExml(info->EngineInfo, info) == 0 && info->BitsPerChannel != 8) {
                core::SetLastErrorText("PNG samples other than 8 bits are not read");
                return DIB_ERR_FAILED;
            }
            if (info->BitsPerPixel == 32)
                info->AlphaChannel = 3;
            else if (info->BitsPerPixel == 16)
                info->AlphaChannel = 1;
            return DIB_OK;
        }
        if (!dib::IsTiffFamily(format))
            return DIB_OK;
    }
    // TIFF files, and whatever the kernel does not know: libtiff has the last word.
    const int tiff = _infoTiff(path, *info);
    if (tiff == -10)
        core::SetLastErrorText("not an image file of a known format");
    else if (tiff == 0)
        core::SetLastErrorText("a TIFF layout the reader does not load");
    return dib::StatusFromKernel(tiff);
}

int TDib::GetInfoMem(const unsigned char* data, int size, CFILEINFO* info)
{
    if (!data || size < 1 || !info) {
        core::SetLastErrorText("null data or record, or no bytes");
        return DIB_ERR_INVALID;
    }
    CPathString temp;
    if (!temp.GetTempFileNameW(L"tmp")) {
        core::SetLastErrorText("no temporary file can be created");
        return DIB_ERR_INVALID;
    }
    FILE* file = _wfopen(temp, L"wb");
    bool written = false;
    if (file) {
        written = std::fwrite(data, 1, std::size_t(size), file) == std::size_t(size);
        written = (std::fflush(file) == 0) && written;
        written = (std::fclose(file) == 0) && written;
    }
    int result = DIB_ERR_INVALID;
    if (written)
        result = GetInfoFitxer(temp, 0, info);
    else
        core::SetLastErrorText("the temporary file cannot be written");
    _wremove(temp);
    return result;
}

int TDib::TestFitxer(const wchar_t* path)
{
    CFILEINFO info;
    return GetInfoFitxer(path, 1, &info) >= 0 ? 1 : 0;
}

int TDib::TestMem(const unsigned char* data, int size)
{
    CFILEINFO info;
    return GetInfoMem(data, size, &info) >= 0 ? 1 : 0;
}
