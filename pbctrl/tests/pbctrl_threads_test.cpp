// Several application threads open, call and close while the engine calls
// back; built for ThreadSanitizer in the host-tsan preset.
#include "qivpbctrl.h"

#include "engine_harness.h"
#include "log_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

TEST(PbctrlThreads, OpenCallCloseFromSeveralThreads)
{
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    testing::internal::CaptureStdout(); // thousands of lines otherwise
    ASSERT_EQ(IQivPb_Ctrl_Init(), 0);
    IQIV_PB_HANDLE_T first = 0;
    ASSERT_EQ(IQivPb_Ctrl_Open(&first, IQIV_PB_BUF_MOD_PUSH, 1, "push"), 0);

    constexpr int kThreads = 3;
    constexpr int kRounds = 5;
    constexpr int kCalls = 10;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::atomic<int> cli_failures{0};
    std::thread engine_cli([&] {
        // The engine's command line changes and reads the log level meanwhile.
        while (!done) {
            if (engine.ok("callback x_qivpbctrl_cli_fct cli0 0x48:0") != "0 2 0" ||
                engine.ok("callback x_qivpbctrl_cli_fct cli1 0x48:0") != "0 2 0")
                ++cli_failures;
        }
    });
    std::vector<std::thread> apps;
    for (int t = 0; t < kThreads; ++t) {
        apps.emplace_back([&] {
            IQivPb_Ctrl_Init();
            for (int r = 0; r < kRounds; ++r) {
                IQIV_PB_HANDLE_T h = 0;
                // Two slots are left for three threads: a refusal is fine here.
                if (IQivPb_Ctrl_Open(&h, IQIV_PB_BUF_MOD_PULL, 0, "pull") != 0)
                    continue;
                for (int c = 0; c < kCalls; ++c)
                    if (IQivPb_Ctrl_Reg_CLI(pbctrl::x_QivPb_Ctrl_ClientSetDbgLevel,
                                            pbctrl::x_QivPb_Ctrl_ClientPrintDbgLevel,
                                            pbctrl::x_QivPb_Ctrl_ClientForceOpenLog) != 0)
                        ++failures;
                if (IQivPb_Ctrl_Close(h) != 0)
                    ++failures;
            }
            IQivPb_Ctrl_Terminate();
        });
    }
    for (auto &a : apps)
        a.join();
    done = true;
    engine_cli.join();
    EXPECT_EQ(IQivPb_Ctrl_Close(first), 0);
    IQivPb_Ctrl_Terminate();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(cli_failures.load(), 0);
    // The engine sees the connection end a moment later.
    std::string conns;
    for (int i = 0; i < 1000 && (conns = engine.ok("conns")) != "0"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(conns, "0");
}

} // namespace
