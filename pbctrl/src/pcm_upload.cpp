// The PCM upload registration: the engine calls the function back with
// each block through "x_qivpbctrl_pcm_upload_nfy_fct".
#include "client_info.h"
#include "playback_call.h"
#include "playback_members.h"

#include <cstdio>

using namespace pbctrl;

namespace {

// These two print their entry line whatever the log level.
void print_entry(const Member &m) { printf("<Client> %s ---> is called @Line: %d!\n", m.name, m.line); }

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_Start_PcmUpload_cb(uint32_t h_pb, void *pv_tag, IQIV_PB_CTRL_PCM_UPLOAD_FCT pf_nfy)
{
    const Member &m = member(Id::Start_PcmUpload_cb);
    print_entry(m);
    {
        MutexGuard lock(t_info_mutex);
        const int slot = find_registration_slot(h_pb, IQIV_PB_BUF_MOD_PUSH);
        if (slot >= 0) {
            t_client_info[slot].pv_pcm_tag = pv_tag;
            t_client_info[slot].pf_pcm_cb = reinterpret_cast<void *>(pf_nfy);
        }
    }
    return call_member(m, h_pb, pv_tag, pf_nfy);
}

int32_t IQivPb_Ctrl_Stop_PcmUpload_cb(uint32_t h_pb)
{
    const Member &m = member(Id::Stop_PcmUpload_cb);
    print_entry(m);
    return call_member(m, h_pb);
}

} // extern "C"
