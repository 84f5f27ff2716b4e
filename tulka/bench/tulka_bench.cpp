// Throughput and latency of the real tulkad's socket on a virtual board,
// against a plain socketpair echo measured in the same run, and the
// daemon's processor time while idle.
#include "board_tulkad.h"
#include "socket_client.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace tulka_test;
using namespace std::chrono_literals;

const message cancel_request = {4, 0, 0, 0, 2, 0, 0, 0};
constexpr size_t reply_size = 12;
constexpr size_t pipeline_depth = 1000;
constexpr int latency_samples = 2000;
constexpr auto reply_limit = 5s;

int g_tulkad_fd = -1;
int g_echo_fd = -1;

// Answers every 8-byte request with 12 bytes, as tulkad answers a cancel.
void echo_peer(int fd)
{
    uint8_t request[8];
    const uint8_t reply[reply_size] = {8, 0, 0, 0, 3};
    while (recv(fd, request, sizeof request, MSG_WAITALL) == sizeof request)
        if (send(fd, reply, sizeof reply, MSG_NOSIGNAL) != sizeof reply)
            break;
}

bool round_trip(int fd)
{
    return write_all(fd, cancel_request) == 0 &&
           read_up_to(fd, reply_size, reply_limit).size() == reply_size;
}

void BM_CancelRoundTrip(benchmark::State &state, const int *fd)
{
    for (auto _ : state)
        if (!round_trip(*fd))
            state.SkipWithError("no reply");
    state.SetItemsProcessed(state.iterations());
}

void BM_CancelPipelined(benchmark::State &state, const int *fd)
{
    message batch;
    for (size_t i = 0; i < pipeline_depth; ++i)
        batch.insert(batch.end(), cancel_request.begin(), cancel_request.end());
    for (auto _ : state) {
        // Writer thread: the replies must be read while the requests go out.
        std::thread writer([&] { write_all(*fd, batch); });
        const size_t got = read_up_to(*fd, pipeline_depth * reply_size, reply_limit).size();
        writer.join();
        if (got != pipeline_depth * reply_size)
            state.SkipWithError("replies missing");
    }
    state.SetItemsProcessed(state.iterations() * pipeline_depth);
}

BENCHMARK_CAPTURE(BM_CancelRoundTrip, tulkad, &g_tulkad_fd)->MinTime(0.5)->UseRealTime();
BENCHMARK_CAPTURE(BM_CancelRoundTrip, baseline_echo, &g_echo_fd)->MinTime(0.5)->UseRealTime();
BENCHMARK_CAPTURE(BM_CancelPipelined, tulkad, &g_tulkad_fd)->MinTime(0.5)->UseRealTime();
BENCHMARK_CAPTURE(BM_CancelPipelined, baseline_echo, &g_echo_fd)->MinTime(0.5)->UseRealTime();

struct latency {
    double median_us = 0;
    double p99_us = 0;
};

latency measure_latency(int fd)
{
    std::vector<double> samples;
    for (int i = 0; i < latency_samples; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        if (!round_trip(fd))
            break;
        samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    }
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    board_tulkad board;
    board.start();
    g_tulkad_fd = board.connect_client();
    int pair[2];
    if (g_tulkad_fd < 0 || socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        std::fprintf(stderr, "tulka_bench: cannot reach tulkad\n");
        return 1;
    }
    g_echo_fd = pair[0];
    std::thread echo(echo_peer, pair[1]);

    benchmark::RunSpecifiedBenchmarks();

    const latency daemon = measure_latency(g_tulkad_fd);
    const latency baseline = measure_latency(g_echo_fd);
    std::printf("cancel round trip through tulkad: median %.1f us, p99 %.1f us (%d samples)\n",
                daemon.median_us, daemon.p99_us, latency_samples);
    std::printf("baseline socketpair echo:         median %.1f us, p99 %.1f us\n",
                baseline.median_us, baseline.p99_us);
    if (baseline.median_us > 0)
        std::printf("ratio tulkad / baseline (median): %.2f\n", daemon.median_us / baseline.median_us);

    const long long before = board.cpu_ticks();
    std::this_thread::sleep_for(1s);
    const long long idle = board.cpu_ticks() - before;
    std::printf("tulkad idle for 1 s: %lld clock ticks of processor time (%s)\n", idle,
                idle == 0 ? "0% CPU" : "NOT idle");

    shutdown(pair[0], SHUT_RDWR);
    echo.join();
    close(pair[0]);
    close(pair[1]);
    close(g_tulkad_fd);
    board.stop(SIGTERM);
    return idle == 0 ? 0 : 1;
}
