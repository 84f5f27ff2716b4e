// Power cuts all over one upgrade: after each cut the interrupted upgrade
// must stay visible on the flash, and one more run on the same board must
// end with the flash of an uninterrupted upgrade, device data included.
#include "board_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <set>
#include <sstream>

using namespace upgtest;
using vboard::testkit::Board;
using vboard::testkit::Result;

namespace {

constexpr size_t kMinCutPoints = 60;

struct Op {
    std::string dev;
    bool erase;
};

// Erases and page programs of a journal, in order: the operations the
// power cut counts.
std::vector<Op> flash_ops(const std::vector<std::string> &journal)
{
    std::vector<Op> ops;
    for (const auto &line : journal) {
        std::istringstream s(line);
        std::string verb, dev, w;
        long block = 0, n = 0;
        if (!(s >> verb >> dev))
            continue;
        if (verb == "erase") {
            ops.push_back({dev, true});
        } else if (verb == "program" && s >> w >> block >> w >> n) {
            for (long i = 0; i < n; ++i)
                ops.push_back({dev, false});
        }
    }
    return ops;
}

// Cut points: right after every erase (the block is blank then), right
// after the first page of each rewrite, and evenly between.
std::vector<size_t> cut_points(const std::vector<Op> &ops)
{
    std::set<size_t> ks;
    for (size_t i = 0; i < ops.size(); ++i)
        if (ops[i].erase && (ops[i].dev != "mtd0" || ks.size() < 40)) {
            ks.insert(i + 1);
            ks.insert(i + 2);
        }
    for (size_t k = 1; ks.size() < kMinCutPoints + 20 && k < ops.size(); k += ops.size() / 25)
        ks.insert(k);
    ks.insert(ops.size() - 1);
    return std::vector<size_t>(ks.begin(), ks.end());
}

class PowerCut : public testing::Test {
protected:
    std::unique_ptr<Board> fresh(const std::string &faults)
    {
        auto b = std::make_unique<Board>(board_text(old_layout(), faults));
        seed_old_board(*b, data, status_record(0, {4}), status_record(0, {4}));
        put_image(*b, image);
        return b;
    }
    // The copy upgprog would read: A when valid, else B.
    static uint32_t progress_on_flash(const Board &b)
    {
        for (int copy = 0; copy < 2; ++copy) {
            std::string s = b.read_nand(old_layout()["upg_status"].offset + copy * kBlock, 176);
            if (s.compare(0, 4, "SGPU") == 0 && s.compare(140, 4, "UPGS") == 0)
                return static_cast<uint8_t>(s[4]);
        }
        return 0;
    }
    // Outside the status partition, has the flash changed?
    bool flash_changed(const Board &b) const
    {
        uint32_t st = old_layout()["upg_status"].offset, end = st + old_layout()["upg_status"].size;
        std::string now = b.read_nand(0, kNand);
        return now.compare(0, st, initial, 0, st) != 0 || now.compare(end, kNand - end, initial, end, kNand - end) != 0;
    }

    static constexpr uint32_t kNand = 16 * M;
    std::map<std::string, std::string> data = device_data(3);
    std::string image;
    std::string initial;
};

TEST_F(PowerCut, EveryCutPointRecoversOnTheNextRun)
{
    auto scratch = std::make_unique<Board>(board_text(old_layout()));
    image = upgimage_image(default_bins(11), "ntblfmt", scratch->work());
    auto ref = fresh("");
    initial = ref->read_nand(0, kNand);
    ASSERT_EQ(run_upgrade(*ref, true).status, 0);
    const std::string expected = ref->read_nand(0, kNand);
    std::vector<Op> ops = flash_ops(ref->journal());
    std::vector<size_t> ks = cut_points(ops);
    ASSERT_GE(ks.size(), kMinCutPoints);
    // The last status write begins with the erase of copy A.
    size_t final_status = 0;
    for (size_t i = 0; i < ops.size(); ++i)
        if (ops[i].erase && ops[i].dev == "mtd4")
            final_status = i + 1;
    final_status -= 1;
    const std::string new_pit = ntbl_pit(new_layout());

    int passed = 0;
    for (size_t k : ks) {
        SCOPED_TRACE("power cut after flash operation " + std::to_string(k) + " of " + std::to_string(ops.size()));
        auto b = fresh("power_cut_after = " + std::to_string(k) + "\n");
        Result cut = run_upgrade(*b, false, 20000);
        ASSERT_NE(cut.status, 0) << cut.out;
        if (k < final_status && flash_changed(*b)) {
            EXPECT_EQ(progress_on_flash(*b) & 1, 1u) << "the interrupted upgrade is visible";
        }
        // The board boots the layout whose PIT part_info holds.
        bool new_boot = b->read_nand(0, new_pit.size()) == new_pit;
        b->set_board_text(board_text(new_boot ? new_layout() : old_layout()));
        Result again = run_upgrade(*b, true, 20000);
        ASSERT_EQ(again.status, 0) << again.out;
        bool same = b->read_nand(0, kNand) == expected;
        EXPECT_TRUE(same) << "the flash differs from an uninterrupted upgrade";
        for (const auto &line : b->journal())
            EXPECT_EQ(line.find("violation"), std::string::npos) << line;
        passed += same ? 1 : 0;
    }
    std::printf("power-cut matrix: %d of %zu cut points over %zu flash operations recover\n", passed, ks.size(),
                ops.size());
}

// Power lost while the device data is being saved: no flash operation
// happens then, so the cut is made on the program's own progress lines.
TEST_F(PowerCut, CutWhileSavingDeviceData)
{
    auto scratch = std::make_unique<Board>(board_text(old_layout()));
    image = upgimage_image(default_bins(11), "ntblfmt", scratch->work());
    auto ref = fresh("");
    ASSERT_EQ(run_upgrade(*ref, true).status, 0);
    const std::string expected = ref->read_nand(0, kNand);
    for (const char *mark : {"partition mac_addr raw data save success", "partition fe_bin raw data save success",
                             "[UPG PROG i4MpDataRead]u4DevId = 9"}) {
        SCOPED_TRACE(mark);
        auto b = fresh("");
        auto p = b->start({vboard::testkit::bin_path("upgprog")});
        ASSERT_TRUE(p->await_out(mark, 20000));
        p->kill();
        Result again = run_upgrade(*b, true, 20000);
        ASSERT_EQ(again.status, 0) << again.out;
        EXPECT_TRUE(b->read_nand(0, kNand) == expected);
    }
}

} // namespace
