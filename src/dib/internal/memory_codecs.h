// memory_codecs.h - the memory-block save and open that the serializer record embeds.
//
// SalvarMem and ObrirMem live in io/, above this folder; io registers them here at start-up so
// that the image's persistence (in this folder) reaches them without a link cycle. Until they
// are registered the serializer record answers -2.
#pragma once

#include <cstdint>

class TDib;

namespace dib {

struct MemoryCodecs {
    // TDib::SalvarMem and TDib::ObrirMem.
    int (*save)(const TDib& image, void*& memory, std::int32_t& size, int format, int bitsPerPixel,
                int quality);
    int (*open)(TDib& image, const unsigned char* data, int size, int bitsPerPixel, int format);
};

// Registers the codecs (a record that outlives every use). Thread-safe.
void SetMemoryCodecs(const MemoryCodecs* codecs);
// The registered codecs, or null.
const MemoryCodecs* GetMemoryCodecs();

} // namespace dib
