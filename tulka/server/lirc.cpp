#include "lirc.h"

#include "log.h"

#include <utility>

namespace tulka {

lirc::lirc(boost::asio::io_context &io, std::string config_dir, std::string device,
           uint32_t sample_ms)
    : m_io(io), m_config_dir(std::move(config_dir)), m_device(std::move(device)),
      m_sample_ms(sample_ms)
{
}

void lirc::learn(const std::string &key, completion_callback on_complete,
                 activity_callback on_activity)
{
    log_info("starting learn on ", m_device);
    m_callback = std::move(on_complete);
    m_activity = std::move(on_activity);
    m_key = key;
}

void lirc::cancel()
{
    m_callback = nullptr;
    m_activity = nullptr;
    m_key.clear();
}

void lirc::clear_learned() {}

} // namespace tulka
