// gpiotest: exercises pin 86 of the board through "/dev/gpio": configures
// it, reads its input level, makes it an output and drives it high.
#include "common/help_option.h"
#include "gpio_ops.h"

namespace {

constexpr unsigned kPin = 86;
constexpr char kUsage[] =
    "usage: gpiotest\n"
    "Configures pin 86 through /dev/gpio, reads its level, makes it an output\n"
    "and drives it high.\n";

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "gpiotest", kUsage)) {
        return 0;
    }
    // Each step runs whatever became of the one before.
    gpio::pin_config(kPin, 0, 0);
    gpio::get_data(kPin);
    gpio::inout_select(kPin, 1);
    gpio::set_data(kPin, 1);
    return 0;
}
