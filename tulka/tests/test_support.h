// Shared helpers of the LIRC module tests: a log that records its lines and
// builders of mode-2 captures.
#ifndef TULKA_TESTS_TEST_SUPPORT_H
#define TULKA_TESTS_TEST_SUPPORT_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ir_signal.h"
#include "lircd_control.h"
#include "log_sink.h"

namespace tulka::test {

struct recorded_log {
    std::vector<std::pair<log_level, std::string>> lines;
    bool debug = true;

    log_sink sink()
    {
        return log_sink([this](log_level level) { return debug || level != log_level::debug; },
                        [this](log_level level, const std::string &text) { lines.emplace_back(level, text); });
    }
    std::vector<std::string> texts(log_level level) const
    {
        std::vector<std::string> out;
        for (const auto &[lvl, text] : lines)
            if (lvl == level)
                out.push_back(text);
        return out;
    }
    bool has(log_level level, const std::string &text) const
    {
        const auto all = texts(level);
        return std::find(all.begin(), all.end(), text) != all.end();
    }
};

// A command runner that only records the command lines.
struct recorded_commands {
    std::vector<std::string> lines;
    shell_runner runner()
    {
        return [this](const std::string &command) {
            lines.push_back(command);
            return 0;
        };
    }
};

constexpr lirc_value P(lirc_value us) { return lirc_pulse_bit | us; }
constexpr lirc_value S(lirc_value us) { return us; }
constexpr lirc_value timeout_space = lirc_timeout_duration;

inline ir_signal operator+(ir_signal a, const ir_signal &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct nec_timing {
    lirc_value lead_pulse = 9000, lead_space = 4500, pulse = 560, one = 1690, zero = 560;
};

// Address, inverted address, command, inverted command, least significant
// bit first, then a closing pulse: 67 values.
inline ir_signal nec_frame(unsigned address, unsigned command, nec_timing t = {})
{
    ir_signal frame{P(t.lead_pulse), S(t.lead_space)};
    for (unsigned byte : {address, address ^ 0xFFu, command, command ^ 0xFFu})
        for (int bit = 0; bit < 8; ++bit)
            frame = frame + ir_signal{P(t.pulse), S((byte >> bit) & 1 ? t.one : t.zero)};
    return frame + ir_signal{P(t.pulse)};
}

// NEC's repeat code after the gap that follows a frame.
inline ir_signal nec_repeat() { return {S(39500), P(9000), S(2250), P(560)}; }

// Sony-like: a 2400 µs header, then 12 bits as 1200/600 µs pulses with
// 600 µs spaces between them: 25 values.
inline ir_signal sony_frame(unsigned code)
{
    ir_signal frame{P(2400), S(600)};
    for (int bit = 0; bit < 12; ++bit) {
        frame.push_back(P((code >> bit) & 1 ? 1200 : 600));
        if (bit < 11)
            frame.push_back(S(600));
    }
    return frame;
}

} // namespace tulka::test

#include <filesystem>
#include <fstream>
#include <sstream>

#include "vboard/temp_dir.h"

namespace tulka::test {

// A fresh directory, removed with everything in it at the end of the test.
class temp_dir {
public:
    // With a trailing "/", as configuration directories are given.
    std::string dir() const { return m_dir.path() + "/"; }
    std::string sub(const std::string &name) const
    {
        std::filesystem::create_directories(m_dir.file(name));
        return m_dir.file(name) + "/";
    }

private:
    vboard::testkit::TempDir m_dir{"tulka_lirc"};
};

inline std::string read_text(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void write_text(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline bool exists(const std::string &path) { return std::filesystem::exists(path); }

} // namespace tulka::test

#endif
