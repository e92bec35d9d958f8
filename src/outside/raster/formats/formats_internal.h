// formats_internal.h - what one format's reader/writer gives the file module's dispatch.
//
// A codec decodes rows at its own native depth and hands them to a RowSink; the dispatch
// converts them to the caller's depth and order, stores them in the bitmap and/or passes them
// to the caller's callback, and reports progress and cancellation. A codec's writer receives
// rows already converted to a depth it declared it writes, from a RowSource, and writes to a
// file descriptor the dispatch owns (a temporary file renamed into place once complete, or an
// unnamed one read back for memory saves).
#pragma once

#include "../../core/byte_source.h"
#include "../../win/windef.h"
#include "../bitmap_handle.h"
#include "../file_info.h"
#include "../file_module.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rkfmt {

// What a reader is about to deliver.
struct PictureShape {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;            // of the delivered rows: 1, 4, 8, 16 (5-5-5), 24, 32, 48
    int order = RK_ORDER_BGR;        // of 24/32/48-bit rows
    std::vector<tagRGBQUAD> palette; // 2^bits entries or fewer for 1 to 8 bits
    bool bottomUp = false;           // rows delivered bottom row first (file order)
    bool storedBottomUp = false;     // the file stores its rows bottom-up even though they are
                                     // delivered top row first (RowSink::PrefersTopDown)
    int xResolution = 0;             // dots per inch, 0 = unknown
    int yResolution = 0;
};

class RowSink {
public:
    virtual ~RowSink() = default;
    // Once, before any row. Answer > 0 to go on; anything else is returned by the reader.
    virtual int Begin(const PictureShape& shape) = 0;
    // `count` rows in delivery order, `stride` bytes apart, at the shape's depth. Answer > 0
    // to go on; anything else (RK_ERROR_CANCELLED, RK_ERROR_NO_MEMORY, ...) is returned by the
    // reader at once.
    virtual int Rows(const std::uint8_t* rows, int count, std::size_t stride) = 0;
    // True when the receiver would rather have the top row first. A reader whose file stores
    // rows bottom-up and can read them in either order (uncompressed BMP and TGA) then delivers
    // them top row first and sets storedBottomUp instead of bottomUp.
    virtual bool PrefersTopDown() const { return false; }
};

// Rows of the picture being written, top to bottom.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Fills `count` rows from picture row `first` into `into`, `stride` bytes apart. > 0 ok;
    // anything else is returned by the writer at once.
    virtual int Rows(std::uint8_t* into, int first, int count, std::size_t stride) = 0;
};

struct SaveRequest {
    int format = 0; // the format number asked for
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0; // of the rows the source gives (one of the codec's writeDepths)
    int order = RK_ORDER_BGR;
    std::vector<tagRGBQUAD> palette;
    int xResolution = 0;
    int yResolution = 0;
    int quality = 0;
};

struct Codec {
    const char* name;
    // Format numbers this codec writes, and the depths it writes (0-terminated lists).
    const int* writeFormats;
    const int* writeDepths;
    // The format number when the first bytes (up to 64, fewer for short files) are this
    // codec's format, else 0.
    int (*probe)(const std::uint8_t* head, std::size_t bytes, std::uint64_t fileSize);
    // Fills info from the headers (the dispatch sets uStructSize, FileBytes and Name).
    int (*info)(core::ByteSource& source, _FILEINFO& info);
    // Decodes the first image into sink.
    int (*load)(core::ByteSource& source, RowSink& sink);
    // Writes to fd (empty, seekable, positioned at 0; the codec does not close it). Null when
    // the codec does not write.
    int (*save)(const SaveRequest& request, RowSource& rows, int fd);
};

// Every codec of the kernel, in probing order (codec_list.cpp). A codec without probe only
// writes.
const std::vector<const Codec*>& AllCodecs();

// The ICC profile of a PNG file (its iCCP chunk, decompressed) into profile; empty when the
// file has none. RK_SUCCESS, or a failure code for a file that is not a readable PNG.
int PngIccProfile(core::ByteSource& source, std::vector<std::uint8_t>& profile);

// Resolution from pixels per metre to whole dots per inch (0 stays 0).
inline int DotsPerInch(std::uint64_t pixelsPerMetre)
{
    if (pixelsPerMetre > 0x7FFFFFFFu)
        return 0;
    return int((double(pixelsPerMetre) * 0.0254) + 0.5);
}
inline std::uint32_t PixelsPerMetre(int dotsPerInch)
{
    return dotsPerInch > 0 ? std::uint32_t(double(dotsPerInch) / 0.0254 + 0.5) : 0;
}

// Writes all of n bytes to fd; false on any error.
bool WriteAll(int fd, const void* data, std::size_t n);

// A buffered writer to a descriptor for codecs that emit a few bytes at a time; ok() stays
// false after the first failure.
class FdWriter {
public:
    explicit FdWriter(int fd) : fd_(fd) { buffer_.reserve(kSize); }
    ~FdWriter() { flush(); }
    FdWriter(const FdWriter&) = delete;
    FdWriter& operator=(const FdWriter&) = delete;
    void put(std::uint8_t b)
    {
        if (buffer_.size() == kSize)
            flush();
        buffer_.push_back(b);
    }
    void put(const void* data, std::size_t n);
    void u16le(std::uint32_t v)
    {
        put(std::uint8_t(v));
        put(std::uint8_t(v >> 8));
    }
    void u32le(std::uint32_t v)
    {
        u16le(v & 0xFFFF);
        u16le(v >> 16);
    }
    bool flush();
    bool ok() const { return ok_; }

private:
    static constexpr std::size_t kSize = 64 * 1024;
    int fd_;
    std::vector<std::uint8_t> buffer_;
    bool ok_ = true;
};

} // namespace rkfmt
