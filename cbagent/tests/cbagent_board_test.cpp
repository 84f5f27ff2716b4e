// cbademo on a virtual board, notifications raised from the host with
// `vboard cba-raise`, as a person would.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <csignal>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "vboard/testkit.h"

using namespace vboard::testkit;

namespace {

std::string field_after(const std::string &text, const std::string &key)
{
    std::smatch m;
    std::regex pattern(key + " (\\S+)\n");
    return std::regex_search(text, m, pattern) ? m[1].str() : "";
}

std::string state_report(const Board &board)
{
    std::string text, command = bin_path("vboard") + " state " + board.dir();
    FILE *p = ::popen(command.c_str(), "r");
    char buf[4096];
    size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        text.append(buf, n);
    }
    if (p) {
        ::pclose(p);
    }
    return text;
}

// The agent's threads need SCHED_RR (root or CAP_SYS_NICE).
bool realtime_allowed()
{
    bool ok = false;
    std::thread([&] {
        sched_param p{};
        p.sched_priority = 70;
        ok = pthread_setschedparam(pthread_self(), SCHED_RR, &p) == 0;
    }).join();
    return ok;
}

TEST(CbademoOnBoard, RaisedNotificationsRunOnTheAgentsThreadsAndShowInTheState)
{
    if (!realtime_allowed()) {
        GTEST_SKIP() << "SCHED_RR priority 70 is not allowed here";
    }
    Board board;
    auto app = board.start({bin_path("cbademo")});
    ASSERT_TRUE(app->await_out("cbademo: notify sleep", 10000)) << app->err();
    std::string pid = field_after(app->out(), "cbademo: pid");
    std::string print = field_after(app->out(), "cbademo: notify print");
    ASSERT_FALSE(pid.empty());
    ASSERT_TRUE(await([&] { return board.cba_raise({pid, "wake"}).status == 0; }, 5000)) << "no agent waiting";

    Result r = board.cba_raise({pid, print, "7", "hello", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(board.cba_raise({pid, "0", "9"}).status, 0);
    for (int slot : {0, 1, 2}) {
        std::string line = "cbademo: tag 7 info \"hello\" on CBA_U_WK" + pid + "_" + std::to_string(slot) +
                           " SCHED_RR 70\n";
        EXPECT_TRUE(app->await_out(line, 5000)) << line << app->out();
    }
    EXPECT_TRUE(app->await_out("[CBA] wk_th::0 cbNfyFct NULL error\n", 5000)) << app->out();
    EXPECT_TRUE(await([&] { return board.journal_lines("ioctl /dev/cbagent CB_DONE").size() == 4; }, 5000));
    EXPECT_NE(state_report(board).find("  pid " + pid + ": block 0x"), std::string::npos);
    EXPECT_NE(state_report(board).find("pending 0, running 0, raised 4, handed out 4, done 4\n"), std::string::npos)
        << state_report(board);
    EXPECT_EQ(board.journal_lines("cba raise " + pid + " fct " + print + " tag 7 bytes 5 count 3 queued 3").size(), 1u);

    Result unknown = board.cba_raise({"99999", print, "1"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("process 99999 has no callback agent waiting on /dev/cbagent"), std::string::npos);
    EXPECT_EQ(board.cba_raise({pid, print}).status, 125);
    EXPECT_EQ(board.cba_raise({pid, print, "1", "hex:abc"}).status, 125);

    ASSERT_EQ(app->signal(SIGTERM), 0);
    ASSERT_TRUE(app->wait(10000));
    EXPECT_EQ(app->status(), 0);
    EXPECT_NE(app->out().find("cbademo: 3 callbacks\n"), std::string::npos) << app->out();
    EXPECT_EQ(board.journal_lines("close /dev/cbagent").size(), 1u);
    EXPECT_NE(state_report(board).find("callback driver (/dev/cbagent): no process\n"), std::string::npos);
}

} // namespace
