// A second client library in the test process: its calls must use the
// connection it opened itself, never the program's.
#include "rpcipc.h"

extern "C" {

__attribute__((visibility("default"))) int32_t other_library_open(const char *ps_text)
{
    return rpc_open_client(ps_text);
}

__attribute__((visibility("default"))) int32_t other_library_call(const char *ps_op)
{
    RPC_ARG_T ret{};
    const int32_t rc = rpc_do_op(0, ps_op, 0, nullptr, &ret, 5000);
    return rc != RPCR_OK ? rc : ret.u.i1;
}

} // extern "C"
