// The misc service: audio volumes per channel and the user preferences,
// kept for the life of the simulator (until reset).
#ifndef PBENGINE_MISC_H
#define PBENGINE_MISC_H

#include "rpcipc.h"

#include <cstdint>
#include <sstream>
#include <string>

namespace pbsim {

// True for the misc service's operations; result is its answer.
bool misc_builtin(const std::string &op, uint32_t argc, RPC_ARG_T *args, int8_t &result);

// misc volume CH -> "ok V"; misc lang TYPE C0 C1 C2; misc text VALUE [TEXT].
std::string misc_command(std::istringstream &in);
void misc_reset();

// Writes an out value or out place of an argument (sim.cpp).
void write_out(RPC_ARG_T &a, uint64_t value);

} // namespace pbsim

#endif
