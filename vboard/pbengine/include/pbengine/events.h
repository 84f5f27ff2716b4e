// The events the engine simulator raises to an application's event function
// (registered with "x_QivPb_Ctrl_RegCallback") while it plays a pull
// playback, and the records their data points to (little-endian). For
// programs that play against the simulator, such as pbplay.
#ifndef PBENGINE_EVENTS_H
#define PBENGINE_EVENTS_H

#include <cstdint>

namespace pbsim {

// Raised each time another tenth of the input has been read; data: PlayProgress.
constexpr uint32_t kEventProgress = 200;
// Raised once, last, when the play ends however it ends; data: PlayEnd.
constexpr uint32_t kEventEndOfStream = 201;

struct PlayProgress {
    uint64_t ui8_bytes;  // read so far
    uint64_t ui8_length; // the input length the application gave
};

struct PlayEnd {
    int32_t i4_result; // 0: the whole input was read; -1: a pull call failed or Stop came first
    uint32_t ui4_reserved;
    uint64_t ui8_bytes;
    uint64_t ui8_checksum; // stream hash of what was read (common/stream_hash.h)
};

static_assert(sizeof(PlayProgress) == 16, "progress record: 16 bytes");
static_assert(sizeof(PlayEnd) == 24, "end record: 24 bytes");

} // namespace pbsim

#endif
