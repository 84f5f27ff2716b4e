// Starting commands on a board: a private mount and PID namespace over an
// overlay of the host's root.
#ifndef VBOARD_RUNNER_SANDBOX_H
#define VBOARD_RUNNER_SANDBOX_H

#include <string>
#include <vector>

namespace vboard {

// Exit status of vboard's own failures (no board could be started).
constexpr int kSetupFailed = 125;
// Exit status of a run whose board was reset by a reboot request.
constexpr int kRebootStatus = 0;

struct RunOptions {
    std::string board_file; // empty: the state directory's board, else the default
    std::string state_dir;  // empty: a fresh directory
    std::vector<std::string> command;
    std::vector<std::string> extra_env; // "NAME=value" for the command
};

// Boots a board, runs the command on it and powers the board off when the
// command ends. Returns the exit status for vboard.
int run_board(RunOptions options);

// Runs a command on the board that is running on the state directory.
int exec_on_board(const std::string &state_dir, const std::vector<std::string> &command,
                  const std::vector<std::string> &extra_env);

// Host PID of the init of the board running on dir, or -1.
int running_board_pid(const std::string &dir);

} // namespace vboard

#endif
