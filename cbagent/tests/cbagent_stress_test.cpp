// Many notifications from several processes, callbacks of random short
// durations: each runs once and is returned; nothing is left behind. Also
// watches every lock the agent takes: no thread ever holds two of them.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "agent_harness.h"

using namespace cbatest;

#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define CBA_LOCK_WATCH 1
namespace {
using LockFn = int (*)(pthread_mutex_t *);
LockFn real_lock, real_trylock, real_unlock;
std::atomic<long> agent_lock_count{0};
std::atomic<long> nested_lock_count{0};
thread_local int agent_locks_held;

LockFn real(LockFn *slot, const char *name)
{
    if (!*slot) {
        *slot = reinterpret_cast<LockFn>(::dlsym(RTLD_NEXT, name));
    }
    return *slot;
}

bool is_agent_lock(const pthread_mutex_t *m)
{
    if (m == &_arCbAgentUser.lock) {
        return true;
    }
    for (const WorkThread &w : _arWork_Thread) {
        if (m == &w.lock) {
            return true;
        }
    }
    return false;
}

void took(pthread_mutex_t *m)
{
    if (is_agent_lock(m)) {
        if (agent_locks_held > 0) {
            nested_lock_count.fetch_add(1);
        }
        ++agent_locks_held;
        agent_lock_count.fetch_add(1, std::memory_order_relaxed);
    }
}
} // namespace

// The library's lock calls come here (this executable exports them).
extern "C" int pthread_mutex_lock(pthread_mutex_t *m)
{
    took(m);
    return real(&real_lock, "pthread_mutex_lock")(m);
}

extern "C" int pthread_mutex_trylock(pthread_mutex_t *m)
{
    int rc = real(&real_trylock, "pthread_mutex_trylock")(m);
    if (rc == 0) {
        took(m);
    }
    return rc;
}

extern "C" int pthread_mutex_unlock(pthread_mutex_t *m)
{
    if (is_agent_lock(m)) {
        --agent_locks_held;
    }
    return real(&real_unlock, "pthread_mutex_unlock")(m);
}
#endif

namespace {

constexpr int kRaisers = 4;
constexpr size_t kInfoBytes = 16;
constexpr size_t kBatch = 32;
constexpr uint32_t kClusterEvery = 4096; // of each raiser's notifications, the first
constexpr uint32_t kClusterLength = 24;  // kClusterLength take 2 ms  // notes a raiser queues at a time, as a burst

uint32_t notifications()
{
    const char *text = std::getenv("CBA_STRESS_NOTIFICATIONS");
    long n = text ? std::atol(text) : 100000;
    return static_cast<uint32_t>(n > kRaisers ? n : 100000);
}

uint32_t mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352d;
    x ^= x >> 15;
    x *= 0x846ca68b;
    return x ^ (x >> 16);
}

std::string info_of(uint32_t tag)
{
    char text[kInfoBytes + 1];
    std::snprintf(text, sizeof text, "%08x%08x", tag, mix(tag));
    return std::string(text, kInfoBytes);
}

struct Tally {
    uint32_t per_raiser = 0;
    std::unique_ptr<std::atomic<uint8_t>[]> runs;
    std::atomic<uint32_t> bad_info{0};
    std::atomic<uint32_t> in_flight{0};
    std::atomic<uint32_t> peak{0};
    std::atomic<uint32_t> on_one_shot{0};
} tally;

uint32_t tag_of(int raiser, uint32_t i) { return static_cast<uint32_t>(raiser) << 24 | i; }

// A short callback: none, a yield, some microseconds, or in runs now and then milliseconds.
void stress_callback(void *info, uint32_t tag)
{
    uint32_t now = tally.in_flight.fetch_add(1) + 1;
    uint32_t peak = tally.peak.load();
    while (now > peak && !tally.peak.compare_exchange_weak(peak, now)) {
    }
    uint32_t raiser = tag >> 24, i = tag & 0xFFFFFF;
    if (raiser < kRaisers && i < tally.per_raiser) {
        tally.runs[raiser * tally.per_raiser + i].fetch_add(1);
    }
    if (std::memcmp(info, info_of(tag).data(), kInfoBytes) != 0) {
        tally.bad_info.fetch_add(1);
    }
    tally.on_one_shot.fetch_add(slot_of_this_thread() >= CBA_POOL_THREADS ? 1 : 0);
    uint32_t h = mix(tag);
    if (i % kClusterEvery < kClusterLength) { // a run of long ones: the 16 work threads run out
        timespec t = {0, 2000000};
        nanosleep(&t, nullptr);
    } else if (h % 64 == 1) {
        timespec t = {0, 20000};
        nanosleep(&t, nullptr);
    } else if (h % 8 == 2) {
        sched_yield();
    }
    tally.in_flight.fetch_sub(1);
}

pid_t start_raiser(const std::string &dir, int raiser)
{
    int target = ::getpid();
    pid_t child = ::fork();
    if (child != 0) {
        return child;
    }
    vboard::Journal journal;
    vboard::journal_bind(&journal, dir);
    std::vector<vboard::CbaNote> batch;
    for (uint32_t i = 0; i < tally.per_raiser; ++i) {
        uint32_t tag = tag_of(raiser, i);
        batch.push_back(note_for(tag, info_of(tag), stress_callback));
        bool last = i + 1 == tally.per_raiser;
        if ((batch.size() == kBatch || last) &&
            vboard::cba_raise_all(dir, target, batch.data(), batch.size(), &journal) != 0) {
            ::_exit(1);
        }
        if (batch.size() == kBatch) {
            batch.clear();
        }
    }
    ::_exit(0);
}

TEST(AgentStress, EveryNotificationFromSeveralProcessesRunsOnceAndIsReturned)
{
    if (!realtime_allowed()) {
        GTEST_SKIP() << "SCHED_RR priority 70 is not allowed here";
    }
    const uint32_t total = notifications() / kRaisers * kRaisers;
    tally.per_raiser = total / kRaisers;
    tally.runs.reset(new std::atomic<uint8_t>[total]());
    DriverBoard board;
    size_t threads_before = tasks().size();
    vCBAgent_User_Init();
    ASSERT_TRUE(board.await_driver());

    auto t0 = std::chrono::steady_clock::now();
    pid_t raisers[kRaisers];
    for (int r = 0; r < kRaisers; ++r) {
        raisers[r] = start_raiser(board.dir(), r);
    }
    for (pid_t pid : raisers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a raise failed";
    }
    ASSERT_TRUE(await([&] { return board.stats().done == total; }, 120000)) << board.stats().done;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    uint32_t never = 0, twice = 0;
    for (uint32_t k = 0; k < total; ++k) {
        never += tally.runs[k].load() == 0;
        twice += tally.runs[k].load() > 1;
    }
    EXPECT_EQ(never, 0u);
    EXPECT_EQ(twice, 0u);
    EXPECT_EQ(tally.bad_info.load(), 0u);
    vboard::CbaStats s = board.stats();
    EXPECT_EQ(s.raised, total);
    EXPECT_EQ(s.handed, total);
    EXPECT_EQ(s.pending + s.running, 0u);

    vCBAgent_User_Uninit();
    EXPECT_TRUE(record_is_zero());
    EXPECT_TRUE(await([&] { return tasks().size() == threads_before; })) << "a thread outlived uninit";
    std::printf(
        "stress: %u notifications from %d processes in %.2f s (%.0f per second); peak %u callbacks at once, "
        "%u on one-shot threads\n",
        total, kRaisers, seconds, total / seconds, tally.peak.load(), tally.on_one_shot.load());
#ifdef CBA_LOCK_WATCH
    EXPECT_GT(agent_lock_count.load(), static_cast<long>(total));
    EXPECT_EQ(nested_lock_count.load(), 0) << "a thread took an agent lock while holding another";
    std::printf("stress: %ld agent lock acquisitions, %ld while holding another\n", agent_lock_count.load(),
                nested_lock_count.load());
#endif

    notify::reset();
    vCBAgent_User_Init(); // a second start, from the zeroed record
    ASSERT_TRUE(board.await_driver());
    ASSERT_EQ(raise_from_child(board.dir(), note_for(7, "again")), 0);
    EXPECT_TRUE(await([] { return notify::run_count() == 1; }));
    vCBAgent_User_Uninit();
    EXPECT_TRUE(record_is_zero());
}

} // namespace
