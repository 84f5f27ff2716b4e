// The real tulkad on a virtual board (through vboard's test kit), for the
// integration tests and the benchmark: board set-up, start, socket access
// from the host, stop.
#pragma once

#include "tulka/protocol.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tulka_test {

struct run_result {
    int status = -1; // exit status, or -1 when killed or timed out
    std::string out;
    std::string err;
};

// A program started on the host, such as tulkactl given a board's socket
// path, with its output going to files.
class host_program {
public:
    explicit host_program(const std::vector<std::string> &argv);
    ~host_program();
    host_program(const host_program &) = delete;
    host_program &operator=(const host_program &) = delete;

    int pid() const;
    std::string out() const;
    std::string err() const;
    // Waits until the output so far holds a match of `pattern`.
    bool wait_out(const std::string &pattern, std::chrono::milliseconds limit) const;
    // Waits for the end (killing it after `limit`); -1 status when killed.
    run_result wait(std::chrono::milliseconds limit);
    run_result stop(int signal_number, std::chrono::milliseconds limit);

private:
    std::string m_dir;
    int m_pid = -1;
};

class board_tulkad {
public:
    board_tulkad();
    ~board_tulkad();
    board_tulkad(const board_tulkad &) = delete;
    board_tulkad &operator=(const board_tulkad &) = delete;

    // Runs a shell command on this board (same state), for set-up and checks.
    run_result shell(const std::string &command);
    // Runs argv on the running board, e.g. tulkactl.
    run_result exec(const std::vector<std::string> &argv);
    // Runs tulkad with `args` until it ends by itself, after the shell
    // command `setup` (in the same run, so that /tmp is the same).
    run_result run(const std::vector<std::string> &args, const std::string &setup = "");
    // Starts tulkad in the background and waits until its socket is there.
    // A first round trip on it proves the daemon is in its event loop.
    void start(const std::vector<std::string> &args = {});
    // A new client connection to the running tulkad's socket, or -1.
    int connect_client();
    // The running tulkad's host process id.
    int pid() const;
    // Processor time the running tulkad has used, in clock ticks.
    long long cpu_ticks() const;
    // Path on the host of a path inside the running board.
    std::string host_path(const std::string &board_path) const;
    // Output so far of the running tulkad.
    std::string out() const;
    std::string err() const;
    // Waits until the output so far holds a match of `pattern`.
    bool wait_out(const std::string &pattern, std::chrono::milliseconds limit) const;
    // Sends `signal_number` and waits for the end.
    run_result stop(int signal_number);

    static const std::string &tulkad_path();
    static const std::string &tulkactl_path();

private:
    struct impl;
    std::unique_ptr<impl> m_impl;
};

} // namespace tulka_test
