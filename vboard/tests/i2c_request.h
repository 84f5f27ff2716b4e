// The board's I2C request record and its two requests, as the board's
// programs use them; shared by the test programs that talk to /dev/i2c.
#ifndef VBOARD_TESTS_I2C_REQUEST_H
#define VBOARD_TESTS_I2C_REQUEST_H

#include <sys/ioctl.h>

#include <cstddef>
#include <cstdint>

namespace vboard {
namespace test {

constexpr unsigned long kI2cWrite = 0x40047301;
constexpr unsigned long kI2cSetup = 0x40047316;

struct I2cRequest {
    uint8_t address, zero1;
    uint16_t reg;
    uint8_t reg_length, zero5[3];
    const uint8_t *data;
    uint32_t word12, word16, word20, word24;
    uint8_t setup28, setup29, zero30[2];
    uint32_t word32;
};
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(I2cRequest) == 36 && offsetof(I2cRequest, setup28) == 28, "the board's record");
#endif

// The bus set-up: only bytes 28 and 29 are filled.
inline int i2c_setup(int fd)
{
    I2cRequest req{};
    req.setup28 = 5;
    req.setup29 = 6;
    return ::ioctl(fd, kI2cSetup, &req);
}

// One register of a device (7-bit address), as the upgrade program writes it.
inline int i2c_write(int fd, uint8_t address, uint16_t reg, uint8_t value)
{
    I2cRequest req{};
    req.address = address;
    req.reg = reg;
    req.reg_length = 1;
    req.data = &value;
    req.word24 = 50;
    req.setup28 = 5;
    req.setup29 = 6;
    req.word32 = 1;
    return ::ioctl(fd, kI2cWrite, &req);
}

} // namespace test
} // namespace vboard

#endif
