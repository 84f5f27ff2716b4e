// What libappipc, libnetipc and ipcmsg share about their System V queues:
// the key file and project ids both ends derive the keys from, and the few
// queue system calls they make the same way. Built into each library with
// hidden visibility, so neither exports it.
#ifndef IPCQ_QUEUES_H
#define IPCQ_QUEUES_H

#include <sys/types.h>

#include <cstddef>

namespace ipcq {

// The main player program: its path keys every queue of both libraries.
inline constexpr char kKeyFile[] = "/usr/local/bin/plrmain";

inline constexpr std::size_t kChannels = 3;

struct ChannelProjects {
    int bdp; // application -> player
    int app; // player -> application
};
inline constexpr ChannelProjects kChannelProjects[kChannels] = {{0x80, 0x40}, {0x82, 0x42}, {0x84, 0x44}};

inline constexpr int kNetAppProject = 1;  // network stub -> application
inline constexpr int kNetStubProject = 2; // application -> network stub

// ftok on the key file; -1 with errno set when the file is missing.
key_t queue_key(int project_id);

// msgget with IPC_CREAT; the identifier, or -1 with errno set.
int create_queue(key_t key, int permissions);

// The identifier of the existing queue of a project id, or -1 with errno
// set (ENOENT: no such queue). Never creates one.
int find_queue(int project_id);

// msgctl IPC_RMID; 0, or -1 with errno set.
int remove_queue(int queue_id);

struct QueueState {
    unsigned long messages;
    unsigned long bytes;
    unsigned long capacity; // bytes the queue holds at most
};
// msgctl IPC_STAT; 0, or -1 with errno set.
int queue_state(int queue_id, QueueState *state);

} // namespace ipcq

#endif
