// Key events per second from the real lircd through tulkad to its client on
// a virtual board, against lircd's own broadcast to a bare client of lircd on
// the same events, and the processor time of an idle tulkad with lircd up.
#include "lircd_bench_board.h"
#include "socket_client.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace tulka_test;
using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

constexpr int events = 2000;
// SIMULATE commands sent before their answers are read: enough to keep
// lircd busy, few enough that no socket buffer fills.
constexpr int window = 32;
constexpr auto event_limit = 5s;
// Press and key-up in turn: each gives one event, and no repeats are due.
const char *const lines[] = {"SIMULATE 0000000000000074 00 KEY_POWER learned_KEY_POWER\n",
                             "SIMULATE 0000000000000074 00 KEY_POWER_EVUP learned_KEY_POWER\n"};

int fail(const char *what)
{
    std::fprintf(stderr, "tulka_bench: %s\n", what);
    return 1;
}

// Seconds until `count` items arrived through `next`, or -1.
template <typename Next> double seconds_for(int count, steady::time_point start, Next next)
{
    for (int i = 0; i < count; ++i)
        if (!next())
            return -1;
    return std::chrono::duration<double>(steady::now() - start).count();
}

// Sends every SIMULATE command with at most `window` answers outstanding.
bool send_all_events(tulka::test::lircd_client &sender)
{
    int answered = 0;
    for (int sent = 0; sent < events; ++sent) {
        if (sent - answered == window) {
            if (!sender.next_packet(event_limit))
                return false;
            ++answered;
        }
        if (!sender.send(lines[sent % 2]))
            return false;
    }
    for (; answered < events; ++answered)
        if (!sender.next_packet(event_limit))
            return false;
    return true;
}

} // namespace

int main()
{
    lircd_bench_board bench;
    if (!bench.start("tulka_bench"))
        return 1;
    board_tulkad &board = bench.board;
    const int client = bench.client;
    tulka::test::lircd_client &sender = *bench.sender, &bare = *bench.bare;

    const auto start = steady::now();
    double through_tulkad = -1, baseline = -1;
    std::thread daemon_reader([&] {
        through_tulkad = seconds_for(events, start, [&] { return next_event(client, event_limit).has_value(); });
    });
    std::thread bare_reader(
        [&] { baseline = seconds_for(events, start, [&] { return bare.next_key(event_limit).has_value(); }); });
    const bool sent = send_all_events(sender);
    daemon_reader.join();
    bare_reader.join();
    if (!sent || through_tulkad <= 0 || baseline <= 0)
        return fail("key events missing");

    std::printf("key events through lircd and tulkad to its client: %.0f events/s (%d events)\n",
                events / through_tulkad, events);
    std::printf("lircd broadcast to a bare client (baseline):     %.0f events/s\n", events / baseline);
    std::printf("ratio tulkad / baseline (events per second): %.2f\n", baseline / through_tulkad);

    // Idle: lircd connected, no client traffic, no timer due.
    std::this_thread::sleep_for(200ms);
    const long long before = board.cpu_ticks();
    std::this_thread::sleep_for(1s);
    const long long idle = board.cpu_ticks() - before;
    std::printf("tulkad idle for 1 s with lircd up: %lld clock ticks of processor time (%s)\n", idle,
                idle == 0 ? "0% CPU" : "NOT idle");

    close(client);
    board.stop(SIGTERM);
    return idle == 0 ? 0 : 1;
}
