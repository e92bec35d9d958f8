// jpeg_codec.cpp - JPEG through libjpeg-turbo (contract in codecs_b.h).
//
// Contents
//   probe, info       SOI check; header read for sampling, depth, density, progression
//   load              decode in bands of rows straight into the sink
//   save              grey or 24-bit rows through a destination manager on the fd
//
// Every function that calls libjpeg sets its own jump target (codec::JpegErrors) and holds no
// C++ object with a destructor: owned state lives in a heap record made by its caller.
#include "../../codec/jpeg_support.h"
#include "../../core/checked_size.h"
#include "../../core/last_error.h"
#include "codecs_b.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <jerror.h>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

using rkfmt::PictureShape;
using rkfmt::RowSink;
using rkfmt::RowSource;
using rkfmt::SaveRequest;

constexpr int kBandRows = 16;

// libjpeg keeps whole-image coefficient arrays for progressive and multi-scan files; a small
// file must not make it ask for gigabytes. The bound grows with the file (a blank picture
// compresses a few thousand times) and never passes 2 GiB.
long MemoryLimit(std::uint64_t fileBytes)
{
    const std::uint64_t floor = 64ull << 20, ceiling = 2ull << 30;
    const std::uint64_t scaled = fileBytes > ceiling / 8192 ? ceiling : fileBytes * 8192;
    return static_cast<long>(std::clamp(scaled, floor, ceiling));
}

// ---- decoding state ---------------------------------------------------------------------------

struct Decoder {
    codec::JpegErrors errors;
    jpeg_decompress_struct cinfo;
    codec::JpegSource src;
    bool created = false;

    ~Decoder()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

// Reads the header. RK_SUCCESS or RK_ERROR_FILE_CORRUPT (the reason in the last error text).
int ReadHeader(Decoder& d, core::ByteSource& source)
{
    d.cinfo.err = codec::InitJpegErrors(d.errors);
    if (setjmp(d.errors.jump))
        return RK_ERROR_FILE_CORRUPT;
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    d.cinfo.mem->max_memory_to_use = MemoryLimit(source.size());
    codec::SetJpegSource(&d.cinfo, d.src, source);
    jpeg_read_header(&d.cinfo, TRUE);
    if (d.src.truncated) {
        core::SetLastErrorText("the JPEG data ends inside its header");
        return RK_ERROR_FILE_CORRUPT;
    }
    return RK_SUCCESS;
}

int FormatBySampling(const jpeg_decompress_struct& c)
{
    if (c.num_components < 3)
        return RK_FORMAT_JPEG;
    const jpeg_component_info& chroma = c.comp_info[1];
    const int h = c.max_h_samp_factor / std::max(1, chroma.h_samp_factor);
    const int v = c.max_v_samp_factor / std::max(1, chroma.v_samp_factor);
    if (h * v <= 1)
        return RK_FORMAT_JPEG;
    return h * v == 2 ? RK_FORMAT_JPEG_422 : RK_FORMAT_JPEG_411;
}

void Density(const jpeg_decompress_struct& c, int& x, int& y)
{
    x = y = 0;
    if (!c.saw_JFIF_marker)
        return;
    if (c.density_unit == 1) {
        x = c.X_density;
        y = c.Y_density;
    } else if (c.density_unit == 2) {
        x = static_cast<int>(std::lround(c.X_density * 2.54));
        y = static_cast<int>(std::lround(c.Y_density * 2.54));
    }
}

// Output colour space and depth for the file's components; false when not decodable here.
bool OutputLayout(const jpeg_decompress_struct& c, J_COLOR_SPACE& space, int& bits)
{
    switch (c.num_components) {
    case 1:
        space = JCS_GRAYSCALE;
        bits = 8;
        return true;
    case 3:
        space = JCS_EXT_BGR;
        bits = 24;
        return true;
    case 4:
        space = JCS_CMYK;
        bits = 32;
        return true;
    default:
        return false;
    }
}

// ---- probe and info -------------------------------------------------------------------------

int ProbeJpeg(const std::uint8_t* head, std::size_t bytes, std::uint64_t)
{
    return bytes >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF ? RK_FORMAT_JPEG : 0;
}

int InfoJpeg(core::ByteSource& source, _FILEINFO& info)
{
    auto d = std::make_unique<Decoder>();
    if (const int r = ReadHeader(*d, source); r <= 0)
        return r;
    const jpeg_decompress_struct& c = d->cinfo;
    J_COLOR_SPACE space;
    int bits = 0;
    if (!OutputLayout(c, space, bits)) {
        core::SetLastErrorTextF("JPEG with %d components", c.num_components);
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    info.Format = FormatBySampling(c);
    info.Width = static_cast<std::int32_t>(c.image_width);
    info.Height = static_cast<std::int32_t>(c.image_height);
    info.BitsPerPixel = bits;
    info.ViewPerspective = RK_TOP_LEFT;
    info.Order = RK_ORDER_BGR;
    info.PageNumber = 1;
    info.PageCount = 1;
    Density(c, info.XResolution, info.YResolution);
    info.ColourModel = bits == 32 ? RK_COLOUR_MODEL_CMYK : RK_COLOUR_MODEL_RGB;
    info.SamplesPerPixel = c.num_components;
    if (const auto size = core::CheckedImageSize(c.image_width, c.image_height, bits))
        info.DecodedBytes = static_cast<std::int64_t>(*size);
    rkfmt::SetCompressionText(info, c.progressive_mode ? "Progressive JPEG"
                                    : c.arith_code     ? "Arithmetic JPEG"
                                                       : "JPEG");
    return RK_SUCCESS;
}

// ---- load -------------------------------------------------------------------------------------

// Decodes every row into the sink. band holds kBandRows rows of rowBytes.
int DecodeRows(Decoder& d, RowSink& sink, std::uint8_t* band, std::size_t rowBytes, bool complement)
{
    if (setjmp(d.errors.jump))
        return RK_ERROR_FILE_CORRUPT;
    jpeg_decompress_struct& c = d.cinfo;
    jpeg_start_decompress(&c);
    JSAMPROW rows[kBandRows];
    for (int i = 0; i < kBandRows; ++i)
        rows[i] = band + std::size_t(i) * rowBytes;
    while (c.output_scanline < c.output_height) {
        int filled = 0;
        const int want =
            static_cast<int>(std::min<JDIMENSION>(kBandRows, c.output_height - c.output_scanline));
        while (filled < want)
            filled +=
                static_cast<int>(jpeg_read_scanlines(&c, rows + filled, JDIMENSION(want - filled)));
        if (d.src.truncated || d.errors.damage > 0)
            return RK_ERROR_FILE_CORRUPT;
        if (complement)
            for (std::size_t i = 0, n = std::size_t(filled) * rowBytes; i < n; ++i)
                band[i] = std::uint8_t(255 - band[i]);
        if (const int r = sink.Rows(band, filled, rowBytes); r <= 0)
            return r;
    }
    jpeg_finish_decompress(&c);
    if (d.src.truncated || d.errors.damage > 0)
        return RK_ERROR_FILE_CORRUPT;
    return RK_SUCCESS;
}

int LoadJpeg(core::ByteSource& source, RowSink& sink)
{
    auto d = std::make_unique<Decoder>();
    if (const int r = ReadHeader(*d, source); r <= 0)
        return r;
    jpeg_decompress_struct& c = d->cinfo;
    J_COLOR_SPACE space;
    int bits = 0;
    if (!OutputLayout(c, space, bits)) {
        core::SetLastErrorTextF("JPEG with %d components", c.num_components);
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    c.out_color_space = space;
    const auto rowBytes = core::CheckedLineSize(c.image_width, bits);
    const auto bandBytes = rowBytes ? core::CheckedMul(*rowBytes, kBandRows) : std::nullopt;
    if (!bandBytes || !core::FitsAllocation(*bandBytes, 1ull << 30))
        return RK_ERROR_TOO_LARGE;
    std::unique_ptr<std::uint8_t[]> band(new (std::nothrow) std::uint8_t[*bandBytes]);
    if (!band)
        return RK_ERROR_NO_MEMORY;

    PictureShape shape;
    shape.width = static_cast<int>(c.image_width);
    shape.height = static_cast<int>(c.image_height);
    shape.bitsPerPixel = bits;
    shape.order = RK_ORDER_BGR;
    Density(c, shape.xResolution, shape.yResolution);
    if (bits == 8) {
        shape.palette.resize(256);
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            shape.palette[std::size_t(i)] = tagRGBQUAD{v, v, v, 0};
        }
    }
    if (const int r = sink.Begin(shape); r <= 0)
        return r;
    // Adobe applications store CMYK and YCCK inverted (255 = no ink).
    const bool complement = bits == 32 && c.saw_Adobe_marker;
    return DecodeRows(*d, sink, band.get(), std::size_t(*rowBytes), complement);
}

// ---- save -------------------------------------------------------------------------------------

struct FdDestination {
    jpeg_destination_mgr pub; // first: libjpeg sees a jpeg_destination_mgr*
    int fd = -1;
    JOCTET buffer[64 * 1024];
};

bool WriteAll(int fd, const JOCTET* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= std::size_t(w);
    }
    return true;
}

void InitDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<FdDestination*>(cinfo->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
}

boolean EmptyOutput(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<FdDestination*>(cinfo->dest);
    if (!WriteAll(d->fd, d->buffer, sizeof d->buffer))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof d->buffer;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<FdDestination*>(cinfo->dest);
    if (!WriteAll(d->fd, d->buffer, sizeof d->buffer - d->pub.free_in_buffer))
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct Encoder {
    codec::JpegErrors errors;
    jpeg_compress_struct cinfo;
    FdDestination dest;
    bool created = false;

    ~Encoder()
    {
        if (created)
            jpeg_destroy_compress(&cinfo);
    }
};

int QualityFromFactor(int factor)
{
    if (factor == 0)
        return 75;
    const int f = std::clamp(factor, 2, 255);
    return 100 - static_cast<int>(std::lround((f - 2) * 99.0 / 253.0));
}

// How the source rows become libjpeg input.
enum class Feed { Direct, GreyThroughPalette, ColourThroughPalette };

struct EncodePlan {
    J_COLOR_SPACE space = JCS_EXT_BGR;
    int components = 3;
    Feed feed = Feed::Direct;
    std::uint8_t grey[256];   // index -> grey (GreyThroughPalette)
    std::uint8_t rgb[256][3]; // index -> R, G, B (ColourThroughPalette)
    std::size_t sourceBytes = 0;
    std::size_t inputBytes = 0;
};

int EncodeRows(Encoder& e, const SaveRequest& request, const EncodePlan& plan, RowSource& rows,
               std::uint8_t* band, std::uint8_t* converted, int fd)
{
    if (setjmp(e.errors.jump))
        return RK_ERROR_FILE_WRITE;
    jpeg_compress_struct& c = e.cinfo;
    c.err = &e.errors.pub;
    jpeg_create_compress(&c);
    e.created = true;
    e.dest.fd = fd;
    e.dest.pub.init_destination = InitDestination;
    e.dest.pub.empty_output_buffer = EmptyOutput;
    e.dest.pub.term_destination = TermDestination;
    c.dest = &e.dest.pub;
    c.image_width = JDIMENSION(request.width);
    c.image_height = JDIMENSION(request.height);
    c.input_components = plan.components;
    c.in_color_space = plan.space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, QualityFromFactor(request.quality), TRUE);
    if (plan.components == 3) {
        const int h = request.format == RK_FORMAT_JPEG ? 1 : 2;
        const int v = request.format == RK_FORMAT_JPEG_411 ? 2 : 1;
        c.comp_info[0].h_samp_factor = h;
        c.comp_info[0].v_samp_factor = v;
    }
    if (request.xResolution > 0 && request.yResolution > 0 && request.xResolution <= 65535 &&
        request.yResolution <= 65535) {
        c.density_unit = 1;
        c.X_density = UINT16(request.xResolution);
        c.Y_density = UINT16(request.yResolution);
    }
    jpeg_start_compress(&c, TRUE);
    JSAMPROW pointers[kBandRows];
    while (c.next_scanline < c.image_height) {
        const int first = static_cast<int>(c.next_scanline);
        const int count = std::min(kBandRows, request.height - first);
        if (const int r = rows.Rows(band, first, count, plan.sourceBytes); r <= 0)
            return r;
        for (int i = 0; i < count; ++i) {
            const std::uint8_t* in = band + std::size_t(i) * plan.sourceBytes;
            std::uint8_t* out = converted + std::size_t(i) * plan.inputBytes;
            switch (plan.feed) {
            case Feed::Direct:
                pointers[i] = const_cast<std::uint8_t*>(in);
                continue;
            case Feed::GreyThroughPalette:
                for (int x = 0; x < request.width; ++x)
                    out[x] = plan.grey[in[x]];
                break;
            case Feed::ColourThroughPalette:
                for (int x = 0; x < request.width; ++x)
                    std::memcpy(out + 3 * x, plan.rgb[in[x]], 3);
                break;
            }
            pointers[i] = out;
        }
        jpeg_write_scanlines(&c, pointers, JDIMENSION(count));
    }
    jpeg_finish_compress(&c);
    return RK_SUCCESS;
}

int SaveJpeg(const SaveRequest& request, RowSource& rows, int fd)
{
    if (request.width < 1 || request.height < 1 || request.width > JPEG_MAX_DIMENSION ||
        request.height > JPEG_MAX_DIMENSION) {
        core::SetLastErrorText("JPEG pictures are 1 to 65500 pixels on a side");
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    auto plan = std::make_unique<EncodePlan>();
    const std::size_t w = std::size_t(request.width);
    if (request.bitsPerPixel == 24) {
        plan->space = request.order == RK_ORDER_RGB ? JCS_RGB : JCS_EXT_BGR;
        plan->sourceBytes = plan->inputBytes = 3 * w;
    } else if (request.bitsPerPixel == 8) {
        bool grey = true;
        for (int i = 0; i < 256; ++i) {
            tagRGBQUAD q{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
            if (std::size_t(i) < request.palette.size())
                q = request.palette[std::size_t(i)];
            else if (!request.palette.empty())
                q = tagRGBQUAD{0, 0, 0, 0};
            plan->grey[i] = q.rgbRed;
            plan->rgb[i][0] = q.rgbRed;
            plan->rgb[i][1] = q.rgbGreen;
            plan->rgb[i][2] = q.rgbBlue;
            grey = grey && q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue;
        }
        plan->sourceBytes = w;
        if (grey) {
            plan->space = JCS_GRAYSCALE;
            plan->components = 1;
            plan->feed = Feed::GreyThroughPalette;
            plan->inputBytes = w;
        } else {
            plan->space = JCS_RGB;
            plan->feed = Feed::ColourThroughPalette;
            plan->inputBytes = 3 * w;
        }
    } else {
        core::SetLastErrorTextF("JPEG is written from 8 or 24 bits, not %d", request.bitsPerPixel);
        return RK_ERROR_BITSPERPIXEL;
    }
    std::unique_ptr<std::uint8_t[]> band(new (std::nothrow)
                                             std::uint8_t[plan->sourceBytes * kBandRows]);
    std::unique_ptr<std::uint8_t[]> converted(new (std::nothrow)
                                                  std::uint8_t[plan->inputBytes * kBandRows]);
    auto e = std::make_unique<Encoder>();
    if (!band || !converted || !e)
        return RK_ERROR_NO_MEMORY;
    e->cinfo.err = codec::InitJpegErrors(e->errors);
    return EncodeRows(*e, request, *plan, rows, band.get(), converted.get(), fd);
}

const int kWriteFormats[] = {RK_FORMAT_JPEG, RK_FORMAT_JPEG_411, RK_FORMAT_JPEG_422, 0};
const int kWriteDepths[] = {8, 24, 0};

} // namespace

const rkfmt::Codec kJpegCodec = {"JPEG",   kWriteFormats, kWriteDepths, ProbeJpeg,
                                 InfoJpeg, LoadJpeg,      SaveJpeg};
