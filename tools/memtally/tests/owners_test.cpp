#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "owners.h"

using namespace memtally;

namespace {

// A page file from runs of (key, pages).
class PageFile {
public:
    explicit PageFile(const std::vector<std::pair<uint32_t, int>> &runs, const std::string &tail = "")
    {
        char name[] = "/tmp/memtally-pages.XXXXXX";
        int fd = ::mkstemp(name);
        path_ = name;
        std::string bytes;
        for (const auto &run : runs) {
            for (int i = 0; i < run.second; ++i) {
                for (int b = 0; b < 4; ++b) {
                    bytes += static_cast<char>(run.first >> (8 * b));
                }
            }
        }
        bytes += tail;
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }
    ~PageFile() { ::unlink(path_.c_str()); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

std::vector<std::vector<uint32_t>> rows(const OwnerTable &t)
{
    std::vector<std::vector<uint32_t>> out;
    for (int i = 0; i < t.count; ++i) {
        out.push_back({t.entries[i].key, t.entries[i].pages, t.entries[i].frag});
    }
    return out;
}

TEST(Owners, PagesAndRunsInsideTheRangeInOrderOfFirstAppearance)
{
    PageFile file({{7, 2}, {0, 3}, {7, 1}, {0xC0001000, 1}, {7, 4}, {0, 2}}, "xy");
    OwnerTable t;
    ASSERT_EQ(scan_owners(file.path(), 0, 0xFFFFFFFF, &t), 0);
    EXPECT_EQ(rows(t), (std::vector<std::vector<uint32_t>>{{7, 7, 3}, {0, 5, 2}, {0xC0001000, 1, 1}}));
    EXPECT_EQ(count_pages(file.path()), 13); // the two trailing bytes are no word

    // Pages 3..8 only.
    ASSERT_EQ(scan_owners(file.path(), 3 * 4096, 9 * 4096, &t), 0);
    EXPECT_EQ(rows(t), (std::vector<std::vector<uint32_t>>{{0, 2, 1}, {7, 3, 2}, {0xC0001000, 1, 1}}));
    ASSERT_EQ(scan_owners(file.path(), 0, 0, &t), 0);
    EXPECT_EQ(t.count, 0);
}

TEST(Owners, MissingFileKeepsThePreviousTable)
{
    PageFile file({{5, 1}});
    OwnerTable t;
    ASSERT_EQ(scan_owners(file.path(), 0, 0xFFFFFFFF, &t), 0);
    EXPECT_EQ(scan_owners("/nonexistent/mem_tally", 0, 0xFFFFFFFF, &t), -1);
    EXPECT_EQ(rows(t), (std::vector<std::vector<uint32_t>>{{5, 1, 1}}));
    EXPECT_EQ(count_pages("/nonexistent/mem_tally"), 0);
}

TEST(Owners, KeysBeyondTheTableAreNotCounted)
{
    std::vector<std::pair<uint32_t, int>> runs;
    for (uint32_t k = 0; k < 1030; ++k) {
        runs.push_back({0xC0000000 + 4 * k, 1});
    }
    runs.push_back({0xC0000000, 2});
    PageFile file(runs);
    OwnerTable t;
    ASSERT_EQ(scan_owners(file.path(), 0, 0xFFFFFFFF, &t), 0);
    ASSERT_EQ(t.count, kMaxOwners);
    EXPECT_EQ(t.entries[0].pages, 3u);
    EXPECT_EQ(t.entries[0].frag, 2u);
    EXPECT_EQ(t.entries[kMaxOwners - 1].key, 0xC0000000 + 4 * 1023);
}

TEST(Owners, MergesKeepTheSurvivorsOrder)
{
    // Threads 11 and 12 belong to process 10; 0 (free) has no process.
    PageFile file({{11, 1},
                   {0xFF010401, 2},
                   {10, 3},
                   {0, 1},
                   {0xFE010400, 1},
                   {12, 4},
                   {0xFF010402, 5},
                   {0xFFFFFFFF, 1},
                   {0xFE020800, 2}});
    OwnerTable t;
    ASSERT_EQ(scan_owners(file.path(), 0, 0xFFFFFFFF, &t), 0);
    merge_threads(
        &t, [](uint32_t tid, const void *) { return tid == 11 || tid == 12 ? 10u : tid; }, nullptr);
    merge_file_classes(&t);
    EXPECT_EQ(rows(t), (std::vector<std::vector<uint32_t>>{
                           {10, 8, 3}, {0xFF000000, 7, 2}, {0, 1, 1}, {0xFE000000, 3, 2}, {0xFFFFFFFF, 1, 1}}));
}

TEST(Owners, SortExchangesOnlySmallerCounts)
{
    // Pages 1, 2, 2, 3: the exchange sort leaves the later 2 first.
    PageFile file({{0xC1, 1}, {0xC2, 2}, {0xC3, 2}, {0xC4, 3}});
    OwnerTable t;
    ASSERT_EQ(scan_owners(file.path(), 0, 0xFFFFFFFF, &t), 0);
    sort_owners(&t);
    EXPECT_EQ(rows(t), (std::vector<std::vector<uint32_t>>{{0xC4, 3, 1}, {0xC3, 2, 1}, {0xC2, 2, 1}, {0xC1, 1, 1}}));
}

} // namespace
