// StreamWriters.h - writers that take an image one row at a time, for images too large to hold.
//
// Each writer has the same four calls: start (returns an opaque handle, null on failure), one
// call per row, then exactly one end or abort, which frees the handle and sets the caller's
// pointer to null. A handle belongs to one caller at a time.
#pragma once

#include <cstdint>
#include <dib/Export.h>
#include <dib/outside/win/windef.h>

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

// ---- TIFF -----------------------------------------------------------------------------------
//
// A strip TIFF, classic or BigTIFF, written one row at a time. The handle is a record whose
// first member is the open libtiff file (TIFF*), so L_SetTIFFTag can set further tags on it
// before the first row.
//
// Tags written: Software (the application's name), DateTime (local time,
// "YYYY:MM:DD HH:MM:SS"), ImageWidth, ImageLength, PlanarConfiguration, SamplesPerPixel,
// BitsPerSample, PhotometricInterpretation and the colour tags below, XResolution and
// YResolution, ResolutionUnit 2 (inch), Compression (and its extras), RowsPerStrip, and
// Photoshop (34377) when a block is given.
//   samples 1, palette     photometric 3 (palette), ColorMap of 2^bits entries
//   samples 1, no palette  photometric 0 (min-is-white) when minIsWhite != 0, else 1
//   samples 3              photometric 2 (RGB)
//   samples 2 or 4         photometric 5 (separated), NumberOfInks n, InkSet 1 (CMYK)
//   samples 5 to 20        photometric 5, NumberOfInks n, ExtraSamples n - 4 entries of 0
// Compression extras: JPEG (7) with quality 100 and RGB colour mode; LZW (5) with Predictor 2
// (horizontal differencing) at 8 and 16 bits per sample, else 1.
//
// File kind: classic TIFF unless the file could pass 4 GiB, then BigTIFF. Uncompressed, the
// limit is the row bytes times the height plus the Photoshop block plus 20 MiB of margin; for
// the other compressions the bound is their worst case on incompressible data (LZW and
// PackBits expand noise by up to half, Deflate slightly, JPEG at quality 100 and the fax codes
// several times), so a compressed file never fails for lack of 32-bit offsets.

// Creates (or truncates) the TIFF at path, creating its folder when missing, and writes its
// tags. Arguments (all checked before anything is created):
//   width, height     pixels, both at least 1;
//   samplesPerPixel   1 to 20;
//   bitsPerSample     1, 2, 4, 8 or 16 for one sample; 8 or 16 for more;
//   minIsWhite        used only for one sample without palette;
//   xDpi, yDpi        dots per inch, finite and not negative (stored as single precision);
//   compression       a TIFF Compression code libtiff can encode; fax codes (2, 3, 4) need one
//                     1-bit sample, JPEG (7) 8-bit samples and no palette;
//   colourOrder       1: the caller's 3-sample rows are blue, green, red (8 or 16 bits per
//                     sample) and are written red, green, blue; other values: as given;
//   palette           null, or 2^bitsPerSample entries for one sample of at most 8 bits;
//   rowsPerStrip      q > 0: q rows per strip; 0: 128; q < 0: at most -q strips per plane
//                     (128 rows unless height / 128 exceeds -q, then height / -q + 1);
//   planarConfig      1 interleaved, 2 separate planes;
//   photoshop, photoshopBytes   an image-resource block written as tag 34377 when both are
//                     non-zero (at most 4 GiB - 1 bytes; the block is copied).
// Rows are the line-size rule's bytes for samplesPerPixel * bitsPerSample bits per pixel, not
// rounded up (1 bit: ceil(width / 8)); 16-bit samples in the machine's byte order. Rows are
// compressed a strip at a time: memory holds one strip (up to 32 MiB; larger strips go row by
// row), whatever the height. Null for refused arguments (no file is then created), a path
// that cannot be created, or no memory; the reason is left in DibGetLastErrorText().
DIB_API void* L_StartDynamicSaveTIFF(int width, int height, int samplesPerPixel, int bitsPerSample,
                                     int minIsWhite, double xDpi, double yDpi, const wchar_t* path,
                                     int compression, int colourOrder, tagRGBQUAD* palette,
                                     int rowsPerStrip, int planarConfig, void* photoshop,
                                     std::uint64_t photoshopBytes);

// Writes one row. Interleaved files (planarConfig 1) take rows in order, top to bottom; row
// and plane are not used. With colour order 1 and 3 samples, samples 0 and 2 of each pixel are
// exchanged; with more than 4 samples, samples 4 and above are written complemented (255 - v,
// or 65535 - v at 16 bits), so that they read back as given through the library's reader.
// Separate planes (planarConfig 2): writes row `rowIndex` of plane `plane` unconverted, the row
// being ceil(width * bitsPerSample / 8) bytes; rows of a plane go in order within a strip.
// The caller's row is never modified.
// Results: 0 written; 1 nothing written (every row already written in an interleaved file, or
// a negative row or plane with separate planes); -5 refused (the row could not be compressed
// or written, or a row or plane beyond the image); the same row may be offered again and the
// handle stays usable; -3 a null row or handle.
DIB_API int L_DynamicSaveTIFFrow(unsigned char* row, void* handle, int rowIndex, int plane);

// Completes the file and frees the handle (set to null in every case). Interleaved files: the
// rows not written are filled with bytes 255 for 3 samples and 0 otherwise. Separate planes:
// every strip no row of which was written is filled the same way; strips partly written stay
// as written. Then the directory is written and the file closed.
// Results: 0 every byte reached the file; -5 a fill row, the directory or the file failed
// (the file is closed as far as it got); -3 a null handle.
DIB_API int L_EndDynamicSaveTIFF(void*& handle);

// Closes the file without filling missing rows: the rows written so far (a final short strip
// included) and the directory stay on disk, and the file is kept. Frees the handle and sets
// it to null. Results: 0; -5 the rows so far or the directory could not be written (a JPEG
// strip cannot be cut short, so its rows of an unfinished strip are lost); -3 a null handle.
DIB_API int L_AbortDynamicSaveTIFF(void*& handle);
