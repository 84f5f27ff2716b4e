// Push-mode throughput: a 64 MiB stream pushed through GetBuffer/SendData
// into the engine process (pbengine), which consumes on its own thread
// meanwhile, in 4 KiB, 64 KiB and 1 MiB buffers, against a plain memcpy of
// the same bytes in the same chunks in this run; then the GetBuffer+SendData
// round trip of one small buffer (median, p99). The engine either reads
// every byte into its checksum (its memory traffic competes with the
// application's filling of the buffers) or only counts the bytes, which
// leaves the library's own cost.
#include "qivpbctrl.h"

#include "engine_harness.h"
#include "../tests/push_app.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kStreamBytes = 64u << 20;
constexpr int kRounds = 3;
constexpr int kRoundTrips = 2000;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr uint32_t kSlices = 8;

volatile uint8_t g_sink;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double memcpy_mib_s(const std::vector<uint8_t> &src, size_t chunk)
{
    // As many destinations as the engine has slices: the same memory footprint.
    std::vector<uint8_t> dst(chunk * kSlices);
    const auto t0 = Clock::now();
    size_t k = 0;
    for (int r = 0; r < kRounds; ++r)
        for (size_t off = 0; off < src.size(); off += chunk, ++k) {
            uint8_t *d = dst.data() + (k % kSlices) * chunk;
            std::memcpy(d, src.data() + off, chunk);
            g_sink = d[chunk - 1];
        }
    return kRounds * src.size() / kMiB / seconds_since(t0);
}

struct Playback {
    IQIV_PB_HANDLE_T h = 0;
    pushtest::Events events;
};

bool open(pbharness::Engine &engine, Playback &pb, size_t slice_bytes)
{
    if (engine.ok("push slices " + std::to_string(kSlices) + " " + std::to_string(slice_bytes)) != "")
        return false;
    return IQivPb_Ctrl_Open(&pb.h, IQIV_PB_BUF_MOD_PUSH, 1, "push") == 0 &&
           IQivPb_Ctrl_RegCallback(pb.h, &pb.events, pushtest::Events::on_event) == 0;
}

// MiB/s of pushing the stream in buffers of chunk bytes until the engine
// consumed all of it; 0 on any failure.
double push_mib_s(pbharness::Engine &engine, const std::vector<uint8_t> &src, size_t chunk)
{
    Playback pb;
    if (!open(engine, pb, chunk))
        return 0;
    const std::vector<uint32_t> sizes = {static_cast<uint32_t>(chunk)};
    // The slices are fetched, mapped and touched once before the clock starts.
    const size_t warm = chunk * kSlices;
    if (pushtest::push_bytes(pb.h, pb.events, src.data(), warm, sizes) != 0)
        return 0;
    const auto t0 = Clock::now();
    for (int r = 0; r < kRounds; ++r)
        if (pushtest::push_bytes(pb.h, pb.events, src.data(), src.size(), sizes) != 0)
            return 0;
    if (IQivPb_Ctrl_SetPushModelEOS(pb.h) != 0)
        return 0;
    const double s = seconds_since(t0);
    const std::string stat = engine.ok("push stat " + std::to_string(pb.h));
    IQivPb_Ctrl_Close(pb.h);
    if (stat.rfind(std::to_string(kRounds * src.size() + warm) + " ", 0) != 0)
        return 0;
    return kRounds * src.size() / kMiB / s;
}

// Microseconds of GetBuffer + SendData of 4 KiB, one at a time.
std::vector<double> round_trips(pbharness::Engine &engine)
{
    Playback pb;
    std::vector<double> us;
    if (!open(engine, pb, 4096))
        return us;
    void *buf = nullptr;
    for (int i = 0; i < kRoundTrips; ++i) {
        const auto t0 = Clock::now();
        if (IQivPb_Ctrl_GetBuffer(pb.h, 4096, &buf) != 0 || IQivPb_Ctrl_SendData(pb.h, 4096, buf) != 0)
            break;
        us.push_back(seconds_since(t0) * 1e6);
        // Not timed: the engine gives the slice back before the next one.
        if (i % kSlices == kSlices - 1)
            IQivPb_Ctrl_SetPushModelEOS(pb.h);
    }
    IQivPb_Ctrl_Close(pb.h);
    std::sort(us.begin(), us.end());
    return us;
}

} // namespace

int main()
{
    pbharness::Engine engine;
    if (!engine.start()) {
        std::fprintf(stderr, "push_bench: cannot start pbengine\n");
        return 1;
    }
    // The library's lines go to standard output: only the figures stay.
    std::fflush(stdout);
    FILE *figures = fdopen(dup(fileno(stdout)), "w");
    if (!figures || !freopen("/dev/null", "w", stdout))
        return 1;
    IQivPb_Ctrl_Init();
    const std::vector<uint8_t> src = pushtest::stream_bytes(kStreamBytes, 11);
    for (const char *check : {"on", "off"}) {
        if (engine.ok(std::string("push check ") + check) != "")
            return 1;
        std::fprintf(figures, "engine %s:\n", check[1] == 'n' ? "reading every byte" : "counting bytes only");
        for (size_t chunk : {size_t{4} << 10, size_t{64} << 10, size_t{1} << 20}) {
            const double push = push_mib_s(engine, src, chunk);
            const double plain = memcpy_mib_s(src, chunk);
            std::fprintf(figures, "%5zu KiB buffers: push %8.1f MiB/s, memcpy %8.1f MiB/s, ratio %.3f\n", chunk >> 10,
                         push, plain, push / plain);
            if (push == 0) {
                std::fprintf(stderr, "push_bench: the engine did not get the whole stream\n");
                return 1;
            }
        }
    }
    const std::vector<double> us = round_trips(engine);
    if (us.size() != kRoundTrips) {
        std::fprintf(stderr, "push_bench: a round trip failed\n");
        return 1;
    }
    std::fprintf(figures, "GetBuffer+SendData of 4 KiB: median %.1f us, p99 %.1f us (%d round trips)\n",
                 us[us.size() / 2], us[us.size() * 99 / 100], kRoundTrips);
    IQivPb_Ctrl_Terminate();
    return 0;
}
