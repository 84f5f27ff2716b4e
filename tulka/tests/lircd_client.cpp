#include "lircd_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tulka::test {

namespace {
constexpr std::chrono::milliseconds accept_limit{2000};
using clock_type = std::chrono::steady_clock;
} // namespace

lircd_client::lircd_client(const std::string &path)
{
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

lircd_client::~lircd_client()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool lircd_client::send(const std::string &text)
{
    return m_fd >= 0 && ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

bool lircd_client::accepted()
{
    if (!send("VERSION\n"))
        return false;
    const auto reply = next_packet(accept_limit);
    return reply && reply->command == "VERSION";
}

std::optional<lircd_key_line> lircd_client::next_key(std::chrono::milliseconds limit)
{
    return next<lircd_key_line>(limit);
}

std::optional<lircd_packet> lircd_client::next_packet(std::chrono::milliseconds limit)
{
    return next<lircd_packet>(limit);
}

template <typename T> std::optional<T> lircd_client::next(std::chrono::milliseconds limit)
{
    const auto until = clock_type::now() + limit;
    for (;;) {
        for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
            auto item = m_reader.feed(m_pending.substr(0, end + 1));
            m_pending.erase(0, end + 1);
            if (auto *wanted = std::get_if<T>(&item))
                return *wanted;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - clock_type::now());
        pollfd waiting{m_fd, POLLIN, 0};
        if (m_fd < 0 || left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            return std::nullopt;
        char buffer[512];
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            return std::nullopt;
        m_pending.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace tulka::test
