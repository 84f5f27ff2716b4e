// The receiver side of a learn that needs no event loop.
#ifndef TULKA_LIRC_MODULES_LIRC_DEVICE_H
#define TULKA_LIRC_MODULES_LIRC_DEVICE_H

#include <cstddef>

namespace tulka {

// Reads and drops whatever the driver holds already, so that stale data
// never enters a capture; leaves the descriptor blocking as it was. Returns
// the number of bytes dropped.
std::size_t drain_pending(int fd);

} // namespace tulka

#endif
