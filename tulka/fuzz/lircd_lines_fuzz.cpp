// Arbitrary bytes from lircd's socket through the line reader and the
// repeat filter.
#include <cstdint>
#include <string>

#include "lircd_lines.h"
#include "repeat_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const tulka::repeat_filter::key_table keys{{"KEY_POWER", 116}, {"KEY_1", 2}};
    std::function<void(bool)> pending;
    tulka::repeat_timer_control timer{[&pending](std::chrono::milliseconds, std::function<void(bool)> handler) {
                                          pending = std::move(handler);
                                      },
                                      [&pending] {
                                          if (auto handler = std::exchange(pending, nullptr))
                                              handler(true);
                                      }};
    tulka::repeat_filter filter(keys, 300, timer, [](const tulka::key_event &) {}, {});
    tulka::lircd_line_reader reader;

    const std::string bytes(reinterpret_cast<const char *>(data), size);
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find('\n', start);
        const std::size_t stop = end == std::string::npos ? bytes.size() : end + 1;
        auto item = reader.feed(bytes.substr(start, stop - start));
        if (auto *key = std::get_if<tulka::lircd_key_line>(&item))
            filter.filter(key->repeat, key->button, key->remote);
        if (pending && (stop & 1)) // let some timers expire
            std::exchange(pending, nullptr)(false);
        start = stop;
    }
    filter.stop();
    return 0;
}
