// Front LEDs on the I2C LED controller, and the reboot request.
#include "led.h"

#include "status.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace upg;

namespace {

constexpr int kI2cOpenFlags = O_RDONLY | O_EXCL | O_NOCTTY;
static_assert(kI2cOpenFlags == 0x180, "the driver is opened with flags 0x180");
constexpr uint8_t kBusSetup0 = 5;
constexpr uint8_t kBusSetup1 = 6;

int i2c_fd = -1;

bool takes_addr_mode(uint8_t addr7) { return addr7 == 0x44 || addr7 == 0x50 || addr7 == 0x63; }

int write_channel(uint32_t channel, uint8_t value)
{
    if (channel >= kLedChannels)
        return -1;
    return upg_i2c_write_reg(kLedController, static_cast<uint8_t>(kLedFirstChannelReg - channel), value);
}

} // namespace

namespace upg {

t_i2c_request i2c_write_request(uint8_t addr8, uint8_t reg, const uint8_t *data)
{
    t_i2c_request r{};
    r.u1DevAddr = static_cast<uint8_t>(addr8 >> 1);
    r.u2RegAddr = reg;
    r.u1RegAddrLen = 1;
    r.pu1Data = data;
    r.u4AddrMode = takes_addr_mode(r.u1DevAddr) ? 1 : 0;
    r.u4Clock = r.u1DevAddr == 0x64 ? 250 : 50;
    r.u1BusSetup0 = kBusSetup0;
    r.u1BusSetup1 = kBusSetup1;
    r.u4Enable = 1;
    return r;
}

t_i2c_request i2c_bus_setup_request()
{
    t_i2c_request r{};
    r.u1BusSetup0 = kBusSetup0;
    r.u1BusSetup1 = kBusSetup1;
    return r;
}

} // namespace upg

int upg_i2c_write_reg(uint8_t addr, uint8_t reg, uint8_t value)
{
    t_i2c_request r = i2c_write_request(addr, reg, &value);
    return ioctl(i2c_fd, kI2cWrite, &r) < 0 ? -1 : 0;
}

int upg_set_rgb_led(uint32_t led, uint32_t colour)
{
    if (led >= kLedCount) {
        std::printf("<Olvik LED> RGB LED ID error %d %s\n", static_cast<int>(led), __func__);
        return -1;
    }
    int sum = 0;
    for (uint32_t c = 0; c < 3; ++c)
        sum += write_channel(3 * led + c, static_cast<uint8_t>(colour >> (8 * c)));
    upg_i2c_write_reg(kLedController, kLedUpdateReg, 0);
    return sum;
}

void upg_led_set()
{
    std::printf("<Olvik LED>Olvik LED init %s\n", __func__);
    for (uint32_t led = 0; led < kFinalLeds; ++led)
        upg_set_rgb_led(led, kFinalColour);
    upg_i2c_write_reg(kLedController, kLedUpdateReg, 0);
}

void upg_led_final()
{
    i2c_fd = open("/dev/i2c", kI2cOpenFlags);
    if (i2c_fd < 0)
        std::printf("<UPG_PROG> i2c open fail ! @Line %d\n", __LINE__);
    t_i2c_request setup = i2c_bus_setup_request();
    ioctl(i2c_fd, kI2cBusSetup, &setup);
    upg_led_set();
}

int upg_reboot()
{
    int fd = open("/dev/bsp", O_RDWR);
    if (fd < 0) {
        std::puts("[UPGPROC] Reboot failed No1!");
        return -1;
    }
    std::fflush(stdout);
    if (ioctl(fd, kBspReboot) < 0) {
        close(fd);
        std::puts("[UPGPROC] Reboot failed No2!");
        return -1;
    }
    close(fd);
    std::puts("[UPGPROC] Reboot Sucess!");
    return 0;
}
