// Push mode inside the library: what stop, media information, close and
// the handler table need of it.
#ifndef PBCTRL_PUSH_H
#define PBCTRL_PUSH_H

#include "client_info.h"
#include "handler_common.h"

namespace pbctrl {

inline void log_push_failure(const char *ps_name, const char *ps_reason, int i4_line)
{
    CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", ps_name, ps_reason, i4_line);
}

// The low 32 bits of an address, for the lines that print it with 0x%x.
inline unsigned low32(const void *p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

// The entry of a buffer handed out at that address; free entries (all
// zero) never match, whatever address or request id is asked for.
inline int find_buf(const ClientInfo &c, const void *pv_addr)
{
    if (!pv_addr)
        return -1;
    for (int i = 0; i < kSlices; ++i)
        if (c.at_buf_info[i].pv_addr == pv_addr)
            return i;
    return -1;
}

// Only buffers sent and not yet consumed have a request id of the engine's:
// one handed out and still being filled holds whatever id it had before.
inline int find_request(const ClientInfo &c, uint32_t ui4_req_id)
{
    for (int i = 0; i < kSlices; ++i)
        if (c.at_buf_info[i].pv_addr && c.ab_slice_sent[c.at_buf_info[i].ui4_first] &&
            c.at_buf_info[i].ui4_req_id == ui4_req_id)
            return i;
    return -1;
}

// Frees the entry's slices and the entry.
inline void free_buf(ClientInfo &c, int i)
{
    const BufInfo &b = c.at_buf_info[i];
    for (uint32_t k = b.ui4_first; k < b.ui4_first + b.ui4_count && k < kSlices; ++k) {
        c.ab_slice_used[k] = 0;
        c.ab_slice_sent[k] = 0;
    }
    c.at_buf_info[i] = BufInfo{};
}

// Unmaps the push slices of the handle's push playback; the next buffer
// fetches and maps them again.
void push_media_reset(IQIV_PB_HANDLE_T h_handle);

// Gives back every mapping of push and Ex buffers of a slot being closed.
// Called with t_info_mutex held.
void release_push_maps(ClientInfo &c);

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_Ipc_SendData_nfy_fct);

} // namespace pbctrl

#endif
