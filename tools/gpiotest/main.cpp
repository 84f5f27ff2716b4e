// gpiotest: exercises pin 86 of the board through "/dev/gpio": configures
// it, reads its input level, makes it an output and drives it high.
#include "gpio_ops.h"

namespace {

constexpr unsigned kPin = 86;

}  // namespace

int main() {
    // Each step runs whatever became of the one before.
    gpio::pin_config(kPin, 0, 0);
    gpio::get_data(kPin);
    gpio::inout_select(kPin, 1);
    gpio::set_data(kPin, 1);
    return 0;
}
