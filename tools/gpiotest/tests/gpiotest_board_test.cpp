// gpiotest on the virtual board, and without any GPIO driver.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vboard/testkit.h"

using namespace vboard::testkit;

namespace {

std::string host_output(const std::string &command, int *status)
{
    std::string out;
    FILE *p = ::popen(command.c_str(), "r");
    char buf[4096];
    size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    int rc = p ? ::pclose(p) : -1;
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

} // namespace

TEST(Gpiotest, FourStepsOnPin86SeeTheInputLevelAndLeaveItDrivenHigh)
{
    Board board;
    int status = -1;
    host_output(bin_path("vboard") + " gpio --state " + board.dir() + " 86 1", &status);
    ASSERT_EQ(status, 0);

    Result r = board.run({bin_path("gpiotest")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "[APP]Gpio 86 input data is: 1\n"
              "[APP]Gpio 86 select: 1\n"
              "[APP]Gpio 86 output data is: 1\n");
    EXPECT_EQ(board.journal_lines("ioctl /dev/gpio"),
              (std::vector<std::string>{"ioctl /dev/gpio GPIO_PIN_CONFIG 86 0 0 = 0",
                                        "ioctl /dev/gpio GPIO_GET_DATA 86 level 1 = 0",
                                        "ioctl /dev/gpio GPIO_INOUT_SELECT 86 1 = 0",
                                        "ioctl /dev/gpio GPIO_SET_DATA 86 1 = 0"}));
    EXPECT_EQ(board.journal_lines("open /dev/gpio"),
              std::vector<std::string>(4, "open /dev/gpio O_RDONLY|O_EXCL|O_NOCTTY"));
    EXPECT_EQ(board.journal_lines("close /dev/gpio").size(), 4u);

    std::string state = host_output(bin_path("vboard") + " state " + board.dir(), &status);
    EXPECT_NE(state.find("  pin 86: output, level 1, input 1, mode 0\n"), std::string::npos) << state;
}

// The PC has no GPIO driver: without the board every step fails to open it.
TEST(Gpiotest, WithoutTheDriverEachStepReportsTheFailedOpenAndTheProgramStillSucceeds)
{
    struct stat st;
    if (::stat("/dev/gpio", &st) == 0) {
        GTEST_SKIP() << "this host has a /dev/gpio";
    }
    int status = -1;
    std::string out = host_output("env -u LD_PRELOAD " + bin_path("gpiotest"), &status);
    EXPECT_EQ(status, 0);
    std::string line = "[APP]/dev/gpio open failed!(-1)\n";
    EXPECT_EQ(out, line + line + line + line);
}
