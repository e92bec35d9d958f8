// preview.cpp - `dibtool preview IN OUT (--box WxH [--background RRGGBB] | --kb
// N) [--quiet]`: a small image of IN, streamed line by line so IN's pixels are
// never held, saved as OUT (format as for convert). --box fits IN in W x H on
// the background colour (white unless given); --kb makes a preview whose pixels
// take about N kibibytes.
#include "cli.h"
#include "verbs.h"

#include <cctype>
#include <cstdio>
#include <dib/TDib.h>
#include <memory>
#include <string>

namespace {

constexpr const char* kUsage = "IN OUT (--box WxH [--background RRGGBB] | --kb N) [--quiet]";

// "640x480" into its two sides (1 to 65535 each).
bool ParseBox(const std::string& text, long long& width, long long& height)
{
    const std::size_t x = text.find_first_of("xX");
    return x != std::string::npos && cli::ParseInt(text.substr(0, x), 1, 65535, width) &&
           cli::ParseInt(text.substr(x + 1), 1, 65535, height);
}

// "RRGGBB", "#RRGGBB", "white" or "black" as a Windows colour value (red in the
// low byte).
bool ParseColour(const std::string& text, unsigned long& colour)
{
    if (text == "white" || text == "black") {
        colour = text == "white" ? 0xFFFFFFul : 0ul;
        return true;
    }
    const std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (hex.size() != 6)
        return false;
    unsigned long rgb = 0;
    for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int digit =
            c <= '9' ? c - '0' : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        rgb = rgb << 4 | unsigned(digit);
    }
    colour = (rgb >> 16) | (rgb & 0xFF00ul) | (rgb & 0xFFul) << 16;
    return true;
}

} // namespace

int RunPreview(int argc, char** argv)
{
    cli::Args args("preview", kUsage);
    if (const int rc = args.Parse(
            argc, argv,
            {{"--box", true}, {"--background", true}, {"--kb", true}, {"--quiet", false}}, 2, 2);
        rc >= 0)
        return rc;
    const std::string &in = args.Files()[0], &out = args.Files()[1];
    std::wstring inPath, outPath;
    if (!cli::Wide(in, inPath) || !cli::Wide(out, outPath))
        return args.UsageError("IN and OUT must be UTF-8");
    const bool boxed = args.Has("--box");
    if (boxed == args.Has("--kb"))
        return args.UsageError("give either --box WxH or --kb N");
    long long width = 0, height = 0, kb = 0;
    unsigned long background = 0xFFFFFFul;
    if (boxed) {
        if (!ParseBox(args.Value("--box"), width, height))
            return args.UsageError("--box takes WIDTHxHEIGHT, each 1 to 65535");
        if (args.Has("--background") && !ParseColour(args.Value("--background"), background))
            return args.UsageError("--background takes RRGGBB in hexadecimal, white or black");
    } else {
        if (args.Has("--background"))
            return args.UsageError("--background goes with --box");
        if (!cli::ParseInt(args.Value("--kb"), 1, 1 << 20, kb))
            return args.UsageError("--kb takes a size from 1 to 1048576 kibibytes");
    }
    int format = cli::ChooseFormat(args, out, KnownFormats());
    if (format < 0)
        return cli::kExitUsage;
    if (format == cli::kTiffAuto)
        format = cli::kTiffLzw; // previews hold display colours

    cli::InstallInterruptHandler();
    cli::Progress progress(cli::ShowProgress(args));
    DibClearLastErrorText();
    TDib* made = nullptr;
    const int status = boxed ? TDib::GetPreview(inPath.c_str(), int(width), int(height), background,
                                                made, &progress)
                             : TDib::GetPreview(inPath.c_str(), int(kb), made, &progress);
    std::unique_ptr<TDib> preview(made);
    if (status != DIB_OK || !preview) {
        progress.Finish();
        return cli::Failure("preview", in, "preview", status != DIB_OK ? status : DIB_ERR_FAILED);
    }
    if (cli::Interrupted()) {
        progress.Finish();
        std::fprintf(stderr, "dibtool preview: interrupted; %s not written\n", out.c_str());
        return cli::kExitInterrupted;
    }
    if (const int saved = preview->Salvar(outPath.c_str(), format); saved != DIB_OK) {
        progress.Finish();
        return cli::Failure("preview", out, "write", saved);
    }
    progress.Finish();
    std::printf("%s: %d x %d pixels, %d bits per pixel\n", out.c_str(), preview->GetMidaX(),
                preview->GetMidaY(), preview->GetBitsPerPixel());
    return cli::kExitOk;
}
