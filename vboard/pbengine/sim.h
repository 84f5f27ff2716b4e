// The engine simulator's state: what each operation answers, what it was
// last called with, and the call-backs it makes.
#ifndef PBENGINE_SIM_H
#define PBENGINE_SIM_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pbsim {

// Registers the operation handlers with the transport.
void install();

// Makes a call-back (code, value per argument) from a thread of the
// simulator, once the operation being served has answered.
std::string call_back_soon(int32_t conn, const std::string &name, uint64_t func,
                           const std::vector<std::pair<uint32_t, uint64_t>> &args);

// Runs one control command line; the answer starts with "ok" or "error".
std::string command(const std::string &line);

} // namespace pbsim

#endif
