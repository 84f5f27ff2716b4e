// Latency of a key through the real lircd and tulkad on a virtual board:
// from a SIMULATE command on lircd's socket (what `irsend SIMULATE` sends)
// to the key event at tulkad's client. The baseline, measured on the same
// events, is lircd's broadcast reaching a bare client of lircd.
#include "lircd_bench_board.h"
#include "socket_client.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using namespace tulka_test;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

constexpr int events = 1000;
constexpr auto event_limit = 3s;
// Press and key-up in turn: each gives one event, and no repeats are due.
const char *const lines[] = {"0000000000000074 00 KEY_POWER learned_KEY_POWER",
                             "0000000000000074 00 KEY_POWER_EVUP learned_KEY_POWER"};

struct figures {
    double median_us = 0;
    double p99_us = 0;
};

figures figures_of(std::vector<double> samples)
{
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

double us_since(steady::time_point start)
{
    return std::chrono::duration<double, std::micro>(steady::now() - start).count();
}

int fail(const char *what)
{
    std::fprintf(stderr, "tulka_key_latency_bench: %s\n", what);
    return 1;
}

} // namespace

int main()
{
    lircd_bench_board bench;
    if (!bench.start("tulka_key_latency_bench"))
        return 1;
    board_tulkad &board = bench.board;
    const int client = bench.client;
    tulka::test::lircd_client &sender = *bench.sender, &bare = *bench.bare;

    std::vector<double> through_tulkad, baseline;
    for (int i = 0; i < events; ++i) {
        const auto start = steady::now();
        if (!sender.send(std::string("SIMULATE ") + lines[i % 2] + "\n"))
            return fail("SIMULATE not sent");
        if (!bare.next_key(event_limit))
            return fail("no broadcast at the bare client");
        baseline.push_back(us_since(start));
        if (!next_event(client, event_limit))
            return fail("no key event at tulkad's client");
        through_tulkad.push_back(us_since(start));
        if (!sender.next_packet(event_limit))
            return fail("no answer to SIMULATE");
    }
    close(client);
    board.stop(SIGTERM);

    const figures daemon = figures_of(through_tulkad), bare_figures = figures_of(baseline);
    std::printf("SIMULATE to key event at tulkad's client: median %.1f us, p99 %.1f us (%d events)\n", daemon.median_us,
                daemon.p99_us, events);
    std::printf("SIMULATE to broadcast at a bare lircd client (baseline): median %.1f us, p99 %.1f us\n",
                bare_figures.median_us, bare_figures.p99_us);
    if (bare_figures.median_us > 0)
        std::printf("ratio tulkad / baseline (median): %.2f; added by tulkad: %.1f us\n",
                    daemon.median_us / bare_figures.median_us, daemon.median_us - bare_figures.median_us);
    return 0;
}
