#include "input_lirc.h"

#include "close_on_exec.h"
#include "log.h"
#include "tulka/key_table.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/read_until.hpp>

#include <cerrno>
#include <chrono>
#include <istream>
#include <utility>

namespace tulka {
namespace {

// lircd's lines are short; a longer one is a broken peer.
constexpr size_t max_line_bytes = 256;
constexpr std::chrono::seconds reconnect_delay{1};

} // namespace

input_lirc::input_lirc(boost::asio::io_context &io, uint32_t repeat_ms, std::string socket_path)
    : m_io(io), m_socket_path(std::move(socket_path)), m_socket(io),
      m_lines(std::make_shared<boost::asio::streambuf>(max_line_bytes)), m_reconnect_timer(io), m_repeat_timer(io),
      m_filter(
          key_codes, repeat_ms, repeat_timer(), [this](const key_event &event) { emit(event); },
          stdio_log(log_flags, log_stamp))
{
}

input_lirc::~input_lirc()
{
    m_filter.stop();
    m_reconnect_timer.cancel();
    error_code ignored;
    m_socket.close(ignored);
}

void input_lirc::start(key_callback callback)
{
    m_callback_key = std::move(callback);
    connect();
}

repeat_timer_control input_lirc::repeat_timer()
{
    repeat_timer_control control;
    control.start = [this](std::chrono::milliseconds delay, std::function<void(bool)> expired) {
        m_repeat_timer.expires_after(delay);
        m_repeat_timer.async_wait([weak = weak_from_this(), expired](const error_code &ec) {
            if (weak.lock())
                expired(ec == boost::asio::error::operation_aborted);
        });
    };
    control.cancel = [this] { m_repeat_timer.cancel(); };
    return control;
}

void input_lirc::emit(const key_event &event)
{
    KeyInfo_t key;
    key.code = event.code;
    key.value = event.value;
    key.remote = event.remote;
    // Inside the loop this runs at once, before the filter logs the event.
    boost::asio::dispatch(m_io, [callback = m_callback_key, key] {
        if (callback)
            callback(key);
    });
}

void input_lirc::connect()
{
    error_code ec;
    m_socket.close(ec);
    // A new connection starts with no partial line and outside any packet.
    m_lines->consume(m_lines->size());
    m_reader.reset();
    const boost::asio::local::stream_protocol::endpoint endpoint(m_socket_path);
    m_socket.open(endpoint.protocol(), ec);
    if (!ec && !set_close_on_exec(m_socket.native_handle()))
        ec = error_code(errno, boost::system::system_category());
    if (!ec)
        m_socket.connect(endpoint, ec);
    if (ec) {
        m_socket.close(ec);
        m_reconnect_timer.expires_after(reconnect_delay);
        m_reconnect_timer.async_wait([weak = weak_from_this()](const error_code &wait_ec) {
            const auto self = weak.lock();
            if (!wait_ec && self)
                self->connect();
        });
        return;
    }
    log_info("connected to lircd");
    read_line();
}

void input_lirc::read_line()
{
    boost::asio::async_read_until(m_socket, *m_lines, '\n',
                                  [weak = weak_from_this(), lines = m_lines](const error_code &ec, size_t) {
                                      if (const auto self = weak.lock())
                                          self->on_line(ec);
                                  });
}

void input_lirc::on_line(const error_code &ec)
{
    if (ec) {
        if (ec != boost::asio::error::operation_aborted)
            log_debug("input: error:", ec.message());
        connect();
        return;
    }
    std::istream lines(m_lines.get());
    std::string line;
    std::getline(lines, line);
    const auto item = m_reader.feed(line);
    if (const auto *key = std::get_if<lircd_key_line>(&item))
        m_filter.filter(key->repeat, key->button, key->remote);
    read_line();
}

} // namespace tulka
