// file_info_values.cpp - single values of a file's or an image's description.
//
// Contents
//   TDib::GetInfo (static)     one value of a file's description by selector
//   TDib::GetInfo (member)     one value of the image in memory
//   TDib::GetInfoPCD           sizes of a Photo CD picture at each resolution
//   TDib::GetPaletaFitxer      the palette of an 8-bit file
//   TDib::GetEspaiTiff         the photometric interpretation of a TIFF
#include "format_families.h"

#include <algorithm>
#include <codec/tiff_support.h>
#include <core/byte_source.h>
#include <core/last_error.h>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <string>
#include <win/files.h>

namespace {

// A kernel bitmap record freed on every way out.
class TempBitmap {
public:
    TempBitmap() { RkInitBitmap(&b_, BITMAPHANDLE_SIZE, 0, 0, 0); }
    ~TempBitmap() { RkFreeBitmap(&b_); }
    TempBitmap(const TempBitmap&) = delete;
    TempBitmap& operator=(const TempBitmap&) = delete;
    _BITMAPHANDLE* get() { return &b_; }
    const _BITMAPHANDLE& operator*() const { return b_; }

private:
    _BITMAPHANDLE b_;
};

bool Utf8Path(const wchar_t* path, std::string& name)
{
    if (path && PathToUtf8(path, name))
        return true;
    core::SetLastErrorText("the path has no file-system name");
    return false;
}

} // namespace

int TDib::GetInfo(int selector, const wchar_t* path, void* out)
{
    CFILEINFO info;
    const int status = GetInfoFitxer(path, 0, &info);
    if (status < 0)
        return status;
    if (selector == 7)
        return DIB_OK;
    if (selector < 0 || selector == 5 || selector == 6 || selector > 11 || !out) {
        core::SetLastErrorText("unknown selector or null output");
        return DIB_ERR_INVALID;
    }
    switch (selector) {
    case 0:
        *static_cast<int*>(out) = info.Width;
        break;
    case 1:
        *static_cast<int*>(out) = info.Height;
        break;
    case 2:
        *static_cast<int*>(out) =
            info.BitsPerPixel == 32 && info.Order == RK_ORDER_RGB ? 24 : info.BitsPerPixel;
        break;
    case 3:
        *static_cast<double*>(out) = info.XResolution;
        break;
    case 4:
        *static_cast<double*>(out) = info.YResolution;
        break;
    case 8: {
        auto* k = static_cast<_FILEINFO*>(out);
        *k = _FILEINFO{};
        k->uStructSize = FILEINFO_SIZE;
        std::string name;
        if (Utf8Path(path, name))
            RkFileInfo(name.c_str(), k, FILEINFO_SIZE);
        break;
    }
    case 9:
        *static_cast<int*>(out) = info.Format;
        break;
    case 10:
        *static_cast<int*>(out) = info.Format == dib::kFormatPhotoCd ? 1 : 0;
        break;
    case 11:
        *static_cast<int*>(out) = info.ViewPerspective;
        break;
    default:
        break;
    }
    return DIB_OK;
}

int TDib::GetInfo(int selector, void* out) const
{
    if (!out) {
        core::SetLastErrorText("null output");
        return DIB_ERR_INVALID;
    }
    switch (selector) {
    case 0:
        *static_cast<int*>(out) = GetMidaX();
        return DIB_OK;
    case 1:
        *static_cast<int*>(out) = GetMidaY();
        return DIB_OK;
    case 2:
        *static_cast<int*>(out) = GetBitsPerPixel();
        return DIB_OK;
    case 3:
        *static_cast<double*>(out) = GetResolucioX();
        return DIB_OK;
    case 4:
        *static_cast<double*>(out) = GetResolucioY();
        return DIB_OK;
    case 5:
        *static_cast<int*>(out) = GetBytesPerLinia();
        return DIB_OK;
    case 6:
    case 11:
        *static_cast<int*>(out) = m_bitmap.ViewPerspective;
        return DIB_OK;
    default:
        core::SetLastErrorText("unknown selector");
        return DIB_ERR_INVALID;
    }
}

int TDib::GetInfoPCD(int what, const wchar_t* path, int resolution, int* out)
{
    if (what < 0 || what > 2 || !out) {
        core::SetLastErrorText("unknown query or null output");
        return DIB_ERR_INVALID;
    }
    std::string name;
    if (!Utf8Path(path, name))
        return dib::StatusFromKernel(RK_ERROR_FILE_OPEN);
    RkSetPCDResolution(3);
    TempBitmap picture;
    const int loaded =
        RkLoadFile(name.c_str(), picture.get(), BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, 0, nullptr);
    if (loaded <= 0)
        return dib::StatusFromKernel(loaded);
    const int w = (*picture).Width;
    const int h = (*picture).Height;
    if (what == 2) {
        *out = (*picture).BitsPerPixel;
        return DIB_OK;
    }
    // Base/64 (96 x 64) doubled at each step up to 64Base (3072 x 2048).
    if (resolution < 0 || resolution > 5) {
        *out = what == 0 ? w : h;
        return DIB_OK;
    }
    const int longer = 96 << resolution;
    const int shorter = 64 << resolution;
    if (what == 0)
        *out = w > h ? longer : shorter;
    else
        *out = w < h ? longer : shorter;
    return DIB_OK;
}

int TDib::GetPaletaFitxer(const wchar_t* path, tagRGBQUAD* palette)
{
    CFILEINFO info;
    if (GetInfoFitxer(path, 0, &info) < 0 || info.BitsPerPixel != 8 ||
        dib::IsTiffFamily(info.Format))
        return 0;
    std::string name;
    if (!Utf8Path(path, name))
        return 0;
    _FILEINFO k;
    info.Get(&k);
    TempBitmap picture;
    const int loaded =
        RkLoadFile(name.c_str(), picture.get(), BITMAPHANDLE_SIZE, 8, info.Order, 0, &k);
    if (loaded <= 0)
        return dib::StatusFromKernel(loaded);
    const int colours = std::clamp((*picture).ColorCount, 0, 256);
    if (palette && colours > 0)
        RkGetBitmapColors(picture.get(), 0, colours, palette);
    return RkIsGrayScaleBitmap(picture.get()) > 0 ? 0 : (*picture).ColorCount;
}

int TDib::GetEspaiTiff(const wchar_t* path)
{
    std::string name;
    if (!Utf8Path(path, name))
        return 0;
    const auto source = core::FileSource(name.c_str());
    if (!source)
        return 0;
    const auto tif = codec::TiffInput::Open(*source, "rmC", name.c_str());
    std::uint16_t photometric = 0;
    if (!tif || TIFFGetField(tif->get(), TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        return 0;
    return photometric;
}
