// -h, --help and --version of every console tool. They are looked at in the
// first argument only, before a tool's own parsing, so that neither is taken
// for a file name, a command or an argument the tool passes on.
#ifndef COMMON_HELP_OPTION_H
#define COMMON_HELP_OPTION_H

#include "common/version.h"

#include <cstdio>
#include <cstring>

inline bool asks_version(int argc, const char *const *argv)
{
    return argc > 1 && std::strcmp(argv[1], "--version") == 0;
}

inline bool asks_help(int argc, const char *const *argv)
{
    return argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
}

// Prints the version or the usage (to standard output) when the first
// argument asks for it; true means the tool ends with status 0.
inline bool answered_help_or_version(int argc, const char *const *argv, const char *program, const char *usage)
{
    if (asks_version(argc, argv))
        return print_version(program) == 0;
    if (!asks_help(argc, argv))
        return false;
    std::fputs(usage, stdout);
    return true;
}

#endif
