// persistence.cpp - the persistence records of a TDib.
//
//   Guardar / Llegir (FILE*)          stream record: magic, 64-bit length, an embedded PCX file
//   Escriure / Llegir (TSerializer*)  serializer record kind 6: size, depth, format, length and
//                                     an embedded BMP or TIFF file (SalvarMem / ObrirMem)
//
// The embedded files pass through temporary files in the temporary folder, removed on every
// way out.
#include "internal/memory_codecs.h"

#include <atomic>
#include <base/path_string.h>
#include <base/serializer.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <memory>
#include <new>
#include <raster/file_module.h>
#include <string>
#include <win/files.h>
#include <win/global_memory.h>

namespace dib {
namespace {
std::atomic<const MemoryCodecs*> g_codecs{nullptr};
} // namespace

void SetMemoryCodecs(const MemoryCodecs* codecs)
{
    g_codecs.store(codecs, std::memory_order_release);
}

const MemoryCodecs* GetMemoryCodecs()
{
    return g_codecs.load(std::memory_order_acquire);
}

} // namespace dib

namespace {

constexpr std::uint32_t kStreamMagic = 0xAD93E133u;
constexpr std::size_t kChunk = 0x10000;
constexpr std::uint32_t kImageRecordKind = 6;
constexpr std::uint32_t kPayloadHeader = 18;
constexpr std::uint16_t kAlphaFlag = 0x8000;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// A temporary file that is removed when the object goes.
class TempFile {
public:
    ~TempFile()
    {
        if (made_)
            path_.Esborrar();
    }
    bool Make(const wchar_t* prefix)
    {
        made_ = path_.GetTempFileNameW(prefix) == 1;
        return made_ && PathToUtf8(path_.c_str(), utf8_);
    }
    const std::string& utf8() const { return utf8_; }

private:
    CPathString path_;
    std::string utf8_;
    bool made_ = false;
};

void PutLe(std::uint8_t* p, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t GetLe(const std::uint8_t* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// The embedded format of the serializer record by the stream's version.
int EmbeddedFormat(const t_VERSIOSER* version, int bitsPerPixel)
{
    if (!version || version->versio >= 3)
        return RK_FORMAT_TIFF_PACKBITS;
    switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
        return RK_FORMAT_BMP;
    case 32:
        return RK_FORMAT_TIFF_CMYK;
    default:
        return RK_FORMAT_TIFF;
    }
}

} // namespace

int TDib::Guardar(FILE* stream) const
{
    if (!stream)
        return DIB_ERR_INVALID;
    std::uint8_t magic[4];
    PutLe(magic, kStreamMagic, 4);
    if (std::fwrite(magic, 1, 4, stream) != 4)
        return DIB_ERR_WRITE;
    TempFile temp;
    if (!temp.Make(L"PCX")) {
        core::SetLastErrorText("no temporary file for the embedded image");
        return DIB_ERR_WRITE;
    }
    const int saved =
        RkSaveFile(temp.utf8().c_str(), &m_bitmap, RK_FORMAT_PCX, m_bitmap.BitsPerPixel, 0, 0);
    if (saved <= 0)
        return dib::StatusFromKernel(saved);
    File in(std::fopen(temp.utf8().c_str(), "rb"));
    if (!in)
        return DIB_ERR_WRITE;
    const long length = _filelength(_fileno(in.get()));
    if (length < 0)
        return DIB_ERR_WRITE;
    std::uint8_t field[8];
    PutLe(field, std::uint64_t(std::int64_t(length)), 8);
    if (std::fwrite(field, 1, 8, stream) != 8)
        return DIB_ERR_WRITE;
    std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
    if (!chunk)
        return DIB_ERR_NO_MEMORY;
    std::uint64_t copied = 0;
    for (std::size_t n; (n = std::fread(chunk.get(), 1, kChunk, in.get())) > 0; copied += n)
        if (std::fwrite(chunk.get(), 1, n, stream) != n)
            return DIB_ERR_WRITE;
    // A short copy would leave a record whose length field promises bytes it lacks.
    if (copied != std::uint64_t(length))
        return DIB_ERR_WRITE;
    return DIB_OK;
}

int TDib::Llegir(FILE* stream)
{
    if (!stream)
        return DIB_ERR_INVALID;
    std::uint8_t magic[4];
    if (std::fread(magic, 1, 4, stream) != 4)
        return DIB_ERR_READ;
    if (GetLe(magic, 4) != kStreamMagic)
        return DIB_ERR_BAD_MAGIC;
    std::uint8_t field[8];
    if (std::fread(field, 1, 8, stream) != 8)
        return DIB_ERR_READ;
    const std::int64_t length = std::int64_t(GetLe(field, 8));
    TempFile temp;
    if (!temp.Make(L"PCX"))
        return DIB_ERR_READ;
    {
        File out(std::fopen(temp.utf8().c_str(), "wb"));
        if (!out)
            return DIB_ERR_READ;
        std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
        if (!chunk)
            return DIB_ERR_NO_MEMORY;
        // The copy is driven by the bytes actually present, never by the declared length
        // alone: a hostile length only makes the copy stop at the end of the stream.
        for (std::int64_t left = length; left > 0;) {
            const std::size_t want = std::size_t(std::min<std::int64_t>(left, kChunk));
            const std::size_t n = std::fread(chunk.get(), 1, want, stream);
            if (n == 0)
                break;
            if (std::fwrite(chunk.get(), 1, n, out.get()) != n)
                return DIB_ERR_READ;
            left -= std::int64_t(n);
        }
        if (std::fflush(out.get()) != 0)
            return DIB_ERR_READ;
    }
    Done();
    const int r =
        RkLoadFile(temp.utf8().c_str(), &m_bitmap, BITMAPHANDLE_SIZE, 0, RK_ORDER_BGR, 0, nullptr);
    if (r <= 0) {
        // The kernel frees what it could not fill; the image stays empty.
        Done();
        return dib::StatusFromKernel(r);
    }
    return NormalitzarTopLeft();
}

int TDib::Escriure(TSerializer* serializer, const t_VERSIOSER* version, TIndicadorEstat*) const
{
    const dib::MemoryCodecs* codecs = dib::GetMemoryCodecs();
    if (!codecs)
        return DIB_ERR_UNSUPPORTED;
    if (!serializer)
        return DIB_ERR_INVALID;
    const int format = EmbeddedFormat(version, m_bitmap.BitsPerPixel);
    void* memory = nullptr;
    std::int32_t length = 0;
    const int saved = codecs->save(*this, memory, length, format, m_bitmap.BitsPerPixel, 0);
    if (saved < 0)
        return saved;
    struct BlockFree {
        void operator()(void* h) const { GlobalFree(h); }
    };
    std::unique_ptr<void, BlockFree> block(memory);
    const auto total = core::CheckedAdd(std::uint64_t(std::max(length, 0)), kPayloadHeader);
    if (!block || length <= 0 || !total || *total > 0xFFFFFFFFull)
        return DIB_ERR_FAILED;
    std::unique_ptr<std::uint8_t[]> payload(new (std::nothrow) std::uint8_t[std::size_t(*total)]);
    if (!payload)
        return DIB_ERR_NO_MEMORY;
    std::uint16_t stored = static_cast<std::uint16_t>(format);
    if (m_canalAlpha > 0 && (!version || version->versio >= 4))
        stored |= kAlphaFlag;
    std::uint8_t* p = payload.get();
    PutLe(p, std::uint32_t(m_bitmap.Width), 4);
    PutLe(p + 4, std::uint32_t(m_bitmap.Height), 4);
    PutLe(p + 8, std::uint32_t(m_bitmap.BitsPerPixel), 4);
    PutLe(p + 12, stored, 2);
    PutLe(p + 14, std::uint32_t(length), 4);
    const void* bytes = GlobalLock(block.get());
    if (!bytes)
        return DIB_ERR_FAILED;
    std::memcpy(p + kPayloadHeader, bytes, std::size_t(length));
    GlobalUnlock(block.get());
    block.reset();
    return serializer->WriteRecord(p, std::uint32_t(*total), kImageRecordKind);
}

int TDib::Llegir(TSerializer* serializer, const SER_RECORDHEADER& header, TIndicadorEstat*)
{
    const dib::MemoryCodecs* codecs = dib::GetMemoryCodecs();
    if (!codecs)
        return DIB_ERR_UNSUPPORTED;
    if (!serializer)
        return DIB_ERR_INVALID;
    // ReadHeader checked the declared length against the bytes present, so the buffer is
    // sized from it without trusting the stream further.
    if (!core::FitsAllocation(header.mida))
        return DIB_ERR_NO_MEMORY;
    std::unique_ptr<std::uint8_t[]> payload(
        new (std::nothrow) std::uint8_t[std::max<std::size_t>(header.mida, 1)]);
    if (!payload)
        return DIB_ERR_NO_MEMORY;
    if (serializer->ReadRecord(payload.get(), header.mida, nullptr) == 0)
        return DIB_ERR_READ;
    if (header.mida < kPayloadHeader) {
        core::SetLastErrorText("image record shorter than its header");
        return DIB_ERR_READ;
    }
    const std::uint8_t* p = payload.get();
    const int bitsPerPixel = std::int32_t(std::uint32_t(GetLe(p + 8, 4)));
    const std::uint16_t stored = std::uint16_t(GetLe(p + 12, 2));
    const std::uint32_t length = std::uint32_t(GetLe(p + 14, 4));
    // The embedded file must lie inside the record.
    if (length > header.mida - kPayloadHeader || length > 0x7FFFFFFFu) {
        core::SetLastErrorText("embedded image longer than its record");
        return DIB_ERR_READ;
    }
    const int result = codecs->open(*this, p + kPayloadHeader, int(length), bitsPerPixel,
                                    int(std::int16_t(stored)));
    m_canalAlpha = (stored & kAlphaFlag) ? bitsPerPixel / 8 - 1 : -1;
    return result;
}
