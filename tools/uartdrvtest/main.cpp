// uartdrvtest: interactive test of the board's UART driver "/dev/drv_uart2".
// Menus pick the port, work mode and baud rate; then a reader thread prints
// what arrives and a writer thread sends the patterns and characters typed.
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/help_option.h"
#include "menus.h"
#include "tools/binary_signal.h"

namespace {

constexpr char kDevice[] = "/dev/drv_uart2";
constexpr unsigned long kStart = 32;
constexpr size_t kBufferSize = 1024;
constexpr size_t kReadSize = 50;
constexpr char kQuit[] = "quit";
constexpr char kUsage[] =
    "usage: uartdrvtest\n"
    "Interactive test of the UART driver /dev/drv_uart2: menus pick the port,\n"
    "pin group, work mode and baud rate, then what arrives is printed and what\n"
    "is typed is sent (\"quit\" ends).\n";
constexpr int kQuitWaitSeconds = 2;                 // for the writer's last write
constexpr useconds_t kEmptyReadPauseUs = 10 * 1000; // before asking the driver again

struct Transmit {
    int fd = -1;
    std::atomic<bool> closing{false}; // the device is being closed at the end
    tools::BinarySignal input;
    char buffer[kBufferSize] = {}; // under input's lock
    size_t count = 0;
};

void *writer(void *arg)
{
    auto *tx = static_cast<Transmit *>(arg);
    static char block[kBufferSize];
    while (tx->fd != 0) {
        size_t n = 0;
        // Taken and cleared under the lock: what is typed meanwhile waits
        // for the next write instead of being cleared unsent.
        tools::wait_signal(&tx->input, [&] {
            n = tx->count;
            std::memcpy(block, tx->buffer, n);
            std::memset(tx->buffer, 0, sizeof tx->buffer);
            tx->count = 0;
        });
        ssize_t done = ::write(tx->fd, block, n);
        if (done > 0) {
            std::printf("Write data to uart ok!count=%d,\n", static_cast<int>(done));
        }
        tools::signal_done(&tx->input);
    }
    return nullptr;
}

void *reader(void *arg)
{
    auto *tx = static_cast<Transmit *>(arg);
    static char received[kBufferSize];
    long total = 0;
    while (tx->fd != 0) {
        std::memset(received, 0, sizeof received);
        ssize_t n = ::read(tx->fd, received, kReadSize);
        if (n > 0) {
            total += n;
            std::printf("(%ld):%s\n", total, received);
        } else if (n == 0) {
            // A driver in polling mode answers at once when nothing came;
            // asking again at once would keep a processor busy.
            ::usleep(kEmptyReadPauseUs);
        } else if (n < 0 && errno != EINTR) {
            // A driver that fails reads would otherwise be asked again at once, for ever.
            if (!tx->closing) {
                std::printf("read from uart failed: %s\n", std::strerror(errno));
            }
            return nullptr;
        }
    }
    return nullptr;
}

bool start_thread(void *(*body)(void *), Transmit *tx)
{
    pthread_t thread;
    if (pthread_create(&thread, nullptr, body, tx) != 0) {
        std::puts("Create thread error!");
        return false;
    }
    return true;
}

size_t send_length(int c)
{
    switch (c) {
    case '1':
        return 10;
    case '2':
        return 100;
    case '3':
        return 1000;
    default:
        return 1;
    }
}

// The digits 0 to 9, then the tens digit of each position.
void fill_pattern(Transmit *tx, size_t n)
{
    std::memset(tx->buffer, 0, sizeof tx->buffer);
    for (size_t i = 0; i < n; ++i) {
        tx->buffer[i] = static_cast<char>('0' + (i < 10 ? i : i / 10 % 10));
    }
    tx->count = n;
}

void append_char(Transmit *tx, char c)
{
    tx->buffer[tx->count++] = c;
    if (tx->count > kBufferSize - 1) {
        std::memset(tx->buffer, 0, sizeof tx->buffer);
        tx->count = 0;
    }
}

// Until Q, "quit" typed letter by letter, or the end of input (which used
// to be taken as a character for ever).
void command_loop(Transmit *tx)
{
    std::string last;
    for (int c; (c = uartdrvtest::read_answer()) != EOF;) {
        size_t n = send_length(c);
        std::printf("input char 0x%0x,send_length=%d\n", static_cast<unsigned>(c), static_cast<int>(n));
        if (c == 'Q') {
            return;
        }
        last = (last + static_cast<char>(c)).substr(last.size() == 4 ? 1 : 0);
        if (n == 1 && last == kQuit) {
            return;
        }
        tools::raise_signal(&tx->input, [&] {
            if (n == 1) {
                append_char(tx, static_cast<char>(c));
            } else {
                fill_pattern(tx, n);
            }
        });
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "uartdrvtest", kUsage)) {
        return 0;
    }
    // Lines show as they happen also when the console is a pipe or a log.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Never destroyed: the threads still wait on it when the program ends.
    static Transmit *const shared = new Transmit;
    Transmit &tx = *shared;
    tx.fd = ::open(kDevice, O_RDWR);
    if (tx.fd < 0) {
        return -1;
    }
    std::puts(" open uart device OK!");
    for (const uartdrvtest::Menu *menu :
         {&uartdrvtest::kPortMenu, &uartdrvtest::kPinGroupMenu, &uartdrvtest::kModeMenu, &uartdrvtest::kBaudMenu}) {
        if (!uartdrvtest::run_menu(*menu, tx.fd)) {
            ::close(tx.fd);
            return 0;
        }
    }
    ::ioctl(tx.fd, kStart, 0UL);
    bool writing = start_thread(writer, &tx);
    start_thread(reader, &tx);
    command_loop(&tx);
    // What was typed last is sent before the device closes, unless the
    // writer is stuck in the driver.
    if (writing && !tools::wait_signal_idle(&tx.input, std::chrono::seconds(kQuitWaitSeconds))) {
        std::printf("quit: the last write did not finish in %d s, closing the device\n", kQuitWaitSeconds);
    }
    tx.closing = true;
    ::close(tx.fd);
    return 0;
}
