#include "report.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "bringup.h"
#include "cba_raise.h"
#include "vboard/board.h"
#include "vboard/boot_layout.h"
#include "vboard/journal.h"
#include "vboard/state.h"

namespace vboard {

namespace {

struct BlockCounts {
    long long erases = 0;
    long long programs = 0; // pages
};

// Whole-NAND block number of a device-relative block, or -1.
long long absolute_block(const BoardConfig &board, const std::string &dev, uint64_t block)
{
    MtdRegion region;
    if (dev.rfind("mtd", 0) != 0 || mtd_region(board, std::atoi(dev.c_str() + 3), &region) != 0) {
        return -1;
    }
    return static_cast<long long>(region.base / board.nand.erasesize + block);
}

std::string partition_of(const BoardConfig &board, uint64_t block)
{
    uint64_t off = block * board.nand.erasesize;
    for (size_t k = 0; k < board.partitions.size(); ++k) {
        const Partition &p = board.partitions[k];
        if (off >= p.offset && off < p.offset + p.size) {
            return "mtd" + std::to_string(k + 1) + " " + p.name;
        }
    }
    return "-";
}

void count_line(const BoardConfig &board, const std::string &line, std::map<long long, BlockCounts> *counts)
{
    std::istringstream in(line);
    std::string op, dev, a, b, c;
    in >> op >> dev >> a >> b >> c;
    if (op == "erase") {
        uint64_t off = std::strtoull(a.c_str(), nullptr, 0);
        long long block = absolute_block(board, dev, off / board.nand.erasesize);
        if (block >= 0) {
            ++(*counts)[block].erases;
        }
    } else if (op == "program" && a == "block") {
        long long block = absolute_block(board, dev, std::strtoull(b.c_str(), nullptr, 10));
        long long pages = 0;
        in >> pages;
        if (block >= 0) {
            (*counts)[block].programs += pages;
        }
    }
}

void print_layout(const BoardConfig &board, const std::string &source)
{
    const NandGeometry &g = board.nand;
    std::printf("board %s: NAND %" PRIu64 " MiB, erase block %u KiB, page %u bytes, OOB %u bytes\n", board.name.c_str(),
                g.size >> 20, g.erasesize >> 10, g.writesize, g.oobsize);
    std::printf("layout from: %s\n", source.c_str());
    std::printf("  %-6s %-10s %-10s %s\n", "dev", "offset", "size", "name");
    std::printf("  %-6s 0x%08x 0x%08" PRIx64 " %s\n", "mtd0", 0u, g.size, g.name.c_str());
    for (size_t k = 0; k < board.partitions.size(); ++k) {
        const Partition &p = board.partitions[k];
        std::printf("  mtd%-3zu 0x%08" PRIx64 " 0x%08" PRIx64 " %s\n", k + 1, p.offset, p.size, p.name.c_str());
    }
    std::printf("bad blocks:");
    for (uint64_t b : board.bad_blocks) {
        std::printf(" %" PRIu64, b);
    }
    std::printf(board.bad_blocks.empty() ? " none\n" : "\n");
    if (board.power_cut_after) {
        std::printf("power cut after %" PRIu64 " flash operations\n", board.power_cut_after);
    }
    std::printf("%s\n", mem_tally_summary(board.mem_tally).c_str());
}

void print_file(const char *title, const std::string &path, const char *none)
{
    std::string text;
    bool present = read_text_file(path, &text) == 0 && !text.empty();
    std::printf("%s: %s", title, present ? text.c_str() : none);
    if (!present || text.back() != '\n') {
        std::printf("\n");
    }
}

} // namespace

int print_state_report(const std::string &dir)
{
    BoardConfig board;
    std::string error;
    if (load_state_board(dir, &board, &error) != 0) {
        std::fprintf(stderr, "vboard: %s holds no board: %s\n", dir.c_str(), error.c_str());
        return 1;
    }
    print_layout(board, apply_boot_layout(dir, &board));
    print_file("boots", state_path(dir, kBoots), "0");
    std::map<long long, BlockCounts> counts;
    std::vector<std::string> problems;
    for (const std::string &line : read_journal(dir)) {
        count_line(board, line, &counts);
        if (line.rfind("violation", 0) == 0 || line.rfind("fault", 0) == 0 || line.rfind("powercut", 0) == 0) {
            problems.push_back(line);
        }
    }
    std::printf("flash writes by block (whole-NAND block: erases, pages programmed):\n");
    for (const auto &entry : counts) {
        std::printf("  block %5lld (%s): %lld erase%s, %lld pages\n", entry.first,
                    partition_of(board, static_cast<uint64_t>(entry.first)).c_str(), entry.second.erases,
                    entry.second.erases == 1 ? "" : "s", entry.second.programs);
    }
    if (counts.empty()) {
        std::printf("  none\n");
    }
    std::printf("violations and faults: %zu\n", problems.size());
    for (const std::string &line : problems) {
        std::printf("  %s\n", line.c_str());
    }
    print_file("LEDs (0-4, RRGGBB)", state_path(dir, kLeds), "never set");
    print_file("reboot", state_path(dir, kRebootRecord), "none requested");
    print_bringup_state(dir);
    print_cba_report(dir);
    return 0;
}

} // namespace vboard
