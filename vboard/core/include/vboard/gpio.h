// The GPIO pins of the board, kept in the state directory ("gpio") so that
// every process of the board, tests and later runs see the same pins.
#ifndef VBOARD_GPIO_H
#define VBOARD_GPIO_H

#include <functional>
#include <string>
#include <vector>

namespace vboard {

constexpr const char *kGpioState = "gpio";
constexpr unsigned kGpioPins = 128; // pins 0..127 exist

struct GpioPin {
    unsigned pin = 0;
    unsigned mode = 0;   // second field of the last pin config
    bool output = false; // direction
    unsigned level = 0;  // level driven while an output
    unsigned input = 0;  // level seen on the pin from outside
};

// Runs change on the pin (0 if it was never touched) under the state file's
// lock and saves the result. Returns change's result, or -EIO when the state
// file cannot be used.
int gpio_update(const std::string &dir, unsigned pin, const std::function<int(GpioPin *)> &change);

// Every pin that was ever touched, by pin number.
std::vector<GpioPin> gpio_pins(const std::string &dir);

// "pin 86: output, level 1, input 0, mode 0"
std::string gpio_pin_text(const GpioPin &pin);

} // namespace vboard

#endif
