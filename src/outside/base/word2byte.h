// word2byte.h - 16-bit to 8-bit sample conversion table.
#pragma once

#include "../outside_api.h"

#include <array>
#include <cstdint>

// g_word2byte[v] = round(v * 255 / 65535) for every 16-bit sample value v (no value falls on a
// half, so the rounding direction never matters). Constant data, safe from any thread.
OUTSIDE_API extern const std::array<std::uint8_t, 65536> g_word2byte;
