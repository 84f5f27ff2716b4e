#include "socket_client.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace tulka_test {
namespace {

using clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds connect_retry_step{5};

int remaining_ms(clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

int connect_socket(const std::string &path, std::chrono::milliseconds limit)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const auto end = clock::now() + limit;
    for (;;) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return -1;
        if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
            return fd;
        close(fd);
        if (clock::now() >= end)
            return -1;
        std::this_thread::sleep_for(connect_retry_step);
    }
}

int write_all(int fd, const message &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    return 0;
}

message read_up_to(int fd, size_t count, std::chrono::milliseconds limit)
{
    message bytes(count);
    size_t done = 0;
    const auto end = clock::now() + limit;
    while (done < count) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, remaining_ms(end));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t n = recv(fd, bytes.data() + done, count - done, 0);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

bool closed_by_peer(int fd, std::chrono::milliseconds limit)
{
    const auto end = clock::now() + limit;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, remaining_ms(end));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        uint8_t scratch[256];
        if (recv(fd, scratch, sizeof scratch, 0) <= 0)
            return true;
    }
}

} // namespace tulka_test
