// The default virtual board as it comes from the factory, and the upgrade
// that scripts/demo runs on it: the image of upgrade/examples moves the
// device data behind a grown kernel and root file system.
#include "board_support.h"
#include "raw_bytes.h"

#include "vboard/board.h"
#include "vboard/state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

using namespace upgtest;
using vboard::testkit::Board;
using vboard::testkit::Result;

namespace {

constexpr uint32_t kPitHead = 0x8530EADC, kAdaptiveHead = 0x8530AAAA;
constexpr uint32_t kStatusId = 5; // upg_status is /dev/mtd5

const vboard::BoardConfig &default_board()
{
    static const vboard::BoardConfig config = [] {
        vboard::BoardConfig c;
        std::string error;
        EXPECT_EQ(vboard::parse_board(vboard::kDefaultBoardText, &c, &error), 0) << error;
        return c;
    }();
    return config;
}

const vboard::Partition &old_part(const std::string &name)
{
    for (const auto &p : default_board().partitions)
        if (p.name == name)
            return p;
    throw std::runtime_error("default board has no " + name);
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

raw::Bytes bytes(const std::string &s)
{
    raw::Bytes b;
    b.b.assign(s.begin(), s.end());
    return b;
}

std::string record_name(const raw::Bytes &pit, size_t at)
{
    const char *name = reinterpret_cast<const char *>(pit.b.data() + at);
    return std::string(name, strnlen(name, 16));
}

// Checks an ntblfmt table (PIT or adaptive PIT) against the board's partitions.
void expect_describes_board(const std::string &table, uint32_t head, const std::string &where)
{
    raw::Bytes pit = bytes(table);
    const auto &parts = default_board().partitions;
    EXPECT_EQ(pit.get32(0), head) << where;
    EXPECT_EQ(pit.get32(4), head) << where;
    ASSERT_EQ(pit.get32(20), parts.size()) << where << ": record count";
    uint32_t first = pit.get32(12), stride = pit.get32(16);
    for (size_t k = 0; k < parts.size(); ++k) {
        size_t at = first + k * stride;
        EXPECT_EQ(record_name(pit, at), parts[k].name) << where;
        EXPECT_EQ(pit.get32(at + 16), k + 1) << where << " " << parts[k].name << ": id is its MTD number";
        EXPECT_EQ(pit.get32(at + 24), parts[k].offset) << where << " " << parts[k].name;
        EXPECT_EQ(pit.get32(at + 28), parts[k].size) << where << " " << parts[k].name;
    }
}

const std::vector<std::string> kDataFiles = {"network.ini", "key_block.dat", "fe_bin", "fe_power_curve",
                                             "fe_parameters"};

// Where the example image's adaptive PIT puts a partition (worked out by
// hand: the kernel is type 3, so everything behind it moves one more block).
struct NewPlace {
    std::string name;
    uint32_t offset, size;
};
const std::vector<NewPlace> kNewPlaces = {
    {"kernel", 0x00900000, 20 * M + kBlock}, {"rootfs", 0x01D20000, 176 * M}, {"mac_addr", 0x0CD20000, 512 * K},
    {"key_block", 0x0CDA0000, 512 * K},      {"fe_bin", 0x0CE20000, M},       {"fe_power_curve", 0x0CF20000, 512 * K},
    {"fe_parameters", 0x0CFA0000, 512 * K},
};

const NewPlace &new_place(const std::string &name)
{
    for (const auto &p : kNewPlaces)
        if (p.name == name)
            return p;
    throw std::runtime_error("no new place for " + name);
}

// The example image, built by upgimage from its description with contents
// made here.
struct ExampleImage {
    std::string uboot = pattern(300000, 11), kernel = pattern(3 * M + 12345, 12), rootfs = pattern(6 * M + 777, 13);
    std::string bytes;
    explicit ExampleImage(const std::string &dir)
    {
        std::string desc = dir + "/olvik-upgrade.txt";
        std::ofstream(desc) << slurp(UPG_EXAMPLE_IMAGE);
        std::ofstream(dir + "/u-boot.bin", std::ios::binary) << uboot;
        std::ofstream(dir + "/zImage", std::ios::binary) << kernel;
        std::ofstream(dir + "/rootfs.squashfs", std::ios::binary) << rootfs;
        std::string cmd = vboard::testkit::bin_path("upgimage") + " build " + desc + " " + dir + "/ota.zip";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        bytes = slurp(dir + "/ota.zip");
    }
    // The PIT the image carries for 256 MiB (the only index entry).
    std::string pit() const
    {
        raw::Bytes b = ::bytes(bytes.substr(0, 64));
        EXPECT_EQ(b.get32(16), 256 * M);
        return bytes.substr(b.get32(20), b.get32(24) & 0xFFF);
    }
};

} // namespace

TEST(DefaultBoard, FactoryFlashDescribesTheBoardAndHoldsItsDeviceData)
{
    Board board;
    std::string pit = board.read_nand(old_part("part_info").offset, 64 * (default_board().partitions.size() + 1));
    expect_describes_board(pit, kPitHead, "part_info");
    for (const char *p : {"part_info_1", "part_info_2"}) {
        EXPECT_EQ(board.read_nand(old_part(p).offset, pit.size()), pit) << p << " holds the PIT too";
        expect_describes_board(board.read_nand(old_part(p).offset + M, pit.size()), kAdaptiveHead,
                               std::string(p) + " + 1 MiB");
    }
    for (uint32_t copy = 0; copy < 2; ++copy) {
        EXPECT_EQ(board.read_nand(old_part("upg_status").offset + copy * kBlock, 176), status_record(0, {kStatusId}))
            << "status copy " << copy;
    }
    std::string seeds = vboard::default_seed_dir(vboard::testkit::bin_dir()) + "/olvik/";
    for (size_t i = 0; i < kDataFiles.size(); ++i) {
        std::string expected = slurp(seeds + kDataFiles[i]);
        ASSERT_FALSE(expected.empty()) << kDataFiles[i];
        EXPECT_EQ(board.read_nand(old_part(device_data_names()[i]).offset, expected.size()), expected)
            << device_data_names()[i];
    }
    EXPECT_EQ(board.read_nand(old_part("kernel").offset, 4), std::string(4, '\xFF')) << "no kernel seeded";
    EXPECT_TRUE(board.journal().empty()) << "seeding is no flash operation";
}

TEST(DefaultBoard, ExampleUpgradeMovesTheDeviceDataAndReboots)
{
    Board board;
    ExampleImage image(board.work());
    std::map<std::string, std::string> data;
    for (const auto &name : device_data_names())
        data[name] = board.read_nand(old_part(name).offset, old_part(name).size);
    std::string uboot_before = board.read_nand(old_part("boot_loader").offset, old_part("boot_loader").size);
    put_image(board, image.bytes);

    Result r = board.run({vboard::testkit::bin_path("upgprog")}, 30000);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << "the board was reset\n" << r.out;
    EXPECT_EQ(r.out.rfind("<UPG_PROG> main ---> is called @Line: ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("<UPG_PROG> main Start UPG main @Line: "), std::string::npos);
    EXPECT_NE(r.out.find("<UPG_PROG> UPG Process run complete! @Line "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[UPGPROC] Reboot Sucess!"), std::string::npos);
    EXPECT_EQ(board.journal_lines("reboot requested by upgprog").size(), 1u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(board.leds()[i].red * 0x10000 + board.leds()[i].green * 0x100 + board.leds()[i].blue, 0x050a04)
            << "LED " << i;

    for (const auto &d : data) {
        const NewPlace &p = new_place(d.first);
        EXPECT_EQ(p.size, d.second.size()) << d.first;
        EXPECT_TRUE(board.read_nand(p.offset, d.second.size()) == d.second) << d.first << " moved with its bytes";
    }
    EXPECT_TRUE(board.read_nand(new_place("kernel").offset, image.kernel.size()) == image.kernel);
    EXPECT_TRUE(board.read_nand(new_place("rootfs").offset, image.rootfs.size()) == image.rootfs);
    EXPECT_TRUE(board.read_nand(0, old_part("boot_loader").size) == uboot_before) << "the boot loader is skipped";
    std::string pit = image.pit();
    for (const char *p : {"part_info", "part_info_1", "part_info_2"})
        EXPECT_TRUE(board.read_nand(old_part(p).offset, pit.size()) == pit) << p << " holds the new PIT";
    raw::Bytes adaptive = bytes(board.read_nand(old_part("part_info_1").offset + M, pit.size()));
    EXPECT_EQ(adaptive.get32(0), kAdaptiveHead);
    for (size_t k = 0; k < adaptive.get32(20); ++k) {
        std::string name = record_name(adaptive, 64 * (k + 1));
        for (const auto &p : kNewPlaces) {
            if (p.name == name) {
                EXPECT_EQ(adaptive.get32(64 * (k + 1) + 24), p.offset) << name;
                EXPECT_EQ(adaptive.get32(64 * (k + 1) + 28), p.size) << name;
            }
        }
    }
    for (uint32_t copy = 0; copy < 2; ++copy)
        EXPECT_EQ(board.read_nand(old_part("upg_status").offset + copy * kBlock, 176), status_record(0, {kStatusId}))
            << "progress bit cleared in copy " << copy;
    for (const auto &f : {"/network.ini", "/key_block.dat", "/fe_bin", "/fe_power_curve", "/fe_parameters"})
        EXPECT_FALSE(board_file_exists(board, f)) << f << " left behind";
    EXPECT_TRUE(board.journal_lines("violation").empty());
}
