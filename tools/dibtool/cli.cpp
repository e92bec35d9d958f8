// cli.cpp - the verbs' shared command-line parser, failure lines, text conversions, and the
// progress bar with its Ctrl-C flag.
#include "cli.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dib/Status.h>
#include <unistd.h>

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int)
{
    g_interrupted = 1;
}

struct Alias {
    const char* name;
    int format;
};
constexpr Alias kAliases[] = {{"tif", kTiffAuto}, {"tiff", kTiffAuto}, {"png", 75},
                              {"jpg", 10},        {"jpeg", 10},        {"bmp", 6},
                              {"pcx", 1},         {"gif", 2},          {"tga", 4}};

// Lower case, '-' and '_' as spaces: "TIFF-CMYK_lzw" -> "tiff cmyk lzw".
std::string Folded(std::string_view s)
{
    std::string out;
    for (char c : s)
        out.push_back(c == '-' || c == '_' ? ' '
                                           : char(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

int AliasOf(const std::string& folded)
{
    for (const Alias& a : kAliases)
        if (folded == a.name)
            return a.format;
    return -1;
}

std::string Extension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return std::string(path.substr(dot + 1));
}

} // namespace

int ChooseFormat(const Args& args, const std::string& out, const std::vector<DibFormat>& known)
{
    int format = -1;
    if (args.Has("--format")) {
        const std::string word = args.Value("--format"), folded = Folded(word);
        long long number = 0;
        if (ParseInt(word, 1, 1 << 30, number))
            format = int(number);
        else if ((format = AliasOf(folded)) < 0)
            for (const DibFormat& f : known)
                if (format < 0 && folded == Folded(f.name))
                    format = f.format;
        if (format < 0) {
            args.UsageError("unknown format '" + word + "' (dibtool formats lists them)");
            return -1;
        }
    } else {
        const std::string ext = Extension(out);
        format = ext.empty() ? -1 : AliasOf(Folded(ext));
        if (format < 0) {
            args.UsageError("cannot tell the format from '" + out +
                            "': give --format, or end OUT in .tif .png .jpg .bmp .pcx .gif .tga");
            return -1;
        }
    }
    if (format == kTiffAuto)
        return format;
    for (const DibFormat& f : known)
        if (f.format == format && f.writes)
            return format;
    args.UsageError("format " + std::to_string(format) +
                    " is not written by the library (dibtool formats lists them)");
    return -1;
}

int Args::Parse(int argc, char** argv, const std::vector<OptionDef>& options, std::size_t minFiles,
                std::size_t maxFiles)
{
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            files_.emplace_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            std::printf("usage: dibtool %s %s\n", verb_, usage_);
            return kExitOk;
        }
        const std::size_t eq = a.find('=');
        const std::string name(a.substr(0, eq));
        const OptionDef* known = nullptr;
        for (const OptionDef& o : options)
            if (name == o.name)
                known = &o;
        if (!known)
            return UsageError("unknown option '" + name + "'");
        if (values_.count(name))
            return UsageError("'" + name + "' given twice");
        std::string value;
        if (known->takesValue) {
            if (eq != std::string_view::npos)
                value = a.substr(eq + 1);
            else if (i + 1 < argc)
                value = argv[++i];
            else
                return UsageError("'" + name + "' needs a value");
        } else if (eq != std::string_view::npos) {
            return UsageError("'" + name + "' takes no value");
        }
        values_[name] = value;
    }
    if (files_.size() < minFiles)
        return UsageError(files_.empty() ? "no file given" : "too few files given");
    if (files_.size() > maxFiles)
        return UsageError("unexpected '" + files_[maxFiles] + "'");
    return -1;
}

std::string Args::Value(std::string_view option, std::string fallback) const
{
    const auto it = values_.find(std::string(option));
    return it == values_.end() ? fallback : it->second;
}

int Args::UsageError(const std::string& message) const
{
    std::fprintf(stderr, "dibtool %s: %s\nusage: dibtool %s %s\n", verb_, message.c_str(), verb_,
                 usage_);
    return kExitUsage;
}

bool ParseInt(const std::string& text, long long min, long long max, long long& out)
{
    if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < min || v > max)
        return false;
    out = v;
    return true;
}

int Failure(const char* verb, std::string_view file, std::string_view operation, int status)
{
    const char* why = DibGetLastErrorText();
    const bool interrupted = Interrupted();
    std::fprintf(stderr, "dibtool %s: %.*s: %.*s: status %d (%s)%s%s%s\n", verb, int(file.size()),
                 file.data(), int(operation.size()), operation.data(), status,
                 DibStatusText(status), why && *why ? ": " : "", why ? why : "",
                 interrupted ? ": interrupted" : "");
    return interrupted ? kExitInterrupted : kExitFailed;
}

bool Wide(std::string_view s, std::wstring& out)
{
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80                 ? 0
                          : b >= 0xC2 && b <= 0xDF ? 1
                          : b >= 0xE0 && b <= 0xEF ? 2
                          : b >= 0xF0 && b <= 0xF4 ? 3
                                                   : -1;
        if (extra < 0 || s.size() - i <= std::size_t(extra))
            return false;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + std::size_t(k)]);
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

std::string Utf8(std::wstring_view w)
{
    std::string out;
    for (wchar_t wc : w) {
        auto c = static_cast<char32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string JsonString(std::string_view s)
{
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.push_back(ch);
            }
        }
    }
    return out + "\"";
}

void InstallInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C is not caught
    sigaction(SIGINT, &action, nullptr);
}

bool Interrupted()
{
    return g_interrupted != 0;
}

int Progress::Cancelat() const
{
    return Interrupted() || TIndicadorEstat::Cancelat() ? 1 : 0;
}

void Progress::MostrarPosicio(double pos)
{
    if (!shown_)
        return;
    // The whole range is 0 .. 1: nothing here sets another.
    const int percent = pos <= 0 ? 0 : pos >= 1 ? 100 : int(pos * 100.0);
    if (percent == percent_)
        return;
    percent_ = percent;
    constexpr int kWidth = 30;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i)
        bar[i] = i < percent * kWidth / 100 ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::Finish()
{
    if (drawn_)
        std::fprintf(stderr, "\r%*s\r", 40, "");
    drawn_ = false;
    percent_ = -1;
}

bool ShowProgress(const Args& args)
{
    return !args.Has("--quiet") && isatty(STDERR_FILENO) == 1;
}

} // namespace cli
