// bitmap_handle.h - the raster kernel's bitmap record.
//
// A _BITMAPHANDLE describes one bitmap: its geometry, its palette and where its pixels live.
// Every kernel call that takes a record also takes its declared size, which must be
// BITMAPHANDLE_SIZE (284); a call with any other size is refused with RK_ERROR_STRUCT_SIZE
// before anything else is looked at.
//
// The record is plain data that callers may read (width, height, depth, row stride, flags,
// palette count, view perspective, resolutions). Callers may set ViewPerspective, XResolution
// and YResolution; every other field is written by the kernel only. The storage pointer is the
// kernel's own: callers never dereference it. The kernel checks a record on every call: one
// whose geometry fields were changed gives RK_ERROR_INV_HANDLE, and a stale byte-for-byte copy
// of a record whose bitmap was freed gives RK_ERROR_NO_BITMAP (never a use after free).
// A record must be cleared or initialised (RkInitBitmap) before it is first passed in.
#pragma once

#include "../win/windef.h"

#include <cstdint>

constexpr std::uint32_t BITMAPHANDLE_SIZE = 284;

// Bits of _BITMAPHANDLE::Flags.
constexpr std::uint32_t BITMAP_FLAG_ALLOCATED = 0x0001;  // pixel storage exists
constexpr std::uint32_t BITMAP_FLAG_DISK = 0x0002;       // pixels live in a temporary file
constexpr std::uint32_t BITMAP_FLAG_CONTIGUOUS = 0x0004; // one block in memory (conventional)

// Memory-type flags of RkCreateBitmap.
constexpr std::uint32_t RK_MEMORY_CONVENTIONAL = 0x0001;
constexpr std::uint32_t RK_MEMORY_DISK = 0x0080;
constexpr std::uint32_t RK_MEMORY_NOCLEAR = 0x0100; // accepted; storage is always cleared
constexpr std::uint32_t RK_MEMORY_DEFAULT = 0x0200; // with CONVENTIONAL: 0x201

// Colour order of 24-, 32- and 48-bit pixels.
constexpr std::int32_t RK_ORDER_RGB = 0;
constexpr std::int32_t RK_ORDER_BGR = 1; // blue, green, red in memory (the library's order)
constexpr std::int32_t RK_ORDER_GRAY = 2;

// View perspectives.
constexpr std::int32_t RK_TOP_LEFT = 1;    // stored row 0 is the top row
constexpr std::int32_t RK_BOTTOM_LEFT = 4; // stored row 0 is the bottom row

#pragma pack(push, 4)
struct _BITMAPHANDLE {
    std::uint32_t uStructSize;    // BITMAPHANDLE_SIZE once initialised
    std::int32_t Width;           // pixels
    std::int32_t Height;          // pixels
    std::int32_t BitsPerPixel;    // 1, 2, 4, 8, 16, 24, 32 or 48
    std::int32_t BytesPerLine;    // stored row stride: the line size rounded up to 4
    std::uint32_t Flags;          // BITMAP_FLAG_*
    std::int32_t ViewPerspective; // RK_TOP_LEFT or RK_BOTTOM_LEFT
    std::int32_t Order;           // RK_ORDER_*
    std::int32_t XResolution;     // whole dots per inch, 0 = not known
    std::int32_t YResolution;
    std::int32_t ColorCount;   // palette entries (0 above 8 bits per pixel)
    std::uint32_t MemoryFlags; // what RkCreateBitmap was asked for
    std::int32_t LockCount;    // RkAccessBitmap nesting depth
    std::uint32_t Reserved0;
    std::uint64_t Size;         // BytesPerLine * Height
    tagRGBQUAD* pPalette;       // ColorCount entries owned by the kernel, or null
    void* pStorage;             // the kernel's storage object; opaque
    std::uint8_t Reserved[204]; // kernel-private (the first 8 bytes: the bitmap's id)
};
#pragma pack(pop)
static_assert(sizeof(_BITMAPHANDLE) == BITMAPHANDLE_SIZE, "the bitmap record is 284 bytes");

using pBITMAPHANDLE = _BITMAPHANDLE*;
