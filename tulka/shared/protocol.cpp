#include "tulka/protocol.h"

#include "common/le_bytes.h"

#include <algorithm>

namespace tulka {
namespace {

void append_field(message &msg, int32_t value)
{
    uint8_t bytes[field_size];
    le::store32(bytes, static_cast<uint32_t>(value));
    msg.insert(msg.end(), bytes, bytes + field_size);
}

message pack_type(msg_type type)
{
    message msg;
    append_field(msg, type);
    return msg;
}

} // namespace

const char *key_value_word(int32_t value)
{
    switch (value) {
    case KEY_VALUE_RELEASE:
        return "release";
    case KEY_VALUE_PRESS:
        return "press";
    case KEY_VALUE_REPEAT:
        return "repeat";
    default:
        return "";
    }
}

message pack_learn_start(int32_t code)
{
    message msg = pack_type(TULKA_MSG_LEARN_START);
    append_field(msg, code);
    return msg;
}

message pack_learn_cancel() { return pack_type(TULKA_MSG_LEARN_CANCEL); }

message pack_clear_learned() { return pack_type(TULKA_MSG_CLEAR_LEARNED); }

message pack_learn_activity() { return pack_type(TULKA_MSG_LEARN_ACTIVITY); }

message pack_learn_complete(bool result)
{
    message msg = pack_type(TULKA_MSG_LEARN_COMPLETE);
    append_field(msg, result ? 1 : 0);
    return msg;
}

message pack_key_event(int32_t code, int32_t value, const std::string &remote)
{
    message msg = pack_type(TULKA_MSG_KEY_EVENT);
    append_field(msg, code);
    append_field(msg, value);
    const size_t name_length = std::min(remote.size(), remote_name_size - 1);
    msg.insert(msg.end(), remote.begin(), remote.begin() + name_length);
    msg.resize(key_event_size, 0);
    return msg;
}

message frame(const message &payload)
{
    message bytes(length_size + payload.size());
    le::store32(bytes.data(), static_cast<uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), bytes.begin() + length_size);
    return bytes;
}

int read_field(const message &payload, size_t &pos, int32_t &value)
{
    if (pos > payload.size() || payload.size() - pos < field_size)
        return -1;
    value = static_cast<int32_t>(le::load32(payload.data() + pos));
    pos += field_size;
    return 0;
}

int unpack_server_event(const message &payload, server_event &event)
{
    event = server_event{};
    size_t pos = 0;
    if (read_field(payload, pos, event.type) != 0)
        return -1;
    switch (event.type) {
    case TULKA_MSG_LEARN_COMPLETE:
        return read_field(payload, pos, event.result);
    case TULKA_MSG_KEY_EVENT: {
        if (read_field(payload, pos, event.code) != 0 || read_field(payload, pos, event.value) != 0 ||
            payload.size() - pos < remote_name_size)
            return -1;
        const auto *name = reinterpret_cast<const char *>(payload.data() + pos);
        event.remote.assign(name, std::find(name, name + remote_name_size, '\0'));
        return 0;
    }
    default:
        return 0;
    }
}

} // namespace tulka
