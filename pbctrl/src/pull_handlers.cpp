// Pull mode: the engine opens, maps and reads the application's media
// through these handlers. The application is never called with the slot's
// mutex held, so that its functions may call back into the library (an
// asynchronous read may end at once, inside the read call).
#include "handler_common.h"
#include "korm.h"
#include "platform_sizes.h"
#include "remote_call.h"
#include "slot_gate.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

using namespace pbctrl;

namespace {

// What a pull handler's prologue checks: its argument count, the argument
// that holds the tag, and the model its slot must have (0: any; abort,
// byte seek and input length only need a slot in use).
struct Shape {
    uint32_t argc;
    uint32_t tag_arg;
    uint32_t model;
};
constexpr uint32_t kPull = IQIV_PB_BUF_MOD_PULL;
constexpr Shape kOpen{3, 2, kPull}, kClose{2, 1, kPull}, kMap{5, 1, kPull}, kUnmap{3, 2, kPull}, kRead{6, 1, kPull},
    kReadAsync{8, 1, kPull}, kAbort{3, 1, 0}, kSeek{5, 1, 0}, kLength{3, 1, 0};
constexpr size_t kReadTagBytes = 4;

// Beside the slot's table, under its mutex: what each map holds and who
// still reads into it. A map the engine unmaps while reads run into it
// stays mapped until the last of them ends; a closed pull record stays
// until its last map is gone.
struct MapUse {
    uint64_t size;     // reads stay inside it
    uint32_t reads;    // synchronous reads running
    uint8_t unmapping; // unmapped by the engine, reads still running
};
MapUse g_map_use[kSlots][kPulls][kPullMaps];
uint8_t g_pull_closing[kSlots][kPulls];

// The read tags handed out and not yet taken back: a completion reads a
// tag only once it is known to be one of them.
std::mutex g_tags_mutex;
std::set<const void *> g_live_tags;

uint8_t *new_read_tag(const uint8_t (&indices)[kReadTagBytes])
{
    auto *tag = new (std::nothrow) uint8_t[kReadTagBytes];
    if (!tag)
        return nullptr;
    std::memcpy(tag, indices, kReadTagBytes);
    std::lock_guard<std::mutex> lock(g_tags_mutex);
    g_live_tags.insert(tag);
    return tag;
}

void delete_read_tag(void *pv_tag)
{
    {
        std::lock_guard<std::mutex> lock(g_tags_mutex);
        g_live_tags.erase(pv_tag);
    }
    delete[] static_cast<uint8_t *>(pv_tag);
}

bool read_tag_indices(const void *pv_tag, uint8_t (&out)[kReadTagBytes])
{
    std::lock_guard<std::mutex> lock(g_tags_mutex);
    if (!g_live_tags.count(pv_tag))
        return false;
    std::memcpy(out, pv_tag, kReadTagBytes);
    return true;
}

void log_failure(const char *ps_name, const char *ps_reason, int i4_line)
{
    CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", ps_name, ps_reason, i4_line);
}

// Copies a value into an out place the engine sent, if it is one that big.
bool write_place(const RPC_ARG_T &arg, const void *pv_value, uint32_t ui4_size)
{
    void *p = engine_place(arg, ui4_size);
    if (!p)
        return false;
    std::memcpy(p, pv_value, ui4_size);
    return true;
}

bool has_place(const RPC_ARG_T &arg, uint32_t ui4_size) { return engine_place(arg, ui4_size) != nullptr; }

// The prologue every pull handler shares: the argument count, the entry
// line and the slot the tag names. 0 with the slot, else what the handler
// returns (its result set for a tag that names no slot).
// The slot stays held (a close waits) until the handler returns.
int32_t enter(const Shape &shape, const char *ps_name, int i4_line, uint32_t ui4_num_args, const RPC_ARG_T *pt_args,
              RPC_ARG_T *pt_return, int &slot, SlotHold &hold)
{
    if (ui4_num_args != shape.argc)
        return RPCR_INV_ARGS;
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", ps_name, i4_line);
    slot = slot_of_tag(rpc_arg_ptr(pt_args[shape.tag_arg]), shape.model);
    return slot < 0 || !hold.take(slot) ? fail(pt_return) : 0;
}

// Called with the slot's mutex held.
int find_pull(int slot, uint32_t h_pull)
{
    const ClientInfo &c = t_client_info[slot];
    for (int i = 0; i < kPulls; ++i)
        if (c.at_pull[i].b_used && !g_pull_closing[slot][i] && c.at_pull[i].h_pull == h_pull)
            return i;
    return -1;
}

int find_map(int slot, int pull, uint32_t ui4_map_id)
{
    const PullRecord &r = t_client_info[slot].at_pull[pull];
    for (int j = 0; j < kPullMaps; ++j)
        if (r.at_map[j].b_used && !g_map_use[slot][pull][j].unmapping && r.at_map[j].ui4_map_id == ui4_map_id)
            return j;
    return -1;
}

// Where a read of one map goes: found under the slot's mutex, used after.
struct ReadPlace {
    int pull = -1;
    int map = -1;
    uint8_t *buf = nullptr;
};

// Record and map of a read, and the bytes it may fill; false after logging.
bool find_read_place(int slot, const char *ps_name, uint32_t h_pull, uint32_t ui4_map_id, uint32_t ui4_offset,
                     uint32_t ui4_len, ReadPlace &out)
{
    ClientInfo &c = t_client_info[slot];
    out.pull = find_pull(slot, h_pull);
    if (out.pull < 0) {
        log_failure(ps_name, "Invalid pull handle", __LINE__);
        return false;
    }
    out.map = find_map(slot, out.pull, ui4_map_id);
    if (out.map < 0) {
        log_failure(ps_name, "Cannot find ipc memory handle", __LINE__);
        return false;
    }
    const uint64_t end = uint64_t{ui4_offset} + ui4_len;
    if (end > g_map_use[slot][out.pull][out.map].size) {
        log_failure(ps_name, "Read outside the mapped slices", __LINE__);
        return false;
    }
    out.buf = static_cast<uint8_t *>(c.at_pull[out.pull].at_map[out.map].pv_addr) + ui4_offset;
    return true;
}

void unmap_entry(int slot, int pull, int map)
{
    PullMap &m = t_client_info[slot].at_pull[pull].at_map[map];
    x_skmem_block_unmap(m.pv_addr);
    m.b_used = 0;
    m.ui4_map_id = 0;
    m.pv_addr = nullptr;
    g_map_use[slot][pull][map] = MapUse{};
}

bool map_busy(int slot, int pull, int map)
{
    if (g_map_use[slot][pull][map].reads)
        return true;
    for (const ReadRequest &r : t_client_info[slot].at_pull[pull].at_map[map].at_req)
        if (r.b_used)
            return true;
    return false;
}

// The engine is done with the map: unmapped now, or by the last read that
// still writes into it.
void retire_map(int slot, int pull, int map)
{
    if (map_busy(slot, pull, map))
        g_map_use[slot][pull][map].unmapping = 1;
    else
        unmap_entry(slot, pull, map);
}

// After a read into the map ended: a retired map, and a closed record
// whose last map that was, go now.
void settle(int slot, int pull, int map)
{
    if (g_map_use[slot][pull][map].unmapping && !map_busy(slot, pull, map))
        unmap_entry(slot, pull, map);
    if (!g_pull_closing[slot][pull])
        return;
    PullRecord &r = t_client_info[slot].at_pull[pull];
    for (const PullMap &m : r.at_map)
        if (m.b_used)
            return;
    std::memset(&r, 0, sizeof r);
    g_pull_closing[slot][pull] = 0;
}

} // namespace

namespace pbctrl {

int slot_of_tag(const void *pv_tag, uint32_t e_required_mod)
{
    const int slot = find_by_tag(pv_tag, e_required_mod);
    if (slot < 0) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", "client lookup", "Invalid client index",
                   __LINE__);
        return -1;
    }
    // The consumption notice's line carries no source line, the pull handlers' do.
    if (e_required_mod == IQIV_PB_BUF_MOD_PUSH)
        CLIENT_LOG(kLogData, "<Client> Use client[%d] info to call APP\n", slot);
    else
        CLIENT_LOG(kLogData, "<Client> Use client[%d] info to call APP, @Line: %d \n", slot, __LINE__);
    return slot;
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_open_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kOpen, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    if (!has_place(pt_args[1], sizeof(uint32_t)))
        return fail(pt_return);
    ClientInfo &c = t_client_info[slot];
    const uint32_t h_pb = pt_args[0].u.ui4;
    if (c.h_handle != h_pb) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, PB handle is not match in client_info[%d], @Line: %d \n", __func__,
                   slot, __LINE__);
        return fail(pt_return);
    }
    const auto open = reinterpret_cast<IQIV_PB_CTRL_PULL_OPEN_FCT>(c.t_pull_fct.pf_open);
    if (!open)
        return fail(pt_return);
    int rec = -1;
    {
        MutexGuard lock(slot_mutex(c));
        for (int i = 0; i < kPulls && rec < 0; ++i)
            if (!c.at_pull[i].b_used)
                rec = i;
        if (rec >= 0) {
            std::memset(&c.at_pull[rec], 0, sizeof c.at_pull[rec]);
            c.at_pull[rec].b_used = 1;
        }
    }
    if (rec < 0) {
        log_failure(__func__, "SLICE info is full, need to close unused", __LINE__);
        set_result(pt_return, kHandlerFail);
        return kHandlerNoRoom;
    }
    uint32_t h_pull = 0;
    const int32_t app = open(h_pb, &h_pull, c.t_pull_fct.pv_tag);
    {
        MutexGuard lock(slot_mutex(c));
        if ((app & 0xFF) == 0)
            c.at_pull[rec].h_pull = h_pull;
        else
            c.at_pull[rec].b_used = 0; // a failed open keeps no record
    }
    write_place(pt_args[1], &h_pull, sizeof h_pull);
    if (app_outcome(pt_return, app) != 0)
        return kHandlerFail;
    CLIENT_LOG(kLogData, "<Client> open succeed, Pull handle is: %d, @Line: %d \n", static_cast<int>(h_pull), __LINE__);
    return 0;
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_close_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kClose, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    ClientInfo &c = t_client_info[slot];
    const uint32_t h_pull = pt_args[0].u.ui4;
    {
        MutexGuard lock(slot_mutex(c));
        const int rec = find_pull(slot, h_pull);
        if (rec < 0) {
            log_failure(__func__, "cannot find pull handle", __LINE__);
            return fail(pt_return);
        }
        // Maps the engine left behind would stay mapped for good; those
        // still read into go with their last read.
        g_pull_closing[slot][rec] = 1;
        for (int j = 0; j < kPullMaps; ++j)
            if (c.at_pull[rec].at_map[j].b_used && !g_map_use[slot][rec][j].unmapping)
                retire_map(slot, rec, j);
        settle(slot, rec, 0);
    }
    const auto close = reinterpret_cast<IQIV_PB_CTRL_PULL_CLOSE_FCT>(c.t_pull_fct.pf_close);
    return close ? app_outcome(pt_return, close(h_pull, c.t_pull_fct.pv_tag)) : fail(pt_return);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_MapMemSlice_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kMap, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    const uint32_t count = pt_args[2].u.ui4;
    const auto *list = static_cast<const HANDLE_T *>(engine_record(pt_args[3], uint64_t{count} * sizeof(HANDLE_T)));
    if (!has_place(pt_args[4], sizeof(uint32_t)))
        return fail(pt_return);
    if (count == 0 || !list) {
        log_failure(__func__, "slice list shorter than its count", __LINE__);
        return fail(pt_return);
    }
    ClientInfo &c = t_client_info[slot];
    uint32_t id = 0;
    {
        MutexGuard lock(slot_mutex(c));
        const int rec = find_pull(slot, pt_args[0].u.ui4);
        if (rec < 0) {
            log_failure(__func__, "Invalid pull handle", __LINE__);
            return fail(pt_return);
        }
        PullRecord &r = c.at_pull[rec];
        int j = 0;
        while (j < kPullMaps && r.at_map[j].b_used)
            ++j;
        if (j == kPullMaps) {
            log_failure(__func__, "Current pull handle cannot support more memory map", __LINE__);
            return fail(pt_return);
        }
        CLIENT_LOG(kLogData, "<Client> start to multimap, @Line: %d \n", __LINE__);
        void *addr = x_skmem_block_multimap(count, list);
        if (!addr) {
            log_failure(__func__, "x_skmem_block_multimap", __LINE__);
            return fail(pt_return);
        }
        r.at_map[j].b_used = 1;
        r.at_map[j].pv_addr = addr;
        r.at_map[j].ui4_map_id = id = static_cast<uint32_t>(j + 1);
        g_map_use[slot][rec][j] = MapUse{blocks_bytes(count, list), 0, 0};
    }
    write_place(pt_args[4], &id, sizeof id);
    CLIENT_LOG(kLogData, "<Client> %s successful, @Line: %d \n", __func__, __LINE__);
    return app_outcome(pt_return, 0);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_UnmapMemSlice_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kUnmap, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(slot_mutex(c));
    const int rec = find_pull(slot, pt_args[0].u.ui4);
    if (rec < 0) {
        log_failure(__func__, "Invalid pull handle", __LINE__);
        return fail(pt_return);
    }
    const int map = find_map(slot, rec, pt_args[1].u.ui4);
    if (map < 0) {
        log_failure(__func__, "Cannot find ipc memory handle", __LINE__);
        return fail(pt_return);
    }
    retire_map(slot, rec, map);
    return app_outcome(pt_return, 0);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_read_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kRead, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    if (!has_place(pt_args[5], sizeof(uint32_t)))
        return fail(pt_return);
    ClientInfo &c = t_client_info[slot];
    const uint32_t h_pull = pt_args[0].u.ui4, len = pt_args[4].u.ui4;
    ReadPlace place;
    const auto read = reinterpret_cast<IQIV_PB_CTRL_PULL_READ_FCT>(c.t_pull_fct.pf_read);
    if (!read)
        return fail(pt_return);
    {
        MutexGuard lock(slot_mutex(c));
        if (!find_read_place(slot, __func__, h_pull, pt_args[2].u.ui4, pt_args[3].u.ui4, len, place))
            return fail(pt_return);
        ++g_map_use[slot][place.pull][place.map].reads;
    }
    uint32_t got = 0;
    const int32_t app = read(h_pull, c.t_pull_fct.pv_tag, place.buf, len, &got);
    {
        MutexGuard lock(slot_mutex(c));
        --g_map_use[slot][place.pull][place.map].reads;
        settle(slot, place.pull, place.map);
    }
    write_place(pt_args[5], &got, sizeof got);
    return app_outcome(pt_return, app);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_read_async_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kReadAsync, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    ClientInfo &c = t_client_info[slot];
    const auto read = reinterpret_cast<IQIV_PB_CTRL_PULL_READ_ASYNC_FCT>(c.t_pull_fct.pf_read_async);
    if (!read)
        return fail(pt_return);
    const uint32_t h_pull = pt_args[0].u.ui4, len = pt_args[4].u.ui4;
    ReadPlace place;
    uint8_t *tag = nullptr;
    int req = -1;
    {
        MutexGuard lock(slot_mutex(c));
        if (!find_read_place(slot, __func__, h_pull, pt_args[2].u.ui4, pt_args[3].u.ui4, len, place))
            return fail(pt_return);
        PullMap &m = c.at_pull[place.pull].at_map[place.map];
        for (int k = 0; k < kReadReqs && req < 0; ++k)
            if (!m.at_req[k].b_used)
                req = k;
        if (req < 0) {
            log_failure(__func__, "Cannot find free server mem info", __LINE__);
            return fail(pt_return);
        }
        const uint8_t indices[kReadTagBytes] = {static_cast<uint8_t>(slot), static_cast<uint8_t>(place.pull),
                                                static_cast<uint8_t>(place.map), static_cast<uint8_t>(req)};
        tag = new_read_tag(indices);
        if (!tag) {
            CLIENT_LOG(kLogErr, "<Client>ERR: alloc memory for read async tag error\n");
            set_result(pt_return, kHandlerFail);
            return kHandlerNoRoom;
        }
        ReadRequest &r = m.at_req[req];
        r.b_used = 1;
        r.pf_nfy = rpc_arg_ptr(pt_args[5]);
        r.pv_tag = rpc_arg_ptr(pt_args[7]);
        r.pv_read_tag = tag;
        CLIENT_LOG(kLogData, "<Client> _create_read_async_tag is: %p, @Line: %d \n", static_cast<void *>(tag),
                   __LINE__);
        CLIENT_LOG(kLogData, "<Client> create_read_async i: %d, j: %d, k: %d,  pf_Ipc_pull_nft_fct: %p, pv tag: %p\n",
                   place.pull, place.map, req, r.pf_nfy, r.pv_tag);
    }
    uint32_t req_id = 0;
    const int32_t app = read(h_pull, c.t_pull_fct.pv_tag, place.buf, len, _IQivPb_Ctrl_Pull_Nfy_Fct, tag, &req_id);
    write_place(pt_args[6], &req_id, sizeof req_id);
    if ((app & 0xFF) != 0) {
        // A read that never started never ends: its request and tag go now.
        MutexGuard lock(slot_mutex(c));
        ReadRequest &r = c.at_pull[place.pull].at_map[place.map].at_req[req];
        if (r.b_used && r.pv_read_tag == tag) {
            delete_read_tag(tag);
            std::memset(&r, 0, sizeof r);
            settle(slot, place.pull, place.map);
        }
    }
    return app_outcome(pt_return, app);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_pull_abort_read_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kAbort, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    const PullFct &f = t_client_info[slot].t_pull_fct;
    const auto abort = reinterpret_cast<IQIV_PB_CTRL_PULL_ABORT_READ_FCT>(f.pf_abort_read);
    return abort ? app_outcome(pt_return, abort(pt_args[0].u.ui4, f.pv_tag, pt_args[2].u.ui4)) : fail(pt_return);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_byteseek_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kSeek, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    if (!has_place(pt_args[4], sizeof(uint64_t)))
        return fail(pt_return);
    const PullFct &f = t_client_info[slot].t_pull_fct;
    const auto seek = reinterpret_cast<IQIV_PB_CTRL_PULL_BYTESEEK_FCT>(f.pf_byte_seek);
    if (!seek)
        return fail(pt_return);
    uint64_t pos = 0;
    const int32_t app = seek(pt_args[0].u.ui4, f.pv_tag, pt_args[2].u.ui8, pt_args[3].u.ui1, &pos);
    CLIENT_LOG(kLogData, "<Client> byteseek: u8CurPos is: %lld, @Line: %d \n", static_cast<long long>(pos), __LINE__);
    write_place(pt_args[4], &pos, sizeof pos);
    return app_outcome(pt_return, app);
}

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_get_input_length_nfy_fct)
{
    int slot = -1;
    SlotHold hold;
    if (const int32_t st = enter(kLength, __func__, __LINE__, ui4_num_args, pt_args, pt_return, slot, hold))
        return st;
    if (!has_place(pt_args[2], sizeof(uint64_t)))
        return fail(pt_return);
    const PullFct &f = t_client_info[slot].t_pull_fct;
    const auto length = reinterpret_cast<IQIV_PB_CTRL_PULL_GET_INPUT_LEN_FCT>(f.pf_get_input_len);
    if (!length)
        return fail(pt_return);
    uint64_t len = 0;
    const int32_t app = length(pt_args[0].u.ui4, f.pv_tag, &len);
    write_place(pt_args[2], &len, sizeof len);
    return app_outcome(pt_return, app);
}

void release_pull_tables(int slot)
{
    ClientInfo &c = t_client_info[slot];
    for (int i = 0; i < kPulls; ++i) {
        for (int j = 0; j < kPullMaps; ++j) {
            PullMap &m = c.at_pull[i].at_map[j];
            for (ReadRequest &r : m.at_req)
                if (r.b_used)
                    delete_read_tag(r.pv_read_tag);
            if (m.b_used)
                unmap_entry(slot, i, j);
        }
        g_pull_closing[slot][i] = 0;
    }
    std::memset(c.at_pull, 0, sizeof c.at_pull);
}

} // namespace pbctrl

extern "C" int32_t _IQivPb_Ctrl_Pull_Nfy_Fct(uint8_t e_cond, void *pv_tag, uint32_t ui4_data1, uint32_t ui4_data2)
{
    // Only a tag this library handed out and has not taken back is read.
    uint8_t ix[kReadTagBytes];
    if (!read_tag_indices(pv_tag, ix))
        return IQIVPB_FAIL;
    if (ix[0] >= kSlots || ix[1] >= kPulls || ix[2] >= kPullMaps || ix[3] >= kReadReqs)
        return IQIVPB_FAIL;
    SlotHold hold;
    if (!hold.take(ix[0]))
        return IQIVPB_FAIL;
    ClientInfo &c = t_client_info[ix[0]];
    if (!c.b_used || c.e_buf_mod != IQIV_PB_BUF_MOD_PULL)
        return IQIVPB_FAIL;
    void *pf_nfy = nullptr, *pv_engine_tag = nullptr;
    bool closed = false;
    {
        MutexGuard lock(slot_mutex(c));
        ReadRequest &r = c.at_pull[ix[1]].at_map[ix[2]].at_req[ix[3]];
        if (!r.b_used || r.pv_read_tag != pv_tag)
            return IQIVPB_FAIL;
        pf_nfy = r.pf_nfy;
        pv_engine_tag = r.pv_tag;
        CLIENT_LOG(
            kLogEntry,
            "<Client> _IQivPb_Ctrl_Pull_Nfy_Fct is called, pvRdAsyTag is: %p, i: %d, j: %d, k: %d, func: %p, tag: %p\n",
            pv_tag, ix[1], ix[2], ix[3], pf_nfy, pv_engine_tag);
        // Taken back before the engine hears of the end: once it has, it may
        // close the pull handle, and its record with this request, at once.
        delete_read_tag(pv_tag);
        std::memset(&r, 0, sizeof r);
        // The engine closed the pull handle meanwhile: nobody waits for it.
        closed = g_pull_closing[ix[0]][ix[1]] != 0;
        settle(ix[0], ix[1], ix[2]);
    }
    if (closed)
        return IQIVPB_FAIL;
    RPC_ARG_T args[5];
    rpc_arg_set_ptr(args[0], ARG_TYPE_FUNC, pf_nfy);
    rpc_arg_set(args[1], ARG_TYPE_INT8, e_cond);
    rpc_arg_set_ptr(args[2], ARG_TYPE_TAG, pv_engine_tag);
    rpc_arg_set(args[3], ARG_TYPE_UINT32, ui4_data1);
    rpc_arg_set(args[4], ARG_TYPE_UINT32, ui4_data2);
    return remote_call(__func__, __LINE__, "x_QivPb_Ctrl_Pull_Nfy_Fct", 5, args);
}
