#include "bringup.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "common/text.h"
#include "vboard/clock370.h"
#include "vboard/gpio.h"
#include "vboard/module.h"
#include "vboard/uart_peer.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr int kVerbFailed = 2;

// "3725.042" as microseconds: whole seconds and up to six decimals.
bool parse_seconds(const std::string &text, int64_t *us)
{
    size_t dot = text.find('.');
    std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    uint64_t seconds = 0, micros = 0;
    if (!board::parse_number(whole, UINT32_MAX, &seconds, board::kDecimal) || fraction.size() > 6) {
        return false;
    }
    fraction.resize(6, '0');
    if (!board::parse_number(fraction, 999999, &micros, board::kDecimal)) {
        return false;
    }
    *us = static_cast<int64_t>(seconds * 1000000 + micros);
    return true;
}

void print_gpio(const std::string &dir)
{
    std::vector<GpioPin> pins = gpio_pins(dir);
    std::printf("GPIO pins:%s\n", pins.empty() ? " none touched" : "");
    for (const GpioPin &p : pins) {
        std::printf("  %s\n", gpio_pin_text(p).c_str());
    }
}

} // namespace

int gpio_verb(const std::string &dir, const std::vector<std::string> &args)
{
    ::mkdir(dir.c_str(), 0755); // may come before the board's first boot
    if (args.empty()) {
        print_gpio(dir);
        return 0;
    }
    uint64_t pin = 0, level = 0;
    if (args.size() != 2 || !board::parse_number(args[0], kGpioPins - 1, &pin, board::kDecimal) ||
        !board::parse_number(args[1], 255, &level, board::kDecimal)) {
        std::fprintf(stderr, "vboard: gpio needs a PIN (0-%u) and a LEVEL (0-255)\n", kGpioPins - 1);
        return kVerbFailed;
    }
    int rc = gpio_update(dir, static_cast<unsigned>(pin), [&](GpioPin *p) {
        p->input = static_cast<unsigned>(level);
        return 0;
    });
    if (rc != 0) {
        std::fprintf(stderr, "vboard: cannot write %s\n", state_path(dir, kGpioState).c_str());
        return kVerbFailed;
    }
    return 0;
}

int clock_verb(const std::string &dir, const std::vector<std::string> &args)
{
    ::mkdir(dir.c_str(), 0755); // may come before the board's first boot
    int64_t us = 0;
    bool running = args.size() == 2 && args[1] == "run";
    if (args.empty()) {
        std::printf("clock (syscall 370): %s\n", clock_text(clock_setting(dir)).c_str());
        return 0;
    }
    if ((args.size() != 1 && !running) || !parse_seconds(args[0], &us)) {
        std::fprintf(stderr, "vboard: clock needs SECONDS[.FRACTION] (up to 6 decimals), then 'run' to let it run\n");
        return kVerbFailed;
    }
    if (clock_set(dir, us, running) != 0) {
        std::fprintf(stderr, "vboard: cannot write %s\n", state_path(dir, kClockState).c_str());
        return kVerbFailed;
    }
    return 0;
}

void print_bringup_state(const std::string &dir)
{
    print_gpio(dir);
    std::printf("clock (syscall 370): %s\n", clock_text(clock_setting(dir)).c_str());
    for (const char *port : {"ttyQV1", "ttyQV2"}) {
        std::string line;
        if (read_text_file(uart_peer_path(dir, port, ".line"), &line) == 0) {
            std::printf("%s line: %s", port, line.c_str());
        }
    }
    std::string settings = uart_settings(dir, "drv_uart2");
    if (!settings.empty()) {
        std::printf("drv_uart2 settings:");
        for (char c : settings) {
            std::putchar(c == '\n' ? ' ' : c);
        }
        std::printf("\n");
    }
    std::vector<LoadedModule> modules = loaded_modules(dir);
    std::printf("modules loaded in this boot:%s\n", modules.empty() ? " none" : "");
    for (const LoadedModule &m : modules) {
        std::printf("  %s: %zu bytes, crc32 %08x, options \"%s\"\n", m.name.c_str(), m.size, m.crc32,
                    m.options.c_str());
    }
}

} // namespace vboard
