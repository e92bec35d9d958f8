// gdi_internal.h - the objects behind GDI handles, shared by the software drawing code
// (gdi.cpp) and the host-context target (gdi_cairo.cpp).
//
// Locking: the registry's lock guards only the table of handles; it is held for a lookup,
// a registration or a removal and never while waiting for another lock. Device contexts and
// bitmaps have locks of their own, held through a call that reads or changes them (a whole
// blit, cairo drawing included); brushes, palettes and icons never change once made and are
// only kept alive (shared_ptr) while a call uses them. A call takes object locks in one order:
// device contexts first, then bitmaps, each group in address order (ObjectLocks in gdi.cpp).
// Every function here that takes a Dc or a Bitmap expects its caller to hold that object's
// lock (and a Dc's, its selected bitmap's).
#pragma once

#include "../core/pixels.h"
#include "gdi.h"

#include <atomic>
#include <cairo.h>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace wingdi {

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr int kDpi = 96;
constexpr std::int64_t kMaxPixelBytes = 0x7FFFFFFF;

enum class Kind { Bitmap, Brush, Palette, Dc, Icon };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Kind kind;
    bool stock = false;
    // Device contexts and bitmaps: held while the object is read or changed.
    std::mutex mutex;
    // Set under mutex when the handle is deleted: a call that found the object before and
    // locks it afterwards treats the handle as invalid.
    bool dead = false;
};

struct Dc;

struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    int width = 0;
    int height = 0; // always positive
    bool topDown = false;
    int bpp = 0;
    std::size_t stride = 0;
    BYTE* bits = nullptr;
    std::unique_ptr<BYTE[]> owned; // null when the pixels belong to the caller
    std::vector<RGBQUAD> palette;
    LONG xPelsPerMeter = 0;
    LONG yPelsPerMeter = 0;
    Dc* selectedInto = nullptr;

    BYTE* row(std::int64_t y) const
    {
        return bits + std::size_t(topDown ? y : height - 1 - y) * stride;
    }
    bool contains(std::int64_t x, std::int64_t y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height;
    }

    std::uint32_t readRaw(const BYTE* r, std::int64_t x) const
    {
        return std::uint32_t(core::ReadPixel(r, x, bpp));
    }
    void writeRaw(BYTE* r, std::int64_t x, std::uint32_t v) const
    {
        core::WritePixel(r, x, bpp, v);
    }
    COLORREF decode(std::uint32_t v) const
    {
        if (bpp <= 8) {
            if (v >= palette.size())
                return 0;
            const RGBQUAD& q = palette[v];
            return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
        }
        if (bpp == 16) {
            auto expand = [](std::uint32_t c5) { return BYTE((c5 << 3) | (c5 >> 2)); };
            return RGB(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
        }
        return RGB(BYTE(v >> 16), BYTE(v >> 8), BYTE(v));
    }
    // The raw value that stands for colour: nearest palette entry (lowest index on ties), the
    // 5-5-5 truncation, or the colour's bytes with a zero fourth byte.
    std::uint32_t encode(COLORREF c) const
    {
        const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
        if (bpp <= 8)
            return std::uint32_t(
                core::NearestPaletteIndex(palette.data(), int(palette.size()), r, g, b));
        if (bpp == 16)
            return (std::uint32_t(r >> 3) << 10) | (std::uint32_t(g >> 3) << 5) | (b >> 3);
        return std::uint32_t(b) | (std::uint32_t(g) << 8) | (std::uint32_t(r) << 16);
    }
    bool sameFormat(const Bitmap& o) const
    {
        if (bpp != o.bpp)
            return false;
        if (bpp > 8)
            return true;
        return palette.size() == o.palette.size() &&
               std::equal(palette.begin(), palette.end(), o.palette.begin(),
                          [](const RGBQUAD& a, const RGBQUAD& b) {
                              return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen &&
                                     a.rgbBlue == b.rgbBlue;
                          });
    }
};

// Colour-to-raw conversion with a cache, for palette targets where the search is costly.
class Encoder {
public:
    explicit Encoder(const Bitmap& b) : b_(b) {}
    std::uint32_t operator()(COLORREF c)
    {
        if (b_.bpp > 8)
            return b_.encode(c);
        auto it = cache_.find(c);
        if (it != cache_.end())
            return it->second;
        std::uint32_t v = b_.encode(c);
        if (cache_.size() < 65536)
            cache_.emplace(c, v);
        return v;
    }

private:
    const Bitmap& b_;
    std::unordered_map<COLORREF, std::uint32_t> cache_;
};

struct Brush : Object {
    Brush() : Object(Kind::Brush) {}
    COLORREF colour = 0;
    bool hollow = false;
};

struct Palette : Object {
    Palette() : Object(Kind::Palette) {}
    std::vector<PALETTEENTRY> entries;
};

struct Dc : Object {
    // Memory: a selected bitmap; Screen: the screen surface; Host: a host's cairo context.
    enum class Target { Memory, Screen, Host };
    Dc() : Object(Kind::Dc) {}
    ~Dc() override;
    Target target = Target::Memory;
    Bitmap* bitmap = nullptr; // the drawing surface; null for Target::Host
    cairo_t* cairo = nullptr; // Target::Host: our reference to the host's context
    int hostWidth = 0;
    int hostHeight = 0;
    int hostDpi = 0;
    HGDIOBJ brush = nullptr;
    HGDIOBJ palette = nullptr;
    int mapMode = MM_TEXT;
    int stretchMode = BLACKONWHITE;
};

struct Icon : Object {
    Icon() : Object(Kind::Icon) {}
    std::unique_ptr<Bitmap> mask;
    std::unique_ptr<Bitmap> colour; // null for a monochrome icon
    BOOL fIcon = TRUE;
    DWORD xHotspot = 0;
    DWORD yHotspot = 0;
    int width() const { return mask->width; }
    int height() const { return colour ? colour->height : mask->height / 2; }
};

// ---- registry ---------------------------------------------------------------------------

struct Registry {
    std::mutex mutex; // guards objects, stockCount and screen; see Locking above
    std::unordered_map<const void*, std::shared_ptr<Object>> objects;
    HGDIOBJ stockBrushes[6] = {};
    HGDIOBJ stockPalette = nullptr;
    std::size_t stockCount = 0;
    Bitmap* stockBitmap = nullptr; // 1x1 monochrome, selected into new memory contexts
    Bitmap* screen = nullptr;

    Registry();

    // The live object of that kind behind handle, kept alive for the caller; null otherwise.
    template <class T> std::shared_ptr<T> find(const void* handle, Kind kind)
    {
        if (!handle)
            return nullptr;
        std::lock_guard lock(mutex);
        auto it = objects.find(handle);
        if (it == objects.end() || it->second->kind != kind)
            return nullptr;
        return std::static_pointer_cast<T>(it->second);
    }
    std::shared_ptr<Bitmap> bitmap(const void* h) { return find<Bitmap>(h, Kind::Bitmap); }
    std::shared_ptr<Dc> dc(const void* h) { return find<Dc>(h, Kind::Dc); }
    std::shared_ptr<Brush> brush(const void* h) { return find<Brush>(h, Kind::Brush); }
    std::shared_ptr<Icon> icon(const void* h) { return find<Icon>(h, Kind::Icon); }
    std::shared_ptr<Palette> palette(const void* h) { return find<Palette>(h, Kind::Palette); }

    // Registers the object; null (and the object freed) when the registry cannot grow or a
    // test asked for failures.
    void* add(std::unique_ptr<Object> object)
    {
        std::lock_guard lock(mutex);
        return addLocked(std::move(object));
    }
    // Unregisters handle; the object lives on while calls still use it.
    void remove(const void* handle)
    {
        std::shared_ptr<Object> gone; // destroyed after the lock is released
        std::lock_guard lock(mutex);
        auto it = objects.find(handle);
        if (it == objects.end())
            return;
        gone = std::move(it->second);
        objects.erase(it);
    }
    static bool injectedFailure();
    Bitmap* screenSurface();

private:
    void* addLocked(std::unique_ptr<Object> object)
    {
        if (!object || (!object->stock && injectedFailure()))
            return nullptr;
        void* handle = object.get();
        const bool stock = object->stock;
        try {
            objects.emplace(handle, std::shared_ptr<Object>(std::move(object)));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        if (stock)
            ++stockCount;
        return handle;
    }
};

// ---- helpers (gdi.cpp) -------------------------------------------------------------------

Registry& registry();

// A bitmap with zeroed pixels of its own (bits null) or over the caller's pixels. Null when the
// size is refused or memory is short.
std::unique_ptr<Bitmap> newBitmap(int width, int height, int bpp, bool topDown,
                                  const RGBQUAD* colours, std::size_t colourCount, void* bits);
std::unique_ptr<Bitmap> copyBitmap(const Bitmap& src);
// Checks a BITMAPINFO and builds the bitmap it describes (over bits when not null).
std::unique_ptr<Bitmap> bitmapFromInfo(const BITMAPINFO* info, void* bits);

struct Span {
    std::int64_t x0, y0, x1, y1; // [x0, x1) x [y0, y1)
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Span clip(Span s, const Bitmap& b);
bool supportedRop(DWORD rop);
bool ropUsesSource(DWORD rop);

// The source pixels a blit reads: the bitmap itself, or, when it is also the target, a copy of
// the rows the blit reads (so that overlapping rectangles read the picture as it was before the
// call). Source row r is row r - rowOffset of bitmap.
struct SourceView {
    const Bitmap* bitmap = nullptr;
    std::unique_ptr<Bitmap> copy;
    std::int64_t rowOffset = 0;
};

// rows: the source rows [y0, y1) the blit may read (only they are copied).
bool sourceFor(const Bitmap* src, const Bitmap* dest, std::int64_t y0, std::int64_t y1,
               SourceView& view);

struct Extent {
    int x, y, width, height; // a negative width or height runs from x + width (y + height)
};

// Nearest-neighbour stretch of a source rectangle (source may be null for BLACKNESS and
// WHITENESS) onto a destination rectangle, clipped to both bitmaps. Opposite signs of the
// destination and source extents mirror the picture.
void stretch(Bitmap& target, Extent d, const Bitmap* source, Extent s, DWORD rop);

// Draws an icon as Windows does: destination = (destination AND mask) XOR colour.
void drawIcon(Bitmap& target, int x, int y, const Icon& icon);
// The pixels a blit reads from src: its bitmap, a copy when it is also the destination, or a
// copy of a host context's picture. False when they cannot be had.
bool sourceOf(Dc& src, const Bitmap* dest, std::int64_t y0, std::int64_t y1, SourceView& view);

// ---- host-context targets (gdi_cairo.cpp) -------------------------------------------------

// A 32-bit copy of what the host context shows in its width x height area (user space, one
// pixel per unit); null when its surface cannot be read (not an image surface).
std::unique_ptr<Bitmap> hostRead(Dc& dc);
// The colour at (x, y); CLR_INVALID outside the area or when the host cannot be read.
COLORREF hostPixel(Dc& dc, int x, int y);
// Fills [left, right) x [top, bottom) with an opaque colour.
void hostFill(Dc& dc, const RECT& rect, COLORREF colour);
// Draws the source rectangle of source onto the destination rectangle (mirroring as
// StretchBlt does). SRCCOPY and NOTSRCCOPY paint the pixels; other operations need a readable
// host and go through a copy of it. False when the host cannot do it.
bool hostStretch(Dc& dc, Extent dest, const Bitmap* source, Extent src, DWORD rop);
// Draws an icon: opaque pixels painted, transparent ones left, inverting ones with cairo's
// difference operator.
void hostDrawIcon(Dc& dc, int x, int y, const Icon& icon);

} // namespace wingdi
