#include "port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace uarttest {

namespace {

const PortChoice kPorts[] = {
    {"/dev/ttyQV1", false, nullptr, " TTYQV1 init ok!fd=0x%0x\n"},
    {"/dev/ttyQV2", true, " TTYQV2 init ok! set termios", " TTYQV2 init ok!fd=0x%0x\n"},
};

void make_raw(termios *t, bool even_parity)
{
    cfsetispeed(t, B115200);
    cfsetospeed(t, B115200);
    t->c_cflag |= CLOCAL | CREAD;
    t->c_cflag &= ~(CSTOPB | CSIZE | PARODD | CRTSCTS);
    t->c_cflag |= CS8;
    if (even_parity) {
        t->c_cflag |= PARENB;
    } else {
        t->c_cflag &= ~PARENB;
    }
    t->c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    t->c_oflag &= ~OPOST;
    t->c_iflag &= ~(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    t->c_cc[VMIN] = 1;
    t->c_cc[VTIME] = 0;
}

} // namespace

const PortChoice &port_choice(int selector) { return selector == 1 ? kPorts[0] : kPorts[1]; }

int open_port(const PortChoice &port)
{
    int fd = ::open(port.device, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return fd;
    }
    ::fcntl(fd, F_SETFL, 0); // reads block
    termios t{};
    ::tcgetattr(fd, &t);
    make_raw(&t, port.even_parity);
    if (port.before_set) {
        std::puts(port.before_set);
    }
    ::tcsetattr(fd, TCSANOW, &t);
    std::printf(port.opened, static_cast<unsigned>(fd));
    return fd;
}

} // namespace uarttest
