#include "remote_call.h"

#include "client_info.h"

#include <cstdio>

namespace pbctrl {

namespace {

constexpr int32_t kNoTimeout = -1;
constexpr int32_t kSucceedLevel = 1;

} // namespace

int32_t reg_failure(const char *ps_name, int i4_line)
{
    printf("RPC Failure:%s #%d\n", ps_name, i4_line);
    printf("RPC Failure ret type:%s #%d, T:%d\n", ps_name, i4_line, 0);
    rpc_del(0);
    return IQIVPB_FAIL;
}

int32_t arg_check_refusal(const char *ps_name, int i4_line)
{
    printf("RPC Failure arg check:%s #%d\n", ps_name, i4_line);
    return IQIVPB_FAIL;
}

int32_t arg_check_failure(const char *ps_name, int i4_line)
{
    arg_check_refusal(ps_name, i4_line);
    printf("RPC Failure ret type:%s #%d, T:%d\n", ps_name, i4_line, 0);
    return IQIVPB_FAIL;
}

int32_t do_call(const char *ps_name, int i4_line, const char *ps_op, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                RPC_ARG_T &t_result)
{
    t_result.e_type = 0;
    int32_t value = rpc_do_op(0, ps_op, ui4_num_args, pt_args, &t_result, kNoTimeout);
    if (value == RPCR_NOT_OPENED) {
        printf("Open client:%s #%d try to auto connect \n", ps_name, i4_line);
        const int32_t id = c_rpc_start_client();
        if (id > 0) {
            // Remembered, so that the last close closes this connection;
            // no lock, since the stub may hold t_info_mutex.
            t_client_rpc_id.store(id);
            t_result.e_type = 0;
            value = rpc_do_op(0, ps_op, ui4_num_args, pt_args, &t_result, kNoTimeout);
        }
    }
    if (value != 0)
        printf("RPC Failure:%s #%d, ret %d\n", ps_name, i4_line, value);
    else
        rpcu_log(kSucceedLevel, "<LOG %s, %s, #%d>RPC Succeed:%s #%d, ret %d\n", g_ps_exe_name, ps_name, i4_line,
                 ps_name, i4_line, value);
    return value;
}

int32_t finish_call(const char *ps_name, int i4_line, int32_t i4_value, const RPC_ARG_T &t_result)
{
    if (i4_value != 0 || t_result.e_type != ARG_TYPE_RESULT) {
        printf("RPC Failure ret type:%s #%d, T:%d\n", ps_name, i4_line, static_cast<int>(t_result.e_type));
        rpc_del(0);
        return IQIVPB_FAIL;
    }
    rpc_del(0);
    return t_result.u.i1;
}

} // namespace pbctrl
