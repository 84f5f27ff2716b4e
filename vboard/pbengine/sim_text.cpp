#include "sim_text.h"

#include <cstdlib>

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

bool parse_hex(const std::string &text, std::vector<uint8_t> &out)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char *end = nullptr;
        const std::string pair = text.substr(i, 2);
        const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end)
            return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

bool parse_number(const std::string &text, uint64_t &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    out = text[0] == '-' ? static_cast<uint64_t>(std::strtoll(text.c_str(), &end, 0))
                         : std::strtoull(text.c_str(), &end, 0);
    return *end == 0;
}

} // namespace pbsim
