// Every remote member of the library, described once, and the one function
// that carries the steps of a call: the argument records, the call with its
// auto-connect, the failure and success lines, the result check.
#ifndef PBMISC_REMOTE_CALL_H
#define PBMISC_REMOTE_CALL_H

#include "rpcipc.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace pbmisc {

constexpr uint32_t kMaxArgs = 5;

struct RemoteMember {
    const char *ps_name; // the public name the lines carry
    const char *ps_op;
    uint32_t ui4_num_args;
    uint32_t aui4_codes[kMaxArgs];
};

enum Member : size_t {
    kClientInit,
    kClientTerminate,
    kGetAudioVolume,
    kSetAudioVolume,
    kGetAudioLangPref,
    kGetTextPref,
};

inline constexpr RemoteMember kMembers[] = {
    {"QivPb_Misc_Client_Init", "x_QivPb_Misc_Init", 1, {ARG_TYPE_INT8}},
    {"QivPb_Misc_Client_Terminate", "x_QivPb_Misc_Terminate", 1, {ARG_TYPE_INT8}},
    {"IQivPb_Misc_GetAudioVolume", "x_QivPb_Misc_GetAudioVolume", 2, {ARG_TYPE_UINT32, ARG_TYPE_REF_UINT8_OUT}},
    {"IQivPb_Misc_SetAudioVolume", "x_QivPb_Misc_SetAudioVolume", 2, {ARG_TYPE_UINT32, ARG_TYPE_UINT8}},
    // index, language type, code 0, code 1, code 2
    {"IQivPb_Misc_GetUserPref",
     "x_QivPb_Misc_GetUserPref",
     5,
     {ARG_TYPE_UINT32, ARG_TYPE_REF_UINT32_OUT, ARG_TYPE_REF_UINT8_OUT, ARG_TYPE_REF_UINT8_OUT,
      ARG_TYPE_REF_UINT8_OUT}},
    // index, record, text block handle, the record's value at 256, 0
    {"IQivPb_Misc_GetUserPref",
     "x_QivPb_Misc_GetUserPref",
     5,
     {ARG_TYPE_UINT32, ARG_TYPE_REF_BYTE_OUT, ARG_TYPE_UINT32, ARG_TYPE_REF_UINT16_OUT, ARG_TYPE_UINT32}},
};

// The connection value of the last successful open (also by auto-connect).
extern std::atomic<int32_t> t_iqivpbsnd_client_rpc_id;

// -1 for a failed call or a result of another type, else the service's
// 8-bit result; values are in the member's argument order.
int32_t call_remote(const RemoteMember &t_member, int i4_line, const uint64_t *pui8_values);

template <Member M, size_t N> int32_t call(int i4_line, const uint64_t (&aui8_values)[N])
{
    static_assert(kMembers[M].ui4_num_args == N, "one value per argument of the member");
    return call_remote(kMembers[M], i4_line, aui8_values);
}

inline uint64_t addr(const void *pv) { return reinterpret_cast<uintptr_t>(pv); }

} // namespace pbmisc

#endif
