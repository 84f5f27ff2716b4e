// The adaptive PIT: the image PIT with every partition placed where the
// new layout puts it on this NAND (type-3 partitions grow by one erase
// block, type-4 partitions are packed inside their container).
#ifndef UPGRADE_ADAPTIVE_PIT_H
#define UPGRADE_ADAPTIVE_PIT_H

#include <cstddef>
#include <cstdint>

constexpr int kAdptVersionOld = 1;  // 32-byte records, head and tail
constexpr int kAdptVersionNtbl = 2; // 40-byte header, records by offset and stride

struct t_adpt_pit {
    int version; // kAdptVersionOld, kAdptVersionNtbl, anything else: none yet
    uint32_t count;
    uint8_t *data;
    size_t size;
};

// Version and entry count of a raw image PIT; count 0 when it has no head.
void adpt_pit_shape(const uint8_t *pit, size_t pit_len, int *version, uint32_t *count);
// Builds the adaptive PIT into out (data on the heap). 0 or -1 with a message.
int adpt_pit_build(const uint8_t *pit, size_t pit_len, int version, uint32_t count, uint32_t erasesize,
                   t_adpt_pit *out);
void adpt_pit_free(t_adpt_pit *pit);

// Adaptive entry k: name field, id, flags, offset, size.
const uint8_t *adpt_entry(const t_adpt_pit &pit, uint32_t k);
uint32_t adpt_entry_offset(const t_adpt_pit &pit, uint32_t k);
uint32_t adpt_entry_size(const t_adpt_pit &pit, uint32_t k);
int32_t adpt_entry_id(const t_adpt_pit &pit, uint32_t k);
// Index of the entry named exactly name, or -1.
int adpt_find(const t_adpt_pit &pit, const char *name);

#endif
