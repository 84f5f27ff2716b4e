#include "owners.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace memtally {

namespace {

constexpr int kSlotCount = 4 * kMaxOwners;
constexpr uint32_t kBeforeFirstPage = 0xFFFFFFFE;
constexpr size_t kWordsPerRead = 16384;

int slot_of(const OwnerTable &t, uint32_t key)
{
    int slot = static_cast<int>((key * 0x9E3779B1u) >> 20) & (kSlotCount - 1);
    while (t.slots[slot] >= 0 && t.entries[t.slots[slot]].key != key) {
        slot = (slot + 1) & (kSlotCount - 1);
    }
    return slot;
}

void clear(OwnerTable *t)
{
    t->count = 0;
    std::memset(t->slots, 0xFF, sizeof t->slots);
}

void add_page(OwnerTable *t, uint32_t key, uint32_t run_increment)
{
    int slot = slot_of(*t, key);
    int index = t->slots[slot];
    if (index < 0) {
        if (t->count == kMaxOwners) {
            return;
        }
        index = t->count++;
        t->slots[slot] = static_cast<int16_t>(index);
        t->entries[index] = Owner{key, 0, 0};
    }
    t->entries[index].pages += 1;
    t->entries[index].frag += run_increment;
}

uint32_t le32(const unsigned char *b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

// Merges every later entry for which same(first, later) holds into the
// first; the survivors keep their order.
template <typename Same> void merge_into_first(OwnerTable *t, int first, Same same)
{
    int kept = first + 1;
    for (int j = first + 1; j < t->count; ++j) {
        if (same(t->entries[first].key, t->entries[j].key)) {
            t->entries[first].pages += t->entries[j].pages;
            t->entries[first].frag += t->entries[j].frag;
        } else {
            t->entries[kept++] = t->entries[j];
        }
    }
    t->count = kept;
}

void merge_class(OwnerTable *t, uint32_t class_word)
{
    for (int i = 0; i < t->count; ++i) {
        if (top_byte(t->entries[i].key) == top_byte(class_word) && t->entries[i].key != kNonBuddyPage) {
            auto same_class = [](uint32_t a, uint32_t b) { return top_byte(a) == top_byte(b) && b != kNonBuddyPage; };
            merge_into_first(t, i, same_class);
            t->entries[i].key = class_word;
            return;
        }
    }
}

} // namespace

int scan_owners(const std::string &path, uint32_t start, uint32_t end, OwnerTable *table)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return -1;
    }
    clear(table);
    std::vector<unsigned char> buffer(kWordsPerRead * 4);
    uint32_t previous = kBeforeFirstPage;
    uint64_t offset = 0;
    size_t words;
    while ((words = std::fread(buffer.data(), 4, kWordsPerRead, f)) > 0) {
        for (size_t i = 0; i < words; ++i, offset += kPageBytes) {
            if (offset < start || offset >= end) {
                continue;
            }
            uint32_t key = le32(buffer.data() + 4 * i);
            add_page(table, key, key != previous);
            previous = key;
        }
    }
    std::fclose(f);
    return 0;
}

long count_pages(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return 0;
    }
    std::vector<unsigned char> buffer(kWordsPerRead * 4);
    long pages = 0;
    size_t words;
    while ((words = std::fread(buffer.data(), 4, kWordsPerRead, f)) > 0) {
        pages += static_cast<long>(words);
    }
    std::fclose(f);
    return pages;
}

void merge_threads(OwnerTable *t, GroupOf group_of, const void *context)
{
    for (int i = 0; i < t->count; ++i) {
        if (is_task(t->entries[i].key)) {
            t->entries[i].key = group_of(t->entries[i].key, context);
        }
    }
    for (int i = 0; i < t->count; ++i) {
        if (is_task(t->entries[i].key)) {
            merge_into_first(t, i, [](uint32_t a, uint32_t b) { return a == b; });
        }
    }
}

void merge_file_classes(OwnerTable *t)
{
    merge_class(t, kFileCacheClass);
    merge_class(t, kDeviceBufferClass);
}

void sort_owners(OwnerTable *t)
{
    for (int i = 0; i < t->count; ++i) {
        for (int j = i + 1; j < t->count; ++j) {
            if (t->entries[i].pages < t->entries[j].pages) {
                std::swap(t->entries[i], t->entries[j]);
            }
        }
    }
}

} // namespace memtally
