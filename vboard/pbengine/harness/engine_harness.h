// Starts pbengine for a test or benchmark and talks to its control socket.
#ifndef PBENGINE_HARNESS_H
#define PBENGINE_HARNESS_H

#include <sys/types.h>

#include <string>

namespace pbharness {

// Points QIV_RPC_DIR of this process (and so of the engines it starts) at a
// fresh directory, removed again at exit; parallel tests never meet.
const std::string &use_private_rpc_dir();

// A program's exit status (-1: it did not exit) and standard output.
struct Outcome {
    int status = -1;
    std::string out;
};
// Runs a shell command line and waits for its end.
Outcome run(const std::string &command);

class Engine {
public:
    Engine() = default;
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    // Starts pbengine and waits, bounded, until its control socket answers.
    bool start();
    void stop(); // SIGTERM, then reaped
    void kill(); // SIGKILL, then reaped
    bool running() const { return pid_ > 0; }

    // One control line; the answer without its newline ("" if unreachable).
    std::string cmd(const std::string &line);
    // The answer's text after "ok ", or "error" when it was not ok.
    std::string ok(const std::string &line);

private:
    void end(int sig);
    pid_t pid_ = -1;
};

} // namespace pbharness

#endif
