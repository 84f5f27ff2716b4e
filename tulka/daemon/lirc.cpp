#include "lirc.h"

#include "lirc_device.h"
#include "log.h"

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace tulka {
namespace {

constexpr std::chrono::milliseconds open_retry_delay{100};

shell_runner runner_or_exec_sync(shell_runner run)
{
    if (run)
        return run;
    return [](const std::string &command) { return exec_sync(command); };
}

} // namespace

lirc::lirc(boost::asio::io_context &io, std::string config_dir, std::string device, uint32_t sample_ms,
           shell_runner run)
    : m_io(io), m_device_fd(io), m_device(std::move(device)), m_sample_ms(sample_ms), m_learn_timer(io),
      m_retry_timer(io), m_log(stdio_log(log_flags, log_stamp)), m_capture(m_log), m_lircd(runner_or_exec_sync(run)),
      m_store(std::move(config_dir), runner_or_exec_sync(run), m_log)
{
    m_lircd.restart_lircd();
}

lirc::~lirc()
{
    m_lircd.stop_lircd();
    error_code ignored;
    m_learn_timer.cancel();
    m_retry_timer.cancel();
    m_device_fd.close(ignored);
}

void lirc::learn(const std::string &key, completion_callback on_complete, activity_callback on_activity)
{
    m_lircd.stop_lircd();
    m_log.info("starting learn on ", m_device);
    end_session();
    m_retry_timer.cancel();
    close_device();
    m_capture.reset();
    m_learn_timer.cancel();
    m_callback = std::move(on_complete);
    m_activity = std::move(on_activity);
    m_key = key;
    open_device();
}

void lirc::cancel()
{
    end_session();
    m_retry_timer.cancel();
    m_capture.stop_sampling();
    m_learn_timer.cancel();
    close_device();
    m_lircd.restart_lircd();
}

void lirc::clear_learned() { m_store.clear_learned(m_lircd); }

void lirc::end_session() { ++m_session; }

void lirc::close_device()
{
    if (!m_device_fd.is_open())
        return;
    error_code ec;
    m_device_fd.close(ec);
    if (ec)
        throw boost::system::system_error(ec, "close");
}

void lirc::open_device()
{
    const int fd = ::open(m_device.c_str(), O_RDONLY | O_CLOEXEC);
    error_code ec;
    if (fd >= 0)
        m_device_fd.assign(fd, ec);
    if (fd < 0 || ec) {
        if (fd >= 0 && ec)
            ::close(fd);
        retry_open();
        return;
    }
    drain_pending(fd);
    do_learn();
}

void lirc::retry_open()
{
    m_log.info("error opening ", m_device, " - retrying...");
    m_retry_timer.expires_after(open_retry_delay);
    m_retry_timer.async_wait([weak = weak_from_this(), session = m_session](const error_code &ec) {
        const auto self = weak.lock();
        if (!ec && self && session == self->m_session)
            self->open_device();
    });
}

void lirc::do_learn()
{
    m_device_fd.async_read_some(boost::asio::buffer(m_buffer),
                                [self = shared_from_this(), session = m_session](const error_code &ec, size_t bytes) {
                                    if (session == self->m_session)
                                        self->on_read(ec, bytes);
                                });
}

void lirc::on_read(const error_code &ec, size_t bytes)
{
    if (ec == boost::asio::error::operation_aborted)
        return;
    if (ec) {
        m_log.error("lirc: error: ", ec.message());
        close_device();
        return;
    }
    if (m_capture.on_read(m_buffer.data(), bytes, m_activity))
        start_sampling();
    do_learn();
}

void lirc::start_sampling()
{
    m_learn_timer.expires_after(std::chrono::milliseconds(m_sample_ms));
    m_learn_timer.async_wait([weak = weak_from_this(), session = m_session](const error_code &ec) {
        const auto self = weak.lock();
        if (!ec && self && session == self->m_session)
            self->finish_learn();
    });
}

void lirc::finish_learn()
{
    end_session();
    m_learn_timer.cancel();
    close_device();
    const bool learned = m_capture.finish();
    if (learned)
        m_store.save_config(m_key, m_capture.gap(), m_capture.first(), m_capture.second(), m_capture.raw());
    m_lircd.start_lircd();
    log_error("m_callback call ");
    if (m_callback)
        boost::asio::post(m_io, [callback = m_callback, learned] { callback(learned); });
}

} // namespace tulka
