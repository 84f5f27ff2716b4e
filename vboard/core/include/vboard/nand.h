// The NAND model: contents and page states in files of the state directory,
// shared by every process of the board; the rules of real NAND are enforced
// and every operation is journalled.
#ifndef VBOARD_NAND_H
#define VBOARD_NAND_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "vboard/board.h"
#include "vboard/journal.h"

namespace vboard {

struct Nand {
    BoardConfig board;
    std::string dir;
    int image_fd = -1;
    int pages_fd = -1;
    Journal *journal = nullptr;
    // Called after a power cut has been journalled. The device library kills
    // the board here; when it returns, the operation fails with EIO.
    void (*power_cut)() = nullptr;
};

// Opens the NAND of a prepared state directory. Returns 0 or -1 with *error.
int nand_open(Nand *nand, const std::string &dir, Journal *journal, std::string *error);
void nand_close(Nand *nand);

// Device operations on one MTD device; offsets are relative to the region.
// They return a byte count or 0, or a negative errno value.

// Reads up to the end of the page that holds off.
ssize_t nand_read(Nand *nand, const MtdRegion &region, uint64_t off, void *buf, size_t len);
// Programs the page at off (which must be page-aligned) with up to one page of
// data, padded with 0xFF. The page must be erased.
ssize_t nand_program(Nand *nand, const MtdRegion &region, uint64_t off, const void *buf, size_t len);
// Erases whole, aligned blocks.
int nand_erase(Nand *nand, const MtdRegion &region, uint64_t start, uint64_t len);
// 1 when the block holding off is bad, else 0.
int nand_is_bad(const Nand &nand, const MtdRegion &region, uint64_t off);

// Raw access to the whole NAND for tests and tools: no rules, no journal.
int nand_peek(Nand *nand, uint64_t offset, void *buf, size_t len);
// Writes bytes and marks the pages they touch programmed (as if flashed).
int nand_seed(Nand *nand, uint64_t offset, const void *buf, size_t len);

} // namespace vboard

#endif
