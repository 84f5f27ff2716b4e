#include "handlers.h"

#include "log.h"
#include "tulka/key_table.h"

#include <stdexcept>

namespace tulka {
namespace {

int32_t next_field(const message &payload, size_t &pos)
{
    int32_t value = 0;
    if (read_field(payload, pos, value) != 0)
        throw std::runtime_error("Not enough data in message to read");
    return value;
}

void start_learn(lirc &ir, const std::shared_ptr<stream_server> &server, int32_t code)
{
    const auto name = key_names.find(code);
    if (name == key_names.end()) {
        log_error("invalid key requested: ", code);
        return;
    }
    log_info("start learn for key ", name->second);
    // Weak references: lirc keeps these callbacks, and must not keep the
    // server alive through them.
    const std::weak_ptr<stream_server> weak_server = server;
    ir.learn(
        name->second,
        [weak_server](bool result) {
            if (const auto s = weak_server.lock()) {
                s->send(pack_learn_complete(result));
                log_info("tulka TULKA_MSG_LEARN_COMPLETE ", result ? 1 : 0, "send ");
            }
        },
        [weak_server]() {
            if (const auto s = weak_server.lock()) {
                s->send(pack_learn_activity());
                log_info("tulka TULKA_MSG_LEARN_ACTIVITY send ");
            }
        });
}

} // namespace

void handle_client_message(lirc &ir, const std::shared_ptr<stream_server> &server, const message &payload)
{
    try {
        size_t pos = 0;
        const int32_t type = next_field(payload, pos);
        switch (type) {
        case TULKA_MSG_LEARN_START:
            start_learn(ir, server, next_field(payload, pos));
            break;
        case TULKA_MSG_LEARN_CANCEL:
            ir.cancel();
            server->send(pack_learn_complete(false));
            break;
        case TULKA_MSG_CLEAR_LEARNED:
            ir.clear_learned();
            break;
        default:
            log_error("error: unknown tulka msg ", type);
            break;
        }
    } catch (const std::exception &e) {
        log_error("exception: ", e.what());
    }
}

void forward_key(stream_server &server, const KeyInfo_t &key)
{
    if (key.type != KEY_EVENT_TYPE)
        return;
    log_info("key: ", key.code, " value: ", key_value_word(key.value), " remote name: ", key.remote);
    server.send(pack_key_event(key.code, key.value, key.remote));
}

} // namespace tulka
