// Extension members whose steps go beyond one plain call: slot and model
// checks, lines about the record, the encryption memory, the feature
// parameter's registrations by type.
#include "client_info.h"
#include "ext_members.h"
#include "korm.h"
#include "platform_sizes.h"
#include "playback_call.h"
#include "remote_call.h"

#include <cstdio>
#include <cstring>

using namespace pbctrl;

namespace {

constexpr int32_t kMapFailed = -8;
constexpr int32_t kTraceLevel = 1;
constexpr uint32_t kHlsTexts = 7;

template <typename T> uint64_t addr(T *p) { return reinterpret_cast<uintptr_t>(p); }

// The slot of a handle under t_info_mutex, or -1.
int slot_by_handle(IQIV_PB_HANDLE_T h_handle, uint32_t *pe_buf_mod = nullptr)
{
    MutexGuard lock(t_info_mutex);
    const int slot = find_by_handle(h_handle);
    if (slot >= 0 && pe_buf_mod)
        *pe_buf_mod = t_client_info[slot].e_buf_mod;
    return slot;
}

// The slot of a handle for the feature members: -1 after "Invalid client index".
int feature_slot(IQIV_PB_HANDLE_T h_handle, uint32_t *pe_buf_mod = nullptr)
{
    const int slot = slot_by_handle(h_handle, pe_buf_mod);
    if (slot < 0)
        CLIENT_LOG(kLogErr, "Invalid client index\n");
    return slot;
}

// The engine's encryption memory of the slot, obtained and mapped on first
// use and kept until close; nullptr after the failure's line, with the
// result in ret. Called with the slot's mutex held.
uint8_t *encrypt_memory(IQIV_PB_HANDLE_T h_handle, ClientInfo &c, int32_t &ret)
{
    ShareMem &m = c.t_share_mem;
    if (m.b_used)
        return static_cast<uint8_t *>(m.pv_addr);
    const char *const op = ext_member(ExtId::GetShareMemHandle).op;
    printf("<Client> %s, eMemType: %d, u4MemSize: %d \n", op, IQIV_PB_CTRL_ENCRYPT_MEM_TYPE,
           IQIV_PB_CTRL_ENCRYPT_MEM_SIZE);
    IQIV_PB_CTRL_SHARE_MEM_T rec{IQIV_PB_CTRL_ENCRYPT_MEM_TYPE, IQIV_PB_CTRL_ENCRYPT_MEM_SIZE, 0};
    ret = call_member(ext_member(ExtId::GetShareMemHandle), h_handle, &rec);
    if (ret != 0)
        return nullptr;
    if (!rec.hMemHandle) {
        CLIENT_LOG(kLogErr, "<Client>x_QivPb_Ctrl_Get_Share_Mem_Handle Fail, hMemHandle is NULL \n");
        ret = IQIVPB_FAIL;
        return nullptr;
    }
    // A block smaller than the layout would be written past its end: the
    // engine's answer names its size, and the block must hold it too.
    const bool holds = rec.u4MemSize >= IQIV_PB_CTRL_ENCRYPT_MEM_SIZE &&
                       block_holds(rec.hMemHandle, IQIV_PB_CTRL_ENCRYPT_MEM_SIZE);
    void *p = holds ? x_kmem_block_map(rec.hMemHandle) : nullptr;
    if (!p) {
        CLIENT_LOG(kLogErr, "<Client> %s, x_kmem_block_map fail @Line: %d \n", op, __LINE__);
        ret = kMapFailed;
        return nullptr;
    }
    printf("<Client> hMemHandle: %p, u4MemSize: %d, pvMemPoint: %p \n",
           reinterpret_cast<void *>(static_cast<uintptr_t>(rec.hMemHandle)), IQIV_PB_CTRL_ENCRYPT_MEM_SIZE, p);
    m = ShareMem{1, rec.hMemHandle, p, IQIV_PB_CTRL_ENCRYPT_MEM_SIZE};
    return static_cast<uint8_t *>(p);
}

// A text member for a log line; a missing one prints as nothing.
const char *shown(const void *text) { return text ? static_cast<const char *>(text) : ""; }

void put32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

// Writes the segments into the engine's layout; 0 or -3 after its line.
int32_t write_segments(uint8_t *mem, const IQIV_PB_CTRL_ENCRYPT_INFO_T &info, const char *ps_name)
{
    if (info.u2SegNum > IQIV_PB_CTRL_ENCRYPT_MAX_SEGS) {
        CLIENT_LOG(kLogErr, "<Client>%s Fail, u2SegNum=%d, MaxNum=%d, @Line: %d \n", ps_name, info.u2SegNum,
                   IQIV_PB_CTRL_ENCRYPT_MAX_SEGS, __LINE__);
        return IQIVPB_INV_ARG;
    }
    const auto *segs = static_cast<const IQIV_PB_CTRL_ENCRYPT_SEG_T *>(info.ptSeg);
    if (info.u2SegNum && !segs)
        return IQIVPB_INV_ARG;
    std::memset(mem, 0, IQIV_PB_CTRL_ENCRYPT_MEM_SIZE);
    const uint16_t count = info.u2SegNum;
    std::memcpy(mem, &count, sizeof count);
    for (uint32_t j = 0; j < count; ++j) {
        const IQIV_PB_CTRL_ENCRYPT_SEG_T &s = segs[j];
        if (s.u4SubSampleNum > IQIV_PB_CTRL_ENCRYPT_MAX_SUBSAMPLES) {
            CLIENT_LOG(kLogErr, "<Client>%s Fail, u4SubSampleNum=%d, MaxNum=%d, @Line: %d \n", ps_name,
                       s.u4SubSampleNum, IQIV_PB_CTRL_ENCRYPT_MAX_SUBSAMPLES, __LINE__);
            return IQIVPB_INV_ARG;
        }
        if (s.u4SubSampleNum && !s.ptSubSample)
            return IQIVPB_INV_ARG;
        uint8_t *out = mem + IQIV_PB_CTRL_ENCRYPT_MEM_HEAD + j * IQIV_PB_CTRL_ENCRYPT_MEM_SEG_BYTES;
        std::memcpy(out, s.au4Value, sizeof s.au4Value);
        put32(out + IQIV_PB_CTRL_ENCRYPT_MEM_SEG_VALUE, s.u4Value);
        put32(out + IQIV_PB_CTRL_ENCRYPT_MEM_SEG_COUNT, s.u4SubSampleNum);
        std::memcpy(out + IQIV_PB_CTRL_ENCRYPT_MEM_SEG_SUBS, s.ptSubSample,
                    s.u4SubSampleNum * sizeof(IQIV_PB_CTRL_SUBSAMPLE_T));
    }
    return 0;
}

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_SetEncryptInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENCRYPT_INFO_T *pt_info)
{
    const Member &m = ext_member(ExtId::SetEncryptInfo);
    const int slot = slot_by_handle(h_handle);
    if (slot < 0) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, can't find hHandle: %d, @Line: %d \n", m.name, h_handle, __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    CLIENT_LOG(kLogOpen, "<Client> Find client[%d] info succeed, @Line: %d \n", slot, __LINE__);
    if (!pt_info)
        return IQIVPB_INV_ARG;
    if (pt_info->eType == IQIV_PB_CTRL_ENCRYPT_SAMPLE) {
        ClientInfo &c = t_client_info[slot];
        int32_t ret = 0;
        {
            MutexGuard lock(slot_mutex(c));
            uint8_t *mem = encrypt_memory(h_handle, c, ret);
            if (mem)
                ret = write_segments(mem, *pt_info, m.name);
        }
        if (ret != 0)
            return ret;
        // The engine takes the segments from its memory.
        pt_info->u2SegNum = 1;
    }
    return call_member(m, h_handle, pt_info);
}

int32_t IQivPb_Ctrl_SetFeatureParam(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_FEATURE_PARAM_T *pt_param)
{
    const Member &m = ext_member(ExtId::SetFeatureParam);
    if (feature_slot(h_handle) < 0)
        return IQIVPB_NOT_ENOUGH;
    if (!pt_param)
        return IQIVPB_INV_ARG;
    constexpr uint32_t u = offsetof(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam);
    Ref refs[kMaxMemberRefs] = {ref_desc(1, RPC_DESC_FEATURE_PARAM)};
    const IQIV_PB_CTRL_FEATURE_PARAM_U &f = pt_param->uFeatureParam;
    switch (pt_param->eFeatureType) {
    case IQIV_PB_CTRL_FEATURE_HLS: {
        refs[1] = ref_desc(1, RPC_DESC_FEATURE_PARAM_U, "uFeatureParam.tHlsParam", u);
        constexpr uint32_t texts = offsetof(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tHlsParam.pcUrl);
        constexpr uint32_t stride = offsetof(IQIV_PB_CTRL_HLS_PARAM_T, pcKeyUrl);
        for (uint32_t i = 0; i < kHlsTexts; ++i)
            refs[2 + i] = ref_text_at(1, texts + i * stride);
        refs[2 + kHlsTexts] = Ref{
            RefKind::BuffAt,     1, 0, nullptr, offsetof(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tHlsParam.pu1Buf),
            f.tHlsParam.u4BufLen};
        CLIENT_LOG(kLogData, "<Client> Url is: %s, @Line: %d \n", shown(f.tHlsParam.pcUrl), __LINE__);
        break;
    }
    case IQIV_PB_CTRL_FEATURE_DTCP:
        refs[1] = ref_desc(1, RPC_DESC_FEATURE_PARAM_U, "uFeatureParam.tDtcpParam", u);
        refs[2] = ref_text_at(1, offsetof(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tDtcpParam.pcHost));
        refs[3] = ref_text_at(1, offsetof(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tDtcpParam.pcPort));
        CLIENT_LOG(kLogEntry, "<Client> Host is: %s, PORT is: %s, @Line: %d \n", shown(f.tDtcpParam.pcHost),
                   shown(f.tDtcpParam.pcPort), __LINE__);
        break;
    default:
        return arg_check_refusal(m.name, m.line);
    }
    const uint64_t values[kMaxMemberArgs] = {h_handle, addr(pt_param)};
    return carry(m, values, refs);
}

int32_t IQivPb_Ctrl_SendFeatureCmd(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_FEATURE_CMD_T *pt_cmd)
{
    const Member &m = ext_member(ExtId::SendFeatureCmd);
    uint32_t e_buf_mod = 0;
    if (feature_slot(h_handle, &e_buf_mod) < 0)
        return IQIVPB_NOT_ENOUGH;
    if (e_buf_mod != IQIV_PB_BUF_MOD_URI) {
        printf("RPC Failure arg check:%s #%d\n", m.name, m.line);
        return IQIVPB_FAIL;
    }
    if (!pt_cmd)
        return IQIVPB_INV_ARG;
    CLIENT_LOG(kLogData, "<Client> feature name is: %d, @Line: %d \n", pt_cmd->eFeatureName, __LINE__);
    return call_member(m, h_handle, pt_cmd);
}

int32_t IQivPb_Ctrl_PIP_Switch(IQIV_PB_HANDLE_T h_main, IQIV_PB_HANDLE_T h_sub, uint32_t e_cmd)
{
    const Member &m = ext_member(ExtId::PIP_Switch);
    printf("<Client> %s, MainHandle: %d, SubHandle: %d, PipCmd: %d\n", m.name, h_main, h_sub, e_cmd);
    return call_member(m, h_main, h_sub, e_cmd);
}

int32_t IQivPb_Ctrl_PIP_GetHandleType(IQIV_PB_HANDLE_T h_handle, uint32_t *pe_type)
{
    const Member &m = ext_member(ExtId::PIP_GetHandleType);
    if (!pe_type) {
        printf("<Client> %s, peHandleType is NULL \n", m.name);
        return IQIVPB_INV_ARG;
    }
    const int32_t ret = call_member(m, h_handle, pe_type);
    if (ret != 0)
        printf("<Client> %s fail \n", m.name);
    else
        printf("<Client> %s OK,  hHandle: %d, peHandleType: %d\n", m.name, h_handle, *pe_type);
    return ret;
}

int32_t IQivPb_Ctrl_Set_DRM_Info(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_DRM_INFO_T *pt_drm_inf)
{
    const Member &m = ext_member(ExtId::Set_DRM_Info);
    if (!pt_drm_inf) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail,pt_drm_inf is NULL, @Line: %d \n", m.name, __LINE__);
        return IQIVPB_INV_ARG;
    }
    return call_member(m, h_handle, pt_drm_inf);
}

int32_t IQivPb_Ctrl_HttpsAuthenticateServer(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CA_CERT_INFO_T *pt_info)
{
    if (!pt_info)
        return IQIVPB_INV_ARG;
    printf("<>Client> ptCACertInfo->pu1CAFile[%s]\n", shown(pt_info->pu1CAFile));
    printf("<>Client> ptCACertInfo->pu1CAPath[%s]\n", shown(pt_info->pu1CAPath));
    return call_member(ext_member(ExtId::HttpsAuthenticateServer), h_handle, pt_info);
}

int32_t IQivPb_Ctrl_HttpsAuthenticateClient(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CLIENT_CERT_INFO_T *pt_info)
{
    const Member &m = ext_member(ExtId::HttpsAuthenticateClient);
    if (!pt_info)
        return IQIVPB_INV_ARG;
    rpcu_log(kTraceLevel, "<LOG %s, %s, #%d><>Client> ptClientCertInfo->pu1ClientCert[%s]\n", g_ps_exe_name, m.name,
             __LINE__, shown(pt_info->pu1ClientCert));
    rpcu_log(kTraceLevel, "<LOG %s, %s, #%d><>Client> ptClientCertInfo->pu1PrvKey[%s]\n", g_ps_exe_name, m.name,
             __LINE__, shown(pt_info->pu1PrvKey));
    return call_member(m, h_handle, pt_info);
}

int32_t IQivPb_Ctrl_CustomizeHttpReqHdr(IQIV_PB_HANDLE_T h_handle, const char *ps_header)
{
    if (!ps_header) {
        CLIENT_LOG(kLogErr, "invalid arg\n");
        return IQIVPB_INV_ARG;
    }
    if (slot_by_handle(h_handle) < 0) {
        CLIENT_LOG(kLogErr, "Cannot find server info\n");
        return IQIVPB_NO_CLIENT;
    }
    return call_member(ext_member(ExtId::CustomizeHttpReqHdr), h_handle, ps_header);
}

} // extern "C"
