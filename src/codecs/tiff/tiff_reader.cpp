// tiff_reader.cpp - the library's TIFF reader on libtiff.
//
//   RowReader              one sample plane of one row: scan lines, or whole strips and tiles
//                          decoded into a band of rows
//   LoadTiff               8-bit and packed files into a consumer and/or the image
//   LoadTiff16             16-bit files into a consumer, and reduced to 8 bits into the image
//   LoadIndexedTiff        8-bit palette files as 24-bit lines
//   InfoTiff               the header as a CFILEINFO
//   TDib::_loadTiff ...    the image's members over files and memory blocks
#include "tiff_codec.h"
#include "tiff_layouts_internal.h"

#include <algorithm>
#include <base/progress.h>
#include <base/word2byte.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdlib>
#include <cstring>
#include <dib/LineConsumer.h>
#include <dib/TiffTags.h>
#include <dib/internal/dib_access.h>
#include <memory>
#include <new>
#include <raster/kernel.h>
#include <string>
#include <vector>
#include <win/files.h>

namespace codec_tiff {
namespace {

// Decoded bytes a file may claim beyond what its size could plausibly hold: any image up to
// 64 MiB, larger ones up to 4096 times the file's bytes (past the best ratio of LZW and
// Deflate on real images). A hostile header then cannot ask for gigabytes from a few bytes.
constexpr std::uint64_t kFreeDecodedBytes = std::uint64_t(64) << 20;
constexpr std::uint64_t kMaxRatio = 4096;
// Rows held at once when strips or tiles are decoded whole (every plane together).
constexpr std::uint64_t kMaxBandBytes = std::uint64_t(512) << 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// A work buffer: zeroed, so bytes a short decode leaves alone are never uninitialised.
using Buffer = std::vector<std::uint8_t>;

bool Allocate(Buffer& b, std::uint64_t bytes)
{
    if (!core::FitsAllocation(bytes))
        return false;
    try {
        b.assign(std::size_t(bytes), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int NoMemory()
{
    core::SetLastErrorText("out of memory");
    return kTiffNoMemory;
}

int Unsupported(const char* why)
{
    core::SetLastErrorText(why);
    return kTiffUnsupported;
}

// Delivers one plane of one row at a time. Contiguous strips (and uncompressed separate
// planes) are read scan line by scan line. Tiles, and compressed strips in separate planes
// (where libtiff's scan-line reads would restart a strip's decoding for every row), are
// decoded whole into a band of rows per plane.
class RowReader {
public:
    int Open(TIFF* tif, const TiffLayout& l, std::uint64_t sourceBytes)
    {
        tif_ = tif;
        planes_ = l.separate() ? l.samples : 1;
        const std::uint64_t pixelBits = std::uint64_t(l.bits) * (l.separate() ? 1 : l.samples);
        const std::uint64_t needed = (std::uint64_t(l.width) * pixelBits + 7) / 8;
        const std::uint64_t scan = std::uint64_t(TIFFScanlineSize64(tif));
        if (scan == 0 || scan < needed)
            return Unsupported("scan line shorter than its pixels");
        scanline_ = scan;
        const auto decoded =
            core::CheckedMul(core::CheckedMul(scan, l.height).value_or(~0ull), planes_);
        if (!decoded || (*decoded > kFreeDecodedBytes && *decoded / kMaxRatio > sourceBytes))
            return Unsupported("image larger than the file could hold");

        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        tiled_ = TIFFIsTiled(tif) != 0;
        banded_ = tiled_ || (l.separate() && compression != COMPRESSION_NONE);
        if (!banded_)
            return Allocate(row_, scan) ? kTiffOk : NoMemory();

        std::uint32_t bandRows = 0;
        if (tiled_) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth_);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
            const std::uint64_t tileBytes = std::uint64_t(TIFFTileSize64(tif));
            tileRow_ = std::uint64_t(TIFFTileRowSize64(tif));
            if (tileWidth_ == 0 || bandRows == 0 || tileBytes == 0 || tileRow_ == 0 ||
                tileBytes > kMaxBandBytes || !Allocate(tile_, tileBytes))
                return tile_.empty() ? Unsupported("tile size") : NoMemory();
        } else {
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
            bandRows = std::min(std::max<std::uint32_t>(bandRows, 1), l.height);
        }
        bandRows_ = std::min(bandRows, l.height);
        const auto band = core::CheckedMul(scan, bandRows_);
        if (!band || *band > kMaxBandBytes / planes_)
            return Unsupported("strip or tile rows too large");
        bands_.resize(planes_);
        bandIndex_.assign(planes_, ~0u);
        for (auto& b : bands_)
            if (!Allocate(b, *band))
                return NoMemory();
        height_ = l.height;
        return kTiffOk;
    }

    // The scan line of plane `plane` of row r, or null when the data cannot be decoded.
    const std::uint8_t* Row(std::uint32_t r, std::uint16_t plane)
    {
        if (!banded_) {
            if (TIFFReadScanline(tif_, row_.data(), r, plane) != 1)
                return Fail();
            return row_.data();
        }
        const std::uint32_t band = r / bandRows_;
        if (bandIndex_[plane] != band) {
            bandIndex_[plane] = ~0u;
            if (!(tiled_ ? DecodeTiles(band, plane) : DecodeStrip(band, plane)))
                return Fail();
            bandIndex_[plane] = band;
        }
        return bands_[plane].data() + std::size_t(r - band * bandRows_) * scanline_;
    }

    std::uint64_t scanline() const { return scanline_; }

private:
    const std::uint8_t* Fail()
    {
        const char* text = core::GetLastErrorText();
        if (!text || !*text)
            core::SetLastErrorText("image data cannot be decoded");
        return nullptr;
    }

    bool DecodeStrip(std::uint32_t band, std::uint16_t plane)
    {
        const std::uint32_t strip = TIFFComputeStrip(tif_, band * bandRows_, plane);
        if (strip >= TIFFNumberOfStrips(tif_))
            return false;
        const std::uint32_t rows = std::min(bandRows_, height_ - band * bandRows_);
        const tmsize_t want = tmsize_t(std::uint64_t(rows) * scanline_);
        return TIFFReadEncodedStrip(tif_, strip, bands_[plane].data(), want) == want;
    }

    bool DecodeTiles(std::uint32_t band, std::uint16_t plane)
    {
        const std::uint32_t y = band * bandRows_;
        const std::uint32_t rows = std::min(bandRows_, height_ - y);
        std::uint8_t* out = bands_[plane].data();
        for (std::uint64_t offset = 0, x = 0; offset < scanline_; x += tileWidth_) {
            const std::uint32_t tile = TIFFComputeTile(tif_, std::uint32_t(x), y, 0, plane);
            if (tile >= TIFFNumberOfTiles(tif_) ||
                TIFFReadEncodedTile(tif_, tile, tile_.data(), tmsize_t(tile_.size())) < 0)
                return false;
            // Tiles are whole bytes wide (their width is a multiple of 16 pixels).
            const std::uint64_t bytes = std::min(tileRow_, scanline_ - offset);
            for (std::uint32_t i = 0; i < rows; ++i)
                std::memcpy(out + i * scanline_ + offset, tile_.data() + i * tileRow_, bytes);
            offset += bytes;
        }
        return true;
    }

    TIFF* tif_ = nullptr;
    int planes_ = 1;
    bool tiled_ = false;
    bool banded_ = false;
    std::uint64_t scanline_ = 0;
    std::uint32_t height_ = 0;
    Buffer row_;
    std::uint32_t bandRows_ = 1;
    std::uint32_t tileWidth_ = 0;
    std::uint64_t tileRow_ = 0;
    Buffer tile_;
    std::vector<Buffer> bands_;
    std::vector<std::uint32_t> bandIndex_;
};

// Init of the consumer: the first wanted row (0 without a consumer) and the left edge it
// chose, held inside the line.
struct Window {
    int first = 0;
    std::uint32_t left = 0;
};

Window StartConsumer(TProcesLiniaDIB* processor, std::uint32_t width, std::uint32_t height)
{
    Window w;
    if (!processor)
        return w;
    CRect region(0, 0, int(width) - 1, int(height) - 1);
    w.first = processor->Init(int(width), int(height), region);
    // A left edge outside the line would point the consumer outside the buffer.
    w.left = std::uint32_t(std::clamp<long>(region.left, 0, long(width) - 1));
    return w;
}

bool Cancelled(TIndicadorEstat* progress)
{
    return progress && progress->Cancelat();
}

// Holds the image's direct access for the run.
struct ImageLock {
    explicit ImageLock(TDib* image) : image_(image)
    {
        if (image_)
            image_->Lock();
    }
    ~ImageLock()
    {
        if (image_)
            image_->Unlock();
    }
    ImageLock(const ImageLock&) = delete;
    ImageLock& operator=(const ImageLock&) = delete;
    TDib* image_;
};

bool KernelDepth(int bits)
{
    switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
    case 48:
        return true;
    default:
        return false;
    }
}

int WriteRow(TDib* image, std::uint32_t r, const std::uint8_t* line, std::uint64_t bytes)
{
    _BITMAPHANDLE& b = dib::TDibAccess::Bitmap(*image);
    const int stored = dib::TDibAccess::StoredRow(b, int(r));
    bytes = std::min<std::uint64_t>(bytes, std::uint64_t(b.BytesPerLine));
    return RkPutBitmapRow(&b, line, stored, bytes) > 0 ? kTiffOk : kTiffReadFailed;
}

std::unique_ptr<codec::TiffInput> OpenSource(core::ByteSource& source)
{
    InstallTiffTagExtenderOnce();
    core::ClearLastErrorText();
    // Strip chopping keeps single-strip uncompressed files from being read whole.
    return codec::TiffInput::Open(source, "rmC", "tiff");
}

} // namespace

int LoadTiff16(TIFF* tif, TProcesLiniaDIB* processor, TIndicadorEstat* progress, bool wantAlpha,
               TDib* image, bool adaptCmyk)
{
    if (!processor && !image)
        return kTiffOk;
    TiffLayout l;
    if (DescribeLayout(tif, wantAlpha, true, l) != 1)
        return kTiffUnsupported;
    RowReader reader;
    const std::uint64_t fileBytes = std::uint64_t(TIFFGetSizeProc(tif)(TIFFClientdata(tif)));
    if (const int s = reader.Open(tif, l, fileBytes); s != kTiffOk)
        return s;
    std::vector<std::uint16_t> line, alpha;
    try {
        line.assign(std::size_t(l.lineBytes / 2 + 1), 0);
        if (l.alphaLine)
            alpha.assign(l.width, 0);
    } catch (const std::bad_alloc&) {
        return NoMemory();
    }
    // Scan lines are copied out as words: libtiff's buffer is only byte-aligned.
    std::vector<std::uint16_t> in;
    try {
        in.assign(std::max<std::size_t>(std::size_t(reader.scanline() / 2 + 1), l.width), 0);
    } catch (const std::bad_alloc&) {
        return NoMemory();
    }
    // The image receives the samples reduced to 8 bits, in the same layout.
    const int imageBits = l.kept * 8;
    const auto imageLineBytes = core::CheckedLineSize(l.width, std::uint32_t(imageBits), 4);
    Buffer reduced;
    if (image) {
        if (!KernelDepth(imageBits) || !imageLineBytes)
            return Unsupported("no bitmap depth for this many samples");
        if (!Allocate(reduced, *imageLineBytes))
            return NoMemory();
    }
    const Window win = StartConsumer(processor, l.width, l.height);
    if (image) {
        const bool grey =
            (l.photometric == PHOTOMETRIC_MINISWHITE || l.photometric == PHOTOMETRIC_MINISBLACK) &&
            l.kept == 1;
        tagRGBQUAD ramp[256];
        for (int i = 0; i < 256; ++i)
            ramp[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
        const int created =
            image->Crear(int(l.width), int(l.height), imageBits, grey ? ramp : nullptr);
        if (created != DIB_OK) {
            core::SetLastErrorText("the bitmap cannot be created");
            return created == DIB_STATUS_KERNEL_BASE + RK_ERROR_NO_MEMORY ? kTiffNoMemory
                                                                          : kTiffUnsupported;
        }
    }
    ImageLock lock(image);
    // Without a consumer every row goes to the image.
    const int first = processor ? win.first : 0;
    int status = kTiffOk;
    bool more = true;
    for (std::uint32_t r = 0; r < l.height && status == kTiffOk && first >= 0 && more; ++r) {
        CSetSubRangIE sub(progress, r, l.height);
        std::uint16_t* a = l.alphaLine ? alpha.data() : nullptr;
        for (int plane = 0; plane < (l.separate() ? l.samples : 1); ++plane) {
            const std::uint8_t* data = reader.Row(r, std::uint16_t(plane));
            if (!data) {
                status = kTiffReadFailed;
                break;
            }
            if (r < std::uint32_t(first))
                continue;
            if (l.separate()) {
                std::memcpy(in.data(), data, std::size_t(l.width) * 2);
                SpreadPlane16(l, plane, in.data(), line.data(), a);
            } else {
                std::memcpy(in.data(), data, std::size_t(l.width) * l.samples * 2);
                SplitInterleaved16(l, in.data(), line.data(), a);
            }
        }
        if (status != kTiffOk || r < std::uint32_t(first))
            continue;
        ConvertLine16(l, line.data(), a);
        if (image) {
            const std::size_t count = std::size_t(l.width) * std::size_t(l.kept);
            for (std::size_t i = 0; i < count; ++i)
                reduced[i] = g_word2byte[line[i]];
            if (l.kept == 4 && l.photometric != PHOTOMETRIC_RGB && adaptCmyk)
                TDib::AdaptarPerCarregarCMYK(reduced.data(), int(l.width));
            status = WriteRow(image, r, reduced.data(), *imageLineBytes);
        }
        if (processor)
            more =
                processor->Processar(
                    reinterpret_cast<unsigned char*>(line.data() + std::size_t(win.left) * l.kept),
                    a ? reinterpret_cast<unsigned char*>(a + win.left) : nullptr) != 0;
        if (status == kTiffOk && Cancelled(progress))
            status = kTiffCancelled;
    }
    if (status == kTiffOk && processor && win.first >= 0)
        processor->Done();
    return status;
}

int LoadTiff(core::ByteSource& source, const LoadRequest& q)
{
    auto in = OpenSource(source);
    if (!in)
        return kTiffOpenFailed;
    TIFF* tif = in->get();
    std::uint16_t bits = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    if (bits == 16)
        return LoadTiff16(tif, q.processor, q.progress, q.wantAlpha, q.image, q.adaptCmyk);

    TiffLayout l;
    if (DescribeLayout(tif, q.wantAlpha, false, l) != 1)
        return kTiffUnsupported;
    if (q.image && !KernelDepth(l.lineBits))
        return Unsupported("no bitmap depth for this many samples");
    RowReader reader;
    if (const int s = reader.Open(tif, l, source.size()); s != kTiffOk)
        return s;
    Buffer line, alpha;
    if (!Allocate(line, l.lineBytes) || (l.alphaLine && !Allocate(alpha, l.width)))
        return NoMemory();

    const bool grey =
        (l.photometric == PHOTOMETRIC_MINISWHITE || l.photometric == PHOTOMETRIC_MINISBLACK) &&
        l.kept == 1;
    const Window win = StartConsumer(q.processor, l.width, l.height);
    if (q.image) {
        // Grey images get a grey ramp: the stored values are min-is-black at 8 bits (the
        // reader inverts min-is-white samples) and the file's own bits at packed depths.
        tagRGBQUAD ramp[256];
        const tagRGBQUAD* palette = nullptr;
        if (grey) {
            const int count = 1 << l.bits;
            const bool descending = l.photometric == PHOTOMETRIC_MINISWHITE && l.bits < 8;
            for (int i = 0; i < count; ++i) {
                const int v = (descending ? count - 1 - i : i) * 255 / (count - 1);
                ramp[i] = {BYTE(v), BYTE(v), BYTE(v), 0};
            }
            palette = ramp;
        }
        const int created = q.image->Crear(int(l.width), int(l.height), l.lineBits, palette);
        if (created != DIB_OK) {
            core::SetLastErrorText("the bitmap cannot be created");
            return created == DIB_STATUS_KERNEL_BASE + RK_ERROR_NO_MEMORY ? kTiffNoMemory
                                                                          : kTiffUnsupported;
        }
    }
    ImageLock lock(q.image);

    const std::uint64_t leftByte = std::uint64_t(win.left) * std::uint64_t(l.lineBits) / 8;
    const std::uint64_t packedBytes = (std::uint64_t(l.width) * l.bits + 7) / 8;
    int status = kTiffOk;
    bool more = true;
    for (std::uint32_t r = 0; r < l.height && status == kTiffOk && win.first >= 0 && more; ++r) {
        CSetSubRangIE sub(q.progress, r, l.height);
        std::uint8_t* a = l.alphaLine ? alpha.data() : nullptr;
        const bool skip = r < std::uint32_t(win.first);
        for (int plane = 0; plane < (l.separate() ? l.samples : 1); ++plane) {
            const std::uint8_t* data = reader.Row(r, std::uint16_t(plane));
            if (!data) {
                status = kTiffReadFailed;
                break;
            }
            if (skip)
                continue;
            if (l.separate())
                SpreadPlane8(l, plane, data, line.data(), a);
            else if (l.bits < 8)
                std::memcpy(line.data(), data, std::size_t(packedBytes));
            else
                SplitInterleaved8(l, data, line.data(), a);
        }
        if (status != kTiffOk || skip)
            continue;
        ConvertLine8(l, line.data(), a);
        if (q.processor)
            more = q.processor->Processar(line.data() + leftByte, a ? a + win.left : nullptr) != 0;
        if (q.image) {
            if (l.kept == 4 && l.photometric != PHOTOMETRIC_RGB && q.adaptCmyk)
                TDib::AdaptarPerCarregarCMYK(line.data(), int(l.width));
            if (l.photometric == PHOTOMETRIC_MINISWHITE && l.bits < 8)
                for (std::uint64_t i = 0; i < packedBytes; ++i)
                    line[i] = static_cast<std::uint8_t>(~line[i]);
            status = WriteRow(q.image, r, line.data(), l.lineBytes);
        }
        if (status == kTiffOk && Cancelled(q.progress))
            status = kTiffCancelled;
    }
    if (status != kTiffOk)
        return status;
    if (q.image && l.photometric == PHOTOMETRIC_PALETTE) {
        std::unique_ptr<tagRGBQUAD, FreeDeleter> palette(L_GetTIFFPalette(tif));
        _BITMAPHANDLE& b = dib::TDibAccess::Bitmap(*q.image);
        if (palette && b.ColorCount > 0)
            RkPutBitmapColors(&b, 0, b.ColorCount, palette.get());
    }
    if (q.processor && win.first >= 0)
        q.processor->Done();
    return status;
}

int LoadIndexedTiff(core::ByteSource& source, int bitsPerPixel, TProcesLiniaDIB* processor,
                    TIndicadorEstat* progress, TDib* image)
{
    auto in = OpenSource(source);
    if (!in)
        return kTiffOpenFailed;
    TIFF* tif = in->get();
    std::uint16_t bits = 0, samples = 0, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (bits != 8 || samples != 1 || photometric != PHOTOMETRIC_PALETTE || bitsPerPixel != 24)
        return Unsupported("not an 8-bit palette file read as 24 bits");
    TiffLayout l;
    if (DescribeLayout(tif, false, false, l) != 1)
        return kTiffUnsupported;
    std::unique_ptr<tagRGBQUAD, FreeDeleter> palette(L_GetTIFFPalette(tif));
    if (!palette)
        return Unsupported("palette file without a ColorMap");
    RowReader reader;
    if (const int s = reader.Open(tif, l, source.size()); s != kTiffOk)
        return s;
    const auto lineBytes = core::CheckedLineSize(l.width, 24, 4);
    Buffer line;
    if (!lineBytes || !Allocate(line, *lineBytes))
        return NoMemory();
    const Window win = StartConsumer(processor, l.width, l.height);
    if (image && image->Crear(int(l.width), int(l.height), 24) != DIB_OK)
        return NoMemory();
    ImageLock lock(image);
    const tagRGBQUAD* p = palette.get();
    int status = kTiffOk;
    bool more = true;
    for (std::uint32_t r = 0; r < l.height && status == kTiffOk && win.first >= 0 && more; ++r) {
        CSetSubRangIE sub(progress, r, l.height);
        const std::uint8_t* data = reader.Row(r, 0);
        if (!data) {
            status = kTiffReadFailed;
            break;
        }
        if (r < std::uint32_t(win.first))
            continue;
        std::uint8_t* out = line.data();
        for (std::uint32_t x = 0; x < l.width; ++x, out += 3) {
            const tagRGBQUAD& e = p[data[x]];
            out[0] = e.rgbBlue;
            out[1] = e.rgbGreen;
            out[2] = e.rgbRed;
        }
        if (processor)
            more = processor->Processar(line.data() + std::size_t(win.left) * 3, nullptr) != 0;
        if (image)
            status = WriteRow(image, r, line.data(), *lineBytes);
        if (status == kTiffOk && Cancelled(progress))
            status = kTiffCancelled;
    }
    if (status == kTiffOk && processor && win.first >= 0)
        processor->Done();
    return status;
}

int InfoTiff(core::ByteSource& source, CFILEINFO& info)
{
    auto in = OpenSource(source);
    if (!in)
        return -10;
    TIFF* tif = in->get();
    std::uint32_t width = 0, height = 0, tileWidth = 0, tileLength = 0;
    std::uint16_t samples = 1, bits = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE, inkSet = 0, unit = 0, extraCount = 0;
    std::uint16_t* kinds = nullptr;
    float xres = 0, yres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &kinds) || !kinds)
        extraCount = 0;
    const bool tiled = TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth) && tileWidth != 0 &&
                       TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength) && tileLength > 0;

    info.Width = std::int32_t(std::min<std::uint32_t>(width, 0x7FFFFFFF));
    info.Height = std::int32_t(std::min<std::uint32_t>(height, 0x7FFFFFFF));
    info.Channels = samples;
    info.SamplesPerPixel = samples;
    info.BitsPerChannel = bits;
    if (samples * bits != 0)
        info.BitsPerPixel = samples * bits;
    info.AlphaChannel = -1;
    info.Indexed = 0;
    info.ViewPerspective = 1;
    info.Tiled = tiled ? 1 : 0;

    const int colourSamples = int(samples) - int(extraCount);
    if (!TIFFGetField(tif, TIFFTAG_INKSET, &inkSet))
        inkSet = (colourSamples == 4 && photometric == PHOTOMETRIC_SEPARATED) ? INKSET_CMYK : 2;

    const bool hasX = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) == 1;
    const bool hasY = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) == 1;
    if (hasX && xres > 0)
        info.XResolution = xres;
    if (hasY && yres > 0)
        info.YResolution = yres;
    if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) && unit == RESUNIT_CENTIMETER) {
        info.XResolution = (hasX ? double(xres) : 0.0) * 2.54;
        info.YResolution = (hasY ? double(yres) : 0.0) * 2.54;
    }

    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        info.ColorSpace = bits < 8 ? DIB_CS_MONO : DIB_CS_GREY;
        break;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
        info.ColorSpace = DIB_CS_RGB;
        break;
    case PHOTOMETRIC_SEPARATED:
        info.ColorSpace = inkSet == INKSET_CMYK ? DIB_CS_CMYK : DIB_CS_MULTICHANNEL;
        break;
    case PHOTOMETRIC_CIELAB:
        info.ColorSpace = DIB_CS_LAB;
        break;
    case PHOTOMETRIC_PALETTE:
        info.Channels = 3;
        info.BitsPerPixel = 3 * bits;
        info.ColorSpace = DIB_CS_RGB;
        info.Indexed = 1;
        info.ColourModel = 0;
        break;
    default:
        break;
    }
    if (photometric != PHOTOMETRIC_PALETTE) {
        for (int i = 0; i < extraCount; ++i)
            if (kinds[i] == EXTRASAMPLE_ASSOCALPHA || kinds[i] == EXTRASAMPLE_UNASSALPHA) {
                info.AlphaChannel = int(info.Channels) - int(extraCount) + i;
                break;
            }
        if (info.ColorSpace == DIB_CS_MULTICHANNEL)
            info.AlphaChannel = -1;
    }
    if ((photometric == PHOTOMETRIC_SEPARATED && samples == 6) || photometric == PHOTOMETRIC_CIELAB)
        info.Format = 3;
    else if (info.Format <= 0)
        info.Format = info.BitsPerPixel == 32 ? 85 : 3;

    if (planar == PLANARCONFIG_SEPARATE && compression != COMPRESSION_NONE)
        return 0;
    if (tiled && !(info.ColorSpace == DIB_CS_RGB && samples == 3))
        return 0;
    if (bits >= 8)
        return 1;
    return samples == 1 ? 1 : 0;
}

} // namespace codec_tiff

// ---- the image's members ----------------------------------------------------------------------

namespace {

std::unique_ptr<core::ByteSource> SourceForPath(const wchar_t* path)
{
    std::string utf8;
    if (!path || !PathToUtf8(path, utf8)) {
        core::SetLastErrorText("invalid path");
        return nullptr;
    }
    return core::FileSource(utf8.c_str());
}

} // namespace

int TDib::_loadTiff(const wchar_t* path, int, TProcesLiniaDIB* processor, TIndicadorEstat* progress,
                    int intoImage, int adaptCmyk, int wantAlpha)
{
    auto source = SourceForPath(path);
    if (!source)
        return codec_tiff::kTiffOpenFailed;
    codec_tiff::LoadRequest q;
    q.processor = processor;
    q.progress = progress;
    q.image = intoImage ? this : nullptr;
    q.adaptCmyk = adaptCmyk != 0;
    q.wantAlpha = wantAlpha != 0;
    return codec_tiff::LoadTiff(*source, q);
}

int TDib::_loadIndexedTiff(const wchar_t* path, int bitsPerPixel, TProcesLiniaDIB* processor,
                           TIndicadorEstat* progress, int intoImage)
{
    // The layout check comes first: a wrong request is answered without touching the file.
    if (bitsPerPixel != 24)
        return codec_tiff::kTiffUnsupported;
    auto source = SourceForPath(path);
    if (!source)
        return codec_tiff::kTiffOpenFailed;
    return codec_tiff::LoadIndexedTiff(*source, bitsPerPixel, processor, progress,
                                       intoImage ? this : nullptr);
}

int TDib::_loadTiffMemory(const unsigned char* data, int, unsigned long size)
{
    if (!data || size == 0)
        return codec_tiff::kTiffOpenFailed;
    auto source = core::MemorySource(data, size);
    if (!source)
        return codec_tiff::kTiffNoMemory;
    codec_tiff::LoadRequest q;
    q.image = this;
    q.wantAlpha = true;
    return codec_tiff::LoadTiff(*source, q);
}

int TDib::_infoTiff(const wchar_t* path, CFILEINFO& info)
{
    auto source = SourceForPath(path);
    if (!source)
        return -10;
    return codec_tiff::InfoTiff(*source, info);
}
