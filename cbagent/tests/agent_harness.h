// The agent on the device library in this process (libvboard.so preloaded,
// VBOARD_STATE set here), with notifications raised by child processes as a
// kernel component would, and notify functions that record what they see.
#ifndef CBAGENT_TESTS_AGENT_HARNESS_H
#define CBAGENT_TESTS_AGENT_HARNESS_H

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cbagent.h"
#include "vboard/cbagent.h"
#include "vboard/temp_dir.h"

namespace cbatest {

// A fresh state directory for the device library; removed at the end.
class DriverBoard {
public:
    DriverBoard();
    ~DriverBoard();
    const std::string &dir() const { return dir_.path(); }
    // Waits until this process's dispatcher has asked the driver for work.
    bool await_driver(int timeout_ms = 5000) const;
    vboard::CbaStats stats() const;
    std::vector<std::string> journal_lines(const std::string &prefix) const;

private:
    vboard::testkit::TempDir dir_{"cbagent-test"};
};

// What one callback saw.
struct CallbackRun {
    uint32_t tag = 0;
    int slot = -1; // from the work thread table, by thread id
    std::string info;
    uint32_t info_size = 0;
    std::string kernel_name;
    int policy = -1;
    int priority = -1;
};

// Notify functions of this process and what they recorded.
namespace notify {
// Records the run, then waits until release() lets callbacks go on (with
// hold(false), the default, it does not wait).
void record(void *info, uint32_t tag);
void hold(bool on);
void release_tag(uint32_t tag);
void release_all();
std::vector<CallbackRun> runs();
size_t run_count();
void reset();
} // namespace notify

// From a callback: the work thread slot it runs on.
int slot_of_this_thread();

uintptr_t address_of(void (*fct)(void *, uint32_t));

// A notification of record() with tag and info.
vboard::CbaNote note_for(uint32_t tag, const std::string &info, void (*fct)(void *, uint32_t) = notify::record);

// Raises from a child process; the raise's result (0 or -errno).
int raise_from_child(const std::string &dir, const vboard::CbaNote &note, uint32_t count = 1);

// Polls cond every millisecond up to timeout_ms.
bool await(const std::function<bool()> &cond, int timeout_ms = 5000);

// This process's threads: (kernel name, policy, rt priority).
struct TaskInfo {
    std::string name;
    int policy = -1;
    int priority = -1;
};
std::vector<TaskInfo> tasks();

// True when this thread may run at SCHED_RR priority 70 (else tests that need it skip).
bool realtime_allowed();

bool record_is_zero();

// While gtest captures standard output: what was printed so far.
std::string captured_so_far();

} // namespace cbatest

#endif
