// op.cpp - `dibtool op [--dry-run] IN OUT OPERATION [ARGS]... [, OPERATION [ARGS]...]...`:
// reads IN, applies the operations in order and writes OUT. Operations are separated by
// commas, standing alone or within words ("rotate 90 grow, grey" or "grey,invert").
//
// The whole command line is checked before any file is touched (exit 2 on a mistake); a
// failing read, operation or write stops the run with one line on stderr naming the file, the
// operation, the status and its meaning (exit 1), and OUT is then not written. --dry-run
// prints the operations as parsed, with the TDib member each one calls, and stops.
#include "verbs.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dib/Status.h>
#include <dib/TDib.h>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr unsigned long kWhite = 0xFFFFFF;

enum class Kind { Int, Real, Colour };

struct Param {
    const char* name; // as --help shows it
    Kind kind;
    double min, max;
};

struct Step;

struct Operation {
    const char* name;
    const char* member; // the TDib member it calls
    const char* help;
    std::vector<Param> params;      // required, in order
    std::vector<const char*> words; // optional words after them, each at most once
    int (*apply)(TDib&, const Step&);
};

struct Step {
    const Operation* op = nullptr;
    double v[4] = {};
    unsigned words = 0; // bit k: words[k] was given
    std::string text;   // as typed, for messages

    int Int(int k) const { return static_cast<int>(v[k]); }
    bool Has(unsigned bit) const { return (words & bit) != 0; }
};

double Radians(double degrees)
{
    return degrees * kPi / 180.0;
}

// Members that report nothing, or report success above 0, give 0 here.
int Ok(int status)
{
    return status > 0 ? DIB_OK : status;
}

// The whole-image mask replaces the image.
int ApplyMask(TDib& d, const Step& s)
{
    std::unique_ptr<TDib> mask(d.ExtreureMascaraColor(static_cast<unsigned long>(s.v[0]), s.v[1]));
    if (!mask)
        return DIB_ERR_NO_MEMORY;
    try {
        d = *mask;
    } catch (...) {
        return DIB_ERR_NO_MEMORY;
    }
    return DIB_OK;
}

const Param kAngle{"DEGREES", Kind::Real, -1e9, 1e9};
const Param kAmount{"AMOUNT", Kind::Int, -1000, 1000};
const Param kSide{"", Kind::Int, 1, 2147483647};
const Param kSize{"SIZE", Kind::Int, 1, 255};

const std::vector<Operation>& Operations()
{
    static const std::vector<Operation> table = {
        // geometry
        {"rotate",
         "Rotar",
         "turn clockwise by whole degrees, white fill; grow enlarges the canvas",
         {{"DEGREES", Kind::Int, -2147483647.0, 2147483647.0}},
         {"grow"},
         [](TDib& d, const Step& s) { return d.Rotar(s.Int(0), s.Has(1)); }},
        {"rotate-fine",
         "RotarFine",
         "turn clockwise by any angle (to 1/100 degree), smoothly; grow as for rotate",
         {kAngle},
         {"grow"},
         [](TDib& d, const Step& s) { return d.RotarFine(Radians(s.v[0]), s.Has(1), kWhite); }},
        {"turn-right",
         "FastRotate90CW",
         "a quarter turn clockwise",
         {},
         {},
         [](TDib& d, const Step&) { return d.FastRotate90CW(); }},
        {"turn-around",
         "FastRotate180CW",
         "a half turn",
         {},
         {},
         [](TDib& d, const Step&) { return d.FastRotate180CW(); }},
        {"turn-left",
         "FastRotate270CW",
         "a quarter turn anticlockwise",
         {},
         {},
         [](TDib& d, const Step&) { return d.FastRotate270CW(); }},
        {"shear-x",
         "InclinarX",
         "slide the rows sideways (-45 to 45 degrees), white fill",
         {{"DEGREES", Kind::Real, -45, 45}},
         {},
         [](TDib& d, const Step& s) { return d.InclinarX(Radians(s.v[0]), kWhite); }},
        {"shear-y",
         "InclinarY",
         "slide the columns up or down (-45 to 45 degrees), white fill",
         {{"DEGREES", Kind::Real, -45, 45}},
         {},
         [](TDib& d, const Step& s) { return d.InclinarY(Radians(s.v[0]), kWhite); }},
        {"mirror",
         "FlipX",
         "mirror left to right",
         {},
         {},
         [](TDib& d, const Step&) { return d.FlipX(); }},
        {"flip",
         "FlipY",
         "flip top to bottom",
         {},
         {},
         [](TDib& d, const Step&) { return d.FlipY(); }},
        {"resize",
         "Escalar",
         "resize to WIDTH x HEIGHT (nearest pixel)",
         {{"WIDTH", kSide.kind, kSide.min, kSide.max},
          {"HEIGHT", kSide.kind, kSide.min, kSide.max}},
         {},
         [](TDib& d, const Step& s) { return Ok(d.Escalar(s.Int(0), s.Int(1))); }},
        {"resize-fit",
         "EscalarAR",
         "fit into WIDTH x HEIGHT keeping the proportions, smoothly (or nearest pixel)",
         {{"WIDTH", kSide.kind, kSide.min, kSide.max},
          {"HEIGHT", kSide.kind, kSide.min, kSide.max}},
         {"nearest"},
         [](TDib& d, const Step& s) { return d.EscalarAR(s.Int(0), s.Int(1), 0, !s.Has(1)); }},
        {"crop",
         "Crop",
         "keep WIDTH x HEIGHT pixels from column X, row Y",
         {{"X", Kind::Int, 0, 2147483647.0},
          {"Y", Kind::Int, 0, 2147483647.0},
          {"WIDTH", kSide.kind, kSide.min, kSide.max},
          {"HEIGHT", kSide.kind, kSide.min, kSide.max}},
         {},
         [](TDib& d, const Step& s) { return d.Crop(s.Int(0), s.Int(1), s.Int(2), s.Int(3)); }},
        {"upright",
         "AjustarPerspectiva",
         "store the rows top-down, as they are seen",
         {},
         {},
         [](TDib& d, const Step&) { return d.AjustarPerspectiva(1); }},
        // tone and colour
        {"contrast",
         "SetContrast",
         "contrast -1000 to 1000",
         {kAmount},
         {},
         [](TDib& d, const Step& s) { return d.SetContrast(s.Int(0)); }},
        {"histogram-contrast",
         "SetHistoContrast",
         "stretch the levels towards the full range, -1000 to 1000",
         {kAmount},
         {},
         [](TDib& d, const Step& s) { return d.SetHistoContrast(s.Int(0)); }},
        {"brightness",
         "CanviaBrillo",
         "brightness -1000 to 1000; stretch: then stretch the levels to the full range",
         {kAmount},
         {"stretch"},
         [](TDib& d, const Step& s) { return d.CanviaBrillo(s.Int(0), s.Has(1)); }},
        {"gamma",
         "SetGamma",
         "gamma correction (1 leaves the image, above 1 lightens)",
         {{"GAMMA", Kind::Real, 0.01, 100}},
         {},
         [](TDib& d, const Step& s) { return d.SetGamma(s.v[0]); }},
        {"saturation",
         "CanviaSaturacio",
         "saturation -1000 (grey) to 1000",
         {kAmount},
         {},
         [](TDib& d, const Step& s) { return d.CanviaSaturacio(s.Int(0)); }},
        {"hue",
         "CanviaTo",
         "shift the hue, -100 to 100 (100 is half a turn)",
         {{"SHIFT", Kind::Int, -100, 100}},
         {},
         [](TDib& d, const Step& s) { return d.CanviaTo(s.Int(0)); }},
        {"depth",
         "CanviaBPP",
         "BITS per pixel; optimised: palette from the image; dither: Floyd-Steinberg",
         {{"BITS", Kind::Int, 1, 48}},
         {"optimised", "dither"},
         [](TDib& d, const Step& s) {
             const unsigned long flags = (s.Has(1) ? 0x2ul : 0x1ul) | (s.Has(2) ? 0x10000ul : 0);
             return Ok(d.CanviaBPP(s.Int(0), flags, 0, nullptr));
         }},
        {"grey",
         "GrayScale",
         "8-bit grey",
         {},
         {},
         [](TDib& d, const Step&) { return d.GrayScale(); }},
        {"black-white",
         "ToBlancINegre",
         "1 bit per pixel, black and white",
         {},
         {},
         [](TDib& d, const Step&) { return d.ToBlancINegre(); }},
        {"rgb", "ToRGB", "24-bit colour", {}, {}, [](TDib& d, const Step&) { return d.ToRGB(); }},
        {"cmyk",
         "ToCMYK",
         "32 bits per pixel",
         {},
         {},
         [](TDib& d, const Step&) { return d.ToCMYK(); }},
        {"invert",
         "Invertir",
         "negative",
         {},
         {},
         [](TDib& d, const Step&) { return d.Invertir(); }},
        {"posterise",
         "Posteritzar",
         "LEVELS levels per channel (2 to 64)",
         {{"LEVELS", Kind::Int, 2, 64}},
         {},
         [](TDib& d, const Step& s) { return d.Posteritzar(s.Int(0)); }},
        {"descreen",
         "Destramar",
         "remove a printed halftone screen",
         {},
         {},
         [](TDib& d, const Step&) { return d.Destramar(); }},
        {"median",
         "SuavitzarMed",
         "median of SIZE x SIZE pixels (odd)",
         {kSize},
         {},
         [](TDib& d, const Step& s) { return d.SuavitzarMed(static_cast<unsigned>(s.Int(0))); }},
        {"average",
         "SuavitzarAvg",
         "average of SIZE x SIZE pixels (odd)",
         {kSize},
         {},
         [](TDib& d, const Step& s) { return d.SuavitzarAvg(static_cast<unsigned>(s.Int(0))); }},
        {"clear",
         "Clear",
         "clear every pixel",
         {},
         {},
         [](TDib& d, const Step&) { return d.Clear(); }},
        {"fill",
         "SetColor",
         "paint every pixel COLOUR",
         {{"COLOUR", Kind::Colour, 0, 0}},
         {},
         [](TDib& d, const Step& s) {
             return d.SetColor(static_cast<unsigned long>(s.v[0]), 255);
         }},
        {"isolate",
         "AillarPla",
         "pixels of colour KEY become COLOUR, every other white",
         {{"KEY", Kind::Colour, 0, 0}, {"COLOUR", Kind::Colour, 0, 0}},
         {},
         [](TDib& d, const Step& s) {
             d.AillarPla(static_cast<unsigned long>(s.v[0]), static_cast<unsigned long>(s.v[1]));
             return DIB_OK;
         }},
        {"mask",
         "ExtreureMascaraColor",
         "1-bit mask, white where a pixel is within TOLERANCE (0 to 1) of COLOUR",
         {{"COLOUR", Kind::Colour, 0, 0}, {"TOLERANCE", Kind::Real, 0, 1}},
         {},
         ApplyMask},
    };
    return table;
}

const Operation* Find(std::string_view name)
{
    for (const Operation& op : Operations())
        if (name == op.name)
            return &op;
    return nullptr;
}

bool ParseInt(const std::string& s, double min, double max, double& out)
{
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || double(v) < min || double(v) > max)
        return false;
    out = double(v);
    return true;
}

bool ParseReal(const std::string& s, double min, double max, double& out)
{
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0])))
        return false;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || v < min || v > max)
        return false;
    out = v;
    return true;
}

// "white", "black", "RRGGBB" or "#RRGGBB" as a Windows colour value (red in the low byte).
bool ParseColour(const std::string& s, double& out)
{
    if (s == "white" || s == "black") {
        out = s == "white" ? double(kWhite) : 0.0;
        return true;
    }
    const std::string hex = !s.empty() && s[0] == '#' ? s.substr(1) : s;
    if (hex.size() != 6)
        return false;
    unsigned long rgb = 0;
    for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        rgb = rgb << 4 | static_cast<unsigned long>(std::stoul(std::string(1, c), nullptr, 16));
    }
    out = double((rgb >> 16) | (rgb & 0xFF00) | (rgb & 0xFF) << 16);
    return true;
}

std::string Usage(const Operation& op)
{
    std::string u = op.name;
    for (const Param& p : op.params)
        u += std::string(" ") + p.name;
    for (const char* w : op.words)
        u += std::string(" [") + w + "]";
    return u;
}

int UsageError(const char* format, const std::string& a, const std::string& b = {})
{
    std::fprintf(stderr, "dibtool op: ");
    std::fprintf(stderr, format, a.c_str(), b.c_str());
    std::fprintf(stderr, "\n(dibtool op --help lists the operations)\n");
    return 2;
}

// One operation's words (name first) into a step; 0, or 2 after a message.
int ParseStep(const std::vector<std::string>& words, Step& step)
{
    step.op = Find(words[0]);
    for (const std::string& w : words)
        step.text += (step.text.empty() ? "" : " ") + w;
    if (!step.op)
        return UsageError("unknown operation '%s'", words[0]);
    const Operation& op = *step.op;
    const std::size_t need = op.params.size();
    if (words.size() - 1 < need)
        return UsageError("'%s' needs its arguments: %s", words[0], Usage(op));
    for (std::size_t k = 0; k < need; ++k) {
        const Param& p = op.params[k];
        const std::string& w = words[k + 1];
        const bool ok = p.kind == Kind::Int    ? ParseInt(w, p.min, p.max, step.v[k])
                        : p.kind == Kind::Real ? ParseReal(w, p.min, p.max, step.v[k])
                                               : ParseColour(w, step.v[k]);
        if (!ok)
            return UsageError("'%s' is not a valid %s", w,
                              std::string(p.name) + " for " + op.name + " (" + Usage(op) + ")");
    }
    for (std::size_t k = need + 1; k < words.size(); ++k) {
        unsigned bit = 0;
        for (std::size_t i = 0; i < op.words.size(); ++i)
            if (words[k] == op.words[i])
                bit = 1u << i;
        if (!bit || (step.words & bit))
            return UsageError("unexpected '%s' after %s", words[k], Usage(op));
        step.words |= bit;
    }
    return 0;
}

// Splits the words after IN and OUT at commas (alone, or within or at either end of a word)
// into steps; 0, or 2 after a message.
int ParseSteps(int argc, char** argv, std::vector<Step>& steps)
{
    std::vector<std::vector<std::string>> groups(1);
    for (int i = 0; i < argc; ++i) {
        const std::string_view w = argv[i];
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = w.find(',', from);
            const std::string_view part = w.substr(from, comma - from);
            if (!part.empty())
                groups.back().emplace_back(part);
            if (comma == std::string_view::npos)
                break;
            if (groups.back().empty())
                return UsageError("an operation is missing before a comma%s", "");
            groups.emplace_back();
            from = comma + 1;
        }
    }
    if (groups.back().empty())
        return UsageError(groups.size() == 1 ? "no operation given%s"
                                             : "an operation is missing after the last comma%s",
                          "");
    for (const auto& g : groups) {
        Step s;
        if (int rc = ParseStep(g, s); rc != 0)
            return rc;
        steps.push_back(std::move(s));
    }
    return 0;
}

std::string_view Extension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

bool Is(std::string_view ext, std::string_view want)
{
    if (ext.size() != want.size())
        return false;
    for (std::size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(ext[i])) != want[i])
            return false;
    return true;
}

// The kernel's format number for a file name's extension (TIFF with LZW), or 0.
int FormatFor(std::string_view path)
{
    const std::string_view e = Extension(path);
    struct {
        const char* ext;
        int format;
    } const formats[] = {{"tif", 17},  {"tiff", 17}, {"bmp", 6}, {"png", 75}, {"jpg", 10},
                         {"jpeg", 10}, {"gif", 2},   {"pcx", 1}, {"tga", 4}};
    for (const auto& f : formats)
        if (Is(e, f.ext))
            return f.format;
    return 0;
}

int Open(TDib& image, const std::wstring& path)
{
    return image.Obrir(path.c_str(), 0, nullptr, 1, nullptr);
}

int Save(const TDib& image, const std::wstring& path, int format)
{
    return image.Salvar(path.c_str(), format, 0, 0, nullptr);
}

bool Writable(std::string_view path)
{
    return FormatFor(path) != 0;
}

const char* Meaning(int status)
{
    switch (status) {
    case DIB_ERR_NO_MEMORY:
        return "out of memory";
    case DIB_ERR_UNSUPPORTED:
        return "unsupported input";
    case DIB_ERR_INVALID:
        return "invalid argument or data";
    case DIB_ERR_FAILED:
        return "failed or cancelled";
    default:
        return status <= DIB_STATUS_KERNEL_BASE ? "refused by the raster kernel" : "failed";
    }
}

int Failure(std::string_view file, const std::string& what, int status)
{
    const char* why = DibGetLastErrorText();
    std::fprintf(stderr, "dibtool op: %.*s: %s: status %d (%s%s%s)\n", int(file.size()),
                 file.data(), what.c_str(), status, Meaning(status), why && *why ? ": " : "",
                 why ? why : "");
    return 1;
}

void PrintHelp()
{
    std::printf("usage: dibtool op [--dry-run] IN OUT OPERATION [ARGS]... [, OPERATION "
                "[ARGS]...]...\n"
                "\n"
                "Reads IN, applies the operations in order and writes OUT. Separate operations\n"
                "with commas: dibtool op in.tif out.tif rotate 90 grow, resize-fit 1024 1024, "
                "grey\n"
                "--dry-run prints the operations as understood and the TDib member each calls.\n"
                "Files: %s.\n"
                "COLOUR: RRGGBB or #RRGGBB in hexadecimal, white or black.\n"
                "\n"
                "operations:\n",
                "any format the library reads; OUT's extension chooses the format (.tif LZW, "
                ".bmp, .png, .jpg, .gif, .pcx, .tga)");
    for (const Operation& op : Operations())
        std::printf("  %s\n      %s (TDib::%s)\n", Usage(op).c_str(), op.help, op.member);
}

} // namespace

int RunOp(int argc, char** argv)
{
    if (argc >= 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        PrintHelp();
        return 0;
    }
    bool dry = false;
    if (argc >= 1 && std::strcmp(argv[0], "--dry-run") == 0) {
        dry = true;
        --argc, ++argv;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: dibtool op [--dry-run] IN OUT OPERATION [ARGS]... [, "
                             "OPERATION [ARGS]...]...\n(dibtool op --help lists the "
                             "operations)\n");
        return 2;
    }
    const std::string_view in = argv[0], out = argv[1];
    std::vector<Step> steps;
    if (int rc = ParseSteps(argc - 2, argv + 2, steps); rc != 0)
        return rc;
    if (!Writable(out))
        return UsageError("cannot write '%s': %s", std::string(out),
                          "unknown extension (.tif .png .jpg .bmp .gif .pcx .tga)");
    if (dry) {
        for (std::size_t i = 0; i < steps.size(); ++i)
            std::printf("%zu. %s -> TDib::%s\n", i + 1, steps[i].text.c_str(), steps[i].op->member);
        return 0;
    }
    const auto inPath = FromUtf8(in), outPath = FromUtf8(out);
    if (!inPath || !outPath) {
        std::fprintf(stderr, "dibtool op: IN and OUT must be UTF-8\n");
        return 2;
    }
    TDib image;
    DibClearLastErrorText();
    if (const int status = Open(image, *inPath); status != DIB_OK)
        return Failure(in, "read", status);
    for (const Step& s : steps) {
        DibClearLastErrorText();
        if (const int status = s.op->apply(image, s); status != DIB_OK)
            return Failure(in, s.text, status);
    }
    DibClearLastErrorText();
    if (const int status = Save(image, *outPath, FormatFor(out)); status != DIB_OK)
        return Failure(out, "write", status);
    std::printf("%.*s: %d x %d pixels, %d bits per pixel, %zu operation%s\n", int(out.size()),
                out.data(), image.GetMidaX(), image.GetMidaY(), image.GetBitsPerPixel(),
                steps.size(), steps.size() == 1 ? "" : "s");
    return 0;
}
