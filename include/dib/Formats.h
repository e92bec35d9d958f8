// Formats.h - the file formats the library knows, by kernel format number.
//
// A format number names a file format and, for TIFF and JPEG, a layout or compression (17 TIFF
// with LZW, 86 CMYK TIFF with LZW, ...). TDib::Obrir chooses its reader by the number a file's
// description gives; TDib::Salvar writes the number it is given.
#pragma once

#include <dib/Export.h>

struct DibFormat {
    int format;       // the kernel format number
    const char* name; // a short English name: "PNG", "TIFF LZW", "JPEG 4:2:2", ...
    int reads;        // 1 when TDib::Obrir reads files described with this number
    int writes;       // 1 when TDib::Salvar writes this number to a file
    int keepsInks;    // 1 when Salvar writes CMYK and spot-channel images of this number as
                      // they are (the TIFF family); 0 when the writer holds red, green and
                      // blue only (TDib::AdaptarPerMostrar makes an image ready for it)
};

// Fills formats with at most capacity entries, in ascending number order, and returns the
// number of formats the library knows (call once with capacity 0 for the count). A null
// formats or a capacity below 1 fills nothing. The names are static: valid for the whole
// process.
extern "C" DIB_API int DibGetFormats(DibFormat* formats, int capacity);
