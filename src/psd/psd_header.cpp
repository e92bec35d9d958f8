// psd_header.cpp - CPSDTools: object lifecycle, the load sequence, the file header, the colour
// mode data and the layer section.
//
// Contents
//   nested classes   COLOUR_MODE_DATA, IMAGE_RESOURCE (owned name)
//   lifecycle        constructor, destructor, DeleteContents, operator=, Detach
//   queries          BitsPerPixel, Dimensions, DPI, GlobalAngle, IsCopyright, ThumbNailIncluded
//   loading          Load, LoadHeaders, ReadHeader, ReadColourModeData,
//                    ReadLayerAndMaskInfoSection
//   helpers          file positions, FieldCursor, Calculate

#include "psd/psd_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dib/PsdTools.h>
#include <memory>
#include <new>
#include <sys/types.h>
#include <win/files.h>
#include <win/gdi.h>

namespace dib::psd {

unsigned long Calculate(const unsigned char* bytes, int count)
{
    unsigned long v = 0;
    for (int i = 0; i < count; ++i)
        v = (v << 8) | bytes[i];
    return v;
}

bool FieldCursor::U8(std::uint8_t& v)
{
    if (left_ < 1)
        return false;
    v = *p_++;
    --left_;
    return true;
}

bool FieldCursor::U16(std::uint16_t& v)
{
    if (left_ < 2)
        return false;
    v = Be16(p_);
    p_ += 2;
    left_ -= 2;
    return true;
}

bool FieldCursor::I16(std::int16_t& v)
{
    std::uint16_t u;
    if (!U16(u))
        return false;
    v = static_cast<std::int16_t>(u);
    return true;
}

bool FieldCursor::I32(std::int32_t& v)
{
    if (left_ < 4)
        return false;
    v = static_cast<std::int32_t>(Be32(p_));
    p_ += 4;
    left_ -= 4;
    return true;
}

bool FieldCursor::Bytes(const unsigned char*& p, std::uint64_t count)
{
    if (left_ < count)
        return false;
    p = p_;
    p_ += count;
    left_ -= count;
    return true;
}

bool FileSize(FILE* file, std::uint64_t& size)
{
    const off_t here = ftello(file);
    if (here < 0 || fseeko(file, 0, SEEK_END) != 0)
        return false;
    const off_t end = ftello(file);
    if (fseeko(file, here, SEEK_SET) != 0 || end < 0)
        return false;
    size = static_cast<std::uint64_t>(end);
    return true;
}

std::uint64_t Tell(FILE* file)
{
    const off_t here = ftello(file);
    return here < 0 ? 0 : static_cast<std::uint64_t>(here);
}

bool SeekTo(FILE* file, std::uint64_t offset)
{
    // Offsets come from untrusted lengths; anything beyond off_t is past every real file.
    constexpr std::uint64_t kMax = std::uint64_t(INT64_MAX);
    return fseeko(file, static_cast<off_t>(std::min(offset, kMax)), SEEK_SET) == 0;
}

bool AtEnd(FILE* file)
{
    std::uint64_t size;
    return !FileSize(file, size) || Tell(file) >= size;
}

bool ReadExact(FILE* file, void* out, std::size_t count)
{
    return fread(out, 1, count, file) == count;
}

} // namespace dib::psd

using namespace dib::psd;

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr OpenRead(const wchar_t* path)
{
    return FilePtr(path ? _wfopen(path, L"rb") : nullptr);
}

// Runs one section step; a raised failure (allocation) gives failCode.
template <class F> int Guarded(int failCode, F&& step)
{
    try {
        return step();
    } catch (CException* e) {
        e->Delete();
    } catch (const std::bad_alloc&) {
    }
    return failCode;
}

} // namespace

// ---- nested classes -------------------------------------------------------------------------

CPSDTools::COLOUR_MODE_DATA::~COLOUR_MODE_DATA()
{
    Release();
}

void CPSDTools::COLOUR_MODE_DATA::Release()
{
    delete[] data;
    data = nullptr;
}

CPSDTools::IMAGE_RESOURCE::~IMAGE_RESOURCE()
{
    delete[] name;
}

CPSDTools::IMAGE_RESOURCE::IMAGE_RESOURCE(const IMAGE_RESOURCE& other) : name(nullptr)
{
    Reset();
    *this = other;
}

CPSDTools::IMAGE_RESOURCE::IMAGE_RESOURCE(IMAGE_RESOURCE&& other) noexcept : name(nullptr)
{
    Reset();
    *this = std::move(other);
}

CPSDTools::IMAGE_RESOURCE& CPSDTools::IMAGE_RESOURCE::operator=(const IMAGE_RESOURCE& other)
{
    if (this == &other)
        return *this;
    SetName(other.name, other.nameLength);
    length = other.length;
    std::memcpy(signature, other.signature, sizeof signature);
    identifier = other.identifier;
    size = other.size;
    return *this;
}

CPSDTools::IMAGE_RESOURCE& CPSDTools::IMAGE_RESOURCE::operator=(IMAGE_RESOURCE&& other) noexcept
{
    if (this == &other)
        return *this;
    delete[] name;
    name = other.name;
    nameLength = other.nameLength;
    other.name = nullptr;
    other.nameLength = 0;
    length = other.length;
    std::memcpy(signature, other.signature, sizeof signature);
    identifier = other.identifier;
    size = other.size;
    return *this;
}

void CPSDTools::IMAGE_RESOURCE::Reset()
{
    length = -1;
    size = -1;
    std::memset(signature, 0, sizeof signature);
    identifier = 0xFFFF;
    delete[] name;
    name = nullptr;
    nameLength = 0;
}

void CPSDTools::IMAGE_RESOURCE::SetName(const unsigned char* bytes, int count)
{
    unsigned char* copy = nullptr;
    if (bytes && count > 0) {
        copy = new (std::nothrow) unsigned char[std::size_t(count)];
        if (!copy)
            AfxThrowMemoryException();
        std::memcpy(copy, bytes, std::size_t(count));
    }
    delete[] name;
    name = copy;
    nameLength = copy ? count : 0;
}

// ---- lifecycle ------------------------------------------------------------------------------

CPSDTools::CPSDTools() = default;

CPSDTools::~CPSDTools()
{
    DeleteContents();
    m_displayInfoList.RemoveAll();
    m_alphaNames.RemoveAll();
}

void CPSDTools::DeleteContents()
{
    if (m_bitmap && !m_detached)
        DeleteObject(m_bitmap);
    m_bitmap = nullptr;
    m_detached = false;
    m_colourModeData.Release();
    m_resource.SetName(nullptr, 0);
    ReleaseThumbnail();
    ReleaseICC();
    m_thumbnailIncluded = false;
    m_thumbnailNewFormat = false;
    m_displayInfoRead = false;
    m_resolutionRead = false;
    m_versionInfoRead = false;
    m_copyright = false;
    m_globalAngle = 30;
    m_colourCount = -1;
    m_colourCountRead = false;
    m_transparentIndex = -1;
    m_displayInfo = DISPLAY_INFO{};
    m_thumbnailHeader = ThumbnailHeader{};
    m_displayInfoList.RemoveAll();
    m_alphaNames.RemoveAll();
}

void CPSDTools::ReleaseThumbnail()
{
    std::free(m_thumbnail);
    m_thumbnail = nullptr;
    m_thumbnailSize = 0;
}

void CPSDTools::ReleaseICC()
{
    std::free(m_icc);
    m_icc = nullptr;
    m_iccSize = 0;
}

void CPSDTools::SetBitmap(HBITMAP bitmap)
{
    // A second load without DeleteContents must not lose the first picture.
    if (m_bitmap && !m_detached)
        DeleteObject(m_bitmap);
    m_bitmap = bitmap;
    m_detached = false;
}

CPSDTools& CPSDTools::operator=(const CPSDTools& other)
{
    if (this == &other)
        return *this;
    // Everything that can fail is made first, so a failure leaves this object as it was.
    unsigned char* thumbnail = nullptr;
    if (other.m_thumbnail && other.m_thumbnailSize > 0) {
        thumbnail = static_cast<unsigned char*>(std::malloc(other.m_thumbnailSize));
        if (!thumbnail)
            AfxThrowMemoryException();
        std::memcpy(thumbnail, other.m_thumbnail, other.m_thumbnailSize);
    }
    std::unique_ptr<unsigned char, decltype(&std::free)> guard(thumbnail, &std::free);
    CList<DISPLAY_INFO> infos(10);
    CList<CString> names(10);
    infos.AddTail(&other.m_displayInfoList);
    names.AddTail(&other.m_alphaNames);

    m_displayInfo = other.m_displayInfo;
    m_displayInfoList.RemoveAll();
    m_displayInfoList.AddTail(&infos);
    m_displayInfoRead = other.m_displayInfoRead;
    m_thumbnailHeader = other.m_thumbnailHeader;
    ReleaseThumbnail();
    m_thumbnail = guard.release();
    m_thumbnailSize = m_thumbnail ? other.m_thumbnailSize : 0;
    m_thumbnailNewFormat = other.m_thumbnailNewFormat;
    m_thumbnailIncluded = other.m_thumbnailIncluded;
    m_alphaNames.RemoveAll();
    m_alphaNames.AddTail(&names);
    return *this;
}

HBITMAP CPSDTools::Detach()
{
    m_detached = true;
    return m_bitmap;
}

// ---- queries --------------------------------------------------------------------------------

int CPSDTools::BitsPerPixel() const
{
    return m_header.depth;
}

void CPSDTools::Dimensions(int& width, int& height) const
{
    width = m_header.width;
    height = m_header.height;
}

void CPSDTools::DPI(double& x, double& y) const
{
    x = m_resolution.hRes;
    y = m_resolution.vRes;
}

int CPSDTools::GlobalAngle() const
{
    return m_globalAngle;
}

bool CPSDTools::IsCopyright() const
{
    return m_copyright;
}

bool CPSDTools::ThumbNailIncluded() const
{
    return m_thumbnailIncluded;
}

// ---- loading --------------------------------------------------------------------------------

int CPSDTools::LoadHeaders(const wchar_t* path)
{
    FilePtr file = OpenRead(path);
    if (!file)
        return -1;
    if (Guarded(-2, [&] { return ReadHeader(file.get()); }) != 0)
        return -2;
    if (const int r = Guarded(-3, [&] { return ReadColourModeData(file.get()); }); r != 0)
        return r;
    if (Guarded(-4, [&] { return ReadImageResource(file.get(), m_resource) ? 0 : -4; }) != 0)
        return -4;
    return 0;
}

int CPSDTools::Load(const wchar_t* path)
{
    FilePtr file = OpenRead(path);
    if (!file)
        return -1;
    if (Guarded(-2, [&] { return ReadHeader(file.get()); }) != 0)
        return -2;
    if (const int r = Guarded(-3, [&] { return ReadColourModeData(file.get()); }); r != 0)
        return r;
    if (Guarded(-4, [&] { return ReadImageResource(file.get(), m_resource) ? 0 : -4; }) != 0)
        return -4;
    // The layer section is never interpreted; whatever happens while skipping it, the image
    // data is read next.
    Guarded(0, [&] { return ReadLayerAndMaskInfoSection(file.get()) ? 0 : 1; });
    return Guarded(-6, [&] { return ReadImageData(file.get()); });
}

int CPSDTools::ReadHeader(FILE* file)
{
    unsigned char h[26];
    if (!ReadExact(file, h, sizeof h))
        return -2;
    if (std::memcmp(h, "8BPS", 4) != 0)
        return -2;
    const std::uint16_t version = Be16(h + 4);
    if (version != 1 && version != 2)
        return -2;
    for (int i = 6; i < 12; ++i)
        if (h[i] != 0)
            return -2;
    m_header.channels = static_cast<std::int16_t>(Be16(h + 12));
    m_header.height = static_cast<std::int32_t>(Be32(h + 14));
    m_header.width = static_cast<std::int32_t>(Be32(h + 18));
    m_header.depth = static_cast<std::int16_t>(Be16(h + 22));
    m_header.mode = static_cast<std::int16_t>(Be16(h + 24));
    return 0;
}

int CPSDTools::ReadColourModeData(FILE* file)
{
    unsigned char len[4];
    int length = -1;
    if (ReadExact(file, len, sizeof len))
        length = static_cast<int>(Be32(len));
    m_colourModeData.Release();
    m_colourModeData.length = length;
    if (length < 1)
        return 0;
    // A length beyond the rest of the file is a damaged or hostile document: nothing is
    // allocated for bytes that are not there.
    std::uint64_t size;
    if (!FileSize(file, size) || std::uint64_t(length) > size - std::min(size, Tell(file)))
        return -3;
    unsigned char* data = new (std::nothrow) unsigned char[std::size_t(length)];
    if (!data)
        return -3;
    std::memset(data, 0xFE, std::size_t(length));
    m_colourModeData.data = data;
    (void)fread(data, 1, std::size_t(length), file);
    return 0;
}

bool CPSDTools::ReadLayerAndMaskInfoSection(FILE* file)
{
    unsigned char len[4];
    if (!ReadExact(file, len, sizeof len))
        return false;
    const std::uint64_t length = Be32(len);
    if (AtEnd(file))
        return length == 0;
    std::uint64_t size;
    if (!FileSize(file, size))
        return false;
    const std::uint64_t here = Tell(file);
    const std::uint64_t left = size - std::min(size, here);
    // Skipping stops at the end of the file, as a byte-by-byte skip would.
    SeekTo(file, here + std::min(length, left));
    return length <= left;
}
