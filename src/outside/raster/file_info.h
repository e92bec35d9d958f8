// file_info.h - the raster kernel's file-information record.
//
// _FILEINFO describes an image file without its pixels. The file module fills it and the
// loaders accept it back. Like _BITMAPHANDLE it carries its declared size in its first word,
// which must be FILEINFO_SIZE (2320); any other size is refused with RK_ERROR_STRUCT_SIZE.
//
// Plain fixed-width data, packed to 4 bytes so that the two 64-bit fields that follow
// BitsPerPixel sit without alignment slack. Texts are UTF-16, zero-terminated.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t FILEINFO_SIZE = 2320;

// Values of _FILEINFO::ColourModel.
constexpr std::int32_t RK_COLOUR_MODEL_RGB = 0;
constexpr std::int32_t RK_COLOUR_MODEL_CMYK = 2;
constexpr std::int32_t RK_COLOUR_MODEL_LAB = 3;

#pragma pack(push, 4)
struct _FILEINFO {
    std::uint32_t uStructSize;    // FILEINFO_SIZE
    std::int32_t Format;          // the kernel's file-format number
    char16_t Name[512];           // file name or description (1024 bytes)
    std::int32_t Width;           // pixels
    std::int32_t Height;          // pixels
    std::int32_t BitsPerPixel;    // total bits of one pixel
    std::int64_t FileBytes;       // size of the file
    std::int64_t DecodedBytes;    // size of the decoded image
    char16_t Compression[20];     // name of the file's compression (40 bytes)
    std::int32_t ViewPerspective; // 1 top-left, 4 bottom-left
    std::int32_t Order;           // colour order of the decoded pixels (RK_ORDER_*)
    std::int32_t PageNumber;
    std::int32_t PageCount;
    std::int32_t XResolution; // whole dots per inch, 0 when the file gives none
    std::int32_t YResolution;
    std::int32_t Misc[4];
    std::int32_t BackgroundColour; // COLORREF; 0xFFFFFF when unknown
    std::uint8_t Extension[1024];  // format-specific block
    std::int64_t ExtensionBytes;
    std::int32_t ColourFlags;
    std::int32_t ColourModel; // RK_COLOUR_MODEL_*
    std::int32_t SamplesPerPixel;
    std::int32_t ColourExtra;
    std::int64_t Offsets[2];
    std::int32_t Misc2[2];
    std::uint8_t Tail[64];
    std::int32_t Misc3[3];
    std::int64_t Misc64[3];
    std::int32_t Misc4;
};
#pragma pack(pop)

static_assert(sizeof(_FILEINFO) == FILEINFO_SIZE, "the file-information record is 2320 bytes");
static_assert(offsetof(_FILEINFO, FileBytes) == 1044, "no slack after BitsPerPixel");
static_assert(offsetof(_FILEINFO, Compression) == 1060);
static_assert(offsetof(_FILEINFO, Extension) == 1144);
static_assert(offsetof(_FILEINFO, Tail) == 2216);

using pFILEINFO = _FILEINFO*;
