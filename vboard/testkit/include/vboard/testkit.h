// Test kit for integration tests that run programs on the virtual board.
//
//   vboard::testkit::Board board;                 // fresh state directory
//   auto r = board.run({"sh", "-c", "cat /proc/mtd"});
//   EXPECT_EQ(r.status, 0);
//   auto daemon = board.start({bin_path("tulkad")});
//   std::string sock = board.host_path("/tmp/tulka_socket");
//
// The directory is removed at the end unless VBOARD_KEEP is set (TempDir).
#ifndef VBOARD_TESTKIT_H
#define VBOARD_TESTKIT_H

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vboard/temp_dir.h"

namespace vboard {
namespace testkit {

struct Result {
    int status = -1; // exit status of `vboard run` (128 + signal when killed)
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
};

// Directory of the built programs (build/<preset>/bin) and a program in it.
std::string bin_dir();
std::string bin_path(const std::string &program);

// Raw 4-byte little-endian mode-2 words, as /dev/lirc0 delivers them.
std::string ir_words_bytes(const std::vector<uint32_t> &words);

// Polls cond every few milliseconds until it holds or timeout_ms pass.
bool await(const std::function<bool()> &cond, int timeout_ms);

class Process;

class Board {
public:
    // board_text: the board file to use; empty for the default board.
    explicit Board(const std::string &board_text = "");
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    const std::string &dir() const { return dir_; }   // the state directory
    const std::string &work() const { return work_; } // scratch space beside it
    void set_board_text(const std::string &text);     // board file of the next runs

    // Runs argv on a fresh boot of this board; the board is killed at timeout.
    Result run(const std::vector<std::string> &argv, int timeout_ms = 10000, const std::string &input = "");
    // Runs argv on the running board (vboard exec).
    Result exec(const std::vector<std::string> &argv, int timeout_ms = 10000);
    // Boots the board with argv in the background.
    std::unique_ptr<Process> start(const std::vector<std::string> &argv);

    // Host PID of the running board's init, waiting up to timeout_ms; -1 if none.
    int board_pid(int timeout_ms = 5000) const;
    // A path through which the host reaches board_path on the running board.
    std::string host_path(const std::string &board_path, int timeout_ms = 5000) const;
    // A file the board wrote (upper layer of its root), e.g. "/network.ini".
    std::string written_path(const std::string &board_path) const;
    // Processor ticks used so far by the running board's process named comm
    // (its /proc stat's utime + stime); -1 when there is none.
    long long cpu_ticks(const std::string &comm) const;

    std::vector<std::string> journal() const;
    // Journal lines that begin with prefix.
    std::vector<std::string> journal_lines(const std::string &prefix) const;
    // Whole-NAND access (holes and erased pages read 0xFF; seeded pages count as programmed).
    std::string read_nand(uint64_t offset, size_t length) const;
    void seed_nand(uint64_t offset, const std::string &bytes);
    std::array<Rgb, 5> leds() const;

    // Feeds a capture to the running board's /dev/lirc0 as a remote would
    // (`vboard ir-send`): each word arrives when its pulse or space ends, time
    // divided by speed; a space of 16777215 (the receiver's timeout) takes
    // 125 ms. capture is 'pulse N' / 'space N' lines, or raw words. Returns
    // when the last word was delivered (status 0).
    Result ir_send(const std::string &capture, double speed = 1, int timeout_ms = 30000);
    Result ir_send(const std::vector<uint32_t> &words, double speed = 1, int timeout_ms = 30000);
    // The same in the background (wait() on the result).
    std::unique_ptr<Process> start_ir_send(const std::vector<uint32_t> &words, double speed = 1);

    // Raises notifications for a process's callback agent (`vboard cba-raise`):
    // args are PID FCT TAG [INFO [COUNT]], PID wake or PID fail ERRNO.
    Result cba_raise(const std::vector<std::string> &args, int timeout_ms = 10000);

private:
    // Writes words to a fresh file in work() and returns the ir-send command.
    std::vector<std::string> ir_send_argv(const std::string &capture, double speed);
    std::vector<std::string> vboard_argv(const char *verb) const;
    // Runs `vboard <verb> ... -- argv` to its end or the timeout.
    Result finish(const char *verb, const std::vector<std::string> &argv, int timeout_ms, const std::string &input);
    void prepare() const;

    TempDir temp_{"vboard-test"};
    std::string work_ = temp_.path();
    std::string dir_;
    std::string board_file_;
    int runs_ = 0;
    friend class Process;
};

// A command running on a board in the background.
class Process {
public:
    Process(pid_t pid, std::string out_path, std::string err_path);
    ~Process(); // kills the board if it still runs
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    pid_t pid() const { return pid_; } // of the `vboard run` process
    // Sends sig to the command on the board. Returns 0 or -1.
    int signal(int sig);
    // Waits up to timeout_ms; returns true and sets the status when it ended.
    bool wait(int timeout_ms);
    bool running();
    int status() const { return status_; }
    std::string out() const;
    std::string err() const;
    // Waits until the standard output holds text.
    bool await_out(const std::string &text, int timeout_ms);
    // Kills the board (SIGKILL to vboard, whose board dies with it) and reaps it.
    void kill();

private:
    pid_t pid_;
    int status_ = -1;
    bool done_ = false;
    std::string out_path_;
    std::string err_path_;
};

} // namespace testkit
} // namespace vboard

#endif
