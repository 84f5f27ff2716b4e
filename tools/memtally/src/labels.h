// The texts of the window's rows: kernel symbols, task names, files and
// devices.
#ifndef TOOLS_MEMTALLY_LABELS_H
#define TOOLS_MEMTALLY_LABELS_H

#include <cstdint>
#include <string>

#include "owners.h"

namespace memtally {

constexpr int kWindowRows = 20;
constexpr size_t kTextBytes = 80;

struct RowText {
    unsigned long best = 0; // address of the symbol taken
    char symbol[kTextBytes] = "";
    char module[kTextBytes] = "";
};

// Where the tool looks; tests and benchmarks point it elsewhere.
struct Sources {
    std::string mem_tally = "/proc/mem_tally";
    std::string kallsyms = "/proc/kallsyms";
    std::string proc = "/proc";
    std::string dev_dir = "/dev";
    std::string dev_list = "/tmp/memtally_dev.txt";
    std::string find_root = "/";
    std::string inum_list = "/tmp/memtally_inum.txt";
};

// The window: entries [offset, offset + 20) of the sorted table.
struct Window {
    const OwnerTable *table;
    int offset;
    RowText *rows; // kWindowRows of them
};

// Clears the rows and takes, for each row, the symbol with the highest
// address not above its key.
void find_symbols(const Sources &src, const Window &w);
// Thread and process names of task rows ("(thread)(process)" in thread
// mode, else the thread's alone).
void find_names(const Sources &src, const Window &w, int thread_mode);
// File-cache and device-buffer rows, by file mode.
void find_files(const Sources &src, const Window &w, int file_mode);
// One line of `ls -l` naming a block device: its major, minor and name.
bool parse_block_device_line(char *line, unsigned long *major, unsigned long *minor, const char **name);
// The thread group id of a thread (tid itself when its status is unreadable).
uint32_t thread_group(const Sources &src, uint32_t tid);

} // namespace memtally

#endif
