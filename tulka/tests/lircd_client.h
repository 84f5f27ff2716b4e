// A plain client of lircd's socket for the tests and benchmarks: commands
// out, key lines and reply or broadcast packets in, every wait bounded.
#ifndef TULKA_TESTS_LIRCD_CLIENT_H
#define TULKA_TESTS_LIRCD_CLIENT_H

#include "lircd_lines.h"

#include <chrono>
#include <optional>
#include <string>

namespace tulka::test {

class lircd_client {
public:
    explicit lircd_client(const std::string &path);
    ~lircd_client();
    lircd_client(const lircd_client &) = delete;
    lircd_client &operator=(const lircd_client &) = delete;

    bool connected() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool send(const std::string &text);

    // Returns once lircd has taken this client in, so broadcasts reach it.
    bool accepted();

    // The next key line, or the next packet, within the time limit; what
    // comes before it is passed over.
    std::optional<lircd_key_line> next_key(std::chrono::milliseconds limit);
    std::optional<lircd_packet> next_packet(std::chrono::milliseconds limit);

private:
    template <typename T> std::optional<T> next(std::chrono::milliseconds limit);

    int m_fd = -1;
    std::string m_pending;
    lircd_line_reader m_reader;
};

} // namespace tulka::test

#endif
