// The generic set and get: the info argument's code and registrations
// depend on the type.
#include "client_info.h"
#include "korm.h"
#include "platform_sizes.h"
#include "playback_call.h"
#include "playback_members.h"
#include "rpc_desc.h"

#include <cstdio>
#include <cstring>

using namespace pbctrl;

namespace {

constexpr uint32_t kInfoArg = 2;
constexpr uint32_t kMlnTexts = 4;
constexpr uint32_t kCoverShown = 8;
constexpr uint32_t kCoverWithDest = 1; // tells the engine a destination waits
constexpr uint32_t kTextInfoTexts = 7;

Ref desc(uint16_t num, const char *member = nullptr, uint32_t offset = 0)
{
    return ref_desc(kInfoArg, num, member, offset);
}
Ref text_at(uint32_t offset) { return ref_text_at(kInfoArg, offset); }

// The member with the info argument's code of this type.
Member with_info_code(Id id, uint8_t code)
{
    Member m = member(id);
    m.codes[kInfoArg] = code;
    return m;
}

void print_pts_adjustment(const char *ps_name, const IQIV_PB_CTRL_PTS_ADJ_T &a)
{
    printf("<Client>%s, fgEnableAudPtsAdj: %d,  fgAudIncrease: %d, u4AudAdjValue: %d \n", ps_name, a.fgEnableAudPtsAdj,
           a.fgAudIncrease, a.u4AudAdjValue);
    printf("<Client>%s, fgEnableVidPtsAdj: %d,  fgVidIncrease: %d, u4VidAdjValue: %d \n", ps_name, a.fgEnableVidPtsAdj,
           a.fgVidIncrease, a.u4VidAdjValue);
}

// Registrations of a DRM record by its type; false for a type not handled.
bool drm_refs(const IQIV_PB_CTRL_DRM_INFO_T &d, Ref *refs)
{
    constexpr uint32_t u = offsetof(IQIV_PB_CTRL_DRM_INFO_T, u);
    refs[0] = desc(RPC_DESC_DRM_INFO);
    if (d.e_drm_type == IQIV_PB_CTRL_DRM_MLN) {
        refs[1] = desc(RPC_DESC_DRM_INFO_U, "u.t_mln_drm_inf", u);
        const uint32_t texts[kMlnTexts] = {offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcLicenseUrl),
                                           offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcCustomData),
                                           offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcContentId),
                                           offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcKeyId)};
        for (uint32_t i = 0; i < kMlnTexts; ++i)
            refs[2 + i] = text_at(texts[i]);
        return true;
    }
    if (d.e_drm_type == IQIV_PB_CTRL_DRM_RAW) {
        refs[1] = desc(RPC_DESC_DRM_INFO_U, "u.t_raw_drm_info", u);
        refs[2] = text_at(offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_raw_drm_info.pcInfo));
        return true;
    }
    return false;
}

// The cover picture comes back as a shared-memory block whose handle the
// engine writes in the length field; its bytes go to the destination.
int32_t get_cover(const Member &m, const uint64_t *values, IQIV_PB_CTRL_MP3_COVER_INFO_T &c)
{
    const Ref refs[kMaxMemberRefs] = {desc(RPC_DESC_MP3_COVER_INFO)};
    if (!c.pu1Dest) {
        c.u4LenOrHandle = 0;
        return carry(m, values, refs);
    }
    const uint32_t length = c.u4LenOrHandle;
    c.u4LenOrHandle = kCoverWithDest;
    const int32_t ret = carry(m, values, refs);
    if (ret != 0) {
        printf("do x_QivPb_Ctrl_Get failed x_QivPb_Ctrl_Get __rpc_ret=%d\n", ret);
        c.u4LenOrHandle = length;
        return ret;
    }
    const HANDLE_T h = c.u4LenOrHandle;
    c.u4LenOrHandle = length;
    // The application's length must fit the engine's block.
    void *p = block_holds(h, length) ? x_smem_block_map(h) : nullptr;
    if (!p) {
        printf("smem map failed for IQIV_PB_CTRL_MP3_COVER_INFO_T\n");
        x_smem_block_free(h);
        return IQIVPB_FAIL;
    }
    std::memcpy(c.pu1Dest, p, length);
    x_smem_block_unmap(p);
    x_smem_block_free(h);
    printf("client receive mp3 cover data,  the first 8 bytes as bleow: \n");
    for (uint32_t i = 0; i < kCoverShown && i < length; ++i)
        printf("0x%x\t", c.pu1Dest[i]);
    printf("\n");
    return 0;
}

} // namespace

extern "C" {

int32_t IQivPb_Ctrl_Set(IQIV_PB_HANDLE_T h_handle, uint32_t e_set_type, void *pv_set_info, uint32_t *pz_set_info_size)
{
    const char *const name = member(Id::Set).name;
    if (!pv_set_info || !pz_set_info_size) {
        printf("<Client> %s, pv_set_info or pz_set_info_size is NULL, @Line: %d!\n", name, __LINE__);
        return IQIVPB_INV_ARG;
    }
    printf("<Client> %s, e_set_type: %d, set_info_size: %d, @Line: %d!\n", name, e_set_type, *pz_set_info_size,
           __LINE__);
    const uint64_t values[kMaxMemberArgs] = {h_handle, e_set_type, reinterpret_cast<uintptr_t>(pv_set_info),
                                             reinterpret_cast<uintptr_t>(pz_set_info_size)};
    Ref refs[kMaxMemberRefs] = {};
    uint8_t code = ARG_TYPE_DESC_IN;
    switch (e_set_type) {
    case IQIV_PB_CTRL_SET_3D_SOURCE_TYPE:
        code = ARG_TYPE_REF_UINT32_IN;
        printf("<Client> IQIV_PB_CTRL_SET_3D_SOURCE_TYPE, e3DType=%d \n", *static_cast<uint32_t *>(pv_set_info));
        break;
    case IQIV_PB_CTRL_SET_PTS_ADJ:
        print_pts_adjustment(name, *static_cast<IQIV_PB_CTRL_PTS_ADJ_T *>(pv_set_info));
        refs[0] = desc(RPC_DESC_PTS_ADJ);
        break;
    case IQIV_PB_CTRL_SET_INFO:
        refs[0] = desc(RPC_DESC_SET_INFO);
        break;
    case IQIV_PB_CTRL_SET_DEFAULT_FS:
        code = ARG_TYPE_REF_UINT8_IN;
        printf("<Client>%s, setting default fs in set, *pv_set_info is %d\n", name,
               *static_cast<uint8_t *>(pv_set_info));
        break;
    default:
        printf("<Client> ERROR %s, %d, e_set_type: %d, API is not impl\n", name, __LINE__, e_set_type);
        return IQIVPB_NOT_IMPL;
    }
    return carry(with_info_code(Id::Set, code), values, refs);
}

int32_t IQivPb_Ctrl_Get(IQIV_PB_HANDLE_T h_handle, uint32_t e_get_type, void *pv_get_info, uint32_t z_get_info_size)
{
    const char *const name = member(Id::Get).name;
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d, e_get_type: %d!\n", name, __LINE__, e_get_type);
    // Every type reads or fills the place given.
    if (!pv_get_info)
        return IQIVPB_INV_ARG;
    const uint64_t values[kMaxMemberArgs] = {h_handle, e_get_type, reinterpret_cast<uintptr_t>(pv_get_info),
                                             z_get_info_size};
    Ref refs[kMaxMemberRefs] = {};
    uint8_t code = ARG_TYPE_DESC_OUT;
    switch (e_get_type) {
    case IQIV_PB_CTRL_GET_INFO:
        refs[0] = desc(RPC_DESC_GET_INFO, "pv_get_info");
        break;
    case IQIV_PB_CTRL_GET_DRM_INFO:
        if (!drm_refs(*static_cast<IQIV_PB_CTRL_DRM_INFO_T *>(pv_get_info), refs)) {
            printf("<Client>ERR: don't support this drm type");
            return IQIVPB_NOT_IMPL;
        }
        break;
    case IQIV_PB_CTRL_GET_MP3_COVER_INFO:
        return get_cover(with_info_code(Id::Get, ARG_TYPE_DESC_OUT), values,
                         *static_cast<IQIV_PB_CTRL_MP3_COVER_INFO_T *>(pv_get_info));
    case IQIV_PB_CTRL_GET_TEXT_INFO:
        refs[0] = desc(RPC_DESC_TEXT_INFO, "pv_get_info");
        for (uint32_t i = 0; i < kTextInfoTexts; ++i)
            refs[1 + i] = text_at(offsetof(IQIV_PB_CTRL_TEXT_INFO_T, apcText) + i * sizeof(char *));
        break;
    case IQIV_PB_CTRL_GET_INFO_EX:
        refs[0] = desc(RPC_DESC_GET_INFO_EX);
        break;
    case IQIV_PB_CTRL_GET_UINT32:
        code = ARG_TYPE_REF_UINT32_OUT;
        break;
    case IQIV_PB_CTRL_GET_UINT8_A:
    case IQIV_PB_CTRL_GET_UINT8_B:
    case IQIV_PB_CTRL_GET_UINT8_C:
        code = ARG_TYPE_REF_UINT8_OUT;
        break;
    default:
        printf("<Client> ERROR %s, %d, e_get_type: %d, API is not impl\n", name, __LINE__, e_get_type);
        return IQIVPB_NOT_IMPL;
    }
    return carry(with_info_code(Id::Get, code), values, refs);
}

} // extern "C"
