// io_startup.h - the open and save paths' once-per-process step.
#pragma once

namespace dib::io {

// Registers SalvarMem and ObrirMem for the image's serializer record; once per process,
// thread-safe (start-up calls it; so does every save and open entry point).
void InstallMemoryCodecsOnce();

} // namespace dib::io
