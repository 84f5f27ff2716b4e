// libappipc: the channel table, the queue message layout and the log lines.
#include "appipc.h"

#include <sys/msg.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "common/le_bytes.h"
#include "ipcq/queues.h"

namespace {

constexpr int kPermissions = 0666;
constexpr long kQueueMessageType = 1; // every message of these queues
constexpr size_t kTypeSize = 4;
constexpr size_t kReservedSize = 8;
constexpr size_t kTextSize = kTypeSize + APP_IPC_DATA_SIZE + kReservedSize;
static_assert(kTextSize == 524, "the peer program reads 524 bytes of text");

// The System V message as it lies on the queue; the reserved tail stays zero.
struct QueueMessage {
    long mtype;
    uint8_t text[kTextSize];
};

// A queue this process opened; id alone cannot tell, as 0 is a valid identifier.
struct QueueSlot {
    int32_t id;
    bool open;
};

struct ChannelQueues {
    QueueSlot bdp; // application -> player
    QueueSlot app; // player -> application
};

ChannelQueues g_channels[ipcq::kChannels];

constexpr char kInfoPrefix[] = "[QIV APP_IPC][%s]";
constexpr char kErrorPrefix[] = "[QIV APP_IPC Error][%s][%d]";

// One whole line per call, so that lines of concurrent senders never mix;
// a text without its own newline ends its line.
__attribute__((format(printf, 2, 0))) void write_line(const char *prefix, const char *format, va_list args)
{
    char line[512];
    int used = snprintf(line, sizeof line, "%s", prefix);
    vsnprintf(line + used, sizeof line - static_cast<size_t>(used) - 1, format, args);
    size_t length = strlen(line);
    if (line[length - 1] != '\n') {
        line[length] = '\n';
        line[length + 1] = '\0';
    }
    fputs(line, stdout);
}

__attribute__((format(printf, 2, 3))) void log_info(const char *op, const char *format, ...)
{
    char prefix[96];
    snprintf(prefix, sizeof prefix, kInfoPrefix, op);
    va_list args;
    va_start(args, format);
    write_line(prefix, format, args);
    va_end(args);
}

__attribute__((format(printf, 3, 4))) void log_error(const char *op, int line, const char *format, ...)
{
    char prefix[96];
    snprintf(prefix, sizeof prefix, kErrorPrefix, op, line);
    va_list args;
    va_start(args, format);
    write_line(prefix, format, args);
    va_end(args);
}

#define APP_INFO(...) log_info(__func__, __VA_ARGS__)
#define APP_ERROR(...) log_error(__func__, __LINE__, __VA_ARGS__)

ChannelQueues *channel_queues(int32_t channel)
{
    return channel >= 0 && static_cast<size_t>(channel) < ipcq::kChannels ? &g_channels[channel] : nullptr;
}

// The queue of one direction of a channel, if this process opened it.
const QueueSlot *usable_queue(const char *op, int32_t channel, QueueSlot ChannelQueues::*queue)
{
    const ChannelQueues *queues = channel_queues(channel);
    if (queues == nullptr) {
        log_error(op, __LINE__, "unknown channel %d", channel);
        return nullptr;
    }
    const QueueSlot &slot = queues->*queue;
    if (!slot.open) {
        log_error(op, __LINE__, "channel %d is not initialised", channel);
        return nullptr;
    }
    return &slot;
}

int32_t send_record(const char *op, const AppIpcMsg *msg, int32_t channel, QueueSlot ChannelQueues::*queue,
                    const char *failure)
{
    if (msg == nullptr) {
        printf("%s:%d Warning: (pSendMsg!=NULL) failed. \n", op, __LINE__);
        return -1;
    }
    const QueueSlot *slot = usable_queue(op, channel, queue);
    if (slot == nullptr) {
        return -1;
    }
    if (queue_send_msg(slot->id, msg->data, msg->type) != 0) {
        log_error(op, __LINE__, "%s", failure);
        return -1;
    }
    return 0;
}

int32_t receive_record(const char *op, AppIpcMsg *msg, int32_t channel, QueueSlot ChannelQueues::*queue,
                       const char *received_format)
{
    if (msg == nullptr) {
        printf("%s:%d Warning: (pRecvMsg!=NULL) failed. \n", op, __LINE__);
        return -1;
    }
    const QueueSlot *slot = usable_queue(op, channel, queue);
    if (slot == nullptr) {
        return -1;
    }
    if (queue_receive_msg(slot->id, &msg->type, msg->data) != 0) {
        return -1;
    }
    log_info(op, received_format, msg->type, 0);
    return 0;
}

} // namespace

int32_t queue_create(int32_t *msg_id, int32_t proj_id)
{
    if (msg_id == nullptr) {
        APP_ERROR("no place for the identifier");
        return -1;
    }
    *msg_id = 0;
    key_t key = ipcq::queue_key(proj_id);
    if (key == -1) {
        // Without the key file every queue would meet on one key.
        APP_ERROR("no key: %s: %s", ipcq::kKeyFile, strerror(errno));
        return -1;
    }
    int id = ipcq::create_queue(key, kPermissions);
    if (id == -1) {
        APP_ERROR("msgget failed!");
        return -1;
    }
    *msg_id = id;
    return 0;
}

int32_t queue_destroy(int32_t msg_id)
{
    ipcq::remove_queue(msg_id);
    return 0;
}

int32_t queue_send_msg(int32_t msg_id, const void *data, int32_t type)
{
    if (data == nullptr) {
        APP_ERROR("no data");
        return -1;
    }
    QueueMessage message{};
    message.mtype = kQueueMessageType;
    le::store32(message.text, static_cast<uint32_t>(type));
    memcpy(message.text + kTypeSize, data, APP_IPC_DATA_SIZE);
    if (msgsnd(msg_id, &message, kTextSize, IPC_NOWAIT) != 0) {
        int error = errno;
        APP_ERROR("msg queue send failed");
        if (error == EAGAIN) {
            APP_ERROR("msg queue is full!");
        }
        return -1;
    }
    return 0;
}

int32_t queue_receive_msg(int32_t msg_id, int32_t *type, void *data)
{
    if (type == nullptr || data == nullptr) {
        APP_ERROR("no place for the message");
        return -1;
    }
    QueueMessage message{}; // a shorter message leaves zeros, never stale bytes
    if (msgrcv(msg_id, &message, kTextSize, kQueueMessageType, 0) < 0) {
        if (errno == E2BIG) {
            APP_ERROR("current msg is too big!");
        }
        *type = 0;
        return -1;
    }
    *type = static_cast<int32_t>(le::load32(message.text));
    memcpy(data, message.text + kTypeSize, APP_IPC_DATA_SIZE);
    return 0;
}

int32_t init_ipc_message_queue(int32_t channel)
{
    APP_INFO("Enter!");
    ChannelQueues *queues = channel_queues(channel);
    if (queues == nullptr) {
        APP_ERROR("unknown channel %d", channel);
        return -1;
    }
    const ipcq::ChannelProjects &projects = ipcq::kChannelProjects[channel];
    queues->bdp.open = queue_create(&queues->bdp.id, projects.bdp) == 0;
    if (!queues->bdp.open) {
        if (channel == 2) {
            APP_ERROR("create bdp msg queue failed(%d)!\n", __LINE__);
        } else {
            APP_ERROR("create bdp msg queue failed!");
        }
        return -1;
    }
    APP_INFO("create bdp msg queue finished! bdp msg_id = %d\n", queues->bdp.id);
    queues->app.open = queue_create(&queues->app.id, projects.app) == 0;
    if (!queues->app.open) {
        APP_ERROR("create app msg queue failed!");
        return -1;
    }
    APP_INFO("create app msg queue finished! app msg_id = %d\n", queues->app.id);
    APP_INFO("Leave!");
    return 0;
}

int32_t uninit_ipc_message_queue(int32_t channel)
{
    ChannelQueues *queues = channel_queues(channel);
    if (queues == nullptr) {
        return 0;
    }
    // Only queues this process opened: identifier 0 may be anyone's queue.
    for (QueueSlot *slot : {&queues->app, &queues->bdp}) {
        if (slot->open) {
            queue_destroy(slot->id);
        }
    }
    *queues = ChannelQueues{};
    return 0;
}

int32_t app_send_ipc_msg(const AppIpcMsg *pSendMsg, int32_t channel)
{
    return send_record(__func__, pSendMsg, channel, &ChannelQueues::bdp, "app send message to bdp failed!");
}

int32_t bdp_send_ipc_msg(const AppIpcMsg *pSendMsg, int32_t channel)
{
    return send_record(__func__, pSendMsg, channel, &ChannelQueues::app, "bdp send message to app failed!");
}

int32_t app_recv_ipc_msg(AppIpcMsg *pRecvMsg, int32_t channel)
{
    return receive_record(__func__, pRecvMsg, channel, &ChannelQueues::app,
                          "app_recv_ipc_msg Recv Msg type:%d ,ret_val:%d!\n");
}

int32_t bdp_recv_ipc_msg(AppIpcMsg *pRecvMsg, int32_t channel)
{
    return receive_record(__func__, pRecvMsg, channel, &ChannelQueues::bdp,
                          "bdp_recv_ipc_msg Recv Msg type:%d ,ret:%d!\n");
}
