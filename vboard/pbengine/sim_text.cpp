#include "sim_text.h"

#include "common/text.h"

namespace pbsim {

std::string hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

bool parse_hex(const std::string &text, std::vector<uint8_t> &out) { return board::parse_hex_bytes(text, &out); }

bool parse_number(const std::string &text, uint64_t &out) { return board::parse_signed(text, &out); }

} // namespace pbsim
