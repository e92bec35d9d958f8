// ops_codes_geometry_tone.h - codes of the kernel's geometry and tone operations: rotation flags,
// shear directions, resize methods, colour-resolution flags and the ranges of the tone amounts.
#pragma once

#include <cstdint>

// ---- RkRotateBitmap flags
// ------------------------------------------------------------------------ The canvas grows so that
// the whole turned picture fits (else it keeps its size and the picture turns about its centre, its
// corners cut off).
constexpr std::uint32_t RK_ROTATE_RESIZE = 0x0001;
// Bilinear interpolation (else nearest neighbour). Palette and 16-bit (5-5-5) bitmaps are always
// turned by nearest neighbour: their values are indices or packed fields.
constexpr std::uint32_t RK_ROTATE_RESAMPLE = 0x0002;

// ---- RkShearBitmap directions ------------------------------------------------------------------
constexpr int RK_SHEAR_HORIZONTAL = 0; // rows slide sideways; the canvas widens
constexpr int RK_SHEAR_VERTICAL = 1;   // columns slide up or down; the canvas grows taller
// Shear angles are limited to +-45 degrees (+-4500 hundredths).
constexpr int RK_SHEAR_MAX_ANGLE = 4500;

// ---- RkSizeBitmap methods
// ------------------------------------------------------------------------ Each sample of the
// result is computed from the source as OpenCV's resize computes it (pixel centres aligned, edges
// replicated).
constexpr int RK_SIZE_NEAREST = 0;  // nearest neighbour
constexpr int RK_SIZE_BILINEAR = 1; // 2 x 2 neighbours, linear weights
constexpr int RK_SIZE_BICUBIC = 2;  // 4 x 4 neighbours, cubic convolution (a = -0.75)
constexpr int RK_SIZE_AREA = 3;     // box average of the covered source area
// The editor's choice: box average on reduction (no aliasing), bilinear on enlargement.
constexpr int RK_SIZE_RESAMPLE = 4;

// ---- RkChangeColorRes flags
// ---------------------------------------------------------------------- Palette choice for the
// palette depths (1, 2, 4, 8 bits), at most one of:
constexpr std::uint32_t RK_CRF_FIXEDPALETTE = 0x0001;     // the kernel's default palette
constexpr std::uint32_t RK_CRF_OPTIMIZEDPALETTE = 0x0002; // `colours` colours chosen from the image
constexpr std::uint32_t RK_CRF_USERPALETTE = 0x0010;      // the caller's palette, `colours` entries
// With none of them: the caller's palette when one is given, else the fixed palette.
// Floyd-Steinberg error diffusion onto the palette (else each pixel takes its nearest entry).
constexpr std::uint32_t RK_CRF_FLOYDSTEIN = 0x00010000;
constexpr std::uint32_t RK_CRF_KNOWN =
    RK_CRF_FIXEDPALETTE | RK_CRF_OPTIMIZEDPALETTE | RK_CRF_USERPALETTE | RK_CRF_FLOYDSTEIN;

// ---- tone amounts
// -------------------------------------------------------------------------------- Contrast,
// brightness, saturation and histogram-contrast amounts run from -1000 to 1000 (tenths of a
// percent); values beyond are refused.
constexpr int RK_AMOUNT_MAX = 1000;
// Posterise levels per channel: 2 to 64.
constexpr int RK_POSTERIZE_MIN = 2;
constexpr int RK_POSTERIZE_MAX = 64;
// Median and average neighbourhoods: odd sizes from 1 to 255 (16-bit samples: median 3 or 5).
constexpr unsigned RK_FILTER_MAX = 255;
// Display gamma of a bitmap that was never given one: 1.0.
constexpr std::uint32_t RK_DISPLAY_GAMMA_DEFAULT = 100;
