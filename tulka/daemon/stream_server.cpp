#include "stream_server.h"

#include "close_on_exec.h"
#include "common/le_bytes.h"
#include "log.h"

#include <boost/asio/error.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace tulka {
namespace {

constexpr int listen_backlog = 128;
// A failing accept (out of descriptors, say) fails again at once; the pause
// keeps that from spinning the loop.
constexpr std::chrono::milliseconds accept_retry_delay{100};

void throw_on(const boost::system::error_code &ec, const char *step)
{
    if (ec)
        throw boost::system::system_error(ec, step);
}

} // namespace

stream_server::stream_server(boost::asio::io_context &io) : m_acceptor(io), m_client(io), m_accept_retry(io) {}

stream_server::~stream_server() { stop(); }

void stream_server::start(message_handler handler, const std::string &path)
{
    m_handler = std::move(handler);
    ::unlink(path.c_str());
    const boost::asio::local::stream_protocol::endpoint endpoint(path);
    error_code ec;
    m_acceptor.open(endpoint.protocol(), ec);
    throw_on(ec, "open");
    if (!set_close_on_exec(m_acceptor.native_handle()))
        throw_on(error_code(errno, boost::system::system_category()), "fcntl");
    m_acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
    throw_on(ec, "set_option");
    m_acceptor.bind(endpoint, ec);
    throw_on(ec, "bind");
    m_acceptor.listen(listen_backlog, ec);
    throw_on(ec, "listen");
    do_accept();
}

void stream_server::send(const message &payload)
{
    m_queue.push_back(payload);
    write_head();
}

void stream_server::stop()
{
    m_stopped = true;
    ++m_connection;
    m_connected = false;
    error_code ignored;
    m_accept_retry.cancel();
    m_acceptor.close(ignored);
    m_client.shutdown(boost::asio::socket_base::shutdown_both, ignored);
    m_client.close(ignored);
}

void stream_server::do_accept()
{
    m_acceptor.async_accept(m_client, [self = shared_from_this()](const error_code &ec) { self->on_accept(ec); });
}

void stream_server::on_accept(const error_code &ec)
{
    if (m_stopped)
        return;
    if (ec) {
        write_line(stderr, "do_accept fail");
        m_accept_retry.expires_after(accept_retry_delay);
        m_accept_retry.async_wait([self = shared_from_this()](const error_code &wait_ec) {
            if (!wait_ec && !self->m_stopped)
                self->do_accept();
        });
        return;
    }
    // Not fatal: the connection works, only a child could keep it open.
    if (!set_close_on_exec(m_client.native_handle()))
        log_error("error: cannot set close-on-exec on the client socket");
    write_line(stdout, "socket client connected");
    m_connected = true;
    read_length();
    write_head();
}

bool stream_server::is_current(unsigned connection) const { return m_connected && connection == m_connection; }

void stream_server::read_exactly(boost::asio::mutable_buffer buffer, void (stream_server::*next)())
{
    boost::asio::async_read(m_client, buffer,
                            [self = shared_from_this(), connection = m_connection, next](const error_code &ec, size_t) {
                                if (!self->is_current(connection))
                                    return;
                                if (ec) {
                                    write_line(stderr, "read fail");
                                    self->disconnect();
                                    return;
                                }
                                ((*self).*next)();
                            });
}

void stream_server::read_length() { read_exactly(boost::asio::buffer(m_recv_length), &stream_server::read_payload); }

void stream_server::read_payload()
{
    const uint32_t length = le::load32(m_recv_length);
    if (length > max_message_length) {
        log_error("error: message length ", length, " exceeds the limit of ", max_message_length);
        disconnect();
        return;
    }
    m_recv_buffer.resize(length);
    read_exactly(boost::asio::buffer(m_recv_buffer), &stream_server::handle_payload);
}

void stream_server::handle_payload()
{
    const unsigned connection = m_connection;
    m_handler(m_recv_buffer);
    if (is_current(connection))
        read_length();
}

void stream_server::write_head()
{
    if (m_writing || !m_connected || m_queue.empty())
        return;
    m_writing = true;
    const message &head = m_queue.front();
    le::store32(m_send_length, static_cast<uint32_t>(head.size()));
    // Asio sends with MSG_NOSIGNAL on Linux: a vanished client is a write
    // error here, never a SIGPIPE.
    const std::array<boost::asio::const_buffer, 2> buffers{boost::asio::buffer(m_send_length),
                                                           boost::asio::buffer(head)};
    boost::asio::async_write(m_client, buffers,
                             [self = shared_from_this(), connection = m_connection](const error_code &ec, size_t) {
                                 if (!self->is_current(connection))
                                     return;
                                 self->m_writing = false;
                                 if (ec) {
                                     // The head stays queued and goes out whole to the next client.
                                     write_line(stderr, "write fail");
                                     self->disconnect();
                                     return;
                                 }
                                 self->m_queue.pop_front();
                                 self->write_head();
                             });
}

void stream_server::disconnect()
{
    write_line(stdout, "socket client disconnected");
    m_connected = false;
    m_writing = false;
    ++m_connection;
    error_code ec;
    // The client sees end of file now, whoever else may hold the socket.
    m_client.shutdown(boost::asio::socket_base::shutdown_both, ec);
    m_client.close(ec);
    throw_on(ec, "close");
    do_accept();
}

} // namespace tulka
