// The agent against the callback driver of the device library, with real
// threads; notifications come from child processes.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <atomic>
#include <string>
#include <thread>

#include "agent_harness.h"
#include "vboard/state.h"

using namespace cbatest;

namespace {

std::string expected_kernel_name(const std::string &name) { return name.substr(0, 15); }

std::string work_name(int slot) { return "CBA_U_WK" + std::to_string(::getpid()) + "_" + std::to_string(slot); }

size_t work_threads_alive()
{
    std::vector<TaskInfo> all = tasks();
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [](const TaskInfo &t) { return t.name.rfind("CBA_U_WK", 0) == 0; }));
}

size_t agent_threads_alive()
{
    std::vector<TaskInfo> all = tasks();
    return static_cast<size_t>(
        std::count_if(all.begin(), all.end(), [](const TaskInfo &t) { return t.name.rfind("CBA_U_", 0) == 0; }));
}

int slot_of_tag(uint32_t tag)
{
    for (const CallbackRun &r : notify::runs()) {
        if (r.tag == tag) {
            return r.slot;
        }
    }
    return -100;
}

bool ran(uint32_t tag) { return slot_of_tag(tag) != -100; }

// Long enough for the dispatcher to have acted on what it was given.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

class Agent : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!realtime_allowed()) {
            GTEST_SKIP() << "SCHED_RR priority 70 is not allowed here";
        }
        notify::reset();
        __atomic_store_n(&CBA_debug_level, 0, __ATOMIC_RELAXED);
    }
    void TearDown() override
    {
        notify::release_all();
        vCBAgent_User_Uninit();
    }
    void start()
    {
        vCBAgent_User_Init();
        ASSERT_TRUE(board_.await_driver());
    }
    void raise(uint32_t tag, const std::string &info = "")
    {
        ASSERT_EQ(raise_from_child(board_.dir(), note_for(tag, info)), 0);
    }
    DriverBoard board_;
};

TEST_F(Agent, ThreadsCarryTheirNamesAndRoundRobinPriority70)
{
    start();
    raise(1);
    ASSERT_TRUE(await([] { return notify::run_count() == 1; }));
    std::vector<std::string> expected = {"CBA_U_" + std::to_string(::getpid())};
    for (int slot = 0; slot < CBA_POOL_THREADS; ++slot) {
        expected.push_back(expected_kernel_name(work_name(slot)));
        EXPECT_STREQ(_arWork_Thread[slot].name, work_name(slot).c_str());
    }
    std::vector<TaskInfo> all = tasks();
    for (const std::string &name : expected) {
        auto t = std::find_if(all.begin(), all.end(), [&](const TaskInfo &i) { return i.name == name; });
        ASSERT_NE(t, all.end()) << name;
        EXPECT_EQ(t->policy, SCHED_RR) << name;
        EXPECT_EQ(t->priority, CBA_THREAD_PRIORITY) << name;
        std::printf("thread %s: policy %d priority %d\n", t->name.c_str(), t->policy, t->priority);
    }
    CallbackRun run = notify::runs().at(0);
    EXPECT_EQ(run.slot, 0);
    EXPECT_EQ(run.kernel_name, expected[1]);
    EXPECT_EQ(run.policy, SCHED_RR);
    EXPECT_EQ(run.priority, CBA_THREAD_PRIORITY);
}

TEST_F(Agent, ItemsReachTheCallbackIntact)
{
    std::string pattern;
    for (size_t i = 0; i < CBA_INFO_SIZE; ++i) {
        pattern.push_back(static_cast<char>(i * 7 + 3));
    }
    const struct {
        uint32_t tag;
        std::string info;
    } kCases[] = {{0, ""}, {1, "x"}, {0xFFFFFFFF, pattern.substr(0, 300)}, {0x80000000, pattern}};
    start();
    for (const auto &c : kCases) {
        raise(c.tag, c.info);
    }
    ASSERT_TRUE(await([&] { return notify::run_count() == std::size(kCases); }));
    for (const auto &c : kCases) {
        std::vector<CallbackRun> runs = notify::runs();
        auto r = std::find_if(runs.begin(), runs.end(), [&](const CallbackRun &x) { return x.tag == c.tag; });
        ASSERT_NE(r, runs.end()) << c.tag;
        EXPECT_EQ(r->info_size, c.info.size()) << c.tag;
        EXPECT_EQ(r->info, c.info) << c.tag;
    }
    EXPECT_TRUE(await([&] { return board_.stats().done == std::size(kCases); }));
}

// Pool slots first, the lowest idle one; then one-shot threads in rotation
// over 3..15; a 17th running notification waits for a one-shot thread to end.
TEST_F(Agent, SlotsFollowThePoolThenTheRotationAndABurstWaitsForAThread)
{
    start();
    notify::hold(true);
    raise(100);
    ASSERT_TRUE(await([] { return ran(100); }));
    notify::release_tag(100);
    ASSERT_TRUE(await([&] { return board_.stats().done == 1; }));
    for (uint32_t tag = 101; tag <= 116; ++tag) {
        raise(tag);
    }
    ASSERT_TRUE(await([] { return notify::run_count() == 17; }));
    for (uint32_t tag = 101; tag <= 116; ++tag) {
        EXPECT_EQ(slot_of_tag(tag), static_cast<int>(tag - 101)) << tag;
    }
    EXPECT_EQ(work_threads_alive(), 16u);

    raise(117);
    ASSERT_TRUE(await([&] { return board_.stats().handed == 18; }));
    settle();
    EXPECT_FALSE(ran(117)) << "all 16 work threads are busy";
    notify::release_tag(102); // pool slot 1: thread_num stays 16
    ASSERT_TRUE(await([&] { return board_.stats().done == 2; }));
    settle();
    EXPECT_FALSE(ran(117)) << "a pool thread coming free does not end the wait";
    notify::release_tag(106); // one-shot slot 5 ends
    ASSERT_TRUE(await([] { return ran(117); }));
    EXPECT_EQ(slot_of_tag(117), 5);

    notify::release_tag(104); // slots 3 and 4 end
    notify::release_tag(105);
    ASSERT_TRUE(await([] { return work_threads_alive() == 14; }));
    raise(118); // the idle pool thread
    raise(119); // the rotation, past slot 15, starts again at 3
    raise(120);
    ASSERT_TRUE(await([] { return ran(118) && ran(119) && ran(120); }));
    EXPECT_EQ(slot_of_tag(118), 1);
    EXPECT_EQ(slot_of_tag(119), 3);
    EXPECT_EQ(slot_of_tag(120), 4);

    notify::release_all();
    ASSERT_TRUE(await([&] { return board_.stats().done == 21; }));
    EXPECT_EQ(notify::run_count(), 21u);
    vboard::CbaStats s = board_.stats();
    EXPECT_EQ(s.raised, 21u);
    EXPECT_EQ(s.running + s.pending, 0u);
}

TEST_F(Agent, NullFunctionIsReportedUnrunAndAnEmptyHandleRunsNothing)
{
    testing::internal::CaptureStdout();
    start();
    ASSERT_EQ(raise_from_child(board_.dir(), note_for(5, "", nullptr)), 0);
    vboard::CbaNote wake;
    wake.kind = vboard::CbaKind::Wake;
    ASSERT_EQ(raise_from_child(board_.dir(), wake), 0);
    raise(6);
    ASSERT_TRUE(await([&] { return ran(6) && board_.stats().done == 2; }));
    vCBAgent_User_Uninit();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[CBA] wk_th::0 cbNfyFct NULL error\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[CBA] main get hmem = 0\n "), std::string::npos) << out;
    EXPECT_EQ(notify::run_count(), 1u);
    EXPECT_EQ(board_.journal_lines("ioctl /dev/cbagent CB_DONE").size(), 2u);
}

TEST_F(Agent, InitOnceUninitToZeroAndInitAgain)
{
    vCBAgent_User_Uninit(); // not initialised: nothing happens
    EXPECT_TRUE(record_is_zero());
    start();
    int fd = _arCbAgentUser.fd;
    vCBAgent_User_Init();
    EXPECT_EQ(_arCbAgentUser.fd, fd);
    EXPECT_EQ(board_.journal_lines("open /dev/cbagent").size(), 1u);
    raise(1);
    ASSERT_TRUE(await([] { return ran(1); }));
    vCBAgent_User_Uninit();
    EXPECT_EQ(_fgCbAgentUserInit, 0);
    EXPECT_TRUE(record_is_zero());
    EXPECT_TRUE(await([] { return agent_threads_alive() == 0; }));
    EXPECT_EQ(board_.journal_lines("close /dev/cbagent").size(), 1u);

    start();
    raise(2);
    ASSERT_TRUE(await([] { return ran(2); }));
    EXPECT_EQ(slot_of_tag(2), 0);
}

TEST_F(Agent, FailedOpenTakesTheFailurePathsAndUninitCompletes)
{
    ::unsetenv(vboard::kStateEnv); // /dev/cbagent is then the host's: missing
    testing::internal::CaptureStdout();
    vCBAgent_User_Init();
    EXPECT_LT(_arCbAgentUser.fd, 0);
    EXPECT_TRUE(
        await([] { return captured_so_far().find("[CBA] main ioctl get cb_info error\n") != std::string::npos; }));
    vCBAgent_User_Uninit();
    std::string out = testing::internal::GetCapturedStdout();
    for (const char *line : {"[CBA] open /dev/cbagent error\n", "[CBA] main ioctl get cb_info error\n",
                             "[CBA] CBA_FINISH fail\n", "[CBA]close \n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    }
    EXPECT_TRUE(record_is_zero());
}

TEST_F(Agent, FailedRequestEndsTheDispatcherAndUninitCompletes)
{
    testing::internal::CaptureStdout();
    start();
    vboard::CbaNote fault;
    fault.kind = vboard::CbaKind::Fail;
    fault.error = EIO;
    ASSERT_EQ(raise_from_child(board_.dir(), fault), 0);
    ASSERT_TRUE(await([&] { return !board_.journal_lines("ioctl /dev/cbagent CBA_GET_CB_INFO = -1 EIO").empty(); }));
    ASSERT_TRUE(await([] { return agent_threads_alive() == 0; }));
    raise(3);
    settle();
    EXPECT_FALSE(ran(3)) << "nothing runs until the agent is started again";
    vCBAgent_User_Uninit();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[CBA] main ioctl get cb_info error\n"), std::string::npos) << out;
    EXPECT_EQ(board_.journal_lines("ioctl /dev/cbagent CBA_GET_CB_INFO = -1 EIO").size(), 1u);
    EXPECT_TRUE(record_is_zero());
}

std::atomic<int> uninit_returned{0};
void uninit_from_callback(void *, uint32_t)
{
    vCBAgent_User_Uninit();
    uninit_returned.fetch_add(1);
}

TEST_F(Agent, UninitFromACallbackIsRefused)
{
    testing::internal::CaptureStdout();
    start();
    ASSERT_EQ(raise_from_child(board_.dir(), note_for(1, "", uninit_from_callback)), 0);
    EXPECT_TRUE(await([] { return uninit_returned.load() == 1; }));
    vCBAgent_User_Uninit();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[CBA] uninit refused: called from a callback\n"), std::string::npos) << out;
    EXPECT_TRUE(record_is_zero());
}

// Capabilities are per thread: a thread without CAP_SYS_NICE starts the
// agent, and its dispatcher inherits that.
void drop_sys_nice()
{
    __user_cap_header_struct head = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    ASSERT_EQ(::syscall(SYS_capget, &head, data), 0);
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    data[0].permitted &= ~(1u << CAP_SYS_NICE);
    ASSERT_EQ(::syscall(SYS_capset, &head, data), 0);
}

TEST(AgentWithoutPriority, DispatcherEndsAtOnceAndUninitCompletes)
{
    DriverBoard board;
    testing::internal::CaptureStdout();
    std::thread([] {
        drop_sys_nice();
        vCBAgent_User_Init();
    }).join();
    vCBAgent_User_Uninit();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(" main set thread pri fail\n[CBA] SCHED_RR priority 70 refused"), std::string::npos) << out;
    EXPECT_EQ(out.find("[CBA] main ioctl"), std::string::npos) << out;
    EXPECT_TRUE(board.journal_lines("ioctl /dev/cbagent CBA_GET_CB_INFO").empty());
    EXPECT_TRUE(record_is_zero());
    EXPECT_TRUE(await([] { return agent_threads_alive() == 0; }));
}

// A negative level silences every line but the one a work thread's
// priority failure prints.
TEST(AgentWithoutPriority, NegativeLevelSilencesTheDispatchersLines)
{
    DriverBoard board;
    __atomic_store_n(&CBA_debug_level, -1, __ATOMIC_RELAXED);
    testing::internal::CaptureStdout();
    std::thread([] {
        drop_sys_nice();
        vCBAgent_User_Init();
    }).join();
    vCBAgent_User_Uninit();
    __atomic_store_n(&CBA_debug_level, 0, __ATOMIC_RELAXED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

} // namespace
