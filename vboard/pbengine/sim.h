// The engine simulator's state: what each operation answers, what it was
// last called with, and the call-backs it makes.
#ifndef PBENGINE_SIM_H
#define PBENGINE_SIM_H

#include <string>
#include <vector>

namespace pbsim {

// Registers the operation handlers with the transport.
void install();

// Runs one control command line; the answer starts with "ok" or "error".
std::string command(const std::string &line);

} // namespace pbsim

#endif
