// TS section filters: the playback's entries in its slot's filter table,
// kept under the slot's mutex across the remote calls.
#include "client_info.h"
#include "ext_members.h"
#include "korm.h"
#include "playback_call.h"

#include <cstdio>
#include <cstring>

using namespace pbctrl;

namespace {

struct Found {
    FilterEntry *entry = nullptr;
    MutexGuard lock; // holds the slot's mutex while entry is set
};

// The in-use entry of a playback that also matches, with its slot's mutex held.
template <typename Match> Found lock_entry(IQIV_PB_HANDLE_T h_pb, Match match)
{
    for (int s = 0; s < kSlots; ++s) {
        MutexGuard lock = lock_slot(s);
        if (!lock)
            continue;
        for (FilterEntry &f : t_client_info[s].at_filter)
            if (f.b_used && f.h_pb == h_pb && match(f))
                return Found{&f, std::move(lock)};
    }
    return Found{};
}

// A free entry of the playback's own table, marked, its mutex held.
Found take_entry(IQIV_PB_HANDLE_T h_handle, void *pf_nfy)
{
    const int slot = find_by_handle_locked(h_handle);
    MutexGuard lock = lock_slot(slot);
    if (!lock)
        return Found{};
    ClientInfo &c = t_client_info[slot];
    if (c.h_handle == h_handle) {
        for (FilterEntry &f : c.at_filter) {
            if (!f.b_used) {
                f = FilterEntry{1, h_handle, pf_nfy, nullptr, 0, 0};
                return Found{&f, std::move(lock)};
            }
        }
    }
    return Found{};
}

void unmap_buffer(FilterEntry &f)
{
    if (f.pv_buf)
        x_kmem_block_unmap(f.pv_buf);
    f.pv_buf = nullptr;
    f.h_mem = 0;
}

} // namespace

namespace pbctrl {

MutexGuard lock_slot(int slot)
{
    if (slot < 0 || slot >= kSlots)
        return MutexGuard();
    ClientInfo &c = t_client_info[slot];
    bool used;
    {
        MutexGuard info_lock(t_info_mutex);
        used = c.b_used == 1;
    }
    if (!used)
        return MutexGuard();
    MutexGuard lock(slot_mutex(c));
    // Closed meanwhile: nothing of it is left to use.
    return c.b_used == 1 ? std::move(lock) : MutexGuard();
}

void release_filter_buffers(int slot)
{
    for (FilterEntry &f : t_client_info[slot].at_filter)
        if (f.b_used)
            unmap_buffer(f);
}

} // namespace pbctrl

extern "C" {

int32_t IQivPb_Ctrl_TS_Filter_Alloc(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_TS_FILTER_PARAM_T *pt_param,
                                    IQIV_PB_CTRL_TS_FILTER_NFY_FCT pf_nfy, void *pv_tag, uint32_t *ph_filter)
{
    auto *fn = reinterpret_cast<void *>(pf_nfy);
    Found found = take_entry(h_handle, fn);
    if (!found.entry) {
        printf("<CLIENT>there isn't space for IQivPb_Ctrl_TS_Filter_Alloc @Line: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    if (!fn) {
        printf("<Client>IQivPb_Ctrl_TS_Filter_Nfy_Fct Callback Function is NULL@Line: %d\n", __LINE__);
        return IQIVPB_INV_ARG;
    }
    uint32_t h_filter = 0;
    const int32_t ret = call_member(ext_member(ExtId::TS_Filter_Alloc), h_handle, pt_param, fn, pv_tag, &h_filter);
    // A filter the engine did not make holds no entry.
    if (ret != 0)
        std::memset(found.entry, 0, sizeof *found.entry);
    else
        found.entry->h_filter = h_filter;
    found.lock.unlock();
    if (ret == 0 && ph_filter)
        *ph_filter = h_filter;
    return ret;
}

int32_t IQivPb_Ctrl_TS_Filter_Free(IQIV_PB_HANDLE_T h_handle, uint32_t h_filter)
{
    const Found found = lock_entry(h_handle, [h_filter](const FilterEntry &f) { return f.h_filter == h_filter; });
    if (!found.entry) {
        printf("<CLIENT>can't find Filter %d in IQivPb_Ctrl_TS_Filter_Free @Line: %d\n", h_filter, __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    const int32_t ret = call_member(ext_member(ExtId::TS_Filter_Free), h_handle, h_filter);
    // The buffer cannot be given back once its filter is gone.
    unmap_buffer(*found.entry);
    std::memset(found.entry, 0, sizeof *found.entry);
    return ret;
}

int32_t IQivPb_Ctrl_TS_Filter_FreeBuffer(IQIV_PB_HANDLE_T h_handle, void *pv_buf)
{
    const Found found = pv_buf ? lock_entry(h_handle, [pv_buf](const FilterEntry &f) { return f.pv_buf == pv_buf; })
                               : Found{};
    if (!found.entry) {
        printf("<CLIENT>can't find buffer in IQivPb_Ctrl_TS_Filter_FreeBuffer @Line: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    const uint32_t h_mem = found.entry->h_mem;
    // Forgotten at once: a second free of the address must not unmap it again.
    unmap_buffer(*found.entry);
    return call_member(ext_member(ExtId::TS_Filter_FreeBuffer), h_handle, h_mem);
}

} // extern "C"
