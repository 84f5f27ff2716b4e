#include "lircd_control.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "learned_config.h"
#include "test_support.h"

namespace tulka::test {
namespace {

// A stand-in for lircd that tells which signal reached it first.
class signal_witness {
public:
    static constexpr int saw_hangup = 1, saw_terminate = 2;

    signal_witness()
    {
        sigset_t wanted = signals();
        sigset_t old;
        ::sigprocmask(SIG_BLOCK, &wanted, &old);
        m_pid = ::fork();
        if (m_pid == 0) {
            int which = 0;
            ::sigwait(&wanted, &which);
            ::_exit(which == SIGHUP ? saw_hangup : saw_terminate);
        }
        ::sigprocmask(SIG_SETMASK, &old, nullptr);
    }
    ~signal_witness()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    pid_t pid() const { return m_pid; }
    // Sends SIGTERM: a SIGHUP sent before it is still pending and wins.
    int first_signal()
    {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static sigset_t signals()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGHUP);
        sigaddset(&set, SIGTERM);
        return set;
    }
    pid_t m_pid = -1;
    bool m_reaped = false;
};

TEST(LircdControl, StopStartAndRestartCommands)
{
    temp_dir tmp;
    recorded_commands commands;
    lircd_control lircd(commands.runner(), {tmp.dir() + "run", tmp.dir() + "run/lircd.pid"});
    lircd.start_lircd(); // no run directory yet
    lircd.stop_lircd();
    tmp.sub("run");
    lircd.restart_lircd();
    const std::vector<std::string> expected{
        "mkdir -p " + tmp.dir() + "run",
        "lircd -O /etc/lirc/lirc_options.conf -r --repeat-max=10 /etc/lirc/lircd.conf",
        "killall lircd",
        "killall lircd",
        "lircd -O /etc/lirc/lirc_options.conf -r --repeat-max=10 /etc/lirc/lircd.conf",
    };
    EXPECT_EQ(commands.lines, expected);
    EXPECT_EQ(lircd_control(commands.runner()).mkdir_command(), "mkdir -p /var/run/lirc");
}

TEST(LircdControl, ReloadSignalsOnlyAProperPid)
{
    temp_dir tmp;
    const std::string pid_file = tmp.dir() + "lircd.pid";
    lircd_control lircd(run_with_system, {tmp.dir(), pid_file});
    EXPECT_EQ(lircd.reload_lircd(), -1); // no pid file
    for (const char *bad : {"", "lircd\n", "0\n", "-1\n", "99999999999999999999\n"}) {
        signal_witness witness;
        write_text(pid_file, bad);
        EXPECT_EQ(lircd.reload_lircd(), -1) << bad;
        EXPECT_EQ(witness.first_signal(), signal_witness::saw_terminate) << bad;
    }
    signal_witness witness;
    write_text(pid_file, std::to_string(witness.pid()) + "\n");
    EXPECT_EQ(lircd.reload_lircd(), 0);
    EXPECT_EQ(witness.first_signal(), signal_witness::saw_hangup);
}

TEST(ClearLearned, DeletesConfFilesInVersionOrderThenReloads)
{
    temp_dir tmp;
    const std::string learned = tmp.sub("learned.d"), installed = tmp.sub("lircd.conf.d");
    const std::vector<std::string> all{"a.conf", "b.txt", "c.conf.bak", ".conf", "KEY_10.conf", "KEY_9.conf"};
    for (const std::string &name : all) {
        write_text(learned + name, "x");
        write_text(installed + name, "x");
    }
    write_text(installed + "other.conf", "kept");
    signal_witness witness;
    write_text(tmp.dir() + "lircd.pid", std::to_string(witness.pid()));
    lircd_control lircd(run_with_system, {tmp.dir(), tmp.dir() + "lircd.pid"});
    recorded_log log;
    learned_store(learned, run_with_system, log.sink(), installed).clear_learned(lircd);

    std::vector<std::string> expected;
    for (const char *name : {".conf", "KEY_9.conf", "KEY_10.conf", "a.conf"}) {
        expected.push_back("unlink " + learned + name);
        expected.push_back("unlink " + installed + name);
    }
    EXPECT_EQ(log.texts(log_level::info), expected);
    for (const char *gone : {".conf", "KEY_9.conf", "KEY_10.conf", "a.conf"}) {
        EXPECT_FALSE(exists(learned + gone));
        EXPECT_FALSE(exists(installed + gone));
    }
    for (const char *kept : {"b.txt", "c.conf.bak"}) {
        EXPECT_TRUE(exists(learned + kept));
        EXPECT_TRUE(exists(installed + kept));
    }
    EXPECT_TRUE(exists(installed + "other.conf"));
    EXPECT_EQ(witness.first_signal(), signal_witness::saw_hangup);
}

TEST(ClearLearned, UnreadableDirectoryDoesNothing)
{
    temp_dir tmp;
    signal_witness witness;
    write_text(tmp.dir() + "lircd.pid", std::to_string(witness.pid()));
    lircd_control lircd(run_with_system, {tmp.dir(), tmp.dir() + "lircd.pid"});
    recorded_log log;
    learned_store(tmp.dir() + "missing/", run_with_system, log.sink(), tmp.dir()).clear_learned(lircd);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(witness.first_signal(), signal_witness::saw_terminate);
}

} // namespace
} // namespace tulka::test
