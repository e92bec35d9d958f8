// gdi.h - Windows-shaped bitmaps, brushes, icons and device contexts, drawn in software.
//
// Every bitmap is a DIB section: pixels in rows of 4-byte aligned length, bottom-up or top-down
// as created, at 1, 4, 8, 16 (5-5-5), 24 or 32 bits per pixel (BI_RGB), with a colour table at 8
// bits and below. Coordinates are always top-down (row 0 is the top of the picture).
//
// A device context (HDC) has a target: the bitmap selected into a memory context, the screen
// surface (a 1920x1080, 32-bit bitmap standing for the display), or a host's cairo context
// (cairo_dc.h). Drawing is done in device units whatever the mapping mode. Colours written to a
// palette bitmap become the nearest palette entry (least squared RGB distance, lowest index on
// ties). Writes to a 32-bit bitmap store blue, green, red and a zero fourth byte, as GDI does;
// SRCCOPY between two 32-bit bitmaps copies all four bytes.
//
// Every handle is validated against the live objects: a null, deleted or foreign handle makes
// the call fail with its documented failure result.
//
// Threads: every call may be made from any thread. A call locks only the objects it uses (the
// device contexts it is given and the bitmaps selected into them), so drawing on different
// contexts with different bitmaps runs in parallel; calls that share a context or a bitmap
// (memory contexts that have not yet selected a bitmap share the stock one, screen contexts
// share the screen) wait for one another, and a blit between two contexts holds both. Pixels
// reached directly (a DIB section's bits, the memory under CreateDIBSectionOnMemory) are not
// covered: the caller keeps such access from overlapping drawing on the same bitmap.
#pragma once

#include "../outside_api.h"
#include "windef.h"

// ---- constants ----------------------------------------------------------------------------
constexpr UINT DIB_PAL_COLORS = 1;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr int MM_TEXT = 1;
constexpr int MM_LOMETRIC = 2;
constexpr int MM_HIMETRIC = 3;
constexpr int MM_LOENGLISH = 4;
constexpr int MM_HIENGLISH = 5;
constexpr int MM_TWIPS = 6;
constexpr int MM_ISOTROPIC = 7;
constexpr int MM_ANISOTROPIC = 8;

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

// GetDeviceCaps indices.
constexpr int DRIVERVERSION = 0;
constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int SIZEPALETTE = 104;
constexpr int COLORRES = 108;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;
constexpr int PHYSICALOFFSETX = 112;
constexpr int PHYSICALOFFSETY = 113;
constexpr int DESKTOPVERTRES = 117;
constexpr int DESKTOPHORZRES = 118;
constexpr int DT_RASDISPLAY = 1;
constexpr int RC_BITBLT = 0x0001;
constexpr int RC_BITMAP64 = 0x0008;
constexpr int RC_DI_BITMAP = 0x0080;
constexpr int RC_DIBTODEV = 0x0200;
constexpr int RC_STRETCHBLT = 0x0800;
constexpr int RC_STRETCHDIB = 0x2000;

// Stock objects.
constexpr int DEFAULT_PALETTE = 15;
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;

// Object types (GetObjectType, GetCurrentObject).
constexpr UINT OBJ_BRUSH = 2;
constexpr UINT OBJ_DC = 3;
constexpr UINT OBJ_PAL = 5;
constexpr UINT OBJ_BITMAP = 7;
constexpr UINT OBJ_MEMDC = 10;

// What GetObjectW reports of a DIB section. dsBmih.biHeight keeps the sign the section was
// created with (negative: top-down).
struct tagDIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};
using DIBSECTION = tagDIBSECTION;

constexpr UINT BS_SOLID = 0;
struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    std::uintptr_t lbHatch;
};
using LOGBRUSH = tagLOGBRUSH;

struct tagPALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
using PALETTEENTRY = tagPALETTEENTRY;
struct tagLOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
};
using LOGPALETTE = tagLOGPALETTE;

// ---- bitmaps ------------------------------------------------------------------------------

// A DIB section of the given header. usage must be DIB_RGB_COLORS, section null and offset 0;
// dc is not used. Accepts biSize 40 to 124, biPlanes 1, width > 0, height != 0 (negative:
// top-down), biBitCount 1, 4, 8, 16, 24 or 32 with BI_RGB, and at most 2^31 - 1 bytes of pixels.
// At 8 bits and below the colour table follows the header: biClrUsed entries (0: 2^bits; more
// than 2^bits: 2^bits). The pixels start zeroed. *bits (when bits is not null) receives the
// pixel address, or null on failure. Null on failure.
OUTSIDE_API HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                     HANDLE section, DWORD offset);

// Extension: a DIB section over pixels the caller owns (laid out as info describes: rows of
// 4-byte aligned length, bottom-up unless biHeight < 0). DeleteObject does not free them; the
// caller keeps them alive until the bitmap is deleted. Null on failure or when bits is null.
OUTSIDE_API HBITMAP CreateDIBSectionOnMemory(const BITMAPINFO* info, void* bits);

// A zeroed bitmap compatible with dc: the depth and colour table of the bitmap selected into a
// memory context, 32 bits for the screen. Null on failure or a size <= 0.
OUTSIDE_API HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);

// Colour table of the DIB section selected into dc: copies entries [start, start + count)
// clipped to the table; returns how many were copied (0 on failure or no table).
OUTSIDE_API UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours);
OUTSIDE_API UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colours);

// ---- logical palettes ---------------------------------------------------------------------
// Palettes are recorded, not applied: every target is a true-colour surface or a DIB section
// with its own colour table.

// A palette of palNumEntries (1 to 256) entries; null otherwise.
OUTSIDE_API HPALETTE CreatePalette(const LOGPALETTE* palette);
// Copies entries [start, start + count) clipped to the palette (out null: returns the entry
// count); 0 for a bad handle.
OUTSIDE_API UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* out);
// Records the palette in dc; returns the previous one (the stock DEFAULT_PALETTE at first), null
// on failure.
OUTSIDE_API HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
// Number of entries mapped into the system palette: always 0 here (no palette devices);
// GDI_ERROR for a bad handle.
constexpr UINT GDI_ERROR = 0xFFFFFFFF;
OUTSIDE_API UINT RealizePalette(HDC dc);

// ---- objects ------------------------------------------------------------------------------

// Bitmaps: with out null, the size of a DIBSECTION; with size >= sizeof(DIBSECTION) fills a
// DIBSECTION, else with size >= sizeof(BITMAP) fills a BITMAP (bmHeight positive, bmBits the
// first stored row). Brushes: a LOGBRUSH. Palettes: the entry count as a WORD. Returns the
// bytes written; 0 on failure.
OUTSIDE_API int GetObjectW(HGDIOBJ object, int size, void* out);
// Deletes a bitmap, brush or palette (icons go with DestroyIcon). FALSE for a bad handle, or for
// a bitmap still selected into a device context. Stock objects are never deleted (TRUE).
OUTSIDE_API BOOL DeleteObject(HGDIOBJ object);
// OBJ_BITMAP, OBJ_BRUSH, OBJ_PAL, OBJ_DC (screen), OBJ_MEMDC; 0 for a bad handle.
OUTSIDE_API DWORD GetObjectType(HGDIOBJ object);
OUTSIDE_API HGDIOBJ GetStockObject(int which);
OUTSIDE_API HBRUSH CreateSolidBrush(COLORREF colour);

// ---- device contexts ----------------------------------------------------------------------

// A memory context compatible with dc (null: with the screen); a stock 1x1 monochrome bitmap is
// selected into it. Null for a bad dc.
OUTSIDE_API HDC CreateCompatibleDC(HDC dc);
// Deletes a context made by CreateCompatibleDC; its bitmap stays alive and is deselected.
OUTSIDE_API BOOL DeleteDC(HDC dc);
// A context on the screen for a null window; null for any other window (there are none).
OUTSIDE_API HDC GetDC(HWND window);
// Releases a context from GetDC: 1 when released, 0 otherwise.
OUTSIDE_API int ReleaseDC(HWND window, HDC dc);
// Selects a bitmap (memory contexts only; a bitmap can be selected into one context at a time)
// or a brush. Returns the object previously selected of that kind; null on failure.
OUTSIDE_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// The object of that type (OBJ_BITMAP, OBJ_BRUSH, OBJ_PAL) selected into dc; null on failure.
// The bitmap of a screen context is the screen surface (a stock DIB section: GetObjectW gives
// its pixels).
OUTSIDE_API HGDIOBJ GetCurrentObject(HDC dc, UINT type);
// Records the mode (MM_TEXT .. MM_ANISOTROPIC) and returns the previous one; 0 on failure.
OUTSIDE_API int SetMapMode(HDC dc, int mode);
OUTSIDE_API int GetMapMode(HDC dc);
// Records the stretching mode (BLACKONWHITE .. HALFTONE); returns the previous one, 0 on
// failure. StretchBlt always samples the nearest source pixel.
OUTSIDE_API int SetStretchBltMode(HDC dc, int mode);
OUTSIDE_API int GetStretchBltMode(HDC dc);
// LOGPIXELSX/Y 96; HORZRES/VERTRES the target's size in pixels; BITSPIXEL its depth; PLANES 1;
// NUMCOLORS and SIZEPALETTE its colour table size (-1 and 0 above 8 bits); TECHNOLOGY
// DT_RASDISPLAY; RASTERCAPS the blitting capabilities; HORZSIZE/VERTSIZE in millimetres at 96
// dpi. 0 for other indices and bad handles.
OUTSIDE_API int GetDeviceCaps(HDC dc, int index);

// ---- drawing ------------------------------------------------------------------------------

// Fills [left, right) x [top, bottom), clipped to the target, with the brush's colour. A brush
// value from 1 to 31 (a system colour + 1) is not supported. Nonzero on success (also when
// nothing is left after clipping); 0 for bad handles or a null rectangle.
OUTSIDE_API int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Writes the colour (its low 24 bits) at (x, y); returns the colour actually stored (the
// nearest palette colour on palette targets), or CLR_INVALID outside the target or on failure.
OUTSIDE_API COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour);
// The colour at (x, y); CLR_INVALID outside the target or on failure.
OUTSIDE_API COLORREF GetPixel(HDC dc, int x, int y);
// Raster operations: SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, BLACKNESS, WHITENESS
// (the last two ignore the source); others give FALSE. Rectangles are clipped to both targets.
// Source and destination may be the same context (overlap is handled).
OUTSIDE_API BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                        DWORD rop);
// Nearest-neighbour stretch of the source rectangle onto the destination rectangle; a width or
// height of opposite signs in source and destination mirrors the picture. FALSE for a zero size.
OUTSIDE_API BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX,
                            int srcY, int srcWidth, int srcHeight, DWORD rop);
// StretchBlt from packed pixels described by info (DIB_RGB_COLORS only). As on Windows, the
// source rectangle of a bottom-up DIB is measured from its bottom row: srcY counts rows up from
// the bottom edge. Returns the number of source rows drawn, 0 on failure.
OUTSIDE_API int StretchDIBits(HDC dc, int x, int y, int width, int height, int srcX, int srcY,
                              int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info,
                              UINT usage, DWORD rop);

// ---- icons --------------------------------------------------------------------------------

// An icon from copies of info's bitmaps. hbmMask is required. A colour icon (hbmColor set)
// has a mask of the colour bitmap's size; a monochrome icon (hbmColor null) has a mask twice
// as high as the icon: the AND mask above the XOR mask. Null on failure.
OUTSIDE_API HICON CreateIconIndirect(ICONINFO* info);
// Fills info with new copies of the icon's bitmaps, which the caller deletes. FALSE for a bad
// icon or a null info.
OUTSIDE_API BOOL GetIconInfo(HICON icon, ICONINFO* info);
OUTSIDE_API BOOL DestroyIcon(HICON icon);
// Draws the icon with its top-left corner at (x, y), at its own size, as Windows does with the
// masks: destination = (destination AND mask) XOR colour, per RGB channel, where the colour of
// a monochrome icon is its XOR mask. Clipped to the target.
OUTSIDE_API BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
