// word2byte.cpp - the 16-to-8-bit table, built at compile time.
#include "base/word2byte.h"

namespace {

constexpr std::array<std::uint8_t, 65536> MakeTable()
{
    std::array<std::uint8_t, 65536> t{};
    // v * 255 / 65535 is v / 257; adding half the divisor rounds to nearest.
    for (std::uint32_t v = 0; v < 65536; ++v)
        t[v] = static_cast<std::uint8_t>((v + 128) / 257);
    return t;
}

} // namespace

constinit const std::array<std::uint8_t, 65536> g_word2byte = MakeTable();
