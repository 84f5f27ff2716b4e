#include "bench_ops.h"

#include "sim.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace pbsim {

namespace {

// Answers at once: the transport's own cost, for benchmarks.
int32_t noop_op(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *result)
{
    rpc_arg_set(*result, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// Makes one call-back per 64-bit slot of the buffer in argument 0 and
// writes each round trip's nanoseconds there.
template <typename CallBack>
int32_t time_call_backs(const RPC_ARG_T &buffer, RPC_ARG_T *result, CallBack call_back_once)
{
    auto *slots = static_cast<uint8_t *>(rpc_arg_ptr(buffer));
    if (!slots)
        return RPCR_INV_ARGS;
    const uint32_t n = rpc_local_region_size(slots) / sizeof(uint64_t);
    for (uint32_t i = 0; i < n; ++i) {
        RPC_ARG_T cb_ret{};
        const auto t0 = std::chrono::steady_clock::now();
        if (call_back_once(cb_ret) != RPCR_OK)
            return RPCR_ERROR;
        const uint64_t ns = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count());
        std::memcpy(slots + i * sizeof ns, &ns, sizeof ns);
    }
    rpc_arg_set(*result, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// The transport's own call-back: the client's "x_pbengine_echo".
int32_t callback_rtt_op(int32_t conn, const char *, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    if (argc != 1)
        return RPCR_INV_ARGS;
    return time_call_backs(args[0], result, [conn](RPC_ARG_T &cb_ret) {
        return rpc_do_cb(conn, "x_pbengine_echo", nullptr, 0, nullptr, &cb_ret, -1);
    });
}

// An event into the application: "x_qivpbctrl_nfy_fct" with the event
// function (argument 1) and tag (argument 2) the client gave.
int32_t event_rtt_op(int32_t conn, const char *, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    if (argc != 3)
        return RPCR_INV_ARGS;
    void *func = reinterpret_cast<void *>(static_cast<uintptr_t>(args[1].u.ui8));
    const uint64_t tag = args[2].u.ui8;
    return time_call_backs(args[0], result, [conn, func, tag](RPC_ARG_T &cb_ret) {
        RPC_ARG_T ev[3];
        rpc_arg_set(ev[0], ARG_TYPE_UINT32, 1);
        rpc_arg_set(ev[1], ARG_TYPE_TAG, tag);
        rpc_arg_set(ev[2], ARG_TYPE_UINT32, 0);
        return rpc_do_cb(conn, "x_qivpbctrl_nfy_fct", func, 3, ev, &cb_ret, -1);
    });
}

const Operation kBenchOps[] = {
    {"x_pbengine_noop", noop_op},
    {"x_pbengine_cb_rtt", callback_rtt_op},
    {"x_pbengine_event_rtt", event_rtt_op},
};

} // namespace

void install_bench() { register_ops(kBenchOps); }

} // namespace pbsim
