#include "learn_capture.h"

#include <chrono>
#include <cstring>
#include <utility>

namespace tulka {

namespace {
// The client hears of arriving data at most about three times a second.
constexpr std::uint64_t activity_interval_ms = 299;
} // namespace

learn_capture::learn_capture(log_sink log, clock_fn wall_ms)
    : m_log(log), m_clock(std::move(wall_ms)), m_processor(std::move(log))
{
}

std::int64_t learn_capture::system_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void learn_capture::reset()
{
    m_psdata.clear();
    m_psdata2.clear();
    m_partial_bytes = 0;
    m_min_captured = false;
    m_last_activity = 0;
}

std::size_t learn_capture::append_words(const unsigned char *data, std::size_t bytes)
{
    const std::size_t before = m_psdata.size();
    // A word split across two reads is joined, never entered in part.
    while (m_partial_bytes > 0 && bytes > 0) {
        m_partial[m_partial_bytes++] = *data++;
        --bytes;
        if (m_partial_bytes == sizeof(lirc_value)) {
            lirc_value value;
            std::memcpy(&value, m_partial, sizeof value);
            m_psdata.push_back(value);
            m_partial_bytes = 0;
        }
    }
    const std::size_t whole = bytes / sizeof(lirc_value);
    m_psdata.resize(m_psdata.size() + whole);
    if (whole > 0)
        std::memcpy(m_psdata.data() + m_psdata.size() - whole, data, whole * sizeof(lirc_value));
    const std::size_t rest = bytes % sizeof(lirc_value);
    if (rest > 0)
        std::memcpy(m_partial + m_partial_bytes, data + whole * sizeof(lirc_value), rest);
    m_partial_bytes += rest;
    return m_psdata.size() - before;
}

void learn_capture::signal_activity(const std::function<void()> &activity)
{
    if (!activity)
        return;
    // Taken as unsigned so that a clock set back counts as time gone by.
    const auto since = static_cast<std::uint64_t>(m_clock()) - static_cast<std::uint64_t>(m_last_activity);
    if (since <= activity_interval_ms)
        return;
    activity();
    m_last_activity = m_clock();
}

bool learn_capture::on_read(const void *data, std::size_t bytes, const std::function<void()> &activity)
{
    const std::size_t whole_values = (m_partial_bytes + bytes) / sizeof(lirc_value);
    m_log.debug("lirc: read ", whole_values, " data from /dev/lirc0");
    if (m_psdata.empty())
        m_log.info("signal detected...");
    signal_activity(activity);
    append_words(static_cast<const unsigned char *>(data), bytes);
    if (m_min_captured || !m_processor.has_min_data(m_psdata))
        return false;
    m_min_captured = true;
    m_log.info("minimum amount of data captured...");
    return true;
}

bool learn_capture::finish()
{
    m_raw = m_psdata;
    m_min_captured = false;
    m_processor.process_signal(m_psdata, m_psdata2, m_gap);
    return learned_enough(m_psdata);
}

} // namespace tulka
