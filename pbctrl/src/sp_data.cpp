// Subpicture data: the engine's notices fill a ring of 300 entries that
// the application empties, in ring order, with IQivPb_Ctrl_SpDataRelease.
#include "handler_common.h"
#include "korm.h"
#include "platform_sizes.h"
#include "remote_call.h"
#include "slot_gate.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

using namespace pbctrl;

BOARD_ILP32_ASSERT(sizeof(IQIV_PB_CTRL_SP_DATA_T) == 64, "subpicture record");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_SP_DATA_T, au4_value) == 8, "values from 8");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_SP_DATA_T, pv_data) == 52, "data address at 52");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_SP_DATA_T, ui4_value) == 56, "value at 56");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_SP_DATA_T, ui2_value) == 60, "16-bit value at 60");

namespace {

constexpr uint32_t kSpArgs = 4;
constexpr uint32_t kEngineRecordSize = 68;
constexpr size_t kEngineValuesAt = 8, kEngineValue52 = 52, kEngineValue56 = 56, kEngineMemAt = 60, kEngineOffsetAt = 64;

// The ring and its indices are shared by the notice (transport thread) and
// the release (application thread); notices are also kept one at a time,
// and the application is called without the ring's lock.
pthread_mutex_t g_ring_mutex[kSlots] = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
                                        PTHREAD_MUTEX_INITIALIZER};
pthread_mutex_t g_notice_mutex[kSlots] = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_MUTEX_INITIALIZER,
                                          PTHREAD_MUTEX_INITIALIZER};

uint32_t next_index(uint32_t i) { return i + 1 == kSpData ? 0 : i + 1; }

template <typename T> T load(const uint8_t *p, size_t at)
{
    T v;
    std::memcpy(&v, p + at, sizeof v);
    return v;
}

IQIV_PB_CTRL_SP_DATA_T local_record(const uint8_t *engine, void *pv_data)
{
    IQIV_PB_CTRL_SP_DATA_T r;
    std::memset(&r, 0, sizeof r);
    r.ui1_kind = engine[0];
    std::memcpy(r.au4_value, engine + kEngineValuesAt, sizeof r.au4_value);
    r.pv_data = pv_data;
    r.ui4_value = load<uint32_t>(engine, kEngineValue52);
    r.ui2_value = load<uint16_t>(engine, kEngineValue56);
    return r;
}

// The in-use entry with that data, searched from the release index up to
// the write index, wrapping; -1 if none.
int find_release(const ClientInfo &c, const void *pv_data)
{
    uint32_t i = c.ui4SpDatRelPnt;
    for (uint32_t n = 0; n < kSpData; ++n, i = next_index(i)) {
        if (n > 0 && i == c.ui4SpDatCbPnt)
            break;
        if (c.at_sp_data[i].b_used && c.at_sp_data[i].pv_data == pv_data)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

namespace pbctrl {

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_sp_nfy_fct)
{
    if (ui4_num_args != kSpArgs)
        return RPCR_INV_ARGS;
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    const uint32_t h_pb = pt_args[0].u.ui4;
    printf("<Client>_hndlr_x_qivpbctrl_sp_nfy_fct use hHandle: %d\n", static_cast<int>(h_pb));
    const int slot = find_by_handle(h_pb);
    SlotHold hold;
    if (slot < 0 || !hold.take(slot)) {
        printf("<Client> ERROR: wrong pb handle, %s, %d\n", __func__, __LINE__);
        return fail(pt_return);
    }
    const auto *engine = static_cast<const uint8_t *>(engine_record(pt_args[3], kEngineRecordSize));
    const auto fn = reinterpret_cast<IQIV_PB_CTRL_SP_NFY_FCT>(pv_func);
    if (!fn || !engine)
        return fail(pt_return);
    ClientInfo &c = t_client_info[slot];
    MutexGuard one_notice(g_notice_mutex[slot]);
    uint32_t at;
    {
        MutexGuard ring(g_ring_mutex[slot]);
        at = c.ui4SpDatCbPnt;
        if (at == c.ui4SpDatRelPnt && c.at_sp_data[at].b_used) {
            printf("<Client> ERROR: no more sp handle, %s, %d\n", __func__, __LINE__);
            return fail(pt_return);
        }
    }
    const uint32_t h_mem = load<uint32_t>(engine, kEngineMemAt);
    const uint32_t offset = load<uint32_t>(engine, kEngineOffsetAt);
    auto *mapped = static_cast<uint8_t *>(x_kmem_block_map(h_mem));
    if (!mapped) {
        printf("<Client> x_kmem_block_map failed , %s, %d\n", __func__, __LINE__);
        return fail(pt_return);
    }
    if (!block_holds(h_mem, uint64_t{offset} + 1)) {
        x_kmem_block_unmap(mapped);
        return fail(pt_return);
    }
    IQIV_PB_CTRL_SP_DATA_T local = local_record(engine, mapped + offset);
    const int32_t app = fn(h_pb, pt_args[1].u.ui1, pt_args[2].u.ui4, &local);
    x_kmem_block_unmap(mapped);
    if (app_outcome(pt_return, app) != 0) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, errno: %d, @Line: %d \n", __func__, pt_return->u.i1, __LINE__);
        return kHandlerFail;
    }
    // The entry is taken only once the application accepted the data.
    MutexGuard ring(g_ring_mutex[slot]);
    c.at_sp_data[at] = SpDataEntry{1, h_mem, offset, local.pv_data};
    c.ui4SpDatCbPnt = next_index(at);
    return 0;
}

} // namespace pbctrl

extern "C" {

int32_t IQivPb_Ctrl_RegSpCallback(uint32_t h_pb, void *pv_tag, IQIV_PB_CTRL_SP_NFY_FCT pf_nfy)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    RPC_ARG_T args[3];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_pb);
    rpc_arg_set_ptr(args[1], ARG_TYPE_TAG, pv_tag);
    rpc_arg_set_ptr(args[2], ARG_TYPE_FUNC, reinterpret_cast<void *>(pf_nfy));
    return remote_call(__func__, __LINE__, "x_QivPb_Ctrl_RegSpCallback", 3, args);
}

int32_t IQivPb_Ctrl_SpDataRelease(uint32_t h_pb, uint32_t ui4_value, void *pv_data)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    const int slot = find_by_handle(h_pb);
    if (slot < 0) {
        printf("<Client> ERROR: wrong handle=%d, %s, %d\n", static_cast<int>(h_pb), __func__, __LINE__);
        return IQIVPB_FAIL;
    }
    ClientInfo &c = t_client_info[slot];
    IQIV_PB_CTRL_SP_RELEASE_T rel{};
    {
        MutexGuard ring(g_ring_mutex[slot]);
        printf("<Client> ui4SpDatCbPnt=%d, ui4SpDatRelPnt=%d, %s, %d\n", static_cast<int>(c.ui4SpDatCbPnt),
               static_cast<int>(c.ui4SpDatRelPnt), __func__, __LINE__);
        const int found = find_release(c, pv_data);
        if (found < 0) {
            printf("<Client> ERROR: release wrong address, %s, %d\n", __func__, __LINE__);
            return IQIVPB_FAIL;
        }
        for (uint32_t i = c.ui4SpDatRelPnt;; i = next_index(i)) {
            c.at_sp_data[i].b_used = 0;
            if (i == static_cast<uint32_t>(found))
                break;
        }
        c.ui4SpDatRelPnt = next_index(static_cast<uint32_t>(found));
        rel = IQIV_PB_CTRL_SP_RELEASE_T{c.at_sp_data[found].h_mem, c.at_sp_data[found].ui4_offset};
    }
    printf("<client> SpDataRelease: handle=%d, offset=%d\n", static_cast<int>(rel.hMemHandle),
           static_cast<int>(rel.u4Offset));
    if (rpc_add_ref_desc(0, &rel, __rpc_get_desc__(RPC_DESC_SP_RELEASE), nullptr) != 0)
        return reg_failure(__func__, __LINE__);
    RPC_ARG_T args[3];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_pb);
    rpc_arg_set(args[1], ARG_TYPE_UINT32, ui4_value);
    rpc_arg_set_ptr(args[2], ARG_TYPE_DESC_IN, &rel);
    return remote_call(__func__, __LINE__, "x_QivPb_Ctrl_SpDataRelease", 3, args);
}

} // extern "C"
