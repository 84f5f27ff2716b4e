// Blocking client side of tulkad's socket for the board tests and the
// benchmark: every wait is bounded.
#ifndef TULKA_TESTS_SOCKET_CLIENT_H
#define TULKA_TESTS_SOCKET_CLIENT_H

#include "tulka/protocol.h"

#include <chrono>
#include <optional>
#include <string>

namespace tulka_test {

using tulka::message;

// Connects to `path`, retrying while the socket is missing or refuses,
// up to `limit`. The descriptor, or -1.
int connect_socket(const std::string &path, std::chrono::milliseconds limit);

// 0 when every byte went out, -1 otherwise.
int write_all(int fd, const message &bytes);

// Up to `count` bytes: fewer when the peer closes or `limit` runs out.
message read_up_to(int fd, size_t count, std::chrono::milliseconds limit);

// The next whole message from tulkad, decoded; nothing when none arrives
// within `limit` or it is malformed.
std::optional<tulka::server_event> next_event(int fd, std::chrono::milliseconds limit);

// True when the peer closes (end of file or reset) within `limit`.
bool closed_by_peer(int fd, std::chrono::milliseconds limit);

} // namespace tulka_test

#endif
