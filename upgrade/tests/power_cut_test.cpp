// Power cuts all over one upgrade: after each cut the interrupted upgrade
// must stay visible on the flash, and one more run on the same board must
// end with the flash of an uninterrupted upgrade, device data included.
#include "board_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>
#include <memory>
#include <set>
#include <sstream>

using namespace upgtest;
using vboard::testkit::Board;
using vboard::testkit::Result;

namespace {

constexpr size_t kMinCutPoints = 60;
constexpr int kParallelBoards = 6;

struct Op {
    std::string dev;
    bool erase;
    long offset; // of an erased block
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
        if (verb == "erase" && s >> w) {
            ops.push_back({dev, true, std::stol(w, nullptr, 16)});
        } else if (verb == "program" && s >> w >> block >> w >> n) {
            for (long i = 0; i < n; ++i)
                ops.push_back({dev, false, 0});
        }
    }
    return ops;
}

bool inside(const Part &p, long offset) { return offset >= p.offset && offset < p.offset + p.size; }

// A block of the PITs (offset 0 of part_info*) or of the adaptive PITs.
bool table_block(const Op &op)
{
    const Layout &l = old_layout();
    long at[] = {l["part_info"].offset, l["part_info_1"].offset, l["part_info_2"].offset, l["part_info_1"].offset + M,
                 l["part_info_2"].offset + M};
    return op.dev == "mtd0" && std::find(std::begin(at), std::end(at), op.offset) != std::end(at);
}

// Cut points: right after each erase (the block is blank then), after the
// first page that follows it and, for the PIT blocks of part_info* and the
// status copies, after the block's last page, for every block of the status
// record, the PITs and the device data and for the first and last blocks
// of the kernel and root file system; then evenly over the whole run.
std::vector<size_t> cut_points(const std::vector<Op> &ops)
{
    const Part &kernel = new_layout()["kernel"], &root = new_layout()["rootfs"];
    std::vector<size_t> bulk;
    std::set<size_t> ks;
    for (size_t i = 0; i < ops.size(); ++i) {
        if (!ops[i].erase)
            continue;
        bool data = ops[i].dev == "mtd0" && (inside(kernel, ops[i].offset) || inside(root, ops[i].offset));
        if (data) {
            bulk.push_back(i + 1);
            continue;
        }
        ks.insert(i + 1);
        ks.insert(i + 2);
        if (table_block(ops[i]) || ops[i].dev == "mtd4")
            ks.insert(i + kBlock / kPage + 1);
    }
    for (size_t e : {bulk.front(), bulk.back()}) {
        ks.insert(e);
        ks.insert(e + 1);
    }
    for (size_t k = 1; k < ops.size(); k += ops.size() / 30)
        ks.insert(k);
    ks.insert(ops.size() - 1);
    return std::vector<size_t>(ks.begin(), ks.end());
}

class PowerCut : public testing::Test {
protected:
    struct Outcome {
        bool cut = false, visible = false, same = false, new_boot = false;
        int rerun_status = -1, violations = 0;
        std::string rerun_out;
    };
    Outcome cut_and_rerun(size_t k, size_t complete_after, const std::string &expected);

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

PowerCut::Outcome PowerCut::cut_and_rerun(size_t k, size_t complete_after, const std::string &expected)
{
    Outcome o;
    auto b = fresh("power_cut_after = " + std::to_string(k) + "\n");
    Result cut = run_upgrade(*b, false, 20000);
    o.cut = cut.status == 137;
    o.visible = k >= complete_after || !flash_changed(*b) || (progress_on_flash(*b) & 1) == 1;
    // Without the power cut, the rerun boots with the layout that the flash
    // describes now.
    b->set_board_text(board_text(old_layout()));
    Result again = run_upgrade(*b, true, 20000);
    o.new_boot = !b->journal_lines("layout: differs from the board file").empty();
    o.rerun_status = again.status;
    o.rerun_out = again.out;
    o.same = b->read_nand(0, kNand) == expected;
    for (const auto &line : b->journal())
        o.violations += line.find("violation") != std::string::npos ? 1 : 0;
    return o;
}

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
    // The last status write begins with the erase of copy A; from its
    // first page on, the upgrade is complete.
    std::vector<size_t> status_erases;
    for (size_t i = 0; i < ops.size(); ++i)
        if (ops[i].erase && ops[i].dev == "mtd4")
            status_erases.push_back(i + 1);
    ASSERT_EQ(status_erases.size(), 4u);
    const size_t complete_after = status_erases[2] + 1;

    // Boards are independent and mostly wait: several at a time.
    std::vector<Outcome> outcomes(ks.size());
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t i; (i = next++) < ks.size();)
            outcomes[i] = cut_and_rerun(ks[i], complete_after, expected);
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < kParallelBoards; ++t)
        pool.emplace_back(worker);
    for (auto &t : pool)
        t.join();

    int passed = 0, new_boots = 0;
    for (size_t i = 0; i < ks.size(); ++i) {
        const Outcome &o = outcomes[i];
        SCOPED_TRACE("power cut after flash operation " + std::to_string(ks[i]) + " of " + std::to_string(ops.size()));
        EXPECT_TRUE(o.cut) << "the power cut ends the run";
        EXPECT_TRUE(o.visible) << "the interrupted upgrade is visible on the flash";
        EXPECT_EQ(o.rerun_status, 0) << o.rerun_out;
        EXPECT_TRUE(o.same) << "the flash differs from an uninterrupted upgrade";
        EXPECT_EQ(o.violations, 0);
        passed += o.cut && o.visible && o.rerun_status == 0 && o.same && o.violations == 0 ? 1 : 0;
        new_boots += o.new_boot ? 1 : 0;
    }
    EXPECT_GT(new_boots, 0) << "some reruns boot the new layout";
    EXPECT_LT(new_boots, static_cast<int>(ks.size())) << "and some the old one";
    std::printf(
        "power-cut matrix: %d of %zu cut points over %zu flash operations recover (%d reruns booted "
        "the new layout)\n",
        passed, ks.size(), ops.size(), new_boots);
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
        ASSERT_EQ(again.status, 0) << again.out << again.err;
        EXPECT_TRUE(b->read_nand(0, kNand) == expected);
    }
}

} // namespace

namespace {

// Power lost right after the erase of the first part_info block, while the
// new PIT goes in: the next run reads the PIT from the later copy.
TEST_F(PowerCut, BlankPartInfoFallsBackToItsCopy)
{
    auto scratch = std::make_unique<Board>(board_text(old_layout()));
    image = upgimage_image(default_bins(11), "ntblfmt", scratch->work());
    auto ref = fresh("");
    ASSERT_EQ(run_upgrade(*ref, true).status, 0);
    const std::string expected = ref->read_nand(0, kNand);
    std::vector<Op> ops = flash_ops(ref->journal());
    size_t k = 0;
    for (size_t i = 0; i < ops.size(); ++i)
        if (ops[i].erase && ops[i].dev == "mtd0" && ops[i].offset == 0)
            k = i + 1;
    ASSERT_GT(k, 0u);
    auto b = fresh("power_cut_after = " + std::to_string(k) + "\n");
    ASSERT_EQ(run_upgrade(*b, false).status, 137);
    ASSERT_EQ(b->read_nand(0, kBlock), std::string(kBlock, '\xFF'));
    b->set_board_text(board_text(old_layout()));
    Result again = run_upgrade(*b, true);
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("<UPG_PROG> no pit in mtd1, trying mtd2 @Line "), std::string::npos) << again.out;
    EXPECT_TRUE(b->read_nand(0, kNand) == expected);
}

} // namespace
