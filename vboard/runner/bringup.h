// The runner's side of the bring-up devices: verbs that set what the
// programs see (an input pin's level, the clock of system call 370) and
// their lines in `vboard state`.
#ifndef VBOARD_RUNNER_BRINGUP_H
#define VBOARD_RUNNER_BRINGUP_H

#include <string>
#include <vector>

namespace vboard {

// vboard gpio --state DIR [PIN LEVEL]: sets PIN's input level, or lists the pins.
int gpio_verb(const std::string &dir, const std::vector<std::string> &args);

// vboard clock --state DIR [SECONDS[.FRACTION] [run]]: sets the clock of
// system call 370 (frozen there, or running on with run), or shows it.
int clock_verb(const std::string &dir, const std::vector<std::string> &args);

// The bring-up devices' part of `vboard state`.
void print_bringup_state(const std::string &dir);

} // namespace vboard

#endif
