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

// Every codec of the kernel, in probing order (codec_list.cpp).
const std::vector<const Codec*>& AllCodecs();

} // namespace rkfmt
