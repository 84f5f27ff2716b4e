// "/dev/ttyQV1" and "/dev/ttyQV2": the board's serial ports as real
// pseudo-terminals. The program's descriptor is the terminal itself, so
// termios, blocking reads and select are the kernel's; a relay thread in
// the program's process joins the other end to the port's peer files
// (vboard/uart_peer.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "devices.h"
#include "dispatch.h"
#include "vboard/state.h"
#include "vboard/uart_peer.h"

namespace vboard {

namespace {

constexpr unsigned kTtyMajor = 204;
constexpr unsigned kTtyMinorBase = 64;
constexpr size_t kRelayChunk = 4096;
constexpr int kDrainWaitMs = 5000; // a close waits at most this long for the peer

struct Relay {
    int master = -1;
    int rx = -1;
    int wake[2] = {-1, -1};
    std::string dir, port;
};

bool copy_to(int from, int to)
{
    char buf[kRelayChunk];
    ssize_t n = ::read(from, buf, sizeof buf);
    return n > 0 && ::write(to, buf, static_cast<size_t>(n)) == n;
}

bool copy_to_peer(const Relay &r)
{
    char buf[kRelayChunk];
    ssize_t n = ::read(r.master, buf, sizeof buf);
    return n > 0 && uart_append_tx(r.dir, r.port, buf, static_cast<size_t>(n)) == 0;
}

// Everything the program wrote before the close, as a real tty drains its
// output: a non-blocking read of the master first flushes what the kernel
// still buffers, so EAGAIN (or EIO once the terminal is closed) means all of
// it reached the peer.
void drain_to_peer(const Relay &r)
{
    ::fcntl(r.master, F_SETFL, ::fcntl(r.master, F_GETFL) | O_NONBLOCK);
    while (copy_to_peer(r)) {
    }
}

// Until the program closes the terminal (or the device is released): what
// the peer feeds goes to the terminal's input, what the program writes to
// the peer's file. At the end the output is drained and the closer told.
void relay(Relay r)
{
    for (;;) {
        pollfd fds[3] = {{r.master, POLLIN, 0}, {r.rx, POLLIN, 0}, {r.wake[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if ((fds[1].revents & POLLIN) && !copy_to(r.rx, r.master)) {
            break;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) || fds[2].revents) {
            drain_to_peer(r);
            ::send(r.wake[0], "x", 1, MSG_NOSIGNAL);
            break;
        }
        if ((fds[0].revents & POLLIN) && !copy_to_peer(r)) {
            break;
        }
    }
    for (int fd : {r.master, r.rx, r.wake[0]}) {
        ::close(fd);
    }
}

std::string port_name(const std::string &path) { return path.substr(5); } // after "/dev/"

class TtyFile : public EmulatedFile {
public:
    TtyFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    // Stops the relay (which may have ended already: no SIGPIPE then) and
    // waits, as a tty's close does, until what was written reached the peer.
    ~TtyFile() override
    {
        if (wake_ >= 0) {
            ::send(wake_, "x", 1, MSG_NOSIGNAL);
            pollfd drained = {wake_, POLLIN, 0};
            ::poll(&drained, 1, kDrainWaitMs);
            ::close(wake_);
        }
    }

    dev_t rdev() const override { return makedev(kTtyMajor, kTtyMinorBase + (path().back() - '0')); }
    bool is_channel() const override { return true; }

    int open_channel(int flags) override
    {
        Relay r;
        r.dir = dir_;
        r.port = port_name(path());
        r.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char pts[64];
        if (r.master < 0 || ::grantpt(r.master) != 0 || ::unlockpt(r.master) != 0 ||
            ::ptsname_r(r.master, pts, sizeof pts) != 0) {
            int error = errno;
            ::close(r.master);
            return -error;
        }
        int fd = ::open(pts, flags & (O_ACCMODE | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        int error = errno;
        r.rx = fd >= 0 ? uart_open_rx(dir_, r.port, 0) : -1;
        if (fd < 0 || r.rx < 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, r.wake) != 0) {
            error = fd < 0 ? error : r.rx < 0 ? -r.rx : errno;
            for (int f : {fd, r.master, r.rx}) {
                ::close(f);
            }
            return -error;
        }
        write_text_file(uart_peer_path(dir_, r.port, ".pts"), std::string(pts) + "\n");
        wake_ = r.wake[1];
        std::thread(relay, r).detach();
        return fd;
    }

    ssize_t read_channel(int fd, void *buf, size_t n) override
    {
        ssize_t got = vb_real_read(fd, buf, n);
        if (got < 0) {
            return -errno;
        }
        journal_count(journal_, "read " + port_name(path()), "bytes", got);
        return got;
    }

    // One journal line per write, so that tests see how the data was sent.
    ssize_t write_channel(int fd, const void *buf, size_t n) override
    {
        iovec v = {const_cast<void *>(buf), n};
        ssize_t done = ::writev(fd, &v, 1);
        if (done < 0) {
            return -errno;
        }
        journal_line(journal_, "write " + port_name(path()) + " bytes " + std::to_string(done));
        return done;
    }

    int ioctl_channel(int fd, unsigned long request, void *arg) override
    {
        int rc = vb_real_ioctl(fd, request, arg);
        return rc < 0 ? -errno : rc;
    }

    void line_settings(const void *settings) override
    {
        std::string text = line_settings_text(*static_cast<const termios *>(settings));
        write_text_file(uart_peer_path(dir_, port_name(path()), ".line"), text + "\n");
        journal_line(journal_, "tcsetattr " + path() + " " + text);
    }

private:
    std::string dir_;
    Journal *journal_;
    int wake_ = -1;
};

bool is_tty_path(const std::string &path) { return path == "/dev/ttyQV1" || path == "/dev/ttyQV2"; }

int open_tty(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
             std::string *)
{
    *file = std::make_shared<TtyFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kTtyDevice = {is_tty_path, open_tty};

} // namespace vboard
