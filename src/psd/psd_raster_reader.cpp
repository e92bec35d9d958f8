// psd_raster_reader.cpp - Photoshop documents for the raster kernel's file module.
//
// The kernel hands a reader the document's bytes; CPSDTools reads paths. The bytes are staged
// in an anonymous memory file (memfd) and CPSDTools opens it through /proc/self/fd, so the
// composite is drawn by exactly the code CPSDTools::Load runs. Raw documents with channels
// beyond their colour channels are drawn from a staged copy whose header counts the colour
// channels only: raw planes follow each other, so the colour planes are read as they are and
// the extra planes after them are never reached.
#include "psd/psd_raster_reader.h"

#include "psd/psd_internal.h"

#include <cerrno>
#include <cstring>
#include <dib/PsdTools.h>
#include <mutex>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <win/gdi.h>

namespace dib {
namespace {

constexpr int kFormatPsd = 76;

struct Header {
    int channels = 0;
    std::uint32_t height = 0, width = 0;
    int depth = 0, mode = 0;
};

bool ParseHeader(const std::uint8_t* p, std::uint64_t bytes, Header& h)
{
    if (bytes < 26 || std::memcmp(p, "8BPS", 4) != 0)
        return false;
    const std::uint16_t version = psd::Be16(p + 4);
    if (version != 1 && version != 2)
        return false;
    for (int i = 6; i < 12; ++i)
        if (p[i] != 0)
            return false;
    h.channels = psd::Be16(p + 12);
    h.height = psd::Be32(p + 14);
    h.width = psd::Be32(p + 18);
    h.depth = psd::Be16(p + 22);
    h.mode = psd::Be16(p + 24);
    return true;
}

// An anonymous file holding the document, closed on scope exit.
class StagedDocument {
public:
    StagedDocument() = default;
    ~StagedDocument()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StagedDocument(const StagedDocument&) = delete;
    StagedDocument& operator=(const StagedDocument&) = delete;

    bool Stage(const void* data, std::uint64_t bytes)
    {
        fd_ = ::memfd_create("psd", MFD_CLOEXEC);
        if (fd_ < 0)
            return false;
        return Write(0, data, bytes);
    }
    bool Write(std::uint64_t offset, const void* data, std::uint64_t bytes)
    {
        const auto* p = static_cast<const std::uint8_t*>(data);
        while (bytes > 0) {
            const std::size_t chunk = bytes > (1u << 30) ? (1u << 30) : std::size_t(bytes);
            const ssize_t w = ::pwrite(fd_, p, chunk, off_t(offset));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            offset += std::uint64_t(w);
            bytes -= std::uint64_t(w);
        }
        return true;
    }
    std::wstring Path() const { return L"/proc/self/fd/" + std::to_wstring(fd_); }

private:
    int fd_ = -1;
};

int Probe(const std::uint8_t* head, std::size_t bytes)
{
    Header h;
    return ParseHeader(head, bytes, h) ? 1 : 0;
}

int Info(const void* data, std::uint64_t bytes, _FILEINFO* info)
{
    Header h;
    if (!data || !info || !ParseHeader(static_cast<const std::uint8_t*>(data), bytes, h))
        return RK_ERROR_FILE_FORMAT;
    if (h.width < 1 || h.height < 1 || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF)
        return RK_ERROR_FILE_CORRUPT;
    StagedDocument doc;
    if (!doc.Stage(data, bytes))
        return RK_ERROR_FILE_OPEN;
    CPSDTools tools;
    const int r = tools.LoadHeaders(doc.Path().c_str());
    if (r != 0)
        return r == -1 ? RK_ERROR_FILE_OPEN : RK_ERROR_FILE_CORRUPT;
    double x = 0, y = 0;
    tools.DPI(x, y);
    info->Format = kFormatPsd;
    info->Width = static_cast<std::int32_t>(h.width);
    info->Height = static_cast<std::int32_t>(h.height);
    info->BitsPerPixel = 24;
    info->ViewPerspective = RK_TOP_LEFT;
    info->Order = RK_ORDER_BGR;
    info->PageNumber = 1;
    info->PageCount = 1;
    info->XResolution = x > 0 ? static_cast<std::int32_t>(x) : 0;
    info->YResolution = y > 0 ? static_cast<std::int32_t>(y) : 0;
    info->ColourModel = h.mode == 4   ? RK_COLOUR_MODEL_CMYK
                        : h.mode == 9 ? RK_COLOUR_MODEL_LAB
                                      : RK_COLOUR_MODEL_RGB;
    info->SamplesPerPixel = h.channels;
    return RK_SUCCESS;
}

int FromLoadResult(int r)
{
    switch (r) {
    case -1:
        return RK_ERROR_FILE_OPEN;
    case -7:
    case -8:
    case -10:
    case -11:
    case -12:
        return RK_ERROR_FORMAT_UNSUPPORTED;
    case -9:
        return RK_ERROR_NO_MEMORY;
    default:
        return RK_ERROR_FILE_CORRUPT;
    }
}

// Draws the staged document; null when CPSDTools leaves it without a bitmap.
HBITMAP Draw(const StagedDocument& doc, int& result)
{
    CPSDTools tools;
    result = tools.Load(doc.Path().c_str());
    return result == 0 ? tools.Detach() : nullptr;
}

// Copies a 24-bit DIB section into a new top-left BGR bitmap.
int CopyDib(HBITMAP dib, _BITMAPHANDLE* bitmap, int xdpi, int ydpi)
{
    DIBSECTION ds{};
    if (GetObjectW(dib, sizeof ds, &ds) < int(sizeof ds) || !ds.dsBm.bmBits ||
        ds.dsBm.bmBitsPixel != 24)
        return RK_ERROR_FILE_CORRUPT;
    const int width = ds.dsBm.bmWidth, height = ds.dsBm.bmHeight;
    int r = RkCreateBitmap(bitmap, BITMAPHANDLE_SIZE, RK_MEMORY_CONVENTIONAL | RK_MEMORY_DEFAULT,
                           width, height, 24, RK_ORDER_BGR, nullptr, RK_TOP_LEFT);
    if (r <= 0)
        return r;
    const bool bottomUp = ds.dsBmih.biHeight > 0;
    const auto* bits = static_cast<const std::uint8_t*>(ds.dsBm.bmBits);
    const std::uint64_t rowBytes = std::uint64_t(width) * 3;
    RkAccessBitmap(bitmap);
    for (int y = 0; y < height && r > 0; ++y) {
        const int stored = bottomUp ? height - 1 - y : y;
        const std::int64_t put = RkPutBitmapRow(
            bitmap, bits + std::size_t(stored) * std::size_t(ds.dsBm.bmWidthBytes), y, rowBytes);
        if (put <= 0)
            r = static_cast<int>(put);
    }
    RkReleaseBitmap(bitmap);
    if (r <= 0) {
        RkFreeBitmap(bitmap);
        return r;
    }
    bitmap->XResolution = xdpi;
    bitmap->YResolution = ydpi;
    return RK_SUCCESS;
}

int Load(const void* data, std::uint64_t bytes, _BITMAPHANDLE* bitmap)
{
    Header h;
    if (!data || !bitmap || !ParseHeader(static_cast<const std::uint8_t*>(data), bytes, h))
        return RK_ERROR_FILE_FORMAT;
    StagedDocument doc;
    if (!doc.Stage(data, bytes))
        return RK_ERROR_FILE_OPEN;
    int r = 0;
    HBITMAP dib = Draw(doc, r);
    if (!dib && r == 0) {
        // Raw RGB and Lab need exactly 3 channels, raw CMYK exactly 4: count only those.
        const int colour = h.mode == 4 ? 4 : (h.mode == 3 || h.mode == 9) ? 3 : 0;
        if (colour > 0 && h.channels > colour) {
            const std::uint8_t count[2] = {0, std::uint8_t(colour)};
            if (!doc.Write(12, count, sizeof count))
                return RK_ERROR_FILE_OPEN;
            dib = Draw(doc, r);
        }
    }
    if (r != 0)
        return FromLoadResult(r);
    if (!dib) {
        // Left without a bitmap: modes never drawn from raw data, or data cut short.
        const bool drawable =
            h.mode == 1 || h.mode == 2 || h.mode == 3 || h.mode == 4 || h.mode == 8 || h.mode == 9;
        return drawable ? RK_ERROR_FILE_CORRUPT : RK_ERROR_FORMAT_UNSUPPORTED;
    }
    CPSDTools headers;
    double x = 0, y = 0;
    if (headers.LoadHeaders(doc.Path().c_str()) == 0)
        headers.DPI(x, y);
    const int result = CopyDib(dib, bitmap, x > 0 ? int(x) : 0, y > 0 ? int(y) : 0);
    DeleteObject(dib);
    return result;
}

const RkExternalReader kPsdReader = {kFormatPsd, Probe, Info, Load};

} // namespace

const RkExternalReader& PsdRasterReader()
{
    return kPsdReader;
}

void RegisterPsdReader()
{
    static std::once_flag once;
    std::call_once(once, [] { RkRegisterExternalReader(&kPsdReader); });
}

} // namespace dib
