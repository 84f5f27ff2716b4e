#include "log_sink.h"

namespace tulka {

log_sink stdio_log(const std::int32_t &flags, std::function<std::string()> stamp, std::FILE *out, std::FILE *err)
{
    auto enabled = [&flags](log_level level) {
        switch (level) {
        case log_level::info:
            return (flags & log_info_bit) != 0;
        case log_level::debug:
            return (flags & log_debug_bit) != 0;
        default:
            return true;
        }
    };
    auto write = [stamp = std::move(stamp), out, err](log_level level, const std::string &text) {
        std::FILE *stream = level == log_level::error ? err : out;
        const std::string line = (stamp ? stamp() : std::string()) + text + "\n";
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fflush(stream);
    };
    return log_sink(enabled, write);
}

} // namespace tulka
