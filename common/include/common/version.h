// --version of every console tool. BOARD_VERSION is set once, from the
// project's version in the top CMakeLists (board_program_version()).
#ifndef COMMON_VERSION_H
#define COMMON_VERSION_H

#include <cstdio>

#ifndef BOARD_VERSION
#error "BOARD_VERSION is defined by board_program_version() in CMake"
#endif

inline int print_version(const char *program)
{
    std::printf("%s %s\n", program, BOARD_VERSION);
    return 0;
}

#endif
