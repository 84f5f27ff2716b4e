/*
 * Records exchanged with the playback engine and the misc service, by
 * descriptor number (the number is in each record's comment). Addresses and
 * functions are pointer-width; the offsets in the comments hold on the
 * board (ILP32) and are checked there.
 */
#ifndef QIV_RECORDS_H
#define QIV_RECORDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 22 */
typedef struct {
    uint32_t u4Pid;
    uint32_t eCodec;
    uint32_t u4StreamId;
    uint32_t u4Reserved;
} IQIV_PB_CTRL_TS_VIDEO_INFO_T;

/* 23 */
typedef struct {
    uint32_t u4Pid;
    uint32_t eCodec;
    uint32_t u4StreamId;
    uint32_t u4Reserved;
} IQIV_PB_CTRL_TS_AUDIO_INFO_T;

/* 24 */
typedef struct {
    uint32_t u4Hour;
    uint32_t u4Minute;
    uint32_t u4Second;
    uint32_t u4Frame;
} IQIV_PB_DISC_TIME_T;

/* 25 */
typedef struct {
    uint32_t u4X;
    uint32_t u4Y;
    uint32_t u4W;
    uint32_t u4H;
} IQIV_PB_CTRL_RECT_T;

/* 68 (set, get) and 240 (parse): codec data at 204, length at 200. */
typedef struct {
    uint32_t eMediaType;
    uint32_t au4Reserved1[44];
    uint32_t eAudioCodec; /* 180 */
    uint32_t au4Reserved2[4];
    uint16_t u2CodecPrivLen; /* 200 */
    uint16_t u2Reserved;
    uint8_t *pu1CodecPriv; /* 204; a kernel block handle for Ogg Vorbis */
} IQIV_PB_CTRL_MEDIA_INFO_T;

/* 69 */
typedef struct {
    uint32_t u4Pid;
    uint32_t eCodec;
    uint32_t u4TrackIdx;
    uint32_t u4Reserved;
} IQIV_PB_CTRL_CHANGE_AUDIO_T;

/* 70 */
typedef struct {
    uint32_t u4Pid;
    uint32_t eCodec;
    uint32_t u4TrackIdx;
    uint32_t u4Reserved;
} IQIV_PB_CTRL_CHANGE_VIDEO_T;

/* 78 */
typedef struct {
    uint32_t eCodec;
    uint32_t u4SampleRate;
    uint32_t u4Channels;
    uint32_t u4BitRate;
    uint32_t u4Pid;
    uint8_t au1Lang[4];
} IQIV_PB_CTRL_AUD_TRACK_INFO_T;

/* 80: the inner record of 81 and 82 */
typedef struct {
    uint8_t *pu1Title;
    uint32_t u4TitleLen;
    uint32_t u4Flags;
} IQIV_PB_CTRL_AUD_TRACK_EXT_T;

/* 81 */
typedef struct {
    uint32_t u4TrackIdx;
    IQIV_PB_CTRL_AUD_TRACK_INFO_T tInfo;
    IQIV_PB_CTRL_AUD_TRACK_EXT_T tExt;
} IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T;

/* 82 */
typedef struct {
    IQIV_PB_CTRL_AUD_TRACK_INFO_T tInfo;
    IQIV_PB_CTRL_AUD_TRACK_EXT_T tExt;
} IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T;

/* 83 */
typedef struct {
    uint32_t eCodec;
    uint32_t u4Width;
    uint32_t u4Height;
    uint32_t u4FrameRate;
    uint32_t u4BitRate;
    uint32_t u4Pid;
} IQIV_PB_CTRL_VID_TRACK_INFO_T;

/* 84 */
typedef struct {
    IQIV_PB_CTRL_VID_TRACK_INFO_T tInfo;
    uint32_t u4AspectRatio;
    uint32_t u4ScanType;
    uint32_t au4Reserved[2];
} IQIV_PB_CTRL_VID_TRACK_INFO_EX_T;

/* 85: the four words printed after a good call */
typedef struct {
    uint32_t u4BufSize;
    uint32_t u4DataSize;
    uint32_t u4FreeSize;
    uint32_t u4Threshold;
} IQIV_PB_CTRL_BUFFER_STATUS_T;

/* 86 */
typedef struct {
    uint32_t u4HighThrd;
    uint32_t u4LowThrd;
} IQIV_PB_CTRL_BUF_NFY_THRD_T;

/* 96 is the union uExtraInfoParam; its tStreamInfo holds a text at 4. */
typedef struct {
    uint32_t u4StreamType;
    char *pcInfo;
    uint32_t u4InfoLen;
} IQIV_PB_CTRL_STREAM_INFO_T;

typedef union {
    IQIV_PB_CTRL_STREAM_INFO_T tStreamInfo;
    uint32_t au4Raw[8];
} IQIV_PB_CTRL_EXTRA_INFO_PARAM_U;

/* 97: type at 0, the union at 8 (its text at 12) */
typedef struct {
    uint32_t eExtraInfoType;
    uint32_t u4Reserved;
    IQIV_PB_CTRL_EXTRA_INFO_PARAM_U uExtraInfoParam;
} IQIV_PB_CTRL_EXTRA_INFO_T;

/* 98 */
typedef struct {
    uint32_t u4Speed;
    uint32_t u4Position;
    uint32_t u4Duration;
    uint32_t u4State;
} IQIV_PB_CTRL_PLAY_PARAM_T;

/* 99 */
typedef struct {
    uint8_t *pu1CAFile;
    uint8_t *pu1CAPath;
} IQIV_PB_CTRL_CA_CERT_INFO_T;

/* 100 */
typedef struct {
    uint8_t *pu1ClientCert;
    uint8_t *pu1PrvKey;
} IQIV_PB_CTRL_CLIENT_CERT_INFO_T;

/* 103 (generic get type 1) and 115 (type 16) */
typedef struct {
    uint32_t au4Value[8];
} IQIV_PB_CTRL_GET_INFO_T;

/* 107 is the union u of 108: four texts, or one raw text */
typedef struct {
    char *pcLicenseUrl; /* 108: 4 */
    uint32_t u4LicenseUrlLen;
    char *pcCustomData; /* 12 */
    uint32_t u4CustomDataLen;
    char *pcContentId; /* 20 */
    uint32_t u4ContentIdLen;
    char *pcKeyId; /* 28 */
    uint32_t u4KeyIdLen;
} IQIV_PB_CTRL_MLN_DRM_INFO_T;

typedef struct {
    uint32_t u4InfoLen;
    char *pcInfo; /* 108: 8 */
} IQIV_PB_CTRL_RAW_DRM_INFO_T;

typedef union {
    IQIV_PB_CTRL_MLN_DRM_INFO_T t_mln_drm_inf;
    IQIV_PB_CTRL_RAW_DRM_INFO_T t_raw_drm_info;
} IQIV_PB_CTRL_DRM_INFO_U;

/* 108 */
typedef struct {
    uint32_t e_drm_type;
    IQIV_PB_CTRL_DRM_INFO_U u; /* 4 */
} IQIV_PB_CTRL_DRM_INFO_T;

/* 114 (generic get type 15): seven texts at 44 to 68 */
typedef struct {
    uint32_t au4Value[11];
    char *apcText[7];
} IQIV_PB_CTRL_TEXT_INFO_T;

/* 118: cover picture */
typedef struct {
    uint32_t eFormat;
    uint32_t u4Width;
    uint32_t u4Height;
    uint32_t u4LenOrHandle; /* 12 */
    uint8_t *pu1Dest;       /* 16 */
} IQIV_PB_CTRL_MP3_COVER_INFO_T;

/* 135 */
typedef struct {
    uint32_t eType;
    uint16_t u2SegNum; /* 4 */
    uint16_t u2Reserved;
    void *ptSeg; /* 8 */
} IQIV_PB_CTRL_ENCRYPT_INFO_T;

/* 140 */
typedef struct {
    uint8_t fgEnableAudPtsAdj;
    uint8_t fgAudIncrease;
    uint32_t u4AudAdjValue; /* 4 */
    uint8_t fgEnableVidPtsAdj;
    uint8_t fgVidIncrease;
    uint32_t u4VidAdjValue; /* 12 */
} IQIV_PB_CTRL_PTS_ADJ_T;

/* 143 (set type 9) */
typedef struct {
    uint32_t au4Value[4];
} IQIV_PB_CTRL_SET_INFO_T;

/* 156 is the union uSubtitleInfoParam; rTtmlUrlInfo holds a text at 0. */
typedef struct {
    char *pcUrl;
    uint32_t u4UrlLen;
} IQIV_PB_CTRL_TTML_URL_INFO_T;

typedef union {
    IQIV_PB_CTRL_TTML_URL_INFO_T rTtmlUrlInfo;
    uint32_t au4Raw[8];
} IQIV_PB_CTRL_SUBTITLE_INFO_PARAM_U;

/* 157 */
typedef struct {
    uint32_t eSubtitleType;
    uint32_t u4TrackIdx;
    IQIV_PB_CTRL_SUBTITLE_INFO_PARAM_U uSubtitleInfoParam; /* 8 */
} IQIV_PB_CTRL_SUBTITLE_INFO_T;

/* 170 */
typedef struct {
    uint32_t u4FontSize;
    uint32_t u4FgColor;
    uint32_t u4BgColor;
    uint32_t u4Position;
} IQIV_PB_CTRL_SUBTITLE_ATTR_T;

/* 171 */
typedef struct {
    uint32_t u4Width;
    uint32_t u4Height;
    uint32_t u4Format;
    uint32_t u4Reserved;
} IQIV_PB_CTRL_SP_INFO_T;

/* 173 */
typedef struct {
    uint32_t u4Pid;
    uint8_t au1Match[16];
    uint8_t au1Mask[16];
} IQIV_PB_CTRL_TS_FILTER_MODIFY_T;

/* 174 */
typedef struct {
    uint32_t u4Pid;
    uint32_t eFilterType;
    uint32_t u4BufSize;
    uint8_t au1Match[16];
    uint8_t au1Mask[16];
} IQIV_PB_CTRL_TS_FILTER_PARAM_T;

/* 176 */
typedef struct {
    uint8_t au1LangCode[4];
} IQIV_PB_DISC_LANG_CODE_T;

/* 188 is the union uFeatureParam of 189 */
typedef struct {
    char *pcUrl; /* 189: 4 */
    uint32_t u4UrlLen;
    char *pcKeyUrl; /* 12 */
    uint32_t u4KeyUrlLen;
    char *pcCookie; /* 20 */
    uint32_t u4CookieLen;
    char *pcUserAgent; /* 28 */
    uint32_t u4UserAgentLen;
    char *pcReferer; /* 36 */
    uint32_t u4RefererLen;
    char *pcProxy; /* 44 */
    uint32_t u4ProxyLen;
    char *pcHeader; /* 52 */
    uint32_t u4HeaderLen;
    uint8_t *pu1Buf;   /* 60 */
    uint32_t u4BufLen; /* 64 */
} IQIV_PB_CTRL_HLS_PARAM_T;

typedef struct {
    char *pcHost; /* 189: 4 */
    char *pcPort; /* 8 */
} IQIV_PB_CTRL_DTCP_PARAM_T;

typedef union {
    IQIV_PB_CTRL_HLS_PARAM_T tHlsParam;
    IQIV_PB_CTRL_DTCP_PARAM_T tDtcpParam;
} IQIV_PB_CTRL_FEATURE_PARAM_U;

/* 189 */
typedef struct {
    uint32_t eFeatureType;                      /* 1 HLS, 2 DTCP */
    IQIV_PB_CTRL_FEATURE_PARAM_U uFeatureParam; /* 4 */
} IQIV_PB_CTRL_FEATURE_PARAM_T;

/* 191 */
typedef struct {
    uint32_t eFeatureName;
    uint32_t au4Param[3];
} IQIV_PB_CTRL_FEATURE_CMD_T;

/* 195 */
typedef struct {
    uint32_t eFeatureName;
    uint32_t au4Value[7];
} IQIV_PB_CTRL_FEATURE_INFO_T;

/* 200 */
typedef struct {
    uint32_t u4TrackIdx;
    uint32_t eType;
    uint8_t au1Lang[4];
    uint32_t u4Reserved;
} IQIV_PB_CTRL_SP_TRACK_INFO_T;

/* 201 */
typedef struct {
    uint32_t ePlayMode;
    uint32_t u4Param;
} IQIV_PB_CTRL_PLAY_MODE_T;

/* 205 */
typedef struct {
    uint32_t u4Width;
    uint32_t u4Height;
    uint32_t u4FrameRate;
    uint32_t u4Interlaced;
    uint32_t u4AudioRate;
    uint32_t u4AudioChannels;
} IQIV_PB_CTRL_AVIN_INFO_T;

/* 253 */
typedef struct {
    uint32_t u4StartTime;
    uint32_t u4Flags;
} IQIV_PB_CTRL_PLAY_EX_T;

/* 254 */
typedef struct {
    uint32_t u4Flags;
    uint32_t u4Reserved;
} IQIV_PB_CTRL_PAUSE_EX_T;

/* 255 */
typedef struct {
    uint32_t u4Flags;
    uint32_t u4Accuracy;
} IQIV_PB_CTRL_TIME_SEEK_EX_T;

/* 256 */
typedef struct {
    uint32_t ePlayMode;
    uint32_t u4Speed;
    uint32_t u4Flags;
} IQIV_PB_CTRL_PLAY_MODE_EX_T;

/* 264 */
typedef struct {
    uint32_t u4Cmd;
    uint32_t au4Param[3];
} IQIV_PB_CTRL_CMD_T;

/* 272 is the union uBufferModelParam of 273 */
typedef struct {
    uint32_t u4UrlLen;
    char *pcUrl; /* 273: 12 */
} IQIV_PB_CTRL_URI_INFO_T;

typedef struct {
    uint32_t u4Flags;
    char *pcPath; /* 273: 12 */
} IQIV_PB_CTRL_DISC_INFO_T;

typedef struct {
    void *pvAppTag;
    void *pfOpen;
    void *pfClose;
    void *pfRead;
    void *pfReadAsync;
    void *pfAbortRead;
    void *pfByteSeek;
    void *pfGetInputLen;
} IQIV_PB_CTRL_PULL_INFO_T;

typedef struct {
    uint32_t au4Value1[4];
    char *pcMpdUrl; /* 273: 24 */
    uint32_t au4Value2[4];
    void *ptEntries;     /* 273: 44, 8 bytes per entry */
    uint32_t u4EntryNum; /* 273: 48 */
} IQIV_PB_CTRL_DASH_INFO_T;

typedef union {
    IQIV_PB_CTRL_URI_INFO_T tUriInfo;
    IQIV_PB_CTRL_DISC_INFO_T tDiscInfo;
    IQIV_PB_CTRL_PULL_INFO_T tPullInfo;
    IQIV_PB_CTRL_DASH_INFO_T tDashInfo;
} IQIV_PB_CTRL_BUF_MODEL_PARAM_U;

/* 273 */
typedef struct {
    uint32_t u4Word0;
    uint32_t u4Word1;
    IQIV_PB_CTRL_BUF_MODEL_PARAM_U uBufferModelParam; /* 8 */
} IQIV_PB_CTRL_ENGINE_PARAM_T;

/* 275 */
typedef struct {
    uint32_t eMemType;
    uint32_t u4MemSize;
    uint32_t hMemHandle;
} IQIV_PB_CTRL_SHARE_MEM_T;

/* 279: the member at 4 of 280; its first word is the client's tag */
typedef struct {
    void *pvTag;
    uint32_t au4Zero[9];
} IQIV_PB_CTRL_PULL_SUBST_INFO_T;

/* 280: the 44-byte substitute engine parameter of pull mode */
typedef struct {
    uint32_t u4Word0;
    IQIV_PB_CTRL_PULL_SUBST_INFO_T tPullInfo; /* 4 */
} IQIV_PB_CTRL_PULL_PARAM_T;

/* 281 */
typedef struct {
    uint32_t u4SliceNum;
    uint32_t u4SliceSize;
} IQIV_PB_CTRL_MEM_SLICE_INFO_T;

/* 282 */
typedef struct {
    uint32_t eEncType;
    uint32_t u4Width;
    uint32_t u4Height;
    uint32_t u4FrameRate;
    uint32_t u4BitRate;
    uint32_t u4GopSize;
} IQIV_PB_CTRL_ENC_PARAM_T;

/* 296 */
typedef struct {
    uint32_t u4Format;
    uint32_t u4Width;
    uint32_t u4Height;
    uint32_t u4Quality;
} IQIV_PB_CTRL_SNAPSHOT_PARAM_T;

/* 298 */
typedef struct {
    uint32_t hMemHandle;
    uint32_t u4Offset;
} IQIV_PB_CTRL_SP_RELEASE_T;

/* 299: buffer 1 and 2 of a video frame, then zeroes (88 bytes) */
typedef struct {
    uint32_t au4Buf1[3]; /* memory handle, offset, length */
    uint32_t au4Buf2[3];
    uint32_t au4Reserved[16];
} IQIV_PB_CTRL_ENC_VIDEO_FREE_T;

/* 301 */
typedef struct {
    uint32_t u4First;
    uint32_t hMemHandle;
    uint32_t u4Offset;
    uint32_t u4Length;
} IQIV_PB_CTRL_ENC_AUDIO_FREE_T;

/* 304: the Y and C fields hold a local address or an engine handle */
typedef struct {
    uint32_t au4Value[3];
    uint32_t u4Reserved;
    uintptr_t uY;     /* 16 */
    uint32_t u4YSize; /* 20 */
    uintptr_t uC;     /* 24 */
    uint32_t u4CSize; /* 28 */
} IQIV_PB_CTRL_SNAPSHOT_DESC_T;

/* 305 */
typedef struct {
    uint32_t au4Value[6];
    uintptr_t uY;     /* 24 */
    uint32_t u4YSize; /* 28 */
    uintptr_t uC;     /* 32 */
    uint32_t u4CSize; /* 36 */
} IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T;

#ifdef __cplusplus
}
#endif

#endif
