// codecs_b.h - the JPEG, generic TIFF and Photo CD codecs of the file module.
//
// kJpegCodec (libjpeg-turbo)
//   Recognises any JPEG stream (SOI followed by a marker); the probe answers 10 and the file
//   information gives the format number by the sampling of the colour components:
//   10 not subsampled (4:4:4, grey, CMYK/YCCK), 23 horizontal only (4:2:2, 4:4:0), 21 both
//   ways or more (4:2:0, 4:1:1). Compression texts: "Progressive JPEG", "Arithmetic JPEG",
//   else "JPEG". Resolution from the JFIF density (dots per centimetre converted to inches,
//   rounded; no unit gives 0). Loads baseline, extended, progressive and arithmetic-coded
//   files: grey as 8 bits with a grey palette, colour as 24 bits (BGR), CMYK and YCCK as 32
//   bits C, M, Y, K with 0 = no ink (files written with the Adobe convention, which store
//   255 = no ink, are complemented). A file whose data ends early or does not decode as it
//   was encoded is a failure (RK_ERROR_FILE_CORRUPT). Writes 8-bit (grey; a colour palette
//   is expanded to RGB) and 24-bit pictures: format 10 samples 4:4:4 (grey stays grey), 21
//   4:2:0, 23 4:2:2; the JFIF density carries the resolution.
//   Quality: the kernel's factor runs from 2 (best) to 255 (smallest); it maps linearly onto
//   libjpeg's scale, 2 -> 100 and 255 -> 1 (q = 100 - round((f - 2) * 99 / 253)); 0 is
//   libjpeg's default, 75; factors 1 and below count as 2, above 255 as 255.
//
// kTiffCodec (libtiff's RGBA interface)
//   Recognises classic and big TIFF. File information by compression and photometric:
//     none 3, LZW 17, PackBits 87, Deflate (either code) 189, JPEG 11 (4:4:4 or not YCbCr),
//     22 (YCbCr 4:2:0 and 4:1:1), 24 (YCbCr 4:2:2);
//     CMYK (separated, 4 inks): none 85, LZW 86, PackBits 88, Deflate 394, JPEG 395, any other
//     compression 396;
//     CCITT RLE, Group 3 and Group 4: 96; old-style JPEG: 138; any other compression
//     (ThunderScan, NeXT, LogLuv, ZSTD, ...): 176.
//   BitsPerPixel is the file's (samples x bits per sample); ColourModel 2 for CMYK, 3 for the
//   CIELab photometrics. Loads the first page of anything the RGBA interface reads (strips or
//   tiles, every photometric it converts, JPEG, old JPEG, YCbCr subsampling, 16-bit samples) as
//   24 bits BGR, or 32 bits BGRA when the file has an alpha sample (alpha straight:
//   premultiplied data is divided back). Rows go out in file order: files stored bottom row
//   first (orientation 4 or 3) are delivered bottom-up. Writes 3, 17, 87, 189 (none, LZW, PackBits,
//   Deflate 32946) at 1, 4, 8 (grey ramps as grey, other palettes as palette pictures), 24 (RGB)
//   and 32 bits (RGB with unassociated alpha); 85, 86, 88 write 32-bit rows as CMYK (bytes C, M, Y,
//   K as the kernel holds them, no conversion) and lower depths as their non-CMYK counterparts.
//
// kPcdCodec (by hand)
//   Photo CD image packs ("PCD_IPI" at byte 2048). The probe sees only the first bytes, so it
//   answers for every file long enough to hold the Base/16 picture; keep it last in the probing
//   order: info and load answer RK_ERROR_FILE_FORMAT when the signature is missing. Base/16
//   (sector 4), Base/4 (sector 23) and Base (sector 96) are read from the image packs: rows in
//   pairs, two luma rows then one row of each chroma (4:2:0, each chroma sample covers a 2 x 2
//   block). Colour (Photo YCC, 8-bit):
//       L = 1.3584 Y,  C1 = 2.2179 (Cb - 156),  C2 = 1.8215 (Cr - 137)
//       R = L + C2,  G = L - 0.194 C1 - 0.509 C2,  B = L + C1,  each rounded, clamped 0..255.
//   The low two bits of byte 0xE02 say how the picture lies: 0 as stored, 1 turned a quarter
//   counter-clockwise on load (portrait), 2 half a turn, 3 a quarter clockwise. The resolution
//   is RkGetPCDResolution(); 4Base and above (Huffman-coded residuals) are refused with
//   RK_ERROR_PCD_RESOLUTION. Loads at 24 bits BGR; resolution 0 (none in the file).
#pragma once

#include "formats_internal.h"

extern const rkfmt::Codec kJpegCodec;
extern const rkfmt::Codec kTiffCodec;
extern const rkfmt::Codec kPcdCodec;

namespace rkfmt {

// Writes text (ASCII) into the record's compression field, cut to fit and zero-terminated.
inline void SetCompressionText(_FILEINFO& info, const char* text)
{
    std::size_t i = 0;
    for (; text && text[i] && i + 1 < sizeof info.Compression / sizeof info.Compression[0]; ++i)
        info.Compression[i] = char16_t(static_cast<unsigned char>(text[i]));
    info.Compression[i] = 0;
}

} // namespace rkfmt
