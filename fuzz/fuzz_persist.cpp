// fuzz_persist.cpp - the image's persistence readers on arbitrary bytes: the stream record
// (Llegir on a FILE) and the serializer records (Llegir with a TSerializer).
#include <base/serializer.h>
#include <cstdint>
#include <cstdio>
#include <dib/TDib.h>
#include <io/io_startup.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    dib::io::InstallMemoryCodecsOnce();
    {
        // fmemopen refuses a zero-sized buffer; an empty stream is a file with nothing in it.
        static const std::uint8_t kEmpty[1] = {0};
        FILE* f = fmemopen(const_cast<std::uint8_t*>(size ? data : kEmpty), size ? size : 1, "rb");
        if (f) {
            if (size == 0)
                std::fgetc(f);
            TDib image;
            image.Llegir(f);
            std::fclose(f);
        }
    }
    TSerializer s;
    if (s.ObrirMemoria(data, size) != 1)
        return 0;
    SER_RECORDHEADER header;
    for (int records = 0; records < 16 && s.ReadHeader(header) == 1; ++records) {
        if (header.tipus == SER_KIND_VERSIO) {
            t_VERSIOSER version;
            s.ReadVersion(header, version);
            continue;
        }
        TDib image;
        image.Llegir(&s, header, nullptr);
    }
    return 0;
}
