/*
 * libqivpbctrl: transport-stream information. IQivPb_Ctrl_GetTSInfo reads the
 * start of an MPEG-2 transport stream held in memory (188-byte TS or 192-byte
 * M2TS packets) and lists its programs and elementary streams. It is local
 * code: no engine connection, no client slot, no allocation, no state kept
 * between calls.
 */
#ifndef QIVPBCTRL_TS_H
#define QIVPBCTRL_TS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma GCC visibility push(default)

#define IQIV_PB_TS_MAX_PROGRAMS 16
#define IQIV_PB_TS_MAX_STREAMS 8
/* First PTS of a stream in which none was found. */
#define IQIV_PB_TS_NO_PTS UINT64_C(0xFFFFFFFFFFFFFFFF)
/* Data word of the MPEG audio stream whose first frame header was recognised. */
#define IQIV_PB_TS_MPEG_LAYER_3 3 /* frame header 0xFF 0xFB */
#define IQIV_PB_TS_MPEG_LAYER_2 1 /* frame header 0xFF 0xFD */

/* Fields are in the processor's order (little-endian on the board). */
typedef struct {
    uint16_t ui2_pid;         /* elementary PID */
    uint16_t ui2_stream_type; /* stream_type of the PMT entry */
    uint32_t ui4_data;        /* first ES_info descriptor byte, or the MPEG audio layer code */
    uint64_t ui8_pts;         /* first PTS (33 bits, 90 kHz), IQIV_PB_TS_NO_PTS if none */
    uint8_t aui1_reserved[24];
} IQIV_PB_TS_STREAM_INFO_T;

typedef struct {
    uint8_t b_parsed; /* a PMT of this program was read */
    uint8_t ui1_reserved;
    uint16_t ui2_pmt_pid;
    uint8_t ui1_stream_num; /* entries used in at_stream */
    uint8_t aui1_reserved[3];
    IQIV_PB_TS_STREAM_INFO_T at_stream[IQIV_PB_TS_MAX_STREAMS];
} IQIV_PB_TS_PROGRAM_INFO_T;

typedef struct {
    uint16_t ui2_pkt_size; /* 188 or 192 */
    uint16_t ui2_reserved;
    uint8_t ui1_prog_num; /* entries used in at_program, at most 16 */
    uint8_t aui1_reserved[3];
    IQIV_PB_TS_PROGRAM_INFO_T at_program[IQIV_PB_TS_MAX_PROGRAMS];
} IQIV_PB_TS_INFO_T;

/*
 * Analyses pu1_buf[0 .. ui4_len). Returns 0 on success, -3 for a null buffer
 * or record or a length below 188 (the record is then left untouched), -1
 * when no packet structure or no PAT is found (the record is zeroed).
 */
int32_t IQivPb_Ctrl_GetTSInfo(const uint8_t *pu1_buf, uint32_t ui4_len, IQIV_PB_TS_INFO_T *pt_info);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
