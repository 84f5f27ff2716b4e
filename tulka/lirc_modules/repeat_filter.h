// Turns lircd's decoded buttons into key events: a press when a button is
// first seen, repeats generated on a timer while lircd reports it held, and
// a release on a key-up button. The owner wires the timer and the socket.
#ifndef TULKA_LIRC_MODULES_REPEAT_FILTER_H
#define TULKA_LIRC_MODULES_REPEAT_FILTER_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "log_sink.h"

namespace tulka {

// One key event; input_lirc hands it on as its KeyInfo_t.
struct key_event {
    std::uint16_t code = 0;
    std::int32_t value = 0;
    std::string remote;
};

constexpr std::int32_t key_release = 0;
constexpr std::int32_t key_press = 1;
constexpr std::int32_t key_repeat = 2;

// The one timer of the filter. `start` replaces any earlier wait; its
// handler is told whether the wait was cancelled.
struct repeat_timer_control {
    std::function<void(std::chrono::milliseconds, std::function<void(bool cancelled)>)> start;
    std::function<void()> cancel;
};

class repeat_filter {
public:
    using key_callback = std::function<void(const key_event &)>;
    using key_table = std::map<std::string, std::int32_t>;

    repeat_filter(const key_table &key_codes, std::uint32_t repeat_ms, repeat_timer_control timer, key_callback emit,
                  log_sink log);

    // One decoded line of lircd.
    void filter(std::uint32_t repeat, const std::string &button, const std::string &remote);

    // Expiry of the repeat timer.
    void repeat_timeout(bool cancelled);

    // The owner goes away: no more events.
    void stop();

    bool pressed() const { return m_pressed; }

private:
    void emit(std::uint16_t code, std::int32_t value, const std::string &remote);
    void release(const std::string &button, const std::string &remote);
    void press(std::uint16_t code, const std::string &remote);
    void start_timer(std::chrono::milliseconds delay);
    void cancel_timer();

    const key_table &m_key_codes;
    std::uint32_t m_repeat_ms;
    repeat_timer_control m_timer;
    key_callback m_emit;
    log_sink m_log;
    // Tells a stale expiry, queued before a cancel, from the current wait.
    std::uint64_t m_timer_generation = 0;
    std::uint16_t m_repeat_code = 0;
    std::int32_t m_repeat_left = 4;
    bool m_pressed = false;
};

} // namespace tulka

#endif
