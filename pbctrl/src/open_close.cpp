// Opening and closing a playback, and the command-line registration.
#include "client_info.h"
#include "ext_members.h"
#include "handler_common.h"
#include "korm.h"
#include "log_control.h"
#include "push.h"
#include "remote_call.h"
#include "slot_gate.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

using namespace pbctrl;

namespace {

template <typename T, size_t N> void clear(T (&table)[N]) { std::memset(static_cast<void *>(table), 0, sizeof table); }

// Takes the connection for one more playback. Called with t_info_mutex held.
void count_open()
{
    if (ui1_open_count == 0)
        t_client_rpc_id = c_rpc_init_qivpbctrl_client();
    ++ui1_open_count;
    CLIENT_LOG(kLogOpen, "<Client> t_client_rpc_id is: %d, @Line: %d \n", t_client_rpc_id.load(), __LINE__);
}

// Gives back what count_open took; the last one closes the connection.
// Called with t_info_mutex held.
void count_close()
{
    if (ui1_open_count == 0 || --ui1_open_count > 0)
        return;
    CLIENT_LOG(kLogOpen, "<Client> IQivPb_Ctrl_Close, @Line: %d \n", __LINE__);
    c_rpc_uninit_qivpbctrl_client(t_client_rpc_id.load());
}

int take_free_slot()
{
    for (int i = 0; i < kSlots; ++i) {
        if (!t_client_info[i].b_used) {
            t_client_info[i].b_used = 1;
            return i;
        }
    }
    return -1;
}

// A failed open leaves neither its slot nor its share of the connection.
void undo_open(int slot)
{
    MutexGuard lock(t_info_mutex);
    t_client_info[slot].b_used = 0;
    count_close();
}

// t_info_mutex held. Whether a slot other than slot has the handle.
bool handle_held_elsewhere(int slot, IQIV_PB_HANDLE_T h_handle)
{
    for (int i = 0; i < kSlots; ++i)
        if (i != slot && t_client_info[i].b_used && t_client_info[i].h_handle == h_handle)
            return true;
    return false;
}

void fill_slot(int slot, uint32_t e_buf_mod, uint32_t e_open_mod, IQIV_PB_HANDLE_T h_handle)
{
    ClientInfo &c = t_client_info[slot];
    c.e_buf_mod = e_buf_mod;
    c.e_open_mod = e_open_mod;
    c.h_handle = h_handle;
    c.pv_cb_tag = nullptr;
    c.pf_cb = nullptr;
    c.pv_map_base = nullptr;
    c.b_slice_ready = 0;
    // Every playback has its own lock, so that no call of one waits for
    // another's engine answers.
    if (pthread_mutex_init(&c.t_mutex, nullptr) != 0)
        CLIENT_LOG(kLogErr, "<Client>ERR: pthread_mutex_init fail@Line: %d\n", __LINE__);
    if (e_buf_mod == IQIV_PB_BUF_MOD_PULL || e_buf_mod == IQIV_PB_BUF_MOD_PUSH)
        c.ui1_client_idx = kNoClientIdx;
    std::memset(&c.t_share_mem, 0, sizeof c.t_share_mem);
}

void unmap_share_mem(ClientInfo &c)
{
    if (!c.t_share_mem.b_used)
        return;
    x_kmem_block_unmap(c.t_share_mem.pv_addr);
    std::memset(&c.t_share_mem, 0, sizeof c.t_share_mem);
}

void release_slot(int slot)
{
    ClientInfo &c = t_client_info[slot];
    c.b_used = 0;
    c.h_handle = 0;
    c.b_nfy_reg = 0;
    c.b_buf_pending = 0;
    c.b_slice_ready = 0;
    release_push_maps(c);
    pthread_mutex_destroy(&c.t_mutex);
    std::memset(&c.t_pull_fct, 0, sizeof c.t_pull_fct);
    release_pull_tables(slot);
    for (EncMap &m : c.at_enc_map)
        if (m.b_used)
            x_kmem_block_unmap(m.pv_addr);
    clear(c.at_enc_map);
    clear(c.at_enc_buf);
    printf("<Client>Release Number%d client\n", slot);
}

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_Reg_CLI(IQIV_PB_CTRL_CLI_FCT pf_set_level, IQIV_PB_CTRL_CLI_FCT pf_print_level,
                            IQIV_PB_CTRL_CLI_FCT pf_force_open)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    RPC_ARG_T args[3];
    rpc_arg_set(args[0], ARG_TYPE_FUNC, reinterpret_cast<uintptr_t>(pf_set_level));
    rpc_arg_set(args[1], ARG_TYPE_FUNC, reinterpret_cast<uintptr_t>(pf_print_level));
    rpc_arg_set(args[2], ARG_TYPE_FUNC, reinterpret_cast<uintptr_t>(pf_force_open));
    return remote_call(__func__, __LINE__, "x_QivPb_Ctrl_Reg_CLI", 3, args);
}

int32_t IQivPb_Ctrl_Open(IQIV_PB_HANDLE_T *ph_handle, uint32_t e_buf_mod, uint32_t e_open_mod, const char *ps_text)
{
    static const char *const kName = "IQivPb_Ctrl_Open";
    CLIENT_LOG(kLogOpen, "<Client> %s ---> is called @Line: %d!\n", kName, __LINE__);
    if (!ph_handle)
        return IQIVPB_INV_ARG;

    MutexGuard info_lock(t_info_mutex);
    count_open();
    const int slot = take_free_slot();
    if (slot < 0) {
        count_close();
        info_lock.unlock();
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", kName, "no enough client info", __LINE__);
        return IQIVPB_FAIL;
    }
    // Only this playback's tables: the others may be in use.
    clear(t_client_info[slot].at_filter);
    clear(t_client_info[slot].at_ex_slot);
    info_lock.unlock();

    ClientInfo &c = t_client_info[slot];
    clear(c.at_sp_data);
    c.ui4SpDatCbPnt = 0;
    c.ui4SpDatRelPnt = 0;

    const int32_t reg = rpc_add_ref_str(0, ps_text);
    printf("<Client> Talmo Process ID is: %d, \n", getpid());
    CLIENT_LOG(kLogOpen, "<Client> Talmo Process ID is: %d, @Line: %d \n", getpid(), __LINE__);
    RPC_ARG_T result{};
    int32_t value = reg;
    if (reg == 0) {
        RPC_ARG_T args[5];
        rpc_arg_set_ptr(args[0], ARG_TYPE_REF_UINT32_OUT, ph_handle);
        rpc_arg_set(args[1], ARG_TYPE_UINT8, static_cast<uint8_t>(e_buf_mod));
        rpc_arg_set(args[2], ARG_TYPE_UINT8, static_cast<uint8_t>(e_open_mod));
        rpc_arg_set_ptr(args[3], ARG_TYPE_TEXT, ps_text);
        rpc_arg_set(args[4], ARG_TYPE_UINT32, static_cast<uint32_t>(getpid()));
        value = do_call(kName, __LINE__, "x_QivPb_Ctrl_Open", 5, args, result);
    }
    // An open the engine refused holds no slot either.
    if (value != 0 || result.e_type != ARG_TYPE_RESULT || result.u.i1 != 0) {
        undo_open(slot);
        return finish_call(kName, __LINE__, value, result);
    }

    b_client_opened.store(1);
    IQivPb_Ctrl_Reg_CLI(x_QivPb_Ctrl_ClientSetDbgLevel, x_QivPb_Ctrl_ClientPrintDbgLevel,
                        x_QivPb_Ctrl_ClientForceOpenLog);
    // Other threads look slots up by handle meanwhile. Two playbacks on one
    // engine handle would free each other's buffers: the second is refused.
    bool duplicate;
    {
        MutexGuard lock(t_info_mutex);
        duplicate = handle_held_elsewhere(slot, *ph_handle);
        if (!duplicate)
            fill_slot(slot, e_buf_mod, e_open_mod, *ph_handle);
    }
    if (duplicate) {
        undo_open(slot);
        rpc_del(0);
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", kName, "handle already open", __LINE__);
        return IQIVPB_FAIL;
    }
    open_gate(slot);
    CLIENT_LOG(kLogOpen, "<Client> x_QivPb_Ctrl_Open succeed, t_client_info[%d].h_handle is: %d, @Line: %d \n", slot,
               c.h_handle, __LINE__);
    return finish_call(kName, __LINE__, value, result);
}

int32_t IQivPb_Ctrl_Close(IQIV_PB_HANDLE_T h_handle)
{
    static const char *const kName = "IQivPb_Ctrl_Close";
    CLIENT_LOG(kLogOpen, "<Client> %s ---> is called @Line: %d!\n", kName, __LINE__);
    {
        MutexGuard lock(t_info_mutex);
        const int slot = find_by_handle(h_handle);
        if (slot >= 0) {
            CLIENT_LOG(kLogOpen, "<Client> Find client[%d] info succeed, @Line: %d \n", slot, __LINE__);
            unmap_share_mem(t_client_info[slot]);
        }
    }

    RPC_ARG_T args[1];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_handle);
    RPC_ARG_T result{};
    const int32_t value = do_call(kName, __LINE__, "x_QivPb_Ctrl_Close", 1, args, result);
    if (value == 0) {
        const int slot = find_by_handle_locked(h_handle);
        // Call-backs of the playback that are still running use its slot.
        if (slot >= 0)
            drain_gate(slot);
        MutexGuard lock(t_info_mutex);
        b_client_opened.store(0);
        if (slot >= 0 && find_by_handle(h_handle) == slot) {
            release_ext_state(slot);
            clear(t_client_info[slot].at_filter);
            release_slot(slot);
            // Only a playback that was open gives back its share.
            count_close();
        }
    }
    return finish_call(kName, __LINE__, value, result);
}

} // extern "C"
