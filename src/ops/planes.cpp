// planes.cpp - colour planes: TDib::MergeCMYK, TDib::ColorMerge, TDib::Substituir,
// TDib::AillarPla.
//
// Merges and remaps are built by the kernel in new storage and take effect only on success;
// Substituir's black-plane route works on separated planes and merges them into a new bitmap
// before the image's own is replaced.
#include "ops_internal.h"

#include <algorithm>
#include <array>
#include <core/last_error.h>
#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <new>
#include <raster/kernel.h>
#include <raster/ops/ops_compose.h>
#include <vector>

using dib::StatusFromKernel;
using dib::TDibAccess;
using dib::ops::Filled;
using dib::ops::ScopedBitmap;

namespace {

// Planes for a merge into width x height: -3 when one is null, empty or of another size.
int CheckPlanes(TDib* const* planes, int count, int width, int height)
{
    for (int i = 0; i < count; ++i) {
        if (!planes[i] || !Filled(*planes[i])) {
            core::SetLastErrorText("a plane is missing or empty");
            return DIB_ERR_INVALID;
        }
        if (planes[i]->GetMidaX() != width || planes[i]->GetMidaY() != height) {
            core::SetLastErrorText("the planes are not all of one size");
            return DIB_ERR_INVALID;
        }
    }
    return DIB_OK;
}

int Merge(_BITMAPHANDLE* target, TDib* const* planes, int count, int selector)
{
    std::array<const _BITMAPHANDLE*, 4> records{};
    for (int i = 0; i < count; ++i)
        records[std::size_t(i)] = &TDibAccess::Bitmap(*planes[i]);
    const int r = RkMergePlanes(target, records.data(), count, selector);
    if (r <= 0)
        core::SetLastErrorText("the planes could not be merged");
    return StatusFromKernel(r);
}

} // namespace

int TDib::MergeCMYK(TDib* cyan, TDib* magenta, TDib* yellow, TDib* black)
{
    TDib* const planes[4] = {cyan, magenta, yellow, black};
    if (!cyan || !Filled(*cyan)) {
        core::SetLastErrorText("a plane is missing or empty");
        return DIB_ERR_INVALID;
    }
    if (const int r = CheckPlanes(planes, 4, cyan->GetMidaX(), cyan->GetMidaY()); r != DIB_OK)
        return r;
    ScopedBitmap merged;
    int r =
        RkCreateBitmap(merged.get(), BITMAPHANDLE_SIZE, RK_MEMORY_CONVENTIONAL, cyan->GetMidaX(),
                       cyan->GetMidaY(), 24, RK_ORDER_BGR, nullptr, RK_TOP_LEFT);
    if (r <= 0) {
        core::SetLastErrorText("no image could be created for the merge");
        return StatusFromKernel(r);
    }
    if (const int m = Merge(merged.get(), planes, 4, RK_PLANES_CMYK); m != DIB_OK)
        return m;
    // As recreating the image would: its description is reset, its resolution kept.
    Done();
    merged.HandTo(*this);
    return DIB_OK;
}

int TDib::ColorMerge(TDib** planes, unsigned long selector)
{
    const int count = selector <= 4 ? RkPlaneCount(int(selector)) : 0;
    if (!planes || count == 0 || !Filled(*this)) {
        core::SetLastErrorText(count == 0 ? "unknown plane selector" : "no planes or no image");
        return DIB_ERR_INVALID;
    }
    if (const int r = CheckPlanes(planes, count, m_bitmap.Width, m_bitmap.Height); r != DIB_OK)
        return r;
    return Merge(&m_bitmap, planes, count, int(selector));
}

int TDib::Substituir(int* table, unsigned int count, unsigned int channel)
{
    if (!table || !Filled(*this)) {
        core::SetLastErrorText("no table or no image");
        return DIB_ERR_INVALID;
    }
    if (channel != 0) {
        const int r = RkRemapBitmapValues(&m_bitmap, table, count, channel);
        if (r <= 0)
            core::SetLastErrorText("the values could not be remapped");
        return StatusFromKernel(r);
    }
    if (count < 256) {
        core::SetLastErrorText("the table has fewer than 256 entries");
        return DIB_ERR_INVALID;
    }
    std::array<ScopedBitmap, 4> planes;
    _BITMAPHANDLE records[4];
    for (auto& record : records)
        RkInitBitmap(&record, BITMAPHANDLE_SIZE, 0, 0, 0);
    int r = RkSeparatePlanes(&m_bitmap, records, BITMAPHANDLE_SIZE, 4, RK_PLANES_CMYK);
    if (r <= 0) {
        core::SetLastErrorText("the image could not be separated into planes");
        return StatusFromKernel(r);
    }
    for (std::size_t i = 0; i < 4; ++i) // owned from here on
        std::memcpy(planes[i].get(), &records[i], sizeof records[i]);
    r = RkRemapBitmapValues(planes[3].get(), table, count, RK_CHANNEL_RGB);
    if (r <= 0) {
        core::SetLastErrorText("the black plane could not be remapped");
        return StatusFromKernel(r);
    }
    const _BITMAPHANDLE* merged[4] = {planes[0].get(), planes[1].get(), planes[2].get(),
                                      planes[3].get()};
    if (m_bitmap.BitsPerPixel == 24 || m_bitmap.BitsPerPixel == 32) {
        r = RkMergePlanes(&m_bitmap, merged, 4, RK_PLANES_CMYK);
    } else {
        ScopedBitmap colour;
        r = RkCreateBitmap(
            colour.get(), BITMAPHANDLE_SIZE,
            (m_bitmap.Flags & BITMAP_FLAG_DISK) ? RK_MEMORY_DISK : RK_MEMORY_CONVENTIONAL,
            m_bitmap.Width, m_bitmap.Height, 24, RK_ORDER_BGR, nullptr, m_bitmap.ViewPerspective);
        if (r > 0)
            r = RkMergePlanes(colour.get(), merged, 4, RK_PLANES_CMYK);
        if (r > 0) {
            colour->XResolution = m_bitmap.XResolution;
            colour->YResolution = m_bitmap.YResolution;
            colour.HandTo(*this);
            m_canalAlpha = -1;
        }
    }
    if (r <= 0)
        core::SetLastErrorText("the planes could not be merged back");
    return StatusFromKernel(r);
}

void TDib::AillarPla(unsigned long key, unsigned long replacement)
{
    if (!Filled(*this))
        return;
    key &= 0xFFFFFF;
    const auto r0 = BYTE(replacement), r1 = BYTE(replacement >> 8), r2 = BYTE(replacement >> 16);
    if (m_bitmap.BitsPerPixel == 24) {
        const std::uint64_t bytes = 3 * std::uint64_t(m_bitmap.Width);
        std::vector<std::uint8_t> line;
        try {
            line.resize(std::size_t(bytes));
        } catch (const std::bad_alloc&) {
            return;
        }
        Lock();
        for (int y = 0; y < m_bitmap.Height; ++y) {
            const int row = TDibAccess::StoredRow(m_bitmap, y);
            if (RkGetBitmapRow(&m_bitmap, line.data(), row, bytes) <= 0)
                break;
            for (std::size_t i = 0; i < line.size(); i += 3) {
                std::uint8_t* p = line.data() + i;
                const unsigned long colour =
                    (unsigned long)p[0] << 16 | (unsigned long)p[1] << 8 | p[2];
                if (colour == key) {
                    p[0] = r2;
                    p[1] = r1;
                    p[2] = r0;
                } else {
                    p[0] = p[1] = p[2] = 255;
                }
            }
            if (RkPutBitmapRow(&m_bitmap, line.data(), row, bytes) <= 0)
                break;
        }
        Unlock();
        return;
    }
    const int count = m_bitmap.BitsPerPixel <= 8 ? std::min(m_bitmap.ColorCount, 256) : 0;
    if (count <= 0)
        return;
    std::array<tagRGBQUAD, 256> palette{};
    if (RkGetBitmapColors(&m_bitmap, 0, count, palette.data()) <= 0)
        return;
    for (int i = 0; i < count; ++i) {
        tagRGBQUAD& q = palette[std::size_t(i)];
        const unsigned long colour =
            (unsigned long)q.rgbBlue << 16 | (unsigned long)q.rgbGreen << 8 | q.rgbRed;
        if (colour == key) {
            q.rgbBlue = r2;
            q.rgbGreen = r1;
            q.rgbRed = r0;
        } else {
            q.rgbBlue = q.rgbGreen = q.rgbRed = 255;
        }
    }
    RkPutBitmapColors(&m_bitmap, 0, count, palette.data());
}
