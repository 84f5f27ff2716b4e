// The listening socket, the one client connection and the outgoing queue.
#ifndef TULKA_DAEMON_STREAM_SERVER_H
#define TULKA_DAEMON_STREAM_SERVER_H

#include "tulka/protocol.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace tulka {

class stream_server : public std::enable_shared_from_this<stream_server> {
public:
    using message_handler = std::function<void(message)>;

    explicit stream_server(boost::asio::io_context &io);
    stream_server(const stream_server &) = delete;
    stream_server &operator=(const stream_server &) = delete;

    // Binds `path` (replacing any file there) and accepts clients. Throws
    // boost::system::system_error named after the failing step.
    virtual void start(message_handler handler, const std::string &path);
    // Queues a payload; it goes out to the current or the next client.
    virtual void send(const message &payload);
    virtual void stop();
    virtual ~stream_server();

private:
    using error_code = boost::system::error_code;

    void do_accept();
    void on_accept(const error_code &ec);
    // Reads exactly the buffer on the current connection, then runs next;
    // a failed read drops the connection.
    void read_exactly(boost::asio::mutable_buffer buffer, void (stream_server::*next)());
    void read_length();
    void read_payload();
    void handle_payload();
    void write_head();
    // Every completion is tagged with its connection, so that a late
    // completion of a closed connection cannot drop the next client.
    bool is_current(unsigned connection) const;
    void disconnect();

    boost::asio::local::stream_protocol::acceptor m_acceptor;
    boost::asio::local::stream_protocol::socket m_client;
    boost::asio::steady_timer m_accept_retry;
    message_handler m_handler;
    uint8_t m_recv_length[length_size] = {};
    message m_recv_buffer;
    uint8_t m_send_length[length_size] = {};
    std::deque<message> m_queue;
    unsigned m_connection = 0;
    bool m_connected = false;
    bool m_writing = false;
    bool m_stopped = false;
};

} // namespace tulka

#endif
