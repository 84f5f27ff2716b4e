// The callback driver "/dev/cbagent": per process, a queue of notifications
// that other processes raise for it (as kernel components would), and the
// items of that process's shared block that are handed out and not yet done.
//
// The queue is a file of the state directory (cbagent.d/<pid>) mapped by
// every process that uses it; a process-shared mutex and condition inside it
// carry the waits between the application and its raisers.
#ifndef VBOARD_CBAGENT_H
#define VBOARD_CBAGENT_H

#include <cstdint>
#include <string>
#include <vector>

#include "vboard/journal.h"

namespace vboard {

constexpr const char *kCbaDevicePath = "/dev/cbagent";
constexpr const char *kCbaDir = "cbagent.d"; // in the state directory
constexpr uint32_t kCbaItems = 32;           // items in a process's block
constexpr uint32_t kCbaItemBytes = 2048;
constexpr uint32_t kCbaQueueDepth = 64; // notifications waiting for an item
constexpr uint32_t kCbaInfoMax = 2024;  // cb_info of an item on the board

// What a raiser queues: a notification, an empty wake-up (the application's
// next request returns with nothing to run) or a fault (its next request
// fails with `error`).
enum class CbaKind : uint32_t { Notify = 1, Wake = 2, Fail = 3 };

struct CbaNote {
    CbaKind kind = CbaKind::Notify;
    int32_t error = 0;
    uint64_t fct = 0;
    uint32_t tag = 0;
    uint32_t info_size = 0;
    uint32_t caller = 0;
    uint32_t pid = 0;
    uint32_t drv_type = 0;
    uint8_t info[kCbaInfoMax] = {};
};

struct CbaQueue;

struct CbaStats {
    int pid = 0;
    bool open = false;
    uint32_t hmem = 0;
    uint32_t pending = 0; // raised, not handed out
    uint32_t running = 0; // handed out, not done
    uint64_t raised = 0, handed = 0, done = 0, dropped = 0;
};

// The application's side. cba_create makes a fresh queue for pid (replacing
// a stale one) whose items live in block hmem. Results: 0 or -errno.
int cba_create(const std::string &dir, int pid, uint32_t hmem, CbaQueue **queue);
// Blocks until a notification can be handed out (0: *note and *index set),
// or there is nothing to run (1: after a finish or a wake-up), or a fault
// was raised (its -errno).
int cba_take(CbaQueue *queue, CbaNote *note, uint32_t *index);
// The item is free again: 0, or -EINVAL when it was not handed out.
int cba_done(CbaQueue *queue, uint32_t hmem, uint32_t index);
// Releases every waiting and future take of the queue.
void cba_finish(CbaQueue *queue);
// The process closed the device: what was pending is dropped (journalled)
// and the queue disappears.
void cba_close(CbaQueue *queue, const std::string &dir, Journal *journal);

// The raiser's side: queues count copies of note for pid, waiting while the
// queue is full (up to timeout_ms without progress). 0, or -ESRCH (no such
// queue), -EPIPE (closed meanwhile), -ETIMEDOUT, -EINVAL (bad note).
int cba_raise(const std::string &dir, int pid, const CbaNote &note, uint32_t count, Journal *journal,
              int timeout_ms = 10000);
// The same for n notes, in order, with one journal line.
int cba_raise_all(const std::string &dir, int pid, const CbaNote *notes, size_t n, Journal *journal,
                  int timeout_ms = 10000);

// Every queue of the board, by pid; or one of them (0, or -ESRCH).
std::vector<CbaStats> cba_report(const std::string &dir);
int cba_stats(const std::string &dir, int pid, CbaStats *stats);

} // namespace vboard

#endif
