// bitmap_exchange.cpp - packed DIBs, DIB sections and device contexts on bitmaps.
//
//   RkConvertToDIB, RkConvertFromDIBBits, RkConvertFromDIB
//   RkConvertToDDB, RkConvertFromDDB
//   RkCreateBitmapDC, RkDeleteBitmapDC
//
// DIBs and GDI bitmaps know 1, 4, 8, 16 (5-5-5), 24 and 32 bits in blue-green-red order. The
// kernel's other layouts travel as the nearest of those: 2 bits as 4 (same palette), 48 bits
// as 24, red-green-blue order swapped.
//
// A device context on a bitmap held in one block of memory draws straight into it (a DIB
// section over the block, whose storage the context keeps alive). Any other bitmap (disk-
// backed, 2 or 48 bits, red-green-blue order) gets a converted copy that is written back when
// the context is deleted; at 48 bits only the pixels that drawing changed are written back, so
// the others keep their full precision.
#include "raster/raster_internal.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <win/gdi.h>
#include <win/global_memory.h>

using namespace rk;

namespace {

int exchangeDepth(int bits)
{
    return bits == 2 ? 4 : bits == 48 ? 24 : bits;
}

bool storedTopDown(const _BITMAPHANDLE* record)
{
    return record->ViewPerspective == RK_TOP_LEFT;
}

// Resolutions above INT32_MAX pixels per metre (about 54.5 million dpi) saturate.
std::int32_t dpiToMetres(std::int32_t dpi)
{
    return dpi > 0 ? std::int32_t(
                         std::min<std::int64_t>((std::int64_t(dpi) * 10000 + 127) / 254, INT32_MAX))
                   : 0;
}

std::int32_t metresToDpi(std::int32_t ppm)
{
    return ppm > 0 ? std::int32_t((std::int64_t(ppm) * 254 + 5000) / 10000) : 0;
}

// Header and colour table for bm's pixels at depth `bits`, `height` rows (negative: top-down).
Buffer makeInfo(const Bitmap& bm, int bits, int height, std::int32_t xdpi, std::int32_t ydpi)
{
    int colours = bits <= 8 ? std::min(bm.palCount(), 1 << bits) : 0;
    Buffer info(sizeof(BITMAPINFOHEADER) + 4 * std::size_t(colours), 0);
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = bm.geo.width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(bits);
    h.biCompression = BI_RGB;
    h.biSizeImage = DWORD(std::min<std::uint64_t>(
        UINT32_MAX, ((lineBytes(bm.geo.width, bits) + 3) & ~std::uint64_t(3)) * bm.geo.height));
    h.biXPelsPerMeter = dpiToMetres(xdpi);
    h.biYPelsPerMeter = dpiToMetres(ydpi);
    h.biClrUsed = DWORD(colours);
    std::memcpy(info.data(), &h, sizeof h);
    for (int i = 0; i < colours; ++i) {
        tagRGBQUAD q = bm.palette[std::size_t(i)];
        q.rgbReserved = 0;
        std::memcpy(info.data() + sizeof h + 4 * std::size_t(i), &q, 4);
    }
    return info;
}

// One stored row of bm as a row of depth `to` in blue-green-red order. Palette depths keep
// their indices when `to` is a palette depth too.
void toDibRow(const Bitmap& bm, const std::uint8_t* in, std::uint8_t* out, int to)
{
    const Geometry& g = bm.geo;
    if (to == g.bits && (g.bits <= 8 || bm.order != RK_ORDER_RGB)) {
        std::memcpy(out, in, std::size_t(lineBytes(g.width, g.bits)));
        return;
    }
    for (int x = 0; x < g.width; ++x) {
        std::uint64_t raw = getRaw(in, x, g.bits);
        std::uint64_t v;
        if (g.bits <= 8 && to <= 8) {
            v = raw;
        } else {
            v = colourToRaw(rawToColour(raw, bm), to, RK_ORDER_BGR, nullptr, 0);
            if (g.bits == 32 && to == 32)
                v |= raw & 0xFF000000u;
        }
        setRaw(out, x, to, v);
    }
}

// The inverse of toDibRow into `out`, which holds the stored row. With a snapshot (the row as
// toDibRow gave it), only the pixels that differ from it are converted back.
void fromDibRow(const Bitmap& bm, const std::uint8_t* in, std::uint8_t* out, int from,
                const std::uint8_t* snapshot)
{
    const Geometry& g = bm.geo;
    if (!snapshot && from == g.bits && (g.bits <= 8 || bm.order != RK_ORDER_RGB)) {
        std::memcpy(out, in, std::size_t(lineBytes(g.width, g.bits)));
        return;
    }
    for (int x = 0; x < g.width; ++x) {
        std::uint64_t raw = getRaw(in, x, from);
        if (snapshot && getRaw(snapshot, x, from) == raw)
            continue;
        std::uint64_t v = raw;
        if (g.bits > 8) {
            v = colourToRaw(rawToColour(raw, from, RK_ORDER_BGR, nullptr, 0), g.bits, bm.order,
                            nullptr, 0);
            if (g.bits == 32 && from == 32)
                v |= raw & 0xFF000000u;
        }
        setRaw(out, x, g.bits, v);
    }
}

// Installs fresh as the record's bitmap (conventional memory, top-left) after freeing what the
// record held.
void install(_BITMAPHANDLE* record, std::unique_ptr<Bitmap> fresh, std::int32_t xdpi,
             std::int32_t ydpi)
{
    _BITMAPHANDLE r;
    RkInitBitmap(&r, BITMAPHANDLE_SIZE, fresh->geo.width, fresh->geo.height, fresh->geo.bits);
    attach(&r, std::move(fresh));
    r.MemoryFlags = RK_MEMORY_CONVENTIONAL | RK_MEMORY_DEFAULT;
    r.ViewPerspective = RK_TOP_LEFT;
    r.XResolution = xdpi;
    r.YResolution = ydpi;
    if (record->uStructSize == BITMAPHANDLE_SIZE)
        detach(record);
    std::memcpy(record, &r, sizeof r);
}

// Component extraction for BI_BITFIELDS pixels.
struct Field {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    std::uint32_t max = 0;

    explicit Field(std::uint32_t m) : mask(m)
    {
        if (!m)
            return;
        while (!((m >> shift) & 1))
            ++shift;
        max = m >> shift;
    }
    unsigned get(std::uint32_t v) const
    {
        return max ? unsigned((std::uint64_t((v & mask) >> shift) * 255 + max / 2) / max) : 0;
    }
};

constexpr std::uint64_t kUnknown = UINT64_MAX;

// Imports a DIB whose header (and masks, colour table) start at info, infoBytes of them
// readable, with pixels at bits, bitsBytes readable (kUnknown when the caller vouches for
// them). Bits null: the pixels follow the colour table.
int importDib(_BITMAPHANDLE* record, const std::uint8_t* info, std::uint64_t infoBytes,
              const std::uint8_t* bits, std::uint64_t bitsBytes)
{
    if (infoBytes < sizeof(BITMAPINFOHEADER))
        return RK_ERROR_INV_PARAMETER;
    BITMAPINFOHEADER h;
    std::memcpy(&h, info, sizeof h);
    if (h.biSize < 40 || h.biSize > 124 || h.biSize > infoBytes || h.biWidth <= 0 ||
        h.biHeight == 0 || h.biHeight == INT_MIN || h.biPlanes != 1)
        return RK_ERROR_INV_PARAMETER;
    int depth = h.biBitCount;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return RK_ERROR_BITSPERPIXEL;
    bool fields = h.biCompression == BI_BITFIELDS;
    if (!(h.biCompression == BI_RGB || (fields && (depth == 16 || depth == 32))))
        return RK_ERROR_BITSPERPIXEL;
    if (h.biClrUsed > 256 || (depth <= 8 && h.biClrUsed > (1u << depth)))
        return RK_ERROR_INV_PARAMETER;

    std::uint64_t tableAt = h.biSize;
    std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (depth == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (fields) {
        // Inside a V2 or later header (52 bytes and more), else right after a 40-byte one; a
        // header of a size between those has no place for them.
        std::uint64_t at = 40;
        if (h.biSize > 40 && h.biSize < 52)
            return RK_ERROR_INV_PARAMETER;
        if (h.biSize == 40)
            tableAt += 12;
        if (at + 12 > infoBytes)
            return RK_ERROR_INV_PARAMETER;
        std::memcpy(masks, info + at, 12);
    }
    std::uint64_t colours = depth <= 8 ? (h.biClrUsed ? h.biClrUsed : 1u << depth) : h.biClrUsed;
    std::uint64_t pixelsAt = tableAt + 4 * colours;
    int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    Geometry src;
    if (int rc = makeGeometry(h.biWidth, height, depth, src); rc <= 0)
        return rc;
    if (depth <= 8 && pixelsAt > infoBytes)
        return RK_ERROR_INV_PARAMETER;
    if (!bits) {
        if (infoBytes == kUnknown || pixelsAt > infoBytes)
            return RK_ERROR_INV_PARAMETER;
        bits = info + pixelsAt;
        bitsBytes = infoBytes - pixelsAt;
    }
    if (bitsBytes != kUnknown && src.size > bitsBytes)
        return RK_ERROR_INV_PARAMETER;

    // Standard layouts are copied; other masks are converted (16 bits to 24, 32 to 32).
    bool standard =
        !fields ||
        (depth == 16 && masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F) ||
        (depth == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF);
    int to = standard ? depth : depth == 16 ? 24 : 32;
    Geometry g;
    if (int rc = makeGeometry(h.biWidth, height, to, g); rc <= 0)
        return rc;
    std::vector<tagRGBQUAD> palette;
    if (depth <= 8) {
        palette.assign(std::size_t(1) << depth, tagRGBQUAD{0, 0, 0, 0});
        std::memcpy(palette.data(), info + tableAt, std::size_t(colours) * 4);
        for (tagRGBQUAD& q : palette)
            q.rgbReserved = 0;
    }
    std::unique_ptr<Bitmap> bm;
    if (int rc = newBitmap(false, g, RK_ORDER_BGR, palette.empty() ? nullptr : palette.data(), bm);
        rc <= 0)
        return rc;
    Field r(masks[0]), gr(masks[1]), b(masks[2]);
    std::uint8_t* block = bm->pixels->block();
    Progress progress;
    for (int y = 0; y < height; ++y) {
        if (!progress.step(std::uint64_t(y), std::uint64_t(height)))
            return RK_ERROR_CANCELLED;
        const std::uint8_t* in =
            bits + std::uint64_t(h.biHeight < 0 ? y : height - 1 - y) * src.stride;
        std::uint8_t* out = block + std::uint64_t(y) * g.stride;
        if (standard) {
            std::memcpy(out, in, std::size_t(lineBytes(g.width, depth)));
            continue;
        }
        for (int x = 0; x < g.width; ++x) {
            auto v = std::uint32_t(getRaw(in, x, depth));
            std::uint64_t px = b.get(v) | (gr.get(v) << 8) | (std::uint64_t(r.get(v)) << 16);
            setRaw(out, x, to, px);
        }
    }
    if (!progress.finish())
        return RK_ERROR_CANCELLED;
    install(record, std::move(bm), metresToDpi(h.biXPelsPerMeter), metresToDpi(h.biYPelsPerMeter));
    return RK_SUCCESS;
}

// ---- device contexts ----------------------------------------------------------------------

struct OpenDC {
    HBITMAP section = nullptr;
    HGDIOBJ previous = nullptr;
    std::uint64_t bitmapId = 0;
    std::shared_ptr<PixelStore> keep; // direct contexts: the storage drawn into
    int copyBits = 0;                 // copies: depth of the copy (0 for direct contexts)
    Geometry copyGeo;
    Buffer copy, snapshot;
};

std::mutex g_dcMutex;
std::unordered_map<HDC, std::unique_ptr<OpenDC>> g_dcs;

} // namespace

HGLOBAL RkConvertToDIB(const _BITMAPHANDLE* bitmap, int variant)
{
    Bitmap* bm = nullptr;
    if (resolve(bitmap, &bm) <= 0 || (variant != 0 && variant != 1))
        return nullptr;
    int bits = exchangeDepth(bm->geo.bits);
    Geometry g;
    if (makeGeometry(bm->geo.width, bm->geo.height, bits, g) <= 0)
        return nullptr;
    int height = bm->geo.height;
    Buffer info =
        makeInfo(*bm, bits, variant ? -height : height, bitmap->XResolution, bitmap->YResolution);
    Buffer row;
    try {
        row.resize(bm->geo.stride);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    HGLOBAL block = GlobalAlloc(GHND, SIZE_T(info.size() + g.size));
    if (!block)
        return nullptr;
    auto* out = static_cast<std::uint8_t*>(GlobalLock(block));
    bool ok = out != nullptr;
    if (ok) {
        std::memcpy(out, info.data(), info.size());
        std::uint8_t* pixels = out + info.size();
        Progress progress;
        for (int k = 0; k < height && ok; ++k) {
            // DIB row k is picture row k (top-down) or height - 1 - k (bottom-up).
            int picture = variant ? k : height - 1 - k;
            int stored = storedTopDown(bitmap) ? picture : height - 1 - picture;
            ok = progress.step(std::uint64_t(k), std::uint64_t(height)) &&
                 bm->readRow(stored, row.data()) > 0;
            if (ok)
                toDibRow(*bm, row.data(), pixels + std::uint64_t(k) * g.stride, bits);
        }
        ok = ok && progress.finish();
        GlobalUnlock(block);
    }
    if (!ok) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

int RkConvertFromDIBBits(_BITMAPHANDLE* bitmap, std::uint32_t size, const BITMAPINFO* info,
                         const void* bits)
{
    if (!bitmap || !info || !bits)
        return RK_ERROR_INV_PARAMETER;
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    return importDib(bitmap, reinterpret_cast<const std::uint8_t*>(info), kUnknown,
                     static_cast<const std::uint8_t*>(bits), kUnknown);
}

int RkConvertFromDIB(_BITMAPHANDLE* bitmap, std::uint32_t size, HGLOBAL dib)
{
    if (!bitmap)
        return RK_ERROR_INV_PARAMETER;
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    SIZE_T bytes = dib ? GlobalSize(dib) : 0;
    if (bytes == 0)
        return RK_ERROR_INV_HANDLE;
    auto* p = static_cast<const std::uint8_t*>(GlobalLock(dib));
    if (!p)
        return RK_ERROR_INV_HANDLE;
    int rc = importDib(bitmap, p, bytes, nullptr, kUnknown);
    GlobalUnlock(dib);
    return rc;
}

HBITMAP RkConvertToDDB(HDC dc, const _BITMAPHANDLE* bitmap, int variant)
{
    Bitmap* bm = nullptr;
    if (resolve(bitmap, &bm) <= 0 || (variant != 0 && variant != 1))
        return nullptr;
    int bits = variant ? 24 : exchangeDepth(bm->geo.bits);
    Geometry g;
    if (makeGeometry(bm->geo.width, bm->geo.height, bits, g) <= 0)
        return nullptr;
    Buffer info = makeInfo(*bm, bits, -bm->geo.height, bitmap->XResolution, bitmap->YResolution);
    Buffer row;
    try {
        row.resize(bm->geo.stride);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    void* pixels = nullptr;
    HBITMAP section = CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(info.data()),
                                       DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!section || !pixels) {
        if (section)
            DeleteObject(section);
        return nullptr;
    }
    int height = bm->geo.height;
    Progress progress;
    for (int k = 0; k < height; ++k) {
        int stored = storedTopDown(bitmap) ? k : height - 1 - k;
        if (!progress.step(std::uint64_t(k), std::uint64_t(height)) ||
            bm->readRow(stored, row.data()) <= 0) {
            DeleteObject(section);
            return nullptr;
        }
        toDibRow(*bm, row.data(), static_cast<std::uint8_t*>(pixels) + std::uint64_t(k) * g.stride,
                 bits);
    }
    if (!progress.finish()) {
        DeleteObject(section);
        return nullptr;
    }
    return section;
}

int RkConvertFromDDB(HDC /*dc*/, _BITMAPHANDLE* bitmap, std::uint32_t size, HBITMAP ddb,
                     HPALETTE /*palette*/, int variant)
{
    if (!bitmap)
        return RK_ERROR_INV_PARAMETER;
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    if (variant != 0 && variant != 1)
        return RK_ERROR_INV_PARAMETER;
    DIBSECTION ds{};
    if (!ddb || GetObjectW(ddb, sizeof ds, &ds) < int(sizeof ds) || !ds.dsBm.bmBits)
        return RK_ERROR_INV_HANDLE;
    // The colour table is read through a memory context (it fails while the bitmap is selected
    // into another context).
    RGBQUAD table[256] = {};
    UINT colours = 0;
    if (ds.dsBmih.biBitCount <= 8) {
        HDC mem = CreateCompatibleDC(nullptr);
        HGDIOBJ old = mem ? SelectObject(mem, ddb) : nullptr;
        if (old) {
            colours = GetDIBColorTable(mem, 0, 256, table);
            SelectObject(mem, old);
        }
        if (mem)
            DeleteDC(mem);
        if (!old)
            return RK_ERROR_INV_HANDLE;
    }
    BITMAPINFOHEADER h = ds.dsBmih;
    h.biSize = sizeof h;
    h.biClrUsed = colours;
    bool fields = h.biCompression == BI_BITFIELDS;
    Buffer info(sizeof h + (fields ? 12 : 0) + 4 * std::size_t(colours));
    std::memcpy(info.data(), &h, sizeof h);
    if (fields)
        std::memcpy(info.data() + sizeof h, ds.dsBitfields, 12);
    std::memcpy(info.data() + sizeof h + (fields ? 12 : 0), table, 4 * std::size_t(colours));
    std::uint64_t available = std::uint64_t(std::max(ds.dsBm.bmWidthBytes, 0)) *
                              std::uint64_t(std::max(ds.dsBm.bmHeight, 0));
    int rc = importDib(bitmap, info.data(), info.size(),
                       static_cast<const std::uint8_t*>(ds.dsBm.bmBits), available);
    if (rc > 0 && variant == 1 && bitmap->BitsPerPixel != 24)
        rc = RkColorResBitmap(bitmap, 24, nullptr);
    return rc;
}

HDC RkCreateBitmapDC(_BITMAPHANDLE* bitmap)
{
    Bitmap* bm = nullptr;
    if (resolve(bitmap, &bm) <= 0)
        return nullptr;
    const Geometry& g = bm->geo;
    auto open = std::unique_ptr<OpenDC>(new (std::nothrow) OpenDC);
    if (!open)
        return nullptr;
    open->bitmapId = bm->id;
    // DIB rows run the way the stored rows do, so that drawing coordinates are the picture's.
    int height = storedTopDown(bitmap) ? -g.height : g.height;
    std::uint8_t* target = bm->pixels->block();
    bool direct =
        target && exchangeDepth(g.bits) == g.bits && (g.bits <= 8 || bm->order != RK_ORDER_RGB);
    int bits = exchangeDepth(g.bits);
    if (direct) {
        open->keep = bm->pixels;
    } else {
        open->copyBits = bits;
        if (makeGeometry(g.width, g.height, bits, open->copyGeo) <= 0)
            return nullptr;
        Buffer row;
        try {
            open->copy.assign(std::size_t(open->copyGeo.size), 0);
            row.resize(g.stride);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        for (int y = 0; y < g.height; ++y) {
            if (bm->readRow(y, row.data()) <= 0)
                return nullptr;
            toDibRow(*bm, row.data(), open->copy.data() + std::uint64_t(y) * open->copyGeo.stride,
                     bits);
        }
        if (g.bits == 48) {
            try {
                open->snapshot = open->copy;
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
        target = open->copy.data();
    }
    Buffer info = makeInfo(*bm, bits, height, 0, 0);
    open->section =
        CreateDIBSectionOnMemory(reinterpret_cast<const BITMAPINFO*>(info.data()), target);
    if (!open->section)
        return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    open->previous = dc ? SelectObject(dc, open->section) : nullptr;
    if (!open->previous) {
        if (dc)
            DeleteDC(dc);
        DeleteObject(open->section);
        return nullptr;
    }
    HBITMAP section = open->section;
    HGDIOBJ previous = open->previous;
    try {
        std::lock_guard lock(g_dcMutex);
        g_dcs.emplace(dc, std::move(open));
    } catch (const std::bad_alloc&) {
        SelectObject(dc, previous);
        DeleteDC(dc);
        DeleteObject(section);
        return nullptr;
    }
    return dc;
}

int RkDeleteBitmapDC(HDC dc)
{
    std::unique_ptr<OpenDC> open;
    {
        std::lock_guard lock(g_dcMutex);
        auto it = g_dcs.find(dc);
        if (it == g_dcs.end())
            return RK_ERROR_INV_HANDLE;
        open = std::move(it->second);
        g_dcs.erase(it);
    }
    SelectObject(dc, open->previous);
    DeleteDC(dc);
    DeleteObject(open->section);
    if (open->copyBits == 0)
        return RK_SUCCESS;
    // Write the copy back, unless the bitmap was freed or reshaped meanwhile.
    Bitmap* bm = findLive(open->bitmapId);
    if (!bm || bm->geo.width != open->copyGeo.width || bm->geo.height != open->copyGeo.height ||
        exchangeDepth(bm->geo.bits) != open->copyBits)
        return RK_SUCCESS;
    Buffer row;
    try {
        row.resize(bm->geo.stride);
    } catch (const std::bad_alloc&) {
        return RK_ERROR_NO_MEMORY;
    }
    for (int y = 0; y < bm->geo.height; ++y) {
        std::uint64_t at = std::uint64_t(y) * open->copyGeo.stride;
        if (int rc = bm->readRow(y, row.data()); rc <= 0)
            return rc;
        fromDibRow(*bm, open->copy.data() + at, row.data(), open->copyBits,
                   open->snapshot.empty() ? nullptr : open->snapshot.data() + at);
        if (int rc = bm->writeRow(y, row.data()); rc <= 0)
            return rc;
    }
    return RK_SUCCESS;
}
