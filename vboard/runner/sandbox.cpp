#include "sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "vboard/boot_layout.h"
#include "vboard/journal.h"
#include "vboard/state.h"

namespace vboard {

namespace {

// Signals a supervisor passes on to its command when they were sent to it
// with kill(); the terminal sends its own straight to the command.
constexpr int kForwarded[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2};
constexpr char kReady = 'R';

void complain(const std::string &what) { std::fprintf(stderr, "vboard: %s\n", what.c_str()); }

int complain_errno(const std::string &what)
{
    complain(what + ": " + std::strerror(errno));
    return -1;
}

std::string self_exe()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string dirname_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string absolute(const std::string &path)
{
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

std::string preload_library()
{
    const char *env = std::getenv("VBOARD_PRELOAD");
    if (env && *env) {
        return env;
    }
    return dirname_of(dirname_of(self_exe())) + "/lib/libvboard.so";
}

std::string pid_namespace_of(const std::string &proc_dir)
{
    char buf[64];
    ssize_t n = ::readlink((proc_dir + "/ns/pid").c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

sigset_t supervised_signals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    sigaddset(&set, kPowerCutSignal);
    sigaddset(&set, reboot_signal());
    for (int sig : kForwarded) {
        sigaddset(&set, sig);
    }
    return set;
}

int exit_status(int wait_status)
{
    if (WIFEXITED(wait_status)) {
        return WEXITSTATUS(wait_status);
    }
    return WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : kSetupFailed;
}

bool sent_by_a_process(const signalfd_siginfo &info) { return info.ssi_code <= 0; }

// Programs built with AddressSanitizer refuse to start when a preloaded
// library comes before the sanitizer's runtime, as the device library does.
void allow_preload_before_sanitizer()
{
    const char kOption[] = "verify_asan_link_order=0";
    const char *old = std::getenv("ASAN_OPTIONS");
    if (!old || !*old) {
        ::setenv("ASAN_OPTIONS", kOption, 1);
    } else if (!std::strstr(old, "verify_asan_link_order")) {
        ::setenv("ASAN_OPTIONS", (std::string(old) + ":" + kOption).c_str(), 1);
    }
}

// In the child: the environment of a board process, then the command.
[[noreturn]] void exec_command(const std::vector<std::string> &command, const std::string &state_dir,
                               const std::string &board_ns, const std::vector<std::string> &extra_env)
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    std::string preload = preload_library();
    const char *old = std::getenv("LD_PRELOAD");
    if (old && *old) {
        preload += ":" + std::string(old);
    }
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::setenv(kStateEnv, state_dir.c_str(), 1);
    ::setenv(kBoardEnv, board_ns.c_str(), 1);
    allow_preload_before_sanitizer();
    for (const std::string &kv : extra_env) {
        ::putenv(const_cast<char *>(kv.c_str()));
    }
    std::vector<char *> argv;
    for (const std::string &arg : command) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    int error = errno;
    complain("cannot run " + command[0] + ": " + std::strerror(error));
    ::_exit(error == ENOENT ? 127 : 126);
}

// Waits for the child, passing on signals sent to this process.
int supervise(pid_t child)
{
    sigset_t set = supervised_signals();
    int sfd = ::signalfd(-1, &set, SFD_CLOEXEC);
    for (;;) {
        signalfd_siginfo info;
        if (::read(sfd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
            continue;
        }
        if (info.ssi_signo == SIGCHLD) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                ::close(sfd);
                return exit_status(status);
            }
        } else if (sent_by_a_process(info) && info.ssi_signo != static_cast<uint32_t>(kPowerCutSignal)) {
            ::kill(child, static_cast<int>(info.ssi_signo));
        }
    }
}

int mkdir_p(const std::string &path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return -1;
        }
        if (slash == std::string::npos) {
            return 0;
        }
    }
}

bool under(const std::string &path, const char *top)
{
    size_t n = std::strlen(top);
    return path.compare(0, n, top) == 0 && (path.size() == n || path[n] == '/');
}

int mount_at(const char *source, const std::string &target, const char *type, unsigned long flags, const char *data)
{
    if (mkdir_p(target) != 0 || ::mount(source, target.c_str(), type, flags, data) != 0) {
        return complain_errno("cannot mount " + std::string(type ? type : source) + " on " + target);
    }
    return 0;
}

// Host directories that must stay reachable at their own path on the board,
// although /tmp, /run and /dev/shm are fresh there.
int bind_host_dir(const std::string &root, const std::string &dir)
{
    return mount_at(dir.c_str(), root + dir, nullptr, MS_BIND | MS_REC, nullptr);
}

// Directories of the host that must stay visible although they lie under a
// fresh mount: the tree that holds the device library (a build tree in /tmp:
// its bin, lib and tests directories) and the command's.
std::vector<std::string> host_dirs_to_keep(const std::string &state_dir, const std::string &command)
{
    std::vector<std::string> keep;
    std::vector<std::string> wanted = {dirname_of(dirname_of(preload_library()))};
    if (command.find('/') != std::string::npos) {
        char real[PATH_MAX];
        if (::realpath(command.c_str(), real)) {
            wanted.push_back(dirname_of(real));
        }
    }
    for (const std::string &dir : wanted) {
        bool fresh = under(dir, "/tmp") || under(dir, "/run") || under(dir, "/dev/shm");
        bool kept = under(dir, state_dir.c_str());
        for (const std::string &k : keep) {
            kept = kept || under(dir, k.c_str());
        }
        if (fresh && !kept) {
            keep.push_back(dir);
        }
    }
    return keep;
}

int build_root(const std::string &state_dir, const std::string &command)
{
    std::string root = state_path(state_dir, kRootDir);
    std::string upper = state_path(state_dir, kUpperDir);
    std::string work = state_path(state_dir, kWorkDir);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return complain_errno("cannot make the mounts private");
    }
    if (mkdir_p(upper) != 0 || mkdir_p(work) != 0) {
        return complain_errno("cannot create the overlay directories in " + state_dir);
    }
    std::string options = "lowerdir=/,upperdir=" + upper + ",workdir=" + work;
    if (mount_at("overlay", root, "overlay", 0, options.c_str()) != 0) {
        complain("the state directory must be on a local file system (ext4, xfs, tmpfs) for the overlay");
        return -1;
    }
    bool ok = mount_at("proc", root + "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) == 0 &&
              mount_at("/dev", root + "/dev", nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
              mount_at("tmpfs", root + "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0 &&
              mount_at("/sys", root + "/sys", nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
              mount_at("tmpfs", root + "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0 &&
              mount_at("tmpfs", root + "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=755") == 0 &&
              bind_host_dir(root, state_dir) == 0;
    for (const std::string &dir : host_dirs_to_keep(state_dir, command)) {
        ok = ok && bind_host_dir(root, dir) == 0;
    }
    if (!ok) {
        return -1;
    }
    if (::chdir(root.c_str()) != 0 || ::syscall(SYS_pivot_root, ".", ".") != 0 || ::umount2(".", MNT_DETACH) != 0) {
        return complain_errno("cannot enter the board's root");
    }
    return 0;
}

struct Init {
    std::string state_dir;
    std::vector<std::string> command;
    std::vector<std::string> extra_env;
    std::string cwd;
    int ready_fd = -1;
};

void journal_note(const std::string &state_dir, const std::string &line)
{
    Journal journal;
    journal_bind(&journal, state_dir);
    journal_line(&journal, line);
}

// Ends the board: every process in it dies with init.
[[noreturn]] void power_off(int status)
{
    if (::getpid() == 1) {
        ::kill(-1, SIGKILL);
    }
    ::_exit(status);
}

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// PID 1 of the board.
[[noreturn]] void init_main(const Init &init)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getpid() != 1) {
        complain("not the init of a new PID namespace");
        ::_exit(kSetupFailed);
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        complain_errno("cannot make a mount namespace");
        ::_exit(kSetupFailed);
    }
    if (build_root(init.state_dir, init.command[0]) != 0) {
        ::_exit(kSetupFailed);
    }
    if (init.cwd.empty() || ::chdir(init.cwd.c_str()) != 0) {
        ::chdir("/");
    }
    std::string board_ns = pid_namespace_of("/proc/self");
    pid_t command = ::fork();
    if (command == 0) {
        ::close(init.ready_fd);
        exec_command(init.command, init.state_dir, board_ns, init.extra_env);
    }
    char ready = kReady;
    ::write(init.ready_fd, &ready, 1);
    ::close(init.ready_fd);

    sigset_t set = supervised_signals();
    int sfd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    long long reset_at = -1;
    for (;;) {
        int timeout = reset_at < 0 ? -1 : static_cast<int>(std::max(0LL, reset_at - now_ms()));
        pollfd p = {sfd, POLLIN, 0};
        ::poll(&p, 1, timeout);
        signalfd_siginfo info;
        bool power_cut = false;
        int command_status = -1;
        while (::read(sfd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            int sig = static_cast<int>(info.ssi_signo);
            if (sig == SIGCHLD) {
                int status = 0;
                for (pid_t pid; (pid = ::waitpid(-1, &status, WNOHANG)) > 0;) {
                    if (pid == command) {
                        command_status = exit_status(status);
                    }
                }
            } else if (sig == kPowerCutSignal) {
                power_cut = true;
            } else if (sig == reboot_signal()) {
                reset_at = reset_at < 0 ? now_ms() + kRebootDelayMs : reset_at;
            } else if (sent_by_a_process(info) && command > 0) {
                ::kill(command, sig);
            }
        }
        if (power_cut) {
            power_off(128 + SIGKILL);
        }
        if (command_status >= 0) {
            power_off(command_status);
        }
        if (reset_at >= 0 && now_ms() >= reset_at) {
            journal_note(init.state_dir, "reset");
            power_off(kRebootStatus);
        }
    }
}

int make_state_dir(RunOptions *options)
{
    if (options->state_dir.empty()) {
        char tmpl[] = "/tmp/vboard.XXXXXX";
        if (!::mkdtemp(tmpl)) {
            return complain_errno("cannot create a state directory");
        }
        options->state_dir = tmpl;
        std::fprintf(stderr, "vboard: state directory %s\n", tmpl);
        return 0;
    }
    if (mkdir_p(options->state_dir) != 0) {
        return complain_errno("cannot create " + options->state_dir);
    }
    char real[PATH_MAX];
    if (!::realpath(options->state_dir.c_str(), real)) {
        return complain_errno("cannot resolve " + options->state_dir);
    }
    options->state_dir = real;
    if (options->state_dir.find_first_of(",:") != std::string::npos) {
        complain("the state directory's path must not contain ',' or ':'");
        return -1;
    }
    return 0;
}

int prepare(const RunOptions &options)
{
    std::string text;
    std::string error;
    if (!options.board_file.empty() && read_text_file(options.board_file, &text) != 0) {
        return complain_errno("cannot read " + options.board_file);
    }
    // A board file's seeds lie beside it; the default board's in vboard's data directory.
    std::string seed_dir = options.board_file.empty() ? default_seed_dir(dirname_of(self_exe()))
                                                      : dirname_of(absolute(options.board_file));
    if (prepare_state(options.state_dir, options.board_file.empty() ? nullptr : &text, &error, seed_dir) != 0) {
        complain((options.board_file.empty() ? "" : options.board_file + ": ") + error);
        return -1;
    }
    if (::access(preload_library().c_str(), R_OK) != 0) {
        complain("cannot find the device library " + preload_library() + " (set VBOARD_PRELOAD)");
        return -1;
    }
    return 0;
}

std::string current_dir()
{
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string("/");
}

bool is_root()
{
    if (::geteuid() == 0) {
        return true;
    }
    complain("must be run as root (it makes mount and PID namespaces)");
    return false;
}

} // namespace

int running_board_pid(const std::string &dir)
{
    std::string text;
    if (read_text_file(state_path(dir, kBoardPid), &text) != 0) {
        return -1;
    }
    int pid = std::atoi(text.c_str());
    std::string exe_link = "/proc/" + std::to_string(pid) + "/exe";
    char buf[PATH_MAX];
    ssize_t n = ::readlink(exe_link.c_str(), buf, sizeof buf - 1);
    if (pid <= 0 || n <= 0 || std::string(buf, static_cast<size_t>(n)) != self_exe()) {
        return -1;
    }
    return pid;
}

namespace {

// A board whose runner was just killed still winds down for a moment: its
// init ends only after every process on it has. Wait that out rather than
// refuse the next run.
constexpr int kWindDownMs = 5000;

int board_running_after_wind_down(const std::string &dir)
{
    int pid = running_board_pid(dir);
    if (pid <= 0) {
        return pid;
    }
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return errno == ESRCH ? -1 : pid;
    }
    struct pollfd exited = {pidfd, POLLIN, 0};
    int ready = ::poll(&exited, 1, kWindDownMs);
    ::close(pidfd);
    return ready == 1 ? running_board_pid(dir) : pid;
}

} // namespace

int run_board(RunOptions options)
{
    if (!is_root() || make_state_dir(&options) != 0 || prepare(options) != 0) {
        return kSetupFailed;
    }
    int other = board_running_after_wind_down(options.state_dir);
    if (other > 0) {
        complain("a board is already running on " + options.state_dir + " (pid " + std::to_string(other) + ")");
        return kSetupFailed;
    }
    journal_note(options.state_dir, "boot " + std::to_string(next_boot(options.state_dir)));
    std::string error;
    if (boot_layout_at_boot(options.state_dir, &error) != 0) {
        complain(error);
        return kSetupFailed;
    }
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        complain_errno("pipe");
        return kSetupFailed;
    }
    sigset_t set = supervised_signals();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    if (::unshare(CLONE_NEWPID) != 0) {
        complain_errno("cannot make a PID namespace (namespaces unavailable?)");
        return kSetupFailed;
    }
    Init init{options.state_dir, options.command, options.extra_env, current_dir(), ready[1]};
    pid_t pid = ::fork();
    if (pid < 0) {
        complain_errno("fork");
        return kSetupFailed;
    }
    if (pid == 0) {
        ::close(ready[0]);
        init_main(init);
    }
    ::close(ready[1]);
    char byte = 0;
    std::string pid_file = state_path(options.state_dir, kBoardPid);
    if (::read(ready[0], &byte, 1) == 1 && byte == kReady) {
        write_text_file(pid_file, std::to_string(pid) + "\n");
    }
    ::close(ready[0]);
    int status = supervise(pid);
    ::unlink(pid_file.c_str());
    return status;
}

int exec_on_board(const std::string &state_dir, const std::vector<std::string> &command,
                  const std::vector<std::string> &extra_env)
{
    if (!is_root()) {
        return kSetupFailed;
    }
    char real[PATH_MAX];
    int pid = ::realpath(state_dir.c_str(), real) ? running_board_pid(real) : -1;
    if (pid < 0) {
        complain("no board is running on " + state_dir);
        return kSetupFailed;
    }
    std::string proc = "/proc/" + std::to_string(pid);
    std::string board_ns = pid_namespace_of(proc);
    int pid_ns = ::open((proc + "/ns/pid").c_str(), O_RDONLY | O_CLOEXEC);
    int mnt_ns = ::open((proc + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    int root = ::open((proc + "/root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string cwd = current_dir();
    if (pid_ns < 0 || mnt_ns < 0 || root < 0 || ::setns(pid_ns, CLONE_NEWPID) != 0 ||
        ::setns(mnt_ns, CLONE_NEWNS) != 0 || ::fchdir(root) != 0 || ::chroot(".") != 0) {
        complain_errno("cannot join the board");
        return kSetupFailed;
    }
    if (::chdir(cwd.c_str()) != 0) {
        ::chdir("/");
    }
    sigset_t set = supervised_signals();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        exec_command(command, real, board_ns, extra_env);
    }
    if (child < 0) {
        complain_errno("fork");
        return kSetupFailed;
    }
    return supervise(child);
}

} // namespace vboard
