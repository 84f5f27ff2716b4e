// Test helper: issues device requests from a shell on the board.
//   vboard_devctl reboot
//   vboard_devctl i2c-setup
//   vboard_devctl i2c-write ADDR REG VALUE      (7-bit address)
//   vboard_devctl erase DEV START LENGTH
//   vboard_devctl lirc-read COUNT   prints "open", then "<ms> <words>" per
//                                   read and "word 0x..." for each word read
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
// after sys/ioctl.h, which it needs
#include <mtd/mtd-abi.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "i2c_request.h"

namespace {

int report(const char *what, int rc)
{
    if (rc < 0) {
        std::printf("%s failed: %s\n", what, std::strerror(errno));
        return 1;
    }
    std::printf("%s = %d\n", what, rc);
    std::fflush(stdout);
    return 0;
}

long number(const char *text) { return std::strtol(text, nullptr, 0); }

// Reads /dev/lirc0 until count words came or nothing came for 5 s.
int lirc_read(size_t count)
{
    int fd = ::open("/dev/lirc0", O_RDONLY);
    if (fd < 0) {
        return report("open", fd);
    }
    std::printf("open\n");
    std::fflush(stdout);
    auto start = std::chrono::steady_clock::now();
    std::vector<uint32_t> words;
    pollfd p = {fd, POLLIN, 0};
    while (words.size() < count && ::poll(&p, 1, 5000) == 1) {
        uint32_t buf[512];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            return report("read", -1);
        }
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("%lld %zd\n", static_cast<long long>(ms.count()), n / 4);
        words.insert(words.end(), buf, buf + n / 4);
    }
    for (uint32_t w : words) {
        std::printf("word 0x%08x\n", w);
    }
    return ::close(fd) == 0 && words.size() == count ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "reboot") {
        int fd = ::open("/dev/bsp", O_RDWR);
        return report("reboot", fd < 0 ? fd : ::ioctl(fd, 0x6208));
    }
    if (verb == "i2c-setup" || (verb == "i2c-write" && argc == 5)) {
        int fd = ::open("/dev/i2c", 0x180);
        if (verb == "i2c-setup") {
            return report("setup", fd < 0 ? fd : vboard::test::i2c_setup(fd));
        }
        auto address = static_cast<uint8_t>(number(argv[2]));
        auto reg = static_cast<uint16_t>(number(argv[3]));
        auto value = static_cast<uint8_t>(number(argv[4]));
        return report("write", fd < 0 ? fd : vboard::test::i2c_write(fd, address, reg, value));
    }
    if (verb == "erase" && argc == 5) {
        int fd = ::open(argv[2], O_RDWR);
        erase_info_user range = {static_cast<uint32_t>(number(argv[3])), static_cast<uint32_t>(number(argv[4]))};
        return report("erase", fd < 0 ? fd : ::ioctl(fd, MEMERASE, &range));
    }
    if (verb == "lirc-read" && argc == 3) {
        return lirc_read(static_cast<size_t>(number(argv[2])));
    }
    std::fprintf(stderr,
                 "usage: vboard_devctl reboot | i2c-setup | i2c-write ADDR REG VALUE | erase DEV START LENGTH"
                 " | lirc-read COUNT\n");
    return 2;
}
