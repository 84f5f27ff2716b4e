// The remote members of disc navigation and the extensions, in the order of
// their table; the slot-side steps that close a playback's extension state.
#ifndef PBCTRL_EXT_MEMBERS_H
#define PBCTRL_EXT_MEMBERS_H

#include "playback_call.h"

#include <pthread.h>

namespace pbctrl {

enum class ExtId {
    Menu_Call,
    Chapter_Search,
    Title_Search,
    Still_Off,
    Set_Audio,
    DigitalKey,
    SelectKey,
    DirectionKey,
    Set_RegionCode,
    Set_Subtitle_Plane,
    Set_Topmenu_Plane,
    Set_PtLevel,
    Set_PtlCountry,
    Set_MenuLCD,
    Set_SubtitleLCD,
    Set_AudioLCD,
    Get_Total_Time,
    Get_Current_Time,
    Get_Title_Info,
    Get_Chapter_Info,
    Resume,
    Play_Next_Chp,
    Play_Prev_Chp,
    Get_Audio_Info,
    Get_DiscID,
    Get_Lastmem_Info,
    LastPlay,
    Ext_EncPb,
    Ext_EncEnable,
    Ext_RequestKeyframe,
    Ext_SetVidFrameRate,
    Ext_SetVidResolution,
    Ext_SetVidBitRate,
    TS_Filter_Start,
    TS_Filter_Stop,
    TS_Filter_Modify,
    SetHttpProxy,
    GetFeatureInfo,
    DASH_Set,
    // Members whose own steps surround the table's call.
    SendFeatureCmd,
    PIP_Switch,
    PIP_GetHandleType,
    Set_DRM_Info,
    HttpsAuthenticateServer,
    HttpsAuthenticateClient,
    CustomizeHttpReqHdr,
    SetFeatureParam,
    SetEncryptInfo,
    GetShareMemHandle,
    TS_Filter_Alloc,
    TS_Filter_Free,
    TS_Filter_FreeBuffer,
    Ext_Ipc_StartSnapshot,
    Ext_Ipc_StopSnapshot,
    Ext_Ipc_StartSnapshot_Ext,
    Ext_Ipc_StopSnapshot_Ext,
    Count
};

extern const Member kExtMembers[];

inline const Member &ext_member(ExtId id)
{
    return kExtMembers[static_cast<int>(id)];
}

// Locks the mutex of a slot in use; nullptr (nothing locked) when it is not.
pthread_mutex_t *lock_slot(int slot);

// A closing playback leaves no snapshot record, plane or filter buffer mapped.
// Called with t_info_mutex held, when no call can reach the slot any more.
void release_filter_buffers(int slot);
void release_ext_state(int slot);

} // namespace pbctrl

#endif
