// Log lines of tulkad: info and debug lines on stdout, gated by log_flags;
// error lines on stderr, always. Each line opens with log_stamp().
#ifndef TULKA_DAEMON_LOG_H
#define TULKA_DAEMON_LOG_H

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

namespace tulka {

constexpr int32_t LOG_INFO = 2;
constexpr int32_t LOG_DEBUG = 4;

extern int32_t log_flags;

// Monotonic milliseconds, right-aligned in 10 columns, and a space.
std::string log_stamp();

void write_line(std::FILE *stream, const std::string &text);

template <typename... Parts> std::string concat(const Parts &...parts)
{
    std::ostringstream text;
    (text << ... << parts);
    return text.str();
}

template <typename... Parts> void log_info(const Parts &...parts)
{
    if (log_flags & LOG_INFO)
        write_line(stdout, log_stamp() + concat(parts...));
}

template <typename... Parts> void log_debug(const Parts &...parts)
{
    if (log_flags & LOG_DEBUG)
        write_line(stdout, log_stamp() + concat(parts...));
}

template <typename... Parts> void log_error(const Parts &...parts)
{
    write_line(stderr, log_stamp() + concat(parts...));
}

// Runs a command line through the shell and waits for it; returns the
// shell's status.
int exec_sync(const std::string &command);

} // namespace tulka

#endif
