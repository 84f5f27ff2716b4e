// Command line of memtally: the settings it starts with and the usage text.
#ifndef TOOLS_MEMTALLY_SETTINGS_H
#define TOOLS_MEMTALLY_SETTINGS_H

#include <cstdint>

namespace memtally {

struct Settings {
    uint32_t range_start = 0;        // first byte offset counted
    uint32_t range_end = 0xFFFFFFFF; // first byte offset no longer counted
    int thread_mode = 1;             // 1: a row per thread; 0: threads merged into their process
    int file_mode = 0;               // 0: no detail; 1: names looked up; 2: raw numbers
    bool dump = false;
    int dump_count = 0;
    int dump_start = 0;        // first row of a dump
    int dump_end = 0x7FFFFFFF; // last row at which a dump page may start
    bool help = false;
};

// Reads the arguments (argv[1..argc-1]); unknown ones are ignored.
Settings parse_arguments(int argc, const char *const *argv);

extern const char *const kUsageText;

} // namespace memtally

#endif
