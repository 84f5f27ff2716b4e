// The agent's process-global state, its log gate and shared helpers.
#include <pthread.h>
#include <sched.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "agent.h"

uint8_t _fgCbAgentUserInit;
int32_t CBA_debug_level;
CbAgentUser _arCbAgentUser;
WorkThread _arWork_Thread[CBA_WORK_THREADS];

#if UINTPTR_MAX == 0xFFFFFFFF
static_assert(offsetof(CbItem, nfy_fct) == 0 && offsetof(CbItem, nfy_tag) == 4 && offsetof(CbItem, cb_info_sz) == 8,
              "item head");
static_assert(offsetof(CbItem, caller) == 12 && offsetof(CbItem, pid) == 16 && offsetof(CbItem, drv_type) == 20,
              "item head");
static_assert(offsetof(CbItem, cb_info) == 24 && sizeof(((CbItem *)nullptr)->cb_info) == 2024, "item info");
static_assert(sizeof(pthread_t) == 4, "a thread id is a 32-bit word on the board");
#endif
static_assert(sizeof(CbItem) == CBA_ITEM_SIZE, "an item is 2048 bytes");
static_assert(sizeof(CbaRequest) == 8, "a request record is two 32-bit words");

namespace cba {

namespace {

// The dispatcher is detached; uninit waits for its end before the record
// it works on is cleared. Its own lock, never held with another.
pthread_mutex_t dispatcher_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t dispatcher_cond = PTHREAD_COND_INITIALIZER;
bool dispatcher_live;

thread_local bool agent_thread;

bool shown(int32_t threshold)
{
    return threshold == kAlways || __atomic_load_n(&CBA_debug_level, __ATOMIC_RELAXED) >= threshold;
}

} // namespace

void log(int32_t threshold, const char *format, ...)
{
    if (!shown(threshold)) {
        return;
    }
    va_list ap;
    va_start(ap, format);
    std::vprintf(format, ap);
    va_end(ap);
}

void log_line(int32_t threshold, const char *text)
{
    if (shown(threshold)) {
        std::puts(text);
    }
}

void agent_thread_attr(pthread_attr_t *attr, bool realtime)
{
    pthread_attr_init(attr);
    pthread_attr_setstacksize(attr, kRequestedStack); // refused where the minimum is larger
    if (realtime) {
        sched_param param{};
        param.sched_priority = CBA_THREAD_PRIORITY;
        pthread_attr_setinheritsched(attr, PTHREAD_EXPLICIT_SCHED);
        pthread_attr_setschedpolicy(attr, SCHED_RR);
        pthread_attr_setschedparam(attr, &param);
    }
}

int make_self_realtime()
{
    sched_param param{};
    param.sched_priority = CBA_THREAD_PRIORITY;
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

void mark_agent_thread() { agent_thread = true; }
bool on_agent_thread() { return agent_thread; }

void lock_main() { pthread_mutex_lock(&_arCbAgentUser.lock); }
void unlock_main() { pthread_mutex_unlock(&_arCbAgentUser.lock); }
void wake_main() { pthread_cond_broadcast(&_arCbAgentUser.cond); }

void wait_main_a_while()
{
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    ++until.tv_sec;
    pthread_cond_timedwait(&_arCbAgentUser.cond, &_arCbAgentUser.lock, &until);
}

void destroy_lock_and_cond(pthread_mutex_t *lock, pthread_cond_t *cond)
{
    if (pthread_mutex_destroy(lock) != 0) {
        log_line(kInfo, "[CBA] destroy mutex fail");
    }
    if (pthread_cond_destroy(cond) != 0) {
        log_line(kInfo, "[CBA] destroy cond fail");
    }
}

void dispatcher_started()
{
    pthread_mutex_lock(&dispatcher_lock);
    dispatcher_live = true;
    pthread_mutex_unlock(&dispatcher_lock);
}

void dispatcher_ended()
{
    pthread_mutex_lock(&dispatcher_lock);
    dispatcher_live = false;
    pthread_cond_broadcast(&dispatcher_cond);
    pthread_mutex_unlock(&dispatcher_lock);
}

void wait_dispatcher_end()
{
    pthread_mutex_lock(&dispatcher_lock);
    while (dispatcher_live) {
        pthread_cond_wait(&dispatcher_cond, &dispatcher_lock);
    }
    pthread_mutex_unlock(&dispatcher_lock);
}

} // namespace cba
