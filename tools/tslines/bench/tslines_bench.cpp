// Throughput of tslines against moreutils' ts (sub-second format) on the
// same large console log, measured in the same run. tslines runs with the
// board's device library preloaded, which answers its time service.
//
//   build/host/bench/tslines_bench [MIB]      (default 8)
//
// Both wall time and processor time (user + system of the child) are shown:
// on a busy machine the processor time is the steadier figure.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vboard/state.h"
#include "vboard/temp_dir.h"

namespace {

constexpr int kTslinesRounds = 3;
constexpr int kTsRounds = 1; // ts is slow enough that one run is steady

struct Timing {
    double wall = 0;
    double cpu = 0;
};

struct Log {
    std::string path;
    size_t bytes = 0;
    size_t lines = 0;
};

// Lines shaped like a kernel console: a bracketed time, a driver, a message.
Log make_log(const std::string &path, size_t mib)
{
    Log log{path, 0, 0};
    std::string text;
    for (size_t i = 0; text.size() < (mib << 20); ++i) {
        char line[160];
        int n = std::snprintf(line, sizeof line, "[%8zu.%06zu] drv_uart2: port %zu rx %zu bytes, status 0x%08zx%s\n",
                              i / 1000, i % 1000 * 997, i % 3, i * 37 % 4096, i * 2654435761u,
                              i % 5 == 0 ? " (overrun recovered after retry)" : "");
        text.append(line, static_cast<size_t>(n));
        ++log.lines;
    }
    log.bytes = text.size();
    if (vboard::write_text_file(path, text) != 0) {
        std::fprintf(stderr, "tslines_bench: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    return log;
}

double seconds(const timeval &tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; }

// One run of argv with the log on its standard input.
Timing run_once(const std::vector<std::string> &argv, const std::vector<std::string> &env, const Log &log)
{
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int in = ::open(log.path.c_str(), O_RDONLY);
        int out = ::open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0) {
            ::_exit(127);
        }
        for (const std::string &e : env) {
            ::putenv(const_cast<char *>(e.c_str()));
        }
        std::vector<char *> args;
        for (const std::string &a : argv) {
            args.push_back(const_cast<char *>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "tslines_bench: %s failed (status %d)\n", argv[0].c_str(), status);
        std::exit(1);
    }
    Timing t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return t;
}

Timing best_of(int rounds, const std::vector<std::string> &argv, const std::vector<std::string> &env, const Log &log)
{
    Timing best{1e9, 1e9};
    for (int i = 0; i < rounds; ++i) {
        Timing t = run_once(argv, env, log);
        best.wall = t.wall < best.wall ? t.wall : best.wall;
        best.cpu = t.cpu < best.cpu ? t.cpu : best.cpu;
    }
    return best;
}

void report(const char *name, const char *clock, double s, const Log &log)
{
    std::printf("%-36s %-4s %8.3f s %9.1f MB/s %12.0f lines/s\n", name, clock, s, log.bytes / s / 1e6, log.lines / s);
}

} // namespace

int main(int argc, char **argv)
{
    size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
    const vboard::testkit::TempDir dir("tslines-bench");
    Log log = make_log(dir.file("console.log"), mib ? mib : 8);
    std::printf("log: %.1f MB, %zu lines; tslines best of %d runs, ts %d\n", log.bytes / 1e6, log.lines, kTslinesRounds,
                kTsRounds);

    std::vector<std::string> board_env = {std::string("LD_PRELOAD=") + VBOARD_LIBRARY,
                                          std::string(vboard::kStateEnv) + "=" + dir.path()};
    Timing tslines = best_of(kTslinesRounds, {TSLINES_PATH}, board_env, log);
    Timing ts = best_of(kTsRounds, {"ts", "-m", "%H:%M:%.S"}, {}, log);
    report("tslines (syscall 370 via libvboard)", "wall", tslines.wall, log);
    report("", "cpu", tslines.cpu, log);
    report("ts -m '%H:%M:%.S' (moreutils)", "wall", ts.wall, log);
    report("", "cpu", ts.cpu, log);
    std::printf("ratio (ts time / tslines time): wall %.1fx, cpu %.1fx\n", ts.wall / tslines.wall,
                ts.cpu / tslines.cpu);
    return 0;
}
