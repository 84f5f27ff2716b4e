// Test support for the queue libraries: each test process gets a private IPC
// namespace (its queues never meet the host's or another test's) and a
// private mount namespace with its own key file; peers are forked processes.
#ifndef IPC_SANDBOX_H
#define IPC_SANDBOX_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <string>

namespace ipctest {

// Enters the private namespaces once per process; an empty string when
// ready, else why not (the tests then skip).
const std::string &enter_private_ipc();

void create_key_file();
void remove_key_file();

// Queues that exist in this namespace.
int queue_count();

// Forks a peer process that runs body and exits with its result.
pid_t spawn(const std::function<int()> &body);
// The peer's exit status, 128 + signal when it was killed.
int wait_exit(pid_t pid);
// Waits (bounded) until the process sleeps in msgrcv.
bool wait_blocked_in_receive(pid_t pid);

// Sends standard output to /dev/null while it lives (for floods of log lines).
class QuietStdout {
public:
    QuietStdout();
    ~QuietStdout();
    QuietStdout(const QuietStdout &) = delete;
    QuietStdout &operator=(const QuietStdout &) = delete;

private:
    int saved_;
};

// What body prints on standard output.
std::string output_of(const std::function<void()> &body);

// In a peer: reports a failed check on standard error.
bool check(bool ok, const char *what);

// Every test: in the private namespaces with a key file, guarded against
// hanging, and leaving no queue behind.
class PrivateIpcTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace ipctest

#endif
