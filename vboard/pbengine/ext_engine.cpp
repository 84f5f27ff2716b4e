#include "ext_engine.h"

#include "blocks.h"
#include "checksum.h"
#include "qiv_records.h"
#include "sim.h"
#include "sim_text.h"

#include "korm.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace pbsim {

namespace {

constexpr uint32_t kFirstFilter = 0x100;
constexpr uint32_t kDefaultY = 4096;
constexpr uint32_t kDefaultC = 2048;
constexpr uint64_t kMaxPlane = 16u << 20;
constexpr uint64_t kMaxNoticeBuffer = 1u << 20;
constexpr uint32_t kEncryptMemType = 1;
constexpr uint32_t kEncryptMemMax = 4u << 20;
constexpr size_t kSegHead = 4, kSegBytes = 808, kSegValue = 32, kSegCount = 36, kSegSubs = 40;
constexpr uint32_t kSubSampleBytes = 12, kMaxSubSamples = 64;
constexpr int8_t kUnknown = -1;
constexpr uint8_t kYFill = 0x59, kCFill = 0x43;

struct Planes {
    uint32_t y = 0, c = 0;
};

struct Memory {
    uint32_t block = 0, size = 0;
};

struct ExtState {
    std::mutex mu;
    std::map<uint32_t, uint32_t> filters; // filter handle -> playback handle
    uint32_t next_filter = kFirstFilter;
    uint32_t notice_bytes = 0; // 0: no buffer notice
    uint32_t y_bytes = kDefaultY, c_bytes = kDefaultC;
    bool reuse_planes = false;
    Planes last_planes;
    std::map<uint32_t, Memory> share_mem; // by playback handle
    std::vector<uint8_t> seen_mem;        // the encryption memory at the last SetEncryptInfo
};

ExtState &ext()
{
    static auto *s = new ExtState;
    return *s;
}

uint32_t load32(const uint8_t *p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A record argument of at least the size of T, or nullptr.
template <typename T> T *record(const RPC_ARG_T &a)
{
    void *p = rpc_arg_ptr(a);
    return p && rpc_local_region_size(p) >= sizeof(T) ? static_cast<T *>(p) : nullptr;
}

// A block filled with one byte, or 0.
uint32_t filled_block(uint32_t size, uint8_t fill)
{
    const uint32_t h = alloc_kmem_block(size);
    void *p = h ? x_kmem_block_map(h) : nullptr;
    if (!p)
        return h;
    std::memset(p, fill, size);
    x_kmem_block_unmap(p);
    return h;
}

// The filter's buffer: its handle repeated, so the application can tell it.
uint32_t filter_buffer(uint32_t h_filter, uint32_t size)
{
    const uint32_t h = alloc_kmem_block(size);
    auto *p = h ? static_cast<uint8_t *>(x_kmem_block_map(h)) : nullptr;
    if (!p)
        return h;
    for (uint32_t i = 0; i + sizeof h_filter <= size; i += sizeof h_filter)
        std::memcpy(p + i, &h_filter, sizeof h_filter);
    x_kmem_block_unmap(p);
    return h;
}

int8_t filter_alloc(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    if (argc != 5)
        return kUnknown;
    ExtState &s = ext();
    uint32_t h_filter, notice;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        h_filter = s.next_filter++;
        s.filters[h_filter] = args[0].u.ui4;
        notice = s.notice_bytes;
    }
    write_out(args[4], h_filter);
    if (notice) {
        const uint32_t h_buf = filter_buffer(h_filter, notice);
        call_back_soon(conn, "x_qivpbctrl_filter_allocate_nfy_fct", args[2].u.ui8,
                       {{ARG_TYPE_UINT32, args[0].u.ui4},
                        {ARG_TYPE_UINT32, h_filter},
                        {ARG_TYPE_UINT32, h_buf},
                        {ARG_TYPE_UINT32, notice},
                        {ARG_TYPE_UINT32, args[3].u.ui4}});
    }
    return 0;
}

int8_t filter_free(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    ExtState &s = ext();
    std::lock_guard<std::mutex> lock(s.mu);
    return argc == 2 && s.filters.erase(args[1].u.ui4) ? 0 : kUnknown;
}

// New planes, or the last ones again when told to reuse them.
Planes planes()
{
    ExtState &s = ext();
    std::lock_guard<std::mutex> lock(s.mu);
    if (!s.reuse_planes || !s.last_planes.y)
        s.last_planes = Planes{filled_block(s.y_bytes, kYFill), filled_block(s.c_bytes, kCFill)};
    return s.last_planes;
}

template <typename Desc> int8_t start_snapshot(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    Desc *d = argc == 5 ? record<Desc>(args[4]) : nullptr;
    if (!d)
        return kUnknown;
    const Planes p = planes();
    if (!p.y || !p.c)
        return kUnknown;
    for (size_t i = 0; i < sizeof d->au4Value / sizeof d->au4Value[0]; ++i)
        d->au4Value[i] = static_cast<uint32_t>(0x11 * (i + 1));
    std::lock_guard<std::mutex> lock(ext().mu);
    d->uY = p.y;
    d->u4YSize = ext().y_bytes;
    d->uC = p.c;
    d->u4CSize = ext().c_bytes;
    return 0;
}

int8_t share_mem(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    auto *rec = argc == 2 ? record<IQIV_PB_CTRL_SHARE_MEM_T>(args[1]) : nullptr;
    if (!rec || rec->eMemType != kEncryptMemType || !rec->u4MemSize || rec->u4MemSize > kEncryptMemMax)
        return kUnknown;
    rec->hMemHandle = alloc_kmem_block(rec->u4MemSize);
    if (!rec->hMemHandle)
        return kUnknown;
    std::lock_guard<std::mutex> lock(ext().mu);
    ext().share_mem[args[0].u.ui4] = Memory{rec->hMemHandle, rec->u4MemSize};
    return 0;
}

// Reads back the playback's encryption memory, as the engine uses it.
int8_t encrypt_info(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (argc != 2)
        return kUnknown;
    ExtState &s = ext();
    std::lock_guard<std::mutex> lock(s.mu);
    auto it = s.share_mem.find(args[0].u.ui4);
    if (it == s.share_mem.end())
        return 0; // not sample-level: nothing in memory
    const uint32_t size = it->second.size;
    auto *p = static_cast<uint8_t *>(x_kmem_block_map(it->second.block));
    if (!p)
        return kUnknown;
    s.seen_mem.assign(p, p + size);
    x_kmem_block_unmap(p);
    return 0;
}

int8_t free_filter_buffer(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    return argc == 2 && free_made_block(args[1].u.ui4) ? 0 : kUnknown;
}

const Operation kExtOps[] = {
    {"x_QivPb_Ctrl_TS_Filter_Alloc", scripted<filter_alloc>},
    {"x_QivPb_Ctrl_TS_Filter_Free", scripted<filter_free>},
    {"x_QivPb_Ctrl_TS_Filter_FreeBuffer", scripted<free_filter_buffer>},
    {"x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot", scripted<start_snapshot<IQIV_PB_CTRL_SNAPSHOT_DESC_T>>},
    {"x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext", scripted<start_snapshot<IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T>>},
    {"x_QivPb_Ctrl_Get_Share_Mem_Handle", scripted<share_mem>},
    {"x_QivPb_Ctrl_SetEncryptInfo", scripted<encrypt_info>},
};

std::string describe_memory(const std::vector<uint8_t> &m)
{
    if (m.size() < kSegHead)
        return "error no memory read";
    uint16_t count, zero;
    std::memcpy(&count, m.data(), sizeof count);
    std::memcpy(&zero, m.data() + 2, sizeof zero);
    char b[96];
    std::snprintf(b, sizeof b, "ok segs=%u zero=%u bytes=%zu sum=%016" PRIx64, count, zero, m.size(),
                  checksum_of(m.data(), m.size()));
    return b;
}

std::string describe_segment(const std::vector<uint8_t> &m, uint64_t j)
{
    const size_t at = kSegHead + j * kSegBytes;
    if (m.size() < at + kSegBytes)
        return "error no such segment";
    const uint8_t *seg = m.data() + at;
    const uint32_t subs = load32(seg + kSegCount);
    if (subs > kMaxSubSamples)
        return "error sub-sample count " + std::to_string(subs);
    return "ok " + hex(seg, kSegValue) + " " + std::to_string(load32(seg + kSegValue)) + " " + std::to_string(subs) +
           " " + hex(seg + kSegSubs, subs * kSubSampleBytes);
}

} // namespace

void install_ext() { register_ops(kExtOps); }

std::string ext_command(const std::string &verb, std::istringstream &in)
{
    ExtState &s = ext();
    std::string a, b, c;
    in >> a >> b >> c;
    uint64_t n = 0, m = 0;
    std::lock_guard<std::mutex> lock(s.mu);
    if (verb == "filternotice") {
        if (a == "off")
            s.notice_bytes = 0;
        else if (parse_number(a, n) && n && n <= kMaxNoticeBuffer)
            s.notice_bytes = static_cast<uint32_t>(n);
        else
            return "error usage: filternotice SIZE|off";
        return "ok";
    }
    if (verb == "snapshot") {
        if ((a != "fresh" && a != "reuse") ||
            (!b.empty() && !(parse_number(b, n) && parse_number(c, m) && n && m && n <= kMaxPlane && m <= kMaxPlane)))
            return "error usage: snapshot fresh|reuse [Y_BYTES C_BYTES]";
        s.reuse_planes = a == "reuse";
        if (!b.empty()) {
            s.y_bytes = static_cast<uint32_t>(n);
            s.c_bytes = static_cast<uint32_t>(m);
        }
        return "ok";
    }
    if (verb == "encmem")
        return describe_memory(s.seen_mem);
    if (!parse_number(a, n))
        return "error usage: encseg J";
    return describe_segment(s.seen_mem, n);
}

void ext_reset()
{
    ExtState &s = ext();
    std::lock_guard<std::mutex> lock(s.mu);
    s.filters.clear();
    s.next_filter = kFirstFilter;
    s.notice_bytes = 0;
    s.y_bytes = kDefaultY;
    s.c_bytes = kDefaultC;
    s.reuse_planes = false;
    s.last_planes = Planes{};
    s.share_mem.clear();
    s.seen_mem.clear();
}

} // namespace pbsim
