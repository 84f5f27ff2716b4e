// ipcmsg as people use it: two consoles, one watching, one sending.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ipc_sandbox.h"

using ::testing::HasSubstr;

namespace {

class IpcMsg : public ipctest::PrivateIpcTest {};

struct Started {
    pid_t pid;
    int out;
    int err;
};

struct Result {
    int status;
    std::string out;
    std::string err;
};

Started start(std::vector<std::string> args)
{
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    args.insert(args.begin(), IPCMSG_PATH);
    pid_t pid = ipctest::spawn([&] {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char *> argv;
        for (std::string &arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        return 127;
    });
    close(out[1]);
    close(err[1]);
    return {pid, out[0], err[0]};
}

std::string drain(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

Result finish(const Started &run)
{
    Result result;
    result.out = drain(run.out);
    result.err = drain(run.err);
    result.status = ipctest::wait_exit(run.pid);
    return result;
}

Result ipcmsg(const std::vector<std::string> &args) { return finish(start(args)); }

TEST_F(IpcMsg, BadUsageExitsTwoWithTheUsage)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"bogus"},
        {"send", "bdp0"},
        {"send", "bdp3", "1"},
        {"send", "bdp0", "x1"},
        {"send", "netstub", "0", "type must be positive"},
        {"send", "--hex", "bdp0", "1", "abc"},
        {"send", "--hex", "bdp0", "1", "zz"},
        {"send", "netapp", "1", std::string(85, 'x')},
        {"watch", "-n", "0", "bdp0"},
        {"watch"},
        {"remove"},
        {"remove", "bdp0", "nope"},
        {"state", "extra"},
    };
    for (const auto &args : cases) {
        Result r = ipcmsg(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_THAT(r.err, HasSubstr("usage: ipcmsg")) << ::testing::PrintToString(args);
    }
    Result help = ipcmsg({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("Exit status"));
    EXPECT_EQ(ipctest::queue_count(), 0);
}

TEST_F(IpcMsg, TwoConsoleExchangeThenStateAndRemoval)
{
    Started watch = start({"watch", "-n", "2", "bdp1"});
    ASSERT_TRUE(ipctest::wait_blocked_in_receive(watch.pid));
    EXPECT_EQ(ipcmsg({"send", "bdp1", "7", "hello player"}).status, 0);
    EXPECT_EQ(ipcmsg({"send", "--hex", "bdp1", "-2", "00ff1000"}).status, 0);
    Result watched = finish(watch);
    EXPECT_EQ(watched.status, 0);
    EXPECT_THAT(watched.out, HasSubstr("\nbdp1 type 7 \"hello player\"\n"));
    EXPECT_THAT(watched.out, HasSubstr("\nbdp1 type -2 hex 00ff10 and 509 zero bytes\n"));

    EXPECT_EQ(ipcmsg({"send", "netstub", "3", "ping"}).status, 0);
    Result state = ipcmsg({"state"});
    EXPECT_EQ(state.status, 0);
    EXPECT_THAT(state.out, ::testing::ContainsRegex("\nnetstub +application -> network stub +"
                                                    "0x[0-9a-f]{8} +[0-9]+ +1 +84 +[0-9]+\n"));
    EXPECT_THAT(state.out, ::testing::ContainsRegex("\nbdp1 .* 0 +0 +[0-9]+\n"));
    EXPECT_THAT(state.out, ::testing::ContainsRegex("\nbdp0 .* absent\n"));

    // A watch on a queue that is removed ends with a failure.
    Started orphan = start({"watch", "netapp"});
    ASSERT_TRUE(ipctest::wait_blocked_in_receive(orphan.pid));
    Result removed = ipcmsg({"remove", "all"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_THAT(removed.out, HasSubstr("removed netapp"));
    EXPECT_THAT(removed.out, HasSubstr("removed bdp1"));
    Result ended = finish(orphan);
    EXPECT_EQ(ended.status, 1);
    EXPECT_THAT(ended.err, HasSubstr("netapp: receive failed"));
    EXPECT_EQ(ipctest::queue_count(), 0);
    EXPECT_EQ(ipcmsg({"remove", "bdp1"}).status, 1);
}

TEST_F(IpcMsg, MissingKeyFileFails)
{
    ipctest::remove_key_file();
    for (const auto &args :
         std::vector<std::vector<std::string>>{{"state"}, {"send", "app0", "1"}, {"remove", "all"}}) {
        Result r = ipcmsg(args);
        EXPECT_EQ(r.status, 1) << args[0];
    }
    EXPECT_EQ(ipctest::queue_count(), 0);
}

} // namespace
