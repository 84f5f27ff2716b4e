// The playback control API against the real engine simulator: what the
// engine sees of every remote member, and the members' own steps.
#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pbharness::Engine;

std::string hex_of(const void *p, size_t n)
{
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", static_cast<const uint8_t *>(p)[i]);
        out += b;
    }
    return out;
}

template <typename T> std::string hex_of(const T &t)
{
    return hex_of(&t, sizeof t);
}

std::string quoted(const std::string &text)
{
    return "[\"" + text + "\"]";
}

class Playback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine_.start());
        IQivPb_Ctrl_Init();
    }
    void TearDown() override
    {
        for (IQIV_PB_HANDLE_T h : open_)
            IQivPb_Ctrl_Close(h);
        IQivPb_Ctrl_Terminate();
    }

    IQIV_PB_HANDLE_T open(uint32_t model = IQIV_PB_BUF_MOD_URI, uint32_t open_mod = 0)
    {
        IQIV_PB_HANDLE_T h = 0;
        EXPECT_EQ(IQivPb_Ctrl_Open(&h, model, open_mod, "file:///a.ts"), 0);
        open_.push_back(h);
        return h;
    }

    std::string seen(const std::string &op, size_t i) { return engine_.ok("last " + op + " " + std::to_string(i)); }
    std::string calls(const std::string &op) { return engine_.ok("calls " + op); }

    Engine engine_;
    std::vector<IQIV_PB_HANDLE_T> open_;
};

// One remote member: how to call it, and what the engine must see.
struct Case {
    const char *op;
    const char *codes;
    std::function<int32_t(IQIV_PB_HANDLE_T)> call;
    std::vector<std::string> args; // what the engine sees of arguments 1..n ("" = not checked)
    std::vector<const void *> outs = {}; // places and records the engine writes, in argument order
};

constexpr uint8_t kWritten = 0x2A;

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
    const std::string hs = std::to_string(h);
    const std::string sub_in_seen = hex_of(&sub_in, offsetof(IQIV_PB_CTRL_SUBTITLE_INFO_T, uSubtitleInfoParam)) +
                                    quoted(ttml);

    const std::vector<Case> cases = {
        {"x_QivPb_Ctrl_SetAudTrack", "0x48 0x47", [&](auto x) { return IQivPb_Ctrl_SetAudTrack(x, 3); }, {"3"}},
        {"x_QivPb_Ctrl_SetURL", "0x48 0x48 0x60", [&](auto x) { return IQivPb_Ctrl_SetURL(x, 2, "http://a/b"); },
         {"2", "http://a/b"}},
        {"x_QivPb_Ctrl_ExtSbtl_SetURL", "0x48 0x48 0x60 0x60",
         [&](auto x) { return IQivPb_Ctrl_ExtSbtl_SetURL(x, 1, "u1", "u2"); }, {"1", "u1", "u2"}},
        {"x_QivPb_Ctrl_SendCmd", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_SendCmd(x, &cmd); }, {hex_of(cmd)}},
        {"x_QivPb_Ctrl_PreLoadData", "0x48", [&](auto x) { return IQivPb_Ctrl_PreLoadData(x); }, {}},
        {"x_QivPb_Ctrl_Play", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_Play(x, 4); }, {"4"}},
        {"x_QivPb_Ctrl_PlayEx", "0x48 0x48 0x71", [&](auto x) { return IQivPb_Ctrl_PlayEx(x, 1, &play_ex); },
         {"1", hex_of(play_ex)}},
        {"x_QivPb_Ctrl_Pause", "0x48", [&](auto x) { return IQivPb_Ctrl_Pause(x); }, {}},
        {"x_QivPb_Ctrl_PauseEx", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_PauseEx(x, &pause_ex); },
         {hex_of(pause_ex)}},
        {"x_QivPb_Ctrl_AudioReset", "0x48", [&](auto x) { return IQivPb_Ctrl_AudioReset(x); }, {}},
        {"x_QivPb_Ctrl_Stop", "0x48", [&](auto x) { return IQivPb_Ctrl_Stop(x); }, {}},
        {"x_QivPb_Ctrl_Step", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_Step(x, 2); }, {"2"}},
        {"x_QivPb_Ctrl_TimeSeek", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_TimeSeek(x, 60); }, {"60"}},
        {"x_QivPb_Ctrl_TimeSeekEx", "0x48 0x48 0x71", [&](auto x) { return IQivPb_Ctrl_TimeSeekEx(x, 61, &seek_ex); },
         {"61", hex_of(seek_ex)}},
        {"x_QivPb_Ctrl_TimeSeekMS", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_TimeSeekMS(x, 62000); }, {"62000"}},
        {"x_QivPb_Ctrl_ChangeAudio", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_ChangeAudio(x, &change_audio); },
         {hex_of(change_audio)}},
        {"x_QivPb_Ctrl_ChangeVideo", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_ChangeVideo(x, &change_video); },
         {hex_of(change_video)}},
        {"x_QivPb_Ctrl_SetSpeed", "0x48 0x44", [&](auto x) { return IQivPb_Ctrl_SetSpeed(x, 5); }, {"5"}},
        {"x_QivPb_Ctrl_SetPlayMode", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_SetPlayMode(x, &play_mode); },
         {hex_of(play_mode)}},
        {"x_QivPb_Ctrl_ClearVideo", "0x48", [&](auto x) { return IQivPb_Ctrl_ClearVideo(x); }, {}},
        {"x_QivPb_Ctrl_GetMediaInfo", "0x48 0xB1", [&](auto x) { return IQivPb_Ctrl_GetMediaInfo(x, &media); },
         {""}, {&media}},
        {"x_QivPb_Ctrl_GetBufferFullness", "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetBufferFullness(x, &u32[0]); }, {""}, {&u32[0]}},
        {"x_QivPb_Ctrl_GetBufferStatus", "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetBufferStatus(x, &status); }, {""}, {&status}},
        {"x_QivPb_Ctrl_GetPlayParam", "0x48 0xB1", [&](auto x) { return IQivPb_Ctrl_GetPlayParam(x, &play_param); },
         {""}, {&play_param}},
        {"x_QivPb_Ctrl_GetAudTrackInfo", "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetAudTrackInfo(x, 1, &aud); }, {"1", ""}, {&aud}},
        {"x_QivPb_Ctrl_GetAudTrackInfoEx", "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetAudTrackInfoEx(x, 2, &aud_ex); }, {"2", ""}, {&aud_ex}},
        {"x_QivPb_Ctrl_GetCurAudTrackInfo", "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetCurAudTrackInfo(x, &aud); }, {""}, {&aud}},
        {"x_QivPb_Ctrl_GetCurAudTrackInfoEx", "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetCurAudTrackInfoEx(x, &cur_aud_ex); }, {""}, {&cur_aud_ex}},
        {"x_QivPb_Ctrl_GetVidTrackInfo", "0x48 0xB1", [&](auto x) { return IQivPb_Ctrl_GetVidTrackInfo(x, &vid); },
         {""}, {&vid}},
        {"x_QivPb_Ctrl_GetVidTrackInfoEx", "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetVidTrackInfoEx(x, &vid_ex); }, {""}, {&vid_ex}},
        {"x_QivPb_Ctrl_GetCurrentPos", "0x48 0x98 0x99",
         [&](auto x) { return IQivPb_Ctrl_GetCurrentPos(x, &u32[1], &u64[0]); }, {"", ""}, {&u32[1], &u64[0]}},
        {"x_QivPb_Ctrl_GetCurrentPTS", "0x48 0x99 0x99",
         [&](auto x) { return IQivPb_Ctrl_GetCurrentPTS(x, &u64[1], &u64[2]); }, {"", ""}, {&u64[1], &u64[2]}},
        {"x_QivPb_Ctrl_GetState", "0x48 0x98", [&](auto x) { return IQivPb_Ctrl_GetState(x, &u32[2]); }, {""},
         {&u32[2]}},
        {"x_QivPb_Ctrl_SetAudioFifoSize", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_SetAudioFifoSize(x, 4096); },
         {"4096"}},
        {"x_QivPb_Ctrl_GetMaxAudioFifoSize", "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetMaxAudioFifoSize(x, &u32[3]); }, {""}, {&u32[3]}},
        {"x_QivPb_Ctrl_SetVideoFifoSize", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_SetVideoFifoSize(x, 8192); },
         {"8192"}},
        {"x_QivPb_Ctrl_GetMaxVideoFifoSize", "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetMaxVideoFifoSize(x, &u32[4]); }, {""}, {&u32[4]}},
        {"x_QivPb_Ctrl_GetBufferRemainingDataLen", "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_GetBufferRemainingDataLen(x, &u32[5]); }, {""}, {&u32[5]}},
        {"x_QivPb_Ctrl_StartTSPreparse", "0x48 0x46", [&](auto x) { return IQivPb_Ctrl_StartTSPreparse(x, 1); },
         {"1"}},
        {"x_QivPb_Ctrl_StopTSPreparse", "0x48", [&](auto x) { return IQivPb_Ctrl_StopTSPreparse(x); }, {}},
        {"x_QivPb_Ctrl_SetTSMediaInfo", "0x48 0x71 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetTSMediaInfo(x, &ts_video, &ts_audio); },
         {hex_of(ts_video), hex_of(ts_audio)}},
        {"x_QivPb_Ctrl_SetBufNfyThrd", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_SetBufNfyThrd(x, &thrd); },
         {hex_of(thrd)}},
        {"x_QivPb_Ctrl_TSPlay", "0x48", [&](auto x) { return IQivPb_Ctrl_TSPlay(x); }, {}},
        {"x_QivPb_Ctrl_TSStop", "0x48", [&](auto x) { return IQivPb_Ctrl_TSStop(x); }, {}},
        {"x_QivPb_Ctrl_SetSubtitleShowHide", "0x48 0x4B",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleShowHide(x, 1); }, {"1"}},
        {"x_QivPb_Ctrl_SetSubtitleShowHideEx", "0x48 0x44 0x4B",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitleShowHideEx(x, 2, 1); }, {"2", "1"}},
        {"x_QivPb_Ctrl_SetSubtitleTrack", "0x48 0x47", [&](auto x) { return IQivPb_Ctrl_SetSubtitleTrack(x, 3); },
         {"3"}},
        {"x_QivPb_Ctrl_GetSubTrackInfo", "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetSubTrackInfo(x, 1, &sub_out); }, {"1", ""}, {&sub_out}},
        {"x_QivPb_Ctrl_SetSubtitleInfo", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_SetSubtitleInfo(x, &sub_in); },
         {""}},
        {"x_QivPb_Ctrl_SubtitleSelect", "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SubtitleSelect(x, &sub_plain); }, {hex_of(sub_plain)}},
        {"x_QivPb_Ctrl_ChangeSubtitle", "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_ChangeSubtitle(x, &sub_plain); }, {hex_of(sub_plain)}},
        {"x_QivPb_Ctrl_SetSubtitlePlane", "0x48 0x44", [&](auto x) { return IQivPb_Ctrl_SetSubtitlePlane(x, 2); },
         {"2"}},
        {"x_QivPb_Ctrl_SetSubtitlePlaneEx", "0x48 0x44 0x44",
         [&](auto x) { return IQivPb_Ctrl_SetSubtitlePlaneEx(x, 1, 2); }, {"1", "2"}},
        {"x_QivPb_Ctrl_SetSubtitleAttr", "0x48 0x71", [&](auto x) { return IQivPb_Ctrl_SetSubtitleAttr(x, &attr); },
         {hex_of(attr)}},
        {"x_QivPb_Ctrl_GetAvInInfo", "0x48 0xB1", [&](auto x) { return IQivPb_Ctrl_GetAvInInfo(x, &avin); }, {""},
         {&avin}},
        {"x_QivPb_Ctrl_GetSpInfo", "0x48 0xB1", [&](auto x) { return IQivPb_Ctrl_GetSpInfo(x, &sp); }, {""}, {&sp}},
        {"x_QivPb_Ctrl_GetSpTrackInfo", "0x48 0x47 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetSpTrackInfo(x, 4, &sp_track); }, {"4", ""}, {&sp_track}},
        {"x_QivPb_Ctrl_GetCurSpTrackInfo", "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetCurSpTrackInfo(x, &cur_sp_track); }, {""}, {&cur_sp_track}},
        {"x_QivPb_Ctrl_SetSpTrack", "0x48 0x47 0x4B", [&](auto x) { return IQivPb_Ctrl_SetSpTrack(x, 2, 1); },
         {"2", "1"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.op);
        // Every place and record the engine writes gets kWritten in its first byte.
        std::istringstream codes(c.codes);
        std::string code;
        for (size_t i = 0; codes >> code; ++i) {
            if (code == "0xB1")
                engine_.ok("outhex " + std::string(c.op) + " " + std::to_string(i) + " 2a");
            else if (code == "0x98" || code == "0x99")
                engine_.ok("out " + std::string(c.op) + " " + std::to_string(i) + " 42");
        }
        EXPECT_EQ(c.call(h), 0);
        EXPECT_EQ(calls(c.op), "1");
        EXPECT_EQ(engine_.ok(std::string("codes ") + c.op), c.codes);
        EXPECT_EQ(seen(c.op, 0), hs);
        for (size_t i = 0; i < c.args.size(); ++i) {
            if (!c.args[i].empty()) {
                EXPECT_EQ(seen(c.op, i + 1), c.args[i]) << "argument " << i + 1;
            }
        }
        for (const void *out : c.outs)
            EXPECT_EQ(*static_cast<const uint8_t *>(out), kWritten);
    }
    EXPECT_EQ(seen("x_QivPb_Ctrl_SetSubtitleInfo", 1).substr(0, sub_in_seen.size()), sub_in_seen);
    // The engine's own result passes through.
    engine_.ok("result x_QivPb_Ctrl_Play -9");
    EXPECT_EQ(IQivPb_Ctrl_Play(h, 0), -9);
}

} // namespace
