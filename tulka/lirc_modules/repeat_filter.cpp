#include "repeat_filter.h"

#include <utility>

namespace tulka {

namespace {

// Generated repeats allowed after a press or after lircd's last repeat line.
constexpr std::int32_t repeat_allowance = 4;
// The first generated repeat waits this many repeat intervals.
constexpr std::uint64_t first_repeat_intervals = 3;
const char *const key_up_suffix = "_EVUP";
const char *const repeat_remote = "repeat";

} // namespace

repeat_filter::repeat_filter(const key_table &key_codes, std::uint32_t repeat_ms, repeat_timer_control timer,
                             key_callback emit, log_sink log)
    : m_key_codes(key_codes), m_repeat_ms(repeat_ms), m_timer(std::move(timer)), m_emit(std::move(emit)),
      m_log(std::move(log))
{
}

void repeat_filter::emit(std::uint16_t code, std::int32_t value, const std::string &remote)
{
    if (m_emit)
        m_emit(key_event{code, value, remote});
}

void repeat_filter::start_timer(std::chrono::milliseconds delay)
{
    const std::uint64_t generation = ++m_timer_generation;
    m_timer.start(delay, [this, generation](bool cancelled) {
        repeat_timeout(cancelled || generation != m_timer_generation);
    });
}

void repeat_filter::cancel_timer()
{
    ++m_timer_generation;
    m_timer.cancel();
}

void repeat_filter::release(const std::string &button, const std::string &remote)
{
    std::string base = button;
    const std::size_t suffix = base.find(key_up_suffix);
    if (suffix != std::string::npos)
        base.erase(suffix);
    const auto found = m_key_codes.find(base);
    // An unknown button still ends a held key.
    const std::uint16_t code = found == m_key_codes.end() ? 0 : static_cast<std::uint16_t>(found->second);
    m_pressed = false;
    cancel_timer();
    emit(code, key_release, remote);
    m_log.info("filter() key ", code, " release event send");
}

void repeat_filter::press(std::uint16_t code, const std::string &remote)
{
    m_pressed = false;
    cancel_timer();
    emit(code, key_press, remote);
    m_log.info("filter() key ", code, " press event send");
    m_repeat_code = code;
    m_repeat_left = repeat_allowance;
    m_pressed = true;
    // In 64 bits: a large -r must not wrap to a short first delay.
    start_timer(std::chrono::milliseconds(first_repeat_intervals * m_repeat_ms));
}

void repeat_filter::filter(std::uint32_t repeat, const std::string &button, const std::string &remote)
{
    m_log.info("filter() param button=[", button, "] name=[", remote, "]");
    const auto found = m_key_codes.find(button);
    if (found == m_key_codes.end()) {
        release(button, remote);
    } else if (repeat != 0) {
        m_repeat_left = repeat_allowance;
        m_pressed = true;
        m_log.info("filter() key repeat event recv, reset repeat count to ", repeat_allowance);
    } else {
        press(static_cast<std::uint16_t>(found->second), remote);
    }
}

void repeat_filter::repeat_timeout(bool cancelled)
{
    m_log.info("repeat_timeout() entry ....");
    if (cancelled || !m_pressed)
        return;
    emit(m_repeat_code, key_repeat, repeat_remote);
    m_log.info("repeat_timeout() key ", m_repeat_code, " repeat event send");
    if (m_repeat_left != 0) {
        start_timer(std::chrono::milliseconds(m_repeat_ms));
        --m_repeat_left;
    }
}

void repeat_filter::stop()
{
    m_pressed = false;
    cancel_timer();
}

} // namespace tulka
