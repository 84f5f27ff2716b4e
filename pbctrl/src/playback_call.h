// One remote member of the playback API described as data, and the one
// function that carries its steps: entry line, trace, registrations in
// argument order, the call, the result.
#ifndef PBCTRL_PLAYBACK_CALL_H
#define PBCTRL_PLAYBACK_CALL_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "rpcipc.h"

namespace pbctrl {

constexpr uint32_t kMaxMemberArgs = 5;
constexpr uint32_t kMaxMemberRefs = 10;

enum class RefKind : uint8_t {
    None,
    Desc,   // rpc_add_ref_desc at argument + offset
    Text,   // rpc_add_ref_str of the argument itself
    TextAt, // rpc_add_ref_str of the text pointer at argument + offset
    Val,    // rpc_add_ref_val of the pointer member at argument + offset
    BuffAt, // rpc_add_ref_buff of the buffer the pointer at argument + offset names
};

struct Ref {
    RefKind kind = RefKind::None;
    uint8_t arg = 0;
    uint16_t desc = 0;
    const char *member = nullptr;
    uint32_t offset = 0;
    uint32_t length = 0; // BuffAt only
};

constexpr Ref ref_desc(uint8_t arg, uint16_t num, const char *member = nullptr, uint32_t offset = 0)
{
    return Ref{RefKind::Desc, arg, num, member, offset, 0};
}
constexpr Ref ref_text(uint8_t arg) { return Ref{RefKind::Text, arg, 0, nullptr, 0, 0}; }
constexpr Ref ref_text_at(uint8_t arg, uint32_t offset) { return Ref{RefKind::TextAt, arg, 0, nullptr, offset, 0}; }

// The line a member sends with rpcu_log at level 1 before its call.
enum class Trace : uint8_t {
    None,
    Called,   // "<Client>NAME is called"
    Handle,   // "NAME is called, hHandle is: %d"
    Subtitle, // "<Client>NAME[%d] is called,"
};

struct Member {
    const char *name; // public name, for its log lines
    const char *op;
    int line; // the "@Line" number of its lines
    uint32_t argc;
    uint8_t codes[kMaxMemberArgs];
    Ref refs[kMaxMemberRefs];
    Trace trace = Trace::None;
    bool own_entry = false; // the member prints an entry line of its own
};

// Runs one remote call of m with the argument values (pointers as their
// addresses). extra, when given, replaces m.refs: registrations decided at
// run time. Returns as a stub: -1 on any transport failure, else the
// engine's result.
int32_t carry(const Member &m, const uint64_t *values, const Ref *extra = nullptr);

// What one call gave: the transport's own value and the value of the
// engine's result record (0 when none came back).
struct CallValues {
    int32_t transport = 0;
    int32_t engine = 0;
};

// The same, and hands back both values (for members that print them).
int32_t carry_ex(const Member &m, const uint64_t *values, const Ref *extra, CallValues &got);

// "RPC return %ld, Server return %d" of a call that failed or that the engine refused.
void log_refused_call(const Member &m, const CallValues &got);

template <typename T> uint64_t arg_value(T v)
{
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(v);
    else
        return static_cast<uint64_t>(v);
}

template <typename... A> int32_t call_member(const Member &m, A... a)
{
    const uint64_t values[kMaxMemberArgs] = {arg_value(a)...};
    return carry(m, values);
}

} // namespace pbctrl

#endif
