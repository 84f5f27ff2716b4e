// What the daemon does with client requests and with key events.
#ifndef TULKA_DAEMON_HANDLERS_H
#define TULKA_DAEMON_HANDLERS_H

#include "input_lirc.h"
#include "lirc.h"
#include "stream_server.h"

#include <memory>

namespace tulka {

// Acts on one client request. Never throws: failures become error lines and
// the connection stays up.
void handle_client_message(lirc &ir, const std::shared_ptr<stream_server> &server, const message &payload);

// Sends key events (type 1) to the client; other events are dropped.
void forward_key(stream_server &server, const KeyInfo_t &key);

} // namespace tulka

#endif
