// line_access.cpp - rows, columns and pixels of a TDib, and the static raw-line functions.
//
// Contents
//   rows            GetLinia (x2), SetLinia (x2)
//   column          GetColumna
//   pixels          SetPixel (x2), GetPixel
//   rectangle       GetPorcioBitmap
//   line sizes      TamanyLinia, TamanyBitmap
//   conversions     AdaptarPerCarregarCMYK, BGRtoRGB_8, BGRtoRGB_16, getPixel
//   mirroring       FlipLine, FlipLine8/16/24/32/48
#include <algorithm>
#include <core/checked_size.h>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <limits>
#include <new>
#include <raster/kernel.h>

using dib::StatusFromKernel;
using dib::TDibAccess;

namespace {

// Swaps bytes 0 and 2 of every complete three-byte group of n bytes.
void SwapRedBlue(unsigned char* p, std::uint64_t n)
{
    for (std::uint64_t i = 0; i + 3 <= n; i += 3)
        std::swap(p[i], p[i + 2]);
}

template <std::size_t N> void MirrorPixels(unsigned char* line, int width)
{
    if (!line || width < 2)
        return;
    unsigned char* a = line;
    unsigned char* b = line + static_cast<std::size_t>(width - 1) * N;
    for (int i = 0; i < width / 2; ++i, a += N, b -= N) {
        unsigned char t[N];
        std::memcpy(t, a, N);
        std::memcpy(a, b, N);
        std::memcpy(b, t, N);
    }
}

COLORREF PaletteColour(const tagRGBQUAD& q)
{
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

} // namespace

// ---- rows -------------------------------------------------------------------------------------

int TDib::GetLinia(int row, unsigned char* buffer, std::uint64_t bytes, int swap) const
{
    const int stored = TDibAccess::StoredRow(m_bitmap, row);
    const std::int64_t r = RkGetBitmapRow(&m_bitmap, buffer, stored, bytes);
    if (r <= 0)
        return StatusFromKernel(r);
    if (swap && m_bitmap.BitsPerPixel == 24)
        SwapRedBlue(buffer, bytes);
    return DIB_OK;
}

int TDib::GetLinia(int row, int column, unsigned char* buffer, std::uint64_t bytes) const
{
    const int stored = TDibAccess::StoredRow(m_bitmap, row);
    return StatusFromKernel(RkGetBitmapRowCol(&m_bitmap, buffer, stored, column, bytes));
}

int TDib::SetLinia(int row, const unsigned char* buffer, std::uint64_t bytes)
{
    const int stored = TDibAccess::StoredRow(m_bitmap, row);
    return StatusFromKernel(RkPutBitmapRow(&m_bitmap, buffer, stored, bytes));
}

int TDib::SetLinia(int row, int column, const unsigned char* buffer, std::uint64_t bytes)
{
    const int stored = TDibAccess::StoredRow(m_bitmap, row);
    return StatusFromKernel(RkPutBitmapRowCol(&m_bitmap, buffer, stored, column, bytes));
}

// ---- column -----------------------------------------------------------------------------------

int TDib::GetColumna(int column, unsigned char* buffer, std::uint64_t /*size*/) const
{
    const int height = m_bitmap.Height;
    if (!buffer)
        return height > 0 ? StatusFromKernel(RK_ERROR_INV_PARAMETER) : DIB_OK;
    if (m_bitmap.BitsPerPixel == 1) {
        // The colour read answers 0 for a column outside the image, which would pass for a
        // column of black: refuse it as the row reads of the other depths do.
        if (column < 0 || column >= m_bitmap.Width)
            return StatusFromKernel(RK_ERROR_INV_PARAMETER);
        unsigned char acc = 0;
        int bits = 0;
        for (int i = 0; i < height; ++i) {
            acc = static_cast<unsigned char>(acc << 1);
            if (RkGetPixelColor(&m_bitmap, height - 1 - i, column) != 0)
                acc |= 1;
            if (++bits == 8) {
                *buffer++ = acc;
                acc = 0;
                bits = 0;
            }
        }
        if (bits != 0)
            *buffer = static_cast<unsigned char>(acc << (8 - bits));
        return DIB_OK;
    }
    const std::uint64_t step = (static_cast<std::uint64_t>(m_bitmap.BitsPerPixel) + 7) / 8;
    int status = DIB_OK;
    for (int i = 0; i < height; ++i) {
        status =
            StatusFromKernel(RkGetBitmapRowCol(&m_bitmap, buffer, height - 1 - i, column, step));
        buffer += step;
    }
    return status;
}

// ---- pixels -----------------------------------------------------------------------------------

int TDib::SetPixel(int x, int y, const unsigned char* bytes)
{
    const std::uint64_t n = static_cast<std::uint64_t>(std::max(m_bitmap.BitsPerPixel, 0)) / 8;
    return StatusFromKernel(RkPutBitmapRowCol(&m_bitmap, bytes, y, x, n));
}

int TDib::SetPixel(int x, int y, unsigned long colour)
{
    RkPutPixelColor(&m_bitmap, y, x, static_cast<COLORREF>(colour));
    return DIB_OK;
}

unsigned long TDib::GetPixel(int x, int y) const
{
    return RkGetPixelColor(&m_bitmap, y, x);
}

// ---- rectangle --------------------------------------------------------------------------------

int TDib::GetPorcioBitmap(tagRECT* rect, TDib*& out) const
{
    out = new (std::nothrow) TDib();
    if (!out)
        return DIB_ERR_NO_MEMORY;
    if (!rect)
        return DIB_ERR_INVALID;
    rect->right = std::min<LONG>(rect->right, m_bitmap.Width - 1);
    rect->bottom = std::min<LONG>(rect->bottom, m_bitmap.Height - 1);
    const std::int64_t w = std::int64_t(rect->right) - rect->left + 1;
    const std::int64_t h = std::int64_t(rect->bottom) - rect->top + 1;
    if (w < 1 || h < 1 || rect->left < 0 || rect->top < 0)
        return StatusFromKernel(RK_ERROR_INV_PARAMETER);
    // The rectangle counts rows from the top; the kernel copies stored rows.
    const bool topLeft = m_bitmap.ViewPerspective == RK_TOP_LEFT;
    const int storedTop = topLeft ? rect->top : m_bitmap.Height - 1 - rect->bottom;
    _BITMAPHANDLE& dst = TDibAccess::Bitmap(*out);
    int r = RkCopyBitmapRect(&dst, BITMAPHANDLE_SIZE, &m_bitmap, BITMAPHANDLE_SIZE, rect->left,
                             storedTop, static_cast<int>(w), static_cast<int>(h));
    if (r <= 0)
        return StatusFromKernel(r);
    if (!topLeft) {
        // The copied rows are bottom-up; the new image is top-left.
        r = RkFlipBitmap(&dst);
        if (r <= 0) {
            out->Done();
            return StatusFromKernel(r);
        }
    }
    dst.ViewPerspective = RK_TOP_LEFT;
    out->CopiarMembres(*this);
    return DIB_OK;
}

// ---- line sizes -------------------------------------------------------------------------------

unsigned long TDib::TamanyLinia(int width, int bitsPerPixel, int alignment)
{
    const auto n = core::CheckedLineSize(width, bitsPerPixel, alignment);
    if (!n || *n > std::numeric_limits<unsigned long>::max())
        return 0;
    return static_cast<unsigned long>(*n);
}

std::uint32_t TDib::TamanyBitmap(int width, int height, int bitsPerPixel, int alignment)
{
    const auto line = core::CheckedLineSize(width, bitsPerPixel, alignment);
    if (!line || height < 0)
        return 0;
    const auto total = core::CheckedMul(*line, static_cast<std::uint64_t>(height));
    if (!total || *total > std::numeric_limits<std::uint32_t>::max())
        return 0;
    return static_cast<std::uint32_t>(*total);
}

// ---- conversions ------------------------------------------------------------------------------

int TDib::AdaptarPerCarregarCMYK(unsigned char* pixels, int count)
{
    if (!pixels || count < 1)
        return DIB_OK;
    unsigned char* p = pixels;
    for (int i = 0; i < count; ++i, p += 4) {
        const int c = p[0], m = p[1], y = p[2], k = p[3];
        p[0] = static_cast<unsigned char>(std::max(0, 255 - c - k));
        p[1] = static_cast<unsigned char>(std::max(0, 255 - m - k));
        p[2] = static_cast<unsigned char>(std::max(0, 255 - y - k));
        p[3] = 0;
    }
    // Red was computed into byte 0 and blue into byte 2: the image stores blue first.
    for (int i = 0; i < count; ++i)
        std::swap(pixels[4 * std::size_t(i)], pixels[4 * std::size_t(i) + 2]);
    return DIB_OK;
}

int TDib::BGRtoRGB_8(unsigned char* line, int count)
{
    if (!line)
        return DIB_OK;
    for (int i = 0; i < count; ++i)
        std::swap(line[3 * std::size_t(i)], line[3 * std::size_t(i) + 2]);
    return DIB_OK;
}

int TDib::BGRtoRGB_16(unsigned short* line, int count)
{
    if (!line)
        return DIB_OK;
    for (int i = 0; i < count; ++i)
        std::swap(line[3 * std::size_t(i)], line[3 * std::size_t(i) + 2]);
    return DIB_OK;
}

unsigned long TDib::getPixel(int x, const unsigned char* line, int bitsPerPixel,
                             const tagRGBQUAD* palette)
{
    if (!line || x < 0)
        return 0;
    const std::size_t ux = static_cast<std::size_t>(x);
    switch (bitsPerPixel) {
    case 1: {
        const int bit = (line[ux / 8] >> (7 - ux % 8)) & 1;
        if (palette)
            return PaletteColour(palette[bit]);
        return bit ? 0xFFFFFFu : 0u;
    }
    case 4: {
        const int index = (ux % 2) ? (line[ux / 2] & 0x0F) : (line[ux / 2] >> 4);
        if (palette)
            return PaletteColour(palette[index]);
        const auto g = static_cast<BYTE>(index * 16);
        return RGB(g, g, g);
    }
    case 8: {
        const int index = line[ux];
        if (palette)
            return PaletteColour(palette[index]);
        const auto g = static_cast<BYTE>(index);
        return RGB(g, g, g);
    }
    case 24: {
        const unsigned char* p = line + 3 * ux;
        return RGB(p[2], p[1], p[0]);
    }
    case 32: {
        const unsigned char* p = line + 4 * ux;
        const int k = p[3];
        const auto red = static_cast<BYTE>(std::max(0, p[2] - k));
        const auto green = static_cast<BYTE>(std::max(0, p[1] - k));
        const auto blue = static_cast<BYTE>(std::max(0, p[0] - k));
        return RGB(red, green, blue);
    }
    default:
        return 0;
    }
}

// ---- mirroring --------------------------------------------------------------------------------

int TDib::FlipLine8(unsigned char* line, int width)
{
    MirrorPixels<1>(line, width);
    return DIB_OK;
}

int TDib::FlipLine16(unsigned char* line, int width)
{
    MirrorPixels<2>(line, width);
    return DIB_OK;
}

int TDib::FlipLine24(unsigned char* line, int width)
{
    MirrorPixels<3>(line, width);
    return DIB_OK;
}

int TDib::FlipLine32(unsigned char* line, int width)
{
    MirrorPixels<4>(line, width);
    return DIB_OK;
}

int TDib::FlipLine48(unsigned char* line, int width)
{
    MirrorPixels<6>(line, width);
    return DIB_OK;
}

int TDib::FlipLine(int bitsPerPixel, unsigned char* line, int width)
{
    switch (bitsPerPixel) {
    case 8:
        return FlipLine8(line, width);
    case 16:
        return FlipLine16(line, width);
    case 24:
        return FlipLine24(line, width);
    case 32:
        return FlipLine32(line, width);
    case 48:
        return FlipLine48(line, width);
    default:
        break;
    }
    if (!line || width < 2)
        return DIB_OK;
    // Packed depths: pixels straddle bytes, so the kernel's mirror of a one-row bitmap does the
    // bit shuffling.
    const unsigned long bytes = TamanyLinia(width, bitsPerPixel, 0);
    if (bytes == 0)
        return StatusFromKernel(RK_ERROR_INV_PARAMETER);
    _BITMAPHANDLE row;
    RkInitBitmap(&row, BITMAPHANDLE_SIZE, 0, 0, 0);
    int r = RkCreateBitmap(&row, BITMAPHANDLE_SIZE, RK_MEMORY_CONVENTIONAL | RK_MEMORY_DEFAULT,
                           width, 1, bitsPerPixel, RK_ORDER_BGR, nullptr, RK_TOP_LEFT);
    if (r <= 0)
        return StatusFromKernel(r);
    RkAccessBitmap(&row);
    std::int64_t n = RkPutBitmapRow(&row, line, 0, bytes);
    if (n > 0) {
        r = RkReverseBitmap(&row);
        n = r > 0 ? RkGetBitmapRow(&row, line, 0, bytes) : r;
    }
    RkReleaseBitmap(&row);
    RkFreeBitmap(&row);
    return StatusFromKernel(n);
}
