// Push mode: buffers are runs of the engine's slices, all mapped once in
// one range; a run is handed out, sent by naming its slices, and freed when
// the engine reports it consumed. The slot's mutex guards every table and
// is held across the remote calls, so a consumption notice waits until the
// send that it may answer has its request id.
#include "push.h"

#include "korm.h"
#include "platform_sizes.h"
#include "playback_call.h"
#include "playback_members.h"
#include "remote_call.h"
#include "rpc_desc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace pbctrl;

namespace {

constexpr uint32_t kSendArgs = 5;
constexpr const char *kSliceInfoName = "x_QivPb_Ctrl_Get_Mem_Slice_Info";
constexpr const char *kSliceHandleName = "x_QivPb_Ctrl_Get_Mem_Slice_Handle";
constexpr const char *kRegNfyName = "x_QivPb_Ctrl_Reg_SendDataNfyCallback";

// The push slot of a handle, looked up under the library's mutex; -1.
int push_slot(IQIV_PB_HANDLE_T h_handle)
{
    MutexGuard lock(t_info_mutex);
    return find_by_handle_and_model(h_handle, IQIV_PB_BUF_MOD_PUSH);
}

// Slices needed for a size; the slot's slices are known (size not 0).
uint32_t slices_for(const ClientInfo &c, uint32_t ui4_size) { return (ui4_size - 1) / c.ui4_slice_size + 1; }

// No buffer is handed out or sent any more: also those of an earlier
// mapping, which point into a range that is gone.
void forget_buffers(ClientInfo &c)
{
    std::memset(c.ab_slice_used, 0, sizeof c.ab_slice_used);
    std::memset(c.ab_slice_sent, 0, sizeof c.ab_slice_sent);
    std::memset(static_cast<void *>(c.at_buf_info), 0, sizeof c.at_buf_info);
}

int32_t fetch_slice_info(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_MEM_SLICE_INFO_T &info)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kSliceInfoName, __LINE__);
    if (rpc_add_ref_desc(0, &info, __rpc_get_desc__(RPC_DESC_MEM_SLICE_INFO), nullptr) != 0)
        return reg_failure(kSliceInfoName, __LINE__);
    RPC_ARG_T args[2];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_handle);
    rpc_arg_set_ptr(args[1], ARG_TYPE_DESC_OUT, &info);
    return remote_call(kSliceInfoName, __LINE__, "x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info", 2, args);
}

void fetch_slice_handles(ClientInfo &c)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kSliceHandleName, __LINE__);
    if (rpc_add_ref_buff(0, c.ah_slice, c.ui4_slice_num * sizeof c.ah_slice[0]) != 0) {
        reg_failure(kSliceHandleName, __LINE__);
        return;
    }
    RPC_ARG_T args[3];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, c.h_handle);
    rpc_arg_set(args[1], ARG_TYPE_UINT32, c.ui4_slice_num);
    rpc_arg_set_ptr(args[2], ARG_TYPE_DESC_OUT, c.ah_slice);
    remote_call(kSliceHandleName, __LINE__, "x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Handle", 3, args);
}

// The slices tile the mapped range only if every block is one slice long:
// slice k is addressed at k slice sizes from the start.
bool slices_tile(const ClientInfo &c)
{
    for (uint32_t k = 0; k < c.ui4_slice_num; ++k)
        if (!block_is(c.ah_slice[k], c.ui4_slice_size))
            return false;
    return true;
}

// Maps all slices in one range; false (nothing mapped) when the engine's
// handles do not make such a range.
bool map_slices(ClientInfo &c)
{
    CLIENT_LOG(kLogData, "<Client> push mode slice handle is:\n");
    for (uint32_t k = 0; k < c.ui4_slice_num; ++k)
        CLIENT_LOG(kLogData, "0x%x ", c.ah_slice[k]);
    CLIENT_LOG(kLogData, "\n");
    void *base = x_kmem_block_multimap(c.ui4_slice_num, c.ah_slice);
    if (!base || !slices_tile(c)) {
        if (base)
            x_kmem_block_unmap(base);
        log_push_failure("IQivPb_Ctrl_GetBuffer", "push slices do not map", __LINE__);
        return false;
    }
    c.pv_map_base = base;
    CLIENT_LOG(kLogData, "<Client> push mode kmem mapper start address is: 0x%x, @Line: %d \n", low32(base), __LINE__);
    return true;
}

// Fetches and maps the slices; 0, or the result GetBuffer returns.
// Called with the slot's mutex held.
int32_t fetch_slices(ClientInfo &c, uint32_t ui4_size)
{
    c.b_nfy_reg = 0;
    IQIV_PB_CTRL_MEM_SLICE_INFO_T info{};
    const int32_t ret = fetch_slice_info(c.h_handle, info);
    CLIENT_LOG(kLogData, "<Client> x_QivPb_Ctrl_Get_Mem_Slice_Info, slice number is: %d, @Line: %d \n", info.u4SliceNum,
               __LINE__);
    CLIENT_LOG(kLogData, "<Client> get slice number is: %d, @Line: %d \n", info.u4SliceNum, __LINE__);
    if (info.u4SliceNum > kSlices) {
        CLIENT_LOG(kLogErr, "tooooo much slice handles\n");
        return IQIVPB_FAIL;
    }
    if (ret != 0) {
        CLIENT_LOG(kLogErr, "<Client> %s Fail, get slice info return %d, @Line: %d \n", "IQivPb_Ctrl_GetBuffer", ret,
                   __LINE__);
        return ret;
    }
    // No slices, or slices of no size, give nothing to hand out.
    if (info.u4SliceNum == 0 || info.u4SliceSize == 0) {
        log_push_failure("IQivPb_Ctrl_GetBuffer", "no push slices", __LINE__);
        return IQIVPB_FAIL;
    }
    c.ui4_slice_num = info.u4SliceNum;
    c.ui4_slice_size = info.u4SliceSize;
    fetch_slice_handles(c);
    if (uint64_t{c.ui4_slice_num} * c.ui4_slice_size < ui4_size) {
        CLIENT_LOG(kLogErr, "Slice mem is not enough\n");
        return IQIVPB_NOT_ENOUGH;
    }
    if (!map_slices(c))
        return IQIVPB_FAIL;
    forget_buffers(c);
    c.b_slice_ready = 1;
    return 0;
}

// First fit of count free slices in a row: the first slice, or -1; ran_out
// tells a scan that went past the last slice from one stopped short.
int first_fit(const ClientInfo &c, uint32_t count, bool &ran_out)
{
    ran_out = false;
    uint32_t i = 0;
    while (i < c.ui4_slice_num) {
        if (c.ab_slice_used[i]) {
            ++i;
            continue;
        }
        if (uint64_t{i} + count > c.ui4_slice_num) {
            CLIENT_LOG(kLogErr, "No enough free linear blocks\n");
            return -1;
        }
        uint32_t j = 0;
        while (j < count && !c.ab_slice_used[i + j])
            ++j;
        if (j == count)
            return static_cast<int>(i);
        i += j + 1;
    }
    ran_out = true;
    return -1;
}

int32_t get_buffer(IQIV_PB_HANDLE_T h_handle, uint32_t ui4_size, void **ppv_buf)
{
    static const char *const kName = "IQivPb_Ctrl_GetBuffer";
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called,u4BufSize[%d] @Line: %d!\n", kName, ui4_size, __LINE__);
    const int slot = push_slot(h_handle);
    if (slot < 0) {
        log_push_failure(kName, "Cannot find server info", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    if (ui4_size == 0 || !ppv_buf) {
        log_push_failure(kName, ui4_size == 0 ? "u4BufSize == 0" : "pu1Buffer == NULL", __LINE__);
        return IQIVPB_INV_ARG;
    }
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(c.t_mutex);
    if (!c.b_slice_ready) {
        const int32_t ret = fetch_slices(c, ui4_size);
        if (ret != 0)
            return ret;
    }
    const uint32_t count = slices_for(c, ui4_size);
    // A run longer than all slices would stay pending for ever.
    if (count > c.ui4_slice_num) {
        CLIENT_LOG(kLogErr, "Slice mem is not enough\n");
        return IQIVPB_NOT_ENOUGH;
    }
    bool ran_out = false;
    const int i = first_fit(c, count, ran_out);
    if (i < 0) {
        if (ran_out)
            *ppv_buf = nullptr;
        c.b_buf_pending = 1;
        return IQIVPB_PENDING;
    }
    std::memset(c.ab_slice_used + i, 1, count);
    void *addr = static_cast<uint8_t *>(c.pv_map_base) + uint64_t{c.ui4_slice_size} * static_cast<uint32_t>(i);
    *ppv_buf = addr;
    BufInfo &b = c.at_buf_info[i];
    b.pv_addr = addr;
    b.ui4_first = static_cast<uint32_t>(i);
    b.ui4_count = count;
    CLIENT_LOG(kLogData, "<Client> find mem slice from index: %d, count: %d! @Line: %d \n", i, count, __LINE__);
    CLIENT_LOG(kLogData, "<Client> push mode get buffer address is: 0x%x @Line: %d \n", low32(addr), __LINE__);
    return 0;
}

// Asks the engine to report consumed buffers to this slot; a failure only
// prints its lines and is not retried until the slices are fetched again.
void register_notice(int slot)
{
    ClientInfo &c = t_client_info[slot];
    if (c.b_nfy_reg)
        return;
    c.ui1_client_idx = static_cast<uint8_t>(slot);
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kRegNfyName, __LINE__);
    RPC_ARG_T args[2];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, c.h_handle);
    rpc_arg_set_ptr(args[1], ARG_TYPE_TAG, &c.ui1_client_idx);
    remote_call(kRegNfyName, __LINE__, "x_QivPb_Ctrl_Ipc_RegSendDataNfyCallback", 2, args);
    c.b_nfy_reg = 1;
}

// The send itself, with the list of the entry's slice handles.
// Called with the slot's mutex held.
int32_t send_slices(ClientInfo &c, BufInfo &b, uint32_t ui4_size, uint32_t count)
{
    static const char *const kName = "IQivPb_Ctrl_SendData";
    auto *list = static_cast<HANDLE_T *>(std::malloc(count * sizeof(HANDLE_T)));
    if (!list) {
        CLIENT_LOG(kLogErr, "no enough mem left\n");
        return IQIVPB_NOT_ENOUGH;
    }
    std::memcpy(list, c.ah_slice + b.ui4_first, count * sizeof(HANDLE_T));
    for (uint32_t k = 0; k < count; ++k)
        CLIENT_LOG(kLogData, "<Client> send data use mem handle is: 0x%x", list[k]);
    CLIENT_LOG(kLogData, "\n");
    int32_t ret;
    if (rpc_add_ref_buff(0, list, count * sizeof(HANDLE_T)) != 0) {
        ret = reg_failure(kName, __LINE__);
    } else {
        RPC_ARG_T args[kSendArgs];
        rpc_arg_set(args[0], ARG_TYPE_UINT32, c.h_handle);
        rpc_arg_set(args[1], ARG_TYPE_UINT32, ui4_size);
        rpc_arg_set(args[2], ARG_TYPE_UINT32, count);
        rpc_arg_set_ptr(args[3], ARG_TYPE_DESC_IN, list);
        rpc_arg_set_ptr(args[4], ARG_TYPE_REF_UINT32_OUT, &b.ui4_req_id);
        RPC_ARG_T result{};
        const int32_t value = do_call(kName, __LINE__, "x_QivPb_Ctrl_SendData", kSendArgs, args, result);
        if (value == 0) {
            CLIENT_LOG(kLogData, "<Client> client index: %d, map info: %ld, req id: %ld, @Line: %d\n", c.ui1_client_idx,
                       static_cast<long>(b.ui4_first), static_cast<long>(b.ui4_req_id), __LINE__);
            std::memset(c.ab_slice_sent + b.ui4_first, 1, b.ui4_count);
        }
        ret = finish_call(kName, __LINE__, value, result);
    }
    std::free(list);
    return ret;
}

int32_t send_data(IQIV_PB_HANDLE_T h_handle, uint32_t ui4_size, void *pv_buf)
{
    static const char *const kName = "IQivPb_Ctrl_SendData";
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kName, __LINE__);
    CLIENT_LOG(kLogData,
               "<Client>IQivPb_Ctrl_SendData is called, hHandle is: %d, u4BufSize is: %d, buf pointer is: 0x%x\n",
               h_handle, ui4_size, low32(pv_buf));
    const int slot = push_slot(h_handle);
    if (slot < 0) {
        log_push_failure(kName, "Cannot find server info", __LINE__);
        return IQIVPB_FAIL;
    }
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(c.t_mutex);
    register_notice(slot);
    const int i = find_buf(c, pv_buf);
    if (i < 0) {
        log_push_failure(kName, "Cannot find buff info", __LINE__);
        return IQIVPB_FAIL;
    }
    BufInfo &b = c.at_buf_info[i];
    CLIENT_LOG(kLogData, "<Client> Send data use index: %ld, keeped start index is: %ld, cnt is: %ld, @Line: %d \n",
               static_cast<long>(i), static_cast<long>(b.ui4_first), static_cast<long>(b.ui4_count), __LINE__);
    // Size 0 would wrap to the largest count: refused with the oversized.
    const uint32_t count = ui4_size ? slices_for(c, ui4_size) : UINT32_MAX;
    if (b.ui4_count < count) {
        CLIENT_LOG(kLogErr, "input buf size error in send data\n");
        return IQIVPB_FAIL;
    }
    CLIENT_LOG(kLogData, "<Client> slice cnt is: %ld, @Line: %d \n", static_cast<long>(count), __LINE__);
    return send_slices(c, b, ui4_size, count);
}

int32_t release_buffer(IQIV_PB_HANDLE_T h_handle, void *pv_buf)
{
    static const char *const kName = "IQivPb_Ctrl_ReleaseBuffer";
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kName, __LINE__);
    const int slot = push_slot(h_handle);
    if (slot < 0) {
        log_push_failure(kName, "Cannot find server info", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(c.t_mutex);
    const int i = find_buf(c, pv_buf);
    if (i < 0)
        log_push_failure(kName, "Cannot find push buff info", __LINE__);
    else
        free_buf(c, i);
    return 0;
}

// Frees every buffer still handed out or sent. Called with the slot's
// mutex held.
void clear_unsent(ClientInfo &c)
{
    for (int a = 0; a < kSlices;) {
        if (c.ab_slice_used[a] || c.ab_slice_sent[a])
            printf("<Client> find haven't send data notify. @Line, %d\n", __LINE__);
        const BufInfo &b = c.at_buf_info[a];
        if (b.pv_addr && b.ui4_first == static_cast<uint32_t>(a)) {
            const uint32_t count = b.ui4_count ? b.ui4_count : 1;
            free_buf(c, a);
            printf("<Client> Clear not send data slice. @Line, %d\n", __LINE__);
            a += static_cast<int>(count);
        } else {
            ++a;
        }
    }
}

// Stop and TS stop: the remote call, then, once the engine stopped, every
// push buffer is free again.
int32_t stop_with_cleanup(Id id, IQIV_PB_HANDLE_T h_handle)
{
    const Member &m = member(id);
    int slot;
    {
        MutexGuard lock(t_info_mutex);
        slot = find_by_handle(h_handle);
    }
    if (slot < 0) {
        printf("<CLIENT> can not find server info@Line: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    const uint64_t values[kMaxMemberArgs] = {h_handle};
    CallValues got;
    const int32_t ret = carry_ex(m, values, nullptr, got);
    if (got.transport != 0 || ret != 0) {
        log_refused_call(m, got);
        return ret;
    }
    ClientInfo &c = t_client_info[slot];
    // Only push playbacks have buffers (and their own mutex).
    if (c.e_buf_mod == IQIV_PB_BUF_MOD_PUSH) {
        MutexGuard lock(c.t_mutex);
        clear_unsent(c);
    }
    return ret;
}

// The slot RegCallback stores into: the handle's push slot, in use or not.
int callback_slot(IQIV_PB_HANDLE_T h_handle)
{
    for (int i = 0; i < kSlots; ++i)
        if (t_client_info[i].h_handle == h_handle && t_client_info[i].e_buf_mod == IQIV_PB_BUF_MOD_PUSH)
            return i;
    return -1;
}

} // namespace

namespace pbctrl {

void push_media_reset(IQIV_PB_HANDLE_T h_handle)
{
    const int slot = push_slot(h_handle);
    if (slot < 0)
        return;
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(c.t_mutex);
    CLIENT_LOG(kLogData, "<Client> Start to unmap buffer in client[%d]for push mode, @Line: %d \n", slot, __LINE__);
    if (c.pv_map_base)
        x_kmem_block_unmap(c.pv_map_base);
    c.pv_map_base = nullptr;
    c.b_slice_ready = 0;
    forget_buffers(c);
}

void release_push_maps(ClientInfo &c)
{
    if (c.pv_map_base)
        x_kmem_block_unmap(c.pv_map_base);
    c.pv_map_base = nullptr;
    for (ExSlot &e : c.at_ex_slot)
        if (e.pv_addr)
            x_kmem_block_unmap(e.pv_addr);
    std::memset(static_cast<void *>(c.at_ex_slot), 0, sizeof c.at_ex_slot);
    forget_buffers(c);
}

} // namespace pbctrl

extern "C" {

int32_t IQivPb_Ctrl_GetBuffer(uint32_t h_pb, uint32_t ui4_size, void **ppv_buf)
{
    return get_buffer(h_pb, ui4_size, ppv_buf);
}

int32_t IQivPb_Ctrl_SendData(uint32_t h_pb, uint32_t ui4_size, void *pv_buf)
{
    return send_data(h_pb, ui4_size, pv_buf);
}

int32_t IQivPb_Ctrl_ReleaseBuffer(uint32_t h_pb, void *pv_buf) { return release_buffer(h_pb, pv_buf); }

int32_t IQivPb_Ctrl_Stop(IQIV_PB_HANDLE_T h_handle) { return stop_with_cleanup(Id::Stop, h_handle); }

int32_t IQivPb_Ctrl_TSStop(IQIV_PB_HANDLE_T h_handle) { return stop_with_cleanup(Id::TSStop, h_handle); }

int32_t IQivPb_Ctrl_RegCallback(uint32_t h_pb, void *pv_tag, IQIV_PB_CTRL_NFY_FCT pf_nfy)
{
    {
        MutexGuard info_lock(t_info_mutex);
        const int slot = callback_slot(h_pb);
        if (slot >= 0) {
            ClientInfo &c = t_client_info[slot];
            // A closed slot has no mutex, and no notice can reach it.
            const MutexGuard lock = c.b_used ? MutexGuard(slot_mutex(c)) : MutexGuard();
            c.pv_cb_tag = pv_tag;
            c.pf_cb = pf_nfy;
        }
    }
    return call_member(member(Id::RegCallback), h_pb, pv_tag, pf_nfy);
}

} // extern "C"
