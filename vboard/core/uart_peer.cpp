#include "vboard/uart_peer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "vboard/state.h"

namespace vboard {

namespace {

int write_all(int fd, const char *p, size_t n)
{
    while (n > 0) {
        ssize_t done = ::write(fd, p, n);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return -errno;
        }
        p += done;
        n -= static_cast<size_t>(done);
    }
    return 0;
}

const char *speed_text(speed_t speed)
{
    static const struct {
        speed_t code;
        const char *text;
    } kSpeeds[] = {{B0, "0"},           {B1200, "1200"},     {B2400, "2400"},     {B4800, "4800"},
                   {B9600, "9600"},     {B19200, "19200"},   {B38400, "38400"},   {B57600, "57600"},
                   {B115200, "115200"}, {B230400, "230400"}, {B460800, "460800"}, {B921600, "921600"}};
    for (const auto &s : kSpeeds) {
        if (s.code == speed) {
            return s.text;
        }
    }
    return "other";
}

} // namespace

std::string line_settings_text(const termios &t)
{
    static const char kBits[] = {'5', '6', '7', '8'};
    bool raw = !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
               !(t.c_iflag & (BRKINT | ICRNL | INPCK | ISTRIP | IXON));
    std::string text = speed_text(cfgetospeed(&t));
    text += " ";
    text += kBits[(t.c_cflag & CSIZE) == CS5 ? 0 : (t.c_cflag & CSIZE) == CS6 ? 1 : (t.c_cflag & CSIZE) == CS7 ? 2 : 3];
    text += !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    text += (t.c_cflag & CSTOPB) ? '2' : '1';
    text += raw ? " raw" : " cooked";
    text += (t.c_cflag & CRTSCTS) ? " crtscts" : "";
    text += (t.c_cflag & CLOCAL) ? " clocal" : "";
    text += (t.c_cflag & CREAD) ? " cread" : "";
    return text + " min " + std::to_string(t.c_cc[VMIN]) + " time " + std::to_string(t.c_cc[VTIME]);
}

std::string uart_peer_path(const std::string &dir, const std::string &port, const char *suffix)
{
    return state_path(dir, kUartPeerDir) + "/" + port + suffix;
}

int uart_open_rx(const std::string &dir, const std::string &port, int flags)
{
    ::mkdir(state_path(dir, kUartPeerDir).c_str(), 0755);
    std::string rx = uart_peer_path(dir, port, ".rx");
    if (::mkfifo(rx.c_str(), 0600) != 0 && errno != EEXIST) {
        return -errno;
    }
    int fd = ::open(rx.c_str(), O_RDWR | O_CLOEXEC | (flags & O_NONBLOCK));
    return fd >= 0 ? fd : -errno;
}

int uart_append_tx(const std::string &dir, const std::string &port, const void *data, size_t n)
{
    ::mkdir(state_path(dir, kUartPeerDir).c_str(), 0755);
    int fd = ::open(uart_peer_path(dir, port, ".tx").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -errno;
    }
    int rc = write_all(fd, static_cast<const char *>(data), n);
    ::close(fd);
    return rc;
}

int uart_feed(const std::string &dir, const std::string &port, const std::string &bytes)
{
    // Non-blocking open: fails at once when nobody has the port open.
    int fd = ::open(uart_peer_path(dir, port, ".rx").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    int rc = write_all(fd, bytes.data(), bytes.size());
    ::close(fd);
    return rc == 0 ? 0 : -1;
}

int uart_set_setting(const std::string &dir, const std::string &port, const std::string &key, long value)
{
    std::string text, out;
    read_text_file(uart_peer_path(dir, port, ".settings"), &text);
    std::istringstream in(text);
    std::string line;
    bool replaced = false;
    while (std::getline(in, line)) {
        bool ours = line.compare(0, key.size() + 1, key + " ") == 0;
        out += (ours ? key + " " + std::to_string(value) : line) + "\n";
        replaced = replaced || ours;
    }
    if (!replaced) {
        out += key + " " + std::to_string(value) + "\n";
    }
    ::mkdir(state_path(dir, kUartPeerDir).c_str(), 0755);
    return write_text_file(uart_peer_path(dir, port, ".settings"), out);
}

std::string uart_settings(const std::string &dir, const std::string &port)
{
    std::string text;
    read_text_file(uart_peer_path(dir, port, ".settings"), &text);
    return text;
}

std::string uart_sent(const std::string &dir, const std::string &port)
{
    std::string text;
    read_text_file(uart_peer_path(dir, port, ".tx"), &text);
    return text;
}

} // namespace vboard
