// Byte layouts of the upgrade image's tables (PIT index, BIT index, PIT,
// BIT), of the PIT kept on the flash and of the upgrade status record.
// Shared by upgprog and upgimage so that both read and write the same bytes.
#ifndef UPGRADE_RECORDS_H
#define UPGRADE_RECORDS_H

#include <cstddef>
#include <cstdint>

namespace upg {

// Table signatures, compared as little-endian 32-bit words.
constexpr uint32_t kIndexHeadSig = 0x50495469; // "iTIP" in file order
constexpr uint32_t kIndexTailSig = 0x69544950; // "PITi"
constexpr uint32_t kPitHeadSig = 0x8530EADC;
constexpr uint32_t kPitTailSig = 0xC0CAC01A;
constexpr uint32_t kBitHeadSig = 0x8530ABCD;
constexpr uint32_t kBitTailSig = 0x8530EFEF;
constexpr uint32_t kAdptHeadSig = 0x8530AAAA;
constexpr uint32_t kAdptTailSig = 0x5441494C;
constexpr uint32_t kStatusHeadSig = 0x55504753; // "SGPU"
constexpr uint32_t kStatusTailSig = 0x53475055; // "UPGS"

constexpr size_t kIndexSigBytes = 16; // index head and tail: 4 words
constexpr size_t kOldIndexEntryBytes = 16;
constexpr size_t kNewIndexEntryBytes = 32; // PIT index part + BIT index part
constexpr size_t kPitSlotBytes = 32;       // old PIT head, record and tail
constexpr size_t kPitSigWords = 8;
constexpr size_t kNtblHeaderBytes = 40;
constexpr size_t kNtblRecordBytes = 40;
constexpr size_t kBitSlotBytes = 20; // BIT head, record and tail
constexpr size_t kBitSigWords = 5;
constexpr size_t kPitNameBytes = 16;

constexpr int kIndexEntries = 10;
constexpr int kPitEntries = 100;
constexpr int kBitEntries = 100;
constexpr size_t kRawPitBytes = 4096;
constexpr uint32_t kPitSizeMask = 0xFFF; // PIT size in u4PrivateData1
constexpr uint32_t kPitSizeAlignMask = 0x1F;

// ntblfmt PIT header words.
constexpr int kNtblWordFirstRecord = 3;
constexpr int kNtblWordStride = 4;
constexpr int kNtblWordCount = 5;

// Partition flags.
constexpr uint32_t kFlagStatusListed = 1u << 3;
constexpr unsigned kTypeShift = 12;
constexpr uint32_t kTypeMask = 0xF;
constexpr unsigned kContainerShift = 16;
constexpr uint32_t kContainerMask = 0x3F;
constexpr uint32_t kTypeRaw = 0;
constexpr uint32_t kTypeGrowsOneBlock = 3;
constexpr uint32_t kTypeNested = 4;

inline uint32_t pit_type(uint32_t flags) { return (flags >> kTypeShift) & kTypeMask; }
inline uint32_t pit_container(uint32_t flags) { return (flags >> kContainerShift) & kContainerMask; }

// Upgrade status record.
constexpr size_t kStatusBytes = 176;
constexpr int kStatusIds = 32;
constexpr uint32_t kProgressBit = 1u;

} // namespace upg

// In-memory tables, in the field order the rest of the program uses.
struct t_pit_index {
    uint32_t u4NandSize;
    uint32_t u4OffsetFromBin;
    uint32_t u4PrivateData1;
    uint32_t u4PrivateData2;
};

struct t_bit_index {
    uint32_t u4BitOffsetFromBin;
    uint32_t u4BitSIze;
    uint32_t u4Reserved1;
    uint32_t u4Reserved2;
};

struct t_bit_entry {
    int32_t i4PartId;
    uint32_t u4PartOffset;
    uint32_t u4Length;
    uint32_t u4ImageOffset;
    uint32_t u4Extra;
};

struct t_pit_entry_old {
    int32_t i4PartId;
    uint32_t u4Flags;
    char acName[upg::kPitNameBytes];
    uint32_t u4Offset;
    uint32_t u4Size;
};

struct t_pit_entry_ntbl {
    char acName[upg::kPitNameBytes];
    int32_t i4PartId;
    uint32_t u4Flags;
    uint32_t u4Offset;
    uint32_t u4Size;
    uint32_t u4Extra1;
    uint32_t u4Extra2;
};

struct t_upg_status {
    uint32_t u4_head_sign;
    uint32_t u4_progress;
    uint32_t au4_part_id[upg::kStatusIds];
    uint32_t u4_part_count;
    uint32_t u4_tail_sign;
    uint8_t au1_reserved[32];
};
static_assert(sizeof(t_upg_status) == upg::kStatusBytes, "status record is 176 bytes");

namespace upg {

// Field access of the records as they stand in the image and on the flash.
t_pit_index decode_pit_index(const uint8_t *p);
void encode_pit_index(uint8_t *p, const t_pit_index &e);
t_bit_index decode_bit_index(const uint8_t *p);
void encode_bit_index(uint8_t *p, const t_bit_index &e);
t_bit_entry decode_bit_record(const uint8_t *p);
void encode_bit_record(uint8_t *p, const t_bit_entry &e);
t_pit_entry_old decode_old_pit_record(const uint8_t *p);
t_pit_entry_ntbl decode_ntbl_pit_record(const uint8_t *p);
// A PIT record's first 32 bytes are the same in both layouts; the two
// carried words follow in the ntblfmt layout.
void encode_pit_record(uint8_t *p, const char *name, int32_t id, uint32_t flags, uint32_t offset, uint32_t size);
t_upg_status decode_status(const uint8_t *p);
void encode_status(uint8_t *p, const t_upg_status &s);

// True when n words at p all equal word.
bool words_equal(const uint8_t *p, size_t n, uint32_t word);
void fill_words(uint8_t *p, size_t n, uint32_t word);
// A 16-byte NUL-padded name field equal to name, or holding it.
bool name_is(const char *field, const char *name);
bool name_contains(const char *field, const char *part);
bool name_starts_with(const char *field, const char *prefix);

} // namespace upg

#endif
