#include "lircd_lines.h"

#include <cstddef>
#include <cstdio>
#include <utility>

namespace tulka {

namespace {

// lircd's packets are a command, a status and a few data lines. A "BEGIN"
// whose "END" never comes must not hide the key lines after it for the rest
// of the connection.
constexpr std::size_t max_packet_lines = 64;

std::string without_newline(const std::string &line)
{
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

std::optional<lircd_key_line> parse_key_line(const std::string &line)
{
    // Fields can be as long as the line itself.
    std::vector<char> button(line.size() + 1), remote(line.size() + 1);
    unsigned int repeat = 0;
    if (std::sscanf(line.c_str(), "%*x %x %s %s\n", &repeat, button.data(), remote.data()) != 3)
        return std::nullopt;
    return lircd_key_line{repeat, button.data(), remote.data()};
}

lircd_line_reader::item lircd_line_reader::feed(const std::string &line)
{
    const std::string text = without_newline(line);
    if (m_in_packet && text != "END" && m_current.lines.size() == max_packet_lines)
        reset();
    if (!m_in_packet) {
        if (text != "BEGIN") {
            if (auto key = parse_key_line(line))
                return std::move(*key);
            return {};
        }
        reset();
        m_in_packet = true;
    } else if (text == "END") {
        lircd_packet done = std::move(m_current);
        reset();
        return done;
    } else if (!m_have_command) {
        m_current.command = text;
        m_have_command = true;
    } else {
        m_current.lines.push_back(text);
    }
    return {};
}

void lircd_line_reader::reset()
{
    m_in_packet = false;
    m_have_command = false;
    m_current = lircd_packet{};
}

} // namespace tulka
