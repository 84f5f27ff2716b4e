#include "vboard/cbagent.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "vboard/state.h"

namespace vboard {

constexpr uint32_t kQueueMagic = 0x43424131; // "CBA1"

// Lives in the mapped file; every field but magic, pid and hmem is guarded by lock.
struct CbaQueue {
    uint32_t magic;
    uint32_t size;
    int32_t pid;
    uint32_t hmem;
    pthread_mutex_t lock;
    pthread_cond_t ready; // for the taker: a note, a free item, or the finish
    pthread_cond_t room;  // for raisers: room in the ring, or the close
    uint32_t takers_waiting, raisers_waiting;
    uint32_t open;
    uint32_t finished;
    uint64_t raised, handed, done, dropped;
    uint32_t head, count;
    uint8_t running[kCbaItems];
    CbaNote ring[kCbaQueueDepth];
};

namespace {

std::string queue_path(const std::string &dir, int pid) { return state_path(dir, kCbaDir) + "/" + std::to_string(pid); }

// A raiser that died holding the lock leaves it consistent: every update
// under it is a few stores that either happened or not.
void lock(CbaQueue *q)
{
    if (pthread_mutex_lock(&q->lock) == EOWNERDEAD) {
        pthread_mutex_consistent(&q->lock);
    }
}

void unlock(CbaQueue *q) { pthread_mutex_unlock(&q->lock); }

void wait_on(CbaQueue *q, pthread_cond_t *cond, uint32_t *waiting, const timespec *until)
{
    ++*waiting;
    int rc = until ? pthread_cond_timedwait(cond, &q->lock, until) : pthread_cond_wait(cond, &q->lock);
    --*waiting;
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(&q->lock);
    }
}

int init_sync(CbaQueue *q)
{
    pthread_mutexattr_t ma;
    pthread_condattr_t ca;
    pthread_mutexattr_init(&ma);
    pthread_mutexattr_setpshared(&ma, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&ma, PTHREAD_MUTEX_ROBUST);
    pthread_condattr_init(&ca);
    pthread_condattr_setpshared(&ca, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    int rc = pthread_mutex_init(&q->lock, &ma);
    if (rc == 0) {
        rc = pthread_cond_init(&q->ready, &ca);
    }
    if (rc == 0) {
        rc = pthread_cond_init(&q->room, &ca);
    }
    pthread_mutexattr_destroy(&ma);
    pthread_condattr_destroy(&ca);
    return -rc;
}

// Maps an existing queue file; nullptr when it is missing or not a queue.
CbaQueue *map_queue(const std::string &path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    void *p = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && static_cast<size_t>(st.st_size) == sizeof(CbaQueue)) {
        p = ::mmap(nullptr, sizeof(CbaQueue), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    ::close(fd);
    if (p == MAP_FAILED) {
        return nullptr;
    }
    auto *q = static_cast<CbaQueue *>(p);
    if (__atomic_load_n(&q->magic, __ATOMIC_ACQUIRE) != kQueueMagic || q->size != sizeof(CbaQueue)) {
        ::munmap(p, sizeof(CbaQueue));
        return nullptr;
    }
    return q;
}

void unmap_queue(CbaQueue *q) { ::munmap(q, sizeof(CbaQueue)); }

int free_item(const CbaQueue *q)
{
    for (uint32_t i = 0; i < kCbaItems; ++i) {
        if (!q->running[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint32_t running_count(const CbaQueue *q)
{
    return static_cast<uint32_t>(std::count(q->running, q->running + kCbaItems, 1));
}

CbaStats stats_of(CbaQueue *q)
{
    lock(q);
    CbaStats s;
    s.pid = q->pid;
    s.open = q->open != 0;
    s.hmem = q->hmem;
    s.pending = q->count;
    s.running = running_count(q);
    s.raised = q->raised;
    s.handed = q->handed;
    s.done = q->done;
    s.dropped = q->dropped;
    unlock(q);
    return s;
}

const char *error_name(int error)
{
    const char *name = ::strerrorname_np(error);
    return name ? name : "?";
}

timespec deadline_after(int ms)
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        ++t.tv_sec;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

bool passed(const timespec &t)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > t.tv_sec || (now.tv_sec == t.tv_sec && now.tv_nsec >= t.tv_nsec);
}

std::string note_text(const CbaNote &note)
{
    switch (note.kind) {
    case CbaKind::Wake:
        return "wake";
    case CbaKind::Fail:
        return "fail " + std::to_string(note.error);
    default:
        return format("fct 0x%" PRIx64 " tag %u bytes %u", note.fct, note.tag, note.info_size);
    }
}

} // namespace

int cba_create(const std::string &dir, int pid, uint32_t hmem, CbaQueue **queue)
{
    std::string path = queue_path(dir, pid);
    std::string fresh = path + ".new";
    ::mkdir(state_path(dir, kCbaDir).c_str(), 0755);
    int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -errno;
    }
    void *p = MAP_FAILED;
    if (::ftruncate(fd, sizeof(CbaQueue)) == 0) {
        p = ::mmap(nullptr, sizeof(CbaQueue), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    int error = errno;
    ::close(fd);
    if (p == MAP_FAILED) {
        ::unlink(fresh.c_str());
        return -error;
    }
    auto *q = static_cast<CbaQueue *>(p);
    int rc = init_sync(q);
    if (rc != 0) {
        unmap_queue(q);
        ::unlink(fresh.c_str());
        return rc;
    }
    q->size = sizeof(CbaQueue);
    q->pid = pid;
    q->hmem = hmem;
    q->open = 1;
    __atomic_store_n(&q->magic, kQueueMagic, __ATOMIC_RELEASE);
    ::rename(fresh.c_str(), path.c_str()); // raisers only ever see a whole queue
    *queue = q;
    return 0;
}

int cba_take(CbaQueue *q, CbaNote *note, uint32_t *index)
{
    lock(q);
    int rc = 1;
    for (;;) {
        if (q->finished) {
            break;
        }
        const CbaNote &head = q->ring[q->head];
        int item = q->count > 0 && head.kind == CbaKind::Notify ? free_item(q) : -1;
        if (q->count > 0 && (head.kind != CbaKind::Notify || item >= 0)) {
            rc = head.kind == CbaKind::Fail ? -head.error : head.kind == CbaKind::Wake ? 1 : 0;
            if (rc == 0) {
                *note = head;
                *index = static_cast<uint32_t>(item);
                q->running[item] = 1;
                ++q->handed;
            }
            q->head = (q->head + 1) % kCbaQueueDepth;
            --q->count;
            if (q->raisers_waiting) {
                pthread_cond_broadcast(&q->room);
            }
            break;
        }
        wait_on(q, &q->ready, &q->takers_waiting, nullptr);
    }
    unlock(q);
    return rc;
}

int cba_done(CbaQueue *q, uint32_t hmem, uint32_t index)
{
    lock(q);
    int rc = -EINVAL;
    if (hmem == q->hmem && index < kCbaItems && q->running[index]) {
        q->running[index] = 0;
        ++q->done;
        if (q->takers_waiting) {
            pthread_cond_broadcast(&q->ready);
        }
        rc = 0;
    }
    unlock(q);
    return rc;
}

void cba_finish(CbaQueue *q)
{
    lock(q);
    q->finished = 1;
    pthread_cond_broadcast(&q->ready);
    unlock(q);
}

void cba_close(CbaQueue *q, const std::string &dir, Journal *journal)
{
    lock(q);
    q->open = 0;
    q->finished = 1;
    uint32_t pending = q->count;
    uint32_t running = running_count(q);
    q->dropped += pending;
    q->count = 0;
    pthread_cond_broadcast(&q->ready);
    pthread_cond_broadcast(&q->room);
    unlock(q);
    if (pending || running) {
        journal_line(journal, format("cba drop %d pending %u running %u", q->pid, pending, running));
    }
    ::unlink(queue_path(dir, q->pid).c_str());
    unmap_queue(q);
}

namespace {

// Queues total notes, the k-th being notes[k % n].
int raise_notes(const std::string &dir, int pid, const CbaNote *notes, size_t n, size_t total, Journal *journal,
                int timeout_ms)
{
    for (size_t i = 0; i < n; ++i) {
        if (notes[i].info_size > kCbaInfoMax || (notes[i].kind == CbaKind::Fail && notes[i].error <= 0)) {
            return -EINVAL;
        }
    }
    CbaQueue *q = n && total ? map_queue(queue_path(dir, pid)) : nullptr;
    if (!q) {
        return n && total ? -ESRCH : -EINVAL;
    }
    int rc = 0;
    size_t queued = 0;
    lock(q);
    timespec until = deadline_after(timeout_ms);
    while (queued < total && rc == 0) {
        if (!q->open) {
            rc = -EPIPE;
        } else if (q->count == kCbaQueueDepth) {
            rc = passed(until) ? -ETIMEDOUT : 0;
            if (rc == 0) {
                wait_on(q, &q->room, &q->raisers_waiting, &until);
            }
        } else {
            for (; queued < total && q->count < kCbaQueueDepth; ++queued) {
                const CbaNote &note = notes[queued % n];
                q->ring[(q->head + q->count) % kCbaQueueDepth] = note;
                ++q->count;
                q->raised += note.kind == CbaKind::Notify;
            }
            until = deadline_after(timeout_ms);
            pthread_cond_broadcast(&q->ready);
        }
    }
    // Written before the queue is let go, so that it comes before the lines of the items' requests.
    std::string what = n == 1 ? note_text(notes[0]) + format(" count %zu", total) : format("notes %zu", n);
    journal_line(journal, format("cba raise %d ", pid) + what + format(" queued %zu", queued) +
                              (rc ? std::string(" ") + error_name(-rc) : ""));
    unlock(q);
    unmap_queue(q);
    return rc;
}

} // namespace

int cba_raise(const std::string &dir, int pid, const CbaNote &note, uint32_t count, Journal *journal, int timeout_ms)
{
    return raise_notes(dir, pid, &note, 1, count, journal, timeout_ms);
}

int cba_raise_all(const std::string &dir, int pid, const CbaNote *notes, size_t n, Journal *journal, int timeout_ms)
{
    return raise_notes(dir, pid, notes, n, n, journal, timeout_ms);
}

int cba_stats(const std::string &dir, int pid, CbaStats *stats)
{
    CbaQueue *q = map_queue(queue_path(dir, pid));
    if (!q) {
        return -ESRCH;
    }
    *stats = stats_of(q);
    unmap_queue(q);
    return 0;
}

std::vector<CbaStats> cba_report(const std::string &dir)
{
    std::vector<CbaStats> all;
    DIR *d = ::opendir(state_path(dir, kCbaDir).c_str());
    if (!d) {
        return all;
    }
    while (struct dirent *e = ::readdir(d)) {
        char *end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        CbaStats s;
        if (end != e->d_name && *end == '\0' && cba_stats(dir, static_cast<int>(pid), &s) == 0) {
            all.push_back(s);
        }
    }
    ::closedir(d);
    std::sort(all.begin(), all.end(), [](const CbaStats &a, const CbaStats &b) { return a.pid < b.pid; });
    return all;
}

} // namespace vboard
