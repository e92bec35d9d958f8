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
int Load(TDib& image, core::ByteSource& source, int bitsPerPixel, TProcesLiniaDIB* processor,
         TIndicadorEstat* progress, int intoImage, int adaptCMYK);

// The ICC profile embedded in a JPEG (its APP2 markers joined by _readICCJPEG): true with a
// malloc block in *profile (the caller frees it) and its size; false with null and 0 when the
// data is no readable JPEG header or carries no complete profile.
bool EmbeddedIcc(core::ByteSource& source, unsigned char** profile, unsigned int* length);

} // namespace jpeg
