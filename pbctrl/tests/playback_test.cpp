// The playback control API against the real engine simulator: what the
// engine sees of every remote member, and the members' own steps.
#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_fixture.h"

#include <gtest/gtest.h>

#include <atomic>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pbtest::hex_addr;
using pbtest::hex_of;
using pbtest::quoted;

class Playback : public pbtest::EngineTest {};

int32_t app_pcm_fct(uint32_t, uint32_t) { return 0; }

int32_t app_event_fct(uint32_t, void *, void *) { return 0; }

TEST_F(Playback, EveryRemoteMemberReachesTheEngineAsTabled)
{
    const IQIV_PB_HANDLE_T h = open();
    IQIV_PB_CTRL_CMD_T cmd{7, {1, 2, 3}};
    IQIV_PB_CTRL_PLAY_EX_T play_ex{5, 6};
    IQIV_PB_CTRL_PAUSE_EX_T pause_ex{9, 0};
    IQIV_PB_CTRL_TIME_SEEK_EX_T seek_ex{3, 4};
    IQIV_PB_CTRL_CHANGE_AUDIO_T change_audio{0x100, 2, 1, 0};
    IQIV_PB_CTRL_CHANGE_VIDEO_T change_video{0x200, 3, 0, 0};
    IQIV_PB_CTRL_PLAY_MODE_T play_mode{2, 8};
    IQIV_PB_CTRL_TS_VIDEO_INFO_T ts_video{0x11, 1, 0, 0};
    IQIV_PB_CTRL_TS_AUDIO_INFO_T ts_audio{0x12, 2, 0, 0};
    IQIV_PB_CTRL_BUF_NFY_THRD_T thrd{90, 10};
    IQIV_PB_CTRL_SUBTITLE_ATTR_T attr{24, 1, 2, 3};
    char ttml[] = "http://s/t.ttml";
    IQIV_PB_CTRL_SUBTITLE_INFO_T sub_in{};
    sub_in.eSubtitleType = 4;
    sub_in.uSubtitleInfoParam.rTtmlUrlInfo.pcUrl = ttml;
    IQIV_PB_CTRL_SUBTITLE_INFO_T sub_plain{5, 6, {}};
    IQIV_PB_CTRL_MEDIA_INFO_T media{};
    IQIV_PB_CTRL_BUFFER_STATUS_T status{};
    IQIV_PB_CTRL_PLAY_PARAM_T play_param{};
    IQIV_PB_CTRL_AUD_TRACK_INFO_T aud{};
    IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T aud_ex{};
    IQIV_PB_CTRL_CUR_AUD_TRACK_INFO_EX_T cur_aud_ex{};
    IQIV_PB_CTRL_VID_TRACK_INFO_T vid{};
    IQIV_PB_CTRL_VID_TRACK_INFO_EX_T vid_ex{};
    IQIV_PB_CTRL_SUBTITLE_INFO_T sub_out{};
    IQIV_PB_CTRL_AVIN_INFO_T avin{};
    IQIV_PB_CTRL_SP_INFO_T sp{};
    IQIV_PB_CTRL_SP_TRACK_INFO_T sp_track{}, cur_sp_track{};
    uint32_t u32[6] = {};
    uint64_t u64[3] = {};
    const std::string sub_in_seen = hex_of(&sub_in, offsetof(IQIV_PB_CTRL_SUBTITLE_INFO_T, uSubtitleInfoParam)) +
                                    quoted(ttml);

    const std::vector<pbtest::MemberCase> cases = {
        {"x_QivPb_Ctrl_SetAudTrack", "0x48 0x47", [&](auto x) { return IQivPb_Ctrl_SetAudTrack(x, 3); }, {"3"}},
        {"x_QivPb_Ctrl_SetURL",
         "0x48 0x48 0x60",
         [&](auto x) { return IQivPb_Ctrl_SetURL(x, 2, "http://a/b"); },
         {"2", "http://a/b"}},
        {"x_QivPb_Ctrl_ExtSbtl_SetURL",
         "0x48 0x48 0x60 0x60",
         [&](auto x) { return IQivPb_Ctrl_ExtSbtl_SetURL(x, 1, "u1", "u2"); },
         {"1", "u1", "u2"}},
        {"x_QivPb_Ctrl_SendCmd", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_SendCmd(x, &cmd); }, {hex_of(cmd)}},
        {"x_QivPb_Ctrl_PreLoadData", "0x48", [&](auto x) { return IQivPb_Ctrl_PreLoadData(x); }, {}},
        {"x_QivPb_Ctrl_Play", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_Play(x, 4); }, {"4"}},
        {"x_QivPb_Ctrl_PlayEx",
         "0x48 0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_PlayEx(x, 1, &play_ex); },
         {"1", hex_of(play_ex)}},
        {"x_QivPb_Ctrl_Pause", "0x48", [&](auto x) { return IQivPb_Ctrl_Pause(x); }, {}},
        {"x_QivPb_Ctrl_PauseEx",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_PauseEx(x, &pause_ex); },
         {hex_of(pause_ex)}},
        {"x_QivPb_Ctrl_AudioReset", "0x48", [&](auto x) { return IQivPb_Ctrl_AudioReset(x); }, {}},
        {"x_QivPb_Ctrl_Stop", "0x48", [&](auto x) { return IQivPb_Ctrl_Stop(x); }, {}},
        {"x_QivPb_Ctrl_Step", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_Step(x, 2); }, {"2"}},
        {"x_QivPb_Ctrl_TimeSeek", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_TimeSeek(x, 60); }, {"60"}},
        {"x_QivPb_Ctrl_TimeSeekEx",
         "0x48 0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_TimeSeekEx(x, 61, &seek_ex); },
         {"61", hex_of(seek_ex)}},
        {"x_QivPb_Ctrl_TimeSeekMS", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_TimeSeekMS(x, 62000); }, {"62000"}},
        {"x_QivPb_Ctrl_ChangeAudio",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_ChangeAudio(x, &change_audio); },
         {hex_of(change_audio)}},
        {"x_QivPb_Ctrl_ChangeVideo",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_ChangeVideo(x, &change_video); },
         {hex_of(change_video)}},
        {"x_QivPb_Ctrl_SetSpeed", "0x48 0x44", [&](auto x) { return IQivPb_Ctrl_SetSpeed(x, 5); }, {"5"}},
        {"x_QivPb_Ctrl_SetPlayMode",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetPlayMode(x, &play_mode); },
         {hex_of(play_mode)}},
        {"x_QivPb_Ctrl_ClearVideo", "0x48", [&](auto x) { return IQivPb_Ctrl_ClearVideo(x); }, {}},
        {"x_QivPb_Ctrl_GetMediaInfo",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetMediaInfo(x, &media); },
         {""},
         {&media}},
        {"x_QivPb_Ctrl_GetBufferFullness",
         "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetBufferFullness(x, &u32[0]); },
         {""},
         {&u32[0]}},
        {"x_QivPb_Ctrl_GetBufferStatus",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetBufferStatus(x, &status); },
         {""},
         {&status}},
        {"x_QivPb_Ctrl_GetPlayParam",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetPlayParam(x, &play_param); },
         {""},
         {&play_param}},
        {"x_QivPb_Ctrl_GetAudTrackInfo",
         "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetAudTrackInfo(x, 1, &aud); },
         {"1", ""},
         {&aud}},
        {"x_QivPb_Ctrl_GetAudTrackInfoEx",
         "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetAudTrackInfoEx(x, 2, &aud_ex); },
         {"2", ""},
         {&aud_ex}},
        {"x_QivPb_Ctrl_GetCurAudTrackInfo",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetCurAudTrackInfo(x, &aud); },
         {""},
         {&aud}},
        {"x_QivPb_Ctrl_GetCurAudTrackInfoEx",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetCurAudTrackInfoEx(x, &cur_aud_ex); },
         {""},
         {&cur_aud_ex}},
        {"x_QivPb_Ctrl_GetVidTrackInfo",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetVidTrackInfo(x, &vid); },
         {""},
         {&vid}},
        {"x_QivPb_Ctrl_GetVidTrackInfoEx",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetVidTrackInfoEx(x, &vid_ex); },
         {""},
         {&vid_ex}},
        {"x_QivPb_Ctrl_GetCurrentPos",
         "0x48 0x98 0x99",
         [&](auto x) { return IQivPb_Ctrl_GetCurrentPos(x, &u32[1], &u64[0]); },
         {"", ""},
         {&u32[1], &u64[0]}},
        {"x_QivPb_Ctrl_GetCurrentPTS",
         "0x48 0x99 0x99",
         [&](auto x) { return IQivPb_Ctrl_GetCurrentPTS(x, &u64[1], &u64[2]); },
         {"", ""},
         {&u64[1], &u64[2]}},
        {"x_QivPb_Ctrl_GetState",
         "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetState(x, &u32[2]); },
         {""},
         {&u32[2]}},
        {"x_QivPb_Ctrl_SetAudioFifoSize",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_SetAudioFifoSize(x, 4096); },
         {"4096"}},
        {"x_QivPb_Ctrl_GetMaxAudioFifoSize",
         "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetMaxAudioFifoSize(x, &u32[3]); },
         {""},
         {&u32[3]}},
        {"x_QivPb_Ctrl_SetVideoFifoSize",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_SetVideoFifoSize(x, 8192); },
         {"8192"}},
        {"x_QivPb_Ctrl_GetMaxVideoFifoSize",
         "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetMaxVideoFifoSize(x, &u32[4]); },
         {""},
         {&u32[4]}},
        {"x_QivPb_Ctrl_GetBufferRemainingDataLen",
         "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetBufferRemainingDataLen(x, &u32[5]); },
         {""},
         {&u32[5]}},
        {"x_QivPb_Ctrl_StartTSPreparse", "0x48 0x46", [&](auto x) { return IQivPb_Ctrl_StartTSPreparse(x, 1); }, {"1"}},
        {"x_QivPb_Ctrl_StopTSPreparse", "0x48", [&](auto x) { return IQivPb_Ctrl_StopTSPreparse(x); }, {}},
        {"x_QivPb_Ctrl_SetTSMediaInfo",
         "0x48 0x71 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetTSMediaInfo(x, &ts_video, &ts_audio); },
         {hex_of(ts_video), hex_of(ts_audio)}},
        {"x_QivPb_Ctrl_SetBufNfyThrd",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetBufNfyThrd(x, &thrd); },
         {hex_of(thrd)}},
        {"x_QivPb_Ctrl_TSPlay", "0x48", [&](auto x) { return IQivPb_Ctrl_TSPlay(x); }, {}},
        {"x_QivPb_Ctrl_TSStop", "0x48", [&](auto x) { return IQivPb_Ctrl_TSStop(x); }, {}},
        {"x_QivPb_Ctrl_SetSubtitleShowHide",
         "0x48 0x4B",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleShowHide(x, 1); },
         {"1"}},
        {"x_QivPb_Ctrl_SetSubtitleShowHideEx",
         "0x48 0x44 0x4B",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleShowHideEx(x, 2, 1); },
         {"2", "1"}},
        {"x_QivPb_Ctrl_SetSubtitleTrack",
         "0x48 0x47",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleTrack(x, 3); },
         {"3"}},
        {"x_QivPb_Ctrl_GetSubTrackInfo",
         "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetSubTrackInfo(x, 1, &sub_out); },
         {"1", ""},
         {&sub_out}},
        {"x_QivPb_Ctrl_SetSubtitleInfo",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleInfo(x, &sub_in); },
         {""}},
        {"x_QivPb_Ctrl_SubtitleSelect",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SubtitleSelect(x, &sub_plain); },
         {hex_of(sub_plain)}},
        {"x_QivPb_Ctrl_ChangeSubtitle",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_ChangeSubtitle(x, &sub_plain); },
         {hex_of(sub_plain)}},
        {"x_QivPb_Ctrl_SetSubtitlePlane",
         "0x48 0x44",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitlePlane(x, 2); },
         {"2"}},
        {"x_QivPb_Ctrl_SetSubtitlePlaneEx",
         "0x48 0x44 0x44",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitlePlaneEx(x, 1, 2); },
         {"1", "2"}},
        {"x_QivPb_Ctrl_SetSubtitleAttr",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleAttr(x, &attr); },
         {hex_of(attr)}},
        {"x_QivPb_Ctrl_GetAvInInfo",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetAvInInfo(x, &avin); },
         {""},
         {&avin}},
        {"x_QivPb_Ctrl_GetSpInfo", "0x48 0xB1", [&](auto x) { return IQivPb_Ctrl_GetSpInfo(x, &sp); }, {""}, {&sp}},
        {"x_QivPb_Ctrl_GetSpTrackInfo",
         "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetSpTrackInfo(x, 4, &sp_track); },
         {"4", ""},
         {&sp_track}},
        {"x_QivPb_Ctrl_GetCurSpTrackInfo",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetCurSpTrackInfo(x, &cur_sp_track); },
         {""},
         {&cur_sp_track}},
        {"x_QivPb_Ctrl_SetSpTrack",
         "0x48 0x47 0x4B",
         [&](auto x) { return IQivPb_Ctrl_SetSpTrack(x, 2, 1); },
         {"2", "1"}},
        {"x_QivPb_Ctrl_Start_PcmUpload_cb",
         "0x48 0x50 0x61",
         [&](auto x) { return IQivPb_Ctrl_Start_PcmUpload_cb(x, &cmd, &app_pcm_fct); },
         {hex_addr(&cmd), hex_addr(reinterpret_cast<void *>(&app_pcm_fct))}},
        {"x_QivPb_Ctrl_Stop_PcmUpload_cb", "0x48", [&](auto x) { return IQivPb_Ctrl_Stop_PcmUpload_cb(x); }, {}},
        {"x_QivPb_Ctrl_RegCallback",
         "0x48 0x50 0x61",
         [&](auto x) { return IQivPb_Ctrl_RegCallback(x, &cmd, &app_event_fct); },
         {hex_addr(&cmd), hex_addr(reinterpret_cast<void *>(&app_event_fct))}},
        {"x_QivPb_Ctrl_CancelGetBufferPending",
         "0x48",
         [&](auto x) { return IQivPb_Ctrl_CancelGetBufferPending(x); },
         {}},
        {"x_QivPb_Ctrl_SetPushModelEOS", "0x48", [&](auto x) { return IQivPb_Ctrl_SetPushModelEOS(x); }, {}},
    };
    for (const pbtest::MemberCase &c : cases)
        expect_reaches_engine(c, h);
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetSubtitleInfo", 1).substr(0, sub_in_seen.size()), sub_in_seen);
    // A null record or text is refused before any call.
    EXPECT_EQ(IQivPb_Ctrl_SetSubtitleInfo(h, nullptr), -1);
    EXPECT_EQ(IQivPb_Ctrl_SetURL(h, 1, nullptr), -1);
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetSubtitleInfo"), "1");
    // A record without its text still goes.
    sub_in.uSubtitleInfoParam.rTtmlUrlInfo.pcUrl = nullptr;
    EXPECT_EQ(IQivPb_Ctrl_SetSubtitleInfo(h, &sub_in), 0);
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetSubtitleInfo", 1), hex_of(sub_in));
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetURL"), "1");
    // The engine's own result passes through.
    engine_.ok("result x_QivPb_Ctrl_Play -9");
    EXPECT_EQ(IQivPb_Ctrl_Play(h, 0), -9);
}

int32_t app_pull_fct() { return 0; }

TEST_F(Playback, EngineParameterFollowsTheBufferingModel)
{
    char url[] = "http://u/v.mp4";
    char path[] = "/disc/a.iso";
    char mpd[] = "http://d/m.mpd";
    uint8_t entries[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    auto *fn = reinterpret_cast<void *>(&app_pull_fct);

    struct ModelCase {
        uint32_t model, open_mod;
        int32_t result;
        std::string shows; // a piece of what the engine sees of the record; "" = no call
    };
    const std::vector<ModelCase> cases = {
        {IQIV_PB_BUF_MOD_URI, 0, 0, quoted(url)},
        {IQIV_PB_BUF_MOD_PUSH, 1, 0, "0b0000000c000000"},
        {IQIV_PB_BUF_MOD_PUSH, 2, IQIVPB_INV_ARG, ""},
        {IQIV_PB_BUF_MOD_DISC, 2, 0, quoted(path)},
        {IQIV_PB_BUF_MOD_DISC, 0, IQIVPB_INV_ARG, ""},
        {IQIV_PB_BUF_MOD_DASH, 0, 0, quoted(mpd)},
        {IQIV_PB_BUF_MOD_DASH, 0, 0, "[" + hex_of(entries, sizeof entries) + "]"},
        {IQIV_PB_BUF_MOD_DASH, 1, 0, "0b0000000c000000"}, // no MPD, no entries
        {IQIV_PB_BUF_MOD_OTHER, 0, 0, "0b0000000c000000"},
        {7, 0, IQIVPB_FAIL, ""},
    };
    for (const ModelCase &c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + "/" + std::to_string(c.open_mod));
        engine_.ok("reset");
        const IQIV_PB_HANDLE_T h = open(c.model, c.open_mod);
        IQIV_PB_CTRL_ENGINE_PARAM_T p{};
        p.u4Word0 = 11;
        p.u4Word1 = 12;
        if (c.model == IQIV_PB_BUF_MOD_URI)
            p.uBufferModelParam.tUriInfo.pcUrl = url;
        if (c.model == IQIV_PB_BUF_MOD_DISC)
            p.uBufferModelParam.tDiscInfo.pcPath = path;
        if (c.model == IQIV_PB_BUF_MOD_DASH && c.open_mod == 0) {
            p.uBufferModelParam.tDashInfo.pcMpdUrl = mpd;
            p.uBufferModelParam.tDashInfo.ptEntries = entries;
            p.uBufferModelParam.tDashInfo.u4EntryNum = 2;
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(IQivPb_Ctrl_SetEngineParam(h, &p), c.result);
        const std::string out = testing::internal::GetCapturedStdout();
        if (c.shows.empty()) {
            EXPECT_EQ(calls("x_QivPb_Ctrl_SetEngineParam"), "0");
        } else {
            EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_SetEngineParam"), "0x48 0x71");
            EXPECT_NE(seen("x_QivPb_Ctrl_SetEngineParam", 1).find(c.shows), std::string::npos)
                << seen("x_QivPb_Ctrl_SetEngineParam", 1);
        }
        if (c.result == IQIVPB_FAIL) {
            EXPECT_NE(out.find("RPC Failure arg check:IQivPb_Ctrl_SetEngineParam #"), std::string::npos) << out;
        }
        close(h);
    }

    // Pull: the engine gets the substitute, whose tag is the slot's client index.
    const IQIV_PB_HANDLE_T h = open(IQIV_PB_BUF_MOD_PULL);
    const int slot = pbctrl::find_by_handle(h);
    ASSERT_GE(slot, 0);
    IQIV_PB_CTRL_ENGINE_PARAM_T p{};
    p.u4Word0 = 0x55;
    p.uBufferModelParam.tPullInfo.pvAppTag = &p;
    p.uBufferModelParam.tPullInfo.pfRead = fn;
    p.uBufferModelParam.tPullInfo.pfGetInputLen = fn;
    ASSERT_EQ(IQivPb_Ctrl_SetEngineParam(h, &p), 0);
    IQIV_PB_CTRL_PULL_PARAM_T subst{};
    subst.u4Word0 = 0x55;
    subst.tPullInfo.pvTag = &pbctrl::t_client_info[slot].ui1_client_idx;
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetEngineParam", 1), hex_of(subst));
    EXPECT_EQ(pbctrl::t_client_info[slot].ui1_client_idx, slot);
    EXPECT_EQ(pbctrl::t_client_info[slot].t_pull_fct.pv_tag, &p);
    EXPECT_EQ(pbctrl::t_client_info[slot].t_pull_fct.pf_read, fn);
    EXPECT_EQ(pbctrl::t_client_info[slot].t_pull_fct.pf_get_input_len, fn);

    // The asynchronous form: URI only; the other own-data models are not handled.
    EXPECT_EQ(IQivPb_Ctrl_SetEngineParamAsync(h, &p), IQIVPB_NOT_IMPL);
    const IQIV_PB_HANDLE_T uri = open(IQIV_PB_BUF_MOD_URI);
    p.uBufferModelParam.tUriInfo.pcUrl = url;
    EXPECT_EQ(IQivPb_Ctrl_SetEngineParamAsync(uri, &p), 0);
    EXPECT_NE(seen("x_QivPb_Ctrl_SetEngineParamAsync", 1).find(quoted(url)), std::string::npos);
    const IQIV_PB_HANDLE_T dash = open(IQIV_PB_BUF_MOD_DASH);
    EXPECT_EQ(IQivPb_Ctrl_SetEngineParamAsync(dash, &p), IQIVPB_FAIL);
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetEngineParamAsync"), "1");
    EXPECT_EQ(IQivPb_Ctrl_SetEngineParam(9999, &p), IQIVPB_NO_SLOT);
}

TEST_F(Playback, GenericSetAndGetPassTheInfoByType)
{
    const IQIV_PB_HANDLE_T h = open();
    uint32_t size = 4, u32 = 3;
    uint8_t u8 = 9;
    IQIV_PB_CTRL_PTS_ADJ_T adj{1, 0, 300, 1, 1, 400};
    IQIV_PB_CTRL_SET_INFO_T info{{1, 2, 3, 4}};
    struct SetCase {
        uint32_t type;
        void *info;
        const char *code;
        std::string shows;
    };
    for (const SetCase &c : std::vector<SetCase>{{7, &u32, "0x58", "3"},
                                                 {8, &adj, "0x71", hex_of(adj)},
                                                 {9, &info, "0x71", hex_of(info)},
                                                 {13, &u8, "0x5B", "9"}}) {
        SCOPED_TRACE(c.type);
        ASSERT_EQ(IQivPb_Ctrl_Set(h, c.type, c.info, &size), 0);
        EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_Set"), std::string("0x48 0x48 ") + c.code + " 0x58");
        EXPECT_EQ(seen("x_QivPb_Ctrl_Set", 1), std::to_string(c.type));
        EXPECT_EQ(seen("x_QivPb_Ctrl_Set", 2), c.shows);
        EXPECT_EQ(seen("x_QivPb_Ctrl_Set", 3), "4");
    }
    EXPECT_EQ(IQivPb_Ctrl_Set(h, 10, &u32, &size), IQIVPB_NOT_IMPL);
    EXPECT_EQ(IQivPb_Ctrl_Set(h, 7, nullptr, &size), IQIVPB_INV_ARG);
    EXPECT_EQ(calls("x_QivPb_Ctrl_Set"), "4");

    char t[4][8] = {"lic", "cus", "cid", "kid"};
    IQIV_PB_CTRL_DRM_INFO_T mln{};
    mln.e_drm_type = IQIV_PB_CTRL_DRM_MLN;
    mln.u.t_mln_drm_inf = {t[0], 0, t[1], 0, t[2], 0, t[3], 0};
    IQIV_PB_CTRL_DRM_INFO_T raw{};
    raw.e_drm_type = IQIV_PB_CTRL_DRM_RAW;
    raw.u.t_raw_drm_info.pcInfo = t[0];
    IQIV_PB_CTRL_GET_INFO_T get_info{};
    IQIV_PB_CTRL_TEXT_INFO_T text_info{};
    for (int i = 0; i < 7; ++i)
        text_info.apcText[i] = t[i % 4];
    struct GetCase {
        uint32_t type;
        void *info;
        const char *code;
        std::string shows; // a piece of what the engine sees
    };
    for (const GetCase &c : std::vector<GetCase>{{1, &get_info, "0xB1", hex_of(get_info)},
                                                 {3, &mln, "0xB1", quoted("cid")},
                                                 {3, &raw, "0xB1", quoted("lic")},
                                                 {15, &text_info, "0xB1", quoted("kid")},
                                                 {16, &get_info, "0xB1", hex_of(get_info)},
                                                 {17, &u32, "0x98", "3"},
                                                 {25, &u8, "0x96", "9"},
                                                 {26, &u8, "0x96", "9"},
                                                 {29, &u8, "0x96", "9"}}) {
        SCOPED_TRACE(c.type);
        ASSERT_EQ(IQivPb_Ctrl_Get(h, c.type, c.info, 32), 0);
        EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_Get"), std::string("0x48 0x48 ") + c.code + " 0x48");
        EXPECT_NE(seen("x_QivPb_Ctrl_Get", 2).find(c.shows), std::string::npos) << seen("x_QivPb_Ctrl_Get", 2);
    }
    mln.e_drm_type = 5;
    EXPECT_EQ(IQivPb_Ctrl_Get(h, 3, &mln, 32), IQIVPB_NOT_IMPL);
    EXPECT_EQ(IQivPb_Ctrl_Get(h, 2, &u32, 4), IQIVPB_NOT_IMPL);
    EXPECT_EQ(calls("x_QivPb_Ctrl_Get"), "9");
}

TEST_F(Playback, CoverPictureArrivesThroughASharedBlock)
{
    const IQIV_PB_HANDLE_T h = open();
    const std::string block = engine_.ok("alloc smem 16");
    ASSERT_NE(block, "error");
    engine_.ok("write " + block + " 0 0102030405060708090a");
    IQIV_PB_CTRL_MP3_COVER_INFO_T answer{};
    answer.u4LenOrHandle = static_cast<uint32_t>(std::stoul(block, nullptr, 0));
    engine_.ok("outhex x_QivPb_Ctrl_Get 2 " + hex_of(&answer, offsetof(IQIV_PB_CTRL_MP3_COVER_INFO_T, pu1Dest)));

    uint8_t dest[10] = {};
    IQIV_PB_CTRL_MP3_COVER_INFO_T cover{};
    cover.u4LenOrHandle = sizeof dest;
    cover.pu1Dest = dest;
    testing::internal::CaptureStdout();
    const int32_t got = IQivPb_Ctrl_Get(h, IQIV_PB_CTRL_GET_MP3_COVER_INFO, &cover, sizeof cover);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(got, 0) << out;
    EXPECT_EQ(hex_of(dest, sizeof dest), "0102030405060708090a");
    EXPECT_EQ(cover.u4LenOrHandle, sizeof dest) << "the length comes back";
    EXPECT_NE(out.find("0x1\t0x2\t0x3\t0x4\t0x5\t0x6\t0x7\t0x8\t\n"), std::string::npos) << out;
    // The engine was told a destination waits.
    EXPECT_EQ(seen("x_QivPb_Ctrl_Get", 2).substr(24, 8), "01000000");

    // A destination longer than the engine's block is not filled past it.
    answer.u4LenOrHandle = static_cast<uint32_t>(std::stoul(engine_.ok("alloc smem 16"), nullptr, 0));
    engine_.ok("outhex x_QivPb_Ctrl_Get 2 " + hex_of(&answer, offsetof(IQIV_PB_CTRL_MP3_COVER_INFO_T, pu1Dest)));
    std::vector<uint8_t> large(1 << 20, 0xEE);
    cover.u4LenOrHandle = static_cast<uint32_t>(large.size());
    cover.pu1Dest = large.data();
    EXPECT_EQ(IQivPb_Ctrl_Get(h, IQIV_PB_CTRL_GET_MP3_COVER_INFO, &cover, sizeof cover), -1);
    EXPECT_EQ(large[0], 0xEE);
    EXPECT_EQ(cover.u4LenOrHandle, large.size());

    engine_.ok("result x_QivPb_Ctrl_Get -4");
    EXPECT_EQ(IQivPb_Ctrl_Get(h, IQIV_PB_CTRL_GET_MP3_COVER_INFO, &cover, sizeof cover), -4);
}

TEST_F(Playback, MediaRecordsGoThroughKernelBlocks)
{
    const IQIV_PB_HANDLE_T h = open();
    uint8_t ts[188] = {0x47, 1, 2};
    IQIV_PB_CTRL_MEDIA_INFO_T info{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_ParseMediaInfo(h, ts, 187, &info), IQIVPB_INV_ARG);
    EXPECT_EQ(IQivPb_Ctrl_ParseMediaInfo(h, nullptr, 188, &info), IQIVPB_INV_ARG);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(calls("x_QivPb_Ctrl_ParseMediaInfo"), "0");
    engine_.ok("outhex x_QivPb_Ctrl_ParseMediaInfo 3 06000000");
    ASSERT_EQ(IQivPb_Ctrl_ParseMediaInfo(h, ts, 188, &info), 0);
    EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_ParseMediaInfo"), "0x48 0x48 0x48 0xB1");
    EXPECT_NE(seen("x_QivPb_Ctrl_ParseMediaInfo", 1), "0") << "a block handle";
    EXPECT_EQ(seen("x_QivPb_Ctrl_ParseMediaInfo", 2), "188");
    EXPECT_EQ(info.eMediaType, 6u);

    // Ogg Vorbis: the codec data travels in a block whose handle replaces the pointer.
    uint8_t priv[5] = {'v', 'o', 'r', 'b', 's'};
    info = {};
    info.eMediaType = IQIV_PB_CTRL_MEDIA_TYPE_OGG;
    info.eAudioCodec = IQIV_PB_CTRL_AUD_CODEC_VORBIS;
    info.u2CodecPrivLen = sizeof priv;
    info.pu1CodecPriv = priv;
    ASSERT_EQ(IQivPb_Ctrl_SetMediaInfo(h, &info), 0);
    EXPECT_NE(info.pu1CodecPriv, priv);
    EXPECT_NE(info.pu1CodecPriv, nullptr);
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetMediaInfo", 1), hex_of(info));
    // A null record (the push reset) reaches the engine as such.
    EXPECT_EQ(IQivPb_Ctrl_SetMediaInfo(h, nullptr), 0);
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetMediaInfo", 1), "(null)");
}

TEST_F(Playback, MembersWithLocalChecksCallOnlyWhenTheyPass)
{
    const IQIV_PB_HANDLE_T h = open();
    IQIV_PB_CTRL_PLAY_MODE_EX_T mode{1, 2, 3};
    EXPECT_EQ(IQivPb_Ctrl_SetPlayModeEx(777, &mode), IQIVPB_NO_CLIENT);
    // A TS filter of the playback carries the handle asked for.
    const int slot = pbctrl::find_by_handle(h);
    pbctrl::t_client_info[slot].at_filter[5].h_pb = 777;
    EXPECT_EQ(IQivPb_Ctrl_SetPlayModeEx(777, &mode), IQIVPB_NO_CLIENT) << "a filter not in use";
    pbctrl::t_client_info[slot].at_filter[5].b_used = 1;
    EXPECT_EQ(IQivPb_Ctrl_SetPlayModeEx(777, &mode), 0);
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetPlayModeEx", 1), hex_of(mode));
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetPlayModeEx"), "1");

    EXPECT_EQ(IQivPb_Ctrl_AudioReset(9999), IQIVPB_NO_CLIENT);
    EXPECT_EQ(calls("x_QivPb_Ctrl_AudioReset"), "0");
    IQIV_PB_CTRL_SUBTITLE_ATTR_T attr{};
    EXPECT_EQ(IQivPb_Ctrl_GetSubtitleAttr(h, &attr), IQIVPB_FAIL);
    EXPECT_EQ(calls("x_QivPb_Ctrl_GetSubtitleAttr"), "0");

    IQIV_PB_CTRL_RECT_T src{1, 2, 3, 4}, dst{5, 6, 7, 8};
    EXPECT_EQ(IQivPb_Ctrl_SetDisplayRectangleEx(h, &src, &dst), 0);
    EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_SetDisplayRectangle"), "0x48 0x71 0x71");
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetDisplayRectangle", 2), hex_of(dst));
    IQIV_PB_CTRL_EXTRA_INFO_T extra{};
    extra.eExtraInfoType = IQIV_PB_CTRL_EXTRA_INFO_STREAM;
    char stream[] = "stream-info";
    extra.uExtraInfoParam.tStreamInfo.pcInfo = stream;
    EXPECT_EQ(IQivPb_Ctrl_SetExtraInfo(h, &extra), 0);
    EXPECT_NE(seen("x_QivPb_Ctrl_SetExtraInfo", 1).find(quoted(stream)), std::string::npos);
    EXPECT_EQ(IQivPb_Ctrl_SetExtraInfo(h, nullptr), IQIVPB_INV_ARG);
    // Members that read the record first refuse a null one without a call.
    EXPECT_EQ(IQivPb_Ctrl_SetEngineParam(h, nullptr), IQIVPB_INV_ARG);
    EXPECT_EQ(IQivPb_Ctrl_SetEngineParamAsync(h, nullptr), IQIVPB_INV_ARG);
    EXPECT_EQ(IQivPb_Ctrl_SetDisplayRectangle(h, nullptr, &dst), IQIVPB_INV_ARG);
    EXPECT_EQ(IQivPb_Ctrl_Get(h, 1, nullptr, 4), IQIVPB_INV_ARG);
    for (const char *op : {"x_QivPb_Ctrl_SetEngineParam", "x_QivPb_Ctrl_SetEngineParamAsync", "x_QivPb_Ctrl_Get"})
        EXPECT_EQ(calls(op), "0") << op;
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetDisplayRectangle"), "1");
}

TEST_F(Playback, MembersPrintTheirOwnLines)
{
    const IQIV_PB_HANDLE_T h = open();
    const std::string hs = std::to_string(h);
    engine_.ok("outhex x_QivPb_Ctrl_GetBufferStatus 1 01000000020000000300000004000000");
    engine_.ok("result x_QivPb_Ctrl_AudioReset 5");
    IQIV_PB_CTRL_BUFFER_STATUS_T status{};
    IQIV_PB_CTRL_EXTRA_INFO_T extra{};
    extra.eExtraInfoType = 3;
    testing::internal::CaptureStdout();
    IQivPb_Ctrl_GetBufferStatus(h, &status);
    IQivPb_Ctrl_AudioReset(h);
    IQivPb_Ctrl_PreLoadData(h);
    IQivPb_Ctrl_SetSubtitleShowHide(h, 1);
    IQivPb_Ctrl_SetExtraInfo(h, &extra);
    IQivPb_Ctrl_GetSubtitleAttr(h, nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    for (const std::string &line :
         {std::string("IGetBufferStatus is: 1, 2, 3, 4\n"),
          std::string("<Client> IQivPb_Ctrl_AudioReset RPC return 0, Server return 5\n"),
          "<LOG [^,]+, IQivPb_Ctrl_PreLoadData, #[0-9]+>IQivPb_Ctrl_PreLoadData is called, hHandle is: " + hs + "\n",
          "<LOG [^,]+, IQivPb_Ctrl_SetSubtitleShowHide, #[0-9]+><Client>IQivPb_Ctrl_SetSubtitleShowHide\\[" + hs +
              "\\] is called,\n",
          std::string("<Client>ptExtraInfo->eExtraInfoType = 3 ,@Line: [0-9]+\n"),
          std::string("IQivPb_Ctrl_GetSubtitleAttr had not been supported\n")})
        EXPECT_TRUE(std::regex_search(out, std::regex(line))) << line << "\n" << out;

    // A result of the wrong type fails the call (-1); the line still shows the engine's value.
    engine_.ok("type x_QivPb_Ctrl_AudioReset 3");
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_AudioReset(h), -1);
    const std::string failed = testing::internal::GetCapturedStdout();
    EXPECT_NE(failed.find("<Client> IQivPb_Ctrl_AudioReset RPC return 0, Server return 5\n"), std::string::npos)
        << failed;
}

TEST_F(Playback, PcmUploadIsKeptInThePushSlotAndAlwaysAnnounced)
{
    const IQIV_PB_HANDLE_T push = open(IQIV_PB_BUF_MOD_PUSH, 1);
    const IQIV_PB_HANDLE_T uri = open();
    int tag = 0;
    const int32_t level = pbctrl::i4_log_level.exchange(0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_Start_PcmUpload_cb(push, &tag, &app_pcm_fct), 0);
    EXPECT_EQ(IQivPb_Ctrl_Start_PcmUpload_cb(uri, &tag, &app_pcm_fct), 0);
    EXPECT_EQ(IQivPb_Ctrl_Stop_PcmUpload_cb(push), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    pbctrl::i4_log_level.store(level);
    for (const char *line : {"<Client> IQivPb_Ctrl_Start_PcmUpload_cb ---> is called @Line: [0-9]+!\n[\\s\\S]*"
                             "<Client> IQivPb_Ctrl_Start_PcmUpload_cb ---> is called @Line: [0-9]+!\n",
                             "<Client> IQivPb_Ctrl_Stop_PcmUpload_cb ---> is called @Line: [0-9]+!\n"})
        EXPECT_TRUE(std::regex_search(out, std::regex(line))) << line << "\n" << out;
    const pbctrl::ClientInfo &p = pbctrl::t_client_info[pbctrl::find_by_handle(push)];
    EXPECT_EQ(p.pv_pcm_tag, &tag);
    EXPECT_EQ(p.pf_pcm_cb, reinterpret_cast<void *>(&app_pcm_fct));
    EXPECT_EQ(pbctrl::t_client_info[pbctrl::find_by_handle(uri)].pf_pcm_cb, nullptr) << "only a push slot keeps it";
    EXPECT_EQ(calls("x_QivPb_Ctrl_Start_PcmUpload_cb"), "2");
}

TEST(PlaybackLocal, P0HeaderFlagsByStreamAndSubTypes)
{
    struct Flags {
        uint32_t stream, sub1, sub2;
        int32_t result;
        uint8_t byte16;
    };
    for (const Flags &f : std::vector<Flags>{{0, 0, 0, 0, 0x02},
                                             {1, 0, 0, 0, 0x01},
                                             {1, 1, 0, 0, 0x09},
                                             {1, 2, 0, 0, 0x11},
                                             {1, 2, 2, 0, 0x51},
                                             {1, 1, 1, 0, 0x29},
                                             {1, 0, 2, 0, 0x41},
                                             {1, 3, 0, -3, 0},
                                             {1, 1, 3, -3, 0},
                                             {2, 0, 0, -3, 0}}) {
        SCOPED_TRACE(std::to_string(f.stream) + "/" + std::to_string(f.sub1) + "/" + std::to_string(f.sub2));
        uint8_t hdr[IQIV_PB_CTRL_P0_HDR_LEN] = {};
        const IQIV_PB_CTRL_PKT_INFO_T info{{0x11223344, 0x55667788, 0x99AABBCC}, f.stream, f.sub1, f.sub2};
        ASSERT_EQ(IQivPb_Ctrl_GenerateP0Header(hdr, &info), f.result);
        if (f.result == 0) {
            EXPECT_EQ(hex_of(hdr, 16), "3ed1a7e44433221188776655ccbbaa99");
            EXPECT_EQ(hdr[16], f.byte16);
        }
    }
    const IQIV_PB_CTRL_PKT_INFO_T info{};
    EXPECT_EQ(IQivPb_Ctrl_GenerateP0Header(nullptr, &info), -3);
}

TEST(PlaybackLocal, RealVideoPictureHeaderAndPprInfo)
{
    IQIV_PB_CTRL_RV_PIC_INFO_T pic{};
    pic.u1TotalSliceNum = 3;
    for (int i = 0; i < IQIV_PB_CTRL_RV_MAX_SLICES; ++i)
        pic.au2Slice[i] = static_cast<uint16_t>(0x0102 * (i + 1));
    uint8_t hdr[IQIV_PB_CTRL_RV_HDR_LEN];
    std::memset(hdr, 0xEE, sizeof hdr);
    ASSERT_EQ(IQivPb_Ctrl_GenerateRVPicHdr(hdr, &pic), 0);
    EXPECT_EQ(hex_of(hdr, 7), "03010202040306");
    EXPECT_EQ(std::count(hdr + 7, hdr + sizeof hdr, 0), 250) << "125 zero fields";
    for (uint8_t n : {0, 129}) {
        pic.u1TotalSliceNum = n;
        EXPECT_EQ(IQivPb_Ctrl_GenerateRVPicHdr(hdr, &pic), -3) << int(n);
    }

    struct Ppr {
        uint32_t type;
        const char *bytes; // three flags, then the value
    };
    for (const Ppr &p : std::vector<Ppr>{{1,
                                          "010100"
                                          "00000000"},
                                         {5,
                                          "010100"
                                          "00000000"},
                                         {13,
                                          "010100"
                                          "00000000"},
                                         {6,
                                          "000100"
                                          "00000000"},
                                         {11,
                                          "000100"
                                          "00000000"},
                                         {12,
                                          "000101"
                                          "00003800"},
                                         {0,
                                          "eeeeee"
                                          "eeeeeeee"},
                                         {14,
                                          "eeeeee"
                                          "eeeeeeee"}}) {
        IQIV_PB_CTRL_PPR_INFO_T out;
        std::memset(&out, 0xEE, sizeof out);
        if (std::string(p.bytes).substr(6) == "00000000")
            out.u4Value = 0;
        ASSERT_EQ(IQivPb_Ctrl_GetP0PPRInfo(p.type, &out), 0);
        EXPECT_EQ(hex_of(&out, 3) + hex_of(&out.u4Value, 4), p.bytes) << p.type;
    }
    EXPECT_EQ(IQivPb_Ctrl_GetP0PPRInfo(1, nullptr), -3);
}

// An engine that answers a handle another playback holds: refused, so one
// playback's stop cannot free the other's buffers.
TEST_F(Playback, AnEngineHandleAlreadyOpenIsRefused)
{
    const IQIV_PB_HANDLE_T first = open(IQIV_PB_BUF_MOD_PUSH, 1);
    engine_.ok("out x_QivPb_Ctrl_Open 0 " + std::to_string(first));
    IQIV_PB_HANDLE_T second = 0;
    EXPECT_EQ(IQivPb_Ctrl_Open(&second, IQIV_PB_BUF_MOD_PUSH, 1, "file:///b.ts"), -1);
    int holders = 0;
    for (const pbctrl::ClientInfo &c : pbctrl::t_client_info)
        holders += c.b_used && c.h_handle == first;
    EXPECT_EQ(holders, 1);
    engine_.ok("reset");
}

// One playback's remote call holds only that playback: while A's
// SetPlayModeEx waits for the engine, a call-back sets B's engine parameters.
struct CrossCall {
    IQIV_PB_HANDLE_T other = 0;
    std::atomic<bool> in_call{false};
    std::atomic<bool> done_during_call{false};
    std::atomic<int32_t> result{1};
};
CrossCall g_cross;

int32_t set_other_playback(uint32_t, void *, void *)
{
    char url[] = "file:///b.ts";
    IQIV_PB_CTRL_ENGINE_PARAM_T p{};
    p.uBufferModelParam.tUriInfo.pcUrl = url;
    g_cross.result = IQivPb_Ctrl_SetEngineParam(g_cross.other, &p);
    g_cross.done_during_call = g_cross.in_call.load();
    return 0;
}

TEST_F(Playback, AnotherPlaybacksCallRunsWhileOneWaitsForTheEngine)
{
    const IQIV_PB_HANDLE_T a = open();
    g_cross.other = open();
    pbctrl::ClientInfo &c = pbctrl::t_client_info[pbctrl::find_by_handle(a)];
    c.at_filter[0].h_pb = 777;
    c.at_filter[0].b_used = 1;
    engine_.ok("during x_QivPb_Ctrl_SetPlayModeEx callback x_qivpbctrl_nfy_fct " +
               hex_addr(reinterpret_cast<void *>(&set_other_playback)) + " 0x48:7 0x50:0 0x48:0");
    IQIV_PB_CTRL_PLAY_MODE_EX_T mode{1, 2, 3};
    g_cross.in_call = true;
    EXPECT_EQ(IQivPb_Ctrl_SetPlayModeEx(777, &mode), 0);
    g_cross.in_call = false;
    EXPECT_EQ(g_cross.result.load(), 0);
    EXPECT_TRUE(g_cross.done_during_call.load());
    c.at_filter[0] = {};
}

} // namespace
