// gdi.cpp - software GDI: DIB sections, brushes, icons and device contexts.
//
// Contents
//   Objects      Object, Bitmap (formats, raw values, colours), Brush, Palette, Dc, Icon
//   Registry     live objects by handle, stock objects, the screen surface, fault injection
//   Helpers      bitmap construction, clipping, raster operations, blit, stretch
//   Bitmaps      CreateDIBSection, CreateDIBSectionOnMemory, CreateCompatibleBitmap,
//                Get/SetDIBColorTable
//   Objects API  GetObjectW, DeleteObject, GetObjectType, GetStockObject, CreateSolidBrush
//   Palettes     CreatePalette, GetPaletteEntries, SelectPalette, RealizePalette
//   Contexts     CreateCompatibleDC, DeleteDC, GetDC, ReleaseDC, SelectObject, modes, caps
//   Drawing      FillRect, SetPixel, GetPixel, BitBlt, StretchBlt, StretchDIBits
//   Icons        CreateIconIndirect, GetIconInfo, DestroyIcon, DrawIcon
//
// A "raw" value is a pixel as stored: a palette index at 8 bits and below, the 5-5-5 word at
// 16 bits, blue | green << 8 | red << 16 (| fourth byte << 24 at 32 bits) above. Copies
// between bitmaps of the same format move raw values; everything else goes through colours.
#include "win/gdi.h"

#include "win/fault_injection.h"
#include "win/gdi_internal.h"

#include <algorithm>
#include <atomic>
#include <core/checked_size.h>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace wingdi {

std::atomic<long> g_objectsLeft{-1};

bool Registry::injectedFailure()
{
    long left = g_objectsLeft.load();
    while (left >= 0) {
        if (left == 0)
            return true;
        if (g_objectsLeft.compare_exchange_weak(left, left - 1))
            return false;
    }
    return false;
}

Registry::Registry()
{
    static const COLORREF greys[5] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                      RGB(64, 64, 64), RGB(0, 0, 0)};
    for (int i = 0; i < 6; ++i) {
        auto b = std::make_unique<Brush>();
        b->stock = true;
        b->hollow = (i == NULL_BRUSH);
        b->colour = i < 5 ? greys[i] : 0;
        stockBrushes[i] = add(std::move(b));
    }
    const RGBQUAD mono[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    auto stock = newBitmap(1, 1, 1, true, mono, 2, nullptr);
    stock->stock = true;
    stockBitmap = stock.get();
    add(std::move(stock));
    // The default palette: the 20 static colours of a Windows display.
    static const BYTE statics[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    auto palette = std::make_unique<Palette>();
    palette->stock = true;
    for (const auto& c : statics)
        palette->entries.push_back({c[0], c[1], c[2], 0});
    stockPalette = add(std::move(palette));
}

// The screen is a stock bitmap, made on first use.
Bitmap* Registry::screenSurface()
{
    std::lock_guard lock(mutex);
    if (!screen) {
        auto surface = newBitmap(kScreenWidth, kScreenHeight, 32, true, nullptr, 0, nullptr);
        if (!surface)
            return nullptr;
        surface->stock = true;
        screen = static_cast<Bitmap*>(static_cast<Object*>(addLocked(std::move(surface))));
    }
    return screen;
}

Registry& registry()
{
    static Registry* r = new Registry; // never destroyed: handles may be released during exit
    return *r;
}

// ---- object locks ------------------------------------------------------------------------

namespace {

// The object locks of one call, released together at the end of the call. Groups are locked
// in the order of the lock() calls, each group in address order: device contexts first, then
// bitmaps, never the other way round. With every call taking locks this way, calls that share
// objects (two blits between the same contexts in opposite directions) cannot deadlock.
class ObjectLocks {
public:
    ObjectLocks() = default;
    ObjectLocks(const ObjectLocks&) = delete;
    ObjectLocks& operator=(const ObjectLocks&) = delete;
    ~ObjectLocks()
    {
        while (count_ > 0)
            held_[--count_]->mutex.unlock();
    }

    // Locks a group of objects of one rank; nulls, repeats and objects already held are
    // skipped.
    void lock(Object* a, Object* b = nullptr)
    {
        if (b && (!a || b < a))
            std::swap(a, b);
        for (Object* o : {a, b}) {
            if (!o || holds(o))
                continue;
            o->mutex.lock();
            held_[count_++] = o;
        }
    }

private:
    bool holds(const Object* o) const
    {
        return std::find(held_, held_ + count_, o) != held_ + count_;
    }

    Object* held_[4] = {};
    int count_ = 0;
};

// One or two device contexts of a call, kept alive and locked, with the bitmaps selected into
// them (unless the call only reads or changes the contexts themselves). ok() is false when a
// handle is not a live device context.
class DcScope {
public:
    enum class With { Bitmaps, ContextsOnly };

    explicit DcScope(HDC a, With with = With::Bitmaps) : DcScope(a, nullptr, false, with) {}
    DcScope(HDC a, HDC b, With with = With::Bitmaps) : DcScope(a, b, true, with) {}

    bool ok() const { return ok_; }
    Dc* first() const { return a_.get(); }
    Dc* second() const { return b_.get(); }
    ObjectLocks& locks() { return locks_; }

private:
    DcScope(HDC a, HDC b, bool two, With with)
    {
        Registry& r = registry();
        a_ = r.dc(a);
        if (two)
            b_ = r.dc(b);
        if (!a_ || (two && !b_))
            return;
        locks_.lock(a_.get(), b_.get());
        if (a_->dead || (b_ && b_->dead))
            return;
        // The selection cannot change while the contexts are locked.
        if (with == With::Bitmaps)
            locks_.lock(a_->bitmap, b_ ? b_->bitmap : nullptr);
        ok_ = true;
    }

    std::shared_ptr<Dc> a_, b_;
    ObjectLocks locks_; // released before the contexts above
    bool ok_ = false;
};

} // namespace

// ---- bitmap construction -----------------------------------------------------------------

bool validDepth(int bpp)
{
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

// Row length in bytes (4-byte aligned), or 0 when width x height does not fit the limit.
std::size_t strideFor(int width, int height, int bpp)
{
    if (width <= 0 || height <= 0 || !validDepth(bpp))
        return 0;
    const auto stride = core::CheckedLineSize(width, bpp, 4);
    if (!stride || std::int64_t(*stride) > kMaxPixelBytes / height)
        return 0;
    return std::size_t(*stride);
}

// A bitmap with zeroed pixels of its own (bits null) or over the caller's pixels. Null when the
// size is refused or memory is short.
std::unique_ptr<Bitmap> newBitmap(int width, int height, int bpp, bool topDown,
                                  const RGBQUAD* colours, std::size_t colourCount, void* bits)
{
    const std::size_t stride = strideFor(width, height, bpp);
    if (stride == 0)
        return nullptr;
    auto b = std::unique_ptr<Bitmap>(new (std::nothrow) Bitmap);
    if (!b)
        return nullptr;
    b->width = width;
    b->height = height;
    b->bpp = bpp;
    b->topDown = topDown;
    b->stride = stride;
    try {
        if (bpp <= 8) {
            b->palette.assign(std::size_t(1) << bpp, RGBQUAD{0, 0, 0, 0});
            std::size_t n = std::min(colourCount, b->palette.size());
            if (colours)
                std::copy_n(colours, n, b->palette.begin());
            b->palette.resize(n ? n : b->palette.size());
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (bits) {
        b->bits = static_cast<BYTE*>(bits);
    } else {
        b->owned.reset(new (std::nothrow) BYTE[stride * std::size_t(height)]());
        if (!b->owned)
            return nullptr;
        b->bits = b->owned.get();
    }
    return b;
}

std::unique_ptr<Bitmap> copyBitmap(const Bitmap& src)
{
    auto b = newBitmap(src.width, src.height, src.bpp, src.topDown, src.palette.data(),
                       src.palette.size(), nullptr);
    if (!b)
        return nullptr;
    for (int y = 0; y < src.height; ++y)
        std::memcpy(b->row(y), src.row(y), src.stride);
    b->xPelsPerMeter = src.xPelsPerMeter;
    b->yPelsPerMeter = src.yPelsPerMeter;
    return b;
}

// Checks a BITMAPINFO and builds the bitmap it describes.
std::unique_ptr<Bitmap> bitmapFromInfo(const BITMAPINFO* info, void* bits)
{
    if (!info)
        return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    // Header versions run from the 40-byte header to the 124-byte version 5 header.
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 124 || h.biPlanes != 1 ||
        h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN ||
        !validDepth(h.biBitCount))
        return nullptr;
    const bool topDown = h.biHeight < 0;
    const int height = topDown ? -h.biHeight : h.biHeight;
    std::size_t colourCount = 0;
    const RGBQUAD* colours = nullptr;
    if (h.biBitCount <= 8) {
        const std::size_t full = std::size_t(1) << h.biBitCount;
        colourCount = h.biClrUsed == 0 ? full : std::min<std::size_t>(h.biClrUsed, full);
        // The colour table follows the header, whatever its version.
        colours = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(info) + h.biSize);
    }
    auto b = newBitmap(h.biWidth, height, h.biBitCount, topDown, colours, colourCount, bits);
    if (b) {
        b->xPelsPerMeter = h.biXPelsPerMeter;
        b->yPelsPerMeter = h.biYPelsPerMeter;
    }
    return b;
}

HBITMAP registerBitmap(Registry& r, std::unique_ptr<Bitmap> b)
{
    if (!b)
        return nullptr;
    return static_cast<HBITMAP>(r.add(std::move(b)));
}

// ---- drawing helpers ---------------------------------------------------------------------

Span clip(Span s, const Bitmap& b)
{
    s.x0 = std::max<std::int64_t>(s.x0, 0);
    s.y0 = std::max<std::int64_t>(s.y0, 0);
    s.x1 = std::min<std::int64_t>(s.x1, b.width);
    s.y1 = std::min<std::int64_t>(s.y1, b.height);
    return s;
}

bool supportedRop(DWORD rop)
{
    switch (rop) {
    case SRCCOPY:
    case SRCPAINT:
    case SRCAND:
    case SRCINVERT:
    case NOTSRCCOPY:
    case BLACKNESS:
    case WHITENESS:
        return true;
    default:
        return false;
    }
}

bool ropUsesSource(DWORD rop)
{
    return rop != BLACKNESS && rop != WHITENESS;
}

COLORREF applyRop(DWORD rop, COLORREF dest, COLORREF src)
{
    switch (rop) {
    case SRCPAINT:
        return dest | src;
    case SRCAND:
        return dest & src;
    case SRCINVERT:
        return dest ^ src;
    case NOTSRCCOPY:
        return ~src & 0xFFFFFF;
    case BLACKNESS:
        return 0;
    case WHITENESS:
        return 0xFFFFFF;
    default:
        return src;
    }
}

bool sourceFor(const Bitmap* src, const Bitmap* dest, std::int64_t y0, std::int64_t y1,
               SourceView& view)
{
    view.rowOffset = 0;
    if (src != dest) {
        view.bitmap = src;
        return true;
    }
    // A blit within one bitmap copies only the rows it reads (at least one, so that the view
    // is a bitmap even when the blit reads nothing).
    y0 = std::clamp<std::int64_t>(y0, 0, src->height - 1);
    y1 = std::clamp<std::int64_t>(y1, y0 + 1, src->height);
    view.copy = newBitmap(src->width, int(y1 - y0), src->bpp, true, src->palette.data(),
                          src->palette.size(), nullptr);
    if (!view.copy)
        return false;
    for (std::int64_t y = y0; y < y1; ++y)
        std::memcpy(view.copy->row(y - y0), src->row(y), src->stride);
    view.rowOffset = y0;
    view.bitmap = view.copy.get();
    return true;
}

// Writes the pixels of dest rectangle d from source columns colMap and rows rowMap (-1: no
// source pixel, the destination is left alone) with the raster operation.
void blit(Bitmap& dest, const Span& d, const Bitmap* src, const std::vector<std::int64_t>& colMap,
          const std::vector<std::int64_t>& rowMap, DWORD rop, bool contiguousColumns = false)
{
    Encoder encode(dest);
    const bool raw = rop == SRCCOPY && src && src->sameFormat(dest);
    // A palette source maps each index once.
    std::vector<std::uint32_t> indexMap;
    if (rop == SRCCOPY && src && !raw && src->bpp <= 8) {
        indexMap.resize(src->palette.size());
        for (std::size_t i = 0; i < indexMap.size(); ++i)
            indexMap[i] = encode(src->decode(std::uint32_t(i)));
    }
    for (std::int64_t y = d.y0; y < d.y1; ++y) {
        const std::int64_t sy = rowMap[std::size_t(y - d.y0)];
        if (src && sy < 0)
            continue;
        BYTE* out = dest.row(y);
        const BYTE* in = src ? src->row(sy) : nullptr;
        if (raw && contiguousColumns && dest.bpp >= 8) {
            const std::size_t bytesPerPixel = std::size_t(dest.bpp / 8);
            std::memcpy(out + std::size_t(d.x0) * bytesPerPixel,
                        in + std::size_t(colMap[0]) * bytesPerPixel,
                        std::size_t(d.x1 - d.x0) * bytesPerPixel);
            continue;
        }
        for (std::int64_t x = d.x0; x < d.x1; ++x) {
            std::int64_t sx = -1;
            if (src) {
                sx = colMap[std::size_t(x - d.x0)];
                if (sx < 0)
                    continue;
            }
            if (raw) {
                dest.writeRaw(out, x, src->readRaw(in, sx));
                continue;
            }
            if (!indexMap.empty()) {
                std::uint32_t v = src->readRaw(in, sx);
                dest.writeRaw(out, x, v < indexMap.size() ? indexMap[v] : encode(0));
                continue;
            }
            const COLORREF s = src ? src->decode(src->readRaw(in, sx)) : 0;
            const COLORREF old = rop == SRCCOPY || rop == NOTSRCCOPY || !ropUsesSource(rop)
                                     ? 0
                                     : dest.decode(dest.readRaw(out, x));
            dest.writeRaw(out, x, encode(applyRop(rop, old, s)));
        }
    }
}

std::int64_t magnitude(std::int64_t v)
{
    return v < 0 ? -v : v;
}

// Nearest-neighbour stretch of a source rectangle (source may be null for BLACKNESS and
// WHITENESS) onto a destination rectangle, clipped to both bitmaps. Opposite signs of the
// destination and source extents mirror the picture.
void stretch(Bitmap& target, Extent d, const Bitmap* source, Extent s, DWORD rop)
{
    const std::int64_t dw = magnitude(d.width), dh = magnitude(d.height);
    const std::int64_t sw = magnitude(s.width), sh = magnitude(s.height);
    const std::int64_t dx0 = d.width < 0 ? std::int64_t(d.x) + d.width : d.x;
    const std::int64_t dy0 = d.height < 0 ? std::int64_t(d.y) + d.height : d.y;
    const std::int64_t sx0 = s.width < 0 ? std::int64_t(s.x) + s.width : s.x;
    const std::int64_t sy0 = s.height < 0 ? std::int64_t(s.y) + s.height : s.y;
    const bool mirrorX = (d.width < 0) != (s.width < 0);
    const bool mirrorY = (d.height < 0) != (s.height < 0);
    const Span span = clip({dx0, dy0, dx0 + dw, dy0 + dh}, target);
    if (span.empty())
        return;
    // Destination pixel i samples the source pixel under its centre.
    auto sample = [](std::int64_t i, std::int64_t dn, std::int64_t sn, bool mirror) {
        std::int64_t k = ((2 * i + 1) * sn) / (2 * dn);
        return mirror ? sn - 1 - k : k;
    };
    std::vector<std::int64_t> cols(std::size_t(span.x1 - span.x0));
    std::vector<std::int64_t> rows(std::size_t(span.y1 - span.y0));
    for (std::size_t i = 0; i < cols.size(); ++i) {
        std::int64_t sx = sx0 + sample(span.x0 - dx0 + std::int64_t(i), dw, sw, mirrorX);
        cols[i] = source && (sx < 0 || sx >= source->width) ? -1 : sx;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::int64_t sy = sy0 + sample(span.y0 - dy0 + std::int64_t(i), dh, sh, mirrorY);
        rows[i] = source && (sy < 0 || sy >= source->height) ? -1 : sy;
    }
    blit(target, span, source, cols, rows, rop);
}

bool sourceOf(Dc& src, const Bitmap* dest, std::int64_t y0, std::int64_t y1, SourceView& view)
{
    if (src.target == Dc::Target::Host) {
        view.copy = hostRead(src);
        view.bitmap = view.copy.get();
        view.rowOffset = 0;
        return view.bitmap != nullptr;
    }
    return sourceFor(src.bitmap, dest, y0, y1, view);
}

void drawIcon(Bitmap& target, int x, int y, const Icon& icon)
{
    const int w = icon.width(), h = icon.height();
    const Span span = clip({x, y, std::int64_t(x) + w, std::int64_t(y) + h}, target);
    Encoder encode(target);
    const Bitmap& mask = *icon.mask;
    for (std::int64_t ty = span.y0; ty < span.y1; ++ty) {
        const std::int64_t iy = ty - y;
        BYTE* out = target.row(ty);
        const BYTE* andRow = mask.row(iy);
        const Bitmap& xorBitmap = icon.colour ? *icon.colour : mask;
        const BYTE* xorRow = icon.colour ? icon.colour->row(iy) : mask.row(iy + h);
        for (std::int64_t tx = span.x0; tx < span.x1; ++tx) {
            const std::int64_t ix = tx - x;
            const COLORREF andColour = mask.decode(mask.readRaw(andRow, ix));
            const COLORREF xorColour = xorBitmap.decode(xorBitmap.readRaw(xorRow, ix));
            const COLORREF old = target.decode(target.readRaw(out, tx));
            target.writeRaw(out, tx, encode((old & andColour) ^ xorColour));
        }
    }
}

} // namespace wingdi

using namespace wingdi;

// ---- bitmaps -----------------------------------------------------------------------------

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset)
{
    if (bits)
        *bits = nullptr;
    if (usage != DIB_RGB_COLORS || section || offset)
        return nullptr;
    auto b = bitmapFromInfo(info, nullptr);
    if (!b)
        return nullptr;
    void* pixels = b->bits;
    HBITMAP h = registerBitmap(registry(), std::move(b));
    if (h && bits)
        *bits = pixels;
    return h;
}

HBITMAP CreateDIBSectionOnMemory(const BITMAPINFO* info, void* bits)
{
    if (!bits)
        return nullptr;
    auto b = bitmapFromInfo(info, bits);
    if (!b)
        return nullptr;
    return registerBitmap(registry(), std::move(b));
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height)
{
    int bpp = 32;
    std::vector<RGBQUAD> palette;
    if (dc) {
        DcScope scope(dc);
        if (!scope.ok())
            return nullptr;
        const Dc* d = scope.first();
        if (d->target == Dc::Target::Memory) {
            bpp = d->bitmap->bpp;
            try {
                palette = d->bitmap->palette;
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
    }
    return registerBitmap(
        registry(), newBitmap(width, height, bpp, true, palette.data(), palette.size(), nullptr));
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colours)
{
    DcScope scope(dc);
    const Dc* d = scope.first();
    if (!scope.ok() || !colours || !d->bitmap || d->bitmap->bpp > 8 ||
        start >= d->bitmap->palette.size())
        return 0;
    const UINT n = std::min<UINT>(count, UINT(d->bitmap->palette.size()) - start);
    std::copy_n(d->bitmap->palette.begin() + start, n, colours);
    return n;
}

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colours)
{
    DcScope scope(dc);
    Dc* d = scope.first();
    if (!scope.ok() || !colours || !d->bitmap || d->bitmap->stock || d->bitmap->bpp > 8 ||
        start >= d->bitmap->palette.size())
        return 0;
    const UINT n = std::min<UINT>(count, UINT(d->bitmap->palette.size()) - start);
    std::copy_n(colours, n, d->bitmap->palette.begin() + start);
    return n;
}

// ---- objects -----------------------------------------------------------------------------

int GetObjectW(HGDIOBJ object, int size, void* out)
{
    // Only what never changes after creation is read here, so no object lock is needed.
    Registry& r = registry();
    if (auto b = r.bitmap(object)) {
        if (!out)
            return int(sizeof(DIBSECTION));
        if (size < int(sizeof(BITMAP)))
            return 0;
        DIBSECTION ds{};
        ds.dsBm.bmType = 0;
        ds.dsBm.bmWidth = b->width;
        ds.dsBm.bmHeight = b->height;
        ds.dsBm.bmWidthBytes = LONG(b->stride);
        ds.dsBm.bmPlanes = 1;
        ds.dsBm.bmBitsPixel = WORD(b->bpp);
        ds.dsBm.bmBits = b->bits;
        if (size < int(sizeof(DIBSECTION))) {
            std::memcpy(out, &ds.dsBm, sizeof(BITMAP));
            return int(sizeof(BITMAP));
        }
        ds.dsBmih.biSize = sizeof(BITMAPINFOHEADER);
        ds.dsBmih.biWidth = b->width;
        ds.dsBmih.biHeight = b->topDown ? -b->height : b->height;
        ds.dsBmih.biPlanes = 1;
        ds.dsBmih.biBitCount = WORD(b->bpp);
        ds.dsBmih.biCompression = BI_RGB;
        ds.dsBmih.biSizeImage = DWORD(b->stride * std::size_t(b->height));
        ds.dsBmih.biXPelsPerMeter = b->xPelsPerMeter;
        ds.dsBmih.biYPelsPerMeter = b->yPelsPerMeter;
        ds.dsBmih.biClrUsed = DWORD(b->palette.size());
        std::memcpy(out, &ds, sizeof(DIBSECTION));
        return int(sizeof(DIBSECTION));
    }
    if (auto p = r.palette(object)) {
        if (!out)
            return int(sizeof(WORD));
        if (size < int(sizeof(WORD)))
            return 0;
        const WORD count = WORD(p->entries.size());
        std::memcpy(out, &count, sizeof(WORD));
        return int(sizeof(WORD));
    }
    if (auto br = r.brush(object)) {
        if (!out)
            return int(sizeof(LOGBRUSH));
        if (size < int(sizeof(LOGBRUSH)))
            return 0;
        LOGBRUSH lb{};
        lb.lbStyle = br->hollow ? 1 /* BS_NULL */ : BS_SOLID;
        lb.lbColor = br->colour;
        std::memcpy(out, &lb, sizeof(LOGBRUSH));
        return int(sizeof(LOGBRUSH));
    }
    return 0;
}

BOOL DeleteObject(HGDIOBJ object)
{
    Registry& r = registry();
    std::shared_ptr<Object> o;
    {
        std::lock_guard lock(r.mutex);
        auto it = object ? r.objects.find(object) : r.objects.end();
        if (it == r.objects.end())
            return FALSE;
        o = it->second;
    }
    if (o->kind != Kind::Bitmap && o->kind != Kind::Brush && o->kind != Kind::Palette)
        return FALSE;
    if (o->stock)
        return TRUE;
    {
        // Selection happens under the bitmap's lock too, so the check holds until removal.
        std::lock_guard lock(o->mutex);
        if (o->dead)
            return FALSE;
        if (o->kind == Kind::Bitmap && static_cast<Bitmap*>(o.get())->selectedInto)
            return FALSE;
        o->dead = true;
    }
    r.remove(object);
    return TRUE;
}

DWORD GetObjectType(HGDIOBJ object)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = object ? r.objects.find(object) : r.objects.end();
    if (it == r.objects.end())
        return 0;
    switch (it->second->kind) {
    case Kind::Bitmap:
        return OBJ_BITMAP;
    case Kind::Brush:
        return OBJ_BRUSH;
    case Kind::Palette:
        return OBJ_PAL;
    case Kind::Dc:
        return static_cast<Dc*>(it->second.get())->target == Dc::Target::Memory ? OBJ_MEMDC
                                                                                : OBJ_DC;
    default:
        return 0;
    }
}

HGDIOBJ GetStockObject(int which)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (which == DEFAULT_PALETTE)
        return r.stockPalette;
    if (which < WHITE_BRUSH || which > NULL_BRUSH)
        return nullptr;
    return r.stockBrushes[which];
}

std::size_t WinLiveGdiObjects()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.objects.size() - r.stockCount;
}

void WinFailGdiObjectsAfter(long n)
{
    g_objectsLeft.store(n < 0 ? -1 : n);
}

// ---- palettes ----------------------------------------------------------------------------

HPALETTE CreatePalette(const LOGPALETTE* palette)
{
    if (!palette || palette->palNumEntries == 0 || palette->palNumEntries > 256)
        return nullptr;
    auto p = std::unique_ptr<Palette>(new (std::nothrow) Palette);
    if (!p)
        return nullptr;
    try {
        p->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return static_cast<HPALETTE>(registry().add(std::move(p)));
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* out)
{
    auto p = registry().palette(palette);
    if (!p)
        return 0;
    if (!out)
        return UINT(p->entries.size());
    if (start >= p->entries.size())
        return 0;
    const UINT n = std::min<UINT>(count, UINT(p->entries.size()) - start);
    std::copy_n(p->entries.begin() + start, n, out);
    return n;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL)
{
    if (!registry().palette(palette))
        return nullptr;
    DcScope scope(dc, DcScope::With::ContextsOnly);
    if (!scope.ok())
        return nullptr;
    return static_cast<HPALETTE>(std::exchange(scope.first()->palette, palette));
}

UINT RealizePalette(HDC dc)
{
    return registry().dc(dc) ? 0 : GDI_ERROR;
}

HBRUSH CreateSolidBrush(COLORREF colour)
{
    auto b = std::unique_ptr<Brush>(new (std::nothrow) Brush);
    if (!b)
        return nullptr;
    b->colour = colour & 0xFFFFFF;
    return static_cast<HBRUSH>(registry().add(std::move(b)));
}

// ---- device contexts ---------------------------------------------------------------------

HDC CreateCompatibleDC(HDC dc)
{
    Registry& r = registry();
    if (dc && !r.dc(dc))
        return nullptr;
    auto d = std::unique_ptr<Dc>(new (std::nothrow) Dc);
    if (!d)
        return nullptr;
    d->bitmap = r.stockBitmap;
    d->brush = r.stockBrushes[WHITE_BRUSH];
    d->palette = r.stockPalette;
    return static_cast<HDC>(r.add(std::move(d)));
}

BOOL DeleteDC(HDC dc)
{
    {
        // Waits for drawing in progress on the context; its bitmap is free to be deleted as
        // soon as the context lets it go.
        DcScope scope(dc);
        if (!scope.ok())
            return FALSE;
        Dc* d = scope.first();
        if (d->bitmap && d->bitmap->selectedInto == d)
            d->bitmap->selectedInto = nullptr;
        d->dead = true;
    }
    registry().remove(dc);
    return TRUE;
}

HDC GetDC(HWND window)
{
    if (window)
        return nullptr;
    Registry& r = registry();
    Bitmap* screen = r.screenSurface();
    if (!screen)
        return nullptr;
    auto d = std::unique_ptr<Dc>(new (std::nothrow) Dc);
    if (!d)
        return nullptr;
    d->target = Dc::Target::Screen;
    d->bitmap = screen;
    d->brush = r.stockBrushes[WHITE_BRUSH];
    d->palette = r.stockPalette;
    return static_cast<HDC>(r.add(std::move(d)));
}

int ReleaseDC(HWND window, HDC dc)
{
    if (window)
        return 0;
    auto d = registry().dc(dc);
    if (!d || d->target != Dc::Target::Screen)
        return 0;
    return DeleteDC(dc) ? 1 : 0;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object)
{
    Registry& r = registry();
    // Looked up first, so that it outlives the locks below even when deleted meanwhile.
    const std::shared_ptr<Bitmap> found = r.bitmap(object);
    // The bitmaps are locked below, the one selected now and the new one together.
    DcScope scope(dc, DcScope::With::ContextsOnly);
    if (!scope.ok())
        return nullptr;
    Dc* d = scope.first();
    if (found) {
        Bitmap* b = found.get();
        if (d->target != Dc::Target::Memory)
            return nullptr;
        if (b == d->bitmap)
            return object;
        scope.locks().lock(b, d->bitmap);
        // A bitmap stays alive after deletion while it is in use, so check it is still live.
        if (b->dead || (!b->stock && b->selectedInto))
            return nullptr;
        Bitmap* previous = d->bitmap;
        if (previous->selectedInto == d)
            previous->selectedInto = nullptr;
        if (!b->stock)
            b->selectedInto = d;
        d->bitmap = b;
        return previous;
    }
    if (r.brush(object)) {
        HGDIOBJ previous = d->brush;
        d->brush = object;
        return previous;
    }
    return nullptr;
}

HGDIOBJ GetCurrentObject(HDC dc, UINT type)
{
    DcScope scope(dc, DcScope::With::ContextsOnly);
    if (!scope.ok())
        return nullptr;
    const Dc* d = scope.first();
    if (type == OBJ_BITMAP)
        return d->bitmap;
    if (type == OBJ_BRUSH)
        return d->brush;
    if (type == OBJ_PAL)
        return d->palette;
    return nullptr;
}

namespace {

// A device context's integer mode (mapping, stretching): set within [low, high], answering the
// previous mode, or read; 0 for a bad handle or a mode out of range.
int exchangeDcMode(HDC dc, int wingdi::Dc::*mode, int value, int low, int high)
{
    DcScope scope(dc, DcScope::With::ContextsOnly);
    if (!scope.ok() || value < low || value > high)
        return 0;
    return std::exchange(scope.first()->*mode, value);
}

int readDcMode(HDC dc, int wingdi::Dc::*mode)
{
    DcScope scope(dc, DcScope::With::ContextsOnly);
    return scope.ok() ? scope.first()->*mode : 0;
}

} // namespace

int SetMapMode(HDC dc, int mode)
{
    return exchangeDcMode(dc, &wingdi::Dc::mapMode, mode, MM_TEXT, MM_ANISOTROPIC);
}

int GetMapMode(HDC dc)
{
    return readDcMode(dc, &wingdi::Dc::mapMode);
}

int SetStretchBltMode(HDC dc, int mode)
{
    return exchangeDcMode(dc, &wingdi::Dc::stretchMode, mode, BLACKONWHITE, HALFTONE);
}

int GetStretchBltMode(HDC dc)
{
    return readDcMode(dc, &wingdi::Dc::stretchMode);
}

int GetDeviceCaps(HDC dc, int index)
{
    DcScope scope(dc);
    if (!scope.ok())
        return 0;
    const Dc* d = scope.first();
    const bool host = d->target == Dc::Target::Host;
    const int width = host ? d->hostWidth : d->bitmap->width;
    const int height = host ? d->hostHeight : d->bitmap->height;
    const int bpp = host ? 32 : d->bitmap->bpp;
    const int colours = host || bpp > 8 ? 0 : int(d->bitmap->palette.size());
    const int dpi = host ? d->hostDpi : kDpi;
    auto millimetres = [dpi](int pixels) {
        return int((std::int64_t(pixels) * 254 + 5 * dpi) / (10 * std::int64_t(dpi)));
    };
    switch (index) {
    case TECHNOLOGY:
        return DT_RASDISPLAY;
    case HORZSIZE:
        return millimetres(width);
    case VERTSIZE:
        return millimetres(height);
    case HORZRES:
    case DESKTOPHORZRES:
    case PHYSICALWIDTH:
        return width;
    case VERTRES:
    case DESKTOPVERTRES:
    case PHYSICALHEIGHT:
        return height;
    case BITSPIXEL:
        return bpp;
    case PLANES:
        return 1;
    case NUMCOLORS:
        return bpp <= 8 ? colours : -1;
    case SIZEPALETTE:
        return colours;
    case COLORRES:
        return bpp <= 8 ? 18 : 24;
    case RASTERCAPS:
        return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return dpi;
    default:
        return 0;
    }
}

// ---- drawing -----------------------------------------------------------------------------

int FillRect(HDC dc, const RECT* rect, HBRUSH brush)
{
    if (!rect)
        return 0;
    auto b = registry().brush(brush);
    if (!b)
        return 0;
    DcScope scope(dc);
    if (!scope.ok())
        return 0;
    Dc* d = scope.first();
    if (b->hollow)
        return 1;
    if (d->target == Dc::Target::Host) {
        hostFill(*d, *rect, b->colour);
        return 1;
    }
    Bitmap& target = *d->bitmap;
    const Span s = clip({rect->left, rect->top, rect->right, rect->bottom}, target);
    if (s.empty())
        return 1;
    const std::uint32_t v = target.encode(b->colour);
    for (std::int64_t y = s.y0; y < s.y1; ++y) {
        BYTE* row = target.row(y);
        if (target.bpp == 8) {
            std::memset(row + s.x0, int(v), std::size_t(s.x1 - s.x0));
            continue;
        }
        for (std::int64_t x = s.x0; x < s.x1; ++x)
            target.writeRaw(row, x, v);
    }
    return 1;
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF colour)
{
    DcScope scope(dc);
    Dc* d = scope.ok() ? scope.first() : nullptr;
    if (d && d->target == Dc::Target::Host) {
        if (x < 0 || y < 0 || x >= d->hostWidth || y >= d->hostHeight)
            return CLR_INVALID;
        hostFill(*d, RECT{x, y, x + 1, y + 1}, colour & 0xFFFFFF);
        return colour & 0xFFFFFF;
    }
    if (!d || !d->bitmap->contains(x, y))
        return CLR_INVALID;
    Bitmap& b = *d->bitmap;
    const std::uint32_t v = b.encode(colour & 0xFFFFFF);
    b.writeRaw(b.row(y), x, v);
    return b.decode(v);
}

COLORREF GetPixel(HDC dc, int x, int y)
{
    DcScope scope(dc);
    Dc* d = scope.ok() ? scope.first() : nullptr;
    if (d && d->target == Dc::Target::Host)
        return hostPixel(*d, x, y);
    if (!d || !d->bitmap->contains(x, y))
        return CLR_INVALID;
    const Bitmap& b = *d->bitmap;
    return b.decode(b.readRaw(b.row(y), x));
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop)
{
    if (!supportedRop(rop))
        return FALSE;
    // Both contexts stay locked through the drawing; a blit within one context locks it once.
    const bool usesSource = ropUsesSource(rop);
    DcScope scope = usesSource ? DcScope(dest, src) : DcScope(dest);
    if (!scope.ok())
        return FALSE;
    Dc* d = scope.first();
    Dc* s = scope.second();
    if (width <= 0 || height <= 0)
        return TRUE;
    SourceView view;
    if (s && !sourceOf(*s, d->bitmap, srcY, std::int64_t(srcY) + height, view))
        return FALSE;
    // Source rows counted in the view.
    const std::int64_t viewY = std::int64_t(srcY) - view.rowOffset;
    if (d->target == Dc::Target::Host)
        return hostStretch(*d, {x, y, width, height}, view.bitmap,
                           {srcX, int(viewY), width, height}, rop)
                   ? TRUE
                   : FALSE;
    Bitmap& target = *d->bitmap;
    Span span{x, y, std::int64_t(x) + width, std::int64_t(y) + height};
    if (s) {
        // Keep only what both bitmaps hold.
        const Bitmap& sb = *view.bitmap;
        const std::int64_t dx = std::int64_t(srcX) - x, dy = viewY - y;
        span.x0 = std::max(span.x0, -dx);
        span.y0 = std::max(span.y0, -dy);
        span.x1 = std::min(span.x1, sb.width - dx);
        span.y1 = std::min(span.y1, sb.height - dy);
    }
    span = clip(span, target);
    if (span.empty())
        return TRUE;
    std::vector<std::int64_t> cols(std::size_t(span.x1 - span.x0));
    std::vector<std::int64_t> rows(std::size_t(span.y1 - span.y0));
    for (std::size_t i = 0; i < cols.size(); ++i)
        cols[i] = span.x0 + std::int64_t(i) + (std::int64_t(srcX) - x);
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = span.y0 + std::int64_t(i) + (viewY - y);
    blit(target, span, view.bitmap, cols, rows, rop, true);
    return TRUE;
}

BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY,
                int srcWidth, int srcHeight, DWORD rop)
{
    if (!supportedRop(rop))
        return FALSE;
    // Both contexts stay locked through the drawing; a blit within one context locks it once.
    const bool usesSource = ropUsesSource(rop);
    DcScope scope = usesSource ? DcScope(dest, src) : DcScope(dest);
    if (!scope.ok())
        return FALSE;
    Dc* d = scope.first();
    Dc* s = scope.second();
    if (width == 0 || height == 0 || (s && (srcWidth == 0 || srcHeight == 0)))
        return FALSE;
    const std::int64_t top = srcHeight < 0 ? std::int64_t(srcY) + srcHeight : srcY;
    SourceView view;
    if (s && !sourceOf(*s, d->bitmap, top,
                       top + (srcHeight < 0 ? -std::int64_t(srcHeight) : srcHeight), view))
        return FALSE;
    const int viewY = int(std::int64_t(srcY) - view.rowOffset);
    if (d->target == Dc::Target::Host)
        return hostStretch(*d, {x, y, width, height}, view.bitmap,
                           {srcX, viewY, srcWidth, srcHeight}, rop)
                   ? TRUE
                   : FALSE;
    stretch(*d->bitmap, {x, y, width, height}, view.bitmap, {srcX, viewY, srcWidth, srcHeight},
            rop);
    return TRUE;
}

int StretchDIBits(HDC dc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop)
{
    if (!supportedRop(rop) || usage != DIB_RGB_COLORS || !bits || width == 0 || height == 0 ||
        srcWidth == 0 || srcHeight == 0)
        return 0;
    // The caller's pixels are only read; the view never writes through its pointer.
    auto source = bitmapFromInfo(info, const_cast<void*>(bits));
    if (!source)
        return 0;
    // A bottom-up DIB counts source rows from its bottom edge.
    std::int64_t top = srcY;
    if (!source->topDown)
        top = std::int64_t(source->height) - srcY - srcHeight;
    if (top < INT32_MIN || top > INT32_MAX)
        return 0;
    DcScope scope(dc);
    if (!scope.ok())
        return 0;
    Dc* d = scope.first();
    if (d->target == Dc::Target::Host) {
        if (!hostStretch(*d, {x, y, width, height}, source.get(),
                         {srcX, int(top), srcWidth, srcHeight}, rop))
            return 0;
    } else {
        stretch(*d->bitmap, {x, y, width, height}, source.get(),
                {srcX, int(top), srcWidth, srcHeight}, rop);
    }
    return srcHeight < 0 ? -srcHeight : srcHeight;
}

// ---- icons -------------------------------------------------------------------------------

HICON CreateIconIndirect(ICONINFO* info)
{
    if (!info)
        return nullptr;
    Registry& r = registry();
    auto mask = r.bitmap(info->hbmMask);
    auto colour = info->hbmColor ? r.bitmap(info->hbmColor) : nullptr;
    if (!mask || (info->hbmColor && !colour))
        return nullptr;
    // The pixels are copied: hold the bitmaps still (drawing through a context locks them too).
    ObjectLocks locks;
    locks.lock(mask.get(), colour.get());
    if (mask->dead || (colour && colour->dead))
        return nullptr;
    if (colour ? (colour->width != mask->width || colour->height != mask->height)
               : (mask->height < 2 || mask->height % 2 != 0))
        return nullptr;
    auto icon = std::unique_ptr<Icon>(new (std::nothrow) Icon);
    if (!icon)
        return nullptr;
    icon->mask = copyBitmap(*mask);
    if (colour)
        icon->colour = copyBitmap(*colour);
    if (!icon->mask || (colour && !icon->colour))
        return nullptr;
    icon->fIcon = info->fIcon;
    icon->xHotspot = info->xHotspot;
    icon->yHotspot = info->yHotspot;
    return static_cast<HICON>(r.add(std::move(icon)));
}

BOOL GetIconInfo(HICON handle, ICONINFO* info)
{
    if (!info)
        return FALSE;
    Registry& r = registry();
    auto icon = r.icon(handle);
    if (!icon)
        return FALSE;
    HBITMAP mask = registerBitmap(r, copyBitmap(*icon->mask));
    if (!mask)
        return FALSE;
    HBITMAP colour = nullptr;
    if (icon->colour) {
        colour = registerBitmap(r, copyBitmap(*icon->colour));
        if (!colour) {
            r.remove(mask);
            return FALSE;
        }
    }
    info->fIcon = icon->fIcon;
    info->xHotspot = icon->xHotspot;
    info->yHotspot = icon->yHotspot;
    info->hbmMask = mask;
    info->hbmColor = colour;
    return TRUE;
}

BOOL DestroyIcon(HICON handle)
{
    Registry& r = registry();
    auto icon = r.icon(handle);
    if (!icon)
        return FALSE;
    {
        std::lock_guard lock(icon->mutex);
        if (icon->dead)
            return FALSE;
        icon->dead = true;
    }
    r.remove(handle);
    return TRUE;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON handle)
{
    auto icon = registry().icon(handle);
    if (!icon)
        return FALSE;
    DcScope scope(dc);
    if (!scope.ok())
        return FALSE;
    Dc* d = scope.first();
    if (d->target == Dc::Target::Host)
        hostDrawIcon(*d, x, y, *icon);
    else
        drawIcon(*d->bitmap, x, y, *icon);
    return TRUE;
}
