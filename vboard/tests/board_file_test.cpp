#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "vboard/board.h"

using namespace vboard;

namespace {

const char kSmallBoard[] =
    "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n"
    "partition = part_info 1M\npartition = data rest\n";

std::string error_of(const std::string &text)
{
    BoardConfig board;
    std::string error;
    EXPECT_EQ(parse_board(text, &board, &error), -1) << text;
    return error;
}

} // namespace

TEST(BoardFile, DefaultBoardHasTheGeometryAndPartitionsOfTheUpgrade)
{
    BoardConfig board;
    std::string error;
    ASSERT_EQ(parse_board(kDefaultBoardText, &board, &error), 0) << error;
    EXPECT_EQ(board.nand.size, 256ull << 20);
    EXPECT_EQ(board.nand.erasesize, 128u << 10);
    EXPECT_EQ(board.nand.writesize, 2048u);
    EXPECT_EQ(board.nand.oobsize, 64u);
    EXPECT_EQ(board.power_cut_after, 0u);
    EXPECT_TRUE(board.bad_blocks.empty());
    std::vector<std::string> names;
    uint64_t end = 0;
    for (const Partition &p : board.partitions) {
        names.push_back(p.name);
        EXPECT_EQ(p.offset, end) << p.name << " follows the partition before it";
        end = p.offset + p.size;
    }
    EXPECT_EQ(end, board.nand.size);
    for (const char *needed : {"part_info", "part_info_1", "part_info_2", "upg_status", "mac_addr", "key_block",
                               "fe_bin", "fe_power_curve", "fe_parameters", "kernel", "rootfs"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), needed), names.end()) << needed;
    }
    // The adaptive PIT lands 1 MiB into part_info_1 and part_info_2.
    for (const Partition &p : board.partitions) {
        if (p.name == "part_info_1" || p.name == "part_info_2") {
            EXPECT_GT(p.size, 1u << 20);
        }
    }
}

TEST(BoardFile, ProcMtdIsInTheKernelFormat)
{
    BoardConfig board;
    std::string error;
    ASSERT_EQ(parse_board(std::string(kSmallBoard) + "nand.name = chip\n", &board, &error), 0) << error;
    EXPECT_EQ(proc_mtd_text(board),
              "dev:    size   erasesize  name\n"
              "mtd0: 00400000 00020000 \"chip\"\n"
              "mtd1: 00100000 00020000 \"part_info\"\n"
              "mtd2: 00300000 00020000 \"data\"\n");
    MtdRegion region;
    ASSERT_EQ(mtd_region(board, 2, &region), 0);
    EXPECT_EQ(region.base, 1u << 20);
    EXPECT_EQ(region.size, 3u << 20);
    EXPECT_EQ(mtd_region(board, 3, &region), -1);
}

TEST(BoardFile, FaultsAndExplicitOffsets)
{
    BoardConfig board;
    std::string error;
    ASSERT_EQ(parse_board(std::string(kSmallBoard) +
                              "bad_blocks = 3, 7 9\nfail_program = 0x100800\npower_cut_after = 12\n"
                              "partition = late 256K 0x200000\n",
                          &board, &error),
              0)
        << error;
    EXPECT_EQ(board.bad_blocks, (std::vector<uint64_t>{3, 7, 9}));
    EXPECT_EQ(board.fail_program, (std::vector<uint64_t>{0x100800}));
    EXPECT_EQ(board.power_cut_after, 12u);
    ASSERT_EQ(board.partitions.size(), 3u);
    EXPECT_EQ(board.partitions[2].offset, 0x200000u);
}

TEST(BoardFile, RefusesBadBoardsWithTheLine)
{
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "colour = blue\n"), "line 7: unknown key 'colour'");
    EXPECT_EQ(error_of("nand.size = lots\n"), "line 1: bad number 'lots' for nand.size");
    EXPECT_EQ(error_of("just words\n"), "line 1: expected 'key = value'");
    EXPECT_NE(error_of("nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\npartition = odd 100K\n")
                  .find("not whole erase blocks"),
              std::string::npos);
    EXPECT_NE(error_of("nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\npartition = big 8M\n")
                  .find("ends beyond the NAND"),
              std::string::npos);
    EXPECT_NE(error_of("nand.size = 4M\nnand.erasesize = 100K\nnand.writesize = 2K\n").find("powers of two"),
              std::string::npos);
    EXPECT_NE(error_of(std::string(kSmallBoard) + "bad_blocks = 32\n").find("beyond the NAND"), std::string::npos);
    EXPECT_NE(error_of(std::string(kSmallBoard) + "partition = \"quoted\" 128K\n").find("bad partition name"),
              std::string::npos);
}

TEST(BoardFile, Sizes)
{
    uint64_t v = 0;
    EXPECT_EQ(parse_size("0x20000", &v), 0);
    EXPECT_EQ(v, 0x20000u);
    EXPECT_EQ(parse_size("2K", &v), 0);
    EXPECT_EQ(v, 2048u);
    EXPECT_EQ(parse_size("1G", &v), 0);
    EXPECT_EQ(v, 1ull << 30);
    EXPECT_EQ(parse_size("-1", &v), -1);
    EXPECT_EQ(parse_size("12x", &v), -1);
    EXPECT_EQ(parse_size("M", &v), -1);
}

TEST(BoardFile, SeedsArePlacedInTheirPartitionOrOnTheWholeNand)
{
    BoardConfig board;
    std::string error;
    ASSERT_EQ(parse_board(std::string(kSmallBoard) +
                              "seed = data tables/pit.bin\nseed = data+0x20000 b.bin\nseed = 0x3000 /abs/c.bin\n",
                          &board, &error),
              0)
        << error;
    ASSERT_EQ(board.seeds.size(), 3u);
    EXPECT_EQ(board.seeds[0].file, "tables/pit.bin");
    EXPECT_EQ(board.seeds[0].offset, 0x100000u);
    EXPECT_EQ(board.seeds[0].limit, 0x400000u) << "the end of data";
    EXPECT_EQ(board.seeds[1].offset, 0x120000u);
    EXPECT_EQ(board.seeds[2].offset, 0x3000u);
    EXPECT_EQ(board.seeds[2].limit, 0x400000u) << "the end of the NAND";
    EXPECT_EQ(board.seeds[2].line, 9);

    EXPECT_EQ(error_of(std::string(kSmallBoard) + "seed = nowhere x.bin\n"),
              "line 7: seed place 'nowhere' is no partition and no offset");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "seed = part_info+1M x.bin\n"),
              "line 7: seed place 'part_info+1M' lies beyond its partition");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "seed = 4M x.bin\n"),
              "line 7: seed place '4M' lies beyond its partition");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "seed = data\n"), "line 7: seed needs WHERE FILE");
}

TEST(BoardFile, IoctlFaultsByDeviceRequestAndErrno)
{
    BoardConfig board;
    std::string error;
    ASSERT_EQ(parse_board(std::string(kSmallBoard) +
                              "fail_ioctl = mtd0 MEMGETINFO EIO\nfail_ioctl = mtd2 NOCPT 1 after 3\n",
                          &board, &error),
              0)
        << error;
    ASSERT_EQ(board.ioctl_faults.size(), 2u);
    EXPECT_EQ(board.ioctl_faults[0].unit, 0);
    EXPECT_EQ(board.ioctl_faults[0].request, "MEMGETINFO");
    EXPECT_EQ(board.ioctl_faults[0].error, EIO);
    EXPECT_EQ(board.ioctl_faults[0].after, 0u);
    EXPECT_EQ(board.ioctl_faults[1].unit, 2);
    EXPECT_EQ(board.ioctl_faults[1].error, EPERM);
    EXPECT_EQ(board.ioctl_faults[1].after, 3u);

    EXPECT_EQ(error_of(std::string(kSmallBoard) + "fail_ioctl = mtd0 MEMREAD EIO\n"),
              "line 7: fail_ioctl: unknown request 'MEMREAD'");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "fail_ioctl = mtd0 MEMGETINFO EWHAT\n"),
              "line 7: fail_ioctl: unknown errno 'EWHAT'");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "fail_ioctl = /dev/mtd0 MEMGETINFO EIO\n"),
              "line 7: fail_ioctl needs mtdN REQUEST ERRNO [after N]");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "fail_ioctl = mtd0 MEMGETINFO EIO after\n"),
              "line 7: fail_ioctl needs mtdN REQUEST ERRNO [after N]");
    EXPECT_EQ(error_of(std::string(kSmallBoard) + "fail_ioctl = mtd3 MEMGETINFO EIO\n"),
              "fail_ioctl names mtd3, which the board lacks");
}
