// fmt_png.cpp - PNG on libpng: every colour type and depth read, 1 to 32 bits written.
//
// Read: 16-bit samples are reduced to 8. Palette images keep their indices (1, 2, 4 or 8
// bits) and palette; grey images become palette images with a grey ramp at their own depth
// (16-bit grey at 8); grey with alpha is reported as 16 bits per pixel and delivered as 32-bit
// pixels (grey in the first three bytes, alpha in the fourth), so a load at 32 bits keeps the
// alpha; RGB is 24 bits and RGBA 32 (alpha in the fourth byte). Transparency given by a tRNS
// chunk (palette, grey or RGB images) is not applied: the colours load as stored. pHYs in
// pixels per metre gives the resolution; the iCCP profile is read by PngIccProfile.
//
// Write: 1, 2, 4 and 8 bits as palette images, or as grey images when the palette is the grey
// ramp of that depth; 24 bits as RGB; 32 bits as RGBA (the fourth byte is the alpha); pHYs
// from the resolution.
//
// libpng reports errors by longjmp: the functions that call setjmp hold no object with a
// destructor, and keep what they build in a state record owned by their caller.
#include "../../codec/png_support.h"
#include "../../core/last_error.h"
#include "../raster_internal.h"
#include "convert_internal.h"
#include "formats_internal.h"

#include <csetjmp>
#include <cstring>

namespace rkfmt {
namespace {

const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

int ProbePng(const std::uint8_t* h, std::size_t n, std::uint64_t)
{
    return n >= 8 && std::memcmp(h, kSignature, 8) == 0 ? RK_FORMAT_PNG : 0;
}

struct Header {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    int xDpi = 0, yDpi = 0;
};

// Reads up to the first image data; fills hd. Called inside a setjmp frame.
void ReadHeaderInside(png_structp png, png_infop info, Header& hd)
{
    png_read_info(png, info);
    png_get_IHDR(png, info, &hd.width, &hd.height, &hd.depth, &hd.colour, &hd.interlace, nullptr,
                 nullptr);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
        hd.xDpi = DotsPerInch(x);
        hd.yDpi = DotsPerInch(y);
    }
}

int ReportedBits(const Header& hd)
{
    switch (hd.colour) {
    case PNG_COLOR_TYPE_PALETTE:
        return hd.depth;
    case PNG_COLOR_TYPE_GRAY:
        return hd.depth > 8 ? 8 : hd.depth;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 16;
    case PNG_COLOR_TYPE_RGB:
        return 24;
    default:
        return 32;
    }
}

int InfoHeader(codec::PngInput& in, Header& hd)
{
    if (setjmp(png_jmpbuf(in.png())))
        return RK_ERROR_FILE_CORRUPT;
    ReadHeaderInside(in.png(), in.info(), hd);
    return RK_SUCCESS;
}

int InfoPng(core::ByteSource& source, _FILEINFO& info)
{
    codec::PngInput in(source);
    if (!in.valid())
        return RK_ERROR_NO_MEMORY;
    Header hd;
    const int r = InfoHeader(in, hd);
    if (r <= 0)
        return r;
    if (hd.width > 0x7FFFFFFF || hd.height > 0x7FFFFFFF)
        return RK_ERROR_TOO_LARGE;
    info.Format = RK_FORMAT_PNG;
    info.Width = int(hd.width);
    info.Height = int(hd.height);
    info.BitsPerPixel = ReportedBits(hd);
    info.XResolution = hd.xDpi;
    info.YResolution = hd.yDpi;
    info.SamplesPerPixel = png_get_channels(in.png(), in.info());
    return RK_SUCCESS;
}

struct LoadState {
    RowSink* sink = nullptr;
    std::uint64_t fileSize = 0;
    Header hd;
    PictureShape shape;
    rk::Buffer image;                // interlaced pictures: every row
    std::vector<png_bytep> pointers; // into image
    rk::Buffer row;
    int status = RK_SUCCESS; // a failure of the sink or of an allocation
};

// Everything that may longjmp. Returns the status; state.status tells a sink's failure.
int DecodeInside(codec::PngInput& in, LoadState& st)
{
    png_structp png = in.png();
    png_infop info = in.info();
    if (setjmp(png_jmpbuf(png)))
        return st.status <= 0 ? st.status : RK_ERROR_FILE_CORRUPT;
    ReadHeaderInside(png, info, st.hd);
    const Header& hd = st.hd;
    if (hd.width > 0x7FFFFFFF || hd.height > 0x7FFFFFFF)
        return RK_ERROR_TOO_LARGE;
    // Deflate expands at most 1032:1, so a file far too small for its picture is damaged.
    const int channels = png_get_channels(png, info);
    const std::uint64_t raw =
        (core::CheckedLineSize(hd.width, std::int64_t(channels) * hd.depth, 0).value_or(0) + 1) *
        std::uint64_t(hd.height);
    if (raw / 1032 > st.fileSize + 1024) {
        core::SetLastErrorText("PNG: the compressed data cannot hold the picture");
        return RK_ERROR_FILE_CORRUPT;
    }
    if (hd.depth == 16)
        png_set_strip_16(png);
    PictureShape& shape = st.shape;
    shape.width = int(hd.width);
    shape.height = int(hd.height);
    shape.xResolution = hd.xDpi;
    shape.yResolution = hd.yDpi;
    shape.order = RK_ORDER_BGR;
    switch (hd.colour) {
    case PNG_COLOR_TYPE_PALETTE: {
        shape.bitsPerPixel = hd.depth;
        png_colorp colours = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &colours, &count) && colours) {
            const int n = std::min(count, 1 << hd.depth);
            st.shape.palette.resize(std::size_t(n));
            for (int i = 0; i < n; ++i)
                st.shape.palette[std::size_t(i)] =
                    tagRGBQUAD{colours[i].blue, colours[i].green, colours[i].red, 0};
        }
        break;
    }
    case PNG_COLOR_TYPE_GRAY:
        shape.bitsPerPixel = hd.depth > 8 ? 8 : hd.depth;
        shape.palette = GreyRamp(1 << shape.bitsPerPixel);
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        shape.bitsPerPixel = 32;
        break;
    case PNG_COLOR_TYPE_RGB:
        png_set_bgr(png);
        shape.bitsPerPixel = 24;
        break;
    default:
        png_set_bgr(png);
        shape.bitsPerPixel = 32;
        break;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::uint64_t rowBytes = png_get_rowbytes(png, info);
    st.status = st.sink->Begin(shape);
    if (st.status <= 0)
        return st.status;
    if (passes > 1) {
        const auto total = core::CheckedMul(rowBytes, hd.height);
        if (!total || !rk::allocate(st.image, *total)) {
            st.status = RK_ERROR_NO_MEMORY;
            return st.status;
        }
        st.pointers.resize(hd.height);
        for (png_uint_32 y = 0; y < hd.height; ++y)
            st.pointers[y] = st.image.data() + std::size_t(y) * rowBytes;
        png_read_image(png, st.pointers.data());
        for (png_uint_32 y = 0; y < hd.height; ++y) {
            st.status = st.sink->Rows(st.pointers[y], 1, 0);
            if (st.status <= 0)
                return st.status;
        }
        return RK_SUCCESS;
    }
    if (!rk::allocate(st.row, rowBytes)) {
        st.status = RK_ERROR_NO_MEMORY;
        return st.status;
    }
    for (png_uint_32 y = 0; y < hd.height; ++y) {
        png_read_row(png, st.row.data(), nullptr);
        st.status = st.sink->Rows(st.row.data(), 1, 0);
        if (st.status <= 0)
            return st.status;
    }
    return RK_SUCCESS;
}

int LoadPng(core::ByteSource& source, RowSink& sink)
{
    codec::PngInput in(source);
    if (!in.valid())
        return RK_ERROR_NO_MEMORY;
    LoadState st;
    st.sink = &sink;
    st.fileSize = source.size();
    return DecodeInside(in, st);
}

int IccInside(codec::PngInput& in, std::vector<std::uint8_t>& profile, int& status)
{
    if (setjmp(png_jmpbuf(in.png())))
        return RK_ERROR_FILE_CORRUPT;
    png_read_info(in.png(), in.info());
    png_charp name = nullptr;
    int compression = 0;
    png_bytep data = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(in.png(), in.info(), &name, &compression, &data, &length) && data && length) {
        try {
            profile.assign(data, data + length);
        } catch (const std::bad_alloc&) {
            status = RK_ERROR_NO_MEMORY;
            return status;
        }
    }
    return RK_SUCCESS;
}

// ---- writing -------------------------------------------------------------------------------

void WriteData(png_structp png, png_bytep data, png_size_t n)
{
    auto* out = static_cast<FdWriter*>(png_get_io_ptr(png));
    out->put(data, n);
    if (!out->ok())
        png_error(png, "write failed");
}
void Flush(png_structp) {}
void WriteError(png_structp png, png_const_charp message)
{
    core::SetLastErrorText(message);
    png_longjmp(png, 1);
}
void WriteWarning(png_structp, png_const_charp) {}

struct SaveState {
    const SaveRequest* rq = nullptr;
    RowSource* rows = nullptr;
    FdWriter* out = nullptr;
    rk::Buffer row;
    std::vector<png_color> colours;
    int status = RK_SUCCESS;
};

bool IsRamp(const std::vector<tagRGBQUAD>& palette, int bits)
{
    const auto ramp = GreyRamp(1 << bits);
    if (palette.size() < ramp.size())
        return false;
    for (std::size_t i = 0; i < ramp.size(); ++i)
        if (palette[i].rgbRed != ramp[i].rgbRed || palette[i].rgbGreen != ramp[i].rgbRed ||
            palette[i].rgbBlue != ramp[i].rgbRed)
            return false;
    return true;
}

int EncodeInside(png_structp png, png_infop info, SaveState& st)
{
    if (setjmp(png_jmpbuf(png)))
        return st.status <= 0 ? st.status : RK_ERROR_FILE_WRITE;
    const SaveRequest& rq = *st.rq;
    const int bits = rq.bitsPerPixel;
    png_set_write_fn(png, st.out, WriteData, Flush);
    int type;
    int depth = 8;
    if (bits <= 8) {
        depth = bits;
        if (IsRamp(rq.palette, bits)) {
            type = PNG_COLOR_TYPE_GRAY;
        } else {
            type = PNG_COLOR_TYPE_PALETTE;
            const std::size_t n = std::size_t(1) << bits;
            st.colours.resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                const tagRGBQUAD q = i < rq.palette.size() ? rq.palette[i] : tagRGBQUAD{0, 0, 0, 0};
                st.colours[i] = png_color{q.rgbRed, q.rgbGreen, q.rgbBlue};
            }
        }
    } else {
        type = bits == 32 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    }
    png_set_IHDR(png, info, png_uint_32(rq.width), png_uint_32(rq.height), depth, type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, st.colours.data(), int(st.colours.size()));
    if (rq.xResolution > 0 && rq.yResolution > 0)
        png_set_pHYs(png, info, PixelsPerMetre(rq.xResolution), PixelsPerMetre(rq.yResolution),
                     PNG_RESOLUTION_METER);
    png_write_info(png, info);
    if (bits >= 24 && rq.order == RK_ORDER_BGR)
        png_set_bgr(png);
    for (int y = 0; y < rq.height; ++y) {
        st.status = st.rows->Rows(st.row.data(), y, 1, st.row.size());
        if (st.status <= 0)
            return st.status;
        png_write_row(png, st.row.data());
    }
    png_write_end(png, info);
    return RK_SUCCESS;
}

int SavePng(const SaveRequest& rq, RowSource& rows, int fd)
{
    const int bits = rq.bitsPerPixel;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return RK_ERROR_BITSPERPIXEL;
    SaveState st;
    st.rq = &rq;
    st.rows = &rows;
    if (!rk::allocate(st.row, core::CheckedLineSize(rq.width, bits, 4).value_or(0)))
        return RK_ERROR_NO_MEMORY;
    FdWriter out(fd);
    st.out = &out;
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, WriteError, WriteWarning);
    if (!png)
        return RK_ERROR_NO_MEMORY;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return RK_ERROR_NO_MEMORY;
    }
    int r = EncodeInside(png, info, st);
    png_destroy_write_struct(&png, &info);
    if (r > 0 && !out.flush())
        r = RK_ERROR_FILE_WRITE;
    return r;
}

constexpr int kPngFormats[] = {RK_FORMAT_PNG, 0};
constexpr int kPngDepths[] = {1, 2, 4, 8, 24, 32, 0};

} // namespace

int PngIccProfile(core::ByteSource& source, std::vector<std::uint8_t>& profile)
{
    profile.clear();
    codec::PngInput in(source);
    if (!in.valid())
        return RK_ERROR_NO_MEMORY;
    int status = RK_SUCCESS;
    return IccInside(in, profile, status);
}

extern const Codec kPngCodec = {"PNG",   kPngFormats, kPngDepths, ProbePng,
                                InfoPng, LoadPng,     SavePng};

} // namespace rkfmt
