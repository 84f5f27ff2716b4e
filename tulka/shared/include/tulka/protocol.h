// Messages of the tulkad client socket, shared by the server and tulkactl.
//
// Every message on the socket is a 4-byte little-endian length followed by
// that many payload bytes; the payload starts with the 32-bit message type.
#ifndef TULKA_PROTOCOL_H
#define TULKA_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tulka {

using message = std::vector<uint8_t>;

constexpr const char *default_socket_path = "/tmp/tulka_socket";

enum msg_type : int32_t {
    TULKA_MSG_LEARN_START = 1,
    TULKA_MSG_LEARN_CANCEL = 2,
    TULKA_MSG_LEARN_COMPLETE = 3,
    TULKA_MSG_KEY_EVENT = 4,
    TULKA_MSG_CLEAR_LEARNED = 5,
    TULKA_MSG_LEARN_ACTIVITY = 6,
};

enum key_value : int32_t { KEY_VALUE_RELEASE = 0, KEY_VALUE_PRESS = 1, KEY_VALUE_REPEAT = 2 };

// "release", "press", "repeat"; empty for any other value.
const char *key_value_word(int32_t value);

constexpr size_t length_size = 4;
constexpr size_t field_size = 4;
constexpr size_t remote_name_size = 32;
constexpr size_t key_event_size = 3 * field_size + remote_name_size;

// Requests need at most 8 payload bytes; anything near this bound is a
// broken or hostile peer, not a message.
constexpr uint32_t max_message_length = 64 * 1024;

message pack_learn_start(int32_t code);
message pack_learn_cancel();
message pack_clear_learned();
message pack_learn_complete(bool result);
message pack_learn_activity();
// The remote name is cut to 31 bytes so that its field always ends in a zero.
message pack_key_event(int32_t code, int32_t value, const std::string &remote);

// The bytes written on the socket: length prefix, then the payload.
message frame(const message &payload);

// Reads the 32-bit field at `pos` and advances it. 0 on success, -1 when
// fewer than 4 bytes are left.
int read_field(const message &payload, size_t &pos, int32_t &value);

// A message from the server as a record; fields its type lacks stay zero.
struct server_event {
    int32_t type = 0;
    int32_t result = 0;
    int32_t code = 0;
    int32_t value = 0;
    std::string remote;
};

// 0 on success, -1 when the payload is too short for its type. Unknown
// types decode to their type alone.
int unpack_server_event(const message &payload, server_event &event);

} // namespace tulka

#endif
