// Library-wide state of libqivpbctrl and the client-info slot of one
// opened playback. Slots are plain records of fixed size in static data.
#ifndef PBCTRL_CLIENT_INFO_H
#define PBCTRL_CLIENT_INFO_H

#include "qivpbctrl.h"

#include "common/abi.h"

#include <pthread.h>

#include <atomic>
#include <cstddef>

namespace pbctrl {

constexpr int kSlots = 3;
constexpr int kFilters = 256;
constexpr int kSpData = 300;
constexpr int kPulls = 20;
constexpr int kPullMaps = 20;
constexpr int kReadReqs = 50;
constexpr int kSlices = 256;
constexpr int kEncMaps = 6;
constexpr int kEncBufs = 100;
constexpr uint8_t kNoClientIdx = 0xFF;

struct FilterEntry {
    uint8_t b_used;
    IQIV_PB_HANDLE_T h_pb;
    void *pf_nfy;
    void *pv_buf;
    uint32_t h_mem;
    uint32_t h_filter;
};

struct SpDataEntry {
    uint8_t b_used;
    uint32_t h_mem;
    uint32_t ui4_offset;
    void *pv_data;
};

struct PullFct {
    void *pv_tag;
    void *pf_open;
    void *pf_close;
    void *pf_read;
    void *pf_read_async;
    void *pf_abort_read;
    void *pf_byte_seek;
    void *pf_get_input_len;
};

struct ReadRequest {
    uint8_t b_used;
    void *pf_nfy;
    void *pv_tag;
    void *pv_read_tag;
};

struct PullMap {
    uint8_t b_used;
    uint32_t ui4_map_id;
    void *pv_addr;
    ReadRequest at_req[kReadReqs];
};

struct PullRecord {
    uint8_t b_used;
    uint32_t h_pull;
    PullMap at_map[kPullMaps];
};

struct BufInfo {
    void *pv_addr;
    uint32_t ui4_first;
    uint32_t ui4_count;
    uint32_t ui4_req_id;
};

struct EncMap {
    uint8_t b_used;
    uint32_t h_mem;
    void *pv_addr;
};

struct EncBuf {
    uint8_t b_used;
    uint32_t e_strm_type;
    uint32_t ui4_offset;
    uint32_t ui4_len;
    uint32_t h_mem;
    void *pv_addr;
};

struct ExSlot {
    uint32_t ui4_count;
    uint32_t h_mem;
    void *pv_addr;
};

struct ShareMem {
    uint8_t b_used;
    uint32_t h_mem;
    void *pv_addr;
    uint32_t ui4_size;
};

struct SnapMem; // snapshot memory records hang from a slot

struct ClientInfo {
    uint8_t b_used;
    uint32_t e_buf_mod;
    uint32_t e_open_mod;
    IQIV_PB_HANDLE_T h_handle;
    FilterEntry at_filter[kFilters];
    SpDataEntry at_sp_data[kSpData];
    uint32_t ui4SpDatCbPnt;
    uint32_t ui4SpDatRelPnt;
    pthread_mutex_t t_mutex;
    uint8_t ui1_client_idx;
    PullFct t_pull_fct;
    PullRecord at_pull[kPulls];
    uint8_t b_nfy_reg;
    uint8_t b_buf_pending;
    void *pv_cb_tag;
    IQIV_PB_CTRL_NFY_FCT pf_cb;
    void *pv_pcm_tag;
    void *pf_pcm_cb;
    void *pv_map_base;
    uint8_t b_slice_ready;
    uint32_t ui4_slice_num;
    uint32_t ui4_slice_size;
    uint32_t ah_slice[kSlices];
    uint8_t ab_slice_used[kSlices];
    uint8_t ab_slice_sent[kSlices];
    BufInfo at_buf_info[kSlices];
    SnapMem *p_snap_list;
    SnapMem *p_snap_ext;
    EncMap at_enc_map[kEncMaps];
    EncBuf at_enc_buf[kEncBufs];
    ExSlot at_ex_slot[kSlices];
    ShareMem t_share_mem;
};

BOARD_ILP32_ASSERT(sizeof(FilterEntry) == 24, "filter entry");
BOARD_ILP32_ASSERT(sizeof(SpDataEntry) == 16, "subpicture entry");
BOARD_ILP32_ASSERT(sizeof(PullFct) == 32, "pull functions: 8 words");
BOARD_ILP32_ASSERT(sizeof(PullRecord) == 16248, "pull record");
BOARD_ILP32_ASSERT(sizeof(BufInfo) == 16, "push buffer entry");
BOARD_ILP32_ASSERT(sizeof(EncMap) == 12, "encoder map entry");
BOARD_ILP32_ASSERT(sizeof(EncBuf) == 24, "encoder buffer entry");
BOARD_ILP32_ASSERT(sizeof(ExSlot) == 12, "Ex buffer entry");
BOARD_ILP32_ASSERT(sizeof(ShareMem) == 16, "shared memory: flag and 3 words");

// Log classes of i4_log_level.
constexpr int32_t kLogEntry = 2;
constexpr int32_t kLogData = 4;
constexpr int32_t kLogOpen = 8;
constexpr int32_t kLogErr = 1 | 2 | 4 | 8;
constexpr int32_t kLogInitial = 8;

// Read by every thread and set by the engine's command line: atomics.
extern std::atomic<int32_t> i4_log_level;
extern std::atomic<uint8_t> b_log_free;
extern std::atomic<uint8_t> b_client_opened;

extern ClientInfo t_client_info[kSlots];
extern pthread_mutex_t t_info_mutex;
extern uint8_t ui1_open_count;
// Written by the auto-connect of any stub without t_info_mutex, which the
// stub may be holding.
extern std::atomic<int32_t> t_client_rpc_id;

inline bool log_on(int32_t classes) { return (i4_log_level.load(std::memory_order_relaxed) & classes) != 0; }

// The playback's own mutex, made at open for every model: a remote call
// made under it keeps no other playback waiting.
inline pthread_mutex_t &slot_mutex(ClientInfo &c) { return c.t_mutex; }

// Holds a mutex until its scope ends or unlock(): every path out unlocks.
// Empty when default-made; moving hands the held mutex on.
class MutexGuard {
public:
    MutexGuard() = default;
    explicit MutexGuard(pthread_mutex_t &m) : m_(&m) { pthread_mutex_lock(m_); }
    MutexGuard(MutexGuard &&o) noexcept : m_(o.m_) { o.m_ = nullptr; }
    MutexGuard &operator=(MutexGuard &&o) noexcept
    {
        unlock();
        m_ = o.m_;
        o.m_ = nullptr;
        return *this;
    }
    MutexGuard(const MutexGuard &) = delete;
    MutexGuard &operator=(const MutexGuard &) = delete;
    ~MutexGuard() { unlock(); }

    explicit operator bool() const { return m_ != nullptr; }
    void unlock()
    {
        if (m_)
            pthread_mutex_unlock(m_);
        m_ = nullptr;
    }

private:
    pthread_mutex_t *m_ = nullptr;
};

// Slot lookups: first match among slots 0, 1, 2, or -1.
int find_by_handle(IQIV_PB_HANDLE_T h_handle);
// The same, taking t_info_mutex for the lookup.
int find_by_handle_locked(IQIV_PB_HANDLE_T h_handle);
int find_by_handle_and_model(IQIV_PB_HANDLE_T h_handle, uint32_t e_buf_mod);
// The same without testing b_used: where call-back registrations are kept.
int find_registration_slot(IQIV_PB_HANDLE_T h_handle, uint32_t e_buf_mod);
// pv_tag is the address of a slot's ui1_client_idx.
int find_by_tag(const void *pv_tag, uint32_t e_required_mod);

} // namespace pbctrl

#define CLIENT_LOG(classes, ...)                                                                                       \
    do {                                                                                                               \
        if (pbctrl::log_on(classes))                                                                                   \
            Client_printf(__VA_ARGS__);                                                                                \
    } while (0)

#endif
