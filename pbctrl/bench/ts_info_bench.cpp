// Analyses per second of IQivPb_Ctrl_GetTSInfo on a 1 MiB and a 4 MiB stream
// start, against a bare scan of the same buffer for sync bytes in the same run.
//
// The stream is the parser's worst case: its one program lists one MPEG audio
// stream, so the PMT scan walks every packet, and the audio's only PES sits in
// the last packets, so the PTS finder and the layer search walk them all too.
#include "qivpbctrl_ts.h"

#include "../tests/ts_stream_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

using namespace tstest;
using Clock = std::chrono::steady_clock;

constexpr double kSecondsPerCase = 0.5;

Bytes worst_case_stream(size_t bytes)
{
    Stream s;
    s.packet(0, true, pat({0x1000})).packet(0x1000, true, pmt({{0x03, 0x101, {}}}));
    const int packets = static_cast<int>(bytes / 188);
    s.filler(packets - 3);
    s.packet(0x101, true, pes(90000, {0xFF, 0xFB, 0x90, 0x64}));
    s.bytes.resize(bytes, 0xFF);
    return s.bytes;
}

volatile size_t g_sink;

size_t count_sync_bytes(const Bytes &b)
{
    size_t n = 0;
    for (uint8_t c : b)
        n += c == 0x47;
    return n;
}

template <typename F> double per_second(F &&f)
{
    long runs = 0;
    const Clock::time_point start = Clock::now();
    double elapsed = 0;
    do {
        f();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kSecondsPerCase);
    return runs / elapsed;
}

} // namespace

int main()
{
    // The parser prints its log lines on stdout: they go to /dev/null here.
    FILE *out = fdopen(dup(STDOUT_FILENO), "w");
    const int null_fd = open("/dev/null", O_WRONLY);
    if (out == nullptr || null_fd < 0)
        return 1;
    dup2(null_fd, STDOUT_FILENO);
    fprintf(out, "%-8s %16s %18s %8s\n", "start", "analyses/s", "sync scans/s", "ratio");
    for (size_t mib : {1u, 4u}) {
        const Bytes b = worst_case_stream(mib << 20);
        IQIV_PB_TS_INFO_T info;
        if (IQivPb_Ctrl_GetTSInfo(b.data(), static_cast<uint32_t>(b.size()), &info) != 0 ||
            info.at_program[0].at_stream[0].ui4_data != IQIV_PB_TS_MPEG_LAYER_3)
            return 1;
        const double analyses = per_second([&] {
            IQivPb_Ctrl_GetTSInfo(b.data(), static_cast<uint32_t>(b.size()), &info);
            g_sink = info.at_program[0].at_stream[0].ui4_data;
        });
        const double scans = per_second([&] { g_sink = count_sync_bytes(b); });
        fprintf(out, "%zu MiB %17.0f %18.0f %8.2f\n", mib, analyses, scans, analyses / scans);
    }
    fprintf(out, "ratio: analyses per second over sync scans per second of the same buffer\n");
    fclose(out);
    return 0;
}
