// serializer.h - record streams in which the suite's documents store their items.
//
// Byte layout (stable; every integer little-endian, fixed width, no padding):
//
//   stream header, 8 bytes, once at the start:
//     0  4  magic "DIBS" (44 49 42 53)
//     4  2  stream format version, 1
//     6  2  flags, 0 (a reader refuses other values)
//   then any number of records, each:
//     0  4  record kind (SER_RECORDHEADER::tipus)
//     4  4  payload length in bytes (SER_RECORDHEADER::mida)
//     8  4  reserved, 0 (a reader refuses other values)
//    12  N  payload
//
// Record kind 0 is the version record: payload t_VERSIOSER as two 32-bit values (version,
// reserved). Other kinds belong to the items that write them (an image writes kind 6).
// A stream ends after the last complete record; bytes that do not form a complete record
// header, or a header whose payload runs past the end, make the stream corrupt.
//
// Results: WriteRecord and WriteVersion give 0 on success, -3 for bad arguments or a stream
// not open for writing, -8 when the bytes could not be written (the stream then refuses every
// further write). ReadHeader gives 1 for a header, 0 at a clean end, -7 for a truncated or
// invalid stream. ReadRecord gives 1 when the payload was read, 0 on any failure.
#pragma once

#include "../outside_api.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class TIndicadorEstat;

// Announces one record while reading.
struct SER_RECORDHEADER {
    std::uint32_t tipus = 0;    // record kind
    std::uint32_t mida = 0;     // payload length in bytes
    std::uint32_t reservat = 0; // 0
};

// The version record of a stream; the first field is the version number.
struct t_VERSIOSER {
    std::uint32_t versio = 0;
    std::uint32_t reservat = 0;
};

constexpr std::uint32_t SER_KIND_VERSIO = 0;

class OUTSIDE_API TSerializer {
public:
    TSerializer();
    ~TSerializer(); // closes; a write error found only then is lost, so call Tancar
    TSerializer(const TSerializer&) = delete;
    TSerializer& operator=(const TSerializer&) = delete;

    // ObrirFitxer, ObrirMemoria and CrearMemoria first close what was open. When that close
    // fails (Tancar would answer 0: bytes written to the stream did not all arrive), they open
    // nothing and answer 0, so the failure is not lost; the object is then closed and the
    // next call proceeds.
    //
    // Opens a file: mode 0 reads a regular file (the stream header is checked), 1 creates or
    // truncates and writes the stream header (a device or a FIFO with a reader is accepted).
    // Neither waits on a FIFO: one without a peer fails at once. 1 on success, 0 on failure.
    int ObrirFitxer(const wchar_t* path, int mode);
    // Reads a stream held in memory. The bytes are not copied: they must outlive the reading.
    // 1 on success, 0 when data is null, or the stream header is missing or invalid.
    int ObrirMemoria(const void* data, std::size_t size);
    // Writes a stream into memory (GetMemoria). 1 on success, 0 on no memory.
    int CrearMemoria();
    // The bytes written so far by a stream made with CrearMemoria (empty otherwise).
    const std::vector<std::uint8_t>& GetMemoria() const { return m_memoria; }

    // Flushes and closes. 1 when everything written reached the file (or nothing was written),
    // 0 when a write or the final flush failed. The memory of CrearMemoria stays readable.
    int Tancar();
    int EsObert() const { return m_mode != Mode::Tancat; }

    // Writes one record. data may be null only when size is 0.
    int WriteRecord(const void* data, std::uint32_t size, std::uint32_t type);
    // Writes the version record (kind 0).
    int WriteVersion(const t_VERSIOSER& versio);

    // Reads the next record header. A payload still pending from the previous header is
    // skipped first. For a file the declared length is checked against the bytes present, so
    // a caller may size a buffer from mida without trusting the stream further.
    int ReadHeader(SER_RECORDHEADER& header);
    // Reads the pending payload into data. Fails (0) when no header is pending, data is null
    // with a payload, the payload is longer than maxSize (the payload stays pending, so
    // SkipRecord or a larger buffer can follow), the stream ends early, or progress asks to
    // stop. Progress: one step per MiB read, through SetRangPosicioRel/PopRangRel.
    int ReadRecord(void* data, std::uint32_t maxSize, TIndicadorEstat* progress);
    // Skips the pending payload. 1 on success, 0 when nothing is pending or the stream ends.
    int SkipRecord();
    // Reads a pending version record (header kind 0) and remembers it. 1 on success, else 0.
    int ReadVersion(const SER_RECORDHEADER& header, t_VERSIOSER& versio);
    // The last version record written or read, or null.
    const t_VERSIOSER* GetVersio() const { return m_teVersio ? &m_versio : nullptr; }

private:
    enum class Mode { Tancat, LecturaFitxer, LecturaMemoria, EscripturaFitxer, EscripturaMemoria };

    bool Escriure(const void* data, std::size_t n);
    bool Llegir(void* data, std::size_t n);
    bool Saltar(std::uint64_t n);
    std::uint64_t Restant() const;
    void Reiniciar();

    Mode m_mode = Mode::Tancat;
    FILE* m_fitxer = nullptr;
    std::uint64_t m_midaFitxer = 0; // reading a file: its size
    std::uint64_t m_posicio = 0;    // reading: bytes consumed
    const std::uint8_t* m_dades = nullptr;
    std::size_t m_midaDades = 0;
    std::vector<std::uint8_t> m_memoria;
    bool m_error = false;
    bool m_pendent = false;
    std::uint32_t m_midaPendent = 0;
    bool m_teVersio = false;
    t_VERSIOSER m_versio;
};
