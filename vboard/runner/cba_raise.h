// `vboard cba-raise`: notifications for a process's callback agent, raised as
// a kernel component would; and the callback driver's lines of `vboard state`.
#ifndef VBOARD_RUNNER_CBA_RAISE_H
#define VBOARD_RUNNER_CBA_RAISE_H

#include <string>
#include <vector>

namespace vboard {

// args: PID FCT TAG [INFO [COUNT]] | PID wake | PID fail ERRNO. Returns the exit status.
int cba_raise_command(const std::string &dir, const std::vector<std::string> &args);

// One line per process that has the driver open (or left it open when it died).
void print_cba_report(const std::string &dir);

} // namespace vboard

#endif
