// Where the LIRC modules of tulkad write their log lines. The daemon gives
// them a sink that applies its log flags and timestamp; tests record lines.
#ifndef TULKA_LIRC_MODULES_LOG_SINK_H
#define TULKA_LIRC_MODULES_LOG_SINK_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <utility>

namespace tulka {

enum class log_level { error, info, debug };

class log_sink {
public:
    using enabled_fn = std::function<bool(log_level)>;
    using write_fn = std::function<void(log_level, const std::string &)>;

    log_sink() = default; // writes nothing
    log_sink(enabled_fn enabled, write_fn write) : m_enabled(std::move(enabled)), m_write(std::move(write)) {}

    bool enabled(log_level level) const { return m_write && (!m_enabled || m_enabled(level)); }

    // The line is only built when its level is enabled: debug dumps are large.
    template <typename... Parts> void line(log_level level, const Parts &...parts) const
    {
        if (!enabled(level))
            return;
        std::ostringstream text;
        (text << ... << parts);
        m_write(level, text.str());
    }
    template <typename... Parts> void error(const Parts &...parts) const { line(log_level::error, parts...); }
    template <typename... Parts> void info(const Parts &...parts) const { line(log_level::info, parts...); }
    template <typename... Parts> void debug(const Parts &...parts) const { line(log_level::debug, parts...); }

private:
    enabled_fn m_enabled;
    write_fn m_write;
};

// The daemon's sink: info lines when bit value 2 of `flags` is set, debug
// lines with bit value 4, error lines always; each line opened by `stamp()`,
// errors on `err`, the others on `out`.
constexpr std::int32_t log_info_bit = 2;
constexpr std::int32_t log_debug_bit = 4;
log_sink stdio_log(const std::int32_t &flags, std::function<std::string()> stamp, std::FILE *out = stdout,
                   std::FILE *err = stderr);

} // namespace tulka

#endif
