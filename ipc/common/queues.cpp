#include "ipcq/queues.h"

#include <sys/ipc.h>
#include <sys/msg.h>

namespace ipcq {

key_t queue_key(int project_id) { return ::ftok(kKeyFile, project_id); }

int create_queue(key_t key, int permissions) { return ::msgget(key, IPC_CREAT | permissions); }

int find_queue(int project_id)
{
    key_t key = queue_key(project_id);
    if (key == -1) {
        return -1;
    }
    return ::msgget(key, 0);
}

int remove_queue(int queue_id) { return ::msgctl(queue_id, IPC_RMID, nullptr); }

int queue_state(int queue_id, QueueState *state)
{
    msqid_ds ds{};
    if (::msgctl(queue_id, IPC_STAT, &ds) != 0) {
        return -1;
    }
    state->messages = ds.msg_qnum;
    state->bytes = ds.__msg_cbytes;
    state->capacity = ds.msg_qbytes;
    return 0;
}

} // namespace ipcq
