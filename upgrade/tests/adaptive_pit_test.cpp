#include "adaptive_pit.h"
#include "raw_bytes.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kBlock = 0x20000, M = 0x100000;

struct Part {
    const char *name;
    uint32_t flags, offset, size;
};

// ntblfmt PIT, records from `first`, `stride` apart.
raw::Bytes ntbl_pit(const std::vector<Part> &parts, uint32_t first = 64, uint32_t stride = 64)
{
    raw::Bytes b(4096);
    b.words(0, 2, 0x8530EADC);
    b.u32(12, first);
    b.u32(16, stride);
    b.u32(20, static_cast<uint32_t>(parts.size()));
    b.u32(24, 0xC0FFEE); // header words 6..9 are carried
    for (size_t k = 0; k < parts.size(); ++k) {
        raw::pit_record(b, first + stride * k, parts[k].name, static_cast<uint32_t>(k + 1), parts[k].flags,
                        parts[k].offset, parts[k].size);
        b.u32(first + stride * k + 32, 0x1000 + static_cast<uint32_t>(k));
    }
    return b;
}

raw::Bytes old_pit(const std::vector<Part> &parts)
{
    raw::Bytes b(4096);
    b.words(0, 8, 0x8530EADC);
    for (size_t k = 0; k < parts.size(); ++k)
        raw::pit_record(b, 32 * (k + 1), parts[k].name, static_cast<uint32_t>(k + 1), parts[k].flags, parts[k].offset,
                        parts[k].size);
    b.words(32 * (parts.size() + 1), 8, 0xC0CAC01A);
    return b;
}

// A raw partition, a growing one, a container with two nested partitions,
// and one after the container.
const std::vector<Part> kParts = {
    {"part_info", 0, 0, M},
    {"kernel", 0x3000, 0x999, 2 * M},
    {"app", 0x2000, 0, 4 * M},
    {"app_a", 0x4000 | (3 << 16), 0, M},
    {"app_b", 0x4000 | (3 << 16), 0, M},
    {"mac_addr", 0, 0, M},
};

t_adpt_pit build(raw::Bytes &pit, int *rc)
{
    int version = 0;
    uint32_t count = 0;
    adpt_pit_shape(pit.b.data(), pit.b.size(), &version, &count);
    t_adpt_pit a{};
    testing::internal::CaptureStdout();
    *rc = count ? adpt_pit_build(pit.b.data(), pit.b.size(), version, count, kBlock, &a) : -1;
    testing::internal::GetCapturedStdout();
    return a;
}

void expect_layout(const t_adpt_pit &a, uint32_t count = 6)
{
    ASSERT_EQ(a.count, count);
    const uint32_t expected[6][2] = {{0, M},
                                     {M, 2 * M + kBlock},
                                     {3 * M + kBlock, 4 * M},
                                     {3 * M + kBlock, M},
                                     {4 * M + kBlock, M},
                                     {7 * M + kBlock, M}};
    for (uint32_t k = 0; k < 6; ++k) {
        EXPECT_EQ(adpt_entry_offset(a, k), expected[k][0]) << k;
        EXPECT_EQ(adpt_entry_size(a, k), expected[k][1]) << k;
        EXPECT_EQ(adpt_entry_id(a, k), static_cast<int32_t>(k + 1));
    }
    EXPECT_EQ(adpt_find(a, "mac_addr"), 5);
    EXPECT_EQ(adpt_find(a, "app"), 2);
    EXPECT_EQ(adpt_find(a, "ap"), -1);
}

TEST(AdaptivePit, NtblfmtLayoutPlacesEveryPartition)
{
    raw::Bytes pit = ntbl_pit(kParts);
    int rc = 0;
    t_adpt_pit a = build(pit, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(a.version, kAdptVersionNtbl);
    expect_layout(a);
    raw::Bytes out;
    out.b.assign(a.data, a.data + a.size);
    EXPECT_EQ(a.size, 7u * 64);
    EXPECT_EQ(out.get32(0), 0x8530AAAAu);
    EXPECT_EQ(out.get32(4), 0x8530AAAAu);
    EXPECT_EQ(out.get32(20), 6u) << "the rest of the header is the image's";
    EXPECT_EQ(out.get32(24), 0xC0FFEEu);
    EXPECT_EQ(out.get32(64 + 64 * 2 + 32), 0x1002u) << "carried words are copied";
    EXPECT_EQ(out.get32(64 + 64 * 2 + 40), 0u) << "bytes past the 40-byte record stay zero";
    adpt_pit_free(&a);
}

TEST(AdaptivePit, OldLayoutHasHeadAndTailSignatures)
{
    raw::Bytes pit = old_pit(kParts);
    int rc = 0;
    t_adpt_pit a = build(pit, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(a.version, kAdptVersionOld);
    // The count is the index of the image's tail slot: it is carried as a
    // seventh entry, placed after the last partition.
    expect_layout(a, 7);
    ASSERT_EQ(a.size, 9u * 32);
    raw::Bytes out;
    out.b.assign(a.data, a.data + a.size);
    for (int w = 0; w < 8; ++w) {
        EXPECT_EQ(out.get32(4 * w), 0x8530AAAAu);
        EXPECT_EQ(out.get32(8 * 32 + 4 * w), 0x5441494Cu);
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.b.data()) + 6 * 32), "mac_addr");
    EXPECT_EQ(out.get32(7 * 32 + 16), 0xC0CAC01Au) << "the image's tail slot";
    EXPECT_EQ(adpt_entry_offset(a, 6), 8 * M + kBlock);
    EXPECT_EQ(adpt_entry_size(a, 6), 0xC0CAC01Au);
    adpt_pit_free(&a);

    raw::Bytes bare = old_pit({});
    a = build(bare, &rc);
    EXPECT_EQ(rc, 0) << "a head and a tail make a table of one entry";
    EXPECT_EQ(a.count, 1u);
    adpt_pit_free(&a);
}

TEST(AdaptivePit, UnplaceableTablesAreRefused)
{
    std::vector<Part> orphan = {{"a", 0, 0, M}, {"b", 0x4000 | (5 << 16), 0, M}, {"c", 0, 0, M}};
    raw::Bytes pit = ntbl_pit(orphan);
    int rc = 0;
    build(pit, &rc);
    EXPECT_EQ(rc, -1) << "container index after the nested entry";

    raw::Bytes spread = ntbl_pit({{"a", 0, 0, M}, {"b", 0, 0, M}}, 200, 64);
    build(spread, &rc);
    EXPECT_EQ(rc, -1) << "records beyond the adaptive table's room";

    raw::Bytes none(4096);
    int version = 9;
    uint32_t count = 9;
    testing::internal::CaptureStdout();
    adpt_pit_shape(none.b.data(), none.b.size(), &version, &count);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[NAND] no part head sig found -1\n");
    EXPECT_EQ(count, 0u);

    raw::Bytes tailless(4096);
    tailless.words(0, 8, 0x8530EADC);
    adpt_pit_shape(tailless.b.data(), tailless.b.size(), &version, &count);
    EXPECT_EQ(count, 0u) << "no tail slot";
}

} // namespace
