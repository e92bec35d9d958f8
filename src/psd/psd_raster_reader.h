// psd_raster_reader.h - the raster kernel's reader of Photoshop documents, drawn with CPSDTools.
#pragma once

struct RkExternalReader;

namespace dib {

// Registers the Photoshop reader (format 76) with the raster kernel's file module. Idempotent
// and thread-safe; the library's start-up calls it.
//
// The reader recognises "8BPS" version 1 and 2 documents. Its file information gives the
// composite's size, 24 bits per pixel, the resolution of resource 1005 (0 without it), the
// samples per pixel and the colour model (CMYK for mode 4, CIELab for mode 9). It loads the
// composite as CPSDTools::Load draws it (24 bits); a raw RGB, Lab or CMYK document with extra
// (alpha or spot) channels, which CPSDTools::Load leaves without a bitmap, is drawn from its
// colour channels alone. Results: RK_ERROR_FILE_CORRUPT for a damaged or cut document,
// RK_ERROR_FORMAT_UNSUPPORTED for a depth, compression or colour mode that cannot be drawn,
// RK_ERROR_NO_MEMORY, RK_ERROR_FILE_OPEN when the document cannot be staged for reading.
void RegisterPsdReader();

// The record RegisterPsdReader registers.
const RkExternalReader& PsdRasterReader();

} // namespace dib
