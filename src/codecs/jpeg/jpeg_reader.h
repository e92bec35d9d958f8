// jpeg_reader.h - the JPEG reader over a byte source.
//
// TDib::_infoJPEG and TDib::_loadJPEG (dib/TDib.h, where the contracts are) open the file and
// call these, so files, memory blocks, tests and fuzzers decode through one path.
#pragma once

#include <core/byte_source.h>

class CFILEINFO;
class TDib;
class TIndicadorEstat;
class TProcesLiniaDIB;

namespace jpeg {

// TDib::_infoJPEG on a source: 1, or 0 for data that is not a readable JPEG header.
int Info(core::ByteSource& source, CFILEINFO& info);

// TDib::_loadJPEG on a source, with the same results (-3014 does not occur: the source is
// open).
// scaleNum: the decoder's DCT scaling, scaleNum / 8 of each side (1 to 8; 8 the full size);
// the lines then come at ScaledSide(width) x ScaledSide(height), and the processor's Init is
// given that size.
int Load(TDib& image, core::ByteSource& source, int bitsPerPixel, TProcesLiniaDIB* processor,
         TIndicadorEstat* progress, int intoImage, int adaptCMYK, int scaleNum = 8);

// A side of side pixels decoded at scaleNum / 8: ceil(side x scaleNum / 8), at least 1.
// scaleNum outside 1 .. 8 counts as 8.
int ScaledSide(int side, int scaleNum);

// The line route of a JPEG file at a reduced scale: Load over the file at path without
// keeping the image, every line to processor. Results as TDib::_loadJPEG.
int LoadFileScaled(const wchar_t* path, int bitsPerPixel, int scaleNum, TProcesLiniaDIB* processor,
                   TIndicadorEstat* progress);

// The ICC profile embedded in a JPEG (its APP2 markers joined by _readICCJPEG): true with a
// malloc block in *profile (the caller frees it) and its size; false with null and 0 when the
// data is no readable JPEG header or carries no complete profile.
bool EmbeddedIcc(core::ByteSource& source, unsigned char** profile, unsigned int* length);

} // namespace jpeg
