// The steps every stub shares: the call with its auto-connect and its
// failure and success lines, then the result check.
#ifndef PBCTRL_REMOTE_CALL_H
#define PBCTRL_REMOTE_CALL_H

#include "rpcipc.h"

namespace pbctrl {

// A registration failed: its line, no call, the stub ends with -1.
int32_t reg_failure(const char *ps_name, int i4_line);

// The arguments do not fit the playback: its lines, no call, -1.
int32_t arg_check_failure(const char *ps_name, int i4_line);
// Only the arg-check line: for members that refuse before any call is begun.
int32_t arg_check_refusal(const char *ps_name, int i4_line);

// Makes the call (auto-connecting once on -6) and prints its line;
// returns the call's value.
int32_t do_call(const char *ps_name, int i4_line, const char *ps_op, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                RPC_ARG_T &t_result);

// Ends the call: -1 for a failed call or a wrong result type, else the
// engine's 8-bit result.
int32_t finish_call(const char *ps_name, int i4_line, int32_t i4_value, const RPC_ARG_T &t_result);

inline int32_t remote_call(const char *ps_name, int i4_line, const char *ps_op, uint32_t ui4_num_args,
                           RPC_ARG_T *pt_args)
{
    RPC_ARG_T result{};
    const int32_t value = do_call(ps_name, i4_line, ps_op, ui4_num_args, pt_args, result);
    return finish_call(ps_name, i4_line, value, result);
}

} // namespace pbctrl

#endif
