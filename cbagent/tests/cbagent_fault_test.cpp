// The agent at the edges of its surroundings. This executable stands in for
// two functions the library calls: pthread_create, failed on demand, and
// x_kmem_block_map, held on demand so that uninit can begin between the
// dispatcher taking an item and handing it over.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "agent_harness.h"

using namespace cbatest;

namespace {
std::atomic<bool> refuse_threads{false};
std::atomic<bool> hold_map{false};
std::atomic<bool> in_map{false};
} // namespace

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg)
{
    using CreateFn = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static CreateFn real = reinterpret_cast<CreateFn>(::dlsym(RTLD_NEXT, "pthread_create"));
    return refuse_threads.load() ? EAGAIN : real(thread, attr, start, arg);
}

extern "C" void *x_kmem_block_map(uint32_t handle)
{
    using MapFn = void *(*)(uint32_t);
    static MapFn real = reinterpret_cast<MapFn>(::dlsym(RTLD_NEXT, "x_kmem_block_map"));
    Dl_info caller{};
    // The device library maps the block too, as the driver: only the agent's call is held.
    if (::dladdr(__builtin_return_address(0), &caller) && std::strstr(caller.dli_fname, "libcbagent")) {
        in_map = true;
        while (hold_map.load()) {
            sched_yield();
        }
    }
    return real(handle);
}

namespace {

// An item handed to a pool thread after uninit began is still run and
// returned: the driver's close finds nothing handed out and not done.
TEST(AgentThreadStart, AnItemHandedOverAsUninitBeginsIsRunAndReturned)
{
    if (!realtime_allowed()) {
        GTEST_SKIP() << "SCHED_RR priority 70 is not allowed here";
    }
    DriverBoard board;
    notify::reset();
    hold_map = true;
    in_map = false;
    vCBAgent_User_Init();
    ASSERT_TRUE(board.await_driver());
    ASSERT_EQ(raise_from_child(board.dir(), note_for(1, "")), 0);
    EXPECT_TRUE(await([] { return in_map.load(); }));
    std::thread uninit(vCBAgent_User_Uninit);
    EXPECT_TRUE(await([] { return __atomic_load_n(&_arCbAgentUser.running, __ATOMIC_ACQUIRE) == 0; }));
    hold_map = false;
    uninit.join();
    EXPECT_EQ(notify::run_count(), 1u);
    for (const std::string &line : board.journal_lines("cba drop")) {
        EXPECT_NE(line.find(" running 0"), std::string::npos) << line;
    }
    EXPECT_TRUE(record_is_zero());
}

// The item that found no thread goes back to the driver instead of taking
// one of its 32 items for good.
TEST(AgentThreadStart, AnItemNoThreadCanRunIsReturned)
{
    if (!realtime_allowed()) {
        GTEST_SKIP() << "SCHED_RR priority 70 is not allowed here";
    }
    DriverBoard board;
    notify::reset();
    notify::hold(true);
    testing::internal::CaptureStdout();
    vCBAgent_User_Init();
    ASSERT_TRUE(board.await_driver());
    for (uint32_t tag = 1; tag <= CBA_POOL_THREADS; ++tag) {
        ASSERT_EQ(raise_from_child(board.dir(), note_for(tag, "")), 0);
    }
    EXPECT_TRUE(await([] { return notify::run_count() == CBA_POOL_THREADS; }));
    refuse_threads = true;
    ASSERT_EQ(raise_from_child(board.dir(), note_for(9, "")), 0);
    EXPECT_TRUE(await([] { return captured_so_far().find("[CBA] thread id err:-1\n") != std::string::npos; }));
    EXPECT_TRUE(await([&] { return board.stats().done == 1; })) << "the unrun item is returned";
    EXPECT_EQ(board.stats().running, static_cast<uint32_t>(CBA_POOL_THREADS));
    refuse_threads = false;
    notify::release_all();
    vCBAgent_User_Uninit();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(notify::run_count(), static_cast<size_t>(CBA_POOL_THREADS));
    EXPECT_TRUE(record_is_zero());
}

} // namespace
