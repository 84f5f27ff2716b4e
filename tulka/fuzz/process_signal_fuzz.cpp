// Arbitrary mode-2 words through the learn processing and the file text.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ir_signal.h"
#include "learned_config.h"

namespace {

tulka::log_sink all_lines()
{
    // Every trace is built, so the dump code is exercised too.
    return tulka::log_sink([](tulka::log_level) { return true; }, [](tulka::log_level, const std::string &) {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    tulka::ir_signal capture(size / sizeof(tulka::lirc_value));
    if (!capture.empty())
        std::memcpy(capture.data(), data, capture.size() * sizeof(tulka::lirc_value));

    const tulka::signal_processor processor(all_lines());
    processor.has_min_data(capture);
    tulka::ir_signal first = capture, second;
    std::uint32_t gap = tulka::base_gap_us;
    processor.process_signal(first, second, gap);

    for (const tulka::ir_signal *signal : {&first, &second})
        for (tulka::lirc_value value : *signal)
            if (value > tulka::lirc_duration_mask)
                std::abort();
    if (first.size() + second.size() > capture.size() + 1)
        std::abort();
    if (tulka::learned_enough(first)) {
        tulka::end_with_pulse(first);
        tulka::end_with_pulse(second);
        if (tulka::learned_config_text("KEY_FUZZ", gap, first, second, capture).empty())
            std::abort();
    }
    return 0;
}
