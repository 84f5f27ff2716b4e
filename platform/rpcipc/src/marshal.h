// Turning a caller's arguments and registrations into a call, the call into
// local copies at the receiver, and the reply back into the caller's memory.
#ifndef RPCIPC_MARSHAL_H
#define RPCIPC_MARSHAL_H

#include "wire.h"

#include <memory>

namespace rpcmarshal {

// What a thread registered for its next call.
struct Reg {
    uint8_t kind; // rpcwire::kRecord, kText or kBuffer
    const uint8_t *addr;
    uint32_t size;
    std::vector<uint32_t> ptr_offs;
};
using Regs = std::vector<Reg>;

int32_t add_record(Regs &regs, const void *addr, const RPC_DESC_T *desc, const char *member);
int32_t add_text(Regs &regs, const char *text);
int32_t add_buffer(Regs &regs, const void *addr, uint32_t size);
int32_t add_ptr_member(Regs &regs, const void *field);

// The caller's side of one call: where each region came from.
struct Origin {
    uint8_t *addr;
    uint32_t size;
    bool out;
    std::vector<std::pair<uint32_t, uintptr_t>> saved_ptrs; // every pointer member, restored after write-back
};
struct Sent {
    std::vector<Origin> origins;
};

int32_t build_call(const Regs &regs, const char *name, uint64_t func, uint32_t argc, const RPC_ARG_T *args,
                   rpcwire::Call &call, Sent &sent);
// Writes back the outputs of a reply whose handler succeeded (of a failed
// handler: its result record only); returns the reply's transport result,
// RPCR_PEER_FAILED for a failed handler, or RPCR_PROTOCOL (nothing written)
// when the reply does not fit the call.
int32_t apply_reply(const rpcwire::Reply &reply, const Sent &sent, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result);

// The receiver's local copies.
struct Local {
    std::vector<std::unique_ptr<uint8_t[]>> mem;
    std::vector<uint32_t> sizes;
    std::vector<RPC_ARG_T> args;
};
void materialize(const rpcwire::Call &call, Local &local);
// Size of the local copy that starts at p, 0 if none does.
uint32_t local_size(const Local &local, const void *p);
rpcwire::Reply make_reply(const rpcwire::Call &call, const Local &local, int32_t status, const RPC_ARG_T &result);

} // namespace rpcmarshal

#endif
