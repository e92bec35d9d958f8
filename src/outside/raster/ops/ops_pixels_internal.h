// ops_pixels_internal.h - what the compositing and plane operations share: stored rows reached in
// picture order, and rows of any depth converted to and from 8-bit blue-green-red triplets.
#pragma once

#include "raster/raster_internal.h"

#include <cstdint>
#include <vector>

namespace rk::ops {

// Stored row of picture row r (rows stored top-down only at RK_TOP_LEFT).
inline int storedRow(const _BITMAPHANDLE* record, const Bitmap& bm, int r)
{
    return record->ViewPerspective == RK_TOP_LEFT ? r : bm.geo.height - 1 - r;
}

// Converts n pixels of a stored row, from column x0, to blue-green-red bytes (bgr, 3 n bytes)
// and, when alpha is not null, fourth bytes (255 for depths without one).
class RowReader {
public:
    explicit RowReader(const Bitmap& bm);
    void read(const std::uint8_t* row, int x0, int n, std::uint8_t* bgr, std::uint8_t* alpha) const;

private:
    const Bitmap& bm_;
    std::vector<COLORREF> palette_; // palette depths: the colour of each index
};

// Writes n blue-green-red pixels (and, when alpha is not null and the depth has a fourth
// byte, their fourth bytes) into a stored row from column x0; palette depths take the nearest
// entry.
class RowWriter {
public:
    explicit RowWriter(const Bitmap& bm);
    void write(std::uint8_t* row, int x0, int n, const std::uint8_t* bgr,
               const std::uint8_t* alpha);

private:
    const Bitmap& bm_;
    NearestCache nearest_;
};

} // namespace rk::ops
