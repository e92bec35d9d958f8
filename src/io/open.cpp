// open.cpp - opening an image from a file, a Photo CD, a memory block or a module resource.
//
//   TDib::Obrir            by the file's format: own JPEG reader, own TIFF reader, or the kernel
//   TDib::ObrirPCD         Photo CD through the kernel at a chosen resolution
//   TDib::SetResolucioPCD  the kernel's process-wide Photo CD resolution
//   TDib::ObrirMem         own TIFF reader (format 189) or the kernel
//   TDib::ObrirRecurs      "IMATGE_BINARIA" resources, one module or the module chain
//
// Every open decodes into a temporary image and hands the bitmap over only on success, so a
// failed open leaves the image as it was and a successful one releases the old pixels.
#include "io_internal.h"

#include <base/progress.h>
#include <cmath>
#include <codecs/tiff/tiff_codec.h>
#include <core/last_error.h>
#include <dib/FileInfo.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <limits>
#include <raster/file_module.h>
#include <win/module_resources.h>

namespace {

constexpr const wchar_t* kResourceType = L"IMATGE_BINARIA";

int RoundedResolution(double v)
{
    const double r = std::round(v); // halves away from zero
    if (!(r > double(std::numeric_limits<int>::min())))
        return std::numeric_limits<int>::min();
    if (!(r < double(std::numeric_limits<int>::max())))
        return std::numeric_limits<int>::max();
    return int(r);
}

// The own TIFF reader stores files of 16 bits per sample at 8 bits per sample.
std::uint32_t StoredBitsPerChannel(const CFILEINFO& info, bool ownTiff)
{
    return ownTiff && info.BitsPerChannel == 16 ? 8 : info.BitsPerChannel;
}

} // namespace

int TDib::Obrir(const wchar_t* path, int bitsPerPixel, TIndicadorEstat* progress, int toTopLeft,
                CFILEINFO* info)
{
    dib::io::InstallMemoryCodecsOnce();
    CFILEINFO fi;
    if (info) {
        fi = *info;
    } else {
        const int described = GetInfoFitxer(path, 0, &fi);
        if (described < 0)
            return described;
    }
    const double resX = fi.XResolution > 0 ? fi.XResolution : 72.0;
    const double resY = fi.YResolution > 0 ? fi.YResolution : 72.0;
    const int depth = bitsPerPixel != 0 ? bitsPerPixel : fi.BitsPerPixel;

    TDib decoded;
    int r = 0;
    bool ownTiff = false;
    if (dib::io::IsJpegFamily(fi.Format)) {
        r = dib::TDibAccess::LoadJPEG(decoded, path, depth, nullptr, progress, 1, 0);
    } else if (dib::io::IsTiffFamily(fi.Format) && fi.ColourModel != 3) {
        ownTiff = true;
        r = dib::TiffReaderAccess::LoadTiff(decoded, path, 0, nullptr, progress, 1, 0, 1);
    } else {
        std::string utf8;
        if (!dib::io::Utf8Path(path, utf8))
            return DIB_ERR_INVALID;
        _FILEINFO record;
        fi.Get(&record);
        if (!progress) {
            r = RkLoadFile(utf8.c_str(), &decoded.m_bitmap, BITMAPHANDLE_SIZE, depth, RK_ORDER_BGR,
                           0, &record);
        } else {
            dib::io::LoadContext context;
            dib::io::MakeLoadContext(fi, depth, progress, context);
            r = RkLoadFileCallback(utf8.c_str(), &decoded.m_bitmap, BITMAPHANDLE_SIZE, depth,
                                   RK_ORDER_BGR,
                                   RK_LOAD_ALLOCATE | RK_LOAD_STORE | RK_LOAD_CALLBACK,
                                   &TDib::__ObrirDinamicProc, &context, &record);
        }
    }
    if (r <= 0)
        return dib::StatusFromKernel(r);
    if (!(decoded.m_bitmap.Flags & BITMAP_FLAG_ALLOCATED)) {
        // A reader that reports success must have made the picture.
        core::SetLastErrorText("the reader made no bitmap");
        return DIB_ERR_FAILED;
    }
    if (toTopLeft != 0 && decoded.m_bitmap.ViewPerspective == RK_BOTTOM_LEFT) {
        const int flipped = decoded.NormalitzarTopLeft();
        if (flipped != DIB_OK)
            return flipped;
    }
    dib::io::AdoptBitmap(*this, decoded);
    m_bitmap.XResolution = RoundedResolution(resX);
    m_bitmap.YResolution = RoundedResolution(resY);
    m_resolucioX = resX;
    m_resolucioY = resY;
    m_canalAlpha = fi.AlphaChannel;
    m_espaiColor = fi.ColorSpace;
    m_canals = fi.Channels;
    m_bitsPerCanal = StoredBitsPerChannel(fi, ownTiff);
    return DIB_OK;
}

int TDib::SetResolucioPCD(int resolution)
{
    return RkSetPCDResolution(resolution) == RK_SUCCESS ? DIB_OK : DIB_ERR_INVALID;
}

int TDib::ObrirPCD(const wchar_t* path, int resolution, int bitsPerPixel, TIndicadorEstat* progress,
                   int toTopLeft)
{
    RkSetPCDResolution(resolution);
    std::string utf8;
    if (!dib::io::Utf8Path(path, utf8))
        return DIB_ERR_INVALID;
    TDib decoded;
    int r = 0;
    if (!progress) {
        r = RkLoadFile(utf8.c_str(), &decoded.m_bitmap, BITMAPHANDLE_SIZE, bitsPerPixel,
                       RK_ORDER_BGR, 0, nullptr);
    } else {
        CFILEINFO fi;
        const int described = GetInfoFitxer(path, 0, &fi);
        if (described < 0)
            return described;
        dib::io::LoadContext context;
        dib::io::MakeLoadContext(fi, bitsPerPixel != 0 ? bitsPerPixel : fi.BitsPerPixel, progress,
                                 context);
        r = RkLoadFileCallback(utf8.c_str(), &decoded.m_bitmap, BITMAPHANDLE_SIZE, bitsPerPixel,
                               RK_ORDER_BGR, RK_LOAD_ALLOCATE | RK_LOAD_STORE | RK_LOAD_CALLBACK,
                               &TDib::__ObrirDinamicProc, &context, nullptr);
    }
    if (r <= 0)
        return dib::StatusFromKernel(r);
    if (!(decoded.m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return DIB_ERR_FAILED;
    if (toTopLeft != 0 && decoded.m_bitmap.ViewPerspective == RK_BOTTOM_LEFT) {
        const int flipped = decoded.NormalitzarTopLeft();
        if (flipped != DIB_OK)
            return flipped;
    }
    dib::io::AdoptBitmap(*this, decoded);
    return DIB_OK;
}

int TDib::ObrirMem(const unsigned char* data, int size, int bitsPerPixel, int format, CFILEINFO*)
{
    dib::io::InstallMemoryCodecsOnce();
    TDib decoded;
    int r = 0;
    const bool ownTiff = format == RK_FORMAT_TIFF_DEFLATE;
    if (ownTiff) {
        if (!data || size <= 0)
            return DIB_ERR_INVALID;
        r = dib::TiffReaderAccess::LoadTiffMemory(decoded, data, 0,
                                                  static_cast<unsigned long>(size));
    } else {
        if (!data || size <= 0 || TestMem(data, size) == 0)
            return DIB_ERR_INVALID;
        r = RkLoadMemory(data, std::uint64_t(size), &decoded.m_bitmap, BITMAPHANDLE_SIZE,
                         bitsPerPixel, RK_ORDER_BGR, nullptr);
    }
    if (r <= 0)
        return dib::StatusFromKernel(r);
    if (!(decoded.m_bitmap.Flags & BITMAP_FLAG_ALLOCATED))
        return DIB_ERR_FAILED;
    const int flipped = decoded.NormalitzarTopLeft();
    if (flipped != DIB_OK)
        return flipped;
    CFILEINFO fi;
    GetInfoMem(data, size, &fi);
    dib::io::AdoptBitmap(*this, decoded);
    m_canalAlpha = fi.AlphaChannel;
    m_espaiColor = fi.ColorSpace;
    m_canals = fi.Channels;
    m_bitsPerCanal = StoredBitsPerChannel(fi, ownTiff);
    return DIB_OK;
}

namespace {

int OpenResource(TDib& image, LPCWSTR name, HINSTANCE module)
{
    HRSRC found = FindResourceW(module, name, kResourceType);
    if (!found)
        return DIB_ERR_NO_RESOURCE;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return DIB_ERR_NO_MEMORY;
    const DWORD size = SizeofResource(module, found);
    if (size > DWORD(std::numeric_limits<int>::max()))
        return DIB_ERR_INVALID;
    return image.ObrirMem(static_cast<const unsigned char*>(bytes), int(size), 0, 0, nullptr);
}

// The resource module first, then the modules of the chain in order, until one opens it.
int OpenFromChain(TDib& image, LPCWSTR name)
{
    HINSTANCE first = AfxGetResourceHandle();
    int result = DIB_ERR_NO_MEMORY;
    if (first) {
        result = OpenResource(image, name, first);
        if (result == DIB_OK)
            return DIB_OK;
    }
    for (std::size_t i = 0;; ++i) {
        HINSTANCE module = WinGetChainModule(i);
        if (!module)
            break;
        if (module == first)
            continue;
        result = OpenResource(image, name, module);
        if (result == DIB_OK)
            break;
    }
    return result;
}

} // namespace

int TDib::ObrirRecurs(unsigned int id, HINSTANCE module)
{
    // Resource ids are 16-bit: a larger number names no resource (and would not pass as one).
    if (id == 0 || id > 0xFFFF)
        return DIB_ERR_NO_RESOURCE;
    LPCWSTR name = MAKEINTRESOURCEW(id);
    return module ? OpenResource(*this, name, module) : OpenFromChain(*this, name);
}

int TDib::ObrirRecurs(const wchar_t* name, HINSTANCE module)
{
    if (!name)
        return DIB_ERR_NO_RESOURCE;
    return module ? OpenResource(*this, name, module) : OpenFromChain(*this, name);
}
