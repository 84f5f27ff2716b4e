// The device journal: one text line per device operation, appended to a
// file of the state directory by every process of the board.
#ifndef VBOARD_JOURNAL_H
#define VBOARD_JOURNAL_H

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

namespace vboard {

struct Journal {
    std::mutex lock;
    std::string path;
    int fd = -1;
    pid_t owner = 0; // process that opened fd (a forked child reopens)
    // The last counted line this process wrote, so that the next count of the
    // same key can be merged into it while nobody has written after it.
    std::string last_key;
    long long last_count = 0;
    off_t last_offset = -1;
    off_t last_end = -1;
};

// Binds the journal to a state directory (opened on first use).
void journal_bind(Journal *journal, const std::string &dir);

// Appends one line (without its newline).
void journal_line(Journal *journal, const std::string &line);

// Appends "<key> <unit> <n>", or raises the count of the journal's last line
// when it is this process's line of the same key. E.g. key "program mtd0
// block 12", unit "pages": "program mtd0 block 12 pages 64".
void journal_count(Journal *journal, const std::string &key, const char *unit, long long n);

// Lines of a journal file (empty when there is none).
std::vector<std::string> read_journal(const std::string &dir);

// printf into a std::string.
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace vboard

#endif
