// pbpush: pushes a file or standard input to the playback engine through
// push mode, reading straight into the engine's buffers, with a progress
// bar and the throughput on standard error (the library logs on standard
// output).
#include "qivpbctrl.h"

#include "common/help_option.h"
#include "common/stream_hash.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitEngine = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInput = 3;
constexpr int kExitInterrupted = 130;
constexpr uint32_t kDefaultBuffer = 64 * 1024;
constexpr uint64_t kMaxBuffer = 64u << 20;
constexpr auto kEngineWait = std::chrono::seconds(10);
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;
constexpr double kMiB = 1024.0 * 1024.0;

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: pbpush [-b BYTES] [-q] [FILE | -]\n"
    "  Pushes FILE (standard input when none or -) to the playback engine in\n"
    "  push mode, in buffers of BYTES (default 65536; K and M suffixes, at most\n"
    "  64M), with a progress bar and the throughput on standard error, and\n"
    "  ends with the byte count and the stream's checksum (the one pbengine's\n"
    "  \"push stat\" reports).\n"
    "  -q  no progress bar\n"
    "exit status: 0 every byte consumed by the engine, 1 the engine or the\n"
    "library failed, 2 bad usage, 3 the input cannot be read, 130 interrupted\n";

bool parse_size(const char *text, uint32_t &out)
{
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno || end == text || *text == '-')
        return false;
    if (*end == 'K' || *end == 'k')
        v <<= 10, ++end;
    else if (*end == 'M' || *end == 'm')
        v <<= 20, ++end;
    if (*end || v == 0 || v > kMaxBuffer)
        return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// Event 12: buffer space may be free again.
struct FreeEvents {
    std::mutex mu;
    std::condition_variable cv;
    uint64_t count = 0;

    static int32_t on_event(uint32_t e_event, void *pv_tag, void *)
    {
        auto *e = static_cast<FreeEvents *>(pv_tag);
        if (e_event == IQIV_PB_CTRL_EVENT_BUFFER_FREE) {
            std::lock_guard<std::mutex> lock(e->mu);
            ++e->count;
            e->cv.notify_all();
        }
        return 0;
    }
    uint64_t seen()
    {
        std::lock_guard<std::mutex> lock(mu);
        return count;
    }
    bool wait_after(uint64_t since)
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, kEngineWait, [&] { return count != since || g_stop; });
    }
};

class Progress {
public:
    Progress(bool shown, uint64_t total) : shown_(shown), total_(total), start_(Clock::now()) {}

    void update(uint64_t done, bool last = false)
    {
        const auto now = Clock::now();
        if (!shown_ || (!last && now - drawn_ < kRedraw))
            return;
        drawn_ = now;
        std::string bar;
        if (total_) {
            const int full = static_cast<int>(kBarWidth * done / total_);
            bar = "[" + std::string(full, '#') + std::string(kBarWidth - full, '.') + "] " +
                  std::to_string(100 * done / total_) + "%  ";
        }
        std::fprintf(stderr, "\r%s%.1f MiB  %.1f MiB/s ", bar.c_str(), done / kMiB, rate(done));
        if (last)
            std::fputc('\n', stderr);
    }
    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    double rate(uint64_t done) const
    {
        const double s = seconds();
        return s > 0 ? done / kMiB / s : 0;
    }

private:
    using Clock = std::chrono::steady_clock;
    const bool shown_;
    const uint64_t total_;
    const Clock::time_point start_;
    Clock::time_point drawn_{};
};

// Reads up to n bytes; fewer only at the end of the input. -1 on error.
ssize_t read_full(int fd, uint8_t *buf, uint32_t n)
{
    uint32_t got = 0;
    while (got < n && !g_stop) {
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += static_cast<uint32_t>(r);
    }
    return got;
}

struct Session {
    IQIV_PB_HANDLE_T h = 0;
    FreeEvents events;
    board::StreamHash hash;
    uint64_t buffers = 0;
};

// A buffer of the engine's, waiting for room; 0 or the exit status.
int next_buffer(Session &s, uint32_t size, void *&buf)
{
    for (;;) {
        const uint64_t since = s.events.seen();
        const int32_t rc = IQivPb_Ctrl_GetBuffer(s.h, size, &buf);
        if (rc == 0)
            return kExitOk;
        if (rc == IQIVPB_NO_SLOT) {
            std::fprintf(stderr, "pbpush: a buffer of %u bytes is larger than the engine's slices\n", size);
            return kExitEngine;
        }
        if (rc != IQIVPB_PENDING) {
            std::fprintf(stderr, "pbpush: no buffer from the engine (%d)\n", rc);
            return kExitEngine;
        }
        if (!s.events.wait_after(since)) {
            std::fprintf(stderr, "pbpush: the engine stopped consuming\n");
            return kExitEngine;
        }
        if (g_stop)
            return kExitInterrupted;
    }
}

// Pushes the whole input; 0 or the exit status.
int push_input(Session &s, int fd, uint32_t size, Progress &progress)
{
    while (!g_stop) {
        void *buf = nullptr;
        const int st = next_buffer(s, size, buf);
        if (st != kExitOk)
            return st;
        const ssize_t n = read_full(fd, static_cast<uint8_t *>(buf), size);
        if (n <= 0 || g_stop) {
            IQivPb_Ctrl_ReleaseBuffer(s.h, buf);
            if (n < 0) {
                std::fprintf(stderr, "pbpush: cannot read the input: %s\n", std::strerror(errno));
                return kExitInput;
            }
            break;
        }
        s.hash.update(buf, static_cast<size_t>(n));
        const int32_t rc = IQivPb_Ctrl_SendData(s.h, static_cast<uint32_t>(n), buf);
        if (rc != 0) {
            std::fprintf(stderr, "pbpush: the engine refused a buffer (%d)\n", rc);
            return kExitEngine;
        }
        ++s.buffers;
        progress.update(s.hash.bytes());
    }
    if (g_stop)
        return kExitInterrupted;
    // Returns once the engine has consumed what it was sent.
    if (IQivPb_Ctrl_SetPushModelEOS(s.h) != 0) {
        std::fprintf(stderr, "pbpush: the engine did not take the end of the stream\n");
        return kExitEngine;
    }
    return kExitOk;
}

int run(int fd, uint32_t size, bool quiet)
{
    struct stat st {};
    const uint64_t total = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    IQivPb_Ctrl_Init();
    Session s;
    if (IQivPb_Ctrl_Open(&s.h, IQIV_PB_BUF_MOD_PUSH, 1, "pbpush") != 0) {
        std::fprintf(stderr, "pbpush: cannot open a push playback (is the engine running?)\n");
        IQivPb_Ctrl_Terminate();
        return kExitEngine;
    }
    IQIV_PB_CTRL_ENGINE_PARAM_T param{};
    int status = kExitOk;
    if (IQivPb_Ctrl_SetEngineParam(s.h, &param) != 0 ||
        IQivPb_Ctrl_RegCallback(s.h, &s.events, FreeEvents::on_event) != 0 || IQivPb_Ctrl_Play(s.h, 0) != 0) {
        std::fprintf(stderr, "pbpush: the engine refused the push playback\n");
        status = kExitEngine;
    }
    Progress progress(!quiet, total);
    if (status == kExitOk)
        status = push_input(s, fd, size, progress);
    progress.update(s.hash.bytes(), true);
    IQivPb_Ctrl_Stop(s.h);
    IQivPb_Ctrl_Close(s.h);
    IQivPb_Ctrl_Terminate();
    std::fprintf(stderr,
                 "pbpush: %llu bytes in %llu buffers of %u, %.2f s, %.1f MiB/s, checksum %016llx (playback %u)%s\n",
                 static_cast<unsigned long long>(s.hash.bytes()), static_cast<unsigned long long>(s.buffers), size,
                 progress.seconds(), progress.rate(s.hash.bytes()), static_cast<unsigned long long>(s.hash.value()),
                 s.h, status == kExitInterrupted ? ", interrupted" : "");
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "pbpush", kUsage))
        return kExitOk;
    uint32_t size = kDefaultBuffer;
    bool quiet = false;
    int opt;
    while ((opt = getopt(argc, argv, "b:qh")) != -1) {
        if (opt == 'b' && parse_size(optarg, size))
            continue;
        if (opt == 'q') {
            quiet = true;
            continue;
        }
        std::fputs(kUsage, opt == 'h' ? stdout : stderr);
        return opt == 'h' ? kExitOk : kExitUsage;
    }
    if (argc - optind > 1) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const char *path = optind < argc ? argv[optind] : "-";
    const int fd = std::strcmp(path, "-") == 0 ? STDIN_FILENO : ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "pbpush: cannot open %s: %s\n", path, std::strerror(errno));
        return kExitInput;
    }
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return run(fd, size, quiet);
}
