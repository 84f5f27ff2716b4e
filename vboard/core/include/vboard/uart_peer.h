// The far end of the board's serial lines, in the state directory's "uart"
// directory, for a test or a person:
//   <port>.rx   a FIFO: bytes written to it are what the program reads
//   <port>.tx   every byte the program wrote, appended
//   <port>.pts  for a tty, the pseudo-terminal the program has open (its
//               settings can be read there, e.g. stty -F $(cat ...))
//   <port>.line for a tty, the line settings the program applied last, e.g.
//               "115200 8E1 raw clocal cread min 1 time 0" (a pseudo-terminal
//               keeps no parity, a UART does)
//   <port>.settings  for the UART driver, the values its requests set
// Ports: "ttyQV1", "ttyQV2", "drv_uart2".
#ifndef VBOARD_UART_PEER_H
#define VBOARD_UART_PEER_H

#include <termios.h>

#include <string>

namespace vboard {

constexpr const char *kUartPeerDir = "uart";

std::string uart_peer_path(const std::string &dir, const std::string &port, const char *suffix);

// Makes the port's FIFO (kept) and returns its descriptor, opened for
// reading and writing so that it never reports end of file; or -errno.
int uart_open_rx(const std::string &dir, const std::string &port, int flags);

// Appends what the program wrote to <port>.tx. Returns 0 or -errno.
int uart_append_tx(const std::string &dir, const std::string &port, const void *data, size_t n);

// Feeds bytes to the program: 0, or -1 when the port is not open on the board.
int uart_feed(const std::string &dir, const std::string &port, const std::string &bytes);

// "115200 8N1 raw clocal cread min 1 time 0": speed, data bits, parity,
// stop bits, raw (no input, output or local processing) or cooked, flags.
std::string line_settings_text(const termios &t);

// The driver's settings of a port, "<port>.settings": one "key value" line
// per setting, e.g. "port 2". Returns 0 or -1.
int uart_set_setting(const std::string &dir, const std::string &port, const std::string &key, long value);
std::string uart_settings(const std::string &dir, const std::string &port);

// Everything the program wrote to the port.
std::string uart_sent(const std::string &dir, const std::string &port);

} // namespace vboard

#endif
