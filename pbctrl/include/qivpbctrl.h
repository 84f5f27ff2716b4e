/*
 * libqivpbctrl: in-process client of the playback engine. Every API call is
 * a remote call to the engine process; the engine calls back through
 * handlers the library registers with the transport.
 */
#ifndef QIVPBCTRL_H
#define QIVPBCTRL_H

#include <stdint.h>

#include "qiv_records.h"
#include "qivpbctrl_ts.h"
#include "qivpbctrl_callbacks.h"

#ifdef __cplusplus
extern "C" {
#endif
/* Everything declared here is the library's exported API; the rest of it is hidden. */
#pragma GCC visibility push(default)

typedef uint32_t IQIV_PB_HANDLE_T;

/*
 * Results (signed, widened from 8 bits); any other value is the engine's
 * own result, passed through.
 *   IQIVPB_OK        0     done (or the engine's success)
 *   IQIVPB_FAIL      -1    the remote call failed or answered a wrong type,
 *                          or a local step failed (a block that does not
 *                          map or is smaller than needed, a full table)
 *   IQIVPB_NO_CLIENT -2    no open playback has that handle
 *   IQIVPB_INV_ARG   -3    null pointer, zero size, model not allowed
 *   IQIVPB_NOT_ENOUGH -4   (IQIVPB_NO_SLOT, its older name) not enough:
 *                          no playback for the handle in
 *                          SetEngineParam, push slices smaller than the
 *                          request (GetBuffer), no memory (SendData)
 *   IQIVPB_NO_MEM    -9    only handlers answer it to the engine: no pull
 *                          record or no memory for a read tag
 *   IQIVPB_PENDING   -100  no push buffer space now: wait for event 12
 *
 * Threads. Every function may be called from several threads. The engine's
 * call-backs (the application's event, pull, subpicture, encoder, filter
 * and PCM functions) run on the transport's threads, at any moment,
 * also while the application is inside a call of its own. No lock of the
 * library is held while an application function is called; push and Ex
 * calls hold the playback's own lock across their remote calls, so a
 * consumption notice of that playback waits for them. A call-back may call
 * the library (ask for a buffer, end an asynchronous read at once), but
 * must not close its own playback: IQivPb_Ctrl_Close waits until the
 * playback's running call-backs have returned, and refuses later ones.
 */
#define IQIVPB_OK 0
#define IQIVPB_FAIL (-1)
#define IQIVPB_NO_CLIENT (-2)
#define IQIVPB_INV_ARG (-3)
#define IQIVPB_NOT_ENOUGH (-4)
#define IQIVPB_NO_SLOT IQIVPB_NOT_ENOUGH
#define IQIVPB_NO_MEM (-9)
#define IQIVPB_PENDING (-100)

/* Buffering models given at open. */
#define IQIV_PB_BUF_MOD_URI 1
#define IQIV_PB_BUF_MOD_PULL 2
#define IQIV_PB_BUF_MOD_PUSH 3
#define IQIV_PB_BUF_MOD_DISC 4
#define IQIV_PB_BUF_MOD_DASH 5
#define IQIV_PB_BUF_MOD_OTHER 6

/* Events with a meaning of their own in the client. */
#define IQIV_PB_CTRL_EVENT_BUFFER_FREE 12
#define IQIV_PB_CTRL_EVENT_FEATURE_DATA 16    /* data: a kernel block, mapped for the call */
#define IQIV_PB_CTRL_EVENT_FIRST_PIC_READY 55 /* data: the 64-bit PTS */

/* The application's event function; the low 8 bits of its result are 0 on success. */
typedef int32_t (*IQIV_PB_CTRL_NFY_FCT)(uint32_t e_event, void *pv_tag, void *pv_data);
/* Functions handed to the engine's command line by IQivPb_Ctrl_Reg_CLI. */
typedef int32_t (*IQIV_PB_CTRL_CLI_FCT)(int32_t i4_value);

int32_t IQivPb_Ctrl_Init(void);
int32_t IQivPb_Ctrl_Terminate(void);
int32_t IQivPb_Ctrl_Open(IQIV_PB_HANDLE_T *ph_handle, uint32_t e_buf_mod, uint32_t e_open_mod, const char *ps_text);
int32_t IQivPb_Ctrl_Close(IQIV_PB_HANDLE_T h_handle);
int32_t IQivPb_Ctrl_Reg_CLI(IQIV_PB_CTRL_CLI_FCT pf_set_level, IQIV_PB_CTRL_CLI_FCT pf_print_level,
                            IQIV_PB_CTRL_CLI_FCT pf_force_open);

int Client_printf(const char *ps_format, ...) __attribute__((format(printf, 1, 2)));

int32_t c_rpc_client_init(void);
int32_t c_rpc_start_client(void);
int32_t c_rpc_init_qivpbctrl_client(void);
int32_t c_rpc_uninit_qivpbctrl_client(int32_t i4_id);
int32_t c_rpc_reg_qivpbctrl_cb_hndlrs(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#include "qivpbctrl_playback.h"
#include "qivpbctrl_ext.h"
#include "qivpbctrl_push.h"

#endif
