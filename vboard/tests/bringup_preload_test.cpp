// The bring-up devices inside a test process with libvboard.so preloaded
// (both tiers): what each answers to requests a driver or kernel refuses.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>

#include "vboard/clock370.h"
#include "vboard/gpio.h"
#include "vboard/module.h"
#include "vboard/state.h"
#include "vboard/temp_dir.h"
#include "vboard/uart_peer.h"

using namespace vboard;

namespace {

const char kBoard[] =
    "nand.size = 4M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\npartition = data rest\n";

class BringupPreload : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string text = kBoard, error;
        ASSERT_EQ(prepare_state(dir_, &text, &error), 0) << error;
        ::setenv(kStateEnv, dir_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv(kStateEnv); }
    testkit::TempDir temp_{"vboard-bringup"};
    const std::string dir_ = temp_.path();
};

// errno of a failed call, 0 when it succeeded.
int error_of(long rc) { return rc < 0 ? errno : 0; }

std::string module(uint16_t type, const std::string &info)
{
    std::string elf(52, '\0');
    elf.replace(0, 7,
                "\x7f"
                "ELF\x01\x01\x01");
    elf[16] = static_cast<char>(type);
    return elf + info;
}

} // namespace

TEST_F(BringupPreload, GpioRequests)
{
    gpio_update(dir_, 5, [](GpioPin *p) {
        p->input = 1;
        return 0;
    });
    int fd = ::open("/dev/gpio", O_RDONLY | O_EXCL | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct Case {
        unsigned long request;
        uint32_t word;
        bool null;
        int error;
        uint32_t after;
    } cases[] = {
        {0x80046704, 5, false, 0, 5 | 1u << 24},                       // get data: the input level
        {0x40046701, 5 | 1u << 16 | 0u << 24, false, 0, 5 | 1u << 16}, // config as an output at 0
        {0x80046704, 5, false, 0, 5},                                  // an output reads what it drives
        {0x40046702, 7 | 1u << 16, false, 0, 7 | 1u << 16 | 1u << 24}, // select answers the direction
        {0x40046703, 128 | 1u << 16 | 1u << 24, false, EINVAL, 128 | 1u << 16 | 1u << 24},
        {0x80046704, 0, true, EFAULT, 0},
        {0x40046705, 5, false, ENOTTY, 5},
    };
    for (const Case &c : cases) {
        uint32_t w = c.word;
        EXPECT_EQ(error_of(::ioctl(fd, c.request, c.null ? nullptr : &w)), c.error) << std::hex << c.request;
        EXPECT_EQ(w, c.null ? 0 : c.after) << std::hex << c.request;
    }
    ::close(fd);
}

TEST_F(BringupPreload, Syscall370)
{
    ASSERT_EQ(clock_set(dir_, 3725042000, false), 0);
    uint32_t words[2] = {0, 0};
    EXPECT_EQ(::syscall(kClockSyscall, kClockService, words), 0);
    EXPECT_EQ(words[0], 3725u);
    EXPECT_EQ(words[1], 42000u);
    EXPECT_EQ(error_of(::syscall(kClockSyscall, 1L, words)), EINVAL);
    EXPECT_EQ(error_of(::syscall(kClockSyscall, kClockService, nullptr)), EFAULT);
}

TEST_F(BringupPreload, InitModuleAnswersAsTheKernel)
{
    const std::string good = module(1, std::string("name=demo\0", 10));
    struct Case {
        std::string image;
        const char *options;
        int error;
    } cases[] = {
        {"", "", ENOEXEC},
        {"\x7f"
         "ELF",
         "", ENOEXEC},
        {module(2, std::string("name=demo\0", 10)), "", ENOEXEC}, // an executable, not relocatable
        {module(1, "license=GPL"), "", ENOEXEC},                  // names no module
        {good, nullptr, EFAULT},
        {good, "a=1", 0},
        {good, "", EEXIST},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(error_of(::syscall(SYS_init_module, c.image.data(), c.image.size(), c.options)), c.error)
            << c.image.size() << " bytes";
    }
    ASSERT_EQ(loaded_modules(dir_).size(), 1u);
    EXPECT_EQ(loaded_modules(dir_)[0].options, "a=1");
}

TEST_F(BringupPreload, DrvUartRequestsAndData)
{
    int fd = ::open("/dev/drv_uart2", O_RDWR);
    ASSERT_GE(fd, 0);
    struct Case {
        unsigned long request, value;
        int error;
    } cases[] = {{1, 3, EINVAL}, {1, 0, EINVAL}, {3, 4, EINVAL}, {4, 32, EINVAL}, {2, 0, ENOTTY},
                 {1, 1, 0},      {3, 0, 0},      {4, 20, 0},     {32, 0, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(error_of(::ioctl(fd, c.request, c.value)), c.error) << c.request << " " << c.value;
    }
    EXPECT_EQ(uart_settings(dir_, "drv_uart2"), "port 1\nmode 0\nbaud 20\nstarted 1\n");
    EXPECT_EQ(::write(fd, "abc", 3), 3);
    EXPECT_EQ(uart_sent(dir_, "drv_uart2"), "abc");
    ASSERT_EQ(uart_feed(dir_, "drv_uart2", "xy"), 0);
    char buf[8];
    EXPECT_EQ(::read(fd, buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "xy");
    EXPECT_EQ(::read(fd, buf, sizeof buf), 0) << "polling mode: nothing came";
    ::close(fd);
    EXPECT_EQ(uart_feed(dir_, "drv_uart2", "late"), -1) << "nobody has the port open";
}

// What the program wrote just before the close reaches the peer whole, as a
// tty drains its output on close (the relay used to stop after one chunk).
TEST_F(BringupPreload, TtyDeliversEverythingWrittenBeforeTheClose)
{
    for (size_t n : {5000, 20000}) {
        int fd = ::open("/dev/ttyQV1", O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ::cfmakeraw(&t);
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        std::string data;
        for (size_t i = 0; i < n; ++i) {
            data += static_cast<char>(i * 13 + i / 256);
        }
        EXPECT_EQ(::write(fd, data.data(), n), static_cast<ssize_t>(n));
        ::close(fd);
        std::string sent = uart_sent(dir_, "ttyQV1");
        EXPECT_EQ(sent.size(), n);
        EXPECT_TRUE(sent == data) << n << " bytes";
        std::filesystem::remove(uart_peer_path(dir_, "ttyQV1", ".tx"));
    }
}
