// Requests of the GPIO driver "/dev/gpio", one open and close per operation.
// uarttest uses the same requests.
#ifndef TOOLS_GPIOTEST_GPIO_OPS_H
#define TOOLS_GPIOTEST_GPIO_OPS_H

#include <fcntl.h>

#include <cstdint>

namespace gpio {

constexpr const char kDevice[] = "/dev/gpio";
// How every user of the driver opens it.
constexpr int kOpenFlags = O_RDONLY | O_EXCL | O_NOCTTY;

constexpr unsigned long kPinConfig = 0x40046701;
constexpr unsigned long kInoutSelect = 0x40046702;
constexpr unsigned long kSetData = 0x40046703;
constexpr unsigned long kGetData = 0x80046704;

// The request word: pin in bits 0-15, second field 16-23, third 24-31.
inline uint32_t word(unsigned pin, unsigned second, unsigned third)
{
    return (pin & 0xFFFF) | (second & 0xFF) << 16 | (third & 0xFF) << 24;
}

// Each returns the descriptor when the open failed, the request's result
// when it failed; on success 0, or for get data the input level.
int pin_config(unsigned pin, unsigned second, unsigned third);
int get_data(unsigned pin);
int inout_select(unsigned pin, unsigned direction);
int set_data(unsigned pin, unsigned level);

} // namespace gpio

#endif
