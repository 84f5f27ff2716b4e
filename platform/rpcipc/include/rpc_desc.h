/*
 * Descriptor table of the records that cross the transport.
 *
 * A descriptor gives a record's size and the offsets of its pointer
 * members. Records holding a union have one variant per union member,
 * chosen by the member name given at registration ("uBufferModelParam.tUriInfo").
 * A name that matches no variant selects the record's own variant (names
 * such as "pv_get_info" only label the argument); a pure union has none,
 * so an unknown member name is refused there.
 */
#ifndef RPC_DESC_H
#define RPC_DESC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Everything declared here is the library's exported API; the rest of it is hidden. */
#pragma GCC visibility push(default)

/* The numbers of the records, shared with the engine: never renumber. */
enum {
    RPC_DESC_TS_VIDEO_INFO = 22,
    RPC_DESC_TS_AUDIO_INFO = 23,
    RPC_DESC_DISC_TIME = 24,
    RPC_DESC_RECT = 25,
    RPC_DESC_MEDIA_INFO = 68,
    RPC_DESC_CHANGE_AUDIO = 69,
    RPC_DESC_CHANGE_VIDEO = 70,
    RPC_DESC_AUD_TRACK_INFO = 78,
    RPC_DESC_AUD_TRACK_EXT = 80,
    RPC_DESC_CUR_AUD_TRACK_INFO_EX = 81,
    RPC_DESC_AUD_TRACK_INFO_EX = 82,
    RPC_DESC_VID_TRACK_INFO = 83,
    RPC_DESC_VID_TRACK_INFO_EX = 84,
    RPC_DESC_BUFFER_STATUS = 85,
    RPC_DESC_BUF_NFY_THRD = 86,
    RPC_DESC_EXTRA_INFO_PARAM_U = 96,
    RPC_DESC_EXTRA_INFO = 97,
    RPC_DESC_PLAY_PARAM = 98,
    RPC_DESC_CA_CERT_INFO = 99,
    RPC_DESC_CLIENT_CERT_INFO = 100,
    RPC_DESC_GET_INFO = 103,
    RPC_DESC_DRM_INFO_U = 107,
    RPC_DESC_DRM_INFO = 108,
    RPC_DESC_TEXT_INFO = 114,
    RPC_DESC_GET_INFO_EX = 115,
    RPC_DESC_MP3_COVER_INFO = 118,
    RPC_DESC_ENCRYPT_INFO = 135,
    RPC_DESC_PTS_ADJ = 140,
    RPC_DESC_SET_INFO = 143,
    RPC_DESC_SUBTITLE_INFO_PARAM_U = 156,
    RPC_DESC_SUBTITLE_INFO = 157,
    RPC_DESC_SUBTITLE_ATTR = 170,
    RPC_DESC_SP_INFO = 171,
    RPC_DESC_TS_FILTER_MODIFY = 173,
    RPC_DESC_TS_FILTER_PARAM = 174,
    RPC_DESC_DISC_LANG_CODE = 176,
    RPC_DESC_FEATURE_PARAM_U = 188,
    RPC_DESC_FEATURE_PARAM = 189,
    RPC_DESC_FEATURE_CMD = 191,
    RPC_DESC_FEATURE_INFO = 195,
    RPC_DESC_SP_TRACK_INFO = 200,
    RPC_DESC_PLAY_MODE = 201,
    RPC_DESC_AVIN_INFO = 205,
    RPC_DESC_PARSED_MEDIA_INFO = 240,
    RPC_DESC_PLAY_EX = 253,
    RPC_DESC_PAUSE_EX = 254,
    RPC_DESC_TIME_SEEK_EX = 255,
    RPC_DESC_PLAY_MODE_EX = 256,
    RPC_DESC_CMD = 264,
    RPC_DESC_BUF_MODEL_PARAM_U = 272,
    RPC_DESC_ENGINE_PARAM = 273,
    RPC_DESC_SHARE_MEM = 275,
    RPC_DESC_PULL_SUBST_INFO = 279,
    RPC_DESC_PULL_PARAM = 280,
    RPC_DESC_MEM_SLICE_INFO = 281,
    RPC_DESC_ENC_PARAM = 282,
    RPC_DESC_SNAPSHOT_PARAM = 296,
    RPC_DESC_SP_RELEASE = 298,
    RPC_DESC_ENC_VIDEO_FREE = 299,
    RPC_DESC_ENC_AUDIO_FREE = 301,
    RPC_DESC_SNAPSHOT_DESC = 304,
    RPC_DESC_SNAPSHOT_DESC_EXT = 305,
};

typedef struct {
    const char *ps_member; /* NULL: the record itself */
    uint32_t ui4_num_ptrs;
    const uint32_t *pui4_ptr_offs;
} RPC_DESC_VARIANT_T;

typedef struct {
    uint32_t ui4_num;
    const char *ps_type;
    uint32_t z_size;
    uint32_t ui4_num_variants;
    const RPC_DESC_VARIANT_T *pt_variants;
} RPC_DESC_T;

/* NULL for a number that is not in the table. */
const RPC_DESC_T *__rpc_get_desc__(uint32_t ui4_num);
uint32_t rpc_desc_count(void);
const RPC_DESC_T *rpc_desc_at(uint32_t ui4_index);
/* The variant a registration with this member name uses, or NULL. */
const RPC_DESC_VARIANT_T *rpc_desc_variant(const RPC_DESC_T *pt_desc, const char *ps_member);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
