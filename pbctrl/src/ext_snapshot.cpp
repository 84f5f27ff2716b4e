// Video snapshots: the engine's Y and C planes mapped for the application,
// and the records that pair each mapping with the engine's handles. The
// first form keeps a list per slot, the second form one record.
#include "client_info.h"
#include "ext_members.h"
#include "korm.h"
#include "platform_sizes.h"
#include "playback_call.h"

#include "common/abi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pbctrl {

struct SnapMem {
    uint32_t h_y;
    void *pv_y;
    uint32_t y_size;
    uint32_t h_c;
    void *pv_c;
    uint32_t c_size;
    SnapMem *next;
};
BOARD_ILP32_ASSERT(sizeof(SnapMem) == 28, "snapshot memory record");

} // namespace pbctrl

using namespace pbctrl;

namespace {

const char *const kWrapperSource = "src_ind/so/iqivpbctrl_client/QivPbCtrl_wrapper";

template <typename T> void *as_addr(T v) { return reinterpret_cast<void *>(static_cast<uintptr_t>(v)); }

template <typename T> int as_int(T *p) { return static_cast<int>(reinterpret_cast<uintptr_t>(p)); }

int32_t invalid_arg(int i4_line)
{
    CLIENT_LOG(kLogErr, "<Client>invalid arg@Line: %d\n", i4_line);
    return IQIVPB_INV_ARG;
}

// Maps a plane the engine made, if its block holds the size it claims.
void *map_plane(uintptr_t h, uint32_t size)
{
    const auto handle = static_cast<HANDLE_T>(h);
    if (!handle || !block_holds(handle, size))
        return nullptr;
    return x_kmem_block_map(handle);
}

void unmap_plane(void *p)
{
    if (p)
        x_kmem_block_unmap(p);
}

// Maps both planes of an engine description into a local one; false (with
// nothing left mapped) when either cannot be mapped.
template <typename Desc> bool map_planes(const Desc &engine, Desc &local)
{
    void *y = map_plane(engine.uY, engine.u4YSize);
    void *c = y ? map_plane(engine.uC, engine.u4CSize) : nullptr;
    if (!c) {
        unmap_plane(y);
        return false;
    }
    local.uY = reinterpret_cast<uintptr_t>(y);
    local.uC = reinterpret_cast<uintptr_t>(c);
    local.u4YSize = engine.u4YSize;
    local.u4CSize = engine.u4CSize;
    return true;
}

template <typename Desc> void unmap_planes(Desc &local)
{
    unmap_plane(as_addr(local.uY));
    unmap_plane(as_addr(local.uC));
    local.uY = 0;
    local.uC = 0;
}

template <typename Desc> SnapMem *new_record(const Desc &local, const Desc &engine)
{
    auto *r = static_cast<SnapMem *>(std::malloc(sizeof(SnapMem)));
    if (r)
        *r = SnapMem{static_cast<uint32_t>(engine.uY),
                     as_addr(local.uY),
                     engine.u4YSize,
                     static_cast<uint32_t>(engine.uC),
                     as_addr(local.uC),
                     engine.u4CSize,
                     nullptr};
    return r;
}

// Whether the slot's second-form record holds the planes of d.
bool ext_record_holds(uint32_t uid, const IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T &d)
{
    const MutexGuard lock = lock_slot(static_cast<int>(uid));
    const SnapMem *r = lock ? t_client_info[uid].p_snap_ext : nullptr;
    return r && r->pv_y == as_addr(d.uY) && r->pv_c == as_addr(d.uC);
}

} // namespace

namespace pbctrl {

void release_ext_state(int slot)
{
    ClientInfo &c = t_client_info[slot];
    release_filter_buffers(slot);
    for (SnapMem *r = c.p_snap_list; r;) {
        SnapMem *next = r->next;
        unmap_plane(r->pv_y);
        unmap_plane(r->pv_c);
        std::free(r);
        r = next;
    }
    c.p_snap_list = nullptr;
    if (SnapMem *r = c.p_snap_ext) {
        unmap_plane(r->pv_y);
        unmap_plane(r->pv_c);
        std::free(r);
    }
    c.p_snap_ext = nullptr;
}

} // namespace pbctrl

extern "C" {

int32_t IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem(uint32_t ui4_uid, uint8_t, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_local,
                                             IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_engine)
{
    const MutexGuard lock = pt_local && pt_engine ? lock_slot(static_cast<int>(ui4_uid)) : MutexGuard();
    if (!lock)
        return invalid_arg(__LINE__);
    SnapMem *r = new_record(*pt_local, *pt_engine);
    if (!r) {
        CLIENT_LOG(kLogErr, "<Client>memory is not enought@Line: %d\n", __LINE__);
        return IQIVPB_NOT_ENOUGH;
    }
    SnapMem **tail = &t_client_info[ui4_uid].p_snap_list;
    while (*tail)
        tail = &(*tail)->next;
    *tail = r;
    return 0;
}

int32_t IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_local,
                                                 IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_out)
{
    const MutexGuard lock = pt_local && pt_out ? lock_slot(static_cast<int>(ui4_uid)) : MutexGuard();
    if (!lock)
        return invalid_arg(__LINE__);
    const SnapMem *r = t_client_info[ui4_uid].p_snap_list;
    while (r && r->pv_y != as_addr(pt_local->uY))
        r = r->next;
    if (r) {
        pt_out->uY = r->h_y;
        pt_out->uC = r->h_c;
    }
    return r ? 0 : invalid_arg(__LINE__);
}

int32_t IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_local)
{
    const MutexGuard lock = pt_local ? lock_slot(static_cast<int>(ui4_uid)) : MutexGuard();
    if (!lock)
        return invalid_arg(__LINE__);
    SnapMem **link = &t_client_info[ui4_uid].p_snap_list;
    if (!*link)
        return invalid_arg(__LINE__);
    while (*link && (*link)->pv_y != as_addr(pt_local->uY))
        link = &(*link)->next;
    if (SnapMem *r = *link) {
        *link = r->next;
        std::free(r);
    }
    return 0;
}

int32_t IQivPb_Ctrl_Ext_StartSnapshot(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                      IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_desc)
{
    const char *const name = __func__;
    if (!pt_desc)
        return invalid_arg(__LINE__);
    const int slot = find_by_handle_locked(h_handle);
    if (slot < 0) {
        CLIENT_LOG(kLogErr, "Cannot find server info\n");
        return IQIVPB_NO_CLIENT;
    }
    IQIV_PB_CTRL_SNAPSHOT_DESC_T engine{};
    if (IQivPb_Ctrl_Ext_Ipc_StartSnapshot(h_handle, u1Mode, pt_rect, pt_param, &engine) != 0 ||
        !map_planes(engine, *pt_desc)) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, @Line: %d \n", name, __LINE__);
        return IQIVPB_FAIL;
    }
    std::memcpy(pt_desc->au4Value, engine.au4Value, sizeof pt_desc->au4Value);
    const int32_t ret = IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem(static_cast<uint32_t>(slot), u1Mode, pt_desc, &engine);
    // Planes nobody records would stay mapped for good.
    if (ret != 0)
        unmap_planes(*pt_desc);
    return ret;
}

int32_t IQivPb_Ctrl_Ext_StopSnapshot(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_desc)
{
    if (!pt_desc) {
        CLIENT_LOG(kLogErr, "Invalid handle\n");
        return IQIVPB_NO_CLIENT;
    }
    const int slot = find_by_handle_locked(h_handle);
    if (slot < 0) {
        CLIENT_LOG(kLogErr, "Cannot find server info\n");
        return IQIVPB_NO_CLIENT;
    }
    IQIV_PB_CTRL_SNAPSHOT_DESC_T engine{};
    const auto uid = static_cast<uint32_t>(slot);
    if (IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd(uid, pt_desc, &engine) != 0) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, @Line: %d \n", __func__, __LINE__);
        return IQIVPB_FAIL;
    }
    IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem(uid, pt_desc);
    // Forgotten planes would stay mapped for good.
    unmap_planes(*pt_desc);
    return 0;
}

int32_t IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                              IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param,
                                              IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc)
{
    printf("<Client>IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext is called");
    return call_member(ext_member(ExtId::Ext_Ipc_StartSnapshot_Ext), h_handle, u1Mode, pt_rect, pt_param, pt_desc);
}

int32_t IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc)
{
    printf("<Client>IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext is called");
    return call_member(ext_member(ExtId::Ext_Ipc_StopSnapshot_Ext), h_handle, pt_desc);
}

int32_t IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem_Ext(uint32_t ui4_uid, uint8_t, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_local,
                                                 IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_engine)
{
    printf("<Client>IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem_Ext is called, Uid %d\n", ui4_uid);
    const MutexGuard lock = pt_local && pt_engine ? lock_slot(static_cast<int>(ui4_uid)) : MutexGuard();
    if (!lock) {
        printf("<Client>invalid arg@Line: %d\n", __LINE__);
        return IQIVPB_INV_ARG;
    }
    SnapMem *&head = t_client_info[ui4_uid].p_snap_ext;
    int32_t ret = 0;
    if (!head) {
        printf("<Client> New malloc memory for storing mem handler in %s @Line %d\n", kWrapperSource, __LINE__);
        head = new_record(*pt_local, *pt_engine);
        if (!head) {
            printf("<Client>memory is not enought@Line: %d\n", __LINE__);
            ret = IQIVPB_NOT_ENOUGH;
        }
    } else {
        printf("<Client> Has malloc memory for storing mem handler in %s @Line %d\n", kWrapperSource, __LINE__);
        const bool same_y = head->h_y == pt_engine->uY;
        const bool same_c = head->h_c == pt_engine->uC;
        if (same_y && same_c) {
            printf("<Client> Start Unmap Y point %d, C point %d,@Line: %d\n", as_int(head->pv_y), as_int(head->pv_c),
                   __LINE__);
            unmap_plane(head->pv_y);
            unmap_plane(head->pv_c);
            IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T mapped{};
            if (map_planes(*pt_engine, mapped)) {
                head->pv_y = as_addr(mapped.uY);
                head->pv_c = as_addr(mapped.uC);
                pt_local->uY = mapped.uY;
                pt_local->uC = mapped.uC;
                printf("<Client> ReStoring pointers @Line %d\n", __LINE__);
            } else {
                // Its planes are gone: the record must not name them any more.
                std::free(head);
                head = nullptr;
                ret = IQIVPB_FAIL;
            }
        } else if (!same_y && !same_c) {
            printf("<Client> Memory Handle Different in %s @Line %d\n", kWrapperSource, __LINE__);
            ret = IQIVPB_NO_CLIENT;
        }
    }
    return ret;
}

int32_t IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_local,
                                                     IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_out)
{
    printf("<Client>IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext is called");
    const MutexGuard lock = pt_local && pt_out ? lock_slot(static_cast<int>(ui4_uid)) : MutexGuard();
    const SnapMem *r = lock ? t_client_info[ui4_uid].p_snap_ext : nullptr;
    int32_t ret = IQIVPB_INV_ARG;
    if (r && r->pv_y == as_addr(pt_local->uY)) {
        pt_out->uY = r->h_y;
        pt_out->u4YSize = r->y_size;
        pt_out->uC = r->h_c;
        pt_out->u4CSize = r->c_size;
        ret = 0;
    } else if (r) {
        printf("<Client> Err, Handle different with storing handler \n @Line %d", __LINE__);
    } else {
        printf("<Client>invalid arg@Line: %d\n", __LINE__);
    }
    return ret;
}

int32_t IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem_Ext(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_local)
{
    printf("<Client>IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem_Ext is called, Uid %d\n", ui4_uid);
    const MutexGuard lock = pt_local ? lock_slot(static_cast<int>(ui4_uid)) : MutexGuard();
    SnapMem **head = lock ? &t_client_info[ui4_uid].p_snap_ext : nullptr;
    int32_t ret = IQIVPB_INV_ARG;
    if (head && *head && (*head)->pv_y == as_addr(pt_local->uY)) {
        std::free(*head);
        *head = nullptr;
        ret = 0;
    } else if (head && *head) {
        printf("<Client> Err, Mem handler Different with storing handler in %s\n @Line %d", kWrapperSource, __LINE__);
        ret = IQIVPB_NO_CLIENT;
    } else {
        printf("<Client>invalid arg@Line: %d\n", __LINE__);
    }
    return ret;
}

int32_t IQivPb_Ctrl_Ext_StartSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                          IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param,
                                          IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc)
{
    printf("<Client>IQivPb_Ctrl_Ext_StartSnapshot_Ext is called");
    if (!pt_desc) {
        printf("<Client>invalid arg@Line: %d\n", __LINE__);
        return IQIVPB_INV_ARG;
    }
    const int slot = find_by_handle_locked(h_handle);
    if (slot < 0) {
        printf("<CLIENT>can not find server info@Line: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T engine{};
    if (IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext(h_handle, u1Mode, pt_rect, pt_param, &engine) != 0) {
        printf("<Client>error@Line: %d\n", __LINE__);
        return IQIVPB_FAIL;
    }
    printf("<Client> Start Share Memory Handle: Y 0x%x, C 0x%x @Line: %d\n", static_cast<uint32_t>(engine.uY),
           static_cast<uint32_t>(engine.uC), __LINE__);
    if (!map_planes(engine, *pt_desc)) {
        printf("<Client>error@Line: %d\n", __LINE__);
        return IQIVPB_FAIL;
    }
    std::memcpy(pt_desc->au4Value, engine.au4Value, sizeof pt_desc->au4Value);
    const uintptr_t y = pt_desc->uY, c = pt_desc->uC;
    const int32_t ret = IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem_Ext(static_cast<uint32_t>(slot), u1Mode, pt_desc, &engine);
    if (ret != 0) {
        printf("<Client>error@Line: %d\n", __LINE__);
        unmap_planes(*pt_desc);
        return ret;
    }
    // Planes that share only one handle with the record are recorded
    // nowhere: they could never be stopped or unmapped.
    if (!ext_record_holds(static_cast<uint32_t>(slot), *pt_desc)) {
        printf("<Client>error@Line: %d\n", __LINE__);
        unmap_planes(*pt_desc);
        return IQIVPB_FAIL;
    }
    // A record of the same planes mapped them again: these copies are spare.
    if (pt_desc->uY != y)
        unmap_plane(as_addr(y));
    if (pt_desc->uC != c)
        unmap_plane(as_addr(c));
    printf("<Client> Start Share Memory Y point: %d, C point: %d@Line: %d\n", as_int(as_addr(pt_desc->uY)),
           as_int(as_addr(pt_desc->uC)), __LINE__);
    return 0;
}

int32_t IQivPb_Ctrl_Ext_StopSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc)
{
    printf("<Client>IQivPb_Ctrl_Ext_StopSnapshot_Ext is called");
    if (!pt_desc) {
        printf("<Client>invalid handleLine: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    const int slot = find_by_handle_locked(h_handle);
    if (slot < 0) {
        printf("<CLIENT>can not find server info@Line: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    printf("<Client> Stop Y point %d, C point %d,@Line: %d\n", as_int(as_addr(pt_desc->uY)),
           as_int(as_addr(pt_desc->uC)), __LINE__);
    const auto uid = static_cast<uint32_t>(slot);
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T engine{};
    if (IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(uid, pt_desc, &engine) != 0) {
        printf("<Client>error@Line: %d\n", __LINE__);
        return IQIVPB_FAIL;
    }
    printf("<Client> Stop Share Memory Handle: Y 0x%x, C 0x%x,@Line: %d\n", static_cast<uint32_t>(engine.uY),
           static_cast<uint32_t>(engine.uC), __LINE__);
    // Unmapped only once the engine stopped: a failed stop can be tried again.
    if (IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext(h_handle, &engine) != 0) {
        printf("<Client>error@Line: %d\n", __LINE__);
        return IQIVPB_FAIL;
    }
    IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem_Ext(uid, pt_desc);
    unmap_planes(*pt_desc);
    return 0;
}

} // extern "C"
