// dibtool - command-line access to libdib.
//
// Each verb lives in its own file and registers itself in the table below. The tool only
// uses the library's public interface.
#include <dib/Version.h>

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

void printUsage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: dibtool <command> [arguments]\n"
                 "\n"
                 "commands:\n"
                 "  --version    print the library's version\n"
                 "  --help       print this text\n");
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
    std::fprintf(stderr, "dibtool: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return 2;
}
