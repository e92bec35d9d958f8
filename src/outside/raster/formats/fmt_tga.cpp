// fmt_tga.cpp - Truevision TGA files: read colour-mapped (8-bit indices), true-colour (15, 16,
// 24, 32 bits) and grey (8 bits), uncompressed or run-length encoded, any origin; write
// uncompressed 8 (colour-mapped, or grey for a grey-ramp palette), 16, 24 and 32 bits with the
// origin at the top left and a version 2 footer.
//
// TGA has no signature: a file is recognised when every header field is one this reader
// accepts and the file is large enough for its colour map and, uncompressed, for its pixels.
// Native rows: 8-bit indices with the colour map (entries past index 255 are dropped), grey as
// a grey ramp palette, 15/16 bits as 5-5-5 (the attribute bit dropped), 24 bits, 32 bits (the
// fourth byte as stored). Right-to-left files are mirrored. Uncompressed bottom-up files are
// read top row first when the receiver prefers it. Run-length packets may cross rows; a file
// whose packets could not expand to its picture (128 pixels per packet) is refused as corrupt.
#include "../../core/last_error.h"
#include "../raster_internal.h"
#include "convert_internal.h"
#include "formats_internal.h"

#include <algorithm>
#include <cstring>

namespace rkfmt {
namespace {

struct Header {
    int idLength = 0, mapType = 0, type = 0;
    int mapFirst = 0, mapLength = 0, mapEntryBits = 0;
    int width = 0, height = 0, depth = 0, descriptor = 0;
    bool rle = false, mapped = false, grey = false;
    bool bottomUp = true, rightToLeft = false;
    std::uint64_t mapOffset = 0, dataOffset = 0;
    int bytesPerPixel = 0;
};

int corrupt(const char* what)
{
    core::SetLastErrorTextF("TGA: %s", what);
    return RK_ERROR_FILE_CORRUPT;
}

bool Parse(const std::uint8_t* h, std::uint64_t fileSize, Header& hd)
{
    hd.idLength = h[0];
    hd.mapType = h[1];
    hd.type = h[2];
    hd.mapFirst = h[3] | h[4] << 8;
    hd.mapLength = h[5] | h[6] << 8;
    hd.mapEntryBits = h[7];
    hd.width = h[12] | h[13] << 8;
    hd.height = h[14] | h[15] << 8;
    hd.depth = h[16];
    hd.descriptor = h[17];
    if (hd.mapType > 1 || hd.width == 0 || hd.height == 0 || (hd.descriptor & 0xC0))
        return false;
    const int base = hd.type & 7;
    hd.rle = hd.type & 8;
    if ((hd.type & ~0xB) != 0 || base < 1 || base > 3)
        return false;
    hd.mapped = base == 1;
    hd.grey = base == 3;
    if (hd.mapType == 1 && hd.mapEntryBits != 15 && hd.mapEntryBits != 16 &&
        hd.mapEntryBits != 24 && hd.mapEntryBits != 32)
        return false;
    if (hd.mapped && (hd.mapType != 1 || hd.depth != 8 || hd.mapLength == 0))
        return false;
    if (base == 2 && hd.depth != 15 && hd.depth != 16 && hd.depth != 24 && hd.depth != 32)
        return false;
    if (hd.grey && hd.depth != 8)
        return false;
    hd.bytesPerPixel = (hd.depth + 7) / 8;
    hd.bottomUp = !(hd.descriptor & 0x20);
    hd.rightToLeft = hd.descriptor & 0x10;
    hd.mapOffset = 18 + std::uint64_t(hd.idLength);
    const std::uint64_t mapBytes =
        hd.mapType ? std::uint64_t(hd.mapLength) * std::uint64_t((hd.mapEntryBits + 7) / 8) : 0;
    hd.dataOffset = hd.mapOffset + mapBytes;
    if (hd.dataOffset > fileSize)
        return false;
    const std::uint64_t pixels = std::uint64_t(hd.width) * std::uint64_t(hd.height);
    const std::uint64_t data = fileSize - hd.dataOffset;
    if (!hd.rle && pixels * std::uint64_t(hd.bytesPerPixel) > data)
        return false;
    if (hd.rle && (pixels + 127) / 128 * std::uint64_t(1 + hd.bytesPerPixel) > data)
        return false;
    return true;
}

int ProbeTga(const std::uint8_t* h, std::size_t n, std::uint64_t fileSize)
{
    Header hd;
    return n >= 18 && Parse(h, fileSize, hd) ? RK_FORMAT_TGA : 0;
}

int ReadHeader(core::ByteSource& source, Header& hd)
{
    std::uint8_t h[18];
    if (!source.readExact(0, h, sizeof h))
        return corrupt("truncated header");
    if (!Parse(h, source.size(), hd))
        return corrupt("bad header or truncated data");
    return RK_SUCCESS;
}

int InfoTga(core::ByteSource& source, _FILEINFO& info)
{
    Header hd;
    const int r = ReadHeader(source, hd);
    if (r <= 0)
        return r;
    info.Format = RK_FORMAT_TGA;
    info.Width = hd.width;
    info.Height = hd.height;
    info.BitsPerPixel = hd.depth == 15 ? 16 : hd.depth;
    info.ViewPerspective = hd.bottomUp ? RK_BOTTOM_LEFT : RK_TOP_LEFT;
    info.SamplesPerPixel = hd.depth >= 24 ? hd.depth / 8 : (hd.mapped || hd.grey) ? 1 : 3;
    const char16_t rle[] = u"RLE";
    if (hd.rle)
        std::memcpy(info.Compression, rle, sizeof rle);
    return RK_SUCCESS;
}

tagRGBQUAD Entry(const std::uint8_t* p, int bits)
{
    if (bits <= 16) {
        const unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
        auto five = [](unsigned c) { return std::uint8_t((c << 3) | (c >> 2)); };
        return tagRGBQUAD{five(v & 31), five((v >> 5) & 31), five((v >> 10) & 31), 0};
    }
    return tagRGBQUAD{p[0], p[1], p[2], 0};
}

// Pixel packets as one stream: a packet may continue into the next row.
class RleDecoder {
public:
    RleDecoder(core::ByteSource& source, std::uint64_t at, int bpp) : in_(source), bpp_(bpp)
    {
        in_.seek(at);
    }
    bool next(std::uint8_t* dst, int pixels)
    {
        int i = 0;
        while (i < pixels) {
            if (left_ == 0) {
                const std::uint8_t h = in_.u8();
                left_ = (h & 0x7F) + 1;
                repeat_ = h & 0x80;
                if (repeat_)
                    in_.read(value_, std::size_t(bpp_));
                if (!in_.ok())
                    return false;
            }
            const int k = std::min(left_, pixels - i);
            std::uint8_t* d = dst + std::size_t(i) * std::size_t(bpp_);
            if (repeat_) {
                for (int j = 0; j < k; ++j)
                    std::memcpy(d + std::size_t(j) * std::size_t(bpp_), value_, std::size_t(bpp_));
            } else if (!in_.read(d, std::size_t(k) * std::size_t(bpp_))) {
                return false;
            }
            left_ -= k;
            i += k;
        }
        return true;
    }

private:
    core::ByteReader in_;
    int bpp_;
    int left_ = 0;
    bool repeat_ = false;
    std::uint8_t value_[4] = {};
};

int LoadTga(core::ByteSource& source, RowSink& sink)
{
    Header hd;
    int r = ReadHeader(source, hd);
    if (r <= 0)
        return r;
    PictureShape shape;
    shape.width = hd.width;
    shape.height = hd.height;
    shape.order = RK_ORDER_BGR;
    if (hd.mapped) {
        shape.bitsPerPixel = 8;
        shape.palette.assign(256, tagRGBQUAD{0, 0, 0, 0});
        const int entryBytes = (hd.mapEntryBits + 7) / 8;
        std::uint8_t e[4];
        int highest = 0;
        for (int i = 0; i < hd.mapLength && hd.mapFirst + i < 256; ++i) {
            if (!source.readExact(hd.mapOffset + std::uint64_t(i) * std::uint64_t(entryBytes), e,
                                  std::size_t(entryBytes)))
                return corrupt("truncated colour map");
            shape.palette[std::size_t(hd.mapFirst + i)] = Entry(e, hd.mapEntryBits);
            highest = hd.mapFirst + i + 1;
        }
        shape.palette.resize(std::size_t(std::max(highest, 1)));
    } else if (hd.grey) {
        shape.bitsPerPixel = 8;
        shape.palette = GreyRamp(256);
    } else {
        shape.bitsPerPixel = hd.depth == 15 ? 16 : hd.depth;
    }
    const bool topFirst = !hd.bottomUp || (!hd.rle && sink.PrefersTopDown());
    shape.bottomUp = hd.bottomUp && !topFirst;
    shape.storedBottomUp = hd.bottomUp && topFirst;
    r = sink.Begin(shape);
    if (r <= 0)
        return r;
    const std::size_t bpp = std::size_t(hd.bytesPerPixel);
    const std::size_t line = std::size_t(hd.width) * bpp;
    rk::Buffer row;
    if (!rk::allocate(row, line))
        return RK_ERROR_NO_MEMORY;
    RleDecoder dec(source, hd.dataOffset, hd.bytesPerPixel);
    for (int k = 0; k < hd.height; ++k) {
        if (hd.rle) {
            if (!dec.next(row.data(), hd.width))
                return corrupt("the file ends before its last row");
        } else {
            const int fileRow = topFirst && hd.bottomUp ? hd.height - 1 - k : k;
            if (!source.readExact(hd.dataOffset + std::uint64_t(fileRow) * line, row.data(), line))
                return corrupt("the file ends before its last row");
        }
        if (hd.rightToLeft) {
            for (int a = 0, b = hd.width - 1; a < b; ++a, --b)
                std::swap_ranges(row.data() + std::size_t(a) * bpp,
                                 row.data() + std::size_t(a + 1) * bpp,
                                 row.data() + std::size_t(b) * bpp);
        }
        if (hd.depth <= 16 && !hd.mapped && !hd.grey)
            for (int x = 0; x < hd.width; ++x)
                row[2 * std::size_t(x) + 1] &= 0x7F;
        r = sink.Rows(row.data(), 1, 0);
        if (r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

// ---- writing -------------------------------------------------------------------------------

bool IsGreyRamp(const std::vector<tagRGBQUAD>& palette)
{
    if (palette.size() < 256)
        return false;
    for (int i = 0; i < 256; ++i) {
        const tagRGBQUAD& q = palette[std::size_t(i)];
        if (q.rgbRed != i || q.rgbGreen != i || q.rgbBlue != i)
            return false;
    }
    return true;
}

int SaveTga(const SaveRequest& rq, RowSource& rows, int fd)
{
    const int bits = rq.bitsPerPixel;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return RK_ERROR_BITSPERPIXEL;
    if (rq.width > 0xFFFF || rq.height > 0xFFFF)
        return RK_ERROR_FORMAT_UNSUPPORTED;
    const bool grey = bits == 8 && IsGreyRamp(rq.palette);
    const bool mapped = bits == 8 && !grey;
    std::uint8_t h[18] = {};
    h[1] = mapped ? 1 : 0;
    h[2] = mapped ? 1 : grey ? 3 : 2;
    if (mapped) {
        h[5] = 0; // 256 entries
        h[6] = 1;
        h[7] = 24;
    }
    h[12] = std::uint8_t(rq.width);
    h[13] = std::uint8_t(rq.width >> 8);
    h[14] = std::uint8_t(rq.height);
    h[15] = std::uint8_t(rq.height >> 8);
    h[16] = std::uint8_t(bits);
    h[17] = std::uint8_t(0x20 | (bits == 32 ? 8 : 0));
    FdWriter out(fd);
    out.put(h, sizeof h);
    if (mapped) {
        for (int i = 0; i < 256; ++i) {
            const tagRGBQUAD q = std::size_t(i) < rq.palette.size() ? rq.palette[std::size_t(i)]
                                                                    : tagRGBQUAD{0, 0, 0, 0};
            const std::uint8_t e[3] = {q.rgbBlue, q.rgbGreen, q.rgbRed};
            out.put(e, 3);
        }
    }
    const std::size_t line = std::size_t(rq.width) * std::size_t(bits / 8);
    rk::Buffer row;
    if (!rk::allocate(row, core::CheckedLineSize(rq.width, bits, 4).value_or(0)))
        return RK_ERROR_NO_MEMORY;
    for (int y = 0; y < rq.height; ++y) {
        const int r = rows.Rows(row.data(), y, 1, row.size());
        if (r <= 0)
            return r;
        if (bits >= 24 && rq.order == RK_ORDER_RGB)
            for (int x = 0; x < rq.width; ++x)
                std::swap(row[std::size_t(x) * std::size_t(bits / 8)],
                          row[std::size_t(x) * std::size_t(bits / 8) + 2]);
        out.put(row.data(), line);
        if (!out.ok())
            return RK_ERROR_FILE_WRITE;
    }
    static const std::uint8_t footer[26] = {0,   0,   0,   0,   0,   0,   0,   0,   'T',
                                            'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O', 'N',
                                            '-', 'X', 'F', 'I', 'L', 'E', '.', 0};
    out.put(footer, sizeof footer);
    return out.flush() ? RK_SUCCESS : RK_ERROR_FILE_WRITE;
}

constexpr int kTgaFormats[] = {RK_FORMAT_TGA, 0};
constexpr int kTgaDepths[] = {8, 16, 24, 32, 0};

} // namespace

extern const Codec kTgaCodec = {"TGA",   kTgaFormats, kTgaDepths, ProbeTga,
                                InfoTga, LoadTga,     SaveTga};

} // namespace rkfmt
