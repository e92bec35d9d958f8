// formats.cpp - `dibtool formats [--json]`: the format numbers the library knows, their names,
// and whether it reads and writes each (the library's own table, DibGetFormats).
#include "cli.h"
#include "verbs.h"

#include <cstdio>
#include <dib/Formats.h>
#include <vector>

std::vector<DibFormat> KnownFormats()
{
    std::vector<DibFormat> all(std::size_t(DibGetFormats(nullptr, 0)));
    all.resize(std::size_t(DibGetFormats(all.data(), int(all.size()))));
    return all;
}

int RunFormats(int argc, char** argv)
{
    cli::Args args("formats", "[--json]");
    if (const int rc = args.Parse(argc, argv, {{"--json", false}}, 0, 0); rc >= 0)
        return rc;
    const std::vector<DibFormat> all = KnownFormats();
    if (args.Has("--json")) {
        std::printf("[\n");
        for (std::size_t i = 0; i < all.size(); ++i)
            std::printf("  {\"format\": %d, \"name\": %s, \"reads\": %s, \"writes\": %s}%s\n",
                        all[i].format, cli::JsonString(all[i].name).c_str(),
                        all[i].reads ? "true" : "false", all[i].writes ? "true" : "false",
                        i + 1 < all.size() ? "," : "");
        std::printf("]\n");
        return cli::kExitOk;
    }
    std::printf("%6s  %-20s %-5s %s\n", "number", "name", "read", "write");
    for (const DibFormat& f : all)
        std::printf("%6d  %-20s %-5s %s\n", f.format, f.name, f.reads ? "yes" : "no",
                    f.writes ? "yes" : "no");
    return cli::kExitOk;
}
