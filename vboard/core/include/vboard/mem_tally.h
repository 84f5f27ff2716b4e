// The kernel's page-owner table ("/proc/mem_tally": one little-endian 32-bit
// owner word per 4 KiB page) and the "/proc/kallsyms" that goes with it:
// board-file settings and a generator that builds both from a seed and
// from what lives on the board.
#ifndef VBOARD_MEM_TALLY_H
#define VBOARD_MEM_TALLY_H

#include <cstdint>
#include <string>
#include <vector>

namespace vboard {

constexpr uint64_t kMemTallyPageSize = 4096;
constexpr uint64_t kMemTallyMaxPages = 1ull << 20; // 4 GiB: all a 32-bit board can address

// Owner words of the table.
constexpr uint32_t kOwnerFree = 0;
constexpr uint32_t kOwnerNonBuddy = 0xFFFFFFFF;
constexpr uint32_t kOwnerKernelBase = 0xBF000000; // below: process and thread ids
constexpr uint32_t kOwnerDeviceBuffer = 0xFE000000;
constexpr uint32_t kOwnerFileCache = 0xFF000000;

struct MemTallyConfig {
    uint64_t pages = 128 * 1024; // 512 MiB of memory
    uint64_t seed = 1;
    std::string file;          // a given table instead of the generated one
    std::string kallsyms_file; // a given symbol list instead of the generated one
};

// Handles the board-file keys "mem_tally.size", "mem_tally.seed",
// "mem_tally.file" and "kallsyms.file". Returns 1 when the key was one of
// them and its value good, 0 when the key is another one, -1 with *why.
int parse_mem_tally_key(const std::string &key, const std::string &value, MemTallyConfig *config, std::string *why);

// "page-owner table: generated, 131072 pages (512 MiB), seed 1; kallsyms: generated"
std::string mem_tally_summary(const MemTallyConfig &config);

// What the board holds that owner words can name.
struct BoardView {
    std::vector<uint32_t> threads;      // live thread ids
    std::vector<uint32_t> file_words;   // 0xFF000000 | major << 16 | minor << 10 | inode bits
    std::vector<uint32_t> device_words; // 0xFE000000 | major << 16 | minor << 10
};

// The owner word of a file (of a block device when device is set), or 0
// when its numbers do not fit the word's fields (major < 256, minor < 64,
// and for a file an inode below 1024, so that a search by the inode bits
// finds it).
uint32_t file_owner_word(unsigned major, unsigned minor, uint64_t inode);
uint32_t device_owner_word(unsigned major, unsigned minor);

// The generated kernel symbols: the "/proc/kallsyms" text (kernel text and
// data, then modules below 0xC0000000 with a module column) and the
// addresses inside allocating functions that the table's kernel words use.
struct KernelSymbols {
    std::string text;
    std::vector<uint32_t> call_sites;
};
KernelSymbols generate_kallsyms(uint64_t seed);

// The table: pages owner words, little-endian. Reserved areas are
// non-buddy pages; the rest is runs of free pages and pages of kernel call
// sites, threads, files and block devices of view (a kind the view lacks
// gives free pages instead).
std::string generate_mem_tally(const MemTallyConfig &config, const BoardView &view, const KernelSymbols &symbols);

} // namespace vboard

#endif
