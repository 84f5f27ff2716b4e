#include "learn_capture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace tulka::test {
namespace {

struct capture_rig {
    std::int64_t now = 5000;
    int activities = 0;
    recorded_log log;
    learn_capture capture{log.sink(), [this] { return now; }};
    std::function<void()> activity = [this] { ++activities; };

    bool read(const ir_signal &words)
    {
        return capture.on_read(words.data(), words.size() * sizeof(lirc_value), activity);
    }
};

TEST(LearnCapture, ActivityAtMostEvery300Milliseconds)
{
    capture_rig rig;
    rig.read({P(560)});
    EXPECT_EQ(rig.activities, 1); // the first read of a learn always reports
    rig.now += 200;
    rig.read({S(560)});
    EXPECT_EQ(rig.activities, 1);
    rig.now += 99;
    rig.read({P(560)});
    EXPECT_EQ(rig.activities, 1); // 299 ms since the last report
    rig.now += 1;
    rig.read({S(560)});
    EXPECT_EQ(rig.activities, 2);
    rig.now -= 10000; // a clock set back counts as time gone by
    rig.read({P(560)});
    EXPECT_EQ(rig.activities, 3);
    rig.capture.on_read(nullptr, 0, {}); // no activity callback set
    EXPECT_EQ(rig.activities, 3);
}

TEST(LearnCapture, SampleTimeStartsOnceWhenThePressHasEnded)
{
    capture_rig rig;
    const ir_signal frame = nec_frame(0x04, 0x08);
    EXPECT_FALSE(rig.read(frame));
    EXPECT_TRUE(rig.read({timeout_space}));
    EXPECT_TRUE(rig.capture.min_captured());
    EXPECT_FALSE(rig.read(frame + ir_signal{timeout_space})); // keeps appending
    EXPECT_EQ(rig.capture.first().size(), 2 * frame.size() + 2);
    EXPECT_EQ(rig.log.texts(log_level::info),
              (std::vector<std::string>{"signal detected...", "minimum amount of data captured..."}));
    EXPECT_TRUE(rig.log.has(log_level::debug, "lirc: read 67 data from /dev/lirc0"));

    ASSERT_TRUE(rig.capture.finish());
    EXPECT_FALSE(rig.capture.min_captured());
    EXPECT_EQ(rig.capture.raw().size(), 2 * frame.size() + 2);
    EXPECT_EQ(rig.capture.first().size(), frame.size());

    rig.capture.reset(); // the next learn starts empty, announces data again
    EXPECT_TRUE(rig.capture.first().empty());
    rig.read({P(560)});
    EXPECT_EQ(rig.log.texts(log_level::info).back(), "signal detected...");
}

TEST(LearnCapture, WordsSplitAcrossReadsAreJoined)
{
    capture_rig rig;
    const ir_signal words{P(9000), S(4500), P(560)};
    unsigned char bytes[12];
    std::memcpy(bytes, words.data(), sizeof bytes);
    rig.capture.on_read(bytes, 5, {});
    EXPECT_EQ(rig.capture.first(), ir_signal{P(9000)});
    rig.capture.on_read(bytes + 5, 2, {});
    rig.capture.on_read(bytes + 7, 5, {});
    EXPECT_EQ(rig.capture.first(), words);
    rig.capture.on_read(bytes, 3, {});
    rig.capture.reset(); // a learn's leftover bytes never reach the next one
    rig.capture.on_read(bytes, 4, {});
    EXPECT_EQ(rig.capture.first(), ir_signal{P(9000)});
}

TEST(LearnCapture, RejectedCaptureFails)
{
    capture_rig rig;
    rig.read(nec_frame(1, 2) + ir_signal{timeout_space});
    EXPECT_FALSE(rig.capture.finish()); // one press only
    EXPECT_TRUE(rig.capture.first().empty());
    EXPECT_EQ(rig.capture.raw().size(), 68u);
    EXPECT_EQ(rig.capture.gap(), base_gap_us);
}

} // namespace
} // namespace tulka::test
