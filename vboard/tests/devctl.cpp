// Test helper: issues device requests from a shell on the board.
//   vboard_devctl reboot
//   vboard_devctl i2c-setup
//   vboard_devctl i2c-write ADDR REG VALUE      (7-bit address)
//   vboard_devctl erase DEV START LENGTH
#include <fcntl.h>
#include <sys/ioctl.h>
// after sys/ioctl.h, which it needs
#include <mtd/mtd-abi.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct I2cRequest {
    uint8_t address, zero1;
    uint16_t reg;
    uint8_t reg_length, zero5[3];
    const uint8_t *data;
    uint32_t word12, word16, word20, word24;
    uint8_t setup28, setup29, zero30[2];
    uint32_t word32;
};

int report(const char *what, int rc) {
    if (rc < 0) {
        std::printf("%s failed: %s\n", what, std::strerror(errno));
        return 1;
    }
    std::printf("%s = %d\n", what, rc);
    std::fflush(stdout);
    return 0;
}

long number(const char *text) { return std::strtol(text, nullptr, 0); }

}  // namespace

int main(int argc, char **argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "reboot") {
        int fd = ::open("/dev/bsp", O_RDWR);
        return report("reboot", fd < 0 ? fd : ::ioctl(fd, 0x6208));
    }
    if (verb == "i2c-setup" || (verb == "i2c-write" && argc == 5)) {
        int fd = ::open("/dev/i2c", 0x180);
        I2cRequest req{};
        uint8_t value = verb == "i2c-write" ? static_cast<uint8_t>(number(argv[4])) : 0;
        if (verb == "i2c-setup") {
            req.setup28 = 5;
            req.setup29 = 6;
            return report("setup", fd < 0 ? fd : ::ioctl(fd, 0x40047316, &req));
        }
        req.address = static_cast<uint8_t>(number(argv[2]));
        req.reg = static_cast<uint16_t>(number(argv[3]));
        req.reg_length = 1;
        req.data = &value;
        req.word24 = 50;
        req.setup28 = 5;
        req.setup29 = 6;
        req.word32 = 1;
        return report("write", fd < 0 ? fd : ::ioctl(fd, 0x40047301, &req));
    }
    if (verb == "erase" && argc == 5) {
        int fd = ::open(argv[2], O_RDWR);
        erase_info_user range = {static_cast<uint32_t>(number(argv[3])), static_cast<uint32_t>(number(argv[4]))};
        return report("erase", fd < 0 ? fd : ::ioctl(fd, MEMERASE, &range));
    }
    std::fprintf(stderr, "usage: vboard_devctl reboot | i2c-setup | i2c-write ADDR REG VALUE | erase DEV START LENGTH\n");
    return 2;
}
