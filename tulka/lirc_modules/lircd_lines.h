// Lines that lircd writes to its socket clients: decoded codes
// ("<code> <repeat> <button> <remote>") and reply or broadcast packets
// between "BEGIN" and "END" lines.
#ifndef TULKA_LIRC_MODULES_LIRCD_LINES_H
#define TULKA_LIRC_MODULES_LIRCD_LINES_H

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tulka {

struct lircd_key_line {
    std::uint32_t repeat = 0;
    std::string button;
    std::string remote;
};

// Scans one line the way lircd's broadcast format is read: a hexadecimal
// code (skipped), the repeat count in hexadecimal, the button and the
// remote. Nothing when one of the last three is missing.
std::optional<lircd_key_line> parse_key_line(const std::string &line);

// A reply or broadcast packet of lircd, e.g. the "SIGHUP" after a reload.
struct lircd_packet {
    std::string command;
    std::vector<std::string> lines; // after the command, "END" excluded
};

// Sorts a connection's lines into key lines and packets, so that the lines
// of a packet are never taken for keys.
class lircd_line_reader {
public:
    using item = std::variant<std::monostate, lircd_key_line, lircd_packet>;

    // One line, with or without its newline: a key line, a packet that this
    // line completes, or nothing.
    item feed(const std::string &line);

    // A new connection starts outside any packet.
    void reset();

private:
    bool m_in_packet = false;
    bool m_have_command = false;
    lircd_packet m_current;
};

} // namespace tulka

#endif
