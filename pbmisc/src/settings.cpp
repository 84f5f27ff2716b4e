// Audio volume and user preferences.
#include "korm.h"
#include "qivpbmisc.h"
#include "remote_call.h"

#include "common/abi.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace pbmisc;

BOARD_ILP32_ASSERT(offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u1LangCode0) == 4 &&
                       offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u1LangCode1) == 5 &&
                       offsetof(IQIV_PB_MISC_AUDIO_LANG_T, u1LangCode2) == 6,
                   "language codes at 4, 5, 6");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_MISC_TEXT_PREF_T, acText) == 1 &&
                       offsetof(IQIV_PB_MISC_TEXT_PREF_T, u2Value) == 256,
                   "preference text at 1, its value at 256");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_MISC_USER_PREF_T, tAudioLang) == 0 &&
                       offsetof(IQIV_PB_MISC_USER_PREF_T, tText) == 0,
                   "both preferences start the record");

namespace {

constexpr int32_t kTraceLevel = 1;
constexpr uint32_t kLangTypeTwoCodes = 1;
constexpr uint32_t kLangTypeThreeCodes = 2;

// The places the service fills for preference 1.
struct LangPlaces {
    uint32_t u4LangType;
    uint8_t au1Code[3];
};

void copy_language(const LangPlaces &p, IQIV_PB_MISC_AUDIO_LANG_T &out)
{
    switch (p.u4LangType) {
    case kLangTypeThreeCodes:
        out.u1LangCode2 = p.au1Code[2];
        [[fallthrough]];
    case kLangTypeTwoCodes:
        out.u4LangType = p.u4LangType;
        out.u1LangCode0 = p.au1Code[0];
        out.u1LangCode1 = p.au1Code[1];
        break;
    default:
        out.u4LangType = 0;
        break;
    }
}

int32_t get_audio_language(IQIV_PB_MISC_AUDIO_LANG_T &out)
{
    auto *p = static_cast<LangPlaces *>(std::calloc(1, sizeof(LangPlaces)));
    if (!p)
        return IQIVPB_MISC_NO_MEM;
    const int32_t ret = call<kGetAudioLangPref>(__LINE__,
                                                {IQIVPB_MISC_PREF_AUDIO_LANG, addr(&p->u4LangType),
                                                 addr(&p->au1Code[0]), addr(&p->au1Code[1]), addr(&p->au1Code[2])});
    // The places hold nothing of the service's after a failed call.
    if (ret != 0)
        out.u4LangType = 0;
    else
        copy_language(*p, out);
    printf("u4LangType=[%d]\n", static_cast<int>(p->u4LangType));
    printf("u1LangCode0=[%d]\n", p->au1Code[0]);
    printf("u1LangCode1=[%d]\n", p->au1Code[1]);
    printf("u1LangCode2=[%d]\n", p->au1Code[2]);
    std::free(p);
    return ret;
}

int32_t get_text(IQIV_PB_MISC_TEXT_PREF_T &out)
{
    const uint32_t u4SndSize = IQIVPB_MISC_PREF_TEXT_SIZE;
    const HANDLE_T hSmemBlockHandle = x_smem_block_alloc(u4SndSize);
    if (!hSmemBlockHandle) {
        puts("<MISC CLIENT>smem alloc failed...");
        return IQIVPB_MISC_NO_MEM;
    }
    printf("<MISC CLIENT>smem alloc succeed...hSmemBlockHandle=0x%x, u4SndSize=%d\n",
           static_cast<unsigned>(hSmemBlockHandle), static_cast<int>(u4SndSize));
    auto *block = static_cast<char *>(x_smem_block_map(hSmemBlockHandle));
    if (!block) {
        puts("<MISC CLIENT>smem map failed...");
        x_smem_block_free(hSmemBlockHandle);
        return IQIVPB_MISC_NO_MEM;
    }
    printf("<MISC CLIENT>smem mapped address...uSmemBlockAddr=0x%x, u4SndSize=%d\n",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(block)), static_cast<int>(u4SndSize));
    std::memset(block, 0, u4SndSize);
    const int32_t ret = call<kGetTextPref>(__LINE__, {IQIVPB_MISC_PREF_TEXT, addr(&out), hSmemBlockHandle,
                                                      addr(&out.u2Value), 0});
    if (ret == 0) {
        // As strncpy: up to the text's end, the rest of the field zeroed,
        // no terminator when the text fills it.
        const size_t n = strnlen(block, sizeof out.acText);
        std::memcpy(out.acText, block, n);
        std::memset(out.acText + n, 0, sizeof out.acText - n);
    }
    x_smem_block_unmap(block);
    x_smem_block_free(hSmemBlockHandle);
    return ret;
}

} // namespace

extern "C" {

int32_t IQivPb_Misc_GetAudioVolume(uint32_t eChannel, uint8_t *pu1Volume)
{
    rpcu_log(kTraceLevel, "<LOG %s, %s, #%d><MISC CLIENT> IQivPb_Misc_GetAudioVolume is called, eChannel=%d\n",
             g_ps_exe_name, __func__, __LINE__, static_cast<int>(eChannel));
    if (!pu1Volume)
        return IQIVPB_MISC_INV_ARG;
    return call<kGetAudioVolume>(__LINE__, {eChannel, addr(pu1Volume)});
}

int32_t IQivPb_Misc_SetAudioVolume(uint32_t eChannel, uint8_t u1Volume)
{
    rpcu_log(kTraceLevel,
             "<LOG %s, %s, #%d><MISC CLIENT> IQivPb_Misc_SetAudioVolume is called, eChannel=%d, u1Volume=%d\n",
             g_ps_exe_name, __func__, __LINE__, static_cast<int>(eChannel), u1Volume);
    return call<kSetAudioVolume>(__LINE__, {eChannel, u1Volume});
}

int32_t IQivPb_Misc_GetUserPref(uint32_t ePrefIdx, IQIV_PB_MISC_USER_PREF_T *ptUserPrefValue, uint32_t u4ValueSize)
{
    rpcu_log(kTraceLevel,
             "<LOG %s, %s, #%d><MISC CLIENT> IQivPb_Misc_GetUserPref is called, ePrefIdx=%d, "
             "ptUserPrefValue=0x%x, u4ValueSize=%d\n",
             g_ps_exe_name, __func__, __LINE__, static_cast<int>(ePrefIdx),
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(ptUserPrefValue)), static_cast<int>(u4ValueSize));
    if (ePrefIdx != IQIVPB_MISC_PREF_AUDIO_LANG && ePrefIdx != IQIVPB_MISC_PREF_TEXT)
        return IQIVPB_MISC_OK;
    // The record is written whatever the service answers.
    if (!ptUserPrefValue)
        return IQIVPB_MISC_INV_ARG;
    return ePrefIdx == IQIVPB_MISC_PREF_AUDIO_LANG ? get_audio_language(ptUserPrefValue->tAudioLang)
                                                   : get_text(ptUserPrefValue->tText);
}

} // extern "C"
