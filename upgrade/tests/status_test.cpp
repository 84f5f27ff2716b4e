#include "raw_bytes.h"
#include "status.h"

#include <gtest/gtest.h>

namespace {

raw::Bytes copy(uint32_t progress, std::vector<uint32_t> ids, bool head_ok = true, bool tail_ok = true)
{
    raw::Bytes b(176, 0xFF);
    b.text(0, head_ok ? "SGPU" : "SGPX");
    b.u32(4, progress);
    for (size_t i = 0; i < 32; ++i)
        b.u32(8 + 4 * i, i < ids.size() ? ids[i] : 0);
    b.u32(136, static_cast<uint32_t>(ids.size()));
    b.text(140, tail_ok ? "UPGS" : "XPGS");
    b.words(144, 8, 0);
    return b;
}

int pick(const raw::Bytes &a, const raw::Bytes &b, t_upg_status *out)
{
    return upg_status_pick(a.b.data(), b.b.data(), out);
}

TEST(StatusPick, EqualCopiesNeedNoWrite)
{
    t_upg_status s{};
    EXPECT_EQ(pick(copy(1, {4, 9}), copy(1, {4, 9}), &s), kStatusConsistent);
    EXPECT_EQ(s.u4_progress, 1u);
    EXPECT_EQ(s.u4_part_count, 2u);
    EXPECT_EQ(s.au4_part_id[1], 9u);
}

TEST(StatusPick, CopyAWinsAndBothAreRewritten)
{
    t_upg_status s{};
    EXPECT_EQ(pick(copy(0, {4}), copy(1, {4}), &s), kStatusRepair);
    EXPECT_EQ(s.u4_progress, 0u);
    EXPECT_EQ(pick(copy(1, {4}), copy(1, {5}), &s), kStatusRepair);
    EXPECT_EQ(s.au4_part_id[0], 4u);
    EXPECT_EQ(pick(copy(1, {4}), copy(1, {4, 5}), &s), kStatusRepair);
    EXPECT_EQ(pick(copy(3, {4}), copy(3, {4}, true, false), &s), kStatusRepair) << "B damaged";
    EXPECT_EQ(s.u4_progress, 3u);
}

TEST(StatusPick, DamagedCopyAFallsBackToB)
{
    t_upg_status s{};
    for (auto a : {copy(1, {4}, false, true), copy(1, {4}, true, false), raw::Bytes(176, 0xFF)}) {
        EXPECT_EQ(pick(a, copy(1, {4, 7}), &s), kStatusRepair);
        EXPECT_EQ(s.u4_part_count, 2u);
        EXPECT_EQ(s.au4_part_id[1], 7u);
    }
    // Copy A's signs are broken but its fields equal B's: A is still rewritten.
    EXPECT_EQ(pick(copy(1, {4, 7}, false), copy(1, {4, 7}), &s), kStatusRepair);
    // A count beyond the id list marks a damaged copy.
    raw::Bytes wild = copy(1, {4});
    wild.u32(136, 33);
    EXPECT_EQ(pick(wild, copy(0, {6}), &s), kStatusRepair);
    EXPECT_EQ(s.au4_part_id[0], 6u);
}

TEST(StatusPick, NoValidCopyAsksForAFreshRecord)
{
    t_upg_status s{};
    EXPECT_EQ(pick(raw::Bytes(176, 0xFF), copy(1, {4}, false, false), &s), kStatusFresh);
}

TEST(StatusFresh, ListsTheFlaggedPartitions)
{
    t_pit_entry_ntbl pit[upg::kPitEntries] = {};
    for (int i = 0; i < upg::kPitEntries; ++i)
        pit[i].i4PartId = -1;
    pit[0] = {"part_info", 1, 0, 0, 0, 0, 0};
    pit[1] = {"upg_status", 2, 0x8, 0, 0, 0, 0};
    pit[2] = {"rootfs", 3, 0x2000, 0, 0, 0, 0};
    pit[3] = {"kernel", 4, 0x3008, 0, 0, 0, 0};
    t_upg_status s{};
    ASSERT_EQ(upg_status_fresh(pit, &s), 0);
    EXPECT_TRUE(upg_status_valid(s));
    EXPECT_EQ(s.u4_progress, 0u);
    EXPECT_EQ(s.u4_part_count, 2u);
    EXPECT_EQ(s.au4_part_id[0], 2u);
    EXPECT_EQ(s.au4_part_id[1], 4u);

    for (int i = 0; i < 40; ++i)
        pit[i] = {"p", i + 1, 0x8, 0, 0, 0, 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(upg_status_fresh(pit, &s), -1);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("more than 32"), std::string::npos);
}

} // namespace
