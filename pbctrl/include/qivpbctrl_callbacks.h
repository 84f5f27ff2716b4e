/*
 * libqivpbctrl: the application's functions the engine reaches through the
 * library's call-back handlers (pull mode, subpicture data).
 */
#ifndef QIVPBCTRL_CALLBACKS_H
#define QIVPBCTRL_CALLBACKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Ends an asynchronous pull read: (condition, the tag given with the read,
 * bytes read, a value of the application's). */
typedef int32_t (*IQIV_PB_CTRL_PULL_NFY_FCT)(uint8_t e_cond, void *pv_tag, uint32_t ui4_data1, uint32_t ui4_data2);

/* Pull mode: the engine reads the media through these functions of the
 * application; every one returns 0 on success in its low 8 bits. */
typedef int32_t (*IQIV_PB_CTRL_PULL_OPEN_FCT)(uint32_t h_pb, uint32_t *ph_pull, void *pv_app_tag);
typedef int32_t (*IQIV_PB_CTRL_PULL_CLOSE_FCT)(uint32_t h_pull, void *pv_app_tag);
typedef int32_t (*IQIV_PB_CTRL_PULL_READ_FCT)(uint32_t h_pull, void *pv_app_tag, void *pv_buf, uint32_t ui4_len,
                                              uint32_t *pui4_read);
typedef int32_t (*IQIV_PB_CTRL_PULL_READ_ASYNC_FCT)(uint32_t h_pull, void *pv_app_tag, void *pv_buf, uint32_t ui4_len,
                                                    IQIV_PB_CTRL_PULL_NFY_FCT pf_nfy, void *pv_nfy_tag,
                                                    uint32_t *pui4_req_id);
typedef int32_t (*IQIV_PB_CTRL_PULL_ABORT_READ_FCT)(uint32_t h_pull, void *pv_app_tag, uint32_t ui4_req_id);
typedef int32_t (*IQIV_PB_CTRL_PULL_BYTESEEK_FCT)(uint32_t h_pull, void *pv_app_tag, uint64_t ui8_offset,
                                                  uint8_t ui1_origin, uint64_t *pui8_cur_pos);
typedef int32_t (*IQIV_PB_CTRL_PULL_GET_INPUT_LEN_FCT)(uint32_t h_pull, void *pv_app_tag, uint64_t *pui8_len);

/* Origins of a byte seek. */
#define IQIV_PB_CTRL_SEEK_SET 0
#define IQIV_PB_CTRL_SEEK_CUR 1
#define IQIV_PB_CTRL_SEEK_END 2

/* Given to the application's asynchronous read; exported so that the
 * engine-facing completion has one name. */
int32_t _IQivPb_Ctrl_Pull_Nfy_Fct(uint8_t e_cond, void *pv_tag, uint32_t ui4_data1, uint32_t ui4_data2);

/* Other call-backs: (a, b) of a PCM upload; the DASH entry query. */
typedef int32_t (*IQIV_PB_CTRL_PCM_UPLOAD_FCT)(uint32_t ui4_a, uint32_t ui4_b);
/* Starts the engine's PCM upload to pf_nfy (kept in a push playback's slot). */
int32_t IQivPb_Ctrl_Start_PcmUpload_cb(uint32_t h_pb, void *pv_tag, IQIV_PB_CTRL_PCM_UPLOAD_FCT pf_nfy);
int32_t IQivPb_Ctrl_Stop_PcmUpload_cb(uint32_t h_pb);
typedef int32_t (*IQIV_PB_CTRL_DASH_ENTRY_FCT)(uint32_t ui4_a, uint32_t ui4_b, uint32_t ui4_c, uint64_t ui8_d,
                                               uint64_t ui8_e, uint32_t ui4_e_low);

/* A TS filter's buffer, mapped for the application when the engine
 * allocates it: (playback handle, value, buffer, value). */
typedef struct {
    void *pv_addr;
    uint32_t ui4_size;
} IQIV_PB_CTRL_FILTER_BUF_T;
typedef int32_t (*IQIV_PB_CTRL_FILTER_ALLOC_FCT)(uint32_t h_pb, uint32_t ui4_value, IQIV_PB_CTRL_FILTER_BUF_T *pt_buf,
                                                 uint32_t ui4_value2);

/* Subpicture data handed to the application: the engine's values, and
 * the data, valid during the call. */
typedef struct {
    uint8_t ui1_kind;
    uint8_t aui1_reserved[7];
    uint32_t au4_value[11];
    void *pv_data;
    uint32_t ui4_value;
    uint16_t ui2_value;
} IQIV_PB_CTRL_SP_DATA_T;
typedef int32_t (*IQIV_PB_CTRL_SP_NFY_FCT)(uint32_t h_pb, uint8_t ui1_value, uint32_t ui4_value,
                                           IQIV_PB_CTRL_SP_DATA_T *pt_data);

int32_t IQivPb_Ctrl_RegSpCallback(uint32_t h_pb, void *pv_tag, IQIV_PB_CTRL_SP_NFY_FCT pf_nfy);
/* Gives the engine back every subpicture up to the one whose data is pv_data. */
int32_t IQivPb_Ctrl_SpDataRelease(uint32_t h_pb, uint32_t ui4_value, void *pv_data);

/* Encoder buffers: audio (stream type 0) and video frames (1). */
#define IQIV_PB_CTRL_ENC_STRM_AUDIO 0
#define IQIV_PB_CTRL_ENC_STRM_VIDEO 1
typedef struct {
    uint32_t ui4_first;
    void *pv_buf;
    uint32_t ui4_len;
} IQIV_PB_CTRL_ENC_AUDIO_BUF_T;
typedef struct {
    void *pv_buf1;
    uint32_t ui4_len1;
    void *pv_buf2; /* NULL: one buffer only */
    uint32_t ui4_len2;
    uint32_t au4_info[6];
    uint32_t au4_reserved[2];
    uint32_t au4_frame[6];
    uint32_t au4_reserved2[2];
    uint32_t ui4_frame7;
    uint32_t ui4_reserved3;
} IQIV_PB_CTRL_ENC_VIDEO_FRAME_T;
typedef struct {
    uint32_t ui4_count;
    IQIV_PB_CTRL_ENC_VIDEO_FRAME_T *pt_frames;
} IQIV_PB_CTRL_ENC_VIDEO_BUF_T;
/* (value, stream type, IQIV_PB_CTRL_ENC_AUDIO_BUF_T or _VIDEO_BUF_T) */
typedef int32_t (*IQIV_PB_CTRL_ENC_BUF_FCT)(uint32_t ui4_value, uint32_t e_strm_type, void *pv_desc);

int32_t IQivPb_Ctrl_Ext_SetEncBufferParm(uint32_t h_pb, IQIV_PB_CTRL_ENC_BUF_FCT pf_nfy, void *pv_tag);
/* pv_desc: the IQIV_PB_CTRL_ENC_AUDIO_BUF_T or IQIV_PB_CTRL_ENC_VIDEO_FRAME_T received. */
int32_t IQivPb_Ctrl_Ext_FreeEncCbBuffer(uint32_t h_pb, uint32_t e_strm_type, const void *pv_desc);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
