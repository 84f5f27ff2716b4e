#include "engine_harness.h"

#include "rpcipc.h"
#include "vboard/temp_dir.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char **environ;

namespace pbharness {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(20);
constexpr auto kPollStep = std::chrono::milliseconds(5);
constexpr time_t kAnswerTimeoutS = 20;

int connect_control()
{
    char path[sizeof(sockaddr_un{}.sun_path)];
    if (rpc_endpoint_path("pbengine.ctl", path, sizeof path) != RPCR_OK)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace

const std::string &use_private_rpc_dir()
{
    // Removed with the socket files when the test program ends.
    static const vboard::testkit::TempDir dir("qivrpc");
    static const bool exported = ::setenv(RPC_DIR_ENV, dir.path().c_str(), 1) == 0;
    (void)exported;
    return dir.path();
}

Engine::~Engine() { stop(); }

bool Engine::start()
{
    use_private_rpc_dir();
    char *const argv[] = {const_cast<char *>(PBENGINE_PATH), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its banner must not land in a test's captured output.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawn(&pid_, PBENGINE_PATH, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (cmd("conns").compare(0, 2, "ok") == 0)
            return true;
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    kill();
    return false;
}

void Engine::end(int sig)
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, sig);
    int status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

void Engine::stop() { end(SIGTERM); }

void Engine::kill() { end(SIGKILL); }

std::string Engine::cmd(const std::string &line)
{
    const int fd = connect_control();
    if (fd < 0)
        return "";
    // A simulator that stopped answering fails the test instead of hanging it.
    const timeval limit{kAnswerTimeoutS, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const std::string text = line + "\n";
    std::string answer;
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n')
            answer += c;
    }
    ::close(fd);
    return answer;
}

std::string Engine::ok(const std::string &line)
{
    const std::string answer = cmd(line);
    if (answer == "ok")
        return "";
    return answer.compare(0, 3, "ok ") == 0 ? answer.substr(3) : "error";
}

Outcome run(const std::string &command)
{
    Outcome r;
    FILE *f = popen(command.c_str(), "r");
    if (!f)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        r.out.append(buf, n);
    const int st = pclose(f);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace pbharness
