// io_internal.h - what the open and save paths share: format families, the kernel's load
// context, and moving a decoded bitmap into an image.
#pragma once

#include "io_startup.h"

#include <cstdint>
#include <dib/TDib.h>
#include <info/format_families.h>
#include <string>

class CFILEINFO;
class TIndicadorEstat;
class TProcesLiniaDIB;

namespace dib::io {

using dib::IsJpegFamily;
using dib::IsTiffFamily;

// The kernel's per-rows load callback context (TDib::__ObrirDinamicProc).
struct LoadContext {
    TProcesLiniaDIB* consumer = nullptr;
    int lineSize = 0;      // bytes of one decoded row at the requested depth, rounded to 4
    int bytesPerPixel = 1; // 1 below 8 bits, else depth / 8
    int pixelStride = 0;   // bytes between pixels when the alpha channel is split off
    int channels = 0;
    int alphaChannel = -1;
    TIndicadorEstat* progress = nullptr;
    int width = 0;
    int height = 0;
    int firstColumn = 0;
    int firstRow = 0;
    int lastColumn = 0;
    int lastRow = 0;
    int currentRow = 0;
    std::uint8_t* colourLine = nullptr;
    std::uint8_t* alphaLine = nullptr;
    // Not in the kernel's contract: the requested depth (for the byte offset of the first
    // column of packed rows) and whether the consumer has stopped the run.
    int bitsPerPixel = 0;
    bool refused = false;
};

// The kernel's row-supply callback context (TDib::__GuardarDinamicProc).
struct SaveContext {
    TIndicadorEstat* progress;
    double low;    // the indicator's range when the save started
    double width;  // its upper bound minus low
    double height; // rows of the image
    const TDib* image;
    std::uint32_t supplied; // rows handed over so far
};

// The context of a load of a file described by info at depth bitsPerPixel, whole image, no
// consumer. False when the sizes do not fit an int.
bool MakeLoadContext(const CFILEINFO& info, int bitsPerPixel, TIndicadorEstat* progress,
                     LoadContext& context);

// Replaces image's bitmap by decoded's (decoded is left empty). The image's other members are
// not changed; its display buffer is released with its old pixels.
void AdoptBitmap(TDib& image, TDib& decoded);

// The UTF-8 name of path, false for a null or unrepresentable path (the error text says so).
bool Utf8Path(const wchar_t* path, std::string& out);

} // namespace dib::io
