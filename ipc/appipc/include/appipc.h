/*
 * libappipc: System V message queues between the product's applications and
 * the main player program. Three channels (0, 1, 2), each a pair of queues:
 * the bdp queue carries application -> player, the app queue player ->
 * application. Both ends derive the keys with ftok on
 * "/usr/local/bin/plrmain", so they meet without exchanging identifiers.
 *
 * Every operation returns 0 on success and -1 on failure.
 */
#ifndef APPIPC_H
#define APPIPC_H

#include <stddef.h>
#include <stdint.h>

#pragma GCC visibility push(default)

#ifdef __cplusplus
extern "C" {
#endif

#define APP_IPC_DATA_SIZE 512
#define APP_IPC_CHANNELS 3

/* The caller's message record. mtype is never read or written by the
 * library; type and all 512 bytes of data travel to the peer. */
typedef struct AppIpcMsg {
    long mtype;
    int32_t type;
    uint8_t data[APP_IPC_DATA_SIZE];
} AppIpcMsg;

/* Opens (creating if needed) the channel's bdp queue, then its app queue. */
int32_t init_ipc_message_queue(int32_t channel);
/* Removes the channel's app and bdp queues from the system, for both ends. */
int32_t uninit_ipc_message_queue(int32_t channel);

/* Application side: send to the player, wait for the player's message. */
int32_t app_send_ipc_msg(const AppIpcMsg *pSendMsg, int32_t channel);
int32_t app_recv_ipc_msg(AppIpcMsg *pRecvMsg, int32_t channel);
/* Player side: send to the application, wait for the application's message. */
int32_t bdp_send_ipc_msg(const AppIpcMsg *pSendMsg, int32_t channel);
int32_t bdp_recv_ipc_msg(AppIpcMsg *pRecvMsg, int32_t channel);

/* The queue operations under the channels. Sends never wait (a full queue
 * fails and drops the message); receives wait for the next message. */
int32_t queue_create(int32_t *msg_id, int32_t proj_id);
int32_t queue_destroy(int32_t msg_id);
int32_t queue_send_msg(int32_t msg_id, const void *data, int32_t type);
int32_t queue_receive_msg(int32_t msg_id, int32_t *type, void *data);

#ifdef __cplusplus
}
#endif

#pragma GCC visibility pop

#if UINTPTR_MAX == 0xFFFFFFFFu
#ifdef __cplusplus
static_assert(sizeof(AppIpcMsg) == 520, "AppIpcMsg is 520 bytes on the board");
static_assert(offsetof(AppIpcMsg, type) == 4, "type follows the first word");
static_assert(offsetof(AppIpcMsg, data) == 8, "data follows type");
#else
_Static_assert(sizeof(AppIpcMsg) == 520, "AppIpcMsg is 520 bytes on the board");
_Static_assert(offsetof(AppIpcMsg, type) == 4, "type follows the first word");
_Static_assert(offsetof(AppIpcMsg, data) == 8, "data follows type");
#endif
#endif

#endif
