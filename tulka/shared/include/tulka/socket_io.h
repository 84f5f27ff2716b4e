// Blocking client side of a local stream socket, shared by tulkactl and the
// tests: connect, send everything, read exactly, read one framed message.
#ifndef TULKA_SOCKET_IO_H
#define TULKA_SOCKET_IO_H

#include "tulka/protocol.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace tulka {

constexpr int wait_forever = -1;

enum class read_status { ok, closed, timed_out };

// A connected descriptor, or -1 with errno set.
int connect_local(const std::string &path);

// 0 when every byte went out, -1 otherwise. Never raises SIGPIPE.
int send_all(int fd, const uint8_t *data, size_t size);
inline int send_all(int fd, const message &bytes) { return send_all(fd, bytes.data(), bytes.size()); }

// Fills `buffer` whole within `limit_ms` (wait_forever for no limit);
// `*done` tells how much arrived when it does not.
read_status recv_exact(int fd, uint8_t *buffer, size_t size, int limit_ms, size_t *done = nullptr);

// One length-prefixed message; a length above max_message_length counts as
// a broken connection.
read_status recv_message(int fd, message &payload, int limit_ms);

} // namespace tulka

#endif
