// fmt_bmp.cpp - Windows bitmap files: read 1, 4, 8, 16, 24 and 32 bits (BI_RGB, BI_BITFIELDS,
// RLE4, RLE8; top-down and bottom-up; core, info and v2 to v5 headers), write uncompressed (6)
// and RLE (84, 4 and 8 bits).
//
// Native rows: palette depths as stored (RLE4 as 8-bit indices), 16-bit 5-5-5 as stored, other
// 16-bit masks as 24 bits, 24 bits as stored, 32 bits as stored unless masks say otherwise
// (then 32 bits with the alpha mask's value, or 24 bits without an alpha mask).
//
// Limits: an uncompressed file must hold all of its rows. An RLE file may leave pixels
// undefined (end-of-line, delta and end-of-bitmap codes), so its size says little about the
// picture: a picture of more than 2^24 pixels whose RLE data are smaller than one byte per
// 2048 pixels is refused as corrupt instead of allocating for it.
#include "../../core/last_error.h"
#include "../raster_internal.h"
#include "formats_internal.h"

#include <bit>
#include <cstring>
#include <unistd.h>

namespace rkfmt {
namespace {

constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6;

struct Header {
    std::uint32_t headerSize = 0;
    int width = 0, height = 0;
    bool bottomUp = true;
    int bits = 0;
    std::uint32_t compression = 0;
    std::uint32_t masks[4] = {}; // red, green, blue, alpha
    std::vector<tagRGBQUAD> palette;
    std::uint64_t dataOffset = 0;
    int xDpi = 0, yDpi = 0;
};

int corrupt(const char* why)
{
    core::SetLastErrorTextF("BMP: %s", why);
    return RK_ERROR_FILE_CORRUPT;
}

int ProbeBmp(const std::uint8_t* h, std::size_t n, std::uint64_t)
{
    if (n < 18 || h[0] != 'B' || h[1] != 'M')
        return 0;
    const std::uint32_t hs = std::uint32_t(h[14]) | std::uint32_t(h[15]) << 8 |
                             std::uint32_t(h[16]) << 16 | std::uint32_t(h[17]) << 24;
    if (hs != 12 && (hs < 16 || hs > 124))
        return 0;
    if (hs >= 40 && n >= 34) {
        const std::uint32_t c = h[30];
        if (c == kRle8 || c == kRle4)
            return RK_FORMAT_BMP_RLE;
    }
    return RK_FORMAT_BMP;
}

int ReadHeader(core::ByteSource& source, Header& hd)
{
    core::ByteReader in(source, 4096);
    if (in.u8() != 'B' || in.u8() != 'M')
        return RK_ERROR_FILE_FORMAT;
    in.skip(8);
    hd.dataOffset = in.u32le();
    hd.headerSize = in.u32le();
    if (!in.ok())
        return corrupt("truncated header");
    std::uint32_t used = 0;
    std::int64_t height;
    if (hd.headerSize == 12) {
        hd.width = in.u16le();
        height = in.u16le();
        in.u16le(); // planes
        hd.bits = in.u16le();
    } else if (hd.headerSize >= 16 && hd.headerSize <= 124) {
        const std::int32_t w = std::int32_t(in.u32le());
        height = std::int32_t(in.u32le());
        in.u16le();
        hd.bits = in.u16le();
        hd.width = w;
        std::uint32_t fields[10] = {};
        // compression, image size, x and y pixels per metre, colours used, important, masks
        const std::uint32_t extra = (hd.headerSize - 16) / 4;
        for (std::uint32_t i = 0; i < extra && i < 10; ++i)
            fields[i] = in.u32le();
        hd.compression = fields[0];
        hd.xDpi = DotsPerInch(fields[2]);
        hd.yDpi = DotsPerInch(fields[3]);
        used = fields[4];
        if (hd.headerSize >= 52)
            std::memcpy(hd.masks, fields + 6, 3 * sizeof(std::uint32_t));
        if (hd.headerSize >= 56)
            hd.masks[3] = fields[9];
        in.seek(14 + std::uint64_t(hd.headerSize));
        if (hd.headerSize == 40 &&
            (hd.compression == kBitfields || hd.compression == kAlphaBitfields)) {
            for (int i = 0; i < (hd.compression == kAlphaBitfields ? 4 : 3); ++i)
                hd.masks[i] = in.u32le();
        }
    } else {
        return corrupt("unknown header size");
    }
    if (!in.ok())
        return corrupt("truncated header");
    if (hd.width < 1 || height == 0 || height == INT32_MIN)
        return corrupt("bad picture size");
    hd.bottomUp = height > 0;
    hd.height = int(height > 0 ? height : -height);

    switch (hd.compression) {
    case kRgb:
        if (hd.bits != 1 && hd.bits != 4 && hd.bits != 8 && hd.bits != 16 && hd.bits != 24 &&
            hd.bits != 32)
            return RK_ERROR_FORMAT_UNSUPPORTED;
        if (hd.bits == 16) {
            hd.masks[0] = 0x7C00, hd.masks[1] = 0x3E0, hd.masks[2] = 0x1F, hd.masks[3] = 0;
        } else if (hd.bits == 32) {
            hd.masks[0] = 0xFF0000, hd.masks[1] = 0xFF00, hd.masks[2] = 0xFF, hd.masks[3] = 0;
        }
        break;
    case kRle8:
    case kRle4:
        if (hd.bits != (hd.compression == kRle8 ? 8 : 4))
            return corrupt("RLE compression at a depth it does not fit");
        if (!hd.bottomUp)
            return corrupt("RLE rows stored top-down");
        break;
    case kBitfields:
    case kAlphaBitfields:
        if (hd.bits != 16 && hd.bits != 32)
            return corrupt("bit fields at a depth they do not fit");
        if (!hd.masks[0] && !hd.masks[1] && !hd.masks[2])
            return corrupt("empty bit fields");
        break;
    default:
        core::SetLastErrorText("BMP: compression not supported");
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }

    if (hd.bits <= 8) {
        const std::uint32_t full = 1u << hd.bits;
        const std::uint32_t count = (used == 0 || used > full) ? full : used;
        const unsigned entry = hd.headerSize == 12 ? 3 : 4;
        // The table lies between the headers and the pixels; a shorter table (some writers
        // count fewer entries than they say) is read as far as it goes.
        const std::uint64_t tableEnd = in.position() + std::uint64_t(count) * entry;
        std::uint32_t have = count;
        if (hd.dataOffset >= in.position() && hd.dataOffset < tableEnd)
            have = std::uint32_t((hd.dataOffset - in.position()) / entry);
        if (have == 0)
            return corrupt("no colour table");
        hd.palette.resize(have);
        for (std::uint32_t i = 0; i < have; ++i) {
            std::uint8_t q[4] = {};
            in.read(q, entry);
            hd.palette[i] = tagRGBQUAD{q[0], q[1], q[2], 0};
        }
        if (!in.ok())
            return corrupt("truncated colour table");
    }
    if (hd.dataOffset == 0)
        hd.dataOffset = in.position();
    if (hd.dataOffset >= source.size())
        return corrupt("no pixel data");
    return RK_SUCCESS;
}

// Bytes of one stored uncompressed row (4-byte aligned).
std::uint64_t StoredStride(const Header& hd)
{
    return core::CheckedLineSize(hd.width, hd.bits, 4).value_or(0);
}

int InfoBmp(core::ByteSource& source, _FILEINFO& info)
{
    Header hd;
    const int r = ReadHeader(source, hd);
    if (r <= 0)
        return r;
    const bool rle = hd.compression == kRle4 || hd.compression == kRle8;
    info.Format = rle ? RK_FORMAT_BMP_RLE : RK_FORMAT_BMP;
    info.Width = hd.width;
    info.Height = hd.height;
    info.BitsPerPixel = hd.bits;
    info.ViewPerspective = hd.bottomUp ? RK_BOTTOM_LEFT : RK_TOP_LEFT;
    info.XResolution = hd.xDpi;
    info.YResolution = hd.yDpi;
    info.SamplesPerPixel = hd.bits <= 8 ? 1 : (hd.bits == 32 ? 4 : 3);
    const char* text = hd.compression == kRle8 ? "RLE8" : hd.compression == kRle4 ? "RLE4" : "";
    for (int i = 0; text[i]; ++i)
        info.Compression[i] = char16_t(text[i]);
    return RK_SUCCESS;
}

// One colour field of a pixel, scaled to 8 bits.
struct Field {
    unsigned shift = 0;
    unsigned width = 0;
    std::uint32_t mask = 0;
    explicit Field(std::uint32_t m = 0) : mask(m)
    {
        if (m) {
            shift = unsigned(std::countr_zero(m));
            width = unsigned(std::popcount(m));
        }
    }
    std::uint8_t get(std::uint32_t v) const
    {
        if (!mask)
            return 0;
        std::uint32_t c = (v & mask) >> shift;
        if (width >= 8)
            return std::uint8_t(c >> (width - 8));
        const std::uint32_t max = (1u << width) - 1;
        return std::uint8_t((c * 255 + max / 2) / max);
    }
};

int LoadUncompressed(core::ByteSource& source, const Header& hd, RowSink& sink)
{
    const std::uint64_t stride = StoredStride(hd);
    const std::uint64_t line = core::CheckedLineSize(hd.width, hd.bits, 0).value_or(0);
    // All rows must be there (the last one may lack its padding).
    const auto need = core::CheckedAdd(
        core::CheckedMul(stride, std::uint64_t(hd.height - 1)).value_or(UINT64_MAX), line);
    if (!need || !source.contains(hd.dataOffset, *need))
        return corrupt("the file ends before its last row");
    if (!core::FitsAllocation(stride))
        return RK_ERROR_TOO_LARGE;

    PictureShape shape;
    shape.width = hd.width;
    shape.height = hd.height;
    shape.xResolution = hd.xDpi;
    shape.yResolution = hd.yDpi;
    shape.palette = hd.palette;
    const bool topFirst = !hd.bottomUp || sink.PrefersTopDown();
    shape.bottomUp = hd.bottomUp && !topFirst;
    shape.storedBottomUp = hd.bottomUp && topFirst;

    // Which conversion the rows need.
    const bool plain16 =
        hd.bits == 16 && hd.masks[0] == 0x7C00 && hd.masks[1] == 0x3E0 && hd.masks[2] == 0x1F;
    const bool plain32 = hd.bits == 32 && hd.masks[0] == 0xFF0000 && hd.masks[1] == 0xFF00 &&
                         hd.masks[2] == 0xFF && (hd.masks[3] == 0 || hd.masks[3] == 0xFF000000);
    const bool fields = (hd.bits == 16 && !plain16) || (hd.bits == 32 && !plain32);
    const bool alpha = fields && hd.masks[3] != 0;
    shape.bitsPerPixel = fields ? (alpha ? 32 : 24) : hd.bits;
    shape.order = RK_ORDER_BGR;
    int r = sink.Begin(shape);
    if (r <= 0)
        return r;

    rk::Buffer raw, out;
    if (!rk::allocate(raw, stride) ||
        (fields && !rk::allocate(out, std::uint64_t(hd.width) * (alpha ? 4 : 3))))
        return RK_ERROR_NO_MEMORY;
    const Field f[4] = {Field(hd.masks[0]), Field(hd.masks[1]), Field(hd.masks[2]),
                        Field(hd.masks[3])};
    for (int k = 0; k < hd.height; ++k) {
        const int fileRow = topFirst && hd.bottomUp ? hd.height - 1 - k : k;
        const std::uint64_t at = hd.dataOffset + std::uint64_t(fileRow) * stride;
        if (!source.readExact(at, raw.data(), std::size_t(line)))
            return corrupt("the file ends before its last row");
        const std::uint8_t* row = raw.data();
        if (fields) {
            const int n = alpha ? 4 : 3;
            for (int x = 0; x < hd.width; ++x) {
                std::uint32_t v;
                if (hd.bits == 16)
                    v = std::uint32_t(raw[2 * std::size_t(x)]) |
                        std::uint32_t(raw[2 * std::size_t(x) + 1]) << 8;
                else {
                    const std::uint8_t* p = raw.data() + 4 * std::size_t(x);
                    v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24;
                }
                std::uint8_t* d = out.data() + std::size_t(n) * std::size_t(x);
                d[0] = f[2].get(v);
                d[1] = f[1].get(v);
                d[2] = f[0].get(v);
                if (alpha)
                    d[3] = f[3].get(v);
            }
            row = out.data();
        }
        r = sink.Rows(row, 1, 0);
        if (r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

int LoadRle(core::ByteSource& source, const Header& hd, RowSink& sink)
{
    const std::uint64_t data = source.size() - hd.dataOffset;
    const std::uint64_t pixels = std::uint64_t(hd.width) * std::uint64_t(hd.height);
    if (pixels > (std::uint64_t(1) << 24) && pixels / 2048 > data)
        return corrupt("RLE data too small for the picture");
    PictureShape shape;
    shape.width = hd.width;
    shape.height = hd.height;
    shape.bitsPerPixel = 8;
    shape.palette = hd.palette;
    shape.bottomUp = true;
    shape.xResolution = hd.xDpi;
    shape.yResolution = hd.yDpi;
    int r = sink.Begin(shape);
    if (r <= 0)
        return r;
    rk::Buffer row;
    if (!rk::allocate(row, std::uint64_t(hd.width)))
        return RK_ERROR_NO_MEMORY;
    core::ByteReader in(source);
    in.seek(hd.dataOffset);
    const bool four = hd.compression == kRle4;
    int x = 0, y = 0; // y counts delivered rows (from the bottom)
    auto emit = [&]() -> int {
        const int e = sink.Rows(row.data(), 1, 0);
        std::memset(row.data(), 0, row.size());
        ++y;
        x = 0;
        return e;
    };
    auto put = [&](std::uint8_t v) {
        if (x < hd.width)
            row[std::size_t(x)] = v;
        ++x;
    };
    while (y < hd.height) {
        const std::uint8_t a = in.u8();
        const std::uint8_t b = in.u8();
        if (!in.ok())
            return corrupt("the RLE data end before the last row");
        if (a > 0) {
            for (int i = 0; i < a; ++i)
                put(four ? std::uint8_t((i & 1) ? (b & 15) : (b >> 4)) : b);
            continue;
        }
        if (b == 0) { // end of line
            if ((r = emit()) <= 0)
                return r;
        } else if (b == 1) { // end of bitmap: the rest stays index 0
            while (y < hd.height)
                if ((r = emit()) <= 0)
                    return r;
        } else if (b == 2) { // delta
            const int dx = in.u8(), dy = in.u8();
            if (!in.ok())
                return corrupt("the RLE data end before the last row");
            const int keepX = x + dx;
            for (int i = 0; i < dy && y < hd.height; ++i)
                if ((r = emit()) <= 0)
                    return r;
            x = keepX;
        } else { // absolute run of b pixels
            const int bytes = four ? (b + 1) / 2 : b;
            std::uint8_t buf[256];
            if (!in.read(buf, std::size_t(bytes)) || ((bytes & 1) && !in.skip(1)))
                return corrupt("the RLE data end before the last row");
            for (int i = 0; i < b; ++i)
                put(four ? std::uint8_t((i & 1) ? (buf[i / 2] & 15) : (buf[i / 2] >> 4)) : buf[i]);
        }
    }
    return RK_SUCCESS;
}

int LoadBmp(core::ByteSource& source, RowSink& sink)
{
    Header hd;
    const int r = ReadHeader(source, hd);
    if (r <= 0)
        return r;
    if (hd.compression == kRle4 || hd.compression == kRle8)
        return LoadRle(source, hd, sink);
    return LoadUncompressed(source, hd, sink);
}

// ---- writing -------------------------------------------------------------------------------

void RleRow(FdWriter& out, const std::uint8_t* px, int w, bool four)
{
    int i = 0;
    while (i < w) {
        int run = 1;
        while (i + run < w && run < 255 && px[i + run] == px[i])
            ++run;
        if (run >= 2) {
            out.put(std::uint8_t(run));
            out.put(four ? std::uint8_t(px[i] << 4 | px[i]) : px[i]);
            i += run;
            continue;
        }
        int j = i;
        while (j < w && j - i < 255 && !(j + 1 < w && px[j] == px[j + 1]))
            ++j;
        const int len = j - i;
        if (len >= 3) {
            out.put(0);
            out.put(std::uint8_t(len));
            int bytes;
            if (four) {
                bytes = (len + 1) / 2;
                for (int k = 0; k < len; k += 2)
                    out.put(std::uint8_t(px[i + k] << 4 | (k + 1 < len ? px[i + k + 1] : 0)));
            } else {
                bytes = len;
                out.put(px + i, std::size_t(len));
            }
            if (bytes & 1)
                out.put(0);
        } else {
            for (int k = 0; k < len; ++k) {
                out.put(1);
                out.put(four ? std::uint8_t(px[i + k] << 4) : px[i + k]);
            }
        }
        i = j;
    }
    out.put(0);
    out.put(0);
}

int SaveBmp(const SaveRequest& rq, RowSource& rows, int fd)
{
    const bool rle = rq.format == RK_FORMAT_BMP_RLE;
    const int bits = rq.bitsPerPixel;
    if (rle && bits != 4 && bits != 8)
        return RK_ERROR_BITSPERPIXEL;
    const std::uint64_t stride = core::CheckedLineSize(rq.width, bits, 4).value_or(0);
    const std::uint32_t colours = bits <= 8 ? (1u << bits) : 0;
    const std::uint64_t offset = 14 + 40 + 4 * std::uint64_t(colours);
    const auto image = core::CheckedMul(stride, std::uint64_t(rq.height));
    if (!image || (!rle && *image + offset > 0xFFFFFFFFu))
        return RK_ERROR_TOO_LARGE;
    rk::Buffer row;
    rk::Buffer idx;
    if (!rk::allocate(row, stride) || (rle && !rk::allocate(idx, std::uint64_t(rq.width))))
        return RK_ERROR_NO_MEMORY;

    FdWriter out(fd);
    std::uint8_t header[54] = {};
    out.put(header, sizeof header); // written again at the end, once the sizes are known
    for (std::uint32_t i = 0; i < colours; ++i) {
        const tagRGBQUAD q = i < rq.palette.size() ? rq.palette[i] : tagRGBQUAD{0, 0, 0, 0};
        const std::uint8_t e[4] = {q.rgbBlue, q.rgbGreen, q.rgbRed, 0};
        out.put(e, 4);
    }
    std::uint64_t dataBytes = 0;
    for (int k = 0; k < rq.height; ++k) {
        const int r = rows.Rows(row.data(), rq.height - 1 - k, 1, std::size_t(stride));
        if (r <= 0)
            return r;
        if (!rle) {
            out.put(row.data(), std::size_t(stride));
            dataBytes += stride;
            continue;
        }
        for (int x = 0; x < rq.width; ++x)
            idx[std::size_t(x)] = std::uint8_t(core::ReadPixel(row.data(), x, bits));
        RleRow(out, idx.data(), rq.width, bits == 4);
        if (!out.ok())
            return RK_ERROR_FILE_WRITE;
    }
    if (rle) {
        out.put(0);
        out.put(1);
    }
    if (!out.flush())
        return RK_ERROR_FILE_WRITE;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < 0 || std::uint64_t(end) > 0xFFFFFFFFu)
        return RK_ERROR_TOO_LARGE;
    dataBytes = std::uint64_t(end) - offset;
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = std::uint8_t(v >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, std::uint32_t(end));
    put32(10, std::uint32_t(offset));
    put32(14, 40);
    put32(18, std::uint32_t(rq.width));
    put32(22, std::uint32_t(rq.height));
    header[26] = 1;
    header[28] = std::uint8_t(bits);
    put32(30, rle ? (bits == 8 ? kRle8 : kRle4) : kRgb);
    put32(34, std::uint32_t(dataBytes));
    put32(38, PixelsPerMetre(rq.xResolution));
    put32(42, PixelsPerMetre(rq.yResolution));
    put32(46, colours);
    if (::pwrite(fd, header, sizeof header, 0) != ssize_t(sizeof header))
        return RK_ERROR_FILE_WRITE;
    return RK_SUCCESS;
}

constexpr int kBmpFormats[] = {RK_FORMAT_BMP, 0};
constexpr int kBmpDepths[] = {1, 4, 8, 16, 24, 32, 0};
constexpr int kRleFormats[] = {RK_FORMAT_BMP_RLE, 0};
constexpr int kRleDepths[] = {8, 4, 0};

} // namespace

extern const Codec kBmpCodec = {"BMP",   kBmpFormats, kBmpDepths, ProbeBmp,
                                InfoBmp, LoadBmp,     SaveBmp};
extern const Codec kBmpRleCodec = {"BMP RLE", kRleFormats, kRleDepths, nullptr,
                                   InfoBmp,   LoadBmp,     SaveBmp};

} // namespace rkfmt
