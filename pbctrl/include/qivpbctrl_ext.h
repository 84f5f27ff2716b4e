/*
 * libqivpbctrl: disc navigation and the extensions. Disc menus, titles,
 * chapters, keys, languages and times; the encoder; video snapshots into
 * engine memory; transport-stream section filters; sample encryption
 * parameters written into engine memory; HTTPS certificates, HTTP proxy and
 * request header; streaming feature parameters; picture in picture, DASH
 * and DRM. Records the engine also knows are in qiv_records.h.
 */
#ifndef QIVPBCTRL_EXT_H
#define QIVPBCTRL_EXT_H

#include <stdint.h>

#include "qivpbctrl.h"

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

/* Snapshot memory functions take a slot index ("Uid"), not a playback handle. */
#define IQIV_PB_CTRL_SNAPSHOT_UIDS 3

/* IQIV_PB_CTRL_ENCRYPT_INFO_T.eType of sample-level parameters, and the
 * engine memory they are written into. */
#define IQIV_PB_CTRL_ENCRYPT_SAMPLE 12
#define IQIV_PB_CTRL_ENCRYPT_MEM_TYPE 1
#define IQIV_PB_CTRL_ENCRYPT_MEM_SIZE 1654788u
#define IQIV_PB_CTRL_ENCRYPT_MAX_SEGS 2048
#define IQIV_PB_CTRL_ENCRYPT_MAX_SUBSAMPLES 64

/* Layout of that memory: a 4-byte head (16-bit count, 16-bit zero), then
 * one 808-byte record per segment: 32 bytes of the segment, its value at
 * 32, the sub-sample count, 64 sub-samples of 12 bytes. */
#define IQIV_PB_CTRL_ENCRYPT_MEM_HEAD 4u
#define IQIV_PB_CTRL_ENCRYPT_MEM_SEG_BYTES 808u
#define IQIV_PB_CTRL_ENCRYPT_MEM_SEG_VALUE 32u
#define IQIV_PB_CTRL_ENCRYPT_MEM_SEG_COUNT 36u
#define IQIV_PB_CTRL_ENCRYPT_MEM_SEG_SUBS 40u

/* Feature types of IQIV_PB_CTRL_FEATURE_PARAM_T.eFeatureType. */
#define IQIV_PB_CTRL_FEATURE_HLS 1
#define IQIV_PB_CTRL_FEATURE_DTCP 2

/* One sub-sample: three 32-bit values. */
typedef struct {
    uint32_t au4Value[3];
} IQIV_PB_CTRL_SUBSAMPLE_T;

/* One segment of IQIV_PB_CTRL_ENCRYPT_INFO_T.ptSeg (44 bytes on the board). */
typedef struct {
    uint32_t au4Value[8];
    uint32_t u4Value;                      /* 32 */
    uint32_t u4SubSampleNum;               /* 36, at most 64 */
    IQIV_PB_CTRL_SUBSAMPLE_T *ptSubSample; /* 40 */
} IQIV_PB_CTRL_ENCRYPT_SEG_T;

/* TS filter notify function: the filter-allocation call-back type. */
typedef IQIV_PB_CTRL_FILTER_ALLOC_FCT IQIV_PB_CTRL_TS_FILTER_NFY_FCT;

/* Disc navigation. */
int32_t IQivPb_Disc_Menu_Call(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Disc_Chapter_Search(IQIV_PB_HANDLE_T h_handle, uint32_t u4Chapter);
int32_t IQivPb_Disc_Title_Search(IQIV_PB_HANDLE_T h_handle, uint32_t u4Title);
int32_t IQivPb_Disc_Still_Off(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Disc_Set_Audio(IQIV_PB_HANDLE_T h_handle, uint32_t u4Value1, uint32_t u4Value2);
int32_t IQivPb_Disc_DigitalKey(IQIV_PB_HANDLE_T h_handle, uint32_t u4Key);
int32_t IQivPb_Disc_SelectKey(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Disc_DirectionKey(IQIV_PB_HANDLE_T h_handle, uint32_t u4Direction);
int32_t IQivPb_Disc_Set_RegionCode(IQIV_PB_HANDLE_T h_handle, uint8_t u1Region);
int32_t IQivPb_Disc_Set_Subtitle_Plane(IQIV_PB_HANDLE_T h_handle, uint32_t u4Plane);
int32_t IQivPb_Disc_Set_Topmenu_Plane(IQIV_PB_HANDLE_T h_handle, uint32_t u4Plane);
int32_t IQivPb_Disc_Set_PtLevel(IQIV_PB_HANDLE_T h_handle, uint8_t u1Level);
int32_t IQivPb_Disc_Set_PtlCountry(IQIV_PB_HANDLE_T h_handle, IQIV_PB_DISC_LANG_CODE_T *pt_code);
int32_t IQivPb_Disc_Set_MenuLCD(IQIV_PB_HANDLE_T h_handle, IQIV_PB_DISC_LANG_CODE_T *pt_code);
int32_t IQivPb_Disc_Set_SubtitleLCD(IQIV_PB_HANDLE_T h_handle, IQIV_PB_DISC_LANG_CODE_T *pt_code);
int32_t IQivPb_Disc_Set_AudioLCD(IQIV_PB_HANDLE_T h_handle, IQIV_PB_DISC_LANG_CODE_T *pt_code);
int32_t IQivPb_Disc_Get_Total_Time(IQIV_PB_HANDLE_T h_handle, uint32_t u4Type, IQIV_PB_DISC_TIME_T *pt_time);
int32_t IQivPb_Disc_Get_Current_Time(IQIV_PB_HANDLE_T h_handle, uint32_t u4Type, IQIV_PB_DISC_TIME_T *pt_time);
int32_t IQivPb_Disc_Get_Title_Info(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Value1, uint32_t *pu4Value2);
int32_t IQivPb_Disc_Get_Chapter_Info(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Value1, uint32_t *pu4Value2);
int32_t IQivPb_Disc_Resume(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Disc_Play_Next_Chp(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Disc_Play_Prev_Chp(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Disc_Get_Audio_Info(IQIV_PB_HANDLE_T h_handle, uint32_t u4Track, uint32_t *pu4Value1,
                                   uint32_t *pu4Value2);
int32_t IQivPb_Disc_Get_DiscID(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Value1, uint32_t *pu4Value2);
int32_t IQivPb_Disc_Get_Lastmem_Info(IQIV_PB_HANDLE_T h_handle, uint32_t *pu4Value1, uint32_t *pu4Value2);
/* The value travels as an in-out word; what the engine writes back is not kept. */
int32_t IQivPb_Disc_LastPlay(IQIV_PB_HANDLE_T h_handle, uint32_t u4Value);

/* Encoder. ph_enc receives the encoder's handle. */
int32_t IQivPb_Ctrl_Ext_EncPb(uint32_t *ph_enc, IQIV_PB_HANDLE_T h_handle, uint32_t e_enc_type,
                              IQIV_PB_CTRL_ENC_PARAM_T *pt_param, uint32_t e_param);
int32_t IQivPb_Ctrl_Ext_EncEnable(IQIV_PB_HANDLE_T h_handle, uint8_t b_enable);
int32_t IQivPb_Ctrl_Ext_RequestKeyframe(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_Ext_SetVidFrameRate(IQIV_PB_HANDLE_T h_handle, uint32_t u4FrameRate);
int32_t IQivPb_Ctrl_Ext_SetVidResolution(IQIV_PB_HANDLE_T h_handle, uint32_t u4Width, uint32_t u4Height);
int32_t IQivPb_Ctrl_Ext_SetVidBitRate(IQIV_PB_HANDLE_T h_handle, uint32_t u4BitRate);

/* Snapshots, first form: any number of records per slot. The Ipc calls are
 * the engine's; Ext_StartSnapshot maps the planes the engine answers and
 * fills pt_desc with their local addresses, Ext_StopSnapshot forgets them. */
int32_t IQivPb_Ctrl_Ext_Ipc_StartSnapshot(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                          IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param,
                                          IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_desc);
int32_t IQivPb_Ctrl_Ext_Ipc_StopSnapshot(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_desc);
int32_t IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem(uint32_t ui4_uid, uint8_t u1Mode, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_local,
                                             IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_engine);
int32_t IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_local,
                                                 IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_out);
int32_t IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_local);
int32_t IQivPb_Ctrl_Ext_StartSnapshot(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                      IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_desc);
int32_t IQivPb_Ctrl_Ext_StopSnapshot(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_T *pt_desc);

/* Snapshots, second form: one record per slot, planes unmapped at stop. */
int32_t IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                              IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param,
                                              IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc);
int32_t IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc);
int32_t IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem_Ext(uint32_t ui4_uid, uint8_t u1Mode,
                                                 IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_local,
                                                 IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_engine);
int32_t IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_local,
                                                     IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_out);
int32_t IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem_Ext(uint32_t ui4_uid, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_local);
int32_t IQivPb_Ctrl_Ext_StartSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, uint8_t u1Mode, IQIV_PB_CTRL_RECT_T *pt_rect,
                                          IQIV_PB_CTRL_SNAPSHOT_PARAM_T *pt_param,
                                          IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc);
int32_t IQivPb_Ctrl_Ext_StopSnapshot_Ext(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T *pt_desc);

/* TS section filters: 256 per open playback. The engine's buffer reaches
 * pf_nfy through the filter-allocation call-back. */
int32_t IQivPb_Ctrl_TS_Filter_Alloc(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_TS_FILTER_PARAM_T *pt_param,
                                    IQIV_PB_CTRL_TS_FILTER_NFY_FCT pf_nfy, void *pv_tag, uint32_t *ph_filter);
int32_t IQivPb_Ctrl_TS_Filter_Free(IQIV_PB_HANDLE_T h_handle, uint32_t h_filter);
int32_t IQivPb_Ctrl_TS_Filter_FreeBuffer(IQIV_PB_HANDLE_T h_handle, void *pv_buf);
int32_t IQivPb_Ctrl_TS_Filter_Start(IQIV_PB_HANDLE_T h_handle, uint32_t h_filter);
int32_t IQivPb_Ctrl_TS_Filter_Stop(IQIV_PB_HANDLE_T h_handle, uint32_t h_filter);
int32_t IQivPb_Ctrl_TS_Filter_Modify(IQIV_PB_HANDLE_T h_handle, uint32_t h_filter,
                                     IQIV_PB_CTRL_TS_FILTER_MODIFY_T *pt_modify, uint8_t b_value);

/* Encryption. Sample-level parameters (type 12) go through engine memory:
 * the record's segment count reads 1 afterwards. */
int32_t IQivPb_Ctrl_SetEncryptInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_ENCRYPT_INFO_T *pt_info);

/* Network and streaming. */
int32_t IQivPb_Ctrl_HttpsAuthenticateServer(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CA_CERT_INFO_T *pt_info);
int32_t IQivPb_Ctrl_HttpsAuthenticateClient(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_CLIENT_CERT_INFO_T *pt_info);
int32_t IQivPb_Ctrl_SetHttpProxy(IQIV_PB_HANDLE_T h_handle, const char *ps_proxy);
int32_t IQivPb_Ctrl_CustomizeHttpReqHdr(IQIV_PB_HANDLE_T h_handle, const char *ps_header);
int32_t IQivPb_Ctrl_SetFeatureParam(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_FEATURE_PARAM_T *pt_param);
/* Only playbacks of buffering model 1 (URI) take feature commands. */
int32_t IQivPb_Ctrl_SendFeatureCmd(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_FEATURE_CMD_T *pt_cmd);
int32_t IQivPb_Ctrl_GetFeatureInfo(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_FEATURE_INFO_T *pt_info);
int32_t IQivPb_Ctrl_PIP_Switch(IQIV_PB_HANDLE_T h_main, IQIV_PB_HANDLE_T h_sub, uint32_t e_cmd);
int32_t IQivPb_Ctrl_PIP_GetHandleType(IQIV_PB_HANDLE_T h_handle, uint32_t *pe_type);
int32_t IQivPb_Ctrl_DASH_Set(IQIV_PB_HANDLE_T h_handle, uint32_t u4Value);
/* The record in its MLN form (four texts). */
int32_t IQivPb_Ctrl_Set_DRM_Info(IQIV_PB_HANDLE_T h_handle, IQIV_PB_CTRL_DRM_INFO_T *pt_drm_inf);

#pragma GCC visibility pop

#if UINTPTR_MAX == 0xFFFFFFFF
#ifdef __cplusplus
#define QIVPB_EXT_ASSERT(c, m) static_assert(c, m)
#else
#define QIVPB_EXT_ASSERT(c, m) _Static_assert(c, m)
#endif
QIVPB_EXT_ASSERT(sizeof(IQIV_PB_CTRL_SUBSAMPLE_T) == 12, "sub-sample: three words");
QIVPB_EXT_ASSERT(sizeof(IQIV_PB_CTRL_ENCRYPT_SEG_T) == 44, "segment: 44 bytes");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENCRYPT_SEG_T, u4Value) == 32, "segment value at 32");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENCRYPT_SEG_T, u4SubSampleNum) == 36, "sub-sample count at 36");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENCRYPT_SEG_T, ptSubSample) == 40, "sub-samples at 40");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENCRYPT_INFO_T, u2SegNum) == 4, "segment count at 4");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_ENCRYPT_INFO_T, ptSeg) == 8, "segments at 8");
QIVPB_EXT_ASSERT(sizeof(IQIV_PB_CTRL_SNAPSHOT_DESC_T) == 32, "snapshot description: 32 bytes");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_SNAPSHOT_DESC_T, uY) == 16, "Y at 16");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_SNAPSHOT_DESC_T, uC) == 24, "C at 24");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T, uY) == 24, "second form: Y at 24");
QIVPB_EXT_ASSERT(__builtin_offsetof(IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T, u4CSize) == 36, "second form: C size at 36");
QIVPB_EXT_ASSERT(sizeof(IQIV_PB_CTRL_SHARE_MEM_T) == 12, "shared memory record: 12 bytes");
QIVPB_EXT_ASSERT(IQIV_PB_CTRL_ENCRYPT_MEM_HEAD + IQIV_PB_CTRL_ENCRYPT_MAX_SEGS * IQIV_PB_CTRL_ENCRYPT_MEM_SEG_BYTES ==
                     IQIV_PB_CTRL_ENCRYPT_MEM_SIZE,
                 "encryption memory: head and 2048 segments");
#undef QIVPB_EXT_ASSERT
#endif

#ifdef __cplusplus
}
#endif

#endif
