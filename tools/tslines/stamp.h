// The time stamp that tslines puts in front of a line: "HH:MM:SS.mmm ".
#ifndef TOOLS_TSLINES_STAMP_H
#define TOOLS_TSLINES_STAMP_H

#include <cstdint>

namespace tslines {

constexpr int kStampLength = 13;

// Fills out with the stamp of seconds and microseconds as the board's time
// service returns them; hours count modulo 100.
void format_stamp(uint32_t seconds, uint32_t microseconds, char out[kStampLength]);

// Reads the board's time service (system call 370). Returns 0, or the
// call's errno with both values zero.
int read_time(uint32_t *seconds, uint32_t *microseconds);

} // namespace tslines

#endif
