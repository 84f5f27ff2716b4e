// Time of process_signal for a two-press NEC capture, against copying the
// same capture (the baseline of this run).
#include <benchmark/benchmark.h>

#include <chrono>

#include "ir_signal.h"
#include "test_support.h"

namespace {

using namespace tulka;
using namespace tulka::test;

ir_signal two_press_capture()
{
    const ir_signal press = nec_frame(0x04, 0x08) + nec_repeat() + nec_repeat();
    return ir_signal{S(2000000)} + press + ir_signal{timeout_space, S(300000)} + press + ir_signal{timeout_space};
}

double copy_ns_per_capture(const ir_signal &capture)
{
    constexpr int rounds = 20000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        ir_signal copy = capture;
        benchmark::DoNotOptimize(copy.data());
    }
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / rounds;
}

void BM_ProcessSignalTwoPresses(benchmark::State &state)
{
    const ir_signal capture = two_press_capture();
    const double baseline = copy_ns_per_capture(capture);
    const signal_processor processor;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        ir_signal first = capture, second;
        std::uint32_t gap = base_gap_us;
        processor.process_signal(first, second, gap);
        benchmark::DoNotOptimize(first.data());
    }
    const double per_run = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                           static_cast<double>(state.iterations());
    state.counters["values"] = static_cast<double>(capture.size());
    state.counters["x_copy"] = per_run / baseline;
}
BENCHMARK(BM_ProcessSignalTwoPresses);

} // namespace

BENCHMARK_MAIN();
