#include "lirc_device.h"

#include <fcntl.h>
#include <unistd.h>

namespace tulka {

namespace {
constexpr std::size_t drain_chunk = 2048;
} // namespace

std::size_t drain_pending(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return 0;
    std::size_t dropped = 0;
    char buffer[drain_chunk];
    // End of file ends the drain as well as "no data": a closed feeder must
    // not keep the loop reading forever.
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        dropped += static_cast<std::size_t>(got);
    ::fcntl(fd, F_SETFL, flags);
    return dropped;
}

} // namespace tulka
