// libqivpbctrl against the real engine simulator, a separate process.
#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_harness.h"
#include "korm.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using pbharness::Engine;

bool whole(const std::string &text, const std::string &pattern) { return std::regex_match(text, std::regex(pattern)); }

size_t count(const std::string &text, const std::string &pattern)
{
    const std::regex re(pattern);
    return static_cast<size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

void capture()
{
    fflush(stdout);
    testing::internal::CaptureStdout();
}

std::string captured()
{
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string address(const void *p)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return b;
}

template <typename F> std::string address_of(F *fn) { return address(reinterpret_cast<const void *>(fn)); }

class Pbctrl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.start()); }
    void TearDown() override
    {
        // Back to the initial classes, for runs of several cases in one process.
        if (engine_.running())
            engine_.cmd("callback x_qivpbctrl_cli_fct cli0 0x48:8");
    }

    // Polls the engine's connection count, bounded.
    bool engine_conns_become(const std::string &n)
    {
        for (int i = 0; i < 1000; ++i) {
            if (engine_.ok("conns") == n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    int32_t open(IQIV_PB_HANDLE_T &h) { return IQivPb_Ctrl_Open(&h, IQIV_PB_BUF_MOD_URI, 0, "file:///a.ts"); }

    Engine engine_;
};

TEST_F(Pbctrl, InitIsCountedAndTheLastTerminateEndsTheLibrary)
{
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Terminate(), 0);
    std::string out = captured();
    EXPECT_TRUE(whole(out, "<Client> IQivPb_Ctrl_Terminate ------> is Called \\d+\n")) << out;

    capture();
    EXPECT_EQ(IQivPb_Ctrl_Init(), 0);
    EXPECT_EQ(IQivPb_Ctrl_Init(), 0);
    out = captured();
    EXPECT_EQ(count(out, "c_rpc_client_init is called\n"), 1u);
    EXPECT_EQ(count(out, "c_rpc_reg_qivpbctrl_cb_hndlrs is called\n"), 1u);
    // Every handler, in registration order.
    const std::regex reg_line("REG CB HNDLR (\\w+), 0x");
    std::vector<std::string> registered;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), reg_line); it != std::sregex_iterator(); ++it)
        registered.push_back((*it)[1]);
    const std::vector<std::string> handlers = {"x_qivpbctrl_cli_fct",
                                               "x_qivpbctrl_nfy_fct",
                                               "x_qivpbctrl_pull_open_nfy_fct",
                                               "x_qivpbctrl_pull_close_nfy_fct",
                                               "x_qivpbctrl_pull_MapMemSlice_nfy_fct",
                                               "x_qivpbctrl_pull_UnmapMemSlice_nfy_fct",
                                               "x_qivpbctrl_pull_read_nfy_fct",
                                               "x_qivpbctrl_pull_read_async_nfy_fct",
                                               "x_qivpbctrl_pull_abort_read_nfy_fct",
                                               "x_qivpbctrl_byteseek_nfy_fct",
                                               "x_qivpbctrl_get_input_length_nfy_fct",
                                               "x_qivpbctrl_Ipc_SendData_nfy_fct",
                                               "x_qivpbctrl_Enc_Buf_Cb_Fct",
                                               "x_qivpbctrl_filter_allocate_nfy_fct",
                                               "x_qivpbctrl_sp_nfy_fct",
                                               "x_qivpbctrl_DASH_Get_Entry_Fct",
                                               "x_qivpbctrl_pcm_upload_nfy_fct"};
    EXPECT_EQ(registered, handlers);
    EXPECT_EQ(count(out, "RPC_REG_CB_HNDLR succeed\n"), 1u);

    capture();
    IQivPb_Ctrl_Terminate();
    out = captured();
    EXPECT_EQ(count(out, "not the last caller,ui4_init_count=1 \n"), 1u) << out;

    // Still started: a playback opens and closes.
    IQIV_PB_HANDLE_T h = 0;
    ASSERT_EQ(open(h), 0);
    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);

    capture();
    IQivPb_Ctrl_Terminate();
    IQivPb_Ctrl_Terminate();
    out = captured();
    EXPECT_EQ(count(out, "not the last caller"), 0u);
    EXPECT_EQ(count(out, "is Called"), 2u);
}

TEST_F(Pbctrl, ThreePlaybacksOpenTheFourthIsRefusedAndTheLastCloseDisconnects)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h[4] = {};
    capture();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(open(h[i]), 0) << i;
    std::string out = captured();
    EXPECT_NE(h[0], h[1]);
    EXPECT_NE(h[1], h[2]);
    EXPECT_EQ(count(out, "c_rpc_start_client is called\n"), 1u) << "one connection for all";
    EXPECT_EQ(count(out, "<Client> x_QivPb_Ctrl_Open succeed, t_client_info\\[2\\]\\.h_handle is: " +
                             std::to_string(h[2]) + ", @Line: \\d+ \n"),
              1u);
    EXPECT_EQ(count(out, "<Client> Talmo Process ID is: " + std::to_string(getpid()) + ", \n"), 3u);
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Open"), "3");
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Reg_CLI"), "3");
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_Open 1"), "1");
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_Open 3"), "file:///a.ts");
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_Open 4"), std::to_string(getpid()));
    EXPECT_TRUE(engine_conns_become("1")); // the engine notices a closed connection soon, not at once

    capture();
    EXPECT_EQ(open(h[3]), -1);
    out = captured();
    EXPECT_EQ(count(out, "<Client>ERR: IQivPb_Ctrl_Open Fail, no enough client info, @Line: \\d+ \n"), 1u);
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Open"), "3");
    EXPECT_EQ(IQivPb_Ctrl_Open(nullptr, 1, 0, "x"), -3);

    capture();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(IQivPb_Ctrl_Close(h[i]), 0) << i;
    out = captured();
    EXPECT_EQ(count(out, "<Client>Release Number\\d client\n"), 3u);
    EXPECT_EQ(count(out, "c_rpc_uninit_qivpbctrl_client\n"), 1u);
    EXPECT_LT(out.find("Release Number0"), out.find("c_rpc_uninit_qivpbctrl_client"));
    // The refused fourth open left no count behind: the connection is gone.
    EXPECT_TRUE(engine_conns_become("0"));

    ASSERT_EQ(open(h[0]), 0);
    EXPECT_TRUE(engine_conns_become("1")); // the engine notices a closed connection soon, not at once
    EXPECT_EQ(IQivPb_Ctrl_Close(h[0]), 0);
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, RefusedOpenAndUnknownCloseKeepTheTablesRight)
{
    IQivPb_Ctrl_Init();
    engine_.ok("result x_QivPb_Ctrl_Open -5");
    IQIV_PB_HANDLE_T h[3] = {};
    EXPECT_EQ(open(h[0]), -5) << "the engine's own result";
    EXPECT_EQ(open(h[0]), -5);
    engine_.ok("reset");
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Open(&h[0], IQIV_PB_BUF_MOD_URI, 0, nullptr), -1);
    const std::string out = captured();
    EXPECT_EQ(count(out, "RPC Failure ret type:IQivPb_Ctrl_Open #\\d+, T:0\n"), 1u) << out;
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Open"), "0");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(open(h[i]), 0) << "refused opens hold no slot";
    // The engine does not know this handle: the playbacks stay open.
    EXPECT_EQ(IQivPb_Ctrl_Close(9999), -1);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(IQivPb_Ctrl_Close(h[i]), 0);
    EXPECT_TRUE(engine_conns_become("1")); // the engine notices a closed connection soon, not at once
    EXPECT_EQ(IQivPb_Ctrl_Close(h[2]), 0);
    EXPECT_TRUE(engine_conns_become("0"));
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, CallWithTheEngineDownReconnectsOnceAndFailsWithMinus6)
{
    IQivPb_Ctrl_Init();
    engine_.stop();
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr), -1);
    const std::string out = captured();
    EXPECT_EQ(count(out, "Open client:IQivPb_Ctrl_Reg_CLI #\\d+ try to auto connect \n"), 1u) << out;
    EXPECT_EQ(count(out, "c_rpc_start_client is called\n"), 1u);
    EXPECT_EQ(count(out, "\nRPC Failure:IQivPb_Ctrl_Reg_CLI #\\d+, ret -6\n"), 1u) << out;
    EXPECT_EQ(count(out, "\nRPC Failure ret type:IQivPb_Ctrl_Reg_CLI #\\d+, T:0\n"), 1u) << out;

    // An open that could not reach the engine leaves nothing behind either.
    IQIV_PB_HANDLE_T h = 0;
    EXPECT_EQ(open(h), -1);
    ASSERT_TRUE(engine_.start());
    ASSERT_EQ(open(h), 0);
    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    EXPECT_TRUE(engine_conns_become("0"));
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, AutoConnectNeverWaitsForTheInfoMutex)
{
    IQivPb_Ctrl_Init();
    // A stub running under t_info_mutex, with no connection open yet.
    pthread_mutex_lock(&pbctrl::t_info_mutex);
    auto call = std::async(std::launch::async, [] { return IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr); });
    const bool finished = call.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    pthread_mutex_unlock(&pbctrl::t_info_mutex);
    EXPECT_TRUE(finished);
    EXPECT_EQ(call.get(), 0);
    c_rpc_uninit_qivpbctrl_client(pbctrl::t_client_rpc_id);
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, EngineRestartedBetweenCallsIsReconnected)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h = 0;
    ASSERT_EQ(open(h), 0);
    engine_.kill();
    ASSERT_TRUE(engine_.start());
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr), 0);
    const std::string out = captured();
    EXPECT_EQ(count(out, "try to auto connect"), 1u);
    EXPECT_EQ(count(out, "<LOG [^,]+, IQivPb_Ctrl_Reg_CLI, #\\d+>RPC Succeed:IQivPb_Ctrl_Reg_CLI #\\d+, ret 0\n"), 1u)
        << out;
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Reg_CLI"), "1");
    // The new engine never saw the handle, but the call itself went through:
    // the playback is closed here and so is the connection.
    EXPECT_EQ(IQivPb_Ctrl_Close(h), -1);
    EXPECT_TRUE(engine_conns_become("0"));
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, ResultsOfAnotherTypeOrFailedCallsGiveMinus1)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h = 0;
    ASSERT_EQ(open(h), 0);
    engine_.ok("type x_QivPb_Ctrl_Reg_CLI 5");
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr), -1);
    std::string out = captured();
    EXPECT_EQ(count(out, "RPC Failure ret type:IQivPb_Ctrl_Reg_CLI #\\d+, T:5\n"), 1u) << out;

    engine_.ok("type x_QivPb_Ctrl_Reg_CLI 2");
    engine_.ok("result x_QivPb_Ctrl_Reg_CLI -7");
    EXPECT_EQ(IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr), -7);

    // Whatever the engine's handler answers, even -6, is its own failure:
    // no reconnection, no second run.
    engine_.ok("status x_QivPb_Ctrl_Reg_CLI -6");
    const std::string calls = engine_.ok("calls x_QivPb_Ctrl_Reg_CLI");
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Reg_CLI(nullptr, nullptr, nullptr), -1);
    out = captured();
    EXPECT_EQ(count(out, "RPC Failure:IQivPb_Ctrl_Reg_CLI #\\d+, ret -8\n"), 1u) << out;
    EXPECT_EQ(count(out, "try to auto connect"), 0u);
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Reg_CLI"), std::to_string(std::stoi(calls) + 1));

    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    IQivPb_Ctrl_Terminate();
}

// Sets the client's log classes through the engine's command line.
std::string set_level(Engine &e, int level)
{
    return e.ok("callback x_qivpbctrl_cli_fct cli0 0x48:" + std::to_string(level));
}

TEST_F(Pbctrl, LogClassesGateExactlyTheirLines)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h[3] = {};
    ASSERT_EQ(open(h[0]), 0); // hands the engine the log functions
    ASSERT_EQ(open(h[1]), 0);

    capture();
    EXPECT_EQ(set_level(engine_, 0), "0 2 0");
    ASSERT_EQ(open(h[2]), 0);
    EXPECT_EQ(open(h[2]), -1);
    std::string out = captured();
    EXPECT_EQ(count(out, "<Client> _hndlr_x_qivpbctrl_cli_fct ------> is Called \\d+\n"), 1u);
    EXPECT_EQ(count(out, "set LOG level: 0  @Line: \\d+\n"), 1u);
    EXPECT_EQ(count(out, "<Client> Talmo Process ID is: \\d+, \n"), 1u) << "not gated";
    EXPECT_EQ(count(out, "@Line"), 1u) << "only the level line itself:\n" << out;
    EXPECT_EQ(count(out, "no enough client info"), 0u);

    // Class 2: entries only, and the error lines.
    set_level(engine_, 2);
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Close(h[2]), 0);
    ASSERT_EQ(open(h[2]), 0);
    EXPECT_EQ(open(h[2]), -1);
    out = captured();
    EXPECT_EQ(count(out, "<Client> IQivPb_Ctrl_Reg_CLI ---> is called @Line: \\d+!\n"), 1u) << out;
    EXPECT_EQ(count(out, "IQivPb_Ctrl_Open ---> is called"), 0u) << "open's entry is class 8";
    EXPECT_EQ(count(out, "t_client_rpc_id is"), 0u);
    EXPECT_EQ(count(out, "no enough client info"), 1u);

    // Class 8: open, close and slot lines, not the stub entries.
    set_level(engine_, 8);
    capture();
    EXPECT_EQ(IQivPb_Ctrl_Close(h[2]), 0);
    ASSERT_EQ(open(h[2]), 0);
    out = captured();
    EXPECT_EQ(count(out, "<Client> IQivPb_Ctrl_Close ---> is called @Line: \\d+!\n"), 1u);
    EXPECT_EQ(count(out, "<Client> Find client\\[2\\] info succeed, @Line: \\d+ \n"), 1u);
    EXPECT_EQ(count(out, "<Client> IQivPb_Ctrl_Open ---> is called @Line: \\d+!\n"), 1u);
    EXPECT_EQ(count(out, "<Client> t_client_rpc_id is: \\d+, @Line: \\d+ \n"), 1u);
    EXPECT_EQ(count(out, "<Client> Talmo Process ID is: \\d+, @Line: \\d+ \n"), 1u);
    EXPECT_EQ(count(out, "Reg_CLI ---> is called"), 0u);

    // A class outside the four low bits hides even the error lines.
    set_level(engine_, 16);
    capture();
    EXPECT_EQ(open(h[2]), -1);
    out = captured();
    EXPECT_EQ(count(out, "no enough client info"), 0u);

    // 10 means every class; the other two functions print and force.
    capture();
    EXPECT_EQ(set_level(engine_, 10), "0 2 0");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_cli_fct cli1 0x48:0"), "0 2 0");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_cli_fct cli2 0x48:0"), "0 2 0");
    out = captured();
    EXPECT_EQ(count(out, "<Client> x_QivPb_Ctrl_ClientSetDbgLevel ------> is Called, set LOG level: -1  @Line: \\d+\n"),
              1u)
        << out;
    EXPECT_EQ(count(out, "<Client> log level is -1 now, Line \\d+\n\r"), 1u);
    EXPECT_EQ(count(out, "<Client> Force open log level: -1 now, Line \\d+\n\r"), 1u);

    for (IQIV_PB_HANDLE_T x : h)
        EXPECT_EQ(IQivPb_Ctrl_Close(x), 0);
    IQivPb_Ctrl_Terminate();
}

struct EventSeen {
    std::atomic<int> calls{0};
    std::atomic<uint32_t> event{0};
    std::atomic<void *> tag{nullptr};
    std::atomic<void *> data{nullptr};
    std::atomic<bool> other_thread{false};
    std::atomic<bool> during_call{false};
    std::string payload;
    int64_t pts = 0;
    int32_t answer = 0;
};

EventSeen g_seen;
std::thread::id g_app_thread;
std::atomic<bool> g_in_call{false};

int32_t app_event(uint32_t e_event, void *pv_tag, void *pv_data)
{
    g_seen.event = e_event;
    g_seen.tag = pv_tag;
    g_seen.data = pv_data;
    g_seen.other_thread = std::this_thread::get_id() != g_app_thread;
    g_seen.during_call = g_in_call.load();
    if (e_event == IQIV_PB_CTRL_EVENT_FEATURE_DATA && pv_data)
        g_seen.payload = static_cast<const char *>(pv_data);
    if (e_event == IQIV_PB_CTRL_EVENT_FIRST_PIC_READY && pv_data)
        std::memcpy(&g_seen.pts, pv_data, sizeof g_seen.pts);
    ++g_seen.calls;
    return g_seen.answer;
}

// An application that only notes the event, never reading its data.
int32_t note_event(uint32_t e_event, void *, void *)
{
    g_seen.event = e_event;
    return 0;
}

TEST_F(Pbctrl, EventReachesTheApplicationOnTheTransportThreadDuringACall)
{
    IQivPb_Ctrl_Init();
    static int tag;
    g_app_thread = std::this_thread::get_id();
    ASSERT_EQ(engine_.ok("during x_QivPb_Ctrl_Open callback x_qivpbctrl_nfy_fct " + address_of(app_event) +
                         " 0x48:7 0x50:" + address(&tag) + " 0x48:99"),
              "");
    IQIV_PB_HANDLE_T h = 0;
    g_in_call = true;
    ASSERT_EQ(open(h), 0);
    g_in_call = false;
    EXPECT_EQ(g_seen.calls.load(), 1);
    EXPECT_EQ(g_seen.event.load(), 7u);
    EXPECT_EQ(g_seen.tag.load(), &tag);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(g_seen.data.load()), 99u);
    EXPECT_TRUE(g_seen.other_thread.load());
    EXPECT_TRUE(g_seen.during_call.load()) << "the handler ran while open waited";

    // The application's low 8 bits become the result; non-zero fails.
    g_seen.answer = 0x1305;
    capture();
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct " + address_of(app_event) + " 0x48:3 0x50:0 0x48:0"), "-1 2 5");
    const std::string out = captured();
    EXPECT_EQ(count(out, "<Client>ERR: _hndlr_x_qivpbctrl_nfy_fct Fail, errno: 5, @Line: \\d+ \n"), 1u) << out;
    g_seen.answer = 0;
    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, FeatureDataAndFirstPictureEvents)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h = 0;
    ASSERT_EQ(open(h), 0);
    const HANDLE_T block = x_kmem_block_alloc(4096);
    ASSERT_NE(block, 0u);
    auto *p = static_cast<char *>(x_kmem_block_map(block));
    std::strcpy(p, "feature payload");
    x_kmem_block_unmap(p);

    const std::string fn = address_of(app_event);
    capture();
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct " + fn + " 0x48:16 0x50:0 0x48:" + std::to_string(block)),
              "0 2 0");
    std::string out = captured();
    EXPECT_EQ(g_seen.event.load(), 16u);
    EXPECT_EQ(g_seen.payload, "feature payload");
    EXPECT_EQ(count(out,
                    "_hndlr_x_qivpbctrl_nfy_fct:h_kmem=0x[0-9a-f]+,handlepvFeatureData=0x[0-9a-f]+\n"
                    "_hndlr_x_qivpbctrl_nfy_fct,callback done\n"),
              1u)
        << out;

    // A handle that maps nothing never reaches the application.
    const int before = g_seen.calls.load();
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct " + fn + " 0x48:16 0x50:0 0x48:0"), "-1 2 -1");
    EXPECT_EQ(g_seen.calls.load(), before);

    // Event 55 carries the 64-bit PTS: 1234567890123 = 0x11F71FB04CB.
    capture();
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct " + fn + " 0x48:55 0x50:0 0x71=cb04fb711f010000"), "0 2 0");
    out = captured();
    EXPECT_EQ(count(out, "recv IQIV_PB_CTRL_EVENT_FIRST_PIC_READY, p:0x[0-9a-f]+, pts: 1234567890123 \n"), 1u) << out;
    EXPECT_EQ(g_seen.event.load(), 55u);
    EXPECT_EQ(g_seen.pts, 1234567890123);
    // The same event with a plain value: said so, nothing read through it.
    capture();
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct " + address_of(note_event) + " 0x48:55 0x50:0 0x48:4096"),
              "0 2 0");
    out = captured();
    EXPECT_EQ(count(out, "recv IQIV_PB_CTRL_EVENT_FIRST_PIC_READY, value:0x1000, no pts record \n"), 1u) << out;

    x_kmem_block_free(block);
    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, BadCallBacksAreRefused)
{
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T h = 0;
    ASSERT_EQ(open(h), 0);
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_Ipc_SendData_nfy_fct 0 0x48:1 0x48:0 0x48:0 0x48:0"), "-1 2 -1");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_cli_fct cli0 0x48:1 0x48:2").substr(0, 2), "-3");
    // Only the functions this library handed out may be called.
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_cli_fct 0x1234 0x48:1").substr(0, 2), "-3");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct " + address_of(app_event) + " 0x48:1").substr(0, 2), "-3");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_nfy_fct 0 0x48:1 0x50:0 0x48:0"), "-1 2 -1");
    EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    IQivPb_Ctrl_Terminate();
}

TEST_F(Pbctrl, SlotLookupsByHandleModelAndTag)
{
    using namespace pbctrl;
    IQivPb_Ctrl_Init();
    IQIV_PB_HANDLE_T uri = 0, push = 0;
    ASSERT_EQ(open(uri), 0);
    ASSERT_EQ(IQivPb_Ctrl_Open(&push, IQIV_PB_BUF_MOD_PUSH, 1, "push"), 0);
    EXPECT_EQ(find_by_handle(uri), 0);
    EXPECT_EQ(find_by_handle(push), 1);
    EXPECT_EQ(find_by_handle(push + 100), -1);
    EXPECT_EQ(find_by_handle_and_model(push, IQIV_PB_BUF_MOD_PUSH), 1);
    EXPECT_EQ(find_by_handle_and_model(uri, IQIV_PB_BUF_MOD_PUSH), -1);

    // A push slot's index byte is 0xFF until a call-back path sets it.
    ClientInfo &slot = t_client_info[1];
    EXPECT_EQ(slot.ui1_client_idx, kNoClientIdx);
    EXPECT_EQ(find_by_tag(&slot.ui1_client_idx, IQIV_PB_BUF_MOD_PUSH), -1);
    slot.ui1_client_idx = 1;
    EXPECT_EQ(find_by_tag(&slot.ui1_client_idx, IQIV_PB_BUF_MOD_PUSH), 1);
    EXPECT_EQ(find_by_tag(&slot.ui1_client_idx, IQIV_PB_BUF_MOD_PULL), -1);
    uint8_t foreign = 1;
    EXPECT_EQ(find_by_tag(&foreign, 0), -1) << "only a slot's own byte is a tag";

    EXPECT_EQ(IQivPb_Ctrl_Close(push), 0);
    EXPECT_EQ(find_by_handle(push), -1);
    EXPECT_EQ(find_by_tag(&slot.ui1_client_idx, 0), -1) << "the slot is free again";
    EXPECT_EQ(IQivPb_Ctrl_Close(uri), 0);
    IQivPb_Ctrl_Terminate();
}

// The board's platform libraries have no block or region sizes: the library
// may use them only where they exist, never need them to load.
TEST(PbctrlImports, SizeFunctionsOfTheVirtualBoardAreOnlyWeak)
{
    FILE *p = popen("nm -D --undefined-only " QIVPBCTRL_SO, "r");
    ASSERT_NE(p, nullptr);
    std::string imports;
    char line[256];
    while (std::fgets(line, sizeof line, p))
        imports += line;
    ASSERT_EQ(pclose(p), 0);
    ASSERT_NE(imports.find(" x_kmem_block_map"), std::string::npos) << imports;
    for (const char *name : {"x_kmem_block_size", "rpc_local_region_size"})
        EXPECT_EQ(count(imports, std::string(" [^w] ") + name + "\\b"), 0u) << name;
}

} // namespace
