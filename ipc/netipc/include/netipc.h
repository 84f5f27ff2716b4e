/*
 * libnetipc: System V message queues between the product's applications and
 * the network stub. The NetworkApp queue carries stub -> application, the
 * NetworkStub queue application -> stub; both ends derive the keys with ftok
 * on "/usr/local/bin/plrmain".
 *
 * Results: NET_IPC_OK, NET_IPC_NULL_POINTER for a null argument,
 * NET_IPC_SYSCALL_FAILED when a system call fails (or the queues are not
 * initialised in this process).
 */
#ifndef NETIPC_H
#define NETIPC_H

#include <stddef.h>
#include <stdint.h>

#pragma GCC visibility push(default)

#ifdef __cplusplus
extern "C" {
#endif

#define NET_IPC_OK 0
#define NET_IPC_NULL_POINTER (-3)
#define NET_IPC_SYSCALL_FAILED (-4)

#define NET_IPC_TEXT_SIZE 84

/* The System V message itself: mtype must be above 0 when sending. */
typedef struct NetIpcMsg {
    long mtype;
    char text[NET_IPC_TEXT_SIZE];
} NetIpcMsg;

/* One queue: the key from ftok and the identifier from msgget. */
typedef struct NetMsgQueue {
    int32_t key;
    int32_t id;
} NetMsgQueue;

int32_t init_network_msg_queue(void);
/* Removes both queues from the system, for every process. */
void uninit_network_msg_queue(void);

/* Application side. */
int32_t network_app_send_ipc_msg(const NetIpcMsg *msg);
int32_t network_app_recv_ipc_msg(NetIpcMsg *msg);
/* Network stub side. */
int32_t network_stub_send_ipc_msg(const NetIpcMsg *msg);
int32_t network_stub_recv_ipc_msg(NetIpcMsg *msg);
/* NET_IPC_SYSCALL_FAILED at once when no message is waiting. */
int32_t network_stub_recv_ipc_msg_nowait(NetIpcMsg *msg);

/* The queue operations under them. */
int32_t network_new_msg_que(const char *path, int32_t proj_id, NetMsgQueue *queue);
void network_delete_msg_queue(int32_t msg_id);
int32_t network_ipc_send_msg(int32_t msg_id, const NetIpcMsg *msg, int32_t flags);
int32_t network_ipc_recv_msg(int32_t msg_id, NetIpcMsg *msg, int32_t flags);

#ifdef __cplusplus
}
#endif

#pragma GCC visibility pop

#if UINTPTR_MAX == 0xFFFFFFFFu
#ifdef __cplusplus
static_assert(sizeof(NetIpcMsg) == 88, "NetIpcMsg is 88 bytes on the board");
static_assert(offsetof(NetIpcMsg, text) == 4, "text follows the type word");
#else
_Static_assert(sizeof(NetIpcMsg) == 88, "NetIpcMsg is 88 bytes on the board");
_Static_assert(offsetof(NetIpcMsg, text) == 4, "text follows the type word");
#endif
#endif

#endif
