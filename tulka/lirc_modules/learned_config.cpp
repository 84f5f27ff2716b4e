#include "learned_config.h"

#include <iomanip>
#include <sstream>

namespace tulka {

namespace {

constexpr std::size_t values_per_line = 6;
constexpr int code_field_width = 8;
constexpr int raw_field_width = 10;
const char *const code_line_start = "         ";

void write_code(std::ostream &out, const std::string &key, const ir_signal &code)
{
    out << "          name " << key;
    for (std::size_t i = 0; i < code.size(); ++i) {
        if (i % values_per_line == 0)
            out << '\n' << code_line_start;
        out << std::setw(code_field_width) << code[i];
    }
    out << "\n\n";
}

void write_raw_comment(std::ostream &out, const ir_signal &raw)
{
    out << "# BEGIN RAW IR DATA CAPTURE";
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (i % values_per_line == 0)
            out << "\n#";
        out << std::setw(raw_field_width) << raw[i];
    }
    out << "\n# END RAW IR DATA CAPTURE\n";
}

} // namespace

void end_with_pulse(ir_signal &code)
{
    if (!code.empty() && code.size() % 2 == 0)
        code.pop_back();
}

std::string learned_config_text(const std::string &key, std::uint32_t gap, const ir_signal &first,
                                const ir_signal &second, const ir_signal &raw)
{
    std::ostringstream out;
    out << "begin remote\n\n"
        << "  name learned_" << key << '\n'
        << "  flags RAW_CODES|CONST_LENGTH\n"
        << "  eps " << same_rel_tolerance_percent << '\n'
        << "  aeps " << same_abs_tolerance_us << '\n'
        << "  gap " << gap << '\n'
        << "  ptrail          0\n"
        << "  repeat     0     0\n\n"
        << "      begin raw_codes\n\n";
    write_code(out, key, first);
    if (!second.empty())
        write_code(out, key, second);
    out << "      end raw_codes\n\n"
        << "end remote\n\n";
    write_raw_comment(out, raw);
    return out.str();
}

} // namespace tulka
