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

/* Results (signed, widened from 8 bits); the engine's own pass through. */
#define IQIVPB_OK 0
#define IQIVPB_FAIL (-1)
#define IQIVPB_NO_CLIENT (-2)
#define IQIVPB_INV_ARG (-3)
#define IQIVPB_NO_SLOT (-4)
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
#define IQIV_PB_CTRL_EVENT_FEATURE_DATA 16 /* data: a kernel block, mapped for the call */
#define IQIV_PB_CTRL_EVENT_FIRST_PIC_READY 55 /* data: the 64-bit PTS */

/* The application's event function; the low 8 bits of its result are 0 on success. */
typedef int32_t (*IQIV_PB_CTRL_NFY_FCT)(uint32_t e_event, void *pv_tag, void *pv_data);
/* Functions handed to the engine's command line by IQivPb_Ctrl_Reg_CLI. */
typedef int32_t (*IQIV_PB_CTRL_CLI_FCT)(int32_t i4_value);

int32_t IQivPb_Ctrl_Init(void);
int32_t IQivPb_Ctrl_Terminate(void);
int32_t IQivPb_Ctrl_Open(IQIV_PB_HANDLE_T *ph_handle, uint32_t e_buf_mod, uint32_t e_open_mod,
                         const char *ps_text);
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
