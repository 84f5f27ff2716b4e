#include "cba_raise.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "sandbox.h"
#include "vboard/cbagent.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr int kRaiseFailed = 1;

bool parse_info(const std::string &text, CbaNote *note)
{
    std::string bytes;
    if (text.rfind("hex:", 0) != 0) {
        bytes = text;
    } else if (!board::parse_hex_bytes(text.substr(4), &bytes)) {
        return false;
    }
    if (bytes.size() > kCbaInfoMax) {
        return false;
    }
    std::memcpy(note->info, bytes.data(), bytes.size());
    note->info_size = static_cast<uint32_t>(bytes.size());
    return true;
}

int bad(const std::string &what)
{
    std::fprintf(stderr, "vboard: cba-raise: %s\n", what.c_str());
    return kSetupFailed;
}

// Fills note and count from the arguments after PID; 0 or an exit status.
int parse_note(const std::vector<std::string> &args, CbaNote *note, uint32_t *count)
{
    if (args.size() == 2 && args[1] == "wake") {
        note->kind = CbaKind::Wake;
        return 0;
    }
    if (args.size() == 3 && args[1] == "fail") {
        note->kind = CbaKind::Fail;
        note->error = board::parse_errno(args[2]);
        return note->error > 0 ? 0 : bad("unknown error " + args[2]);
    }
    uint64_t fct = 0, tag = 0, n = 1;
    if (args.size() < 3 || args.size() > 5) {
        return bad("needs PID FCT TAG [INFO [COUNT]], PID wake or PID fail ERRNO");
    }
    if (!board::parse_number(args[1], UINTPTR_MAX, &fct) || !board::parse_number(args[2], UINT32_MAX, &tag)) {
        return bad("FCT and TAG are numbers (FCT an address of the process)");
    }
    if (args.size() > 3 && !parse_info(args[3], note)) {
        return bad("INFO is at most 2024 bytes (hex: an even number of hex digits)");
    }
    if (args.size() > 4 && (!board::parse_number(args[4], UINT32_MAX, &n) || n == 0)) {
        return bad("COUNT is a number above 0");
    }
    note->fct = fct;
    note->tag = static_cast<uint32_t>(tag);
    *count = static_cast<uint32_t>(n);
    return 0;
}

} // namespace

int cba_raise_command(const std::string &dir, const std::vector<std::string> &args)
{
    uint64_t pid = 0;
    if (dir.empty() || args.empty() || !board::parse_number(args[0], INT32_MAX, &pid) || pid == 0) {
        return bad("needs --state DIR (or a board's VBOARD_STATE) and a process id");
    }
    if (::access(state_path(dir, kBoardFile).c_str(), F_OK) != 0) {
        return bad(dir + " is not a board's state directory");
    }
    CbaNote note;
    uint32_t count = 1;
    int rc = parse_note(args, &note, &count);
    if (rc != 0) {
        return rc;
    }
    note.pid = static_cast<uint32_t>(pid);
    note.caller = static_cast<uint32_t>(::getpid());
    Journal journal;
    journal_bind(&journal, dir);
    rc = cba_raise(dir, static_cast<int>(pid), note, count, &journal);
    if (rc == -ESRCH) {
        std::fprintf(stderr, "vboard: cba-raise: process %s has no callback agent waiting on %s\n", args[0].c_str(),
                     kCbaDevicePath);
    } else if (rc != 0) {
        std::fprintf(stderr, "vboard: cba-raise: process %s: %s\n", args[0].c_str(), std::strerror(-rc));
    }
    return rc == 0 ? 0 : kRaiseFailed;
}

void print_cba_report(const std::string &dir)
{
    std::vector<CbaStats> all = cba_report(dir);
    std::printf("callback driver (%s):%s\n", kCbaDevicePath, all.empty() ? " no process" : "");
    for (const CbaStats &s : all) {
        std::printf("  pid %d: block 0x%08x, pending %u, running %u, raised %" PRIu64 ", handed out %" PRIu64
                    ", done %" PRIu64 "\n",
                    s.pid, s.hmem, s.pending, s.running, s.raised, s.handed, s.done);
    }
}

} // namespace vboard
