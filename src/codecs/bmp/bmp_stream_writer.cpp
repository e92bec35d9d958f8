// bmp_stream_writer.cpp - the streaming BMP writer (start, row, end, abort).
//
// Contents
//   limits and header layout   BmpLayout, MakeLayout, PutHeader, PutPalette
//   exported calls             L_StartDynamicSaveBMP, L_DynamicSaveBMProw,
//                              L_EndDynamicSaveBMP, L_AbortDynamicSaveBMP
//
// The header states the full height from the start, so the file is a valid bitmap as soon as
// every row has been written; end pads whatever the caller did not write.
#include <base/file_buffer.h>
#include <cmath>
#include <core/checked_size.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dib/Status.h>
#include <dib/StreamWriters.h>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

namespace {

constexpr std::uint32_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kHeadersBytes = kFileHeaderBytes + kInfoHeaderBytes; // 54
constexpr std::size_t kFileBufferBytes = 0x400000;

// The handle's record, in this order.
struct BmpStream {
    CFileBuffer* file;
    int width;
    int height;
    int bytesPerLine;
    int bitsPerPixel;
    int nextRow;
    int fillFlag; // 1: missing rows are bytes 0; 0: bytes 255
};

struct RecordFree {
    void operator()(BmpStream* s) const { std::free(s); }
};

struct BmpLayout {
    std::uint32_t bytesPerLine;
    std::uint32_t colours;
    std::uint32_t imageBytes;
    std::uint32_t pixelOffset;
    std::uint32_t fileBytes;
    std::int32_t xPixelsPerMetre;
    std::int32_t yPixelsPerMetre;
};

// Dots per inch as the header's pixels per metre, rounded; nullopt when it does not fit the
// signed 32-bit field.
std::optional<std::int32_t> PixelsPerMetre(int dpi)
{
    if (dpi < 0)
        return std::nullopt;
    const long long ppm = std::llround(static_cast<double>(dpi) * 100.0 / 2.54);
    if (ppm > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(ppm);
}

// Every size of the file, or nullopt for arguments the format cannot hold. The file size field
// is 32 bits, so everything here fits 32 bits once the total does.
std::optional<BmpLayout> MakeLayout(int width, int height, int bits, int xDpi, int yDpi)
{
    if (width < 1 || height < 1 || (bits != 1 && bits != 4 && bits != 8))
        return std::nullopt;
    const auto xppm = PixelsPerMetre(xDpi);
    const auto yppm = PixelsPerMetre(yDpi);
    const auto line = core::CheckedLineSize(width, bits, 4);
    if (!xppm || !yppm || !line)
        return std::nullopt;
    const auto image = core::CheckedMul(*line, static_cast<std::uint64_t>(height));
    const std::uint32_t colours = 1u << bits;
    const std::uint64_t offset = kHeadersBytes + std::uint64_t(colours) * 4;
    const auto total = image ? core::CheckedAdd(*image, offset) : std::nullopt;
    if (!total || *total > std::numeric_limits<std::uint32_t>::max())
        return std::nullopt;
    return BmpLayout{static_cast<std::uint32_t>(*line),
                     colours,
                     static_cast<std::uint32_t>(*image),
                     static_cast<std::uint32_t>(offset),
                     static_cast<std::uint32_t>(*total),
                     *xppm,
                     *yppm};
}

void Put16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

void PutHeader(std::uint8_t* h, const BmpLayout& l, int width, int height, int bits, bool topDown)
{
    std::memset(h, 0, kHeadersBytes);
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, l.fileBytes);
    Put32(h + 10, l.pixelOffset);
    Put32(h + 14, kInfoHeaderBytes);
    Put32(h + 18, static_cast<std::uint32_t>(width));
    // Two's complement of the negated height marks top-down rows.
    Put32(h + 22,
          topDown ? 0u - static_cast<std::uint32_t>(height) : static_cast<std::uint32_t>(height));
    Put16(h + 26, 1);
    Put16(h + 28, static_cast<std::uint32_t>(bits));
    Put32(h + 34, l.imageBytes);
    Put32(h + 38, static_cast<std::uint32_t>(l.xPixelsPerMetre));
    Put32(h + 42, static_cast<std::uint32_t>(l.yPixelsPerMetre));
    Put32(h + 46, l.colours);
}

// Blue, green, red, 0 per entry. Ramp levels run 0 .. maxLevel (15 at 4 bits, 255 at 8); a
// level is scaled to a grey by `step` (17 or 1).
void PutPalette(std::uint8_t* p, int bits, bool ascending, int greyLevels)
{
    const int colours = 1 << bits;
    if (bits == 1) {
        const std::uint8_t whiteBlack[8] = {255, 255, 255, 0, 0, 0, 0, 0};
        std::memcpy(p, whiteBlack, sizeof whiteBlack);
        return;
    }
    const int maxLevel = colours - 1;
    const int step = 255 / maxLevel;
    for (int i = 0; i < colours; ++i) {
        int level = i;
        if (greyLevels != 0 && i < greyLevels)
            // One grey level has no ramp to spread: its only entry is the end of the ramp.
            level = greyLevels == 1 ? 0 : (maxLevel * i) / (greyLevels - 1);
        const int grey = ascending ? level * step : 255 - level * step;
        p[4 * i] = p[4 * i + 1] = p[4 * i + 2] = std::uint8_t(grey);
        p[4 * i + 3] = 0;
    }
}

// Closes and releases the file object and the record, and nulls the caller's handle.
// true when every byte accepted reached the file.
bool Release(void*& handle)
{
    auto* s = static_cast<BmpStream*>(handle);
    const bool closed = s->file->Close() == 1;
    delete s->file;
    std::free(s);
    handle = nullptr;
    return closed;
}

} // namespace

void* L_StartDynamicSaveBMP(int width, int height, int bitsPerPixel, int xDpi, int yDpi,
                            const wchar_t* path, int ascending, int topDown, int greyLevels)
{
    // Everything is checked before the file is created, so refused arguments leave no file.
    if (!path || !*path)
        return nullptr;
    const auto layout = MakeLayout(width, height, bitsPerPixel, xDpi, yDpi);
    if (!layout)
        return nullptr;

    std::unique_ptr<BmpStream, RecordFree> s(
        static_cast<BmpStream*>(std::malloc(sizeof(BmpStream))));
    if (!s)
        return nullptr;
    s->file = nullptr;
    s->width = width;
    s->height = height;
    s->bytesPerLine = static_cast<int>(layout->bytesPerLine);
    s->bitsPerPixel = bitsPerPixel;
    s->nextRow = 0;
    s->fillFlag = bitsPerPixel == 8 ? 0 : 1;

    std::unique_ptr<CFileBuffer> file(new (std::nothrow) CFileBuffer);
    if (!file ||
        !file->Open(path,
                    CFileBuffer::modeCreate | CFileBuffer::modeWrite | CFileBuffer::typeBinary,
                    kFileBufferBytes))
        return nullptr;

    std::uint8_t head[kHeadersBytes + 256 * 4];
    PutHeader(head, *layout, width, height, bitsPerPixel, topDown != 0);
    PutPalette(head + kHeadersBytes, bitsPerPixel, ascending != 0, greyLevels);
    if (!file->Write(head, layout->pixelOffset)) {
        file->Close();
        return nullptr;
    }
    s->file = file.release();
    return s.release();
}

int L_DynamicSaveBMProw(unsigned char* row, void* handle)
{
    if (!row || !handle)
        return DIB_ERR_INVALID;
    auto* s = static_cast<BmpStream*>(handle);
    if (s->nextRow >= s->height)
        return 1;
    if (!s->file->Write(row, static_cast<std::size_t>(s->bytesPerLine)))
        return DIB_ERR_FAILED;
    ++s->nextRow;
    return 0;
}

int L_EndDynamicSaveBMP(void*& handle)
{
    if (!handle)
        return DIB_ERR_INVALID;
    auto* s = static_cast<BmpStream*>(handle);
    int status = DIB_OK;
    if (s->nextRow < s->height) {
        std::vector<unsigned char> fill;
        try {
            fill.assign(static_cast<std::size_t>(s->bytesPerLine), s->fillFlag ? 0 : 255);
        } catch (const std::bad_alloc&) {
            status = DIB_ERR_NO_MEMORY;
        }
        for (; status == DIB_OK && s->nextRow < s->height; ++s->nextRow) {
            if (!s->file->Write(fill.data(), fill.size()))
                status = DIB_ERR_FAILED;
        }
    }
    const bool closed = Release(handle);
    if (status == DIB_OK && !closed)
        status = DIB_ERR_FAILED;
    return status;
}

int L_AbortDynamicSaveBMP(void*& handle)
{
    if (!handle)
        return DIB_ERR_INVALID;
    return Release(handle) ? DIB_OK : DIB_ERR_FAILED;
}
