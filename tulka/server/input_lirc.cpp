#include "input_lirc.h"

#include <utility>

namespace tulka {

input_lirc::input_lirc(boost::asio::io_context &io, uint32_t repeat_ms)
    : m_io(io), m_repeat_ms(repeat_ms)
{
}

void input_lirc::start(key_callback callback) { m_callback_key = std::move(callback); }

} // namespace tulka
