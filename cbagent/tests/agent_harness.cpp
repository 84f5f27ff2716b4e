#include "agent_harness.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "vboard/journal.h"
#include "vboard/state.h"

namespace cbatest {

DriverBoard::DriverBoard()
{
    std::string error;
    std::string board = "nand.size = 1M\nnand.erasesize = 128K\nnand.writesize = 2K\nnand.oobsize = 64\n";
    if (vboard::prepare_state(dir(), &board, &error) != 0) {
        throw std::runtime_error(error);
    }
    ::setenv(vboard::kStateEnv, dir().c_str(), 1);
}

DriverBoard::~DriverBoard() { ::unsetenv(vboard::kStateEnv); }

bool DriverBoard::await_driver(int timeout_ms) const
{
    vboard::CbaStats s;
    return await([&] { return vboard::cba_stats(dir(), ::getpid(), &s) == 0; }, timeout_ms);
}

vboard::CbaStats DriverBoard::stats() const
{
    vboard::CbaStats s;
    vboard::cba_stats(dir(), ::getpid(), &s);
    return s;
}

std::vector<std::string> DriverBoard::journal_lines(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (const std::string &line : vboard::read_journal(dir())) {
        if (line.rfind(prefix, 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

namespace notify {
namespace {
std::mutex lock;
std::condition_variable changed;
std::vector<CallbackRun> seen;
std::set<uint32_t> released;
bool holding = false;
bool all_released = false;

} // namespace

void record(void *info, uint32_t tag)
{
    const auto *item = reinterpret_cast<const CbItem *>(static_cast<uint8_t *>(info) - offsetof(CbItem, cb_info));
    CallbackRun run;
    run.tag = tag;
    run.slot = slot_of_this_thread();
    run.info_size = item->cb_info_sz;
    run.info.assign(static_cast<const char *>(info), std::min<size_t>(item->cb_info_sz, CBA_INFO_SIZE));
    char name[16] = "";
    pthread_getname_np(pthread_self(), name, sizeof name);
    run.kernel_name = name;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &run.policy, &param);
    run.priority = param.sched_priority;
    std::unique_lock<std::mutex> guard(lock);
    seen.push_back(run);
    changed.notify_all();
    changed.wait(guard, [&] { return !holding || all_released || released.count(tag) != 0; });
}

void hold(bool on)
{
    std::lock_guard<std::mutex> guard(lock);
    holding = on;
    all_released = false;
    released.clear();
}

void release_tag(uint32_t tag)
{
    std::lock_guard<std::mutex> guard(lock);
    released.insert(tag);
    changed.notify_all();
}

void release_all()
{
    std::lock_guard<std::mutex> guard(lock);
    all_released = true;
    changed.notify_all();
}

std::vector<CallbackRun> runs()
{
    std::lock_guard<std::mutex> guard(lock);
    return seen;
}

size_t run_count()
{
    std::lock_guard<std::mutex> guard(lock);
    return seen.size();
}

void reset()
{
    std::lock_guard<std::mutex> guard(lock);
    seen.clear();
    released.clear();
    holding = false;
    all_released = false;
}
} // namespace notify

// The agent writes the slot table under its main lock; a callback holds no lock.
int slot_of_this_thread()
{
    pthread_mutex_lock(&_arCbAgentUser.lock);
    int found = -1;
    for (int slot = 0; slot < CBA_WORK_THREADS; ++slot) {
        if (pthread_equal(_arWork_Thread[slot].tid, pthread_self())) {
            found = slot;
        }
    }
    pthread_mutex_unlock(&_arCbAgentUser.lock);
    return found;
}

uintptr_t address_of(void (*fct)(void *, uint32_t)) { return reinterpret_cast<uintptr_t>(fct); }

vboard::CbaNote note_for(uint32_t tag, const std::string &info, void (*fct)(void *, uint32_t))
{
    vboard::CbaNote note;
    note.fct = fct ? address_of(fct) : 0;
    note.tag = tag;
    note.info_size = static_cast<uint32_t>(info.size());
    std::memcpy(note.info, info.data(), info.size());
    note.pid = static_cast<uint32_t>(::getpid());
    return note;
}

int raise_from_child(const std::string &dir, const vboard::CbaNote &note, uint32_t count)
{
    int target = ::getpid();
    pid_t child = ::fork();
    if (child == 0) {
        vboard::Journal journal;
        vboard::journal_bind(&journal, dir);
        int rc = vboard::cba_raise(dir, target, note, count, &journal);
        ::_exit(rc == 0 ? 0 : 100 + (-rc % 100));
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -ECHILD;
    }
    return WEXITSTATUS(status) == 0 ? 0 : -(WEXITSTATUS(status) - 100);
}

bool await(const std::function<bool()> &cond, int timeout_ms)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<TaskInfo> tasks()
{
    std::vector<TaskInfo> out;
    DIR *d = ::opendir("/proc/self/task");
    while (struct dirent *e = d ? ::readdir(d) : nullptr) {
        if (e->d_name[0] == '.') {
            continue;
        }
        std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm"), stat(base + "/stat");
        TaskInfo t;
        std::getline(comm, t.name);
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t name_end = text.rfind(')');
        if (name_end == std::string::npos || name_end + 2 > text.size()) {
            continue; // the thread ended meanwhile
        }
        // Fields after the name, which is in parentheses: state is field 3,
        // rt_priority field 40, policy field 41.
        std::istringstream rest(text.substr(name_end + 2));
        std::string field;
        for (int n = 3; rest >> field && n <= 41; ++n) {
            if (n == 40)
                t.priority = std::atoi(field.c_str());
            if (n == 41)
                t.policy = std::atoi(field.c_str());
        }
        if (!t.name.empty()) {
            out.push_back(t);
        }
    }
    if (d) {
        ::closedir(d);
    }
    return out;
}

bool realtime_allowed()
{
    bool ok = false;
    std::thread([&] {
        sched_param p{};
        p.sched_priority = CBA_THREAD_PRIORITY;
        ok = pthread_setschedparam(pthread_self(), SCHED_RR, &p) == 0;
    }).join();
    return ok;
}

bool record_is_zero()
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&_arCbAgentUser);
    return std::all_of(bytes, bytes + sizeof _arCbAgentUser, [](unsigned char b) { return b == 0; });
}

std::string captured_so_far()
{
    std::fflush(stdout);
    std::ifstream in("/proc/self/fd/1");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace cbatest
