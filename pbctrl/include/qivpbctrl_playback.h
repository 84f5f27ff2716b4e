/*
 * libqivpbctrl: playback control. Engine parameters, transport control,
 * queries, tracks and subtitles are remote calls to the engine; the three
 * header builders at the end are local and need no connection.
 */
#ifndef QIVPBCTRL_PLAYBACK_H
#define QIVPBCTRL_PLAYBACK_H

#include <stdint.h>

#include "qivpbctrl.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

/* Result of a type the library does not handle (set, get, asynchronous engine parameter). */
#define IQIVPB_NOT_IMPL (-6)

/* Generic set types (IQivPb_Ctrl_Set). */
#define IQIV_PB_CTRL_SET_3D_SOURCE_TYPE 7 /* info: uint32_t */
#define IQIV_PB_CTRL_SET_PTS_ADJ 8        /* info: IQIV_PB_CTRL_PTS_ADJ_T */
#define IQIV_PB_CTRL_SET_INFO 9           /* info: IQIV_PB_CTRL_SET_INFO_T */
#define IQIV_PB_CTRL_SET_DEFAULT_FS 13    /* info: uint8_t */

/* Generic get types (IQivPb_Ctrl_Get). */
#define IQIV_PB_CTRL_GET_INFO 1           /* IQIV_PB_CTRL_GET_INFO_T */
#define IQIV_PB_CTRL_GET_DRM_INFO 3       /* IQIV_PB_CTRL_DRM_INFO_T */
#define IQIV_PB_CTRL_GET_MP3_COVER_INFO 4 /* IQIV_PB_CTRL_MP3_COVER_INFO_T */
#define IQIV_PB_CTRL_GET_TEXT_INFO 15     /* IQIV_PB_CTRL_TEXT_INFO_T */
#define IQIV_PB_CTRL_GET_INFO_EX 16       /* IQIV_PB_CTRL_GET_INFO_T */
#define IQIV_PB_CTRL_GET_UINT32 17        /* uint32_t */
#define IQIV_PB_CTRL_GET_UINT8_A 25       /* uint8_t */
#define IQIV_PB_CTRL_GET_UINT8_B 26
#define IQIV_PB_CTRL_GET_UINT8_C 29

/* DRM types of IQIV_PB_CTRL_DRM_INFO_T. */
#define IQIV_PB_CTRL_DRM_MLN 2
#define IQIV_PB_CTRL_DRM_RAW 4

/* Media type and audio codec of the Ogg Vorbis case of IQivPb_Ctrl_SetMediaInfo. */
#define IQIV_PB_CTRL_MEDIA_TYPE_OGG 6
#define IQIV_PB_CTRL_AUD_CODEC_VORBIS 12

/* Extra information type carrying stream information with a text. */
#define IQIV_PB_CTRL_EXTRA_INFO_STREAM 36

/* IQivPb_Ctrl_ParseMediaInfo needs at least one transport packet. */
#define IQIV_PB_CTRL_PARSE_MIN_LEN 188

/* Packet information for IQivPb_Ctrl_GenerateP0Header. */
typedef struct {
    uint32_t au4Value[3]; /* bytes 4-15 of the header, little-endian */
    uint32_t eStreamType; /* 0 or 1 */
    uint32_t eSubType1;   /* stream type 1: 1 or 2 */
    uint32_t eSubType2;   /* stream type 1: 0, 1 or 2 */
} IQIV_PB_CTRL_PKT_INFO_T;

#define IQIV_PB_CTRL_P0_HDR_LEN 17

/* Real-video picture header input for IQivPb_Ctrl_GenerateRVPicHdr. */
#define IQIV_PB_CTRL_RV_MAX_SLICES 128
typedef struct {
    uint8_t u1TotalSliceNum; /* 1 ... 128 */
    uint8_t u1Reserved;
    uint16_t au2Slice[IQIV_PB_CTRL_RV_MAX_SLICES];
} IQIV_PB_CTRL_RV_PIC_INFO_T;

#define IQIV_PB_CTRL_RV_HDR_LEN 257

/* Output of IQivPb_Ctrl_GetP0PPRInfo. */
typedef struct {
    uint8_t u1Flag1;
    uint8_t u1Flag2;
    uint8_t u1Flag3;
    uint32_t u4Value; /* 4 */
} IQIV_PB_CTRL_PPR_INFO_T;

int32_t IQivPb_Ctrl_SetEngineParam(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENGINE_PARAM_T *pt_param);
int32_t IQivPb_Ctrl_SetEngineParamAsync(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENGINE_PARAM_T *pt_param);
/* Ogg Vorbis: the record's codec data pointer is left holding a kernel block handle. */
int32_t IQivPb_Ctrl_SetMediaInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_MEDIA_INFO_T *pt_info);
int32_t IQivPb_Ctrl_SetExtraInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_EXTRA_INFO_T *pt_info);
/* h_handle: the playback handle of a TS filter of an open playback. */
int32_t IQivPb_Ctrl_SetPlayModeEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PLAY_MODE_EX_T *pt_mode);
int32_t IQivPb_Ctrl_SetDisplayRectangle(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_RECT_T *pt_src,
                                        IQIV_PB_CTRL_RECT_T *pt_dst);
int32_t IQivPb_Ctrl_SetDisplayRectangleEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_RECT_T *pt_src,
                                          IQIV_PB_CTRL_RECT_T *pt_dst);
int32_t IQivPb_Ctrl_Set(IQIV_PB_HANDLE_T h_handle, uint32_t e_set_type, void *pv_set_info, uint32_t *pz_set_info_size);
int32_t IQivPb_Ctrl_Get(IQIV_PB_HANDLE_T h_handle, uint32_t e_get_type, void *pv_get_info, uint32_t z_get_info_size);
int32_t IQivPb_Ctrl_ParseMediaInfo(IQIV_PB_HANDLE_T h_handle, const uint8_t *pu1Buffer, uint32_t u4BufLen,
                                   IQIV_PB_CTRL_MEDIA_INFO_T *ptMediaInfo);

int32_t IQivPb_Ctrl_SetAudTrack(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track);
int32_t IQivPb_Ctrl_SetURL(IQIV_PB_HANDLE_T h_handle, uint32_t u4Type, const char *ps_url);
int32_t IQivPb_Ctrl_ExtSbtl_SetURL(IQIV_PB_HANDLE_T h_handle, uint32_t u4Type, const char *ps_url1,
                                   const char *ps_url2);
int32_t IQivPb_Ctrl_SendCmd(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CMD_T *pt_cmd);
int32_t IQivPb_Ctrl_PreLoadData(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_Play(IQIV_PB_HANDLE_T h_handle, uint32_t u4Param);
int32_t IQivPb_Ctrl_PlayEx(IQIV_PB_HANDLE_T h_handle, uint32_t u4Param, IQIV_PB_CTRL_PLAY_EX_T *pt_play);
int32_t IQivPb_Ctrl_Pause(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_PauseEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PAUSE_EX_T *pt_pause);
int32_t IQivPb_Ctrl_AudioReset(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_Stop(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_Step(IQIV_PB_HANDLE_T h_handle, uint32_t u4Steps);
int32_t IQivPb_Ctrl_TimeSeek(IQIV_PB_HANDLE_T h_handle, uint32_t u4Time);
int32_t IQivPb_Ctrl_TimeSeekEx(IQIV_PB_HANDLE_T h_handle, uint32_t u4Time, IQIV_PB_CTRL_TIME_SEEK_EX_T *pt_seek);
int32_t IQivPb_Ctrl_TimeSeekMS(IQIV_PB_HANDLE_T h_handle, uint32_t u4Ms);
int32_t IQivPb_Ctrl_ChangeAudio(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CHANGE_AUDIO_T *pt_audio);
int32_t IQivPb_Ctrl_ChangeVideo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CHANGE_VIDEO_T *pt_video);
int32_t IQivPb_Ctrl_SetSpeed(IQIV_PB_HANDLE_T h_handle, uint32_t e_speed);
int32_t IQivPb_Ctrl_SetPlayMode(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PLAY_MODE_T *pt_mode);
int32_t IQivPb_Ctrl_ClearVideo(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_GetMediaInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_MEDIA_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetBufferFullness(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Fullness);
int32_t IQivPb_Ctrl_GetBufferStatus(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_BUFFER_STATUS_T *pt_status);
int32_t IQivPb_Ctrl_GetPlayParam(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_PLAY_PARAM_T *pt_param);
int32_t IQivPb_Ctrl_GetAudTrackInfo(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track,
                                    IQIV_PB_CTRL_AUD_TRACK_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetAudTrackInfoEx(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track,
                                      IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T *pt_info);
int32_t IQivPb_Ctrl_GetCurAudTrackInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_AUD_TRACK_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetCurAudTrackInfoEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T *pt_info);
int32_t IQivPb_Ctrl_GetVidTrackInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_VID_TRACK_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetVidTrackInfoEx(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_VID_TRACK_INFO_EX_T *pt_info);
int32_t IQivPb_Ctrl_GetCurrentPos(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Pos, uint64_t *pu8Pos);
int32_t IQivPb_Ctrl_GetCurrentPTS(IQIV_PB_HANDLE_T h_handle, uint64_t *pu8Pts1, uint64_t *pu8Pts2);
int32_t IQivPb_Ctrl_GetState(IQIV_PB_HANDLE_T h_handle, uint32_t *pe_state);
int32_t IQivPb_Ctrl_SetAudioFifoSize(IQIV_PB_HANDLE_T h_handle, uint32_t u4Size);
int32_t IQivPb_Ctrl_GetMaxAudioFifoSize(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Size);
int32_t IQivPb_Ctrl_SetVideoFifoSize(IQIV_PB_HANDLE_T h_handle, uint32_t u4Size);
int32_t IQivPb_Ctrl_GetMaxVideoFifoSize(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Size);
int32_t IQivPb_Ctrl_GetBufferRemainingDataLen(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Len);
int32_t IQivPb_Ctrl_StartTSPreparse(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode);
int32_t IQivPb_Ctrl_StopTSPreparse(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_SetTSMediaInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_TS_VIDEO_INFO_T *pt_video,
                                   IQIV_PB_CTRL_TS_AUDIO_INFO_T *pt_audio);
int32_t IQivPb_Ctrl_SetBufNfyThrd(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_BUF_NFY_THRD_T *pt_thrd);
int32_t IQivPb_Ctrl_TSPlay(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_TSStop(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_SetSubtitleShowHide(IQIV_PB_HANDLE_T h_handle, uint8_t b_show);
int32_t IQivPb_Ctrl_SetSubtitleShowHideEx(IQIV_PB_HANDLE_T h_handle, uint32_t e_plane, uint8_t b_show);
int32_t IQivPb_Ctrl_SetSubtitleTrack(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track);
int32_t IQivPb_Ctrl_GetSubTrackInfo(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info);
int32_t IQivPb_Ctrl_SetSubtitleInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info);
int32_t IQivPb_Ctrl_SubtitleSelect(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info);
int32_t IQivPb_Ctrl_ChangeSubtitle(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_INFO_T *pt_info);
int32_t IQivPb_Ctrl_SetSubtitlePlane(IQIV_PB_HANDLE_T h_handle, uint32_t e_plane);
int32_t IQivPb_Ctrl_SetSubtitlePlaneEx(IQIV_PB_HANDLE_T h_handle, uint32_t e_plane1, uint32_t e_plane2);
int32_t IQivPb_Ctrl_SetSubtitleAttr(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_ATTR_T *pt_attr);
/* Not supported by the engine: always -1, no call. */
int32_t IQivPb_Ctrl_GetSubtitleAttr(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SUBTITLE_ATTR_T *pt_attr);
int32_t IQivPb_Ctrl_GetAvInInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_AVIN_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetSpInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SP_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetSpTrackInfo(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, IQIV_PB_CTRL_SP_TRACK_INFO_T *pt_info);
int32_t IQivPb_Ctrl_GetCurSpTrackInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SP_TRACK_INFO_T *pt_info);
int32_t IQivPb_Ctrl_SetSpTrack(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, uint8_t b_enable);

/* Local header builders: 0 or -3 (null pointer, value out of range). */
int32_t IQivPb_Ctrl_GenerateP0Header(uint8_t *pu1PktHdrBuf, const IQIV_PB_CTRL_PKT_INFO_T *ptPktInfo);
int32_t IQivPb_Ctrl_GenerateRVPicHdr(uint8_t *pu1PktHdrBuf, const IQIV_PB_CTRL_RV_PIC_INFO_T *ptPicInfo);
int32_t IQivPb_Ctrl_GetP0PPRInfo(uint32_t e_type, IQIV_PB_CTRL_PPR_INFO_T *ptPPRInfo);

#pragma GCC visibility pop

#if UINTPTR_MAX == 0xFFFFFFFF
#ifdef __cplusplus
#define QIVPB_PLAYBACK_ASSERT(c, m) static_assert(c, m)
#else
#define QIVPB_PLAYBACK_ASSERT(c, m) _Static_assert(c, m)
#endif
QIVPB_PLAYBACK_ASSERT(sizeof(IQIV_PB_CTRL_PKT_INFO_T) == 24, "packet information: six words");
QIVPB_PLAYBACK_ASSERT(sizeof(IQIV_PB_CTRL_RV_PIC_INFO_T) == 258, "picture information");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PPR_INFO_T, u4Value) == 4, "PPR value at 4");
QIVPB_PLAYBACK_ASSERT(sizeof(IQIV_PB_CTRL_PULL_PARAM_T) == 44, "pull substitute: 44 bytes");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PULL_PARAM_T, tPullInfo) == 4, "pull substitute member at 4");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_MEDIA_INFO_T, eAudioCodec) == 180, "media audio codec at 180");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_MEDIA_INFO_T, u2CodecPrivLen) == 200,
                      "media codec data length at 200");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_MEDIA_INFO_T, pu1CodecPriv) == 204, "media codec data at 204");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam) == 8,
                      "engine parameter union at 8");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tUriInfo.pcUrl) == 12,
                      "URL at 12");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDiscInfo.pcPath) == 12,
                      "disc path at 12");
QIVPB_PLAYBACK_ASSERT(sizeof(IQIV_PB_CTRL_PULL_INFO_T) == 32, "pull parameter: eight words");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.pcMpdUrl) == 24,
                      "DASH text at 24");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.ptEntries) == 44,
                      "DASH entries at 44");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.u4EntryNum) == 48,
                      "DASH entry count at 48");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PTS_ADJ_T, fgAudIncrease) == 1, "audio PTS direction at 1");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PTS_ADJ_T, u4AudAdjValue) == 4, "audio PTS adjustment at 4");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PTS_ADJ_T, fgEnableVidPtsAdj) == 8, "video PTS switch at 8");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PTS_ADJ_T, fgVidIncrease) == 9, "video PTS direction at 9");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_PTS_ADJ_T, u4VidAdjValue) == 12, "video PTS adjustment at 12");
QIVPB_PLAYBACK_ASSERT(sizeof(IQIV_PB_CTRL_PTS_ADJ_T) == 16, "PTS adjustment: 16 bytes");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_DRM_INFO_T, u) == 4, "DRM union at 4");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcLicenseUrl) == 4, "DRM text at 4");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcCustomData) == 12,
                      "DRM text at 12");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcContentId) == 20, "DRM text at 20");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcKeyId) == 28, "DRM text at 28");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_DRM_INFO_T, u.t_raw_drm_info.pcInfo) == 8, "raw DRM text at 8");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_MP3_COVER_INFO_T, u4LenOrHandle) == 12, "cover length at 12");
QIVPB_PLAYBACK_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_MP3_COVER_INFO_T, pu1Dest) == 16, "cover destination at 16");
#undef QIVPB_PLAYBACK_ASSERT
#endif

#ifdef __cplusplus
}
#endif

#endif
