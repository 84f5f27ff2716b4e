#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "vboard/nand.h"
#include "vboard/state.h"
#include "vboard/temp_dir.h"

using namespace vboard;

namespace {

constexpr uint32_t kPage = 2048;
constexpr uint32_t kBlock = 128 * 1024;

int power_cuts = 0;
void count_power_cut() { ++power_cuts; }

class NandModel : public ::testing::Test {
protected:
    void boot(const std::string &extra = "")
    {
        temp_ = std::make_unique<testkit::TempDir>("vboard-nand");
        dir_ = temp_->path();
        std::string text =
            "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n"
            "partition = first 1M\npartition = second rest\n" +
            extra;
        std::string error;
        ASSERT_EQ(prepare_state(dir_, &text, &error), 0) << error;
        ASSERT_EQ(nand_open(&nand_, dir_, &journal_, &error), 0) << error;
        journal_bind(&journal_, dir_);
        nand_.power_cut = count_power_cut;
        power_cuts = 0;
        ASSERT_EQ(mtd_region(nand_.board, 0, &whole_), 0);
        ASSERT_EQ(mtd_region(nand_.board, 2, &second_), 0);
    }
    void SetUp() override { boot(); }
    void TearDown() override { nand_close(&nand_); }

    std::string page_of(char c) { return std::string(kPage, c); }
    // Compared as booleans: a failing page comparison would print kilobytes.
    bool page_is(const MtdRegion &r, uint64_t off, char c) { return read_page(r, off) == page_of(c); }
    std::string read_page(const MtdRegion &r, uint64_t off)
    {
        std::string buf(kPage, '\0');
        EXPECT_EQ(nand_read(&nand_, r, off, &buf[0], kPage), static_cast<ssize_t>(kPage));
        return buf;
    }
    ssize_t program(const MtdRegion &r, uint64_t off, const std::string &data)
    {
        return nand_program(&nand_, r, off, data.data(), data.size());
    }

    std::unique_ptr<testkit::TempDir> temp_;
    std::string dir_;
    Journal journal_;
    Nand nand_;
    MtdRegion whole_, second_;
};

} // namespace

TEST_F(NandModel, FreshNandIsErasedAndPagesProgramOnceAfterErase)
{
    EXPECT_TRUE(page_is(whole_, 0, '\xff'));
    EXPECT_EQ(program(whole_, 2 * kPage, page_of('a')), static_cast<ssize_t>(kPage));
    EXPECT_TRUE(page_is(whole_, 2 * kPage, 'a'));
    EXPECT_TRUE(page_is(whole_, kPage, '\xff')) << "neighbouring pages stay erased";

    EXPECT_EQ(program(whole_, 2 * kPage, page_of('b')), -EIO);
    EXPECT_TRUE(page_is(whole_, 2 * kPage, 'a')) << "a refused program changes nothing";

    ASSERT_EQ(nand_erase(&nand_, whole_, 0, kBlock), 0);
    EXPECT_TRUE(page_is(whole_, 2 * kPage, '\xff'));
    EXPECT_EQ(program(whole_, 2 * kPage, page_of('b')), static_cast<ssize_t>(kPage));
    EXPECT_TRUE(page_is(whole_, 2 * kPage, 'b'));

    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "violation program mtd0 0x00001000 not erased"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "erase mtd0 0x00000000 0x00020000"), lines.end());
}

TEST_F(NandModel, PartitionOffsetsAreRelativeAndShortProgramsArePadded)
{
    EXPECT_EQ(program(second_, kBlock, "xyz"), 3);
    std::string raw(kPage, '\0');
    ASSERT_EQ(nand_peek(&nand_, (1u << 20) + kBlock, &raw[0], kPage), 0);
    EXPECT_EQ(raw, "xyz" + std::string(kPage - 3, '\xff'));
    EXPECT_EQ(program(second_, kBlock + 3, "more"), -EINVAL) << "programs start on a page";
    EXPECT_EQ(program(second_, second_.size, page_of('a')), -ENOSPC);
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "program mtd2 block 1 pages 1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "violation program mtd2 0x00020003 unaligned"), lines.end());
}

TEST_F(NandModel, ReadsStopAtThePageEndAndAtTheDeviceEnd)
{
    std::string buf(3 * kPage, '\0');
    EXPECT_EQ(nand_read(&nand_, whole_, 1000, &buf[0], buf.size()), static_cast<ssize_t>(kPage - 1000));
    EXPECT_EQ(nand_read(&nand_, whole_, kPage, &buf[0], buf.size()), static_cast<ssize_t>(kPage));
    EXPECT_EQ(nand_read(&nand_, second_, second_.size, &buf[0], buf.size()), 0);
}

TEST_F(NandModel, EraseNeedsWholeAlignedBlocksInsideTheDevice)
{
    EXPECT_EQ(nand_erase(&nand_, whole_, kPage, kBlock), -EINVAL);
    EXPECT_EQ(nand_erase(&nand_, whole_, 0, kBlock / 2), -EINVAL);
    EXPECT_EQ(nand_erase(&nand_, whole_, 0, 0), -EINVAL);
    EXPECT_EQ(nand_erase(&nand_, second_, second_.size - kBlock, 2 * kBlock), -EINVAL);
    EXPECT_EQ(nand_erase(&nand_, second_, 0, 2 * kBlock), 0);
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "violation erase mtd0 0x00000800 0x00020000 unaligned"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "violation erase mtd2 0x002e0000 0x00040000 beyond end"),
              lines.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "erase mtd2 0x00020000 0x00020000"), 1)
        << "a two-block erase journals each block";
}

TEST_F(NandModel, ConsecutivePageProgramsOfABlockShareOneJournalLine)
{
    for (uint32_t p = 0; p < kBlock / kPage; ++p) {
        ASSERT_EQ(program(whole_, kBlock + p * kPage, page_of('p')), static_cast<ssize_t>(kPage));
    }
    ASSERT_EQ(program(whole_, 2 * kBlock, page_of('q')), static_cast<ssize_t>(kPage));
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_EQ(lines, (std::vector<std::string>{"program mtd0 block 1 pages 64", "program mtd0 block 2 pages 1"}));
}

TEST_F(NandModel, BadBlocksAndFailingPrograms)
{
    TearDown();
    boot("bad_blocks = 5\nfail_program = 0x00040810\n");
    EXPECT_EQ(nand_is_bad(nand_, whole_, 5 * kBlock + 100), 1);
    EXPECT_EQ(nand_is_bad(nand_, whole_, 4 * kBlock), 0);
    EXPECT_EQ(nand_erase(&nand_, whole_, 4 * kBlock, 2 * kBlock), -EIO);
    EXPECT_EQ(program(whole_, 0x40800, page_of('f')), -EIO);
    EXPECT_TRUE(page_is(whole_, 0x40800, '\xff')) << "the failed page keeps its old contents";
    EXPECT_EQ(program(whole_, 0x41000, page_of('g')), static_cast<ssize_t>(kPage)) << "other pages program";
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "fault erase mtd0 0x000a0000 bad block"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "fault program mtd0 0x00040800"), lines.end());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "erase mtd0 0x00080000 0x00020000"), 1)
        << "blocks before the bad one are erased";
}

TEST_F(NandModel, PowerCutAfterTheConfiguredNumberOfFlashOperations)
{
    TearDown();
    boot("power_cut_after = 3\n");
    EXPECT_EQ(nand_erase(&nand_, whole_, 0, kBlock), 0);
    EXPECT_EQ(program(whole_, 0, page_of('1')), static_cast<ssize_t>(kPage));
    EXPECT_EQ(power_cuts, 0);
    EXPECT_EQ(program(whole_, kPage, page_of('2')), static_cast<ssize_t>(kPage));
    EXPECT_EQ(power_cuts, 1) << "the third operation completes, then the power goes";
    EXPECT_EQ(program(whole_, 2 * kPage, page_of('3')), -EIO);
    EXPECT_EQ(power_cuts, 1);
    EXPECT_TRUE(page_is(whole_, kPage, '2'));
    EXPECT_TRUE(page_is(whole_, 2 * kPage, '\xff'));
    std::vector<std::string> lines = read_journal(dir_);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "powercut after 3 flash operations"), 1);
}

TEST_F(NandModel, SeededBytesReadBackAmidErasedBytesAndCountAsProgrammed)
{
    ASSERT_EQ(nand_seed(&nand_, 100, "seed", 4), 0);
    std::string raw(4096, '\0');
    ASSERT_EQ(nand_peek(&nand_, 0, &raw[0], raw.size()), 0);
    EXPECT_EQ(raw, std::string(100, '\xff') + "seed" + std::string(4096 - 104, '\xff'));
    EXPECT_EQ(program(whole_, 0, page_of('x')), -EIO);
    EXPECT_EQ(program(whole_, kPage, page_of('x')), static_cast<ssize_t>(kPage));
    EXPECT_EQ(nand_seed(&nand_, nand_.board.nand.size - 2, "abc", 3), -EINVAL);
}

// Seeds go into a NAND that prepare_state makes, never into one that is there.
TEST(NandSeeds, FreshNandGetsTheSeedsOnceAndBadSeedsLeaveNoNand)
{
    const testkit::TempDir temp("vboard-seed");
    std::string base = temp.path(), dir = base + "/state";
    {
        std::ofstream(base + "/pit.bin") << "PIT!";
        std::ofstream(base + "/big.bin") << std::string(kBlock + 1, 'b');
    }
    std::string text =
        "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n"
        "partition = first 1M\npartition = second rest\n"
        "seed = second+2K pit.bin\nseed = 0x10 " +
        base + "/pit.bin\n";
    std::string error;
    ASSERT_EQ(prepare_state(dir, &text, &error, base), 0) << error;
    Nand nand;
    ASSERT_EQ(nand_open(&nand, dir, nullptr, &error), 0) << error;
    std::string raw(0x100000 + 4 * kPage, '\0');
    ASSERT_EQ(nand_peek(&nand, 0, &raw[0], raw.size()), 0);
    EXPECT_EQ(raw.substr(0x10, 4), "PIT!");
    EXPECT_EQ(raw.substr(0x100000 + kPage - 1, 6), "\xffPIT!\xff");
    MtdRegion second;
    ASSERT_EQ(mtd_region(nand.board, 2, &second), 0);
    EXPECT_EQ(nand_program(&nand, second, kPage, "x", 1), -EIO) << "a seeded page counts as programmed";
    MtdRegion whole;
    ASSERT_EQ(mtd_region(nand.board, 0, &whole), 0);
    ASSERT_EQ(nand_erase(&nand, second, 0, kBlock), 0);
    nand_close(&nand);
    ASSERT_EQ(prepare_state(dir, &text, &error, base), 0) << error;
    ASSERT_EQ(nand_open(&nand, dir, nullptr, &error), 0) << error;
    ASSERT_EQ(nand_peek(&nand, 0x100000 + kPage, &raw[0], 4), 0);
    EXPECT_EQ(raw.substr(0, 4), "\xff\xff\xff\xff") << "a later boot keeps the flash as it was";
    nand_close(&nand);

    for (const std::string bad : {"seed = first missing.bin\n", "seed = first+896K big.bin\n"}) {
        std::string other = base + "/bad";
        std::filesystem::remove_all(other);
        std::string board = text + bad;
        EXPECT_EQ(prepare_state(other, &board, &error, base), -1) << bad;
        EXPECT_NE(error.find("line 9: "), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(other + "/nand.img")) << bad;
    }
    EXPECT_NE(error.find("does not fit in its partition"), std::string::npos) << error;
}
