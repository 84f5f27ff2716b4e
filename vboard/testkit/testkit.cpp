#include "vboard/testkit.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "common/le_bytes.h"
#include "vboard/journal.h"
#include "vboard/nand.h"
#include "vboard/state.h"

namespace vboard {
namespace testkit {

namespace {

constexpr int kPollStepMs = 5;

std::string slurp(const std::string &path)
{
    std::string text;
    read_text_file(path, &text);
    return text;
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &in, const std::string &out, const std::string &err)
{
    pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    int fds[3] = {::open(in.empty() ? "/dev/null" : in.c_str(), O_RDONLY),
                  ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                  ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
    for (int i = 0; i < 3; ++i) {
        if (fds[i] < 0 || ::dup2(fds[i], i) < 0) {
            ::_exit(127);
        }
        ::close(fds[i]);
    }
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Waits for pid to end within timeout_ms; returns true with *status set.
bool wait_for(pid_t pid, int timeout_ms, int *status)
{
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int wstatus = 0;
        pid_t got = ::waitpid(pid, &wstatus, WNOHANG);
        if (got == pid) {
            if (pidfd >= 0) {
                ::close(pidfd);
            }
            *status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (got < 0 || left.count() <= 0) {
            if (pidfd >= 0) {
                ::close(pidfd);
            }
            return false;
        }
        if (pidfd >= 0) {
            pollfd p = {pidfd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
        }
    }
}

// Runs argv to its end or the timeout (then kills it); output in base.out/.err.
Result run_to_end(const std::vector<std::string> &argv, const std::string &in_path, const std::string &base,
                  int timeout_ms)
{
    Process p(spawn(argv, in_path, base + ".out", base + ".err"), base + ".out", base + ".err");
    Result r;
    r.timed_out = !p.wait(timeout_ms);
    if (r.timed_out) {
        p.kill();
    }
    r.status = p.status();
    r.out = p.out();
    r.err = p.err();
    return r;
}

// Running, and not a zombie that nobody has reaped yet.
bool alive(int pid)
{
    char buf[16];
    return pid > 0 && ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), buf, sizeof buf) > 0;
}

} // namespace

std::string bin_dir()
{
    const char *env = std::getenv("VBOARD_BIN_DIR");
    return env && *env ? env : VBOARD_TESTKIT_BIN_DIR;
}

std::string bin_path(const std::string &program) { return bin_dir() + "/" + program; }

bool await(const std::function<bool()> &cond, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (cond()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
    }
}

Board::Board(const std::string &board_text)
{
    dir_ = work_ + "/state";
    if (!board_text.empty()) {
        set_board_text(board_text);
    }
    prepare();
}

void Board::set_board_text(const std::string &text)
{
    board_file_ = work_ + "/board.conf";
    if (write_text_file(board_file_, text) != 0) {
        throw std::runtime_error("cannot write " + board_file_);
    }
    prepare();
}

// The state directory is usable (NAND readable and seedable) before the first run.
void Board::prepare() const
{
    std::string text;
    std::string error;
    bool own_board = !board_file_.empty() && read_text_file(board_file_, &text) == 0;
    std::string seed_dir = own_board ? work_ : default_seed_dir(bin_dir());
    if (prepare_state(dir_, own_board ? &text : nullptr, &error, seed_dir) != 0) {
        throw std::runtime_error(error);
    }
}

std::vector<std::string> Board::vboard_argv(const char *verb) const
{
    std::vector<std::string> argv = {bin_path("vboard"), verb, "--state", dir_};
    if (!board_file_.empty() && std::string(verb) == "run") {
        argv.insert(argv.end(), {"--board", board_file_});
    }
    argv.push_back("--");
    return argv;
}

std::unique_ptr<Process> Board::start(const std::vector<std::string> &argv)
{
    std::vector<std::string> full = vboard_argv("run");
    full.insert(full.end(), argv.begin(), argv.end());
    std::string base = work_ + "/run" + std::to_string(++runs_);
    pid_t pid = spawn(full, "", base + ".out", base + ".err");
    return std::make_unique<Process>(pid, base + ".out", base + ".err");
}

Result Board::run(const std::vector<std::string> &argv, int timeout_ms, const std::string &input)
{
    return finish("run", argv, timeout_ms, input);
}

Result Board::exec(const std::vector<std::string> &argv, int timeout_ms)
{
    return finish("exec", argv, timeout_ms, "");
}

Result Board::finish(const char *verb, const std::vector<std::string> &argv, int timeout_ms, const std::string &input)
{
    std::vector<std::string> full = vboard_argv(verb);
    full.insert(full.end(), argv.begin(), argv.end());
    std::string base = work_ + "/" + verb + std::to_string(++runs_);
    std::string in_path;
    if (!input.empty()) {
        in_path = base + ".in";
        write_text_file(in_path, input);
    }
    return run_to_end(full, in_path, base, timeout_ms);
}

int Board::board_pid(int timeout_ms) const
{
    int pid = -1;
    await(
        [&] {
            std::string text;
            if (read_text_file(state_path(dir_, kBoardPid), &text) != 0) {
                return false;
            }
            pid = std::atoi(text.c_str());
            return alive(pid);
        },
        timeout_ms);
    return alive(pid) ? pid : -1;
}

std::string Board::host_path(const std::string &board_path, int timeout_ms) const
{
    int pid = board_pid(timeout_ms);
    return pid > 0 ? "/proc/" + std::to_string(pid) + "/root" + board_path : std::string();
}

std::string Board::written_path(const std::string &board_path) const
{
    return state_path(dir_, kUpperDir) + board_path;
}

long long Board::cpu_ticks(const std::string &comm) const
{
    std::string proc = host_path("/proc");
    DIR *d = ::opendir(proc.c_str());
    long long ticks = -1;
    while (struct dirent *e = d ? ::readdir(d) : nullptr) {
        std::ifstream stat(proc + "/" + e->d_name + "/stat");
        std::string pid, name, skip;
        if (stat >> pid >> name && name == "(" + comm + ")") {
            for (int i = 0; i < 11; ++i) {
                stat >> skip;
            }
            long long utime = 0, stime = 0;
            stat >> utime >> stime;
            ticks = utime + stime;
        }
    }
    if (d) {
        ::closedir(d);
    }
    return ticks;
}

std::vector<std::string> Board::journal() const { return read_journal(dir_); }

std::vector<std::string> Board::journal_lines(const std::string &prefix) const
{
    std::vector<std::string> out;
    for (const std::string &line : journal()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

std::string Board::read_nand(uint64_t offset, size_t length) const
{
    Nand nand;
    std::string error;
    if (nand_open(&nand, dir_, nullptr, &error) != 0) {
        throw std::runtime_error(error);
    }
    std::string bytes(length, '\0');
    int rc = nand_peek(&nand, offset, &bytes[0], length);
    nand_close(&nand);
    if (rc != 0) {
        throw std::runtime_error("read_nand: range beyond the NAND");
    }
    return bytes;
}

void Board::seed_nand(uint64_t offset, const std::string &bytes)
{
    Nand nand;
    std::string error;
    if (nand_open(&nand, dir_, nullptr, &error) != 0) {
        throw std::runtime_error(error);
    }
    int rc = nand_seed(&nand, offset, bytes.data(), bytes.size());
    nand_close(&nand);
    if (rc != 0) {
        throw std::runtime_error("seed_nand: range beyond the NAND");
    }
}

std::array<Rgb, 5> Board::leds() const
{
    std::array<Rgb, 5> leds{};
    std::string text = slurp(state_path(dir_, kLeds));
    for (size_t i = 0; i < leds.size() && text.size() >= i * 7 + 6; ++i) {
        unsigned long v = std::strtoul(text.substr(i * 7, 6).c_str(), nullptr, 16);
        leds[i] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    }
    return leds;
}

std::string ir_words_bytes(const std::vector<uint32_t> &words)
{
    std::string bytes(words.size() * 4, '\0');
    for (size_t i = 0; i < words.size(); ++i) {
        le::store32(&bytes[i * 4], words[i]);
    }
    return bytes;
}

std::vector<std::string> Board::ir_send_argv(const std::string &capture, double speed)
{
    std::string file = work_ + "/capture" + std::to_string(++runs_);
    if (write_text_file(file, capture) != 0) {
        throw std::runtime_error("cannot write " + file);
    }
    char speed_text[32];
    std::snprintf(speed_text, sizeof speed_text, "%g", speed);
    return {bin_path("vboard"), "ir-send", "--state", dir_, "--speed", speed_text, file};
}

Result Board::ir_send(const std::string &capture, double speed, int timeout_ms)
{
    return run_to_end(ir_send_argv(capture, speed), "", work_ + "/ir-send" + std::to_string(++runs_), timeout_ms);
}

Result Board::ir_send(const std::vector<uint32_t> &words, double speed, int timeout_ms)
{
    return ir_send(ir_words_bytes(words), speed, timeout_ms);
}

std::unique_ptr<Process> Board::start_ir_send(const std::vector<uint32_t> &words, double speed)
{
    std::string base = work_ + "/ir-send" + std::to_string(++runs_);
    pid_t pid = spawn(ir_send_argv(ir_words_bytes(words), speed), "", base + ".out", base + ".err");
    return std::make_unique<Process>(pid, base + ".out", base + ".err");
}

Result Board::cba_raise(const std::vector<std::string> &args, int timeout_ms)
{
    std::vector<std::string> argv = {bin_path("vboard"), "cba-raise", "--state", dir_};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_to_end(argv, "", work_ + "/cba-raise" + std::to_string(++runs_), timeout_ms);
}

Process::Process(pid_t pid, std::string out_path, std::string err_path)
    : pid_(pid), out_path_(std::move(out_path)), err_path_(std::move(err_path))
{
    if (pid_ <= 0) {
        throw std::runtime_error("cannot start vboard"); // and never signal pid 0 or -1
    }
}

Process::~Process()
{
    if (!done_) {
        kill();
    }
}

int Process::signal(int sig) { return done_ ? -1 : ::kill(pid_, sig); }

bool Process::wait(int timeout_ms)
{
    if (!done_) {
        done_ = wait_for(pid_, timeout_ms, &status_);
    }
    return done_;
}

bool Process::running() { return !wait(0); }

std::string Process::out() const { return slurp(out_path_); }

std::string Process::err() const { return slurp(err_path_); }

bool Process::await_out(const std::string &text, int timeout_ms)
{
    return await([&] { return out().find(text) != std::string::npos; }, timeout_ms);
}

void Process::kill()
{
    if (done_) {
        return;
    }
    ::kill(pid_, SIGKILL);
    wait(10000);
}

} // namespace testkit
} // namespace vboard
