// "/dev/gpio": the board's GPIO driver. One 32-bit word per request: pin in
// bits 0-15, a second field in bits 16-23, a level or mode in bits 24-31.
// Pins live in the state directory (vboard/gpio.h).
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdint>

#include "devices.h"
#include "vboard/gpio.h"

namespace vboard {

namespace {

constexpr unsigned long kGpioPinConfig = 0x40046701;
constexpr unsigned long kGpioInoutSelect = 0x40046702;
constexpr unsigned long kGpioSetData = 0x40046703;
constexpr unsigned long kGpioGetData = 0x80046704;
constexpr unsigned kMiscMajor = 10;
constexpr unsigned kGpioMinor = 243;
constexpr unsigned kModeOutput = 1; // pin config's second field: drive the third field's level

struct GpioWord {
    unsigned pin, second, third;
};

GpioWord split(uint32_t w) { return {w & 0xFFFF, (w >> 16) & 0xFF, w >> 24}; }

uint32_t with_third(uint32_t w, unsigned third) { return (w & 0x00FFFFFF) | (third << 24); }

class GpioFile : public EmulatedFile {
public:
    GpioFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    dev_t rdev() const override { return makedev(kMiscMajor, kGpioMinor); }

    int ioctl(unsigned long request, void *arg) override
    {
        auto *word = static_cast<uint32_t *>(arg);
        if (request != kGpioPinConfig && request != kGpioInoutSelect && request != kGpioSetData &&
            request != kGpioGetData) {
            journal_ioctl(journal_, path(), format("0x%08lx", request), -ENOTTY);
            return -ENOTTY;
        }
        if (!word) {
            journal_ioctl(journal_, path(), format("0x%08lx", request), -EFAULT);
            return -EFAULT;
        }
        GpioWord w = split(*word);
        std::string what;
        int rc = w.pin >= kGpioPins ? -EINVAL : 0;
        switch (request) {
        case kGpioPinConfig:
            what = format("GPIO_PIN_CONFIG %u %u %u", w.pin, w.second, w.third);
            rc = rc ? rc : gpio_update(dir_, w.pin, [&](GpioPin *p) {
                p->mode = w.second;
                p->output = w.second == kModeOutput;
                if (p->output) {
                    p->level = w.third;
                }
                return 0;
            });
            break;
        case kGpioInoutSelect:
            what = format("GPIO_INOUT_SELECT %u %u", w.pin, w.second);
            rc = rc ? rc : gpio_update(dir_, w.pin, [&](GpioPin *p) {
                p->output = w.second == 1;
                return 0;
            });
            // The driver answers with the direction now in force.
            if (rc == 0) {
                *word = with_third(*word, w.second == 1 ? 1 : 0);
            }
            break;
        case kGpioSetData:
            what = format("GPIO_SET_DATA %u %u", w.pin, w.third);
            rc = rc ? rc : gpio_update(dir_, w.pin, [&](GpioPin *p) {
                p->level = w.third;
                return 0;
            });
            break;
        default: {
            unsigned level = 0;
            rc = rc ? rc : gpio_update(dir_, w.pin, [&](GpioPin *p) {
                level = p->output ? p->level : p->input; // an output reads back what it drives
                return 0;
            });
            if (rc == 0) {
                *word = with_third(w.pin, level);
            }
            what = rc == 0 ? format("GPIO_GET_DATA %u level %u", w.pin, level) : format("GPIO_GET_DATA %u", w.pin);
            break;
        }
        }
        journal_ioctl(journal_, path(), what, rc);
        return rc;
    }

private:
    std::string dir_;
    Journal *journal_;
};

bool is_gpio_path(const std::string &path) { return path == "/dev/gpio"; }

int open_gpio(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
              std::string *)
{
    *file = std::make_shared<GpioFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kGpioDevice = {is_gpio_path, open_gpio};

} // namespace vboard
