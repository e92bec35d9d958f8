// verbs.h - the subcommands of dibtool. Each takes the arguments after its name and returns the
// process exit status: 0 done, 1 the work failed, 2 the command line was wrong.
#pragma once

#include <cstdio>

struct Verb {
    const char* name;
    const char* usage; // the arguments, for the usage text
    int (*run)(int argc, char** argv);
};

int RunCode(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunTiffInfo(int argc, char** argv);
