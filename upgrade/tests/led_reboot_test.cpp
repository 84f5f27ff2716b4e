// The LED id check and the reboot request's failure lines.
#include "status.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

TEST(Leds, IdFiveOrAboveIsRefusedWithoutAWrite)
{
    for (uint32_t led : {5u, 6u, 255u}) {
        testing::internal::CaptureStdout();
        errno = 0;
        EXPECT_EQ(upg_set_rgb_led(led, 0xFF040A05), -1) << led;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "<Olvik LED> RGB LED ID error " + std::to_string(led) + " upg_set_rgb_led\n");
        EXPECT_EQ(errno, 0) << "no request was made for LED " << led;
    }
    // LED 4 is taken: its three channel writes go to the driver (not open
    // here, so each fails).
    EXPECT_EQ(upg_set_rgb_led(4, 0xFF040A05), -3);
}

// Runs upg_reboot in a child with its own /dev (a tmpfs), holding a plain
// file as /dev/bsp when with_bsp: its lines and result.
std::string reboot_in_own_dev(bool with_bsp, int *result)
{
    int out[2];
    if (pipe(out) != 0)
        return "pipe";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        bool ready = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                     mount("tmpfs", "/dev", "tmpfs", 0, nullptr) == 0;
        if (ready && with_bsp)
            close(open("/dev/bsp", O_CREAT | O_RDWR, 0600));
        int rc = ready ? upg_reboot() : -9;
        fflush(stdout);
        _exit(rc + 10);
    }
    close(out[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *result = WIFEXITED(status) ? WEXITSTATUS(status) - 10 : -100;
    return text;
}

TEST(Reboot, FailuresOfTheDriverAreReported)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a private /dev";
    int rc = 0;
    std::string no_device = reboot_in_own_dev(false, &rc);
    if (rc == -9)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(no_device, "[UPGPROC] Reboot failed No1!\n");
    EXPECT_EQ(rc, -1);
    // A file that takes no reboot request stands for a driver refusing it.
    EXPECT_EQ(reboot_in_own_dev(true, &rc), "[UPGPROC] Reboot failed No2!\n");
    EXPECT_EQ(rc, -1);
}

} // namespace
