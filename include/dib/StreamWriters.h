// StreamWriters.h - writers that take an image one row at a time, for images too large to hold.
//
// Each writer has the same four calls: start (returns an opaque handle, null on failure), one
// call per row, then exactly one end or abort, which frees the handle and sets the caller's
// pointer to null. A handle belongs to one caller at a time.
#pragma once

#include <dib/Export.h>

// ---- BMP ------------------------------------------------------------------------------------
//
// An uncompressed Windows bitmap (40-byte information header) at 1, 4 or 8 bits per pixel with
// a palette made here: at 1 bit entry 0 white and entry 1 black; at 4 and 8 bits a grey ramp.
// Rows are written exactly as given, each BytesPerLine bytes: the line-size rule (1 bit
// ceil(w / 8), 4 bits ceil(w / 2), 8 bits w) rounded up to a multiple of 4.

// Creates (or truncates) the file at path and writes its headers and palette; the file is
// written through a 4 MiB buffer.
//   width, height   pixels, both at least 1; the whole file must stay within 4 GiB - 1, the
//                   largest size the format's 32-bit size fields hold;
//   bitsPerPixel    1, 4 or 8;
//   xDpi, yDpi      resolution in dots per inch, stored as pixels per metre (rounded); from 0
//                   to 54 546 084 (the largest that fits the header's signed field);
//   ascending       non-zero: palette entry 0 is the darkest grey; 0: the lightest (4 and 8
//                   bits);
//   topDown         non-zero: the first row written is the top row (the header's height is
//                   negative); 0: the first row written is the bottom row;
//   greyLevels      0 spreads the ramp over the whole palette; n > 1 over entries 0 .. n - 1
//                   (entry i = i * max / (n - 1)), the entries from n on holding level i;
//                   1 makes entry 0 the darkest (ascending) or lightest grey and leaves the
//                   others at level i.
// At 4 bits a level l is the grey l * 17. Null for any argument outside these limits (checked
// before the file is touched), a path that cannot be created, no memory, or a header that could
// not be written (the file may then remain, possibly empty).
DIB_API void* L_StartDynamicSaveBMP(int width, int height, int bitsPerPixel, int xDpi, int yDpi,
                                    const wchar_t* path, int ascending, int topDown,
                                    int greyLevels);

// Appends one row of BytesPerLine bytes, unchanged. Results: 0 written; 1 every row has
// already been written (nothing written); -3 a null row or handle; -5 the file refused the
// bytes (the handle stays usable only for end or abort). Allocates nothing.
DIB_API int L_DynamicSaveBMProw(unsigned char* row, void* handle);

// Completes the file: rows not written are filled with bytes 0 at 1 and 4 bits (white at 1
// bit) and 255 at 8 bits, then the file is closed. The handle is freed and set to null in
// every case. Results: 0 every byte reached the file; -1 no memory for the fill row (the file
// is closed short); -5 a write or the close failed; -3 a null handle.
DIB_API int L_EndDynamicSaveBMP(void*& handle);

// Closes the file as it stands (its header still states the full height) without filling the
// missing rows; the file is kept. The handle is freed and set to null. Results: 0; -5 the
// bytes written so far did not all reach the file; -3 a null handle.
DIB_API int L_AbortDynamicSaveBMP(void*& handle);
