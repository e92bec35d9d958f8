// save.cpp - saving an image to a file or a memory block.
//
//   TDib::Salvar                own TIFF writer for the TIFF family, the kernel otherwise
//   TDib::__GuardarDinamicProc  the kernel's row-supply callback with progress and cancel
//   TDib::SalvarMem             own TIFF memory writer (3, 189), GDI+ JPEG (182), the kernel
#include "io_internal.h"

#include <atomic>
#include <base/path_string.h>
#include <base/progress.h>
#include <core/last_error.h>
#include <cstdio>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <gdiplus/gdiplus_image.h>
#include <limits>
#include <memory>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <string>
#include <unistd.h>
#include <vector>
#include <win/files.h>
#include <win/global_memory.h>

namespace dib::io {
namespace {

int TiffCompression(int format)
{
    switch (format) {
    case 11:
        return 7;
    case 17:
    case 86:
        return 5;
    case 87:
    case 88:
        return 32773;
    case 189:
        return 32946;
    default:
        return 1;
    }
}

bool TiffCmyk(int format)
{
    return format == 85 || format == 86 || format == 88 || format == 394 || format == 395 ||
           format == 396;
}

// A temporary file removed when the object goes.
class TempFile {
public:
    ~TempFile()
    {
        if (made_)
            path_.Esborrar();
    }
    bool Make()
    {
        made_ = path_.GetTempFileNameW(L"tmp") == 1;
        return made_;
    }
    const wchar_t* path() const { return path_.c_str(); }

private:
    CPathString path_;
    bool made_ = false;
};

struct GlobalBlock {
    void operator()(void* h) const { GlobalFree(h); }
};

// A file's bytes in a movable global-memory block; false when it cannot be read whole.
bool ReadWhole(const wchar_t* path, void*& memory, std::int32_t& size)
{
    FILE* f = _wfsopen(path, L"rb", 0x20);
    if (!f)
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(f, std::fclose);
    const long length = _filelength(_fileno(f));
    if (length <= 0 || length > std::numeric_limits<std::int32_t>::max())
        return false;
    std::unique_ptr<void, GlobalBlock> block(GlobalAlloc(GMEM_MOVEABLE, SIZE_T(length)));
    if (!block)
        return false;
    void* bytes = GlobalLock(block.get());
    const bool read = bytes && std::fread(bytes, 1, std::size_t(length), f) == std::size_t(length);
    GlobalUnlock(block.get());
    if (!read)
        return false;
    memory = block.release();
    size = std::int32_t(length);
    return true;
}

// The image through GDI+'s JPEG encoder, by way of a PNG file. 0, or -5 when GDI+ fails.
int SaveJpegThroughGdiplus(const _BITMAPHANDLE& bitmap, void*& memory, std::int32_t& size)
{
    TempFile png;
    std::string pngPath;
    if (!png.Make() || !Utf8Path(png.path(), pngPath))
        return DIB_ERR_INVALID;
    const int written = RkSaveFile(pngPath.c_str(), &bitmap, RK_FORMAT_PNG, 0, 0, 0);
    if (written <= 0)
        return StatusFromKernel(written);
    GpBitmap* image = nullptr;
    if (GdipCreateBitmapFromFile(png.path(), &image) != Ok || !image) {
        core::SetLastErrorText("GDI+ cannot read the intermediate file");
        return DIB_ERR_FAILED;
    }
    std::unique_ptr<GpImage, GpStatus (*)(GpImage*)> owned(image, GdipDisposeImage);
    TempFile jpeg;
    if (!jpeg.Make())
        return DIB_ERR_INVALID;
    UINT count = 0, bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || count == 0 ||
        bytes < count * sizeof(ImageCodecInfo))
        return DIB_ERR_FAILED;
    std::vector<std::uint64_t> store((bytes + 7) / 8);
    auto* encoders = reinterpret_cast<ImageCodecInfo*>(store.data());
    if (GdipGetImageEncoders(count, bytes, encoders) != Ok)
        return DIB_ERR_FAILED;
    const CLSID* clsid = nullptr;
    for (UINT i = 0; i < count && !clsid; ++i)
        if (encoders[i].MimeType && std::wcscmp(encoders[i].MimeType, L"image/jpeg") == 0)
            clsid = &encoders[i].Clsid;
    if (!clsid) {
        core::SetLastErrorText("no JPEG encoder");
        return DIB_ERR_FAILED;
    }
    const GpStatus saved = GdipSaveImageToFile(image, jpeg.path(), clsid, nullptr);
    owned.reset();
    if (saved != Ok || !ReadWhole(jpeg.path(), memory, size)) {
        core::SetLastErrorText("GDI+ failed to encode the JPEG");
        return DIB_ERR_FAILED;
    }
    return DIB_OK;
}

// A sibling name for writing path under until the file is complete.
std::wstring PartName(const wchar_t* path)
{
    static std::atomic<unsigned> counter{0};
    return std::wstring(path) + L".part" + std::to_wstring(::getpid()) + L"-" +
           std::to_wstring(counter++);
}

} // namespace
} // namespace dib::io

int TDib::__GuardarDinamicProc(_BITMAPHANDLE* bitmap, std::uint8_t* buffer, int firstRow, int rows,
                               void* user)
{
    auto* c = static_cast<dib::io::SaveContext*>(user);
    if (!c || !c->image || !buffer)
        return 0;
    const _BITMAPHANDLE& source = c->image->m_bitmap;
    // The kernel's rows are its record's stride apart; never copy more than a row of either.
    const std::int64_t stride =
        bitmap && bitmap->BytesPerLine > 0 ? bitmap->BytesPerLine : source.BytesPerLine;
    const std::uint64_t bytes = std::uint64_t(std::min<std::int64_t>(stride, source.BytesPerLine));
    for (int i = 0; i < rows; ++i) {
        const int row = firstRow + i;
        const int stored = dib::TDibAccess::StoredRow(source, row);
        if (RkGetBitmapRow(&source, buffer, stored, bytes) <= 0)
            return 0;
        buffer += stride;
        if (c->progress) {
            if (row % 10 == 0 && c->height > 0)
                c->progress->SetPosicio(c->low + double(c->supplied + std::uint32_t(i)) * c->width /
                                                     c->height);
            if (c->progress->Cancelat())
                return 0;
        }
    }
    c->supplied += std::uint32_t(std::max(rows, 0));
    return 1;
}

int TDib::Salvar(const wchar_t* path, int format, int bitsPerPixel, int quality,
                 TIndicadorEstat* progress) const
{
    int r = 0;
    if (dib::io::IsTiffFamily(format)) {
        if (!path)
            return DIB_ERR_INVALID;
        // The writer leaves a partly written file after a failure; writing under another name
        // and renaming once complete keeps such a file (and the loss of an older one) away.
        const std::wstring part = dib::io::PartName(path);
        Lock();
        r = _saveTiff(part.c_str(), dib::io::TiffCompression(format),
                      dib::io::TiffCmyk(format) ? 1 : 0, progress);
        Unlock();
        std::string from, to;
        const bool named = PathToUtf8(part.c_str(), from) && PathToUtf8(path, to);
        if (r > 0 && (!named || std::rename(from.c_str(), to.c_str()) != 0)) {
            core::SetLastErrorText("the saved file cannot be put in place");
            r = RK_ERROR_FILE_WRITE;
        }
        if (r <= 0 && named)
            std::remove(from.c_str());
    } else {
        std::string utf8;
        if (!dib::io::Utf8Path(path, utf8))
            return DIB_ERR_INVALID;
        if (!progress) {
            r = RkSaveFile(utf8.c_str(), &m_bitmap, format, bitsPerPixel, quality, 0);
        } else {
            double low = 0, high = 1;
            progress->GetRang(low, high);
            dib::io::SaveContext context{progress, low, high - low, double(m_bitmap.Height),
                                         this,     0};
            Lock();
            _BITMAPHANDLE record = m_bitmap;
            r = RkSaveFileCallback(utf8.c_str(), &record, format, bitsPerPixel, quality, 2,
                                   &TDib::__GuardarDinamicProc, &context);
            Unlock();
        }
    }
    return dib::StatusFromKernel(r);
}

int TDib::SalvarMem(void*& memory, std::int32_t& size, int format, int bitsPerPixel,
                    int quality) const
{
    dib::io::InstallMemoryCodecsOnce();
    memory = nullptr;
    size = 0;
    if (format == RK_FORMAT_TIFF_DEFLATE || format == RK_FORMAT_TIFF) {
        void* block = nullptr;
        unsigned long bytes = 0;
        const int r = _saveTiffMemory(block, bytes, format == RK_FORMAT_TIFF_DEFLATE ? 32946 : 1);
        if (r < 0)
            return r == dib::kKernelCancelled ? DIB_ERR_FAILED : r + DIB_STATUS_KERNEL_BASE;
        if (bytes > std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
            GlobalFree(block);
            core::SetLastErrorText("file larger than a 32-bit size");
            return DIB_ERR_INVALID;
        }
        memory = block;
        size = std::int32_t(bytes);
        return DIB_OK;
    }
    if (format == RK_FORMAT_JPEG_GDIPLUS)
        return dib::io::SaveJpegThroughGdiplus(m_bitmap, memory, size);
    HGLOBAL block = nullptr;
    std::uint64_t bytes = 0;
    const int r = RkSaveMemory(&m_bitmap, format, bitsPerPixel, quality, &block, &bytes);
    if (r <= 0)
        return dib::StatusFromKernel(r);
    if (!block || bytes > std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
        if (block)
            GlobalFree(block);
        core::SetLastErrorText("file larger than a 32-bit size");
        return DIB_ERR_INVALID;
    }
    memory = block;
    size = std::int32_t(bytes);
    return DIB_OK;
}
