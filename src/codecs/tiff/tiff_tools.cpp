// tiff_tools.cpp - CTIFTools: an open TIFF with raw scan lines, header queries without decoding,
// and the windowed line-by-line read.
//
//   OpenPath                  a file as a ByteSource and a libtiff handle over it
//   StoredByteCount           a tag's byte count as the directory states it
//   InkNameBytes              the bytes of the ink names that really are in the tag
//   CTiffHeaderSelection::Release, CTIFTools object members
//   GetHeaderSelectionValues, GetInfoFitxer, _VerifyTiffMultiChannelInfo, GetNumberOfChannels,
//   GetSeparationList, GetCreationDateTimeAndSoftware, GetStorkRapport, GetEspaiTiff
//   PickWindowLayout, _loadTiff, ObrirDinamic
#include "tiff_codec.h"

#include <algorithm>
#include <base/progress.h>
#include <cmath>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdlib>
#include <cstring>
#include <dib/LineConsumer.h>
#include <dib/PsdTools.h>
#include <dib/TDib.h>
#include <dib/TiffTools.h>
#include <memory>
#include <new>
#include <string>
#include <vector>
#include <win/files.h>

namespace {

// Resolutions beyond this (in the file's unit) are no real scanner's or printer's: treated as
// missing, like NaN, so that no caller turns them into an absurd size.
constexpr double kMaxResolution = 1e6;
constexpr std::uint64_t kFreeRowBytes = std::uint64_t(64) << 20;
constexpr std::uint64_t kMaxRatio = 4096;

// Header queries never read pixels: no strip chopping ('c') and strip arrays loaded only when
// asked for ('D'), so a multi-gigabyte single-strip file opens as fast as a small one.
constexpr const char* kHeaderOnly = "rmcD";

struct OpenedTiff {
    std::unique_ptr<core::ByteSource> source;
    std::unique_ptr<codec::TiffInput> input;
    TIFF* get() const { return input ? input->get() : nullptr; }
};

// Opens path for reading with libtiff's mode letters (must begin with 'r'). False when the path
// is not a regular file or libtiff refuses it; the last error text says why.
bool OpenPath(const wchar_t* path, OpenedTiff& out, const char* mode = "rm")
{
    codec_tiff::InstallTiffTagExtenderOnce();
    std::string utf8;
    if (!path || !PathToUtf8(path, utf8)) {
        core::SetLastErrorText("invalid path");
        return false;
    }
    out.source = core::FileSource(utf8.c_str());
    if (!out.source)
        return false;
    out.input = codec::TiffInput::Open(*out.source, mode, utf8.c_str());
    if (!out.input) {
        out.source.reset();
        return false;
    }
    return true;
}

std::uint64_t ReadUnsigned(const std::uint8_t* p, int bytes, bool bigEndian)
{
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        const int shift = bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
        v |= std::uint64_t(p[i]) << shift;
    }
    return v;
}

// The byte count the current directory states for tag (count times its type's width), or 0
// when the entry is not there or the directory cannot be read. libtiff keeps no such length for
// some fields (InkNames), so walks over them are bounded with this.
std::uint64_t StoredByteCount(core::ByteSource& source, TIFF* tif, std::uint16_t tag)
{
    const bool big = TIFFIsBigTIFF(tif) != 0;
    const bool bigEndian = TIFFIsBigEndian(tif) != 0;
    const std::uint64_t dir = TIFFCurrentDirOffset(tif);
    std::uint8_t head[8];
    const int countBytes = big ? 8 : 2;
    if (source.readAt(dir, head, std::size_t(countBytes)) != countBytes)
        return 0;
    const std::uint64_t entries =
        std::min<std::uint64_t>(ReadUnsigned(head, countBytes, bigEndian), 65535);
    const std::size_t entryBytes = big ? 20 : 12;
    std::vector<std::uint8_t> table(std::size_t(entries) * entryBytes);
    const std::int64_t got =
        source.readAt(dir + std::uint64_t(countBytes), table.data(), table.size());
    if (got < 0)
        return 0;
    const std::size_t complete = std::size_t(got) / entryBytes;
    for (std::size_t i = 0; i < complete; ++i) {
        const std::uint8_t* e = table.data() + i * entryBytes;
        if (ReadUnsigned(e, 2, bigEndian) != tag)
            continue;
        const auto type = static_cast<TIFFDataType>(ReadUnsigned(e + 2, 2, bigEndian));
        const std::uint64_t count = ReadUnsigned(e + 4, big ? 8 : 4, bigEndian);
        return core::CheckedMul(count, std::uint64_t(TIFFDataWidth(type))).value_or(0);
    }
    return 0;
}

// The names libtiff holds for InkNames, bounded by the bytes the tag stores and by wanted (the
// number of inks): whole NUL-terminated names only. Returns their bytes; names gets their count.
std::uint32_t InkNameBytes(const char* names, std::uint64_t stored, unsigned wanted,
                           unsigned& found)
{
    found = 0;
    std::uint64_t at = 0;
    while (found < wanted && at < stored) {
        const void* end = std::memchr(names + at, 0, std::size_t(stored - at));
        if (!end)
            break;
        at = std::uint64_t(static_cast<const char*>(end) - names) + 1;
        ++found;
    }
    return at > UINT32_MAX ? 0 : std::uint32_t(at);
}

// Ink names of an open file: the pointer libtiff holds and the bytes of the whole names that
// are really there (NumberOfInks at most). False when the file has none.
bool InkNames(OpenedTiff& f, std::uint16_t numberOfInks, const char*& names, std::uint32_t& bytes,
              unsigned& count)
{
    char* p = nullptr;
    if (!TIFFGetField(f.get(), TIFFTAG_INKNAMES, &p) || !p)
        return false;
    const std::uint64_t stored = StoredByteCount(*f.source, f.get(), TIFFTAG_INKNAMES);
    names = p;
    bytes = InkNameBytes(p, stored, numberOfInks, count);
    return true;
}

char* CopyString(const char* s)
{
    if (!s)
        return nullptr;
    const std::size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy)
        std::memcpy(copy, s, n);
    return copy;
}

unsigned char* CopyBytes(const void* data, std::uint64_t n)
{
    if (!data || n == 0 || !core::FitsAllocation(n))
        return nullptr;
    auto* copy = static_cast<unsigned char*>(std::malloc(std::size_t(n)));
    if (copy)
        std::memcpy(copy, data, std::size_t(n));
    return copy;
}

// A counted byte field (ICC Profile, Photoshop): libtiff's 32-bit count and pointer.
bool CountedBytes(TIFF* tif, std::uint32_t tag, const unsigned char*& data, std::uint32_t& count)
{
    void* p = nullptr;
    std::uint32_t n = 0;
    if (!TIFFGetField(tif, tag, &n, &p) || !p || n == 0)
        return false;
    data = static_cast<const unsigned char*>(p);
    count = n;
    return true;
}

bool UsableResolution(float v)
{
    return std::isfinite(v) && v > 0.0f && v <= kMaxResolution;
}

// Text of a TIFF ASCII field: UTF-8 when it is valid UTF-8, else one character per byte.
CString TextOf(const char* s)
{
    if (!s)
        return CString();
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    bool valid = true;
    while (*p) {
        std::uint32_t c = *p;
        int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (more < 0) {
            valid = false;
            break;
        }
        c &= more == 0 ? 0x7F : (0x3F >> more);
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (*p & 0x3F);
        }
        if (!valid)
            break;
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            valid = false;
            break;
        }
        out.push_back(static_cast<wchar_t>(c));
    }
    if (valid)
        return CString(out);
    out.clear();
    for (p = reinterpret_cast<const unsigned char*>(s); *p; ++p)
        out.push_back(static_cast<wchar_t>(*p));
    return CString(out);
}

// How the windowed read turns a source pixel into a delivered one.
struct WindowLayout {
    int samples = 0;       // source samples per pixel
    int sourceBytes = 1;   // bytes per source sample (1 or 2)
    bool separate = false; // one plane per sample
    int keep = 0;          // samples delivered per pixel
    int outBytes = 1;      // bytes per delivered sample (1 or 2)
    bool swapRedBlue = false;
    int stride() const { return keep * outBytes; }
};

int PickWindowLayout(TIFF* tif, int bitsPerPixel, WindowLayout& l)
{
    std::uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if ((bits != 8 && bits != 16) || samples < 1 || format == SAMPLEFORMAT_IEEEFP ||
        bitsPerPixel % 8 != 0 || bitsPerPixel < 8 || bitsPerPixel > 64) {
        core::SetLastErrorText("layout not read line by line");
        return codec_tiff::kTiffUnsupported;
    }
    const int out = bitsPerPixel / 8;
    l.samples = samples;
    l.sourceBytes = bits / 8;
    l.separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
    // 16-bit samples stay words when the asked depth has room for more bytes than the file has
    // samples (grey 16, RGB 48, ...); otherwise each kept sample is its high byte.
    l.outBytes = (bits == 16 && out % 2 == 0 && out > samples) ? 2 : 1;
    l.keep = out / l.outBytes;
    if (l.keep > samples) {
        core::SetLastErrorText("fewer bytes per pixel in the file than asked");
        return codec_tiff::kTiffUnsupported;
    }
    if (photometric == PHOTOMETRIC_RGB && samples >= 4)
        l.keep = std::min(l.keep, 3);
    l.swapRedBlue = photometric == PHOTOMETRIC_RGB && l.keep >= 3;
    return codec_tiff::kTiffOk;
}

// Converts columns [left, right] of one plane's scan line into line (pixel x at x * stride).
// plane < 0: a contiguous line holding every sample.
void ConvertColumns(const WindowLayout& l, const std::uint8_t* src, int plane, std::int64_t left,
                    std::int64_t right, std::uint8_t* line)
{
    const int stride = l.stride();
    const int first = plane < 0 ? 0 : plane;
    const int last = plane < 0 ? l.keep - 1 : plane;
    const int srcStep = plane < 0 ? l.samples * l.sourceBytes : l.sourceBytes;
    for (std::int64_t x = left; x <= right; ++x) {
        const std::uint8_t* s = src + x * srcStep;
        std::uint8_t* d = line + x * stride;
        for (int c = first; c <= last; ++c) {
            const int at = l.swapRedBlue && c < 3 ? 2 - c : c;
            const std::uint8_t* sample = s + (plane < 0 ? c * l.sourceBytes : 0);
            if (l.sourceBytes == 1) {
                d[at] = sample[0];
            } else {
                std::uint16_t v;
                std::memcpy(&v, sample, 2);
                if (l.outBytes == 2)
                    std::memcpy(d + 2 * at, &v, 2);
                else
                    d[at] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
}

// Clips r to a width x height image; false when nothing is left.
bool ClipToImage(CRect& r, std::int64_t width, std::int64_t height)
{
    const std::int64_t left = std::max<std::int64_t>(r.left, 0);
    const std::int64_t top = std::max<std::int64_t>(r.top, 0);
    const std::int64_t right = std::min<std::int64_t>(r.right, width - 1);
    const std::int64_t bottom = std::min<std::int64_t>(r.bottom, height - 1);
    if (left > right || top > bottom)
        return false;
    r.left = static_cast<LONG>(left);
    r.top = static_cast<LONG>(top);
    r.right = static_cast<LONG>(right);
    r.bottom = static_cast<LONG>(bottom);
    return true;
}

} // namespace

// ---- CTiffHeaderSelection
// ------------------------------------------------------------------------

void CTiffHeaderSelection::Release()
{
    for (void** p : {reinterpret_cast<void**>(&iccProfile), reinterpret_cast<void**>(&inkNames),
                     reinterpret_cast<void**>(&documentName), reinterpret_cast<void**>(&dateTime),
                     reinterpret_cast<void**>(&model), reinterpret_cast<void**>(&copyright),
                     reinterpret_cast<void**>(&software), reinterpret_cast<void**>(&photoshop)}) {
        std::free(*p);
        *p = nullptr;
    }
}

// ---- the object --------------------------------------------------------------------------------

struct CTIFTools::OpenFile {
    OpenedTiff tiff;
};

CTIFTools::CTIFTools() = default;

CTIFTools::CTIFTools(const CTIFTools& other) : CTIFTools()
{
    *this = other;
}

CTIFTools& CTIFTools::operator=(const CTIFTools& other)
{
    if (this == &other)
        return *this;
    CloseTIF();
    m_path = other.m_path;
    m_mode = other.m_mode;
    if (other.m_file) {
        // A handle of its own: two objects never close one libtiff handle.
        const CString path = m_path;
        const CString mode = m_mode;
        OpenTiff(path, mode);
        m_path = path;
        m_mode = mode;
    }
    return *this;
}

CTIFTools::~CTIFTools()
{
    DeleteContents();
}

int CTIFTools::OpenTiff(const wchar_t* path, const wchar_t* mode)
{
    CloseTIF();
    if (!path || !mode || mode[0] != L'r') {
        core::SetLastErrorText("files are opened for reading only");
        return -3;
    }
    std::string narrow;
    for (const wchar_t* m = mode; *m; ++m) {
        if (*m < 0x20 || *m > 0x7E || *m == L'w' || *m == L'a' || *m == L'+') {
            core::SetLastErrorText("invalid mode: files are opened for reading only");
            return -3;
        }
        narrow.push_back(static_cast<char>(*m));
    }
    auto file = std::make_unique<OpenFile>();
    if (!OpenPath(path, file->tiff, narrow.c_str()))
        return -3;
    m_file = file.release();
    m_path = path;
    m_mode = mode;
    return 0;
}

int CTIFTools::ReadTIFLine(unsigned int row, unsigned char* buffer, int sample)
{
    if (!m_file) {
        core::SetLastErrorText("no file open");
        return -3;
    }
    if (!buffer || sample < -1 || sample > 65535) {
        core::SetLastErrorText("invalid argument");
        return -3;
    }
    const auto plane = static_cast<std::uint16_t>(sample < 0 ? 0 : sample);
    return TIFFReadScanline(m_file->tiff.get(), buffer, row, plane) < 0 ? -3 : 0;
}

std::uint64_t CTIFTools::ScanlineSize() const
{
    if (!m_file)
        return 0;
    const tmsize_t n = TIFFScanlineSize64(m_file->tiff.get());
    return n > 0 ? std::uint64_t(n) : 0;
}

int CTIFTools::CloseTIF()
{
    delete m_file;
    m_file = nullptr;
    return 0;
}

void CTIFTools::DeleteContents()
{
    m_path.Empty();
    m_mode.Empty();
    CloseTIF();
}

int CTIFTools::GetStatus() const
{
    return m_file ? 1 : 0;
}

// ---- static queries
// ------------------------------------------------------------------------------

int CTIFTools::GetHeaderSelectionValues(const wchar_t* path, CTiffHeaderSelection& h)
{
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    TIFF* tif = f.get();
    auto u32 = [&](ttag_t tag, std::uint32_t& field, std::uint32_t bit) {
        std::uint32_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            field = v;
            h.flags |= bit;
        }
    };
    auto u16 = [&](ttag_t tag, std::uint16_t& field, std::uint32_t bit) {
        std::uint16_t v = 0;
        if (TIFFGetField(tif, tag, &v)) {
            field = v;
            h.flags |= bit;
        }
        return v;
    };
    auto f32 = [&](ttag_t tag, float& field, std::uint32_t bit) {
        float v = 0.0f;
        if (TIFFGetField(tif, tag, &v)) {
            field = v;
            h.flags |= bit;
        }
        return v;
    };
    using H = CTiffHeaderSelection;
    u32(TIFFTAG_IMAGEWIDTH, h.imageWidth, H::kWidth);
    u32(TIFFTAG_IMAGELENGTH, h.imageLength, H::kLength);
    u16(TIFFTAG_BITSPERSAMPLE, h.bitsPerSample, H::kBitsPerSample);
    const std::uint16_t photometric = u16(TIFFTAG_PHOTOMETRIC, h.photometric, H::kPhotometric);
    u16(TIFFTAG_ORIENTATION, h.orientation, H::kOrientation);
    u16(TIFFTAG_SAMPLESPERPIXEL, h.samplesPerPixel, H::kSamplesPerPixel);
    u16(TIFFTAG_PLANARCONFIG, h.planarConfig, H::kPlanarConfig);
    const float xres = f32(TIFFTAG_XRESOLUTION, h.xResolution, H::kXResolution);
    const float yres = f32(TIFFTAG_YRESOLUTION, h.yResolution, H::kYResolution);
    f32(TIFFTAG_XPOSITION, h.xPosition, H::kXPosition);
    f32(TIFFTAG_YPOSITION, h.yPosition, H::kYPosition);
    u16(TIFFTAG_RESOLUTIONUNIT, h.resolutionUnit, H::kResolutionUnit);
    u16(TIFFTAG_COMPRESSION, h.compression, H::kCompression);
    if (!UsableResolution(xres) || !UsableResolution(yres)) {
        h.xResolution = 72.0f;
        h.yResolution = 72.0f;
        h.resolutionUnit = RESUNIT_INCH;
        h.flags |= H::kXResolution | H::kYResolution | H::kResolutionUnit;
    }

    const unsigned char* bytes = nullptr;
    std::uint32_t count = 0;
    if (CountedBytes(tif, TIFFTAG_ICCPROFILE, bytes, count) && count >= 4) {
        // The profile's own size: a caller reads that many bytes, so it must lie in the tag.
        const std::uint32_t declared = std::uint32_t(ReadUnsigned(bytes, 4, true));
        if (declared >= 4 && declared <= count) {
            if ((h.iccProfile = CopyBytes(bytes, count)))
                h.flags |= H::kICCProfile;
        }
    }

    u16(TIFFTAG_INKSET, h.inkSet, H::kInkSet);
    std::uint16_t inks = 0;
    const bool haveInks = TIFFGetField(tif, TIFFTAG_NUMBEROFINKS, &inks) != 0;
    if (haveInks) {
        h.numberOfInks = inks;
        h.flags |= H::kNumberOfInks;
    }

    const char* names = nullptr;
    std::uint32_t nameBytes = 0;
    unsigned nameCount = 0;
    if (InkNames(f, haveInks ? inks : 0xFFFF, names, nameBytes, nameCount)) {
        if (nameBytes > 0 && (h.inkNames = reinterpret_cast<char*>(CopyBytes(names, nameBytes)))) {
            h.inkNamesSize = nameBytes;
            h.flags |= H::kInkNames;
        }
    } else if (photometric == PHOTOMETRIC_SEPARATED) {
        h.inkNamesSize = 0;
    } else {
        return 0;
    }

    auto text = [&](ttag_t tag, char*& field, std::uint32_t bit) {
        char* s = nullptr;
        if (TIFFGetField(tif, tag, &s) && s && (field = CopyString(s)))
            h.flags |= bit;
    };
    text(TIFFTAG_DATETIME, h.dateTime, H::kDateTime);
    text(TIFFTAG_SOFTWARE, h.software, H::kSoftware);
    text(TIFFTAG_DOCUMENTNAME, h.documentName, H::kDocumentName);
    text(TIFFTAG_MODEL, h.model, H::kModel);
    text(TIFFTAG_COPYRIGHT, h.copyright, H::kCopyright);

    if (CountedBytes(tif, TIFFTAG_PHOTOSHOP, bytes, count)) {
        if ((h.photoshop = CopyBytes(bytes, count))) {
            h.photoshopSize = count;
            h.flags |= H::kPhotoshop;
        }
    }
    return 0;
}

int CTIFTools::GetInfoFitxer(const wchar_t* path, _FILEINFO* info)
{
    if (!info)
        return 0;
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    TIFF* tif = f.get();
    std::uint32_t width = 0, length = 0;
    std::uint16_t samples = 1, bits = 1, unit = RESUNIT_INCH;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    info->Width = static_cast<std::int32_t>(std::min<std::uint32_t>(width, INT32_MAX));
    info->Height = static_cast<std::int32_t>(std::min<std::uint32_t>(length, INT32_MAX));
    info->BitsPerPixel = std::int32_t(samples) * std::int32_t(bits);
    info->ViewPerspective = 1;
    info->Format = 3;
    auto whole = [&](ttag_t tag) {
        float v = 0.0f;
        double r = 0.0;
        if (TIFFGetField(tif, tag, &v) && UsableResolution(v))
            r = unit == RESUNIT_CENTIMETER ? std::round(double(v) * 2.54) : std::trunc(double(v));
        return r < 1.0 ? 72 : static_cast<std::int32_t>(r);
    };
    info->XResolution = whole(TIFFTAG_XRESOLUTION);
    info->YResolution = whole(TIFFTAG_YRESOLUTION);
    return 1;
}

int CTIFTools::_VerifyTiffMultiChannelInfo(const wchar_t* path)
{
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    TIFF* tif = f.get();
    std::uint16_t compression = 0, samples = 0, bits = 0, photometric = 0;
    if (TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression) &&
        compression == COMPRESSION_ADOBE_DEFLATE)
        return 0;
    if (!TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) || (bits != 8 && bits != 1) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) ||
        photometric != PHOTOMETRIC_SEPARATED)
        return 0;
    int n = samples;
    const unsigned char* block = nullptr;
    std::uint32_t size = 0;
    if (CountedBytes(tif, TIFFTAG_PHOTOSHOP, block, size)) {
        // The parser takes a writable buffer: give it a copy.
        std::vector<unsigned char> copy(block, block + size);
        try {
            CPSDTools psd;
            psd.ReadImageResource(copy.data(), size);
            const int named = psd.AlphaChannelNames().GetCount();
            if (named < n)
                n -= named;
        } catch (CMemoryException*) {
            core::SetLastErrorText("out of memory");
            return 0;
        }
    }
    std::uint16_t inkSet = INKSET_CMYK;
    TIFFGetField(tif, TIFFTAG_INKSET, &inkSet);
    if (inkSet == INKSET_CMYK && n == 4)
        return 0;
    return n > 0 ? 1 : 0;
}

int CTIFTools::GetNumberOfChannels(const wchar_t* path)
{
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    TIFF* tif = f.get();
    std::uint16_t samples = 0, inkSet = 0, inks = 0;
    if (!TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetField(tif, TIFFTAG_INKSET, &inkSet) || inkSet != INKSET_CMYK ||
        !TIFFGetField(tif, TIFFTAG_NUMBEROFINKS, &inks))
        return 0;
    return inks;
}

int CTIFTools::GetSeparationList(const wchar_t* path, unsigned char* buffer, unsigned long size,
                                 int)
{
    const int inks = GetNumberOfChannels(path);
    if (inks <= 0)
        return 0;
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    const char* names = nullptr;
    std::uint32_t bytes = 0;
    unsigned count = 0;
    if (!InkNames(f, std::uint16_t(inks), names, bytes, count) || bytes == 0)
        return 0;
    if (!buffer || size == 0)
        return 0;
    // Whole names only, and the rest of the buffer zeroed: the list is always terminated, and a
    // walk of more names than fitted meets empty names, not stale bytes.
    std::uint32_t fit = 0;
    for (std::uint32_t at = 0; at < bytes;) {
        const std::uint32_t len = std::uint32_t(std::strlen(names + at)) + 1;
        if (std::uint64_t(at) + len > size)
            break;
        at += len;
        fit = at;
    }
    std::memcpy(buffer, names, fit);
    std::memset(buffer + fit, 0, size - fit);
    return fit > 0 ? 1 : 0;
}

int CTIFTools::GetCreationDateTimeAndSoftware(const wchar_t* path, CString& dateTime,
                                              CString& software)
{
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    char* s = nullptr;
    dateTime = TIFFGetField(f.get(), TIFFTAG_DATETIME, &s) ? TextOf(s) : CString();
    s = nullptr;
    software = TIFFGetField(f.get(), TIFFTAG_SOFTWARE, &s) ? TextOf(s) : CString();
    return 1;
}

int CTIFTools::GetStorkRapport(const wchar_t* path, _VelanTIFFInfo* info)
{
    constexpr ttag_t kRepeatTag = 33333;
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    TIFF* tif = f.get();
    // libtiff keeps a tag it does not know as a counted array of the stored type. Only one-byte
    // values, counted the way the field says, are the record.
    const TIFFField* field = TIFFFindField(tif, kRepeatTag, TIFF_ANY);
    if (!field || !TIFFFieldPassCount(field) || TIFFDataWidth(TIFFFieldDataType(field)) != 1)
        return 0;
    void* data = nullptr;
    std::uint32_t count = 0;
    if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
        if (!TIFFGetField(tif, kRepeatTag, &count, &data))
            return 0;
    } else {
        std::uint16_t count16 = 0;
        if (!TIFFGetField(tif, kRepeatTag, &count16, &data))
            return 0;
        count = count16;
    }
    if (!data || count != 16)
        return 0;
    if (info) {
        const auto* b = static_cast<const std::uint8_t*>(data);
        std::memcpy(info->head, b, 4);
        std::memcpy(info->middle, b + 4, 8);
        std::memcpy(info->tail, b + 12, 4);
    }
    return 1;
}

int CTIFTools::GetEspaiTiff(const wchar_t* path)
{
    OpenedTiff f;
    if (!OpenPath(path, f, kHeaderOnly))
        return 0;
    std::uint16_t photometric = 0;
    return TIFFGetField(f.get(), TIFFTAG_PHOTOMETRIC, &photometric) ? photometric : 0;
}

unsigned long CTIFTools::TamanyLinia(int width, int bitsPerPixel, int alignment)
{
    return TDib::TamanyLinia(width, bitsPerPixel, alignment);
}

int CTIFTools::_esTIFF(int format)
{
    switch (format) {
    case 3:
    case 11:
    case 17:
    case 22:
    case 24:
    case 85:
    case 86:
    case 87:
    case 88:
        return 1;
    default:
        return 0;
    }
}

// ---- the windowed read -------------------------------------------------------------------------

int CTIFTools::_loadTiff(const wchar_t* path, int bitsPerPixel, int, TProcesLiniaDIB* processor,
                         TIndicadorEstat* progress, CRect* window, int)
{
    double low = 0.0, high = 0.0;
    if (progress)
        TIndicadorEstat::GetRang(progress, low, high);
    OpenedTiff f;
    if (!OpenPath(path, f))
        return codec_tiff::kTiffOpenFailed;
    TIFF* tif = f.get();
    std::uint32_t width = 0, length = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    CRect area(0, 0, LONG(std::min<std::uint32_t>(width, INT32_MAX)) - 1,
               LONG(std::min<std::uint32_t>(length, INT32_MAX)) - 1);
    if (window)
        area = *window;
    if (!ClipToImage(area, std::min<std::uint32_t>(width, INT32_MAX),
                     std::min<std::uint32_t>(length, INT32_MAX))) {
        core::SetLastErrorText("window outside the image");
        return -3;
    }
    WindowLayout l;
    if (const int s = PickWindowLayout(tif, bitsPerPixel, l); s != codec_tiff::kTiffOk)
        return s;

    const tmsize_t scan = TIFFScanlineSize64(tif);
    // A hostile header can claim gigabytes per row from a few bytes: one row may hold any size
    // up to 64 MiB, larger ones up to 4096 times the file's bytes (past the best ratio of LZW
    // and Deflate on real images).
    const std::uint64_t plausible = std::max<std::uint64_t>(
        kFreeRowBytes, core::CheckedMul(f.source->size(), kMaxRatio).value_or(UINT64_MAX));
    if (scan > 0 && std::uint64_t(scan) > plausible) {
        core::SetLastErrorText("rows larger than the file can hold");
        return codec_tiff::kTiffUnsupported;
    }
    // What ConvertColumns reads of the last column must lie in libtiff's scan line.
    const std::uint64_t needed = (std::uint64_t(area.right) + 1) *
                                 std::uint64_t(l.separate ? 1 : l.samples) *
                                 std::uint64_t(l.sourceBytes);
    if (scan <= 0 || std::uint64_t(scan) < needed) {
        core::SetLastErrorText("scan line shorter than its pixels");
        return codec_tiff::kTiffUnsupported;
    }
    const auto pixelBytes =
        core::CheckedMul(std::uint64_t(area.right) + 1, std::uint64_t(l.stride()));
    const auto padded = pixelBytes ? core::CheckedAdd(*pixelBytes, 3) : std::nullopt;
    std::uint64_t lineBytes = padded.value_or(0);
    if (!padded || !core::FitsAllocation(lineBytes) || !core::FitsAllocation(std::uint64_t(scan))) {
        core::SetLastErrorText("line too large");
        return codec_tiff::kTiffNoMemory;
    }
    lineBytes &= ~std::uint64_t(3);
    std::vector<std::uint8_t> source, line;
    try {
        source.assign(std::size_t(scan), 0);
        line.assign(std::size_t(lineBytes), 0);
    } catch (const std::bad_alloc&) {
        core::SetLastErrorText("out of memory");
        return codec_tiff::kTiffNoMemory;
    }

    const std::int64_t rows = std::int64_t(area.bottom) - area.top + 1;
    std::int64_t done = 0;
    for (std::int64_t row = area.top; row <= area.bottom; ++row) {
        const int planes = l.separate ? l.keep : 1;
        for (int p = 0; p < planes; ++p) {
            if (TIFFReadScanline(tif, source.data(), std::uint32_t(row), std::uint16_t(p)) < 0) {
                core::SetLastErrorText("a row could not be read");
                return codec_tiff::kTiffReadFailed;
            }
            ConvertColumns(l, source.data(), l.separate ? p : -1, area.left, area.right,
                           line.data());
        }
        const int more =
            processor
                ? processor->Processar(line.data() + std::size_t(area.left) * l.stride(), nullptr)
                : 1;
        if (more == 0)
            break;
        ++done;
        if (progress && done % 10 == 0) {
            const double at = low + double(done) / double(rows) * (high - low);
            if (progress->SetPosicio(at) == 0 || progress->Cancelat())
                return codec_tiff::kTiffCancelled;
        }
    }
    return codec_tiff::kTiffOk;
}

int CTIFTools::ObrirDinamic(const wchar_t* path, TProcesLiniaDIB* processor, int bitsPerPixel,
                            TIndicadorEstat* progress, CRect* window, int readLines)
{
    _FILEINFO info{};
    if (!GetInfoFitxer(path, &info))
        return codec_tiff::kTiffOpenFailed - 3000;
    const int bits = bitsPerPixel != 0 ? bitsPerPixel : info.BitsPerPixel;
    CRect area(0, 0, info.Width - 1, info.Height - 1);
    if (window)
        area = *window;
    if (!ClipToImage(area, info.Width, info.Height)) {
        core::SetLastErrorText("window outside the image");
        return -3;
    }
    int s = 1;
    if (processor) {
        const int init =
            processor->Init(area.right - area.left + 1, area.bottom - area.top + 1, area);
        if (init < 0)
            return init;
    }
    // The consumer may have moved the window: only what lies in the image is read.
    const bool any = ClipToImage(area, info.Width, info.Height);
    if (any && readLines != 0 && bits >= 8)
        s = _loadTiff(path, bits, 0, processor, progress, &area, 0);
    if (s > 0)
        return processor ? processor->Done() : 0;
    if (s == 0 || s == codec_tiff::kTiffCancelled)
        return -5;
    return s - 3000;
}
