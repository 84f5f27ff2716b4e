// `vboard state DIR`: the state of a board in a form people can read.
#ifndef VBOARD_RUNNER_REPORT_H
#define VBOARD_RUNNER_REPORT_H

#include <string>

namespace vboard {

// Prints the report on standard output. Returns 0, or 1 when DIR holds no board.
int print_state_report(const std::string &dir);

} // namespace vboard

#endif
