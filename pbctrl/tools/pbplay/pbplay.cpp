// pbplay: plays a local file in pull mode through libqivpbctrl: the engine
// reads the file through pbplay's pull functions; pbplay prints the
// engine's events and waits for the end.
#include "qivpbctrl.h"

#include "common/version.h"
#include "pbengine/events.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr int kExitPlayed = 0;
constexpr int kExitEngineFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFile = 3;
constexpr int kExitNoEngine = 4;
constexpr int kExitTimeout = 5;
constexpr unsigned long kDefaultWaitS = 60;
constexpr unsigned long kMaxWaitS = 86400;
constexpr uint32_t kPullHandle = 1;
constexpr uint64_t kPercent = 100;

const char kUsage[] =
    "usage: pbplay [-t SECONDS] FILE | -h | --help | --version\n"
    "Plays FILE in pull mode through libqivpbctrl against the playback engine\n"
    "(pbengine, at $QIV_RPC_DIR or /tmp/qiv_rpc): opens a playback with the pull\n"
    "buffering model, hands the engine pull functions that read FILE, plays it,\n"
    "prints the engine's events and progress, waits for the end, stops and closes.\n"
    "  -t SECONDS  how long to wait for the end (default 60)\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n"
    "Exit status: 0 the engine played the whole file, 1 the engine reported a\n"
    "failure, 2 usage error, 3 FILE cannot be read, 4 no engine or a call to it\n"
    "failed, 5 no end within the time.\n";

// The file the engine pulls, and how the play went.
struct Play {
    int fd = -1;
    uint64_t size = 0;
    std::mutex mu;
    std::condition_variable cv;
    uint64_t pos = 0;
    bool ended = false; // the end-of-stream event came
    pbsim::PlayEnd end{};
    std::vector<std::thread> readers;
};

Play &as_play(void *tag) { return *static_cast<Play *>(tag); }

void print_progress(const char *what, uint64_t bytes, uint64_t length)
{
    std::printf("pbplay: %s %llu of %llu bytes (%llu%%)\n", what, static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(length),
                static_cast<unsigned long long>(length ? bytes * kPercent / length : kPercent));
    std::fflush(stdout);
}

uint32_t read_at_pos(Play &p, void *buf, uint32_t len)
{
    std::lock_guard<std::mutex> lock(p.mu);
    const ssize_t n = pread(p.fd, buf, len, static_cast<off_t>(p.pos));
    if (n <= 0)
        return 0;
    p.pos += static_cast<uint64_t>(n);
    return static_cast<uint32_t>(n);
}

int32_t pull_open(uint32_t, uint32_t *ph_pull, void *)
{
    *ph_pull = kPullHandle;
    return 0;
}

int32_t pull_close(uint32_t, void *) { return 0; }

int32_t pull_read(uint32_t, void *tag, void *buf, uint32_t len, uint32_t *got)
{
    *got = read_at_pos(as_play(tag), buf, len);
    return 0;
}

// Ends from a thread of its own, as a reader of a slow medium would.
int32_t pull_read_async(uint32_t, void *tag, void *buf, uint32_t len, IQIV_PB_CTRL_PULL_NFY_FCT nfy, void *nfy_tag,
                        uint32_t *req_id)
{
    Play &p = as_play(tag);
    std::lock_guard<std::mutex> lock(p.mu);
    try {
        p.readers.emplace_back([&p, buf, len, nfy, nfy_tag] { nfy(0, nfy_tag, read_at_pos(p, buf, len), 0); });
    } catch (...) {
        return IQIVPB_FAIL;
    }
    *req_id = static_cast<uint32_t>(p.readers.size());
    return 0;
}

int32_t pull_abort_read(uint32_t, void *, uint32_t) { return 0; }

int32_t pull_byte_seek(uint32_t, void *tag, uint64_t offset, uint8_t origin, uint64_t *cur)
{
    Play &p = as_play(tag);
    std::lock_guard<std::mutex> lock(p.mu);
    const uint64_t base = origin == IQIV_PB_CTRL_SEEK_CUR ? p.pos : origin == IQIV_PB_CTRL_SEEK_END ? p.size : 0;
    if (origin > IQIV_PB_CTRL_SEEK_END || base + offset > p.size)
        return IQIVPB_FAIL;
    *cur = p.pos = base + offset;
    return 0;
}

int32_t pull_input_length(uint32_t, void *tag, uint64_t *len)
{
    *len = as_play(tag).size;
    return 0;
}

int32_t on_event(uint32_t event, void *tag, void *data)
{
    Play &p = as_play(tag);
    if (event == pbsim::kEventProgress) {
        const auto *r = static_cast<const pbsim::PlayProgress *>(data);
        print_progress("progress", r->ui8_bytes, r->ui8_length);
    } else if (event == pbsim::kEventEndOfStream) {
        std::lock_guard<std::mutex> lock(p.mu);
        std::memcpy(&p.end, data, sizeof p.end);
        p.ended = true;
        std::printf("pbplay: end of stream: result %d, %llu bytes, checksum %016llx\n", p.end.i4_result,
                    static_cast<unsigned long long>(p.end.ui8_bytes),
                    static_cast<unsigned long long>(p.end.ui8_checksum));
        p.cv.notify_all();
    } else {
        std::printf("pbplay: event %u\n", event);
    }
    std::fflush(stdout);
    return 0;
}

bool register_events(IQIV_PB_HANDLE_T h, Play &p) { return IQivPb_Ctrl_RegCallback(h, &p, on_event) == 0; }

bool set_pull_parameters(IQIV_PB_HANDLE_T h, Play &p)
{
    IQIV_PB_CTRL_ENGINE_PARAM_T param{};
    param.uBufferModelParam.tPullInfo = IQIV_PB_CTRL_PULL_INFO_T{&p,
                                                                 reinterpret_cast<void *>(&pull_open),
                                                                 reinterpret_cast<void *>(&pull_close),
                                                                 reinterpret_cast<void *>(&pull_read),
                                                                 reinterpret_cast<void *>(&pull_read_async),
                                                                 reinterpret_cast<void *>(&pull_abort_read),
                                                                 reinterpret_cast<void *>(&pull_byte_seek),
                                                                 reinterpret_cast<void *>(&pull_input_length)};
    return IQivPb_Ctrl_SetEngineParam(h, &param) == 0;
}

// Waits for the end-of-stream event; false when it did not come in time.
bool wait_for_end(Play &p, unsigned long wait_s)
{
    std::unique_lock<std::mutex> lock(p.mu);
    return p.cv.wait_for(lock, std::chrono::seconds(wait_s), [&] { return p.ended; });
}

// Plays the opened file; the exit status.
int play_file(Play &p, unsigned long wait_s)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h = 0;
    if (IQivPb_Ctrl_Open(&h, IQIV_PB_BUF_MOD_PULL, 0, "pbplay") != 0) {
        std::fprintf(stderr, "pbplay: cannot open a playback (is pbengine running?)\n");
        IQivPb_Ctrl_Terminate();
        return kExitNoEngine;
    }
    std::printf("pbplay: playback %u, %llu bytes\n", h, static_cast<unsigned long long>(p.size));
    std::fflush(stdout);
    int status = kExitNoEngine;
    if (!set_pull_parameters(h, p) || !register_events(h, p) || IQivPb_Ctrl_Play(h, 0) != 0) {
        std::fprintf(stderr, "pbplay: the engine refused the playback\n");
    } else {
        const bool in_time = wait_for_end(p, wait_s);
        // Stop waits for the engine's play to end and answers its result.
        const int32_t result = IQivPb_Ctrl_Stop(h);
        std::printf("pbplay: engine result %d\n", result);
        status = !in_time ? kExitTimeout : result == 0 ? kExitPlayed : kExitEngineFailed;
        if (!in_time)
            std::fprintf(stderr, "pbplay: no end within %lu s\n", wait_s);
    }
    IQivPb_Ctrl_Close(h);
    IQivPb_Ctrl_Terminate();
    for (std::thread &t : p.readers)
        t.join();
    return status;
}

bool parse_seconds(const char *text, unsigned long &out)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v == 0 || v > kMaxWaitS)
        return false;
    out = v;
    return true;
}

int usage_error(const char *what)
{
    std::fprintf(stderr, "pbplay: %s\n%s", what, kUsage);
    return kExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    unsigned long wait_s = kDefaultWaitS;
    const char *path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (!std::strcmp(a, "-h") || !std::strcmp(a, "--help")) {
            std::fputs(kUsage, stdout);
            return kExitPlayed;
        }
        if (!std::strcmp(a, "--version"))
            return print_version("pbplay");
        if (!std::strcmp(a, "-t")) {
            if (++i == argc || !parse_seconds(argv[i], wait_s))
                return usage_error("-t takes a number of seconds from 1 to 86400");
        } else if (a[0] == '-' && a[1] != '\0') {
            return usage_error("unknown option");
        } else if (path) {
            return usage_error("one FILE only");
        } else {
            path = a;
        }
    }
    if (!path)
        return usage_error("no FILE");
    Play p;
    p.fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (p.fd < 0 || fstat(p.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "pbplay: cannot read %s: %s\n", path, p.fd < 0 ? std::strerror(errno) : "not a file");
        return kExitFile;
    }
    p.size = static_cast<uint64_t>(st.st_size);
    const int status = play_file(p, wait_s);
    close(p.fd);
    return status;
}
