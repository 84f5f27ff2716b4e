// The engine simulator's scripting, seen by a plain transport client.
#include "engine_harness.h"
#include "rpcipc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

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

} // namespace
