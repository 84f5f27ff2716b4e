// Flash access of the upgrade program through the MTD character devices:
// page reads, erase-block read-modify-write, writes into the partitions of
// the new layout through /dev/mtd0, and the adaptive PIT.
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
