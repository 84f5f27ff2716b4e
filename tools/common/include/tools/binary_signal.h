// A signal between two threads that holds at most one pending raise (a
// semaphore capped at one post), and hands a block of data over with it:
// the raiser fills the block and the waiter takes it under the signal's
// lock, so a block is never overwritten while it is being sent.
#ifndef TOOLS_BINARY_SIGNAL_H
#define TOOLS_BINARY_SIGNAL_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tools {

struct BinarySignal {
    std::mutex lock;
    std::condition_variable changed;
    bool pending = false;
    bool busy = false; // the waiter is sending what it took
};

// Runs fill under the lock and raises the signal (a second raise before
// the waiter runs is merged into the first).
template <typename Fill> void raise_signal(BinarySignal *s, Fill fill)
{
    std::lock_guard<std::mutex> guard(s->lock);
    fill();
    s->pending = true;
    s->changed.notify_all();
}

// Waits for a raise, lowers the signal and runs take under the lock; the
// waiter is busy until it calls signal_done.
template <typename Take> void wait_signal(BinarySignal *s, Take take)
{
    std::unique_lock<std::mutex> guard(s->lock);
    s->changed.wait(guard, [s] { return s->pending; });
    s->pending = false;
    s->busy = true;
    take();
}

inline void signal_done(BinarySignal *s)
{
    std::lock_guard<std::mutex> guard(s->lock);
    s->busy = false;
    s->changed.notify_all();
}

// Waits until every raise was taken and handled, at most limit; false
// when the waiter is still busy then.
inline bool wait_signal_idle(BinarySignal *s, std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(s->lock);
    return s->changed.wait_for(guard, limit, [s] { return !s->pending && !s->busy; });
}

} // namespace tools

#endif
