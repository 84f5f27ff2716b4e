// The data side of one learn: what the reads of the receiver add to the
// capture, when enough has arrived, and the processing at the end. The
// `lirc` class keeps the device, the timers and the callbacks.
#ifndef TULKA_LIRC_MODULES_LEARN_CAPTURE_H
#define TULKA_LIRC_MODULES_LEARN_CAPTURE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ir_signal.h"
#include "log_sink.h"

namespace tulka {

class learn_capture {
public:
    // Milliseconds of the wall clock; the activity throttle runs on it.
    using clock_fn = std::function<std::int64_t()>;

    explicit learn_capture(log_sink log, clock_fn wall_ms = system_ms);

    // Forgets the capture of an earlier learn (the gap stays).
    void reset();

    // One completed read of `bytes` bytes. Returns true when the capture has
    // just become big enough, so the sample time starts now.
    bool on_read(const void *data, std::size_t bytes, const std::function<void()> &activity);

    // Processes the capture when the sample time is over; true when a
    // configuration can be written from first(), second() and gap().
    bool finish();

    // Reads stop without a finish (cancel, a replacing learn).
    void stop_sampling() { m_min_captured = false; }

    bool min_captured() const { return m_min_captured; }
    const ir_signal &first() const { return m_psdata; }
    const ir_signal &second() const { return m_psdata2; }
    const ir_signal &raw() const { return m_raw; }
    std::uint32_t gap() const { return m_gap; }

    static std::int64_t system_ms();

private:
    std::size_t append_words(const unsigned char *data, std::size_t bytes);
    void signal_activity(const std::function<void()> &activity);

    log_sink m_log;
    clock_fn m_clock;
    signal_processor m_processor;
    ir_signal m_psdata;
    ir_signal m_psdata2;
    ir_signal m_raw;
    // Bytes of a word that a read ended in the middle of.
    unsigned char m_partial[sizeof(lirc_value)] = {};
    std::size_t m_partial_bytes = 0;
    std::uint32_t m_gap = base_gap_us;
    bool m_min_captured = false;
    std::int64_t m_last_activity = 0;
};

} // namespace tulka

#endif
