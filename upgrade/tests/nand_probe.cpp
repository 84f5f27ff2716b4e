// The NAND module on the emulated devices. This program runs on a virtual
// board (upg_board_test starts it there); it reads the board's journal to
// see the flash operations each call makes.
#include "nand.h"
#include "raw_bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t K = 1024, kBlock = 128 * K, kPage = 2048;
constexpr uint32_t kData = 4; // /dev/mtd4: 512 KiB at 3.5 MiB, block 3 bad

std::vector<std::string> journal()
{
    std::ifstream in(std::string(std::getenv("VBOARD_STATE")) + "/journal");
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

// Journal lines written by the call f, that begin with prefix.
template <typename F> std::vector<std::string> ops_of(F f, const std::string &prefix = "")
{
    size_t before = journal().size();
    f();
    std::vector<std::string> all = journal(), out;
    for (size_t i = before; i < all.size(); ++i)
        if (all[i].rfind(prefix, 0) == 0 && all[i].rfind("ioctl", 0) != 0 && all[i].rfind("open", 0) != 0 &&
            all[i].rfind("close", 0) != 0)
            out.push_back(all[i]);
    return out;
}

std::string quiet(const std::function<void()> &f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

std::vector<uint8_t> bytes(size_t n, uint8_t seed)
{
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return b;
}

TEST(Nand, WholeBlocksAreErasedOnceAndNeverRead)
{
    auto data = bytes(2 * kBlock, 1);
    std::vector<std::string> ops;
    quiet([&] { ops = ops_of([&] { ASSERT_EQ(i4MpDataWrite(kData, 0, data.data(), 2 * kBlock), 0); }); });
    EXPECT_EQ(ops, (std::vector<std::string>{"erase mtd4 0x00000000 0x00020000", "program mtd4 block 0 pages 64",
                                             "erase mtd4 0x00020000 0x00020000", "program mtd4 block 1 pages 64"}));
    std::vector<uint8_t> back(2 * kBlock);
    quiet([&] { ASSERT_EQ(i4MpDataRead(kData, 0, back.data(), 2 * kBlock), 0); });
    EXPECT_EQ(back, data);
}

TEST(Nand, TenBytesInsideABlockRewriteItAroundThem)
{
    auto old = bytes(kBlock, 2);
    quiet([&] { ASSERT_EQ(i4MpDataWrite(kData, 0, old.data(), kBlock), 0); });
    uint8_t ten[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    std::vector<std::string> ops;
    quiet([&] { ops = ops_of([&] { ASSERT_EQ(i4MpDataWrite(kData, 5 * kPage + 100, ten, 10), 0); }); });
    EXPECT_EQ(ops, (std::vector<std::string>{"read mtd4 block 0 pages 64", "erase mtd4 0x00000000 0x00020000",
                                             "program mtd4 block 0 pages 64"}));
    std::vector<uint8_t> back(kBlock);
    quiet([&] { ASSERT_EQ(i4MpDataRead(kData, 0, back.data(), kBlock), 0); });
    std::copy(ten, ten + 10, old.begin() + 5 * kPage + 100);
    EXPECT_EQ(back, old);
}

TEST(Nand, ReadsGoPageByPageFromAnUnalignedStart)
{
    auto data = bytes(kBlock, 3);
    quiet([&] { ASSERT_EQ(i4MpDataWrite(kData, 0, data.data(), kBlock), 0); });
    std::vector<uint8_t> back(3000);
    std::vector<std::string> ops;
    quiet([&] { ops = ops_of([&] { ASSERT_EQ(i4MpDataRead(kData, 1000, back.data(), 3000), 0); }); });
    EXPECT_EQ(ops, (std::vector<std::string>{"read mtd4 block 0 pages 2"}));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin() + 1000));
}

TEST(Nand, TransfersMustFitTheDevice)
{
    std::vector<uint8_t> big(512 * K + kPage);
    std::string out = quiet([&] { EXPECT_EQ(i4MpDataWrite(kData, 0, big.data(), 512 * K + kPage), -1); });
    EXPECT_NE(out.find("[i4MpDataWrite] <i4MpDataWrite,"), std::string::npos) << out;
    EXPECT_NE(out.find("Image 526336 bytes, NAND page 2048 bytes, OOB area 64 bytes, device size 524288 bytes\n"),
              std::string::npos);
    EXPECT_NE(out.find("[i4MpDataWrite] Error : Input file can not fit into device"), std::string::npos);
    out = quiet([&] { EXPECT_EQ(i4MpDataRead(kData, kBlock, big.data(), 512 * K), -1); });
    EXPECT_NE(out.find("[i4MpDataWrite] <i4MpDataRead,"), std::string::npos) << "the read uses the write's texts";
    // Only whole pages count: a partial last page past the end still fits,
    // but cannot be read.
    out = quiet([&] { EXPECT_EQ(i4MpDataRead(kData, 512 * K - kPage, big.data(), kPage + 10), -1); });
    EXPECT_NE(out.find("Can't read enough data, u4RdByteCnt = 0x800, u4MemLen = 0x80a"), std::string::npos) << out;
}

TEST(Nand, BadBlockCheck)
{
    std::string out;
    out = quiet([&] { EXPECT_EQ(i4CheckPartitionBadBlock(kData, 512 * K), 1); });
    EXPECT_NE(out.find("[i4CheckPartitionBadBlock]=> Bad block at partition_4, offset 0x60000 \n"), std::string::npos)
        << out;
    quiet([&] { EXPECT_EQ(i4CheckPartitionBadBlock(kData, 3 * kBlock + 100), 0) << "blocks below the length"; });
    quiet([&] { EXPECT_EQ(i4CheckPartitionBadBlock(9, kBlock), -1) << "no such device"; });
}

// An ntblfmt PIT of this board, the data partition growing by one block.
raw::Bytes board_pit()
{
    raw::Bytes b(5 * 64);
    b.words(0, 2, 0x8530EADC);
    b.u32(12, 64);
    b.u32(16, 64);
    b.u32(20, 4);
    raw::pit_record(b, 64, "part_info", 1, 0, 0, 512 * K);
    raw::pit_record(b, 128, "part_info_1", 2, 0, 512 * K, 1536 * K);
    raw::pit_record(b, 192, "part_info_2", 3, 0, 2048 * K, 1536 * K);
    raw::pit_record(b, 256, "data", 4, 0x3000, 3584 * K, 384 * K);
    return b;
}

TEST(Nand, AdaptivePitIsStoredAndPartitionsAreReachedThroughIt)
{
    raw::Bytes pit = board_pit();
    std::vector<std::string> ops;
    std::string out = quiet([&] {
        ops = ops_of([&] { ASSERT_EQ(i4SetNewFlashPIT(pit.b.data(), static_cast<uint32_t>(pit.b.size())), 0); });
    });
    EXPECT_NE(out.find("[NAND] store adpt pit in part_info_1 partition\n[UPG PROG i4NFBPartitionWrite]u4DevId = 2, "
                       "u8Offset = 0x100000"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[NAND] set new flash pit success\n"), std::string::npos);
    // The adaptive PIT at 1 MiB of part_info_1 (block 12) and part_info_2 (block 24).
    EXPECT_EQ(ops, (std::vector<std::string>{"read mtd0 block 12 pages 64", "erase mtd0 0x00180000 0x00020000",
                                             "program mtd0 block 12 pages 64", "read mtd0 block 24 pages 64",
                                             "erase mtd0 0x00300000 0x00020000", "program mtd0 block 24 pages 64"}));
    std::vector<uint8_t> stored(5 * 64);
    quiet([&] { ASSERT_EQ(i4MpDataRead(2, 1024 * K, stored.data(), 5 * 64), 0); });
    raw::Bytes s;
    s.b = stored;
    EXPECT_EQ(s.get32(0), 0x8530AAAAu);
    EXPECT_EQ(s.get32(256 + 24), 3584 * K);
    EXPECT_EQ(s.get32(256 + 28), 512 * K) << "type 3 grows by one block";

    auto data = bytes(kBlock, 4);
    std::vector<std::string> bracket;
    quiet([&] { bracket = ops_of([&] { ASSERT_EQ(i4UpgPartitionWrite(4, kBlock, data.data(), kBlock), 0); }); });
    std::vector<std::string> all = journal();
    size_t n = all.size();
    EXPECT_EQ(bracket,
              (std::vector<std::string>{"erase mtd0 0x003a0000 0x00020000", "program mtd0 block 29 pages 64"}));
    bool set = false, cleared = false;
    for (size_t i = n - 12; i < n; ++i) {
        set = set || all[i] == "ioctl /dev/mtd4 NOCPT mtd4 1 = 0";
        cleared = cleared || all[i] == "ioctl /dev/mtd4 NOCPT mtd4 0 = 0";
    }
    EXPECT_TRUE(set && cleared) << "nocpt brackets the write";
    std::vector<uint8_t> back(kBlock);
    quiet([&] { ASSERT_EQ(i4UpgPartitionRead(4, kBlock, back.data(), kBlock), 0); });
    EXPECT_EQ(back, data);
    std::string refused = quiet([&] { EXPECT_EQ(i4NFBPartitionWrite(7, 0, data.data(), 10), -1); });
    EXPECT_NE(refused.find("No partition 7 in the adaptive PIT"), std::string::npos);
}

TEST(BigBlocks, AdaptivePitGoesOneBlockIn)
{
    raw::Bytes b(3 * 64);
    b.words(0, 2, 0x8530EADC);
    b.u32(12, 64);
    b.u32(16, 64);
    b.u32(20, 2);
    raw::pit_record(b, 64, "part_info", 1, 0, 0, 2048 * K);
    raw::pit_record(b, 128, "part_info_1", 2, 0, 2048 * K, 8192 * K);
    std::vector<std::string> ops;
    std::string out = quiet([&] {
        ops = ops_of([&] { ASSERT_EQ(i4SetNewFlashPIT(b.b.data(), static_cast<uint32_t>(b.b.size())), 0); }, "erase");
    });
    EXPECT_EQ(get_block_size(), 2048 * 1024);
    EXPECT_EQ(ops, (std::vector<std::string>{"erase mtd0 0x00400000 0x00200000"})) << "at 2 MiB of part_info_1";
    EXPECT_NE(out.find("[NAND] no partition part_info_2\n"), std::string::npos) << out;
}

} // namespace
