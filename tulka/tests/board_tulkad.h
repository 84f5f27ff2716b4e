// The real tulkad on a virtual board (through vboard's test kit), for the
// integration tests and the benchmark: board set-up, start, socket access
// from the host, stop.
#ifndef TULKA_TESTS_BOARD_TULKAD_H
#define TULKA_TESTS_BOARD_TULKAD_H

#include "tulka/protocol.h"
#include "vboard/temp_dir.h"

#include <chrono>
#include <cstdint>
#include <functional>
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
    vboard::testkit::TempDir m_dir{"tulka_board"};
    int m_pid = -1;
};

// How often `part` stands in `text` (for output too large for a regex).
size_t occurrences(const std::string &text, const std::string &part);

// Polls `done` until it holds or `limit` has passed.
bool await_for(const std::function<bool()> &done, std::chrono::milliseconds limit);

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
    // With `keep_board` the board stays up after tulkad has ended (until this
    // object goes), so that what tulkad leaves behind can be looked at.
    void start(const std::vector<std::string> &args = {}, bool keep_board = false);
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

    // Journal lines of the board's devices that begin with `prefix`.
    std::vector<std::string> journal_lines(const std::string &prefix) const;
    // Plays mode-2 words into the running board's /dev/lirc0, `speed` times
    // faster than real time; returns when the last word is delivered.
    run_result ir_send(const std::vector<uint32_t> &words, double speed);
    // A file of the board's state directory (device state kept outside it).
    std::string state_path(const std::string &name) const;
    // Host pids of the live (not zombie) processes called `name` on the
    // running board.
    std::vector<int> live_processes(const std::string &name) const;

    // A shell command for a board's set-up that makes lircd a test peer:
    // the file driver (no hardware), simulated keys allowed, the remote
    // directory empty and the learned directory there.
    static std::string lircd_setup();

    static const std::string &tulkad_path();
    static const std::string &tulkactl_path();

private:
    struct impl;
    std::unique_ptr<impl> m_impl;
};

} // namespace tulka_test

#endif
