// ops_tone.h - the kernel's tone and colour operations: value tables (contrast, brightness,
// gamma, posterise), intensity stretches, saturation and hue, grey conversion, colour-resolution
// changes with palette choice and dithering, neighbourhood filters, and the display gamma.
//
// Conventions of kernel.h apply. In addition:
//  - flags arguments must be 0 (RK_ERROR_INV_PARAMETER otherwise);
//  - point operations work on colours: palette depths change their palette (the pixels keep
//    their indices), 16 bits (5-5-5) each 5-bit field through its 8-bit value, 24 and 48 bits
//    every sample, 32 bits the first three bytes (the fourth, alpha, is kept);
//  - operations run row by row (point operations) or in bands of rows with the filter's margin
//    (neighbourhood operations), so disk-backed bitmaps stay within bounded memory; a failed or
//    cancelled point operation may leave the rows done so far changed, a failed or cancelled
//    neighbourhood filter or depth change leaves the bitmap as it was.
#pragma once

#include "../kernel.h"
#include "ops_codes_geometry_tone.h"

// Contrast about mid-grey: v' = 128 + (v - 128) x k, rounded and clamped to 0..255, where
// k = 1 + change / 1000 for change <= 0 (-1000: flat grey) and k = 1000 / (1000 - change) above
// (1000: a threshold at 128). change -1000 to 1000.
OUTSIDE_API int RkChangeBitmapContrast(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags);
// Brightness: v' = v + change x 255 / 1000, rounded and clamped. change -1000 to 1000.
OUTSIDE_API int RkChangeBitmapIntensity(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags);
// Intensity stretch: the lowest colour sample of the bitmap becomes 0 and the highest 255 (the
// same linear map for every channel, so hues are kept); a bitmap of one level is unchanged.
OUTSIDE_API int RkStretchBitmapIntensity(_BITMAPHANDLE* bitmap, std::uint32_t flags);
// Histogram contrast: the levels between the 0.5th and 99.5th percentiles of the samples are
// stretched to 0..255, and the result is mixed with the original: v' = v + (s(v) - v) x change /
// 1000 for change >= 0; a negative change pulls the samples towards mid-grey by the same share
// of the stretch's opposite (v' = v + (128 - v) x |change| / 1000). change -1000 to 1000.
OUTSIDE_API int RkHistoContrastBitmap(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags);
// Gamma correction: v' = round(255 x (v / 255) ^ (100 / gamma)); gamma in hundredths, 1 to
// 100000 (else RK_ERROR_INV_PARAMETER; 100 changes nothing).
OUTSIDE_API int RkGammaCorrectBitmap(_BITMAPHANDLE* bitmap, int gamma, std::uint32_t flags);
// Saturation: each colour moves away from (change > 0) or towards (change < 0) its luma
// Y = 0.299 R + 0.587 G + 0.114 B by the factor 1 + change / 1000, rounded and clamped;
// -1000 gives grey. change -1000 to 1000.
OUTSIDE_API int RkChangeBitmapSaturation(_BITMAPHANDLE* bitmap, int change, std::uint32_t flags);
// Hue rotation by degrees (any value, taken modulo 360) in HSV: each colour's hue turns, its
// saturation and value stay (OpenCV's floating-point BGR <-> HSV conversion, rounded).
OUTSIDE_API int RkChangeBitmapHue(_BITMAPHANDLE* bitmap, int degrees, std::uint32_t flags);
// Posterise to levels levels per channel (2 to 64): v' = round(round(v x (L - 1) / 255) x 255 /
// (L - 1)).
OUTSIDE_API int RkPosterizeBitmap(_BITMAPHANDLE* bitmap, int levels, std::uint32_t flags);

// Neighbourhood filters over size x size pixels (odd size 1 to 255; 1 changes nothing), edges
// replicated, every channel (32 bits: alpha too). 8 bits need a grey ramp palette; 24, 32 and 48
// bits (median: size 3 or 5 at 48 bits); other depths RK_ERROR_BITSPERPIXEL.
OUTSIDE_API int RkMedianFilterBitmap(_BITMAPHANDLE* bitmap, unsigned size, std::uint32_t flags);
OUTSIDE_API int RkAverageFilterBitmap(_BITMAPHANDLE* bitmap, unsigned size, std::uint32_t flags);
// De-screening: removes a printed halftone screen by a Gaussian low-pass (5 x 5, sigma 1.0,
// edges replicated), depths as the filters above.
OUTSIDE_API int RkDescreenBitmap(_BITMAPHANDLE* bitmap, std::uint32_t flags);

// Grey conversion to bits (8 only): luma Y = 0.299 R + 0.587 G + 0.114 B as OpenCV's cvtColor
// rounds it, into an 8-bit bitmap with the grey ramp palette (48 bits: from the 16-bit samples,
// rounded to 8 bits). Other targets RK_ERROR_BITSPERPIXEL.
OUTSIDE_API int RkGrayScaleBitmapBits(_BITMAPHANDLE* bitmap, int bits);

// Changes the depth in place, with the palette and dithering choices of RK_CRF_* flags, for the
// palette depths: the target palette has `colours` entries (1 to 2^bits; below 1: 2^bits) from
// the kernel's fixed palette, the caller's palette (RK_CRF_USERPALETTE: at least `colours`
// entries, required) or one chosen from the image's colours by median cut (Leptonica; disk-backed
// and large bitmaps are sampled); pixels take their nearest entry, or Floyd-Steinberg diffusion
// of the error (RK_CRF_FLOYDSTEIN). The rest of a palette shorter than 2^bits is black and never
// used. Depths above 8 go through RkColorResBitmap (flags other than dithering ignored). The same
// depth without a palette choice changes nothing. RK_ERROR_INV_PARAMETER for unknown flags, two
// palette choices, a missing user palette or colours above 2^bits.
OUTSIDE_API int RkChangeColorRes(_BITMAPHANDLE* bitmap, std::uint32_t size, int bits,
                                 std::uint32_t flags, const tagRGBQUAD* palette, int colours);

// The gamma (hundredths) that painting applies to the bitmap: RK_DISPLAY_GAMMA_DEFAULT until set.
// It travels with the record (copies, resizes and depth changes keep it).
OUTSIDE_API int RkGetBitmapDisplayGamma(const _BITMAPHANDLE* bitmap, std::uint32_t* gamma);
OUTSIDE_API int RkSetBitmapDisplayGamma(_BITMAPHANDLE* bitmap, std::uint32_t gamma);
