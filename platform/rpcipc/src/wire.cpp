#include "wire.h"

#include "common/le_bytes.h"

#include <cstring>

namespace rpcwire {

namespace {

class Writer {
public:
    Writer() { buf_.resize(kFrameHeader); }
    void u8(uint8_t v) { buf_.push_back(v); }
    void u16(uint16_t v) { le::store16(grow(2), v); }
    void u32(uint32_t v) { le::store32(grow(4), v); }
    void u64(uint64_t v) { le::store64(grow(8), v); }
    void bytes(const void *p, size_t n)
    {
        if (n)
            std::memcpy(grow(n), p, n);
    }
    void arg(const RPC_ARG_T &a)
    {
        u32(a.e_type);
        u32(a.ui4_reserved);
        u64(a.u.ui8);
    }
    std::vector<uint8_t> finish()
    {
        le::store32(buf_.data(), static_cast<uint32_t>(buf_.size() - kFrameHeader));
        return std::move(buf_);
    }

private:
    uint8_t *grow(size_t n)
    {
        buf_.resize(buf_.size() + n);
        return buf_.data() + buf_.size() - n;
    }
    std::vector<uint8_t> buf_;
};

// Every read checks the bytes left; a failed read sticks.
class Reader {
public:
    Reader(const uint8_t *p, size_t n) : p_(p), left_(n) {}
    bool ok() const { return ok_; }
    bool at_end() const { return ok_ && left_ == 0; }
    uint8_t u8() { return take(1) ? p_[-1] : 0; }
    uint16_t u16() { return take(2) ? le::load16(p_ - 2) : 0; }
    uint32_t u32() { return take(4) ? le::load32(p_ - 4) : 0; }
    uint64_t u64() { return take(8) ? le::load64(p_ - 8) : 0; }
    const uint8_t *bytes(size_t n) { return take(n) ? p_ - n : nullptr; }
    RPC_ARG_T arg()
    {
        RPC_ARG_T a{};
        a.e_type = u32();
        a.ui4_reserved = u32();
        a.u.ui8 = u64();
        return a;
    }
    // A count whose items need at least min_bytes each.
    uint32_t count(uint32_t limit, size_t min_bytes)
    {
        const uint32_t n = u32();
        if (n > limit || (min_bytes && n > left_ / min_bytes))
            ok_ = false;
        return ok_ ? n : 0;
    }

private:
    bool take(size_t n)
    {
        if (!ok_ || n > left_) {
            ok_ = false;
            return false;
        }
        p_ += n;
        left_ -= n;
        return true;
    }
    const uint8_t *p_;
    size_t left_;
    bool ok_ = true;
};

void header(Writer &w, uint8_t kind, uint32_t id)
{
    w.u8(kind);
    w.u8(kVersion);
    w.u16(0);
    w.u32(id);
}

bool read_header(Reader &r, uint8_t kind, uint32_t &id)
{
    const uint8_t k = r.u8();
    const uint8_t version = r.u8();
    r.u16();
    id = r.u32();
    return r.ok() && k == kind && version == kVersion;
}

bool region_fits(const Region &reg, uint32_t nregions)
{
    if (reg.kind < kRecord || reg.kind > kPlace || (reg.flags & ~kFlagOut))
        return false;
    if (reg.kind == kText && (reg.bytes.empty() || reg.bytes.back() != 0))
        return false;
    for (const PtrMember &m : reg.ptrs) {
        if (m.target >= nregions || m.offset > reg.bytes.size() || reg.bytes.size() - m.offset < sizeof(void *))
            return false;
    }
    return true;
}

bool arg_fits(const RPC_ARG_T &a, const std::vector<Region> &regions)
{
    ArgClass c;
    if (!classify(a.e_type, c))
        return false;
    if (!is_pointer(c.kind) || a.u.ui8 == 0)
        return true;
    if (a.u.ui8 > regions.size())
        return false;
    const Region &reg = regions[a.u.ui8 - 1];
    switch (c.kind) {
    case ArgKind::Text:
        return reg.kind == kText;
    case ArgKind::Record:
        return reg.kind == kRecord || reg.kind == kBuffer;
    default:
        return reg.kind == kPlace && reg.bytes.size() == c.width;
    }
}

} // namespace

bool classify(uint32_t code, ArgClass &out)
{
    switch (code) {
    case ARG_TYPE_RESULT:
    case ARG_TYPE_INT8:
    case ARG_TYPE_ENUM:
    case ARG_TYPE_UINT8:
    case ARG_TYPE_TRACK:
    case ARG_TYPE_UINT32:
    case ARG_TYPE_BOOL:
    case ARG_TYPE_TAG:
    case ARG_TYPE_ENC_PARAM:
    case ARG_TYPE_FUNC:
        out = {ArgKind::Value, 0};
        return true;
    case ARG_TYPE_UINT32_OUT:
        out = {ArgKind::ValueOut, 0};
        return true;
    case ARG_TYPE_TEXT:
        out = {ArgKind::Text, 0};
        return true;
    case ARG_TYPE_DESC_IN:
    case ARG_TYPE_DESC_OUT:
        out = {ArgKind::Record, 0};
        return true;
    case ARG_TYPE_REF_UINT32_IN:
        out = {ArgKind::PlaceIn, 4};
        return true;
    case ARG_TYPE_REF_UINT8_IN:
        out = {ArgKind::PlaceIn, 1};
        return true;
    case ARG_TYPE_REF_UINT8_OUT:
    case ARG_TYPE_REF_BYTE_OUT:
        out = {ArgKind::PlaceOut, 1};
        return true;
    case ARG_TYPE_REF_UINT16_OUT:
        out = {ArgKind::PlaceOut, 2};
        return true;
    case ARG_TYPE_REF_UINT32_OUT:
        out = {ArgKind::PlaceOut, 4};
        return true;
    case ARG_TYPE_REF_UINT64_OUT:
        out = {ArgKind::PlaceOut, 8};
        return true;
    default:
        return false;
    }
}

} // namespace rpcwire

extern "C" int32_t rpc_arg_kind(uint32_t ui4_code, uint32_t *pui4_width)
{
    rpcwire::ArgClass c{};
    if (!rpcwire::classify(ui4_code, c))
        return RPCR_INV_ARGS;
    if (pui4_width)
        *pui4_width = c.width;
    return static_cast<int32_t>(c.kind);
}

namespace rpcwire {

std::vector<uint8_t> encode(const Call &call)
{
    Writer w;
    header(w, kCall, call.id);
    w.u64(call.func);
    w.u16(static_cast<uint16_t>(call.name.size()));
    w.bytes(call.name.data(), call.name.size());
    w.u32(static_cast<uint32_t>(call.args.size()));
    for (const RPC_ARG_T &a : call.args)
        w.arg(a);
    w.u32(static_cast<uint32_t>(call.regions.size()));
    for (const Region &reg : call.regions) {
        w.u8(reg.kind);
        w.u8(reg.flags);
        w.u16(0);
        w.u32(static_cast<uint32_t>(reg.bytes.size()));
        w.u32(static_cast<uint32_t>(reg.ptrs.size()));
        for (const PtrMember &m : reg.ptrs) {
            w.u32(m.offset);
            w.u32(m.target);
        }
        w.bytes(reg.bytes.data(), reg.bytes.size());
    }
    return w.finish();
}

std::vector<uint8_t> encode(const Reply &reply)
{
    Writer w;
    header(w, kReply, reply.id);
    w.u32(static_cast<uint32_t>(reply.transport));
    w.u32(static_cast<uint32_t>(reply.status));
    w.arg(reply.result);
    w.u32(static_cast<uint32_t>(reply.args.size()));
    for (const RPC_ARG_T &a : reply.args)
        w.arg(a);
    w.u32(static_cast<uint32_t>(reply.outs.size()));
    for (const OutRegion &o : reply.outs) {
        w.u32(o.index);
        w.u32(static_cast<uint32_t>(o.bytes.size()));
        w.bytes(o.bytes.data(), o.bytes.size());
    }
    return w.finish();
}

uint8_t body_kind(const uint8_t *body, size_t size) { return size ? body[0] : 0; }

uint32_t body_id(const uint8_t *body, size_t size) { return size >= 8 ? le::load32(body + 4) : 0; }

int32_t decode(const uint8_t *body, size_t size, Call &call)
{
    Reader r(body, size);
    if (!read_header(r, kCall, call.id))
        return RPCR_PROTOCOL;
    call.func = r.u64();
    const uint16_t name_len = r.u16();
    const uint8_t *name = r.bytes(name_len);
    if (!r.ok() || name_len == 0 || name_len > kMaxName || std::memchr(name, 0, name_len) != nullptr)
        return RPCR_PROTOCOL;
    call.name.assign(reinterpret_cast<const char *>(name), name_len);
    const uint32_t nargs = r.count(kMaxArgs, kArgBytes);
    call.args.resize(nargs);
    for (RPC_ARG_T &a : call.args)
        a = r.arg();
    const uint32_t nregions = r.count(kMaxRegions, 12);
    call.regions.resize(nregions);
    for (Region &reg : call.regions) {
        reg.kind = r.u8();
        reg.flags = r.u8();
        r.u16();
        const uint32_t nbytes = r.u32();
        const uint32_t nptrs = r.count(kMaxPtrsPerRegion, 8);
        reg.ptrs.resize(nptrs);
        for (PtrMember &m : reg.ptrs) {
            m.offset = r.u32();
            m.target = r.u32();
        }
        const uint8_t *bytes = r.bytes(nbytes);
        if (!r.ok())
            return RPCR_PROTOCOL;
        reg.bytes.assign(bytes, bytes + nbytes);
    }
    if (!r.at_end())
        return RPCR_PROTOCOL;
    for (const Region &reg : call.regions)
        if (!region_fits(reg, nregions))
            return RPCR_PROTOCOL;
    for (const RPC_ARG_T &a : call.args)
        if (!arg_fits(a, call.regions))
            return RPCR_PROTOCOL;
    return RPCR_OK;
}

int32_t decode(const uint8_t *body, size_t size, Reply &reply)
{
    Reader r(body, size);
    if (!read_header(r, kReply, reply.id))
        return RPCR_PROTOCOL;
    reply.transport = static_cast<int32_t>(r.u32());
    reply.status = static_cast<int32_t>(r.u32());
    reply.result = r.arg();
    const uint32_t nargs = r.count(kMaxArgs, kArgBytes);
    reply.args.resize(nargs);
    for (RPC_ARG_T &a : reply.args)
        a = r.arg();
    const uint32_t nouts = r.count(kMaxRegions, 8);
    reply.outs.resize(nouts);
    for (OutRegion &o : reply.outs) {
        o.index = r.u32();
        const uint32_t nbytes = r.u32();
        const uint8_t *bytes = r.bytes(nbytes);
        if (!r.ok())
            return RPCR_PROTOCOL;
        o.bytes.assign(bytes, bytes + nbytes);
    }
    return r.at_end() ? RPCR_OK : RPCR_PROTOCOL;
}

} // namespace rpcwire
