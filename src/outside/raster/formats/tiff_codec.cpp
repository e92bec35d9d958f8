// tiff_codec.cpp - TIFF through libtiff: the generic route (contract in codecs_b.h).
//
// Contents
//   probe, info       header signature; format number from compression and photometric
//   load              the RGBA interface, band by band (a band is a strip or a tile row)
//   save              none, LZW, PackBits or Deflate; bilevel, grey, palette, RGB(A), CMYK
#include "../../codec/tiff_support.h"
#include "../../core/checked_size.h"
#include "../../core/last_error.h"
#include "codecs_b.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

namespace {

using rkfmt::PictureShape;
using rkfmt::RowSink;
using rkfmt::RowSource;
using rkfmt::SaveRequest;

// The RGBA interface makes libtiff allocate whole strips or tiles; nothing more for one.
constexpr tmsize_t kMaxSingleAlloc = tmsize_t(512) << 20;
// A band of decoded RGBA rows stays below this.
constexpr std::uint64_t kMaxBandBytes = 32ull << 20;

// ---- probe and info ---------------------------------------------------------------------------

int ProbeTiff(const std::uint8_t* head, std::size_t bytes, std::uint64_t)
{
    if (bytes < 4)
        return 0;
    const bool little =
        head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43);
    const bool big =
        head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return little || big ? RK_FORMAT_TIFF : 0;
}

struct Layout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t samples = 1, bits = 1, inkset = INKSET_CMYK;
    std::uint16_t subH = 1, subV = 1; // YCbCr chroma subsampling
    bool tiled = false;
};

Layout ReadLayout(TIFF* tif)
{
    Layout l;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        l.photometric = l.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &l.inkset);
    if (l.photometric == PHOTOMETRIC_YCBCR)
        TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &l.subH, &l.subV);
    l.tiled = TIFFIsTiled(tif) != 0;
    return l;
}

bool IsCmyk(const Layout& l)
{
    return l.photometric == PHOTOMETRIC_SEPARATED && l.inkset == INKSET_CMYK && l.samples >= 4;
}

int FormatOf(const Layout& l)
{
    const bool cmyk = IsCmyk(l);
    switch (l.compression) {
    case COMPRESSION_NONE:
        return cmyk ? RK_FORMAT_TIFF_CMYK : RK_FORMAT_TIFF;
    case COMPRESSION_LZW:
        return cmyk ? RK_FORMAT_TIFF_CMYK_LZW : RK_FORMAT_TIFF_LZW;
    case COMPRESSION_PACKBITS:
        return cmyk ? RK_FORMAT_TIFF_CMYK_PACKBITS : RK_FORMAT_TIFF_PACKBITS;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return cmyk ? RK_FORMAT_TIFF_CMYK_DEFLATE : RK_FORMAT_TIFF_DEFLATE;
    case COMPRESSION_JPEG:
        if (cmyk)
            return RK_FORMAT_TIFF_CMYK_JPEG;
        if (l.photometric == PHOTOMETRIC_YCBCR && l.subH * l.subV >= 4)
            return RK_FORMAT_TIFF_JPEG_420;
        if (l.photometric == PHOTOMETRIC_YCBCR && l.subH * l.subV == 2)
            return RK_FORMAT_TIFF_JPEG_422;
        return RK_FORMAT_TIFF_JPEG;
    case COMPRESSION_OJPEG:
        return cmyk ? RK_FORMAT_TIFF_CMYK_OTHER : RK_FORMAT_TIFF_OLD_JPEG;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
        return RK_FORMAT_TIFF_CCITT;
    default:
        return cmyk ? RK_FORMAT_TIFF_CMYK_OTHER : RK_FORMAT_TIFF_OTHER;
    }
}

const char* CompressionName(std::uint16_t c)
{
    switch (c) {
    case COMPRESSION_NONE:
        return "None";
    case COMPRESSION_LZW:
        return "LZW";
    case COMPRESSION_PACKBITS:
        return "PackBits";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return "Deflate";
    case COMPRESSION_JPEG:
        return "JPEG";
    case COMPRESSION_OJPEG:
        return "Old JPEG";
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
        return "CCITT RLE";
    case COMPRESSION_CCITTFAX3:
        return "CCITT Group 3";
    case COMPRESSION_CCITTFAX4:
        return "CCITT Group 4";
    default:
        return "Other";
    }
}

void Resolution(TIFF* tif, int& x, int& y)
{
    x = y = 0;
    float rx = 0, ry = 0;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)
        return;
    const double scale = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    auto whole = [scale](float v) {
        const double d = double(v) * scale;
        return std::isfinite(d) && d > 0 && d < 1e9 ? static_cast<int>(std::lround(d)) : 0;
    };
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &rx))
        x = whole(rx);
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &ry))
        y = whole(ry);
}

bool HasAlpha(TIFF* tif)
{
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) || !kinds)
        return false;
    for (std::uint16_t i = 0; i < count; ++i)
        if (kinds[i] == EXTRASAMPLE_ASSOCALPHA || kinds[i] == EXTRASAMPLE_UNASSALPHA)
            return true;
    return false;
}

int InfoTiff(core::ByteSource& source, _FILEINFO& info)
{
    auto in = codec::TiffInput::Open(source, "r", "input", kMaxSingleAlloc);
    if (!in)
        return RK_ERROR_FILE_CORRUPT;
    const Layout l = ReadLayout(*in);
    if (l.width < 1 || l.height < 1 || l.width > 0x7FFFFFFF || l.height > 0x7FFFFFFF) {
        core::SetLastErrorText("TIFF without a picture size");
        return RK_ERROR_FILE_CORRUPT;
    }
    info.Format = FormatOf(l);
    info.Width = static_cast<std::int32_t>(l.width);
    info.Height = static_cast<std::int32_t>(l.height);
    info.BitsPerPixel = std::min(64, int(l.samples) * int(l.bits));
    info.ViewPerspective = RK_TOP_LEFT;
    info.Order = RK_ORDER_BGR;
    info.PageNumber = 1;
    info.PageCount =
        static_cast<std::int32_t>(std::min<tdir_t>(TIFFNumberOfDirectories(*in), 0x7FFFFFFF));
    Resolution(*in, info.XResolution, info.YResolution);
    switch (l.photometric) {
    case PHOTOMETRIC_SEPARATED:
        info.ColourModel = RK_COLOUR_MODEL_CMYK;
        break;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        info.ColourModel = RK_COLOUR_MODEL_LAB;
        break;
    default:
        info.ColourModel = RK_COLOUR_MODEL_RGB;
        break;
    }
    info.SamplesPerPixel = l.samples;
    rkfmt::SetCompressionText(info, CompressionName(l.compression));
    return RK_SUCCESS;
}

// ---- load -------------------------------------------------------------------------------------

struct RgbaImage {
    TIFFRGBAImage img{};
    bool begun = false;
    ~RgbaImage()
    {
        if (begun)
            TIFFRGBAImageEnd(&img);
    }
};

int LoadTiff(core::ByteSource& source, RowSink& sink)
{
    std::unique_ptr<std::uint8_t[]> rawTile; // outlives the handle that reads into it
    auto in = codec::TiffInput::Open(source, "r", "input", kMaxSingleAlloc);
    if (!in)
        return RK_ERROR_FILE_CORRUPT;
    TIFF* tif = *in;
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) {
        core::SetLastErrorText(message);
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    const Layout l = ReadLayout(tif);
    if (l.width < 1 || l.height < 1 || l.width > 0x7FFFFFFF || l.height > 0x7FFFFFFF) {
        core::SetLastErrorText("TIFF without a picture size");
        return RK_ERROR_FILE_CORRUPT;
    }
    // Compressed data cannot stand for more than so many pixels per byte; a tiny file that
    // claims a huge picture is refused before anything is made for it.
    const auto pixels = core::CheckedMul(l.width, l.height);
    const auto allowed = core::CheckedMul(std::max<std::uint64_t>(source.size(), 16), 65536);
    if (!pixels || (allowed && *pixels > *allowed)) {
        core::SetLastErrorText("the TIFF's picture is far larger than its data");
        return RK_ERROR_FILE_CORRUPT;
    }

    auto rgba = std::make_unique<RgbaImage>();
    if (!TIFFRGBAImageBegin(&rgba->img, tif, 1, message)) {
        core::SetLastErrorText(message);
        return RK_ERROR_FILE_CORRUPT;
    }
    rgba->begun = true;
    // libtiff (4.5) refuses an uncompressed tile unless its raw buffer holds exactly one
    // tile, while the buffer it allocates itself for a file it cannot map is rounded up to
    // a multiple of 1024 bytes: every tile whose size is not such a multiple would be
    // refused. A buffer of ours of exactly one tile keeps those tiles readable.
    if (l.tiled && l.compression == COMPRESSION_NONE) {
        const tmsize_t tileBytes = TIFFTileSize(tif);
        if (tileBytes <= 0 || tileBytes > kMaxSingleAlloc)
            return RK_ERROR_FILE_CORRUPT;
        rawTile.reset(new (std::nothrow) std::uint8_t[std::size_t(tileBytes)]);
        if (!rawTile)
            return RK_ERROR_NO_MEMORY;
        if (!TIFFReadBufferSetup(tif, rawTile.get(), tileBytes))
            return RK_ERROR_FILE_CORRUPT;
    }
    // Rows go out in file order: a picture stored bottom row first is delivered that way
    // (flipping it here would mean decoding it whole first). Mirrored ones are turned round.
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    const bool bottomUp = orientation == ORIENTATION_BOTLEFT || orientation == ORIENTATION_BOTRIGHT;
    rgba->img.req_orientation = bottomUp ? ORIENTATION_BOTLEFT : ORIENTATION_TOPLEFT;
    const bool alpha = rgba->img.alpha != 0 || HasAlpha(tif);

    // One band is a strip or a row of tiles, so each is decoded once.
    std::uint32_t bandRows = 0;
    if (l.tiled)
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
    const std::uint64_t rowRgba = std::uint64_t(l.width) * 4;
    bandRows = std::clamp<std::uint32_t>(bandRows, 1, l.height);
    bandRows = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(bandRows, kMaxBandBytes / rowRgba)));
    const int bits = alpha ? 32 : 24;
    const auto outRow = core::CheckedLineSize(l.width, bits);
    if (!outRow || !core::FitsAllocation(rowRgba * bandRows, kMaxBandBytes + rowRgba))
        return RK_ERROR_TOO_LARGE;
    std::unique_ptr<std::uint32_t[]> raster(new (std::nothrow)
                                                std::uint32_t[std::size_t(l.width) * bandRows]);
    std::unique_ptr<std::uint8_t[]> out(new (std::nothrow)
                                            std::uint8_t[std::size_t(*outRow) * bandRows]);
    if (!raster || !out)
        return RK_ERROR_NO_MEMORY;

    PictureShape shape;
    shape.width = static_cast<int>(l.width);
    shape.height = static_cast<int>(l.height);
    shape.bitsPerPixel = bits;
    shape.order = RK_ORDER_BGR;
    shape.bottomUp = bottomUp;
    Resolution(tif, shape.xResolution, shape.yResolution);
    if (const int r = sink.Begin(shape); r <= 0)
        return r;

    for (std::uint32_t row = 0; row < l.height; row += bandRows) {
        const std::uint32_t count = std::min(bandRows, l.height - row);
        rgba->img.row_offset = static_cast<int>(row);
        rgba->img.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba->img, raster.get(), l.width, count))
            return RK_ERROR_FILE_CORRUPT;
        for (std::uint32_t y = 0; y < count; ++y) {
            const std::uint32_t* p = raster.get() + std::size_t(y) * l.width;
            std::uint8_t* o = out.get() + std::size_t(y) * std::size_t(*outRow);
            for (std::uint32_t x = 0; x < l.width; ++x) {
                const std::uint32_t v = p[x];
                std::uint8_t r = std::uint8_t(TIFFGetR(v)), g = std::uint8_t(TIFFGetG(v)),
                             b = std::uint8_t(TIFFGetB(v));
                if (alpha) {
                    // The RGBA interface hands premultiplied colour; the kernel's is straight.
                    const unsigned a = TIFFGetA(v);
                    auto straight = [a](unsigned c) {
                        return a == 0 ? std::uint8_t(0)
                                      : std::uint8_t(std::min(255u, (c * 255 + a / 2) / a));
                    };
                    if (a != 255) {
                        r = straight(r);
                        g = straight(g);
                        b = straight(b);
                    }
                    o[0] = b;
                    o[1] = g;
                    o[2] = r;
                    o[3] = std::uint8_t(a);
                    o += 4;
                } else {
                    o[0] = b;
                    o[1] = g;
                    o[2] = r;
                    o += 3;
                }
            }
        }
        if (const int r = sink.Rows(out.get(), static_cast<int>(count), std::size_t(*outRow));
            r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

// ---- save -------------------------------------------------------------------------------------

bool IsCmykFormat(int format)
{
    return format == RK_FORMAT_TIFF_CMYK || format == RK_FORMAT_TIFF_CMYK_LZW ||
           format == RK_FORMAT_TIFF_CMYK_PACKBITS;
}

std::uint16_t CompressionFor(int format)
{
    switch (format) {
    case RK_FORMAT_TIFF_LZW:
    case RK_FORMAT_TIFF_CMYK_LZW:
        return COMPRESSION_LZW;
    case RK_FORMAT_TIFF_PACKBITS:
    case RK_FORMAT_TIFF_CMYK_PACKBITS:
        return COMPRESSION_PACKBITS;
    case RK_FORMAT_TIFF_DEFLATE:
        return COMPRESSION_DEFLATE;
    default:
        return COMPRESSION_NONE;
    }
}

tagRGBQUAD Entry(const SaveRequest& r, int i)
{
    return std::size_t(i) < r.palette.size() ? r.palette[std::size_t(i)] : tagRGBQUAD{0, 0, 0, 0};
}

// A palette that is exactly the grey ramp of its depth (black first).
bool IsGreyRamp(const SaveRequest& r, int entries)
{
    if (r.palette.empty())
        return true;
    for (int i = 0; i < entries; ++i) {
        const tagRGBQUAD q = Entry(r, i);
        const int v = i * 255 / (entries - 1);
        if (q.rgbRed != v || q.rgbGreen != v || q.rgbBlue != v)
            return false;
    }
    return true;
}

struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};

int SaveTiff(const SaveRequest& request, RowSource& rows, int fd)
{
    const int bits = request.bitsPerPixel;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        core::SetLastErrorTextF("TIFF is written from 1, 4, 8, 24 or 32 bits, not %d", bits);
        return RK_ERROR_BITSPERPIXEL;
    }
    if (request.width < 1 || request.height < 1)
        return RK_ERROR_INV_PARAMETER;
    const auto rowBytes = core::CheckedLineSize(request.width, bits);
    const auto total =
        rowBytes ? core::CheckedMul(*rowBytes, std::uint64_t(request.height)) : std::nullopt;
    if (!total)
        return RK_ERROR_TOO_LARGE;
    codec::InstallTiffHandlersOnce();
    const int own = ::dup(fd);
    if (own < 0)
        return RK_ERROR_FILE_WRITE;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        ::close(own);
        return RK_ERROR_NO_MEMORY;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, codec::KeepTiffError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, codec::DropTiffWarning, nullptr);
    // Past 4 GiB of pixels the classic offsets may not reach: write a big TIFF.
    const char* mode = *total > (0xF0000000ull) ? "w8" : "w";
    std::unique_ptr<TIFF, Closer> tif(TIFFFdOpenExt(own, "output", mode, options));
    TIFFOpenOptionsFree(options);
    if (!tif) {
        ::close(own);
        return RK_ERROR_FILE_WRITE;
    }
    TIFF* t = tif.get();
    const bool cmyk = bits == 32 && IsCmykFormat(request.format);
    std::uint16_t photometric = PHOTOMETRIC_RGB, samples = 1, bps = std::uint16_t(bits);
    std::vector<std::uint16_t> map;
    if (bits <= 8) {
        const int entries = 1 << bits;
        const tagRGBQUAD first = Entry(request, 0), second = Entry(request, 1);
        const bool white0 = first.rgbRed == 255 && first.rgbGreen == 255 && first.rgbBlue == 255;
        const bool black1 = second.rgbRed == 0 && second.rgbGreen == 0 && second.rgbBlue == 0;
        if (IsGreyRamp(request, entries))
            photometric = PHOTOMETRIC_MINISBLACK;
        else if (bits == 1 && white0 && black1)
            photometric = PHOTOMETRIC_MINISWHITE;
        else {
            photometric = PHOTOMETRIC_PALETTE;
            map.resize(std::size_t(entries) * 3);
            for (int i = 0; i < entries; ++i) {
                const tagRGBQUAD q = Entry(request, i);
                map[std::size_t(i)] = std::uint16_t(q.rgbRed * 257);
                map[std::size_t(entries + i)] = std::uint16_t(q.rgbGreen * 257);
                map[std::size_t(2 * entries + i)] = std::uint16_t(q.rgbBlue * 257);
            }
        }
    } else {
        bps = 8;
        samples = std::uint16_t(bits / 8);
        photometric = cmyk ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB;
    }
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(request.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(request.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bps);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, CompressionFor(request.format));
    if (cmyk)
        TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (bits == 32 && !cmyk) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (!map.empty())
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + (1 << bits),
                     map.data() + 2 * (1 << bits));
    if (request.xResolution > 0 && request.yResolution > 0) {
        TIFFSetField(t, TIFFTAG_XRESOLUTION, float(request.xResolution));
        TIFFSetField(t, TIFFTAG_YRESOLUTION, float(request.yResolution));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));

    const std::size_t stride = std::size_t(*rowBytes);
    const int band = static_cast<int>(std::clamp<std::uint64_t>((1u << 20) / stride, 1, 64));
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow)
                                               std::uint8_t[stride * std::size_t(band)]);
    if (!buffer)
        return RK_ERROR_NO_MEMORY;
    // The kernel holds blue first unless told otherwise; TIFF wants red first. CMYK rows go
    // out as they are.
    const bool swap = bits >= 24 && !cmyk && request.order != RK_ORDER_RGB;
    const int step = bits / 8;
    for (int first = 0; first < request.height; first += band) {
        const int count = std::min(band, request.height - first);
        if (const int r = rows.Rows(buffer.get(), first, count, stride); r <= 0)
            return r;
        for (int i = 0; i < count; ++i) {
            std::uint8_t* row = buffer.get() + std::size_t(i) * stride;
            if (swap)
                for (int x = 0; x < request.width; ++x)
                    std::swap(row[x * step], row[x * step + 2]);
            if (TIFFWriteScanline(t, row, std::uint32_t(first + i), 0) < 0)
                return RK_ERROR_FILE_WRITE;
        }
    }
    if (!TIFFFlush(t))
        return RK_ERROR_FILE_WRITE;
    return RK_SUCCESS;
}

const int kWriteFormats[] = {RK_FORMAT_TIFF,
                             RK_FORMAT_TIFF_LZW,
                             RK_FORMAT_TIFF_PACKBITS,
                             RK_FORMAT_TIFF_DEFLATE,
                             RK_FORMAT_TIFF_CMYK,
                             RK_FORMAT_TIFF_CMYK_LZW,
                             RK_FORMAT_TIFF_CMYK_PACKBITS,
                             0};
const int kWriteDepths[] = {1, 4, 8, 24, 32, 0};

} // namespace

const rkfmt::Codec kTiffCodec = {"TIFF",   kWriteFormats, kWriteDepths, ProbeTiff,
                                 InfoTiff, LoadTiff,      SaveTiff};
