#include "lircd_lines.h"

#include <gtest/gtest.h>

namespace tulka::test {
namespace {

TEST(KeyLine, BroadcastFieldsAreScanned)
{
    auto key = parse_key_line("0000000000000074 00 KEY_POWER learned_KEY_POWER\n");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->repeat, 0u);
    EXPECT_EQ(key->button, "KEY_POWER");
    EXPECT_EQ(key->remote, "learned_KEY_POWER");
    key = parse_key_line("0000000000000074 1a KEY_POWER_EVUP learned_KEY_POWER");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->repeat, 0x1au);
    EXPECT_EQ(key->button, "KEY_POWER_EVUP");
}

TEST(KeyLine, IncompleteLinesAreNoKeys)
{
    for (const char *line : {"", "\n", "0000000000000074 00 KEY_POWER\n", "BEGIN\n", "SIGHUP\n",
                             "zz 00 KEY_POWER remote\n", "0000000000000074 qq KEY_POWER remote\n"})
        EXPECT_FALSE(parse_key_line(line)) << line;
}

TEST(KeyLine, FieldsAsLongAsTheLineFit)
{
    const std::string button(300, 'B'), remote(400, 'R');
    const auto key = parse_key_line("1 0 " + button + " " + remote + "\n");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->button, button);
    EXPECT_EQ(key->remote, remote);
}

TEST(LineReader, PacketsAreSeparatedFromKeys)
{
    lircd_line_reader reader;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(reader.feed("BEGIN\n")));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(reader.feed("SIGHUP\n")));
    auto done = reader.feed("END\n");
    ASSERT_TRUE(std::holds_alternative<lircd_packet>(done));
    EXPECT_EQ(std::get<lircd_packet>(done).command, "SIGHUP");
    EXPECT_TRUE(std::get<lircd_packet>(done).lines.empty());

    // A reply whose data lines would scan as a key.
    for (const char *line : {"BEGIN\n", "LIST\n", "SUCCESS\n", "DATA\n", "1\n"})
        reader.feed(line);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(reader.feed("0000000000000074 00 KEY_POWER remote\n")));
    done = reader.feed("END\n");
    ASSERT_TRUE(std::holds_alternative<lircd_packet>(done));
    const std::vector<std::string> lines{"SUCCESS", "DATA", "1", "0000000000000074 00 KEY_POWER remote"};
    EXPECT_EQ(std::get<lircd_packet>(done).lines, lines);

    const auto key = reader.feed("0000000000000074 00 KEY_POWER remote\n");
    ASSERT_TRUE(std::holds_alternative<lircd_key_line>(key));
    EXPECT_EQ(std::get<lircd_key_line>(key).remote, "remote");
}

TEST(LineReader, ResetLeavesAnUnfinishedPacket)
{
    lircd_line_reader reader;
    reader.feed("BEGIN\n");
    reader.reset(); // the connection broke mid-packet
    EXPECT_TRUE(std::holds_alternative<lircd_key_line>(reader.feed("74 0 KEY_POWER remote\n")));
}

TEST(LineReader, StrayBeginHidesKeysOnlyForALimitedNumberOfLines)
{
    lircd_line_reader reader;
    reader.feed("BEGIN\n");
    int hidden = 0;
    while (std::holds_alternative<std::monostate>(reader.feed("74 0 KEY_POWER remote\n")))
        ASSERT_LT(++hidden, 100) << "key lines are still taken for packet lines";
    EXPECT_GT(hidden, 8); // real packets with a few data lines stay whole
    EXPECT_TRUE(std::holds_alternative<lircd_key_line>(reader.feed("74 0 KEY_POWER remote\n")));
}

} // namespace
} // namespace tulka::test
