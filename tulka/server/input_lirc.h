// Client of lircd's socket: turns decoded button lines into key events.
//
// The connection to lircd is not wired in yet: start() stores the key
// callback, and no event is produced until it is.
#pragma once

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tulka {

constexpr uint16_t KEY_EVENT_TYPE = 1;

// The first four fields have the layout of Linux's input_event.
struct KeyInfo_t {
    int32_t time_sec = 0;
    int32_t time_usec = 0;
    uint16_t type = KEY_EVENT_TYPE;
    uint16_t code = 0;
    int32_t value = 0;
    std::string remote;
};

class input_lirc : public std::enable_shared_from_this<input_lirc> {
public:
    using key_callback = std::function<void(KeyInfo_t)>;

    input_lirc(boost::asio::io_context &io, uint32_t repeat_ms);
    input_lirc(const input_lirc &) = delete;
    input_lirc &operator=(const input_lirc &) = delete;

    void start(key_callback callback);

private:
    boost::asio::io_context &m_io;
    uint32_t m_repeat_ms;
    key_callback m_callback_key;
};

} // namespace tulka
