#include "marshal.h"

#include <algorithm>
#include <cstring>

namespace rpcmarshal {

using namespace rpcwire;

namespace {

constexpr size_t kSlack = 8;

bool inside(const Reg &r, const uint8_t *p, size_t n)
{
    return r.kind == kRecord && p >= r.addr && static_cast<size_t>(p - r.addr) <= r.size &&
           r.size - static_cast<size_t>(p - r.addr) >= n;
}

bool overlaps(const Reg &r, const uint8_t *p, size_t n)
{
    return r.kind == kRecord && p < r.addr + r.size && r.addr < p + n;
}

void add_offset(Reg &r, uint32_t off)
{
    if (std::find(r.ptr_offs.begin(), r.ptr_offs.end(), off) == r.ptr_offs.end())
        r.ptr_offs.push_back(off);
}

int32_t add_region(Regs &regs, uint8_t kind, const uint8_t *p, uint32_t size)
{
    for (const Reg &r : regs)
        if (r.kind == kind && r.addr == p && r.size == size)
            return RPCR_OK;
    if (regs.size() >= kMaxRegions)
        return RPCR_NO_MEM;
    regs.push_back({kind, p, size, {}});
    return RPCR_OK;
}

uintptr_t load_ptr(const uint8_t *p)
{
    uintptr_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store_ptr(uint8_t *p, uintptr_t v) { std::memcpy(p, &v, sizeof v); }

int find_region(const Regs &regs, uintptr_t addr, bool text)
{
    for (size_t i = 0; i < regs.size(); ++i) {
        if (reinterpret_cast<uintptr_t>(regs[i].addr) != addr)
            continue;
        if (text ? regs[i].kind == kText : regs[i].kind != kText)
            return static_cast<int>(i);
    }
    return -1;
}

// Everything reachable from an out record may be written by the peer, but
// texts: they are the caller's constants and only ever go out.
void mark_out(Call &call, Sent &sent, uint32_t index)
{
    std::vector<uint32_t> todo{index};
    while (!todo.empty()) {
        const uint32_t i = todo.back();
        todo.pop_back();
        if (sent.origins[i].out || call.regions[i].kind == kText)
            continue;
        sent.origins[i].out = true;
        call.regions[i].flags |= kFlagOut;
        for (const PtrMember &m : call.regions[i].ptrs)
            todo.push_back(m.target);
    }
}

} // namespace

int32_t add_record(Regs &regs, const void *addr, const RPC_DESC_T *desc, const char *member)
{
    const RPC_DESC_VARIANT_T *variant = rpc_desc_variant(desc, member);
    if (!addr || !variant)
        return RPCR_INV_ARGS;
    const auto *p = static_cast<const uint8_t *>(addr);
    for (Reg &r : regs) {
        if (inside(r, p, desc->z_size)) {
            const auto base = static_cast<uint32_t>(p - r.addr);
            for (uint32_t i = 0; i < variant->ui4_num_ptrs; ++i)
                add_offset(r, base + variant->pui4_ptr_offs[i]);
            return RPCR_OK;
        }
        if (overlaps(r, p, desc->z_size))
            return RPCR_INV_ARGS;
    }
    if (regs.size() >= kMaxRegions)
        return RPCR_NO_MEM;
    Reg reg{kRecord, p, desc->z_size, {}};
    for (uint32_t i = 0; i < variant->ui4_num_ptrs; ++i)
        add_offset(reg, variant->pui4_ptr_offs[i]);
    regs.push_back(std::move(reg));
    return RPCR_OK;
}

int32_t add_text(Regs &regs, const char *text)
{
    if (!text)
        return RPCR_INV_ARGS;
    const size_t len = std::strlen(text) + 1;
    if (len > kMaxBody)
        return RPCR_INV_ARGS;
    return add_region(regs, kText, reinterpret_cast<const uint8_t *>(text), static_cast<uint32_t>(len));
}

int32_t add_buffer(Regs &regs, const void *addr, uint32_t size)
{
    if (!addr || size > kMaxBody)
        return RPCR_INV_ARGS;
    return add_region(regs, kBuffer, static_cast<const uint8_t *>(addr), size);
}

int32_t add_ptr_member(Regs &regs, const void *field)
{
    const auto *p = static_cast<const uint8_t *>(field);
    for (Reg &r : regs) {
        if (inside(r, p, sizeof(void *))) {
            add_offset(r, static_cast<uint32_t>(p - r.addr));
            return RPCR_OK;
        }
    }
    return RPCR_INV_ARGS;
}

int32_t build_call(const Regs &regs, const char *name, uint64_t func, uint32_t argc, const RPC_ARG_T *args, Call &call,
                   Sent &sent)
{
    if (!name || !*name || std::strlen(name) > kMaxName || argc > kMaxArgs || (argc && !args))
        return RPCR_INV_ARGS;
    call.name = name;
    call.func = func;
    call.regions.clear();
    sent.origins.clear();
    for (const Reg &r : regs) {
        Region reg;
        reg.kind = r.kind;
        reg.bytes.assign(r.addr, r.addr + r.size);
        call.regions.push_back(std::move(reg));
        sent.origins.push_back({const_cast<uint8_t *>(r.addr), r.size, false, {}});
    }
    // Pointer members that point at a registered region travel as links.
    // Every pointer member is restored after the write-back, linked or not:
    // the peer never chooses where the caller's pointers point.
    for (size_t i = 0; i < regs.size(); ++i) {
        for (uint32_t off : regs[i].ptr_offs) {
            const uintptr_t target = load_ptr(regs[i].addr + off);
            sent.origins[i].saved_ptrs.push_back({off, target});
            const int t = target ? find_region(regs, target, false) : -1;
            const int text = target ? find_region(regs, target, true) : -1;
            const int link = text >= 0 ? text : t;
            if (link >= 0)
                call.regions[i].ptrs.push_back({off, static_cast<uint32_t>(link)});
        }
    }
    call.args.assign(args, args + argc);
    for (uint32_t i = 0; i < argc; ++i) {
        ArgClass c;
        if (!classify(args[i].e_type, c))
            return RPCR_INV_ARGS;
        if (!is_pointer(c.kind))
            continue;
        const auto addr = static_cast<uintptr_t>(args[i].u.ui8);
        if (!addr)
            continue;
        int index;
        if (c.kind == ArgKind::PlaceIn || c.kind == ArgKind::PlaceOut) {
            if (call.regions.size() >= kMaxRegions)
                return RPCR_NO_MEM;
            Region place;
            place.kind = kPlace;
            const auto *p = reinterpret_cast<const uint8_t *>(addr);
            place.bytes.assign(p, p + c.width);
            call.regions.push_back(std::move(place));
            sent.origins.push_back({reinterpret_cast<uint8_t *>(addr), c.width, false, {}});
            index = static_cast<int>(call.regions.size() - 1);
        } else {
            index = find_region(regs, addr, c.kind == ArgKind::Text);
            if (index < 0)
                return RPCR_INV_ARGS;
        }
        if (c.kind == ArgKind::PlaceOut || args[i].e_type == ARG_TYPE_DESC_OUT)
            mark_out(call, sent, static_cast<uint32_t>(index));
        call.args[i].u.ui8 = static_cast<uint64_t>(index) + 1;
    }
    return RPCR_OK;
}

int32_t apply_reply(const Reply &reply, const Sent &sent, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    if (reply.transport != RPCR_OK)
        return reply.transport;
    if (reply.status != RPCR_OK) {
        if (result)
            *result = reply.result;
        return RPCR_PEER_FAILED;
    }
    if (reply.args.size() != argc)
        return RPCR_PROTOCOL;
    // Check everything first, so a bad reply writes nothing at all.
    for (const OutRegion &o : reply.outs) {
        if (o.index >= sent.origins.size() || !sent.origins[o.index].out ||
            o.bytes.size() != sent.origins[o.index].size)
            return RPCR_PROTOCOL;
    }
    for (const OutRegion &o : reply.outs) {
        const Origin &origin = sent.origins[o.index];
        if (!o.bytes.empty())
            std::memcpy(origin.addr, o.bytes.data(), o.bytes.size());
        for (const auto &saved : origin.saved_ptrs)
            store_ptr(origin.addr + saved.first, saved.second);
    }
    for (uint32_t i = 0; i < argc; ++i) {
        ArgClass c;
        if (classify(args[i].e_type, c) && c.kind == ArgKind::ValueOut)
            args[i].u = reply.args[i].u;
    }
    if (result)
        *result = reply.result;
    return RPCR_OK;
}

void materialize(const Call &call, Local &local)
{
    local.mem.clear();
    local.sizes.clear();
    for (const Region &reg : call.regions) {
        local.sizes.push_back(static_cast<uint32_t>(reg.bytes.size()));
        // Zeroed slack, so a handler reading a word from a short region
        // stays inside the allocation.
        auto mem = std::make_unique<uint8_t[]>(reg.bytes.size() + kSlack);
        if (!reg.bytes.empty())
            std::memcpy(mem.get(), reg.bytes.data(), reg.bytes.size());
        local.mem.push_back(std::move(mem));
    }
    for (size_t i = 0; i < call.regions.size(); ++i)
        for (const PtrMember &m : call.regions[i].ptrs)
            store_ptr(local.mem[i].get() + m.offset, reinterpret_cast<uintptr_t>(local.mem[m.target].get()));
    local.args = call.args;
    for (RPC_ARG_T &a : local.args) {
        ArgClass c;
        classify(a.e_type, c);
        if (is_pointer(c.kind) && a.u.ui8)
            a.u.ui8 = reinterpret_cast<uintptr_t>(local.mem[a.u.ui8 - 1].get());
    }
}

uint32_t local_size(const Local &local, const void *p)
{
    for (size_t i = 0; i < local.mem.size(); ++i)
        if (local.mem[i].get() == p)
            return local.sizes[i];
    return 0;
}

Reply make_reply(const Call &call, const Local &local, int32_t status, const RPC_ARG_T &result)
{
    Reply reply;
    reply.id = call.id;
    reply.status = status;
    reply.result = result; // a failing handler still reports its result
    if (status != RPCR_OK)
        return reply;
    reply.args = call.args;
    for (size_t i = 0; i < call.args.size(); ++i) {
        ArgClass c;
        classify(call.args[i].e_type, c);
        if (c.kind == ArgKind::ValueOut)
            reply.args[i].u = local.args[i].u;
    }
    for (size_t i = 0; i < call.regions.size(); ++i) {
        const Region &reg = call.regions[i];
        if (!(reg.flags & kFlagOut))
            continue;
        const uint8_t *p = local.mem[i].get();
        reply.outs.push_back({static_cast<uint32_t>(i), std::vector<uint8_t>(p, p + reg.bytes.size())});
    }
    return reply;
}

} // namespace rpcmarshal
