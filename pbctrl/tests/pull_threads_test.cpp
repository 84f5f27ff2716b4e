// Two pull playbacks played at once, each read synchronously and
// asynchronously by the engine, while an application thread calls in;
// built for ThreadSanitizer in the host-tsan preset.
#include "qivpbctrl.h"

#include "checksum.h"
#include "client_info.h"
#include "engine_harness.h"
#include "pull_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

namespace {

TEST(PullThreads, TwoPlaybacksPlayAtOnce)
{
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    testing::internal::CaptureStdout(); // a line per handler call otherwise
    ASSERT_EQ(IQivPb_Ctrl_Init(), 0);
    constexpr int kPlaybacks = 2;
    IQIV_PB_HANDLE_T h[kPlaybacks] = {};
    pulltest::Source src[kPlaybacks] = {pulltest::Source(1 << 20, 1), pulltest::Source((1 << 20) + 7, 2)};
    std::string play[kPlaybacks], expected[kPlaybacks];
    for (int i = 0; i < kPlaybacks; ++i) {
        ASSERT_EQ(IQivPb_Ctrl_Open(&h[i], IQIV_PB_BUF_MOD_PULL, 0, "pull"), 0);
        const int slot = pbctrl::find_by_handle(h[i]);
        ASSERT_GE(slot, 0);
        src[i].attach(slot);
        char b[96];
        std::snprintf(b, sizeof b, "pullplay %u %p 2 16384", h[i],
                      static_cast<void *>(&pbctrl::t_client_info[slot].ui1_client_idx));
        play[i] = b;
        std::snprintf(b, sizeof b, "%zu %016llx", src[i].data.size(),
                      static_cast<unsigned long long>(pbsim::checksum_of(src[i].data.data(), src[i].data.size())));
        expected[i] = b;
    }
    std::string answer[kPlaybacks];
    std::atomic<bool> done{false};
    std::atomic<int> app_failures{0};
    std::thread app([&] {
        while (!done)
            if (IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr) != 0)
                ++app_failures;
    });
    std::thread players[kPlaybacks];
    for (int i = 0; i < kPlaybacks; ++i)
        players[i] = std::thread([&, i] { answer[i] = engine.ok(play[i]); });
    for (std::thread &t : players)
        t.join();
    done = true;
    app.join();
    for (int i = 0; i < kPlaybacks; ++i) {
        EXPECT_EQ(answer[i], expected[i]);
        EXPECT_EQ(IQivPb_Ctrl_Close(h[i]), 0);
    }
    EXPECT_EQ(app_failures.load(), 0);
    testing::internal::GetCapturedStdout();
}

// Both played by the engine's own threads on Play, their events and pull
// calls crossing on the one connection.
TEST(PullThreads, TwoPlaybacksPlayedByTheEngineAtOnce)
{
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    testing::internal::CaptureStdout();
    ASSERT_EQ(IQivPb_Ctrl_Init(), 0);
    constexpr int kPlaybacks = 2;
    IQIV_PB_HANDLE_T h[kPlaybacks] = {};
    pulltest::Source src[kPlaybacks] = {pulltest::Source(1 << 20, 3), pulltest::Source((1 << 20) + 9, 4)};
    pulltest::Events events[kPlaybacks];
    for (int i = 0; i < kPlaybacks; ++i)
        ASSERT_EQ(IQivPb_Ctrl_Open(&h[i], IQIV_PB_BUF_MOD_PULL, 0, "pull"), 0);
    // Set at once: each playback's substitute parameter keeps its own tag.
    std::atomic<int> set_failures{0};
    std::thread setters[kPlaybacks];
    for (int i = 0; i < kPlaybacks; ++i)
        setters[i] = std::thread([&, i] {
            if (src[i].set_engine_param(h[i]) != 0 || events[i].reg(h[i]) != 0)
                ++set_failures;
        });
    for (std::thread &t : setters)
        t.join();
    ASSERT_EQ(set_failures.load(), 0);
    for (int i = 0; i < kPlaybacks; ++i)
        ASSERT_EQ(IQivPb_Ctrl_Play(h[i], 0), 0);
    for (int i = 0; i < kPlaybacks; ++i) {
        std::unique_lock<std::mutex> lock(events[i].mu);
        ASSERT_TRUE(events[i].wait_end(lock));
        EXPECT_EQ(events[i].ends[0].ui8_checksum, pbsim::checksum_of(src[i].data.data(), src[i].data.size()));
        EXPECT_EQ(events[i].ends[0].ui8_bytes, src[i].data.size());
    }
    for (int i = 0; i < kPlaybacks; ++i) {
        EXPECT_EQ(IQivPb_Ctrl_Stop(h[i]), 0);
        EXPECT_EQ(IQivPb_Ctrl_Close(h[i]), 0);
    }
    testing::internal::GetCapturedStdout();
}

} // namespace
