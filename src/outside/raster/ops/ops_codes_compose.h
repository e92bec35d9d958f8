// ops_codes_compose.h - codes of the kernel's compositing and plane operations: combine flags
// (RkCombineBitmap), plane selectors (RkSeparatePlanes, RkMergePlanes) and remap channels
// (RkRemapBitmapValues).
#pragma once

#include <cstdint>

// ---- combine flags --------------------------------------------------------------------------
//
// A combine flag word is one operation (bits 8 to 11) with optional modifiers (bits 0 to 7).
// Every operation works per colour channel on 8-bit red, green and blue values; `s` is the
// source pixel and `d` the destination pixel it lands on. Values outside 0..255 saturate.

constexpr std::uint32_t RK_COMBINE_OP_MASK = 0x0F00;
constexpr std::uint32_t RK_COMBINE_COPY = 0x0100;       // s
constexpr std::uint32_t RK_COMBINE_AND = 0x0200;        // d & s
constexpr std::uint32_t RK_COMBINE_OR = 0x0300;         // d | s
constexpr std::uint32_t RK_COMBINE_XOR = 0x0400;        // d ^ s
constexpr std::uint32_t RK_COMBINE_ADD = 0x0500;        // min(d + s, 255)
constexpr std::uint32_t RK_COMBINE_SUBTRACT = 0x0600;   // max(d - s, 0)
constexpr std::uint32_t RK_COMBINE_MULTIPLY = 0x0700;   // d * s / 255, rounded
constexpr std::uint32_t RK_COMBINE_DARKEN = 0x0800;     // min(d, s)
constexpr std::uint32_t RK_COMBINE_LIGHTEN = 0x0900;    // max(d, s)
constexpr std::uint32_t RK_COMBINE_AVERAGE = 0x0A00;    // (d + s) / 2, halves rounded to even
constexpr std::uint32_t RK_COMBINE_DIFFERENCE = 0x0B00; // |d - s|

// Modifiers.
constexpr std::uint32_t RK_COMBINE_INVERT_SRC = 0x0001; // s becomes 255 - s before the operation
constexpr std::uint32_t RK_COMBINE_INVERT_DST = 0x0002; // d becomes 255 - d before the operation
constexpr std::uint32_t RK_COMBINE_INVERT_RES = 0x0004; // the result becomes 255 - result
// Source pixels always reach the destination by colour (palette depths: the nearest entry of
// the destination's palette), except that a plain copy between bitmaps of one depth, one
// colour order and identical palettes copies the stored values unchanged (indices, and the
// fourth byte of 32-bit pixels). BY_COLOUR forces the colour route for that case too.
constexpr std::uint32_t RK_COMBINE_BY_COLOUR = 0x0020;
constexpr std::uint32_t RK_COMBINE_MODIFIER_MASK = 0x0027;

// ---- plane selectors --------------------------------------------------------------------------
//
// The planes of a selector, in array order. Every plane is one 8-bit value per pixel.

constexpr int RK_PLANES_RGB = 0;  // red, green, blue
constexpr int RK_PLANES_CMYK = 1; // cyan, magenta, yellow, black: K = 255 - max(R, G, B),
                                  // C = max(R, G, B) - R (M, Y likewise); merged back as
                                  // R = max(0, 255 - C - K) (G, B likewise), so a separation
                                  // merges back to the same colours
constexpr int RK_PLANES_HSV = 2;  // hue (0..255 for the full turn), saturation, value
constexpr int RK_PLANES_HLS = 3;  // hue (0..255 for the full turn), lightness, saturation
constexpr int RK_PLANES_CMY = 4;  // cyan, magenta, yellow: 255 - R, 255 - G, 255 - B

// Number of planes of a selector, 0 for an unknown selector.
constexpr int RkPlaneCount(int selector)
{
    return selector == RK_PLANES_CMYK                               ? 4
           : selector >= RK_PLANES_RGB && selector <= RK_PLANES_CMY ? 3
                                                                    : 0;
}

// ---- remap channels ---------------------------------------------------------------------------
//
// A channel word is a set of these bits (at least one).

constexpr std::uint32_t RK_CHANNEL_RED = 0x1;
constexpr std::uint32_t RK_CHANNEL_GREEN = 0x2;
constexpr std::uint32_t RK_CHANNEL_BLUE = 0x4;
constexpr std::uint32_t RK_CHANNEL_RGB = 0x7;   // the three colour channels through one table
constexpr std::uint32_t RK_CHANNEL_ALPHA = 0x8; // the fourth byte of 32-bit pixels
constexpr std::uint32_t RK_CHANNEL_MASK = 0xF;
