/*
 * libqiv_rpcipc: the RPC transport between the client libraries and the
 * engine process, over a Unix-domain stream socket.
 *
 * A call names a remote operation by text and carries an array of 16-byte
 * argument records plus every region the caller registered beforehand on
 * its own thread: records (by descriptor, with their pointer members),
 * texts and buffers. The engine sees local copies; after a good call the
 * out places and out records are written back into the caller's memory.
 * The engine calls back into a client the same way, naming a handler the
 * client registered; handlers run on the transport's own threads.
 *
 * The socket of an engine endpoint is "<dir>/<name>", where <name> is the
 * first word of the connection text and <dir> is $QIV_RPC_DIR, or
 * RPC_DEFAULT_DIR when that is not set.
 */
#ifndef RPCIPC_H
#define RPCIPC_H

#include <stdarg.h>
#include <stdint.h>

#include "rpc_desc.h"

#ifdef __cplusplus
extern "C" {
#endif
/* Everything declared here is the library's exported API; the rest of it is hidden. */
#pragma GCC visibility push(default)

#define RPC_DEFAULT_DIR "/tmp/qiv_rpc"
#define RPC_DIR_ENV "QIV_RPC_DIR"

/* Results of the transport. */
#define RPCR_OK 0
#define RPCR_ERROR (-1)
#define RPCR_TIMEOUT (-2)
#define RPCR_INV_ARGS (-3)
#define RPCR_NOT_FOUND (-4)
#define RPCR_NO_MEM (-5)
#define RPCR_NOT_OPENED (-6)
#define RPCR_PROTOCOL (-7)
/* The peer's handler ran and failed; rpc_peer_status() gives its value. */
#define RPCR_PEER_FAILED (-8)
/* The peer serves as many calls of this connection as it may at once. */
#define RPCR_BUSY (-9)

/* Argument type codes: 0x40 goes to the peer, 0x80 is written by it. */
#define ARG_TYPE_RESULT 0x02u
#define ARG_TYPE_INT8 0x42u
#define ARG_TYPE_ENUM 0x44u
#define ARG_TYPE_UINT8 0x46u
#define ARG_TYPE_TRACK 0x47u
#define ARG_TYPE_UINT32 0x48u
#define ARG_TYPE_BOOL 0x4Bu
#define ARG_TYPE_TAG 0x50u
#define ARG_TYPE_ENC_PARAM 0x56u
#define ARG_TYPE_REF_UINT32_IN 0x58u
#define ARG_TYPE_REF_UINT8_IN 0x5Bu
#define ARG_TYPE_TEXT 0x60u
#define ARG_TYPE_FUNC 0x61u
#define ARG_TYPE_DESC_IN 0x71u
#define ARG_TYPE_UINT32_OUT 0x88u
#define ARG_TYPE_REF_UINT8_OUT 0x96u
#define ARG_TYPE_REF_UINT16_OUT 0x97u
#define ARG_TYPE_REF_UINT32_OUT 0x98u
#define ARG_TYPE_REF_UINT64_OUT 0x99u
#define ARG_TYPE_REF_BYTE_OUT 0x9Bu
#define ARG_TYPE_DESC_OUT 0xB1u

/* The argument record; 32-bit values and addresses use the low bytes. */
typedef struct {
    uint32_t e_type;
    uint32_t ui4_reserved;
    union {
        int8_t i1;
        uint8_t ui1;
        int32_t i4;
        uint32_t ui4;
        uint64_t ui8;
        void *pv;
    } u;
} RPC_ARG_T;

/*
 * Operation and call-back handlers: (connection id, operation or handler
 * name, function value given with the call or NULL, argument count,
 * arguments, result record) -> 0 or a negative value.
 */
typedef int32_t (*rpc_hndlr_fct)(int32_t i4_conn, const char *ps_name, void *pv_func, uint32_t ui4_num_args,
                                 RPC_ARG_T *pt_args, RPC_ARG_T *pt_return);

/* Receives every transport log line, already formatted. */
typedef void (*rpc_log_fct)(int32_t i4_level, const char *ps_line);

/* Process name, set by rpc_init. */
extern const char *g_ps_exe_name;

/* ---- client side ---- */

int32_t rpc_init(uint32_t ui4_flags);
/* > 0: the connection's id. The same text gives the same id; a broken
 * connection is connected again. */
int32_t rpc_open_client(const char *ps_conn_text,
                        rpc_log_fct pf_log
#ifdef __cplusplus
                        = 0
#endif
                        ,
                        uint32_t ui4_log_level
#ifdef __cplusplus
                        = 15
#endif
);
int32_t rpc_close_client(int32_t i4_id);
/* Drops what this thread registered for its calls (rpc_close_client already
 * forgot the connection). */
int32_t rpc_del(int32_t i4_id);
/* i4_id 0: the connection that the calling library (or program) opened
 * last; the caller is the object whose code called rpc_open_client and
 * rpc_do_op (a tail call from a wrapper names the wrapper's caller). i4_timeout_ms -1: no limit. The transport's own failures (-6: not
 * connected) are kept apart from the peer's: a handler that fails gives
 * RPCR_PEER_FAILED, whatever value it returned. */
int32_t rpc_do_op(int32_t i4_id, const char *ps_op, uint32_t ui4_num_args, RPC_ARG_T *pt_args, RPC_ARG_T *pt_return,
                  int32_t i4_timeout_ms);

/* Registrations for the next call made on this thread; 0 on success. */
int32_t rpc_add_ref_desc(int32_t i4_id, const void *pv_addr, const RPC_DESC_T *pt_desc, const char *ps_member);
int32_t rpc_add_ref_str(int32_t i4_id, const char *ps_text);
int32_t rpc_add_ref_buff(int32_t i4_id, const void *pv_addr, uint32_t ui4_size);
/* Marks a pointer field inside a registered record as a pointer member. */
int32_t rpc_add_ref_val(int32_t i4_id, const void *pv_ptr_field);

int32_t rpc_reg_cb_hndlr(const char *ps_name, rpc_hndlr_fct pf_hndlr);

/* The status the peer's handler returned for this thread's last call that
 * reached it (0 when it succeeded). */
int32_t rpc_peer_status(void);

/* ---- logging ---- */

/* Writes when a trace-log session is open and (level & the level mask). */
void rpcu_log(int32_t i4_level, const char *ps_format, ...) __attribute__((format(printf, 2, 3)));
int32_t rpcu_tl_log_start(uint32_t ui4_flags);
int32_t rpcu_tl_log_end(void);
void rpcu_default_output_log(int32_t i4_level, const char *ps_line);

/* ---- engine side ---- */

/* Listens at the endpoint <name> (see above); may be called per endpoint. */
int32_t rpc_engine_serve(const char *ps_name);
void rpc_engine_stop(void);
/* NULL name: the handler of every operation without one of its own. */
int32_t rpc_reg_op_hndlr(const char *ps_op, rpc_hndlr_fct pf_hndlr);
/* Calls back the client handler ps_name on connection i4_conn (the first
 * argument an operation handler receives). */
int32_t rpc_do_cb(int32_t i4_conn, const char *ps_name, void *pv_func, uint32_t ui4_num_args, RPC_ARG_T *pt_args,
                  RPC_ARG_T *pt_return, int32_t i4_timeout_ms);

/* Inside a handler: the byte size of the region one of its pointer
 * arguments points at (a record, text, buffer or place), 0 for any other
 * address. */
uint32_t rpc_local_region_size(const void *pv_addr);

/* Number of client connections that are up. */
int32_t rpc_engine_conn_count(void);

/* Socket path of an endpoint into buf; 0, or RPCR_INV_ARGS if it does not fit. */
int32_t rpc_endpoint_path(const char *ps_name, char *ps_buf, uint32_t ui4_size);

/* How an argument code travels, for an engine that reads its arguments
 * generically: a value, a value written back, a text, a record (or buffer),
 * or a place read or written through its pointer. */
#define RPC_ARG_KIND_VALUE 0
#define RPC_ARG_KIND_VALUE_OUT 1
#define RPC_ARG_KIND_TEXT 2
#define RPC_ARG_KIND_RECORD 3
#define RPC_ARG_KIND_PLACE_IN 4
#define RPC_ARG_KIND_PLACE_OUT 5
/* The kind of an argument code (RPCR_INV_ARGS for a code the transport does
 * not carry); *pui4_width gets the byte width of a place, else 0. */
int32_t rpc_arg_kind(uint32_t ui4_code, uint32_t *pui4_width);

/* Accepts the next connection on a listening socket of the engine's own
 * (close-on-exec), riding out interrupted calls and clients that gave up
 * while queued; -1 once the socket fails. */
int32_t rpc_accept(int32_t i4_listen_fd);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstdint>
inline void *rpc_arg_ptr(const RPC_ARG_T &arg) { return reinterpret_cast<void *>(static_cast<uintptr_t>(arg.u.ui8)); }
inline void rpc_arg_set(RPC_ARG_T &arg, uint32_t type, uint64_t value)
{
    arg.e_type = type;
    arg.ui4_reserved = 0;
    arg.u.ui8 = value;
}
inline void rpc_arg_set_ptr(RPC_ARG_T &arg, uint32_t type, const void *p)
{
    rpc_arg_set(arg, type, reinterpret_cast<uintptr_t>(p));
}
#endif

#endif
