// startup.h - the library's start-up: what must be in place before any caller calls in.
#pragma once

namespace dib {

// Runs every start-up step once per process, in this order: the library's resource module and
// language texts; libtiff's process-wide message handlers (silent); the TIFF tag extender
// of the library's private fields (chaining the extender installed before); the raster
// kernel's Photoshop reader. Idempotent and
// thread-safe (later calls wait for the first to finish). libdib.so calls it when it is
// loaded; test programs call it from their main.
void Startup();

// True once Startup has finished.
bool StartupDone();

} // namespace dib
