#include "remote_call.h"

#include "qivpbmisc.h"

#include <cstdio>

namespace pbmisc {

namespace {

constexpr int32_t kNoTimeout = -1;
constexpr int32_t kTraceLevel = 1;

// rpc_do_op finds this library's connection by the code that calls it,
// so the call stays here and never becomes a tail call of a wrapper.
int32_t do_op(const RemoteMember &m, RPC_ARG_T *pt_args, RPC_ARG_T &t_result)
{
    t_result.e_type = 0;
    return rpc_do_op(0, m.ps_op, m.ui4_num_args, pt_args, &t_result, kNoTimeout);
}

} // namespace

int32_t call_remote(const RemoteMember &m, int i4_line, const uint64_t *pui8_values)
{
    RPC_ARG_T args[kMaxArgs] = {};
    for (uint32_t i = 0; i < m.ui4_num_args; ++i)
        rpc_arg_set(args[i], m.aui4_codes[i], pui8_values[i]);
    RPC_ARG_T result{};
    int32_t value = do_op(m, args, result);
    if (value == RPCR_NOT_OPENED) {
        printf("Open client:%s #%d try to auto connect \n", m.ps_name, i4_line);
        const int32_t id = c_rpc_start_misc_client();
        if (id > 0) {
            t_iqivpbsnd_client_rpc_id.store(id);
            value = do_op(m, args, result);
        }
    }
    if (value != 0)
        printf("RPC Failure:%s #%d, ret %d\n", m.ps_name, i4_line, value);
    else
        rpcu_log(kTraceLevel, "<LOG %s, %s, #%d>RPC Succeed:%s #%d, ret %d\n", g_ps_exe_name, m.ps_name, i4_line,
                 m.ps_name, i4_line, value);
    if (value != 0 || result.e_type != ARG_TYPE_RESULT) {
        printf("RPC Failure ret type:%s #%d, T:%d\n", m.ps_name, i4_line, static_cast<int>(result.e_type));
        rpc_del(0);
        return IQIVPB_MISC_FAIL;
    }
    rpc_del(0);
    return result.u.i1;
}

} // namespace pbmisc
