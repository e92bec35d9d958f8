// icc.cpp - `dibtool icc IN OUT.icc`: the ICC profile embedded in IN (JPEG, TIFF, PNG or
// Photoshop) written to OUT.icc as it is. A file without a profile is a failure (exit 1).
#include "cli.h"
#include "verbs.h"

#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Writes bytes to path through a sibling name renamed into place once complete.
bool WriteWhole(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const std::string part = path + ".part" + std::to_string(getpid());
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        return false;
    }
    return true;
}

} // namespace

int RunIcc(int argc, char** argv)
{
    cli::Args args("icc", "IN OUT.icc");
    if (const int rc = args.Parse(argc, argv, {}, 2, 2); rc >= 0)
        return rc;
    const std::string &in = args.Files()[0], &out = args.Files()[1];
    std::wstring path;
    if (!cli::Wide(in, path))
        return args.UsageError("IN must be UTF-8");

    DibClearLastErrorText();
    CFILEINFO info;
    if (const int status = TDib::GetInfoFitxer(path.c_str(), 0, &info); status < 0)
        return cli::Failure("icc", in, "describe", status);
    const unsigned long size = TDib::GetEmbededICC(path.c_str(), nullptr, &info);
    if (size == 0) {
        std::fprintf(stderr, "dibtool icc: %s: no embedded ICC profile\n", in.c_str());
        return cli::kExitFailed;
    }
    std::vector<unsigned char> profile;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "dibtool icc: %s: no memory for a profile of %lu bytes\n", in.c_str(),
                     size);
        return cli::kExitFailed;
    }
    // The same file asked twice: a file changed in between is not trusted.
    if (TDib::GetEmbededICC(path.c_str(), profile.data(), &info) != size) {
        std::fprintf(stderr, "dibtool icc: %s: the profile changed while it was read\n",
                     in.c_str());
        return cli::kExitFailed;
    }
    if (!WriteWhole(out, profile)) {
        std::perror(("dibtool icc: " + out).c_str());
        return cli::kExitFailed;
    }
    std::printf("%s: %lu bytes\n", out.c_str(), size);
    return cli::kExitOk;
}
