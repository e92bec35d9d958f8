// tiff_support.h - libtiff over a ByteSource, owned handles, and libtiff's process-wide message
// handlers.
//
// libtiff reports through process-wide handlers unless an open passes its own. The process-wide
// ones are replaced once by handlers that discard every message (nothing reaches stdout or
// stderr); each open through OpenTiff also passes per-handle handlers that keep the last error
// message as this thread's last error text (core/last_error.h).
#pragma once

#include "../core/byte_source.h"

#include <cstdarg>
#include <memory>
#include <tiffio.h>

namespace codec {

// Per-handle handlers for TIFFOpenOptionsSetErrorHandlerExtR / ...WarningHandlerExtR: an error
// becomes this thread's last error text ("module: message"); a warning is dropped. Both answer
// 1 so the process-wide handlers are not called.
int KeepTiffError(TIFF* tif, void* user, const char* module, const char* format, va_list args);
int DropTiffWarning(TIFF* tif, void* user, const char* module, const char* format, va_list args);

// Installs the silent process-wide error and warning handlers. Idempotent and thread-safe;
// every entry point that calls libtiff calls it first (OpenTiff does).
void InstallTiffHandlersOnce();

// A TIFF handle reading a ByteSource. The source must outlive the handle.
class TiffInput {
public:
    ~TiffInput();
    TiffInput(const TiffInput&) = delete;
    TiffInput& operator=(const TiffInput&) = delete;

    TIFF* get() const { return tif_; }
    operator TIFF*() const { return tif_; }

    // Opens source for reading. mode is libtiff's ("r", "rh" to read the header only, ...);
    // maxSingleAlloc bounds every single allocation libtiff makes for this handle (0: libtiff's
    // default). Null when libtiff refuses the data; the last error text says why.
    static std::unique_ptr<TiffInput> Open(core::ByteSource& source, const char* mode = "r",
                                           const char* name = "input", tmsize_t maxSingleAlloc = 0);

private:
    TiffInput(core::ByteSource& source) : source_(source) {}

    core::ByteSource& source_;
    toff_t position_ = 0;
    TIFF* tif_ = nullptr;

    friend struct TiffProcs;
};

// Closes a handle libtiff opened on a file or for writing.
struct TiffCloser {
    void operator()(TIFF* tif) const
    {
        if (tif)
            TIFFClose(tif);
    }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

} // namespace codec
