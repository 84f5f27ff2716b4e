#include "common/text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

struct NumberCase {
    const char *text;
    uint64_t max;
    int base;
    bool ok;
    uint64_t value;
};

TEST(Text, NumbersAreStrict)
{
    const NumberCase cases[] = {
        {"0", 10, board::kAnyBase, true, 0},
        {"0x1F", UINT64_MAX, board::kAnyBase, true, 31},
        {"010", UINT64_MAX, board::kAnyBase, true, 8},
        {"010", UINT64_MAX, board::kDecimal, true, 10},
        {"0x10", UINT64_MAX, board::kDecimal, false, 0},
        {"18446744073709551615", UINT64_MAX, board::kAnyBase, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, board::kAnyBase, false, 0}, // strtoull saturates
        {"256", 255, board::kAnyBase, false, 0},
        {"255", 255, board::kAnyBase, true, 255},
        {"-1", UINT64_MAX, board::kAnyBase, false, 0}, // strtoull negates
        {"+1", UINT64_MAX, board::kAnyBase, false, 0},
        {" 1", UINT64_MAX, board::kAnyBase, false, 0},
        {"1 ", UINT64_MAX, board::kAnyBase, false, 0},
        {"", UINT64_MAX, board::kAnyBase, false, 0},
        {"12x", UINT64_MAX, board::kAnyBase, false, 0},
    };
    for (const NumberCase &c : cases) {
        uint64_t v = 0;
        EXPECT_EQ(board::parse_number(c.text, c.max, &v, c.base), c.ok) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
}

TEST(Text, SignedNumbersAreTwosComplement)
{
    const struct {
        const char *text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"-1", true, UINT64_MAX},
        {"-0x10", true, 0 - uint64_t{16}},
        {"-9223372036854775808", true, uint64_t{1} << 63},
        {"-9223372036854775809", false, 0}, // strtoll saturates
        {"18446744073709551615", true, UINT64_MAX},
        {"-", false, 0},
        {"--1", false, 0},
        {"- 1", false, 0},
    };
    for (const auto &c : cases) {
        uint64_t v = 0;
        EXPECT_EQ(board::parse_signed(c.text, &v), c.ok) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
}

TEST(Text, HexBytesAppendOnlyWhole)
{
    std::vector<uint8_t> out = {7};
    EXPECT_TRUE(board::parse_hex_bytes("00fFa1", &out));
    EXPECT_EQ(out, (std::vector<uint8_t>{7, 0x00, 0xff, 0xa1}));
    // strtoul would read " 1", "-1" and "+f" as bytes.
    for (const char *bad : {"0", "0g", " 1", "-1", "+f", "00zz"}) {
        std::string s = "x";
        EXPECT_FALSE(board::parse_hex_bytes(bad, &s)) << bad;
        EXPECT_EQ(s, "x") << bad;
    }
}

TEST(Text, ErrnoNamesAndNumbers)
{
    EXPECT_EQ(board::parse_errno("EIO"), EIO);
    EXPECT_EQ(board::parse_errno("ENOSPC"), ENOSPC);
    EXPECT_EQ(board::parse_errno("28"), 28);
    EXPECT_EQ(board::parse_errno(std::to_string(board::kLastErrno)), board::kLastErrno);
    for (const char *bad : {"0", "201", "EWHAT", "eio", "-5", ""})
        EXPECT_EQ(board::parse_errno(bad), 0) << bad;
}

} // namespace
