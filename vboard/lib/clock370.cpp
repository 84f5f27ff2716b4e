// System call 370: the board kernel's time service. Called with the service
// code 300000 and the address of two 32-bit words, which it fills with
// seconds and microseconds of the clock in vboard/clock370.h.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "devices.h"
#include "vboard/clock370.h"

namespace vboard {

namespace {

// A console filter asks once per line, so the setting is read from the
// state directory at most this often, and the calls are journalled as a
// count at most this often and when the process ends.
constexpr int64_t kRecheckUs = 10000;
constexpr int64_t kJournalEveryUs = 1000000;

struct ClockCache {
    std::mutex lock;
    std::string dir;
    ClockSetting setting;
    int64_t checked_us = INT64_MIN;
    Journal *journal = nullptr;
    long long unjournalled = 0;
    int64_t journalled_us = 0;
    bool flush_at_exit = false;
};

ClockCache &cache()
{
    static ClockCache *c = new ClockCache; // outlives every thread and the exit handlers
    return *c;
}

// Caller holds the lock.
void journal_calls(ClockCache &c)
{
    if (c.unjournalled > 0 && c.journal) {
        journal_count(c.journal, "syscall 370", "calls", c.unjournalled);
    }
    c.unjournalled = 0;
}

void journal_at_exit()
{
    ClockCache &c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    journal_calls(c);
}

long clock_call(const char *dir, Journal *journal, const long args[6])
{
    if (args[0] != kClockService) {
        return -EINVAL;
    }
    auto *words = reinterpret_cast<uint32_t *>(args[1]);
    if (!words) {
        return -EFAULT;
    }
    ClockCache &c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    int64_t mono = monotonic_us();
    if (c.dir != dir || mono - c.checked_us >= kRecheckUs) {
        c.dir = dir;
        c.setting = clock_setting(dir);
        c.checked_us = mono;
    }
    int64_t now = clock_now_us(c.setting);
    words[0] = static_cast<uint32_t>(now / 1000000);
    words[1] = static_cast<uint32_t>(now % 1000000);
    c.journal = journal;
    ++c.unjournalled;
    if (!c.flush_at_exit) {
        c.flush_at_exit = true;
        c.journalled_us = mono;
        std::atexit(journal_at_exit);
    }
    if (mono - c.journalled_us >= kJournalEveryUs) {
        journal_calls(c);
        c.journalled_us = mono;
    }
    return 0;
}

} // namespace

const SyscallModel kClockSyscallModel = {kClockSyscall, clock_call};

} // namespace vboard
