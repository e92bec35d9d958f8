// gdiplus_image.h - the GDI+ flat interface's images: a bitmap from a file, the list of image
// encoders, saving with an encoder, disposal.
//
// A GpImage holds one picture decoded by the raster kernel's file module (24 bits, blue, green,
// red, rows top-down). The only encoder is JPEG (MIME type "image/jpeg"), written with libjpeg
// at GDI+'s default quality (75) when no encoder parameters are given. Paths are wide strings.
// Every call validates its arguments and answers a GpStatus; nothing throws.
#pragma once

#include "../outside_api.h"
#include "../win/windef.h"
#include "gdiplus_types.h"

#include <cstdint>

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using CLSID = GUID;

inline bool operator==(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

// One encoder or decoder. The strings point into the block GdipGetImageEncoders filled.
struct ImageCodecInfo {
    CLSID Clsid;
    GUID FormatID;
    const WCHAR* CodecName;
    const WCHAR* DllName;
    const WCHAR* FormatDescription;
    const WCHAR* FilenameExtension;
    const WCHAR* MimeType;
    DWORD Flags;
    DWORD Version;
    DWORD SigCount;
    DWORD SigSize;
    const BYTE* SigPattern;
    const BYTE* SigMask;
};

struct EncoderParameter {
    GUID Guid;
    ULONG NumberOfValues;
    ULONG Type; // 4: ULONG values
    void* Value;
};
struct EncoderParameters {
    UINT Count;
    EncoderParameter Parameter[1];
};

// The quality parameter of the JPEG encoder (one ULONG value, 0 to 100).
OUTSIDE_API extern const GUID EncoderQuality;

// Decodes the file into a new bitmap (*bitmap; release it with GdipDisposeImage). FileNotFound
// when the file does not open, UnknownImageFormat when no reader takes it, OutOfMemory.
OUTSIDE_API GpStatus GdipCreateBitmapFromFile(const WCHAR* filename, GpBitmap** bitmap);
// The number of encoders and the bytes GdipGetImageEncoders needs for them and their strings.
OUTSIDE_API GpStatus GdipGetImageEncodersSize(UINT* numEncoders, UINT* size);
// Fills encoders (numEncoders records, then their strings, size bytes in all). InvalidParameter
// unless both match what GdipGetImageEncodersSize answered.
OUTSIDE_API GpStatus GdipGetImageEncoders(UINT numEncoders, UINT size, ImageCodecInfo* encoders);
// Encodes image into the file with the encoder clsidEncoder (params may be null: defaults).
// The file is written under a temporary name and renamed when complete, so a failed save
// leaves no file. FileNotFound for an unknown encoder, Win32Error when the file cannot be
// written.
OUTSIDE_API GpStatus GdipSaveImageToFile(GpImage* image, const WCHAR* filename,
                                         const CLSID* clsidEncoder,
                                         const EncoderParameters* params);
// Releases an image (InvalidParameter for null or one not made here).
OUTSIDE_API GpStatus GdipDisposeImage(GpImage* image);
// The size of an image in pixels.
OUTSIDE_API GpStatus GdipGetImageWidth(GpImage* image, UINT* width);
OUTSIDE_API GpStatus GdipGetImageHeight(GpImage* image, UINT* height);
