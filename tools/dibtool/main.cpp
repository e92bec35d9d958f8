// dibtool - command-line access to libdib.
//
// Each verb lives in its own file and registers itself in the table below. The tool only
// uses the library's public interface.
#include "verbs.h"

#include <cstdio>
#include <cstring>
#include <dib/Version.h>
#include <string_view>

namespace {

constexpr Verb kVerbs[] = {
    {"info", "FILE [--json] [--engine]   the file's description, without decoding it", RunInfo},
    {"convert",
     "IN OUT [--format NAME|NUMBER] [--bpp N] [--quality Q] [--quiet] | IN OUT.bmp --stream   "
     "open and save in another format",
     RunConvert},
    {"preview",
     "IN OUT (--box WxH [--background RRGGBB] | --kb N) [--quiet]   a small image of a file",
     RunPreview},
    {"icc", "IN OUT.icc   the embedded ICC profile", RunIcc},
    {"decode", "IN [--stream] [--quiet]   size and pixel checksum, in memory or line by line",
     RunDecode},
    {"formats", "[--json]   format numbers, names, read and write", RunFormats},
    {"code", "qr|code128 TEXT OUT.bmp [--scale N]   a QR code or Code 128 barcode as a 1-bit BMP",
     RunCode},
    {"op", "IN OUT OPERATION [ARGS]... [, OPERATION [ARGS]...]...   apply image operations", RunOp},
    {"print",
     "IN OUT.pdf | IN --printer NAME  [--fit | --size WxH]   print on an A4 page, to a PDF or "
     "to CUPS",
     RunPrint},
    {"render", "IN OUT.png --box WxH [--quality fast|high]   draw as a window would, into a PNG",
     RunRender},
    {"scan",
     "--list | [--device NAME] [--resolution DPI] [--mode grey|colour|lineart] "
     "OUT.bmp | ... --to-tiff OUT.tif   scan one page",
     RunScan},
    {"tiff",
     "FILE [--json]   header values, inks, separations, date and software, repeat and ICC "
     "length of a TIFF",
     RunTiffInfo},
    {"tiff-info", "FILE [--json]   the same as tiff", RunTiffInfo},
};

void printUsage(std::FILE* out)
{
    std::fprintf(out, "usage: dibtool <command> [arguments]\n"
                      "\n"
                      "commands:\n");
    for (const Verb& v : kVerbs)
        std::fprintf(out, "  %-10s %s\n", v.name, v.usage);
    std::fprintf(out, "  --version  print the library's version\n"
                      "  --help     print this text\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    const std::string_view verb = argv[1];
    if (verb == "--version" || verb == "version") {
        std::printf("dibtool %s\n", dib_version());
        return 0;
    }
    if (verb == "--help" || verb == "-h" || verb == "help") {
        printUsage(stdout);
        return 0;
    }
    for (const Verb& v : kVerbs) {
        if (verb == v.name)
            return v.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "dibtool: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return 2;
}
