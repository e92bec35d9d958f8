// gdiplus_types.h - the types the GDI+-shaped flat calls share: status codes, pixel formats,
// units and the opaque image and graphics objects.
#pragma once

#include "../outside_api.h"
#include "../win/windef.h"

#include <cstdint>

enum GpStatus {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
};

using PixelFormat = std::int32_t;
constexpr PixelFormat PixelFormat24bppRGB = 0x00021808;  // blue, green, red
constexpr PixelFormat PixelFormat32bppRGB = 0x00022009;  // blue, green, red, unused
constexpr PixelFormat PixelFormat32bppARGB = 0x0026200A; // blue, green, red, straight alpha

enum GpUnit { UnitWorld = 0, UnitDisplay = 1, UnitPixel = 2 };

// Every image of the flat calls: made by a Gdip* call, released with GdipDisposeImage; callers
// hold pointers only. Bitmaps over caller pixels (gdiplus_graphics.h) and bitmaps decoded from
// files (gdiplus_image.h) are both GpBitmaps.
class OUTSIDE_API GpImage {
public:
    virtual ~GpImage();
    GpImage(const GpImage&) = delete;
    GpImage& operator=(const GpImage&) = delete;
    int width = 0;
    int height = 0;

protected:
    GpImage() = default;
};
class OUTSIDE_API GpBitmap : public GpImage {
protected:
    GpBitmap() = default;
};

// The objects handed out and not yet released; every call checks its pointers against it.
bool GpAddLive(const void* object);
bool GpRemoveLive(const void* object);
bool GpIsLive(const void* object);
struct GpGraphics;
struct GpImageAttributes;
