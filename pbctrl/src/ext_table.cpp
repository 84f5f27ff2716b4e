// Disc navigation and the extensions that are one plain remote call: each
// described once in the table, each public function hands its arguments to
// the carrier. The table also holds the calls of the members with steps of
// their own (ext_special.cpp, ext_filters.cpp, ext_snapshot.cpp).
#include "client_info.h"
#include "ext_members.h"
#include "playback_call.h"

#include <cstddef>

namespace pbctrl {

namespace {

constexpr uint8_t H = ARG_TYPE_UINT32;
constexpr uint8_t U8 = ARG_TYPE_UINT8;
constexpr uint8_t ENUM = ARG_TYPE_ENUM;
constexpr uint8_t BOOL = ARG_TYPE_BOOL;
constexpr uint8_t TEXT = ARG_TYPE_TEXT;
constexpr uint8_t FUNC = ARG_TYPE_FUNC;
constexpr uint8_t TAG = ARG_TYPE_TAG;
constexpr uint8_t ENC = ARG_TYPE_ENC_PARAM;
constexpr uint8_t IN = ARG_TYPE_DESC_IN;
constexpr uint8_t OUT = ARG_TYPE_DESC_OUT;
constexpr uint8_t OUT32 = ARG_TYPE_REF_UINT32_OUT;
constexpr uint8_t INOUT32 = ARG_TYPE_UINT32_OUT;

constexpr uint16_t kLangCode = 176;
constexpr uint16_t kDiscTime = 24;
constexpr uint16_t kSnapshotDesc = 304;
constexpr uint16_t kSnapshotDescExt = 305;

constexpr uint32_t kDrmUnion = offsetof(IQIV_PB_CTRL_DRM_INFO_T, u);
#define MLN(m) ref_text_at(1, offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.m))

#define DISC(n) "IQivPb_Disc_" #n, "x_QivPb_Disc_" #n, __LINE__
#define NAMED(n) "IQivPb_Ctrl_" #n, "x_QivPb_Ctrl_" #n, __LINE__
#define KEEPS_I(n) "IQivPb_Ctrl_" #n, "x_IQivPb_Ctrl_" #n, __LINE__
#define CALLED(n) "<LOG %s, %s, #%d><Client>IQivPb_Ctrl_" #n " is called\n"

} // namespace

const Member kExtMembers[] = {
    {DISC(Menu_Call), 1, {H}, {}},
    {DISC(Chapter_Search), 2, {H, H}, {}},
    {DISC(Title_Search), 2, {H, H}, {}},
    {DISC(Still_Off), 1, {H}, {}},
    {DISC(Set_Audio), 3, {H, H, H}, {}},
    {DISC(DigitalKey), 2, {H, H}, {}},
    {DISC(SelectKey), 1, {H}, {}},
    {DISC(DirectionKey), 2, {H, H}, {}},
    {DISC(Set_RegionCode), 2, {H, U8}, {}},
    {DISC(Set_Subtitle_Plane), 2, {H, H}, {}},
    {DISC(Set_Topmenu_Plane), 2, {H, H}, {}},
    {DISC(Set_PtLevel), 2, {H, U8}, {}},
    {DISC(Set_PtlCountry), 2, {H, IN}, {ref_desc(1, kLangCode)}},
    {DISC(Set_MenuLCD), 2, {H, IN}, {ref_desc(1, kLangCode)}},
    {DISC(Set_SubtitleLCD), 2, {H, IN}, {ref_desc(1, kLangCode)}},
    {DISC(Set_AudioLCD), 2, {H, IN}, {ref_desc(1, kLangCode)}},
    {DISC(Get_Total_Time), 3, {H, H, OUT}, {ref_desc(2, kDiscTime)}},
    {DISC(Get_Current_Time), 3, {H, H, OUT}, {ref_desc(2, kDiscTime)}},
    {DISC(Get_Title_Info), 3, {H, OUT32, OUT32}, {}},
    {DISC(Get_Chapter_Info), 3, {H, OUT32, OUT32}, {}},
    {DISC(Resume), 1, {H}, {}},
    {DISC(Play_Next_Chp), 1, {H}, {}},
    {DISC(Play_Prev_Chp), 1, {H}, {}},
    {DISC(Get_Audio_Info), 4, {H, H, OUT32, OUT32}, {}},
    {DISC(Get_DiscID), 3, {H, OUT32, OUT32}, {}},
    {DISC(Get_Lastmem_Info), 3, {H, OUT32, OUT32}, {}},
    {DISC(LastPlay), 2, {H, INOUT32}, {}},
    {NAMED(Ext_EncPb), 5, {OUT32, H, ENUM, IN, ENC}, {ref_desc(3, 282)}},
    {NAMED(Ext_EncEnable), 2, {H, BOOL}, {}},
    {NAMED(Ext_RequestKeyframe), 1, {H}, {}, CALLED(Ext_RequestKeyframe)},
    {NAMED(Ext_SetVidFrameRate), 2, {H, H}, {}, CALLED(Ext_SetVidFrameRate)},
    {NAMED(Ext_SetVidResolution), 3, {H, H, H}, {}, CALLED(Ext_SetVidResolution)},
    {NAMED(Ext_SetVidBitRate), 2, {H, H}, {}, CALLED(Ext_SetVidBitRate)},
    {NAMED(TS_Filter_Start), 2, {H, H}, {}},
    {NAMED(TS_Filter_Stop), 2, {H, H}, {}},
    {NAMED(TS_Filter_Modify), 4, {H, H, IN, BOOL}, {ref_desc(2, 173)}},
    {NAMED(SetHttpProxy), 2, {H, TEXT}, {ref_text(1)}},
    {NAMED(GetFeatureInfo), 2, {H, OUT}, {ref_desc(1, 195)}},
    {NAMED(DASH_Set), 2, {H, H}, {}, "<LOG %s, %s, #%d>IQivPb_Ctrl_DASH_Set is called, hHandle is: %d\n"},
    {NAMED(SendFeatureCmd), 2, {H, IN}, {ref_desc(1, 191)}},
    {NAMED(PIP_Switch), 3, {H, H, H}, {}},
    {NAMED(PIP_GetHandleType), 2, {H, OUT32}, {}},
    {NAMED(Set_DRM_Info), 2, {H, IN},
     {ref_desc(1, 108), ref_desc(1, 107, "u.t_mln_drm_inf", kDrmUnion), MLN(pcLicenseUrl), MLN(pcCustomData),
      MLN(pcContentId), MLN(pcKeyId)}},
    {NAMED(HttpsAuthenticateServer), 2, {H, IN},
     {ref_desc(1, 99), ref_text_at(1, offsetof(IQIV_PB_CTRL_CA_CERT_INFO_T, pu1CAFile)),
      ref_text_at(1, offsetof(IQIV_PB_CTRL_CA_CERT_INFO_T, pu1CAPath))}},
    {NAMED(HttpsAuthenticateClient), 2, {H, IN},
     {ref_desc(1, 100), ref_text_at(1, offsetof(IQIV_PB_CTRL_CLIENT_CERT_INFO_T, pu1ClientCert)),
      ref_text_at(1, offsetof(IQIV_PB_CTRL_CLIENT_CERT_INFO_T, pu1PrvKey))}},
    {KEEPS_I(CustomizeHttpReqHdr), 2, {H, TEXT}, {ref_text(1)}},
    {NAMED(SetFeatureParam), 2, {H, IN}, {}},
    {NAMED(SetEncryptInfo), 2, {H, IN}, {ref_desc(1, 135)}},
    // Made by IQivPb_Ctrl_SetEncryptInfo, whose name its lines carry.
    {"IQivPb_Ctrl_SetEncryptInfo", "x_QivPb_Ctrl_Get_Share_Mem_Handle", __LINE__, 2, {H, OUT}, {ref_desc(1, 275)},
     nullptr, true},
    {NAMED(TS_Filter_Alloc), 5, {H, IN, FUNC, TAG, OUT32}, {ref_desc(1, 174)}, CALLED(TS_Filter_Alloc)},
    {NAMED(TS_Filter_Free), 2, {H, H}, {}},
    {NAMED(TS_Filter_FreeBuffer), 2, {H, H}, {}},
    {KEEPS_I(Ext_Ipc_StartSnapshot), 5, {H, U8, IN, IN, OUT},
     {ref_desc(2, 25), ref_desc(3, 296), ref_desc(4, kSnapshotDesc)}},
    {KEEPS_I(Ext_Ipc_StopSnapshot), 2, {H, IN}, {ref_desc(1, kSnapshotDesc)}},
    {KEEPS_I(Ext_Ipc_StartSnapshot_Ext), 5, {H, U8, IN, IN, OUT},
     {ref_desc(2, 25), ref_desc(3, 296), ref_desc(4, kSnapshotDescExt)}},
    {KEEPS_I(Ext_Ipc_StopSnapshot_Ext), 2, {H, IN}, {ref_desc(1, kSnapshotDescExt)}},
};
static_assert(sizeof kExtMembers / sizeof kExtMembers[0] == static_cast<size_t>(ExtId::Count),
              "one table entry per member id");

} // namespace pbctrl

using namespace pbctrl;

extern "C" {

#define DISC_STUB(n, params, ...)                                                                  \
    int32_t IQivPb_Disc_##n params { return call_member(ext_member(ExtId::n), __VA_ARGS__); }
#define EXT_STUB(n, params, ...)                                                                   \
    int32_t IQivPb_Ctrl_##n params { return call_member(ext_member(ExtId::n), __VA_ARGS__); }

DISC_STUB(Menu_Call, (IQIV_PB_HANDLE_T h), h)
DISC_STUB(Chapter_Search, (IQIV_PB_HANDLE_T h, uint32_t u4Chapter), h, u4Chapter)
DISC_STUB(Title_Search, (IQIV_PB_HANDLE_T h, uint32_t u4Title), h, u4Title)
DISC_STUB(Still_Off, (IQIV_PB_HANDLE_T h), h)
DISC_STUB(Set_Audio, (IQIV_PB_HANDLE_T h, uint32_t u4Value1, uint32_t u4Value2), h, u4Value1, u4Value2)
DISC_STUB(DigitalKey, (IQIV_PB_HANDLE_T h, uint32_t u4Key), h, u4Key)
DISC_STUB(SelectKey, (IQIV_PB_HANDLE_T h), h)
DISC_STUB(DirectionKey, (IQIV_PB_HANDLE_T h, uint32_t u4Direction), h, u4Direction)
DISC_STUB(Set_RegionCode, (IQIV_PB_HANDLE_T h, uint8_t u1Region), h, u1Region)
DISC_STUB(Set_Subtitle_Plane, (IQIV_PB_HANDLE_T h, uint32_t u4Plane), h, u4Plane)
DISC_STUB(Set_Topmenu_Plane, (IQIV_PB_HANDLE_T h, uint32_t u4Plane), h, u4Plane)
DISC_STUB(Set_PtLevel, (IQIV_PB_HANDLE_T h, uint8_t u1Level), h, u1Level)
DISC_STUB(Set_PtlCountry, (IQIV_PB_HANDLE_T h, IQIV_PB_DISC_LANG_CODE_T *pt_code), h, pt_code)
DISC_STUB(Set_MenuLCD, (IQIV_PB_HANDLE_T h, IQIV_PB_DISC_LANG_CODE_T *pt_code), h, pt_code)
DISC_STUB(Set_SubtitleLCD, (IQIV_PB_HANDLE_T h, IQIV_PB_DISC_LANG_CODE_T *pt_code), h, pt_code)
DISC_STUB(Set_AudioLCD, (IQIV_PB_HANDLE_T h, IQIV_PB_DISC_LANG_CODE_T *pt_code), h, pt_code)
DISC_STUB(Get_Total_Time, (IQIV_PB_HANDLE_T h, uint32_t u4Type, IQIV_PB_DISC_TIME_T *pt_time), h, u4Type, pt_time)
DISC_STUB(Get_Current_Time, (IQIV_PB_HANDLE_T h, uint32_t u4Type, IQIV_PB_DISC_TIME_T *pt_time), h, u4Type,
          pt_time)
DISC_STUB(Get_Title_Info, (IQIV_PB_HANDLE_T h, uint32_t *pu4Value1, uint32_t *pu4Value2), h, pu4Value1, pu4Value2)
DISC_STUB(Get_Chapter_Info, (IQIV_PB_HANDLE_T h, uint32_t *pu4Value1, uint32_t *pu4Value2), h, pu4Value1,
          pu4Value2)
DISC_STUB(Resume, (IQIV_PB_HANDLE_T h), h)
DISC_STUB(Play_Next_Chp, (IQIV_PB_HANDLE_T h), h)
DISC_STUB(Play_Prev_Chp, (IQIV_PB_HANDLE_T h), h)
DISC_STUB(Get_Audio_Info, (IQIV_PB_HANDLE_T h, uint32_t u4Track, uint32_t *pu4Value1, uint32_t *pu4Value2), h,
          u4Track, pu4Value1, pu4Value2)
DISC_STUB(Get_DiscID, (IQIV_PB_HANDLE_T h, uint32_t *pu4Value1, uint32_t *pu4Value2), h, pu4Value1, pu4Value2)
DISC_STUB(Get_Lastmem_Info, (IQIV_PB_HANDLE_T h, uint32_t *pu4Value1, uint32_t *pu4Value2), h, pu4Value1,
          pu4Value2)
DISC_STUB(LastPlay, (IQIV_PB_HANDLE_T h, uint32_t u4Value), h, u4Value)

EXT_STUB(Ext_EncPb,
         (uint32_t *ph_enc, IQIV_PB_HANDLE_T h, uint32_t e_enc_type, IQIV_PB_CTRL_ENC_PARAM_T *pt_param,
          uint32_t e_param),
         ph_enc, h, e_enc_type, pt_param, e_param)
EXT_STUB(Ext_EncEnable, (IQIV_PB_HANDLE_T h, uint8_t b_enable), h, b_enable)
EXT_STUB(Ext_RequestKeyframe, (IQIV_PB_HANDLE_T h), h)
EXT_STUB(Ext_SetVidFrameRate, (IQIV_PB_HANDLE_T h, uint32_t u4FrameRate), h, u4FrameRate)
EXT_STUB(Ext_SetVidResolution, (IQIV_PB_HANDLE_T h, uint32_t u4Width, uint32_t u4Height), h, u4Width, u4Height)
EXT_STUB(Ext_SetVidBitRate, (IQIV_PB_HANDLE_T h, uint32_t u4BitRate), h, u4BitRate)
EXT_STUB(TS_Filter_Start, (IQIV_PB_HANDLE_T h, uint32_t h_filter), h, h_filter)
EXT_STUB(TS_Filter_Stop, (IQIV_PB_HANDLE_T h, uint32_t h_filter), h, h_filter)
EXT_STUB(TS_Filter_Modify,
         (IQIV_PB_HANDLE_T h, uint32_t h_filter, IQIV_PB_CTRL_TS_FILTER_MODIFY_T *pt_modify, uint8_t b_value), h,
         h_filter, pt_modify, b_value)
EXT_STUB(SetHttpProxy, (IQIV_PB_HANDLE_T h, const char *ps_proxy), h, ps_proxy)
EXT_STUB(GetFeatureInfo, (IQIV_PB_HANDLE_T h, IQIV_PB_CTRL_FEATURE_INFO_T *pt_info), h, pt_info)
EXT_STUB(DASH_Set, (IQIV_PB_HANDLE_T h, uint32_t u4Value), h, u4Value)

} // extern "C"
