// A pull playback as the engine plays it: every byte comes from the
// application through the client's pull handlers.
#ifndef PBENGINE_PULL_PLAY_H
#define PBENGINE_PULL_PLAY_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

namespace pbsim {

constexpr uint32_t kDefaultSlices = 4;
constexpr uint32_t kDefaultSliceBytes = 64 * 1024;

// What one pull playback read: its error ("" when it read the whole input),
// the bytes, their checksum and the input length the application gave.
struct PullOutcome {
    std::string error;
    uint64_t bytes = 0;
    uint64_t sum = 0;
    uint64_t length = 0;
};

// Told after every read: bytes read so far and the input length.
using PullProgress = std::function<void(uint64_t bytes, uint64_t length)>;

// Plays pull playback pb through the client on conn whose pull tag is tag,
// with SLICES slices of slice_bytes; stops early (with an error) once stop
// is set.
PullOutcome run_pull(int32_t conn, uint32_t pb, uint64_t tag, uint32_t slices, uint32_t slice_bytes,
                     const PullProgress &progress, const std::atomic<bool> &stop);

// "pull check on|off": off, the reads are counted but not checksummed.
std::string pull_command(std::istringstream &in);
void pull_reset();

// "ok BYTES CHECKSUM" (checksum in 16 hex digits) or the error.
std::string outcome_line(const PullOutcome &out);

// Serves the completions of asynchronous reads.
void install_pull();

// "pullplay PB_HANDLE TAG [SLICES SLICE_BYTES]" on connection conn:
// "ok BYTES CHECKSUM" or "error ...".
std::string pull_play(int32_t conn, std::istringstream &in);

} // namespace pbsim

#endif
