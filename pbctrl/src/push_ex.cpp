// The second push path: the engine makes the memory of each buffer (its
// slots and a list block of their handles); the buffer is mapped until it
// is sent.
#include "push.h"

#include "korm.h"
#include "platform_sizes.h"
#include "remote_call.h"

#include <cstdio>

using namespace pbctrl;

namespace {

constexpr uint32_t kGetExArgs = 5;
constexpr uint32_t kSendExArgs = 5;

int any_slot(IQIV_PB_HANDLE_T h_handle)
{
    MutexGuard lock(t_info_mutex);
    return find_by_handle(h_handle);
}

// Maps the slots the engine listed in its handle-list block; null (and
// nothing left mapped) when the list or a slot does not map, or the slots
// hold less than was asked for.
void *map_ex_buffer(uint32_t ui4_count, HANDLE_T h_list, uint32_t ui4_size)
{
    if (ui4_count == 0 || ui4_count > kSlices || !block_holds(h_list, ui4_count * sizeof(HANDLE_T)))
        return nullptr;
    auto *list = static_cast<const HANDLE_T *>(x_skmem_block_map(h_list));
    if (!list)
        return nullptr;
    void *addr = blocks_bytes(ui4_count, list) >= ui4_size ? x_kmem_block_multimap(ui4_count, list) : nullptr;
    x_skmem_block_unmap(const_cast<HANDLE_T *>(list));
    return addr;
}

ExSlot *find_ex(ClientInfo &c, const void *pv_addr)
{
    for (ExSlot &e : c.at_ex_slot)
        if (e.pv_addr == pv_addr)
            return &e;
    return nullptr;
}

// Keeps a buffer the engine handed out; -1 (and the buffer unmapped) when
// it cannot be kept.
int32_t keep_ex_buffer(const char *ps_name, int slot, uint32_t ui4_count, HANDLE_T h_list, uint32_t ui4_size,
                       void **ppv_buf)
{
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(slot_mutex(c));
    void *addr = map_ex_buffer(ui4_count, h_list, ui4_size);
    if (!addr) {
        log_push_failure(ps_name, "Ex slots do not map", __LINE__);
        return IQIVPB_FAIL;
    }
    ExSlot *e = find_ex(c, nullptr);
    if (!e) {
        x_kmem_block_unmap(addr);
        log_push_failure(ps_name, "no free Ex buffer entry", __LINE__);
        return IQIVPB_FAIL;
    }
    *e = ExSlot{ui4_count, h_list, addr};
    *ppv_buf = addr;
    CLIENT_LOG(kLogData, "<Client> %s: Slot Num: %d, SlotMemHandle: %d, pu1Buffer: 0x%x @Line: %d!\n", ps_name,
               ui4_count, h_list, low32(addr), __LINE__);
    return 0;
}

int32_t get_buffer_ex(IQIV_PB_HANDLE_T h_handle, uint32_t e_type, uint32_t ui4_size, void **ppv_buf)
{
    static const char *const kName = "IQivPb_Ctrl_GetBufferEx";
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kName, __LINE__);
    if (!ppv_buf)
        return IQIVPB_INV_ARG;
    uint32_t count = 0;
    uint32_t h_list = 0;
    RPC_ARG_T args[kGetExArgs];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_handle);
    rpc_arg_set(args[1], ARG_TYPE_ENUM, e_type);
    rpc_arg_set(args[2], ARG_TYPE_UINT32, ui4_size);
    rpc_arg_set_ptr(args[3], ARG_TYPE_REF_UINT32_OUT, &count);
    rpc_arg_set_ptr(args[4], ARG_TYPE_REF_UINT32_OUT, &h_list);
    RPC_ARG_T result{};
    const int32_t value = do_call(kName, __LINE__, "x_QivPb_Ctrl_GetBufferEx", kGetExArgs, args, result);
    CLIENT_LOG(kLogData, "<Client> %s:, __rpc_ret: %d, @Line: %d!\n", kName, value, __LINE__);
    const int32_t ret = finish_call(kName, __LINE__, value, result);
    if (ret == IQIVPB_PENDING) {
        CLIENT_LOG(kLogData, "<Client> %s: pending error @Line: %d!\n", kName, __LINE__);
        return ret;
    }
    if (ret != 0)
        return ret;
    CLIENT_LOG(kLogData, "<Client> Slot Num: %d, SlotMemHandle: %d @Line: %d!\n", count, h_list, __LINE__);
    const int slot = any_slot(h_handle);
    if (slot < 0) {
        log_push_failure(kName, "Cannot find server info", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    return keep_ex_buffer(kName, slot, count, h_list, ui4_size, ppv_buf);
}

int32_t send_data_ex(IQIV_PB_HANDLE_T h_handle, uint32_t e_type, uint32_t ui4_size, void *pv_buf)
{
    static const char *const kName = "IQivPb_Ctrl_SendDataEx";
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", kName, __LINE__);
    CLIENT_LOG(kLogData,
               "<Client>IQivPb_Ctrl_SendData is called, hHandle is: %d, u4BufSize is: %d, buf pointer is: 0x%x\n",
               h_handle, ui4_size, low32(pv_buf));
    const int slot = any_slot(h_handle);
    if (slot < 0) {
        log_push_failure(kName, "Cannot find server info", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(slot_mutex(c));
    ExSlot *e = pv_buf ? find_ex(c, pv_buf) : nullptr;
    if (!e) {
        log_push_failure(kName, "Cannot find buff info", __LINE__);
        return IQIVPB_FAIL;
    }
    CLIENT_LOG(kLogData, "<Client> %s: Slot Num: %d, SlotMemHandle: %d, pu1Buffer: 0x%x @Line: %d!\n", kName,
               e->ui4_count, e->h_mem, low32(e->pv_addr), __LINE__);
    RPC_ARG_T args[kSendExArgs];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_handle);
    rpc_arg_set(args[1], ARG_TYPE_ENUM, e_type);
    rpc_arg_set(args[2], ARG_TYPE_UINT32, ui4_size);
    rpc_arg_set(args[3], ARG_TYPE_UINT32, e->ui4_count);
    rpc_arg_set(args[4], ARG_TYPE_UINT32, e->h_mem);
    RPC_ARG_T result{};
    const int32_t value = do_call(kName, __LINE__, "x_QivPb_Ctrl_SendDataEx", kSendExArgs, args, result);
    if (value == 0) {
        x_kmem_block_unmap(e->pv_addr);
        *e = ExSlot{};
    }
    return finish_call(kName, __LINE__, value, result);
}

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_GetBufferEx(uint32_t h_pb, uint32_t e_buf_type, uint32_t ui4_size, void **ppv_buf)
{
    return get_buffer_ex(h_pb, e_buf_type, ui4_size, ppv_buf);
}

int32_t IQivPb_Ctrl_SendDataEx(uint32_t h_pb, uint32_t e_buf_type, uint32_t ui4_size, void *pv_buf)
{
    return send_data_ex(h_pb, e_buf_type, ui4_size, pv_buf);
}

} // extern "C"
