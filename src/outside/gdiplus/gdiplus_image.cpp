// gdiplus_image.cpp - GDI+ images: decoding through the kernel's file module and the JPEG
// encoder on libjpeg.
#include "gdiplus_image.h"

#include "../codec/jpeg_support.h"
#include "../raster/file_module.h"
#include "../raster/kernel.h"
#include "../win/files.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A bitmap held in a kernel record.
class RasterBitmap final : public GpBitmap {
public:
    RasterBitmap() { RkInitBitmap(&bitmap, BITMAPHANDLE_SIZE, 0, 0, 0); }
    ~RasterBitmap() override { RkFreeBitmap(&bitmap); }
    _BITMAPHANDLE bitmap;
};

const _BITMAPHANDLE* RecordOf(GpImage* image)
{
    if (!GpIsLive(image))
        return nullptr;
    auto* raster = dynamic_cast<RasterBitmap*>(image);
    return raster ? &raster->bitmap : nullptr;
}

} // namespace

// {557CF401-1A04-11D3-9A73-0000F81EF32E}: the JPEG encoder's class, as GDI+ numbers it.
static constexpr CLSID kJpegEncoder = {
    0x557CF401, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
// {B96B3CAE-0728-11D3-9D7B-0000F81EF32E}: the JPEG format.
static constexpr GUID kJpegFormat = {
    0xB96B3CAE, 0x0728, 0x11D3, {0x9D, 0x7B, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
// {1D5BE4B5-FA4A-452D-9CDD-5DB35105E7EB}
const GUID EncoderQuality = {
    0x1D5BE4B5, 0xFA4A, 0x452D, {0x9C, 0xDD, 0x5D, 0xB3, 0x51, 0x05, 0xE7, 0xEB}};

namespace {

constexpr int kDefaultQuality = 75;

const wchar_t* const kStrings[] = {L"Built-in JPEG Codec", L"", L"JPEG",
                                   L"*.JPG;*.JPEG;*.JPE;*.JFIF", L"image/jpeg"};

std::size_t StringBytes()
{
    std::size_t n = 0;
    for (const wchar_t* s : kStrings)
        n += (std::wcslen(s) + 1) * sizeof(wchar_t);
    return n;
}

// Encodes with libjpeg into out. The frame with setjmp holds no object with a destructor.
bool EncodeJpeg(FILE* out, const _BITMAPHANDLE& bitmap, int quality, std::uint8_t* row)
{
    codec::JpegErrors errors;
    jpeg_compress_struct cinfo;
    cinfo.err = codec::InitJpegErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = JDIMENSION(bitmap.Width);
    cinfo.image_height = JDIMENSION(bitmap.Height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < bitmap.Height; ++y) {
        const int stored = bitmap.ViewPerspective == RK_TOP_LEFT ? y : bitmap.Height - 1 - y;
        if (RkGetBitmapRow(&bitmap, row, stored, std::uint64_t(bitmap.Width) * 3) <= 0) {
            jpeg_destroy_compress(&cinfo);
            return false;
        }
        for (int x = 0; x < bitmap.Width; ++x)
            std::swap(row[x * 3], row[x * 3 + 2]); // blue, green, red -> red, green, blue
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

int QualityOf(const EncoderParameters* params)
{
    if (!params)
        return kDefaultQuality;
    for (UINT i = 0; i < params->Count && i < 1; ++i) {
        const EncoderParameter& p = params->Parameter[i];
        if (p.Guid == EncoderQuality && p.NumberOfValues >= 1 && p.Value) {
            const ULONG q = *static_cast<const ULONG*>(p.Value);
            return q > 100 ? 100 : int(q);
        }
    }
    return kDefaultQuality;
}

} // namespace

GpStatus GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap)
{
    if (!filename || !bitmap)
        return InvalidParameter;
    *bitmap = nullptr;
    std::string path;
    if (!PathToUtf8(filename, path))
        return InvalidParameter;
    std::unique_ptr<RasterBitmap> image(new (std::nothrow) RasterBitmap);
    if (!image)
        return OutOfMemory;
    const int r =
        RkLoadFile(path.c_str(), &image->bitmap, BITMAPHANDLE_SIZE, 24, RK_ORDER_BGR, 0, nullptr);
    if (r <= 0) {
        if (r == RK_ERROR_FILE_OPEN)
            return FileNotFound;
        if (r == RK_ERROR_NO_MEMORY)
            return OutOfMemory;
        return UnknownImageFormat;
    }
    image->width = image->bitmap.Width;
    image->height = image->bitmap.Height;
    if (!GpAddLive(static_cast<GpImage*>(image.get())))
        return OutOfMemory;
    *bitmap = image.release();
    return Ok;
}

GpStatus GdipGetImageEncodersSize(UINT* numEncoders, UINT* size)
{
    if (!numEncoders || !size)
        return InvalidParameter;
    *numEncoders = 1;
    *size = UINT(sizeof(ImageCodecInfo) + StringBytes());
    return Ok;
}

GpStatus GdipGetImageEncoders(UINT numEncoders, UINT size, ImageCodecInfo* encoders)
{
    if (!encoders || numEncoders != 1 || size != sizeof(ImageCodecInfo) + StringBytes())
        return InvalidParameter;
    ImageCodecInfo& info = encoders[0];
    std::memset(&info, 0, sizeof info);
    wchar_t* text = reinterpret_cast<wchar_t*>(encoders + 1);
    const WCHAR* placed[5];
    for (int i = 0; i < 5; ++i) {
        const std::size_t n = std::wcslen(kStrings[i]) + 1;
        std::memcpy(text, kStrings[i], n * sizeof(wchar_t));
        placed[i] = text;
        text += n;
    }
    info.Clsid = kJpegEncoder;
    info.FormatID = kJpegFormat;
    info.CodecName = placed[0];
    info.DllName = nullptr;
    info.FormatDescription = placed[2];
    info.FilenameExtension = placed[3];
    info.MimeType = placed[4];
    info.Flags = 0x00010001 | 0x00000004; // built in, encoder, supports raster
    info.Version = 1;
    return Ok;
}

GpStatus GdipSaveImageToFile(GpImage* image, const WCHAR* filename, const CLSID* clsidEncoder,
                             const EncoderParameters* params)
{
    if (!image || !filename || !clsidEncoder)
        return InvalidParameter;
    if (!(*clsidEncoder == kJpegEncoder))
        return FileNotFound;
    const _BITMAPHANDLE* bitmap = RecordOf(image);
    if (!bitmap || !(bitmap->Flags & BITMAP_FLAG_ALLOCATED) || bitmap->BitsPerPixel != 24)
        return WrongState;
    std::string path;
    if (!PathToUtf8(filename, path))
        return InvalidParameter;
    std::vector<std::uint8_t> row;
    try {
        row.assign(std::size_t(bitmap->Width) * 3 + 4, 0);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    // Written beside the target and renamed once complete.
    static std::atomic<unsigned> counter{0};
    const std::string part =
        path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    FILE* out = std::fopen(part.c_str(), "wb");
    if (!out)
        return Win32Error;
    const bool encoded = EncodeJpeg(out, *bitmap, QualityOf(params), row.data());
    const bool closed = std::fclose(out) == 0;
    if (!encoded || !closed || std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        return encoded ? Win32Error : GenericError;
    }
    return Ok;
}
