/*
 * libqivpbctrl: push mode. The application fills buffers that live in the
 * engine's shared-memory slices and sends them; the engine reports each
 * consumed buffer, and event 12 (IQIV_PB_CTRL_EVENT_BUFFER_FREE) to the
 * function given to IQivPb_Ctrl_RegCallback tells an application that got
 * IQIVPB_PENDING that space may be free again.
 */
#ifndef QIVPBCTRL_PUSH_H
#define QIVPBCTRL_PUSH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The playback's event function and its tag; push playbacks also keep them
 * for event 12. */
int32_t IQivPb_Ctrl_RegCallback(uint32_t h_pb, void *pv_tag, IQIV_PB_CTRL_NFY_FCT pf_nfy);

/* A buffer of at least ui4_size bytes: 0 and its address in *ppv_buf, or
 * IQIVPB_PENDING (-100) while the slices are taken, -4 when the slices can
 * never hold that many bytes. */
int32_t IQivPb_Ctrl_GetBuffer(uint32_t h_pb, uint32_t ui4_size, void **ppv_buf);
/* Sends the first ui4_size bytes of a buffer GetBuffer handed out. */
int32_t IQivPb_Ctrl_SendData(uint32_t h_pb, uint32_t ui4_size, void *pv_buf);
/* Gives a buffer back without sending it. */
int32_t IQivPb_Ctrl_ReleaseBuffer(uint32_t h_pb, void *pv_buf);
int32_t IQivPb_Ctrl_CancelGetBufferPending(uint32_t h_pb);
int32_t IQivPb_Ctrl_SetPushModelEOS(uint32_t h_pb);

/* The second path: the engine chooses the memory of each buffer. */
int32_t IQivPb_Ctrl_GetBufferEx(uint32_t h_pb, uint32_t e_buf_type, uint32_t ui4_size, void **ppv_buf);
int32_t IQivPb_Ctrl_SendDataEx(uint32_t h_pb, uint32_t e_buf_type, uint32_t ui4_size, void *pv_buf);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
