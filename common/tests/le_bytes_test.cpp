#include "common/le_bytes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

TEST(LeBytes, StoresLeastSignificantByteFirst)
{
    std::array<uint8_t, 8> buf{};
    le::store16(buf.data(), 0xA1B2);
    EXPECT_EQ(buf[0], 0xB2);
    EXPECT_EQ(buf[1], 0xA1);

    le::store32(buf.data(), 0x01020304u);
    EXPECT_EQ((std::array<uint8_t, 4>{buf[0], buf[1], buf[2], buf[3]}),
              (std::array<uint8_t, 4>{0x04, 0x03, 0x02, 0x01}));

    le::store64(buf.data(), 0x1122334455667788ull);
    const std::array<uint8_t, 8> expected{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
    EXPECT_EQ(buf, expected);
}

TEST(LeBytes, LoadsFromKnownBytes)
{
    const uint8_t bytes[] = {0xEF, 0xBE, 0xAD, 0xDE, 0x0D, 0xF0, 0xFE, 0xCA};
    EXPECT_EQ(le::load16(bytes), 0xBEEF);
    EXPECT_EQ(le::load32(bytes), 0xDEADBEEFu);
    EXPECT_EQ(le::load64(bytes), 0xCAFEF00DDEADBEEFull);
}

TEST(LeBytes, HighBitsSurviveRoundTrip)
{
    // Sign extension or a narrow shift in the helpers would corrupt these.
    uint8_t buf[8];
    for (uint64_t v : {0ull, 0x80ull, 0x8000ull, 0x80000000ull, 0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull,
                       0x00FF00FF00FF00FFull}) {
        le::store64(buf, v);
        EXPECT_EQ(le::load64(buf), v);
        le::store32(buf, static_cast<uint32_t>(v));
        EXPECT_EQ(le::load32(buf), static_cast<uint32_t>(v));
        le::store16(buf, static_cast<uint16_t>(v));
        EXPECT_EQ(le::load16(buf), static_cast<uint16_t>(v));
    }
}

TEST(LeBytes, WorksAtEveryAlignment)
{
    uint8_t buf[16];
    for (size_t off = 0; off < 8; ++off) {
        std::memset(buf, 0xAA, sizeof buf);
        le::store32(buf + off, 0x12345678u);
        EXPECT_EQ(le::load32(buf + off), 0x12345678u) << "offset " << off;
        // Neighbouring bytes stay untouched.
        if (off > 0) {
            EXPECT_EQ(buf[off - 1], 0xAA);
        }
        EXPECT_EQ(buf[off + 4], 0xAA);
    }
}

} // namespace
