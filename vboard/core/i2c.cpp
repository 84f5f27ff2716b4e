#include "vboard/i2c.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "vboard/state.h"

namespace vboard {

namespace {

constexpr unsigned kFirstChannelRegister = 0x0F;

} // namespace

std::array<LedColour, kLedCount> leds_from_registers(const uint8_t *registers)
{
    std::array<LedColour, kLedCount> leds;
    for (int n = 0; n < kLedCount; ++n) {
        leds[n].red = registers[kFirstChannelRegister - 3 * n];
        leds[n].green = registers[kFirstChannelRegister - 3 * n - 1];
        leds[n].blue = registers[kFirstChannelRegister - 3 * n - 2];
    }
    return leds;
}

std::string leds_text(const std::array<LedColour, kLedCount> &leds)
{
    std::string text;
    for (const LedColour &led : leds) {
        text += (text.empty() ? "" : " ") + format("%02x%02x%02x", led.red, led.green, led.blue);
    }
    return text;
}

int led_register_write(const std::string &dir, unsigned reg, uint8_t value, Journal *journal)
{
    if (reg >= kLedRegisterCount) {
        return -EINVAL;
    }
    int fd = ::open(state_path(dir, kI2cRegs).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -EIO;
    }
    ::flock(fd, LOCK_EX);
    uint8_t registers[kLedRegisterCount] = {};
    ssize_t got = ::pread(fd, registers, sizeof registers, 0);
    registers[reg] = value;
    int rc = got >= 0 && ::pwrite(fd, registers, sizeof registers, 0) == static_cast<ssize_t>(sizeof registers) ? 0
                                                                                                                : -EIO;
    if (rc == 0 && reg == kLedUpdateRegister && value == 0) {
        std::string text = leds_text(leds_from_registers(registers));
        rc = write_text_file(state_path(dir, kLeds), text + "\n") == 0 ? 0 : -EIO;
        if (journal) {
            journal_line(journal, "leds " + text);
        }
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return rc;
}

} // namespace vboard
