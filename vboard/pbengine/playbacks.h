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

// Registers the operations that tell a playback its event function and
// pull tag.
void install_playbacks();

void playback_opened(uint32_t h_pb, uint32_t e_buf_mod);
// The answers to Play and Stop: a pull playback's own, else 0.
int8_t playback_play(int32_t conn, uint32_t h_pb);
int8_t playback_stop(uint32_t h_pb);
// Stops its play and keeps what it read for "played".
void playback_closed(uint32_t h_pb);

// "played PB" -> the last play's "ok BYTES CHECKSUM", or an error.
std::string played_command(std::istringstream &in);

// The pull tag of a pull playback's engine parameters (the record in arg).
bool pull_tag_of(const RPC_ARG_T &arg, uint64_t &tag);

// Stops every play and forgets every playback.
void playbacks_reset();

} // namespace pbsim

#endif
