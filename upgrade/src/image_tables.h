// The tables scanned from the upgrade image and read from the NAND's
// part_info partition, process-wide for the whole run.
#ifndef UPGRADE_IMAGE_TABLES_H
#define UPGRADE_IMAGE_TABLES_H

#include "records.h"

#include <cstdio>

extern t_pit_index pitIndexTable[upg::kIndexEntries];
extern t_bit_index bitIndexTable[upg::kIndexEntries];
extern t_bit_entry bitTable[upg::kBitEntries];
extern t_pit_entry_old imagePitOld[upg::kPitEntries];
extern t_pit_entry_ntbl imagePitNtbl[upg::kPitEntries];
extern t_pit_entry_old nandPitOld[upg::kPitEntries];
extern t_pit_entry_ntbl nandPitNtbl[upg::kPitEntries];
extern uint8_t rawPitBuffer[upg::kRawPitBytes];
extern uint32_t rawPitSize;

// Scans /root/ota.zip for its tables. 0 or -1.
int upg_linux_read_bin_file();
// The same scan over an open image stream (the file's whole length).
int upg_scan_image(FILE *image);
// Reads the PIT stored in the NAND's first part_info partition. 0 or -1.
int upg_linux_get_pit_on_nand();

long load_data_to_buff(uint8_t *buffer, size_t n, FILE *stream);

// Puts the image at byte pos; false when the seek fails. Image offsets are
// 32-bit words: they need 64-bit file offsets on the 32-bit board.
bool seek_image(FILE *image, uint64_t pos);
int build_pit(const uint8_t *head, const uint8_t *tail, t_pit_entry_old *table);
// room: bytes from header on in which every record must lie.
int build_pit_ntblfmt(const uint8_t *header, size_t room, t_pit_entry_ntbl *table);
int build_bit(const uint8_t *head, const uint8_t *tail);
bool upg_linux_check_if_oldfmt_pit_valid(const t_pit_entry_old *table);
// One partition of a PIT table pair, whichever layout the pair holds.
struct t_part_view {
    const char *name; // 16-byte NUL-padded field
    int32_t id;
    uint32_t flags;
    uint32_t offset;
    uint32_t size;
};
// The table of a pair that its readers use: the old-layout table when it is
// valid, else the ntblfmt one.
struct t_pit_pair {
    const t_pit_entry_old *old_layout;
    const t_pit_entry_ntbl *ntbl;
};
extern const t_pit_pair kImagePit;
extern const t_pit_pair kNandPit;
bool pit_pair_uses_old(const t_pit_pair &pair);
t_part_view pit_entry(const t_pit_pair &pair, bool old_layout, int i);

// Parses a PIT found on the flash (one erase block). 0, -1, or
// kNoPitInBlock when the block holds no PIT head at all.
int upg_parse_nand_pit(const uint8_t *block, size_t len);
constexpr int kNoPitInBlock = -3;

#endif
