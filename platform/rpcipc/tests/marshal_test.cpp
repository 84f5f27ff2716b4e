// Calls and replies through the wire codec and back, as the two ends of a
// connection see them.
#include "marshal.h"

#include "qiv_records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace rpcwire;
using namespace rpcmarshal;

// Sends regs and args through the wire as a call and decodes it.
Call round_trip(const Regs &regs, std::vector<RPC_ARG_T> &args, Sent &sent)
{
    Call call;
    EXPECT_EQ(build_call(regs, "x_Op", 0x1234, static_cast<uint32_t>(args.size()), args.data(), call, sent), RPCR_OK);
    const std::vector<uint8_t> frame = encode(call);
    Call got;
    EXPECT_EQ(decode(frame.data() + kFrameHeader, frame.size() - kFrameHeader, got), RPCR_OK);
    EXPECT_EQ(got.name, "x_Op");
    EXPECT_EQ(got.func, 0x1234u);
    return got;
}

Reply reply_round_trip(const Reply &reply)
{
    const std::vector<uint8_t> frame = encode(reply);
    Reply got;
    EXPECT_EQ(decode(frame.data() + kFrameHeader, frame.size() - kFrameHeader, got), RPCR_OK);
    return got;
}

TEST(RpcMarshal, RecordWithUnionMemberArrivesWithItsTextLinked)
{
    static char url[] = "http://host/stream.ts";
    IQIV_PB_CTRL_ENGINE_PARAM_T param{};
    param.u4Word0 = 7;
    param.uBufferModelParam.tUriInfo.u4UrlLen = sizeof url - 1;
    param.uBufferModelParam.tUriInfo.pcUrl = url;
    Regs regs;
    ASSERT_EQ(add_record(regs, &param, __rpc_get_desc__(273), nullptr), RPCR_OK);
    ASSERT_EQ(add_record(regs, &param.uBufferModelParam, __rpc_get_desc__(272), "uBufferModelParam.tUriInfo"), RPCR_OK);
    ASSERT_EQ(add_text(regs, url), RPCR_OK);
    EXPECT_EQ(regs.size(), 2u) << "the member belongs to its record";

    std::vector<RPC_ARG_T> args(2);
    rpc_arg_set(args[0], ARG_TYPE_UINT32, 42);
    rpc_arg_set_ptr(args[1], ARG_TYPE_DESC_IN, &param);
    Sent sent;
    const Call call = round_trip(regs, args, sent);
    Local local;
    materialize(call, local);
    EXPECT_EQ(local.args[0].u.ui4, 42u);
    auto *copy = static_cast<IQIV_PB_CTRL_ENGINE_PARAM_T *>(rpc_arg_ptr(local.args[1]));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, &param);
    EXPECT_EQ(copy->u4Word0, 7u);
    EXPECT_NE(copy->uBufferModelParam.tUriInfo.pcUrl, url);
    EXPECT_STREQ(copy->uBufferModelParam.tUriInfo.pcUrl, url);
}

TEST(RpcMarshal, OutputsAreWrittenBackAndTheCallersPointersKept)
{
    uint8_t title[8] = "title";
    IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T track{};
    track.tExt.pu1Title = title;
    uint32_t handle = 0;
    uint64_t pts = 0;
    const uint32_t untouched = 0xAAAA5555;
    Regs regs;
    ASSERT_EQ(add_record(regs, &track, __rpc_get_desc__(82), nullptr), RPCR_OK);
    ASSERT_EQ(add_buffer(regs, title, sizeof title), RPCR_OK);
    ASSERT_EQ(add_record(regs, &track.tExt, __rpc_get_desc__(80), nullptr), RPCR_OK);
    std::vector<RPC_ARG_T> args(5);
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_OUT, &track);
    rpc_arg_set_ptr(args[1], ARG_TYPE_REF_UINT32_OUT, &handle);
    rpc_arg_set_ptr(args[2], ARG_TYPE_REF_UINT64_OUT, &pts);
    rpc_arg_set(args[3], ARG_TYPE_UINT32_OUT, 0);
    rpc_arg_set_ptr(args[4], ARG_TYPE_REF_UINT32_IN, &untouched);
    Sent sent;
    const Call call = round_trip(regs, args, sent);
    Local local;
    materialize(call, local);

    // The engine fills everything it was given.
    auto *t = static_cast<IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T *>(rpc_arg_ptr(local.args[0]));
    t->tInfo.u4SampleRate = 48000;
    std::memcpy(t->tExt.pu1Title, "engine!", 8);
    t->tExt.pu1Title = nullptr;
    *static_cast<uint32_t *>(rpc_arg_ptr(local.args[1])) = 77;
    *static_cast<uint64_t *>(rpc_arg_ptr(local.args[2])) = 1ull << 40;
    local.args[3].u.ui4 = 5;
    *static_cast<uint32_t *>(rpc_arg_ptr(local.args[4])) = 0; // an in place: not sent back
    RPC_ARG_T result{};
    rpc_arg_set(result, ARG_TYPE_RESULT, 0);
    result.u.i1 = -9;

    const Reply reply = reply_round_trip(make_reply(call, local, RPCR_OK, result));
    RPC_ARG_T got{};
    ASSERT_EQ(apply_reply(reply, sent, 5, args.data(), &got), RPCR_OK);
    EXPECT_EQ(got.e_type, ARG_TYPE_RESULT);
    EXPECT_EQ(got.u.i1, -9);
    EXPECT_EQ(track.tInfo.u4SampleRate, 48000u);
    EXPECT_EQ(track.tExt.pu1Title, title);
    EXPECT_STREQ(reinterpret_cast<char *>(title), "engine!");
    EXPECT_EQ(handle, 77u);
    EXPECT_EQ(pts, 1ull << 40);
    EXPECT_EQ(args[3].u.ui4, 5u);
    EXPECT_EQ(untouched, 0xAAAA5555u);
}

TEST(RpcMarshal, AnOutRecordKeepsAPointerThatTravelledUnlinked)
{
    // The caller's destination is not registered: the engine sees the raw
    // value and must not be able to redirect the caller's later writes.
    uint8_t dest[4] = {};
    IQIV_PB_CTRL_MP3_COVER_INFO_T cover{};
    cover.pu1Dest = dest;
    Regs regs;
    ASSERT_EQ(add_record(regs, &cover, __rpc_get_desc__(118), nullptr), RPCR_OK);
    std::vector<RPC_ARG_T> args(1);
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_OUT, &cover);
    Sent sent;
    const Call call = round_trip(regs, args, sent);
    Local local;
    materialize(call, local);
    auto *c = static_cast<IQIV_PB_CTRL_MP3_COVER_INFO_T *>(rpc_arg_ptr(local.args[0]));
    c->u4LenOrHandle = 99;
    c->pu1Dest = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(0x1000));
    RPC_ARG_T result{};
    rpc_arg_set(result, ARG_TYPE_RESULT, 0);
    ASSERT_EQ(apply_reply(reply_round_trip(make_reply(call, local, RPCR_OK, result)), sent, 1, args.data(), nullptr),
              RPCR_OK);
    EXPECT_EQ(cover.u4LenOrHandle, 99u);
    EXPECT_EQ(cover.pu1Dest, dest);
}

TEST(RpcMarshal, AFailedCallWritesNothingBack)
{
    uint32_t handle = 3;
    std::vector<RPC_ARG_T> args(1);
    rpc_arg_set_ptr(args[0], ARG_TYPE_REF_UINT32_OUT, &handle);
    Sent sent;
    const Call call = round_trip({}, args, sent);
    Local local;
    materialize(call, local);
    *static_cast<uint32_t *>(rpc_arg_ptr(local.args[0])) = 9;
    RPC_ARG_T result{};
    rpc_arg_set(result, ARG_TYPE_RESULT, static_cast<uint64_t>(-1));
    const Reply reply = reply_round_trip(make_reply(call, local, -1, result));
    RPC_ARG_T got{};
    EXPECT_EQ(apply_reply(reply, sent, 1, args.data(), &got), RPCR_PEER_FAILED);
    EXPECT_EQ(handle, 3u);
    EXPECT_EQ(got.e_type, ARG_TYPE_RESULT) << "the handler's own report comes through";
    EXPECT_EQ(got.u.i1, -1);
}

TEST(RpcMarshal, PullTagTravelsAsTheCallersAddress)
{
    static uint8_t client_idx = 1;
    IQIV_PB_CTRL_PULL_PARAM_T subst{};
    subst.tPullInfo.pvTag = &client_idx;
    Regs regs;
    ASSERT_EQ(add_record(regs, &subst, __rpc_get_desc__(280), nullptr), RPCR_OK);
    ASSERT_EQ(add_record(regs, &subst.tPullInfo, __rpc_get_desc__(279), "uBufferModelParam.tPullInfo"), RPCR_OK);
    ASSERT_EQ(add_ptr_member(regs, &subst.tPullInfo.pvTag), RPCR_OK);
    std::vector<RPC_ARG_T> args(1);
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_IN, &subst);
    Sent sent;
    Local local;
    materialize(round_trip(regs, args, sent), local);
    auto *copy = static_cast<IQIV_PB_CTRL_PULL_PARAM_T *>(rpc_arg_ptr(local.args[0]));
    EXPECT_EQ(copy->tPullInfo.pvTag, &client_idx);
}

TEST(RpcMarshal, BadRegistrationsAndArgumentsAreRefused)
{
    IQIV_PB_CTRL_ENGINE_PARAM_T param{};
    uint8_t bytes[64] = {};
    Regs regs;
    EXPECT_EQ(add_record(regs, nullptr, __rpc_get_desc__(273), nullptr), RPCR_INV_ARGS);
    EXPECT_EQ(add_record(regs, &param, nullptr, nullptr), RPCR_INV_ARGS);
    EXPECT_EQ(add_text(regs, nullptr), RPCR_INV_ARGS);
    EXPECT_EQ(add_buffer(regs, nullptr, 4), RPCR_INV_ARGS);
    EXPECT_EQ(add_ptr_member(regs, &param), RPCR_INV_ARGS) << "no record registered yet";
    ASSERT_EQ(add_record(regs, bytes + 8, __rpc_get_desc__(281), nullptr), RPCR_OK);
    // A record that sticks out of another one is neither a member nor separate.
    EXPECT_EQ(add_record(regs, bytes + 4, __rpc_get_desc__(281), nullptr), RPCR_INV_ARGS);
    const size_t last_word = 8 + sizeof(IQIV_PB_CTRL_MEM_SLICE_INFO_T) - sizeof(void *);
    EXPECT_EQ(add_ptr_member(regs, bytes + last_word), RPCR_OK);
    EXPECT_EQ(add_ptr_member(regs, bytes + last_word + 1), RPCR_INV_ARGS) << "no room for a pointer";

    Call call;
    Sent sent;
    std::vector<RPC_ARG_T> args(1);
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_IN, &param); // never registered
    EXPECT_EQ(build_call(regs, "x", 0, 1, args.data(), call, sent), RPCR_INV_ARGS);
    rpc_arg_set_ptr(args[0], ARG_TYPE_TEXT, bytes + 8); // a record, not a text
    EXPECT_EQ(build_call(regs, "x", 0, 1, args.data(), call, sent), RPCR_INV_ARGS);
    rpc_arg_set(args[0], 0x13, 0); // no such code
    EXPECT_EQ(build_call(regs, "x", 0, 1, args.data(), call, sent), RPCR_INV_ARGS);
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_IN, nullptr); // null stays null
    EXPECT_EQ(build_call(regs, "x", 0, 1, args.data(), call, sent), RPCR_OK);
    EXPECT_EQ(build_call(regs, "", 0, 1, args.data(), call, sent), RPCR_INV_ARGS);
}

// A call with every kind of region, for the malformed-message cases.
std::vector<uint8_t> sample_call_body()
{
    static char text[] = "text";
    static IQIV_PB_CTRL_MEDIA_INFO_T media{};
    static uint8_t priv[4] = {1, 2, 3, 4};
    static uint32_t place = 0;
    media.pu1CodecPriv = priv;
    Regs regs;
    add_record(regs, &media, __rpc_get_desc__(68), nullptr);
    add_buffer(regs, priv, sizeof priv);
    add_text(regs, text);
    std::vector<RPC_ARG_T> args(3);
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_OUT, &media);
    rpc_arg_set_ptr(args[1], ARG_TYPE_TEXT, text);
    rpc_arg_set_ptr(args[2], ARG_TYPE_REF_UINT32_OUT, &place);
    Call call;
    Sent sent;
    build_call(regs, "x_QivPb_Ctrl_GetMediaInfo", 0, 3, args.data(), call, sent);
    std::vector<uint8_t> frame = encode(call);
    return std::vector<uint8_t>(frame.begin() + kFrameHeader, frame.end());
}

TEST(RpcMarshal, EveryTruncationOfACallOrReplyIsRejected)
{
    const std::vector<uint8_t> body = sample_call_body();
    Call call;
    ASSERT_EQ(decode(body.data(), body.size(), call), RPCR_OK);
    for (size_t n = 0; n < body.size(); ++n)
        EXPECT_EQ(decode(body.data(), n, call), RPCR_PROTOCOL) << n;

    Local local;
    materialize(call, local);
    const std::vector<uint8_t> frame = encode(make_reply(call, local, RPCR_OK, RPC_ARG_T{}));
    Reply reply;
    ASSERT_EQ(decode(frame.data() + kFrameHeader, frame.size() - kFrameHeader, reply), RPCR_OK);
    for (size_t n = 0; n + kFrameHeader < frame.size(); ++n)
        EXPECT_EQ(decode(frame.data() + kFrameHeader, n, reply), RPCR_PROTOCOL) << n;
}

TEST(RpcMarshal, CallsPointingOutsideTheirRegionsAreRejected)
{
    const std::vector<uint8_t> good = sample_call_body();
    Call call;
    ASSERT_EQ(decode(good.data(), good.size(), call), RPCR_OK);
    auto rejected = [](Call bad) {
        const std::vector<uint8_t> f = encode(bad);
        Call out;
        return decode(f.data() + kFrameHeader, f.size() - kFrameHeader, out) == RPCR_PROTOCOL;
    };
    Call bad = call;
    bad.args[0].u.ui8 = bad.regions.size() + 1; // no such region
    EXPECT_TRUE(rejected(bad));
    bad = call;
    bad.args[1].u.ui8 = 1; // a text argument naming a record
    EXPECT_TRUE(rejected(bad));
    bad = call;
    bad.args[2].u.ui8 = 1; // a 4-byte place naming a record
    EXPECT_TRUE(rejected(bad));
    bad = call;
    bad.regions[0].ptrs.push_back({static_cast<uint32_t>(bad.regions[0].bytes.size() - 2), 1});
    EXPECT_TRUE(rejected(bad)) << "pointer member past the end";
    bad = call;
    bad.regions[0].ptrs.push_back({0, 99});
    EXPECT_TRUE(rejected(bad)) << "pointer member to no region";
    bad = call;
    bad.regions[2].bytes.back() = 'x';
    EXPECT_TRUE(rejected(bad)) << "text without its end";
    bad = call;
    bad.name = std::string("x\0y", 3);
    EXPECT_TRUE(rejected(bad));
    bad = call;
    bad.regions[1].kind = 9;
    EXPECT_TRUE(rejected(bad));
}

TEST(RpcMarshal, RepliesThatDoNotFitTheCallWriteNothing)
{
    uint32_t place = 1;
    uint8_t buf[4] = {1, 2, 3, 4};
    Regs regs;
    add_buffer(regs, buf, sizeof buf);
    std::vector<RPC_ARG_T> args(2);
    rpc_arg_set_ptr(args[0], ARG_TYPE_REF_UINT32_OUT, &place);
    rpc_arg_set_ptr(args[1], ARG_TYPE_DESC_IN, buf);
    Call call;
    Sent sent;
    ASSERT_EQ(build_call(regs, "x", 0, 2, args.data(), call, sent), RPCR_OK);
    // Region 0 is the buffer (in only), region 1 the place.
    Reply reply;
    reply.args = call.args;
    reply.outs = {{1, {9, 9, 9, 9}}, {0, {0, 0, 0, 0}}};
    EXPECT_EQ(apply_reply(reply, sent, 2, args.data(), nullptr), RPCR_PROTOCOL);
    reply.outs = {{1, {9, 9, 9, 9, 9, 9, 9, 9}}};
    EXPECT_EQ(apply_reply(reply, sent, 2, args.data(), nullptr), RPCR_PROTOCOL);
    reply.outs = {{7, {9, 9, 9, 9}}};
    EXPECT_EQ(apply_reply(reply, sent, 2, args.data(), nullptr), RPCR_PROTOCOL);
    reply.outs.clear();
    reply.args.pop_back();
    EXPECT_EQ(apply_reply(reply, sent, 2, args.data(), nullptr), RPCR_PROTOCOL);
    EXPECT_EQ(place, 1u);
    EXPECT_EQ(buf[0], 1);
}

} // namespace
