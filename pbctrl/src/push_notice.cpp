// The engine's notice that it consumed a push buffer: the buffer's slices
// are free again, and an application that found no room is told so.
#include "push.h"
#include "slot_gate.h"

using namespace pbctrl;

namespace {

constexpr uint32_t kNfyArgs = 4;

} // namespace

namespace pbctrl {

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_Ipc_SendData_nfy_fct)
{
    (void)pv_func;
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    if (ui4_num_args != kNfyArgs) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, @Line: %d \n", __func__, __LINE__);
        return RPCR_INV_ARGS;
    }
    set_result(pt_return, 0);
    const int slot = slot_of_tag(rpc_arg_ptr(pt_args[1]), IQIV_PB_BUF_MOD_PUSH);
    SlotHold hold; // a close waits until the notice is done with the slot
    if (slot < 0 || !hold.take(slot))
        return fail(pt_return);
    if (pt_args[0].u.ui4 != 0) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", __func__, "IQIV_PB_CTRL_IPC_SEND_DATA FAIL",
                   __LINE__);
        return 0;
    }
    CLIENT_LOG(kLogData, "<Client> IQIV_PB_CTRL_IPC_SEND_DATA_OK\n");
    ClientInfo &c = t_client_info[slot];
    IQIV_PB_CTRL_NFY_FCT fn = nullptr;
    void *tag = nullptr;
    {
        MutexGuard lock(c.t_mutex);
        CLIENT_LOG(kLogData, "<Client> lock semaphore OK\n");
        const int i = find_request(c, pt_args[2].u.ui4);
        if (i < 0) {
            CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, @Line: %d \n", __func__, __LINE__);
            return fail(pt_return);
        }
        CLIENT_LOG(kLogData, "<Client> now release the used slice index from: %d, cnt: %d\n",
                   c.at_buf_info[i].ui4_first, c.at_buf_info[i].ui4_count);
        free_buf(c, i);
        if (c.pf_cb && c.b_buf_pending == 1) {
            fn = c.pf_cb;
            tag = c.pv_cb_tag;
            c.b_buf_pending = 0;
        }
    }
    // Called without the lock: the application may ask for a buffer at once.
    if (!fn)
        return 0;
    if (app_outcome(pt_return, fn(IQIV_PB_CTRL_EVENT_BUFFER_FREE, tag, nullptr)) != 0) {
        CLIENT_LOG(kLogErr, "PUSH mode SendData cb to user fail\n");
        return kHandlerFail;
    }
    return 0;
}

} // namespace pbctrl
