// engine_description.cpp - the raster engine's description of a file and its embedded profile.
//
// Contents
//   TDib::_infoByRExml             the "ImageInfo" XML applied to a record
//   TDib::GetInfoByRE              the engine's XML text of a file
//   TDib::GetEmbeddedProfileByRE   the engine's "iccProfile" resource
#include <algorithm>
#include <base/xml_node.h>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <engine/engine.h>
#include <limits>
#include <string>
#include <win/files.h>

namespace {

// The largest profile asked of the engine: 25 MiB.
constexpr int kMaxEngineProfile = 26214400;
// The engine takes paths of at most this many UTF-8 bytes, the terminating null included.
constexpr std::size_t kEnginePathBytes = 1024;

// The leading integer of text, as _wtoi reads it (0 when none; clamped to the int range).
int LeadingInt(const wchar_t* text)
{
    if (!text)
        return 0;
    wchar_t* end = nullptr;
    const long long v = std::wcstoll(text, &end, 10);
    return int(
        std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The leading decimal of text, as _wtof reads it (0 when none or not finite).
double LeadingDouble(const wchar_t* text)
{
    if (!text)
        return 0.0;
    // Only plain decimals: no "inf", "nan" or hexadecimal forms.
    const wchar_t* p = text;
    while (std::iswspace(*p))
        ++p;
    if (*p == L'+' || *p == L'-')
        ++p;
    if (!std::iswdigit(*p) && !(*p == L'.' && std::iswdigit(p[1])))
        return 0.0;
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X'))
        return 0.0;
    const double v = std::wcstod(text, nullptr);
    return std::isfinite(v) ? v : 0.0;
}

bool EqualNoCase(const wchar_t* a, const wchar_t* b)
{
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b)
        if (std::towlower(*a) != std::towlower(*b))
            return false;
    return *a == *b;
}

// A count from the description: negative values count as 0.
std::uint32_t Count(const wchar_t* text)
{
    return std::uint32_t(std::max(0, LeadingInt(text)));
}

// The path as the engine takes it; false when it has no UTF-8 form or does not fit, since a
// shortened path would name another file.
bool EnginePath(const wchar_t* path, std::string& out)
{
    return path && PathToUtf8(path, out) && out.size() < kEnginePathBytes;
}

} // namespace

int TDib::_infoByRExml(const wchar_t* xml, CFILEINFO* info)
{
    if (!info)
        return DIB_ERR_INVALID;
    const XMLNode root = XMLNode::parseString(xml, L"ImageInfo");
    if (root.isEmpty())
        return 1;
    const auto text = [&root](const wchar_t* name) -> const wchar_t* {
        const XMLNode node = root.getChildNode(name);
        return node.isEmpty() ? nullptr : node.getText();
    };
    const auto has = [&root](const wchar_t* name) { return !root.getChildNode(name).isEmpty(); };

    if (has(L"width"))
        info->Width = LeadingInt(text(L"width"));
    if (has(L"height"))
        info->Height = LeadingInt(text(L"height"));
    if (has(L"ResolutionX"))
        info->XResolution = LeadingDouble(text(L"ResolutionX"));
    if (has(L"ResolutionY"))
        info->YResolution = LeadingDouble(text(L"ResolutionY"));
    if (EqualNoCase(text(L"ResolutionUnits"), L"pixel/cm")) {
        info->XResolution *= 2.54;
        info->YResolution *= 2.54;
    }
    const XMLNode inkset = root.getChildNodeWithAttribute(L"Inkset", L"NumChannels");
    if (!inkset.isEmpty()) {
        info->Channels = Count(inkset.getAttribute(L"NumChannels"));
        if (info->SamplesPerPixel == 0)
            info->SamplesPerPixel =
                std::int32_t(std::min<std::uint32_t>(info->Channels, 0x7FFFFFFF));
    }
    if (has(L"BitsPerComponent"))
        info->BitsPerChannel = Count(text(L"BitsPerComponent"));
    if (has(L"Space")) {
        const wchar_t* space = text(L"Space");
        if (EqualNoCase(space, L"RGB"))
            info->ColorSpace = DIB_CS_RGB;
        else if (EqualNoCase(space, L"CMYK"))
            info->ColorSpace = DIB_CS_CMYK;
        else if (EqualNoCase(space, L"LAB"))
            info->ColorSpace = DIB_CS_LAB;
        else if (EqualNoCase(space, L"GRAYSCALE") || EqualNoCase(space, L"GRAY"))
            info->ColorSpace = DIB_CS_GREY;
        else if (EqualNoCase(space, L"MULTICHANNEL"))
            info->ColorSpace = DIB_CS_MULTICHANNEL;
    }
    if (has(L"AlphaChannel"))
        info->AlphaChannel = LeadingInt(text(L"AlphaChannel"));

    const std::uint64_t bits = std::uint64_t(info->Channels) * info->BitsPerChannel;
    info->BitsPerPixel = std::int32_t(std::min<std::uint64_t>(bits, 0x7FFFFFFF));
    info->ViewPerspective = 1;
    return 0;
}

CString TDib::GetInfoByRE(const wchar_t* path)
{
    std::string name;
    if (!EnginePath(path, name))
        return CString();
    int page = 0;
    int length = int(name.size());
    char* text = talRE_BuildImageInformation(name.c_str(), 0, &page, &length);
    CString result;
    if (text && length > 0)
        result = CString(Utf8ToWide(std::string_view(text, std::size_t(length))));
    talRE_FreeString(text);
    return result;
}

int TDib::GetEmbeddedProfileByRE(const wchar_t* path, unsigned char*& profile)
{
    profile = nullptr;
    std::string name;
    if (!EnginePath(path, name))
        return 0;
    void* none = nullptr;
    const int size =
        talRE_GetImageResourcePtr(name.c_str(), "iccProfile", 0, &none, kMaxEngineProfile);
    if (size <= 0 || size > kMaxEngineProfile)
        return 0;
    void* block = std::calloc(std::size_t(size), 1);
    if (!block)
        return 0;
    // The file may have changed since the first call: only an answer of the same size stands.
    if (talRE_GetImageResourcePtr(name.c_str(), "iccProfile", 0, &block, size) != size) {
        std::free(block);
        return 0;
    }
    profile = static_cast<unsigned char*>(block);
    return size;
}
