// palette.cpp - palette and colour queries of a TDib.
//
// Contents
//   GetPaleta          palette entries and the entries the pixels use
//   SetPaleta          replace the palette entries
//   GetNumColors       distinct colours (kernel count)
//   GetLlistaColors    the distinct colours themselves
//   GetBitmapHistogram one channel of a 24-bit image
//   EsImatgeGrisos     kernel grey test
#include <core/checked_size.h>
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <memory>
#include <new>
#include <raster/kernel.h>
#include <unordered_set>
#include <vector>

using dib::TDibAccess;

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

Buffer AllocateLine(std::uint64_t bytes)
{
    if (bytes == 0 || !core::FitsAllocation(bytes))
        return nullptr;
    return Buffer(static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(bytes))));
}

// Pairs Lock/Unlock of an image for a scope.
class ScopedLock {
public:
    explicit ScopedLock(const TDib& d) : d_(d) { d_.Lock(); }
    ~ScopedLock() { d_.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    const TDib& d_;
};

} // namespace

int TDib::GetPaleta(tagRGBQUAD* palette, int* used) const
{
    const int count = m_bitmap.ColorCount;
    if (!palette || count <= 0)
        return count > 0 ? count : 0;
    if (RkGetBitmapColors(&m_bitmap, 0, count, palette) <= 0)
        std::memset(palette, 0, sizeof(tagRGBQUAD) * static_cast<std::size_t>(count));
    if (!used)
        return count;

    std::memset(used, 0, sizeof(int) * static_cast<std::size_t>(count));
    const int bits = m_bitmap.BitsPerPixel;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8)
        return count;
    const int width = m_bitmap.Width;
    const auto lineBytes = core::CheckedLineSize(width, bits, 0);
    if (!lineBytes || *lineBytes == 0)
        return count;
    Buffer line = AllocateLine(*lineBytes);
    if (!line)
        return count;

    const int perByte = 8 / bits;
    const int mask = (1 << bits) - 1;
    int unseen = count;
    ScopedLock lock(*this);
    for (int y = 0; y < m_bitmap.Height && unseen > 0; ++y) {
        if (GetLinia(y, line.get(), *lineBytes) != DIB_OK)
            continue;
        const unsigned char* p = line.get();
        for (int x = 0; x < width && unseen > 0; ++x) {
            const int slot = x % perByte;
            const int shift = 8 - bits * (slot + 1);
            const int index = (p[x / perByte] >> shift) & mask;
            // A palette shorter than the depth allows leaves some indexes without an entry.
            if (index < count && !used[index]) {
                used[index] = 1;
                --unseen;
            }
        }
    }
    return count;
}

int TDib::SetPaleta(const tagRGBQUAD* palette)
{
    const int count = m_bitmap.ColorCount;
    if (palette && count > 0)
        RkPutBitmapColors(&m_bitmap, 0, count, palette);
    return count > 0 ? count : 0;
}

int TDib::GetNumColors() const
{
    std::uint32_t count = 0;
    const int r = RkGetColorCount(&m_bitmap, &count);
    if (r <= 0)
        return dib::StatusFromKernel(r);
    return static_cast<int>(count);
}

int TDib::GetLlistaColors(CList<unsigned long, unsigned long>& list) const
{
    // A set for membership and the list itself for the order of first appearance.
    std::unordered_set<COLORREF> seen;
    int found = 0;
    for (int y = 0; y < m_bitmap.Height; ++y) {
        for (int x = 0; x < m_bitmap.Width; ++x) {
            const COLORREF c = RkGetPixelColor(&m_bitmap, y, x);
            bool added;
            try {
                added = seen.insert(c).second;
            } catch (const std::bad_alloc&) {
                // The one exception this call lets out is the list's own.
                AfxThrowMemoryException();
            }
            if (added) {
                list.AddTail(c);
                ++found;
            }
        }
    }
    return found;
}

int TDib::GetBitmapHistogram(std::uint32_t* histogram, unsigned int channel) const
{
    if (m_bitmap.BitsPerPixel != 24 || channel > 3 || !histogram)
        return DIB_ERR_INVALID;
    std::memset(histogram, 0, 256 * sizeof(std::uint32_t));
    const int width = m_bitmap.Width;
    if (width <= 0 || m_bitmap.Height <= 0)
        return DIB_OK;
    const std::uint64_t bytes = 3 * static_cast<std::uint64_t>(width);
    Buffer line = AllocateLine(bytes);
    if (!line)
        return DIB_ERR_NO_MEMORY;

    ScopedLock lock(*this);
    for (int y = 0; y < m_bitmap.Height; ++y) {
        if (GetLinia(y, 0, line.get(), bytes) != DIB_OK)
            continue;
        const unsigned char* p = line.get();
        for (int x = 0; x < width; ++x, p += 3) {
            unsigned value;
            switch (channel) {
            case 0:
                value = (unsigned(p[0]) + p[1] + p[2]) / 3;
                break;
            case 1:
                value = p[2];
                break;
            case 2:
                value = p[1];
                break;
            default:
                value = p[0];
                break;
            }
            ++histogram[value];
        }
    }
    return DIB_OK;
}

int TDib::EsImatgeGrisos() const
{
    return RkIsGrayScaleBitmap(&m_bitmap) > 0 ? 1 : 0;
}
