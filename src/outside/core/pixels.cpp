// pixels.cpp - palette mapping.
#include "pixels.h"

#include <climits>

namespace core {

int NearestPaletteIndex(const void* entries, int count, int red, int green, int blue)
{
    if (!entries || count <= 0)
        return 0;
    const auto* q = static_cast<const std::uint8_t*>(entries);
    int best = 0;
    long bestDistance = LONG_MAX;
    for (int i = 0; i < count; ++i, q += 4) {
        const long db = q[0] - blue, dg = q[1] - green, dr = q[2] - red;
        const long d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0)
                break;
        }
    }
    return best;
}

} // namespace core
