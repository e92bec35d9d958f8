// file_info_record.cpp - CFILEINFO and CInfoFitxerDIB: reset, copies, and the exchange with the
// kernel's _FILEINFO.
//
// Contents
//   CFILEINFO         constructors, Reset, operator= (x2), Get
//   CInfoFitxerDIB    constructors, operator=, AfegirInfo (x2)
#include <algorithm>
#include <base/texts.h>
#include <cmath>
#include <cstring>
#include <dib/FileInfo.h>
#include <limits>

namespace {

// Kernel format numbers that decide the colour space on their own.
constexpr std::int32_t kFormatPng = 75;
constexpr std::int32_t kFormatTiffCmyk = 85;
constexpr std::int32_t kFormatTiffCmykLzw = 86;

// Nearest whole number, halves away from zero, within the int range (NaN: 0).
std::int32_t RoundResolution(double v)
{
    if (std::isnan(v))
        return 0;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(std::round(v), lo, hi));
}

// Copies the kernel fields that both records hold with the same type (all but the size word
// and the resolutions). Src and Dst are _FILEINFO or CFILEINFO.
template <class Dst, class Src> void CopyKernelFields(Dst& d, const Src& s)
{
    d.Format = s.Format;
    std::memcpy(d.Name, s.Name, sizeof d.Name);
    d.Width = s.Width;
    d.Height = s.Height;
    d.BitsPerPixel = s.BitsPerPixel;
    d.FileBytes = s.FileBytes;
    d.DecodedBytes = s.DecodedBytes;
    std::memcpy(d.Compression, s.Compression, sizeof d.Compression);
    d.ViewPerspective = s.ViewPerspective;
    d.Order = s.Order;
    d.PageNumber = s.PageNumber;
    d.PageCount = s.PageCount;
    std::memcpy(d.Misc, s.Misc, sizeof d.Misc);
    d.BackgroundColour = s.BackgroundColour;
    std::memcpy(d.Extension, s.Extension, sizeof d.Extension);
    d.ExtensionBytes = s.ExtensionBytes;
    d.ColourFlags = s.ColourFlags;
    d.ColourModel = s.ColourModel;
    d.SamplesPerPixel = s.SamplesPerPixel;
    d.ColourExtra = s.ColourExtra;
    std::memcpy(d.Offsets, s.Offsets, sizeof d.Offsets);
    std::memcpy(d.Misc2, s.Misc2, sizeof d.Misc2);
    std::memcpy(d.Tail, s.Tail, sizeof d.Tail);
    std::memcpy(d.Misc3, s.Misc3, sizeof d.Misc3);
    std::memcpy(d.Misc64, s.Misc64, sizeof d.Misc64);
    d.Misc4 = s.Misc4;
}

// Colour space of a kernel record: first from its colour model, then by format and depth.
std::uint32_t ColourSpaceOf(const _FILEINFO& f)
{
    std::uint32_t cs;
    switch (f.ColourModel) {
    case RK_COLOUR_MODEL_RGB:
        cs = DIB_CS_RGB;
        break;
    case RK_COLOUR_MODEL_CMYK:
        cs = DIB_CS_CMYK;
        break;
    case RK_COLOUR_MODEL_LAB:
        cs = DIB_CS_LAB;
        break;
    default:
        cs = DIB_CS_NONE;
        break;
    }
    const std::int32_t b = f.BitsPerPixel;
    if (f.Format == kFormatPng)
        return (b == 8 || b == 16) ? DIB_CS_GREY : DIB_CS_RGB;
    if (f.Format == kFormatTiffCmyk || f.Format == kFormatTiffCmykLzw)
        return DIB_CS_CMYK;
    switch (b) {
    case 32:
        return DIB_CS_CMYK;
    case 24:
        return DIB_CS_RGB;
    case 8:
        return DIB_CS_GREY;
    case 1:
        return DIB_CS_MONO;
    default:
        return cs;
    }
}

} // namespace

// ---- CFILEINFO --------------------------------------------------------------------------------

CFILEINFO::CFILEINFO()
{
    // Reset leaves the two kernel blocks alone; a new record starts them cleared.
    std::memset(Extension, 0, sizeof Extension);
    std::memset(Tail, 0, sizeof Tail);
    Reset();
}

CFILEINFO::CFILEINFO(const _FILEINFO& info) : CFILEINFO()
{
    *this = info;
}

CFILEINFO::CFILEINFO(const CFILEINFO& other) : CFILEINFO()
{
    *this = other;
}

CFILEINFO::~CFILEINFO() = default;

void CFILEINFO::Reset()
{
    Format = 0;
    std::fill(std::begin(Name), std::end(Name), u'\0');
    Width = Height = BitsPerPixel = 0;
    FileBytes = DecodedBytes = 0;
    std::fill(std::begin(Compression), std::end(Compression), u'\0');
    ViewPerspective = Order = PageNumber = PageCount = 0;
    XResolution = YResolution = 0.0;
    std::fill(std::begin(Misc), std::end(Misc), 0);
    BackgroundColour = 0xFFFFFF;
    ExtensionBytes = 0;
    ColourFlags = ColourModel = SamplesPerPixel = ColourExtra = 0;
    std::fill(std::begin(Offsets), std::end(Offsets), 0);
    std::fill(std::begin(Misc2), std::end(Misc2), 0);
    std::fill(std::begin(Misc3), std::end(Misc3), 0);
    std::fill(std::begin(Misc64), std::end(Misc64), 0);
    Misc4 = 0;
    ColorSpace = DIB_CS_NONE;
    Channels = 0;
    BitsPerChannel = 0;
    AlphaChannel = -1;
    EngineInfo.Empty();
    Tiled = 0;
    Indexed = 0;
}

CFILEINFO& CFILEINFO::operator=(const CFILEINFO& other)
{
    if (this == &other)
        return *this;
    CopyKernelFields(*this, other);
    XResolution = other.XResolution;
    YResolution = other.YResolution;
    ColorSpace = other.ColorSpace;
    Channels = other.Channels;
    BitsPerChannel = other.BitsPerChannel;
    AlphaChannel = other.AlphaChannel;
    EngineInfo = other.EngineInfo;
    Tiled = other.Tiled;
    Indexed = other.Indexed;
    return *this;
}

CFILEINFO& CFILEINFO::operator=(const _FILEINFO& info)
{
    CopyKernelFields(*this, info);
    XResolution = info.XResolution;
    YResolution = info.YResolution;
    ColorSpace = ColourSpaceOf(info);
    const std::int32_t b = info.BitsPerPixel;
    Channels = b < 16 ? 1u : static_cast<std::uint32_t>(b / 8);
    BitsPerChannel = b > 0 ? static_cast<std::uint32_t>(b) / Channels : 0u;
    AlphaChannel = -1;
    EngineInfo.Empty();
    Tiled = 0;
    Indexed = 0;
    return *this;
}

void CFILEINFO::Get(_FILEINFO* info) const
{
    if (!info)
        return;
    info->uStructSize = FILEINFO_SIZE;
    CopyKernelFields(*info, *this);
    info->XResolution = RoundResolution(XResolution);
    info->YResolution = RoundResolution(YResolution);
}

// ---- CInfoFitxerDIB ---------------------------------------------------------------------------

CInfoFitxerDIB::CInfoFitxerDIB() = default;

CInfoFitxerDIB::CInfoFitxerDIB(const CInfoFitxerDIB& other)
    : m_nomFormat(other.m_nomFormat), m_info(other.m_info)
{
    m_etiquetes.Set(other.m_etiquetes);
    m_valors.Set(other.m_valors);
}

CInfoFitxerDIB& CInfoFitxerDIB::operator=(const CInfoFitxerDIB& other)
{
    if (this == &other)
        return *this;
    m_nomFormat = other.m_nomFormat;
    m_etiquetes.Set(other.m_etiquetes);
    m_valors.Set(other.m_valors);
    m_info = other.m_info;
    return *this;
}

CInfoFitxerDIB::~CInfoFitxerDIB() = default;

void CInfoFitxerDIB::AfegirInfo(const wchar_t* label, const wchar_t* value)
{
    m_etiquetes.Afegir(label);
    m_valors.Afegir(value);
}

void CInfoFitxerDIB::AfegirInfo(unsigned int labelId, const wchar_t* value)
{
    const std::wstring label = AfxLoadString(labelId);
    AfegirInfo(label.c_str(), value);
}
