// Call-back handlers the engine runs through the transport, and their
// registration by name.
#include "handler_common.h"
#include "korm.h"
#include "platform_sizes.h"
#include "log_control.h"
#include "push.h"
#include "rpcipc.h"
#include "slot_gate.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

using namespace pbctrl;

namespace {

constexpr const char *kRegSource = "src_ind/so/iqivpbctrl_client/QivPbCtrl_wrapper";
constexpr uint32_t kCliArgs = 1;
constexpr uint32_t kNfyArgs = 3;

// The engine may only name the functions this library handed it.
IQIV_PB_CTRL_CLI_FCT cli_function(void *pv_func)
{
    const IQIV_PB_CTRL_CLI_FCT known[] = {x_QivPb_Ctrl_ClientSetDbgLevel, x_QivPb_Ctrl_ClientPrintDbgLevel,
                                          x_QivPb_Ctrl_ClientForceOpenLog};
    for (IQIV_PB_CTRL_CLI_FCT f : known)
        if (reinterpret_cast<void *>(f) == pv_func)
            return f;
    return nullptr;
}

int32_t _hndlr_x_qivpbctrl_cli_fct(int32_t, const char *, void *pv_func, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                                   RPC_ARG_T *pt_return)
{
    if (ui4_num_args != kCliArgs)
        return RPCR_INV_ARGS;
    printf("<Client> %s ------> is Called %d\n", __func__, __LINE__);
    const IQIV_PB_CTRL_CLI_FCT fn = cli_function(pv_func);
    if (!fn)
        return RPCR_INV_ARGS;
    set_result(pt_return, fn(pt_args[0].u.i4));
    return 0;
}

// Event 16 hands the application the mapped kernel block for the call only.
int32_t feature_data_event(IQIV_PB_CTRL_NFY_FCT fn, void *pv_tag, const RPC_ARG_T &data, int32_t &i4_app_result)
{
    static const char *const kName = "_hndlr_x_qivpbctrl_nfy_fct";
    const auto h_kmem = static_cast<HANDLE_T>(data.u.ui4);
    void *mapped = x_kmem_block_map(h_kmem);
    printf("%s:h_kmem=%p,handlepvFeatureData=%p\n", kName, reinterpret_cast<void *>(static_cast<uintptr_t>(h_kmem)),
           mapped);
    if (!mapped) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", kName, "x_kmem_block_map", __LINE__);
        return kHandlerFail;
    }
    i4_app_result = fn(IQIV_PB_CTRL_EVENT_FEATURE_DATA, pv_tag, mapped);
    printf("%s,callback done\n", kName);
    x_kmem_block_unmap(mapped);
    return 0;
}

// The PTS is read only from a record the transport brought along; data
// that came as a plain value is shown as such, never dereferenced.
void first_picture_line(const RPC_ARG_T &data)
{
    const void *p = engine_record(data, sizeof(int64_t));
    if (!p) {
        printf("recv IQIV_PB_CTRL_EVENT_FIRST_PIC_READY, value:0x%llx, no pts record \n",
               static_cast<unsigned long long>(data.u.ui8));
        return;
    }
    int64_t pts;
    std::memcpy(&pts, p, sizeof pts);
    printf("recv IQIV_PB_CTRL_EVENT_FIRST_PIC_READY, p:0x%x, pts: %lld \n",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)), static_cast<long long>(pts));
}

int32_t _hndlr_x_qivpbctrl_nfy_fct(int32_t, const char *, void *pv_func, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                                   RPC_ARG_T *pt_return)
{
    if (ui4_num_args != kNfyArgs)
        return RPCR_INV_ARGS;
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    const auto fn = reinterpret_cast<IQIV_PB_CTRL_NFY_FCT>(pv_func);
    if (!fn) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", __func__, "no function", __LINE__);
        set_result(pt_return, kHandlerFail);
        return kHandlerFail;
    }
    const uint32_t event = pt_args[0].u.ui4;
    void *tag = rpc_arg_ptr(pt_args[1]);
    int32_t app_result = 0;
    if (event == IQIV_PB_CTRL_EVENT_FEATURE_DATA) {
        if (feature_data_event(fn, tag, pt_args[2], app_result) != 0) {
            set_result(pt_return, kHandlerFail);
            return kHandlerFail;
        }
    } else {
        if (event == IQIV_PB_CTRL_EVENT_FIRST_PIC_READY)
            first_picture_line(pt_args[2]);
        app_result = fn(event, tag, rpc_arg_ptr(pt_args[2]));
    }
    set_result(pt_return, app_result);
    if (pt_return->u.i1 != 0) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, errno: %d, @Line: %d \n", __func__, pt_return->u.i1, __LINE__);
        return kHandlerFail;
    }
    return 0;
}

constexpr uint32_t kPcmArgs = 2;
constexpr uint32_t kDashArgs = 6;
constexpr uint32_t kFilterArgs = 5;
constexpr int32_t kTraceErr = 4;
constexpr int32_t kTraceInfo = 16;
constexpr int32_t kNoFilter = -2;

// No entry line: the engine uploads PCM blocks at a high rate.
int32_t _hndlr_x_qivpbctrl_pcm_upload_nfy_fct(int32_t, const char *, void *pv_func, uint32_t ui4_num_args,
                                              RPC_ARG_T *pt_args, RPC_ARG_T *pt_return)
{
    if (ui4_num_args != kPcmArgs)
        return RPCR_INV_ARGS;
    const auto fn = reinterpret_cast<IQIV_PB_CTRL_PCM_UPLOAD_FCT>(pv_func);
    if (!fn)
        return fail(pt_return);
    return app_outcome(pt_return, fn(pt_args[0].u.ui4, pt_args[1].u.ui4));
}

int32_t _hndlr_x_qivpbctrl_DASH_Get_Entry_Fct(int32_t, const char *, void *pv_func, uint32_t ui4_num_args,
                                              RPC_ARG_T *pt_args, RPC_ARG_T *pt_return)
{
    if (ui4_num_args != kDashArgs) {
        rpcu_log(kTraceErr, "<LOG %s, %s, #%d><Client>_hndlr_x_qivpbctrl_DASH_Get_Entry_Fct RPCR_INV_ARGS\n",
                 g_ps_exe_name, __func__, __LINE__);
        return RPCR_INV_ARGS;
    }
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    const auto fn = reinterpret_cast<IQIV_PB_CTRL_DASH_ENTRY_FCT>(pv_func);
    if (!fn)
        return fail(pt_return);
    const int32_t app = fn(pt_args[0].u.ui4, pt_args[1].u.ui4, pt_args[2].u.ui4, pt_args[3].u.ui4, pt_args[4].u.ui8,
                           pt_args[4].u.ui4);
    if (app_outcome(pt_return, app) != 0) {
        rpcu_log(kTraceErr, "<LOG %s, %s, #%d><Client>_hndlr_x_qivpbctrl_nfy_fct app cb error\n", g_ps_exe_name,
                 __func__, __LINE__);
        return kHandlerFail;
    }
    return 0;
}

// The first TS filter entry of a playback still waiting for its buffer,
// else its first entry, with the slot held and locked; null when the
// playback has none.
FilterEntry *find_filter(IQIV_PB_HANDLE_T h_pb, SlotHold &hold, MutexGuard &lock)
{
    for (int s = 0; s < kSlots; ++s) {
        if (t_client_info[s].b_used != 1 || !hold.take(s))
            continue;
        lock = MutexGuard(slot_mutex(t_client_info[s]));
        FilterEntry *first = nullptr;
        for (FilterEntry &f : t_client_info[s].at_filter) {
            if (!f.b_used || f.h_pb != h_pb)
                continue;
            if (!f.pv_buf)
                return &f;
            first = first ? first : &f;
        }
        if (first)
            return first;
        lock.unlock();
        hold.release();
    }
    return nullptr;
}

int32_t _hndlr_x_qivpbctrl_filter_allocate_nfy_fct(int32_t, const char *, void *, uint32_t ui4_num_args,
                                                   RPC_ARG_T *pt_args, RPC_ARG_T *pt_return)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    if (ui4_num_args < 1)
        return RPCR_INV_ARGS;
    const IQIV_PB_HANDLE_T h_pb = pt_args[0].u.ui4;
    SlotHold hold;
    MutexGuard lock;
    FilterEntry *f = find_filter(h_pb, hold, lock);
    if (!f)
        return kNoFilter;
    const auto fn = reinterpret_cast<IQIV_PB_CTRL_FILTER_ALLOC_FCT>(f->pf_nfy);
    if (!fn || ui4_num_args != kFilterArgs) {
        if (fn)
            rpcu_log(kTraceErr, "<LOG %s, %s, #%d><Client>_hndlr_x_qivpbctrl_filter_allocate_nfy_fct RPCR_INV_ARGS\n",
                     g_ps_exe_name, __func__, __LINE__);
        return RPCR_INV_ARGS;
    }
    // A buffer held keeps its mapping (a second one there would hide it),
    // and the size handed on must lie inside the engine's block.
    const uint32_t h_mem = pt_args[2].u.ui4, size = pt_args[3].u.ui4;
    if (f->pv_buf || !block_holds(h_mem, size))
        return fail(pt_return);
    f->h_mem = h_mem;
    rpcu_log(kTraceInfo, "<LOG %s, %s, #%d><Client>_hndlr_x_qivpbctrl_filter_allocate_nfy_fct is called\n",
             g_ps_exe_name, __func__, __LINE__);
    f->pv_buf = x_kmem_block_map(f->h_mem);
    if (!f->pv_buf)
        f->h_mem = 0;
    IQIV_PB_CTRL_FILTER_BUF_T buf{f->pv_buf, size};
    lock.unlock();
    if (!buf.pv_addr)
        return fail(pt_return);
    return app_outcome(pt_return, fn(h_pb, pt_args[1].u.ui4, &buf, pt_args[4].u.ui4));
}

struct Handler {
    const char *ps_name;
    rpc_hndlr_fct pf_hndlr;
};

// In registration order.
const Handler kHandlers[] = {
    {"x_qivpbctrl_cli_fct", _hndlr_x_qivpbctrl_cli_fct},
    {"x_qivpbctrl_nfy_fct", _hndlr_x_qivpbctrl_nfy_fct},
    {"x_qivpbctrl_pull_open_nfy_fct", _hndlr_x_qivpbctrl_pull_open_nfy_fct},
    {"x_qivpbctrl_pull_close_nfy_fct", _hndlr_x_qivpbctrl_pull_close_nfy_fct},
    {"x_qivpbctrl_pull_MapMemSlice_nfy_fct", _hndlr_x_qivpbctrl_pull_MapMemSlice_nfy_fct},
    {"x_qivpbctrl_pull_UnmapMemSlice_nfy_fct", _hndlr_x_qivpbctrl_pull_UnmapMemSlice_nfy_fct},
    {"x_qivpbctrl_pull_read_nfy_fct", _hndlr_x_qivpbctrl_pull_read_nfy_fct},
    {"x_qivpbctrl_pull_read_async_nfy_fct", _hndlr_x_qivpbctrl_pull_read_async_nfy_fct},
    {"x_qivpbctrl_pull_abort_read_nfy_fct", _hndlr_x_qivpbctrl_pull_abort_read_nfy_fct},
    {"x_qivpbctrl_byteseek_nfy_fct", _hndlr_x_qivpbctrl_byteseek_nfy_fct},
    {"x_qivpbctrl_get_input_length_nfy_fct", _hndlr_x_qivpbctrl_get_input_length_nfy_fct},
    {"x_qivpbctrl_Ipc_SendData_nfy_fct", _hndlr_x_qivpbctrl_Ipc_SendData_nfy_fct},
    {"x_qivpbctrl_Enc_Buf_Cb_Fct", _hndlr_x_qivpbctrl_Enc_Buf_Cb_Fct},
    {"x_qivpbctrl_filter_allocate_nfy_fct", _hndlr_x_qivpbctrl_filter_allocate_nfy_fct},
    {"x_qivpbctrl_sp_nfy_fct", _hndlr_x_qivpbctrl_sp_nfy_fct},
    {"x_qivpbctrl_DASH_Get_Entry_Fct", _hndlr_x_qivpbctrl_DASH_Get_Entry_Fct},
    {"x_qivpbctrl_pcm_upload_nfy_fct", _hndlr_x_qivpbctrl_pcm_upload_nfy_fct},
};

} // namespace

extern "C" int32_t c_rpc_reg_qivpbctrl_cb_hndlrs(void)
{
    puts("c_rpc_reg_qivpbctrl_cb_hndlrs is called");
    bool all = true;
    for (const Handler &h : kHandlers) {
        printf("REG CB HNDLR %s, 0x%p\n", h.ps_name, reinterpret_cast<void *>(h.pf_hndlr));
        const int32_t rc = rpc_reg_cb_hndlr(h.ps_name, h.pf_hndlr);
        if (rc < 0) {
            printf("<CLIENT> log on fail: file = %s, line = %d, reason = %d\r\n", kRegSource, __LINE__, rc);
            all = false;
        }
    }
    if (all)
        puts("RPC_REG_CB_HNDLR succeed");
    return 0;
}
