#include "adaptive_pit.h"

#include "common/le_bytes.h"
#include "records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace upg;

namespace {

constexpr uint32_t kOldSlotsScanned = 64;
constexpr size_t kNtblSlotBytes = 64;
constexpr size_t kFieldId = 16, kFieldFlags = 20, kFieldOffset = 24, kFieldSize = 28;

size_t head_bytes(int version) { return version == kAdptVersionOld ? kPitSlotBytes : kNtblHeaderBytes; }

size_t total_bytes(int version, uint32_t count)
{
    return version == kAdptVersionOld ? (count + 2) * kPitSlotBytes : (count + 1) * kNtblSlotBytes;
}

// Where entry k lies in a table with this head (adaptive or image).
uint64_t entry_pos(const uint8_t *head, int version, uint32_t k)
{
    if (version == kAdptVersionOld)
        return kPitSlotBytes + uint64_t{kPitSlotBytes} * k;
    return le::load32(head + 4 * kNtblWordFirstRecord) + uint64_t{k} * le::load32(head + 4 * kNtblWordStride);
}

uint32_t field(const uint8_t *entry, size_t at) { return le::load32(entry + at); }

// Offset of adaptive entry k from the entries placed before it; false
// when a nested entry names no container placed so far.
bool place_entry(const t_adpt_pit &a, uint32_t k, uint32_t src_flags, uint32_t *offset)
{
    const uint8_t *prev = adpt_entry(a, k - 1);
    uint32_t prev_flags = field(prev, kFieldFlags);
    bool src_nested = pit_type(src_flags) == kTypeNested;
    bool prev_nested = pit_type(prev_flags) == kTypeNested;
    if (src_nested && !prev_nested) {
        *offset = field(prev, kFieldOffset);
    } else if (!src_nested && prev_nested) {
        uint32_t c = pit_container(prev_flags);
        if (c == 0 || c > k)
            return false;
        *offset = adpt_entry_offset(a, c - 1) + adpt_entry_size(a, c - 1);
    } else {
        *offset = field(prev, kFieldOffset) + field(prev, kFieldSize);
    }
    return true;
}

} // namespace

void adpt_pit_shape(const uint8_t *pit, size_t pit_len, int *version, uint32_t *count)
{
    *count = 0;
    if (pit_len >= kNtblHeaderBytes && words_equal(pit, 4, kPitHeadSig)) {
        *version = kAdptVersionOld;
        // The count is the index of the last tail slot (the head is slot 0),
        // so the image's tail slot is carried as the last entry: the tables
        // the board's other software reads have it there.
        for (uint32_t slot = 0; slot < kOldSlotsScanned && (slot + 1) * kPitSlotBytes <= pit_len; ++slot)
            if (words_equal(pit + slot * kPitSlotBytes + 16, 4, kPitTailSig))
                *count = slot;
    } else if (pit_len >= kNtblHeaderBytes && words_equal(pit, 2, kPitHeadSig)) {
        *version = kAdptVersionNtbl;
        *count = le::load32(pit + 4 * kNtblWordCount);
    } else {
        *version = 0;
        std::puts("[NAND] no part head sig found -1");
    }
}

int adpt_pit_build(const uint8_t *pit, size_t pit_len, int version, uint32_t count, uint32_t erasesize, t_adpt_pit *out)
{
    size_t size = total_bytes(version, count);
    size_t rec = version == kAdptVersionOld ? kPitSlotBytes : kNtblRecordBytes;
    if (count == 0 || count > static_cast<uint32_t>(kPitEntries) ||
        entry_pos(pit, version, count - 1) + rec > pit_len || entry_pos(pit, version, count - 1) + rec > size) {
        std::puts("[NAND] part tbl records lie outside the table");
        return -1;
    }
    uint8_t *data = static_cast<uint8_t *>(std::calloc(1, size));
    if (data == nullptr) {
        std::puts("[NAND] allocate adpt_pit memo failed");
        return -1;
    }
    *out = {version, count, data, size};
    std::memcpy(data, pit, head_bytes(version));
    std::memcpy(data + entry_pos(data, version, 0), pit + entry_pos(pit, version, 0), rec);
    for (uint32_t k = 1; k < count; ++k) {
        const uint8_t *src = pit + entry_pos(pit, version, k);
        uint32_t flags = field(src, kFieldFlags), offset = 0;
        if (!place_entry(*out, k, flags, &offset)) {
            std::printf("[NAND] part %u names no container placed before it\n", k);
            adpt_pit_free(out);
            return -1;
        }
        uint8_t *dst = data + entry_pos(data, version, k);
        std::memcpy(dst, src, rec);
        uint32_t grow = pit_type(flags) == kTypeGrowsOneBlock ? erasesize : 0;
        le::store32(dst + kFieldOffset, offset);
        le::store32(dst + kFieldSize, field(src, kFieldSize) + grow);
    }
    if (version == kAdptVersionOld) {
        fill_words(data, kPitSigWords, kAdptHeadSig);
        fill_words(data + kPitSlotBytes * (count + 1), kPitSigWords, kAdptTailSig);
    } else {
        fill_words(data, 2, kAdptHeadSig);
    }
    return 0;
}

void adpt_pit_free(t_adpt_pit *pit)
{
    std::free(pit->data);
    *pit = {0, 0, nullptr, 0};
}

const uint8_t *adpt_entry(const t_adpt_pit &pit, uint32_t k) { return pit.data + entry_pos(pit.data, pit.version, k); }

uint32_t adpt_entry_offset(const t_adpt_pit &pit, uint32_t k) { return field(adpt_entry(pit, k), kFieldOffset); }
uint32_t adpt_entry_size(const t_adpt_pit &pit, uint32_t k) { return field(adpt_entry(pit, k), kFieldSize); }
int32_t adpt_entry_id(const t_adpt_pit &pit, uint32_t k)
{
    return static_cast<int32_t>(field(adpt_entry(pit, k), kFieldId));
}

int adpt_find(const t_adpt_pit &pit, const char *name)
{
    for (uint32_t k = 0; k < pit.count; ++k)
        if (name_is(reinterpret_cast<const char *>(adpt_entry(pit, k)), name))
            return static_cast<int>(k);
    return -1;
}
