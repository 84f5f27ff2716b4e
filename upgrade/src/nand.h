// Flash access of the upgrade program through the MTD character devices:
// page reads, erase-block read-modify-write, writes into the partitions of
// the new layout through /dev/mtd0, and the adaptive PIT.
//
// State the module keeps for the rest of the run (one run, one thread):
// - the adaptive PIT, built by i4SetNewFlashPIT (nand_adaptive_pit());
//   until then the partition reads and writes fail, as no partition of the
//   new layout is known;
// - the erase size of /dev/mtd0 once get_block_size() has asked it;
// - the blocks of /dev/mtd0 whose page program failed (up to 64): later
//   partition writes step over them, so that data written in several calls
//   stays in order behind a failed block; further failed blocks are not
//   remembered.
#ifndef UPGRADE_NAND_H
#define UPGRADE_NAND_H

#include "adaptive_pit.h"

#include <cstdint>

int i4MpDataRead(uint32_t u4DevId, uint32_t u8Offset, uint8_t *u4MemPtr, uint32_t u4MemLen);
int i4MpDataWrite(uint32_t u4DevId, uint32_t u8Offset, const uint8_t *u4MemPtr, uint32_t u4MemLen);
int i4NFBPartitionWrite(uint32_t u4DevId, uint32_t u8Offset, const uint8_t *u4MemPtr, uint32_t u4MemLen);
int i4NFBPartitionRead(uint32_t u4DevId, uint32_t u8Offset, uint8_t *u4MemPtr, uint32_t u4MemLen);
int i4UpgPartitionWrite(uint32_t u4DevId, uint32_t u8Offset, const uint8_t *u4MemPtr, uint32_t u4MemLen);
int i4UpgPartitionRead(uint32_t u4DevId, uint32_t u8Offset, uint8_t *u4MemPtr, uint32_t u4MemLen);
int i4SetNewFlashPIT(const uint8_t *pit, uint32_t pit_len);
int i4StoreAdptPit();
int get_block_size();
int i4CheckPartitionBadBlock(uint32_t u4DevId, uint32_t length);

// The adaptive PIT built by i4SetNewFlashPIT (version 0 before that).
const t_adpt_pit &nand_adaptive_pit();

#endif
