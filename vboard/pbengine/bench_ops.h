// Operations for benchmarks: they answer without a script, so that their
// figures are the transport's own.
#ifndef PBENGINE_BENCH_OPS_H
#define PBENGINE_BENCH_OPS_H

namespace pbsim {

// "x_pbengine_noop", "x_pbengine_cb_rtt" and "x_pbengine_event_rtt".
void install_bench();

} // namespace pbsim

#endif
