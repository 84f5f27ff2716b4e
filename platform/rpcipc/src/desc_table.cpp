// The one descriptor table, shared by the client and the engine side.
#include "qiv_records.h"
#include "rpc_desc.h"

#include "common/abi.h"

#include <cstddef>
#include <cstring>

namespace {

#define OFF(T, m) static_cast<uint32_t>(offsetof(T, m))
#define COUNT(a) static_cast<uint32_t>(sizeof(a) / sizeof((a)[0]))

// The record's own variant without pointer members.
const RPC_DESC_VARIANT_T kPlain[] = {{nullptr, 0, nullptr}};

// clang-format off
#define PLAIN(num, T) {num, #T, sizeof(T), 1, kPlain}
#define WITH(num, T, variants) {num, #T, sizeof(T), COUNT(variants), variants}
// clang-format on

const uint32_t kMediaPtrs[] = {OFF(IQIV_PB_CTRL_MEDIA_INFO_T, pu1CodecPriv)};
const RPC_DESC_VARIANT_T kMedia[] = {{nullptr, COUNT(kMediaPtrs), kMediaPtrs}};

const uint32_t kTrackExtPtrs[] = {OFF(IQIV_PB_CTRL_AUD_TRACK_EXT_T, pu1Title)};
const RPC_DESC_VARIANT_T kTrackExt[] = {{nullptr, COUNT(kTrackExtPtrs), kTrackExtPtrs}};
const uint32_t kCurTrackExPtrs[] = {OFF(IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T, tExt.pu1Title)};
const RPC_DESC_VARIANT_T kCurTrackEx[] = {{nullptr, COUNT(kCurTrackExPtrs), kCurTrackExPtrs}};
const uint32_t kTrackExPtrs[] = {OFF(IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T, tExt.pu1Title)};
const RPC_DESC_VARIANT_T kTrackEx[] = {{nullptr, COUNT(kTrackExPtrs), kTrackExPtrs}};

const uint32_t kStreamInfoPtrs[] = {OFF(IQIV_PB_CTRL_EXTRA_INFO_PARAM_U, tStreamInfo.pcInfo)};
const RPC_DESC_VARIANT_T kExtraInfoParam[] = {{"uExtraInfoParam.tStreamInfo", COUNT(kStreamInfoPtrs), kStreamInfoPtrs}};

const uint32_t kCaCertPtrs[] = {OFF(IQIV_PB_CTRL_CA_CERT_INFO_T, pu1CAFile),
                                OFF(IQIV_PB_CTRL_CA_CERT_INFO_T, pu1CAPath)};
const RPC_DESC_VARIANT_T kCaCert[] = {{nullptr, COUNT(kCaCertPtrs), kCaCertPtrs}};
const uint32_t kClientCertPtrs[] = {OFF(IQIV_PB_CTRL_CLIENT_CERT_INFO_T, pu1ClientCert),
                                    OFF(IQIV_PB_CTRL_CLIENT_CERT_INFO_T, pu1PrvKey)};
const RPC_DESC_VARIANT_T kClientCert[] = {{nullptr, COUNT(kClientCertPtrs), kClientCertPtrs}};

const uint32_t kMlnDrmPtrs[] = {OFF(IQIV_PB_CTRL_DRM_INFO_U, t_mln_drm_inf.pcLicenseUrl),
                                OFF(IQIV_PB_CTRL_DRM_INFO_U, t_mln_drm_inf.pcCustomData),
                                OFF(IQIV_PB_CTRL_DRM_INFO_U, t_mln_drm_inf.pcContentId),
                                OFF(IQIV_PB_CTRL_DRM_INFO_U, t_mln_drm_inf.pcKeyId)};
const uint32_t kRawDrmPtrs[] = {OFF(IQIV_PB_CTRL_DRM_INFO_U, t_raw_drm_info.pcInfo)};
const RPC_DESC_VARIANT_T kDrmUnion[] = {{"u.t_mln_drm_inf", COUNT(kMlnDrmPtrs), kMlnDrmPtrs},
                                        {"u.t_raw_drm_info", COUNT(kRawDrmPtrs), kRawDrmPtrs}};

const uint32_t kTextInfoPtrs[] = {OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[0]), OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[1]),
                                  OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[2]), OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[3]),
                                  OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[4]), OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[5]),
                                  OFF(IQIV_PB_CTRL_TEXT_INFO_T, apcText[6])};
const RPC_DESC_VARIANT_T kTextInfo[] = {{nullptr, COUNT(kTextInfoPtrs), kTextInfoPtrs}};

const uint32_t kCoverPtrs[] = {OFF(IQIV_PB_CTRL_MP3_COVER_INFO_T, pu1Dest)};
const RPC_DESC_VARIANT_T kCover[] = {{nullptr, COUNT(kCoverPtrs), kCoverPtrs}};

const uint32_t kEncryptPtrs[] = {OFF(IQIV_PB_CTRL_ENCRYPT_INFO_T, ptSeg)};
const RPC_DESC_VARIANT_T kEncrypt[] = {{nullptr, COUNT(kEncryptPtrs), kEncryptPtrs}};

const uint32_t kTtmlPtrs[] = {OFF(IQIV_PB_CTRL_SUBTITLE_INFO_PARAM_U, rTtmlUrlInfo.pcUrl)};
const RPC_DESC_VARIANT_T kSubtitleParam[] = {{"uSubtitleInfoParam.rTtmlUrlInfo", COUNT(kTtmlPtrs), kTtmlPtrs}};

#define HLS(m) OFF(IQIV_PB_CTRL_FEATURE_PARAM_U, tHlsParam.m)
const uint32_t kHlsPtrs[] = {HLS(pcUrl),     HLS(pcKeyUrl), HLS(pcCookie), HLS(pcUserAgent),
                             HLS(pcReferer), HLS(pcProxy),  HLS(pcHeader), HLS(pu1Buf)};
const uint32_t kDtcpPtrs[] = {OFF(IQIV_PB_CTRL_FEATURE_PARAM_U, tDtcpParam.pcHost),
                              OFF(IQIV_PB_CTRL_FEATURE_PARAM_U, tDtcpParam.pcPort)};
const RPC_DESC_VARIANT_T kFeatureParam[] = {{"uFeatureParam.tHlsParam", COUNT(kHlsPtrs), kHlsPtrs},
                                            {"uFeatureParam.tDtcpParam", COUNT(kDtcpPtrs), kDtcpPtrs}};

const uint32_t kUriPtrs[] = {OFF(IQIV_PB_CTRL_BUF_MODEL_PARAM_U, tUriInfo.pcUrl)};
const uint32_t kDiscPtrs[] = {OFF(IQIV_PB_CTRL_BUF_MODEL_PARAM_U, tDiscInfo.pcPath)};
const uint32_t kDashPtrs[] = {OFF(IQIV_PB_CTRL_BUF_MODEL_PARAM_U, tDashInfo.pcMpdUrl),
                              OFF(IQIV_PB_CTRL_BUF_MODEL_PARAM_U, tDashInfo.ptEntries)};
// The pull arm holds the application's tag and functions: values, not pointers to carry.
const RPC_DESC_VARIANT_T kBufModelParam[] = {{"uBufferModelParam.tUriInfo", COUNT(kUriPtrs), kUriPtrs},
                                             {"uBufferModelParam.tDiscInfo", COUNT(kDiscPtrs), kDiscPtrs},
                                             {"uBufferModelParam.tPullInfo", 0, nullptr},
                                             {"uBufferModelParam.tDashInfo", COUNT(kDashPtrs), kDashPtrs}};

const uint32_t kPullSubstInfoPtrs[] = {OFF(IQIV_PB_CTRL_PULL_SUBST_INFO_T, pvTag)};
const RPC_DESC_VARIANT_T kPullSubstInfo[] = {{nullptr, COUNT(kPullSubstInfoPtrs), kPullSubstInfoPtrs}};
const uint32_t kPullParamPtrs[] = {OFF(IQIV_PB_CTRL_PULL_PARAM_T, tPullInfo.pvTag)};
const RPC_DESC_VARIANT_T kPullParam[] = {{nullptr, COUNT(kPullParamPtrs), kPullParamPtrs}};

// Sorted by number.
const RPC_DESC_T kTable[] = {
    PLAIN(RPC_DESC_TS_VIDEO_INFO, IQIV_PB_CTRL_TS_VIDEO_INFO_T),
    PLAIN(RPC_DESC_TS_AUDIO_INFO, IQIV_PB_CTRL_TS_AUDIO_INFO_T),
    PLAIN(RPC_DESC_DISC_TIME, IQIV_PB_DISC_TIME_T),
    PLAIN(RPC_DESC_RECT, IQIV_PB_CTRL_RECT_T),
    WITH(RPC_DESC_MEDIA_INFO, IQIV_PB_CTRL_MEDIA_INFO_T, kMedia),
    PLAIN(RPC_DESC_CHANGE_AUDIO, IQIV_PB_CTRL_CHANGE_AUDIO_T),
    PLAIN(RPC_DESC_CHANGE_VIDEO, IQIV_PB_CTRL_CHANGE_VIDEO_T),
    PLAIN(RPC_DESC_AUD_TRACK_INFO, IQIV_PB_CTRL_AUD_TRACK_INFO_T),
    WITH(RPC_DESC_AUD_TRACK_EXT, IQIV_PB_CTRL_AUD_TRACK_EXT_T, kTrackExt),
    WITH(RPC_DESC_CUR_AUD_TRACK_INFO_EX, IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T, kCurTrackEx),
    WITH(RPC_DESC_AUD_TRACK_INFO_EX, IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T, kTrackEx),
    PLAIN(RPC_DESC_VID_TRACK_INFO, IQIV_PB_CTRL_VID_TRACK_INFO_T),
    PLAIN(RPC_DESC_VID_TRACK_INFO_EX, IQIV_PB_CTRL_VID_TRACK_INFO_EX_T),
    PLAIN(RPC_DESC_BUFFER_STATUS, IQIV_PB_CTRL_BUFFER_STATUS_T),
    PLAIN(RPC_DESC_BUF_NFY_THRD, IQIV_PB_CTRL_BUF_NFY_THRD_T),
    WITH(RPC_DESC_EXTRA_INFO_PARAM_U, IQIV_PB_CTRL_EXTRA_INFO_PARAM_U, kExtraInfoParam),
    PLAIN(RPC_DESC_EXTRA_INFO, IQIV_PB_CTRL_EXTRA_INFO_T),
    PLAIN(RPC_DESC_PLAY_PARAM, IQIV_PB_CTRL_PLAY_PARAM_T),
    WITH(RPC_DESC_CA_CERT_INFO, IQIV_PB_CTRL_CA_CERT_INFO_T, kCaCert),
    WITH(RPC_DESC_CLIENT_CERT_INFO, IQIV_PB_CTRL_CLIENT_CERT_INFO_T, kClientCert),
    PLAIN(RPC_DESC_GET_INFO, IQIV_PB_CTRL_GET_INFO_T),
    WITH(RPC_DESC_DRM_INFO_U, IQIV_PB_CTRL_DRM_INFO_U, kDrmUnion),
    PLAIN(RPC_DESC_DRM_INFO, IQIV_PB_CTRL_DRM_INFO_T),
    WITH(RPC_DESC_TEXT_INFO, IQIV_PB_CTRL_TEXT_INFO_T, kTextInfo),
    PLAIN(RPC_DESC_GET_INFO_EX, IQIV_PB_CTRL_GET_INFO_T),
    WITH(RPC_DESC_MP3_COVER_INFO, IQIV_PB_CTRL_MP3_COVER_INFO_T, kCover),
    WITH(RPC_DESC_ENCRYPT_INFO, IQIV_PB_CTRL_ENCRYPT_INFO_T, kEncrypt),
    PLAIN(RPC_DESC_PTS_ADJ, IQIV_PB_CTRL_PTS_ADJ_T),
    PLAIN(RPC_DESC_SET_INFO, IQIV_PB_CTRL_SET_INFO_T),
    WITH(RPC_DESC_SUBTITLE_INFO_PARAM_U, IQIV_PB_CTRL_SUBTITLE_INFO_PARAM_U, kSubtitleParam),
    PLAIN(RPC_DESC_SUBTITLE_INFO, IQIV_PB_CTRL_SUBTITLE_INFO_T),
    PLAIN(RPC_DESC_SUBTITLE_ATTR, IQIV_PB_CTRL_SUBTITLE_ATTR_T),
    PLAIN(RPC_DESC_SP_INFO, IQIV_PB_CTRL_SP_INFO_T),
    PLAIN(RPC_DESC_TS_FILTER_MODIFY, IQIV_PB_CTRL_TS_FILTER_MODIFY_T),
    PLAIN(RPC_DESC_TS_FILTER_PARAM, IQIV_PB_CTRL_TS_FILTER_PARAM_T),
    PLAIN(RPC_DESC_DISC_LANG_CODE, IQIV_PB_DISC_LANG_CODE_T),
    WITH(RPC_DESC_FEATURE_PARAM_U, IQIV_PB_CTRL_FEATURE_PARAM_U, kFeatureParam),
    PLAIN(RPC_DESC_FEATURE_PARAM, IQIV_PB_CTRL_FEATURE_PARAM_T),
    PLAIN(RPC_DESC_FEATURE_CMD, IQIV_PB_CTRL_FEATURE_CMD_T),
    PLAIN(RPC_DESC_FEATURE_INFO, IQIV_PB_CTRL_FEATURE_INFO_T),
    PLAIN(RPC_DESC_SP_TRACK_INFO, IQIV_PB_CTRL_SP_TRACK_INFO_T),
    PLAIN(RPC_DESC_PLAY_MODE, IQIV_PB_CTRL_PLAY_MODE_T),
    PLAIN(RPC_DESC_AVIN_INFO, IQIV_PB_CTRL_AVIN_INFO_T),
    WITH(RPC_DESC_PARSED_MEDIA_INFO, IQIV_PB_CTRL_MEDIA_INFO_T, kMedia),
    PLAIN(RPC_DESC_PLAY_EX, IQIV_PB_CTRL_PLAY_EX_T),
    PLAIN(RPC_DESC_PAUSE_EX, IQIV_PB_CTRL_PAUSE_EX_T),
    PLAIN(RPC_DESC_TIME_SEEK_EX, IQIV_PB_CTRL_TIME_SEEK_EX_T),
    PLAIN(RPC_DESC_PLAY_MODE_EX, IQIV_PB_CTRL_PLAY_MODE_EX_T),
    PLAIN(RPC_DESC_CMD, IQIV_PB_CTRL_CMD_T),
    WITH(RPC_DESC_BUF_MODEL_PARAM_U, IQIV_PB_CTRL_BUF_MODEL_PARAM_U, kBufModelParam),
    PLAIN(RPC_DESC_ENGINE_PARAM, IQIV_PB_CTRL_ENGINE_PARAM_T),
    PLAIN(RPC_DESC_SHARE_MEM, IQIV_PB_CTRL_SHARE_MEM_T),
    WITH(RPC_DESC_PULL_SUBST_INFO, IQIV_PB_CTRL_PULL_SUBST_INFO_T, kPullSubstInfo),
    WITH(RPC_DESC_PULL_PARAM, IQIV_PB_CTRL_PULL_PARAM_T, kPullParam),
    PLAIN(RPC_DESC_MEM_SLICE_INFO, IQIV_PB_CTRL_MEM_SLICE_INFO_T),
    PLAIN(RPC_DESC_ENC_PARAM, IQIV_PB_CTRL_ENC_PARAM_T),
    PLAIN(RPC_DESC_SNAPSHOT_PARAM, IQIV_PB_CTRL_SNAPSHOT_PARAM_T),
    PLAIN(RPC_DESC_SP_RELEASE, IQIV_PB_CTRL_SP_RELEASE_T),
    PLAIN(RPC_DESC_ENC_VIDEO_FREE, IQIV_PB_CTRL_ENC_VIDEO_FREE_T),
    PLAIN(RPC_DESC_ENC_AUDIO_FREE, IQIV_PB_CTRL_ENC_AUDIO_FREE_T),
    PLAIN(RPC_DESC_SNAPSHOT_DESC, IQIV_PB_CTRL_SNAPSHOT_DESC_T),
    PLAIN(RPC_DESC_SNAPSHOT_DESC_EXT, IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T),
};

// The offsets and sizes the clients rely on, as they are on the board.
#define AT(T, m, off) BOARD_ILP32_ASSERT(offsetof(T, m) == (off), #T "." #m)
#define SIZE(T, n) BOARD_ILP32_ASSERT(sizeof(T) == (n), "size of " #T)
AT(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam, 8);
AT(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tUriInfo.pcUrl, 12);
AT(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDiscInfo.pcPath, 12);
AT(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.pcMpdUrl, 24);
AT(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.ptEntries, 44);
AT(IQIV_PB_CTRL_ENGINE_PARAM_T, uBufferModelParam.tDashInfo.u4EntryNum, 48);
SIZE(IQIV_PB_CTRL_PULL_INFO_T, 32);
SIZE(IQIV_PB_CTRL_PULL_PARAM_T, 44);
AT(IQIV_PB_CTRL_PULL_PARAM_T, tPullInfo, 4);
AT(IQIV_PB_CTRL_MEDIA_INFO_T, eAudioCodec, 180);
AT(IQIV_PB_CTRL_MEDIA_INFO_T, u2CodecPrivLen, 200);
AT(IQIV_PB_CTRL_MEDIA_INFO_T, pu1CodecPriv, 204);
AT(IQIV_PB_CTRL_EXTRA_INFO_T, uExtraInfoParam, 8);
AT(IQIV_PB_CTRL_EXTRA_INFO_T, uExtraInfoParam.tStreamInfo.pcInfo, 12);
AT(IQIV_PB_CTRL_PTS_ADJ_T, fgAudIncrease, 1);
AT(IQIV_PB_CTRL_PTS_ADJ_T, u4AudAdjValue, 4);
AT(IQIV_PB_CTRL_PTS_ADJ_T, fgEnableVidPtsAdj, 8);
AT(IQIV_PB_CTRL_PTS_ADJ_T, fgVidIncrease, 9);
AT(IQIV_PB_CTRL_PTS_ADJ_T, u4VidAdjValue, 12);
AT(IQIV_PB_CTRL_DRM_INFO_T, u, 4);
AT(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcLicenseUrl, 4);
AT(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcCustomData, 12);
AT(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcContentId, 20);
AT(IQIV_PB_CTRL_DRM_INFO_T, u.t_mln_drm_inf.pcKeyId, 28);
AT(IQIV_PB_CTRL_DRM_INFO_T, u.t_raw_drm_info.pcInfo, 8);
AT(IQIV_PB_CTRL_MP3_COVER_INFO_T, u4LenOrHandle, 12);
AT(IQIV_PB_CTRL_MP3_COVER_INFO_T, pu1Dest, 16);
AT(IQIV_PB_CTRL_TEXT_INFO_T, apcText[0], 44);
AT(IQIV_PB_CTRL_TEXT_INFO_T, apcText[6], 68);
AT(IQIV_PB_CTRL_ENCRYPT_INFO_T, u2SegNum, 4);
AT(IQIV_PB_CTRL_ENCRYPT_INFO_T, ptSeg, 8);
AT(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tHlsParam.pcUrl, 4);
AT(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tHlsParam.pcHeader, 52);
AT(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tHlsParam.pu1Buf, 60);
AT(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tHlsParam.u4BufLen, 64);
AT(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tDtcpParam.pcHost, 4);
AT(IQIV_PB_CTRL_FEATURE_PARAM_T, uFeatureParam.tDtcpParam.pcPort, 8);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_T, uY, 16);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_T, u4YSize, 20);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_T, uC, 24);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_T, u4CSize, 28);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T, uY, 24);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T, u4YSize, 28);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T, uC, 32);
AT(IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T, u4CSize, 36);
SIZE(IQIV_PB_CTRL_SHARE_MEM_T, 12);
SIZE(IQIV_PB_CTRL_MEM_SLICE_INFO_T, 8);
SIZE(IQIV_PB_CTRL_SP_RELEASE_T, 8);
SIZE(IQIV_PB_CTRL_ENC_VIDEO_FREE_T, 88);
SIZE(IQIV_PB_CTRL_ENC_AUDIO_FREE_T, 16);
SIZE(IQIV_PB_CTRL_BUFFER_STATUS_T, 16);

} // namespace

extern "C" const RPC_DESC_T *__rpc_get_desc__(uint32_t ui4_num)
{
    size_t lo = 0, hi = COUNT(kTable);
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (kTable[mid].ui4_num == ui4_num)
            return &kTable[mid];
        if (kTable[mid].ui4_num < ui4_num)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

extern "C" uint32_t rpc_desc_count(void) { return COUNT(kTable); }

extern "C" const RPC_DESC_T *rpc_desc_at(uint32_t ui4_index)
{
    return ui4_index < COUNT(kTable) ? &kTable[ui4_index] : nullptr;
}

extern "C" const RPC_DESC_VARIANT_T *rpc_desc_variant(const RPC_DESC_T *pt_desc, const char *ps_member)
{
    if (!pt_desc)
        return nullptr;
    const RPC_DESC_VARIANT_T *own = nullptr;
    for (uint32_t i = 0; i < pt_desc->ui4_num_variants; ++i) {
        const RPC_DESC_VARIANT_T &v = pt_desc->pt_variants[i];
        if (!v.ps_member)
            own = &v;
        else if (ps_member && std::strcmp(v.ps_member, ps_member) == 0)
            return &v;
    }
    return own;
}
