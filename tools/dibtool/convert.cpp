// convert.cpp - `dibtool convert IN OUT [--format NAME|NUMBER] [--bpp N] [--quality Q]
// [--quiet]`: opens IN (rows top-down) and saves it as OUT.
//
// The format number comes from --format or from OUT's extension: .tif/.tiff TIFF with LZW
// (CMYK with LZW for a CMYK image), .png, .jpg/.jpeg, .bmp, .pcx, .gif, .tga. TIFF keeps CMYK
// and spot channels; every other format receives the colours a screen shows, as the previews
// show them (TDib::AdaptarPerMostrar). Salvar puts OUT in place only once it is complete, so a
// failure or Ctrl-C leaves no partial file (and an older OUT untouched). With --stream, grey
// 8-bit and bilevel TIFF images go line by line into a BMP without being held
// (convert_stream.cpp).
#include "cli.h"
#include "convert_stream.h"
#include "verbs.h"

#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/Formats.h>
#include <dib/TDib.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "IN OUT [--format NAME|NUMBER] [--bpp N] [--quality Q] [--quiet] | IN OUT.bmp --stream";
constexpr int kTiffCmykLzw = 86;

const DibFormat* Find(const std::vector<DibFormat>& known, int format)
{
    for (const DibFormat& f : known)
        if (f.format == format)
            return &f;
    return nullptr;
}

} // namespace

int RunConvert(int argc, char** argv)
{
    cli::Args args("convert", kUsage);
    if (const int rc = args.Parse(argc, argv,
                                  {{"--format", true},
                                   {"--bpp", true},
                                   {"--quality", true},
                                   {"--quiet", false},
                                   {"--stream", false}},
                                  2, 2);
        rc >= 0)
        return rc;
    const std::string &in = args.Files()[0], &out = args.Files()[1];
    if (args.Has("--stream"))
        return ConvertStreamed(args, in, out);
    std::wstring inPath, outPath;
    if (!cli::Wide(in, inPath) || !cli::Wide(out, outPath))
        return args.UsageError("IN and OUT must be UTF-8");

    const std::vector<DibFormat> known = KnownFormats();
    int format = cli::ChooseFormat(args, out, known);
    if (format < 0)
        return cli::kExitUsage;
    long long bpp = 0, quality = 0;
    if (args.Has("--bpp") && !cli::ParseInt(args.Value("--bpp"), 1, 64, bpp))
        return args.UsageError("--bpp takes a depth from 1 to 64");
    if (args.Has("--quality") && !cli::ParseInt(args.Value("--quality"), 0, 255, quality))
        return args.UsageError("--quality takes a number from 0 to 255");

    cli::InstallInterruptHandler();
    cli::Progress progress(cli::ShowProgress(args));
    auto fail = [&](const std::string& file, const char* operation, int status) {
        progress.Finish();
        return cli::Failure("convert", file, operation, status);
    };
    DibClearLastErrorText();
    CFILEINFO info;
    if (const int status = TDib::GetInfoFitxer(inPath.c_str(), 0, &info); status < 0)
        return fail(in, "describe", status);
    if (format == 0)
        format = info.ColorSpace == DIB_CS_CMYK ? kTiffCmykLzw : cli::kTiffLzw;

    // The bar's first half is the reading, its second the writing.
    TDib image;
    {
        CSetSubRangIE half(&progress, 0, 2);
        if (const int status = image.Obrir(inPath.c_str(), 0, &progress, 1, &info);
            status != DIB_OK)
            return fail(in, "read", status);
    }
    if (Find(known, format)->keepsInks) {
        // Salvar's TIFF route writes the image's own depth: change it here when asked.
        if (bpp != 0) {
            if (const int status = image.CanviaBPP(int(bpp), 0x2, 0, nullptr); status < 0)
                return fail(in, "change the depth", status);
        }
    } else if (const int status = image.AdaptarPerMostrar(info.Format); status != DIB_OK) {
        return fail(in, "make display colours", status);
    }
    if (cli::Interrupted()) {
        progress.Finish();
        std::fprintf(stderr, "dibtool convert: interrupted; %s not written\n", out.c_str());
        return cli::kExitInterrupted;
    }
    {
        CSetSubRangIE half(&progress, 1, 2);
        if (const int status =
                image.Salvar(outPath.c_str(), format, int(bpp), int(quality), &progress);
            status != DIB_OK)
            return fail(out, "write", status);
    }
    progress.Finish();
    const DibFormat* f = Find(known, format);
    std::printf("%s: %d x %d pixels, %d bits per pixel, format %d (%s)\n", out.c_str(),
                image.GetMidaX(), image.GetMidaY(), image.GetBitsPerPixel(), format,
                f ? f->name : "?");
    return cli::kExitOk;
}
