// pbengine: the playback engine and misc service side of the transport, for
// tests and demos. Tests script its answers through a line-based control
// socket beside the engine's endpoints.
#include "control.h"
#include "sim.h"

#include "common/version.h"
#include "rpcipc.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *const kDefaultEndpoints[] = {"qivpbctrl", "qivpbmisc"};
constexpr const char *kControlName = "pbengine.ctl";
constexpr size_t kMaxLine = 4096;

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: pbengine [--endpoint NAME]... [--control NAME] | -h | --help | --version\n"
                 "  Serves the engine endpoints (default: qivpbctrl qivpbmisc) and a\n"
                 "  control socket (default: pbengine.ctl), all in $%s (default %s).\n"
                 "  Control lines, each answered by one line that starts with ok or error:\n",
                 RPC_DIR_ENV, RPC_DEFAULT_DIR);
    pbsim::print_control_usage(out);
    std::fprintf(out,
                 "  OP is NAME, NAME@HANDLE or NAME#NTH-CALL; CB is [@CONN] NAME FUNC ARGS...;\n"
                 "  ARGS are CODE:VALUE or CODE=HEX.\n");
}

int listen_control(const char *name, std::string &path)
{
    char buf[sizeof(sockaddr_un{}.sun_path)];
    if (rpc_endpoint_path(name, buf, sizeof buf) != RPCR_OK)
        return -1;
    path = buf;
    ::unlink(buf);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, buf, path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// One control client: each line gets one answer line.
void serve_control_client(int fd)
{
    std::string pending;
    char buf[512];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buf, static_cast<size_t>(got));
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            const std::string answer = pbsim::command(pending.substr(0, nl)) + "\n";
            pending.erase(0, nl + 1);
            if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0)
                break;
        }
        if (pending.size() > kMaxLine)
            break;
    }
    ::close(fd);
}

void serve_control(int listen_fd)
{
    int fd;
    while ((fd = rpc_accept(listen_fd)) >= 0)
        std::thread(serve_control_client, fd).detach();
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> endpoints;
    const char *control = kControlName;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--endpoint" || arg == "--control") && i + 1 < argc) {
            if (arg == "--endpoint")
                endpoints.push_back(argv[++i]);
            else
                control = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--version") {
            return print_version("pbengine");
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (endpoints.empty())
        endpoints.assign(std::begin(kDefaultEndpoints), std::end(kDefaultEndpoints));

    // Only the signal thread below sees SIGTERM and SIGINT.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    pbsim::install();
    for (const std::string &name : endpoints) {
        if (rpc_engine_serve(name.c_str()) != RPCR_OK) {
            std::fprintf(stderr, "pbengine: cannot listen at endpoint %s: %s\n", name.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::string control_path;
    const int control_fd = listen_control(control, control_path);
    if (control_fd < 0) {
        std::fprintf(stderr, "pbengine: cannot listen at control socket %s\n", control);
        rpc_engine_stop();
        return 1;
    }
    std::thread(serve_control, control_fd).detach();
    std::printf("pbengine: serving %zu endpoints, control %s\n", endpoints.size(), control_path.c_str());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stop_signals, &sig);
    ::unlink(control_path.c_str());
    rpc_engine_stop();
    return 0;
}
