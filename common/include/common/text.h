// Numbers, hex bytes and errno names as people write them in the board's
// text: board files, the runner's arguments, the engine simulator's control
// lines. Strict: nothing around the digits (no spaces, no '+'), no value
// that does not fit.
#ifndef COMMON_TEXT_H
#define COMMON_TEXT_H

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace board {

// Bases for parse_number: any takes 0x hex and 0-led octal as C does.
constexpr int kAnyBase = 0;
constexpr int kDecimal = 10;

// Errno values the board takes: Linux's (up to 133) with room to spare.
constexpr int kLastErrno = 200;

// A whole number within [0, max]. Returns false (and leaves *value) if the
// text is anything else.
inline bool parse_number(const std::string &text, uint64_t max, uint64_t *value, int base = kAnyBase)
{
    // strtoull itself would skip spaces and take a sign.
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    *value = v;
    return true;
}

// As parse_number up to UINT64_MAX, or '-' and a number up to 2^63, given
// as its two's complement (so that it casts back to the negative value).
inline bool parse_signed(const std::string &text, uint64_t *value)
{
    if (text.empty() || text[0] != '-')
        return parse_number(text, UINT64_MAX, value);
    uint64_t magnitude = 0;
    if (!parse_number(text.substr(1), uint64_t{1} << 63, &magnitude))
        return false;
    *value = 0 - magnitude;
    return true;
}

inline int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "00ff10" -> bytes appended to *out (a string or a vector of bytes).
// Returns false, having appended nothing, unless every pair is two hex digits.
template <class Bytes> bool parse_hex_bytes(const std::string &text, Bytes *out)
{
    if (text.size() % 2)
        return false;
    Bytes bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = hex_digit(text[i]);
        const int lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<typename Bytes::value_type>(hi * 16 + lo));
    }
    out->insert(out->end(), bytes.begin(), bytes.end());
    return true;
}

// "EIO" or a number -> an errno value in [1, kLastErrno]; 0 if it is neither.
inline int parse_errno(const std::string &text)
{
    for (int e = 1; e <= kLastErrno; ++e) {
        const char *name = ::strerrorname_np(e);
        if (name && text == name)
            return e;
    }
    uint64_t v = 0;
    return parse_number(text, kLastErrno, &v) ? static_cast<int>(v) : 0;
}

} // namespace board

#endif
