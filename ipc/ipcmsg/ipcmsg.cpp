// ipcmsg: send, watch, show and remove the message queues of libappipc and
// libnetipc from the console.
#include <sys/ipc.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "appipc.h"
#include "common/help_option.h"
#include "ipcq/queues.h"
#include "netipc.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: ipcmsg send [--hex] QUEUE TYPE [DATA]   send one message\n"
    "       ipcmsg watch [-n COUNT] QUEUE           print messages as they arrive\n"
    "       ipcmsg state                            identifiers, messages and bytes of every queue\n"
    "       ipcmsg remove QUEUE... | all            remove queues from the system\n"
    "       ipcmsg help\n"
    "\n"
    "QUEUE is one direction of a conversation:\n"
    "  bdp0 bdp1 bdp2   application -> player, channel 0-2 (app_send / bdp_recv)\n"
    "  app0 app1 app2   player -> application, channel 0-2 (bdp_send / app_recv)\n"
    "  netstub          application -> network stub (network_app_send / network_stub_recv)\n"
    "  netapp           network stub -> application (network_stub_send / network_app_recv)\n"
    "TYPE is the message type: any 32-bit number on a channel, above 0 on a\n"
    "network queue. DATA is text, or hex bytes with --hex (\"00ff10\"); it is\n"
    "padded with zeros to 512 bytes (channels) or 84 bytes (network queues).\n"
    "send and watch open the queues through the libraries (creating them if\n"
    "needed) and never remove them; the libraries' log lines appear too.\n"
    "watch ends after COUNT messages, on Ctrl-C, or when the queue is removed.\n"
    "watch takes each message it shows off the queue, as the peer's receive\n"
    "would: the peer never gets it. Watch a queue whose peer is not running,\n"
    "or expect that peer to miss what is shown.\n"
    "Messages always carry 512 or 84 bytes: text is shown up to its trailing\n"
    "zeros, hex with the count of the zero bytes that end it.\n"
    "Exit status: 0 done, 1 the operation failed, 2 bad usage.\n";

struct Message {
    int32_t type;
    std::vector<uint8_t> data;
};

// One direction of one queue and the library calls that serve it.
struct QueueEntry {
    const char *name;
    const char *direction;
    int project;
    int32_t channel; // -1 for the network queues
    size_t data_size;
    int32_t (*send)(int32_t channel, const Message &message);
    int32_t (*receive)(int32_t channel, Message *message);
};

template <int32_t (*Send)(const AppIpcMsg *, int32_t)> int32_t send_channel(int32_t channel, const Message &message)
{
    AppIpcMsg msg{};
    msg.type = message.type;
    memcpy(msg.data, message.data.data(), message.data.size());
    return Send(&msg, channel);
}

template <int32_t (*Receive)(AppIpcMsg *, int32_t)> int32_t receive_channel(int32_t channel, Message *message)
{
    AppIpcMsg msg{};
    int32_t result = Receive(&msg, channel);
    message->type = msg.type;
    message->data.assign(msg.data, msg.data + APP_IPC_DATA_SIZE);
    return result;
}

template <int32_t (*Send)(const NetIpcMsg *)> int32_t send_network(int32_t, const Message &message)
{
    NetIpcMsg msg{};
    msg.mtype = message.type;
    memcpy(msg.text, message.data.data(), message.data.size());
    return Send(&msg);
}

template <int32_t (*Receive)(NetIpcMsg *)> int32_t receive_network(int32_t, Message *message)
{
    NetIpcMsg msg{};
    int32_t result = Receive(&msg);
    message->type = static_cast<int32_t>(msg.mtype);
    message->data.assign(msg.text, msg.text + NET_IPC_TEXT_SIZE);
    return result;
}

// clang-format off
#define CHANNEL_QUEUES(n)                                                                    \
    QueueEntry{"bdp" #n, "application -> player", ipcq::kChannelProjects[n].bdp, n,          \
               APP_IPC_DATA_SIZE, send_channel<app_send_ipc_msg>,                            \
               receive_channel<bdp_recv_ipc_msg>},                                           \
        QueueEntry{"app" #n, "player -> application", ipcq::kChannelProjects[n].app, n,      \
                   APP_IPC_DATA_SIZE, send_channel<bdp_send_ipc_msg>,                        \
                   receive_channel<app_recv_ipc_msg>}
// clang-format on

const QueueEntry kQueues[] = {
    CHANNEL_QUEUES(0),
    CHANNEL_QUEUES(1),
    CHANNEL_QUEUES(2),
    {"netstub", "application -> network stub", ipcq::kNetStubProject, -1, NET_IPC_TEXT_SIZE,
     send_network<network_app_send_ipc_msg>, receive_network<network_stub_recv_ipc_msg>},
    {"netapp", "network stub -> application", ipcq::kNetAppProject, -1, NET_IPC_TEXT_SIZE,
     send_network<network_stub_send_ipc_msg>, receive_network<network_app_recv_ipc_msg>},
};

int usage_error(const char *what)
{
    fprintf(stderr, "ipcmsg: %s\n%s", what, kUsage);
    return kExitUsage;
}

const QueueEntry *find_entry(const std::string &name)
{
    for (const QueueEntry &entry : kQueues) {
        if (name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

bool open_queues(const QueueEntry &entry)
{
    bool ok = entry.channel < 0 ? init_network_msg_queue() == NET_IPC_OK : init_ipc_message_queue(entry.channel) == 0;
    if (!ok) {
        fprintf(stderr, "ipcmsg: %s: cannot open the queues\n", entry.name);
    }
    return ok;
}

bool parse_type(const char *text, int32_t *type)
{
    errno = 0;
    char *end = nullptr;
    long value = strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > INT32_MAX) {
        return false;
    }
    *type = static_cast<int32_t>(value);
    return true;
}

bool parse_hex(const char *text, std::vector<uint8_t> *bytes)
{
    size_t length = strlen(text);
    if (length % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < length; i += 2) {
        if (!isxdigit(static_cast<unsigned char>(text[i])) || !isxdigit(static_cast<unsigned char>(text[i + 1]))) {
            return false;
        }
        bytes->push_back(static_cast<uint8_t>(std::stoi(std::string(text + i, 2), nullptr, 16)));
    }
    return true;
}

int send_command(int argc, char **argv)
{
    bool hex = argc > 0 && strcmp(argv[0], "--hex") == 0;
    argc -= hex;
    argv += hex;
    if (argc < 2 || argc > 3) {
        return usage_error("send takes QUEUE TYPE [DATA]");
    }
    const QueueEntry *entry = find_entry(argv[0]);
    if (entry == nullptr) {
        return usage_error("unknown queue");
    }
    Message message{};
    if (!parse_type(argv[1], &message.type) || (entry->channel < 0 && message.type <= 0)) {
        return usage_error("bad TYPE");
    }
    const char *data = argc == 3 ? argv[2] : "";
    if (hex) {
        if (!parse_hex(data, &message.data)) {
            return usage_error("bad hex DATA");
        }
    } else {
        message.data.assign(data, data + strlen(data));
    }
    if (message.data.size() > entry->data_size) {
        return usage_error("DATA is longer than the message");
    }
    if (!open_queues(*entry)) {
        return kExitFailed;
    }
    if (entry->send(entry->channel, message) != 0) {
        fprintf(stderr, "ipcmsg: %s: send failed\n", entry->name);
        return kExitFailed;
    }
    return kExitOk;
}

// Text when the data up to its trailing zeros is printable, else hex and
// the count of those zeros (the sender's own and the padding look alike).
void print_message(const QueueEntry &entry, const Message &message)
{
    size_t used = message.data.size();
    while (used > 0 && message.data[used - 1] == 0) {
        --used;
    }
    bool text = true;
    for (size_t i = 0; i < used; ++i) {
        text = text && isprint(message.data[i]) && message.data[i] != '"';
    }
    printf("%s type %d ", entry.name, message.type);
    if (text) {
        printf("\"%.*s\"\n", static_cast<int>(used), reinterpret_cast<const char *>(message.data.data()));
    } else {
        printf("hex ");
        for (size_t i = 0; i < used; ++i) {
            printf("%02x", message.data[i]);
        }
        printf(" and %zu zero bytes\n", message.data.size() - used);
    }
    fflush(stdout);
}

int watch_command(int argc, char **argv)
{
    long count = -1;
    if (argc == 3 && strcmp(argv[0], "-n") == 0) {
        char *end = nullptr;
        count = strtol(argv[1], &end, 10);
        if (end == argv[1] || *end != '\0' || count <= 0) {
            return usage_error("bad COUNT");
        }
        argc -= 2;
        argv += 2;
    }
    if (argc != 1) {
        return usage_error("watch takes [-n COUNT] QUEUE");
    }
    const QueueEntry *entry = find_entry(argv[0]);
    if (entry == nullptr) {
        return usage_error("unknown queue");
    }
    if (!open_queues(*entry)) {
        return kExitFailed;
    }
    fflush(stdout);
    for (long seen = 0; count < 0 || seen < count; ++seen) {
        Message message{};
        if (entry->receive(entry->channel, &message) != 0) {
            fprintf(stderr, "ipcmsg: %s: receive failed (the queue was removed?)\n", entry->name);
            return kExitFailed;
        }
        print_message(*entry, message);
    }
    return kExitOk;
}

bool key_file_present()
{
    if (ipcq::queue_key(ipcq::kNetAppProject) == -1) {
        fprintf(stderr, "ipcmsg: no key: %s: %s\n", ipcq::kKeyFile, strerror(errno));
        return false;
    }
    return true;
}

int state_command(int argc)
{
    if (argc != 0) {
        return usage_error("state takes no arguments");
    }
    if (!key_file_present()) {
        return kExitFailed;
    }
    printf("%-8s %-28s %-10s %8s %8s %8s %8s\n", "queue", "direction", "key", "id", "messages", "bytes", "capacity");
    for (const QueueEntry &entry : kQueues) {
        printf("%-8s %-28s 0x%08x ", entry.name, entry.direction,
               static_cast<unsigned>(ipcq::queue_key(entry.project)));
        int id = ipcq::find_queue(entry.project);
        ipcq::QueueState state{};
        if (id == -1 || ipcq::queue_state(id, &state) != 0) {
            printf("%8s\n", "absent");
            continue;
        }
        printf("%8d %8lu %8lu %8lu\n", id, state.messages, state.bytes, state.capacity);
    }
    return kExitOk;
}

int remove_command(int argc, char **argv)
{
    if (argc == 0) {
        return usage_error("remove takes QUEUE... or all");
    }
    bool all = argc == 1 && strcmp(argv[0], "all") == 0;
    std::vector<const QueueEntry *> chosen;
    for (int i = 0; !all && i < argc; ++i) {
        const QueueEntry *entry = find_entry(argv[i]);
        if (entry == nullptr) {
            return usage_error("unknown queue");
        }
        chosen.push_back(entry);
    }
    for (const QueueEntry &entry : kQueues) {
        if (all) {
            chosen.push_back(&entry);
        }
    }
    if (!key_file_present()) {
        return kExitFailed;
    }
    int status = kExitOk;
    for (const QueueEntry *entry : chosen) {
        int id = ipcq::find_queue(entry->project);
        if (id == -1) {
            if (!all) {
                fprintf(stderr, "ipcmsg: %s: no such queue\n", entry->name);
                status = kExitFailed;
            }
            continue;
        }
        if (ipcq::remove_queue(id) != 0) {
            fprintf(stderr, "ipcmsg: %s: %s\n", entry->name, strerror(errno));
            status = kExitFailed;
            continue;
        }
        printf("removed %s (id %d)\n", entry->name, id);
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "ipcmsg", kUsage)) {
        return kExitOk;
    }
    if (argc < 2) {
        return usage_error("no command");
    }
    std::string command = argv[1];
    argc -= 2;
    argv += 2;
    if (command == "send") {
        return send_command(argc, argv);
    }
    if (command == "watch") {
        return watch_command(argc, argv);
    }
    if (command == "state") {
        return state_command(argc);
    }
    if (command == "remove") {
        return remove_command(argc, argv);
    }
    if (command == "help") {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    return usage_error("unknown command");
}
