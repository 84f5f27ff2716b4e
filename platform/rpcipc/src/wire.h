// Messages between the two ends of a connection, explicitly little-endian.
//
// A frame is a 32-bit length followed by that many bytes of body. A body
// is a call (operation or call-back) or the reply to one; arguments that
// point somewhere carry the index + 1 of a region of the call instead of an
// address, so the receiver can only ever reach memory the message brought.
#ifndef RPCIPC_WIRE_H
#define RPCIPC_WIRE_H

#include "rpcipc.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rpcwire {

constexpr uint32_t kMaxBody = 64u << 20;
constexpr uint32_t kMaxName = 255;
constexpr uint32_t kMaxArgs = 64;
constexpr uint32_t kMaxRegions = 1024;
constexpr uint32_t kMaxPtrsPerRegion = 4096;
constexpr size_t kFrameHeader = 4;
constexpr size_t kArgBytes = 16;

enum : uint8_t { kCall = 1, kReply = 2 };
enum : uint8_t { kRecord = 1, kText = 2, kBuffer = 3, kPlace = 4 };
constexpr uint8_t kFlagOut = 1;
constexpr uint8_t kVersion = 1;

// How an argument code is carried.
enum class ArgKind {
    Value = RPC_ARG_KIND_VALUE,
    ValueOut = RPC_ARG_KIND_VALUE_OUT,
    Text = RPC_ARG_KIND_TEXT,
    Record = RPC_ARG_KIND_RECORD,
    PlaceIn = RPC_ARG_KIND_PLACE_IN,
    PlaceOut = RPC_ARG_KIND_PLACE_OUT
};
struct ArgClass {
    ArgKind kind;
    uint32_t width; // bytes of a place
};
bool classify(uint32_t code, ArgClass &out);
inline bool is_pointer(ArgKind k)
{
    return k == ArgKind::Text || k == ArgKind::Record || k == ArgKind::PlaceIn || k == ArgKind::PlaceOut;
}

struct PtrMember {
    uint32_t offset;
    uint32_t target; // region index
};

struct Region {
    uint8_t kind = kBuffer;
    uint8_t flags = 0;
    std::vector<uint8_t> bytes;
    std::vector<PtrMember> ptrs;
};

struct Call {
    uint32_t id = 0;
    uint64_t func = 0;
    std::string name;
    std::vector<RPC_ARG_T> args;
    std::vector<Region> regions;
};

struct OutRegion {
    uint32_t index;
    std::vector<uint8_t> bytes;
};

struct Reply {
    uint32_t id = 0;
    int32_t transport = 0; // the receiving transport's own result
    int32_t status = 0;    // what the handler returned
    RPC_ARG_T result{};
    std::vector<RPC_ARG_T> args;
    std::vector<OutRegion> outs;
};

// Whole frames (length included).
std::vector<uint8_t> encode(const Call &call);
std::vector<uint8_t> encode(const Reply &reply);

// Bodies (length stripped). RPCR_OK, or RPCR_PROTOCOL for anything malformed.
uint8_t body_kind(const uint8_t *body, size_t size);
uint32_t body_id(const uint8_t *body, size_t size);
int32_t decode(const uint8_t *body, size_t size, Call &call);
int32_t decode(const uint8_t *body, size_t size, Reply &reply);

} // namespace rpcwire

#endif
