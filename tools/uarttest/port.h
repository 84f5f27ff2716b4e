// The serial port that uarttest echoes on, set to 115200 baud raw mode.
#ifndef TOOLS_UARTTEST_PORT_H
#define TOOLS_UARTTEST_PORT_H

namespace uarttest {

struct PortChoice {
    const char *device;
    bool even_parity;       // 8E1, else 8N1
    const char *before_set; // line printed before the settings apply, or nullptr
    const char *opened;     // printf format of the init line, with the descriptor
};

// The built-in selector: 1 is ttyQV1, anything else ttyQV2.
const PortChoice &port_choice(int selector);

// Opens the port and sets it up; returns the descriptor (negative when the
// device cannot be opened).
int open_port(const PortChoice &port);

} // namespace uarttest

#endif
