// tiff_writer_internal.h - what the whole-image TIFF writer shares with the streaming writer:
// the stream's arguments and an in-memory file target.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <dib/outside/win/windef.h>

class TDib;
class TIndicadorEstat;

namespace tiffw {

// The arguments of L_StartDynamicSaveTIFF, in its order.
struct StreamArgs {
    int width = 0;
    int height = 0;
    int samples = 0;
    int bits = 0;
    int minIsWhite = 0;
    double xDpi = 0.0;
    double yDpi = 0.0;
    int compression = 1;
    int colourOrder = 0;
    const tagRGBQUAD* palette = nullptr;
    int rowsPerStrip = 0;
    int planar = 1;
    const void* photoshop = nullptr;
    std::uint64_t photoshopBytes = 0;
};

// A file in memory that libtiff writes through client procedures: it grows as written, holds
// zeros in any gap a seek leaves, and keeps the bytes until destroyed.
struct MemoryFile {
    MemoryFile() = default;
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() { std::free(data); }

    std::uint8_t* data = nullptr; // malloc'd, capacity bytes
    std::uint64_t size = 0;       // bytes of the file
    std::uint64_t capacity = 0;
    std::uint64_t position = 0;
    bool outOfMemory = false; // a write could not grow the buffer
};

// L_StartDynamicSaveTIFF writing to path (memory null) or into memory (path not used). The
// memory file must outlive the handle.
void* StartStream(const StreamArgs& args, const wchar_t* path, MemoryFile* memory);

// The whole-image save behind TDib::_saveTiff (memory null) and _saveTiffMemory: 1 saved,
// -100 failed or cancelled.
int SaveImage(const TDib& image, const wchar_t* path, MemoryFile* memory, int compression, int cmyk,
              TIndicadorEstat* progress);

} // namespace tiffw
