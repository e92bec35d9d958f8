// Helpers of the operation tests: images of any depth, storage kind and row order painted in
// picture coordinates, and their pixels read back the same way.
#pragma once

#include <array>
#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <functional>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <vector>

namespace opstest {

enum class Layout { TopDown, BottomUp, Disk };
constexpr Layout kLayouts[] = {Layout::TopDown, Layout::BottomUp, Layout::Disk};

inline const char* Name(Layout l)
{
    return l == Layout::TopDown ? "top-down" : l == Layout::BottomUp ? "bottom-up" : "disk";
}

inline std::array<tagRGBQUAD, 256> Greys()
{
    std::array<tagRGBQUAD, 256> g{};
    for (int i = 0; i < 256; ++i)
        g[std::size_t(i)] = {BYTE(i), BYTE(i), BYTE(i), 0};
    return g;
}

inline int StoredRow(const TDib& d, int y)
{
    return dib::TDibAccess::StoredRow(dib::TDibAccess::Bitmap(d), y);
}

// Creates width x height at bits in the layout; palette (may be null) as Crear takes it.
inline void Make(TDib& d, int width, int height, int bits, Layout layout,
                 const tagRGBQUAD* palette = nullptr)
{
    if (layout == Layout::Disk)
        ASSERT_EQ(d.CrearDisc(width, height, bits, palette), 0);
    else
        ASSERT_EQ(d.Crear(width, height, bits, palette), 0);
    if (layout == Layout::BottomUp)
        dib::TDibAccess::Bitmap(d).ViewPerspective = RK_BOTTOM_LEFT;
}

// Paints colour(x, y) at picture row y.
inline void Paint(TDib& d, const std::function<COLORREF(int, int)>& colour)
{
    for (int y = 0; y < d.GetMidaY(); ++y)
        for (int x = 0; x < d.GetMidaX(); ++x)
            d.SetPixel(x, StoredRow(d, y), colour(x, y));
}

// Colour at picture row y.
inline COLORREF At(const TDib& d, int x, int y)
{
    return COLORREF(d.GetPixel(x, StoredRow(d, y)));
}

// Every colour, rows from the top.
inline std::vector<COLORREF> Picture(const TDib& d)
{
    std::vector<COLORREF> out;
    for (int y = 0; y < d.GetMidaY(); ++y)
        for (int x = 0; x < d.GetMidaX(); ++x)
            out.push_back(At(d, x, y));
    return out;
}

// A few colours in blobs, so that regions and near matches exist.
inline COLORREF Blobs(int x, int y)
{
    const unsigned v = unsigned((x / 3) * 7 + (y / 2) * 13 + (x * y) % 5);
    static const COLORREF palette[] = {RGB(200, 10, 10),   RGB(205, 14, 6), RGB(10, 200, 10),
                                       RGB(255, 255, 255), RGB(0, 0, 0),    RGB(120, 120, 120)};
    return palette[v % 6];
}

} // namespace opstest
