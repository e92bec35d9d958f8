// io_shared.cpp - format families, the load context, bitmap hand-over and the memory codecs'
// registration.
#include "io_internal.h"

#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdlib>
#include <dib/FileInfo.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/memory_codecs.h>
#include <mutex>
#include <raster/kernel.h>
#include <win/files.h>

namespace dib::io {

bool MakeLoadContext(const CFILEINFO& info, int bitsPerPixel, TIndicadorEstat* progress,
                     LoadContext& c)
{
    c = LoadContext{};
    c.progress = progress;
    c.width = info.Width;
    c.height = info.Height;
    c.bitsPerPixel = bitsPerPixel;
    c.bytesPerPixel = bitsPerPixel < 8 ? 1 : bitsPerPixel / 8;
    c.channels = int(info.Channels);
    c.pixelStride = c.channels;
    c.alphaChannel = info.AlphaChannel;
    c.lastColumn = info.Width - 1;
    c.lastRow = info.Height - 1;
    // A description may be hostile or wrong: sizes that do not fit are refused here, the kernel
    // then finds the file's own.
    const auto line = core::CheckedLineSize(std::uint64_t(std::max(info.Width, 0)),
                                            std::uint64_t(std::max(bitsPerPixel, 1)), 4);
    if (!line || *line > 0x7FFFFFFFull)
        return false;
    c.lineSize = int(*line);
    return true;
}

void AdoptBitmap(TDib& image, TDib& decoded)
{
    _BITMAPHANDLE& to = TDibAccess::Bitmap(image);
    _BITMAPHANDLE& from = TDibAccess::Bitmap(decoded);
    if (to.Flags & BITMAP_FLAG_ALLOCATED)
        RkFreeBitmap(&to);
    unsigned char*& display = TDibAccess::BufferDisplay(image);
    std::free(display);
    display = nullptr;
    // The record names the bitmap: a copy of it is the bitmap, and the source record is
    // cleared without freeing.
    to = from;
    RkInitBitmap(&from, BITMAPHANDLE_SIZE, 0, 0, 0);
}

bool Utf8Path(const wchar_t* path, std::string& out)
{
    if (!path || !PathToUtf8(path, out)) {
        core::SetLastErrorText("invalid path");
        return false;
    }
    return true;
}

namespace {

int SaveThroughImage(const TDib& image, void*& memory, std::int32_t& size, int format,
                     int bitsPerPixel, int quality)
{
    return image.SalvarMem(memory, size, format, bitsPerPixel, quality);
}

int OpenThroughImage(TDib& image, const unsigned char* data, int size, int bitsPerPixel, int format)
{
    return image.ObrirMem(data, size, bitsPerPixel, format, nullptr);
}

constexpr MemoryCodecs kCodecs{SaveThroughImage, OpenThroughImage};

} // namespace

void InstallMemoryCodecsOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { SetMemoryCodecs(&kCodecs); });
}

} // namespace dib::io
