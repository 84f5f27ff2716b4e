#include "repeat_filter.h"

#include <gtest/gtest.h>

#include <limits>

#include "test_support.h"

namespace tulka::test {
namespace {

using std::chrono::milliseconds;

// A timer on a virtual clock: one wait at a time, as with a steady timer.
class virtual_timer {
public:
    repeat_timer_control control()
    {
        return {[this](milliseconds delay, std::function<void(bool)> handler) {
                    abort_pending();
                    m_due = m_now + delay;
                    m_handler = std::move(handler);
                },
                [this] { abort_pending(); }};
    }
    void run_until(milliseconds until)
    {
        while (m_handler && m_due <= until) {
            m_now = m_due;
            auto handler = std::move(m_handler);
            m_handler = nullptr;
            handler(false);
        }
        m_now = until;
    }
    milliseconds now() const { return m_now; }
    bool waiting() const { return static_cast<bool>(m_handler); }
    // The expiry has happened but its handler has not run yet.
    std::function<void(bool)> take_expired()
    {
        auto handler = std::move(m_handler);
        m_handler = nullptr;
        return handler;
    }

private:
    void abort_pending()
    {
        if (auto handler = take_expired())
            handler(true);
    }
    milliseconds m_now{0}, m_due{0};
    std::function<void(bool)> m_handler;
};

struct event {
    milliseconds at;
    int code, value;
    std::string remote;
    bool operator==(const event &o) const
    {
        return at == o.at && code == o.code && value == o.value && remote == o.remote;
    }
};

std::ostream &operator<<(std::ostream &out, const event &e)
{
    return out << e.at.count() << "ms code " << e.code << " value " << e.value << " " << e.remote;
}

const repeat_filter::key_table keys{{"KEY_POWER", 116}, {"KEY_PLAYPAUSE", 164}, {"KEY_RESERVED", 0}};

struct filter_rig {
    explicit filter_rig(std::uint32_t repeat_ms = 300)
        : filter(
              keys, repeat_ms, timer.control(),
              [this](const key_event &key) {
                  events.push_back({timer.now(), key.code, key.value, key.remote});
              },
              log.sink())
    {
    }
    void line(milliseconds at, std::uint32_t repeat, const std::string &button,
              const std::string &remote = "learned_KEY_POWER")
    {
        timer.run_until(at);
        filter.filter(repeat, button, remote);
    }
    std::vector<event> repeats_of(int code) const
    {
        std::vector<event> out;
        for (const event &e : events)
            if (e.value == key_repeat && e.code == code)
                out.push_back(e);
        return out;
    }

    virtual_timer timer;
    recorded_log log;
    std::vector<event> events;
    repeat_filter filter;
};

std::vector<event> generated(int code, std::initializer_list<int> at_ms)
{
    std::vector<event> out;
    for (int at : at_ms)
        out.push_back({milliseconds(at), code, key_repeat, "repeat"});
    return out;
}

TEST(RepeatFilter, PressAloneGivesFiveRepeatsAtThreeToSevenIntervals)
{
    filter_rig rig;
    rig.line(milliseconds(0), 0, "KEY_POWER");
    rig.timer.run_until(milliseconds(10000));
    std::vector<event> expected{{milliseconds(0), 116, key_press, "learned_KEY_POWER"}};
    const auto repeats = generated(116, {900, 1200, 1500, 1800, 2100});
    expected.insert(expected.end(), repeats.begin(), repeats.end());
    EXPECT_EQ(rig.events, expected);
    EXPECT_FALSE(rig.timer.waiting());
    EXPECT_TRUE(rig.filter.pressed()); // no release until lircd sends one
    ASSERT_GE(rig.log.lines.size(), 2u);
    EXPECT_EQ(rig.log.lines[0].second, "filter() param button=[KEY_POWER] name=[learned_KEY_POWER]");
    EXPECT_EQ(rig.log.lines[1].second, "filter() key 116 press event send");
    EXPECT_TRUE(rig.log.has(log_level::info, "repeat_timeout() key 116 repeat event send"));
}

TEST(RepeatFilter, ShorterIntervalAndRefillByRepeatLines)
{
    filter_rig fast(100);
    fast.line(milliseconds(0), 0, "KEY_POWER");
    fast.timer.run_until(milliseconds(299));
    EXPECT_TRUE(fast.repeats_of(116).empty());
    fast.timer.run_until(milliseconds(300));
    EXPECT_EQ(fast.repeats_of(116), generated(116, {300}));

    filter_rig held;
    held.line(milliseconds(0), 0, "KEY_POWER");
    held.line(milliseconds(1000), 1, "KEY_POWER"); // after the 900 ms repeat
    held.line(milliseconds(1700), 2, "KEY_POWER");
    held.timer.run_until(milliseconds(10000));
    // The last refill at 1700 allows five more after it: 1800 .. 3000.
    EXPECT_EQ(held.repeats_of(116), generated(116, {900, 1200, 1500, 1800, 2100, 2400, 2700, 3000}));
    EXPECT_TRUE(held.log.has(log_level::info, "filter() key repeat event recv, reset repeat count to 4"));
    EXPECT_EQ(held.events.size(), 9u); // repeat lines emit nothing themselves
}

TEST(RepeatFilter, KeyUpAndUnknownButtonsRelease)
{
    filter_rig rig;
    rig.line(milliseconds(0), 0, "KEY_POWER");
    rig.line(milliseconds(1000), 0, "KEY_POWER_EVUP");
    rig.timer.run_until(milliseconds(5000));
    EXPECT_EQ(rig.repeats_of(116), generated(116, {900}));
    ASSERT_EQ(rig.events.size(), 3u);
    EXPECT_EQ(rig.events[2], (event{milliseconds(1000), 116, key_release, "learned_KEY_POWER"}));
    EXPECT_TRUE(rig.log.has(log_level::info, "filter() key 116 release event send"));
    EXPECT_FALSE(rig.filter.pressed());

    for (const char *unknown : {"FOO", "FOO_EVUP", "key_power", "KEY_POWER_EVUP_EVUP_X"}) {
        filter_rig other;
        other.line(milliseconds(0), 0, "KEY_PLAYPAUSE", "tv");
        other.line(milliseconds(100), 0, unknown, "tv");
        other.timer.run_until(milliseconds(5000));
        const int code = std::string(unknown).rfind("KEY_POWER", 0) == 0 ? 116 : 0;
        ASSERT_EQ(other.events.size(), 2u) << unknown;
        EXPECT_EQ(other.events[1], (event{milliseconds(100), code, key_release, "tv"})) << unknown;
    }
}

TEST(RepeatFilter, NewPressRestartsTheChain)
{
    filter_rig rig;
    rig.line(milliseconds(0), 0, "KEY_POWER");
    rig.line(milliseconds(500), 0, "KEY_PLAYPAUSE", "tv");
    rig.timer.run_until(milliseconds(10000));
    EXPECT_TRUE(rig.repeats_of(116).empty());
    EXPECT_EQ(rig.repeats_of(164), generated(164, {1400, 1700, 2000, 2300, 2600}));
}

TEST(RepeatFilter, ExpiryQueuedBeforeACancelIsIgnored)
{
    filter_rig rig;
    rig.line(milliseconds(0), 0, "KEY_POWER");
    rig.timer.run_until(milliseconds(899));
    // The timer fires at 900, but a new press is handled before its handler.
    auto stale = rig.timer.take_expired();
    rig.line(milliseconds(900), 0, "KEY_POWER");
    stale(false);
    EXPECT_TRUE(rig.repeats_of(116).empty());
    rig.timer.run_until(milliseconds(1800));
    EXPECT_EQ(rig.repeats_of(116), generated(116, {1800}));
}

TEST(RepeatFilter, LongIntervalDoesNotWrap)
{
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max() / 2;
    filter_rig rig(huge);
    rig.line(milliseconds(0), 0, "KEY_POWER");
    rig.timer.run_until(milliseconds(std::uint64_t{huge} * 3 - 1));
    EXPECT_TRUE(rig.repeats_of(116).empty());
    rig.timer.run_until(milliseconds(std::uint64_t{huge} * 3));
    EXPECT_EQ(rig.repeats_of(116).size(), 1u);
}

TEST(RepeatFilter, StopEndsRepeats)
{
    filter_rig rig;
    rig.line(milliseconds(0), 0, "KEY_POWER");
    rig.filter.stop();
    rig.timer.run_until(milliseconds(5000));
    EXPECT_EQ(rig.events.size(), 1u);
    EXPECT_TRUE(rig.log.has(log_level::info, "repeat_timeout() entry ...."));
}

} // namespace
} // namespace tulka::test
