// The engine's playbacks as Play sees them: the buffering model given at
// open, the pull tag of the engine parameters, the event function of
// "x_QivPb_Ctrl_RegCallback"; Play of a pull playback really plays it.
#ifndef PBENGINE_PLAYBACKS_H
#define PBENGINE_PLAYBACKS_H

#include "rpcipc.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

void playback_opened(uint32_t h_pb, uint32_t e_buf_mod);

// True when the operation's answer is the playback's own (Play and Stop of
// a pull playback); result is that answer. Notes what other operations say
// of a playback and lets them be answered as usual.
bool playback_builtin(int32_t conn, const std::string &op, uint32_t argc, RPC_ARG_T *args, int8_t &result);

// "played PB" -> the last play's "ok BYTES CHECKSUM", or an error.
std::string played_command(std::istringstream &in);

// The pull tag of a pull playback's engine parameters (the record in arg).
bool pull_tag_of(const RPC_ARG_T &arg, uint64_t &tag);

// Stops every play and forgets every playback.
void playbacks_reset();

} // namespace pbsim

#endif
