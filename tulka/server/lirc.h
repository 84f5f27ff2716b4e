// Learning of remote-control buttons from raw infrared timings.
//
// This holds the learn session: key name and callbacks. Capturing from the
// receiver device and controlling lircd are not wired in yet, so a learn
// stays pending until it is cancelled or replaced.
#pragma once

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tulka {

class lirc : public std::enable_shared_from_this<lirc> {
public:
    using completion_callback = std::function<void(bool)>;
    using activity_callback = std::function<void()>;

    lirc(boost::asio::io_context &io, std::string config_dir, std::string device,
         uint32_t sample_ms);
    lirc(const lirc &) = delete;
    lirc &operator=(const lirc &) = delete;

    // Starts learning the button for `key`; the callbacks of an earlier learn
    // are dropped without being called.
    void learn(const std::string &key, completion_callback on_complete,
               activity_callback on_activity);
    // Ends the current learn without calling its callbacks.
    void cancel();
    // Deletes every learned configuration (none can be written yet).
    void clear_learned();

private:
    boost::asio::io_context &m_io;
    std::string m_config_dir;
    std::string m_device;
    uint32_t m_sample_ms;
    std::string m_key;
    completion_callback m_callback;
    activity_callback m_activity;
};

} // namespace tulka
