// engine.h - the suite raster engine's file description and embedded resources.
//
// The engine describes PNG files: every other file (and a file that cannot be read) gives no
// description and no resource. Only the headers before the image data are read, so the time
// does not grow with the file's size. Paths are UTF-8.
//
// The description is UTF-8 XML with the root element "ImageInfo" and these children:
//   width, height            pixels
//   ResolutionX/Y            from the pHYs chunk, in pixels per centimetre (two decimals),
//   ResolutionUnits          "pixel/cm"; the three are absent when the file gives no
//                            resolution in metres
//   Inkset NumChannels="n"   channels as the engine decodes them: grey 1, grey + alpha 2,
//                            RGB and palette 3, RGBA and palette with transparency 4
//   BitsPerComponent         8, or 16 for 16-bit files (samples below 8 bits and palette
//                            entries are decoded to 8 bits)
//   Space                    "GRAYSCALE" or "RGB"
//   AlphaChannel             zero-based index of the alpha channel; absent without one
#pragma once

#include "../outside_api.h"

extern "C" {

// The description of the file at path (UTF-8, *length bytes on entry: the path's length;
// a zero-terminated path of any length is also accepted). flags and *page must be 0.
// Returns a zero-terminated UTF-8 text that the caller releases with talRE_FreeString, and
// its byte count in *length; null (and *length 0) when there is none.
OUTSIDE_API char* talRE_BuildImageInformation(const char* path, int flags, int* page, int* length);

// Releases a text of talRE_BuildImageInformation; null is accepted.
OUTSIDE_API void talRE_FreeString(char* text);

// An embedded resource of the file at path. The one resource known is "iccProfile": the ICC
// profile of a PNG file's iCCP chunk, decompressed. index must be 0.
// *data null: returns the resource's byte count (0 when there is none or it is larger than
// maxBytes). *data not null: copies the resource into it when its byte count is at most
// maxBytes and returns that count; 0 otherwise (nothing copied).
OUTSIDE_API int talRE_GetImageResourcePtr(const char* path, const char* resource, int index,
                                          void** data, int maxBytes);
}
