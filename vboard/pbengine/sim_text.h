// Numbers and bytes in control lines.
#ifndef PBENGINE_SIM_TEXT_H
#define PBENGINE_SIM_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pbsim {

std::string hex(const uint8_t *p, size_t n);
bool parse_hex(const std::string &text, std::vector<uint8_t> &out);
// Decimal, 0x hex, or negative (as its two's complement); false if it does
// not fit.
bool parse_number(const std::string &text, uint64_t &out);

} // namespace pbsim

#endif
