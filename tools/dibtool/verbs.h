// verbs.h - the subcommands of dibtool. Each takes the arguments after its name and returns the
// process exit status: 0 done, 1 the work failed, 2 the command line was wrong.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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

// Command-line arguments are UTF-8; anything that is not well-formed is refused rather than
// guessed at.
std::optional<std::wstring> FromUtf8(std::string_view s);
