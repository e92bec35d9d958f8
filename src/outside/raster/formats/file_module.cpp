// file_module.cpp - the file module's dispatch: recognition, file information, loads with
// conversion and the per-rows callback, saves through a temporary file, the external readers.
//
// Loads. A codec decodes at its own depth into a LoadSink, which converts each row to the
// caller's depth and order and stores it straight into the new bitmap and/or hands it to the
// caller's callback. Rows reach the callback top to bottom: a file that stores its rows
// bottom-up is read top row first when its codec can (uncompressed BMP and TGA); otherwise
// (RLE BMP, RLE TGA) the rows wait in the bitmap being loaded (flags with RK_LOAD_STORE) or,
// for callback-only loads, in a disk-backed scratch bitmap whose resident memory is the kernel's
// disk window, and are handed on once the file is decoded.
//
// Saves. The bitmap's rows (or the row-supply callback's) are converted to a depth the codec
// writes, and the codec writes into a new file beside the target that is renamed over the
// target only once complete; on failure or cancellation it is removed and the target is left as
// it was. Memory saves write into an unnamed temporary file that is copied into a movable
// global-memory block.
#include "../file_module.h"

#include "../../core/last_error.h"
#include "../../win/global_memory.h"
#include "../raster_internal.h"
#include "convert_internal.h"
#include "formats_internal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rkfmt {

bool WriteAll(int fd, const void* data, std::size_t n)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (w == 0)
            return false;
        p += w;
        n -= std::size_t(w);
    }
    return true;
}

void FdWriter::put(const void* data, std::size_t n)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (buffer_.size() + n > kSize) {
        flush();
        if (n > kSize) {
            if (ok_ && !WriteAll(fd_, p, n))
                ok_ = false;
            return;
        }
    }
    buffer_.insert(buffer_.end(), p, p + n);
}

bool FdWriter::flush()
{
    if (!buffer_.empty()) {
        if (ok_ && !WriteAll(fd_, buffer_.data(), buffer_.size()))
            ok_ = false;
        buffer_.clear();
    }
    return ok_;
}

} // namespace rkfmt

namespace {

using rkfmt::Codec;

std::atomic<int> g_pcdResolution{3}; // Base

// ---- external readers ----------------------------------------------------------------------

std::mutex g_externalMutex;
std::vector<const RkExternalReader*>& externals()
{
    static std::vector<const RkExternalReader*> list;
    return list;
}
std::vector<const RkExternalReader*> externalSnapshot()
{
    std::lock_guard<std::mutex> lock(g_externalMutex);
    return externals();
}

// ---- format table --------------------------------------------------------------------------

struct FormatEntry {
    int format;
    const char* name;
    const char* reader; // name of the codec that reads it, or null
};

constexpr FormatEntry kFormats[] = {
    {RK_FORMAT_PCX, "PCX", "PCX"},
    {RK_FORMAT_GIF, "GIF", "GIF"},
    {RK_FORMAT_TIFF, "TIFF", "TIFF"},
    {RK_FORMAT_TGA, "TGA", "TGA"},
    {RK_FORMAT_BMP, "BMP", "BMP"},
    {RK_FORMAT_JPEG, "JPEG", "JPEG"},
    {RK_FORMAT_TIFF_JPEG, "TIFF JPEG", "TIFF"},
    {RK_FORMAT_TIFF_LZW, "TIFF LZW", "TIFF"},
    {RK_FORMAT_JPEG_411, "JPEG 4:1:1", "JPEG"},
    {RK_FORMAT_TIFF_JPEG_420, "TIFF JPEG 4:2:0", "TIFF"},
    {RK_FORMAT_JPEG_422, "JPEG 4:2:2", "JPEG"},
    {RK_FORMAT_TIFF_JPEG_422, "TIFF JPEG 4:2:2", "TIFF"},
    {RK_FORMAT_PCD, "Photo CD", "PCD"},
    {RK_FORMAT_PNG, "PNG", "PNG"},
    {RK_FORMAT_PSD, "PSD", nullptr},
    {RK_FORMAT_BMP_RLE, "BMP RLE", "BMP"},
    {RK_FORMAT_TIFF_CMYK, "TIFF CMYK", "TIFF"},
    {RK_FORMAT_TIFF_CMYK_LZW, "TIFF CMYK LZW", "TIFF"},
    {RK_FORMAT_TIFF_PACKBITS, "TIFF PackBits", "TIFF"},
    {RK_FORMAT_TIFF_CMYK_PACKBITS, "TIFF CMYK PackBits", "TIFF"},
    {RK_FORMAT_JPEG_GDIPLUS, "JPEG (GDI+)", nullptr},
    {RK_FORMAT_TIFF_DEFLATE, "TIFF Deflate", "TIFF"},
    {RK_FORMAT_TIFF_CCITT, "TIFF CCITT", "TIFF"},
    {RK_FORMAT_TIFF_OLD_JPEG, "TIFF old JPEG", "TIFF"},
    {RK_FORMAT_TIFF_OTHER, "TIFF", "TIFF"},
    {RK_FORMAT_TIFF_CMYK_DEFLATE, "TIFF CMYK Deflate", "TIFF"},
    {RK_FORMAT_TIFF_CMYK_JPEG, "TIFF CMYK JPEG", "TIFF"},
    {RK_FORMAT_TIFF_CMYK_OTHER, "TIFF CMYK", "TIFF"},
};

const FormatEntry* findFormat(int format)
{
    for (const FormatEntry& e : kFormats)
        if (e.format == format)
            return &e;
    return nullptr;
}

bool listHas(const int* list, int value)
{
    for (; list && *list; ++list)
        if (*list == value)
            return true;
    return false;
}

const Codec* writerFor(int format)
{
    for (const Codec* c : rkfmt::AllCodecs())
        if (c->save && listHas(c->writeFormats, format))
            return c;
    return nullptr;
}

// ---- sources -------------------------------------------------------------------------------

std::unique_ptr<core::ByteSource> openPath(const char* path, int& status)
{
    if (!path) {
        status = RK_ERROR_INV_PARAMETER;
        return nullptr;
    }
    auto source = core::FileSource(path);
    if (!source) {
        status = errno == ENOMEM ? RK_ERROR_NO_MEMORY : RK_ERROR_FILE_OPEN;
        return nullptr;
    }
    status = RK_SUCCESS;
    return source;
}

// A whole file mapped read-only, for the external readers, which take the file as one block.
class Mapping {
public:
    Mapping() = default;
    ~Mapping()
    {
        if (data_ && data_ != MAP_FAILED)
            ::munmap(data_, bytes_);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    bool map(const char* path)
    {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return false;
        struct stat st {};
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
        if (ok) {
            bytes_ = std::size_t(st.st_size);
            data_ = ::mmap(nullptr, bytes_, PROT_READ, MAP_PRIVATE, fd, 0);
            ok = data_ != MAP_FAILED;
        }
        ::close(fd);
        return ok;
    }
    const void* data() const { return data_; }
    std::size_t bytes() const { return bytes_; }

private:
    void* data_ = nullptr;
    std::size_t bytes_ = 0;
};

// What a file is: a codec's or an external reader's format.
struct Identity {
    int format = 0;
    const Codec* codec = nullptr;
    const RkExternalReader* external = nullptr;
};

int identify(core::ByteSource& source, Identity& id)
{
    std::uint8_t head[64] = {};
    const std::int64_t got = source.readAt(0, head, sizeof head);
    if (got < 0) {
        core::SetLastErrorText("the file cannot be read");
        return RK_ERROR_FILE_OPEN;
    }
    if (got == 0) {
        core::SetLastErrorText("the file is empty");
        return RK_ERROR_FILE_FORMAT;
    }
    const std::size_t n = std::size_t(got);
    // External readers first: their signatures do not collide with the codecs', and the last
    // codecs (TGA) recognise by plausibility rather than by signature.
    for (const RkExternalReader* e : externalSnapshot()) {
        if (e->probe && e->probe(head, n) > 0) {
            id.format = e->format;
            id.external = e;
            return RK_SUCCESS;
        }
    }
    for (const Codec* c : rkfmt::AllCodecs()) {
        if (!c->probe)
            continue;
        const int f = c->probe(head, n, source.size());
        if (f == RK_FORMAT_PCD) {
            // An image pack's signature starts its second sector.
            char signature[7];
            if (!source.readExact(2048, signature, sizeof signature) ||
                std::memcmp(signature, "PCD_IPI", sizeof signature) != 0)
                continue;
        }
        if (f > 0) {
            id.format = f;
            id.codec = c;
            return RK_SUCCESS;
        }
    }
    core::SetLastErrorText("not an image file of a known format");
    return RK_ERROR_FILE_FORMAT;
}

void setName(_FILEINFO& info, const char* path)
{
    std::memset(info.Name, 0, sizeof info.Name);
    if (!path)
        return;
    // UTF-8 to UTF-16; an ill-formed byte becomes U+FFFD.
    std::size_t out = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(path);
    const std::size_t limit = sizeof info.Name / sizeof info.Name[0] - 1;
    while (*p && out < limit) {
        char32_t c = *p;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0) {
            info.Name[out++] = 0xFFFD;
            ++p;
            continue;
        }
        c &= extra == 0 ? 0x7F : (0x3F >> extra);
        int i = 1;
        for (; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                break;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (i <= extra) {
            info.Name[out++] = 0xFFFD;
            p += i;
            continue;
        }
        p += extra + 1;
        if (c >= 0x10000) {
            if (out + 2 > limit)
                break;
            c -= 0x10000;
            info.Name[out++] = char16_t(0xD800 + (c >> 10));
            info.Name[out++] = char16_t(0xDC00 + (c & 0x3FF));
        } else {
            info.Name[out++] = char16_t(c);
        }
    }
}

void resetInfo(_FILEINFO& info)
{
    std::memset(&info, 0, sizeof info);
    info.uStructSize = FILEINFO_SIZE;
    info.ViewPerspective = RK_TOP_LEFT;
    info.Order = RK_ORDER_BGR;
    info.PageNumber = 1;
    info.PageCount = 1;
    info.BackgroundColour = 0xFFFFFF;
    info.ColourModel = RK_COLOUR_MODEL_RGB;
}

// Fills info for an identified source. data/bytes: the whole file for external readers.
int describe(const Identity& id, core::ByteSource& source, const void* data, std::uint64_t bytes,
             const char* path, _FILEINFO& info)
{
    resetInfo(info);
    info.Format = id.format;
    int r;
    if (id.external)
        r = id.external->info ? id.external->info(data, bytes, &info) : RK_ERROR_FORMAT_UNSUPPORTED;
    else
        r = id.codec->info(source, info);
    if (r <= 0)
        return r;
    info.uStructSize = FILEINFO_SIZE;
    info.FileBytes = std::int64_t(source.size());
    setName(info, path);
    if (info.Width < 1 || info.Height < 1 || info.BitsPerPixel < 1) {
        core::SetLastErrorText("the file gives no picture size");
        return RK_ERROR_FILE_CORRUPT;
    }
    const auto decoded = core::CheckedImageSize(info.Width, info.Height, info.BitsPerPixel, 4);
    info.DecodedBytes =
        decoded && *decoded <= std::uint64_t(INT64_MAX) ? std::int64_t(*decoded) : 0;
    return RK_SUCCESS;
}

// ---- the load sink -----------------------------------------------------------------------------

class LoadSink final : public rkfmt::RowSink {
public:
    LoadSink(_BITMAPHANDLE* bitmap, std::uint32_t size, int bits, int order, std::uint32_t flags,
             RkLoadRowsCallback callback, void* user, _FILEINFO* info)
        : bitmap_(bitmap), size_(size), requested_(bits), order_(order), flags_(flags),
          callback_(callback), user_(user), info_(info)
    {
    }
    ~LoadSink() override
    {
        if (scratchMade_)
            RkFreeBitmap(&scratch_);
    }

    bool PrefersTopDown() const override { return callback_ != nullptr; }

    int Begin(const rkfmt::PictureShape& shape) override
    {
        if (begun_)
            return RK_ERROR_FILE_CORRUPT;
        begun_ = true;
        if (shape.width < 1 || shape.height < 1) {
            core::SetLastErrorText("the picture has no pixels");
            return RK_ERROR_FILE_CORRUPT;
        }
        width_ = shape.width;
        height_ = shape.height;
        bottomUp_ = shape.bottomUp;
        storedBottomUp_ = shape.bottomUp || shape.storedBottomUp;
        int bits = requested_ != 0 ? requested_ : info_->BitsPerPixel;
        if (bits == 0)
            bits = shape.bitsPerPixel;
        rkfmt::PixelLayout layout;
        layout.bits = shape.bitsPerPixel;
        layout.order = shape.order;
        layout.palette = shape.palette;
        int r = converter_.Init(width_, layout, bits, order_);
        if (r <= 0)
            return r;
        rk::Geometry geo;
        r = rk::makeGeometry(width_, height_, bits, geo);
        if (r <= 0)
            return r;
        stride_ = geo.stride;
        const int view = storedBottomUp_ ? RK_BOTTOM_LEFT : RK_TOP_LEFT;
        const bool allocate = callback_ == nullptr || (flags_ & (RK_LOAD_ALLOCATE | RK_LOAD_STORE));
        store_ = callback_ == nullptr || (flags_ & RK_LOAD_STORE);
        const tagRGBQUAD* pal =
            converter_.palette().empty() ? nullptr : converter_.palette().data();
        if (allocate) {
            r = RkCreateBitmap(bitmap_, size_, RK_MEMORY_DEFAULT | RK_MEMORY_CONVENTIONAL, width_,
                               height_, bits, order_, pal, view);
            if (r <= 0)
                return r;
            allocated_ = true;
            rk::Bitmap* bm = nullptr;
            if (rk::resolve(bitmap_, &bm) > 0)
                block_ = bm->pixels->block();
        } else {
            r = RkInitBitmap(bitmap_, size_, width_, height_, bits);
            if (r <= 0)
                return r;
            bitmap_->Order = order_;
            bitmap_->ViewPerspective = view;
        }
        bitmap_->XResolution = shape.xResolution;
        bitmap_->YResolution = shape.yResolution;
        if (!rk::allocate(row_, stride_))
            return RK_ERROR_NO_MEMORY;
        // Bottom-up delivery with a callback: the rows wait until the file is decoded.
        defer_ = callback_ != nullptr && bottomUp_;
        if (defer_ && !store_) {
            RkInitBitmap(&scratch_, BITMAPHANDLE_SIZE, 0, 0, 0);
            scratchMade_ = true;
            r = RkCreateBitmap(&scratch_, BITMAPHANDLE_SIZE, RK_MEMORY_DISK, width_, height_, bits,
                               order_, pal, RK_BOTTOM_LEFT);
            if (r <= 0)
                return r;
        }
        total_ = std::uint64_t(height_) * (defer_ ? 2 : 1);
        return RK_SUCCESS;
    }

    int Rows(const std::uint8_t* rows, int count, std::size_t stride) override
    {
        if (!begun_)
            return RK_ERROR_FILE_CORRUPT;
        for (int i = 0; i < count; ++i) {
            if (delivered_ >= height_)
                return RK_SUCCESS; // a reader never delivers more; ignore it if one does
            const int k = delivered_++;
            const int stored = (storedBottomUp_ && !bottomUp_) ? height_ - 1 - k : k;
            std::uint8_t* dst =
                (store_ && block_) ? block_ + std::size_t(stored) * stride_ : row_.data();
            converter_.Convert(rows + std::size_t(i) * stride, dst);
            int r;
            if (store_ && !block_ && RkPutBitmapRow(bitmap_, dst, stored, stride_) <= 0)
                return RK_ERROR_IO;
            if (defer_) {
                if (!store_ && RkPutBitmapRow(&scratch_, dst, stored, stride_) <= 0)
                    return RK_ERROR_IO;
            } else if (callback_) {
                r = callback_(info_, bitmap_, dst, RK_ROWS_DATA, k, 1, user_);
                if (r <= 0)
                    return RK_ERROR_CANCELLED;
            }
            if (!progress_.step(++done_, total_))
                return RK_ERROR_CANCELLED;
        }
        return RK_SUCCESS;
    }

    // After the reader succeeded: every row must have come; deferred rows go to the callback.
    int Finish()
    {
        if (!begun_ || delivered_ != height_) {
            core::SetLastErrorText("the file ends before its last row");
            return RK_ERROR_FILE_CORRUPT;
        }
        if (defer_) {
            const _BITMAPHANDLE* from = store_ ? bitmap_ : &scratch_;
            const bool fromBottomUp = from->ViewPerspective != RK_TOP_LEFT;
            for (int y = 0; y < height_; ++y) {
                const int stored = fromBottomUp ? height_ - 1 - y : y;
                if (RkGetBitmapRow(from, row_.data(), stored, stride_) <= 0)
                    return RK_ERROR_IO;
                if (callback_(info_, bitmap_, row_.data(), RK_ROWS_DATA, y, 1, user_) <= 0)
                    return RK_ERROR_CANCELLED;
                if (!progress_.step(++done_, total_))
                    return RK_ERROR_CANCELLED;
            }
        }
        progress_.finish();
        return RK_SUCCESS;
    }

    void Undo()
    {
        if (allocated_)
            RkFreeBitmap(bitmap_);
    }

private:
    _BITMAPHANDLE* bitmap_;
    std::uint32_t size_;
    int requested_;
    int order_;
    std::uint32_t flags_;
    RkLoadRowsCallback callback_;
    void* user_;
    _FILEINFO* info_;

    bool begun_ = false;
    int width_ = 0, height_ = 0;
    bool bottomUp_ = false, storedBottomUp_ = false;
    bool store_ = false, defer_ = false, allocated_ = false;
    std::size_t stride_ = 0;
    std::uint8_t* block_ = nullptr;
    rk::Buffer row_;
    rkfmt::RowConverter converter_;
    _BITMAPHANDLE scratch_{};
    bool scratchMade_ = false;
    int delivered_ = 0;
    std::uint64_t done_ = 0, total_ = 1;
    rk::Progress progress_;
};

// Feeds a sink from an external reader's 24-bit bitmap.
int loadExternal(const RkExternalReader* e, const void* data, std::uint64_t bytes,
                 rkfmt::RowSink& sink)
{
    if (!e->load)
        return RK_ERROR_FORMAT_UNSUPPORTED;
    _BITMAPHANDLE tmp;
    RkInitBitmap(&tmp, BITMAPHANDLE_SIZE, 0, 0, 0);
    struct Free {
        _BITMAPHANDLE* b;
        ~Free() { RkFreeBitmap(b); }
    } freeTmp{&tmp};
    int r = e->load(data, bytes, &tmp);
    if (r <= 0)
        return r;
    rk::Bitmap* bm = nullptr;
    r = rk::resolve(&tmp, &bm);
    if (r <= 0)
        return r;
    rkfmt::PictureShape shape;
    shape.width = tmp.Width;
    shape.height = tmp.Height;
    shape.bitsPerPixel = tmp.BitsPerPixel;
    shape.order = tmp.Order;
    shape.palette = bm->palette;
    shape.xResolution = tmp.XResolution;
    shape.yResolution = tmp.YResolution;
    r = sink.Begin(shape);
    if (r <= 0)
        return r;
    rk::Buffer row;
    if (!rk::allocate(row, std::size_t(tmp.BytesPerLine)))
        return RK_ERROR_NO_MEMORY;
    for (int y = 0; y < tmp.Height; ++y) {
        const int stored = tmp.ViewPerspective == RK_TOP_LEFT ? y : tmp.Height - 1 - y;
        if (RkGetBitmapRow(&tmp, row.data(), stored, row.size()) <= 0)
            return RK_ERROR_IO;
        r = sink.Rows(row.data(), 1, row.size());
        if (r <= 0)
            return r;
    }
    return RK_SUCCESS;
}

bool validLoadDepth(int bits)
{
    switch (bits) {
    case 0:
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

// The loads' common road. path: for the file name in info and the external readers' mapping.
int loadFrom(core::ByteSource& source, const char* path, _BITMAPHANDLE* bitmap, std::uint32_t size,
             int bits, int order, std::uint32_t flags, RkLoadRowsCallback callback, void* user,
             _FILEINFO* info)
{
    Identity id;
    int r = identify(source, id);
    if (r <= 0)
        return r;
    Mapping mapping;
    const void* data = source.data();
    std::uint64_t bytes = source.size();
    if (id.external && !data) {
        if (!path || !mapping.map(path))
            return RK_ERROR_FILE_OPEN;
        data = mapping.data();
        bytes = mapping.bytes();
    }
    _FILEINFO local;
    _FILEINFO* fi = info ? info : &local;
    r = describe(id, source, data, bytes, path, *fi);
    if (r <= 0)
        return r;
    LoadSink sink(bitmap, size, bits, order, flags, callback, user, fi);
    r = id.external ? loadExternal(id.external, data, bytes, sink) : id.codec->load(source, sink);
    if (r > 0)
        r = sink.Finish();
    if (r <= 0) {
        sink.Undo();
        return r;
    }
    return RK_SUCCESS;
}

int checkLoadArguments(_BITMAPHANDLE* bitmap, std::uint32_t size, int bits, int order,
                       _FILEINFO* info, std::uint32_t infoSize)
{
    if (!bitmap)
        return RK_ERROR_INV_PARAMETER;
    if (size != BITMAPHANDLE_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    if (info && infoSize != FILEINFO_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    if (!validLoadDepth(bits))
        return RK_ERROR_BITSPERPIXEL;
    if (order != RK_ORDER_BGR && order != RK_ORDER_RGB)
        return RK_ERROR_INV_PARAMETER;
    return RK_SUCCESS;
}

// A caller's allocated record is freed before a load; an unallocated one is left as it is.
void freeOld(_BITMAPHANDLE* bitmap)
{
    if (bitmap->Flags & BITMAP_FLAG_ALLOCATED)
        RkFreeBitmap(bitmap);
}

// ---- saves -------------------------------------------------------------------------------------

// The depth written for a wanted depth: the wanted one when the codec writes it; else for
// palette depths the smallest written depth above it, for others 24 bits when written; else
// the largest written depth.
int writeDepth(const Codec& codec, int wanted)
{
    if (listHas(codec.writeDepths, wanted))
        return wanted;
    int best = 0, largest = 0;
    for (const int* d = codec.writeDepths; *d; ++d) {
        largest = std::max(largest, *d);
        if (wanted <= 8 && *d > wanted && (best == 0 || *d < best))
            best = *d;
    }
    if (best == 0 && wanted > 8 && listHas(codec.writeDepths, 24))
        best = 24;
    return best ? best : largest;
}

// Rows of the picture being saved, converted to the written depth.
class SaveSource final : public rkfmt::RowSource {
public:
    // From a bitmap (callback null) or from the row-supply callback.
    SaveSource(_BITMAPHANDLE* record, rk::Bitmap* bm, RkSaveRowsCallback callback, void* user,
               int height)
        : record_(record), bm_(bm), callback_(callback), user_(user), height_(height)
    {
    }

    int Init(int width, const rkfmt::PixelLayout& layout, std::size_t stride, int bits, int order)
    {
        stride_ = stride;
        if (!rk::allocate(in_, stride))
            return RK_ERROR_NO_MEMORY;
        return converter_.Init(width, layout, bits, order);
    }
    const std::vector<tagRGBQUAD>& palette() const { return converter_.palette(); }

    int Rows(std::uint8_t* into, int first, int count, std::size_t stride) override
    {
        if (first < 0 || count < 0 || first > height_ - count)
            return RK_ERROR_INV_PARAMETER;
        for (int i = 0; i < count; ++i) {
            const int y = first + i;
            if (callback_) {
                if (callback_(record_, in_.data(), y, 1, user_) <= 0)
                    return RK_ERROR_CANCELLED;
            } else {
                const int stored = record_->ViewPerspective == RK_TOP_LEFT ? y : height_ - 1 - y;
                const int r = bm_->readRow(stored, in_.data());
                if (r <= 0)
                    return r;
            }
            converter_.Convert(in_.data(), into + std::size_t(i) * stride);
            if (!progress_.step(++done_, std::uint64_t(height_)))
                return RK_ERROR_CANCELLED;
        }
        return RK_SUCCESS;
    }

private:
    _BITMAPHANDLE* record_;
    rk::Bitmap* bm_;
    RkSaveRowsCallback callback_;
    void* user_;
    int height_;
    std::size_t stride_ = 0;
    rk::Buffer in_;
    rkfmt::RowConverter converter_;
    std::uint64_t done_ = 0;
    rk::Progress progress_;
};

// Writes the picture into fd with the codec for format.
int saveTo(int fd, _BITMAPHANDLE* record, int format, int bits, int quality,
           RkSaveRowsCallback callback, void* user)
{
    const Codec* codec = writerFor(format);
    if (!codec) {
        core::SetLastErrorTextF("the kernel does not write format %d", format);
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    if (bits != 0 && !validLoadDepth(bits))
        return RK_ERROR_BITSPERPIXEL;
    rk::Bitmap* bm = nullptr;
    rkfmt::PixelLayout layout;
    int width, height;
    std::size_t stride;
    if (!callback) {
        const int r = rk::resolve(record, &bm);
        if (r <= 0)
            return r;
        width = bm->geo.width;
        height = bm->geo.height;
        layout.bits = bm->geo.bits;
        layout.order = bm->order;
        layout.palette = bm->palette;
        stride = bm->geo.stride;
    } else {
        // The record describes the rows the callback supplies; its stride must be the one the
        // kernel would give, so that the callback never writes past the buffer.
        const int r = rk::checkRecord(record);
        if (r <= 0)
            return r;
        rk::Geometry geo;
        const int g = rk::makeGeometry(record->Width, record->Height, record->BitsPerPixel, geo);
        if (g <= 0)
            return g;
        if (record->BytesPerLine != std::int32_t(geo.stride))
            return RK_ERROR_INV_PARAMETER;
        width = geo.width;
        height = geo.height;
        layout.bits = geo.bits;
        layout.order = record->Order;
        stride = geo.stride;
        if (layout.bits <= 8) {
            if (rk::resolve(record, &bm) > 0)
                layout.palette = bm->palette;
            else
                layout.palette = rk::defaultPalette(layout.bits);
            bm = nullptr;
        }
    }
    const int out = writeDepth(*codec, bits ? bits : layout.bits);
    SaveSource source(record, bm, callback, user, height);
    const int order =
        layout.bits >= 24 && layout.order == RK_ORDER_RGB ? RK_ORDER_RGB : RK_ORDER_BGR;
    int r = source.Init(width, layout, stride, out, order);
    if (r <= 0)
        return r;
    rkfmt::SaveRequest request;
    request.format = format;
    request.width = width;
    request.height = height;
    request.bitsPerPixel = out;
    request.order = order;
    request.palette = source.palette();
    request.xResolution = record->XResolution;
    request.yResolution = record->YResolution;
    request.quality = quality;
    return codec->save(request, source, fd);
}

// A new file beside path, opened for writing under a name no other file has.
int createBeside(const std::string& path, std::string& temp)
{
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.%ld.part", long(::getpid()), counter++,
                      long(now.tv_nsec));
        temp = dir + "." + base.substr(0, 128) + suffix;
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

int saveFile(const char* path, _BITMAPHANDLE* record, int format, int bits, int quality,
             RkSaveRowsCallback callback, void* user)
{
    if (!path || !*path || !record)
        return RK_ERROR_INV_PARAMETER;
    if (!writerFor(format)) {
        core::SetLastErrorTextF("the kernel does not write format %d", format);
        return RK_ERROR_FORMAT_UNSUPPORTED;
    }
    std::string temp;
    const int fd = createBeside(path, temp);
    if (fd < 0) {
        core::SetLastErrorTextF("cannot create a file beside %s: %s", path, std::strerror(errno));
        return RK_ERROR_FILE_WRITE;
    }
    int r = saveTo(fd, record, format, bits, quality, callback, user);
    if (::close(fd) != 0 && r > 0)
        r = RK_ERROR_FILE_WRITE;
    if (r > 0 && ::rename(temp.c_str(), path) != 0) {
        core::SetLastErrorTextF("cannot write %s: %s", path, std::strerror(errno));
        r = RK_ERROR_FILE_WRITE;
    }
    if (r <= 0)
        ::unlink(temp.c_str());
    return r > 0 ? RK_SUCCESS : r;
}

int unnamedTemporary()
{
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = std::string(dir) + "/rkmemXXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

} // namespace

// ---- public calls
// --------------------------------------------------------------------------------

const char* RkFormatName(int format)
{
    const FormatEntry* e = findFormat(format);
    return e ? e->name : nullptr;
}

int RkFormatAt(int index)
{
    constexpr int count = int(sizeof kFormats / sizeof kFormats[0]);
    return index >= 0 && index < count ? kFormats[index].format : 0;
}

int RkFormatCanRead(int format)
{
    for (const RkExternalReader* e : externalSnapshot())
        if (e->format == format && e->load)
            return 1;
    const FormatEntry* e = findFormat(format);
    if (!e || !e->reader)
        return 0;
    for (const Codec* c : rkfmt::AllCodecs())
        if (c->probe && std::strcmp(c->name, e->reader) == 0)
            return 1;
    return 0;
}

int RkFormatCanWrite(int format)
{
    return writerFor(format) ? 1 : 0;
}

int RkFileInfo(const char* path, _FILEINFO* info, std::uint32_t infoSize)
{
    if (!info)
        return RK_ERROR_INV_PARAMETER;
    if (infoSize != FILEINFO_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    int r;
    auto source = openPath(path, r);
    if (!source)
        return r;
    Identity id;
    r = identify(*source, id);
    if (r <= 0)
        return r;
    Mapping mapping;
    if (id.external && !mapping.map(path))
        return RK_ERROR_FILE_OPEN;
    return describe(id, *source, mapping.data(), mapping.bytes(), path, *info);
}

int RkFileInfoMemory(const void* data, std::uint64_t size, _FILEINFO* info, std::uint32_t infoSize)
{
    if (!info || (!data && size))
        return RK_ERROR_INV_PARAMETER;
    if (infoSize != FILEINFO_SIZE)
        return RK_ERROR_STRUCT_SIZE;
    if (size > std::uint64_t(PTRDIFF_MAX))
        return RK_ERROR_TOO_LARGE;
    auto source = core::MemorySource(data, std::size_t(size));
    if (!source)
        return RK_ERROR_NO_MEMORY;
    Identity id;
    const int r = identify(*source, id);
    if (r <= 0)
        return r;
    return describe(id, *source, data, size, nullptr, *info);
}

int RkLoadFile(const char* path, _BITMAPHANDLE* bitmap, std::uint32_t size, int bitsPerPixel,
               int order, std::uint32_t, _FILEINFO* info)
{
    int r = checkLoadArguments(bitmap, size, bitsPerPixel, order, info, FILEINFO_SIZE);
    if (r <= 0)
        return r;
    freeOld(bitmap);
    auto source = openPath(path, r);
    if (!source)
        return r;
    return loadFrom(*source, path, bitmap, size, bitsPerPixel, order, 0, nullptr, nullptr, info);
}

int RkLoadMemory(const void* data, std::uint64_t bytes, _BITMAPHANDLE* bitmap, std::uint32_t size,
                 int bitsPerPixel, int order, _FILEINFO* info)
{
    int r = checkLoadArguments(bitmap, size, bitsPerPixel, order, info, FILEINFO_SIZE);
    if (r <= 0)
        return r;
    if (!data && bytes)
        return RK_ERROR_INV_PARAMETER;
    if (bytes > std::uint64_t(PTRDIFF_MAX))
        return RK_ERROR_TOO_LARGE;
    freeOld(bitmap);
    auto source = core::MemorySource(data, std::size_t(bytes));
    if (!source)
        return RK_ERROR_NO_MEMORY;
    return loadFrom(*source, nullptr, bitmap, size, bitsPerPixel, order, 0, nullptr, nullptr, info);
}

int RkLoadFileCallback(const char* path, _BITMAPHANDLE* bitmap, std::uint32_t size,
                       int bitsPerPixel, int order, std::uint32_t flags,
                       RkLoadRowsCallback callback, void* user, _FILEINFO* info)
{
    int r = checkLoadArguments(bitmap, size, bitsPerPixel, order, info, FILEINFO_SIZE);
    if (r <= 0)
        return r;
    if (!callback)
        flags |= RK_LOAD_ALLOCATE | RK_LOAD_STORE;
    else if (!(flags & RK_LOAD_CALLBACK))
        callback = nullptr;
    freeOld(bitmap);
    auto source = openPath(path, r);
    if (!source)
        return r;
    return loadFrom(*source, path, bitmap, size, bitsPerPixel, order, flags, callback, user, info);
}

int RkSaveFile(const char* path, const _BITMAPHANDLE* bitmap, int format, int bitsPerPixel,
               int quality, std::uint32_t)
{
    // The bitmap is only read; the callback-save road shares the non-const record type.
    return saveFile(path, const_cast<_BITMAPHANDLE*>(bitmap), format, bitsPerPixel, quality,
                    nullptr, nullptr);
}

int RkSaveFileCallback(const char* path, _BITMAPHANDLE* bitmap, int format, int bitsPerPixel,
                       int quality, std::uint32_t, RkSaveRowsCallback callback, void* user)
{
    if (!callback)
        return RK_ERROR_INV_PARAMETER;
    return saveFile(path, bitmap, format, bitsPerPixel, quality, callback, user);
}

int RkSaveMemory(const _BITMAPHANDLE* bitmap, int format, int bitsPerPixel, int quality,
                 HGLOBAL* memory, std::uint64_t* bytes)
{
    if (!bitmap || !memory || !bytes)
        return RK_ERROR_INV_PARAMETER;
    *memory = nullptr;
    *bytes = 0;
    const int fd = unnamedTemporary();
    if (fd < 0) {
        core::SetLastErrorTextF("no temporary file: %s", std::strerror(errno));
        return RK_ERROR_FILE_WRITE;
    }
    struct Close {
        int fd;
        ~Close() { ::close(fd); }
    } closer{fd};
    const int r = saveTo(fd, const_cast<_BITMAPHANDLE*>(bitmap), format, bitsPerPixel, quality,
                         nullptr, nullptr);
    if (r <= 0)
        return r;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end <= 0)
        return RK_ERROR_FILE_WRITE;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(end));
    if (!block)
        return RK_ERROR_NO_MEMORY;
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    std::uint64_t done = 0;
    while (p && done < std::uint64_t(end)) {
        const ssize_t got =
            ::pread(fd, p + done, std::size_t(std::uint64_t(end) - done), off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += std::uint64_t(got);
    }
    GlobalUnlock(block);
    if (done != std::uint64_t(end)) {
        GlobalFree(block);
        return RK_ERROR_FILE_WRITE;
    }
    *memory = block;
    *bytes = done;
    return RK_SUCCESS;
}

int RkFileIccProfile(const char* path, std::uint8_t** profile, std::uint64_t* bytes)
{
    if (!profile || !bytes)
        return RK_ERROR_INV_PARAMETER;
    *profile = nullptr;
    *bytes = 0;
    int r;
    auto source = openPath(path, r);
    if (!source)
        return r;
    Identity id;
    r = identify(*source, id);
    if (r <= 0)
        return r;
    if (id.format != RK_FORMAT_PNG)
        return RK_SUCCESS;
    std::vector<std::uint8_t> icc;
    r = rkfmt::PngIccProfile(*source, icc);
    if (r <= 0 || icc.empty())
        return r;
    auto* block = static_cast<std::uint8_t*>(std::malloc(icc.size()));
    if (!block)
        return RK_ERROR_NO_MEMORY;
    std::memcpy(block, icc.data(), icc.size());
    *profile = block;
    *bytes = icc.size();
    return RK_SUCCESS;
}

int RkSetPCDResolution(int resolution)
{
    if (resolution < 0 || resolution > 5)
        return RK_ERROR_INV_PARAMETER;
    g_pcdResolution = resolution;
    return RK_SUCCESS;
}

int RkGetPCDResolution()
{
    return g_pcdResolution;
}

int RkRegisterExternalReader(const RkExternalReader* reader)
{
    if (!reader || reader->format <= 0 || !reader->probe)
        return RK_ERROR_INV_PARAMETER;
    std::lock_guard<std::mutex> lock(g_externalMutex);
    auto& list = externals();
    for (auto& e : list) {
        if (e->format == reader->format) {
            e = reader;
            return RK_SUCCESS;
        }
    }
    list.push_back(reader);
    return RK_SUCCESS;
}
