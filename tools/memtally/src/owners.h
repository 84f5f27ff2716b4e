// The owner table: pages and runs of every distinct owner word inside the
// range, merged and sorted as the display wants them.
#ifndef TOOLS_MEMTALLY_OWNERS_H
#define TOOLS_MEMTALLY_OWNERS_H

#include <cstdint>
#include <string>

namespace memtally {

constexpr int kMaxOwners = 1024;
constexpr uint64_t kPageBytes = 4096;

// Owner words.
constexpr uint32_t kFreePage = 0;
constexpr uint32_t kNonBuddyPage = 0xFFFFFFFF;
constexpr uint32_t kKernelAddressBase = 0xBF000000; // below: process and thread ids
constexpr uint32_t kFileCacheClass = 0xFF000000;
constexpr uint32_t kDeviceBufferClass = 0xFE000000;
inline uint32_t top_byte(uint32_t key) { return key >> 24; }
inline bool is_task(uint32_t key) { return key < kKernelAddressBase; }

struct Owner {
    uint32_t key = 0;
    uint32_t pages = 0;
    uint32_t frag = 0; // runs of consecutive in-range pages
};

struct OwnerTable {
    Owner entries[kMaxOwners];
    int count = 0;
    // Index of each key's entry (open addressing; -1 free), so that a
    // scan of a million pages does not search the table for each.
    int16_t slots[4 * kMaxOwners];
};

// Scans the page file: empties the table and counts the pages whose byte
// offset lies in [start, end). Returns 0, or -1 (table untouched) when the
// file cannot be opened.
int scan_owners(const std::string &path, uint32_t start, uint32_t end, OwnerTable *table);

// Whole 4-byte words in the page file; 0 when it cannot be opened.
long count_pages(const std::string &path);

// The thread group of a thread id (the id itself when unknown).
using GroupOf = uint32_t (*)(uint32_t tid, const void *context);
// Every task key becomes its thread group's id; entries of one group are
// then merged into the first.
void merge_threads(OwnerTable *table, GroupOf group_of, const void *context);
// All file-cache entries become one entry keyed 0xFF000000, then all
// device-buffer entries one keyed 0xFE000000, each where its first was.
void merge_file_classes(OwnerTable *table);
// Largest first; entries with equal pages are never exchanged.
void sort_owners(OwnerTable *table);

} // namespace memtally

#endif
