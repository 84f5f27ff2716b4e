#include "learned_config.h"

#include <gtest/gtest.h>

#include "learn_capture.h"
#include "test_support.h"

namespace tulka::test {
namespace {

// Two NEC presses of address 4, command 8, each with two repeat codes, the
// second press a little off in every value.
ir_signal nec_two_press_capture()
{
    const nec_timing jitter{8950, 4450, 600, 1650, 620};
    return ir_signal{S(2000000)} + nec_frame(0x04, 0x08) + nec_repeat() + nec_repeat() + ir_signal{timeout_space} +
           ir_signal{S(300000)} + nec_frame(0x04, 0x08, jitter) + nec_repeat() + nec_repeat() +
           ir_signal{timeout_space};
}

const char *const expected_nec_file = R"(begin remote

  name learned_KEY_POWER
  flags RAW_CODES|CONST_LENGTH
  eps 30
  aeps 100
  gap 129290
  ptrail          0
  repeat     0     0

      begin raw_codes

          name KEY_POWER
             9000    4500     560     560     560     560
              560    1690     560     560     560     560
              560     560     560     560     560     560
              560    1690     560    1690     560     560
              560    1690     560    1690     560    1690
              560    1690     560    1690     560     560
              560     560     560     560     560    1690
              560     560     560     560     560     560
              560     560     560    1690     560    1690
              560    1690     560     560     560    1690
              560    1690     560    1690     560    1690
              560   39500    9000    2250     560

      end raw_codes

end remote

# BEGIN RAW IR DATA CAPTURE
#   2000000  16786216      4500  16777776       560  16777776
#       560  16777776      1690  16777776       560  16777776
#       560  16777776       560  16777776       560  16777776
#       560  16777776      1690  16777776      1690  16777776
#       560  16777776      1690  16777776      1690  16777776
#      1690  16777776      1690  16777776      1690  16777776
#       560  16777776       560  16777776       560  16777776
#      1690  16777776       560  16777776       560  16777776
#       560  16777776       560  16777776      1690  16777776
#      1690  16777776      1690  16777776       560  16777776
#      1690  16777776      1690  16777776      1690  16777776
#      1690  16777776     39500  16786216      2250  16777776
#     39500  16786216      2250  16777776  16777215    300000
#  16786166      4450  16777816       620  16777816       620
#  16777816      1650  16777816       620  16777816       620
#  16777816       620  16777816       620  16777816       620
#  16777816      1650  16777816      1650  16777816       620
#  16777816      1650  16777816      1650  16777816      1650
#  16777816      1650  16777816      1650  16777816       620
#  16777816       620  16777816       620  16777816      1650
#  16777816       620  16777816       620  16777816       620
#  16777816       620  16777816      1650  16777816      1650
#  16777816      1650  16777816       620  16777816      1650
#  16777816      1650  16777816      1650  16777816      1650
#  16777816     39500  16786216      2250  16777776     39500
#  16786216      2250  16777776  16777215
# END RAW IR DATA CAPTURE
)";

TEST(LearnedFile, NecCaptureIsWrittenByteForByteAndInstalled)
{
    temp_dir tmp;
    const std::string learned = tmp.sub("learned.d"), installed = tmp.sub("lircd.conf.d");
    recorded_log log;
    recorded_commands commands;
    learn_capture capture(log.sink(), [] { return std::int64_t{1000}; });
    const ir_signal words = nec_two_press_capture();
    // As the receiver delivers it: in reads of a few words.
    for (std::size_t at = 0; at < words.size(); at += 5)
        capture.on_read(words.data() + at, std::min<std::size_t>(5, words.size() - at) * sizeof(lirc_value), {});
    ASSERT_TRUE(capture.finish());

    learned_store store(learned, commands.runner(), log.sink(), installed);
    store.save_config("KEY_POWER", capture.gap(), capture.first(), capture.second(), capture.raw());
    EXPECT_EQ(read_text(learned + "KEY_POWER.conf"), expected_nec_file);
    EXPECT_TRUE(log.has(log_level::info, "saving remote config " + learned + "KEY_POWER.conf"));
    const std::vector<std::string> expected_commands{
        "cp " + learned + "KEY_POWER.conf " + installed,
        "cat " + installed + "KEY_POWER.conf",
    };
    EXPECT_EQ(commands.lines, expected_commands);
}

TEST(LearnedFile, CommandsOfTheBoardPaths)
{
    recorded_commands commands;
    learned_store store("/etc/lirc/learned.d/", commands.runner(), {});
    EXPECT_EQ(store.config_path("KEY_POWER"), "/etc/lirc/learned.d/KEY_POWER.conf");
    EXPECT_EQ(store.copy_command("KEY_POWER"), "cp /etc/lirc/learned.d/KEY_POWER.conf /etc/lirc/lircd.conf.d/");
    EXPECT_EQ(store.show_command("KEY_POWER"), "cat /etc/lirc/lircd.conf.d/KEY_POWER.conf");
}

TEST(LearnedText, CodesWrapAtSixValuesAndTwoCodesShareTheName)
{
    ir_signal thirteen;
    for (lirc_value v = 1; v <= 13; ++v)
        thirteen.push_back(v * 100);
    const std::string text = learned_config_text("KEY_MUTE", 12345, {9000, 4500, 560}, thirteen,
                                                 {P(9000), S(4500), P(560), timeout_space, S(7), P(8), S(9)});
    const std::string expected =
        "begin remote\n\n"
        "  name learned_KEY_MUTE\n"
        "  flags RAW_CODES|CONST_LENGTH\n"
        "  eps 30\n"
        "  aeps 100\n"
        "  gap 12345\n"
        "  ptrail          0\n"
        "  repeat     0     0\n\n"
        "      begin raw_codes\n\n"
        "          name KEY_MUTE\n"
        "             9000    4500     560\n\n"
        "          name KEY_MUTE\n"
        "              100     200     300     400     500     600\n"
        "              700     800     900    1000    1100    1200\n"
        "             1300\n\n"
        "      end raw_codes\n\n"
        "end remote\n\n"
        "# BEGIN RAW IR DATA CAPTURE\n"
        "#  16786216      4500  16777776  16777215         7  16777224\n"
        "#         9\n"
        "# END RAW IR DATA CAPTURE\n";
    EXPECT_EQ(text, expected);
}

TEST(LearnedText, RawCodesEndWithAPulse)
{
    ir_signal even(68, 500), odd(67, 500), none;
    end_with_pulse(even);
    end_with_pulse(odd);
    end_with_pulse(none);
    EXPECT_EQ(even.size(), 67u);
    EXPECT_EQ(odd.size(), 67u);
    EXPECT_TRUE(none.empty());

    temp_dir tmp;
    recorded_commands commands;
    learned_store store(tmp.dir(), commands.runner(), {}, tmp.sub("installed"));
    store.save_config("KEY_A", 20000, ir_signal(18, 500), {}, {});
    const std::string text = read_text(tmp.dir() + "KEY_A.conf");
    EXPECT_NE(text.find("\n              500     500     500     500     500\n\n      end raw_codes"),
              std::string::npos);
}

TEST(LearnedFile, UnwritableDirectoryInstallsNothing)
{
    temp_dir tmp;
    recorded_log log;
    recorded_commands commands;
    learned_store store(tmp.dir() + "missing/", commands.runner(), log.sink(), tmp.sub("installed"));
    store.save_config("KEY_OK", 20000, ir_signal(19, 500), {}, {});
    EXPECT_TRUE(log.has(log_level::error, "error: failed to open " + tmp.dir() + "missing/KEY_OK.conf"));
    EXPECT_TRUE(commands.lines.empty());
}

} // namespace
} // namespace tulka::test
