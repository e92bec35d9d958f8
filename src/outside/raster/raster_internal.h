// raster_internal.h - what the kernel's source files share: checked geometry, pixel storage
// (one memory block or a windowed temporary file), the live-bitmap registry behind
// _BITMAPHANDLE::pStorage, pixel packing and colour mapping, and progress reporting.
#pragma once

#include "../core/checked_size.h"
#include "../core/pixels.h"
#include "kernel.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace rk {

// A work buffer of whole rows; allocate() sizes it (zero-filled) and answers false when memory
// runs out, so callers can return RK_ERROR_NO_MEMORY instead of throwing.
using Buffer = std::vector<std::uint8_t>;

inline bool allocate(Buffer& b, std::uint64_t n)
{
    if (n > std::uint64_t(PTRDIFF_MAX)) // beyond max_size(): assign would throw length_error
        return false;
    try {
        b.assign(std::size_t(n), 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// ---- geometry -----------------------------------------------------------------------------------

struct Geometry {
    int width = 0;
    int height = 0;
    int bits = 0;
    std::uint32_t stride = 0; // line size rounded up to 4
    std::uint64_t size = 0;   // stride * height
};

bool validDepth(int bits);
// Unaligned line size: ceil(width * bits / 8) for the packed depths, width * bits / 8 otherwise.
inline std::uint64_t lineBytes(int width, int bits)
{
    return core::CheckedLineSize(width > 0 ? width : 0, bits, 0).value_or(0);
}
// Fills out for a width x height bitmap at bits. RK_ERROR_INV_PARAMETER for sizes below 1,
// RK_ERROR_BITSPERPIXEL for other depths, RK_ERROR_TOO_LARGE when the stride does not fit an
// int.
int makeGeometry(int width, int height, int bits, Geometry& out);

// ---- pixel storage ------------------------------------------------------------------------------

// The bytes of one bitmap. Offsets and counts are checked by the callers (the kernel entry
// points); the storage itself only reports I/O failures (RK_ERROR_IO).
class PixelStore {
public:
    virtual ~PixelStore() = default;
    PixelStore(const PixelStore&) = delete;
    PixelStore& operator=(const PixelStore&) = delete;

    std::uint64_t size() const { return size_; }
    virtual bool onDisk() const = 0;
    // The whole block when the storage is one block in memory, else null.
    virtual std::uint8_t* block() { return nullptr; }
    virtual int read(std::uint64_t offset, void* dst, std::size_t n) = 0;
    virtual int write(std::uint64_t offset, const void* src, std::size_t n) = 0;
    virtual int fill(std::uint64_t offset, std::uint8_t value, std::uint64_t n) = 0;

protected:
    explicit PixelStore(std::uint64_t size) : size_(size) {}

private:
    std::uint64_t size_;
};

// A cleared storage of size bytes. Counts against RkFailAllocationsAfter.
// RK_ERROR_NO_MEMORY, RK_ERROR_IO or RK_ERROR_TOO_LARGE on failure.
int createStore(bool disk, std::uint64_t size, std::unique_ptr<PixelStore>& out);

// ---- bitmaps ------------------------------------------------------------------------------------

// What _BITMAPHANDLE::pStorage points at. The geometry here is authoritative: a record whose
// geometry fields disagree with it is refused, so a caller-edited record cannot cause overruns.
struct Bitmap {
    static constexpr std::uint32_t kNoSlot = UINT32_MAX;

    Bitmap() = default;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    ~Bitmap(); // gives back the live-table slot

    std::uint32_t slot = kNoSlot; // in the live table, from newBitmap on
    std::uint64_t id = 0;         // set by attach(); names the slot
    Geometry geo;
    int order = RK_ORDER_BGR;
    // Shared with device contexts open on the bitmap, so that drawing through a context that
    // outlives the bitmap never reaches freed memory.
    std::shared_ptr<PixelStore> pixels;
    std::vector<tagRGBQUAD> palette; // 2^bits entries at palette depths, else empty

    bool disk() const { return pixels->onDisk(); }
    int readRow(int y, void* dst) const
    {
        return pixels->read(std::uint64_t(y) * geo.stride, dst, geo.stride);
    }
    int writeRow(int y, const void* src)
    {
        return pixels->write(std::uint64_t(y) * geo.stride, src, geo.stride);
    }
    const tagRGBQUAD* pal() const { return palette.empty() ? nullptr : palette.data(); }
    int palCount() const { return int(palette.size()); }
};

// A new bitmap with cleared pixels. palette: 2^bits entries for depths <= 8, or null for the
// default palette. Not yet attached to any record.
int newBitmap(bool disk, const Geometry& geo, int order, const tagRGBQUAD* palette,
              std::unique_ptr<Bitmap>& out);

// The checks every call on a record makes: non-null (RK_ERROR_INV_PARAMETER), declared size
// (RK_ERROR_STRUCT_SIZE), allocated and live (RK_ERROR_NO_BITMAP), geometry fields unchanged
// (RK_ERROR_INV_HANDLE). On success *out is the record's bitmap.
int resolve(const _BITMAPHANDLE* record, Bitmap** out);
// Only the record checks (null and declared size).
int checkRecord(const _BITMAPHANDLE* record);
// The live bitmap with this id, or null once it has been freed. Constant time, no lock.
Bitmap* findLive(std::uint64_t id);

// Makes record describe bm (registered, record fields filled from bm); the record's view
// perspective, resolutions and memory flags are set by the caller afterwards.
void attach(_BITMAPHANDLE* record, std::unique_ptr<Bitmap> bm);
// Replaces the record's bitmap by fresh, keeping the record's other fields (order, view
// perspective, resolutions, memory flags, lock count).
void replace(_BITMAPHANDLE* record, std::unique_ptr<Bitmap> fresh);
// Frees the record's bitmap, if any is live, and marks the record unallocated.
void detach(_BITMAPHANDLE* record);

// ---- pixels and colours -------------------------------------------------------------------------

// Raw pixel value: palette index, or the pixel's bytes in little-endian order.
inline std::uint64_t getRaw(const std::uint8_t* row, int x, int bits)
{
    return core::ReadPixel(row, x, bits);
}
inline void setRaw(std::uint8_t* row, int x, int bits, std::uint64_t value)
{
    core::WritePixel(row, x, bits, value);
}
// Copies n bits from src (starting at bit srcBit, most significant bit first) to dst.
void copyBits(std::uint8_t* dst, std::uint64_t dstBit, const std::uint8_t* src,
              std::uint64_t srcBit, std::uint64_t n);
// Copies width pixels starting at column sx of src to column dx of dst (same depth).
void copyPixels(std::uint8_t* dst, int dx, const std::uint8_t* src, int sx, int width, int bits);

COLORREF paletteColour(const tagRGBQUAD& q);
COLORREF rawToColour(std::uint64_t raw, const Bitmap& bm);
COLORREF rawToColour(std::uint64_t raw, int bits, int order, const tagRGBQUAD* palette, int count);
// Nearest palette entry; squared RGB distance, lowest index on ties. 0 for an empty palette.
inline int nearestIndex(const tagRGBQUAD* palette, int count, COLORREF colour)
{
    return core::NearestPaletteIndex(palette, count, GetRValue(colour), GetGValue(colour),
                                     GetBValue(colour));
}
std::uint64_t colourToRaw(COLORREF colour, int bits, int order, const tagRGBQUAD* palette,
                          int count);

// Colour-to-index mapping for whole-bitmap conversions: remembers recent answers.
class NearestCache {
public:
    NearestCache(const tagRGBQUAD* palette, int count);
    int index(COLORREF colour);

private:
    const tagRGBQUAD* palette_;
    int count_;
    std::vector<std::uint32_t> keys_;
    std::vector<std::uint8_t> values_;
};

// The kernel's default palette of a depth (empty above 8 bits).
std::vector<tagRGBQUAD> defaultPalette(int bits);

// ---- progress -----------------------------------------------------------------------------------

// Snapshot of the status callback for one operation. step() calls it only when the whole
// percentage changes, so an operation makes at most 101 calls.
class Progress {
public:
    Progress();
    // false when the callback asked to stop.
    bool step(std::uint64_t done, std::uint64_t total);
    bool finish() { return step(1, 1); }

private:
    RkStatusCallback callback_;
    void* user_;
    int last_ = -1;
};

} // namespace rk
