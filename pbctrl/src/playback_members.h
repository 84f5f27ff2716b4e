// The remote members of the playback API, in the order of their table.
#ifndef PBCTRL_PLAYBACK_MEMBERS_H
#define PBCTRL_PLAYBACK_MEMBERS_H

#include "playback_call.h"

namespace pbctrl {

enum class Id {
    SetAudTrack,
    SetURL,
    ExtSbtl_SetURL,
    SendCmd,
    PreLoadData,
    Play,
    PlayEx,
    Pause,
    PauseEx,
    AudioReset,
    Stop,
    Step,
    TimeSeek,
    TimeSeekEx,
    TimeSeekMS,
    ChangeAudio,
    ChangeVideo,
    SetSpeed,
    SetPlayMode,
    ClearVideo,
    GetMediaInfo,
    GetBufferFullness,
    GetBufferStatus,
    GetPlayParam,
    GetAudTrackInfo,
    GetAudTrackInfoEx,
    GetCurAudTrackInfo,
    GetCurAudTrackInfoEx,
    GetVidTrackInfo,
    GetVidTrackInfoEx,
    GetCurrentPos,
    GetCurrentPTS,
    GetState,
    SetAudioFifoSize,
    GetMaxAudioFifoSize,
    SetVideoFifoSize,
    GetMaxVideoFifoSize,
    GetBufferRemainingDataLen,
    StartTSPreparse,
    StopTSPreparse,
    SetTSMediaInfo,
    SetBufNfyThrd,
    TSPlay,
    TSStop,
    SetSubtitleShowHide,
    SetSubtitleShowHideEx,
    SetSubtitleTrack,
    GetSubTrackInfo,
    SetSubtitleInfo,
    SubtitleSelect,
    ChangeSubtitle,
    SetSubtitlePlane,
    SetSubtitlePlaneEx,
    SetSubtitleAttr,
    GetAvInInfo,
    GetSpInfo,
    GetSpTrackInfo,
    GetCurSpTrackInfo,
    SetSpTrack,
    CancelGetBufferPending,
    SetPushModelEOS,
    RegCallback,
    SetEngineParam,
    SetEngineParamAsync,
    SetMediaInfo,
    SetExtraInfo,
    SetPlayModeEx,
    SetDisplayRectangle,
    Set,
    Get,
    ParseMediaInfo,
    Start_PcmUpload_cb,
    Stop_PcmUpload_cb,
    Count
};

extern const Member kMembers[];

inline const Member &member(Id id)
{
    return kMembers[static_cast<int>(id)];
}

} // namespace pbctrl

#endif
