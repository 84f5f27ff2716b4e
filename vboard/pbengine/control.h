// The control socket's verbs: one line in, one answer line out.
#ifndef PBENGINE_CONTROL_H
#define PBENGINE_CONTROL_H

#include <cstdio>
#include <string>

namespace pbsim {

// Runs one control command line; the answer starts with "ok" or "error".
std::string command(const std::string &line);

// Every control verb with its arguments, one a line.
void print_control_usage(FILE *out);

} // namespace pbsim

#endif
