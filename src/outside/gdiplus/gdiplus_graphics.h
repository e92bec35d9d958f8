// gdiplus_graphics.h - the GDI+-shaped flat drawing calls, on cairo: bitmaps over the caller's
// pixels, graphics objects on device contexts, interpolation, smoothing, clipping and drawing.
//
// Drawing goes through cairo onto the context's target (win/cairo_draw.h). Straight alpha is
// premultiplied for cairo; 24-bit rows are expanded to 4 bytes per pixel. Interpolation maps
// to cairo filters: nearest neighbour to NEAREST, bilinear modes to BILINEAR, bicubic and the
// high-quality modes to GOOD (an area average when reducing). The smoothing mode is recorded;
// it governs lines and shapes, which these calls do not draw.
//
// Every call validates its objects (null gives InvalidParameter). Threads: one graphics
// object or bitmap is used by one thread at a time.
#pragma once

#include "../outside_api.h"
#include "gdiplus_types.h"

enum InterpolationMode {
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

enum SmoothingMode {
    SmoothingModeDefault = 0,
    SmoothingModeHighSpeed = 1,
    SmoothingModeHighQuality = 2,
    SmoothingModeNone = 3,
    SmoothingModeAntiAlias = 4,
};

enum CombineMode {
    CombineModeReplace = 0,
    CombineModeIntersect = 1,
};

using DrawImageAbort = BOOL (*)(void*);

// A bitmap over scan0 (rows of stride bytes, top row first; not copied: the caller keeps the
// pixels alive and unchanged until GdipDisposeImage). Formats: PixelFormat24bppRGB,
// PixelFormat32bppRGB, PixelFormat32bppARGB. InvalidParameter for a null scan0 or bitmap,
// sizes below 1, another format, or a stride below the row's bytes; OutOfMemory.
OUTSIDE_API GpStatus GdipCreateBitmapFromScan0(int width, int height, int stride,
                                               PixelFormat format, BYTE* scan0, GpBitmap** bitmap);
OUTSIDE_API GpStatus GdipDisposeImage(GpImage* image);
OUTSIDE_API GpStatus GdipGetImageWidth(GpImage* image, UINT* width);
OUTSIDE_API GpStatus GdipGetImageHeight(GpImage* image, UINT* height);

// A graphics object drawing on dc (which must outlive it). InvalidParameter for a bad context.
OUTSIDE_API GpStatus GdipCreateFromHDC(HDC dc, GpGraphics** graphics);
OUTSIDE_API GpStatus GdipDeleteGraphics(GpGraphics* graphics);
OUTSIDE_API GpStatus GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode mode);
OUTSIDE_API GpStatus GdipGetInterpolationMode(GpGraphics* graphics, InterpolationMode* mode);
OUTSIDE_API GpStatus GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode mode);
OUTSIDE_API GpStatus GdipGetSmoothingMode(GpGraphics* graphics, SmoothingMode* mode);
// Replaces (CombineModeReplace) or narrows (CombineModeIntersect) the clip with the rectangle
// (x, y, width, height). A negative size is InvalidParameter.
OUTSIDE_API GpStatus GdipSetClipRectI(GpGraphics* graphics, int x, int y, int width, int height,
                                      CombineMode mode);
OUTSIDE_API GpStatus GdipResetClip(GpGraphics* graphics);

// Draws the source rectangle of image, scaled, onto the destination rectangle. srcUnit must be
// UnitPixel; attributes must be null; callback is not called. A source rectangle partly outside
// the image draws the part inside. Empty rectangles draw nothing (Ok). GenericError when the
// target refused the drawing.
OUTSIDE_API GpStatus GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, int dstx,
                                            int dsty, int dstwidth, int dstheight, int srcx,
                                            int srcy, int srcwidth, int srcheight, GpUnit srcUnit,
                                            const GpImageAttributes* attributes,
                                            DrawImageAbort callback, void* callbackData);
// Draws the source rectangle of image unscaled with its corner at (x, y).
OUTSIDE_API GpStatus GdipDrawImagePointRectI(GpGraphics* graphics, GpImage* image, int x, int y,
                                             int srcx, int srcy, int srcwidth, int srcheight,
                                             GpUnit srcUnit);
// The whole image scaled onto (x, y, width, height).
OUTSIDE_API GpStatus GdipDrawImageRectI(GpGraphics* graphics, GpImage* image, int x, int y,
                                        int width, int height);
