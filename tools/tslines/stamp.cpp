#include "stamp.h"

#include <unistd.h>

#include <cerrno>

namespace tslines {

namespace {

constexpr long kTimeSyscall = 370;
constexpr long kTimeService = 300000;

void two_digits(unsigned v, char *out)
{
    out[0] = static_cast<char>('0' + v / 10 % 10);
    out[1] = static_cast<char>('0' + v % 10);
}

} // namespace

void format_stamp(uint32_t s, uint32_t us, char out[kStampLength])
{
    unsigned ms = us / 1000;
    two_digits(s / 3600 % 100, out);
    out[2] = ':';
    two_digits(s / 60 % 60, out + 3);
    out[5] = ':';
    two_digits(s % 60, out + 6);
    out[8] = '.';
    // A microsecond count past a whole second keeps the field three digits.
    out[9] = static_cast<char>('0' + ms / 100 % 10);
    two_digits(ms % 100, out + 10);
    out[12] = ' ';
}

int read_time(uint32_t *seconds, uint32_t *microseconds)
{
    uint32_t words[2] = {0, 0};
    int error = 0;
    if (::syscall(kTimeSyscall, kTimeService, words) != 0) {
        // A failed call may have written part of the words.
        error = errno;
        words[0] = words[1] = 0;
    }
    *seconds = words[0];
    *microseconds = words[1];
    return error;
}

} // namespace tslines
