// tulkad starts lircd and shell commands; none of them may inherit its
// sockets. Boost.Asio 1.74 opens and accepts sockets without SOCK_CLOEXEC.
#ifndef TULKA_DAEMON_CLOSE_ON_EXEC_H
#define TULKA_DAEMON_CLOSE_ON_EXEC_H

#include <fcntl.h>

namespace tulka {

// False when the flag could not be set (errno tells why).
inline bool set_close_on_exec(int fd) { return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0; }

} // namespace tulka

#endif
