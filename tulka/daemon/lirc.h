// Learning of remote-control buttons from raw infrared timings: the
// receiver device, the sample timer and the callbacks of one learn, with
// lircd stopped while the receiver is in use.
#ifndef TULKA_DAEMON_LIRC_H
#define TULKA_DAEMON_LIRC_H

#include "learn_capture.h"
#include "learned_config.h"
#include "lircd_control.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tulka {

class lirc : public std::enable_shared_from_this<lirc> {
public:
    using completion_callback = std::function<void(bool)>;
    using activity_callback = std::function<void()>;

    // Restarts lircd. Shell commands go through `run` (the daemon's
    // exec_sync unless a test gives its own).
    lirc(boost::asio::io_context &io, std::string config_dir, std::string device, uint32_t sample_ms,
         shell_runner run = {});
    // Stops lircd, so that it does not outlive the daemon.
    ~lirc();
    lirc(const lirc &) = delete;
    lirc &operator=(const lirc &) = delete;

    // Starts learning the button for `key`; the callbacks of an earlier learn
    // are dropped without being called.
    void learn(const std::string &key, completion_callback on_complete, activity_callback on_activity);
    // Ends the current learn without calling its callbacks; restarts lircd.
    void cancel();
    // Deletes every learned configuration and makes lircd drop them.
    void clear_learned();

private:
    using error_code = boost::system::error_code;

    void open_device();
    void retry_open();
    void do_learn();
    void on_read(const error_code &ec, size_t bytes);
    void start_sampling();
    void finish_learn();
    void close_device();
    // Makes completions of the reads and waits started so far stale.
    void end_session();

    boost::asio::io_context &m_io;
    boost::asio::posix::stream_descriptor m_device_fd;
    std::string m_device;
    uint32_t m_sample_ms;
    std::array<lirc_value, 512> m_buffer{};
    boost::asio::steady_timer m_learn_timer;
    boost::asio::steady_timer m_retry_timer;
    completion_callback m_callback;
    activity_callback m_activity;
    std::string m_key;
    // Every read and wait carries the session it was started in; one that
    // completes after a cancel or a new learn is ignored.
    unsigned m_session = 0;
    log_sink m_log;
    learn_capture m_capture;
    lircd_control m_lircd;
    learned_store m_store;
};

} // namespace tulka

#endif
