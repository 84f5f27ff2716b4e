// Feeds arbitrary argument arrays to every registered call-back handler, as
// a broken or hostile engine might. The transport and the block library
// are stood in for: regions the "transport" brought are known by size, and
// one block (handle 1) exists. Any crash or sanitizer report is a finding.
#include "client_info.h"
#include "korm.h"
#include "rpcipc.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace pbctrl;

namespace {

constexpr HANDLE_T kBlock = 1;
constexpr uint32_t kBlockSize = 4096;
constexpr size_t kMaxArgs = 10;
uint8_t g_block[kBlockSize];
std::map<const void *, uint32_t> g_regions;
std::vector<std::pair<std::string, rpc_hndlr_fct>> g_handlers;

int32_t app_open(uint32_t, uint32_t *ph, void *)
{
    *ph = 7;
    return 0;
}
int32_t app_close(uint32_t, void *) { return 0; }
int32_t app_read(uint32_t, void *, void *buf, uint32_t len, uint32_t *got)
{
    std::memset(buf, 0xA5, len); // the whole span the handler allowed
    *got = len;
    return 0;
}
int32_t app_read_async(uint32_t, void *, void *buf, uint32_t len, IQIV_PB_CTRL_PULL_NFY_FCT nfy, void *tag,
                       uint32_t *req)
{
    std::memset(buf, 0x5A, len);
    *req = 1;
    return nfy(0, tag, len, 0);
}
int32_t app_abort(uint32_t, void *, uint32_t) { return 0; }
int32_t app_seek(uint32_t, void *, uint64_t off, uint8_t, uint64_t *cur)
{
    *cur = off;
    return 0;
}
int32_t app_length(uint32_t, void *, uint64_t *len)
{
    *len = 1;
    return 0;
}
int32_t app_event(uint32_t, void *, void *) { return 0; }
int32_t app_sp(uint32_t, uint8_t, uint32_t, IQIV_PB_CTRL_SP_DATA_T *d)
{
    volatile uint8_t first = *static_cast<uint8_t *>(d->pv_data);
    (void)first;
    return 0;
}
int32_t app_enc(uint32_t, uint32_t strm, void *desc)
{
    if (strm == 0) {
        auto *a = static_cast<IQIV_PB_CTRL_ENC_AUDIO_BUF_T *>(desc);
        std::memset(a->pv_buf, 1, a->ui4_len);
    }
    return 0;
}
int32_t app_pcm(uint32_t, uint32_t) { return 0; }
int32_t app_dash(uint32_t, uint32_t, uint32_t, uint64_t, uint64_t, uint32_t) { return 0; }
int32_t app_filter(uint32_t, uint32_t, IQIV_PB_CTRL_FILTER_BUF_T *, uint32_t) { return 0; }

// The application function the engine would hand back with each handler.
void *function_for(const std::string &name)
{
    const std::map<std::string, void *> fns = {{"x_qivpbctrl_nfy_fct", reinterpret_cast<void *>(&app_event)},
                                               {"x_qivpbctrl_sp_nfy_fct", reinterpret_cast<void *>(&app_sp)},
                                               {"x_qivpbctrl_Enc_Buf_Cb_Fct", reinterpret_cast<void *>(&app_enc)},
                                               {"x_qivpbctrl_pcm_upload_nfy_fct", reinterpret_cast<void *>(&app_pcm)},
                                               {"x_qivpbctrl_DASH_Get_Entry_Fct", reinterpret_cast<void *>(&app_dash)}};
    auto it = fns.find(name);
    return it == fns.end() ? nullptr : it->second;
}

void set_up_slots()
{
    ClientInfo &pull = t_client_info[0];
    pull.b_used = 1;
    pull.e_buf_mod = IQIV_PB_BUF_MOD_PULL;
    pull.h_handle = 1;
    pull.ui1_client_idx = 0;
    pthread_mutex_init(&pull.t_mutex, nullptr);
    pull.t_pull_fct = PullFct{nullptr,
                              reinterpret_cast<void *>(&app_open),
                              reinterpret_cast<void *>(&app_close),
                              reinterpret_cast<void *>(&app_read),
                              reinterpret_cast<void *>(&app_read_async),
                              reinterpret_cast<void *>(&app_abort),
                              reinterpret_cast<void *>(&app_seek),
                              reinterpret_cast<void *>(&app_length)};
    pull.at_filter[0] = FilterEntry{1, 1, reinterpret_cast<void *>(&app_filter), nullptr, 0, 0};
    ClientInfo &uri = t_client_info[1];
    uri.b_used = 1;
    uri.e_buf_mod = IQIV_PB_BUF_MOD_URI;
    uri.h_handle = 2;
    uri.ui1_client_idx = 1;
}

// Reads the input front to back; zeroes once it runs out.
struct Input {
    const uint8_t *p;
    size_t n;
    uint8_t byte() { return n ? (--n, *p++) : 0; }
    uint64_t word()
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t{byte()} << (8 * i);
        return v;
    }
};

const uint32_t kCodes[] = {ARG_TYPE_UINT32,        ARG_TYPE_TAG,     ARG_TYPE_FUNC,
                           ARG_TYPE_INT8,          ARG_TYPE_DESC_IN, ARG_TYPE_REF_UINT32_OUT,
                           ARG_TYPE_REF_UINT64_OUT};

} // namespace

// ---- the transport and the block library, as the handlers see them ----
extern "C" {
const char *g_ps_exe_name = "handlers_fuzz";
uint32_t rpc_local_region_size(const void *pv_addr)
{
    auto it = g_regions.find(pv_addr);
    return it == g_regions.end() ? 0 : it->second;
}
int32_t rpc_reg_cb_hndlr(const char *ps_name, rpc_hndlr_fct pf_hndlr)
{
    g_handlers.emplace_back(ps_name, pf_hndlr);
    return 0;
}
void rpcu_log(int32_t, const char *, ...) {}
int32_t rpc_do_op(int32_t, const char *, uint32_t, RPC_ARG_T *, RPC_ARG_T *pt_return, int32_t)
{
    rpc_arg_set(*pt_return, ARG_TYPE_RESULT, 0);
    return 0;
}
int32_t rpc_del(int32_t) { return 0; }
int32_t rpc_add_ref_desc(int32_t, const void *, const RPC_DESC_T *, const char *) { return 0; }
const RPC_DESC_T *__rpc_get_desc__(uint32_t) { return nullptr; }
int32_t c_rpc_start_client(void) { return 1; }
void *x_kmem_block_map(HANDLE_T h) { return h == kBlock ? g_block : nullptr; }
int32_t x_kmem_block_unmap(void *p) { return p == g_block ? 0 : KORM_ERR_INV_ARG; }
void *x_skmem_block_multimap(uint32_t n, const HANDLE_T *ph) { return n == 1 && ph[0] == kBlock ? g_block : nullptr; }
int32_t x_skmem_block_unmap(void *p) { return x_kmem_block_unmap(p); }
uint32_t x_kmem_block_size(HANDLE_T h) { return h == kBlock ? kBlockSize : 0; }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    set_up_slots();
    c_rpc_reg_qivpbctrl_cb_hndlrs();
    return 0;
}

// Input: handler, argument count, then per argument a kind byte and a
// word: a value, a slot's tag, an out place, a record of the next bytes,
// or the block's handle.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in{data, size};
    const auto &h = g_handlers[in.byte() % g_handlers.size()];
    const size_t argc = in.byte() % (kMaxArgs + 1);
    RPC_ARG_T args[kMaxArgs] = {};
    std::vector<std::vector<uint8_t>> regions;
    regions.reserve(argc);
    for (size_t i = 0; i < argc; ++i) {
        const uint8_t kind = in.byte();
        const uint32_t code = kCodes[(kind >> 3) % (sizeof kCodes / sizeof kCodes[0])];
        switch (kind & 7) {
        case 1:
            rpc_arg_set_ptr(args[i], code, &t_client_info[in.byte() % kSlots].ui1_client_idx);
            break;
        case 2:
        case 3: {
            const size_t len = (kind & 7) == 2 ? 8 : in.byte() * 2u;
            regions.emplace_back(len);
            for (uint8_t &b : regions.back())
                b = in.byte();
            if (!regions.back().empty())
                g_regions[regions.back().data()] = static_cast<uint32_t>(len);
            rpc_arg_set_ptr(args[i], code, regions.back().data());
            break;
        }
        case 4:
            rpc_arg_set(args[i], code, kBlock);
            break;
        default:
            rpc_arg_set(args[i], code, in.word() % ((kind & 7) == 5 ? 64 : UINT64_MAX));
        }
    }
    RPC_ARG_T result{};
    h.second(1, h.first.c_str(), function_for(h.first), static_cast<uint32_t>(argc), args, &result);
    for (const auto &r : regions)
        g_regions.erase(r.data());
    return 0;
}
