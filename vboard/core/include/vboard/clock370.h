// The clock behind system call 370 (the board kernel's time service): the
// monotonic clock unless the state directory ("clock370") sets where it
// stands, frozen or running on from there.
#ifndef VBOARD_CLOCK370_H
#define VBOARD_CLOCK370_H

#include <cstdint>
#include <string>

namespace vboard {

constexpr const char *kClockState = "clock370";
constexpr long kClockSyscall = 370;
constexpr long kClockService = 300000; // the call's first argument

struct ClockSetting {
    bool set = false;
    bool running = false;
    int64_t at_us = 0;       // where the clock stands (frozen) or stood when set
    int64_t set_mono_us = 0; // monotonic time when it was set (running)
};

int64_t monotonic_us();

// Sets the clock to at_us, frozen there or running on. Returns 0 or -1.
int clock_set(const std::string &dir, int64_t at_us, bool running);
ClockSetting clock_setting(const std::string &dir);
// Microseconds the clock shows now.
int64_t clock_now_us(const ClockSetting &setting);
// "frozen at 3725.042000 s", "running, set to ...", "monotonic clock".
std::string clock_text(const ClockSetting &setting);

} // namespace vboard

#endif
