#include "socket_client.h"

#include "tulka/socket_io.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

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
    const auto end = clock::now() + limit;
    for (;;) {
        const int fd = tulka::connect_local(path);
        if (fd >= 0 || errno == ENAMETOOLONG || clock::now() >= end)
            return fd;
        std::this_thread::sleep_for(connect_retry_step);
    }
}

int write_all(int fd, const message &bytes) { return tulka::send_all(fd, bytes); }

message read_up_to(int fd, size_t count, std::chrono::milliseconds limit)
{
    message bytes(count);
    size_t done = 0;
    tulka::recv_exact(fd, bytes.data(), count, static_cast<int>(limit.count()), &done);
    bytes.resize(done);
    return bytes;
}

std::optional<tulka::server_event> next_event(int fd, std::chrono::milliseconds limit)
{
    message payload;
    tulka::server_event event;
    if (tulka::recv_message(fd, payload, static_cast<int>(limit.count())) != tulka::read_status::ok ||
        tulka::unpack_server_event(payload, event) != 0)
        return std::nullopt;
    return event;
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
