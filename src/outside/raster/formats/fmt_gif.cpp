// fmt_gif.cpp - GIF on giflib: the first image read with its palette; 1, 4 and 8 bits written.
//
// Read: the picture is the logical screen when the first image lies inside it (the rest
// filled with the background colour's index), else the image alone. The colours are the
// image's local colour map, else the global one, else a grey ramp. A transparent colour index
// (graphic control extension) is not applied: its palette entry loads as stored. The reported
// depth is that of the colour map (1, 4 or 8 bits); rows are delivered as 8-bit indices.
// LZW expands at most a few thousand to one, so an image far larger than its file could hold
// is refused as corrupt, as is a screen much larger than the file (it would be background).
//
// Write: one image of 2, 16 or 256 colours covering the screen, no extensions.
#include "../../core/last_error.h"
#include "../raster_internal.h"
#include "formats_internal.h"

#include <cstring>
#include <gif_lib.h>

namespace rkfmt {
namespace {

constexpr std::uint64_t kMaxRatio = 4096;

int ProbeGif(const std::uint8_t* h, std::size_t n, std::uint64_t)
{
    return n >= 6 && (std::memcmp(h, "GIF87a", 6) == 0 || std::memcmp(h, "GIF89a", 6) == 0)
               ? RK_FORMAT_GIF
               : 0;
}

struct Input {
    core::ByteSource* source;
    std::uint64_t offset = 0;
};

int ReadFn(GifFileType* gif, GifByteType* out, int n)
{
    auto* in = static_cast<Input*>(gif->UserData);
    if (n <= 0)
        return 0;
    const std::int64_t got = in->source->readAt(in->offset, out, std::size_t(n));
    if (got <= 0)
        return 0;
    in->offset += std::uint64_t(got);
    return int(got);
}

struct GifHandle {
    GifFileType* gif = nullptr;
    ~GifHandle()
    {
        if (gif) {
            int err = 0;
            DGifCloseFile(gif, &err);
        }
    }
};

int corrupt(const char* what)
{
    core::SetLastErrorTextF("GIF: %s", what);
    return RK_ERROR_FILE_CORRUPT;
}

// Opens and moves to the first image's descriptor.
int OpenFirstImage(core::ByteSource& source, Input& input, GifHandle& h)
{
    int err = 0;
    input.source = &source;
    h.gif = DGifOpen(&input, ReadFn, &err);
    if (!h.gif)
        return err == D_GIF_ERR_NOT_ENOUGH_MEM ? RK_ERROR_NO_MEMORY : corrupt("bad header");
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(h.gif, &type) != GIF_OK)
            return corrupt("no image");
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(h.gif) != GIF_OK)
                return corrupt("bad image descriptor");
            return RK_SUCCESS;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(h.gif, &code, &ext) != GIF_OK)
                return corrupt("bad extension");
            while (ext) {
                if (DGifGetExtensionNext(h.gif, &ext) != GIF_OK)
                    return corrupt("bad extension");
            }
            continue;
        }
        return corrupt("no image");
    }
}

struct Layout {
    int width = 0, height = 0; // of the picture
    int left = 0, top = 0;     // of the image in it
    int imageWidth = 0, imageHeight = 0;
    int background = 0;
    const ColorMapObject* map = nullptr;
};

int Arrange(const GifFileType* gif, std::uint64_t fileSize, Layout& l)
{
    const GifImageDesc& d = gif->Image;
    if (d.Width < 1 || d.Height < 1)
        return corrupt("empty image");
    l.imageWidth = d.Width;
    l.imageHeight = d.Height;
    const std::uint64_t imagePixels = std::uint64_t(d.Width) * std::uint64_t(d.Height);
    if (imagePixels / kMaxRatio > fileSize + 1024)
        return corrupt("the image data cannot hold the image");
    const bool inside = d.Left >= 0 && d.Top >= 0 && gif->SWidth >= 1 && gif->SHeight >= 1 &&
                        d.Left + d.Width <= gif->SWidth && d.Top + d.Height <= gif->SHeight;
    const std::uint64_t screenPixels = std::uint64_t(gif->SWidth) * std::uint64_t(gif->SHeight);
    if (inside && screenPixels / kMaxRatio <= fileSize + 1024) {
        l.width = gif->SWidth;
        l.height = gif->SHeight;
        l.left = d.Left;
        l.top = d.Top;
    } else {
        l.width = d.Width;
        l.height = d.Height;
    }
    l.map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    l.background = gif->SBackGroundColor;
    return RK_SUCCESS;
}

int MapBits(const ColorMapObject* map)
{
    const int n = map ? map->ColorCount : 256;
    return n <= 2 ? 1 : n <= 16 ? 4 : 8;
}

int InfoGif(core::ByteSource& source, _FILEINFO& info)
{
    Input input;
    GifHandle h;
    int r = OpenFirstImage(source, input, h);
    if (r <= 0)
        return r;
    Layout l;
    r = Arrange(h.gif, source.size(), l);
    if (r <= 0)
        return r;
    info.Format = RK_FORMAT_GIF;
    info.Width = l.width;
    info.Height = l.height;
    info.BitsPerPixel = MapBits(l.map);
    info.SamplesPerPixel = 1;
    const char16_t lzw[] = u"LZW";
    std::memcpy(info.Compression, lzw, sizeof lzw);
    return RK_SUCCESS;
}

int LoadGif(core::ByteSource& source, RowSink& sink)
{
    Input input;
    GifHandle h;
    int r = OpenFirstImage(source, input, h);
    if (r <= 0)
        return r;
    Layout l;
    r = Arrange(h.gif, source.size(), l);
    if (r <= 0)
        return r;
    PictureShape shape;
    shape.width = l.width;
    shape.height = l.height;
    shape.bitsPerPixel = 8;
    if (l.map && l.map->Colors && l.map->ColorCount > 0) {
        const int n = std::min(l.map->ColorCount, 256);
        shape.palette.resize(std::size_t(n));
        for (int i = 0; i < n; ++i) {
            const GifColorType& c = l.map->Colors[i];
            shape.palette[std::size_t(i)] = tagRGBQUAD{c.Blue, c.Green, c.Red, 0};
        }
    } else {
        shape.palette.resize(256);
        for (int i = 0; i < 256; ++i)
            shape.palette[std::size_t(i)] =
                tagRGBQUAD{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
    }
    r = sink.Begin(shape);
    if (r <= 0)
        return r;
    rk::Buffer row;
    if (!rk::allocate(row, std::uint64_t(l.width)))
        return RK_ERROR_NO_MEMORY;
    const auto bg = std::uint8_t(l.background);
    // Interlaced images arrive in four passes: they are gathered first.
    rk::Buffer image;
    if (h.gif->Image.Interlace) {
        if (!rk::allocate(image, std::uint64_t(l.imageWidth) * std::uint64_t(l.imageHeight)))
            return RK_ERROR_NO_MEMORY;
        static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = start[p]; y < l.imageHeight; y += step[p])
                if (DGifGetLine(h.gif, image.data() + std::size_t(y) * std::size_t(l.imageWidth),
                                l.imageWidth) != GIF_OK)
                    return corrupt("the image data end early");
    }
    for (int y = 0; y < l.height; ++y) {
        std::memset(row.data(), bg, row.size());
        const int iy = y - l.top;
        if (iy >= 0 && iy < l.imageHeight) {
            std::uint8_t* at = row.data() + l.left;
            if (h.gif->Image.Interlace)
                std::memcpy(at, image.data() + std::size_t(iy) * std::size_t(l.imageWidth),
                            std::size_t(l.imageWidth));
            else if (DGifGetLine(h.gif, at, l.imageWidth) != GIF_OK)
                return corrupt("the image data end early");
        }
        r = sink.Rows(row.data(), 1, 0);
        if (r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

int WriteFn(GifFileType* gif, const GifByteType* data, int n)
{
    auto* out = static_cast<FdWriter*>(gif->UserData);
    out->put(data, std::size_t(n));
    return out->ok() ? n : 0;
}

int SaveGif(const SaveRequest& rq, RowSource& rows, int fd)
{
    const int bits = rq.bitsPerPixel;
    if (bits != 1 && bits != 4 && bits != 8)
        return RK_ERROR_BITSPERPIXEL;
    if (rq.width > 0xFFFF || rq.height > 0xFFFF)
        return RK_ERROR_FORMAT_UNSUPPORTED;
    const int n = 1 << bits;
    GifColorType colours[256] = {};
    for (int i = 0; i < n; ++i) {
        const tagRGBQUAD q = std::size_t(i) < rq.palette.size() ? rq.palette[std::size_t(i)]
                                                                : tagRGBQUAD{0, 0, 0, 0};
        colours[i] = GifColorType{q.rgbRed, q.rgbGreen, q.rgbBlue};
    }
    rk::Buffer row, line;
    if (!rk::allocate(row, core::CheckedLineSize(rq.width, bits, 4).value_or(0)) ||
        !rk::allocate(line, std::uint64_t(rq.width)))
        return RK_ERROR_NO_MEMORY;
    FdWriter out(fd);
    int err = 0;
    GifFileType* gif = EGifOpen(&out, WriteFn, &err);
    if (!gif)
        return RK_ERROR_NO_MEMORY;
    ColorMapObject* map = GifMakeMapObject(n, colours);
    int r = RK_SUCCESS;
    if (!map)
        r = RK_ERROR_NO_MEMORY;
    else if (EGifPutScreenDesc(gif, rq.width, rq.height, bits, 0, map) != GIF_OK ||
             EGifPutImageDesc(gif, 0, 0, rq.width, rq.height, false, nullptr) != GIF_OK)
        r = RK_ERROR_FILE_WRITE;
    for (int y = 0; r > 0 && y < rq.height; ++y) {
        r = rows.Rows(row.data(), y, 1, row.size());
        if (r <= 0)
            break;
        for (int x = 0; x < rq.width; ++x)
            line[std::size_t(x)] = std::uint8_t(core::ReadPixel(row.data(), x, bits));
        if (EGifPutLine(gif, line.data(), rq.width) != GIF_OK)
            r = RK_ERROR_FILE_WRITE;
    }
    if (EGifCloseFile(gif, &err) != GIF_OK && r > 0)
        r = RK_ERROR_FILE_WRITE;
    if (map)
        GifFreeMapObject(map);
    if (r > 0 && !out.flush())
        r = RK_ERROR_FILE_WRITE;
    return r;
}

constexpr int kGifFormats[] = {RK_FORMAT_GIF, 0};
constexpr int kGifDepths[] = {1, 4, 8, 0};

} // namespace

extern const Codec kGifCodec = {"GIF",   kGifFormats, kGifDepths, ProbeGif,
                                InfoGif, LoadGif,     SaveGif};

} // namespace rkfmt
