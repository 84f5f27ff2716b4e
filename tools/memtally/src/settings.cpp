#include "settings.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace memtally {

namespace {

constexpr uint64_t kKilo = 1024;
constexpr uint64_t kMega = 1048576;

bool starts_with(const char *text, const char *prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// A decimal number with an optional sign; false when text holds no digit
// first (the setting then keeps its value). Clamped to the int range.
bool read_decimal(const char *text, int *value)
{
    const char *digits = text + (*text == '-' || *text == '+');
    if (!std::isdigit(static_cast<unsigned char>(*digits))) {
        return false;
    }
    long long v = std::strtoll(text, nullptr, 10);
    *value = static_cast<int>(v < INT_MIN ? INT_MIN : v > INT_MAX ? INT_MAX : v);
    return true;
}

// A byte offset: decimal, times 1024 or 1048576 when the text ends in K/k
// or M/m. Offsets past 32 bits stop at 0xFFFFFFFF instead of wrapping.
bool read_offset(const char *text, uint32_t *value)
{
    if (!std::isdigit(static_cast<unsigned char>(*text))) {
        return false;
    }
    unsigned long long v = std::strtoull(text, nullptr, 10);
    char last = text[std::strlen(text) - 1];
    uint64_t unit = (last == 'K' || last == 'k') ? kKilo : (last == 'M' || last == 'm') ? kMega : 1;
    bool too_big = v > UINT32_MAX || v * unit > UINT32_MAX;
    *value = too_big ? UINT32_MAX : static_cast<uint32_t>(v * unit);
    return true;
}

// An index option: the value minus 1; a malformed value leaves the setting
// as it was, still minus 1.
void read_index(const char *text, int *index)
{
    int value = *index;
    read_decimal(text, &value);
    *index = value == INT_MIN ? INT_MIN : value - 1;
}

void read_short_dump(const char *rest, Settings *s)
{
    s->dump = true;
    if (*rest == '\0') {
        s->dump_count = 1;
    } else if (std::isdigit(static_cast<unsigned char>(*rest))) {
        s->dump_count = *rest - '0';
    }
}

void read_argument(const char *arg, Settings *s)
{
    if (starts_with(arg, "--help")) {
        s->help = true;
    } else if (starts_with(arg, "-sa=")) {
        read_offset(arg + 4, &s->range_start);
    } else if (starts_with(arg, "-ea=")) {
        read_offset(arg + 4, &s->range_end);
    } else if (starts_with(arg, "-d=") || starts_with(arg, "d=")) {
        s->dump = true;
        read_decimal(std::strchr(arg, '=') + 1, &s->dump_count);
    } else if (starts_with(arg, "-file=")) {
        read_decimal(arg + 6, &s->file_mode);
    } else if (starts_with(arg, "-t=")) {
        read_decimal(arg + 3, &s->thread_mode);
    } else if (starts_with(arg, "-dsidx=")) {
        read_index(arg + 7, &s->dump_start);
    } else if (starts_with(arg, "-deidx=")) {
        read_index(arg + 7, &s->dump_end);
    } else if (starts_with(arg, "-d")) {
        read_short_dump(arg + 2, s);
    } else if (starts_with(arg, "-t")) {
        if (arg[2] == '0' || arg[2] == '1') {
            s->thread_mode = arg[2] - '0';
        }
    }
}

} // namespace

Settings parse_arguments(int argc, const char *const *argv)
{
    Settings s;
    for (int i = 1; i < argc; ++i) {
        read_argument(argv[i], &s);
    }
    return s;
}

const char *const kUsageText =
    "Usage: memtally [option(s)]\n"
    " The options are:\n"
    "  -d=DUMP_NUMBER                  Dump memtally DUMP_NUMBER times and exit \n"
    "                                  memtally after dump.\n"
    "  -t=THREAD_INFO                  Display thread info if THREAD_INFO = 1.\n"
    "  -sa=START_ADDRESS               Monitor dram range start address. Unit is byte\n"
    "                                  . Add 'M' or 'K' in end of START_ADDRESS means\n"
    "                                  mega bytes or kilo bytes.\n"
    "  -ea=END_ADDRESS                 Monitor dram range end address. Unit is byte.\n"
    "                                  Add 'M' or 'K' in end of END_ADDRESS means\n"
    "                                  mega bytes or kilo bytes.\n"
    "  -file=BUFFER_CACHE_INFO         Display detail buffer cache info if\n"
    "                                  BUFFER_CACHE_INFO = 1\n"
    "  -dsidx=DUMP_START_INDEX         In dump mode, dump from DUMP_START_INDEX\n"
    "  -deidx=DUMP_END_INDEX           In dump mode, dump to DUMP_END_INDEX";

} // namespace memtally
