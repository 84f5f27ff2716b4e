// Learned configurations against the real lircd: a capture is learned and
// written as tulkad writes it, lircd loads it, and a fresh press with
// timings off by up to 20% is decoded as the learned button.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "learn_capture.h"
#include "learned_config.h"
#include "lircd_control.h"
#include "lircd_client.h"
#include "lircd_lines.h"
#include "test_support.h"

namespace tulka::test {
namespace {

using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

// Polls `done` in short steps until it holds or `limit` has passed.
template <typename Condition> bool await(Condition done, std::chrono::milliseconds limit)
{
    const auto until = clock_type::now() + limit;
    while (!done()) {
        if (clock_type::now() > until)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A capture as text for lircd's file driver, each duration scaled.
std::string press_file_text(const ir_signal &press, double scale)
{
    std::string text = "space 100000\n";
    for (lirc_value value : press)
        text += (is_pulse(value) ? "pulse " : "space ") + std::to_string(std::lround(duration_of(value) * scale)) +
                "\n";
    return text + "space 40000\n";
}

class LircdDecode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
        m_learned = m_tmp.sub("learned.d");
        m_installed = m_tmp.sub("lircd.conf.d");
        write_text(m_tmp.dir() + "lirc_options.conf",
                   "[lircd]\n"
                   "driver          = file\n"
                   "output          = " +
                       socket_path() +
                       "\n"
                       "pidfile         = " +
                       pid_path() +
                       "\n"
                       "permission      = 666\n"
                       "allow-simulate  = Yes\n");
        write_text(m_tmp.dir() + "lircd.conf", "include \"lircd.conf.d/*.conf\"\n");
    }
    void TearDown() override { stop_lircd(); }

    std::string socket_path() const { return m_tmp.dir() + "lircd"; }
    std::string pid_path() const { return m_tmp.dir() + "lircd.pid"; }

    // Learns `key` from two presses, writing and installing its file.
    void learn(const std::string &key, const ir_signal &first_press, const ir_signal &second_press)
    {
        learn_capture capture({});
        const ir_signal words = ir_signal{S(2000000)} + first_press + ir_signal{timeout_space, S(300000)} +
                                second_press + ir_signal{timeout_space};
        capture.on_read(words.data(), words.size() * sizeof(lirc_value), {});
        ASSERT_TRUE(capture.finish()) << key;
        auto quiet = [](const std::string &command) { return run_with_system(command + " >/dev/null"); };
        learned_store(m_learned, quiet, {}, m_installed)
            .save_config(key, capture.gap(), capture.first(), capture.second(), capture.raw());
        ASSERT_TRUE(exists(m_installed + key + ".conf"));
    }

    void start_lircd()
    {
        // The daemon's own start, with this test's options file. The file
        // driver logs to "testdata.sym" in lircd's working directory.
        run_with_system("cd " + m_tmp.dir() + " && lircd -O lirc_options.conf -r --repeat-max=10 " + m_tmp.dir() +
                        "lircd.conf");
        ASSERT_TRUE(await([&] { return lircd_client(socket_path()).connected(); }, 3000ms));
        // The pid file first names the process that forks into the
        // background, which has exited once the start command returns.
        ASSERT_TRUE(await(
            [&] {
                m_pid = std::atoi(read_text(pid_path()).c_str());
                return m_pid > 0 && ::kill(m_pid, 0) == 0;
            },
            3000ms));
    }
    // lircd leaves its starter at once; as subreaper the test reaps it.
    void stop_lircd()
    {
        if (m_pid <= 0)
            return;
        auto reaped = [&] { return ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; };
        ::kill(m_pid, SIGTERM);
        if (!await(reaped, 2000ms)) {
            ADD_FAILURE() << "lircd ignored SIGTERM";
            ::kill(m_pid, SIGKILL);
            await(reaped, 2000ms);
        }
        m_pid = -1;
    }

    // Plays a press through the file driver; lircd's reply is awaited.
    void play(const ir_signal &press, double scale)
    {
        const std::string path = m_tmp.dir() + "press.txt";
        write_text(path, press_file_text(press, scale));
        lircd_client command(socket_path());
        ASSERT_TRUE(command.connected());
        ASSERT_TRUE(command.send("DRV_OPTION set-infile " + path + "\n"));
        const auto reply = command.next_packet(2000ms);
        ASSERT_TRUE(reply);
        ASSERT_FALSE(reply->lines.empty());
        EXPECT_EQ(reply->lines.front(), "SUCCESS");
    }

    void expect_decoded(lircd_client &client, const ir_signal &press, double scale, const std::string &key)
    {
        play(press, scale);
        const auto decoded = client.next_key(2000ms);
        ASSERT_TRUE(decoded) << key << " at " << scale;
        EXPECT_EQ(decoded->button, key);
        EXPECT_EQ(decoded->remote, "learned_" + key);
        EXPECT_EQ(decoded->repeat, 0u);
        const auto released = client.next_key(2000ms);
        ASSERT_TRUE(released);
        EXPECT_EQ(released->button, key + "_EVUP");
    }

    temp_dir m_tmp;
    std::string m_learned, m_installed;
    pid_t m_pid = -1;
};

TEST_F(LircdDecode, LearnedButtonsAreDecodedFromFreshPresses)
{
    const nec_timing jitter{8950, 4450, 600, 1650, 620};
    const ir_signal nec = nec_frame(0x04, 0x08) + nec_repeat();
    learn("KEY_POWER", nec + nec_repeat(), nec_frame(0x04, 0x08, jitter) + nec_repeat() + nec_repeat());

    const ir_signal sony = sony_frame(0x095), sony_gap{S(25800)};
    const ir_signal sony_press = sony + sony_gap + sony + sony_gap + sony;
    learn("KEY_1", sony_press, sony_press);

    // Presses that differ in one value give a file with two codes.
    const ir_signal other = nec_frame(0x10, 0x20);
    ir_signal changed = other;
    changed[11] = S(3000);
    learn("KEY_2", other, changed);
    const std::string two_codes = read_text(m_installed + "KEY_2.conf");
    EXPECT_NE(two_codes.find("name KEY_2\n", two_codes.find("name KEY_2\n") + 1), std::string::npos);

    start_lircd();
    lircd_client client(socket_path());
    ASSERT_TRUE(client.accepted());
    for (double scale : {1.0, 0.8, 1.2}) {
        expect_decoded(client, nec, scale, "KEY_POWER");
        expect_decoded(client, sony + sony_gap + sony, scale, "KEY_1");
        expect_decoded(client, other, scale, "KEY_2");
        expect_decoded(client, changed, scale, "KEY_2");
    }
}

TEST_F(LircdDecode, ReloadAfterClearIsBroadcast)
{
    learn("KEY_POWER", nec_frame(0x04, 0x08), nec_frame(0x04, 0x08));
    start_lircd();
    lircd_client client(socket_path());
    ASSERT_TRUE(client.accepted());
    lircd_control lircd(run_with_system, {m_tmp.dir(), pid_path()});
    learned_store(m_learned, run_with_system, {}, m_installed).clear_learned(lircd);
    EXPECT_FALSE(exists(m_installed + "KEY_POWER.conf"));
    const auto hangup = client.next_packet(3000ms);
    ASSERT_TRUE(hangup);
    EXPECT_EQ(hangup->command, "SIGHUP");
    // Simulated keys pass straight through to the clients.
    lircd_client sender(socket_path());
    ASSERT_TRUE(sender.send("SIMULATE 0000000000000074 00 KEY_POWER learned_KEY_POWER\n"));
    const auto simulated = client.next_key(2000ms);
    ASSERT_TRUE(simulated);
    EXPECT_EQ(simulated->button, "KEY_POWER");
    EXPECT_EQ(simulated->remote, "learned_KEY_POWER");
}

} // namespace
} // namespace tulka::test
