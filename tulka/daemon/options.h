// Command line of tulkad.
#ifndef TULKA_DAEMON_OPTIONS_H
#define TULKA_DAEMON_OPTIONS_H

#include <cstdint>
#include <string>

namespace tulka {

constexpr const char *tulkad_version = "2.7-rc2";
constexpr uint32_t default_repeat_ms = 300;
constexpr const char *default_config_dir = "/etc/lirc/learned.d/";
constexpr uint32_t default_sample_ms = 3000;

struct settings {
    uint32_t repeat_ms = default_repeat_ms;
    std::string config_dir = default_config_dir;
    uint32_t sample_ms = default_sample_ms;
};

// Banner and usage, every line ending in a newline, then an empty line.
std::string usage_text(const std::string &program);

bool wants_help(int argc, const char *const argv[]);

// --help and --version answer before anything starts: unlike -h they do not
// copy the boot partition's configurations first.
bool wants_long_help(int argc, const char *const argv[]);
bool wants_version(int argc, const char *const argv[]);

// Reads -r, -c and -s. Throws std::invalid_argument for an option without a
// value and boost::bad_lexical_cast for a value that is not a number.
settings read_settings(int argc, const char *const argv[]);

} // namespace tulka

#endif
