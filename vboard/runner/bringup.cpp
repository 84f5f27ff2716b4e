#include "bringup.h"

#include <cstdio>
#include <cstdlib>

#include "vboard/gpio.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr int kVerbFailed = 2;

// A whole decimal number within [0, limit].
bool parse_number(const std::string &text, unsigned long limit, unsigned *value) {
    char *end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || v > limit) {
        return false;
    }
    *value = static_cast<unsigned>(v);
    return true;
}

void print_gpio(const std::string &dir) {
    std::vector<GpioPin> pins = gpio_pins(dir);
    std::printf("GPIO pins:%s\n", pins.empty() ? " none touched" : "");
    for (const GpioPin &p : pins) {
        std::printf("  %s\n", gpio_pin_text(p).c_str());
    }
}

}  // namespace

int gpio_verb(const std::string &dir, const std::vector<std::string> &args) {
    if (args.empty()) {
        print_gpio(dir);
        return 0;
    }
    unsigned pin = 0, level = 0;
    if (args.size() != 2 || !parse_number(args[0], kGpioPins - 1, &pin) || !parse_number(args[1], 255, &level)) {
        std::fprintf(stderr, "vboard: gpio needs a PIN (0-%u) and a LEVEL (0-255)\n", kGpioPins - 1);
        return kVerbFailed;
    }
    int rc = gpio_update(dir, pin, [&](GpioPin *p) {
        p->input = level;
        return 0;
    });
    if (rc != 0) {
        std::fprintf(stderr, "vboard: cannot write %s\n", state_path(dir, kGpioState).c_str());
        return kVerbFailed;
    }
    return 0;
}

void print_bringup_state(const std::string &dir) { print_gpio(dir); }

}  // namespace vboard
