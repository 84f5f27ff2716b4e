// Latency from raising a notification (in another process) to its callback
// starting, with 1, 3 and 16 callbacks in flight, and notifications per
// second; against a bare condition-variable hand-off between two threads of
// one process, measured in the same run. Runs itself again with the device
// library preloaded on a fresh state directory; needs SCHED_RR (root).
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cbagent.h"
#include "vboard/cbagent.h"
#include "vboard/state.h"
#include "vboard/temp_dir.h"

namespace {

constexpr uint32_t kThroughputNotes = 10000;
constexpr size_t kRaiseBatch = 64;
constexpr long kHoldNs = 300000; // a callback of a burst lasts this long, so the burst is in flight together

int64_t now_ns()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Figures {
    double median_us = 0, p99_us = 0;
};

Figures figures_of(std::vector<int64_t> ns)
{
    std::sort(ns.begin(), ns.end());
    Figures f;
    if (!ns.empty()) {
        f.median_us = ns[ns.size() / 2] / 1000.0;
        f.p99_us = ns[std::min(ns.size() - 1, ns.size() * 99 / 100)] / 1000.0;
    }
    return f;
}

// Callbacks.
std::mutex latency_lock;
std::vector<int64_t> latencies;
std::atomic<uint32_t> callbacks_done{0};
std::atomic<bool> hold{false};
std::condition_variable callbacks_changed;

void timed_callback(void *info, uint32_t)
{
    int64_t start = now_ns(), stamp = 0;
    std::memcpy(&stamp, info, sizeof stamp);
    {
        std::lock_guard<std::mutex> guard(latency_lock);
        latencies.push_back(start - stamp);
    }
    if (hold.load()) {
        timespec t = {0, kHoldNs};
        nanosleep(&t, nullptr);
    }
    std::lock_guard<std::mutex> guard(latency_lock);
    callbacks_done.fetch_add(1);
    callbacks_changed.notify_all();
}

// The raiser: another process, told over a pipe how many notes to raise.
void raiser_main(const std::string &dir, int target, int commands, int acks)
{
    vboard::Journal journal;
    vboard::journal_bind(&journal, dir);
    uint32_t n;
    std::vector<vboard::CbaNote> notes;
    while (::read(commands, &n, sizeof n) == sizeof n) {
        for (uint32_t done = 0; done < n;) {
            uint32_t chunk = std::min<uint32_t>(n - done, kRaiseBatch);
            notes.assign(chunk, vboard::CbaNote());
            int64_t stamp = now_ns();
            for (vboard::CbaNote &note : notes) {
                note.fct = reinterpret_cast<uintptr_t>(&timed_callback);
                note.info_size = sizeof stamp;
                std::memcpy(note.info, &stamp, sizeof stamp);
            }
            if (vboard::cba_raise_all(dir, target, notes.data(), chunk, &journal) != 0) {
                ::_exit(1);
            }
            done += chunk;
        }
        if (::write(acks, &n, sizeof n) != sizeof n) {
            ::_exit(1);
        }
    }
    ::_exit(0);
}

struct Raiser {
    int commands = -1, acks = -1;
    pid_t pid = -1;
    void raise(uint32_t n)
    {
        if (::write(commands, &n, sizeof n) != sizeof n || ::read(acks, &n, sizeof n) != sizeof n) {
            std::fprintf(stderr, "cbagent_bench: the raiser is gone\n");
            std::exit(1);
        }
    }
};

Raiser start_raiser(const std::string &dir)
{
    int to[2], from[2];
    if (::pipe(to) != 0 || ::pipe(from) != 0) {
        std::exit(1);
    }
    int target = ::getpid();
    Raiser r;
    r.pid = ::fork();
    if (r.pid == 0) {
        ::close(to[1]); // so that the parent's close ends the raiser
        ::close(from[0]);
        raiser_main(dir, target, to[0], from[1]);
    }
    ::close(to[0]);
    ::close(from[1]);
    r.commands = to[1];
    r.acks = from[0];
    return r;
}

void await_callbacks(uint32_t n)
{
    std::unique_lock<std::mutex> guard(latency_lock);
    callbacks_changed.wait(guard, [&] { return callbacks_done.load() >= n; });
}

Figures agent_latency(Raiser &raiser, uint32_t in_flight, int rounds)
{
    latencies.clear();
    hold = in_flight > 1;
    uint32_t base = callbacks_done.load();
    for (int r = 1; r <= rounds; ++r) {
        raiser.raise(in_flight);
        await_callbacks(base + in_flight * static_cast<uint32_t>(r));
    }
    return figures_of(latencies);
}

double agent_throughput(Raiser &raiser)
{
    hold = false;
    uint32_t base = callbacks_done.load();
    int64_t t0 = now_ns();
    raiser.raise(kThroughputNotes);
    await_callbacks(base + kThroughputNotes);
    return kThroughputNotes / ((now_ns() - t0) / 1e9);
}

// The baseline: one thread stamps and signals, the other wakes and answers.
struct HandOff {
    std::mutex lock;
    std::condition_variable cond;
    int64_t stamp = 0;
    bool full = false, stop = false;
};

void make_realtime()
{
    sched_param p{};
    p.sched_priority = CBA_THREAD_PRIORITY;
    pthread_setschedparam(pthread_self(), SCHED_RR, &p);
}

void baseline(int rounds, Figures *latency, double *per_second)
{
    HandOff h;
    std::vector<int64_t> ns;
    ns.reserve(static_cast<size_t>(rounds));
    std::thread taker([&] {
        make_realtime();
        std::unique_lock<std::mutex> guard(h.lock);
        for (;;) {
            h.cond.wait(guard, [&] { return h.full || h.stop; });
            if (h.stop) {
                return;
            }
            ns.push_back(now_ns() - h.stamp);
            h.full = false;
            h.cond.notify_all();
        }
    });
    int64_t t0 = now_ns();
    for (int r = 0; r < rounds; ++r) {
        std::unique_lock<std::mutex> guard(h.lock);
        h.stamp = now_ns();
        h.full = true;
        h.cond.notify_all();
        h.cond.wait(guard, [&] { return !h.full; });
    }
    *per_second = rounds / ((now_ns() - t0) / 1e9);
    {
        std::lock_guard<std::mutex> guard(h.lock);
        h.stop = true;
        h.cond.notify_all();
    }
    taker.join();
    *latency = figures_of(ns);
}

// A fresh state directory and the preload, then this program again.
int relaunch(char **argv)
{
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return 1;
    }
    self[n] = '\0';
    std::filesystem::path lib = std::filesystem::path(self).parent_path().parent_path() / "lib" / "libvboard.so";
    const vboard::testkit::TempDir state("cbagent-bench");
    std::string board = "nand.size = 1M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n", error;
    if (vboard::prepare_state(state.path(), &board, &error) != 0) {
        std::fprintf(stderr, "cbagent_bench: no state directory: %s\n", error.c_str());
        return 1;
    }
    ::setenv(vboard::kStateEnv, state.path().c_str(), 1);
    ::setenv("LD_PRELOAD", lib.c_str(), 1);
    pid_t child = ::fork();
    if (child == 0) {
        ::execv(self, argv);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int, char **argv)
{
    const char *dir = std::getenv(vboard::kStateEnv);
    if (!dir) {
        return relaunch(argv);
    }
    Raiser raiser = start_raiser(dir); // before the agent's threads exist
    vCBAgent_User_Init();
    vboard::CbaStats stats;
    for (int i = 0; i < 5000 && vboard::cba_stats(dir, ::getpid(), &stats) != 0; ++i) {
        ::usleep(1000);
    }
    if (vboard::cba_stats(dir, ::getpid(), &stats) != 0) {
        std::fprintf(stderr, "cbagent_bench: the agent never asked the driver for work (SCHED_RR needs root)\n");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Figures base;
    double base_rate = 0;
    baseline(20000, &base, &base_rate);
    std::printf(
        "baseline: condition-variable hand-off between two threads: median %.1f us, p99 %.1f us, %.0f per second\n",
        base.median_us, base.p99_us, base_rate);
    const struct {
        uint32_t in_flight;
        int rounds;
    } kBursts[] = {{1, 2000}, {3, 600}, {16, 120}};
    for (const auto &b : kBursts) {
        Figures f = agent_latency(raiser, b.in_flight, b.rounds);
        std::printf(
            "agent: raise to callback start, %2u in flight: median %.1f us, p99 %.1f us "
            "(x%.1f and x%.1f the baseline)\n",
            b.in_flight, f.median_us, f.p99_us, f.median_us / base.median_us, f.p99_us / base.p99_us);
    }
    double rate = agent_throughput(raiser);
    std::printf(
        "agent: %.0f notifications per second (%u raised in bursts of %zu), %.1f%% of the baseline's hand-offs\n", rate,
        kThroughputNotes, kRaiseBatch, 100.0 * rate / base_rate);
    ::close(raiser.commands);
    ::waitpid(raiser.pid, nullptr, 0);
    vCBAgent_User_Uninit();
    return 0;
}
