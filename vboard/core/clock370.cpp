#include "vboard/clock370.h"

#include <time.h>

#include <cinttypes>
#include <cstdio>

#include "vboard/journal.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr int64_t kUsPerSecond = 1000000;

std::string seconds_text(int64_t us)
{
    return format("%" PRId64 ".%06" PRId64 " s", us / kUsPerSecond, us % kUsPerSecond);
}

} // namespace

int64_t monotonic_us()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * kUsPerSecond + ts.tv_nsec / 1000;
}

// "frozen AT_US" or "running AT_US SET_MONO_US".
int clock_set(const std::string &dir, int64_t at_us, bool running)
{
    std::string text = running ? format("running %" PRId64 " %" PRId64 "\n", at_us, monotonic_us())
                               : format("frozen %" PRId64 "\n", at_us);
    return write_text_file(state_path(dir, kClockState), text);
}

ClockSetting clock_setting(const std::string &dir)
{
    ClockSetting s;
    std::string text;
    if (read_text_file(state_path(dir, kClockState), &text) != 0) {
        return s;
    }
    char kind[16] = "";
    long long at = 0, mono = 0;
    int n = std::sscanf(text.c_str(), "%15s %lld %lld", kind, &at, &mono);
    s.running = std::string(kind) == "running";
    s.set = (n == 2 && std::string(kind) == "frozen") || (n == 3 && s.running);
    s.at_us = at;
    s.set_mono_us = mono;
    return s;
}

int64_t clock_now_us(const ClockSetting &s)
{
    if (!s.set) {
        return monotonic_us();
    }
    return s.running ? s.at_us + (monotonic_us() - s.set_mono_us) : s.at_us;
}

std::string clock_text(const ClockSetting &s)
{
    if (!s.set) {
        return "monotonic clock, now " + seconds_text(clock_now_us(s));
    }
    return (s.running ? "running, now " : "frozen at ") + seconds_text(clock_now_us(s));
}

} // namespace vboard
