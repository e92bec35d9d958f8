// psd_resources.cpp - the image resources section: the file form and the buffer form of the
// block walk, and the ICC profile scan.
//
// Contents
//   block header     ReadBlockHeader (file), RoundedSize
//   interpretation   CPSDTools::InterpretResource
//   file form        CPSDTools::ReadImageResource(FILE*, IMAGE_RESOURCE&)
//   buffer form      sread, seof, CPSDTools::ReadImageResource(unsigned char*, unsigned long)
//   ICC              readImageResourceICCProfile, getEmbededICC, _GetEmbededICC
//
// Block layout: "8BIM", 16-bit identifier, Pascal name (length byte, bytes, one pad byte when
// the length is even, so that the name field is even), 32-bit data size, data padded to even.

#include "psd/psd_internal.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dib/PsdTools.h>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include <win/files.h>

using namespace dib::psd;

namespace {

// The data size made even. The size field is a signed 32-bit value; an odd INT_MAX wraps to a
// negative size, which a walk treats like any size below 1 (no data).
int RoundedSize(std::uint32_t raw)
{
    std::int64_t v = static_cast<std::int32_t>(raw);
    if (v & 1)
        ++v;
    return v > INT_MAX ? INT_MIN : static_cast<int>(v);
}

enum class HeaderRead { Block, NotBlock, End };

// Reads one block header from the file into resource, adding every byte read to consumed.
// NotBlock: the 4 bytes read were no "8BIM". End: the file ended (or could not be read)
// inside the header.
HeaderRead ReadBlockHeader(FILE* file, CPSDTools::IMAGE_RESOURCE& resource, std::int64_t& consumed)
{
    resource.Reset();
    unsigned char sig[4];
    if (!ReadExact(file, sig, 4))
        return HeaderRead::End;
    consumed += 4;
    std::memcpy(resource.signature, sig, 4);
    if (std::memcmp(sig, "8BIM", 4) != 0)
        return HeaderRead::NotBlock;
    unsigned char idLen[3];
    if (!ReadExact(file, idLen, 3))
        return HeaderRead::End;
    consumed += 3;
    resource.identifier = Be16(idLen);
    const int nameLength = idLen[2];
    // The name field (length byte included) is padded to an even size.
    const int nameField = nameLength + ((nameLength % 2 == 0) ? 1 : 0);
    unsigned char name[256];
    if (nameField > 0) {
        if (!ReadExact(file, name, std::size_t(nameField)))
            return HeaderRead::End;
        consumed += nameField;
        resource.SetName(name, nameLength);
    }
    unsigned char size[4];
    if (!ReadExact(file, size, 4))
        return HeaderRead::End;
    consumed += 4;
    resource.size = RoundedSize(Be32(size));
    return HeaderRead::Block;
}

bool FileFormReads(std::uint16_t id)
{
    switch (id) {
    case 1000:
    case 1005:
    case 1007:
    case 1033:
    case 1034:
    case 1036:
    case 1037:
    case 1039:
    case 1046:
    case 1047:
        return true;
    default:
        return false;
    }
}

bool BufferFormReads(std::uint16_t id)
{
    return id == 1006 || (id != 1039 && FileFormReads(id));
}

// Reads up to count bytes at the file's position (fewer when the file ends first).
std::vector<unsigned char> ReadUpTo(FILE* file, std::uint64_t count)
{
    std::uint64_t size;
    std::uint64_t avail = 0;
    if (FileSize(file, size))
        avail = size - std::min(size, Tell(file));
    std::vector<unsigned char> data(static_cast<std::size_t>(std::min(count, avail)));
    const std::size_t got = data.empty() ? 0 : fread(data.data(), 1, data.size(), file);
    data.resize(got);
    return data;
}

} // namespace

// ---- interpretation -------------------------------------------------------------------------

void CPSDTools::InterpretResource(std::uint16_t id, const unsigned char* data, std::uint64_t size,
                                  std::uint64_t blockSize, bool bufferForm)
{
    FieldCursor in(data, size);
    switch (id) {
    case 1000:
        m_versionInfoRead = true;
        in.I16(m_versionInfo.channels) && in.I16(m_versionInfo.rows) &&
            in.I16(m_versionInfo.columns) && in.I16(m_versionInfo.depth) &&
            in.I16(m_versionInfo.mode);
        break;
    case 1005:
        m_resolutionRead = true;
        in.I16(m_resolution.hRes) && in.I32(m_resolution.hResUnit) &&
            in.I16(m_resolution.widthUnit) && in.I16(m_resolution.vRes) &&
            in.I32(m_resolution.vResUnit) && in.I16(m_resolution.heightUnit);
        break;
    case 1006:
        // Pascal strings until the block ends or a length byte is 0.
        for (std::uint8_t n; in.U8(n) && n != 0;) {
            const unsigned char* bytes;
            if (!in.Bytes(bytes, n))
                break;
            if (bytes[0] == 0)
                continue;
            const std::string narrow(reinterpret_cast<const char*>(bytes), n);
            m_alphaNames.AddTail(CString(narrow.c_str()));
        }
        break;
    case 1007: {
        m_displayInfoRead = true;
        for (;;) {
            const unsigned char* r;
            if (!in.Bytes(r, 14))
                break;
            DISPLAY_INFO info;
            info.colourSpace = Be16(r);
            for (int i = 0; i < 4; ++i)
                info.colour[i] = Be16(r + 2 + 2 * i);
            info.opacity = Be16(r + 10);
            info.kind = r[12] != 0 ? 1 : 0;
            info.padding = r[13];
            m_displayInfo = info;
            if (!bufferForm)
                break; // the file form keeps the first record only
            m_displayInfoList.AddTail(m_displayInfo);
            m_displayInfo = DISPLAY_INFO{};
        }
        break;
    }
    case 1033:
    case 1036: {
        ThumbnailHeader& t = m_thumbnailHeader;
        in.I32(t.format) && in.I32(t.width) && in.I32(t.height) && in.I32(t.widthBytes) &&
            in.I32(t.totalSize) && in.I32(t.compressedSize) && in.I16(t.bitsPerPixel) &&
            in.I16(t.planes);
        if (blockSize > 28 && in.Left() > 0 && size >= 28) {
            const std::uint64_t n = std::min(blockSize, size) - 28;
            auto* copy = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(n)));
            if (!copy)
                AfxThrowMemoryException();
            std::memcpy(copy, data + 28, static_cast<std::size_t>(n));
            ReleaseThumbnail();
            m_thumbnail = copy;
            m_thumbnailSize = n;
        }
        m_thumbnailNewFormat = (id == 1036);
        m_thumbnailIncluded = true;
        break;
    }
    case 1034: {
        const unsigned char* flag;
        if (in.Bytes(flag, 2))
            m_copyright = flag[0] != 0 || flag[1] != 0;
        break;
    }
    case 1037: {
        std::int32_t angle;
        if (in.I32(angle))
            m_globalAngle = angle;
        break;
    }
    case 1039: {
        ReleaseICC();
        if (size == blockSize && size > 0 && size <= INT_MAX) {
            m_icc = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size)));
            if (!m_icc)
                AfxThrowMemoryException();
            std::memcpy(m_icc, data, static_cast<std::size_t>(size));
            m_iccSize = static_cast<int>(size);
        }
        break;
    }
    case 1046:
        if (in.I16(m_colourCount))
            m_colourCountRead = true;
        break;
    case 1047:
        in.I16(m_transparentIndex);
        break;
    default:
        break;
    }
}

// ---- file form ------------------------------------------------------------------------------

bool CPSDTools::ReadImageResource(FILE* file, IMAGE_RESOURCE& resource)
{
    unsigned char len[4];
    if (ReadExact(file, len, 4))
        resource.length = static_cast<int>(Be32(len));
    const std::int64_t length = resource.length;
    std::uint64_t fileSize = 0;
    if (!FileSize(file, fileSize) || AtEnd(file, fileSize))
        return length <= 0;

    std::int64_t consumed = 0;
    while (consumed < length) {
        // Each pass takes at least 4 bytes or meets the end of the file (or a read error,
        // which stops the walk too), so a walk that never meets "8BIM" again ends with the
        // file.
        const HeaderRead header = ReadBlockHeader(file, resource, consumed);
        if (header == HeaderRead::End)
            return consumed >= length;
        if (header == HeaderRead::Block && resource.size >= 1) {
            const std::uint64_t size = std::uint64_t(resource.size);
            const std::uint64_t dataStart = Tell(file);
            if (FileFormReads(resource.identifier)) {
                const std::vector<unsigned char> data = ReadUpTo(file, size);
                InterpretResource(resource.identifier, data.data(), data.size(), size, false);
            }
            SeekTo(file, dataStart + size);
            consumed += std::int64_t(size);
        }
        if (AtEnd(file, fileSize))
            return consumed >= length;
    }
    return true;
}

// ---- buffer form ----------------------------------------------------------------------------

int CPSDTools::sread(void* destination, unsigned long elementSize, int count,
                     unsigned char** cursor, unsigned long& remaining, int& consumed)
{
    if (elementSize == 0 || count <= 0 || !cursor || !*cursor)
        return 0;
    const unsigned long n = std::min<unsigned long>(std::size_t(count), remaining / elementSize);
    const unsigned long bytes = n * elementSize;
    if (bytes > 0 && destination)
        std::memcpy(destination, *cursor, bytes);
    *cursor += bytes;
    remaining -= bytes;
    consumed += static_cast<int>(bytes);
    return static_cast<int>(n);
}

int CPSDTools::seof(unsigned long& remaining)
{
    return remaining == 0 ? 1 : 0;
}

bool CPSDTools::ReadImageResource(unsigned char* data, unsigned long size)
{
    m_resource.length = size > unsigned(INT_MAX) ? INT_MAX : static_cast<int>(size);
    if (!data)
        return size == 0;
    unsigned char* cursor = data;
    unsigned long remaining = size;
    std::uint64_t walked = 0;
    bool whole = true;
    while (!seof(remaining)) {
        whole = false;
        // A header cut short by the end of the buffer ends the walk: nothing more can be read
        // and the walk did not reach its end.
        int consumed = 0;
        m_resource.Reset();
        unsigned char sig[4];
        if (sread(sig, 4, 1, &cursor, remaining, consumed) != 1)
            break;
        walked += std::uint64_t(consumed);
        std::memcpy(m_resource.signature, sig, 4);
        whole = true;
        if (std::memcmp(sig, "8BIM", 4) != 0)
            continue;
        whole = false;
        consumed = 0;
        unsigned char idLen[3];
        if (sread(idLen, 1, 3, &cursor, remaining, consumed) != 3)
            break;
        m_resource.identifier = Be16(idLen);
        const int nameLength = idLen[2];
        const int nameField = nameLength + ((nameLength % 2 == 0) ? 1 : 0);
        unsigned char name[256];
        if (nameField > 0 && sread(name, 1, nameField, &cursor, remaining, consumed) != nameField)
            break;
        m_resource.SetName(name, nameLength);
        unsigned char sz[4];
        if (sread(sz, 4, 1, &cursor, remaining, consumed) != 1)
            break;
        walked += std::uint64_t(consumed);
        whole = true;
        m_resource.size = RoundedSize(Be32(sz));
        if (m_resource.size < 1)
            continue;
        const std::uint64_t blockSize = std::uint64_t(m_resource.size);
        const unsigned long span =
            static_cast<unsigned long>(std::min<std::uint64_t>(blockSize, remaining));
        if (BufferFormReads(m_resource.identifier))
            InterpretResource(m_resource.identifier, cursor, span, blockSize, true);
        cursor += span;
        remaining -= span;
        walked += span;
    }
    return whole && walked == size;
}

// ---- ICC profile ----------------------------------------------------------------------------

int CPSDTools::readImageResourceICCProfile(FILE* file, IMAGE_RESOURCE& resource,
                                           unsigned char* buffer, unsigned long& size)
{
    unsigned char len[4];
    if (ReadExact(file, len, 4))
        resource.length = static_cast<int>(Be32(len));
    const std::int64_t length = resource.length;
    std::uint64_t fileSize = 0;
    if (!FileSize(file, fileSize) || AtEnd(file, fileSize))
        return length <= 0 ? 1 : 0;

    std::int64_t consumed = 0;
    while (consumed < length) {
        const HeaderRead header = ReadBlockHeader(file, resource, consumed);
        if (header == HeaderRead::End)
            return consumed == length ? 1 : 0;
        if (header == HeaderRead::Block && resource.size >= 1) {
            const std::uint64_t blockSize = std::uint64_t(resource.size);
            if (resource.identifier == 1039) {
                if (!buffer) {
                    size = blockSize;
                } else {
                    const bool whole = blockSize <= fileSize - std::min(fileSize, Tell(file));
                    size = whole && ReadExact(file, buffer, blockSize) ? blockSize : 0;
                }
                return 1;
            }
            SeekTo(file, Tell(file) + blockSize);
            consumed += std::int64_t(blockSize);
        }
        if (AtEnd(file, fileSize))
            return consumed == length ? 1 : 0;
    }
    return consumed == length ? 1 : 0;
}

unsigned long CPSDTools::getEmbededICC(const wchar_t* path, void* buffer)
{
    FILE* file = path ? _wfopen(path, L"rb") : nullptr;
    if (!file)
        return 0;
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, &fclose);
    unsigned long size = 0;
    try {
        if (ReadHeader(file) != 0 || ReadColourModeData(file) != 0)
            return 0;
        readImageResourceICCProfile(file, m_resource, static_cast<unsigned char*>(buffer), size);
    } catch (CException* e) {
        e->Delete();
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return size;
}

unsigned long CPSDTools::_GetEmbededICC(const wchar_t* path, void* buffer)
{
    CPSDTools tools;
    return tools.getEmbededICC(path, buffer);
}
