// fmt_pcx.cpp - PCX files: read and write 1, 4, 8 and 24 bits (and read 32: four 8-bit planes).
//
// Read layouts: 1 bit in 1 plane (black and white); 1 bit in 2 to 4 planes, or 4 bits in one
// plane (indices into the header's 16-colour palette, delivered as 4 bits); 8 bits in 1 plane
// (the 256-colour palette after the data when the file has one, else a grey ramp); 8 bits in
// 3 or 4 planes (24 or 32 bits). Runs may cross from one plane or row into the next. A file
// whose run-length data could not expand to its picture (at most 63 bytes per 2) is refused as
// corrupt before anything is allocated for it.
//
// Write: version 5, run-length encoded, rows of even length; 1 bit (1 plane), 4 bits (4 planes
// of 1 bit, header palette), 8 bits (1 plane, palette after the data), 24 bits (3 planes).
#include "../../core/last_error.h"
#include "../raster_internal.h"
#include "formats_internal.h"

#include <algorithm>
#include <cstring>

namespace rkfmt {
namespace {

struct Header {
    int version = 0, encoding = 0, bitsPerPlane = 0, planes = 0;
    int width = 0, height = 0;
    std::uint32_t bytesPerLine = 0;
    int xDpi = 0, yDpi = 0;
    std::uint8_t palette16[48] = {};
    int bits = 0; // delivered depth
};

int corrupt(const char* what)
{
    core::SetLastErrorTextF("PCX: %s", what);
    return RK_ERROR_FILE_CORRUPT;
}

int ProbePcx(const std::uint8_t* h, std::size_t n, std::uint64_t)
{
    if (n < 64 || h[0] != 0x0A || h[1] > 5 || h[1] == 1 || h[2] > 1)
        return 0;
    const int bpp = h[3];
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8)
        return 0;
    const int xmin = h[4] | h[5] << 8, ymin = h[6] | h[7] << 8;
    const int xmax = h[8] | h[9] << 8, ymax = h[10] | h[11] << 8;
    return xmax >= xmin && ymax >= ymin ? RK_FORMAT_PCX : 0;
}

int ReadHeader(core::ByteSource& source, Header& hd)
{
    std::uint8_t h[128];
    if (!source.readExact(0, h, sizeof h))
        return corrupt("truncated header");
    if (h[0] != 0x0A)
        return RK_ERROR_FILE_FORMAT;
    hd.version = h[1];
    hd.encoding = h[2];
    hd.bitsPerPlane = h[3];
    const int xmin = h[4] | h[5] << 8, ymin = h[6] | h[7] << 8;
    const int xmax = h[8] | h[9] << 8, ymax = h[10] | h[11] << 8;
    if (xmax < xmin || ymax < ymin)
        return corrupt("bad picture size");
    hd.width = xmax - xmin + 1;
    hd.height = ymax - ymin + 1;
    hd.xDpi = h[12] | h[13] << 8;
    hd.yDpi = h[14] | h[15] << 8;
    std::memcpy(hd.palette16, h + 16, 48);
    hd.planes = h[65];
    hd.bytesPerLine = std::uint32_t(h[66] | h[67] << 8);
    if (hd.encoding > 1)
        return corrupt("unknown encoding");
    const int b = hd.bitsPerPlane, p = hd.planes;
    if (b == 1 && p == 1)
        hd.bits = 1;
    else if ((b == 1 && p >= 2 && p <= 4) || (b == 4 && p == 1))
        hd.bits = 4;
    else if (b == 8 && p == 1)
        hd.bits = 8;
    else if (b == 8 && p == 3)
        hd.bits = 24;
    else if (b == 8 && p == 4)
        hd.bits = 32;
    else {
        core::SetLastErrorText("PCX: plane layout not supported");
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    const std::uint64_t need = core::CheckedLineSize(hd.width, b, 0).value_or(UINT64_MAX);
    if (hd.bytesPerLine < need)
        return corrupt("rows shorter than the picture");
    // Decoded bytes cannot exceed 63 per 2 bytes of data (or 1 per byte uncompressed).
    const std::uint64_t decoded =
        std::uint64_t(hd.bytesPerLine) * std::uint64_t(p) * std::uint64_t(hd.height);
    const std::uint64_t data = source.size() > 128 ? source.size() - 128 : 0;
    if ((hd.encoding == 1 ? (decoded + 62) / 63 * 2 : decoded) > data + 2)
        return corrupt("the file ends before its last row");
    return RK_SUCCESS;
}

int InfoPcx(core::ByteSource& source, _FILEINFO& info)
{
    Header hd;
    const int r = ReadHeader(source, hd);
    if (r <= 0)
        return r;
    info.Format = RK_FORMAT_PCX;
    info.Width = hd.width;
    info.Height = hd.height;
    info.BitsPerPixel = hd.bits;
    info.XResolution = hd.xDpi;
    info.YResolution = hd.yDpi;
    info.SamplesPerPixel = hd.bits > 8 ? hd.planes : 1;
    const char16_t rle[] = u"RLE";
    if (hd.encoding == 1)
        std::memcpy(info.Compression, rle, sizeof rle);
    return RK_SUCCESS;
}

// Run-length decoding as one stream: a run may continue into the next plane or row.
class Decoder {
public:
    Decoder(core::ByteSource& source, bool rle) : in_(source), rle_(rle) { in_.seek(128); }
    bool next(std::uint8_t* dst, std::size_t n)
    {
        std::size_t i = 0;
        while (i < n) {
            if (runLeft_ > 0) {
                const std::size_t k = std::min<std::size_t>(runLeft_, n - i);
                std::memset(dst + i, runValue_, k);
                runLeft_ -= int(k);
                i += k;
                continue;
            }
            const std::uint8_t b = in_.u8();
            if (!in_.ok())
                return false;
            if (rle_ && (b & 0xC0) == 0xC0) {
                runLeft_ = b & 0x3F;
                runValue_ = in_.u8();
                if (!in_.ok())
                    return false;
            } else {
                dst[i++] = b;
            }
        }
        return true;
    }

private:
    core::ByteReader in_;
    bool rle_;
    int runLeft_ = 0;
    std::uint8_t runValue_ = 0;
};

int LoadPcx(core::ByteSource& source, RowSink& sink)
{
    Header hd;
    int r = ReadHeader(source, hd);
    if (r <= 0)
        return r;
    PictureShape shape;
    shape.width = hd.width;
    shape.height = hd.height;
    shape.bitsPerPixel = hd.bits;
    shape.order = RK_ORDER_BGR;
    shape.xResolution = hd.xDpi;
    shape.yResolution = hd.yDpi;
    if (hd.bits == 1) {
        shape.palette = {tagRGBQUAD{0, 0, 0, 0}, tagRGBQUAD{255, 255, 255, 0}};
    } else if (hd.bits == 4) {
        shape.palette.resize(16);
        for (int i = 0; i < 16; ++i)
            shape.palette[std::size_t(i)] = tagRGBQUAD{
                hd.palette16[3 * i + 2], hd.palette16[3 * i + 1], hd.palette16[3 * i], 0};
    } else if (hd.bits == 8) {
        std::uint8_t tail[769];
        if (hd.version >= 5 && source.size() >= 128 + 769 &&
            source.readExact(source.size() - 769, tail, sizeof tail) && tail[0] == 0x0C) {
            shape.palette.resize(256);
            for (int i = 0; i < 256; ++i)
                shape.palette[std::size_t(i)] =
                    tagRGBQUAD{tail[1 + 3 * i + 2], tail[1 + 3 * i + 1], tail[1 + 3 * i], 0};
        } else {
            shape.palette.resize(256);
            for (int i = 0; i < 256; ++i)
                shape.palette[std::size_t(i)] =
                    tagRGBQUAD{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
        }
    }
    r = sink.Begin(shape);
    if (r <= 0)
        return r;
    const std::size_t bpl = hd.bytesPerLine;
    rk::Buffer planes, row;
    if (!rk::allocate(planes, std::uint64_t(bpl) * std::uint64_t(hd.planes)) ||
        !rk::allocate(row, core::CheckedLineSize(hd.width, hd.bits, 0).value_or(0)))
        return RK_ERROR_NO_MEMORY;
    Decoder dec(source, hd.encoding == 1);
    for (int y = 0; y < hd.height; ++y) {
        if (!dec.next(planes.data(), planes.size()))
            return corrupt("the file ends before its last row");
        const std::uint8_t* src = planes.data();
        if (hd.bits == 1 || (hd.bits == 4 && hd.planes == 1) || hd.bits == 8) {
            std::memcpy(row.data(), src, row.size());
        } else if (hd.bits == 4) {
            std::memset(row.data(), 0, row.size());
            for (int x = 0; x < hd.width; ++x) {
                unsigned v = 0;
                for (int p = 0; p < hd.planes; ++p)
                    v |= unsigned(
                             (src[std::size_t(p) * bpl + std::size_t(x >> 3)] >> (7 - (x & 7))) & 1)
                         << p;
                core::WritePixel(row.data(), x, 4, v);
            }
        } else {
            const int n = hd.bits / 8;
            for (int x = 0; x < hd.width; ++x) {
                std::uint8_t* d = row.data() + std::size_t(n) * std::size_t(x);
                d[0] = src[2 * bpl + std::size_t(x)];
                d[1] = src[bpl + std::size_t(x)];
                d[2] = src[std::size_t(x)];
                if (n == 4)
                    d[3] = src[3 * bpl + std::size_t(x)];
            }
        }
        r = sink.Rows(row.data(), 1, 0);
        if (r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

// ---- writing -------------------------------------------------------------------------------

void EncodePlane(FdWriter& out, const std::uint8_t* p, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 63 && p[i + run] == p[i])
            ++run;
        if (run > 1 || (p[i] & 0xC0) == 0xC0)
            out.put(std::uint8_t(0xC0 | run));
        out.put(p[i]);
        i += run;
    }
}

int SavePcx(const SaveRequest& rq, RowSource& rows, int fd)
{
    const int bits = rq.bitsPerPixel;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return RK_ERROR_BITSPERPIXEL;
    if (rq.width > 0xFFFF || rq.height > 0xFFFF)
        return RK_ERROR_FORMAT_UNSUPPORTED;
    const int planes = bits == 4 ? 4 : bits == 24 ? 3 : 1;
    const int planeBits = bits == 4 ? 1 : bits == 24 ? 8 : bits;
    std::uint64_t bpl = core::CheckedLineSize(rq.width, planeBits, 0).value_or(0);
    bpl += bpl & 1;
    if (bpl > 0xFFFF)
        return RK_ERROR_FORMAT_UNSUPPORTED;
    std::uint8_t h[128] = {};
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = std::uint8_t(planeBits);
    auto put16 = [&](int at, int v) {
        h[at] = std::uint8_t(v);
        h[at + 1] = std::uint8_t(v >> 8);
    };
    put16(8, rq.width - 1);
    put16(10, rq.height - 1);
    put16(12, std::clamp(rq.xResolution, 0, 0xFFFF));
    put16(14, std::clamp(rq.yResolution, 0, 0xFFFF));
    if (bits == 4 || bits == 1) {
        for (int i = 0; i < (bits == 4 ? 16 : 2); ++i) {
            const tagRGBQUAD q = std::size_t(i) < rq.palette.size() ? rq.palette[std::size_t(i)]
                                                                    : tagRGBQUAD{0, 0, 0, 0};
            h[16 + 3 * i] = q.rgbRed;
            h[17 + 3 * i] = q.rgbGreen;
            h[18 + 3 * i] = q.rgbBlue;
        }
    }
    h[65] = std::uint8_t(planes);
    put16(66, int(bpl));
    put16(68, 1);
    FdWriter out(fd);
    out.put(h, sizeof h);
    rk::Buffer row, plane;
    if (!rk::allocate(row, core::CheckedLineSize(rq.width, bits, 4).value_or(0)) ||
        !rk::allocate(plane, bpl))
        return RK_ERROR_NO_MEMORY;
    for (int y = 0; y < rq.height; ++y) {
        const int r = rows.Rows(row.data(), y, 1, row.size());
        if (r <= 0)
            return r;
        for (int p = 0; p < planes; ++p) {
            std::memset(plane.data(), 0, plane.size());
            if (bits == 1 || bits == 8) {
                std::memcpy(plane.data(), row.data(),
                            std::size_t(core::CheckedLineSize(rq.width, bits, 0).value_or(0)));
            } else if (bits == 4) {
                for (int x = 0; x < rq.width; ++x)
                    if ((core::ReadPixel(row.data(), x, 4) >> p) & 1)
                        plane[std::size_t(x >> 3)] |= std::uint8_t(0x80 >> (x & 7));
            } else {
                // 24-bit rows: planes red, green, blue.
                const int byte = rq.order == RK_ORDER_RGB ? p : 2 - p;
                for (int x = 0; x < rq.width; ++x)
                    plane[std::size_t(x)] = row[3 * std::size_t(x) + std::size_t(byte)];
            }
            EncodePlane(out, plane.data(), plane.size());
        }
        if (!out.ok())
            return RK_ERROR_FILE_WRITE;
    }
    if (bits == 8) {
        out.put(0x0C);
        for (int i = 0; i < 256; ++i) {
            const tagRGBQUAD q = std::size_t(i) < rq.palette.size() ? rq.palette[std::size_t(i)]
                                                                    : tagRGBQUAD{0, 0, 0, 0};
            const std::uint8_t e[3] = {q.rgbRed, q.rgbGreen, q.rgbBlue};
            out.put(e, 3);
        }
    }
    return out.flush() ? RK_SUCCESS : RK_ERROR_FILE_WRITE;
}

constexpr int kPcxFormats[] = {RK_FORMAT_PCX, 0};
constexpr int kPcxDepths[] = {1, 4, 8, 24, 0};

} // namespace

extern const Codec kPcxCodec = {"PCX",   kPcxFormats, kPcxDepths, ProbePcx,
                                InfoPcx, LoadPcx,     SavePcx};

} // namespace rkfmt
