// file_module.h - the raster kernel's file module: file information, loading and saving for
// every format the kernel knows, behind one dispatch.
//
// Conventions of every call here (on top of kernel.h's):
//  - a format is recognised by the file's content, never by its name; the format numbers are
//    the RK_FORMAT_* table below;
//  - results follow kernel_status.h, plus the file codes of this header: > 0 success, 0 or
//    negative failure, RK_ERROR_CANCELLED (-100) when a callback asked to stop;
//  - paths are UTF-8;
//  - every size read from a file is checked before it is used; truncated, corrupt and hostile
//    files give a failure code (never a crash, hang or huge allocation);
//  - a failed load leaves the caller's record unallocated (an allocated record passed in is
//    freed first); a failed or cancelled save leaves no file behind (the file appears under
//    its name only once complete) and no memory block;
//  - the Photo CD resolution is process-wide (RkSetPCDResolution).
#pragma once

#include "../outside_api.h"
#include "../win/windef.h"
#include "bitmap_handle.h"
#include "file_info.h"
#include "kernel_status.h"

#include <cstddef>
#include <cstdint>

// ---- format numbers -------------------------------------------------------------------------
constexpr int RK_FORMAT_PCX = 1;
constexpr int RK_FORMAT_GIF = 2;
constexpr int RK_FORMAT_TIFF = 3; // uncompressed
constexpr int RK_FORMAT_TGA = 4;
constexpr int RK_FORMAT_BMP = 6;   // uncompressed
constexpr int RK_FORMAT_JPEG = 10; // not subsampled: 4:4:4, grey, CMYK
constexpr int RK_FORMAT_TIFF_JPEG = 11;
constexpr int RK_FORMAT_TIFF_LZW = 17;
constexpr int RK_FORMAT_JPEG_411 = 21; // 4:2:0 or 4:1:1
constexpr int RK_FORMAT_TIFF_JPEG_420 = 22;
constexpr int RK_FORMAT_JPEG_422 = 23;
constexpr int RK_FORMAT_TIFF_JPEG_422 = 24;
constexpr int RK_FORMAT_PCD = 57;
constexpr int RK_FORMAT_PNG = 75;
constexpr int RK_FORMAT_PSD = 76;
constexpr int RK_FORMAT_BMP_RLE = 84;
constexpr int RK_FORMAT_TIFF_CMYK = 85;
constexpr int RK_FORMAT_TIFF_CMYK_LZW = 86;
constexpr int RK_FORMAT_TIFF_PACKBITS = 87;
constexpr int RK_FORMAT_TIFF_CMYK_PACKBITS = 88;
constexpr int RK_FORMAT_JPEG_GDIPLUS = 182; // JPEG written through the GDI+ route (memory save)
constexpr int RK_FORMAT_TIFF_DEFLATE = 189;
// Further members of the TIFF family (the generic TIFF reader gives them; CMYK ones are
// 394 to 396).
constexpr int RK_FORMAT_TIFF_CCITT = 96;         // CCITT RLE, Group 3 or Group 4
constexpr int RK_FORMAT_TIFF_OLD_JPEG = 138;     // old-style (6.0) JPEG
constexpr int RK_FORMAT_TIFF_OTHER = 176;        // any other compression
constexpr int RK_FORMAT_TIFF_CMYK_DEFLATE = 394; // CMYK, Deflate
constexpr int RK_FORMAT_TIFF_CMYK_JPEG = 395;    // CMYK, JPEG
constexpr int RK_FORMAT_TIFF_CMYK_OTHER = 396;   // CMYK, any other compression

// File codes (beside kernel_status.h's).
constexpr int RK_ERROR_FILE_FORMAT = -20;        // not a file of any format the kernel knows
constexpr int RK_ERROR_FILE_CORRUPT = -21;       // recognised, but damaged or truncated
constexpr int RK_ERROR_FILE_OPEN = -22;          // cannot be opened (missing, no permission)
constexpr int RK_ERROR_FILE_WRITE = -23;         // cannot be written (disk full, no permission)
constexpr int RK_ERROR_FORMAT_UNSUPPORTED = -24; // known format, but this layout, depth or
                                                 // operation is not supported
constexpr int RK_ERROR_PCD_RESOLUTION = -25;     // Photo CD resolution not available

// Name of a format number ("PNG", "TIFF LZW", ...), null for an unknown number.
OUTSIDE_API const char* RkFormatName(int format);
// Whether the kernel reads / writes a format number (1) or not (0).
OUTSIDE_API int RkFormatCanRead(int format);
OUTSIDE_API int RkFormatCanWrite(int format);
// The format number at position index of the kernel's table (ascending positions, numbers in
// the table's own order), or 0 past its end or for a negative index.
OUTSIDE_API int RkFormatAt(int index);

// ---- file information -----------------------------------------------------------------------

// Fills info (info->uStructSize must be FILEINFO_SIZE) from the file's headers only: the time
// does not grow with the file's size.
OUTSIDE_API int RkFileInfo(const char* path, _FILEINFO* info, std::uint32_t infoSize);
OUTSIDE_API int RkFileInfoMemory(const void* data, std::uint64_t size, _FILEINFO* info,
                                 std::uint32_t infoSize);

// ---- loading ---------------------------------------------------------------------------------

// Flags of the loads with a callback.
constexpr std::uint32_t RK_LOAD_ALLOCATE = 0x1; // allocate the bitmap
constexpr std::uint32_t RK_LOAD_STORE = 0x2;    // store the decoded rows in it
constexpr std::uint32_t RK_LOAD_CALLBACK = 0x8; // hand the decoded rows to the callback
// flags 11 = allocate + store + callback; 8 = callback only (the bitmap record receives the
// geometry but no storage: memory stays O(one row) beyond the decoder's own state).

// Bits of the callback's flags word.
constexpr std::uint32_t RK_ROWS_NOTICE = 0x1; // low two bits == 1: a notice without rows
constexpr std::uint32_t RK_ROWS_DATA = 0x2;   // the buffer holds decoded rows

// Per-rows callback: info describes the file, bitmap the record being loaded (geometry set,
// storage only with RK_LOAD_ALLOCATE), buffer `rows` rows at the requested depth and order,
// each bitmap->BytesPerLine bytes apart, the first being row `firstRow` counted from the top
// of the picture. Rows arrive top to bottom, each exactly once. Answer > 0 to go on, 0 to stop
// (the load then ends with RK_ERROR_CANCELLED).
using RkLoadRowsCallback = int (*)(_FILEINFO* info, _BITMAPHANDLE* bitmap, std::uint8_t* buffer,
                                   std::uint32_t flags, int firstRow, int rows, void* user);

// Loads the first image of the file. bitsPerPixel: 0 = the file's own depth, else 1, 4, 8, 16,
// 24, 32 or 48 (converted; palettes for 1 to 8 bits: the file's when it has one that fits, else
// grey for grey pictures and the kernel's default otherwise). order: RK_ORDER_BGR or RK_ORDER_RGB.
// info: when given (and of the right size) it is filled as RkFileInfo fills it. The bitmap
// gets the file's resolution and its view perspective (files stored bottom-up load as
// RK_BOTTOM_LEFT).
OUTSIDE_API int RkLoadFile(const char* path, _BITMAPHANDLE* bitmap, std::uint32_t size,
                           int bitsPerPixel, int order, std::uint32_t flags, _FILEINFO* info);
OUTSIDE_API int RkLoadMemory(const void* data, std::uint64_t bytes, _BITMAPHANDLE* bitmap,
                             std::uint32_t size, int bitsPerPixel, int order, _FILEINFO* info);
OUTSIDE_API int RkLoadFileCallback(const char* path, _BITMAPHANDLE* bitmap, std::uint32_t size,
                                   int bitsPerPixel, int order, std::uint32_t flags,
                                   RkLoadRowsCallback callback, void* user, _FILEINFO* info);

// ---- saving ------------------------------------------------------------------------------------

// Row-supply callback of RkSaveFileCallback: fill `rows` rows starting at picture row
// `firstRow` (from the top), each bitmap->BytesPerLine bytes apart, into buffer, in the
// bitmap's depth and order. Answer > 0 to go on, 0 to stop (RK_ERROR_CANCELLED, no file left).
using RkSaveRowsCallback = int (*)(_BITMAPHANDLE* bitmap, std::uint8_t* buffer, int firstRow,
                                   int rows, void* user);

// Saves the bitmap in `format`. bitsPerPixel: 0 = the bitmap's own depth (converted to the
// nearest depth the format holds), else the depth to write. quality: the format's quality or
// compression factor (JPEG: 2 best .. 255 smallest, 0 = default; others ignore it).
OUTSIDE_API int RkSaveFile(const char* path, const _BITMAPHANDLE* bitmap, int format,
                           int bitsPerPixel, int quality, std::uint32_t flags);
OUTSIDE_API int RkSaveFileCallback(const char* path, _BITMAPHANDLE* bitmap, int format,
                                   int bitsPerPixel, int quality, std::uint32_t flags,
                                   RkSaveRowsCallback callback, void* user);
// The file's bytes in a movable global-memory block (*memory; GlobalFree is the caller's) and
// their count (*bytes).
OUTSIDE_API int RkSaveMemory(const _BITMAPHANDLE* bitmap, int format, int bitsPerPixel, int quality,
                             HGLOBAL* memory, std::uint64_t* bytes);

// ---- embedded colour profiles ------------------------------------------------------------------

// The ICC profile embedded in a PNG file (its iCCP chunk) as a malloc'd block (*profile, freed
// by the caller with free) and its size (*bytes). A PNG without a profile, and a file of any
// other format, give RK_SUCCESS with *profile null and *bytes 0 (the library reads the TIFF,
// JPEG and PSD profiles itself). Failure codes as for RkFileInfo.
OUTSIDE_API int RkFileIccProfile(const char* path, std::uint8_t** profile, std::uint64_t* bytes);

// ---- Photo CD ----------------------------------------------------------------------------------

// Resolution index of later Photo CD loads (landscape sizes): 0 Base/64 (96 x 64), 1 Base/16
// (192 x 128), 2 Base/4 (384 x 256), 3 Base (768 x 512, the default), 4 4Base (1536 x 1024),
// 5 16Base (3072 x 2048). Returns RK_SUCCESS, or RK_ERROR_INV_PARAMETER for another value.
// Process-wide.
OUTSIDE_API int RkSetPCDResolution(int resolution);
OUTSIDE_API int RkGetPCDResolution();

// ---- formats drawn by code above the kernel ---------------------------------------------------

// A reader that the library registers at start-up for a format whose decoding lives above the
// kernel (the Photoshop composite). probe answers whether the first bytes are its format;
// info fills the record; load draws the picture into a new 24-bit bitmap (top-left, order
// BGR) that the kernel then converts and hands on like any other.
struct RkExternalReader {
    int format;
    int (*probe)(const std::uint8_t* head, std::size_t bytes);
    int (*info)(const void* data, std::uint64_t bytes, _FILEINFO* info);
    int (*load)(const void* data, std::uint64_t bytes, _BITMAPHANDLE* bitmap);
};
// Registers (or, with the same format number, replaces) a reader; the record must outlive
// the process's use of the kernel. Thread-safe.
OUTSIDE_API int RkRegisterExternalReader(const RkExternalReader* reader);
