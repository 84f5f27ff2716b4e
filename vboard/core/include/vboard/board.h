// Board description: NAND geometry, partitions and injected faults, read
// from a board file of "key = value" lines.
#ifndef VBOARD_BOARD_H
#define VBOARD_BOARD_H

#include <cstdint>
#include <string>
#include <vector>

#include "vboard/mem_tally.h"

namespace vboard {

constexpr int kMaxPartitions = 64; // "/dev/mtd1".."/dev/mtd64"

struct Partition {
    std::string name;
    uint64_t offset = 0; // on the whole NAND
    uint64_t size = 0;
};

struct NandGeometry {
    std::string name = "nand"; // name of mtd0 in /proc/mtd
    uint64_t size = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 0;
    uint32_t oobsize = 0;
};

// Bytes a fresh board's NAND starts with: a file's contents at a place.
struct Seed {
    std::string file;    // a relative path is taken from the seed directory (prepare_state)
    uint64_t offset = 0; // on the whole NAND
    uint64_t limit = 0;  // end of the partition (or NAND) the bytes must fit in
    int line = 0;        // of the board file, for messages
};

// MTD requests a board file may make fail, by their names.
constexpr const char *kFaultableIoctls[] = {"MEMGETINFO", "MEMERASE", "MEMGETBADBLOCK", "NOCPT"};

// An MTD request that fails with an errno on one device.
struct IoctlFault {
    int unit = 0;        // /dev/mtd<unit>
    std::string request; // one of kFaultableIoctls
    int error = 0;       // positive errno value
    uint64_t after = 0;  // requests of a process that still succeed first
};

struct BoardConfig {
    std::string name = "board";
    NandGeometry nand;
    std::vector<Partition> partitions;  // partitions[k] is /dev/mtd(k+1)
    std::vector<uint64_t> bad_blocks;   // erase-block numbers of the whole NAND
    std::vector<uint64_t> fail_program; // whole-NAND offsets whose page program fails
    uint64_t power_cut_after = 0;       // flash operations before the power cut; 0 = never
    std::vector<Seed> seeds;            // in board-file order
    std::vector<IoctlFault> ioctl_faults;
    MemTallyConfig mem_tally; // the page-owner table and kernel symbols
};

// The board used when no board file is given.
extern const char *const kDefaultBoardText;

// Parses and checks a board file. Returns 0, or -1 with a message naming
// the line in *error.
int parse_board(const std::string &text, BoardConfig *board, std::string *error);

// Reads and parses a board file. Returns 0 or -1 with *error set.
int load_board_file(const std::string &path, BoardConfig *board, std::string *error);

// The kernel's /proc/mtd text for this board (mtd0 = whole device).
std::string proc_mtd_text(const BoardConfig &board);

// Region of an MTD device on the whole NAND: unit 0 is the whole device.
struct MtdRegion {
    int unit = 0;
    uint64_t base = 0;
    uint64_t size = 0;
};

// Returns 0 and fills *region for /dev/mtd<unit>, or -1 if the board has no such device.
int mtd_region(const BoardConfig &board, int unit, MtdRegion *region);

// Number of /dev/mtdN devices, mtd0 included.
int mtd_count(const BoardConfig &board);

// "0x1000", "4096", "4K", "2M", "1G" -> value. Returns 0 or -1.
int parse_size(const std::string &text, uint64_t *value);

} // namespace vboard

#endif
