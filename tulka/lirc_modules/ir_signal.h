// Cleaning of a learn capture: mode-2 words from the LIRC receiver become
// one or two raw codes that lircd can match.
#ifndef TULKA_LIRC_MODULES_IR_SIGNAL_H
#define TULKA_LIRC_MODULES_IR_SIGNAL_H

#include <cstdint>
#include <string>
#include <vector>

#include "log_sink.h"

namespace tulka {

// One mode-2 word: bit 24 set for a pulse, bits 0..23 the duration in µs.
using lirc_value = std::uint32_t;
using ir_signal = std::vector<lirc_value>;

constexpr lirc_value lirc_pulse_bit = 0x01000000;
constexpr lirc_value lirc_duration_mask = 0x00FFFFFF;
// A space of the largest duration is the receiver's end-of-burst mark.
constexpr lirc_value lirc_timeout_duration = lirc_duration_mask;

constexpr lirc_value duration_of(lirc_value value) { return value & lirc_duration_mask; }
constexpr bool is_pulse(lirc_value value) { return (value & lirc_pulse_bit) != 0; }
constexpr bool is_space(lirc_value value) { return !is_pulse(value); }
constexpr bool is_timeout(lirc_value value) { return is_space(value) && duration_of(value) == lirc_timeout_duration; }

// A learned signal must hold more values than this to count as a frame.
constexpr std::size_t small_signal_values = 17;

// Tolerances by which two presses are compared; the learned configuration
// states the same ones to lircd.
constexpr lirc_value same_abs_tolerance_us = 100;
constexpr double same_rel_tolerance_percent = 30.0;

// The configuration's gap when nothing has been learned yet, and the base
// added to a frame's length.
constexpr std::uint32_t base_gap_us = 10000;

class signal_processor {
public:
    explicit signal_processor(log_sink log = {});

    // Enough has arrived once the first press has ended with a timeout.
    bool has_min_data(const ir_signal &capture) const;

    // Turns the capture in `first` into the first signal and, when the
    // presses differ, a second one in `second`; both end up empty when the
    // capture is unusable. `gap` is set from the first signal when the two
    // presses are of comparable size.
    void process_signal(ir_signal &first, ir_signal &second, std::uint32_t &gap) const;

    bool same_duration(lirc_value a, lirc_value b) const;

    void cut_at_timeout(ir_signal &signal) const;
    static void strip_leading_spaces(ir_signal &signal);
    static void strip_trailing_spaces(ir_signal &signal);
    void delete_trailing_signal(ir_signal &signal) const;
    void delete_trailing_repeats(ir_signal &signal) const;

    // The debug dump of a signal, one text per log line.
    static std::vector<std::string> dump_lines(const ir_signal &signal);

private:
    void split(ir_signal &first, ir_signal &second) const;
    bool frame_repeats(const ir_signal &signal, std::size_t frame, std::size_t block) const;
    void update_gap(const ir_signal &first, std::uint32_t &gap) const;
    void drop_same_second(const ir_signal &first, ir_signal &second) const;
    void check_sizes(ir_signal &first, ir_signal &second) const;
    void log_dump(const ir_signal &signal) const;
    void log_sizes(const ir_signal &first, const ir_signal &second) const;

    log_sink m_log;
};

// The learn succeeds when the first processed signal is a whole frame.
inline bool learned_enough(const ir_signal &first) { return first.size() > small_signal_values; }

} // namespace tulka

#endif
