#include "client_info.h"

namespace pbctrl {

std::atomic<int32_t> i4_log_level{kLogInitial};
std::atomic<uint8_t> b_log_free{1};
std::atomic<uint8_t> b_client_opened{0};

ClientInfo t_client_info[kSlots];
pthread_mutex_t t_info_mutex = PTHREAD_MUTEX_INITIALIZER;
uint8_t ui1_open_count = 0;
std::atomic<int32_t> t_client_rpc_id{0};

int find_by_handle(IQIV_PB_HANDLE_T h_handle)
{
    for (int i = 0; i < kSlots; ++i)
        if (t_client_info[i].b_used && t_client_info[i].h_handle == h_handle)
            return i;
    return -1;
}

int find_by_handle_locked(IQIV_PB_HANDLE_T h_handle)
{
    MutexGuard lock(t_info_mutex);
    return find_by_handle(h_handle);
}

namespace {

int find_model_slot(IQIV_PB_HANDLE_T h_handle, uint32_t e_buf_mod, bool b_need_used)
{
    for (int i = 0; i < kSlots; ++i)
        if ((t_client_info[i].b_used || !b_need_used) && t_client_info[i].h_handle == h_handle &&
            t_client_info[i].e_buf_mod == e_buf_mod)
            return i;
    return -1;
}

} // namespace

int find_by_handle_and_model(IQIV_PB_HANDLE_T h_handle, uint32_t e_buf_mod)
{
    return find_model_slot(h_handle, e_buf_mod, true);
}

int find_registration_slot(IQIV_PB_HANDLE_T h_handle, uint32_t e_buf_mod)
{
    return find_model_slot(h_handle, e_buf_mod, false);
}

int find_by_tag(const void *pv_tag, uint32_t e_required_mod)
{
    // Only the address of a slot's index byte is read: the tag comes back
    // from another process and is never dereferenced otherwise.
    for (int i = 0; i < kSlots; ++i) {
        if (pv_tag != &t_client_info[i].ui1_client_idx)
            continue;
        const uint8_t idx = t_client_info[i].ui1_client_idx;
        if (idx >= kSlots || !t_client_info[idx].b_used)
            return -1;
        if (e_required_mod && t_client_info[idx].e_buf_mod != e_required_mod)
            return -1;
        return idx;
    }
    return -1;
}

} // namespace pbctrl
