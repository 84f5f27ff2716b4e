// The engine simulator's scripting, seen by a plain transport client.
#include "engine_harness.h"
#include "korm.h"
#include "qiv_records.h"
#include "rpcipc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace {

class PbEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine_.start());
        id_ = rpc_open_client("qivpbctrl test");
        ASSERT_GT(id_, 0);
    }
    void TearDown() override { rpc_close_client(id_); }

    pbharness::Engine engine_;
    int32_t id_ = 0;
};

TEST_F(PbEngine, ScriptedOutputsStayInsideWhatTheClientSent)
{
    struct {
        uint8_t record[8];
        uint8_t guard[8];
    } mem;
    std::memset(&mem, 0x11, sizeof mem);
    uint32_t place = 0;
    EXPECT_EQ(engine_.ok("outhex x_Get 0 a1a2a3a4a5a6a7a8b1b2b3b4"), "");
    EXPECT_EQ(engine_.ok("out x_Get 1 4096"), "");
    EXPECT_EQ(engine_.ok("out x_Get 2 77"), "");
    EXPECT_EQ(engine_.ok("result x_Get -2"), "");
    rpc_add_ref_buff(0, mem.record, sizeof mem.record);
    RPC_ARG_T args[3];
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_OUT, mem.record);
    rpc_arg_set_ptr(args[1], ARG_TYPE_REF_UINT32_OUT, &place);
    rpc_arg_set(args[2], ARG_TYPE_UINT32_OUT, 0);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_Get", 3, args, &ret, 5000), RPCR_OK);
    rpc_del(0);
    EXPECT_EQ(ret.e_type, ARG_TYPE_RESULT);
    EXPECT_EQ(ret.u.i1, -2);
    EXPECT_EQ(mem.record[0], 0xa1);
    EXPECT_EQ(mem.record[7], 0xa8);
    EXPECT_EQ(mem.guard[0], 0x11) << "the script was longer than the record";
    EXPECT_EQ(place, 4096u);
    EXPECT_EQ(args[2].u.ui4, 77u);
    EXPECT_EQ(engine_.ok("calls x_Get"), "1");
    EXPECT_EQ(engine_.ok("last x_Get 0"), "1111111111111111") << "what the client sent";
    EXPECT_EQ(engine_.ok("last x_Get 5"), "error");
    EXPECT_EQ(engine_.cmd("bogus").substr(0, 5), "error");
    EXPECT_EQ(engine_.cmd("result x_Get many").substr(0, 5), "error");
}

TEST(PbEngineOptions, HelpListsTheControlVerbsAndVersionGoesToStandardOutput)
{
    const pbharness::Outcome help = pbharness::run(PBENGINE_PATH " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: pbengine ", 0), 0u) << help.out;
    // Every verb the unknown-command answer names has its usage line.
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    const std::string unknown = engine.cmd("bogus");
    const size_t open = unknown.find('(');
    ASSERT_NE(open, std::string::npos) << unknown;
    std::istringstream verbs(unknown.substr(open + 1, unknown.size() - open - 2));
    int listed = 0;
    for (std::string verb; verbs >> verb; ++listed)
        EXPECT_NE(help.out.find("\n    " + verb + " "), std::string::npos) << verb;
    EXPECT_GT(listed, 20);
    const pbharness::Outcome version = pbharness::run(PBENGINE_PATH " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("pbengine [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

std::atomic<int> g_calls{0};

int32_t fill_cb(int32_t, const char *, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *ret)
{
    ++g_calls;
    if (argc != 2)
        return RPCR_INV_ARGS;
    *static_cast<uint32_t *>(rpc_arg_ptr(args[1])) = args[0].u.ui4 + 1;
    rpc_arg_set(*ret, ARG_TYPE_RESULT, 3);
    return RPCR_OK;
}

TEST_F(PbEngine, CallBacksDuringAnOperationAndOnRequest)
{
    rpc_reg_cb_hndlr("x_test_fill", fill_cb);
    EXPECT_EQ(engine_.ok("during x_Any callback x_test_fill 0 0x48:41 0x98:0"), "");
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_Any", 0, nullptr, &ret, 5000), RPCR_OK);
    EXPECT_EQ(g_calls.load(), 1);
    EXPECT_EQ(engine_.ok("callback x_test_fill 0 0x48:9 0x98:0"), "0 2 3 out1=10");
    EXPECT_EQ(engine_.ok("callback x_test_fill 0 0x48:9"), "-3 0 0");
    EXPECT_EQ(engine_.ok("callback x_nobody 0"), "-4 0 0");
    EXPECT_EQ(engine_.cmd("callback x_test_fill 0 0x60:1").substr(0, 5), "error") << "texts need no value";
}

int32_t play(uint32_t handle)
{
    RPC_ARG_T args[1];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, handle);
    RPC_ARG_T ret{};
    const int32_t rc = rpc_do_op(0, "x_Play", 1, args, &ret, 5000);
    return rc != RPCR_OK ? rc : ret.u.i1;
}

// Waits, bounded, until n background call-backs have answered.
bool background_done(pbharness::Engine &engine, int n)
{
    for (int i = 0; i < 1000; ++i) {
        if (engine.ok("cbdone") == std::to_string(n))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST_F(PbEngine, BlocksScriptsPerHandleAndCallLaterCallBacksDecodedArgumentsAndReset)
{
    // A handle list the client maps, and a block filled by the engine.
    std::istringstream made(engine_.ok("alloc skmem 2 4096"));
    HANDLE_T list = 0, blocks[2] = {};
    ASSERT_TRUE(made >> list >> blocks[0] >> blocks[1]);
    const auto *handles = static_cast<const uint32_t *>(x_skmem_block_map(list));
    ASSERT_NE(handles, nullptr);
    EXPECT_EQ(handles[0], blocks[0]);
    EXPECT_EQ(handles[1], blocks[1]);
    x_skmem_block_unmap(const_cast<uint32_t *>(handles));
    EXPECT_EQ(engine_.ok("write " + std::to_string(blocks[1]) + " 4094 abcd"), "");
    EXPECT_EQ(engine_.ok("write " + std::to_string(blocks[1]) + " 4095 abcd"), "error");
    const auto *bytes = static_cast<const uint8_t *>(x_kmem_block_map(blocks[1]));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[4094], 0xab);
    x_kmem_block_unmap(const_cast<uint8_t *>(bytes));

    // The second call's script wins over the handle's, which wins over none.
    engine_.ok("result x_Play@7 -3");
    engine_.ok("result x_Play#2 -4");
    EXPECT_EQ(play(7), -3);
    EXPECT_EQ(play(7), -4);
    EXPECT_EQ(play(8), 0);

    // Call-backs from the engine's own threads: after the reply and on a timer.
    rpc_reg_cb_hndlr("x_test_fill", fill_cb);
    engine_.ok("after x_Play callback x_test_fill 0 0x48:1 0x98:0");
    EXPECT_EQ(play(8), 0);
    EXPECT_EQ(engine_.ok("timer 5 callback x_test_fill 0 0x48:5 0x98:0"), "");
    ASSERT_TRUE(background_done(engine_, 2));
    std::set<std::string> answers{engine_.cmd("cbanswer 0"), engine_.cmd("cbanswer 1")};
    EXPECT_EQ(answers, (std::set<std::string>{"ok 0 2 3 out1=2", "ok 0 2 3 out1=6"}));

    // A record arrives with its linked text shown, not the engine's address.
    static char url[] = "file:///a.ts";
    IQIV_PB_CTRL_ENGINE_PARAM_T param{};
    param.uBufferModelParam.tUriInfo.pcUrl = url;
    rpc_add_ref_desc(0, &param, __rpc_get_desc__(273), nullptr);
    rpc_add_ref_desc(0, &param.uBufferModelParam, __rpc_get_desc__(272), "uBufferModelParam.tUriInfo");
    rpc_add_ref_str(0, url);
    RPC_ARG_T args[1];
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_IN, &param);
    RPC_ARG_T ret{};
    ASSERT_EQ(rpc_do_op(0, "x_Param", 1, args, &ret, 5000), RPCR_OK);
    rpc_del(0);
    EXPECT_NE(engine_.ok("last x_Param 0").find("[\"file:///a.ts\"]"), std::string::npos)
        << engine_.ok("last x_Param 0");

    EXPECT_EQ(engine_.ok("reset"), "");
    EXPECT_EQ(x_kmem_block_map(blocks[0]), nullptr) << "reset frees the engine's blocks";
    EXPECT_EQ(engine_.ok("calls x_Play"), "0");
    EXPECT_EQ(engine_.ok("cbdone"), "0");
    EXPECT_EQ(play(7), 0) << "no script survives a reset";
}

} // namespace
