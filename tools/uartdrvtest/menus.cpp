#include "menus.h"

#include <sys/ioctl.h>

#include <cstdio>

namespace uartdrvtest {

namespace {

constexpr unsigned long kSetPort = 1;
constexpr unsigned long kSetMode = 3;
constexpr unsigned long kSetBaud = 4;
constexpr char kFrameEnd[] = " **************************************\n";

// Each item line ends in a newline and a space, so the next line starts
// with a space.
const char *const kPortLines[] = {" ********Select Uart port: *******\n", "         1: uart1\n ",
                                  "         2: uart2\n ", kFrameEnd, nullptr};
const char *const kPinGroupLines[] = {" ********Select Pin Group for Uart port: *******\n", nullptr};
const char *const kModeLines[] = {" ********Select Uart work mode: *******\n",
                                  "        0: RX_TX_POLLING\n ",
                                  "        1: RX_TX_ISR_INDEPENDEN\n ",
                                  "        2: RX_ISR_TX_POLLING\n ",
                                  kFrameEnd,
                                  nullptr};
const char *const kBaudLines[] = {" ********Select Uart BAUDRATE: *******\n",
                                  "         1: RS_232_SPEED_115200    \n ",
                                  "         2: RS_232_SPEED_921600    \n ",
                                  "         3: RS_232_SPEED_75    \n ",
                                  kFrameEnd,
                                  nullptr};

const Choice kPorts[] = {{'1', 1}, {'2', 2}};
const Choice kModes[] = {{'0', 0}, {'1', 1}, {'2', 2}, {'3', 3}};
const Choice kBauds[] = {{'1', 16}, {'2', 20}, {'3', 0}}; // RS_232_SPEED_115200, _921600, _75

} // namespace

const Menu kPortMenu = {kPortLines, kSetPort, kPorts, 2, "select uart port INVALID!"};
const Menu kPinGroupMenu = {kPinGroupLines, 0, nullptr, 0, nullptr};
const Menu kModeMenu = {kModeLines, kSetMode, kModes, 4, "select uart mode INVALID!"};
const Menu kBaudMenu = {kBaudLines, kSetBaud, kBauds, 3, "select uart mode INVALID!"};

int read_answer()
{
    int c;
    do {
        c = std::getchar();
    } while (c == '\n' || c == '\r');
    return c;
}

bool run_menu(const Menu &menu, int fd)
{
    for (const char *const *line = menu.lines; *line; ++line) {
        std::fputs(*line, stdout);
    }
    int answer = read_answer();
    if (menu.request == 0) {
        return true;
    }
    for (int i = 0; i < menu.choice_count; ++i) {
        if (menu.choices[i].answer == answer) {
            ::ioctl(fd, menu.request, menu.choices[i].value);
            return true;
        }
    }
    std::puts(menu.invalid);
    return false;
}

} // namespace uartdrvtest
