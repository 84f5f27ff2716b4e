// Playback members whose steps go beyond one plain call: registrations
// chosen by the record's contents, local checks, kernel blocks.
#include "client_info.h"
#include "korm.h"
#include "playback_call.h"
#include "playback_members.h"
#include "push.h"
#include "remote_call.h"
#include "rpc_desc.h"

#include <cstdio>
#include <cstring>

using namespace pbctrl;

namespace {

constexpr uint32_t kPushOpenMod = 1;
constexpr uint32_t kDiscOpenMod = 2;
constexpr uint32_t kDashEntryBytes = 8;

constexpr uint32_t kParamMember = offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam);

template <typename T> uint64_t addr(T *p) { return reinterpret_cast<uintptr_t>(p); }

struct SlotModes {
    int slot;
    uint32_t e_buf_mod;
    uint32_t e_open_mod;
};

// The slot of an engine parameter call, with its lines; slot -1 when none.
SlotModes engine_param_slot(IQIV_PB_HANDLE_T h_handle)
{
    SlotModes s{-1, 0, 0};
    {
        MutexGuard lock(t_info_mutex);
        s.slot = find_by_handle(h_handle);
        if (s.slot >= 0) {
            s.e_buf_mod = t_client_info[s.slot].e_buf_mod;
            s.e_open_mod = t_client_info[s.slot].e_open_mod;
        }
    }
    const int slot = s.slot;
    if (slot < 0) {
        CLIENT_LOG(kLogErr, "Invalid client index\n");
        return s;
    }
    CLIENT_LOG(kLogOpen, "<Client> Find client[%d] info succeed, @Line: %d \n", slot, __LINE__);
    CLIENT_LOG(kLogOpen, "<Client> t_client_info[%d].e_buf_mod=%d, @Line: %d \n", slot, s.e_buf_mod, __LINE__);
    return s;
}

void uri_refs(Ref *refs, const IQIV_PB_CTRL_ENGINE_PARAM_T &p)
{
    refs[0] = ref_desc(1, RPC_DESC_ENGINE_PARAM);
    refs[1] = ref_desc(1, RPC_DESC_BUF_MODEL_PARAM_U, "uBufferModelParam.tUriInfo", kParamMember);
    refs[2] = ref_text_at(1, offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tUriInfo.pcUrl));
    CLIENT_LOG(kLogData, "<Client> Url is: %s, @Line: %d \n", p.uBufferModelParam.tUriInfo.pcUrl, __LINE__);
}

// The engine never sees the application's pull functions: the slot keeps
// them, and the engine gets the slot's tag to hand back to the handlers.
void take_pull_functions(int slot, const IQIV_PB_CTRL_ENGINE_PARAM_T &p, IQIV_PB_CTRL_PULL_PARAM_T &subst)
{
    ClientInfo &c = t_client_info[slot];
    const IQIV_PB_CTRL_PULL_INFO_T &in = p.uBufferModelParam.tPullInfo;
    {
        MutexGuard lock(slot_mutex(c));
        c.t_pull_fct = PullFct{in.pvAppTag,    in.pfOpen,      in.pfClose,    in.pfRead,
                               in.pfReadAsync, in.pfAbortRead, in.pfByteSeek, in.pfGetInputLen};
        c.ui1_client_idx = static_cast<uint8_t>(slot);
    }
    std::memset(&subst, 0, sizeof subst);
    subst.u4Word0 = p.u4Word0;
    subst.tPullInfo.pvTag = &c.ui1_client_idx;
}

int32_t set_engine_param(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENGINE_PARAM_T *pt_param)
{
    const Member &m = member(Id::SetEngineParam);
    if (!pt_param)
        return IQIVPB_INV_ARG;
    const SlotModes s = engine_param_slot(h_handle);
    if (s.slot < 0)
        return IQIVPB_NOT_ENOUGH;
    const IQIV_PB_CTRL_ENGINE_PARAM_T &p = *pt_param;
    Ref refs[kMaxMemberRefs] = {};
    uint64_t values[kMaxMemberArgs] = {h_handle, addr(pt_param)};
    // Built per call: two playbacks may set theirs at once.
    IQIV_PB_CTRL_PULL_PARAM_T subst;
    switch (s.e_buf_mod) {
    case IQIV_PB_BUF_MOD_URI:
        uri_refs(refs, p);
        break;
    case IQIV_PB_BUF_MOD_PULL:
        take_pull_functions(s.slot, p, subst);
        values[1] = addr(&subst);
        refs[0] = ref_desc(1, RPC_DESC_PULL_PARAM);
        refs[1] = ref_desc(1, RPC_DESC_PULL_SUBST_INFO, "uBufferModelParam.tPullInfo",
                           offsetof(IQIV_PB_CTRL_PULL_PARAM_T, tPullInfo));
        refs[2] = Ref{RefKind::Val, 1, 0, nullptr, offsetof(IQIV_PB_CTRL_PULL_PARAM_T, tPullInfo.pvTag), 0};
        break;
    case IQIV_PB_BUF_MOD_PUSH:
        if (s.e_open_mod != kPushOpenMod)
            return IQIVPB_INV_ARG;
        refs[0] = ref_desc(1, RPC_DESC_ENGINE_PARAM);
        break;
    case IQIV_PB_BUF_MOD_DISC:
        if (s.e_open_mod != kDiscOpenMod)
            return IQIVPB_INV_ARG;
        refs[0] = ref_desc(1, RPC_DESC_ENGINE_PARAM);
        refs[1] = ref_desc(1, RPC_DESC_BUF_MODEL_PARAM_U, "uBufferModelParam.tDiscInfo", kParamMember);
        refs[2] = ref_text_at(1, offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDiscInfo.pcPath));
        CLIENT_LOG(kLogData, "<Client> Disc File Path is: %s, @Line: %d \n", p.uBufferModelParam.tDiscInfo.pcPath,
                   __LINE__);
        break;
    case IQIV_PB_BUF_MOD_DASH: {
        const uint32_t entries = offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.ptEntries);
        refs[0] = ref_desc(1, RPC_DESC_ENGINE_PARAM);
        refs[1] = ref_desc(1, RPC_DESC_BUF_MODEL_PARAM_U, "uBufferModelParam.tDashInfo", kParamMember);
        refs[2] = ref_text_at(1, offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.pcMpdUrl));
        refs[3] = Ref{RefKind::Val, 1, 0, nullptr, entries, 0};
        refs[4] = Ref{RefKind::BuffAt, 1,       0,
                      nullptr,         entries, p.uBufferModelParam.tDashInfo.u4EntryNum * kDashEntryBytes};
        break;
    }
    case IQIV_PB_BUF_MOD_OTHER:
        refs[0] = ref_desc(1, RPC_DESC_ENGINE_PARAM);
        break;
    default:
        return arg_check_failure(m.name, m.line);
    }
    CLIENT_LOG(kLogOpen, " @Line: %d \n", __LINE__);
    const int32_t ret = carry(m, values, refs);
    CLIENT_LOG(kLogOpen, " @Line: %d \n", __LINE__);
    return ret;
}

int32_t set_engine_param_async(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENGINE_PARAM_T *pt_param)
{
    const Member &m = member(Id::SetEngineParamAsync);
    if (!pt_param)
        return IQIVPB_INV_ARG;
    const SlotModes s = engine_param_slot(h_handle);
    if (s.slot < 0)
        return IQIVPB_NOT_ENOUGH;
    switch (s.e_buf_mod) {
    case IQIV_PB_BUF_MOD_URI: {
        Ref refs[kMaxMemberRefs] = {};
        uri_refs(refs, *pt_param);
        const uint64_t values[kMaxMemberArgs] = {h_handle, addr(pt_param)};
        return carry(m, values, refs);
    }
    case IQIV_PB_BUF_MOD_PULL:
    case IQIV_PB_BUF_MOD_PUSH:
    case IQIV_PB_BUF_MOD_DISC:
        return IQIVPB_NOT_IMPL;
    default:
        return arg_check_refusal(m.name, m.line);
    }
}

bool is_ogg_vorbis(const IQIV_PB_CTRL_MEDIA_INFO_T &t)
{
    return t.eMediaType == IQIV_PB_CTRL_MEDIA_TYPE_OGG && t.eAudioCodec == IQIV_PB_CTRL_AUD_CODEC_VORBIS;
}

// Copies the codec data into a kernel block the engine can read and puts
// the block's handle in the record's pointer; 0 when that failed.
HANDLE_T codec_data_to_block(IQIV_PB_CTRL_MEDIA_INFO_T &t)
{
    const HANDLE_T h = x_kmem_block_alloc(t.u2CodecPrivLen);
    if (!h) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, @Line: %d \n", "x_kmem_block_alloc", __LINE__);
        return 0;
    }
    void *p = x_kmem_block_map(h);
    if (!p) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, @Line: %d \n", "x_kmem_block_map", __LINE__);
        x_kmem_block_free(h);
        return 0;
    }
    std::memcpy(p, t.pu1CodecPriv, t.u2CodecPrivLen);
    x_kmem_block_unmap(p);
    t.pu1CodecPriv = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(h));
    return h;
}

// The slot in use whose filter table has an entry of the playback, or -1.
int slot_with_filter(IQIV_PB_HANDLE_T h_handle)
{
    MutexGuard lock(t_info_mutex);
    for (int i = 0; i < kSlots; ++i) {
        if (t_client_info[i].b_used != 1)
            continue;
        for (const FilterEntry &f : t_client_info[i].at_filter)
            if (f.b_used && f.h_pb == h_handle)
                return i;
    }
    return -1;
}

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_SetEngineParam(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENGINE_PARAM_T *pt_param)
{
    return set_engine_param(h_handle, pt_param);
}

int32_t IQivPb_Ctrl_SetEngineParamAsync(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENGINE_PARAM_T *pt_param)
{
    return set_engine_param_async(h_handle, pt_param);
}

int32_t IQivPb_Ctrl_SetMediaInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_MEDIA_INFO_T *pt_info)
{
    const Member &m = member(Id::SetMediaInfo);
    // A null record resets the push path: the slices are mapped again by
    // the next buffer, and the engine gets the null record.
    if (!pt_info) {
        push_media_reset(h_handle);
        const Ref no_refs[kMaxMemberRefs] = {};
        const uint64_t values[kMaxMemberArgs] = {h_handle, 0};
        return carry(m, values, no_refs);
    }
    const bool ogg = is_ogg_vorbis(*pt_info);
    HANDLE_T h_block = 0;
    if (ogg) {
        CLIENT_LOG(kLogOpen, "<Client> Media Ogg vorbis Type. @Line: %d \n", __LINE__);
        h_block = codec_data_to_block(*pt_info);
        if (!h_block)
            return IQIVPB_FAIL;
    }
    const int32_t ret = call_member(m, h_handle, pt_info);
    if (ogg) {
        CLIENT_LOG(kLogOpen, "<Client> Media Ogg Info Type. @Line: %d \n", __LINE__);
        x_kmem_block_free(h_block);
    }
    return ret;
}

int32_t IQivPb_Ctrl_SetExtraInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_EXTRA_INFO_T *pt_info)
{
    const Member &m = member(Id::SetExtraInfo);
    if (!pt_info)
        return IQIVPB_INV_ARG;
    printf("<Client>ptExtraInfo->eExtraInfoType = %d ,@Line: %d\n", pt_info->eExtraInfoType, __LINE__);
    const uint64_t values[kMaxMemberArgs] = {h_handle, addr(pt_info)};
    if (pt_info->eExtraInfoType != IQIV_PB_CTRL_EXTRA_INFO_STREAM)
        return carry(m, values);
    const Ref refs[kMaxMemberRefs] = {ref_desc(1, RPC_DESC_EXTRA_INFO),
                                      ref_desc(1, RPC_DESC_EXTRA_INFO_PARAM_U, "uExtraInfoParam.tStreamInfo",
                                               offsetof(IQIV_PB_CTRL_EXTRA_INFO_T, uExtraInfoParam)),
                                      ref_text_at(1, offsetof(IQIV_PB_CTRL_EXTRA_INFO_T,
                                                              uExtraInfoParam.tStreamInfo.pcInfo))};
    return carry(m, values, refs);
}

int32_t IQivPb_Ctrl_SetPlayModeEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PLAY_MODE_EX_T *pt_mode)
{
    const int found = slot_with_filter(h_handle);
    if (found < 0) {
        printf("<CLIENT> can't find handle %d in IQivPb_Ctrl_SetPlayModeEx @Line: %d\n", h_handle, __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    const MutexGuard lock(slot_mutex(t_client_info[found]));
    return call_member(member(Id::SetPlayModeEx), h_handle, pt_mode);
}

int32_t IQivPb_Ctrl_SetDisplayRectangle(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_RECT_T *pt_src,
                                        IQIV_PB_CTRL_RECT_T *pt_dst)
{
    if (!pt_src || !pt_dst)
        return IQIVPB_INV_ARG;
    printf(
        "<CLIENT>ptSrcRect->u4H is %d, ptSrcRect->u4W is %d, ptDstRect->u4H is %d, ptDstRect->u4W is %d "
        "@Line: %d\n",
        pt_src->u4H, pt_src->u4W, pt_dst->u4H, pt_dst->u4W, __LINE__);
    return call_member(member(Id::SetDisplayRectangle), h_handle, pt_src, pt_dst);
}

int32_t IQivPb_Ctrl_SetDisplayRectangleEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_RECT_T *pt_src,
                                          IQIV_PB_CTRL_RECT_T *pt_dst)
{
    return IQivPb_Ctrl_SetDisplayRectangle(h_handle, pt_src, pt_dst);
}

int32_t IQivPb_Ctrl_AudioReset(IQIV_PB_HANDLE_T h_handle)
{
    const Member &m = member(Id::AudioReset);
    if (find_by_handle_locked(h_handle) < 0) {
        printf("<CLIENT> can not find server info@Line: %d\n", __LINE__);
        return IQIVPB_NO_CLIENT;
    }
    const uint64_t values[kMaxMemberArgs] = {h_handle};
    CallValues got;
    const int32_t ret = carry_ex(m, values, nullptr, got);
    if (got.transport != 0 || ret != 0)
        log_refused_call(m, got);
    return ret;
}

int32_t IQivPb_Ctrl_GetBufferStatus(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_BUFFER_STATUS_T *pt_status)
{
    const int32_t ret = call_member(member(Id::GetBufferStatus), h_handle, pt_status);
    if (ret == 0)
        printf("IGetBufferStatus is: %d, %d, %d, %d\n", pt_status->u4BufSize, pt_status->u4DataSize,
               pt_status->u4FreeSize, pt_status->u4Threshold);
    return ret;
}

int32_t IQivPb_Ctrl_GetState(IQIV_PB_HANDLE_T h_handle, uint32_t *pe_state)
{
    const int32_t ret = call_member(member(Id::GetState), h_handle, pe_state);
    if (ret == 0)
        CLIENT_LOG(kLogData, "<Client> cur pb stt is:%d, @Line: %d \n", *pe_state, __LINE__);
    return ret;
}

int32_t IQivPb_Ctrl_SetBufNfyThrd(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_BUF_NFY_THRD_T *pt_thrd)
{
    const int32_t ret = call_member(member(Id::SetBufNfyThrd), h_handle, pt_thrd);
    if (ret != 0)
        CLIENT_LOG(kLogErr, "<Client>IQivPb_Ctrl_SetBufNfyThrd  fail @Line: %d\n", __LINE__);
    return ret;
}

int32_t IQivPb_Ctrl_GetSubtitleAttr(IQIV_PB_HANDLE_T, IQIV_PB_CTRL_SUBTITLE_ATTR_T *)
{
    puts("IQivPb_Ctrl_GetSubtitleAttr had not been supported");
    return IQIVPB_FAIL;
}

int32_t IQivPb_Ctrl_ParseMediaInfo(IQIV_PB_HANDLE_T h_handle, const uint8_t *pu1Buffer, uint32_t u4BufLen,
                                   IQIV_PB_CTRL_MEDIA_INFO_T *ptMediaInfo)
{
    const Member &m = member(Id::ParseMediaInfo);
    printf("<Client> %s ---> is called @Line: %d! hHandle: %d, pu1Buffer: %p, u4BufLen: %d, ptMediaInfo: %p\n", m.name,
           __LINE__, h_handle, static_cast<const void *>(pu1Buffer), u4BufLen, static_cast<void *>(ptMediaInfo));
    if (!pu1Buffer || !ptMediaInfo || u4BufLen < IQIV_PB_CTRL_PARSE_MIN_LEN) {
        printf("<Client>ERR: %s, invalid parameter, pu1Buffer: %p, u4BufLen: %d, ptMediaInfo: %p\n", m.name,
               static_cast<const void *>(pu1Buffer), u4BufLen, static_cast<void *>(ptMediaInfo));
        return IQIVPB_INV_ARG;
    }
    const HANDLE_T h_block = x_kmem_block_alloc(u4BufLen);
    if (!h_block) {
        printf("<Client>ERR: %s, x_kmem_block_alloc fail \n", m.name);
        return IQIVPB_FAIL;
    }
    printf("<Client> %s, x_kmem_block_alloc ok, hShareMemHandle: 0x%x \n", m.name, h_block);
    void *p = x_kmem_block_map(h_block);
    if (!p) {
        printf("<Client>ERR: %s, x_kmem_block_map fail \n", m.name);
        x_kmem_block_free(h_block);
        return IQIVPB_FAIL;
    }
    std::memcpy(p, pu1Buffer, u4BufLen);
    const int32_t ret = call_member(m, h_handle, h_block, u4BufLen, ptMediaInfo);
    x_kmem_block_unmap(p);
    x_kmem_block_free(h_block);
    return ret;
}

} // extern "C"
