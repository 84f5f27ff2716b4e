// Inside libcbagent: the log gate, flags shared between threads, and the
// helpers that start threads under the agent's scheduling.
#ifndef CBAGENT_AGENT_H
#define CBAGENT_AGENT_H

// Only the C API leaves the library.
#pragma GCC visibility push(default)
#include "cbagent.h"
#pragma GCC visibility pop

#include <pthread.h>

#include <cstdint>

namespace cba {

// Log thresholds on CBA_debug_level.
constexpr int32_t kAlways = INT32_MIN;
constexpr int32_t kInfo = 0;
constexpr int32_t kTrace = 1;
constexpr int32_t kCalls = 3;
constexpr int32_t kDetail = 9;
constexpr int32_t kFlood = 100;

constexpr int32_t kExtraFirst = CBA_POOL_THREADS; // slots 3..15 hold one-shot threads
constexpr int32_t kLastSlot = CBA_WORK_THREADS - 1;
constexpr int32_t kEventRun = 1;
constexpr int32_t kEventExit = 2;
constexpr size_t kRequestedStack = 2048;

// printf / puts when CBA_debug_level reaches threshold.
void log(int32_t threshold, const char *format, ...) __attribute__((format(printf, 2, 3)));
void log_line(int32_t threshold, const char *text);

// Flags that one thread sets and others poll without a lock.
inline uint8_t load_flag(const uint8_t &flag) { return __atomic_load_n(&flag, __ATOMIC_ACQUIRE); }
inline void store_flag(uint8_t &flag, uint8_t value) { __atomic_store_n(&flag, value, __ATOMIC_RELEASE); }

// Thread attributes of the agent: the small stack it asks for (refused
// where the platform's minimum is larger) and, with realtime, SCHED_RR at
// priority 70 from the start, so that such a thread exists only with it.
void agent_thread_attr(pthread_attr_t *attr, bool realtime);
// SCHED_RR at priority 70 for the calling thread: 0 or an error number.
int make_self_realtime();

// Gives item index back to the driver (CB_DONE); slot names the thread in
// the failure line. The ioctl result.
int return_item(int32_t index, int32_t slot);

// Marks the calling thread as one of the agent's; uninit refuses to run there.
void mark_agent_thread();
bool on_agent_thread();

// Main lock helpers; the record's lock and condition.
void lock_main();
void unlock_main();
// Wakes every waiter of the main condition (the dispatcher and a finishing uninit).
void wake_main();
// Waits on the main condition for at most a second.
void wait_main_a_while();

// Destroys a lock and a condition with the failure messages.
void destroy_lock_and_cond(pthread_mutex_t *lock, pthread_cond_t *cond);

// The dispatcher's end, for uninit to wait on.
void dispatcher_started();
void dispatcher_ended();
void wait_dispatcher_end();

} // namespace cba

#endif
