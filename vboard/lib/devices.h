// The framework of emulated devices: an emulated descriptor is a real kernel
// descriptor (normally a memfd, so that poll, dup and fork behave) registered in a
// table with the model that serves it. Devices whose data comes from
// outside use a real channel (a FIFO) instead.
#ifndef VBOARD_LIB_DEVICES_H
#define VBOARD_LIB_DEVICES_H

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "vboard/board.h"
#include "vboard/journal.h"

namespace vboard {

// What a device model gets when one of its paths is opened.
struct DeviceContext {
    std::string dir; // state directory
    BoardConfig board;
    Journal *journal = nullptr;
};

class EmulatedFile {
public:
    EmulatedFile(std::string path, int flags) : path_(std::move(path)), flags_(flags) {}
    virtual ~EmulatedFile() = default;
    EmulatedFile(const EmulatedFile &) = delete;
    EmulatedFile &operator=(const EmulatedFile &) = delete;

    // Results are byte counts or 0, or negative errno values.
    virtual ssize_t read_at(uint64_t, void *, size_t) { return -EINVAL; }
    virtual ssize_t write_at(uint64_t, const void *, size_t) { return -EINVAL; }
    virtual int ioctl(unsigned long, void *) { return -ENOTTY; }
    // A device whose descriptor is a real channel rather than a memfd (so
    // that poll and epoll see its data) opens it with open_channel (a
    // descriptor or a negative errno value) and is read through it.
    virtual bool is_channel() const { return false; }
    virtual int open_channel(int) { return -ENODEV; }
    virtual ssize_t read_channel(int, void *, size_t) { return -EINVAL; }
    // Writes and requests of a channel device, on the program's descriptor.
    virtual ssize_t write_channel(int, const void *, size_t) { return -EINVAL; }
    virtual int ioctl_channel(int, unsigned long request, void *arg) { return ioctl(request, arg); }
    // A terminal's settings as the program applied them (a struct termios).
    virtual void line_settings(const void *) {}
    // Size for SEEK_END, or -1 when the device has no file position.
    virtual int64_t size() const { return -1; }
    virtual dev_t rdev() const = 0;

    const std::string &path() const { return path_; }
    int flags() const { return flags_; }
    std::mutex &position_lock() { return position_lock_; }

private:
    std::string path_;
    int flags_;
    std::mutex position_lock_;
};

// A kind of device: the paths it serves and how one is opened.
struct DeviceType {
    bool (*matches)(const std::string &path);
    // Returns 0 with *file set (a device) or *content set (a kernel text
    // file served from memory), or a negative errno value.
    int (*open)(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
                std::string *content);
};

// The device types, one per model file.
extern const DeviceType kMtdDevice;
extern const DeviceType kProcMtdFile;
extern const DeviceType kI2cDevice;
extern const DeviceType kBspDevice;
extern const DeviceType kLircDevice;
extern const DeviceType kMemTallyFile;
extern const DeviceType kKallsymsFile;
extern const DeviceType kGpioDevice;
extern const DeviceType kTtyDevice;
extern const DeviceType kDrvUartDevice;
extern const DeviceType kCbagentDevice;

// A system call that a model answers on the board (passed through elsewhere).
struct SyscallModel {
    long number;
    // A result >= 0, or a negative errno value.
    long (*call)(const char *dir, Journal *journal, const long args[6]);
};

extern const SyscallModel kClockSyscallModel;
extern const SyscallModel kInitModuleSyscallModel;

// "ioctl <path> <what> = <result>" in the journal, with errno's name on failure.
void journal_ioctl(Journal *journal, const std::string &path, const std::string &what, int result);

// " = 0" or " = -1 EINVAL" for a result that is >= 0 or a negative errno value.
std::string result_text(long result);
// "EIO" for EIO (the number when it has no name).
std::string errno_text(int error);

} // namespace vboard

#endif
