// libnetipc: the two network queues and their log lines.
#include "netipc.h"

#include <sys/msg.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ipcq/queues.h"

namespace {

constexpr int kPermissions = 0600;

struct NetState {
    uint8_t initialised;
    NetMsgQueue app;  // NetworkApp: stub -> application
    NetMsgQueue stub; // NetworkStub: application -> stub
};

NetState g_state;

void print_invalid_pointer() { printf("[NETWORK] Invalid Pointer!\n"); }

void print_not_initialised() { printf("[NETWORK_IPC]The Network message queue ahs not been initilized!\n"); }

// Before init both identifiers are 0, which may be another program's queue.
bool usable(const void *msg, int32_t *result)
{
    if (msg == nullptr) {
        print_invalid_pointer();
        *result = NET_IPC_NULL_POINTER;
        return false;
    }
    if (!g_state.initialised) {
        print_not_initialised();
        *result = NET_IPC_SYSCALL_FAILED;
        return false;
    }
    return true;
}

int32_t send_on(const NetMsgQueue &queue, const NetIpcMsg *msg, const char *error_format)
{
    int32_t result = NET_IPC_OK;
    if (usable(msg, &result)) {
        result = network_ipc_send_msg(queue.id, msg, IPC_NOWAIT);
    }
    if (result != NET_IPC_OK) {
        printf(error_format, result);
    }
    return result;
}

int32_t receive_on(const NetMsgQueue &queue, NetIpcMsg *msg)
{
    int32_t result = NET_IPC_OK;
    if (usable(msg, &result)) {
        result = network_ipc_recv_msg(queue.id, msg, 0);
    }
    if (result == NET_IPC_SYSCALL_FAILED) {
        printf("[NETWORK_IPC][ipc_recv_msg] ERR = %d\n", result);
    }
    return result;
}

} // namespace

int32_t network_new_msg_que(const char *path, int32_t proj_id, NetMsgQueue *queue)
{
    printf("[NETWORK_IPC] Calling -------> %s\n", __func__);
    if (path == nullptr || queue == nullptr) {
        print_invalid_pointer();
        return NET_IPC_NULL_POINTER;
    }
    queue->key = ::ftok(path, proj_id);
    if (queue->key == -1) {
        printf("[NETWORK_IPC][ftok] Get key failed! %s\n", strerror(errno));
        return NET_IPC_SYSCALL_FAILED;
    }
    queue->id = ipcq::create_queue(queue->key, kPermissions);
    if (queue->id == -1) {
        printf("[NETWORK_IPC][msgget] ERR = %s\n", strerror(errno));
        return NET_IPC_SYSCALL_FAILED;
    }
    printf("[NETWORK_IPC]network_new_msg_que successed!\n");
    return NET_IPC_OK;
}

void network_delete_msg_queue(int32_t msg_id)
{
    if (ipcq::remove_queue(msg_id) != 0) {
        printf("[NETWORK_IPC][msgctl] ERR = %s\n", strerror(errno));
    }
    printf("[NETWORK_IPC]network_delete_msg_queue successed!\n");
}

int32_t network_ipc_send_msg(int32_t msg_id, const NetIpcMsg *msg, int32_t flags)
{
    if (msg == nullptr) {
        print_invalid_pointer();
        return NET_IPC_NULL_POINTER;
    }
    if (msgsnd(msg_id, msg, NET_IPC_TEXT_SIZE, flags) != 0) {
        printf("[NETWORK_IPC][msgsend] ERR = %s\n", strerror(errno));
        return NET_IPC_SYSCALL_FAILED;
    }
    return NET_IPC_OK;
}

int32_t network_ipc_recv_msg(int32_t msg_id, NetIpcMsg *msg, int32_t flags)
{
    if (msg == nullptr) {
        print_invalid_pointer();
        return NET_IPC_NULL_POINTER;
    }
    if (msgrcv(msg_id, msg, NET_IPC_TEXT_SIZE, 0, flags) < 0) {
        return NET_IPC_SYSCALL_FAILED;
    }
    return NET_IPC_OK;
}

int32_t init_network_msg_queue(void)
{
    printf("[NETWORK] Calling -------> %s\n", __func__);
    if (g_state.initialised) {
        printf("[NETWORK_IPC]The Network message queue ahs already been initilized!\n");
        return NET_IPC_OK;
    }
    printf("[NETWORK_IPC]create the NetworkApp message queue.!\n");
    int32_t result = network_new_msg_que(ipcq::kKeyFile, ipcq::kNetAppProject, &g_state.app);
    if (result != NET_IPC_OK) {
        printf("[NETWORK_IPC][msgget] ERR = %d\n", result);
        g_state = NetState{};
        return result;
    }
    printf("[NETWORK_IPC]create the NetworkStub message queue.!\n");
    result = network_new_msg_que(ipcq::kKeyFile, ipcq::kNetStubProject, &g_state.stub);
    if (result != NET_IPC_OK) {
        printf("[NETWORK_IPC][msgget] ERR = %d\n", result);
        network_delete_msg_queue(g_state.app.id);
        g_state = NetState{};
        return result;
    }
    g_state.initialised = 1;
    return NET_IPC_OK;
}

void uninit_network_msg_queue(void)
{
    printf("[NETWORK_IPC] Calling -------> %s\n", __func__);
    if (!g_state.initialised) {
        print_not_initialised();
        return;
    }
    network_delete_msg_queue(g_state.app.id);
    network_delete_msg_queue(g_state.stub.id);
    g_state = NetState{};
}

int32_t network_app_send_ipc_msg(const NetIpcMsg *msg)
{
    return send_on(g_state.stub, msg, "[NETWORK_IPC][ipc_send_msg] ERR = %d\n");
}

int32_t network_stub_send_ipc_msg(const NetIpcMsg *msg)
{
    return send_on(g_state.app, msg, "[NetworkStub][ipc_send_msg] ERR = %d\n");
}

int32_t network_app_recv_ipc_msg(NetIpcMsg *msg) { return receive_on(g_state.app, msg); }

int32_t network_stub_recv_ipc_msg(NetIpcMsg *msg) { return receive_on(g_state.stub, msg); }

int32_t network_stub_recv_ipc_msg_nowait(NetIpcMsg *msg)
{
    int32_t result = NET_IPC_OK;
    if (usable(msg, &result)) {
        result = network_ipc_recv_msg(g_state.stub.id, msg, IPC_NOWAIT);
    }
    return result;
}
