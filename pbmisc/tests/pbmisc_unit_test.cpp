// The preference record's layout and what the shared library exports.
#include "qivpbmisc.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>

namespace {

TEST(PbmiscLayout, PreferenceRecordPlacesItsFieldsWhereTheServiceWrites)
{
    EXPECT_EQ(offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u4LangType), 0u);
    EXPECT_EQ(offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u1LangCode0), 4u);
    EXPECT_EQ(offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u1LangCode1), 5u);
    EXPECT_EQ(offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u1LangCode2), 6u);
    EXPECT_EQ(offsetof(IQIV_PB_MISC_TEXT_PREF_T, acText), 1u);
    EXPECT_EQ(sizeof(IQIV_PB_MISC_TEXT_PREF_T::acText), 255u);
    EXPECT_EQ(offsetof(IQIV_PB_MISC_TEXT_PREF_T, u2Value), 256u);
    EXPECT_EQ(offsetof(IQIV_PB_MISC_USER_PREF_T, tText), 0u);
    EXPECT_GE(sizeof(IQIV_PB_MISC_USER_PREF_T), 258u);
}

TEST(PbmiscVisibility, ExportsItsCApiUnmangledAndNothingElse)
{
    void *lib = dlopen(PBMISC_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    for (const char *name :
         {"IQivPb_Misc_Init", "IQivPb_Misc_Terminate", "QivPb_Misc_Client_Init", "QivPb_Misc_Client_Terminate",
          "IQivPb_Misc_GetAudioVolume", "IQivPb_Misc_SetAudioVolume", "IQivPb_Misc_GetUserPref",
          "c_rpc_misc_client_init", "c_rpc_start_misc_client", "c_rpc_init_qivpbmisc_client",
          "c_rpc_uninit_qivpbmisc_client", "c_rpc_reg_qivpbmisc_cb_hndlrs"})
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    for (const char *name :
         {"_ZN6pbmisc11call_remoteERKNS_12RemoteMemberEiPKm", "_ZN6pbmisc11call_remoteERKNS_12RemoteMemberEiPKy",
          "_ZN6pbmisc25t_iqivpbsnd_client_rpc_idE"})
        EXPECT_EQ(dlsym(lib, name), nullptr) << name;
    dlclose(lib);
}

} // namespace
