// tiff_codec.h - the TIFF reader and the private tags, as the library's other folders reach them.
//
// Reader results (the toolkit's convention: above 0 success):
//   1     success;
//   -100  cancelled through the progress indicator (the consumer's Done is not called);
//   -6    the data is not a TIFF that libtiff opens;
//   -7    the image data could not be decoded (a failed scan-line or tile read, a truncated
//         file): the run ends at that row, Done is not called;
//   -16   a layout this reader does not handle (sample formats other than 1, 2, 4, 8 and 16
//         bits of unsigned integers, photometrics other than min-is-white, min-is-black, RGB,
//         palette, separated, YCbCr and CIELab, subsampled YCbCr without JPEG, packed samples
//         in separate planes) or sizes that no image of the file's byte count can have;
//   -1    the bitmap or a work buffer could not be allocated.
#pragma once

#include <codec/tiff_support.h>
#include <core/byte_source.h>
#include <cstdint>
#include <dib/FileInfo.h>
#include <dib/TDib.h>

class TProcesLiniaDIB;
class TIndicadorEstat;

namespace codec_tiff {

constexpr int kTiffOk = 1;
constexpr int kTiffCancelled = -100;
constexpr int kTiffOpenFailed = -6;
constexpr int kTiffReadFailed = -7;
constexpr int kTiffUnsupported = -16;
constexpr int kTiffNoMemory = -1;

// Installs the private-field extender (chaining the one installed before) and libtiff's
// silent message handlers, once per process. Thread-safe; every entry point that opens a TIFF
// calls it first.
void InstallTiffTagExtenderOnce();

// What a load does, as TDib::_loadTiff's flags say.
struct LoadRequest {
    TProcesLiniaDIB* processor = nullptr; // receives the lines, or null
    TIndicadorEstat* progress = nullptr;  // one sub-range per row, or null
    TDib* image = nullptr;                // filled anew when not null (the into-image flag)
    bool adaptCmyk = false;               // four-sample non-RGB lines -> blue, green, red, 0
    bool wantAlpha = false;               // fill the alpha line, undo premultiplied alpha
};

// The reader of TDib::_loadTiff over any byte source (file, memory, fuzz input).
int LoadTiff(core::ByteSource& source, const LoadRequest& request);

// The 16-bit reader on an open file: 16-bit lines to the processor; image (when not null) is
// made anew with the same samples reduced to 8 bits (g_word2byte), so CMYK stays CMYK and spot
// channels stay, adaptCmyk as for 8-bit files. Neither: 1, nothing read.
int LoadTiff16(TIFF* tif, TProcesLiniaDIB* processor, TIndicadorEstat* progress, bool wantAlpha,
               TDib* image = nullptr, bool adaptCmyk = false);

// The palette reader of TDib::_loadIndexedTiff: 8-bit palette files expanded to blue, green,
// red lines. -16 unless the file has 8 bits, 1 sample, photometric palette and bitsPerPixel
// is 24.
int LoadIndexedTiff(core::ByteSource& source, int bitsPerPixel, TProcesLiniaDIB* processor,
                    TIndicadorEstat* progress, TDib* image);

// TDib::_infoTiff over a byte source: 1 loadable, 0 a TIFF this reader does not load, -10 not
// a TIFF.
int InfoTiff(core::ByteSource& source, CFILEINFO& info);

} // namespace codec_tiff

namespace dib {

// The reader's members of TDib are protected; the library's open and save paths and the
// tests reach them through here.
struct TiffReaderAccess {
    static int LoadTiff(TDib& d, const wchar_t* path, int unused, TProcesLiniaDIB* processor,
                        TIndicadorEstat* progress, int intoImage, int adaptCmyk, int wantAlpha)
    {
        return d._loadTiff(path, unused, processor, progress, intoImage, adaptCmyk, wantAlpha);
    }
    static int LoadIndexedTiff(TDib& d, const wchar_t* path, int bitsPerPixel,
                               TProcesLiniaDIB* processor, TIndicadorEstat* progress, int intoImage)
    {
        return d._loadIndexedTiff(path, bitsPerPixel, processor, progress, intoImage);
    }
    static int LoadTiffMemory(TDib& d, const unsigned char* data, int unused, unsigned long size)
    {
        return d._loadTiffMemory(data, unused, size);
    }
    static int InfoTiff(const wchar_t* path, CFILEINFO& info)
    {
        return TDib::_infoTiff(path, info);
    }
};

} // namespace dib
