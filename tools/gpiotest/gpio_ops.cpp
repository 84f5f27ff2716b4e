#include "gpio_ops.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace gpio {

namespace {

// One operation: its request, what it prints on failure and on success
// (nullptr: nothing), and whether it answers with a level.
struct Operation {
    unsigned long request;
    const char *failed;
    const char *done;
    bool returns_level;
};

constexpr Operation kPinConfigOp = {kPinConfig, "[APP]Pin config failed!(%d)\n", nullptr, false};
constexpr Operation kGetDataOp = {kGetData, "[APP]Gpio get data fail (%d)\n", "[APP]Gpio %d input data is: %d\n", true};
constexpr Operation kInoutSelectOp = {kInoutSelect, "[APP]Gpio inout select fail (%d)\n", "[APP]Gpio %d select: %d\n",
                                      false};
constexpr Operation kSetDataOp = {kSetData, "[APP]Gpio set data fail (%d)\n", "[APP]Gpio %d output data is: %d\n",
                                  false};

int run(const Operation &op, uint32_t w)
{
    int fd = ::open(kDevice, kOpenFlags);
    if (fd < 0) {
        std::printf("[APP]/dev/gpio open failed!(%d)\n", fd);
        return fd;
    }
    int rc = ::ioctl(fd, op.request, &w);
    ::close(fd);
    if (rc != 0) {
        std::printf(op.failed, rc);
        return rc;
    }
    int pin = static_cast<int>(w & 0xFFFF);
    int level = static_cast<int>(w >> 24);
    if (op.done) {
        std::printf(op.done, pin, level);
    }
    return op.returns_level ? level : 0;
}

} // namespace

int pin_config(unsigned pin, unsigned second, unsigned third) { return run(kPinConfigOp, word(pin, second, third)); }

int get_data(unsigned pin) { return run(kGetDataOp, word(pin, 0, 0)); }

int inout_select(unsigned pin, unsigned direction) { return run(kInoutSelectOp, word(pin, direction, 0)); }

int set_data(unsigned pin, unsigned level) { return run(kSetDataOp, word(pin, 1, level)); }

} // namespace gpio
