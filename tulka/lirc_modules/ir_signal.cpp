#include "ir_signal.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <utility>

namespace tulka {

namespace {

constexpr std::size_t min_capture_values = 35;
// A first value that is a pulse gets a leading space, so that the first
// frame, like every repeat, starts with a gap.
constexpr lirc_value leading_space_us = 10001;
// A second press starting with a longer value starts with the tail of the
// receiver's timeout; it is not part of the frame.
constexpr lirc_value second_lead_max_us = 100000;
// A long value near the end with little after it is a trailing fragment.
constexpr lirc_value trailing_signal_us = 40000;
constexpr std::size_t trailing_signal_max_follow = 10;
// A repeated frame begins with a space longer than this.
constexpr lirc_value repeat_gap_us = 10000;
constexpr std::size_t min_repeat_block = 4;
constexpr std::size_t max_size_difference = 100;
constexpr double min_size_ratio = 0.75;

constexpr std::size_t dump_values_per_line = 6;
constexpr int dump_field_width = 10;
constexpr lirc_value dump_paragraph_us = 10000;

const char *const raw_capture_banner = "======================= Raw Capture =======================";
const char *const processing_banner = "======================= Processing =======================";
const char *const split_banner = "======================= Split Signal =======================";
const char *const processed_banner = "======================= Processed Signal =======================";

ir_signal::const_iterator first_timeout(ir_signal::const_iterator from, ir_signal::const_iterator to)
{
    return std::find_if(from, to, is_timeout);
}

void keep_durations(ir_signal &signal)
{
    for (lirc_value &value : signal)
        value = duration_of(value);
}

} // namespace

signal_processor::signal_processor(log_sink log) : m_log(std::move(log)) {}

bool signal_processor::has_min_data(const ir_signal &capture) const
{
    if (capture.size() <= min_capture_values)
        return false;
    // Leading spaces, timeouts included, are stale and do not end a press.
    auto first_pulse = std::find_if(capture.begin(), capture.end(), is_pulse);
    return first_timeout(first_pulse, capture.end()) != capture.end();
}

bool signal_processor::same_duration(lirc_value a, lirc_value b) const
{
    const lirc_value da = duration_of(a), db = duration_of(b);
    const lirc_value difference = da > db ? da - db : db - da;
    if (difference <= same_abs_tolerance_us)
        return true;
    const double mean = (static_cast<double>(da) + static_cast<double>(db)) / 2.0;
    const double relative = difference / mean * 100.0;
    if (relative <= same_rel_tolerance_percent)
        return true;
    m_log.debug(da, "<>", db, " abs(", difference, ") rel(", relative, ")");
    return false;
}

void signal_processor::cut_at_timeout(ir_signal &signal) const
{
    if (signal.size() < 2)
        return;
    auto timeout = first_timeout(signal.begin() + 1, signal.end());
    if (timeout == signal.end())
        return;
    m_log.debug("delete additional button press in signal");
    signal.erase(timeout, signal.end());
}

void signal_processor::strip_leading_spaces(ir_signal &signal)
{
    signal.erase(signal.begin(), std::find_if(signal.begin(), signal.end(), is_pulse));
}

void signal_processor::strip_trailing_spaces(ir_signal &signal)
{
    while (!signal.empty() && is_space(signal.back()))
        signal.pop_back();
}

void signal_processor::delete_trailing_signal(ir_signal &signal) const
{
    auto long_value = std::find_if(signal.rbegin(), signal.rend(),
                                   [](lirc_value v) { return duration_of(v) > trailing_signal_us; });
    if (long_value == signal.rend())
        return;
    const std::size_t following = static_cast<std::size_t>(long_value - signal.rbegin());
    if (following >= trailing_signal_max_follow)
        return;
    m_log.debug("deleting trailing signal");
    signal.erase(signal.end() - static_cast<std::ptrdiff_t>(following) - 1, signal.end());
}

// Compares the frame at `frame` with the block at `block`, both of `size`
// values, leaving out their leading gaps.
bool signal_processor::frame_repeats(const ir_signal &signal, std::size_t frame, std::size_t block) const
{
    const std::size_t size = signal.size() - block;
    for (std::size_t j = 1; j < size; ++j)
        if (!same_duration(signal[frame + j], signal[block + j]))
            return false;
    return true;
}

void signal_processor::delete_trailing_repeats(ir_signal &signal) const
{
    const std::size_t n = signal.size();
    for (std::size_t size = min_repeat_block; size < n; size += 2) {
        if (n < 2 * size)
            continue;
        const std::size_t block = n - size;
        if (!is_space(signal[block]) || duration_of(signal[block]) <= repeat_gap_us)
            continue;
        std::size_t cut = 0;
        // Every earlier frame is tried; the earliest match decides the cut.
        for (std::size_t frame = n - 2 * size;; frame -= size) {
            if (frame_repeats(signal, frame, block))
                cut = frame > 0 ? frame + size : 2 * size;
            if (frame < size)
                break;
        }
        if (cut == 0)
            continue;
        m_log.debug("found repeating signal size of ", size);
        m_log.debug("deleting all trailing repeats starting at ", cut);
        signal.erase(signal.begin() + static_cast<std::ptrdiff_t>(cut), signal.end());
        return;
    }
}

void signal_processor::split(ir_signal &first, ir_signal &second) const
{
    for (;;) {
        auto timeout = first_timeout(first.begin(), first.end());
        if (timeout != first.end()) {
            m_log.debug("found more than one button press, splitting signal");
            second.insert(second.end(), timeout + 1, first.cend());
            first.erase(timeout, first.end());
        }
        if (first.size() > small_signal_values || second.size() <= small_signal_values)
            return;
        m_log.debug("throwing away signal too small");
        first = std::move(second);
        second.clear();
    }
}

void signal_processor::update_gap(const ir_signal &first, std::uint32_t &gap) const
{
    std::uint64_t total = base_gap_us;
    for (lirc_value value : first)
        total += duration_of(value);
    gap = static_cast<std::uint32_t>(total);
    m_log.debug("const gap: ", gap);
}

void signal_processor::drop_same_second(const ir_signal &first, ir_signal &second) const
{
    bool same = first.size() == second.size();
    for (std::size_t i = 0; same && i < first.size(); ++i)
        same = same_duration(first[i], second[i]);
    if (same) {
        m_log.debug("first and second signal are the same");
        second.clear();
    } else {
        m_log.debug("first and second signal don't match, using both signals");
    }
}

void signal_processor::check_sizes(ir_signal &first, ir_signal &second) const
{
    const double n1 = static_cast<double>(first.size()), n2 = static_cast<double>(second.size());
    if (min_size_ratio * n1 > n2 || min_size_ratio * n2 > n1) {
        m_log.debug("first and second signals are drastically different in size, failing");
        first.clear();
        second.clear();
    }
}

void signal_processor::process_signal(ir_signal &first, ir_signal &second, std::uint32_t &gap) const
{
    if (first.empty())
        return;
    m_log.debug(raw_capture_banner);
    log_dump(first);
    m_log.debug("");
    m_log.debug(processing_banner);

    split(first, second);
    m_log.debug(split_banner);
    log_dump(first);
    log_dump(second);
    log_sizes(first, second);

    cut_at_timeout(first);
    cut_at_timeout(second);
    if (!first.empty() && is_pulse(first.front()))
        first.insert(first.begin(), leading_space_us);
    if (!second.empty() && duration_of(second.front()) > second_lead_max_us)
        second.erase(second.begin());
    log_sizes(first, second);

    if (second.size() < 2) {
        // A learn needs two presses of the button.
        first.clear();
        second.clear();
        return;
    }
    delete_trailing_repeats(first);
    delete_trailing_repeats(second);
    strip_leading_spaces(first);
    strip_leading_spaces(second);
    strip_trailing_spaces(first);
    strip_trailing_spaces(second);
    delete_trailing_signal(first);
    delete_trailing_signal(second);
    log_sizes(first, second);

    const std::size_t difference = first.size() > second.size() ? first.size() - second.size()
                                                                : second.size() - first.size();
    if (difference > max_size_difference) {
        first.clear();
        second.clear();
    } else {
        update_gap(first, gap);
    }
    if (!second.empty())
        drop_same_second(first, second);
    if (!second.empty())
        check_sizes(first, second);
    log_sizes(first, second);

    m_log.debug(processed_banner);
    m_log.debug("signal 1:");
    log_dump(first);
    m_log.debug("signal 2:");
    log_dump(second);
    keep_durations(first);
    keep_durations(second);
}

std::vector<std::string> signal_processor::dump_lines(const ir_signal &signal)
{
    std::vector<std::string> lines;
    std::ostringstream line;
    std::size_t on_line = 0;
    auto end_line = [&] {
        lines.push_back(line.str());
        line.str("");
        on_line = 0;
    };
    for (lirc_value value : signal) {
        if (duration_of(value) > dump_paragraph_us && on_line > 0) {
            end_line();
            lines.emplace_back();
        }
        line << std::setw(dump_field_width) << (std::to_string(duration_of(value)) + (is_pulse(value) ? "-P" : "-S"));
        if (++on_line == dump_values_per_line)
            end_line();
    }
    if (on_line > 0)
        end_line();
    return lines;
}

void signal_processor::log_dump(const ir_signal &signal) const
{
    if (!m_log.enabled(log_level::debug))
        return;
    for (const std::string &text : dump_lines(signal))
        m_log.debug(text);
}

void signal_processor::log_sizes(const ir_signal &first, const ir_signal &second) const
{
    m_log.debug("m_psdata.size =  ", first.size());
    m_log.debug("m_psdata2.size =  ", second.size());
}

} // namespace tulka
