// The real tulkad with the real lircd it starts itself, on the virtual
// board: keys that lircd broadcasts reach the client as press, repeat and
// release; buttons are learned from /dev/lirc0, installed for lircd and
// then decoded by it.
#include "board_tulkad.h"
#include "lircd_client.h"
#include "socket_client.h"
#include "test_support.h"

#include "vboard/testkit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace tulka_test;
using namespace std::chrono_literals;
using tulka::ir_signal;
using tulka::server_event;
using tulka::test::lircd_client;
using tulka::test::nec_frame;
using tulka::test::nec_repeat;
using tulka::test::operator+;
using tulka::test::P;
using tulka::test::S;
using tulka::test::sony_frame;
using tulka::test::timeout_space;
using steady = std::chrono::steady_clock;

constexpr auto event_limit = 3s;
// lircd comes back within a second of its start: tulkad retries every second.
constexpr auto reconnect_limit = 3s;
// The receiver's words are played this much faster than a remote sends them.
constexpr double ir_speed = 10;
const char *const lircd_socket = "/run/lirc/lircd";
const char *const start_line =
    "exec_sync: lircd -O /etc/lirc/lirc_options.conf -r --repeat-max=10 "
    "/etc/lirc/lircd.conf\n";

// How far a generated repeat may seem early (the client's clock starts
// when it has read the event before) or late (a loaded machine).
constexpr int early_slack_ms = 15;
constexpr int late_slack_ms = 60;

constexpr int32_t code_power = 116, code_1 = 2, code_2 = 3, code_volumeup = 115;

long long ms_since(steady::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - start).count();
}

// Two presses of a button as the receiver delivers them: silence before,
// the receiver's timeout mark after each press, and a pause between them.
ir_signal two_presses(const ir_signal &first, const ir_signal &second)
{
    return ir_signal{S(500000)} + first + ir_signal{timeout_space, S(300000)} + second + ir_signal{timeout_space};
}

// A press as lircd's file driver reads it, each duration scaled.
std::string press_file(const ir_signal &press, double scale)
{
    std::string text = "space 100000\n";
    for (tulka::lirc_value value : press)
        text += (tulka::is_pulse(value) ? "pulse " : "space ") +
                std::to_string(std::lround(tulka::duration_of(value) * scale)) + "\n";
    return text + "space 40000\n";
}

// The first `count` values of a frame.
ir_signal head(const ir_signal &frame, size_t count)
{
    return ir_signal(frame.begin(), frame.begin() + static_cast<long>(count));
}

std::string escaped(const std::string &text) { return std::regex_replace(text, std::regex("\\."), "\\."); }

const ir_signal sony_1 = sony_frame(0x095);

// The learned file of KEY_1 from two presses of sony_1, as lircd must get it:
// the remote (shared with the real-kernel board's test), then the capture.
const std::string sony_1_config = tulka::test::read_text(TULKA_TEST_DATA "/learned_KEY_1.remote") +
                                  R"(# BEGIN RAW IR DATA CAPTURE
#    500000  16779616       600  16778416       600  16777816
#       600  16778416       600  16777816       600  16778416
#       600  16777816       600  16777816       600  16778416
#       600  16777816       600  16777816       600  16777816
#       600  16777816  16777215    300000  16779616       600
#  16778416       600  16777816       600  16778416       600
#  16777816       600  16778416       600  16777816       600
#  16777816       600  16778416       600  16777816       600
#  16777816       600  16777816       600  16777816  16777215
# END RAW IR DATA CAPTURE
)";

struct learn_outcome {
    int result = -1; // -1: no learn-complete message
    int activities = 0;
};

class TulkadLirc : public ::testing::Test {
protected:
    void SetUp() override
    {
        const run_result setup = board.shell(board_tulkad::lircd_setup() + extra_setup());
        ASSERT_EQ(setup.status, 0) << setup.err;
    }

    void TearDown() override
    {
        if (client >= 0)
            close(client);
        // Under the sanitizers, tulkad's reports would be on its error stream.
        const run_result r = board.stop(SIGTERM);
        EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    }

    // Board files a test needs before tulkad starts.
    virtual std::string extra_setup() { return ""; }

    void start(const std::vector<std::string> &args, bool keep_board = false)
    {
        board.start(args, keep_board);
        client = board.connect_client();
        ASSERT_GE(client, 0);
        ASSERT_TRUE(await_lircd_connections(1));
    }

    bool await_lircd_connections(size_t count)
    {
        return await_for([&] { return occurrences(board.out(), "connected to lircd\n") >= count; }, reconnect_limit);
    }

    std::string host_file(const std::string &board_path) const { return board.host_path(board_path); }

    // A client of the board's lircd that lircd has taken in.
    std::unique_ptr<lircd_client> lircd()
    {
        auto peer = std::make_unique<lircd_client>(host_file(lircd_socket));
        EXPECT_TRUE(peer->connected() && peer->accepted());
        return peer;
    }

    // A decoded line injected into lircd, as `irsend SIMULATE` does it.
    void simulate(const std::string &line)
    {
        const auto peer = lircd();
        ASSERT_TRUE(peer->send("SIMULATE " + line + "\n"));
        const auto reply = peer->next_packet(event_limit);
        ASSERT_TRUE(reply && !reply->lines.empty()) << line;
        EXPECT_EQ(reply->lines.front(), "SUCCESS") << line;
    }

    std::optional<server_event> next_event(std::chrono::milliseconds limit = event_limit)
    {
        return tulka_test::next_event(client, limit);
    }

    // Expects the next message to be a key event of `code` and `value`.
    void expect_key(int32_t code, int32_t value, const std::string &remote)
    {
        const auto event = next_event();
        ASSERT_TRUE(event) << "no key event " << code << " " << value;
        EXPECT_EQ(event->type, tulka::TULKA_MSG_KEY_EVENT);
        EXPECT_EQ(event->code, code);
        EXPECT_EQ(event->value, value);
        EXPECT_EQ(event->remote, remote);
    }

    // Expects `count` repeats of `code`, the first `first_ms` after `since`
    // and each further one `step_ms` after the one before (as ranges: the
    // machine is shared and loaded, and each wait starts when the one before
    // has ended).
    void expect_repeats(int32_t code, steady::time_point since, int count, int first_ms, int step_ms)
    {
        int due = first_ms;
        for (int i = 0; i < count; ++i) {
            const auto event = next_event();
            const long long after = ms_since(since);
            since = steady::now();
            ASSERT_TRUE(event) << "repeat " << i;
            EXPECT_EQ(event->code, code);
            EXPECT_EQ(event->value, tulka::KEY_VALUE_REPEAT);
            EXPECT_EQ(event->remote, "repeat");
            EXPECT_GE(after, due - early_slack_ms) << "repeat " << i;
            EXPECT_LE(after, due + late_slack_ms) << "repeat " << i;
            due = step_ms;
        }
    }

    void expect_quiet(std::chrono::milliseconds span)
    {
        const auto event = next_event(span);
        EXPECT_FALSE(event) << "unexpected message type " << event->type << " code " << event->code;
    }

    // Sends a learn request and waits until tulkad has the receiver open.
    void request_learn(int32_t code)
    {
        const size_t opened = board.journal_lines("open /dev/lirc0").size();
        ASSERT_EQ(write_all(client, tulka::frame(tulka::pack_learn_start(code))), 0);
        ASSERT_TRUE(await_for([&] { return board.journal_lines("open /dev/lirc0").size() > opened; }, event_limit));
    }

    void play(const ir_signal &words)
    {
        const run_result sent = board.ir_send(std::vector<uint32_t>(words.begin(), words.end()), ir_speed);
        ASSERT_EQ(sent.status, 0) << sent.err;
    }

    // The messages up to the learn's result.
    learn_outcome await_learn_result()
    {
        learn_outcome outcome;
        while (const auto event = next_event()) {
            if (event->type == tulka::TULKA_MSG_LEARN_ACTIVITY) {
                ++outcome.activities;
            } else if (event->type == tulka::TULKA_MSG_LEARN_COMPLETE) {
                outcome.result = event->result;
                break;
            } else {
                ADD_FAILURE() << "message type " << event->type << " during a learn";
            }
        }
        return outcome;
    }

    learn_outcome learn(int32_t code, const ir_signal &words)
    {
        request_learn(code);
        play(words);
        return await_learn_result();
    }

    // Plays a fresh press through lircd's file driver.
    void press_for_lircd(const ir_signal &press, double scale)
    {
        {
            std::ofstream file(host_file("/tmp/press.txt"));
            file << press_file(press, scale);
        }
        const auto peer = lircd();
        ASSERT_TRUE(peer->send("DRV_OPTION set-infile /tmp/press.txt\n"));
        const auto reply = peer->next_packet(event_limit);
        ASSERT_TRUE(reply && !reply->lines.empty());
        EXPECT_EQ(reply->lines.front(), "SUCCESS");
    }

    // lircd decodes the press as the learned key, and tulkad sends the
    // press and, on lircd's key-up line, the release (after generated
    // repeats when lircd is slow to see the key up).
    void expect_decoded(const ir_signal &press, double scale, int32_t code, const std::string &key)
    {
        SCOPED_TRACE(key + " at " + std::to_string(scale));
        press_for_lircd(press, scale);
        expect_key(code, tulka::KEY_VALUE_PRESS, "learned_" + key);
        auto event = next_event();
        while (event && event->code == code && event->value == tulka::KEY_VALUE_REPEAT)
            event = next_event();
        ASSERT_TRUE(event) << "no release";
        EXPECT_EQ(event->code, code);
        EXPECT_EQ(event->value, tulka::KEY_VALUE_RELEASE);
        EXPECT_EQ(event->remote, "learned_" + key);
    }

    bool board_file_exists(const std::string &board_path) const
    {
        struct stat info {};
        return ::stat(host_file(board_path).c_str(), &info) == 0;
    }

    board_tulkad board;
    int client = -1;
};

// Relay of lircd's keys, with short repeat intervals.
class KeyRelay : public TulkadLirc {};

TEST_F(KeyRelay, PressGivesFiveRepeatsAtThreeToSevenIntervals)
{
    start({"-r", "100"});
    // Through the real irsend on the board once.
    const run_result sent = board.exec({"/usr/bin/irsend", "-d", "/var/run/lirc/lircd", "SIMULATE",
                                        "0000000000000074 00 KEY_POWER learned_KEY_POWER"});
    ASSERT_EQ(sent.status, 0) << sent.err;
    expect_key(code_power, tulka::KEY_VALUE_PRESS, "learned_KEY_POWER");
    const auto press = steady::now();
    expect_repeats(code_power, press, 5, 300, 100);
    expect_quiet(250ms);
    EXPECT_TRUE(std::regex_search(board.out(), std::regex("key: 116 value: press remote name: learned_KEY_POWER\n"
                                                          "[ 0-9]{10} filter\\(\\) key 116 press event send\n")))
        << board.out();
}

TEST_F(KeyRelay, RepeatLinesRefillKeyUpReleasesUnknownButtonsReleaseCodeZero)
{
    start({"-r", "100"});
    simulate("0000000000000074 00 KEY_POWER learned_KEY_POWER");
    expect_key(code_power, tulka::KEY_VALUE_PRESS, "learned_KEY_POWER");
    const auto press = steady::now();
    expect_repeats(code_power, press, 1, 300, 100);
    const auto first_repeat = steady::now();
    // Held: lircd's repeat line allows five more after the next one due.
    simulate("0000000000000074 01 KEY_POWER learned_KEY_POWER");
    expect_repeats(code_power, first_repeat, 5, 100, 100);
    expect_quiet(250ms);

    // A key-up line ends the repeats at once.
    simulate("0000000000000074 00 KEY_POWER learned_KEY_POWER");
    expect_key(code_power, tulka::KEY_VALUE_PRESS, "learned_KEY_POWER");
    simulate("0000000000000074 00 KEY_POWER_EVUP learned_KEY_POWER");
    expect_key(code_power, tulka::KEY_VALUE_RELEASE, "learned_KEY_POWER");
    expect_quiet(400ms);

    simulate("0000000000000001 00 FOO nowhere");
    expect_key(0, tulka::KEY_VALUE_RELEASE, "nowhere");
    simulate("0000000000000001 00 FOO_EVUP nowhere");
    expect_key(0, tulka::KEY_VALUE_RELEASE, "nowhere");
    // A remote name of 32 bytes or more is cut to 31.
    simulate("0000000000000001 00 KEY_1 " + std::string(40, 'r'));
    expect_key(code_1, tulka::KEY_VALUE_PRESS, std::string(31, 'r'));
}

TEST_F(KeyRelay, ReconnectsWhenLircdIsBackAfterALearnStoppedIt)
{
    start({"-r", "50"});
    request_learn(code_power);
    ASSERT_TRUE(board.wait_out("starting learn on /dev/lirc0\n", event_limit));
    EXPECT_TRUE(await_for([&] { return board.live_processes("lircd").empty(); }, event_limit));
    ASSERT_EQ(write_all(client, tulka::frame(tulka::pack_learn_cancel())), 0);
    const auto cancelled = next_event();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->type, tulka::TULKA_MSG_LEARN_COMPLETE);
    EXPECT_EQ(cancelled->result, 0);
    ASSERT_TRUE(await_lircd_connections(2)) << board.out();

    simulate("0000000000000073 00 KEY_VOLUMEUP other");
    expect_key(code_volumeup, tulka::KEY_VALUE_PRESS, "other");
    // -r 50: the first repeat after three intervals.
    expect_repeats(code_volumeup, steady::now(), 5, 150, 50);
}

// lircd, started again by a cancel, must not inherit tulkad's sockets: a
// client that tulkad drops then sees the end at once.
TEST_F(KeyRelay, ClientDroppedAfterALircdRestartSeesEndOfFile)
{
    start({});
    ASSERT_EQ(write_all(client, tulka::frame(tulka::pack_learn_cancel())), 0);
    ASSERT_TRUE(next_event());
    ASSERT_TRUE(await_lircd_connections(2)) << board.out();
    // A length above the limit makes tulkad drop the connection.
    ASSERT_EQ(write_all(client, {0xff, 0xff, 0xff, 0xff}), 0);
    EXPECT_TRUE(closed_by_peer(client, event_limit)) << board.err();
}

// Learning through /dev/lirc0, with the configuration directory given
// without its slash.
class Learning : public TulkadLirc {
protected:
    void SetUp() override
    {
        TulkadLirc::SetUp();
        start({"-c", "/etc/lirc/learned.d", "-s", "300", "-r", "100"});
    }

    size_t lircd_starts() const { return occurrences(board.out(), start_line); }

    // tulkad is connected to the lircd it started last.
    bool await_lircd_back()
    {
        return await_for(
            [&] {
                const std::string out = board.out();
                const size_t started = out.rfind(start_line);
                const size_t connected = out.rfind("connected to lircd\n");
                return started != std::string::npos && connected != std::string::npos && connected > started;
            },
            reconnect_limit);
    }
};

TEST_F(Learning, SonyButtonIsWrittenByteForByteAndDecodedByLircd)
{
    const learn_outcome outcome = learn(code_1, two_presses(sony_1, sony_1));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_GE(outcome.activities, 1);
    EXPECT_EQ(tulka::test::read_text(host_file("/etc/lirc/learned.d/KEY_1.conf")), sony_1_config);
    EXPECT_EQ(tulka::test::read_text(host_file("/etc/lirc/lircd.conf.d/KEY_1.conf")), sony_1_config);
    const std::string out = board.out();
    EXPECT_TRUE(std::regex_search(out, std::regex("saving remote config /etc/lirc/learned\\.d/KEY_1\\.conf\n"
                                                  "[ 0-9]{10} exec_sync: cp /etc/lirc/learned\\.d/KEY_1\\.conf "
                                                  "/etc/lirc/lircd\\.conf\\.d/\n"
                                                  "[ 0-9]{10} exec_sync: cat /etc/lirc/lircd\\.conf\\.d/KEY_1\\.conf\n"
                                                  "begin remote\n")))
        << out;
    EXPECT_NE(board.err().find("m_callback call \n"), std::string::npos);

    ASSERT_TRUE(await_lircd_back());
    for (double scale : {1.0, 0.8, 1.2})
        expect_decoded(sony_1 + ir_signal{S(25800)} + sony_1, scale, code_1, "KEY_1");
}

TEST_F(Learning, NecButtonWithRepeatCodesIsDecodedByLircd)
{
    const tulka::test::nec_timing jitter{8950, 4450, 600, 1650, 620};
    const ir_signal frame = nec_frame(0x04, 0x08);
    const learn_outcome outcome = learn(code_volumeup, two_presses(frame + nec_repeat() + nec_repeat(),
                                                                   nec_frame(0x04, 0x08, jitter) + nec_repeat()));
    ASSERT_EQ(outcome.result, 1);
    const std::string config = tulka::test::read_text(host_file("/etc/lirc/lircd.conf.d/KEY_VOLUMEUP.conf"));
    EXPECT_EQ(occurrences(config, "          name KEY_VOLUMEUP\n"), 1u) << config;
    ASSERT_TRUE(await_lircd_back());
    for (double scale : {0.8, 1.2})
        expect_decoded(frame + nec_repeat(), scale, code_volumeup, "KEY_VOLUMEUP");
}

TEST_F(Learning, CapturesThatCannotBeLearnedFailAndLircdRunsAgain)
{
    struct {
        const char *what;
        ir_signal words;
    } cases[] = {
        {"one press only", ir_signal{S(500000)} + nec_frame(0x10, 0x20) + ir_signal{timeout_space}},
        // 25 and 41 values: 0.75 times 41 is more than 25.
        {"frames of different sizes", two_presses(sony_1, sony_1 + ir_signal{S(600)} + head(sony_frame(0xAA), 15))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const size_t starts = lircd_starts();
        const learn_outcome outcome = learn(code_2, c.words);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_FALSE(board_file_exists("/etc/lirc/learned.d/KEY_2.conf"));
        EXPECT_FALSE(board_file_exists("/etc/lirc/lircd.conf.d/KEY_2.conf"));
        EXPECT_TRUE(await_for([&] { return lircd_starts() == starts + 1; }, event_limit));
        EXPECT_EQ(occurrences(board.out(), "saving remote config"), 0u);
    }
    ASSERT_TRUE(await_lircd_back());
}

TEST_F(Learning, SmallFirstBurstIsDroppedAndPressesDifferingInOneValueGiveTwoCodes)
{
    const ir_signal small_burst = head(sony_1, 11);
    const learn_outcome dropped = learn(code_1, ir_signal{S(500000)} + small_burst +
                                                    ir_signal{timeout_space, S(300000)} + two_presses(sony_1, sony_1));
    EXPECT_EQ(dropped.result, 1);
    const std::string one_code = tulka::test::read_text(host_file("/etc/lirc/learned.d/KEY_1.conf"));
    EXPECT_EQ(occurrences(one_code, "          name KEY_1\n"), 1u) << one_code;

    ir_signal changed = sony_1;
    changed[4] = P(3000);
    const learn_outcome differing = learn(code_2, two_presses(sony_1, changed));
    EXPECT_EQ(differing.result, 1);
    const std::string two_codes = tulka::test::read_text(host_file("/etc/lirc/learned.d/KEY_2.conf"));
    EXPECT_EQ(occurrences(two_codes, "          name KEY_2\n"), 2u) << two_codes;
    EXPECT_NE(two_codes.find("    3000"), std::string::npos) << two_codes;

    // Only the second code is KEY_2's alone: KEY_1 has the first one too.
    ASSERT_TRUE(await_lircd_back());
    expect_decoded(changed, 0.9, code_2, "KEY_2");
    expect_decoded(changed, 1.1, code_2, "KEY_2");
}

TEST_F(Learning, SecondLearnDuringSamplingStartsAFreshCapture)
{
    request_learn(code_2);
    // The first press is complete, so the first learn's sample time runs.
    play(ir_signal{S(500000)} + nec_frame(0x10, 0x20) + ir_signal{timeout_space});
    ASSERT_TRUE(board.wait_out("minimum amount of data captured\\.\\.\\.\n", event_limit));
    const learn_outcome outcome = learn(code_1, two_presses(sony_1, sony_1));
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(tulka::test::read_text(host_file("/etc/lirc/learned.d/KEY_1.conf")), sony_1_config);
    // The replaced learn never completes.
    expect_quiet(600ms);
    EXPECT_FALSE(board_file_exists("/etc/lirc/learned.d/KEY_2.conf"));
    EXPECT_EQ(occurrences(board.err(), "m_callback call \n"), 1u);
}

TEST_F(Learning, CancelWhileTheReceiverCannotBeOpenedStopsTheRetries)
{
    // The receiver's channels cannot be made: every open fails.
    const std::string channels = board.state_path("lirc0.d");
    std::filesystem::remove_all(channels);
    std::ofstream(channels) << "blocked\n";
    const std::string retry = "error opening /dev/lirc0 - retrying...\n";
    ASSERT_EQ(write_all(client, tulka::frame(tulka::pack_learn_start(code_1))), 0);
    ASSERT_TRUE(await_for([&] { return occurrences(board.out(), retry) >= 3; }, event_limit));
    const size_t starts = lircd_starts();
    ASSERT_EQ(write_all(client, tulka::frame(tulka::pack_learn_cancel())), 0);
    const auto cancelled = next_event();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->type, tulka::TULKA_MSG_LEARN_COMPLETE);
    EXPECT_EQ(cancelled->result, 0);
    const size_t retries = occurrences(board.out(), retry);
    expect_quiet(400ms);
    EXPECT_EQ(occurrences(board.out(), retry), retries);
    EXPECT_EQ(lircd_starts(), starts + 1);
    EXPECT_TRUE(await_lircd_back());

    // Once the receiver can be opened again, learning works.
    std::filesystem::remove(channels);
    EXPECT_EQ(learn(code_1, two_presses(sony_1, sony_1)).result, 1);
}

// tulkad ends; the board stays up, so that what it leaves can be seen.
class Shutdown : public TulkadLirc {
protected:
    void expect_ends_without_lircd()
    {
        const int tulkad = board.pid();
        ASSERT_GT(tulkad, 0);
        ASSERT_EQ(::kill(tulkad, SIGTERM), 0);
        ASSERT_TRUE(board.wait_out("exiting\n", event_limit)) << board.out();
        EXPECT_TRUE(await_for([&] { return board.live_processes("lircd").empty(); }, 1000ms))
            << "lircd outlived tulkad";
        EXPECT_TRUE(std::regex_search(board.err(), std::regex("caught signal 15\n"))) << board.err();
        EXPECT_TRUE(std::regex_search(board.out(), std::regex("exec_sync: killall lircd\n[ 0-9]{10} exiting\n$")))
            << board.out();
    }
};

TEST_F(Shutdown, SigtermWhileRelayingStopsLircd)
{
    start({}, true);
    ASSERT_EQ(board.live_processes("lircd").size(), 1u);
    expect_ends_without_lircd();
}

TEST_F(Shutdown, SigtermDuringALearnEndsTheDaemonAndLircd)
{
    start({"-s", "5000"}, true);
    request_learn(code_1);
    play(ir_signal{S(500000)} + sony_1 + ir_signal{timeout_space} + sony_1);
    ASSERT_TRUE(board.wait_out("minimum amount of data captured\\.\\.\\.\n", event_limit));
    expect_ends_without_lircd();
    EXPECT_EQ(board.err().find("m_callback call"), std::string::npos);
}

// Learned files of several names, installed before tulkad starts.
class ClearLearned : public TulkadLirc {
protected:
    std::string extra_setup() override
    {
        std::string setup;
        for (const char *name : {"k10.conf", "k2.conf", ".conf", "b.txt", "c.conf.bak"})
            for (const char *dir : {"/etc/lirc/learned.d/", "/etc/lirc/lircd.conf.d/"})
                setup += std::string(" && echo '# not a remote' > ") + dir + name;
        setup += " && cat > /etc/lirc/learned.d/KEY_1.conf <<'EOF'\n" + sony_1_config + "EOF\n";
        return setup + "cp /etc/lirc/learned.d/KEY_1.conf /etc/lirc/lircd.conf.d/";
    }

    // The pid file names lircd's process itself (it is written first by the
    // starter that forks it), so that a reload reaches it.
    bool await_pid_file()
    {
        return await_for(
            [&] {
                const std::vector<int> live = board.live_processes("lircd");
                const std::string pid = tulka::test::read_text(host_file("/run/lirc/lircd.pid"));
                return live.size() == 1 && !pid.empty() && pid_in_board(live.front()) == std::atoi(pid.c_str());
            },
            event_limit);
    }

    // The pid a host process has in the board's namespace.
    static int pid_in_board(int host_pid)
    {
        std::ifstream status("/proc/" + std::to_string(host_pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("NSpid:", 0) == 0)
                return std::atoi(line.substr(line.find_last_of(" \t") + 1).c_str());
        return 0;
    }
};

TEST_F(ClearLearned, DeletesConfFilesInVersionOrderAndLircdDropsThem)
{
    start({"-r", "100"});
    expect_decoded(sony_1, 1.0, code_1, "KEY_1");
    ASSERT_TRUE(await_pid_file());
    const auto peer = lircd();
    ASSERT_EQ(write_all(client, tulka::frame(tulka::pack_clear_learned())), 0);
    const auto hangup = peer->next_packet(event_limit);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->command, "SIGHUP");

    std::string unlinks;
    for (const char *name : {".conf", "KEY_1.conf", "k2.conf", "k10.conf"})
        for (const char *dir : {"/etc/lirc/learned.d/", "/etc/lirc/lircd.conf.d/"})
            unlinks += "[ 0-9]{10} unlink " + escaped(std::string(dir) + name) + "\n";
    EXPECT_TRUE(std::regex_search(board.out(), std::regex(unlinks))) << board.out();
    for (const char *dir : {"/etc/lirc/learned.d/", "/etc/lirc/lircd.conf.d/"}) {
        for (const char *gone : {"k10.conf", "k2.conf", ".conf", "KEY_1.conf"})
            EXPECT_FALSE(board_file_exists(std::string(dir) + gone)) << dir << gone;
        for (const char *kept : {"b.txt", "c.conf.bak"})
            EXPECT_TRUE(board_file_exists(std::string(dir) + kept)) << dir << kept;
    }
    // Reloaded: the button is no longer decoded, and no reply was sent.
    press_for_lircd(sony_1, 1.0);
    expect_quiet(600ms);
    EXPECT_FALSE(peer->next_key(10ms));
}

} // namespace
