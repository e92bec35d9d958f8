// tiff_support.cpp - silent process-wide handlers, per-handle handlers that keep the message,
// and the client procedures that read a ByteSource.
#include "tiff_support.h"

#include "../core/last_error.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>

namespace codec {
namespace {

// The process-wide handlers discard the message without formatting it.
void SilentHandler(const char*, const char*, va_list) {}

} // namespace

int KeepTiffError(TIFF*, void*, const char* module, const char* format, va_list args)
{
    char text[512];
    if (std::vsnprintf(text, sizeof text, format, args) < 0)
        text[0] = '\0';
    core::SetLastErrorTextF("%s%s%s", module ? module : "", module ? ": " : "", text);
    return 1;
}

int DropTiffWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

void InstallTiffHandlersOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(SilentHandler);
        TIFFSetWarningHandler(SilentHandler);
    });
}

struct TiffProcs {
    static tmsize_t read(thandle_t h, void* buffer, tmsize_t size)
    {
        auto* in = static_cast<TiffInput*>(h);
        if (size <= 0)
            return 0;
        const std::int64_t got = in->source_.readAt(in->position_, buffer, std::size_t(size));
        if (got < 0)
            return -1;
        in->position_ += toff_t(got);
        return tmsize_t(got);
    }
    static tmsize_t write(thandle_t, void*, tmsize_t) { return -1; }
    static toff_t seek(thandle_t h, toff_t offset, int whence)
    {
        auto* in = static_cast<TiffInput*>(h);
        const std::uint64_t size = in->source_.size();
        std::uint64_t base = 0;
        if (whence == SEEK_CUR)
            base = in->position_;
        else if (whence == SEEK_END)
            base = size;
        else if (whence != SEEK_SET)
            return toff_t(-1);
        // libtiff passes offsets as unsigned; a relative move backwards wraps, which the
        // unsigned sum undoes. Positions past the end are allowed (reads there return 0).
        const std::uint64_t target = base + std::uint64_t(offset);
        if (target > (std::uint64_t(1) << 62))
            return toff_t(-1);
        in->position_ = target;
        return target;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return static_cast<TiffInput*>(h)->source_.size(); }
    static int map(thandle_t h, void** base, toff_t* size)
    {
        auto* in = static_cast<TiffInput*>(h);
        const std::uint8_t* data = in->source_.data();
        if (!data)
            return 0;
        *base = const_cast<std::uint8_t*>(data);
        *size = in->source_.size();
        return 1;
    }
    static void unmap(thandle_t, void*, toff_t) {}
};

TiffInput::~TiffInput()
{
    if (tif_)
        TIFFClose(tif_);
}

std::unique_ptr<TiffInput> TiffInput::Open(core::ByteSource& source, const char* mode,
                                           const char* name, tmsize_t maxSingleAlloc)
{
    InstallTiffHandlersOnce();
    std::unique_ptr<TiffInput> in(new (std::nothrow) TiffInput(source));
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!in || !options) {
        TIFFOpenOptionsFree(options);
        core::SetLastErrorText("out of memory");
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepTiffError, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, DropTiffWarning, nullptr);
    if (maxSingleAlloc > 0)
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, maxSingleAlloc);
    in->tif_ =
        TIFFClientOpenExt(name ? name : "input", mode ? mode : "r", in.get(), TiffProcs::read,
                          TiffProcs::write, TiffProcs::seek, TiffProcs::close, TiffProcs::size,
                          TiffProcs::map, TiffProcs::unmap, options);
    TIFFOpenOptionsFree(options);
    if (!in->tif_)
        return nullptr;
    return in;
}

} // namespace codec
