#include "board_link.h"

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "vboard/state.h"

namespace vboard {

bool on_board()
{
    const char *board = std::getenv(kBoardEnv);
    char ns[64];
    ssize_t n = ::readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    if (!board || n <= 0) {
        return false;
    }
    ns[n] = '\0';
    if (std::strcmp(board, ns) != 0 || ::getpid() == 1) {
        return false;
    }
    // PID 1 must be the board's init (the vboard runner), never a host's init.
    char init[PATH_MAX];
    n = ::readlink("/proc/1/exe", init, sizeof init - 1);
    if (n <= 0) {
        return false;
    }
    init[n] = '\0';
    const char *base = std::strrchr(init, '/');
    return base && std::strcmp(base + 1, "vboard") == 0;
}

void power_cut_board()
{
    if (on_board()) {
        // Every process of the board stops before any of them runs again.
        ::kill(1, kPowerCutSignal);
        ::kill(-1, SIGKILL);
    }
    ::kill(::getpid(), SIGKILL);
    for (;;) {
        ::pause();
    }
}

void reset_board_soon()
{
    if (on_board()) {
        ::kill(1, reboot_signal());
        return;
    }
    std::thread([] {
        ::usleep(kRebootDelayMs * 1000);
        ::kill(::getpid(), SIGKILL);
    }).detach();
}

} // namespace vboard
