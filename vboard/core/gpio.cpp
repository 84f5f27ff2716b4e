#include "vboard/gpio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <sstream>

#include "vboard/journal.h"
#include "vboard/state.h"

namespace vboard {

namespace {

using PinMap = std::map<unsigned, GpioPin>;

// One line per pin: "pin mode output level input".
PinMap parse_pins(const std::string &text)
{
    PinMap pins;
    std::istringstream in(text);
    GpioPin p;
    int output = 0;
    while (in >> p.pin >> p.mode >> output >> p.level >> p.input) {
        p.output = output != 0;
        pins[p.pin] = p;
    }
    return pins;
}

std::string pins_text(const PinMap &pins)
{
    std::string text;
    for (const auto &entry : pins) {
        const GpioPin &p = entry.second;
        text += format("%u %u %d %u %u\n", p.pin, p.mode, p.output ? 1 : 0, p.level, p.input);
    }
    return text;
}

std::string read_all(int fd)
{
    std::string text;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = ::pread(fd, buf, sizeof buf, at)) > 0) {
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

} // namespace

int gpio_update(const std::string &dir, unsigned pin, const std::function<int(GpioPin *)> &change)
{
    int fd = ::open(state_path(dir, kGpioState).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -EIO;
    }
    ::flock(fd, LOCK_EX);
    PinMap pins = parse_pins(read_all(fd));
    GpioPin p = pins.count(pin) ? pins[pin] : GpioPin{};
    p.pin = pin;
    int rc = change(&p);
    pins[pin] = p;
    std::string text = pins_text(pins);
    bool saved = ::ftruncate(fd, 0) == 0 &&
                 ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return saved ? rc : -EIO;
}

std::vector<GpioPin> gpio_pins(const std::string &dir)
{
    std::string text;
    read_text_file(state_path(dir, kGpioState), &text);
    std::vector<GpioPin> out;
    for (const auto &entry : parse_pins(text)) {
        out.push_back(entry.second);
    }
    return out;
}

std::string gpio_pin_text(const GpioPin &p)
{
    return format("pin %u: %s, level %u, input %u, mode %u", p.pin, p.output ? "output" : "input", p.level, p.input,
                  p.mode);
}

} // namespace vboard
