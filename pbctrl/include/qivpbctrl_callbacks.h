/*
 * libqivpbctrl: the application's functions the engine reaches through the
 * library's call-back handlers (pull mode, subpicture data).
 */
#ifndef QIVPBCTRL_CALLBACKS_H
#define QIVPBCTRL_CALLBACKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Ends an asynchronous pull read: (condition, the tag given with the read,
 * bytes read, a value of the application's). */
typedef int32_t (*IQIV_PB_CTRL_PULL_NFY_FCT)(uint8_t e_cond, void *pv_tag, uint32_t ui4_data1,
                                             uint32_t ui4_data2);

/* Pull mode: the engine reads the media through these functions of the
 * application; every one returns 0 on success in its low 8 bits. */
typedef int32_t (*IQIV_PB_CTRL_PULL_OPEN_FCT)(uint32_t h_pb, uint32_t *ph_pull, void *pv_app_tag);
typedef int32_t (*IQIV_PB_CTRL_PULL_CLOSE_FCT)(uint32_t h_pull, void *pv_app_tag);
typedef int32_t (*IQIV_PB_CTRL_PULL_READ_FCT)(uint32_t h_pull, void *pv_app_tag, void *pv_buf,
                                              uint32_t ui4_len, uint32_t *pui4_read);
typedef int32_t (*IQIV_PB_CTRL_PULL_READ_ASYNC_FCT)(uint32_t h_pull, void *pv_app_tag,
                                                    void *pv_buf, uint32_t ui4_len,
                                                    IQIV_PB_CTRL_PULL_NFY_FCT pf_nfy,
                                                    void *pv_nfy_tag, uint32_t *pui4_req_id);
typedef int32_t (*IQIV_PB_CTRL_PULL_ABORT_READ_FCT)(uint32_t h_pull, void *pv_app_tag,
                                                    uint32_t ui4_req_id);
typedef int32_t (*IQIV_PB_CTRL_PULL_BYTESEEK_FCT)(uint32_t h_pull, void *pv_app_tag,
                                                  uint64_t ui8_offset, uint8_t ui1_origin,
                                                  uint64_t *pui8_cur_pos);
typedef int32_t (*IQIV_PB_CTRL_PULL_GET_INPUT_LEN_FCT)(uint32_t h_pull, void *pv_app_tag,
                                                       uint64_t *pui8_len);

/* Origins of a byte seek. */
#define IQIV_PB_CTRL_SEEK_SET 0
#define IQIV_PB_CTRL_SEEK_CUR 1
#define IQIV_PB_CTRL_SEEK_END 2

/* Given to the application's asynchronous read; exported so that the
 * engine-facing completion has one name. */
int32_t _IQivPb_Ctrl_Pull_Nfy_Fct(uint8_t e_cond, void *pv_tag, uint32_t ui4_data1,
                                  uint32_t ui4_data2);

/* Other call-backs: (a, b) of a PCM upload; the DASH entry query. */
typedef int32_t (*IQIV_PB_CTRL_PCM_UPLOAD_FCT)(uint32_t ui4_a, uint32_t ui4_b);
typedef int32_t (*IQIV_PB_CTRL_DASH_ENTRY_FCT)(uint32_t ui4_a, uint32_t ui4_b, uint32_t ui4_c,
                                               uint64_t ui8_d, uint64_t ui8_e, uint32_t ui4_e_low);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
