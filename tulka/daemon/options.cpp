#include "options.h"

#include <boost/lexical_cast.hpp>

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace tulka {
namespace {

const char *const opt_help = "-h";
const char *const opt_long_help = "--help";
const char *const opt_version = "--version";
const char *const opt_repeat = "-r";
const char *const opt_config_dir = "-c";
const char *const opt_sample = "-s";

// The value after the first argument equal to `option`, if it is there.
std::optional<std::string> option_value(int argc, const char *const argv[], const std::string &option)
{
    const auto end = argv + argc;
    const auto found = std::find(argv + std::min(argc, 1), end, option);
    if (found == end)
        return std::nullopt;
    if (found + 1 == end)
        throw std::invalid_argument(option + " expects parameter");
    return std::string(found[1]);
}

bool has_option(int argc, const char *const argv[], const char *option)
{
    return std::find(argv + std::min(argc, 1), argv + argc, std::string(option)) != argv + argc;
}

uint32_t number_option(int argc, const char *const argv[], const char *option, uint32_t fallback)
{
    const auto value = option_value(argc, argv, option);
    return value ? boost::lexical_cast<uint32_t>(*value) : fallback;
}

} // namespace

std::string usage_text(const std::string &program)
{
    return std::string("Tulka Server ") + tulkad_version + "\n" + "Build Date " + __DATE__ + " " + __TIME__ + "\n" +
           "usage: " + program + " [OPTION]...\n" + "  -h             Show this message.\n" +
           "  -r MS          Key event repeat in milliseconds. Default: " + std::to_string(default_repeat_ms) + "\n" +
           "  -c DIR         lircd remote config dir. Default: " + default_config_dir + "\n" +
           "  -s MS          Sample milliseconds for learn. Default: " + std::to_string(default_sample_ms) + "\n" +
           "\n";
}

bool wants_help(int argc, const char *const argv[]) { return has_option(argc, argv, opt_help); }

bool wants_long_help(int argc, const char *const argv[]) { return has_option(argc, argv, opt_long_help); }

bool wants_version(int argc, const char *const argv[]) { return has_option(argc, argv, opt_version); }

settings read_settings(int argc, const char *const argv[])
{
    settings result;
    result.repeat_ms = number_option(argc, argv, opt_repeat, default_repeat_ms);
    if (const auto dir = option_value(argc, argv, opt_config_dir))
        result.config_dir = *dir;
    if (!result.config_dir.empty() && result.config_dir.back() != '/')
        result.config_dir += '/';
    result.sample_ms = number_option(argc, argv, opt_sample, default_sample_ms);
    return result;
}

} // namespace tulka
