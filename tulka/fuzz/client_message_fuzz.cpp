// Arbitrary client payloads through the daemon's request handler: whatever
// arrives, it must neither crash nor throw.
#include "handlers.h"
#include "log.h"

#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static boost::asio::io_context io;
    // Shell commands are dropped: fuzzing must not stop or start lircd.
    static const auto ir = std::make_shared<tulka::lirc>(io, "/nonexistent/", "/nonexistent", 10,
                                                         [](const std::string &) { return 0; });
    // A fresh server each time, so that queued replies do not pile up.
    const auto server = std::make_shared<tulka::stream_server>(io);
    tulka::log_flags = 0;
    tulka::handle_client_message(*ir, server, tulka::message(data, data + size));
    return 0;
}
