#include "board_tulkad.h"

#include "socket_client.h"
#include "vboard/testkit.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tulka_test {
namespace {

using clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::chrono::milliseconds run_limit{10000};
constexpr std::chrono::milliseconds start_limit{5000};
const char *const board_socket = "/tmp/tulka_socket";

// A /proc file of a process that ends while it is read fails with ESRCH,
// which the stream throws: such a file reads as empty.
std::string read_text(const std::string &path)
{
    std::ifstream file(path);
    try {
        return std::string((std::istreambuf_iterator<char>(file)), {});
    } catch (const std::ios_base::failure &) {
        return {};
    }
}

// Starts argv with stdout and stderr going to files. The child's pid.
pid_t spawn(const std::vector<std::string> &argv, const std::string &out, const std::string &err)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null_fd = open("/dev/null", O_RDONLY);
        if (out_fd < 0 || err_fd < 0 || null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 ||
            dup2(err_fd, 2) < 0)
            _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    return pid;
}

int parent_of(int pid)
{
    std::istringstream status(read_text("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("PPid:", 0) == 0)
            return std::atoi(line.c_str() + 5);
    return 0;
}

bool descends_from(int pid, int ancestor)
{
    for (int p = parent_of(pid); p > 1; p = parent_of(p))
        if (p == ancestor)
            return true;
    return false;
}

// The state letter of /proc/PID/stat ('Z' for a zombie).
char process_state(int pid)
{
    const std::string text = read_text("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = text.rfind(')');
    return end == std::string::npos || end + 2 >= text.size() ? '?' : text[end + 2];
}

// Host pids of the processes named `name` below `ancestor` (the board's
// init).
std::vector<int> find_descendants(int ancestor, const std::string &name)
{
    std::vector<int> found;
    DIR *proc = opendir("/proc");
    if (!proc)
        return found;
    while (const dirent *entry = readdir(proc)) {
        const int pid = std::atoi(entry->d_name);
        if (pid > 0 && read_text("/proc/" + std::to_string(pid) + "/comm") == name + "\n" &&
            descends_from(pid, ancestor))
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

int find_descendant(int ancestor, const std::string &name)
{
    const std::vector<int> found = find_descendants(ancestor, name);
    return found.empty() ? 0 : found.front();
}

} // namespace

size_t occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

bool await_for(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    return vboard::testkit::await(done, static_cast<int>(limit.count()));
}

host_program::host_program(const std::vector<std::string> &argv)
{
    m_pid = spawn(argv, m_dir.file("out"), m_dir.file("err"));
}

host_program::~host_program()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

int host_program::pid() const { return m_pid; }

std::string host_program::out() const { return read_text(m_dir.file("out")); }

std::string host_program::err() const { return read_text(m_dir.file("err")); }

bool host_program::wait_out(const std::string &pattern, std::chrono::milliseconds limit) const
{
    const std::regex wanted(pattern);
    return await_for([&] { return std::regex_search(out(), wanted); }, limit);
}

run_result host_program::wait(std::chrono::milliseconds limit)
{
    run_result result;
    if (m_pid <= 0)
        return result;
    int status = 0;
    if (!await_for([&] { return waitpid(m_pid, &status, WNOHANG) != 0; }, limit)) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    m_pid = -1;
    result.out = out();
    result.err = err();
    return result;
}

run_result host_program::stop(int signal_number, std::chrono::milliseconds limit)
{
    if (m_pid > 0)
        kill(m_pid, signal_number);
    return wait(limit);
}

struct board_tulkad::impl {
    vboard::testkit::Board board;
    std::unique_ptr<vboard::testkit::Process> daemon;
    int daemon_pid = 0;

    // Our programs as they run on the board. Sanitized builds need the
    // board's device library allowed ahead of the sanitizer runtime, and
    // keep leak checking on for them.
    static std::vector<std::string> board_program(std::vector<std::string> argv)
    {
#if defined(__SANITIZE_ADDRESS__)
        argv.insert(argv.begin(), {"/usr/bin/env", "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"});
#endif
        return argv;
    }

    static std::vector<std::string> tulkad_command(const std::vector<std::string> &args, const std::string &setup,
                                                   bool keep_board = false)
    {
        std::vector<std::string> command;
        if (!setup.empty())
            command = {"/bin/sh", "-c", setup + " && exec \"$0\" \"$@\""};
        else if (keep_board)
            command = {"/bin/sh", "-c", "\"$0\" \"$@\"; exec sleep 600"};
        std::vector<std::string> tulkad = {tulkad_path()};
        tulkad.insert(tulkad.end(), args.begin(), args.end());
        tulkad = board_program(tulkad);
        command.insert(command.end(), tulkad.begin(), tulkad.end());
        return command;
    }

    run_result run_to_end(const std::vector<std::string> &command)
    {
        return result_of(board.run(command, static_cast<int>(run_limit.count())));
    }

    static run_result result_of(const vboard::testkit::Result &r)
    {
        return {r.timed_out ? -1 : r.status, r.out, r.err};
    }
};

board_tulkad::board_tulkad() : m_impl(std::make_unique<impl>()) {}

board_tulkad::~board_tulkad() = default;

const std::string &board_tulkad::tulkad_path()
{
    static const std::string path = vboard::testkit::bin_path("tulkad");
    return path;
}

const std::string &board_tulkad::tulkactl_path()
{
    static const std::string path = vboard::testkit::bin_path("tulkactl");
    return path;
}

run_result board_tulkad::shell(const std::string &command) { return m_impl->run_to_end({"/bin/sh", "-c", command}); }

run_result board_tulkad::run(const std::vector<std::string> &args, const std::string &setup)
{
    return m_impl->run_to_end(impl::tulkad_command(args, setup));
}

run_result board_tulkad::exec(const std::vector<std::string> &argv)
{
    return impl::result_of(m_impl->board.exec(impl::board_program(argv), static_cast<int>(run_limit.count())));
}

void board_tulkad::start(const std::vector<std::string> &args, bool keep_board)
{
    m_impl->daemon = m_impl->board.start(impl::tulkad_command(args, "", keep_board));
    const int init = m_impl->board.board_pid(static_cast<int>(start_limit.count()));
    if (init <= 0 ||
        !await_for([&] { return (m_impl->daemon_pid = find_descendant(init, "tulkad")) != 0; }, start_limit))
        throw std::runtime_error("tulkad did not start on the board: " + err());
    // The socket is bound before it listens; clients retry a refused connect.
    struct stat info {};
    if (!await_for([&] { return ::stat(host_path(board_socket).c_str(), &info) == 0 && S_ISSOCK(info.st_mode); },
                   start_limit))
        throw std::runtime_error("tulkad's socket did not appear: " + err());
}

int board_tulkad::connect_client() { return connect_socket(host_path(board_socket), start_limit); }

int board_tulkad::pid() const { return m_impl->daemon_pid; }

long long board_tulkad::cpu_ticks() const
{
    const std::string text = read_text("/proc/" + std::to_string(pid()) + "/stat");
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    // utime and stime are fields 14 and 15; the text after ")" starts at 3.
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stoll(field);
    return ticks;
}

std::string board_tulkad::host_path(const std::string &board_path) const { return m_impl->board.host_path(board_path); }

std::string board_tulkad::out() const { return m_impl->daemon ? m_impl->daemon->out() : ""; }

std::string board_tulkad::err() const { return m_impl->daemon ? m_impl->daemon->err() : ""; }

bool board_tulkad::wait_out(const std::string &pattern, std::chrono::milliseconds limit) const
{
    const std::regex wanted(pattern);
    return await_for([&] { return std::regex_search(out(), wanted); }, limit);
}

run_result board_tulkad::stop(int signal_number)
{
    run_result result;
    if (!m_impl->daemon)
        return result;
    m_impl->daemon->signal(signal_number);
    if (m_impl->daemon->wait(static_cast<int>(run_limit.count())))
        result.status = m_impl->daemon->status();
    result.out = out();
    result.err = err();
    m_impl->daemon.reset();
    m_impl->daemon_pid = 0;
    return result;
}

std::vector<std::string> board_tulkad::journal_lines(const std::string &prefix) const
{
    return m_impl->board.journal_lines(prefix);
}

run_result board_tulkad::ir_send(const std::vector<uint32_t> &words, double speed)
{
    return impl::result_of(m_impl->board.ir_send(words, speed));
}

std::string board_tulkad::state_path(const std::string &name) const { return m_impl->board.dir() + "/" + name; }

std::vector<int> board_tulkad::live_processes(const std::string &name) const
{
    std::vector<int> live;
    const int init = m_impl->board.board_pid(0);
    if (init <= 0)
        return live;
    for (int pid : find_descendants(init, name))
        if (process_state(pid) != 'Z')
            live.push_back(pid);
    return live;
}

std::string board_tulkad::lircd_setup()
{
    return "mkdir -p /etc/lirc/lircd.conf.d /etc/lirc/learned.d && rm -f /etc/lirc/lircd.conf.d/* && "
           "printf '[lircd]\\ndriver = file\\noutput = /var/run/lirc/lircd\\n"
           "pidfile = /var/run/lirc/lircd.pid\\npermission = 666\\nallow-simulate = Yes\\n' "
           "> /etc/lirc/lirc_options.conf && "
           "echo 'include \"lircd.conf.d/*.conf\"' > /etc/lirc/lircd.conf";
}

} // namespace tulka_test
