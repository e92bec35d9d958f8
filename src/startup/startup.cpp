// startup.cpp - the one start-up path, shared by the shared library and the tests.
#include "startup.h"

#include <acquire/resources.h>
#include <atomic>
#include <codec/tiff_support.h>
#include <codecs/tiff/tiff_codec.h>
#include <dib/internal/library_module.h>
#include <mutex>
#include <psd/psd_raster_reader.h>

namespace dib {
namespace {
std::atomic<bool> g_done{false};
}

void Startup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        LibraryModule();
        RegistrarRecursosAdquisicio();
        codec::InstallTiffHandlersOnce();
        codec_tiff::InstallTiffTagExtenderOnce();
        RegisterPsdReader();
        g_done.store(true, std::memory_order_release);
    });
}

bool StartupDone()
{
    return g_done.load(std::memory_order_acquire);
}

} // namespace dib
