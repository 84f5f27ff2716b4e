#include <gtest/gtest.h>

#include <vector>

#include "settings.h"

using memtally::Settings;

namespace {

Settings parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "memtally");
    return memtally::parse_arguments(static_cast<int>(args.size()), args.data());
}

TEST(Settings, OffsetsAndTheirSuffixes)
{
    const struct {
        const char *arg;
        uint32_t start, end;
    } cases[] = {
        {"-sa=16M", 0x1000000, 0xFFFFFFFF}, {"-ea=512k", 0, 0x80000},
        {"-sa=3K", 3072, 0xFFFFFFFF},       {"-ea=0", 0, 0},
        {"-ea=4096M", 0, 0xFFFFFFFF},       {"-sa=99999999999", 0xFFFFFFFF, 0xFFFFFFFF},
        {"-sa=x1", 0, 0xFFFFFFFF},          {"-ea=-5", 0, 0xFFFFFFFF},
    };
    for (const auto &c : cases) {
        Settings s = parse({c.arg});
        EXPECT_EQ(s.range_start, c.start) << c.arg;
        EXPECT_EQ(s.range_end, c.end) << c.arg;
    }
}

TEST(Settings, DumpAndModeOptionsInPrefixOrder)
{
    const struct {
        std::vector<const char *> args;
        bool dump;
        int count, thread_mode, file_mode, start, end;
    } cases[] = {
        {{"-d"}, true, 1, 1, 0, 0, 0x7FFFFFFF},
        {{"-d3"}, true, 3, 1, 0, 0, 0x7FFFFFFF},
        {{"-d=10"}, true, 10, 1, 0, 0, 0x7FFFFFFF},
        {{"d=2"}, true, 2, 1, 0, 0, 0x7FFFFFFF},
        {{"-dx"}, true, 0, 1, 0, 0, 0x7FFFFFFF},
        {{"-d=abc"}, true, 0, 1, 0, 0, 0x7FFFFFFF},
        {{"-t0"}, false, 0, 0, 0, 0, 0x7FFFFFFF},
        {{"-t=0", "-t1"}, false, 0, 1, 0, 0, 0x7FFFFFFF},
        {{"-t=0", "-t7"}, false, 0, 0, 0, 0, 0x7FFFFFFF},
        {{"-file=2"}, false, 0, 1, 2, 0, 0x7FFFFFFF},
        {{"-dsidx=5", "-deidx=40"}, false, 0, 1, 0, 4, 39},
        {{"-dsidx=x", "-deidx=y"}, false, 0, 1, 0, -1, 0x7FFFFFFE},
        {{"-deidx", "bogus", "-sa"}, true, 0, 1, 0, 0, 0x7FFFFFFF},
    };
    for (const auto &c : cases) {
        Settings s = parse(c.args);
        SCOPED_TRACE(c.args[0]);
        EXPECT_EQ(s.dump, c.dump);
        EXPECT_EQ(s.dump_count, c.count);
        EXPECT_EQ(s.thread_mode, c.thread_mode);
        EXPECT_EQ(s.file_mode, c.file_mode);
        EXPECT_EQ(s.dump_start, c.start);
        EXPECT_EQ(s.dump_end, c.end);
        EXPECT_FALSE(s.help);
    }
    EXPECT_TRUE(parse({"-d=1", "--helpme"}).help);
}

} // namespace
