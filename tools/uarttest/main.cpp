// uarttest: echo test of the board's serial port. Every 128 bytes received
// are sent back whole; GPIO pin 62 toggles as data comes in.
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/help_option.h"
#include "gpio_ops.h"
#include "port.h"
#include "tools/binary_signal.h"

#ifndef UARTTEST_PORT
#define UARTTEST_PORT 1
#endif

namespace {

constexpr size_t kBlock = 128;
constexpr size_t kReadSize = 16;
constexpr unsigned kReadyPin = 13;    // configured once the port is set up
constexpr unsigned kActivityPin = 62; // toggled while data comes in
constexpr unsigned kDriveMode = 1;    // pin config: drive the given level
constexpr char kUsage[] =
    "usage: uarttest\n"
    "Echo test of the serial port at 115200 baud: every 128 bytes received are\n"
    "sent back, GPIO pin 62 toggles as data comes in. Runs until killed.\n";

// What the two worker threads share.
struct Port {
    int fd = -1;
    tools::BinarySignal block_ready;
    uint8_t tx[kBlock] = {}; // under block_ready's lock
};

void *tty_send(void *arg)
{
    auto *port = static_cast<Port *>(arg);
    std::puts("tty_Send threat running (no delay)...");
    uint8_t block[kBlock] = {};
    if (port->fd == 0) {
        std::printf("tty_Send threat exit.rData.fd=0x%0x is invalid\n", static_cast<unsigned>(port->fd));
        std::puts("tty_Send threat exit");
        return nullptr;
    }
    for (;;) {
        tools::wait_signal(&port->block_ready, [&] { std::memcpy(block, port->tx, kBlock); });
        if (::write(port->fd, block, kBlock) < 0) {
            std::printf("send failed: %s\n", std::strerror(errno));
        }
        tools::signal_done(&port->block_ready);
        std::puts("send start");
    }
}

// Waits until the port has input; false when it cannot be waited on.
bool await_input(int fd)
{
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        // No time-out: the thread sleeps until data comes (it used to poll
        // with a zero time-out and burn a processor while the line was idle).
        int rc = ::select(fd + 1, &readable, nullptr, nullptr, nullptr);
        if (rc > 0) {
            return true;
        }
        if (rc < 0 && errno != EINTR) {
            return false;
        }
    }
}

void toggle_activity(int gpio_fd, size_t position, bool *high)
{
    std::printf(*high ? "[%d] high\n" : "[%d] low\n", static_cast<int>(position));
    uint32_t word = gpio::word(kActivityPin, kDriveMode, *high ? 1 : 0);
    if (gpio_fd >= 0) {
        ::ioctl(gpio_fd, gpio::kPinConfig, &word);
    }
    *high = !*high;
}

// Collects what the port receives into blocks for the sender until the
// port fails. A hung-up or failed port stays readable with nothing to read,
// so the first empty or failed read ends it (asking again at once used to
// print a line and burn a processor for ever).
void receive_blocks(Port *port, int gpio_fd)
{
    uint8_t block[kBlock] = {};
    size_t position = 0;
    bool high = false;
    for (;;) {
        if (!await_input(port->fd)) {
            std::printf("select failed: %s\n", std::strerror(errno));
            return;
        }
        uint8_t got[kReadSize];
        ssize_t n = ::read(port->fd, got, sizeof got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::puts("Get NULL data from uart2");
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            block[position++] = got[i];
            if (position == kBlock) {
                tools::raise_signal(&port->block_ready, [&] { std::memcpy(port->tx, block, kBlock); });
                std::memset(block, 0, sizeof block);
                position = 0;
            }
        }
        if (position % kReadSize == 0) {
            toggle_activity(gpio_fd, position, &high);
        }
    }
}

void *tty_receive(void *arg)
{
    auto *port = static_cast<Port *>(arg);
    std::puts("tty_Receive threat running...");
    int gpio_fd = ::open(gpio::kDevice, gpio::kOpenFlags);
    if (port->fd == 0) {
        std::printf("tty_Receive threat exit.rData.fd=0x%0x is invalid\n", static_cast<unsigned>(port->fd));
    } else {
        receive_blocks(port, gpio_fd);
    }
    if (gpio_fd >= 0) {
        ::close(gpio_fd);
    }
    std::puts("tty_Receive threat exit");
    return nullptr;
}

void print_menu()
{
    std::puts(" ********Select output data length: *******");
    std::printf("              1: output 10 bytes\n ");
    std::printf("              2: output 100 bytes\n ");
    std::printf("              3: output 1000 bytes\n ");
    std::printf("              S: self test!\n ");
    std::printf("              R: receive self test!\n ");
    std::printf("              Q: exit program\n ");
    std::printf("              other: output 1 byte \n ");
    std::puts(" **************************************");
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "uarttest", kUsage)) {
        return 0;
    }
    // Lines show as they happen also when the console is a pipe or a log.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Never destroyed: a thread may still wait on it when the program ends.
    static Port *const shared = new Port;
    Port &port = *shared;
    const uarttest::PortChoice &choice = uarttest::port_choice(UARTTEST_PORT);
    port.fd = uarttest::open_port(choice);
    if (port.fd < 0) {
        // Used to carry on with a dead descriptor, no data and a spinning thread.
        std::fprintf(stderr, "uarttest: can't open '%s', %s\n", choice.device, std::strerror(errno));
        return 1;
    }
    gpio::pin_config(kReadyPin, 0, 0);

    pthread_t sender, receiver;
    bool started = pthread_create(&sender, nullptr, tty_send, &port) == 0;
    if (started) {
        std::puts("Create thread tty_Send sucessfully!");
        started = pthread_create(&receiver, nullptr, tty_receive, &port) == 0;
        if (started) {
            std::puts("Create thread tty_Receive sucessfully!");
        }
    }
    if (!started) {
        std::puts("Create thread error!");
        ::close(port.fd);
        return -1;
    }
    print_menu();
    for (;;) {
        ::sleep(10);
    }
}
