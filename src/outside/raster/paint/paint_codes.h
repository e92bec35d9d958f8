// paint_codes.h - the codes of the raster kernel's painting: display-mode bits and effects.
#pragma once

#include <cstdint>

// ---- display-mode bits (RkSetDisplayMode) ---------------------------------------------------
// Process-wide. Each painting call reads them when it starts.
//
// Sampling when the picture is scaled: RK_DISPLAY_RESAMPLE gives cairo's "good" filter (an
// area average when reducing, bilinear when enlarging), else RK_DISPLAY_FAST the nearest source
// pixel, else (neither) bilinear. A 1-bit bitmap reduced with RK_DISPLAY_SCALE_TO_GRAY set is
// always area-averaged, so that line art keeps its thin lines as grey.
constexpr std::uint32_t RK_DISPLAY_FAST = 0x0002;
// Palette bitmaps paint through their palette: accepted for every target; the targets here are
// true-colour, so colours are exact whether or not the bit is set.
constexpr std::uint32_t RK_DISPLAY_PALETTE = 0x0004;
// Ordered dithering on palette targets; accepted, no effect on true-colour ones.
constexpr std::uint32_t RK_DISPLAY_DITHER = 0x0008;
// Vector targets (print pages): a reduced picture is area-averaged whatever the other bits.
constexpr std::uint32_t RK_DISPLAY_PRINT_RESAMPLE = 0x0020;
// 32-bit bitmaps are composed over the target by their fourth byte (straight alpha, 255
// opaque). Clear: they are painted opaque.
constexpr std::uint32_t RK_DISPLAY_ALPHA = 0x0080;
constexpr std::uint32_t RK_DISPLAY_SCALE_TO_GRAY = 0x0200;
constexpr std::uint32_t RK_DISPLAY_RESAMPLE = 0x0400;
// The bits in force until a program changes them.
constexpr std::uint32_t RK_DISPLAY_DEFAULT = RK_DISPLAY_FAST | RK_DISPLAY_PALETTE;

// ---- effects (RkPaintDCEffect) --------------------------------------------------------------
// How the picture appears: at once, or as a wipe in `param` strips (1 to 64; other values are
// taken as 16), each strip painted before the next. The finished picture is the same as a plain
// paint's.
constexpr unsigned RK_EFFECT_NONE = 0;
constexpr unsigned RK_EFFECT_WIPE_RIGHT = 1; // left edge first
constexpr unsigned RK_EFFECT_WIPE_LEFT = 2;  // right edge first
constexpr unsigned RK_EFFECT_WIPE_DOWN = 3;  // top edge first
constexpr unsigned RK_EFFECT_WIPE_UP = 4;    // bottom edge first
constexpr unsigned RK_EFFECT_LAST = RK_EFFECT_WIPE_UP;
constexpr unsigned RK_EFFECT_MAX_STRIPS = 64;
constexpr unsigned RK_EFFECT_DEFAULT_STRIPS = 16;
