// The partition layout a board boots with. As the board's boot loader does,
// each boot reads the flash's own tables at their fixed places and hands the
// kernel the layout they describe; the board file's partitions serve only
// as those fixed places and as the layout of a flash without valid tables.
//
// The rule (vboard/README.md, "Boot layout"):
// 1. the PIT is the first valid one at offset 0 of part_info, part_info_1,
//    part_info_2 (places from the board file);
// 2. the adaptive PIT is the first one, at max(1 MiB, erase size) in
//    part_info_1 then part_info_2, that is valid and lists the same
//    partitions (count, names and ids) as that PIT;
// 3. /dev/mtd(k+1) is PIT entry k: its name, and its offset and size from
//    that adaptive PIT, or from the PIT itself when none agrees;
// 4. no valid PIT at any place: the board file's partitions.
#ifndef VBOARD_BOOT_LAYOUT_H
#define VBOARD_BOOT_LAYOUT_H

#include <string>
#include <vector>

#include "vboard/board.h"
#include "vboard/journal.h"

namespace vboard {

constexpr const char *kBootLayoutFile = "layout"; // in the state directory
constexpr const char *kLayoutFromBoardFile = "board file";

struct BootLayout {
    std::string source;                // "part_info PIT + adaptive PIT", ..., or "board file"
    std::vector<Partition> partitions; // partitions[k] is /dev/mtd(k+1)
    std::vector<std::string> notes;    // why tables were passed over, for the journal
};

// Decides the layout from the NAND image of a state directory, with the
// fixed places and geometry of `board` (the board file's). Never fails: a
// NAND that cannot be read counts as holding no tables.
BootLayout decide_boot_layout(const std::string &dir, const BoardConfig &board);

// At boot: decides the layout, journals "layout from: ..." (and the notes),
// and keeps it in DIR/layout for every process of this boot. Returns 0 or
// -1 with *error.
int boot_layout_at_boot(const std::string &dir, std::string *error);

// Gives `board` the partitions of the layout the board last booted with
// (nothing changes when it has not booted since it was prepared). Returns
// the layout's source.
std::string apply_boot_layout(const std::string &dir, BoardConfig *board);

// Forgets the last boot's layout (the board file may have changed).
void forget_boot_layout(const std::string &dir);

} // namespace vboard

#endif
