// What every call-back handler shares: its result record, its slot check
// and the handlers of other files that join the registration table.
#ifndef PBCTRL_HANDLER_COMMON_H
#define PBCTRL_HANDLER_COMMON_H

#include "client_info.h"
#include "rpcipc.h"

namespace pbctrl {

constexpr int32_t kHandlerFail = -1;
constexpr int32_t kHandlerNoRoom = -9;

inline void set_result(RPC_ARG_T *pt_return, int32_t i4_app_result)
{
    pt_return->e_type = ARG_TYPE_RESULT;
    pt_return->u.ui8 = 0;
    pt_return->u.i1 = static_cast<int8_t>(i4_app_result & 0xFF);
}

// Result -1 and -1: the handler's usual failure.
inline int32_t fail(RPC_ARG_T *pt_return)
{
    set_result(pt_return, kHandlerFail);
    return kHandlerFail;
}

// The application's 8-bit result as the handler's: 0, or -1 when not 0.
inline int32_t app_outcome(RPC_ARG_T *pt_return, int32_t i4_app_result)
{
    set_result(pt_return, i4_app_result);
    return pt_return->u.i1 == 0 ? 0 : kHandlerFail;
}

// The slot a tag names, logging the lookup; -1 (and "Invalid client
// index") when it names none in use or, with a model, one of another model.
int slot_of_tag(const void *pv_tag, uint32_t e_required_mod);

// A closed playback leaves no pull record, map or read tag behind. Called
// with t_info_mutex held, when no handler can reach the slot any more.
void release_pull_tables(int slot);

#define PBCTRL_HANDLER(name)                                                                                           \
    int32_t name(int32_t, const char *, [[maybe_unused]] void *pv_func, uint32_t ui4_num_args, RPC_ARG_T *pt_args,     \
                 RPC_ARG_T *pt_return)

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_open_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_close_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_MapMemSlice_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_UnmapMemSlice_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_read_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_read_async_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_abort_read_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_byteseek_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_get_input_length_nfy_fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_Enc_Buf_Cb_Fct);
PBCTRL_HANDLER(_hndlr_x_qivpbctrl_sp_nfy_fct);

} // namespace pbctrl

#endif
