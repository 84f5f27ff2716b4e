// tsinfo: shows what IQivPb_Ctrl_GetTSInfo finds at the start of a file.
#include "qivpbctrl_ts.h"

#include "common/help_option.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNoTs = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kDefaultBytes = 1u << 20;
constexpr size_t kReadChunk = 1u << 20;
constexpr double kPtsHz = 90000.0;

const char kUsage[] =
    "usage: tsinfo [-n BYTES] [--json] [-v] FILE\n"
    "Reads the start of FILE (the first 1048576 bytes unless -n says otherwise) and\n"
    "prints the packet size, the programs with their PMT PIDs and the elementary\n"
    "streams with their types and first PTS, as IQivPb_Ctrl_GetTSInfo finds them.\n"
    "  -n BYTES  how many bytes to read (1 to 4294967295)\n"
    "  --json    print one JSON object instead of text\n"
    "  -v        also show the parser's own log lines\n"
    "  -h, --help  show this text\n"
    "Exit status: 0 streams found, 1 no transport stream found, no PMT listing a\n"
    "stream, or FILE unreadable, 2 usage error.\n";

struct Options {
    uint32_t bytes = kDefaultBytes;
    bool json = false;
    bool verbose = false;
    const char *path = nullptr;
};

struct TypeName {
    uint16_t type;
    const char *name;
};

const TypeName kTypeNames[] = {
    {0x01, "MPEG-1 video"}, {0x02, "MPEG-2 video"}, {0x03, "MPEG-1 audio"}, {0x04, "MPEG-2 audio"},
    {0x06, "private PES"},  {0x0F, "AAC (ADTS)"},   {0x10, "MPEG-4 video"}, {0x11, "AAC (LATM)"},
    {0x1B, "H.264 video"},  {0x24, "H.265 video"},  {0x81, "AC-3 audio"},   {0x87, "E-AC-3 audio"},
};

const char *type_name(uint16_t type)
{
    for (const TypeName &t : kTypeNames)
        if (t.type == type)
            return t.name;
    return "other";
}

int usage_error(const char *what)
{
    fprintf(stderr, "tsinfo: %s\n%s", what, kUsage);
    return kExitUsage;
}

bool parse_bytes(const char *text, uint32_t &bytes)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long long v = strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v == 0 || v > UINT32_MAX)
        return false;
    bytes = static_cast<uint32_t>(v);
    return true;
}

// 0 to go on, otherwise the exit status.
int parse_args(int argc, char **argv, Options &opt, bool &help)
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (!strcmp(a, "-h") || !strcmp(a, "--help")) {
            help = true;
            return 0;
        }
        if (!strcmp(a, "--json"))
            opt.json = true;
        else if (!strcmp(a, "-v"))
            opt.verbose = true;
        else if (!strcmp(a, "-n")) {
            if (++i == argc || !parse_bytes(argv[i], opt.bytes))
                return usage_error("-n needs a byte count from 1 to 4294967295");
        } else if (a[0] == '-' && a[1] != '\0')
            return usage_error("unknown option");
        else if (opt.path != nullptr)
            return usage_error("one FILE only");
        else
            opt.path = a;
    }
    return opt.path == nullptr ? usage_error("FILE is missing") : 0;
}

// Reads at most `bytes`, growing the buffer by what arrives: a count far
// beyond the file never asks for that much memory up front.
bool read_start(const char *path, uint32_t bytes, std::vector<uint8_t> &data)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    try {
        while (data.size() < bytes) {
            const size_t at = data.size();
            data.resize(at + std::min<size_t>(kReadChunk, bytes - at));
            const ssize_t n = read(fd, data.data() + at, data.size() - at);
            data.resize(at + static_cast<size_t>(std::max<ssize_t>(n, 0)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
        }
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        ok = false;
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

// Streams listed by the PMTs read: a PAT alone finds none.
int stream_count(const IQIV_PB_TS_INFO_T &info)
{
    int n = 0;
    for (int k = 0; k < info.ui1_prog_num; ++k)
        n += info.at_program[k].ui1_stream_num;
    return n;
}

// Runs the parser with its log lines sent to /dev/null unless they are wanted.
int32_t analyse(const std::vector<uint8_t> &data, bool verbose, IQIV_PB_TS_INFO_T &info)
{
    fflush(stdout);
    const int saved = verbose ? -1 : dup(STDOUT_FILENO);
    const int null_fd = saved < 0 ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0)
        dup2(null_fd, STDOUT_FILENO);
    const int32_t rc = IQivPb_Ctrl_GetTSInfo(data.data(), static_cast<uint32_t>(data.size()), &info);
    fflush(stdout);
    if (null_fd >= 0) {
        dup2(saved, STDOUT_FILENO);
        close(null_fd);
    }
    if (saved >= 0)
        close(saved);
    return rc;
}

void print_text(const IQIV_PB_TS_INFO_T &info)
{
    printf("packet size: %u\nprograms: %u\n", info.ui2_pkt_size, info.ui1_prog_num);
    for (int k = 0; k < info.ui1_prog_num; ++k) {
        const IQIV_PB_TS_PROGRAM_INFO_T &prog = info.at_program[k];
        printf("program %d: PMT PID 0x%x, %s, %u stream%s\n", k, prog.ui2_pmt_pid,
               prog.b_parsed ? "PMT read" : "no PMT found", prog.ui1_stream_num, prog.ui1_stream_num == 1 ? "" : "s");
        for (int s = 0; s < prog.ui1_stream_num; ++s) {
            const IQIV_PB_TS_STREAM_INFO_T &st = prog.at_stream[s];
            printf("  PID 0x%x  type 0x%02x %-13s  data %-3" PRIu32 "  ", st.ui2_pid, st.ui2_stream_type,
                   type_name(st.ui2_stream_type), st.ui4_data);
            if (st.ui8_pts == IQIV_PB_TS_NO_PTS)
                printf("first PTS none\n");
            else
                printf("first PTS %" PRIu64 " (%.6f s)\n", st.ui8_pts, st.ui8_pts / kPtsHz);
        }
    }
}

void print_json(const IQIV_PB_TS_INFO_T &info)
{
    printf("{\"packet_size\":%u,\"programs\":[", info.ui2_pkt_size);
    for (int k = 0; k < info.ui1_prog_num; ++k) {
        const IQIV_PB_TS_PROGRAM_INFO_T &prog = info.at_program[k];
        printf("%s{\"pmt_pid\":%u,\"parsed\":%s,\"streams\":[", k ? "," : "", prog.ui2_pmt_pid,
               prog.b_parsed ? "true" : "false");
        for (int s = 0; s < prog.ui1_stream_num; ++s) {
            const IQIV_PB_TS_STREAM_INFO_T &st = prog.at_stream[s];
            printf("%s{\"pid\":%u,\"stream_type\":%u,\"data\":%" PRIu32 ",\"first_pts\":", s ? "," : "", st.ui2_pid,
                   st.ui2_stream_type, st.ui4_data);
            if (st.ui8_pts == IQIV_PB_TS_NO_PTS)
                printf("null}");
            else
                printf("%" PRIu64 "}", st.ui8_pts);
        }
        printf("]}");
    }
    printf("]}\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (answered_help_or_version(argc, argv, "tsinfo", kUsage))
        return kExitFound;
    Options opt;
    bool help = false;
    if (const int rc = parse_args(argc, argv, opt, help))
        return rc;
    if (help) {
        fputs(kUsage, stdout);
        return kExitFound;
    }
    std::vector<uint8_t> data;
    if (!read_start(opt.path, opt.bytes, data)) {
        fprintf(stderr, "tsinfo: %s: %s\n", opt.path, strerror(errno));
        return kExitNoTs;
    }
    IQIV_PB_TS_INFO_T info;
    const int32_t rc = analyse(data, opt.verbose, info);
    if (rc != 0) {
        fprintf(stderr, "tsinfo: %s: no transport stream found in the first %zu bytes\n", opt.path, data.size());
        return kExitNoTs;
    }
    if (opt.json)
        print_json(info);
    else
        print_text(info);
    if (stream_count(info) == 0) {
        fprintf(stderr, "tsinfo: %s: no PMT listing a stream in the first %zu bytes\n", opt.path, data.size());
        return kExitNoTs;
    }
    return kExitFound;
}
