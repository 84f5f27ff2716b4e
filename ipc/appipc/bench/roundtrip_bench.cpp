// Round trip application -> player -> application through libappipc, and a
// one-way stream, against raw msgsnd/msgrcv on the same kind of queues
// (524-byte text, System V type 1) in the same run. The player is a forked
// process; everything runs in a private IPC namespace (needs root).
#include <sys/msg.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "appipc.h"
#include "ipc_sandbox.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 2000;
constexpr int kRounds = 4;
constexpr int kRoundTrips = 10000;
constexpr int kStream = 50000;
constexpr int32_t kChannel = 0;
constexpr int32_t kStop = -1;
constexpr size_t kTextSize = 524;

// One side of a conversation: send never waits, receive does.
struct Link {
    std::function<bool(int32_t)> send;
    std::function<int32_t()> receive;
};

struct RawMessage {
    long mtype;
    uint8_t text[kTextSize];
};

Link library_app()
{
    return {[](int32_t type) {
                AppIpcMsg msg{};
                msg.type = type;
                return app_send_ipc_msg(&msg, kChannel) == 0;
            },
            [] {
                AppIpcMsg msg{};
                app_recv_ipc_msg(&msg, kChannel);
                return msg.type;
            }};
}

Link library_player()
{
    return {[](int32_t type) {
                AppIpcMsg msg{};
                msg.type = type;
                return bdp_send_ipc_msg(&msg, kChannel) == 0;
            },
            [] {
                AppIpcMsg msg{};
                bdp_recv_ipc_msg(&msg, kChannel);
                return msg.type;
            }};
}

Link raw_link(int out_queue, int in_queue)
{
    return {[out_queue](int32_t type) {
                RawMessage msg{};
                msg.mtype = 1;
                memcpy(msg.text, &type, sizeof type);
                return msgsnd(out_queue, &msg, kTextSize, IPC_NOWAIT) == 0;
            },
            [in_queue] {
                RawMessage msg{};
                int32_t type = kStop;
                if (msgrcv(in_queue, &msg, kTextSize, 1, 0) == static_cast<ssize_t>(kTextSize)) {
                    memcpy(&type, msg.text, sizeof type);
                }
                return type;
            }};
}

void send_retrying(const Link &link, int32_t type)
{
    while (!link.send(type)) {
        std::this_thread::yield();
    }
}

// The player echoes every message back; a stream of n counted messages is
// answered once at its end.
int run_player(const Link &player)
{
    for (;;) {
        int32_t type = player.receive();
        if (type == kStop) {
            return 0;
        }
        if (type > 0) { // a stream of type messages: take the rest, then answer
            for (int32_t i = 1; i < type; ++i) {
                player.receive();
            }
        }
        send_retrying(player, type);
    }
}

// Samples of every round of one kind of link, merged.
struct Figures {
    std::vector<double> samples_us;
    double round_trip_seconds = 0;
    double stream_seconds = 0;

    double percentile(size_t p) const { return samples_us[samples_us.size() * p / 100]; }
    double round_trips_per_s() const { return samples_us.size() / round_trip_seconds; }
    double stream_msgs_per_s(int rounds) const { return kStream * rounds / stream_seconds; }
};

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void measure(const Link &app, Figures *figures)
{
    for (int i = 0; i < kWarmUp; ++i) {
        send_retrying(app, 0);
        app.receive();
    }
    auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        auto t0 = Clock::now();
        send_retrying(app, 0);
        app.receive();
        figures->samples_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    figures->round_trip_seconds += seconds_since(start);

    auto stream_start = Clock::now();
    for (int i = 0; i < kStream; ++i) {
        send_retrying(app, kStream);
    }
    app.receive();
    figures->stream_seconds += seconds_since(stream_start);
    send_retrying(app, kStop);
}

void run_pair(const std::function<Link()> &app, const std::function<Link()> &player, Figures *figures)
{
    pid_t peer = ipctest::spawn([&] { return run_player(player()); });
    measure(app(), figures);
    ipctest::wait_exit(peer);
}

void run_raw(Figures *figures)
{
    int to_player = msgget(IPC_PRIVATE, 0600);
    int to_app = msgget(IPC_PRIVATE, 0600);
    run_pair([&] { return raw_link(to_player, to_app); }, [&] { return raw_link(to_app, to_player); }, figures);
    msgctl(to_player, IPC_RMID, nullptr);
    msgctl(to_app, IPC_RMID, nullptr);
}

void run_library(Figures *figures)
{
    ipctest::QuietStdout quiet; // the library logs every receive
    init_ipc_message_queue(kChannel);
    run_pair(
        library_app,
        [] {
            init_ipc_message_queue(kChannel);
            return library_player();
        },
        figures);
    uninit_ipc_message_queue(kChannel);
}

} // namespace

int main()
{
    const std::string &why = ipctest::enter_private_ipc();
    if (!why.empty()) {
        fprintf(stderr, "appipc_roundtrip_bench: no private IPC namespace: %s\n", why.c_str());
        return 1;
    }
    ipctest::create_key_file();

    // Rounds alternate, so that a busy machine weighs on both alike.
    Figures raw;
    Figures lib;
    for (int round = 0; round < kRounds; ++round) {
        run_raw(&raw);
        run_library(&lib);
    }
    std::sort(raw.samples_us.begin(), raw.samples_us.end());
    std::sort(lib.samples_us.begin(), lib.samples_us.end());

    printf(
        "round trip app -> player -> app, 524-byte text: %d rounds of %d samples and of a "
        "stream of %d messages\n",
        kRounds, kRoundTrips, kStream);
    printf("%-10s %12s %12s %16s %16s\n", "", "median us", "p99 us", "round trips/s", "stream msgs/s");
    for (const auto &[name, f] : {std::pair{"raw", &raw}, std::pair{"libappipc", &lib}}) {
        printf("%-10s %12.2f %12.2f %16.0f %16.0f\n", name, f->percentile(50), f->percentile(99),
               f->round_trips_per_s(), f->stream_msgs_per_s(kRounds));
    }
    printf("%-10s %12.3f %12.3f %16.3f %16.3f\n", "lib/raw", lib.percentile(50) / raw.percentile(50),
           lib.percentile(99) / raw.percentile(99), lib.round_trips_per_s() / raw.round_trips_per_s(),
           lib.stream_msgs_per_s(kRounds) / raw.stream_msgs_per_s(kRounds));
    return 0;
}
