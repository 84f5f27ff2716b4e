// The misc service: audio volumes per channel and the user preferences,
// kept for the life of the simulator (until reset).
#ifndef PBENGINE_MISC_H
#define PBENGINE_MISC_H

#include <sstream>
#include <string>

namespace pbsim {

// Registers the misc service's operations.
void install_misc();

// misc volume CH -> "ok V"; misc lang TYPE C0 C1 C2; misc text VALUE [TEXT].
std::string misc_command(std::istringstream &in);
void misc_reset();

} // namespace pbsim

#endif
