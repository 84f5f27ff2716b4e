// Pull-mode read throughput: the engine process (pbengine) reads a 64 MiB
// source of the application through the pull handlers into its own memory,
// in 64 KiB and in 1 MiB reads (synchronous and asynchronous in turn),
// against a plain memcpy of the same bytes in the same chunks in this run.
#include "qivpbctrl.h"

#include "checksum.h"
#include "client_info.h"
#include "engine_harness.h"
#include "../tests/pull_source.h"

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
    for (size_t chunk : {size_t{64} << 10, size_t{1} << 20}) {
        // The engine reads halves of its map: two slices of one chunk each.
        const std::string play = "pullplay " + std::to_string(h) + " " + tag + " 2 " + std::to_string(chunk);
        const auto t0 = Clock::now();
        for (int r = 0; r < kRounds; ++r) {
            src.pos = 0;
            if (engine.ok(play).rfind(std::to_string(kSourceBytes) + " ", 0) != 0) {
                std::fprintf(stderr, "pull_bench: the engine did not read the whole source\n");
                return 1;
            }
        }
        const double pull = kRounds * kSourceBytes / kMiB /
                             std::chrono::duration<double>(Clock::now() - t0).count();
        const double plain = memcpy_mib_s(src.data, chunk);
        char b[160];
        std::snprintf(b, sizeof b, "%5zu KiB reads: pull %8.1f MiB/s, memcpy %8.1f MiB/s, ratio %.3f",
                      chunk >> 10, pull, plain, pull / plain);
        lines.push_back(b);
    }
    IQivPb_Ctrl_Close(h);
    for (const std::string &l : lines)
        std::printf("%s\n", l.c_str());
    return 0;
}
