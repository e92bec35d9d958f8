// serializer.cpp - TSerializer over a file or a memory block.
//
// Contents: stream header; open/close; writing records; reading headers and payloads.
#include "base/serializer.h"

#include "base/progress.h"
#include "win/files.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint8_t kMagic[4] = {'D', 'I', 'B', 'S'};
constexpr std::uint16_t kFormatVersion = 1;
constexpr std::size_t kStreamHeader = 8;
constexpr std::size_t kRecordHeader = 12;
constexpr std::uint32_t kProgressChunk = 1u << 20;

void Put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Get32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void StreamHeader(std::uint8_t (&h)[kStreamHeader])
{
    std::memcpy(h, kMagic, 4);
    h[4] = kFormatVersion & 0xFF;
    h[5] = kFormatVersion >> 8;
    h[6] = h[7] = 0;
}

bool ValidStreamHeader(const std::uint8_t* h)
{
    return std::memcmp(h, kMagic, 4) == 0 && h[4] == (kFormatVersion & 0xFF) &&
           h[5] == (kFormatVersion >> 8) && h[6] == 0 && h[7] == 0;
}

// Opens path for reading (a regular file only) or for writing (created or truncated) as a
// stdio stream. O_NONBLOCK keeps a FIFO from holding the open until a peer comes (a FIFO to
// write with no reader fails at once); reads and writes then block as usual.
FILE* OpenStream(const std::string& path, bool write)
{
    const int oflags = (write ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    const int fd = ::open(path.c_str(), oflags, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    const int fl = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || (!write && !S_ISREG(st.st_mode)) || fl < 0 ||
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE* f = ::fdopen(fd, write ? "wb" : "rb");
    if (!f)
        ::close(fd);
    return f;
}

} // namespace

TSerializer::TSerializer() = default;

TSerializer::~TSerializer()
{
    Tancar();
}

void TSerializer::Reiniciar()
{
    m_mode = Mode::Tancat;
    m_fitxer = nullptr;
    m_midaFitxer = 0;
    m_posicio = 0;
    m_dades = nullptr;
    m_midaDades = 0;
    m_error = false;
    m_pendent = false;
    m_midaPendent = 0;
    m_teVersio = false;
    m_versio = {};
}

int TSerializer::Tancar()
{
    bool ok = !m_error;
    if (m_fitxer) {
        if (m_mode == Mode::EscripturaFitxer && std::fflush(m_fitxer) != 0)
            ok = false;
        if (std::fclose(m_fitxer) != 0 && m_mode == Mode::EscripturaFitxer)
            ok = false;
    }
    const bool escriptura = m_mode == Mode::EscripturaFitxer || m_mode == Mode::EscripturaMemoria;
    Reiniciar();
    return (escriptura && !ok) ? 0 : 1;
}

int TSerializer::ObrirFitxer(const wchar_t* path, int mode)
{
    const int closed = Tancar();
    m_memoria.clear();
    if (!closed || !path || !*path || (mode != 0 && mode != 1))
        return 0;
    std::string utf8;
    if (!PathToUtf8(path, utf8))
        return 0;
    FILE* f = OpenStream(utf8, mode == 1);
    if (!f)
        return 0;
    m_fitxer = f;
    if (mode == 1) {
        m_mode = Mode::EscripturaFitxer;
        std::uint8_t h[kStreamHeader];
        StreamHeader(h);
        if (!Escriure(h, sizeof h)) {
            Tancar();
            return 0;
        }
        return 1;
    }
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0) {
        Tancar();
        return 0;
    }
    m_mode = Mode::LecturaFitxer;
    m_midaFitxer = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t h[kStreamHeader];
    if (!Llegir(h, sizeof h) || !ValidStreamHeader(h)) {
        Tancar();
        return 0;
    }
    return 1;
}

int TSerializer::ObrirMemoria(const void* data, std::size_t size)
{
    const int closed = Tancar();
    m_memoria.clear();
    if (!closed || !data || size < kStreamHeader ||
        !ValidStreamHeader(static_cast<const std::uint8_t*>(data)))
        return 0;
    m_mode = Mode::LecturaMemoria;
    m_dades = static_cast<const std::uint8_t*>(data);
    m_midaDades = size;
    m_posicio = kStreamHeader;
    return 1;
}

int TSerializer::CrearMemoria()
{
    const int closed = Tancar();
    m_memoria.clear();
    if (!closed)
        return 0;
    m_mode = Mode::EscripturaMemoria;
    std::uint8_t h[kStreamHeader];
    StreamHeader(h);
    if (!Escriure(h, sizeof h)) {
        Reiniciar();
        return 0;
    }
    return 1;
}

bool TSerializer::Escriure(const void* data, std::size_t n)
{
    if (m_error)
        return false;
    if (n == 0)
        return true;
    if (m_mode == Mode::EscripturaFitxer) {
        if (std::fwrite(data, 1, n, m_fitxer) != n)
            m_error = true;
    } else if (m_mode == Mode::EscripturaMemoria) {
        try {
            const auto* p = static_cast<const std::uint8_t*>(data);
            m_memoria.insert(m_memoria.end(), p, p + n);
        } catch (const std::exception&) {
            m_error = true;
        }
    } else {
        m_error = true;
    }
    return !m_error;
}

int TSerializer::WriteRecord(const void* data, std::uint32_t size, std::uint32_t type)
{
    if (m_mode != Mode::EscripturaFitxer && m_mode != Mode::EscripturaMemoria)
        return -3;
    if (!data && size > 0)
        return -3;
    if (m_error)
        return -8;
    if (m_mode == Mode::EscripturaMemoria &&
        m_memoria.max_size() - m_memoria.size() < std::uint64_t(size) + kRecordHeader)
        return -8;
    std::uint8_t h[kRecordHeader];
    Put32(h, type);
    Put32(h + 4, size);
    Put32(h + 8, 0);
    if (!Escriure(h, sizeof h) || !Escriure(data, size))
        return -8;
    return 0;
}

int TSerializer::WriteVersion(const t_VERSIOSER& versio)
{
    std::uint8_t p[8];
    Put32(p, versio.versio);
    Put32(p + 4, versio.reservat);
    const int r = WriteRecord(p, sizeof p, SER_KIND_VERSIO);
    if (r == 0) {
        m_versio = versio;
        m_teVersio = true;
    }
    return r;
}

std::uint64_t TSerializer::Restant() const
{
    if (m_mode == Mode::LecturaFitxer)
        return m_midaFitxer > m_posicio ? m_midaFitxer - m_posicio : 0;
    if (m_mode == Mode::LecturaMemoria)
        return m_midaDades > m_posicio ? m_midaDades - m_posicio : 0;
    return 0;
}

bool TSerializer::Llegir(void* data, std::size_t n)
{
    if (m_error)
        return false;
    if (n == 0)
        return true;
    if (m_mode == Mode::LecturaFitxer) {
        if (std::fread(data, 1, n, m_fitxer) != n) {
            m_error = true;
            return false;
        }
    } else if (m_mode == Mode::LecturaMemoria) {
        if (Restant() < n) {
            m_error = true;
            return false;
        }
        std::memcpy(data, m_dades + m_posicio, n);
    } else {
        return false;
    }
    m_posicio += n;
    return true;
}

bool TSerializer::Saltar(std::uint64_t n)
{
    if (m_error || Restant() < n) {
        m_error = true;
        return false;
    }
    if (m_mode == Mode::LecturaFitxer) {
        // The payload is at most 4 GiB, which off_t holds on every 64-bit Linux.
        if (fseeko(m_fitxer, static_cast<off_t>(n), SEEK_CUR) != 0) {
            m_error = true;
            return false;
        }
    }
    m_posicio += n;
    return true;
}

int TSerializer::ReadHeader(SER_RECORDHEADER& header)
{
    header = {};
    if (m_mode != Mode::LecturaFitxer && m_mode != Mode::LecturaMemoria)
        return -7;
    if (m_pendent && !SkipRecord())
        return -7;
    if (m_error)
        return -7;
    const std::uint64_t rest = Restant();
    if (rest == 0)
        return 0;
    std::uint8_t h[kRecordHeader];
    if (rest < kRecordHeader || !Llegir(h, sizeof h)) {
        m_error = true;
        return -7;
    }
    const std::uint32_t mida = Get32(h + 4);
    if (Get32(h + 8) != 0 || Restant() < mida) {
        m_error = true;
        return -7;
    }
    header.tipus = Get32(h);
    header.mida = mida;
    header.reservat = 0;
    m_pendent = true;
    m_midaPendent = mida;
    return 1;
}

int TSerializer::ReadRecord(void* data, std::uint32_t maxSize, TIndicadorEstat* progress)
{
    if (!m_pendent || m_error)
        return 0;
    const std::uint32_t total = m_midaPendent;
    if (total > maxSize || (!data && total > 0))
        return 0;
    auto* out = static_cast<std::uint8_t*>(data);
    const std::uint64_t steps = (std::uint64_t(total) + kProgressChunk - 1) / kProgressChunk;
    for (std::uint64_t i = 0; i < steps; ++i) {
        const std::size_t n = std::min<std::uint64_t>(kProgressChunk, total - i * kProgressChunk);
        const int go = TIndicadorEstat::SetRangPosicioRel(progress, i, steps);
        const bool ok = go && Llegir(out + i * kProgressChunk, n);
        if (!TIndicadorEstat::PopRangRel(progress) || !ok) {
            // Part of the payload is consumed: the stream cannot be resynchronised.
            m_error = true;
            m_pendent = false;
            return 0;
        }
    }
    m_pendent = false;
    m_midaPendent = 0;
    return 1;
}

int TSerializer::SkipRecord()
{
    if (!m_pendent)
        return 0;
    m_pendent = false;
    return Saltar(m_midaPendent) ? 1 : 0;
}

int TSerializer::ReadVersion(const SER_RECORDHEADER& header, t_VERSIOSER& versio)
{
    versio = {};
    if (header.tipus != SER_KIND_VERSIO || !m_pendent || m_midaPendent < 4 || m_midaPendent > 64)
        return 0;
    std::uint8_t p[64] = {};
    if (!ReadRecord(p, sizeof p, nullptr))
        return 0;
    versio.versio = Get32(p);
    versio.reservat = header.mida >= 8 ? Get32(p + 4) : 0;
    m_versio = versio;
    m_teVersio = true;
    return 1;
}
