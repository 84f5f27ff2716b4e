#include "ir_signal.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tulka::test {
namespace {

struct processed {
    ir_signal first, second;
    std::uint32_t gap = base_gap_us;
};

processed process(const ir_signal &capture, recorded_log *log = nullptr)
{
    recorded_log silent;
    signal_processor processor((log ? log : &silent)->sink());
    processed out;
    out.first = capture;
    processor.process_signal(out.first, out.second, out.gap);
    return out;
}

ir_signal durations(ir_signal signal)
{
    for (auto &value : signal)
        value = duration_of(value);
    return signal;
}

const ir_signal press_gap{S(300000)};
const ir_signal end_of_press{timeout_space};

TEST(SameDuration, AbsoluteThenRelativeTolerance)
{
    recorded_log log;
    signal_processor processor(log.sink());
    EXPECT_TRUE(processor.same_duration(560, 660));
    EXPECT_TRUE(processor.same_duration(1000, 1350));
    EXPECT_TRUE(processor.same_duration(P(1000), S(1000))); // only durations count
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(processor.same_duration(1000, 1400));
    EXPECT_FALSE(processor.same_duration(0, 101));
    EXPECT_FALSE(processor.same_duration(lirc_duration_mask, 0));
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0].second, "1000<>1400 abs(400) rel(33.3333)");
    EXPECT_EQ(log.lines[1].second, "0<>101 abs(101) rel(200)");
}

TEST(HasMinData, NeedsMoreThan35ValuesAndAnEndedPress)
{
    signal_processor processor;
    const ir_signal frame = nec_frame(1, 2); // 67 values
    EXPECT_TRUE(processor.has_min_data(frame + end_of_press));
    EXPECT_FALSE(processor.has_min_data(frame));
    ir_signal short_press(ir_signal(frame.begin(), frame.begin() + 34) + end_of_press); // 35 values
    EXPECT_FALSE(processor.has_min_data(short_press));
    EXPECT_TRUE(processor.has_min_data(short_press + ir_signal{P(560)}));
    // A timeout among the leading spaces is what is left of an earlier burst.
    EXPECT_FALSE(processor.has_min_data(ir_signal{S(500), timeout_space} + frame));
    EXPECT_TRUE(processor.has_min_data(ir_signal{timeout_space} + frame + end_of_press));
}

TEST(ProcessSignal, NecPressesWithRepeatCodesLeaveOneFrameAndOneRepeat)
{
    nec_timing jitter{8950, 4450, 600, 1650, 620};
    const ir_signal first = nec_frame(0x04, 0x08);
    const ir_signal capture = ir_signal{S(2000000)} + first + nec_repeat() + nec_repeat() + end_of_press + press_gap +
                              nec_frame(0x04, 0x08, jitter) + nec_repeat() + nec_repeat() + end_of_press;
    recorded_log log;
    const processed out = process(capture, &log);
    EXPECT_EQ(out.first, durations(first + nec_repeat()));
    EXPECT_TRUE(out.second.empty());
    EXPECT_EQ(out.gap, 129290u);
    EXPECT_TRUE(learned_enough(out.first));
    EXPECT_TRUE(log.has(log_level::debug, "found repeating signal size of 4"));
    EXPECT_TRUE(log.has(log_level::debug, "deleting all trailing repeats starting at 72"));
    EXPECT_TRUE(log.has(log_level::debug, "deleting all trailing repeats starting at 71"));
    EXPECT_TRUE(log.has(log_level::debug, "const gap: 129290"));
    EXPECT_TRUE(log.has(log_level::debug, "first and second signal are the same"));
}

TEST(ProcessSignal, SonyPressesOfThreeFramesKeepTwo)
{
    const ir_signal frame = sony_frame(0x095); // 19200 µs
    const ir_signal period_gap{S(25800)};
    const ir_signal press = frame + period_gap + frame + period_gap + frame + end_of_press;
    const processed out = process(press + press_gap + press);
    EXPECT_EQ(out.first, durations(frame + period_gap + frame));
    EXPECT_EQ(out.first.size(), 51u);
    EXPECT_TRUE(out.second.empty());
    EXPECT_EQ(out.gap, 74200u);
}

TEST(ProcessSignal, CapturesThatCannotBeLearned)
{
    const ir_signal frame = nec_frame(0x10, 0x20);
    // One press only: no second burst after the timeout.
    EXPECT_TRUE(process(frame + end_of_press).first.empty());
    // A second burst of a single value is no press either.
    EXPECT_TRUE(process(frame + end_of_press + ir_signal{P(560)}).first.empty());
    // Frames of 43 and 59 values: 0.75 * 59 > 43; with 45 the sizes pass.
    auto part = [&frame](std::size_t n) { return ir_signal(frame.begin(), frame.begin() + n); };
    recorded_log log;
    const processed sizes = process(part(43) + end_of_press + part(59) + end_of_press, &log);
    EXPECT_TRUE(sizes.first.empty());
    EXPECT_TRUE(sizes.second.empty());
    EXPECT_TRUE(log.has(log_level::debug, "first and second signals are drastically different in size, failing"));
    const processed close = process(part(45) + end_of_press + part(59) + end_of_press);
    EXPECT_EQ(close.first.size(), 45u);
    EXPECT_EQ(close.second.size(), 59u);
    // Sizes more than 100 apart fail before any comparison, gap untouched.
    const ir_signal long_press = frame + frame + ir_signal{S(1000)} + frame;
    const processed apart = process(frame + end_of_press + long_press + end_of_press);
    EXPECT_TRUE(apart.first.empty());
    EXPECT_EQ(apart.gap, base_gap_us);
    EXPECT_TRUE(process({}).first.empty());
}

TEST(ProcessSignal, SmallFirstBurstIsThrownAwayAndSplitAgain)
{
    const ir_signal frame = nec_frame(0x55, 0xAA);
    const ir_signal stub(frame.begin(), frame.begin() + 17);
    recorded_log log;
    const processed out = process(stub + end_of_press + frame + end_of_press + frame + end_of_press, &log);
    EXPECT_TRUE(log.has(log_level::debug, "throwing away signal too small"));
    EXPECT_EQ(out.first, durations(frame));
    EXPECT_TRUE(out.second.empty());
    // Two small bursts end the split at once.
    recorded_log small;
    EXPECT_EQ(process(stub + end_of_press + stub, &small).first.size(), 17u);
    EXPECT_FALSE(small.has(log_level::debug, "throwing away signal too small"));
    // With 18 values the first burst is a frame of its own, and too small
    // against the second one.
    const ir_signal bigger(frame.begin(), frame.begin() + 18);
    EXPECT_TRUE(process(bigger + end_of_press + frame + end_of_press).first.empty());
}

TEST(ProcessSignal, PressesDifferingInOneValueGiveTwoSignals)
{
    const ir_signal frame = nec_frame(0x01, 0x02);
    ir_signal other = frame;
    other[11] = S(560 + 700);
    recorded_log log;
    const processed out = process(frame + end_of_press + other + end_of_press, &log);
    EXPECT_EQ(out.first, durations(frame));
    EXPECT_EQ(out.second, durations(other));
    EXPECT_TRUE(log.has(log_level::debug, "first and second signal don't match, using both signals"));
}

TEST(ProcessSignal, EdgesOfEachBurstAreCleaned)
{
    const ir_signal frame = nec_frame(0x33, 0x44);
    // Second burst: leading tail of the timeout (dropped), leading spaces,
    // a trailing fragment after a long space (dropped), trailing spaces.
    const ir_signal second = ir_signal{P(150000), S(700)} + frame + ir_signal{S(45000), P(560), S(560), P(560)} +
                             ir_signal{S(800), S(900)};
    const processed out = process(frame + end_of_press + second + end_of_press + frame);
    EXPECT_EQ(out.first, durations(frame));
    EXPECT_TRUE(out.second.empty());
}

TEST(TrailingSignal, RemovedOnlyWithFewerThanTenValuesAfterIt)
{
    signal_processor processor;
    const ir_signal head{P(9000), S(4500), P(560)};
    ir_signal nine = head + ir_signal{S(40001)} + ir_signal(9, P(560));
    processor.delete_trailing_signal(nine);
    EXPECT_EQ(nine, head);
    ir_signal ten = head + ir_signal{S(40001)} + ir_signal(10, P(560));
    const ir_signal kept = ten;
    processor.delete_trailing_signal(ten);
    EXPECT_EQ(ten, kept);
    ir_signal boundary = head + ir_signal{S(40000), P(560)};
    processor.delete_trailing_signal(boundary);
    EXPECT_EQ(boundary.size(), 5u);
}

TEST(TrailingRepeats, CutsAfterTheEarliestMatchingFrame)
{
    signal_processor processor;
    const ir_signal frame{P(900), S(450), P(300), S(700), P(300)};
    const ir_signal block = ir_signal{S(20000)} + frame; // 6 values
    // The whole signal is block, block, block: the match at k = 0 keeps two.
    ir_signal three = block + block + block;
    processor.delete_trailing_repeats(three);
    EXPECT_EQ(three, block + block);
    // A lone frame followed by one repeat is left whole.
    ir_signal two = ir_signal{S(5000)} + frame + block;
    const ir_signal before = two;
    processor.delete_trailing_repeats(two);
    EXPECT_EQ(two, before);
    // A repeat gap of 10000 µs or less does not start a repeat.
    const ir_signal short_block = ir_signal{S(10000)} + frame;
    ir_signal short_gaps = short_block + short_block + short_block;
    processor.delete_trailing_repeats(short_gaps);
    EXPECT_EQ(short_gaps.size(), 18u);
    for (std::size_t n = 0; n < 8; ++n) { // short signals stay in bounds
        ir_signal tiny(n, S(20000));
        processor.delete_trailing_repeats(tiny);
        EXPECT_LE(tiny.size(), n);
    }
}

TEST(ProcessSignal, ResultsHoldDurationsOnly)
{
    const ir_signal frame = nec_frame(0x7F, 0x80);
    ir_signal other = frame;
    other[5] = S(4000);
    const processed out = process(frame + end_of_press + other + end_of_press);
    ASSERT_FALSE(out.second.empty());
    for (const ir_signal *signal : {&out.first, &out.second})
        for (lirc_value value : *signal)
            EXPECT_EQ(value & ~lirc_duration_mask, 0u);
}

TEST(Dump, SixToALineAndLongValuesStartAParagraph)
{
    const auto lines = signal_processor::dump_lines(
        {P(9000), S(4500), P(560), S(560), P(560), S(1690), P(560), S(39500), P(9000), S(20000)});
    const std::vector<std::string> expected{
        "    9000-P    4500-S     560-P     560-S     560-P    1690-S",
        "     560-P",
        "",
        "   39500-S    9000-P",
        "",
        "   20000-S",
    };
    EXPECT_EQ(lines, expected);
}

TEST(ProcessSignal, DebugTraceIsOnlyBuiltWhenEnabled)
{
    recorded_log log;
    log.debug = false;
    process(nec_frame(1, 1) + end_of_press + nec_frame(1, 1) + end_of_press, &log);
    EXPECT_TRUE(log.lines.empty());
    recorded_log traced;
    process(nec_frame(1, 1) + end_of_press + nec_frame(1, 1) + end_of_press, &traced);
    const auto lines = traced.texts(log_level::debug);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "======================= Raw Capture =======================");
    EXPECT_TRUE(traced.has(log_level::debug, "m_psdata.size =  67"));
    EXPECT_TRUE(traced.has(log_level::debug, "signal 2:"));
}

} // namespace
} // namespace tulka::test
