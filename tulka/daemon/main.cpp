// tulkad: relays remote-control keys to the user interface and learns
// new buttons, on one Boost.Asio event loop.
#include "handlers.h"
#include "input_lirc.h"
#include "lirc.h"
#include "log.h"
#include "options.h"
#include "stream_server.h"

#include "common/version.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

using namespace tulka;

constexpr int32_t startup_log_flags = 3;
constexpr const char *boot_copy_command = "cp /mnt/ubi_boot/*.conf /etc/lirc/lircd.conf.d";
constexpr const char *capture_device = "/dev/lirc0";

void print_usage(const char *program)
{
    std::fputs(usage_text(program).c_str(), stdout);
    std::fflush(stdout);
}

void run_daemon(int argc, const char *const argv[])
{
    const settings opts = read_settings(argc, argv);

    // Declared in the order of creation, so that leaving this scope releases
    // the signal set, input, server and lirc in turn, and the loop last.
    boost::asio::io_context io;
    const auto ir = std::make_shared<lirc>(io, opts.config_dir, capture_device, opts.sample_ms);
    const auto server = std::make_shared<stream_server>(io);
    server->start(
        [weak_ir = std::weak_ptr<lirc>(ir), weak_server = std::weak_ptr<stream_server>(server)](message payload) {
            const auto i = weak_ir.lock();
            const auto s = weak_server.lock();
            if (i && s)
                handle_client_message(*i, s, payload);
        },
        default_socket_path);

    const auto input = std::make_shared<input_lirc>(io, opts.repeat_ms);
    input->start([server](KeyInfo_t key) { forward_key(*server, key); });

    const auto signals = std::make_shared<boost::asio::signal_set>(io, SIGINT, SIGTERM, SIGQUIT);
    signals->async_wait([&io](const boost::system::error_code &ec, int signal_number) {
        if (ec)
            return;
        log_error("caught signal ", signal_number);
        io.stop();
    });

    io.run();
}

} // namespace

int main(int argc, char *argv[])
{
    if (wants_version(argc, argv))
        return print_version("tulkad");
    if (wants_long_help(argc, argv)) {
        print_usage(argv[0]);
        return 0;
    }
    log_flags = startup_log_flags;
    exec_sync(boot_copy_command);
    print_usage(argv[0]);
    if (wants_help(argc, argv))
        return 0;
    try {
        run_daemon(argc, argv);
    } catch (const std::exception &e) {
        log_error("exception: ", e.what());
    }
    log_info("exiting");
    return 0;
}
