// tslines on the virtual board, with the clock of system call 370 set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "vboard/clock370.h"
#include "vboard/testkit.h"

using namespace vboard::testkit;

namespace {

constexpr int64_t kSecond = 1000000;

// Sum of the journal's "syscall 370 calls N" lines.
long long clock_calls(const Board &board)
{
    long long calls = 0;
    for (const std::string &line : board.journal_lines("syscall 370 calls ")) {
        calls += std::atoll(line.c_str() + 18);
    }
    return calls;
}

bool is_stamp(const std::string &s)
{
    const char shape[] = "dd:dd:dd.ddd ";
    for (size_t i = 0; i < s.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != shape[i]) {
            return false;
        }
    }
    return s.size() == 13;
}

// Milliseconds within the 100-hour cycle the stamp shows.
long long stamp_ms(const std::string &s)
{
    return ((std::atoll(s.c_str()) * 60 + std::atoll(s.c_str() + 3)) * 60 + std::atoll(s.c_str() + 6)) * 1000 +
           std::atoll(s.c_str() + 9);
}

} // namespace

TEST(Tslines, StampsEveryLineAfterTheFirstAtItsFirstCharacterThatIsNoLineEnd)
{
    Board board;
    struct Case {
        int64_t clock_us;
        const char *in, *out;
    } cases[] = {
        {3725 * kSecond + 42000, "a\nb\n", "a\n01:02:05.042 b\n"},
        {3725 * kSecond + 42000, "first\n\n\ntext", "first\n\n\n01:02:05.042 text"},
        {3725 * kSecond + 42000, "a\n\r\rb\n\r\nc", "a\n\r\r01:02:05.042 b\n\r\n01:02:05.042 c"},
        {360000 * kSecond, "x\ny\n", "x\n00:00:00.000 y\n"},
        {359999 * kSecond + 999999, "x\ny", "x\n99:59:59.999 y"},
        {3725 * kSecond, "", ""},
    };
    long long stamps = 0;
    for (const Case &c : cases) {
        ASSERT_EQ(vboard::clock_set(board.dir(), c.clock_us, false), 0);
        Result r = board.run({bin_path("tslines")}, 10000, c.in);
        EXPECT_FALSE(r.timed_out) << "at the end of input it must stop";
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out) << "input: " << c.in;
        stamps += static_cast<long long>((r.out.size() - std::string(c.in).size()) / 13);
    }
    EXPECT_EQ(clock_calls(board), stamps); // the time is read once per stamped line
}

// Without the device library the host's kernel has no service behind
// system call 370: the stamps keep their form at zero, and standard error
// says so once.
TEST(Tslines, FailingTimeServiceIsToldOnce)
{
    Board board;
    Result r = board.run({"env", "-u", "LD_PRELOAD", bin_path("tslines")}, 10000, "a\nb\nc\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a\n00:00:00.000 b\n00:00:00.000 c\n");
    EXPECT_EQ(r.err.rfind("tslines: time service failed (", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// A console log of several MiB with a running clock: every stamp where it
// belongs, well formed and never going back, and the log itself unchanged.
TEST(Tslines, ConsoleLogOfSeveralMegabytes)
{
    std::vector<std::string> lines;
    std::string log;
    for (size_t i = 0; log.size() < 6u << 20; ++i) {
        std::string line = i % 11 == 0 ? "" : (i % 7 == 0 ? "\r" : "") + std::string("[") + std::to_string(i) + "] ";
        line += std::string(i * 37 % 160, static_cast<char>('a' + i % 26));
        lines.push_back(line);
        log += line + "\n";
    }
    Board board;
    ASSERT_EQ(vboard::clock_set(board.dir(), 3599 * kSecond + 990000, true), 0); // about to pass the hour
    Result r = board.run({bin_path("tslines")}, 60000, log);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.status, 0);

    size_t at = 0;
    long long last_ms = -1, stamps = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        size_t crs = line.find_first_not_of('\r');
        ASSERT_EQ(r.out.compare(at, crs == std::string::npos ? line.size() : crs, line, 0, crs), 0) << "line " << i;
        if (i > 0 && crs != std::string::npos) {
            at += crs;
            std::string stamp = r.out.substr(at, 13);
            ASSERT_TRUE(is_stamp(stamp)) << "line " << i << ": " << stamp;
            ASSERT_GE(stamp_ms(stamp), last_ms) << "line " << i;
            last_ms = stamp_ms(stamp);
            at += 13;
            ++stamps;
            ASSERT_EQ(r.out.compare(at, line.size() - crs, line, crs), 0) << "line " << i;
            at += line.size() - crs;
        } else {
            ASSERT_EQ(r.out.compare(at, line.size(), line), 0) << "line " << i;
            at += line.size();
        }
        ASSERT_EQ(r.out[at++], '\n');
    }
    EXPECT_EQ(at, r.out.size());
    EXPECT_GE(last_ms, 3600 * 1000) << "the clock ran on past the hour";
    EXPECT_EQ(clock_calls(board), stamps);
}
