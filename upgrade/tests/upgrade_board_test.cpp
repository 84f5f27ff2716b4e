// upgprog on the virtual board: whole upgrades in both image layouts, the
// flash operations they cost, and the failure paths.
#include "board_support.h"
#include "raw_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <utility>
#include <set>

using namespace upgtest;
using vboard::testkit::Board;
using vboard::testkit::Result;

namespace {

const std::string kFiles[] = {"/network.ini", "/key_block.dat", "/fe_bin", "/fe_power_curve", "/fe_parameters"};

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class UpgradeOnBoard : public testing::Test {
protected:
    void boot(const std::string &faults = "", const Layout &layout = old_layout())
    {
        board = std::make_unique<Board>(board_text(layout, faults));
        seed_old_board(*board, data, status_record(0, {4}), status_record(0, {4}));
    }
    std::string at(const Part &p, uint32_t off, size_t len) const { return board->read_nand(p.offset + off, len); }
    std::string at_new(const std::string &name, size_t len) const { return at(new_layout()[name], 0, len); }
    std::string status_copy(int copy) const
    {
        return board->read_nand(new_layout()["upg_status"].offset + copy * kBlock, 176);
    }
    void expect_no_violation() const
    {
        for (const auto &line : board->journal())
            EXPECT_FALSE(has(line, "violation")) << line;
    }
    void expect_flash_untouched() const
    {
        FlashCounts c = flash_counts(board->journal());
        EXPECT_EQ(c.erases + c.programs, 0) << "the flash must not change";
    }

    // Everything a complete upgrade leaves on the flash.
    void expect_new_layout_in_place(const std::vector<Bin> &bins)
    {
        const Layout &n = new_layout();
        for (const auto &b : bins) {
            if (b.part == "boot_a")
                continue;
            EXPECT_TRUE(at(n[b.part], b.at, b.data.size()) == b.data) << b.part << " at its new place";
        }
        EXPECT_TRUE(at(n["boot_a"], 0, n["boot_a"].size) == before_boot) << "boot_ partitions are not written";
        std::string pit = ntbl_pit(n), adpt = adaptive_pit(n);
        for (const char *p : {"part_info", "part_info_1", "part_info_2"})
            EXPECT_TRUE(at(n[p], 0, pit.size()) == pit) << p << " holds the image PIT";
        for (const char *p : {"part_info_1", "part_info_2"})
            EXPECT_TRUE(at(n[p], M, adpt.size()) == adpt) << p << " holds the adaptive PIT";
        for (const auto &d : data)
            EXPECT_TRUE(at(n[d.first], 0, d.second.size()) == d.second) << d.first << " moved with its bytes";
        EXPECT_EQ(at(n["key_block"], 128 * K, 128 * K), std::string(128 * K, '\xFF'))
            << "the larger new partition keeps its other bytes";
        EXPECT_EQ(status_copy(0), status_record(0, {4}));
        EXPECT_EQ(status_copy(1), status_record(0, {4}));
        for (const auto &f : kFiles)
            EXPECT_FALSE(board_file_exists(*board, f)) << f << " left behind";
        expect_no_violation();
    }

    void expect_finished_board(const Result &r)
    {
        EXPECT_TRUE(has(r.out, "<UPG_PROG> UPG Process run complete! @Line ")) << r.out;
        EXPECT_TRUE(has(r.out, "<Olvik LED>Olvik LED init upg_led_set\n"));
        auto leds = board->leds();
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(leds[i].red, 5) << i;
            EXPECT_EQ(leds[i].green, 10) << i;
            EXPECT_EQ(leds[i].blue, 4) << i;
        }
        EXPECT_EQ(leds[4].red + leds[4].green + leds[4].blue, 0);
        EXPECT_EQ(board->journal_lines("ioctl /dev/i2c I2C_SETUP 5 6 = 0").size(), 1u);
        // Three channels and the update register per LED, then one more update.
        EXPECT_EQ(board->journal_lines("ioctl /dev/i2c I2C_WRITE 0x54 ").size(), 17u);
        EXPECT_EQ(board->journal_lines("ioctl /dev/i2c I2C_WRITE 0x54 reg 0x0f value 0x05 = 0").size(), 1u);
        EXPECT_EQ(board->journal_lines("ioctl /dev/i2c I2C_WRITE 0x54 reg 0x04 value 0x04 = 0").size(), 1u)
            << "blue of LED 3";
        EXPECT_EQ(board->journal_lines("reboot requested by upgprog").size(), 1u);
        EXPECT_EQ(r.status, 0) << "the board was reset";
    }

    void run_full(const std::string &image, const std::string &layout_line)
    {
        put_image(*board, image);
        before_boot = at(new_layout()["boot_a"], 0, new_layout()["boot_a"].size);
        Result r = run_upgrade(*board, false);
        EXPECT_FALSE(r.timed_out);
        EXPECT_TRUE(has(r.out, layout_line)) << r.out;
        EXPECT_TRUE(has(r.out, "<UPG_PROG>skip the bootloader partition\n"));
        EXPECT_TRUE(has(r.out, "1.set_upg_status_ntblfmt t_upg_status.u4_progress=1!\n"));
        EXPECT_TRUE(has(r.out, "2.set_upg_status_ntblfmt t_upg_status.u4_progress=0!\n"));
        expect_new_layout_in_place(bins);
        expect_finished_board(r);
    }

    std::map<std::string, std::string> data = device_data(1);
    std::vector<Bin> bins = default_bins(7);
    std::unique_ptr<Board> board;
    std::string before_boot;
};

TEST_F(UpgradeOnBoard, NtblfmtImageFromUpgimage)
{
    boot();
    run_full(upgimage_image(bins, "ntblfmt", board->work()), "<UPG_PROG> upg sw is new version.");
}

TEST_F(UpgradeOnBoard, OldLayoutImageWrittenByHand)
{
    boot();
    run_full(raw_old_layout_image(bins), "<UPG_PROG> upg sw is old version.");
}

// The kernel's view of a layout: "/proc/mtd" as the next boot shows it.
std::string proc_mtd(const Layout &l)
{
    std::string text = "dev:    size   erasesize  name\nmtd0: 01000000 00020000 \"upgtest_nand\"\n";
    char line[80];
    for (size_t k = 0; k < l.parts.size(); ++k) {
        std::snprintf(line, sizeof line, "mtd%zu: %08x 00020000 \"%s\"\n", k + 1, l.parts[k].size,
                      l.parts[k].name.c_str());
        text += line;
    }
    return text;
}

// After the upgrade and the reboot the board runs on the new layout: the
// kernel sees it, the partitions hold what the upgrade put there, and the
// same upgrade once more keeps the device data.
TEST_F(UpgradeOnBoard, NextBootUsesTheNewLayoutAndASecondUpgradeKeepsTheDeviceData)
{
    boot();
    Result before = board->run({"cat", "/proc/mtd"});
    EXPECT_EQ(before.out, proc_mtd(old_layout()));
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    ASSERT_EQ(run_upgrade(*board, false).status, 0);
    const std::string after_first = board->read_nand(0, 16 * M);

    Result mtd = board->run({"cat", "/proc/mtd"});
    EXPECT_EQ(mtd.out, proc_mtd(new_layout()));
    std::printf("/proc/mtd before the upgrade:\n%s/proc/mtd on the next boot:\n%s", before.out.c_str(),
                mtd.out.c_str());
    const Layout &n = new_layout();
    std::string script;
    for (const auto &name : device_data_names())
        script += "cat /dev/mtd" + std::to_string(n.id(name)) + "; ";
    script += "cat /dev/mtd" + std::to_string(n.id("kernel")) + " /dev/mtd" + std::to_string(n.id("rootfs"));
    Result read = board->run({"sh", "-c", script});
    ASSERT_EQ(read.status, 0) << read.err;
    size_t at = 0;
    auto next = [&](const std::string &name) {
        return read.out.substr(std::exchange(at, at + n[name].size), n[name].size);
    };
    for (const auto &name : device_data_names())
        EXPECT_TRUE(next(name).compare(0, data[name].size(), data[name]) == 0) << name << " through its new device";
    std::string kernel = next("kernel"), rootfs = next("rootfs");
    EXPECT_TRUE(kernel.compare(0, bins[1].data.size(), bins[1].data) == 0) << "kernel through its new device";
    EXPECT_TRUE(rootfs.compare(bins[2].at, bins[2].data.size(), bins[2].data) == 0) << "rootfs through its new device";

    Result again = run_upgrade(*board, true);
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_TRUE(board->read_nand(0, 16 * M) == after_first) << "the second upgrade leaves the flash as the first did";
    for (const auto &d : data)
        EXPECT_TRUE(at_new(d.first, d.second.size()) == d.second) << d.first;
    EXPECT_EQ(board->journal_lines("layout: differs from the board file").size(), 3u) << "every boot after the upgrade";
    expect_no_violation();
}

// The economy of one whole upgrade, from the journal.
TEST_F(UpgradeOnBoard, EveryBlockErasedOnceAndOnlyPartialBlocksRead)
{
    boot();
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, true);
    ASSERT_EQ(r.status, 0) << r.out;
    auto journal = board->journal();
    const Layout &n = new_layout();
    for (const auto &e : erases_per_block(journal, "mtd0"))
        EXPECT_EQ(e.second, 1) << "block " << e.first;
    // Blocks written only in part: the PITs, the adaptive PITs, the kernel's
    // last block and the root file system's first and last.
    auto block = [](uint32_t off) { return static_cast<long>(off / kBlock); };
    std::set<long> partial = {block(n["part_info"].offset),       block(n["part_info_1"].offset),
                              block(n["part_info_2"].offset),     block(n["part_info_1"].offset + M),
                              block(n["part_info_2"].offset + M), block(n["kernel"].offset + 1200000),
                              block(n["rootfs"].offset),          block(n["rootfs"].offset + 0x800 + 400000)};
    std::set<long> read;
    for (const auto &b : reads_per_block(journal, "mtd0")) {
        read.insert(b.first);
        EXPECT_EQ(b.second, kBlock / kPage) << "block " << b.first << " read once, page by page";
    }
    EXPECT_EQ(read, partial);
    FlashCounts whole = flash_counts(journal, "mtd0");
    auto erased = erases_per_block(journal, "mtd0");
    EXPECT_EQ(whole.programs, static_cast<long>(erased.size()) * (kBlock / kPage)) << "every page once";
    // Kernel 10 blocks, rootfs 4, device data 6, PITs 3, adaptive PITs 2.
    EXPECT_EQ(erased.size(), 25u);
    FlashCounts status = flash_counts(journal, "mtd4");
    EXPECT_EQ(status.erases, 4) << "two copies, set and cleared";
    FlashCounts all = flash_counts(journal);
    std::printf(
        "journal summary of one upgrade: %ld erases, %ld page programs, %ld page reads "
        "(mtd0: %ld erases, %ld programs, %ld reads; upg_status: %ld erases, %ld programs, %ld reads)\n",
        all.erases, all.programs, all.reads, whole.erases, whole.programs, whole.reads, status.erases, status.programs,
        status.reads);
    expect_no_violation();
}

TEST_F(UpgradeOnBoard, PartialBlocksKeepTheirOldBytes)
{
    boot();
    const Part &root = new_layout()["rootfs"];
    std::string around = pattern(2 * kBlock, 99);
    board->seed_nand(root.offset, around.substr(0, kBlock));
    uint32_t last = (root.offset + 0x800 + 400000) / kBlock * kBlock;
    board->seed_nand(last, around.substr(kBlock));
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    ASSERT_EQ(run_upgrade(*board, true).status, 0);
    EXPECT_TRUE(board->read_nand(root.offset, 0x800) == around.substr(0, 0x800));
    uint32_t end = root.offset + 0x800 + 400000;
    EXPECT_TRUE(board->read_nand(end, last + kBlock - end) == around.substr(kBlock + (end - last)));
    expect_no_violation();
}

TEST_F(UpgradeOnBoard, MissingOrTruncatedImageChangesNothing)
{
    boot();
    Result none = run_upgrade(*board, false);
    EXPECT_EQ(none.status, 1);
    EXPECT_TRUE(has(none.out, "<UPG_PROG> Err: Open /root/ota.zip fail! @Line ")) << none.out;
    std::string image = upgimage_image(bins, "ntblfmt", board->work());
    put_image(*board, image.substr(0, 0x200));
    Result cut = run_upgrade(*board, false);
    EXPECT_EQ(cut.status, 1) << cut.out;
    expect_flash_untouched();
}

TEST_F(UpgradeOnBoard, ImageEndingInsideItsDataFailsWithTheBitSet)
{
    boot();
    std::string image = upgimage_image(bins, "ntblfmt", board->work());
    put_image(*board, image.substr(0, image.size() - 1000));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(status_copy(0), status_record(1, {4})) << "the interrupted upgrade stays visible";
    EXPECT_EQ(status_copy(1), status_record(1, {4}));
    EXPECT_TRUE(at(new_layout()["part_info"], 0, 64) == ntbl_pit(old_layout()).substr(0, 64))
        << "the PIT is written only after the data";
    for (const auto &f : kFiles)
        EXPECT_TRUE(board_file_exists(*board, f)) << f << " is kept for the next run";
}

TEST_F(UpgradeOnBoard, ImageTablesThatDoNotFitThisBoardChangeNothing)
{
    boot();
    std::string image = raw_old_layout_image(bins);
    std::string other_size = image;
    other_size[19] = 0x02; // 32 MiB
    put_image(*board, other_size);
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "<UPG_PROG> Err: upg_linux_read_bin_file fail!")) << r.out;

    std::string odd_size = image;
    odd_size[24] = static_cast<char>(odd_size[24] | 0x04);
    put_image(*board, odd_size);
    r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "<UPG_PROG> Err: invalid pit size! @Line ")) << r.out;
    expect_flash_untouched();
}

// The status record is read through the NAND's ntblfmt table only; at the
// end it is written into the image's new layout in either PIT layout.
TEST_F(UpgradeOnBoard, OldLayoutNandPitIsRefusedAndOldLayoutImagePitCarriesTheStatus)
{
    boot();
    raw::Bytes old_pit;
    old_pit.words(0, 8, 0x8530EADC);
    for (size_t k = 0; k < old_layout().parts.size(); ++k) {
        const Part &p = old_layout().parts[k];
        raw::pit_record(old_pit, 32 * (k + 1), p.name, static_cast<uint32_t>(k + 1), p.flags, p.offset, p.size);
    }
    old_pit.words(32 * (old_layout().parts.size() + 1), 8, 0xC0CAC01A);
    board->seed_nand(0, std::string(old_pit.b.begin(), old_pit.b.end()));
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "err: no partition--upg_status on mtd(4)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "{UPG_ERROR}:upg_linux_get_upg_status_ntblfmt error!\n"));
    expect_flash_untouched();

    boot();
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work(), "old"));
    r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(has(r.out, "err: no partition--upg_status on mtd(3)")) << r.out;
    EXPECT_TRUE(has(r.out, "2.set_upg_status_ntblfmt t_upg_status.u4_progress=0!\n"));
    EXPECT_TRUE(has(r.out, "<UPG_PROG> UPG Process run complete! @Line "));
    EXPECT_EQ(status_copy(0), status_record(0, {4})) << "the finished upgrade is not marked as interrupted";
    EXPECT_EQ(status_copy(1), status_record(0, {4}));
    EXPECT_TRUE(at(new_layout()["kernel"], 0, bins[1].data.size()) == bins[1].data);
    std::string old_head;
    for (int i = 0; i < 8; ++i)
        old_head += std::string("\xDC\xEA\x30\x85", 4);
    EXPECT_EQ(board->read_nand(0, 32), old_head) << "part_info holds the image's old-layout PIT";
    EXPECT_EQ(board->journal_lines("reboot requested by upgprog").size(), 1u);
}

TEST_F(UpgradeOnBoard, NandWithoutPartInfo)
{
    Layout renamed = old_layout();
    for (auto &p : renamed.parts)
        if (p.name.rfind("part_info", 0) == 0)
            p.name = "pinfo" + p.name.substr(9);
    board = std::make_unique<Board>(board_text(renamed));
    put_image(*board, raw_old_layout_image(bins));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, "<UPG_PROG> Err: no pit found on nand! @Line ")) << r.out;
    expect_flash_untouched();
}

TEST_F(UpgradeOnBoard, FailingPageMovesTheDataToTheNextBlock)
{
    const Part &kernel = new_layout()["kernel"];
    boot("fail_program = " + std::to_string(kernel.offset + kBlock + 3 * kPage) + "\n");
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, true);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "[i4NFBPartitionWrite] <i4NFBPartitionWrite> pwrite error at offset 0x"));
    EXPECT_TRUE(has(r.out, "[i4NFBPartitionWrite] <i4NFBPartitionWrite> Erasing failed write from 0x"));
    const std::string &k = bins[1].data;
    EXPECT_TRUE(at(kernel, 0, kBlock) == k.substr(0, kBlock));
    EXPECT_EQ(at(kernel, kBlock, kBlock), std::string(kBlock, '\xFF')) << "the failed block is left erased";
    EXPECT_TRUE(at(kernel, 2 * kBlock, k.size() - kBlock) == k.substr(kBlock));
    EXPECT_EQ(status_copy(0), status_record(0, {4}));
}

TEST_F(UpgradeOnBoard, FailingPageWithoutRoomReportsAPartialWrite)
{
    const Part &root = new_layout()["rootfs"];
    uint32_t at_end = root.size - 2 * kBlock;
    boot("fail_program = " + std::to_string(root.offset + at_end + 2 * kPage) + "\n");
    bins[2] = {"rootfs", at_end, pattern(2 * kBlock, 5)}; // up to the end of the partition
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out,
                    "[i4NFBPartitionWrite] <i4NFBPartitionWrite> Data was only partially written due to "
                    "error, imglen = 0x20000\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "[NAND]Partition write failed\n"));
    EXPECT_EQ(status_copy(0), status_record(1, {4}));
    EXPECT_TRUE(at(new_layout()["mac_addr"], 0, kBlock) == data["mac_addr"]) << "nothing runs into the next partition";
}

// The first page of the adaptive PIT's block will not program, and the
// erase that should retire the block fails too: the write ends there.
TEST_F(UpgradeOnBoard, FailedRetryEraseEndsTheWriteWithWhatItLeft)
{
    const Part &info1 = old_layout()["part_info_1"];
    boot("fail_program = " + std::to_string(info1.offset + M) + "\nfail_ioctl = mtd0 MEMERASE EIO after 1\n");
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has(r.out,
                    "[i4NFBPartitionWrite] <i4NFBPartitionWrite> MEMERASE failed !!\n"
                    "[i4NFBPartitionWrite] <i4NFBPartitionWrite> Data was only partially written due to "
                    "error, imglen = 0x340\n[NAND]Partition write failed\n"))
        << r.out;
    EXPECT_TRUE(has(r.out, "[NAND] store part_info_1 adpt pit failed\n"));
    EXPECT_EQ(status_copy(0), status_record(1, {4}));
}

// Image data goes in chunks of at most 1 MiB; an entry of length 0 writes nothing.
TEST_F(UpgradeOnBoard, BitEntriesAreCopiedInChunksOfOneMiB)
{
    boot();
    const Layout &n = new_layout();
    std::vector<Bin> sized = {{"kernel", 0, pattern(M, 21)}, {"rootfs", 0, pattern(M + 1, 22)}, {"rootfs", 2 * M, ""}};
    put_image(*board, raw_old_layout_image(sized));
    Result r = run_upgrade(*board, true);
    ASSERT_EQ(r.status, 0) << r.out;
    // (offset, length) of every partition write of one partition.
    auto writes_of = [&](const std::string &name) {
        std::vector<std::pair<unsigned, unsigned>> found;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            unsigned id = 0, off = 0, ptr = 0, len = 0;
            if (std::sscanf(line.c_str(),
                            "[UPG PROG i4NFBPartitionWrite]u4DevId = %u, u8Offset = 0x%x, u4MemPtr = "
                            "0x%x, u4MemLen = 0x%x",
                            &id, &off, &ptr, &len) == 4 &&
                static_cast<int>(id) == n.id(name))
                found.push_back({off, len});
        }
        return found;
    };
    using Writes = std::vector<std::pair<unsigned, unsigned>>;
    EXPECT_EQ(writes_of("kernel"), (Writes{{0, M}})) << "exactly 1 MiB: one chunk";
    EXPECT_EQ(writes_of("rootfs"), (Writes{{0, M}, {M, 1}})) << "1 MiB + 1: two chunks; length 0: none";
    EXPECT_TRUE(at(n["rootfs"], 0, M + 2) == sized[1].data + "\xFF");
}

TEST_F(UpgradeOnBoard, DeviceDataThatCannotBeWrittenBackStaysInItsFile)
{
    const Part &fe = new_layout()["fe_parameters"];
    boot("fail_program = " + std::to_string(fe.offset) + "\n");
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, true);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "Data was only partially written due to error, imglen = 0x20000"));
    EXPECT_TRUE(board_file_exists(*board, "/fe_parameters")) << "its only good copy";
    EXPECT_FALSE(board_file_exists(*board, "/fe_bin"));

    // The next upgrade (progress bit clear, the partition damaged) writes
    // that copy back instead of saving the partition over it, and drops a
    // half-written save that a power cut left.
    put_file(*board, "/fe_parameters.new", "half a save");
    board->set_board_text(board_text(old_layout()));
    Result again = run_upgrade(*board, true);
    ASSERT_EQ(again.status, 0) << again.out;
    EXPECT_TRUE(has(again.out, "<UPG_PROG> partition fe_parameters kept from an earlier run in /fe_parameters"));
    EXPECT_TRUE(at_new("fe_parameters", data["fe_parameters"].size()) == data["fe_parameters"]);
    EXPECT_FALSE(board_file_exists(*board, "/fe_parameters"));
    EXPECT_FALSE(board_file_exists(*board, "/fe_parameters.new"));
}

TEST_F(UpgradeOnBoard, StatusCopiesAreReadAndRepaired)
{
    struct Case {
        std::string a, b;
        const char *progress_line;
        std::string final_copy;
    } cases[] = {
        {std::string(176, '\x5A'), status_record(0x10, {4}), "u4_progress=16!\n", status_record(0x10, {4})},
        {status_record(0x20, {4}), status_record(0x40, {4, 9}), "u4_progress=32!\n", status_record(0x20, {4})},
        {std::string(176, '\xFF'), "", "u4_progress=0!\n", status_record(0, {4})},
    };
    for (const auto &c : cases) {
        board = std::make_unique<Board>(board_text(old_layout()));
        seed_old_board(*board, data, c.a, c.b);
        put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
        Result r = run_upgrade(*board, true);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(has(r.out, std::string("upg_linux_get_upg_status_ntblfmt t_upg_status.") + c.progress_line))
            << r.out;
        EXPECT_EQ(status_copy(0), c.final_copy);
        EXPECT_EQ(status_copy(1), c.final_copy);
    }
}

TEST_F(UpgradeOnBoard, FileOfAMissingPartitionIsWrittenToTheNewLayout)
{
    Layout without = old_layout();
    without.parts[without.id("fe_parameters") - 1].name = "spare";
    board = std::make_unique<Board>(board_text(without));
    auto partial = data;
    partial.erase("fe_parameters");
    seed_old_board(*board, partial, status_record(0, {4}), status_record(0, {4}));
    std::string pit = ntbl_pit(without);
    for (const char *p : {"part_info", "part_info_1", "part_info_2"})
        board->seed_nand(without[p].offset, pit);
    std::string kept = pattern(5000, 77);
    put_file(*board, "/fe_parameters", kept);
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, true);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "<UPG_PROG> no patition: fe_parameters, but file: /fe_parameters exist, continue!\n"));
    EXPECT_TRUE(at(new_layout()["fe_parameters"], 0, kept.size()) == kept);
}

} // namespace

namespace {

TEST(NandModuleOnBoard, ProbeRunsOnSmallAndBigBlockBoards)
{
    std::string probe = vboard::testkit::bin_dir() + "/../tests/upg_nand_probe";
    Board small(
        "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n"
        "partition = part_info 512K\npartition = part_info_1 1536K\npartition = part_info_2 1536K\n"
        "partition = data 512K\nbad_blocks = 31\n");
    Result r = small.run({probe, "--gtest_filter=Nand.*"}, 30000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "[  PASSED  ] 6 tests.")) << r.out;
    Board big(
        "nand.size = 64M\nnand.erasesize = 2M\nnand.writesize = 4K\nnand.oobsize = 128\n"
        "partition = part_info 2M\npartition = part_info_1 8M\npartition = rest rest\n");
    r = big.run({probe, "--gtest_filter=BigBlocks.*"}, 30000);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "[  PASSED  ] 1 test.")) << r.out;
}

} // namespace

namespace {

const char kInfoFailed[] = "<UPG_PROG> Err: cmd -2145366783! @Line "; // MEMGETINFO, 0x80204D01 as signed

// MEMGETINFO requests on /dev/mtd0 in a journal before the first line that
// begins with stop.
size_t whole_nand_infos_before(const std::vector<std::string> &journal, const std::string &stop)
{
    size_t n = 0;
    for (const auto &line : journal) {
        if (line.rfind(stop, 0) == 0)
            return n;
        n += line == "ioctl /dev/mtd0 MEMGETINFO = 0" ? 1 : 0;
    }
    ADD_FAILURE() << "no line " << stop;
    return n;
}

} // namespace

// MEMGETINFO failing where the image is scanned, where the NAND's PIT is read
// and where the status record is read: nothing on the flash changes.
TEST_F(UpgradeOnBoard, MemGetInfoFailureBeforeTheFlashIsTouched)
{
    boot("fail_ioctl = mtd0 MEMGETINFO EIO\n");
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, kInfoFailed)) << r.out;
    EXPECT_FALSE(has(r.out, "upg_linux_read_bin_file ---> Successfully")) << "the scan ends there";
    expect_flash_untouched();

    boot("fail_ioctl = mtd1 MEMGETINFO EIO\n"); // part_info
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    size_t info = r.out.find(kInfoFailed);
    ASSERT_NE(info, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("<UPG_PROG> Err: ret value -1! @Line ", info), std::string::npos) << r.out;
    EXPECT_TRUE(has(r.out, "upg_linux_read_bin_file ---> Successfully"));
    expect_flash_untouched();

    // The status record's MEMGETINFO is the first on /dev/mtd0 after the PIT
    // of the NAND was read.
    boot();
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    size_t scan = whole_nand_infos_before((run_upgrade(*board, true), board->journal()), "ioctl /dev/mtd1 MEMGETINFO");
    boot("fail_ioctl = mtd0 MEMGETINFO EIO after " + std::to_string(scan) + "\n");
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "MEMGETINFO: Input/output error\n")) << r.err << r.out;
    EXPECT_FALSE(has(r.out, "upg_linux_get_upg_status_ntblfmt t_upg_status.u4_progress=")) << r.out;
    expect_flash_untouched();
}

// MEMGETINFO failing when the PIT is to be written, after all the data: the
// run fails and the upgrade stays marked as interrupted.
TEST_F(UpgradeOnBoard, MemGetInfoFailureBeforeThePitLeavesTheBitSet)
{
    boot();
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    ASSERT_EQ(run_upgrade(*board, true).status, 0);
    // The first write into part_info (mtd1) is the PIT's; the MEMGETINFO just
    // before it is the one of the PIT step.
    size_t before_pit = whole_nand_infos_before(board->journal(), "ioctl /dev/mtd1 NOCPT mtd1 1") - 1;
    boot("fail_ioctl = mtd0 MEMGETINFO EIO after " + std::to_string(before_pit) + "\n");
    put_image(*board, upgimage_image(bins, "ntblfmt", board->work()));
    Result r = run_upgrade(*board, false);
    EXPECT_EQ(r.status, 1);
    size_t pit_step = r.out.find("<UPG_PROG> upg_linux_update_pit_on_nand ---> is called @Line: ");
    ASSERT_NE(pit_step, std::string::npos) << r.out;
    size_t info = r.out.find(kInfoFailed, pit_step);
    ASSERT_NE(info, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("<UPG_PROG> Err: ret value -1! @Line ", info), std::string::npos);
    EXPECT_FALSE(has(r.out, "2.set_upg_status_ntblfmt"));
    EXPECT_EQ(status_copy(0), status_record(1, {4}));
    EXPECT_EQ(status_copy(1), status_record(1, {4}));
    EXPECT_TRUE(at(new_layout()["kernel"], 0, bins[1].data.size()) == bins[1].data) << "the data is written";
    EXPECT_TRUE(at(new_layout()["part_info"], 0, 64) == ntbl_pit(old_layout()).substr(0, 64)) << "the PIT is not";
    for (const auto &f : kFiles)
        EXPECT_TRUE(board_file_exists(*board, f)) << f << " is kept for the next run";
    expect_no_violation();
}
