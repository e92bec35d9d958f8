// scan.cpp - `dibtool scan`: list the scanners, scan one page to a BMP file, or scan at the
// device's full depth straight into a TIFF file.
//
//   dibtool scan --list
//   dibtool scan [--device NAME] [--resolution DPI] [--mode grey|colour|lineart] OUT.bmp
//   dibtool scan [--device NAME] [--resolution DPI] [--mode ...] --to-tiff OUT.tif
//
// Without --device, when several scanners exist and standard input is a terminal, the user
// picks one from a numbered list; otherwise the first one is used.
#include "verbs.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dib/Acquire.h>
#include <dib/TDib.h>
#include <dib/outside/base/ui.h>
#include <dib/outside/win/global_memory.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// UTF-8 to wide, refusing anything ill-formed (empty result and false).
bool Wide(std::string_view s, std::wstring& out)
{
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80                 ? 0
                          : b >= 0xF0 && b <= 0xF4 ? 3
                          : b >= 0xE0              ? 2
                          : b >= 0xC2              ? 1
                                                   : -1;
        if (extra < 0 || s.size() - i <= std::size_t(extra))
            return false;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || c > 0x10FFFF ||
            (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.push_back(static_cast<wchar_t>(c));
        i += std::size_t(extra) + 1;
    }
    return true;
}

std::string Narrow(const std::wstring& w)
{
    std::string out;
    for (wchar_t wc : w) {
        const auto c = static_cast<char32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The terminal sink: message boxes as one line on standard error; the scanner choice as a
// numbered list read from standard input.
class TerminalSink : public TInterficieUsuari {
public:
    int MessageBox(const wchar_t* text, const wchar_t* caption, UINT type, UINT) override
    {
        std::fprintf(stderr, "%s: %s\n", Narrow(caption ? caption : L"").c_str(),
                     Narrow(text ? text : L"").c_str());
        return RespostaPerDefecte(type);
    }
    INT_PTR RunDialog(HWND dialog, UINT) override
    {
        HWND list = UiGetDlgItem(dialog, SC_DLG_LIST);
        const int count = UiListCount(list);
        if (count <= 0)
            return IDCANCEL;
        std::fprintf(stderr, "%s:\n", Narrow(UiGetText(dialog)).c_str());
        for (int i = 0; i < count; ++i)
            std::fprintf(stderr, "  %d  %s\n", i + 1, Narrow(UiListText(list, i)).c_str());
        std::fprintf(stderr, "number (empty to cancel): ");
        char line[64];
        if (!std::fgets(line, sizeof line, stdin))
            return IDCANCEL;
        char* end = nullptr;
        const long n = std::strtol(line, &end, 10);
        if (end == line || n < 1 || n > count)
            return IDCANCEL;
        UiListSetSel(list, static_cast<int>(n - 1));
        return IDOK;
    }
};

struct Listed {
    std::vector<std::wstring> names, vendors, models;
};

int Collect(void* user, _LTWAINSOURCEINFO* info, void*)
{
    auto* l = static_cast<Listed*>(user);
    l->names.emplace_back(info->pszTwnSourceName ? info->pszTwnSourceName : L"");
    l->vendors.emplace_back(info->pszManufacturer ? info->pszManufacturer : L"");
    l->models.emplace_back(info->pszTwnProductFamily ? info->pszTwnProductFamily : L"");
    return 1;
}

int Usage()
{
    std::fprintf(stderr, "usage: dibtool scan --list\n"
                         "       dibtool scan [--device NAME] [--resolution DPI] "
                         "[--mode grey|colour|lineart] OUT.bmp\n"
                         "       dibtool scan [--device NAME] [--resolution DPI] "
                         "[--mode grey|colour|lineart] --to-tiff OUT.tif\n");
    return 2;
}

// A packed DIB written as a BMP file.
bool WriteBmp(TDib& image, const std::string& path)
{
    void* dib = image.ExportToDIB(0);
    if (!dib)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(dib));
    const std::size_t size = GlobalSize(dib);
    bool ok = false;
    if (bytes && size >= 40) {
        std::uint32_t headerSize, colours, bits;
        std::memcpy(&headerSize, bytes, 4);
        std::memcpy(&colours, bytes + 32, 4);
        std::uint16_t bpp;
        std::memcpy(&bpp, bytes + 14, 2);
        bits = bpp;
        if (colours == 0 && bits <= 8)
            colours = 1u << bits;
        const std::uint32_t offBits = 14 + headerSize + colours * 4;
        const std::uint32_t fileSize = static_cast<std::uint32_t>(14 + size);
        std::uint8_t fh[14] = {'B', 'M'};
        std::memcpy(fh + 2, &fileSize, 4);
        std::memcpy(fh + 10, &offBits, 4);
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            ok = std::fwrite(fh, 1, 14, f) == 14 && std::fwrite(bytes, 1, size, f) == size;
            ok = std::fclose(f) == 0 && ok;
        }
    }
    GlobalUnlock(dib);
    GlobalFree(dib);
    return ok;
}

} // namespace

int RunScan(int argc, char** argv)
{
    std::wstring device, out;
    DIB_SCANSETTINGS settings;
    bool list = false, toTiff = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--list") {
            list = true;
        } else if (a == "--device" && hasValue) {
            if (!Wide(argv[++i], device) || device.empty())
                return Usage();
        } else if (a == "--resolution" && hasValue) {
            char* end = nullptr;
            const long dpi = std::strtol(argv[++i], &end, 10);
            if (*end || dpi < 1 || dpi > 100000)
                return Usage();
            settings.resolution = static_cast<std::int32_t>(dpi);
        } else if (a == "--mode" && hasValue) {
            const std::string_view m = argv[++i];
            settings.mode = m == "lineart"                  ? 1
                            : m == "grey" || m == "gray"    ? 2
                            : m == "colour" || m == "color" ? 3
                                                            : -1;
            if (settings.mode < 0)
                return Usage();
        } else if (a == "--to-tiff" && hasValue) {
            toTiff = true;
            if (!Wide(argv[++i], out))
                return Usage();
        } else if (!a.empty() && a[0] != '-' && out.empty() && !toTiff) {
            if (!Wide(a, out))
                return Usage();
        } else {
            return Usage();
        }
    }
    TerminalSink sink;
    SetInterficieUsuari(&sink);
    struct Restore {
        ~Restore() { SetInterficieUsuari(nullptr); }
    } restore;

    if (list) {
        if (!out.empty() || !device.empty())
            return Usage();
        TTwainOperation op;
        Listed l;
        if (!op.EsBuit() || op.GetSources(Collect, &l) != 1) {
            std::fprintf(stderr, "dibtool: no scanner found (%s)\n", DibGetLastErrorText());
            return 1;
        }
        for (std::size_t i = 0; i < l.names.size(); ++i)
            std::printf("%s\t%s %s\n", Narrow(l.names[i]).c_str(), Narrow(l.vendors[i]).c_str(),
                        Narrow(l.models[i]).c_str());
        return 0;
    }
    if (out.empty())
        return Usage();
    const std::string outPath = Narrow(out);
    if (!toTiff &&
        (outPath.size() < 4 || strcasecmp(outPath.c_str() + outPath.size() - 4, ".bmp"))) {
        std::fprintf(stderr, "dibtool: scans are written as .bmp (or --to-tiff)\n");
        return 2;
    }
    if (device.empty() && ::isatty(0)) {
        TTwainOperation op;
        Listed l;
        if (op.EsBuit() && op.GetSources(Collect, &l) == 1 && l.names.size() > 1) {
            if (op.TwainSelect(nullptr) != 1) {
                std::fprintf(stderr, "dibtool: no scanner chosen\n");
                return 1;
            }
            wchar_t name[DIB_TWAIN_NAME_CHARS];
            if (op.GetDefaultSource(name) == 1)
                device = name;
        }
    }
    const wchar_t* source = device.empty() ? nullptr : device.c_str();
    if (toTiff) {
        const int r = TDib::EscanejarATIFF(source, &settings, out.c_str());
        if (r != 0) {
            std::fprintf(stderr, "dibtool: scan failed (%d): %s\n", r, DibGetLastErrorText());
            return 1;
        }
        return 0;
    }
    TDib image;
    const int r = image.ObrirEscaner(source, &settings);
    if (r != 0) {
        std::fprintf(stderr, "dibtool: scan failed (%d): %s\n", r, DibGetLastErrorText());
        return 1;
    }
    if (!WriteBmp(image, outPath)) {
        std::fprintf(stderr, "dibtool: cannot write %s\n", outPath.c_str());
        return 1;
    }
    std::printf("%s: %d x %d, %d bits, %.0f dpi\n", outPath.c_str(), image.GetMidaX(),
                image.GetMidaY(), image.GetBitsPerPixel(), image.GetResolucioX());
    return 0;
}
