#include "common/abi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <pthread.h>

namespace {

struct PointerRecord {
    uint32_t u4_size;
    void *pv_data;
    uintptr_t pf_handle;
};

BOARD_ILP32_ASSERT(sizeof(PointerRecord) == 12, "32-bit addresses are 4 bytes on the board");
BOARD_ILP32_ASSERT(offsetof(PointerRecord, pf_handle) == 8, "no padding between 32-bit fields");

TEST(Abi, DataModelMatchesTarget)
{
#if defined(__arm__)
    // The board: ILP32, little-endian, hard-float.
    EXPECT_EQ(sizeof(void *), 4u);
    EXPECT_EQ(sizeof(long), 4u);
    EXPECT_EQ(BOARD_TARGET_ILP32, 1);
    EXPECT_EQ(sizeof(pthread_t), 4u);
#elif defined(__x86_64__)
    EXPECT_EQ(sizeof(void *), 8u);
    EXPECT_EQ(BOARD_TARGET_ILP32, 0);
#endif
    EXPECT_EQ(sizeof(PointerRecord), 4 + 2 * sizeof(void *) + (sizeof(void *) == 8 ? 4 : 0));
}

TEST(Abi, TargetIsLittleEndian)
{
    const uint32_t word = 0x01020304u;
    EXPECT_EQ(*reinterpret_cast<const uint8_t *>(&word), 0x04);
}

} // namespace
