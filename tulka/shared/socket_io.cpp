#include "tulka/socket_io.h"

#include "common/le_bytes.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tulka {
namespace {

using clock = std::chrono::steady_clock;

// What is left of the limit for one poll.
int poll_timeout(int limit_ms, clock::time_point end)
{
    if (limit_ms == wait_forever)
        return wait_forever;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

int connect_local(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int send_all(int fd, const uint8_t *data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = send(fd, data + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    return 0;
}

read_status recv_exact(int fd, uint8_t *buffer, size_t size, int limit_ms, size_t *done)
{
    const auto end = clock::now() + std::chrono::milliseconds(limit_ms == wait_forever ? 0 : limit_ms);
    size_t got = 0;
    read_status status = read_status::ok;
    while (got < size) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, poll_timeout(limit_ms, end));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            status = read_status::timed_out;
            break;
        }
        const ssize_t n = ready < 0 ? -1 : recv(fd, buffer + got, size - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            status = read_status::closed;
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (done)
        *done = got;
    return status;
}

read_status recv_message(int fd, message &payload, int limit_ms)
{
    uint8_t length_bytes[length_size];
    const read_status status = recv_exact(fd, length_bytes, sizeof length_bytes, limit_ms);
    if (status != read_status::ok)
        return status;
    const uint32_t length = le::load32(length_bytes);
    if (length > max_message_length)
        return read_status::closed;
    payload.assign(length, 0);
    return recv_exact(fd, payload.data(), payload.size(), limit_ms);
}

} // namespace tulka
