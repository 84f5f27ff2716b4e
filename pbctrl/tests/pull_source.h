// An application's pull functions over bytes in memory, for the pull tests.
#ifndef PBCTRL_PULL_SOURCE_H
#define PBCTRL_PULL_SOURCE_H

#include "qivpbctrl.h"

#include "client_info.h"
#include "remote_call.h"
#include "pbengine/events.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace pulltest {

struct Source {
    std::vector<uint8_t> data;
    uint64_t pos = 0;
    std::mutex mu;
    std::vector<std::thread> readers;
    bool hold_async = false;   // asynchronous reads that never complete
    bool inline_async = false; // ... or complete inside the read call
    std::atomic<int> opens{0}, closes{0}, async_reads{0};

    explicit Source(size_t n, uint32_t seed = 1) : data(n)
    {
        std::mt19937 gen(seed);
        for (uint8_t &b : data)
            b = static_cast<uint8_t>(gen());
    }
    ~Source()
    {
        for (std::thread &t : readers)
            t.join();
    }

    uint32_t copy_out(void *buf, uint32_t len)
    {
        std::lock_guard<std::mutex> lock(mu);
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(len, data.size() - pos));
        std::memcpy(buf, data.data() + pos, n);
        pos += n;
        return n;
    }

    static int32_t open(uint32_t, uint32_t *ph, void *tag)
    {
        *ph = 100 + static_cast<Source *>(tag)->opens++;
        return 0;
    }
    static int32_t close(uint32_t, void *tag)
    {
        ++static_cast<Source *>(tag)->closes;
        return 0;
    }
    static int32_t read(uint32_t, void *tag, void *buf, uint32_t len, uint32_t *got)
    {
        *got = static_cast<Source *>(tag)->copy_out(buf, len);
        return 0;
    }
    // Completes from a thread of its own, as a real source would.
    static int32_t read_async(uint32_t, void *tag, void *buf, uint32_t len, IQIV_PB_CTRL_PULL_NFY_FCT nfy,
                              void *nfy_tag, uint32_t *req)
    {
        auto *s = static_cast<Source *>(tag);
        *req = static_cast<uint32_t>(++s->async_reads);
        if (s->hold_async)
            return 0;
        if (s->inline_async)
            return nfy(0, nfy_tag, s->copy_out(buf, len), 0);
        std::lock_guard<std::mutex> lock(s->mu);
        s->readers.emplace_back([s, buf, len, nfy, nfy_tag] {
            const uint32_t n = s->copy_out(buf, len);
            nfy(0, nfy_tag, n, 0);
        });
        return 0;
    }
    static int32_t abort_read(uint32_t, void *, uint32_t) { return 0; }
    static int32_t seek(uint32_t, void *tag, uint64_t off, uint8_t origin, uint64_t *cur)
    {
        auto *s = static_cast<Source *>(tag);
        std::lock_guard<std::mutex> lock(s->mu);
        if (origin != IQIV_PB_CTRL_SEEK_SET || off > s->data.size())
            return -1;
        *cur = s->pos = off;
        return 0;
    }
    static int32_t length(uint32_t, void *tag, uint64_t *len)
    {
        *len = static_cast<Source *>(tag)->data.size();
        return 0;
    }

    // The pull engine parameters of playback h with these functions.
    int32_t set_engine_param(IQIV_PB_HANDLE_T h)
    {
        IQIV_PB_CTRL_ENGINE_PARAM_T p{};
        p.uBufferModelParam.tPullInfo = IQIV_PB_CTRL_PULL_INFO_T{this,
                                                                 reinterpret_cast<void *>(&Source::open),
                                                                 reinterpret_cast<void *>(&Source::close),
                                                                 reinterpret_cast<void *>(&Source::read),
                                                                 reinterpret_cast<void *>(&Source::read_async),
                                                                 reinterpret_cast<void *>(&Source::abort_read),
                                                                 reinterpret_cast<void *>(&Source::seek),
                                                                 reinterpret_cast<void *>(&Source::length)};
        return IQivPb_Ctrl_SetEngineParam(h, &p);
    }

    // What setting the pull engine parameters leaves in the slot.
    void attach(int slot)
    {
        pbctrl::ClientInfo &c = pbctrl::t_client_info[slot];
        c.t_pull_fct = pbctrl::PullFct{this,
                                       reinterpret_cast<void *>(&Source::open),
                                       reinterpret_cast<void *>(&Source::close),
                                       reinterpret_cast<void *>(&Source::read),
                                       reinterpret_cast<void *>(&Source::read_async),
                                       reinterpret_cast<void *>(&Source::abort_read),
                                       reinterpret_cast<void *>(&Source::seek),
                                       reinterpret_cast<void *>(&Source::length)};
        c.ui1_client_idx = static_cast<uint8_t>(slot);
    }
};

// What the engine's events told the application while it played.
struct Events {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<pbsim::PlayProgress> progress;
    std::vector<pbsim::PlayEnd> ends;

    static int32_t on_event(uint32_t event, void *tag, void *data)
    {
        auto *e = static_cast<Events *>(tag);
        std::lock_guard<std::mutex> lock(e->mu);
        if (event == pbsim::kEventProgress)
            e->progress.push_back(*static_cast<pbsim::PlayProgress *>(data));
        if (event == pbsim::kEventEndOfStream)
            e->ends.push_back(*static_cast<pbsim::PlayEnd *>(data));
        e->cv.notify_all();
        return 0;
    }

    int32_t reg(IQIV_PB_HANDLE_T h) { return IQivPb_Ctrl_RegCallback(h, this, &on_event); }

    bool wait_end(std::unique_lock<std::mutex> &lock)
    {
        return cv.wait_for(lock, std::chrono::seconds(20), [&] { return !ends.empty(); });
    }
};

} // namespace pulltest

#endif
