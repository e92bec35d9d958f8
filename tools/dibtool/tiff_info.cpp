// tiff_info.cpp - `dibtool tiff FILE [--json]` (also `tiff-info`): what a TIFF says about itself
// without decoding it: header values, inks and separations, channel count and multichannel verdict,
// creation date and software, the repeat record (tag 33333) and the ICC profile's length.
#include "cli.h"
#include "verbs.h"

#include <cstdint>
#include <cstdio>
#include <dib/TiffTools.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string Quoted(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.push_back(char(c));
        }
    }
    return out + "\"";
}

std::vector<std::string> Names(const char* names, std::uint32_t bytes)
{
    std::vector<std::string> out;
    for (std::uint32_t at = 0; names && at < bytes;) {
        std::string name(names + at);
        if (name.empty())
            break; // the zeros after the last name of a list
        at += std::uint32_t(name.size()) + 1;
        out.push_back(std::move(name));
    }
    return out;
}

std::string Hex(const std::uint8_t* b, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) {
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02x", b[i]);
        out += buf;
    }
    return out;
}

struct Report {
    CTiffHeaderSelection h;
    int channels = 0;
    int multichannel = 0;
    std::vector<std::string> inks, separations;
    std::string date, software;
    bool hasRepeat = false;
    _VelanTIFFInfo repeat{};
    std::uint32_t iccBytes = 0;
    ~Report() { h.Release(); }
};

std::string Optional(std::uint32_t flags, std::uint32_t bit, const std::string& value, bool json)
{
    return (flags & bit) ? value : (json ? "null" : "-");
}

void PrintText(const std::string& path, const Report& r)
{
    const auto& h = r.h;
    const std::uint32_t f = h.flags;
    auto join = [](const std::vector<std::string>& v) {
        std::string s;
        for (const auto& n : v)
            s += (s.empty() ? "" : ", ") + n;
        return s.empty() ? std::string("-") : s;
    };
    std::printf("file:          %s\n", path.c_str());
    std::printf("size:          %s x %s\n",
                Optional(f, 0x1, std::to_string(h.imageWidth), false).c_str(),
                Optional(f, 0x2, std::to_string(h.imageLength), false).c_str());
    std::printf("samples:       %s x %s bits, photometric %s, planar %s, compression %s\n",
                Optional(f, 0x20, std::to_string(h.samplesPerPixel), false).c_str(),
                Optional(f, 0x4, std::to_string(h.bitsPerSample), false).c_str(),
                Optional(f, 0x8, std::to_string(h.photometric), false).c_str(),
                Optional(f, 0x40, std::to_string(h.planarConfig), false).c_str(),
                Optional(f, 0x1000, std::to_string(h.compression), false).c_str());
    std::printf("resolution:    %g x %g, unit %u\n", double(h.xResolution), double(h.yResolution),
                unsigned(h.resolutionUnit));
    std::printf("ink set:       %s\n",
                Optional(f, 0x4000, std::to_string(h.inkSet), false).c_str());
    std::printf("inks:          %s\n",
                Optional(f, 0x10000, std::to_string(h.numberOfInks), false).c_str());
    std::printf("ink names:     %s\n", join(r.inks).c_str());
    std::printf("channels:      %d\n", r.channels);
    std::printf("multichannel:  %s\n", r.multichannel ? "yes" : "no");
    std::printf("separations:   %s\n", join(r.separations).c_str());
    std::printf("date:          %s\n", r.date.empty() ? "-" : r.date.c_str());
    std::printf("software:      %s\n", r.software.empty() ? "-" : r.software.c_str());
    if (r.hasRepeat)
        std::printf("repeat:        %s %s %s\n", Hex(r.repeat.head, 4).c_str(),
                    Hex(r.repeat.middle, 8).c_str(), Hex(r.repeat.tail, 4).c_str());
    else
        std::printf("repeat:        -\n");
    if (f & 0x2000)
        std::printf("icc profile:   %u bytes\n", unsigned(r.iccBytes));
    else
        std::printf("icc profile:   -\n");
}

void PrintJson(const std::string& path, const Report& r)
{
    const auto& h = r.h;
    const std::uint32_t f = h.flags;
    auto list = [](const std::vector<std::string>& v) {
        std::string s = "[";
        for (const auto& n : v)
            s += (s.size() > 1 ? ", " : "") + Quoted(n);
        return s + "]";
    };
    auto num = [&](std::uint32_t bit, unsigned v) {
        return Optional(f, bit, std::to_string(v), true);
    };
    std::printf("{\n");
    std::printf("  \"file\": %s,\n", Quoted(path).c_str());
    std::printf("  \"width\": %s,\n  \"height\": %s,\n", num(0x1, h.imageWidth).c_str(),
                num(0x2, h.imageLength).c_str());
    std::printf("  \"samples_per_pixel\": %s,\n  \"bits_per_sample\": %s,\n",
                num(0x20, h.samplesPerPixel).c_str(), num(0x4, h.bitsPerSample).c_str());
    std::printf("  \"photometric\": %s,\n  \"planar\": %s,\n  \"compression\": %s,\n",
                num(0x8, h.photometric).c_str(), num(0x40, h.planarConfig).c_str(),
                num(0x1000, h.compression).c_str());
    std::printf("  \"resolution\": [%g, %g],\n  \"resolution_unit\": %u,\n", double(h.xResolution),
                double(h.yResolution), unsigned(h.resolutionUnit));
    std::printf("  \"ink_set\": %s,\n  \"number_of_inks\": %s,\n", num(0x4000, h.inkSet).c_str(),
                num(0x10000, h.numberOfInks).c_str());
    std::printf("  \"ink_names\": %s,\n", list(r.inks).c_str());
    std::printf("  \"channels\": %d,\n  \"multichannel\": %s,\n", r.channels,
                r.multichannel ? "true" : "false");
    std::printf("  \"separations\": %s,\n", list(r.separations).c_str());
    std::printf("  \"date_time\": %s,\n  \"software\": %s,\n",
                r.date.empty() ? "null" : Quoted(r.date).c_str(),
                r.software.empty() ? "null" : Quoted(r.software).c_str());
    if (r.hasRepeat)
        std::printf("  \"repeat\": [%s, %s, %s],\n", Quoted(Hex(r.repeat.head, 4)).c_str(),
                    Quoted(Hex(r.repeat.middle, 8)).c_str(), Quoted(Hex(r.repeat.tail, 4)).c_str());
    else
        std::printf("  \"repeat\": null,\n");
    std::printf("  \"icc_profile_bytes\": %s\n}\n",
                (f & 0x2000) ? std::to_string(r.iccBytes).c_str() : "null");
}

} // namespace

int RunTiffInfo(int argc, char** argv)
{
    std::string path;
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--json")
            json = true;
        else if (path.empty() && !a.starts_with("--"))
            path = argv[i];
        else {
            std::fprintf(stderr, "usage: dibtool tiff FILE [--json]\n");
            return 2;
        }
    }
    const auto wide = FromUtf8(path);
    if (path.empty() || !wide) {
        std::fprintf(stderr, "usage: dibtool tiff FILE [--json]\n");
        return 2;
    }
    const wchar_t* p = wide->c_str();
    _FILEINFO info{};
    if (!CTIFTools::GetInfoFitxer(p, &info)) {
        std::fprintf(stderr, "dibtool: %s is not a TIFF that can be read\n", path.c_str());
        return 1;
    }
    Report r;
    CTIFTools::GetHeaderSelectionValues(p, r.h);
    r.inks = Names(r.h.inkNames, r.h.inkNamesSize);
    if (r.h.iccProfile)
        r.iccBytes = std::uint32_t(r.h.iccProfile[0]) << 24 | r.h.iccProfile[1] << 16 |
                     r.h.iccProfile[2] << 8 | r.h.iccProfile[3];
    r.channels = CTIFTools::GetNumberOfChannels(p);
    r.multichannel = CTIFTools::_VerifyTiffMultiChannelInfo(p);
    std::vector<unsigned char> list(65536);
    if (CTIFTools::GetSeparationList(p, list.data(), list.size(), 0))
        r.separations =
            Names(reinterpret_cast<const char*>(list.data()), std::uint32_t(list.size()));
    CString date, software;
    CTIFTools::GetCreationDateTimeAndSoftware(p, date, software);
    r.date = cli::Utf8(date.str());
    r.software = cli::Utf8(software.str());
    r.hasRepeat = CTIFTools::GetStorkRapport(p, &r.repeat) == 1;
    if (json)
        PrintJson(path, r);
    else
        PrintText(path, r);
    return 0;
}
