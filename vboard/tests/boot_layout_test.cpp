// The layout a board boots with, from the tables its flash holds.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/le_bytes.h"
#include "vboard/boot_layout.h"
#include "vboard/journal.h"
#include "vboard/nand.h"
#include "vboard/state.h"
#include "vboard/temp_dir.h"

using namespace vboard;

namespace {

constexpr uint64_t K = 1024, M = 1024 * K;
constexpr uint32_t kPitHead = 0x8530EADC, kPitTail = 0xC0CAC01A;
constexpr uint32_t kAdaptiveHead = 0x8530AAAA, kAdaptiveTail = 0x5441494C;

using Layout = std::vector<Partition>;

// The board file's partitions; the tables at the factory describe them too.
const Layout kBoardFile = {{"part_info", 0, 256 * K},
                           {"part_info_1", 256 * K, 1536 * K},
                           {"part_info_2", 1792 * K, 1536 * K},
                           {"data", 3328 * K, 1 * M},
                           {"kernel", 4352 * K, 3840 * K}};
// After an upgrade: the kernel moved before the data and grew by a block
// (the PIT gives its size without that block, the adaptive PIT with it).
const Layout kNewPit = {{"part_info", 0, 256 * K},
                        {"part_info_1", 256 * K, 1536 * K},
                        {"part_info_2", 1792 * K, 1536 * K},
                        {"kernel", 3328 * K, 2 * M},
                        {"data", 5376 * K, 1 * M}};
const Layout kNewAdaptive = {{"part_info", 0, 256 * K},
                             {"part_info_1", 256 * K, 1536 * K},
                             {"part_info_2", 1792 * K, 1536 * K},
                             {"kernel", 3328 * K, 2 * M + 128 * K},
                             {"data", 5504 * K, 1 * M}};

const char kBoardText[] =
    "nand.size = 8M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n"
    "partition = part_info 256K\npartition = part_info_1 1536K\npartition = part_info_2 1536K\n"
    "partition = data 1M\npartition = kernel rest\n";

void put32(std::string &s, size_t at, uint32_t v) { le::store32(&s[at], v); }

void put_entry(std::string &s, size_t at, const Partition &p, uint32_t id)
{
    s.replace(at, p.name.size(), p.name);
    put32(s, at + 16, id);
    put32(s, at + 24, static_cast<uint32_t>(p.offset));
    put32(s, at + 28, static_cast<uint32_t>(p.size));
}

// The header layout (two head words; entries from 64, 64 apart), or with a
// tail word the 32-byte layout (eight head words, a tail slot after them).
std::string table(uint32_t head, const Layout &l, uint32_t tail = 0)
{
    size_t n = l.size();
    std::string s(tail ? (n + 2) * 32 : (n + 1) * 64, '\0');
    for (size_t w = 0; w < (tail ? 8u : 2u); ++w) {
        put32(s, 4 * w, head);
    }
    if (!tail) {
        put32(s, 12, 64);
        put32(s, 16, 64);
        put32(s, 20, static_cast<uint32_t>(n));
    }
    for (size_t k = 0; k < n; ++k) {
        put_entry(s, tail ? 32 * (k + 1) : 64 * (k + 1), l[k], static_cast<uint32_t>(k + 1));
    }
    for (size_t w = 0; tail && w < 8; ++w) {
        put32(s, 32 * (n + 1) + 4 * w, tail);
    }
    return s;
}

std::string pit(const Layout &l) { return table(kPitHead, l); }
std::string adaptive(const Layout &l) { return table(kAdaptiveHead, l); }

class BootLayoutTest : public ::testing::Test {
protected:
    void SetUp() override { make(kBoardText); }

    void make(const std::string &text)
    {
        temp_ = std::make_unique<testkit::TempDir>("vboard-layout");
        dir_ = temp_->path();
        std::string error;
        ASSERT_EQ(prepare_state(dir_, &text, &error), 0) << error;
        ASSERT_EQ(load_state_board(dir_, &board_, &error), 0) << error;
    }
    // Bytes at a place of the board file: "part_info_1+1M".
    void seed(uint64_t offset, const std::string &bytes)
    {
        Nand nand;
        std::string error;
        ASSERT_EQ(nand_open(&nand, dir_, nullptr, &error), 0) << error;
        ASSERT_EQ(nand_seed(&nand, offset, bytes.data(), bytes.size()), 0);
        nand_close(&nand);
    }
    void seed_tables(const std::string &p0, const std::string &p1, const std::string &p2, const std::string &a1,
                     const std::string &a2)
    {
        const std::string *at[] = {&p0, &p1, &p2};
        for (size_t i = 0; i < 3; ++i) {
            if (!at[i]->empty()) {
                seed(kBoardFile[i].offset, *at[i]);
            }
        }
        if (!a1.empty()) {
            seed(kBoardFile[1].offset + M, a1);
        }
        if (!a2.empty()) {
            seed(kBoardFile[2].offset + M, a2);
        }
    }

    std::unique_ptr<testkit::TempDir> temp_;
    std::string dir_;
    BoardConfig board_;
};

bool same(const Layout &a, const Layout &b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].name != b[k].name || a[k].offset != b[k].offset || a[k].size != b[k].size) {
            return false;
        }
    }
    return true;
}

std::string joined(const std::vector<std::string> &notes)
{
    std::string s;
    for (const auto &n : notes) {
        s += n + "\n";
    }
    return s;
}

TEST_F(BootLayoutTest, TablesOnTheFlashDecideTheLayout)
{
    const std::string old_pit = pit(kBoardFile), old_adpt = adaptive(kBoardFile);
    const std::string new_pit = pit(kNewPit), new_adpt = adaptive(kNewAdaptive);
    std::string beyond = pit(kNewPit);
    put32(beyond, 64 * 5 + 28, 16 * M); // the last entry runs past the NAND
    std::string wrong_id = pit(kNewPit);
    put32(wrong_id, 64 * 4 + 16, 9);
    std::string garbage(4096, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<char>(i * 2654435761u >> 13);
    }
    put32(garbage, 0, kPitHead); // a head and nothing sound after it
    put32(garbage, 4, kPitHead);
    // upgprog's adaptive PIT of a 32-byte layout PIT carries the PIT's tail
    // slot as a last entry.
    std::string adpt_32 = table(kAdaptiveHead, kNewAdaptive, kAdaptiveTail);
    adpt_32.insert(adpt_32.size() - 32, table(kPitTail, {}, kPitTail).substr(0, 32));
    const std::string none;
    struct Case {
        const char *what;
        std::string p0, p1, p2, a1, a2;
        const char *source;
        Layout layout;
        const char *note; // a journal note that explains the choice
    } cases[] = {
        {"blank flash", none, none, none, none, none, "board file", kBoardFile, "PIT in part_info_2: none"},
        {"factory tables", old_pit, old_pit, old_pit, old_adpt, old_adpt, "part_info PIT + adaptive PIT", kBoardFile,
         ""},
        {"upgrade complete", new_pit, new_pit, new_pit, new_adpt, new_adpt, "part_info PIT + adaptive PIT",
         kNewAdaptive, "differs from the board file's partitions"},
        {"new adaptive PIT half stored", old_pit, old_pit, old_pit, new_adpt, old_adpt, "part_info PIT + adaptive PIT",
         kBoardFile, "adaptive PIT in part_info_1: lists other partitions than the PIT"},
        {"both adaptive PITs new, PIT old", old_pit, old_pit, old_pit, new_adpt, new_adpt, "part_info PIT", kBoardFile,
         "adaptive PIT in part_info_2: lists other partitions"},
        {"part_info erased while the PIT goes in", none, old_pit, old_pit, new_adpt, new_adpt, "part_info_1 PIT",
         kBoardFile, "PIT in part_info: none"},
        {"new PIT in part_info only", new_pit, old_pit, old_pit, new_adpt, new_adpt, "part_info PIT + adaptive PIT",
         kNewAdaptive, ""},
        {"new PIT without an agreeing adaptive PIT", new_pit, new_pit, new_pit, old_adpt, none, "part_info PIT",
         kNewPit, ""},
        {"entry beyond the NAND", beyond, old_pit, old_pit, old_adpt, old_adpt, "part_info_1 PIT + adaptive PIT",
         kBoardFile, "PIT in part_info: damaged: entry 4 (data) is no run of whole erase blocks"},
        {"id that is not its MTD number", wrong_id, none, none, none, none, "board file", kBoardFile,
         "PIT in part_info: damaged: entry 3 (kernel) has id 9"},
        {"32-byte layout tables", table(kPitHead, kNewPit, kPitTail), none, none, adpt_32, none,
         "part_info PIT + adaptive PIT", kNewAdaptive, ""},
        {"garbage after a head", garbage, garbage, garbage, garbage, garbage, "board file", kBoardFile,
         "PIT in part_info: damaged"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        make(kBoardText);
        seed_tables(c.p0, c.p1, c.p2, c.a1, c.a2);
        BootLayout l = decide_boot_layout(dir_, board_);
        EXPECT_EQ(l.source, c.source) << joined(l.notes);
        EXPECT_TRUE(same(l.partitions, c.layout)) << joined(l.notes);
        EXPECT_NE(joined(l.notes).find(c.note), std::string::npos) << joined(l.notes);
    }
}

TEST_F(BootLayoutTest, BoardFileWithoutPartInfoKeepsItsOwnPartitions)
{
    make("nand.size = 8M\nnand.erasesize = 128K\nnand.writesize = 2K\npartition = a 1M\npartition = b rest\n");
    seed(0, pit(kNewPit));
    BootLayout l = decide_boot_layout(dir_, board_);
    EXPECT_EQ(l.source, "board file");
    EXPECT_TRUE(same(l.partitions, board_.partitions));
    EXPECT_TRUE(l.notes.empty()) << joined(l.notes);
}

// Every process of a boot sees the layout decided at its start, until the
// state directory is prepared for the next boot.
TEST_F(BootLayoutTest, BootKeepsTheLayoutForTheWholeBoot)
{
    seed_tables(pit(kNewPit), pit(kNewPit), pit(kNewPit), adaptive(kNewAdaptive), adaptive(kNewAdaptive));
    std::string error;
    ASSERT_EQ(boot_layout_at_boot(dir_, &error), 0) << error;
    seed(0, std::string(64, '\0')); // what the flash holds later in the boot does not matter
    BoardConfig booted;
    ASSERT_EQ(load_state_board(dir_, &booted, &error), 0) << error;
    EXPECT_TRUE(same(booted.partitions, kNewAdaptive));
    EXPECT_NE(proc_mtd_text(booted).find("mtd4: 00220000 00020000 \"kernel\"\n"), std::string::npos);
    auto journal = read_journal(dir_);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "layout from: part_info PIT + adaptive PIT");
    EXPECT_EQ(apply_boot_layout(dir_, &booted), "part_info PIT + adaptive PIT");

    ASSERT_EQ(prepare_state(dir_, nullptr, &error), 0) << error;
    ASSERT_EQ(load_state_board(dir_, &booted, &error), 0) << error;
    EXPECT_TRUE(same(booted.partitions, kBoardFile)) << "not booted since it was prepared";
}

} // namespace
