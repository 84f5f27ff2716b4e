#include "playback_call.h"

#include "client_info.h"
#include "remote_call.h"
#include "rpc_desc.h"

namespace pbctrl {

namespace {

constexpr int32_t kTraceLevel = 1;

void *at(uint64_t base, uint32_t offset) { return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(base)) + offset; }

void *pointer_at(uint64_t base, uint32_t offset) { return *static_cast<void **>(at(base, offset)); }

int32_t add_ref(const Ref &r, const uint64_t *values)
{
    const uint64_t v = values[r.arg];
    // A null record has no members to look at: a failed registration.
    if (v == 0 && r.kind != RefKind::Text)
        return RPCR_INV_ARGS;
    switch (r.kind) {
    case RefKind::Desc:
        return rpc_add_ref_desc(0, at(v, r.offset), __rpc_get_desc__(r.desc), r.member);
    case RefKind::Text:
        return rpc_add_ref_str(0, reinterpret_cast<const char *>(static_cast<uintptr_t>(v)));
    // A null text or buffer member of a record carries nothing: a subtitle
    // without a URL, a DASH list without entries.
    case RefKind::TextAt: {
        const auto *text = static_cast<const char *>(pointer_at(v, r.offset));
        return text ? rpc_add_ref_str(0, text) : 0;
    }
    case RefKind::Val:
        return rpc_add_ref_val(0, at(v, r.offset));
    case RefKind::BuffAt: {
        const void *buffer = pointer_at(v, r.offset);
        return buffer ? rpc_add_ref_buff(0, buffer, r.length) : 0;
    }
    case RefKind::None:
        break;
    }
    return 0;
}

void trace(const Member &m, uint32_t h_handle)
{
    switch (m.trace) {
    case Trace::Called:
        rpcu_log(kTraceLevel, "<LOG %s, %s, #%d><Client>%s is called\n", g_ps_exe_name, m.name, m.line, m.name);
        break;
    case Trace::Handle:
        rpcu_log(kTraceLevel, "<LOG %s, %s, #%d>%s is called, hHandle is: %d\n", g_ps_exe_name, m.name, m.line, m.name,
                 h_handle);
        break;
    case Trace::Subtitle:
        rpcu_log(kTraceLevel, "<LOG %s, %s, #%d><Client>%s[%d] is called,\n", g_ps_exe_name, m.name, m.line, m.name,
                 h_handle);
        break;
    case Trace::None:
        break;
    }
}

} // namespace

int32_t carry_ex(const Member &m, const uint64_t *values, const Ref *extra, CallValues &got)
{
    if (!m.own_entry)
        CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", m.name, m.line);
    trace(m, static_cast<uint32_t>(values[0]));
    const Ref *refs = extra ? extra : m.refs;
    for (uint32_t i = 0; i < kMaxMemberRefs && refs[i].kind != RefKind::None; ++i) {
        if (add_ref(refs[i], values) != 0) {
            got.transport = -1;
            return reg_failure(m.name, m.line);
        }
    }
    RPC_ARG_T args[kMaxMemberArgs];
    for (uint32_t i = 0; i < m.argc; ++i)
        rpc_arg_set(args[i], m.codes[i], values[i]);
    RPC_ARG_T result{};
    got.transport = do_call(m.name, m.line, m.op, m.argc, args, result);
    got.engine = result.u.i1;
    return finish_call(m.name, m.line, got.transport, result);
}

int32_t carry(const Member &m, const uint64_t *values, const Ref *extra)
{
    CallValues got;
    return carry_ex(m, values, extra, got);
}

void log_refused_call(const Member &m, const CallValues &got)
{
    CLIENT_LOG(kLogErr, "<Client> %s RPC return %ld, Server return %d\n", m.name, static_cast<long>(got.transport),
               got.engine);
}

} // namespace pbctrl
