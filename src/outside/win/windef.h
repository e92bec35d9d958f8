// windef.h - the Windows-shaped base types the library's interface is written in.
//
// Widths follow the Windows x64 data model where data crosses a file or a record: BYTE, WORD,
// DWORD, LONG and UINT are fixed-width. Handles are pointers to distinct opaque types so that
// the compiler keeps them apart. Structures that Windows defines byte-for-byte
// (BITMAPINFOHEADER, BITMAPFILEHEADER, RGBQUAD) keep their exact layout.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using BOOL = std::int32_t;
using COLORREF = std::uint32_t; // red in bits 0-7, green 8-15, blue 16-23
using SIZE_T = std::size_t;
using LPVOID = void*;
using LPCVOID = const void*;
using WCHAR = wchar_t;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPARAM = std::intptr_t;
using WPARAM = std::uintptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using LONG_PTR = std::intptr_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using LPBYTE = BYTE*;

// Longest path, in characters with the terminating null, that the path services accept.
constexpr DWORD MAX_PATH = 260;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define DIB_DECLARE_HANDLE(name)                                                                   \
    struct name##__;                                                                               \
    using name = name##__*

DIB_DECLARE_HANDLE(HINSTANCE);
DIB_DECLARE_HANDLE(HRSRC);
DIB_DECLARE_HANDLE(HBITMAP);
DIB_DECLARE_HANDLE(HDC);
DIB_DECLARE_HANDLE(HICON);
DIB_DECLARE_HANDLE(HBRUSH);
DIB_DECLARE_HANDLE(HPALETTE);
DIB_DECLARE_HANDLE(HWND);
using HMODULE = HINSTANCE;
using HGLOBAL = void*;
using HANDLE = void*;
using HGDIOBJ = void*;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b)
{
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c)
{
    return BYTE(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c)
{
    return BYTE((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c)
{
    return BYTE((c >> 16) & 0xFF);
}

// One palette entry, stored blue, green, red, reserved.
struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
using RGBQUAD = tagRGBQUAD;
static_assert(sizeof(RGBQUAD) == 4);

#pragma pack(push, 2)
// The 14-byte header of a .bmp file (little-endian on disk; this layout matches it).
struct tagBITMAPFILEHEADER {
    WORD bfType;
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
};
#pragma pack(pop)
using BITMAPFILEHEADER = tagBITMAPFILEHEADER;
static_assert(sizeof(BITMAPFILEHEADER) == 14);

// The 40-byte device-independent bitmap header. A negative biHeight means rows top-down.
struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
using BITMAPINFOHEADER = tagBITMAPINFOHEADER;
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
using BITMAPINFO = tagBITMAPINFO;

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;

// What GetObjectW reports of a bitmap.
struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};
using BITMAP = tagBITMAP;

struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using RECT = tagRECT;
using LPRECT = RECT*;
using LPCRECT = const RECT*;

struct tagPOINT {
    LONG x;
    LONG y;
};
using POINT = tagPOINT;
using LPPOINT = POINT*;

struct tagSIZE {
    LONG cx;
    LONG cy;
};
using SIZE = tagSIZE;

struct _ICONINFO {
    BOOL fIcon;
    DWORD xHotspot;
    DWORD yHotspot;
    HBITMAP hbmMask;
    HBITMAP hbmColor;
};
using ICONINFO = _ICONINFO;
