// verbs.h - the subcommands of dibtool. Each takes the arguments after its name and returns the
// process exit status: 0 done, 1 the work failed, 2 the command line was wrong.
#pragma once

#include <cstdio>
#include <dib/Formats.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct Verb {
    const char* name;
    const char* usage; // the arguments, for the usage text
    int (*run)(int argc, char** argv);
};

int RunCode(int argc, char** argv);
int RunOp(int argc, char** argv);
int RunPrint(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunTiffInfo(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunConvert(int argc, char** argv);
int RunPreview(int argc, char** argv);
int RunIcc(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunFormats(int argc, char** argv);

// The library's format table (DibGetFormats), ascending by number.
std::vector<DibFormat> KnownFormats();

// Command-line arguments are UTF-8; anything that is not well-formed is refused rather than
// guessed at.
std::optional<std::wstring> FromUtf8(std::string_view s);
