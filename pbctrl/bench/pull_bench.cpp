// Pull-mode read throughput: the engine process (pbengine) reads a 64 MiB
// source of the application through the pull handlers into its own memory,
// in 64 KiB and in 1 MiB reads (synchronous and asynchronous in turn),
// against a plain memcpy of the same bytes in the same chunks in this run,
// once with the engine checksumming every byte and once only counting them;
// then the round trip of an engine event into the application's event
// function, timed by the engine, beside the transport's bare call-back.
#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_harness.h"
#include "rpcipc.h"
#include "../tests/pull_source.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kSourceBytes = 64u << 20;
constexpr int kRounds = 3;
constexpr double kMiB = 1024.0 * 1024.0;

volatile uint8_t g_sink;
constexpr size_t kRoundTrips = 5000;
constexpr double kNsPerUs = 1000.0;

int32_t on_event(uint32_t, void *tag, void *)
{
    ++*static_cast<std::atomic<size_t> *>(tag);
    return 0;
}

int32_t echo(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *ret)
{
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// Round trips in ns, as the engine timed them: op with the slots first,
// then the values given.
std::vector<uint64_t> round_trips(const char *op, std::vector<RPC_ARG_T> args)
{
    std::vector<uint64_t> ns(kRoundTrips);
    rpc_add_ref_buff(0, ns.data(), static_cast<uint32_t>(ns.size() * sizeof ns[0]));
    RPC_ARG_T slots;
    rpc_arg_set_ptr(slots, ARG_TYPE_DESC_OUT, ns.data());
    args.insert(args.begin(), slots);
    RPC_ARG_T ret{};
    const int32_t rc = rpc_do_op(0, op, static_cast<uint32_t>(args.size()), args.data(), &ret, -1);
    rpc_del(0);
    if (rc != RPCR_OK)
        return {};
    std::sort(ns.begin(), ns.end());
    return ns;
}

std::string rtt_line(const char *what, const std::vector<uint64_t> &sorted)
{
    char b[160];
    std::snprintf(b, sizeof b, "%s: median %7.1f us, p99 %7.1f us", what, sorted[sorted.size() / 2] / kNsPerUs,
                  sorted[sorted.size() * 99 / 100] / kNsPerUs);
    return b;
}

double memcpy_mib_s(const std::vector<uint8_t> &src, size_t chunk)
{
    std::vector<uint8_t> dst(chunk);
    const auto t0 = Clock::now();
    for (int r = 0; r < kRounds; ++r)
        for (size_t off = 0; off < src.size(); off += chunk) {
            const size_t n = std::min(chunk, src.size() - off);
            std::memcpy(dst.data(), src.data() + off, n);
            g_sink = dst[n - 1];
        }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    return kRounds * src.size() / kMiB / s;
}

// MiB/s of the engine reading the whole source kRounds times, 0 if a play
// fell short.
double pull_mib_s(pbharness::Engine &engine, pulltest::Source &src, IQIV_PB_HANDLE_T h, const char *tag, size_t chunk)
{
    // The engine reads halves of its map: two slices of one chunk each.
    const std::string play = "pullplay " + std::to_string(h) + " " + tag + " 2 " + std::to_string(chunk);
    const auto t0 = Clock::now();
    for (int r = 0; r < kRounds; ++r) {
        src.pos = 0;
        if (engine.ok(play).rfind(std::to_string(kSourceBytes) + " ", 0) != 0)
            return 0;
    }
    return kRounds * kSourceBytes / kMiB / std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main()
{
    pbharness::Engine engine;
    if (!engine.start()) {
        std::fprintf(stderr, "pull_bench: cannot start pbengine\n");
        return 1;
    }
    std::fflush(stdout);
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h = 0;
    if (IQivPb_Ctrl_Open(&h, IQIV_PB_BUF_MOD_PULL, 0, "pull") != 0)
        return 1;
    pulltest::Source src(kSourceBytes);
    const int slot = pbctrl::find_by_handle(h);
    src.attach(slot);
    char tag[32];
    std::snprintf(tag, sizeof tag, "%p", static_cast<void *>(&pbctrl::t_client_info[slot].ui1_client_idx));
    std::vector<std::string> lines;
    for (const char *check : {"on", "off"}) {
        if (engine.ok(std::string("pull check ") + check) != "")
            return 1;
        lines.push_back(check[1] == 'n' ? "engine checksumming every byte:" : "engine counting bytes only:");
        for (size_t chunk : {size_t{64} << 10, size_t{1} << 20}) {
            const double pull = pull_mib_s(engine, src, h, tag, chunk);
            if (pull == 0) {
                std::fprintf(stderr, "pull_bench: the engine did not read the whole source\n");
                return 1;
            }
            const double plain = memcpy_mib_s(src.data, chunk);
            char b[160];
            std::snprintf(b, sizeof b, "%5zu KiB reads: pull %8.1f MiB/s, memcpy %8.1f MiB/s, ratio %.3f", chunk >> 10,
                          pull, plain, pull / plain);
            lines.push_back(b);
        }
    }
    std::atomic<size_t> events{0};
    RPC_ARG_T func, event_tag;
    rpc_arg_set_ptr(func, ARG_TYPE_FUNC, reinterpret_cast<void *>(&on_event));
    rpc_arg_set_ptr(event_tag, ARG_TYPE_TAG, &events);
    const std::vector<uint64_t> event_ns = round_trips("x_pbengine_event_rtt", {func, event_tag});
    rpc_reg_cb_hndlr("x_pbengine_echo", echo);
    const std::vector<uint64_t> bare_ns = round_trips("x_pbengine_cb_rtt", {});
    if (event_ns.empty() || bare_ns.empty() || events.load() != kRoundTrips) {
        std::fprintf(stderr, "pull_bench: the engine's call-backs did not all reach the application\n");
        return 1;
    }
    lines.push_back(rtt_line("event into the application", event_ns) + " (" + std::to_string(kRoundTrips) + " events)");
    lines.push_back(rtt_line("bare transport call-back  ", bare_ns));
    char ratio[64];
    std::snprintf(ratio, sizeof ratio, "event/bare median ratio %.2f",
                  static_cast<double>(event_ns[event_ns.size() / 2]) / bare_ns[bare_ns.size() / 2]);
    lines.push_back(ratio);
    IQivPb_Ctrl_Close(h);
    for (const std::string &l : lines)
        std::printf("%s\n", l.c_str());
    return 0;
}
