/*
 * libqivpbmisc: client of the engine's misc service (audio volume per
 * channel, user preferences). Every call is a remote call to the engine
 * process; results are the service's signed 8-bit result widened to int,
 * or the library's own negative codes below.
 */
#ifndef QIVPBMISC_H
#define QIVPBMISC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Everything declared here is the library's exported API; the rest of it is hidden. */
#pragma GCC visibility push(default)

/* Results of the library itself; the service's own pass through. */
#define IQIVPB_MISC_OK 0
#define IQIVPB_MISC_FAIL (-1)    /* the remote call failed or answered with a wrong type */
#define IQIVPB_MISC_INV_ARG (-3) /* null pointer */
#define IQIVPB_MISC_NO_MEM (-4)  /* heap or shared-memory block not available */

/* Preference indices with a record of their own. */
#define IQIVPB_MISC_PREF_AUDIO_LANG 1
#define IQIVPB_MISC_PREF_TEXT 101

#define IQIVPB_MISC_PREF_TEXT_SIZE 255

/* Preference 1: the language type (0, 1 or 2) and up to three code bytes. */
typedef struct {
    uint32_t u4LangType;
    uint8_t u1LangCode0; /* 4 */
    uint8_t u1LangCode1; /* 5 */
    uint8_t u1LangCode2; /* 6 */
} IQIV_PB_MISC_AUDIO_LANG_T;

/* Preference 101: a text of up to 255 bytes, not terminated when it fills
 * the field, and the service's value beside it. */
typedef struct {
    uint8_t u1Value;                         /* 0: written by the service */
    char acText[IQIVPB_MISC_PREF_TEXT_SIZE]; /* 1 */
    uint16_t u2Value;                        /* 256: written by the service */
} IQIV_PB_MISC_TEXT_PREF_T;

/* The record IQivPb_Misc_GetUserPref fills, by preference index. */
typedef union {
    IQIV_PB_MISC_AUDIO_LANG_T tAudioLang;
    IQIV_PB_MISC_TEXT_PREF_T tText;
} IQIV_PB_MISC_USER_PREF_T;

int32_t IQivPb_Misc_Init(void);
int32_t IQivPb_Misc_Terminate(void);
int32_t QivPb_Misc_Client_Init(void);
int32_t QivPb_Misc_Client_Terminate(void);

int32_t IQivPb_Misc_GetAudioVolume(uint32_t eChannel, uint8_t *pu1Volume);
int32_t IQivPb_Misc_SetAudioVolume(uint32_t eChannel, uint8_t u1Volume);
/* Indices other than 1 and 101 return 0 without asking the service;
 * u4ValueSize is carried in the trace only. */
int32_t IQivPb_Misc_GetUserPref(uint32_t ePrefIdx, IQIV_PB_MISC_USER_PREF_T *ptUserPrefValue, uint32_t u4ValueSize);

int32_t c_rpc_misc_client_init(void);
int32_t c_rpc_start_misc_client(void);
int32_t c_rpc_init_qivpbmisc_client(void);
int32_t c_rpc_uninit_qivpbmisc_client(int32_t i4_id);
int32_t c_rpc_reg_qivpbmisc_cb_hndlrs(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
