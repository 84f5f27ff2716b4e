#include "ipc_sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "ipcq/queues.h"

namespace ipctest {

namespace {

constexpr char kKeyDir[] = "/usr/local/bin";
constexpr unsigned kTestAlarmSeconds = 60;

std::string failure(const char *step) { return std::string(step) + ": " + strerror(errno); }

std::string make_private_namespaces()
{
    if (::unshare(CLONE_NEWIPC | CLONE_NEWNS) != 0) {
        return failure("unshare (needs root)");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return failure("making / private");
    }
    if (::mount("ipctest", kKeyDir, "tmpfs", 0, "mode=0755") != 0) {
        return failure("tmpfs on /usr/local/bin");
    }
    return "";
}

} // namespace

const std::string &enter_private_ipc()
{
    static const std::string why = make_private_namespaces();
    return why;
}

void create_key_file()
{
    int fd = ::open(ipcq::kKeyFile, O_WRONLY | O_CREAT, 0755);
    ASSERT_GE(fd, 0) << strerror(errno);
    ::close(fd);
}

void remove_key_file() { ::unlink(ipcq::kKeyFile); }

int queue_count()
{
    std::ifstream list("/proc/sysvipc/msg");
    std::string line;
    int lines = 0;
    while (std::getline(list, line)) {
        ++lines;
    }
    return lines > 0 ? lines - 1 : 0; // the first line is the heading
}

pid_t spawn(const std::function<int()> &body)
{
    fflush(stdout);
    fflush(stderr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(kTestAlarmSeconds); // alarms are not inherited
        int result = body();
        fflush(stdout);
        ::_exit(result);
    }
    return pid;
}

int wait_exit(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool wait_blocked_in_receive(pid_t pid)
{
    const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream file(wchan);
        std::string where;
        std::getline(file, where);
        if (where.find("msgrcv") != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

QuietStdout::QuietStdout() : saved_(::dup(STDOUT_FILENO))
{
    fflush(stdout);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
}

QuietStdout::~QuietStdout()
{
    fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
}

std::string output_of(const std::function<void()> &body)
{
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    body();
    fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

bool check(bool ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "peer check failed: %s\n", what);
    }
    return ok;
}

void PrivateIpcTest::SetUp()
{
    const std::string &why = enter_private_ipc();
    if (!why.empty()) {
        GTEST_SKIP() << "no private IPC namespace: " << why;
    }
    create_key_file();
    ::alarm(kTestAlarmSeconds); // a lost wake-up fails the test instead of hanging it
}

void PrivateIpcTest::TearDown()
{
    ::alarm(0);
    if (!enter_private_ipc().empty()) {
        return; // skipped: these would be the host's queues
    }
    EXPECT_EQ(queue_count(), 0) << "a test left queues behind";
}

} // namespace ipctest
