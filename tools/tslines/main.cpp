// tslines: copies standard input to standard output and puts the time in
// front of every line after the first ("HH:MM:SS.mmm ").
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/help_option.h"
#include "stamp.h"

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr char kUsage[] =
    "usage: tslines < INPUT\n"
    "Copies standard input to standard output and puts the time (HH:MM:SS.mmm)\n"
    "in front of every line after the first.\n";

// A line has just ended: the next character other than a line end gets a stamp.
bool line_ended = false;
// The time service's failure is told once, not on every stamp.
bool failure_told = false;

void read_stamp(char stamp[tslines::kStampLength])
{
    uint32_t seconds, microseconds;
    int error = tslines::read_time(&seconds, &microseconds);
    if (error != 0 && !failure_told) {
        failure_told = true;
        std::fprintf(stderr, "tslines: time service failed (%s); stamps show 00:00:00.000\n", std::strerror(error));
    }
    tslines::format_stamp(seconds, microseconds, stamp);
}

void copy_chunk(const char *p, size_t n)
{
    for (const char *end = p + n; p != end; ++p) {
        char c = *p;
        if (line_ended && c != '\n' && c != '\r') {
            line_ended = false;
            char stamp[tslines::kStampLength];
            read_stamp(stamp);
            for (char s : stamp) {
                putchar_unlocked(s);
            }
        }
        if (c == '\n') {
            line_ended = true;
        }
        putchar_unlocked(c);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "tslines", kUsage)) {
        return 0;
    }
    static char out_buffer[kChunk];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    static char chunk[kChunk];
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // End of input ends the filter, which used to ask for more for ever.
            std::fflush(stdout);
            return n < 0 || std::ferror(stdout) ? 1 : 0;
        }
        copy_chunk(chunk, static_cast<size_t>(n));
        // Whatever has arrived is shown before waiting for more.
        if (std::fflush(stdout) != 0) {
            return 1;
        }
    }
}
