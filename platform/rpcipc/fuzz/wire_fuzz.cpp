// Feeds arbitrary bodies to both decoders. A call that decodes is turned
// into local copies, written all over as a handler may, and answered; a
// reply that decodes is applied to a real call's memory. Any read or write
// outside what a message brought is a finding.
#include "marshal.h"

#include "qiv_records.h"

#include <cstring>

namespace {

using namespace rpcwire;
using namespace rpcmarshal;

void serve(const uint8_t *data, size_t size)
{
    Call call;
    if (decode(data, size, call) != RPCR_OK)
        return;
    Local local;
    materialize(call, local);
    for (size_t i = 0; i < call.regions.size(); ++i)
        std::memset(local.mem[i].get(), 0xA5, call.regions[i].bytes.size());
    RPC_ARG_T result{};
    const std::vector<uint8_t> frame = encode(make_reply(call, local, RPCR_OK, result));
    Reply check;
    if (decode(frame.data() + kFrameHeader, frame.size() - kFrameHeader, check) != RPCR_OK)
        __builtin_trap(); // what we encode must decode
}

void answer(const uint8_t *data, size_t size)
{
    uint8_t title[16] = {};
    IQIV_PB_CTRL_AUD_TRACK_INFO_EX_T track{};
    track.tExt.pu1Title = title;
    uint32_t place32 = 0;
    uint64_t place64 = 0;
    Regs regs;
    add_record(regs, &track, __rpc_get_desc__(82), nullptr);
    add_buffer(regs, title, sizeof title);
    RPC_ARG_T args[4];
    rpc_arg_set_ptr(args[0], ARG_TYPE_DESC_OUT, &track);
    rpc_arg_set_ptr(args[1], ARG_TYPE_REF_UINT32_OUT, &place32);
    rpc_arg_set_ptr(args[2], ARG_TYPE_REF_UINT64_OUT, &place64);
    rpc_arg_set(args[3], ARG_TYPE_UINT32_OUT, 0);
    Call call;
    Sent sent;
    if (build_call(regs, "x_fuzz", 0, 4, args, call, sent) != RPCR_OK)
        __builtin_trap();
    Reply reply;
    if (decode(data, size, reply) != RPCR_OK)
        return;
    RPC_ARG_T result{};
    if (apply_reply(reply, sent, 4, args, &result) == RPCR_OK && track.tExt.pu1Title != title)
        __builtin_trap(); // the caller's own pointer is always restored
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] & 1)
        serve(data + 1, size - 1);
    else
        answer(data + 1, size - 1);
    return 0;
}
