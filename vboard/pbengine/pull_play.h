// A pull playback as the engine plays it: every byte comes from the
// application through the client's pull handlers.
#ifndef PBENGINE_PULL_PLAY_H
#define PBENGINE_PULL_PLAY_H

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

// Serves the completions of asynchronous reads.
void install_pull();

// "pullplay PB_HANDLE TAG [SLICES SLICE_BYTES]" on connection conn:
// "ok BYTES CHECKSUM" or "error ...".
std::string pull_play(int32_t conn, std::istringstream &in);

} // namespace pbsim

#endif
