// "/dev/drv_uart2": the board's own UART driver. Requests take their value
// as the argument itself: 1 selects the port (1 or 2), 3 the work mode
// (0-3), 4 the baud code (0-31: 0 is 75, 16 is 115200, 20 is 921600), and
// 32 starts the port. Its line's far end is the peer of vboard/uart_peer.h.
#include <poll.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "devices.h"
#include "dispatch.h"
#include "vboard/uart_peer.h"

namespace vboard {

namespace {

constexpr const char kPort[] = "drv_uart2";
constexpr unsigned kMiscMajor = 10;
constexpr unsigned kDrvUartMinor = 244;
constexpr unsigned long kSetMode = 3;
constexpr unsigned long kPollingMode = 0;

// A request, the setting it records and the values it takes.
struct UartRequest {
    unsigned long number;
    const char *name;
    const char *setting;
    unsigned long max_value;
    unsigned long min_value;
};

const UartRequest kRequests[] = {
    {1, "UART_SET_PORT", "port", 2, 1},
    {kSetMode, "UART_SET_MODE", "mode", 3, 0},
    {4, "UART_SET_BAUD", "baud", 31, 0},
    {32, "UART_START", "started", 0, 0},
};

class DrvUartFile : public EmulatedFile {
public:
    DrvUartFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    dev_t rdev() const override { return makedev(kMiscMajor, kDrvUartMinor); }
    bool is_channel() const override { return true; }

    // The received bytes wait in the peer's FIFO: reads block until some come.
    int open_channel(int flags) override { return uart_open_rx(dir_, kPort, flags); }

    // In polling mode the driver answers at once, with nothing when nothing came.
    ssize_t read_channel(int fd, void *buf, size_t n) override
    {
        pollfd input = {fd, POLLIN, 0};
        if (polling_ && ::poll(&input, 1, 0) == 0) {
            return 0;
        }
        ssize_t got = vb_real_read(fd, buf, n);
        if (got < 0) {
            return -errno;
        }
        journal_count(journal_, std::string("read ") + kPort, "bytes", got);
        return got;
    }

    // One journal line per write, so that tests see how the data was sent.
    ssize_t write_channel(int, const void *buf, size_t n) override
    {
        int rc = uart_append_tx(dir_, kPort, buf, n);
        journal_line(journal_,
                     std::string("write ") + kPort + " bytes " + std::to_string(n) + (rc ? result_text(rc) : ""));
        return rc ? rc : static_cast<ssize_t>(n);
    }

    int ioctl(unsigned long request, void *arg) override
    {
        auto value = reinterpret_cast<uintptr_t>(arg);
        for (const UartRequest &r : kRequests) {
            if (r.number != request) {
                continue;
            }
            bool takes_value = r.max_value > 0;
            int rc = takes_value && (value < r.min_value || value > r.max_value) ? -EINVAL : 0;
            if (rc == 0 && uart_set_setting(dir_, kPort, r.setting, takes_value ? static_cast<long>(value) : 1) != 0) {
                rc = -EIO;
            }
            if (rc == 0 && r.number == kSetMode) {
                polling_ = value == kPollingMode;
            }
            journal_ioctl(journal_, path(),
                          takes_value ? format("%s %lu", r.name, static_cast<unsigned long>(value)) : r.name, rc);
            return rc;
        }
        journal_ioctl(journal_, path(), format("0x%08lx", request), -ENOTTY);
        return -ENOTTY;
    }

private:
    std::string dir_;
    Journal *journal_;
    std::atomic<bool> polling_{false}; // set by one thread, read by a reader
};

bool is_drv_uart_path(const std::string &path) { return path == "/dev/drv_uart2"; }

int open_drv_uart(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
                  std::string *)
{
    *file = std::make_shared<DrvUartFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kDrvUartDevice = {is_drv_uart_path, open_drv_uart};

} // namespace vboard
