// Push playback as the engine serves it: slices in korm blocks, buffers
// sent by naming their slices (or Ex buffers the engine makes per request),
// consumed on a thread of the playback's own after a scriptable delay, with
// a consumption notice to the client for each sent buffer.
#ifndef PBENGINE_PUSH_PLAY_H
#define PBENGINE_PUSH_PLAY_H

#include "rpcipc.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

// Registers push mode's operations.
void install_push();

// Stop and TS stop of the playback whose handle is pb: what was sent and not
// yet consumed is dropped. Close also ends its stream and keeps its last
// figures for "push stat".
void push_stopped(const RPC_ARG_T &pb);
void push_closed(const RPC_ARG_T &pb);

// "push slices COUNT BYTES | ex BYTES MAX | delay MS | hold | go | stat H | drain H".
std::string push_command(std::istringstream &in);

// Ends every push playback and frees its blocks; back to the defaults.
void push_reset();

} // namespace pbsim

#endif
