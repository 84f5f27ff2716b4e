// Round trip of a no-op remote call to the engine process, against a bare
// Unix-socket ping-pong of the same sizes between two processes, measured
// in the same run.
#include "rpcipc.h"

#include "engine_harness.h"

#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The frame sizes of a one-argument call and its reply on the wire.
constexpr size_t kCallBytes = 65;
constexpr size_t kReplyBytes = 60;
// Call-back round trips timed in one engine operation (a 160 KiB reply).
constexpr size_t kCallBackRounds = 20000;

std::vector<double> g_rpc_ns;
std::vector<double> g_bare_ns;

double elapsed_ns(Clock::time_point t0) { return std::chrono::duration<double, std::nano>(Clock::now() - t0).count(); }

void BM_NoopRemoteCall(benchmark::State &state)
{
    static pbharness::Engine engine;
    if (!engine.running() && !engine.start()) {
        state.SkipWithError("pbengine did not start");
        return;
    }
    if (rpc_open_client("qivpbctrl bench") <= 0) {
        state.SkipWithError("no connection");
        return;
    }
    RPC_ARG_T args[1];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, 1);
    RPC_ARG_T ret{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (rpc_do_op(0, "x_pbengine_noop", 1, args, &ret, -1) != RPCR_OK) {
            state.SkipWithError("call failed");
            break;
        }
        g_rpc_ns.push_back(elapsed_ns(t0));
    }
}

int32_t echo(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// Engine -> client handler -> engine, timed by the engine itself.
std::vector<double> callback_round_trips(size_t count)
{
    rpc_reg_cb_hndlr("x_pbengine_echo", echo);
    std::vector<uint64_t> ns(count);
    rpc_add_ref_buff(0, ns.data(), static_cast<uint32_t>(ns.size() * sizeof ns[0]));
    RPC_ARG_T args[1];
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_OUT, ns.data());
    RPC_ARG_T ret{};
    const int32_t rc = rpc_do_op(0, "x_pbengine_cb_rtt", 1, args, &ret, -1);
    rpc_del(0);
    if (rc != RPCR_OK)
        return {};
    return std::vector<double>(ns.begin(), ns.end());
}

bool transfer(int fd, uint8_t *buf, size_t n, bool out)
{
    while (n) {
        const ssize_t k = out ? ::send(fd, buf, n, MSG_NOSIGNAL) : ::recv(fd, buf, n, 0);
        if (k <= 0)
            return false;
        buf += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

void BM_BareSocketPingPong(benchmark::State &state)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(sv[0]);
        uint8_t buf[kCallBytes];
        while (transfer(sv[1], buf, kCallBytes, false) && transfer(sv[1], buf, kReplyBytes, true)) {
        }
        ::_exit(0);
    }
    ::close(sv[1]);
    uint8_t buf[kCallBytes] = {};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!transfer(sv[0], buf, kCallBytes, true) || !transfer(sv[0], buf, kReplyBytes, false)) {
            state.SkipWithError("echo failed");
            break;
        }
        g_bare_ns.push_back(elapsed_ns(t0));
    }
    ::close(sv[0]);
    ::waitpid(child, nullptr, 0);
}

BENCHMARK(BM_NoopRemoteCall)->UseRealTime();
BENCHMARK(BM_BareSocketPingPong)->UseRealTime();

struct Summary {
    double median_us;
    double p99_us;
    double calls_per_s;
};

Summary summarize(std::vector<double> ns)
{
    if (ns.empty())
        return {0, 0, 0};
    std::sort(ns.begin(), ns.end());
    double total = 0;
    for (double v : ns)
        total += v;
    return {ns[ns.size() / 2] / 1000, ns[ns.size() * 99 / 100] / 1000, ns.size() / (total / 1e9)};
}

void print(const char *what, const Summary &s)
{
    std::printf("%-22s median %7.2f us  p99 %7.2f us  %9.0f calls/s\n", what, s.median_us, s.p99_us, s.calls_per_s);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Summary rpc = summarize(g_rpc_ns);
    const Summary bare = summarize(g_bare_ns);
    const Summary cb = summarize(callback_round_trips(kCallBackRounds));
    print("no-op remote call:", rpc);
    print("bare socket ping-pong:", bare);
    print("call-back round trip:", cb);
    if (bare.median_us > 0 && rpc.calls_per_s > 0)
        std::printf("ratio remote/bare: median %.2fx, p99 %.2fx, throughput %.2fx (target: within 3x)\n",
                    rpc.median_us / bare.median_us, rpc.p99_us / bare.p99_us, bare.calls_per_s / rpc.calls_per_s);
    return 0;
}
