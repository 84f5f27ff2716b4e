// Boards, images and flash contents for the tests that run upgprog on the
// virtual board. Layouts are written out by hand here, independently of
// upgprog's and upgimage's own placement code.
#ifndef UPGRADE_TESTS_BOARD_SUPPORT_H
#define UPGRADE_TESTS_BOARD_SUPPORT_H

#include "vboard/testkit.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace upgtest {

constexpr uint32_t K = 1024, M = 1024 * 1024;
constexpr uint32_t kBlock = 128 * K, kPage = 2 * K;

struct Part {
    std::string name;
    uint32_t offset;     // where the partition lies (for the new layout: as the adaptive PIT places it)
    uint32_t size;       // its size there
    uint32_t flags;      // PIT flags
    uint32_t pit_offset; // offset written in the PIT
    uint32_t pit_size;   // size written in the PIT
};

struct Layout {
    uint32_t nand_size;
    std::vector<Part> parts; // partition k is /dev/mtd(k+1)
    const Part &operator[](const std::string &name) const;
    int id(const std::string &name) const;
};

// The small board the tests run on: 16 MiB, and the layout of the image.
const Layout &old_layout();
const Layout &new_layout();

// Board file of a layout, with extra fault lines.
std::string board_text(const Layout &layout, const std::string &faults = "");

// An ntblfmt PIT (records from 64, 64 apart) and the adaptive PIT that
// upgprog must derive from it.
std::string ntbl_pit(const Layout &layout);
std::string adaptive_pit(const Layout &layout);

// A status record copy (176 bytes).
std::string status_record(uint32_t progress, const std::vector<uint32_t> &ids);

// Contents of the image for the new layout.
struct Bin {
    std::string part;
    uint32_t at;
    std::string data;
};
std::vector<Bin> default_bins(uint32_t seed);
// Deterministic bytes.
std::string pattern(size_t n, uint32_t seed);

// The image built by upgimage from a description of new_layout().
std::string upgimage_image(const std::vector<Bin> &bins, const std::string &layout_word, const std::string &dir,
                           const std::string &pit_word = "ntblfmt");
// The same image written byte by byte: old index layout, ntblfmt PIT, BIT
// found by signature.
std::string raw_old_layout_image(const std::vector<Bin> &bins);

// The device data of the old board.
std::map<std::string, std::string> device_data(uint32_t seed);
const std::vector<std::string> &device_data_names();

// Seeds a board with the old layout: PITs, adaptive PITs, status record,
// device data.
void seed_old_board(vboard::testkit::Board &board, const std::map<std::string, std::string> &data,
                    const std::string &status_a, const std::string &status_b);
void put_image(vboard::testkit::Board &board, const std::string &image);
// A file in the board's root file system before it boots.
void put_file(vboard::testkit::Board &board, const std::string &path, const std::string &bytes);
bool board_file_exists(const vboard::testkit::Board &board, const std::string &path);

// Runs upgprog; with until_complete it is stopped once the flash is final
// (before the LEDs and the reboot), else it runs to the board's reset.
vboard::testkit::Result run_upgrade(vboard::testkit::Board &board, bool until_complete, int timeout_ms = 20000);

// Journal summary: erases, page programs and page reads per device.
struct FlashCounts {
    long erases = 0, programs = 0, reads = 0;
};
FlashCounts flash_counts(const std::vector<std::string> &journal, const std::string &dev = "");
// Erases per whole-NAND block, and whole-NAND blocks that were read.
std::map<long, int> erases_per_block(const std::vector<std::string> &journal, const std::string &dev);
std::map<long, long> reads_per_block(const std::vector<std::string> &journal, const std::string &dev);

} // namespace upgtest

#endif
