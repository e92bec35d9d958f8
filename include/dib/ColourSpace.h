// ColourSpace.h - the colour-space codes shared by TDib, CFILEINFO, TProcesLiniaDIB and the
// readers. One 32-bit value; no other code occurs.
#pragma once

#include <cstdint>

constexpr std::uint32_t DIB_CS_MULTICHANNEL = 0xFFFFFFFFu; // -1: channels of no known model
constexpr std::uint32_t DIB_CS_NONE = 0;                   // not set
constexpr std::uint32_t DIB_CS_CMYK = 2;
constexpr std::uint32_t DIB_CS_LAB = 4;   // CIELab
constexpr std::uint32_t DIB_CS_GREY = 8;  // greyscale
constexpr std::uint32_t DIB_CS_MONO = 32; // monochrome, 1 bit per pixel
constexpr std::uint32_t DIB_CS_RGB = 64;
