// "/dev/lirc0": an infrared receiver in mode 2, fed from outside (see
// vboard/lirc.h). The descriptor is the read end of a FIFO of its own, so
// blocking and non-blocking reads, poll and epoll behave as the kernel's.
#include <fcntl.h>
#include <linux/lirc.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "devices.h"
#include "dispatch.h"
#include "vboard/lirc.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr unsigned kLircMajor = 251;
constexpr uint32_t kResolutionUs = 50;
constexpr int kBufferBytes = static_cast<int>(kIrBufferWords * sizeof(uint32_t));

std::atomic<unsigned> channel_serial{0};

class LircFile : public EmulatedFile {
public:
    LircFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    dev_t rdev() const override { return makedev(kLircMajor, 0); }
    bool is_channel() const override { return true; }

    // A FIFO opened for reading and writing never reports end of file, so an
    // empty receiver blocks (or gives EAGAIN) as a real one does. It is named
    // only once open, so that a feeder never takes it for a stale one.
    int open_channel(int flags) override
    {
        std::string dir = state_path(dir_, kIrChannelDir);
        ::mkdir(dir.c_str(), 0755);
        std::string name = dir + "/" + std::to_string(::getpid()) + "." + std::to_string(++channel_serial);
        std::string fresh = name + ".new";
        if (::mkfifo(fresh.c_str(), 0600) != 0) {
            return -errno;
        }
        int fd = ::open(fresh.c_str(), O_RDWR | (flags & (O_NONBLOCK | O_CLOEXEC)));
        int error = errno;
        if (fd >= 0) {
            ::fcntl(fd, F_SETPIPE_SZ, kBufferBytes);
            ::rename(fresh.c_str(), name.c_str());
        } else {
            ::unlink(fresh.c_str());
        }
        return fd >= 0 ? fd : -error;
    }

    // Only whole words, as the kernel's mode-2 read.
    ssize_t read_channel(int fd, void *buf, size_t n) override
    {
        if (n < sizeof(uint32_t) || n % sizeof(uint32_t) != 0) {
            return -EINVAL;
        }
        ssize_t got = vb_real_read(fd, buf, n);
        if (got < 0) {
            return -errno;
        }
        journal_count(journal_, "read lirc0", "words", got / static_cast<ssize_t>(sizeof(uint32_t)));
        return got;
    }

    int ioctl(unsigned long request, void *arg) override
    {
        auto *value = static_cast<uint32_t *>(arg);
        int rc = 0;
        std::string what;
        switch (request) {
        case LIRC_GET_FEATURES:
            what = "LIRC_GET_FEATURES";
            rc = put(value, LIRC_CAN_REC_MODE2 | LIRC_CAN_GET_REC_RESOLUTION);
            break;
        case LIRC_GET_REC_MODE:
            what = "LIRC_GET_REC_MODE";
            rc = put(value, LIRC_MODE_MODE2);
            break;
        case LIRC_SET_REC_MODE:
            rc = !value ? -EFAULT : *value == LIRC_MODE_MODE2 ? 0 : -EINVAL;
            what = value ? format("LIRC_SET_REC_MODE %u", *value) : "LIRC_SET_REC_MODE";
            break;
        case LIRC_GET_REC_RESOLUTION:
            what = "LIRC_GET_REC_RESOLUTION";
            rc = put(value, kResolutionUs);
            break;
        case LIRC_GET_REC_TIMEOUT:
            what = "LIRC_GET_REC_TIMEOUT";
            rc = put(value, kIrReceiverTimeoutUs);
            break;
        default:
            what = format("0x%08lx", request);
            rc = -ENOTTY; // a receiver only: no sending, no timeout settings
            break;
        }
        journal_ioctl(journal_, path(), what, rc);
        return rc;
    }

private:
    static int put(uint32_t *value, uint32_t v)
    {
        if (!value) {
            return -EFAULT;
        }
        *value = v;
        return 0;
    }

    std::string dir_;
    Journal *journal_;
};

bool is_lirc_path(const std::string &path) { return path == kIrDevicePath; }

int open_lirc(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
              std::string *)
{
    *file = std::make_shared<LircFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kLircDevice = {is_lirc_path, open_lirc};

} // namespace vboard
