// vboard: runs the unchanged programs of the system on this PC as on the board.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bringup.h"
#include "common/version.h"
#include "cba_raise.h"
#include "report.h"
#include "vboard/lirc.h"
#include "vboard/state.h"
#include "sandbox.h"

namespace {

const char kUsage[] =
    "usage: vboard run [--board FILE] [--state DIR] -- COMMAND [ARGS...]\n"
    "       vboard exec --state DIR -- COMMAND [ARGS...]\n"
    "       vboard shell [--board FILE] [--state DIR]\n"
    "       vboard state DIR\n"
    "       vboard ir-send [--state DIR] [--speed F] [--text | --raw] FILE\n"
    "       vboard gpio --state DIR [PIN LEVEL]\n"
    "       vboard clock --state DIR [SECONDS[.FRACTION] [run]]\n"
    "       vboard cba-raise [--state DIR] PID FCT TAG [INFO [COUNT]]  (or PID wake, PID fail ERRNO)\n"
    "       vboard -h | --help | --version\n"
    "\n"
    "run    boots a board (private mount and PID namespace over an overlay of\n"
    "       this host's root, devices emulated by libvboard.so), runs COMMAND\n"
    "       on it and exits with its status; without --state a fresh state\n"
    "       directory is made and named on standard error\n"
    "exec   runs COMMAND on the board that is running on DIR\n"
    "shell  an interactive shell on the board of DIR (joined when it is\n"
    "       running, else booted)\n"
    "state  prints the NAND layout, flash counts, violations, LEDs and the\n"
    "       reboot record of DIR\n"
    "ir-send  feeds the capture FILE to /dev/lirc0 of the board on DIR (or of\n"
    "       this board, from VBOARD_STATE) with its real timing, F times faster;\n"
    "       FILE is 'pulse N' / 'space N' / 'timeout N' lines or raw 4-byte\n"
    "       little-endian words (taken as raw when it holds a NUL byte)\n"
    "gpio   sets the level that input PIN of DIR's /dev/gpio sees, or lists\n"
    "       the pins\n"
    "clock  sets the clock that system call 370 reads on DIR's board, frozen\n"
    "       at SECONDS or running on from there (run); without SECONDS shows it\n"
    "cba-raise  queues COUNT (default 1) notifications for process PID of the\n"
    "       board on DIR (or this board): notify function address FCT (0 for\n"
    "       none), TAG, and INFO as text, or as bytes when written hex:0a0b...;\n"
    "       'PID wake' returns its driver request with nothing to run, 'PID fail\n"
    "       ERRNO' makes that request fail (ERRNO a name such as EIO)\n";

struct Args {
    std::string verb;
    std::string board;
    std::string state;
    double speed = 1;
    vboard::IrFormat ir_format = vboard::IrFormat::Detect;
    std::vector<std::string> rest;
};

int usage_error(const std::string &what)
{
    std::fprintf(stderr, "vboard: %s\n%s", what.c_str(), kUsage);
    return vboard::kSetupFailed;
}

// Returns 0 or an exit status.
int parse(int argc, char **argv, Args *args)
{
    if (argc < 2) {
        return usage_error("no command");
    }
    args->verb = argv[1];
    int i = 2;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if ((a == "--board" || a == "--state") && i + 1 < argc) {
            (a == "--board" ? args->board : args->state) = argv[++i];
        } else if (a.rfind("--board=", 0) == 0) {
            args->board = a.substr(8);
        } else if (a.rfind("--state=", 0) == 0) {
            args->state = a.substr(8);
        } else if (a == "--speed" && i + 1 < argc) {
            char *end = nullptr;
            args->speed = std::strtod(argv[++i], &end);
            if (*end != '\0' || !(args->speed > 0)) {
                return usage_error("--speed needs a number above 0");
            }
        } else if (a == "--text" || a == "--raw") {
            args->ir_format = a == "--raw" ? vboard::IrFormat::Raw : vboard::IrFormat::Text;
        } else if (a.rfind("-", 0) == 0) {
            return usage_error("unknown option " + a);
        } else {
            break;
        }
    }
    for (; i < argc; ++i) {
        args->rest.push_back(argv[i]);
    }
    return 0;
}

// Without the user's start-up files, so that the board's prompt shows.
std::vector<std::string> interactive_shell()
{
    if (::access("/bin/bash", X_OK) == 0) {
        return {"/bin/bash", "--norc", "-i"};
    }
    return {"/bin/sh", "-i"};
}

int ir_send(const Args &args)
{
    const char *own = std::getenv(vboard::kStateEnv);
    std::string dir = !args.state.empty() ? args.state : own ? own : "";
    if (dir.empty() || args.rest.size() != 1) {
        return usage_error("ir-send needs --state DIR (or a board's VBOARD_STATE) and one FILE");
    }
    std::string bytes, error;
    std::vector<uint32_t> words;
    if (::access(vboard::state_path(dir, vboard::kBoardFile).c_str(), F_OK) != 0) {
        std::fprintf(stderr, "vboard: %s is not a board's state directory\n", dir.c_str());
        return vboard::kSetupFailed;
    }
    if (vboard::read_text_file(args.rest[0], &bytes) != 0) {
        std::fprintf(stderr, "vboard: cannot read %s\n", args.rest[0].c_str());
        return vboard::kSetupFailed;
    }
    if (vboard::parse_ir_capture(bytes, args.ir_format, &words, &error) != 0) {
        std::fprintf(stderr, "vboard: %s: %s\n", args.rest[0].c_str(), error.c_str());
        return vboard::kSetupFailed;
    }
    std::signal(SIGPIPE, SIG_IGN); // a receiver closed while we write to it
    vboard::Journal journal;
    vboard::journal_bind(&journal, dir);
    vboard::IrFeedResult r = vboard::ir_feed(dir, words, args.speed, &journal);
    if (r.dropped > 0) {
        std::fprintf(stderr,
                     "vboard: %zu of %zu words dropped (no reader had /dev/lirc0 open, or its buffer was full)\n",
                     r.dropped, r.words);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Args args;
    int rc = parse(argc, argv, &args);
    if (rc != 0) {
        return rc;
    }
    if (args.verb == "help" || args.verb == "--help" || args.verb == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.verb == "--version") {
        return print_version("vboard");
    }
    if (args.verb == "run") {
        if (args.rest.empty()) {
            return usage_error("run needs a COMMAND");
        }
        return vboard::run_board({args.board, args.state, args.rest, {}});
    }
    if (args.verb == "exec") {
        if (args.state.empty() || args.rest.empty()) {
            return usage_error("exec needs --state DIR and a COMMAND");
        }
        return vboard::exec_on_board(args.state, args.rest, {});
    }
    if (args.verb == "shell") {
        std::vector<std::string> prompt = {"PS1=vboard# "};
        if (!args.state.empty() && vboard::running_board_pid(args.state) > 0) {
            return vboard::exec_on_board(args.state, interactive_shell(), prompt);
        }
        return vboard::run_board({args.board, args.state, interactive_shell(), prompt});
    }
    if (args.verb == "ir-send") {
        return ir_send(args);
    }
    if (args.verb == "gpio") {
        if (args.state.empty()) {
            return usage_error("gpio needs --state DIR");
        }
        return vboard::gpio_verb(args.state, args.rest);
    }
    if (args.verb == "clock") {
        if (args.state.empty()) {
            return usage_error("clock needs --state DIR");
        }
        return vboard::clock_verb(args.state, args.rest);
    }
    if (args.verb == "cba-raise") {
        const char *own = std::getenv(vboard::kStateEnv);
        return vboard::cba_raise_command(!args.state.empty() ? args.state : own ? own : "", args.rest);
    }
    if (args.verb == "state") {
        std::string dir = !args.state.empty() ? args.state : args.rest.empty() ? "" : args.rest[0];
        if (dir.empty()) {
            return usage_error("state needs DIR");
        }
        return vboard::print_state_report(dir);
    }
    return usage_error("unknown command '" + args.verb + "'");
}
