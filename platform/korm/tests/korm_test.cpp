#include "korm.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// Other tests running at the same time make blocks of their own, so only the
// objects of our own handles are looked at.
bool object_exists(HANDLE_T handle)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/shm/korm.%08x", handle);
    return access(path, F_OK) == 0;
}

TEST(Korm, AllocRoundsToPagesAndMapsZeroedMemory)
{
    const HANDLE_T h = x_kmem_block_alloc(100);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(x_kmem_block_size(h), kPage);
    auto *p = static_cast<uint8_t *>(x_kmem_block_map(h));
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i < kPage; ++i)
        ASSERT_EQ(p[i], 0) << i;
    p[kPage - 1] = 0x5A; // the whole page is usable
    EXPECT_EQ(x_kmem_block_unmap(p), KORM_OK);
    EXPECT_EQ(x_kmem_block_free(h), KORM_OK);

    const HANDLE_T exact = x_kmem_block_alloc(static_cast<uint32_t>(2 * kPage));
    EXPECT_EQ(x_kmem_block_size(exact), 2 * kPage);
    x_kmem_block_free(exact);
}

TEST(Korm, TwoMappingsShareTheSameBytes)
{
    const HANDLE_T h = x_smem_block_alloc(255);
    ASSERT_NE(h, 0u);
    auto *a = static_cast<char *>(x_smem_block_map(h));
    auto *b = static_cast<char *>(x_kmem_block_map(h));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    std::strcpy(a, "volume=12");
    EXPECT_STREQ(b, "volume=12");
    EXPECT_EQ(x_smem_block_unmap(a), KORM_OK);
    EXPECT_EQ(x_kmem_block_unmap(b), KORM_OK);
    EXPECT_EQ(x_smem_block_free(h), KORM_OK);
}

TEST(Korm, BlockIsSharedWithAnotherProcess)
{
    int to_parent[2];
    ASSERT_EQ(pipe(to_parent), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The allocating process writes and goes away; the block stays.
        close(to_parent[0]);
        HANDLE_T h = x_kmem_block_alloc(3 * 4096);
        auto *p = static_cast<uint32_t *>(x_kmem_block_map(h));
        if (h == 0 || p == nullptr)
            _exit(1);
        for (uint32_t i = 0; i < 3 * 1024; ++i)
            p[i] = i * 2654435761u;
        x_kmem_block_unmap(p);
        _exit(write(to_parent[1], &h, sizeof h) == sizeof h ? 0 : 1);
    }
    close(to_parent[1]);
    HANDLE_T h = 0;
    ASSERT_EQ(read(to_parent[0], &h, sizeof h), static_cast<ssize_t>(sizeof h));
    close(to_parent[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    auto *p = static_cast<uint32_t *>(x_kmem_block_map(h));
    ASSERT_NE(p, nullptr);
    for (uint32_t i = 0; i < 3 * 1024; ++i)
        ASSERT_EQ(p[i], i * 2654435761u) << i;
    x_kmem_block_unmap(p);
    EXPECT_EQ(x_kmem_block_free(h), KORM_OK);
}

TEST(Korm, MultimapPlacesBlocksBackToBackInListOrder)
{
    const uint32_t sizes[3] = {static_cast<uint32_t>(kPage), static_cast<uint32_t>(3 * kPage),
                               static_cast<uint32_t>(2 * kPage)};
    HANDLE_T handles[3];
    for (int i = 0; i < 3; ++i) {
        handles[i] = x_kmem_block_alloc(sizes[i]);
        ASSERT_NE(handles[i], 0u);
        auto *p = static_cast<uint8_t *>(x_kmem_block_map(handles[i]));
        ASSERT_NE(p, nullptr);
        std::memset(p, 'A' + i, sizes[i]);
        x_kmem_block_unmap(p);
    }
    // Reversed order: the list decides the layout, not the handles.
    const HANDLE_T order[3] = {handles[2], handles[0], handles[1]};
    auto *base = static_cast<uint8_t *>(x_kmem_block_multimap(3, order));
    ASSERT_NE(base, nullptr);
    size_t offset = 0;
    for (int idx : {2, 0, 1}) {
        EXPECT_EQ(base[offset], 'A' + idx);
        EXPECT_EQ(base[offset + sizes[idx] - 1], 'A' + idx);
        offset += sizes[idx];
    }
    // Writes through the range reach the blocks.
    base[sizes[2]] = 'z';
    auto *second = static_cast<uint8_t *>(x_skmem_block_map(handles[0]));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second[0], 'z');
    EXPECT_EQ(x_skmem_block_unmap(second), KORM_OK);

    EXPECT_EQ(x_skmem_block_unmap(base), KORM_OK);
    EXPECT_EQ(x_kmem_block_unmap(base), KORM_ERR_NOT_FOUND) << "a range is released once";
    for (HANDLE_T h : handles)
        EXPECT_EQ(x_kmem_block_free(h), KORM_OK);
}

TEST(Korm, MultimapFailsWholeWhenOneHandleIsUnknown)
{
    const HANDLE_T good = x_kmem_block_alloc(1);
    ASSERT_NE(good, 0u);
    const HANDLE_T freed = x_kmem_block_alloc(1);
    x_kmem_block_free(freed);
    const HANDLE_T list[3] = {good, freed, good};
    EXPECT_EQ(x_kmem_block_multimap(3, list), nullptr);
    EXPECT_EQ(x_skmem_block_multimap(0, list), nullptr);
    EXPECT_EQ(x_skmem_block_multimap(2, nullptr), nullptr);
    x_kmem_block_free(good);
}

TEST(Korm, BadInputIsRefusedWithoutHarm)
{
    EXPECT_EQ(x_kmem_block_alloc(0), 0u);
    EXPECT_EQ(x_smem_block_alloc(0), 0u);
    // Rounding a size near 4 GiB up to pages must not wrap to a tiny block.
    const HANDLE_T huge = x_kmem_block_alloc(0xFFFFF001u);
    if (huge != 0) {
        EXPECT_GE(x_kmem_block_size(huge), 0xFFFFF001u);
        x_kmem_block_free(huge);
    }
    EXPECT_EQ(x_kmem_block_map(0), nullptr);
    EXPECT_EQ(x_smem_block_map(0x7eadbeefu), nullptr);
    EXPECT_EQ(x_kmem_block_free(0), KORM_ERR_INV_ARG);
    EXPECT_EQ(x_smem_block_free(0x7eadbeefu), KORM_ERR_NOT_FOUND);
    EXPECT_EQ(x_kmem_block_unmap(nullptr), KORM_ERR_NOT_FOUND);
    int local = 0;
    EXPECT_EQ(x_kmem_block_unmap(&local), KORM_ERR_NOT_FOUND);

    // An address inside a mapping is not an address that map returned.
    const HANDLE_T h = x_kmem_block_alloc(static_cast<uint32_t>(2 * kPage));
    auto *p = static_cast<uint8_t *>(x_kmem_block_map(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(x_kmem_block_unmap(p + kPage), KORM_ERR_NOT_FOUND);
    p[0] = 1; // still mapped
    EXPECT_EQ(x_kmem_block_unmap(p), KORM_OK);
    x_kmem_block_free(h);
}

TEST(Korm, FreeRemovesTheObjectButKeepsLiveMappings)
{
    const HANDLE_T h = x_kmem_block_alloc(10);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(object_exists(h));
    auto *p = static_cast<uint8_t *>(x_kmem_block_map(h));
    ASSERT_NE(p, nullptr);

    EXPECT_EQ(x_kmem_block_free(h), KORM_OK);
    EXPECT_FALSE(object_exists(h)) << "no shared-memory object left after free";
    EXPECT_EQ(x_kmem_block_map(h), nullptr);
    EXPECT_EQ(x_kmem_block_free(h), KORM_ERR_NOT_FOUND);
    p[0] = 7; // the mapping made before free stays usable
    EXPECT_EQ(x_kmem_block_unmap(p), KORM_OK);
}

TEST(Korm, ConcurrentUseGivesUniqueHandlesAndLeavesNothing)
{
    constexpr int kThreads = 8;
    constexpr int kBlocksPerThread = 50;
    std::vector<std::vector<HANDLE_T>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &made] {
            for (int i = 0; i < kBlocksPerThread; ++i) {
                const HANDLE_T h = x_kmem_block_alloc(64);
                auto *p = static_cast<int *>(x_kmem_block_map(h));
                if (h == 0 || p == nullptr)
                    continue;
                *p = t * 1000 + i;
                const HANDLE_T list[2] = {h, h};
                void *pair = x_kmem_block_multimap(2, list);
                if (pair && *static_cast<int *>(pair) == t * 1000 + i)
                    made[t].push_back(h);
                x_kmem_block_unmap(pair);
                x_kmem_block_unmap(p);
            }
        });
    }
    for (auto &thread : threads)
        thread.join();

    std::set<HANDLE_T> unique;
    for (const auto &list : made) {
        EXPECT_EQ(list.size(), static_cast<size_t>(kBlocksPerThread));
        unique.insert(list.begin(), list.end());
    }
    EXPECT_EQ(unique.size(), static_cast<size_t>(kThreads * kBlocksPerThread));
    for (HANDLE_T h : unique) {
        EXPECT_EQ(x_kmem_block_free(h), KORM_OK);
        EXPECT_FALSE(object_exists(h));
    }
}

// Blocks (sparse, nothing is touched) whose sizes add up to 4 GiB and
// 64 KiB: on 32 bits the sum must be refused, not wrapped to 64 KiB.
TEST(Korm, MultimapOfMoreThanTheAddressSpaceIsRefused)
{
    const uint32_t sizes[3] = {0x7FFF0000, 0x7FFF0000, 0x30000};
    HANDLE_T handles[3] = {};
    for (int i = 0; i < 3; ++i) {
        handles[i] = x_kmem_block_alloc(sizes[i]);
        ASSERT_NE(handles[i], 0u);
    }
    void *p = x_kmem_block_multimap(3, handles);
#if UINTPTR_MAX == 0xFFFFFFFF
    EXPECT_EQ(p, nullptr);
#else
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(x_kmem_block_unmap(p), KORM_OK);
#endif
    for (HANDLE_T h : handles)
        x_kmem_block_free(h);
}

// Objects another process made with sizes this library never makes.
TEST(Korm, ForeignSizesAreNotBelieved)
{
    const HANDLE_T h = x_kmem_block_alloc(1);
    ASSERT_NE(h, 0u);
    char name[32];
    std::snprintf(name, sizeof name, "/korm.%08x", h);
    const int fd = shm_open(name, O_RDWR, 0);
    ASSERT_GE(fd, 0);
    for (off_t size : {static_cast<off_t>(kPage + 1), static_cast<off_t>(kPage / 2)}) {
        ASSERT_EQ(ftruncate(fd, size), 0);
        EXPECT_EQ(x_kmem_block_size(h), 0u) << size;
        EXPECT_EQ(x_kmem_block_map(h), nullptr) << size;
        EXPECT_EQ(x_kmem_block_multimap(1, &h), nullptr) << size;
    }
    close(fd);
    x_kmem_block_free(h);
}

} // namespace
