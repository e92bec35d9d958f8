// Randomized differential test of the kernel against a reference model: a plain vector of pixel
// values per bitmap, changed by each operation as its contract says. Every depth, odd widths,
// both view perspectives, memory and disk-backed storage (through the smallest window, so that
// rows straddle window boundaries). Fixed seeds; small sizes.
#include "raster_test_util.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <win/gdi.h>
#include <win/global_memory.h>

using namespace rktest;

namespace {

struct Model {
    int w = 0, h = 0, bits = 0, view = RK_TOP_LEFT;
    bool rgb = false; // colour order red, green, blue in memory (else blue, green, red)
    std::vector<std::uint64_t> px; // [y * w + x], stored coordinates
    std::vector<tagRGBQUAD> pal;   // 2^bits entries at palette depths

    std::uint64_t& at(int x, int y) { return px[std::size_t(y) * std::size_t(w) + std::size_t(x)]; }
    std::uint64_t at(int x, int y) const
    {
        return px[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    }
    std::uint32_t stride() const
    {
        std::uint64_t line = std::uint64_t(w) * std::uint64_t(bits);
        return std::uint32_t(((line + 7) / 8 + 3) & ~std::uint64_t(3));
    }
    // Stored row y as bytes: pixels packed, padding zero.
    std::vector<std::uint8_t> line(int y) const
    {
        std::vector<std::uint8_t> out(stride(), 0);
        for (int x = 0; x < w; ++x)
            refSet(out.data(), x, bits, at(x, y));
        return out;
    }
};

std::uint64_t mask(int bits)
{
    return (std::uint64_t(1) << bits) - 1;
}

// ---- colour rules of the contract, written out independently --------------------------------

COLORREF entryColour(const tagRGBQUAD& q)
{
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

int nearest(const std::vector<tagRGBQUAD>& pal, COLORREF c)
{
    long best = LONG_MAX;
    int index = 0;
    for (std::size_t i = 0; i < pal.size(); ++i) {
        long dr = long(pal[i].rgbRed) - GetRValue(c), dg = long(pal[i].rgbGreen) - GetGValue(c),
             db = long(pal[i].rgbBlue) - GetBValue(c);
        long d = dr * dr + dg * dg + db * db;
        if (d < best)
            best = d, index = int(i);
    }
    return index;
}

COLORREF swapRB(COLORREF c)
{
    return RGB(GetBValue(c), GetGValue(c), GetRValue(c));
}

COLORREF colourOf(std::uint64_t raw, int bits, const std::vector<tagRGBQUAD>& pal, bool rgb = false)
{
    if (rgb && bits > 8)
        return swapRB(colourOf(raw, bits, pal));
    auto five = [](std::uint64_t v) { return BYTE(((v & 31) << 3) | ((v & 31) >> 2)); };
    switch (bits) {
    case 16: // blue in the low five bits
        return RGB(five(raw >> 10), five(raw >> 5), five(raw));
    case 24:
    case 32:
        return RGB(BYTE(raw >> 16), BYTE(raw >> 8), BYTE(raw));
    case 48:
        return RGB(BYTE(raw >> 40), BYTE(raw >> 24), BYTE(raw >> 8));
    default:
        return entryColour(pal[std::size_t(raw)]);
    }
}

std::uint64_t rawOf(COLORREF c, int bits, const std::vector<tagRGBQUAD>& pal, bool rgb = false)
{
    if (rgb && bits > 8)
        return rawOf(swapRB(c), bits, pal);
    std::uint64_t r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
    switch (bits) {
    case 16:
        return (b >> 3) | ((g >> 3) << 5) | ((r >> 3) << 10);
    case 24:
    case 32:
        return b | (g << 8) | (r << 16);
    case 48:
        return b * 257 | (g * 257) << 16 | (r * 257) << 32;
    default:
        return std::uint64_t(nearest(pal, c));
    }
}

// ---- the harness --------------------------------------------------------------------------------

class Harness {
public:
    Harness(unsigned seed, bool disk) : rng_(seed), disk_(disk) {}

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::uint64_t any() { return rng_(); }

    std::vector<tagRGBQUAD> randomPalette(int bits)
    {
        std::vector<tagRGBQUAD> pal(std::size_t(1) << bits);
        for (auto& q : pal)
            q = tagRGBQUAD{BYTE(any()), BYTE(any()), BYTE(any()), 0};
        return pal;
    }

    // Creates b and m alike, filled with random pixels.
    void create(Bmp& b, Model& m, int w, int h, int bits, int view)
    {
        std::vector<tagRGBQUAD> pal;
        if (bits <= 8 && pick(0, 1))
            pal = randomPalette(bits);
        bool rgb = bits > 8 && pick(0, 3) == 0;
        ASSERT_EQ(RkCreateBitmap(b.get(), BITMAPHANDLE_SIZE, disk_ ? RK_MEMORY_DISK : 0x201, w, h,
                                 bits, rgb ? RK_ORDER_RGB : RK_ORDER_BGR,
                                 pal.empty() ? nullptr : pal.data(), view),
                  RK_SUCCESS);
        b->XResolution = 72;
        b->YResolution = 300;
        m = Model{w, h, bits, view, rgb, std::vector<std::uint64_t>(std::size_t(w) * h), {}};
        readPalette(b, m);
        for (auto& v : m.px)
            v = any() & mask(bits);
        for (int y = 0; y < h; ++y) {
            auto line = m.line(y);
            ASSERT_EQ(RkPutBitmapRow(b.get(), line.data(), y, line.size()),
                      std::int64_t(line.size()));
        }
    }

    static void readPalette(Bmp& b, Model& m)
    {
        m.pal.clear();
        if (m.bits > 8)
            return;
        m.pal.resize(std::size_t(1) << m.bits);
        ASSERT_EQ(b->ColorCount, int(m.pal.size()));
        ASSERT_EQ(RkGetBitmapColors(b.get(), 0, b->ColorCount, m.pal.data()), RK_SUCCESS);
    }

    // The bitmap holds exactly the model: geometry, every stored byte, storage kind.
    void check(Bmp& b, const Model& m, const char* what)
    {
        SCOPED_TRACE(what);
        ASSERT_EQ(b->Width, m.w);
        ASSERT_EQ(b->Height, m.h);
        ASSERT_EQ(b->BitsPerPixel, m.bits);
        ASSERT_EQ(b->BytesPerLine, int(m.stride()));
        ASSERT_EQ((b->Flags & BITMAP_FLAG_DISK) != 0, disk_);
        std::vector<std::uint8_t> got(m.stride());
        for (int y = 0; y < m.h; ++y) {
            ASSERT_EQ(RkGetBitmapRow(b.get(), got.data(), y, got.size()), std::int64_t(got.size()));
            ASSERT_EQ(got, m.line(y))
                << "row " << y << " of " << m.w << "x" << m.h << "x" << m.bits;
        }
    }

    void partialGet(Bmp& b, const Model& m)
    {
        int y = pick(0, m.h - 1), x = pick(0, m.w - 1);
        std::uint64_t first = std::uint64_t(x) * unsigned(m.bits);
        std::uint64_t room = m.stride() - first / 8;
        std::uint64_t n = std::uint64_t(pick(1, int(room)));
        std::vector<std::uint8_t> got(n + 1, 0xA5);
        ASSERT_EQ(RkGetBitmapRowCol(b.get(), got.data(), y, x, n), std::int64_t(n));
        EXPECT_EQ(got[n], 0xA5) << "wrote past the byte count";
        auto line = m.line(y);
        for (std::uint64_t i = 0; i < n * 8; ++i) {
            std::uint64_t bit = first + i;
            unsigned want = bit < line.size() * 8 ? (line[bit / 8] >> (7 - bit % 8)) & 1 : 0;
            unsigned have = (got[i / 8] >> (7 - i % 8)) & 1;
            ASSERT_EQ(have, want) << "bit " << i << " of row " << y << " from column " << x << ", "
                                  << n << " bytes at " << m.bits << " bits";
        }
    }

    // Writes random bytes from a random column, never reaching the padding.
    void partialPut(Bmp& b, Model& m)
    {
        int y = pick(0, m.h - 1), x = pick(0, m.w - 1);
        std::uint64_t first = std::uint64_t(x) * unsigned(m.bits);
        std::uint64_t room = (std::uint64_t(m.w) * unsigned(m.bits) - first) / 8;
        if (room == 0)
            return;
        std::uint64_t n = std::uint64_t(pick(1, int(room)));
        std::vector<std::uint8_t> in(n);
        for (auto& v : in)
            v = std::uint8_t(any());
        ASSERT_EQ(RkPutBitmapRowCol(b.get(), in.data(), y, x, n), std::int64_t(n));
        auto line = m.line(y);
        for (std::uint64_t i = 0; i < n * 8; ++i) {
            std::uint64_t bit = first + i;
            unsigned v = (in[i / 8] >> (7 - i % 8)) & 1;
            line[bit / 8] =
                std::uint8_t((line[bit / 8] & ~(0x80u >> bit % 8)) | (v << 7 >> bit % 8));
        }
        for (int k = 0; k < m.w; ++k)
            m.at(k, y) = refGet(line.data(), k, m.bits);
    }

    void pixelColours(Bmp& b, Model& m)
    {
        int y = pick(0, m.h - 1), x = pick(0, m.w - 1);
        EXPECT_EQ(RkGetPixelColor(b.get(), y, x), colourOf(m.at(x, y), m.bits, m.pal, m.rgb));
        COLORREF c = COLORREF(any() & 0xFFFFFF);
        ASSERT_EQ(RkPutPixelColor(b.get(), y, x, c), RK_SUCCESS);
        std::uint64_t raw = rawOf(c, m.bits, m.pal, m.rgb);
        if (m.bits == 32)
            raw |= m.at(x, y) & 0xFF000000u;
        m.at(x, y) = raw;
    }

    static Model turned(const Model& m, int quarters)
    {
        Model t = m;
        if (quarters == 2) {
            for (int y = 0; y < m.h; ++y)
                for (int x = 0; x < m.w; ++x)
                    t.at(x, y) = m.at(m.w - 1 - x, m.h - 1 - y);
            return t;
        }
        // Clockwise as seen; bottom-up storage turns the other way.
        bool clockwise = (quarters == 1) == (m.view == RK_TOP_LEFT);
        t.w = m.h;
        t.h = m.w;
        for (int y = 0; y < t.h; ++y)
            for (int x = 0; x < t.w; ++x)
                t.at(x, y) = clockwise ? m.at(y, m.h - 1 - x) : m.at(m.w - 1 - y, x);
        return t;
    }

    static Model cropped(const Model& m, int x0, int y0, int w, int h)
    {
        Model c = m;
        c.w = w;
        c.h = h;
        c.px.assign(std::size_t(w) * h, 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                c.at(x, y) = m.at(x0 + x, y0 + y);
        return c;
    }

    void combine(Bmp& dst, Model& md, Bmp& src, const Model& ms, bool same)
    {
        auto coord = [&](int extent) {
            switch (pick(0, 5)) {
            case 0:
                return pick(INT_MIN, -1);
            case 1:
                return pick(INT_MAX - 3, INT_MAX);
            default:
                return pick(-extent, extent);
            }
        };
        int dx = coord(md.w), dy = coord(md.h), sx = coord(ms.w), sy = coord(ms.h);
        int w = pick(0, 5) ? pick(0, std::max(md.w, ms.w)) : INT_MAX;
        int h = pick(0, 5) ? pick(0, std::max(md.h, ms.h)) : INT_MAX;
        ASSERT_EQ(RkCombineCopy(dst.get(), dx, dy, same ? dst.get() : src.get(), sx, sy, w, h),
                  RK_SUCCESS)
            << dx << "," << dy << " <- " << sx << "," << sy << " " << w << "x" << h;
        const Model from = same ? md : ms;
        std::int64_t i0 = std::max<std::int64_t>({0, -std::int64_t(dx), -std::int64_t(sx)});
        std::int64_t j0 = std::max<std::int64_t>({0, -std::int64_t(dy), -std::int64_t(sy)});
        for (std::int64_t j = j0; j < h && dy + j < md.h && sy + j < from.h; ++j)
            for (std::int64_t i = i0; i < w && dx + i < md.w && sx + i < from.w; ++i)
                md.at(int(dx + i), int(dy + j)) = from.at(int(sx + i), int(sy + j));
    }

    // Every pixel through colours into the new depth (palette depths: nearest entry).
    void colourRes(Bmp& b, Model& m)
    {
        static const int kTo[] = {1, 2, 4, 8, 16, 24, 32, 48};
        int to = kTo[pick(0, 7)];
        std::vector<tagRGBQUAD> pal;
        if (to <= 8 && pick(0, 1))
            pal = randomPalette(to);
        ASSERT_EQ(RkColorResBitmap(b.get(), to, pal.empty() ? nullptr : pal.data()), RK_SUCCESS);
        if (to == m.bits && (to > 8 || pal.empty()))
            return;
        Model n = m;
        n.bits = to;
        readPalette(b, n);
        if (!pal.empty()) {
            EXPECT_EQ(std::memcmp(n.pal.data(), pal.data(), pal.size() * 4), 0);
        }
        for (std::size_t i = 0; i < m.px.size(); ++i)
            n.px[i] = rawOf(colourOf(m.px[i], m.bits, m.pal, m.rgb), to, n.pal, m.rgb);
        m = n;
    }

    // Fill, clear, invert, set the alpha bytes or extract them as a grey plane.
    void valueOperation(Bmp& b, Model& m)
    {
        switch (pick(0, 5)) {
        case 5: { // queries: distinct colours, all grey
            std::vector<COLORREF> colours;
            for (std::uint64_t v : m.px)
                colours.push_back(colourOf(v, m.bits, m.pal, m.rgb));
            std::sort(colours.begin(), colours.end());
            colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
            bool grey = std::all_of(colours.begin(), colours.end(), [](COLORREF c) {
                return GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
            });
            std::uint32_t count = 0;
            ASSERT_EQ(RkGetColorCount(b.get(), &count), RK_SUCCESS);
            EXPECT_EQ(count, colours.size());
            EXPECT_EQ(RkIsGrayScaleBitmap(b.get()), grey ? 1 : 0);
            break;
        }
        case 4: {
            Bmp plane;
            ASSERT_EQ(RkGetBitmapAlpha(b.get(), plane.get(), BITMAPHANDLE_SIZE),
                      m.bits == 32 ? RK_SUCCESS : RK_ERROR_BITSPERPIXEL);
            if (m.bits != 32)
                break;
            Model a = m;
            a.bits = 8;
            readPalette(plane, a);
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(entryColour(a.pal[std::size_t(i)]), RGB(i, i, i));
            for (auto& v : a.px)
                v >>= 24;
            EXPECT_EQ(plane->ViewPerspective, m.view);
            ASSERT_NO_FATAL_FAILURE(check(plane, a, "alpha plane"));
            break;
        }
        case 0: {
            COLORREF c = COLORREF(any() & 0xFFFFFF);
            ASSERT_EQ(RkFillBitmap(b.get(), c), RK_SUCCESS);
            for (auto& v : m.px)
                v = rawOf(c, m.bits, m.pal, m.rgb) | (m.bits == 32 ? v & 0xFF000000u : 0);
            break;
        }
        case 1:
            ASSERT_EQ(RkClearBitmap(b.get()), RK_SUCCESS);
            std::fill(m.px.begin(), m.px.end(), 0);
            break;
        case 2:
            ASSERT_EQ(RkInvertBitmap(b.get()), RK_SUCCESS);
            if (m.bits <= 8) {
                for (auto& q : m.pal)
                    q = tagRGBQUAD{BYTE(~q.rgbBlue), BYTE(~q.rgbGreen), BYTE(~q.rgbRed), 0};
                std::vector<tagRGBQUAD> pal(m.pal.size());
                ASSERT_EQ(RkGetBitmapColors(b.get(), 0, int(pal.size()), pal.data()), RK_SUCCESS);
                EXPECT_EQ(std::memcmp(pal.data(), m.pal.data(), pal.size() * 4), 0);
            } else {
                std::uint64_t flip = m.bits == 16 ? 0x7FFF : m.bits == 32 ? 0xFFFFFF : mask(m.bits);
                for (auto& v : m.px)
                    v ^= flip;
            }
            break;
        default: {
            int value = pick(0, 255);
            ASSERT_EQ(RkSetBitmapAlphaValues(b.get(), value),
                      m.bits == 32 ? RK_SUCCESS : RK_ERROR_BITSPERPIXEL);
            if (m.bits == 32)
                for (auto& v : m.px)
                    v = (v & 0xFFFFFF) | std::uint64_t(value) << 24;
            break;
        }
        }
    }

    // Export both variants, check the DIB's header and pixels, import it back; the same through
    // a device-dependent bitmap.
    void dibRoundTrip(Bmp& b, const Model& m)
    {
        int variant = pick(0, 1);
        int depth = m.bits == 2 ? 4 : m.bits == 48 ? 24 : m.bits;
        HGLOBAL dib = RkConvertToDIB(b.get(), variant);
        ASSERT_NE(dib, nullptr);
        auto* p = static_cast<const std::uint8_t*>(GlobalLock(dib));
        BITMAPINFOHEADER hd;
        std::memcpy(&hd, p, sizeof hd);
        EXPECT_EQ(hd.biWidth, m.w);
        EXPECT_EQ(hd.biHeight, variant ? -m.h : m.h);
        EXPECT_EQ(hd.biBitCount, depth);
        std::size_t colours = m.bits <= 8 ? m.pal.size() : 0;
        EXPECT_EQ(hd.biClrUsed, colours);
        if (colours) {
            EXPECT_EQ(std::memcmp(p + 40, m.pal.data(), colours * 4), 0);
        }
        std::uint64_t dibStride = ((std::uint64_t(m.w) * unsigned(depth) + 31) / 32) * 4;
        const std::uint8_t* rows = p + 40 + 4 * colours;
        // What the picture holds at (x, row) as a DIB pixel of `depth`.
        Model picture = m;
        picture.bits = depth;
        for (int y = 0; y < m.h; ++y) {
            int stored = m.view == RK_TOP_LEFT ? y : m.h - 1 - y;
            for (int x = 0; x < m.w; ++x) {
                std::uint64_t v = m.at(x, stored);
                if (m.rgb) // blue, green, red in a DIB; a 32-bit pixel keeps its fourth byte
                    v = rawOf(colourOf(v, m.bits, m.pal, true), m.bits, m.pal) |
                        (m.bits == 32 ? v & 0xFF000000u : 0);
                if (m.bits == 48)
                    v = (v >> 8 & 0xFF) | (v >> 24 & 0xFF) << 8 | (v >> 40 & 0xFF) << 16;
                picture.at(x, y) = v;
            }
        }
        for (int k = 0; k < m.h; ++k) {
            int y = variant ? k : m.h - 1 - k;
            for (int x = 0; x < m.w; ++x)
                ASSERT_EQ(refGet(rows + k * dibStride, x, depth), picture.at(x, y))
                    << "DIB row " << k << " column " << x;
        }
        GlobalUnlock(dib);
        Bmp back;
        ASSERT_EQ(RkConvertFromDIB(back.get(), BITMAPHANDLE_SIZE, dib), RK_SUCCESS);
        GlobalFree(dib);
        EXPECT_EQ(back->ViewPerspective, RK_TOP_LEFT);
        EXPECT_EQ(back->XResolution, b->XResolution);
        EXPECT_EQ(back->YResolution, b->YResolution);
        picture.view = RK_TOP_LEFT;
        picture.rgb = false;
        bool disk = disk_;
        disk_ = false; // imports are in memory
        check(back, picture, "DIB import");
        // The same through a device-dependent bitmap; variant 1 makes it 24 bits.
        HBITMAP ddb = RkConvertToDDB(nullptr, b.get(), variant);
        ASSERT_NE(ddb, nullptr);
        ASSERT_EQ(RkConvertFromDDB(nullptr, back.get(), BITMAPHANDLE_SIZE, ddb, nullptr, variant),
                  RK_SUCCESS);
        DeleteObject(ddb);
        if (variant) {
            for (auto& v : picture.px)
                v = rawOf(colourOf(v, depth, picture.pal), 24, {});
            picture.bits = 24;
            picture.pal.clear();
        }
        check(back, picture, "DDB import");
        disk_ = disk;
    }

    // A run of random operations on one bitmap, checked after each.
    void run(int bits, int view, int steps, int width = 0, int height = 0)
    {
        Bmp b;
        Model m;
        ASSERT_NO_FATAL_FAILURE(create(b, m, width ? width : 2 * pick(0, 40) + 1,
                                       height ? height : pick(1, 9), bits, view));
        for (int step = 0; step < steps; ++step) {
            int op = pick(0, 12);
            switch (op) {
            case 0:
                ASSERT_NO_FATAL_FAILURE(partialGet(b, m));
                break;
            case 1:
                ASSERT_NO_FATAL_FAILURE(partialPut(b, m));
                break;
            case 2:
                ASSERT_NO_FATAL_FAILURE(pixelColours(b, m));
                break;
            case 3:
                ASSERT_EQ(RkFlipBitmap(b.get()), RK_SUCCESS);
                m = cropped(m, 0, 0, m.w, m.h);
                for (int y = 0; y < m.h / 2; ++y)
                    for (int x = 0; x < m.w; ++x)
                        std::swap(m.at(x, y), m.at(x, m.h - 1 - y));
                break;
            case 4:
                ASSERT_EQ(RkReverseBitmap(b.get()), RK_SUCCESS);
                for (int y = 0; y < m.h; ++y)
                    std::reverse(m.px.begin() + std::ptrdiff_t(y) * m.w,
                                 m.px.begin() + std::ptrdiff_t(y + 1) * m.w);
                break;
            case 5: {
                int q = pick(1, 3);
                int xr = b->XResolution, yr = b->YResolution;
                ASSERT_EQ(RkRotateBitmapQuarters(b.get(), q), RK_SUCCESS);
                m = turned(m, q);
                EXPECT_EQ(b->XResolution, q == 2 ? xr : yr);
                EXPECT_EQ(b->ViewPerspective, view);
                break;
            }
            case 6: {
                int w = pick((m.w + 1) / 2, m.w), h = pick((m.h + 1) / 2, m.h);
                int x = pick(0, m.w - w), y = pick(0, m.h - h);
                ASSERT_EQ(RkCropBitmap(b.get(), x, y, w, h), RK_SUCCESS);
                m = cropped(m, x, y, w, h);
                break;
            }
            case 7: {
                int w = pick(1, m.w), h = pick(1, m.h);
                int x = pick(0, m.w - w), y = pick(0, m.h - h);
                if (pick(0, 3) == 0) { // into the source record itself
                    ASSERT_EQ(RkCopyBitmapRect(b.get(), BITMAPHANDLE_SIZE, b.get(),
                                               BITMAPHANDLE_SIZE, x, y, w, h),
                              RK_SUCCESS);
                    m = cropped(m, x, y, w, h);
                    break;
                }
                Bmp part;
                ASSERT_EQ(RkCopyBitmapRect(part.get(), BITMAPHANDLE_SIZE, b.get(),
                                           BITMAPHANDLE_SIZE, x, y, w, h),
                          RK_SUCCESS);
                EXPECT_EQ(part->ViewPerspective, view);
                ASSERT_NO_FATAL_FAILURE(check(part, cropped(m, x, y, w, h), "rectangle copy"));
                break;
            }
            case 8: {
                bool same = pick(0, 2) == 0;
                Bmp other;
                Model mo;
                if (!same) {
                    ASSERT_NO_FATAL_FAILURE(
                        create(other, mo, pick(1, 2 * m.w), pick(1, 2 * m.h), m.bits, view));
                }
                ASSERT_NO_FATAL_FAILURE(combine(b, m, other, mo, same));
                break;
            }
            case 9:
                if (pick(0, 2) == 0) {
                    ASSERT_NO_FATAL_FAILURE(colourRes(b, m));
                }
                break;
            case 10:
                ASSERT_NO_FATAL_FAILURE(dibRoundTrip(b, m));
                break;
            case 12:
                ASSERT_NO_FATAL_FAILURE(valueOperation(b, m));
                break;
            case 11: {
                Bmp copy;
                ASSERT_EQ(RkCopyBitmap(copy.get(), BITMAPHANDLE_SIZE, b.get(), BITMAPHANDLE_SIZE),
                          RK_SUCCESS);
                ASSERT_NO_FATAL_FAILURE(check(copy, m, "deep copy"));
                break;
            }
            }
            ASSERT_NO_FATAL_FAILURE(check(b, m, "after an operation"))
                << "step " << step << ", operation " << op;
        }
    }

private:
    std::mt19937_64 rng_;
    bool disk_;
};

TEST(RasterModel, RandomOperationsAgreeWithTheModel)
{
    // A window of 100 bytes: most rows straddle window boundaries, which fall at odd offsets.
    std::uint64_t window = RkSetDiskWindowBytes(100);
    for (bool disk : {false, true})
        for (int bits : kDepths)
            for (int view : {RK_TOP_LEFT, RK_BOTTOM_LEFT})
                for (unsigned seed = 1; seed <= 3; ++seed) {
                    SCOPED_TRACE(::testing::Message()
                                 << "disk " << disk << ", " << bits << " bits, view " << view
                                 << ", seed " << seed);
                    Harness harness(seed * 1000 + unsigned(bits) * 10 + unsigned(view), disk);
                    harness.run(bits, view, 50);
                    if (::testing::Test::HasFatalFailure())
                        break;
                }
    // Rows of 64 KiB and more bypass the window; shorter transfers on the same rows do not.
    Harness wide(99, true);
    wide.run(24, RK_TOP_LEFT, 30, 21845, 3);
    RkSetDiskWindowBytes(window);
}

} // namespace
