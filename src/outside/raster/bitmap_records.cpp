// bitmap_records.cpp - bitmap records, their storage and the process-wide status callback.
//
//   live table: slots, attach, replace, detach, resolve, findLive
//   RkInitBitmap, RkCreateBitmap, RkFreeBitmap, RkCopyBitmap
//   RkAccessBitmap, RkReleaseBitmap
//   RkSetStatusCallback, RkGetStatusCallback, Progress
//   RkStatusText
//
// pStorage is never trusted on its own: every live bitmap sits in a slot of the live table
// under an id that the record also carries (in its reserved bytes). A record copied byte for
// byte, then used after the original was freed, or a record never initialised, is refused
// instead of reaching freed memory, and freeing it twice frees nothing twice.
//
// The row and pixel calls check a record on every call, so the check takes no lock and does
// not search: the id names its slot (low kSlotBits bits) and how many bitmaps the slot has held
// (the bits above), and the slot holds the id and the bitmap while the bitmap is attached.
// Slots come in chunks that are allocated on first need and never freed, so any index read
// from a record reaches table memory or is out of range. Only taking a slot for a new bitmap
// and giving it back take a (short) lock.
#include "raster/file_module.h"
#include "raster/raster_internal.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

namespace rk {
namespace {

constexpr unsigned kSlotBits = 24;
constexpr std::uint64_t kSlotMask = (std::uint64_t(1) << kSlotBits) - 1;
constexpr std::uint64_t kUseMask = (std::uint64_t(1) << (64 - kSlotBits)) - 1;
constexpr std::uint32_t kChunkSlots = 1024;
constexpr std::uint32_t kMaxSlots = std::uint32_t(1) << kSlotBits;
constexpr std::uint32_t kChunks = kMaxSlots / kChunkSlots;

struct Slot {
    std::atomic<std::uint64_t> id{0}; // the attached bitmap's id; 0 when none is attached
    std::atomic<Bitmap*> bitmap{nullptr};
    std::uint64_t uses = 0; // touched only by the bitmap that holds the slot
};

struct SlotTable {
    std::atomic<Slot*> chunks[kChunks] = {};
    std::mutex mutex; // guards free and used
    std::vector<std::uint32_t> free;
    std::uint32_t used = 0; // slots handed out at least once
};

SlotTable g_slots;

std::mutex g_callbackMutex;
RkStatusCallback g_callback = nullptr;
void* g_callbackUser = nullptr;

Slot* slotAt(std::uint64_t index)
{
    if (index >= kMaxSlots)
        return nullptr;
    Slot* chunk = g_slots.chunks[index / kChunkSlots].load(std::memory_order_acquire);
    return chunk ? &chunk[index % kChunkSlots] : nullptr;
}

// A slot for a new bitmap; false when memory runs out or every slot is taken.
bool takeSlot(std::uint32_t& out)
{
    std::lock_guard lock(g_slots.mutex);
    if (!g_slots.free.empty()) {
        out = g_slots.free.back();
        g_slots.free.pop_back();
        return true;
    }
    if (g_slots.used == kMaxSlots)
        return false;
    const std::uint32_t chunk = g_slots.used / kChunkSlots;
    if (!g_slots.chunks[chunk].load(std::memory_order_relaxed)) {
        // Room for every slot to come back, so that giving one back never allocates.
        try {
            g_slots.free.reserve(std::size_t(chunk + 1) * kChunkSlots);
        } catch (const std::bad_alloc&) {
            return false;
        }
        Slot* slots = new (std::nothrow) Slot[kChunkSlots];
        if (!slots)
            return false;
        g_slots.chunks[chunk].store(slots, std::memory_order_release);
    }
    out = g_slots.used++;
    return true;
}

void giveSlot(std::uint32_t index)
{
    std::lock_guard lock(g_slots.mutex);
    g_slots.free.push_back(index);
}

std::uint64_t recordId(const _BITMAPHANDLE* r)
{
    std::uint64_t id;
    std::memcpy(&id, r->Reserved, sizeof id);
    return id;
}

void setRecordId(_BITMAPHANDLE* r, std::uint64_t id)
{
    std::memcpy(r->Reserved, &id, sizeof id);
}

// The bitmap attached under id, or null. A bitmap freed meanwhile by another thread is the
// caller's race; the second look at the id keeps a slot reused between the two loads from
// passing for the old one.
Bitmap* liveById(std::uint64_t id)
{
    if (id == 0)
        return nullptr;
    Slot* slot = slotAt(id & kSlotMask);
    if (!slot || slot->id.load(std::memory_order_acquire) != id)
        return nullptr;
    Bitmap* bm = slot->bitmap.load(std::memory_order_acquire);
    if (slot->id.load(std::memory_order_relaxed) != id)
        return nullptr;
    return bm;
}

// The record's bitmap if it is live and really the one the record names, else null.
Bitmap* lookup(const _BITMAPHANDLE* r)
{
    auto* claimed = static_cast<Bitmap*>(r->pStorage);
    if (!claimed)
        return nullptr;
    Bitmap* bm = liveById(recordId(r));
    return bm == claimed ? bm : nullptr;
}

void fillGeometry(_BITMAPHANDLE* r, const Bitmap& bm)
{
    r->Width = bm.geo.width;
    r->Height = bm.geo.height;
    r->BitsPerPixel = bm.geo.bits;
    r->BytesPerLine = std::int32_t(bm.geo.stride);
    r->Size = bm.geo.size;
    r->Order = bm.order;
    r->ColorCount = bm.palCount();
    r->pPalette = bm.palette.empty() ? nullptr : const_cast<tagRGBQUAD*>(bm.palette.data());
    r->Flags = BITMAP_FLAG_ALLOCATED | (bm.disk() ? BITMAP_FLAG_DISK : BITMAP_FLAG_CONTIGUOUS);
}

} // namespace

int checkRecord(const _BITMAPHANDLE* record)
{
    if (!record)
        return RK_ERROR_INV_PARAMETER;
    if (record->uStructSize != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    return RK_SUCCESS;
}

Bitmap* findLive(std::uint64_t id)
{
    return liveById(id);
}

Bitmap::~Bitmap()
{
    if (slot != kNoSlot)
        giveSlot(slot);
}

int resolve(const _BITMAPHANDLE* record, Bitmap** out)
{
    *out = nullptr;
    if (int rc = checkRecord(record); rc <= 0)
        return rc;
    if (!(record->Flags & BITMAP_FLAG_ALLOCATED))
        return RK_ERROR_NO_BITMAP;
    Bitmap* bm = lookup(record);
    if (!bm)
        return RK_ERROR_NO_BITMAP;
    if (record->Width != bm->geo.width || record->Height != bm->geo.height ||
        record->BitsPerPixel != bm->geo.bits || record->BytesPerLine != int(bm->geo.stride))
        return RK_ERROR_INV_HANDLE;
    *out = bm;
    return RK_SUCCESS;
}

int newBitmap(bool disk, const Geometry& geo, int order, const tagRGBQUAD* palette,
              std::unique_ptr<Bitmap>& out)
{
    out.reset(new (std::nothrow) Bitmap);
    if (!out)
        return RK_ERROR_NO_MEMORY;
    if (!takeSlot(out->slot)) {
        out.reset();
        return RK_ERROR_NO_MEMORY;
    }
    out->geo = geo;
    out->order = order;
    if (geo.bits <= 8) {
        std::size_t count = std::size_t(1) << geo.bits;
        try {
            if (palette)
                out->palette.assign(palette, palette + count);
            else
                out->palette = defaultPalette(geo.bits);
        } catch (const std::bad_alloc&) {
            out.reset();
            return RK_ERROR_NO_MEMORY;
        }
    }
    std::unique_ptr<PixelStore> store;
    if (int rc = createStore(disk, geo.size, store); rc <= 0) {
        out.reset();
        return rc;
    }
    out->pixels = std::move(store);
    return RK_SUCCESS;
}

void attach(_BITMAPHANDLE* record, std::unique_ptr<Bitmap> bm)
{
    // The slot is this bitmap's alone until it is given back, so its use count needs no lock.
    Slot& slot = *slotAt(bm->slot);
    do
        ++slot.uses;
    while ((slot.uses & kUseMask) == 0);
    bm->id = ((slot.uses & kUseMask) << kSlotBits) | bm->slot;
    slot.bitmap.store(bm.get(), std::memory_order_relaxed);
    slot.id.store(bm->id, std::memory_order_release);
    fillGeometry(record, *bm);
    setRecordId(record, bm->id);
    record->LockCount = 0;
    record->pStorage = bm.release();
}

void replace(_BITMAPHANDLE* record, std::unique_ptr<Bitmap> fresh)
{
    std::uint32_t memoryFlags = record->MemoryFlags;
    std::int32_t view = record->ViewPerspective, locks = record->LockCount;
    std::int32_t xres = record->XResolution, yres = record->YResolution;
    detach(record);
    attach(record, std::move(fresh));
    record->MemoryFlags = memoryFlags;
    record->ViewPerspective = view;
    record->LockCount = locks;
    record->XResolution = xres;
    record->YResolution = yres;
}

void detach(_BITMAPHANDLE* record)
{
    // Of two records (a copy and its original) detached at once, only the one whose exchange
    // clears the slot frees the bitmap; neither reads the bitmap itself, which the other may
    // have freed already.
    std::uint64_t id = recordId(record);
    if (Bitmap* bm = lookup(record)) {
        Slot& slot = *slotAt(id & kSlotMask);
        if (slot.id.compare_exchange_strong(id, 0, std::memory_order_acq_rel)) {
            slot.bitmap.store(nullptr, std::memory_order_relaxed);
            delete bm;
        }
    }
    record->pStorage = nullptr;
    record->pPalette = nullptr;
    record->ColorCount = 0;
    record->Flags = 0;
    record->LockCount = 0;
    setRecordId(record, 0);
}

Progress::Progress()
{
    std::lock_guard lock(g_callbackMutex);
    callback_ = g_callback;
    user_ = g_callbackUser;
}

bool Progress::step(std::uint64_t done, std::uint64_t total)
{
    if (!callback_)
        return true;
    // done * 100 may not fit 64 bits for the row counts of a huge disk-backed bitmap.
    int percent =
        total == 0 || done >= total ? 100 : int(static_cast<unsigned __int128>(done) * 100 / total);
    if (percent == last_)
        return true;
    last_ = percent;
    return callback_(percent, user_) > 0;
}

} // namespace rk

using namespace rk;

int RkInitBitmap(_BITMAPHANDLE* bitmap, std::uint32_t size, int width, int height, int bitsPerPixel)
{
    if (!bitmap)
        return RK_ERROR_INV_PARAMETER;
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    std::memset(bitmap, 0, sizeof *bitmap);
    bitmap->uStructSize = BITMAPHANDLE_SIZE;
    bitmap->Width = width;
    bitmap->Height = height;
    bitmap->BitsPerPixel = bitsPerPixel;
    Geometry geo;
    if (makeGeometry(width, height, bitsPerPixel, geo) > 0) {
        bitmap->BytesPerLine = std::int32_t(geo.stride);
        bitmap->Size = geo.size;
    }
    bitmap->ViewPerspective = RK_TOP_LEFT;
    bitmap->Order = RK_ORDER_BGR;
    return RK_SUCCESS;
}

int RkCreateBitmap(_BITMAPHANDLE* bitmap, std::uint32_t size, std::uint32_t memoryFlags, int width,
                   int height, int bitsPerPixel, int order, const tagRGBQUAD* palette,
                   int viewPerspective)
{
    if (!bitmap)
        return RK_ERROR_INV_PARAMETER;
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    if (order < RK_ORDER_RGB || order > RK_ORDER_GRAY || viewPerspective < 1 || viewPerspective > 4)
        return RK_ERROR_INV_PARAMETER;
    Geometry geo;
    if (int rc = makeGeometry(width, height, bitsPerPixel, geo); rc <= 0)
        return rc;
    // A record that was never initialised holds garbage: only a record that declares its size
    // can own a bitmap, and detach() frees only what the registry knows.
    if (bitmap->uStructSize == BITMAPHANDLE_SIZE)
        detach(bitmap);
    std::unique_ptr<Bitmap> bm;
    int rc = newBitmap((memoryFlags & RK_MEMORY_DISK) != 0, geo, order, palette, bm);
    RkInitBitmap(bitmap, size, width, height, bitsPerPixel);
    if (rc <= 0)
        return rc;
    attach(bitmap, std::move(bm));
    bitmap->MemoryFlags = memoryFlags;
    bitmap->ViewPerspective = viewPerspective;
    return RK_SUCCESS;
}

int RkFreeBitmap(_BITMAPHANDLE* bitmap)
{
    if (int rc = checkRecord(bitmap); rc <= 0)
        return rc;
    detach(bitmap);
    return RK_SUCCESS;
}

int RkCopyBitmap(_BITMAPHANDLE* dst, std::uint32_t dstSize, const _BITMAPHANDLE* src,
                 std::uint32_t srcSize)
{
    if (!dst || !src)
        return RK_ERROR_INV_PARAMETER;
    if (dstSize != BITMAPHANDLE_SIZE || srcSize != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    Bitmap* from = nullptr;
    if (int rc = resolve(src, &from); rc <= 0)
        return rc;
    if (dst == src)
        return RK_SUCCESS;
    std::unique_ptr<Bitmap> bm;
    if (int rc = newBitmap(from->disk(), from->geo, from->order, from->pal(), bm); rc <= 0)
        return rc;
    // Copy in slices of whole rows so that disk-backed bitmaps pass through a bounded buffer.
    const Geometry& g = from->geo;
    if (from->pixels->block() && bm->pixels->block()) {
        std::memcpy(bm->pixels->block(), from->pixels->block(), std::size_t(g.size));
    } else {
        std::uint64_t rowsPerSlice = std::max<std::uint64_t>(1, (1u << 20) / g.stride);
        std::vector<std::uint8_t> buffer;
        try {
            buffer.resize(std::size_t(rowsPerSlice * g.stride));
        } catch (const std::bad_alloc&) {
            return RK_ERROR_NO_MEMORY;
        }
        Progress progress;
        for (std::uint64_t y = 0; y < std::uint64_t(g.height); y += rowsPerSlice) {
            if (!progress.step(y, std::uint64_t(g.height)))
                return RK_ERROR_CANCELLED;
            std::uint64_t rows = std::min<std::uint64_t>(rowsPerSlice, g.height - y);
            std::size_t n = std::size_t(rows * g.stride);
            if (int rc = from->pixels->read(y * g.stride, buffer.data(), n); rc <= 0)
                return rc;
            if (int rc = bm->pixels->write(y * g.stride, buffer.data(), n); rc <= 0)
                return rc;
        }
        if (!progress.finish())
            return RK_ERROR_CANCELLED;
    }
    _BITMAPHANDLE copy = *src;
    if (dst->uStructSize == BITMAPHANDLE_SIZE)
        detach(dst);
    std::memcpy(dst, &copy, sizeof copy);
    attach(dst, std::move(bm));
    dst->LockCount = 0;
    return RK_SUCCESS;
}

int RkAccessBitmap(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (bitmap->LockCount == INT32_MAX)
        return RK_ERROR_INV_PARAMETER;
    ++bitmap->LockCount;
    return RK_SUCCESS;
}

int RkReleaseBitmap(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (int rc = resolve(bitmap, &bm); rc <= 0)
        return rc;
    if (bitmap->LockCount <= 0)
        return RK_ERROR_NOT_LOCKED;
    --bitmap->LockCount;
    return RK_SUCCESS;
}

RkStatusCallback RkSetStatusCallback(RkStatusCallback callback, void* userData,
                                     void** previousUserData)
{
    std::lock_guard lock(g_callbackMutex);
    RkStatusCallback previous = g_callback;
    if (previousUserData)
        *previousUserData = g_callbackUser;
    g_callback = callback;
    g_callbackUser = callback ? userData : nullptr;
    return previous;
}

RkStatusCallback RkGetStatusCallback(void** userData)
{
    std::lock_guard lock(g_callbackMutex);
    if (userData)
        *userData = g_callbackUser;
    return g_callback;
}

const char* RkStatusText(int code)
{
    if (code > 0)
        return "success";
    switch (code) {
    case RK_FAILURE:
        return "failure";
    case RK_ERROR_NO_MEMORY:
        return "not enough memory";
    case RK_ERROR_NO_BITMAP:
        return "the bitmap is not allocated";
    case RK_ERROR_INV_PARAMETER:
        return "invalid parameter";
    case RK_ERROR_STRUCT_SIZE:
        return "wrong record size";
    case RK_ERROR_BITSPERPIXEL:
        return "bits per pixel not supported";
    case RK_ERROR_IO:
        return "disk storage read or write failed";
    case RK_ERROR_TOO_LARGE:
        return "bitmap too large";
    case RK_ERROR_NOT_LOCKED:
        return "release without access";
    case RK_ERROR_INV_HANDLE:
        return "invalid handle";
    case RK_ERROR_CANCELLED:
        return "cancelled";
    case RK_ERROR_FILE_FORMAT:
        return "not a file of a known format";
    case RK_ERROR_FILE_CORRUPT:
        return "the file is damaged or truncated";
    case RK_ERROR_FILE_OPEN:
        return "the file cannot be opened";
    case RK_ERROR_FILE_WRITE:
        return "the file cannot be written";
    case RK_ERROR_FORMAT_UNSUPPORTED:
        return "format, layout or depth not supported";
    case RK_ERROR_PCD_RESOLUTION:
        return "Photo CD resolution not available";
    default:
        return "unknown kernel code";
    }
}
