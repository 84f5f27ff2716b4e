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

// Serves op if it is one of push mode's; false otherwise. Stop, TS stop
// and close also drop what the playback still holds, and answer false so
// that their usual answer follows.
bool push_builtin(int32_t conn, const std::string &op, uint32_t argc, RPC_ARG_T *args, int8_t &result);

// "push slices COUNT BYTES | ex BYTES MAX | delay MS | hold | go | stat H | drain H".
std::string push_command(std::istringstream &in);

// Ends every push playback and frees its blocks; back to the defaults.
void push_reset();

} // namespace pbsim

#endif
