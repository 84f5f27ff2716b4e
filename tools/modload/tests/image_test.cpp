#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "image.h"

// The armhf tier runs this on the board's 32-bit size_t, where a size past
// 4 GiB used to be cut to its low 32 bits.
TEST(ModloadImage, SizesPastWhatTheProcessAddressesAreRefused)
{
    const bool board = sizeof(size_t) == 4;
    const int64_t four_gib = int64_t{1} << 32;
    struct Case {
        int64_t file_size;
        int error;
        uint64_t capacity;
    } cases[] = {
        {0, 0, 1},
        {100, 0, 101},
        {four_gib - 2, 0, four_gib - 1},
        {four_gib - 1, board ? EFBIG : 0, board ? 0 : four_gib},
        {four_gib + 100, board ? EFBIG : 0, board ? 0 : four_gib + 101},
        {INT64_MAX, board ? EFBIG : 0, board ? 0 : uint64_t{INT64_MAX} + 1},
    };
    for (const Case &c : cases) {
        size_t capacity = 0;
        EXPECT_EQ(modload::image_capacity(c.file_size, &capacity), c.error) << c.file_size;
        EXPECT_EQ(capacity, c.capacity) << c.file_size;
    }
}
