// Client of lircd's socket: turns decoded button lines into key events,
// with repeats generated while lircd reports a button held. Reconnects
// every second while lircd is away (it is stopped during a learn).
#ifndef TULKA_DAEMON_INPUT_LIRC_H
#define TULKA_DAEMON_INPUT_LIRC_H

#include "lircd_lines.h"
#include "repeat_filter.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tulka {

constexpr uint16_t KEY_EVENT_TYPE = 1;
constexpr const char *lircd_socket_path = "/var/run/lirc/lircd";

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

    input_lirc(boost::asio::io_context &io, uint32_t repeat_ms, std::string socket_path = lircd_socket_path);
    ~input_lirc();
    input_lirc(const input_lirc &) = delete;
    input_lirc &operator=(const input_lirc &) = delete;

    // Stores the callback and connects to lircd, at once or by retrying.
    void start(key_callback callback);

private:
    using error_code = boost::system::error_code;

    void connect();
    void read_line();
    void on_line(const error_code &ec);
    void emit(const key_event &event);
    repeat_timer_control repeat_timer();

    boost::asio::io_context &m_io;
    std::string m_socket_path;
    boost::asio::local::stream_protocol::socket m_socket;
    // Shared with a pending read, which may complete after this object is gone.
    std::shared_ptr<boost::asio::streambuf> m_lines;
    boost::asio::steady_timer m_reconnect_timer;
    boost::asio::steady_timer m_repeat_timer;
    key_callback m_callback_key;
    lircd_line_reader m_reader;
    repeat_filter m_filter;
};

} // namespace tulka

#endif
