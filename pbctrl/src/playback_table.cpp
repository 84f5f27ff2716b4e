// The playback members that are one plain remote call: each described once
// in the table, each public function hands its arguments to the carrier.
#include "client_info.h"
#include "playback_call.h"
#include "playback_members.h"

#include <cstddef>

namespace pbctrl {

namespace {

constexpr uint8_t H = ARG_TYPE_UINT32; // handles, sizes, times, values
constexpr uint8_t ENUM = ARG_TYPE_ENUM;
constexpr uint8_t U8 = ARG_TYPE_UINT8;
constexpr uint8_t TRACK = ARG_TYPE_TRACK;
constexpr uint8_t BOOL = ARG_TYPE_BOOL;
constexpr uint8_t TEXT = ARG_TYPE_TEXT;
constexpr uint8_t IN = ARG_TYPE_DESC_IN;
constexpr uint8_t OUT = ARG_TYPE_DESC_OUT;
constexpr uint8_t OUT32 = ARG_TYPE_REF_UINT32_OUT;
constexpr uint8_t OUT64 = ARG_TYPE_REF_UINT64_OUT;

constexpr Ref desc(uint8_t arg, uint16_t num, const char *member = nullptr, uint32_t offset = 0)
{
    return Ref{RefKind::Desc, arg, num, member, offset, 0};
}
constexpr Ref text(uint8_t arg)
{
    return Ref{RefKind::Text, arg, 0, nullptr, 0, 0};
}
constexpr Ref text_at(uint8_t arg, uint32_t offset)
{
    return Ref{RefKind::TextAt, arg, 0, nullptr, offset, 0};
}

#define NAMED(n) "IQivPb_Ctrl_" #n, "x_QivPb_Ctrl_" #n, __LINE__
#define SUBTITLE_TRACE(n) "<LOG %s, %s, #%d><Client>IQivPb_Ctrl_" #n "[%d] is called,\n"

} // namespace

const Member kMembers[] = {
    {NAMED(SetAudTrack), 2, {H, TRACK}, {}},
    {NAMED(SetURL), 3, {H, H, TEXT}, {text(2)}},
    {NAMED(ExtSbtl_SetURL), 4, {H, H, TEXT, TEXT}, {text(2), text(3)}},
    {NAMED(SendCmd), 2, {H, IN}, {desc(1, 264)}},
    {NAMED(PreLoadData), 1, {H}, {},
     "<LOG %s, %s, #%d>IQivPb_Ctrl_PreLoadData is called, hHandle is: %d\n"},
    {NAMED(Play), 2, {H, H}, {}},
    {NAMED(PlayEx), 3, {H, H, IN}, {desc(2, 253)}},
    {NAMED(Pause), 1, {H}, {}},
    {NAMED(PauseEx), 2, {H, IN}, {desc(1, 254)}},
    {NAMED(AudioReset), 1, {H}, {}},
    {NAMED(Stop), 1, {H}, {}},
    {NAMED(Step), 2, {H, H}, {}},
    {NAMED(TimeSeek), 2, {H, H}, {}},
    {NAMED(TimeSeekEx), 3, {H, H, IN}, {desc(2, 255)}},
    {NAMED(TimeSeekMS), 2, {H, H}, {}},
    {NAMED(ChangeAudio), 2, {H, IN}, {desc(1, 69)}},
    {NAMED(ChangeVideo), 2, {H, IN}, {desc(1, 70)}},
    {NAMED(SetSpeed), 2, {H, ENUM}, {}},
    {NAMED(SetPlayMode), 2, {H, IN}, {desc(1, 201)}},
    {NAMED(ClearVideo), 1, {H}, {}},
    {NAMED(GetMediaInfo), 2, {H, OUT}, {desc(1, 68)}},
    {NAMED(GetBufferFullness), 2, {H, OUT32}, {}},
    {NAMED(GetBufferStatus), 2, {H, OUT}, {desc(1, 85)}},
    {NAMED(GetPlayParam), 2, {H, OUT}, {desc(1, 98)}},
    {NAMED(GetAudTrackInfo), 3, {H, TRACK, OUT}, {desc(2, 78)}},
    {NAMED(GetAudTrackInfoEx), 3, {H, TRACK, OUT},
     {desc(2, 82), desc(2, 80, nullptr, offsetof(IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T, tExt))},
     "<LOG %s, %s, #%d>IQivPb_Ctrl_GetAudTrackInfoEx is called, hHandle is: %d\n"},
    {NAMED(GetCurAudTrackInfo), 2, {H, OUT}, {desc(1, 78)}},
    {NAMED(GetCurAudTrackInfoEx), 2, {H, OUT},
     {desc(1, 81), desc(1, 80, nullptr, offsetof(IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T, tExt))}},
    {NAMED(GetVidTrackInfo), 2, {H, OUT}, {desc(1, 83)}},
    {NAMED(GetVidTrackInfoEx), 2, {H, OUT}, {desc(1, 84)}},
    {NAMED(GetCurrentPos), 3, {H, OUT32, OUT64}, {}},
    {NAMED(GetCurrentPTS), 3, {H, OUT64, OUT64}, {}},
    {NAMED(GetState), 2, {H, OUT32}, {}},
    {NAMED(SetAudioFifoSize), 2, {H, H}, {}},
    {NAMED(GetMaxAudioFifoSize), 2, {H, OUT32}, {}},
    {NAMED(SetVideoFifoSize), 2, {H, H}, {}},
    {NAMED(GetMaxVideoFifoSize), 2, {H, OUT32}, {}},
    {NAMED(GetBufferRemainingDataLen), 2, {H, OUT32}, {}},
    {NAMED(StartTSPreparse), 2, {H, U8}, {}},
    {NAMED(StopTSPreparse), 1, {H}, {}},
    {NAMED(SetTSMediaInfo), 3, {H, IN, IN}, {desc(1, 22), desc(2, 23)}},
    {NAMED(SetBufNfyThrd), 2, {H, IN}, {desc(1, 86)}},
    {NAMED(TSPlay), 1, {H}, {}},
    {NAMED(TSStop), 1, {H}, {}},
    {NAMED(SetSubtitleShowHide), 2, {H, BOOL}, {}, SUBTITLE_TRACE(SetSubtitleShowHide)},
    {NAMED(SetSubtitleShowHideEx), 3, {H, ENUM, BOOL}, {}, SUBTITLE_TRACE(SetSubtitleShowHideEx)},
    {NAMED(SetSubtitleTrack), 2, {H, TRACK}, {}, SUBTITLE_TRACE(SetSubtitleTrack)},
    {NAMED(GetSubTrackInfo), 3, {H, TRACK, OUT}, {desc(2, 157)}},
    {NAMED(SetSubtitleInfo), 2, {H, IN},
     {desc(1, 157),
      desc(1, 156, "uSubtitleInfoParam.rTtmlUrlInfo",
           offsetof(IQIV_PB_CTRL_SUBTITLE_INFO_T, uSubtitleInfoParam)),
      text_at(1, offsetof(IQIV_PB_CTRL_SUBTITLE_INFO_T, uSubtitleInfoParam.rTtmlUrlInfo.pcUrl))}},
    {NAMED(SubtitleSelect), 2, {H, IN}, {desc(1, 157)}},
    {NAMED(ChangeSubtitle), 2, {H, IN}, {desc(1, 157)}},
    {NAMED(SetSubtitlePlane), 2, {H, ENUM}, {}},
    {NAMED(SetSubtitlePlaneEx), 3, {H, ENUM, ENUM}, {}},
    {NAMED(SetSubtitleAttr), 2, {H, IN}, {desc(1, 170)}},
    {NAMED(GetAvInInfo), 2, {H, OUT}, {desc(1, 205)}},
    {NAMED(GetSpInfo), 2, {H, OUT}, {desc(1, 171)}},
    {NAMED(GetSpTrackInfo), 3, {H, TRACK, OUT}, {desc(2, 200)}},
    {NAMED(GetCurSpTrackInfo), 2, {H, OUT}, {desc(1, 200)}},
    {NAMED(SetSpTrack), 3, {H, TRACK, BOOL}, {}},
    {NAMED(CancelGetBufferPending), 1, {H}, {}},
    {NAMED(SetPushModelEOS), 1, {H}, {}},
    // Stored in the push slot first (push.cpp).
    {NAMED(RegCallback), 3, {H, ARG_TYPE_TAG, ARG_TYPE_FUNC}, {}},
    // Members whose own steps surround or replace the table's registrations.
    {NAMED(SetEngineParam), 2, {H, IN}, {}},
    {NAMED(SetEngineParamAsync), 2, {H, IN}, {}},
    {NAMED(SetMediaInfo), 2, {H, IN}, {desc(1, 68)}},
    {NAMED(SetExtraInfo), 2, {H, IN}, {desc(1, 97)}},
    {NAMED(SetPlayModeEx), 2, {H, IN}, {desc(1, 256)}},
    {NAMED(SetDisplayRectangle), 3, {H, IN, IN}, {desc(1, 25), desc(2, 25)}},
    {NAMED(Set), 4, {H, H, 0, ARG_TYPE_REF_UINT32_IN}, {}},
    {NAMED(Get), 4, {H, H, 0, H}, {}, nullptr, true},
    {NAMED(ParseMediaInfo), 4, {H, H, H, OUT}, {desc(3, 240)}, nullptr, true},
    {NAMED(Start_PcmUpload_cb), 3, {H, ARG_TYPE_TAG, ARG_TYPE_FUNC}, {}, nullptr, true},
    {NAMED(Stop_PcmUpload_cb), 1, {H}, {}, nullptr, true},
};
static_assert(sizeof kMembers / sizeof kMembers[0] == static_cast<size_t>(Id::Count),
              "one table entry per member id");

} // namespace pbctrl

using namespace pbctrl;

extern "C" {

#define STUB(n, params, ...)                                                                      \
    int32_t IQivPb_Ctrl_##n params { return call_member(member(Id::n), __VA_ARGS__); }

STUB(SetAudTrack, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track), h_handle, u4Track)
STUB(SetURL, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Type, const char *ps_url), h_handle, u4Type, ps_url)
STUB(ExtSbtl_SetURL, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Type, const char *ps_url1, const char *ps_url2),
     h_handle, u4Type, ps_url1, ps_url2)
STUB(SendCmd, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CMD_T *pt_cmd), h_handle, pt_cmd)
STUB(PreLoadData, (IQIV_PB_HANDLE_T h_handle), h_handle)
STUB(Play, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Param), h_handle, u4Param)
STUB(PlayEx, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Param, IQIV_PB_CTRL_PLAY_EX_T *pt_play), h_handle,
     u4Param, pt_play)
STUB(Pause, (IQIV_PB_HANDLE_T h_handle), h_handle)
STUB(PauseEx, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PAUSE_EX_T *pt_pause), h_handle, pt_pause)
STUB(Step, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Steps), h_handle, u4Steps)
STUB(TimeSeek, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Time), h_handle, u4Time)
STUB(TimeSeekEx, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Time, IQIV_PB_CTRL_TIME_SEEK_EX_T *pt_seek),
     h_handle, u4Time, pt_seek)
STUB(TimeSeekMS, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Ms), h_handle, u4Ms)
STUB(ChangeAudio, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CHANGE_AUDIO_T *pt_audio), h_handle, pt_audio)
STUB(ChangeVideo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CHANGE_VIDEO_T *pt_video), h_handle, pt_video)
STUB(SetSpeed, (IQIV_PB_HANDLE_T h_handle, uint32_t e_speed), h_handle, e_speed)
STUB(SetPlayMode, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PLAY_MODE_T *pt_mode), h_handle, pt_mode)
STUB(ClearVideo, (IQIV_PB_HANDLE_T h_handle), h_handle)
STUB(GetMediaInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_MEDIA_INFO_T *pt_info), h_handle, pt_info)
STUB(GetBufferFullness, (IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Fullness), h_handle, pu4Fullness)
STUB(GetPlayParam, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PLAY_PARAM_T *pt_param), h_handle, pt_param)
STUB(GetAudTrackInfo, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, IQIV_PB_CTRL_AUD_TRACK_INFO_T *pt_info),
     h_handle, u4Track, pt_info)
STUB(GetAudTrackInfoEx,
     (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T *pt_info), h_handle,
     u4Track, pt_info)
STUB(GetCurAudTrackInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_AUD_TRACK_INFO_T *pt_info), h_handle,
     pt_info)
STUB(GetCurAudTrackInfoEx, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T *pt_info),
     h_handle, pt_info)
STUB(GetVidTrackInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_VID_TRACK_INFO_T *pt_info), h_handle, pt_info)
STUB(GetVidTrackInfoEx, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_VID_TRACK_INFO_EX_T *pt_info), h_handle,
     pt_info)
STUB(GetCurrentPos, (IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Pos, uint64_t *pu8Pos), h_handle, pu4Pos,
     pu8Pos)
STUB(GetCurrentPTS, (IQIV_PB_HANDLE_T h_handle, uint64_t *pu8Pts1, uint64_t *pu8Pts2), h_handle, pu8Pts1,
     pu8Pts2)
STUB(SetAudioFifoSize, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Size), h_handle, u4Size)
STUB(GetMaxAudioFifoSize, (IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Size), h_handle, pu4Size)
STUB(SetVideoFifoSize, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Size), h_handle, u4Size)
STUB(GetMaxVideoFifoSize, (IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Size), h_handle, pu4Size)
STUB(GetBufferRemainingDataLen, (IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Len), h_handle, pu4Len)
STUB(StartTSPreparse, (IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode), h_handle, u1Mode)
STUB(StopTSPreparse, (IQIV_PB_HANDLE_T h_handle), h_handle)
STUB(SetTSMediaInfo,
     (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_TS_VIDEO_INFO_T *pt_video, IQIV_PB_CTRL_TS_AUDIO_INFO_T *pt_audio),
     h_handle, pt_video, pt_audio)
STUB(TSPlay, (IQIV_PB_HANDLE_T h_handle), h_handle)
STUB(SetSubtitleShowHide, (IQIV_PB_HANDLE_T h_handle, uint8_t b_show), h_handle, b_show)
STUB(SetSubtitleShowHideEx, (IQIV_PB_HANDLE_T h_handle, uint32_t e_plane, uint8_t b_show), h_handle, e_plane,
     b_show)
STUB(SetSubtitleTrack, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track), h_handle, u4Track)
STUB(GetSubTrackInfo, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info),
     h_handle, u4Track, pt_info)
STUB(SetSubtitleInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info), h_handle, pt_info)
STUB(SubtitleSelect, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info), h_handle, pt_info)
STUB(ChangeSubtitle, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info), h_handle, pt_info)
STUB(SetSubtitlePlane, (IQIV_PB_HANDLE_T h_handle, uint32_t e_plane), h_handle, e_plane)
STUB(SetSubtitlePlaneEx, (IQIV_PB_HANDLE_T h_handle, uint32_t e_plane1, uint32_t e_plane2), h_handle,
     e_plane1, e_plane2)
STUB(SetSubtitleAttr, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_ATTR_T *pt_attr), h_handle, pt_attr)
STUB(GetAvInInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_AVIN_INFO_T *pt_info), h_handle, pt_info)
STUB(GetSpInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SP_INFO_T *pt_info), h_handle, pt_info)
STUB(GetSpTrackInfo, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, IQIV_PB_CTRL_SP_TRACK_INFO_T *pt_info),
     h_handle, u4Track, pt_info)
STUB(GetCurSpTrackInfo, (IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SP_TRACK_INFO_T *pt_info), h_handle,
     pt_info)
STUB(SetSpTrack, (IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, uint8_t b_enable), h_handle, u4Track,
     b_enable)

} // extern "C"
