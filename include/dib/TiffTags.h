// TiffTags.h - the library's private TIFF fields, the tag extender that registers them, and the
// palette exchange between tagRGBQUAD arrays and a TIFF ColorMap.
//
// Private fields (registered with libtiff for every TIFF opened in the process once the library
// has started):
//   34675 "ICC Profile"        counted byte array (32-bit count, then a pointer), read and
//                              written with TIFFGetField / TIFFSetField;
//   37724 "Image Source Data"  counted byte array, skipped on reading.
//
// The extender is process-wide libtiff state: replacing it must not race with opening files.
#pragma once

#include <dib/Export.h>
#include <dib/outside/win/windef.h>

typedef struct tiff TIFF; // libtiff's file handle (tiffio.h)

// A libtiff tag extender: called for every TIFF opened after its installation.
using DibTiffExtender = void (*)(TIFF*);

// Installs extender as libtiff's tag extender (null: none). The extender installed before is
// neither returned nor called by the new one. Returns 0.
DIB_API int L_SetTIFFTagExtender(DibTiffExtender extender);

// Sets one tag on an open libtiff file. handle points at a record whose first member is the
// TIFF* (a streaming writer's handle); the arguments after tag are those libtiff's
// TIFFSetField expects for that tag. Returns 0 in every case: a refused tag is not reported.
// A null handle, or a record holding a null file, does nothing.
DIB_API int L_SetTIFFTag(void* handle, unsigned long tag, ...);

// Writes the file's ColorMap from the first 2^bits entries of palette (bits 1 to 16): every
// 8-bit component v becomes v * 257. Returns 1 when libtiff took the field, 0 when it refused
// it, or for a null file or palette or bits outside 1 to 16.
DIB_API int L_SetTIFFPalette(TIFF* tif, const tagRGBQUAD* palette, int bits);

// The file's ColorMap as 2^(SamplesPerPixel x BitsPerSample) entries (blue, green, red: the high
// byte of each 16-bit component; reserved 0), allocated with malloc: the caller frees it with
// free. Null when the file has no ColorMap, when that product is below 1 or above 16, or when
// memory runs out.
DIB_API tagRGBQUAD* L_GetTIFFPalette(TIFF* tif);
