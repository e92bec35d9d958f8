// tiff_stream_writer.cpp - the streaming TIFF writer (start, row, end, abort).
//
// Contents
//   record and limits        TiffStream, CheckArgs, RowsPerStripFor
//   file kind                WorstCaseBytes, NeedsBigTiff
//   targets                  memory procedures, OpenTarget
//   tags                     WriteTags
//   rows                     ConvertRow, WriteInterleaved, PadSeparatePlanes, CloseStream
//   exported calls           L_StartDynamicSaveTIFF, L_DynamicSaveTIFFrow,
//                            L_EndDynamicSaveTIFF, L_AbortDynamicSaveTIFF
//
// Interleaved rows are gathered into a whole strip and handed to libtiff in one call: libtiff
// compresses a whole strip faster (its Deflate codec only takes its libdeflate route then),
// and memory stays at one strip whatever the height.
#include "tiff_writer_internal.h"

#include <algorithm>
#include <base/path_string.h>
#include <base/registry.h>
#include <cmath>
#include <codec/tiff_support.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dib/Status.h>
#include <dib/StreamWriters.h>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string>
#include <tiffio.h>
#include <type_traits>
#include <unistd.h>
#include <win/files.h>

namespace {

constexpr std::uint64_t kClassicLimit = std::uint64_t(1) << 32;
constexpr std::uint64_t kBigTiffMargin = 20971520; // 20 MiB for tags and strip tables
constexpr std::uint64_t kStripBufferLimit = std::uint64_t(32) << 20;
// libtiff's output buffer on the row-by-row route (it would otherwise hold a whole strip).
constexpr tmsize_t kRowRouteOutputBuffer = tmsize_t(4) << 20;
constexpr int kMaxSamples = 20;

// The handle's record: the libtiff file first (L_SetTIFFTag reaches it there), then the
// fields the writer keeps.
struct TiffStream {
    TIFF* file;
    int width;
    int height;
    int samples;
    int bits;
    int nextRow;               // interleaved rows written so far
    int fillFlag;              // 1: missing rows are bytes 0; 0: bytes 255
    int colourOrder;           // 1: 3-sample rows arrive blue, green, red
    int rowsPerStrip;          // as written to the file
    int planar;                // 1 interleaved, 2 separate planes
    std::size_t lineBytes;     // an interleaved row
    std::size_t planeBytes;    // a row of one plane
    std::uint8_t* strip;       // a whole strip of interleaved rows, or null: row by row
    std::uint8_t* row;         // lineBytes of work space for the row-by-row routes
    tiffw::MemoryFile* memory; // the in-memory target, not owned
    int unlinkOnFailure;       // the file was created here
};
static_assert(std::is_standard_layout_v<TiffStream> && offsetof(TiffStream, file) == 0,
              "the libtiff file is the record's first member");

void FreeStream(TiffStream* s)
{
    std::free(s->strip);
    std::free(s->row);
    std::free(s);
}

bool Refuse(const char* why)
{
    core::SetLastErrorText(why);
    return false;
}

bool IsFaxCode(int c)
{
    return c == COMPRESSION_CCITTRLE || c == COMPRESSION_CCITTFAX3 || c == COMPRESSION_CCITTFAX4;
}

bool CheckArgs(const tiffw::StreamArgs& a)
{
    if (a.width < 1 || a.height < 1)
        return Refuse("TIFF writer: width and height must be at least 1");
    if (a.samples < 1 || a.samples > kMaxSamples)
        return Refuse("TIFF writer: 1 to 20 samples per pixel");
    const bool oneSampleDepth =
        a.bits == 1 || a.bits == 2 || a.bits == 4 || a.bits == 8 || a.bits == 16;
    if (!(a.samples == 1 ? oneSampleDepth : (a.bits == 8 || a.bits == 16)))
        return Refuse("TIFF writer: unsupported bits per sample");
    if (a.planar != PLANARCONFIG_CONTIG && a.planar != PLANARCONFIG_SEPARATE)
        return Refuse("TIFF writer: planar configuration must be 1 or 2");
    if (!std::isfinite(a.xDpi) || !std::isfinite(a.yDpi) || a.xDpi < 0 || a.yDpi < 0)
        return Refuse("TIFF writer: resolution must be finite and not negative");
    if (a.compression < 1 || a.compression > 0xFFFF ||
        !TIFFIsCODECConfigured(static_cast<std::uint16_t>(a.compression)))
        return Refuse("TIFF writer: compression not available");
    if (IsFaxCode(a.compression) && (a.samples != 1 || a.bits != 1))
        return Refuse("TIFF writer: fax compression takes one 1-bit sample");
    if (a.compression == COMPRESSION_JPEG && (a.bits != 8 || a.palette))
        return Refuse("TIFF writer: JPEG takes 8-bit samples without palette");
    if (a.palette && (a.samples != 1 || a.bits > 8))
        return Refuse("TIFF writer: a palette takes one sample of at most 8 bits");
    if (a.photoshop && a.photoshopBytes > std::numeric_limits<std::uint32_t>::max())
        return Refuse("TIFF writer: Photoshop block beyond 4 GiB");
    // Rows must fit libtiff's signed sizes with room to spare.
    const auto line = core::CheckedLineSize(std::int64_t(a.width) * a.samples, a.bits);
    if (!line || *line > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        return Refuse("TIFF writer: row too long");
    return true;
}

// Rows per strip from the caller's request (0 is libtiff's default for 128 rows, which the
// file asks for once it is open).
std::int64_t RowsPerStripFor(int request, int height)
{
    if (request > 0)
        return request;
    if (request == 0)
        return 128;
    const std::int64_t maxStrips = -std::int64_t(request);
    if (height / 128 > maxStrips)
        return height / maxStrips + 1;
    return 128;
}

// Worst-case output of a codec on incompressible input, as raw * num / den plus a constant per
// strip and per row (codec headers, end codes, table resets, run headers).
struct CodecBound {
    int code;
    std::uint64_t num, den, perStrip, perRow;
};

// LZW: at most 12-bit codes per input byte, plus clear codes; PackBits: one header byte per
// literal run, the shortest runs costing at most 4 bytes per 3; Deflate, ZSTD, LZMA: stored
// blocks with small headers; JPEG at quality 100: Huffman codes of noise (up to 26 bits per
// sample) and byte stuffing; fax codes: up to about 14 bits per 1-bit pixel.
constexpr CodecBound kCodecBounds[] = {
    {COMPRESSION_NONE, 1, 1, 0, 0},         {COMPRESSION_LZW, 387, 256, 64, 0},
    {COMPRESSION_PACKBITS, 3, 2, 0, 2},     {COMPRESSION_ADOBE_DEFLATE, 257, 256, 64, 0},
    {COMPRESSION_DEFLATE, 257, 256, 64, 0}, {COMPRESSION_ZSTD, 257, 256, 1024, 0},
    {COMPRESSION_LZMA, 257, 256, 1024, 0},  {COMPRESSION_JPEG, 8, 1, 1024, 0},
};
constexpr CodecBound kUnknownCodecBound = {0, 16, 1, 1024, 0};

// The largest the file could grow, or nullopt beyond 64 bits.
std::optional<std::uint64_t> WorstCaseBytes(const tiffw::StreamArgs& a, std::int64_t rps)
{
    const auto line = core::CheckedLineSize(std::int64_t(a.width) * a.samples, a.bits);
    const auto raw = line ? core::CheckedMul(*line, std::uint64_t(a.height)) : std::nullopt;
    if (!raw)
        return std::nullopt;
    CodecBound bound = kUnknownCodecBound;
    for (const CodecBound& b : kCodecBounds)
        if (b.code == a.compression)
            bound = b;
    const std::uint64_t planes = a.planar == PLANARCONFIG_SEPARATE ? std::uint64_t(a.samples) : 1;
    const std::uint64_t strips =
        (std::uint64_t(a.height) + std::uint64_t(rps) - 1) / std::uint64_t(rps) * planes;
    const auto scaled = core::CheckedMul(*raw, bound.num);
    if (!scaled)
        return std::nullopt;
    std::optional<std::uint64_t> total = (*scaled + bound.den - 1) / bound.den;
    total = core::CheckedAdd(*total, strips * bound.perStrip);
    if (total)
        total = core::CheckedAdd(*total, std::uint64_t(a.height) * planes * bound.perRow);
    if (total && a.photoshop && a.photoshopBytes)
        total = core::CheckedAdd(*total, a.photoshopBytes);
    return total;
}

bool NeedsBigTiff(const tiffw::StreamArgs& a, std::int64_t rps)
{
    const auto worst = WorstCaseBytes(a, rps);
    return !worst || *worst + kBigTiffMargin >= kClassicLimit;
}

// ---- targets ----------------------------------------------------------------------------------

struct MemoryProcs {
    static tiffw::MemoryFile& Of(thandle_t h) { return *static_cast<tiffw::MemoryFile*>(h); }
    static tmsize_t read(thandle_t h, void* buffer, tmsize_t size)
    {
        tiffw::MemoryFile& m = Of(h);
        if (size <= 0 || m.position >= m.size)
            return 0;
        const std::uint64_t n = std::min<std::uint64_t>(std::uint64_t(size), m.size - m.position);
        std::memcpy(buffer, m.data + m.position, n);
        m.position += n;
        return tmsize_t(n);
    }
    static tmsize_t write(thandle_t h, void* buffer, tmsize_t size)
    {
        tiffw::MemoryFile& m = Of(h);
        if (size < 0)
            return -1;
        const auto end = core::CheckedAdd(m.position, std::uint64_t(size));
        if (!end || *end > std::uint64_t(std::numeric_limits<tmsize_t>::max()))
            return -1;
        if (*end > m.capacity) {
            std::uint64_t grown = m.capacity < 65536 ? 65536 : m.capacity;
            while (grown < *end)
                grown = grown > (std::uint64_t(1) << 62) ? *end : grown * 2;
            auto* data = static_cast<std::uint8_t*>(std::realloc(m.data, grown));
            if (!data) {
                m.outOfMemory = true;
                return -1;
            }
            m.data = data;
            m.capacity = grown;
        }
        if (m.position > m.size) // a gap left by a seek past the end reads as zeros
            std::memset(m.data + m.size, 0, m.position - m.size);
        std::memcpy(m.data + m.position, buffer, std::size_t(size));
        m.position = *end;
        if (m.position > m.size)
            m.size = m.position;
        return size;
    }
    static toff_t seek(thandle_t h, toff_t offset, int whence)
    {
        tiffw::MemoryFile& m = Of(h);
        std::uint64_t base = 0;
        if (whence == SEEK_CUR)
            base = m.position;
        else if (whence == SEEK_END)
            base = m.size;
        else if (whence != SEEK_SET)
            return toff_t(-1);
        // Relative moves backwards arrive as wrapped unsigned offsets; the sum undoes them.
        const std::uint64_t target = base + std::uint64_t(offset);
        if (target > std::uint64_t(std::numeric_limits<tmsize_t>::max()))
            return toff_t(-1);
        m.position = target;
        return target;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return Of(h).size; }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}
};

// Opens the target for writing; errors of the handle become this thread's last error text.
TIFF* OpenTarget(const wchar_t* path, tiffw::MemoryFile* memory, bool bigTiff, bool& created)
{
    created = false;
    const char* mode = bigTiff ? "w8" : "w";
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        core::SetLastErrorText("out of memory");
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, codec::KeepTiffError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, codec::DropTiffWarning, nullptr);
    TIFF* tif = nullptr;
    if (memory) {
        tif = TIFFClientOpenExt("memory", mode, memory, MemoryProcs::read, MemoryProcs::write,
                                MemoryProcs::seek, MemoryProcs::close, MemoryProcs::size,
                                MemoryProcs::map, MemoryProcs::unmap, options);
    } else {
        std::string name;
        if (!PathToUtf8(path, name)) {
            core::SetLastErrorText("TIFF writer: path is not valid Unicode");
        } else {
            const CPathString folder = CPathString(path).GetCarpeta();
            if (!folder.IsEmpty() && !folder.TestCarpeta())
                folder.CrearCarpeta();
            const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) {
                core::SetLastErrorTextF("TIFF writer: cannot create %s", name.c_str());
            } else {
                created = true;
                tif = TIFFFdOpenExt(fd, name.c_str(), mode, options);
                if (!tif)
                    ::close(fd);
            }
        }
    }
    TIFFOpenOptionsFree(options);
    return tif;
}

// ---- tags ---------------------------------------------------------------------------------------

std::string DateTimeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&now, &local))
        std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

// ColorMap from 2^bits palette entries; an 8-bit component v becomes v * 257, so that 255 is
// full intensity.
bool WriteColorMap(TIFF* tif, const tagRGBQUAD* palette, int bits)
{
    const std::size_t n = std::size_t(1) << bits;
    std::uint16_t maps[3][256];
    for (std::size_t i = 0; i < n; ++i) {
        maps[0][i] = std::uint16_t(palette[i].rgbRed * 257u);
        maps[1][i] = std::uint16_t(palette[i].rgbGreen * 257u);
        maps[2][i] = std::uint16_t(palette[i].rgbBlue * 257u);
    }
    return TIFFSetField(tif, TIFFTAG_COLORMAP, maps[0], maps[1], maps[2]) == 1;
}

bool WriteTags(TIFF* tif, const tiffw::StreamArgs& a)
{
    const std::string software = WideToUtf8(TCarpetaRegistry::GetNomAplicacio());
    const std::string dateTime = DateTimeNow();
    bool ok = TIFFSetField(tif, TIFFTAG_SOFTWARE, software.c_str()) == 1;
    if (!dateTime.empty())
        ok = ok && TIFFSetField(tif, TIFFTAG_DATETIME, dateTime.c_str()) == 1;
    ok = ok && TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(a.width)) == 1 &&
         TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(a.height)) == 1 &&
         TIFFSetField(tif, TIFFTAG_PLANARCONFIG, a.planar) == 1 &&
         TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, a.samples) == 1 &&
         TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, a.bits) == 1;
    if (a.samples == 1 && a.palette) {
        ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE) == 1 &&
             WriteColorMap(tif, a.palette, a.bits);
    } else if (a.samples == 1) {
        ok =
            ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                               a.minIsWhite ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK) == 1;
    } else if (a.samples == 3) {
        ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) == 1;
    } else {
        ok = ok && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED) == 1 &&
             TIFFSetField(tif, TIFFTAG_NUMBEROFINKS, a.samples) == 1;
        if (a.samples <= 4) {
            ok = ok && TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK) == 1;
        } else {
            const std::uint16_t unspecified[kMaxSamples] = {};
            ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, a.samples - 4, unspecified) == 1;
        }
    }
    ok = ok && TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(float(a.xDpi))) == 1 &&
         TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(float(a.yDpi))) == 1 &&
         TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1 &&
         TIFFSetField(tif, TIFFTAG_COMPRESSION, a.compression) == 1;
    if (a.compression == COMPRESSION_JPEG) {
        ok = ok && TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 1 &&
             TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 100) == 1;
    } else if (a.compression == COMPRESSION_LZW) {
        ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR,
                                a.bits >= 8 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE) == 1;
    }
    return ok;
}

// ---- rows -------------------------------------------------------------------------------------

bool NeedsConversion(const TiffStream& s)
{
    return (s.colourOrder == 1 && s.samples == 3) || s.samples > 4;
}

// The caller's interleaved row as the file stores it: blue-green-red swapped, extra samples
// complemented.
void ConvertRow(const TiffStream& s, const std::uint8_t* in, std::uint8_t* out)
{
    const std::size_t pixels = std::size_t(s.width);
    const std::size_t n = std::size_t(s.samples);
    if (s.bits == 8) {
        if (s.samples == 3) {
            for (std::size_t x = 0; x < pixels; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            return;
        }
        for (std::size_t x = 0; x < pixels; ++x, in += n, out += n) {
            std::memcpy(out, in, 4);
            for (std::size_t i = 4; i < n; ++i)
                out[i] = std::uint8_t(255 - in[i]);
        }
        return;
    }
    // 16 bits: whole words in the machine's order (the rows are not aligned for uint16_t).
    auto word = [](const std::uint8_t* p, std::size_t i) {
        std::uint16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        return v;
    };
    auto put = [](std::uint8_t* p, std::size_t i, std::uint16_t v) {
        std::memcpy(p + 2 * i, &v, 2);
    };
    for (std::size_t x = 0; x < pixels; ++x, in += 2 * n, out += 2 * n) {
        if (s.samples == 3) {
            put(out, 0, word(in, 2));
            put(out, 1, word(in, 1));
            put(out, 2, word(in, 0));
            continue;
        }
        std::memcpy(out, in, 8);
        for (std::size_t i = 4; i < n; ++i)
            put(out, i, std::uint16_t(65535 - word(in, i)));
    }
}

// Writes the next interleaved row: into the strip, handing the strip to libtiff when it is
// complete, or straight to libtiff on the row-by-row route. The row counts as written only
// when libtiff took it. asStored: the bytes are written without conversion (fill rows).
int WriteInterleaved(TiffStream* s, const std::uint8_t* data, bool asStored)
{
    const bool convert = !asStored && NeedsConversion(*s);
    if (s->strip) {
        const int inStrip = s->nextRow % s->rowsPerStrip;
        std::uint8_t* dst = s->strip + std::size_t(inStrip) * s->lineBytes;
        if (convert)
            ConvertRow(*s, data, dst);
        else
            std::memcpy(dst, data, s->lineBytes);
        if (inStrip == s->rowsPerStrip - 1 || s->nextRow == s->height - 1) {
            const auto strip = static_cast<std::uint32_t>(s->nextRow / s->rowsPerStrip);
            const auto bytes = static_cast<tmsize_t>(std::size_t(inStrip + 1) * s->lineBytes);
            if (TIFFWriteEncodedStrip(s->file, strip, s->strip, bytes) < 0)
                return DIB_ERR_FAILED;
        }
        ++s->nextRow;
        return DIB_OK;
    }
    // libtiff's predictor works in place on the row it is given: never the caller's.
    if (convert)
        ConvertRow(*s, data, s->row);
    else if (data != s->row)
        std::memcpy(s->row, data, s->lineBytes);
    if (TIFFWriteScanline(s->file, s->row, static_cast<std::uint32_t>(s->nextRow), 0) < 0)
        return DIB_ERR_FAILED;
    ++s->nextRow;
    return DIB_OK;
}

std::uint8_t FillByte(const TiffStream& s)
{
    return s.fillFlag ? 0 : 255;
}

// Separate planes: every strip that received no row is filled. Strips partly written are left
// as written (libtiff cannot go back into a compressed strip).
int PadSeparatePlanes(TiffStream* s)
{
    if (!TIFFFlushData(s->file))
        return DIB_ERR_FAILED;
    const std::uint32_t strips = TIFFNumberOfStrips(s->file);
    const std::uint32_t stripsPerPlane = strips / std::uint32_t(s->samples);
    for (std::uint32_t strip = 0; strip < strips; ++strip) {
        if (TIFFGetStrileByteCount(s->file, strip) != 0)
            continue;
        const auto plane = static_cast<std::uint16_t>(strip / stripsPerPlane);
        const std::uint32_t first = (strip % stripsPerPlane) * std::uint32_t(s->rowsPerStrip);
        const std::uint32_t end =
            std::min<std::uint64_t>(std::uint64_t(first) + s->rowsPerStrip, s->height);
        for (std::uint32_t r = first; r < end; ++r) {
            std::memset(s->row, FillByte(*s), s->planeBytes); // the predictor alters it
            if (TIFFWriteScanline(s->file, s->row, r, plane) < 0)
                return DIB_ERR_FAILED;
        }
    }
    return DIB_OK;
}

// Writes the directory, closes and frees. true when everything reached the target.
bool CloseStream(TiffStream* s)
{
    bool ok = TIFFFlush(s->file) == 1;
    TIFFClose(s->file);
    if (s->memory && s->memory->outOfMemory)
        ok = false;
    FreeStream(s);
    return ok;
}

} // namespace

namespace tiffw {

void* StartStream(const StreamArgs& a, const wchar_t* path, MemoryFile* memory)
{
    codec::InstallTiffHandlersOnce();
    if (!memory && (!path || !*path)) {
        core::SetLastErrorText("TIFF writer: no path");
        return nullptr;
    }
    if (!CheckArgs(a))
        return nullptr;
    const std::int64_t rps = RowsPerStripFor(a.rowsPerStrip, a.height);
    const std::size_t lineBytes =
        std::size_t(*core::CheckedLineSize(std::int64_t(a.width) * a.samples, a.bits));
    const std::size_t planeBytes = std::size_t(*core::CheckedLineSize(a.width, a.bits));

    auto* s = static_cast<TiffStream*>(std::calloc(1, sizeof(TiffStream)));
    if (!s) {
        core::SetLastErrorText("out of memory");
        return nullptr;
    }
    // Work row: a caller's row, or a fill row of the bytes per line rounded up to 4.
    s->row = static_cast<std::uint8_t*>(std::malloc(lineBytes + 4));
    if (!s->row) {
        FreeStream(s);
        core::SetLastErrorText("out of memory");
        return nullptr;
    }
    bool created = false;
    s->file = OpenTarget(path, memory, NeedsBigTiff(a, rps), created);
    if (!s->file) {
        FreeStream(s);
        return nullptr;
    }
    s->width = a.width;
    s->height = a.height;
    s->samples = a.samples;
    s->bits = a.bits;
    s->nextRow = 0;
    s->fillFlag = a.samples == 3 ? 0 : 1;
    s->colourOrder = a.colourOrder == 1 && (a.bits == 8 || a.bits == 16) ? 1 : 0;
    s->planar = a.planar;
    s->lineBytes = lineBytes;
    s->planeBytes = planeBytes;
    s->memory = memory;
    s->unlinkOnFailure = created ? 1 : 0;

    bool ok = WriteTags(s->file, a);
    std::uint32_t rows = static_cast<std::uint32_t>(rps);
    if (ok && a.rowsPerStrip == 0)
        rows = TIFFDefaultStripSize(s->file, 128);
    rows = std::max<std::uint32_t>(1, rows);
    ok = ok && TIFFSetField(s->file, TIFFTAG_ROWSPERSTRIP, rows) == 1;
    if (ok && a.photoshop && a.photoshopBytes)
        ok = TIFFSetField(s->file, TIFFTAG_PHOTOSHOP, std::uint32_t(a.photoshopBytes),
                          a.photoshop) == 1;
    s->rowsPerStrip = int(std::min<std::uint64_t>(rows, std::numeric_limits<int>::max()));

    if (ok && a.planar == PLANARCONFIG_CONTIG) {
        const std::uint64_t stripRows = std::min<std::uint64_t>(rows, std::uint64_t(a.height));
        const std::uint64_t stripBytes = stripRows * lineBytes; // < 2^31 * 2^31
        if (stripBytes <= kStripBufferLimit)
            s->strip = static_cast<std::uint8_t*>(std::malloc(std::size_t(stripBytes)));
    }
    // The row-by-row routes keep libtiff's output buffer small (the codecs flush it when full).
    if (ok && !s->strip)
        ok = TIFFWriteBufferSetup(s->file, nullptr, kRowRouteOutputBuffer) == 1;
    if (!ok) {
        std::string name;
        const bool unlink = s->unlinkOnFailure && PathToUtf8(path, name);
        TIFFClose(s->file);
        FreeStream(s);
        if (unlink)
            ::unlink(name.c_str());
        return nullptr;
    }
    return s;
}

} // namespace tiffw

void* L_StartDynamicSaveTIFF(int width, int height, int samplesPerPixel, int bitsPerSample,
                             int minIsWhite, double xDpi, double yDpi, const wchar_t* path,
                             int compression, int colourOrder, tagRGBQUAD* palette,
                             int rowsPerStrip, int planarConfig, void* photoshop,
                             std::uint64_t photoshopBytes)
{
    tiffw::StreamArgs a;
    a.width = width;
    a.height = height;
    a.samples = samplesPerPixel;
    a.bits = bitsPerSample;
    a.minIsWhite = minIsWhite;
    a.xDpi = xDpi;
    a.yDpi = yDpi;
    a.compression = compression;
    a.colourOrder = colourOrder;
    a.palette = palette;
    a.rowsPerStrip = rowsPerStrip;
    a.planar = planarConfig;
    a.photoshop = photoshop;
    a.photoshopBytes = photoshopBytes;
    return tiffw::StartStream(a, path, nullptr);
}

int L_DynamicSaveTIFFrow(unsigned char* row, void* handle, int rowIndex, int plane)
{
    if (!row || !handle)
        return DIB_ERR_INVALID;
    auto* s = static_cast<TiffStream*>(handle);
    if (s->planar == PLANARCONFIG_SEPARATE) {
        if (rowIndex < 0 || plane < 0)
            return 1;
        if (rowIndex >= s->height || plane >= s->samples)
            return DIB_ERR_FAILED;
        std::memcpy(s->row, row, s->planeBytes);
        if (TIFFWriteScanline(s->file, s->row, static_cast<std::uint32_t>(rowIndex),
                              static_cast<std::uint16_t>(plane)) < 0)
            return DIB_ERR_FAILED;
        return DIB_OK;
    }
    if (s->nextRow >= s->height)
        return 1;
    return WriteInterleaved(s, row, false);
}

int L_EndDynamicSaveTIFF(void*& handle)
{
    if (!handle)
        return DIB_ERR_INVALID;
    auto* s = static_cast<TiffStream*>(handle);
    handle = nullptr;
    int status = DIB_OK;
    if (s->planar == PLANARCONFIG_SEPARATE) {
        status = PadSeparatePlanes(s);
    } else if (s->nextRow < s->height) {
        // The fill row goes through the strip like any other; s->row is free for it. The row
        // route's predictor alters it, so it is filled again each time.
        while (status == DIB_OK && s->nextRow < s->height) {
            std::memset(s->row, FillByte(*s), s->lineBytes);
            status = WriteInterleaved(s, s->row, true);
        }
    }
    if (!CloseStream(s))
        status = DIB_ERR_FAILED;
    return status;
}

int L_AbortDynamicSaveTIFF(void*& handle)
{
    if (!handle)
        return DIB_ERR_INVALID;
    auto* s = static_cast<TiffStream*>(handle);
    handle = nullptr;
    int status = DIB_OK;
    const int pending = s->strip ? s->nextRow % s->rowsPerStrip : 0;
    if (pending > 0) {
        const auto strip = static_cast<std::uint32_t>(s->nextRow / s->rowsPerStrip);
        const auto bytes = static_cast<tmsize_t>(std::size_t(pending) * s->lineBytes);
        if (TIFFWriteEncodedStrip(s->file, strip, s->strip, bytes) < 0)
            status = DIB_ERR_FAILED;
    }
    if (!CloseStream(s))
        status = DIB_ERR_FAILED;
    return status;
}
