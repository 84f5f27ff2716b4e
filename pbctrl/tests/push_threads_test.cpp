// Two application threads push into one playback while the consumption
// notices arrive on the transport's thread; built for ThreadSanitizer in
// the host-tsan preset.
#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_harness.h"
#include "push_app.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace {

TEST(PushThreads, TwoThreadsPushIntoOnePlayback)
{
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    testing::internal::CaptureStdout();
    ASSERT_EQ(IQivPb_Ctrl_Init(), 0);
    ASSERT_EQ(engine.ok("push slices 8 4096"), "");
    IQIV_PB_HANDLE_T h = 0;
    ASSERT_EQ(IQivPb_Ctrl_Open(&h, IQIV_PB_BUF_MOD_PUSH, 1, "push"), 0);
    pushtest::Events events;
    ASSERT_EQ(IQivPb_Ctrl_RegCallback(h, &events, pushtest::Events::on_event), 0);

    constexpr size_t kPerThread = 2 << 20;
    const std::vector<uint8_t> data[2] = {pushtest::stream_bytes(kPerThread, 1), pushtest::stream_bytes(kPerThread, 2)};
    int32_t rc[2] = {-1, -1};
    std::thread app[2];
    for (int i = 0; i < 2; ++i)
        app[i] = std::thread([&, i] {
            rc[i] = pushtest::push_bytes(h, events, data[i].data(), data[i].size(), {4096, 8192u + i, 100, 12288});
        });
    for (std::thread &t : app)
        t.join();
    EXPECT_EQ(rc[0], 0);
    EXPECT_EQ(rc[1], 0);
    ASSERT_EQ(IQivPb_Ctrl_SetPushModelEOS(h), 0);
    std::istringstream stat(engine.ok("push stat " + std::to_string(h)));
    uint64_t bytes = 0, buffers = 0, notices = 0, failed = 1;
    std::string sum;
    stat >> bytes >> sum >> buffers >> notices >> failed;
    EXPECT_EQ(bytes, 2 * kPerThread);
    EXPECT_EQ(notices, buffers);
    EXPECT_EQ(failed, 0u);
    const int slot = pbctrl::find_by_handle(h);
    ASSERT_GE(slot, 0);
    for (int k = 0; k < pbctrl::kSlices; ++k)
        EXPECT_FALSE(pbctrl::t_client_info[slot].ab_slice_used[k] ||
                     pbctrl::t_client_info[slot].at_buf_info[k].pv_addr);
    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    IQivPb_Ctrl_Terminate();
    testing::internal::GetCapturedStdout();
}

} // namespace
