// An application's side of push mode for the tests and the benchmark:
// fills buffers from memory, sends them, and waits for event 12 when the
// slices are all taken.
#ifndef PBCTRL_PUSH_APP_H
#define PBCTRL_PUSH_APP_H

#include "qivpbctrl.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace pushtest {

// Counts event 12 and wakes whoever waits for it.
struct Events {
    std::mutex mu;
    std::condition_variable cv;
    uint64_t free_events = 0;
    uint64_t others = 0;

    static int32_t on_event(uint32_t e_event, void *pv_tag, void *)
    {
        auto *e = static_cast<Events *>(pv_tag);
        std::lock_guard<std::mutex> lock(e->mu);
        if (e_event == IQIV_PB_CTRL_EVENT_BUFFER_FREE)
            ++e->free_events;
        else
            ++e->others;
        e->cv.notify_all();
        return 0;
    }
    uint64_t seen()
    {
        std::lock_guard<std::mutex> lock(mu);
        return free_events;
    }
    // False if no event came after `since` within the time.
    bool wait_after(uint64_t since, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, limit, [&] { return free_events != since; });
    }
};

// Pushes bytes in buffers of the given sizes, in turn; 0 or the first
// failing result.
inline int32_t push_bytes(uint32_t h, Events &ev, const uint8_t *data, size_t n, const std::vector<uint32_t> &sizes)
{
    size_t off = 0;
    for (size_t k = 0; off < n; ++k) {
        const uint32_t size = static_cast<uint32_t>(std::min<size_t>(sizes[k % sizes.size()], n - off));
        void *buf = nullptr;
        for (;;) {
            const uint64_t since = ev.seen();
            const int32_t rc = IQivPb_Ctrl_GetBuffer(h, size, &buf);
            if (rc == 0)
                break;
            if (rc != IQIVPB_PENDING)
                return rc;
            if (!ev.wait_after(since))
                return IQIVPB_PENDING;
        }
        std::memcpy(buf, data + off, size);
        const int32_t rc = IQivPb_Ctrl_SendData(h, size, buf);
        if (rc != 0)
            return rc;
        off += size;
    }
    return 0;
}

// Bytes that do not repeat, made quickly.
inline std::vector<uint8_t> stream_bytes(size_t n, uint64_t seed)
{
    std::vector<uint8_t> out(n);
    uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (size_t i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(out.data() + i, &x, std::min<size_t>(8, n - i));
    }
    return out;
}

} // namespace pushtest

#endif
