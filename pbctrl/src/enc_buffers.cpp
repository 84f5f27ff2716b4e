// Encoder buffers: the engine hands encoded audio and video frames in its
// memory blocks; the library maps each block once (until close) and the
// application gives the buffers back with IQivPb_Ctrl_Ext_FreeEncCbBuffer.
#include "handler_common.h"
#include "korm.h"
#include "platform_sizes.h"
#include "remote_call.h"
#include "slot_gate.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

using namespace pbctrl;

BOARD_ILP32_ASSERT(sizeof(IQIV_PB_CTRL_ENC_VIDEO_FRAME_T) == 88, "video frame record");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_ENC_VIDEO_FRAME_T, au4_info) == 16, "six values at 16");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_ENC_VIDEO_FRAME_T, au4_frame) == 48, "six values at 48");
BOARD_ILP32_ASSERT(offsetof(IQIV_PB_CTRL_ENC_VIDEO_FRAME_T, ui4_frame7) == 80, "seventh at 80");

namespace {

constexpr uint32_t kEncArgs = 6;
constexpr int32_t kNoPlayback = -2;
constexpr int32_t kNoMem = -4;
constexpr int32_t kTraceAll = 1;
constexpr uint32_t kAudioDescSize = 16;
constexpr uint32_t kFrameSize = 88;
constexpr uint32_t kEncAudio = IQIV_PB_CTRL_ENC_STRM_AUDIO, kEncVideo = IQIV_PB_CTRL_ENC_STRM_VIDEO;

// An engine buffer: memory handle, offset in it, length.
struct EngineBuf {
    uint32_t h_mem, offset, len;
};

struct EngineFrame {
    EngineBuf buf1, buf2;
    uint32_t info[6];
    uint32_t unused[2];
    uint32_t frame[7];
    uint32_t unused2;
};
static_assert(sizeof(EngineFrame) == kFrameSize, "engine frame record");

// The local address of an engine buffer, mapping its block on first use;
// nullptr when the six maps are taken (full) or the block does not map.
// Called with the mutex held.
uint8_t *mapped_base(ClientInfo &c, uint32_t h_mem, bool &full)
{
    full = false;
    EncMap *free_map = nullptr;
    for (EncMap &m : c.at_enc_map) {
        if (m.b_used && m.h_mem == h_mem)
            return static_cast<uint8_t *>(m.pv_addr);
        if (!m.b_used && !free_map)
            free_map = &m;
    }
    full = !free_map;
    if (full)
        return nullptr;
    void *addr = x_kmem_block_map(h_mem);
    if (!addr)
        return nullptr;
    *free_map = EncMap{1, h_mem, addr};
    return static_cast<uint8_t *>(addr);
}

// Records one buffer the application now holds; its local address, or
// nullptr after printing the line of what failed. ps_label names the
// buffer in its trace line: "buf", "buf1" or "buf2".
void *take_buffer(ClientInfo &c, uint32_t e_strm, const EngineBuf &b, const char *ps_label, const char *ps_map_full,
                  const char *ps_buf_full)
{
    bool full = false;
    uint8_t *base = mapped_base(c, b.h_mem, full);
    if (full) {
        printf("%s\n", ps_map_full);
        return nullptr;
    }
    if (!base || !block_holds(b.h_mem, uint64_t{b.offset} + b.len)) {
        CLIENT_LOG(kLogErr, "<Client>ERR: %s Fail, %s, @Line: %d \n", "x_qivpbctrl_Enc_Buf_Cb_Fct", "x_kmem_block_map",
                   __LINE__);
        return nullptr;
    }
    for (EncBuf &e : c.at_enc_buf) {
        if (!e.b_used) {
            e = EncBuf{1, e_strm, b.offset, b.len, b.h_mem, base + b.offset};
            rpcu_log(
                kTraceAll,
                "<LOG %s, %s, #%d><Client>Ext info: %s: %p, strm type: %d, offset: %ld, buflen: %ld, mem handle: %x\n",
                g_ps_exe_name, __func__, __LINE__, ps_label, e.pv_addr, static_cast<int>(e_strm),
                static_cast<long>(b.offset), static_cast<long>(b.len), b.h_mem);
            return e.pv_addr;
        }
    }
    printf("%s\n", ps_buf_full);
    return nullptr;
}

// Gives back the entry of a buffer the application held, as the engine's
// triple; false if the library never handed out that address.
EncBuf *find_enc_buf(ClientInfo &c, uint32_t e_strm, const void *pv_buf)
{
    for (EncBuf &e : c.at_enc_buf)
        if (e.b_used && e.e_strm_type == e_strm && e.pv_addr == pv_buf)
            return &e;
    return nullptr;
}

EngineBuf give_back(EncBuf *e)
{
    if (!e)
        return EngineBuf{};
    const EngineBuf out{e->h_mem, e->ui4_offset, e->ui4_len};
    std::memset(e, 0, sizeof *e);
    return out;
}

// Entries taken for a call-back that then failed go back.
void undo(ClientInfo &c, const EncBuf (&before)[kEncBufs]) { std::memcpy(c.at_enc_buf, before, sizeof before); }

// The six lines of a frame's two buffers.
void trace_frame(int i, const EngineFrame &f)
{
    const struct {
        const char *field;
        uint32_t value;
    } lines[] = {{"buf1handle", f.buf1.h_mem}, {"buf1offset", f.buf1.offset}, {"buf1len", f.buf1.len},
                 {"buf2handle", f.buf2.h_mem}, {"buf2offset", f.buf2.offset}, {"buf2len", f.buf2.len}};
    for (const auto &l : lines)
        rpcu_log(kTraceAll, "<LOG %s, %s, #%d><Client>Video frame[%d] %s is: %x\n", g_ps_exe_name,
                 "_hndlr_x_qivpbctrl_Enc_Buf_Cb_Fct", __LINE__, i, l.field, l.value);
}

bool fill_frame(ClientInfo &c, const EngineFrame &in, IQIV_PB_CTRL_ENC_VIDEO_FRAME_T &out)
{
    std::memset(&out, 0, sizeof out);
    out.pv_buf1 = take_buffer(c, kEncVideo, in.buf1, "buf1", "<Client>Video1 Encoder handle is full",
                              "<Client>Video1 Encoder mapped info is full");
    if (!out.pv_buf1)
        return false;
    out.ui4_len1 = in.buf1.len;
    if (in.buf2.h_mem) {
        out.pv_buf2 = take_buffer(c, kEncVideo, in.buf2, "buf2", "<Client>Video2 Encoder handle is full",
                                  "<Client>Video2 Encoder mapped info is full");
        if (!out.pv_buf2)
            return false;
        out.ui4_len2 = in.buf2.len;
    }
    std::memcpy(out.au4_info, in.info, sizeof out.au4_info);
    std::memcpy(out.au4_frame, in.frame, sizeof out.au4_frame);
    out.ui4_frame7 = in.frame[6];
    return true;
}

} // namespace

namespace pbctrl {

PBCTRL_HANDLER(_hndlr_x_qivpbctrl_Enc_Buf_Cb_Fct)
{
    if (ui4_num_args != kEncArgs)
        return RPCR_INV_ARGS;
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    const uint32_t h_pb = pt_args[3].u.ui4, e_strm = pt_args[1].u.ui4;
    rpcu_log(kTraceAll, "<LOG %s, %s, #%d><Client>_hndlr_x_qivpbctrl_Enc_Buf_Cb_Fct use pbHandle: 0x%x\n",
             g_ps_exe_name, __func__, __LINE__, h_pb);
    const int slot = find_by_handle(h_pb);
    SlotHold hold;
    if (slot < 0 || !hold.take(slot)) {
        printf("<Client>cannot find PBHandle\n");
        set_result(pt_return, kNoPlayback);
        return RPCR_INV_ARGS;
    }
    const auto fn = reinterpret_cast<IQIV_PB_CTRL_ENC_BUF_FCT>(pv_func);
    if (!fn)
        return fail(pt_return);
    ClientInfo &c = t_client_info[slot];
    MutexGuard lock(slot_mutex(c));
    rpcu_log(kTraceAll, "<LOG %s, %s, #%d><Client>x_qivpbctrl_Enc_Buf_Cb_Fct, stream type is: %d\n", g_ps_exe_name,
             __func__, __LINE__, static_cast<int>(e_strm));
    static EncBuf before[kSlots][kEncBufs]; // under the mutex
    std::memcpy(before[slot], c.at_enc_buf, sizeof c.at_enc_buf);
    IQIV_PB_CTRL_ENC_AUDIO_BUF_T audio{};
    IQIV_PB_CTRL_ENC_VIDEO_BUF_T video{};
    std::unique_ptr<IQIV_PB_CTRL_ENC_VIDEO_FRAME_T[]> frames;
    void *desc = nullptr;
    const uint32_t count = pt_args[4].u.ui4;
    const void *in = engine_record(pt_args[2], kAudioDescSize);
    const void *frames_in = engine_record(pt_args[5], uint64_t{count} * kFrameSize);
    bool ok = false;
    if (e_strm == kEncAudio && in) {
        uint32_t d[4];
        std::memcpy(d, in, sizeof d);
        audio.ui4_first = d[0];
        audio.pv_buf = take_buffer(c, kEncAudio, EngineBuf{d[1], d[2], d[3]}, "buf",
                                   "<Client>Audio Encoder handle is full", "<Client>Audio Encoder mapped info is full");
        audio.ui4_len = d[3];
        ok = audio.pv_buf != nullptr;
        desc = &audio;
    } else if (e_strm == kEncVideo) {
        rpcu_log(kTraceAll, "<LOG %s, %s, #%d><Client>Video frame ns is: %d\n", g_ps_exe_name, __func__, __LINE__,
                 static_cast<int>(count));
        const bool sized = count > 0 && frames_in;
        frames.reset(sized ? new (std::nothrow) IQIV_PB_CTRL_ENC_VIDEO_FRAME_T[count] : nullptr);
        if (sized && !frames) {
            printf("<Client>malloc mem fail@Line: %d\n", __LINE__);
            set_result(pt_return, kNoMem);
            return kHandlerNoRoom;
        }
        ok = sized;
        for (uint32_t i = 0; ok && i < count; ++i) {
            EngineFrame f;
            std::memcpy(&f, static_cast<const uint8_t *>(frames_in) + i * kFrameSize, sizeof f);
            trace_frame(static_cast<int>(i), f);
            ok = fill_frame(c, f, frames[i]);
        }
        video = IQIV_PB_CTRL_ENC_VIDEO_BUF_T{count, frames.get()};
        desc = &video;
    }
    if (!ok) {
        undo(c, before[slot]);
        return fail(pt_return);
    }
    // The application is called without the slot's mutex.
    lock.unlock();
    return app_outcome(pt_return, fn(pt_args[0].u.ui4, e_strm, desc));
}

} // namespace pbctrl

extern "C" {

int32_t IQivPb_Ctrl_Ext_SetEncBufferParm(uint32_t h_pb, IQIV_PB_CTRL_ENC_BUF_FCT pf_nfy, void *pv_tag)
{
    CLIENT_LOG(kLogEntry, "<Client> %s ---> is called @Line: %d!\n", __func__, __LINE__);
    RPC_ARG_T args[3];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_pb);
    rpc_arg_set_ptr(args[1], ARG_TYPE_FUNC, reinterpret_cast<void *>(pf_nfy));
    rpc_arg_set_ptr(args[2], ARG_TYPE_TAG, pv_tag);
    return remote_call(__func__, __LINE__, "x_QivPb_Ctrl_Ext_SetEncBufferParm", 3, args);
}

int32_t IQivPb_Ctrl_Ext_FreeEncCbBuffer(uint32_t h_pb, uint32_t e_strm_type, const void *pv_desc)
{
    if (!pv_desc || (e_strm_type != kEncAudio && e_strm_type != kEncVideo))
        return IQIVPB_FAIL;
    const auto *audio = static_cast<const IQIV_PB_CTRL_ENC_AUDIO_BUF_T *>(pv_desc);
    const auto *frame = static_cast<const IQIV_PB_CTRL_ENC_VIDEO_FRAME_T *>(pv_desc);
    if (e_strm_type == kEncAudio)
        rpcu_log(kTraceAll, "<LOG %s, %s, #%d><Client>Free enc param: buf: %p, buf len: %x\n", g_ps_exe_name, __func__,
                 __LINE__, audio->pv_buf, audio->ui4_len);
    else
        rpcu_log(kTraceAll, "<LOG %s, %s, #%d><Client>Free enc param: buf1: %p, buf len1: %x, buf2: %p, buflen2: %x\n",
                 g_ps_exe_name, __func__, __LINE__, frame->pv_buf1, frame->ui4_len1, frame->pv_buf2, frame->ui4_len2);
    const int slot = find_by_handle(h_pb);
    if (slot < 0) {
        printf("<Client>cannot find PBHandle@Line: %d\n", __LINE__);
        return IQIVPB_INV_ARG;
    }
    ClientInfo &c = t_client_info[slot];
    IQIV_PB_CTRL_ENC_AUDIO_FREE_T audio_rec{};
    IQIV_PB_CTRL_ENC_VIDEO_FREE_T video_rec{};
    bool found;
    {
        MutexGuard lock(slot_mutex(c));
        if (e_strm_type == kEncAudio) {
            EncBuf *e = find_enc_buf(c, kEncAudio, audio->pv_buf);
            found = e != nullptr;
            const EngineBuf b1 = give_back(e);
            audio_rec = IQIV_PB_CTRL_ENC_AUDIO_FREE_T{audio->ui4_first, b1.h_mem, b1.offset, b1.len};
        } else {
            // Both buffers are known, or neither entry is given back.
            EncBuf *e1 = find_enc_buf(c, kEncVideo, frame->pv_buf1);
            EncBuf *e2 = frame->pv_buf2 ? find_enc_buf(c, kEncVideo, frame->pv_buf2) : nullptr;
            found = e1 && (!frame->pv_buf2 || e2);
            const EngineBuf b1 = found ? give_back(e1) : EngineBuf{};
            const EngineBuf b2 = found ? give_back(e2) : EngineBuf{};
            const uint32_t bufs[6] = {b1.h_mem, b1.offset, b1.len, b2.h_mem, b2.offset, b2.len};
            std::memcpy(video_rec.au4Buf1, bufs, sizeof video_rec.au4Buf1);
            std::memcpy(video_rec.au4Buf2, bufs + 3, sizeof video_rec.au4Buf2);
        }
    }
    if (!found) {
        printf("<Client>cannot find IPC Mem handle by buffer address@Line: %d\n", __LINE__);
        return IQIVPB_INV_ARG;
    }
    const bool is_audio = e_strm_type == kEncAudio;
    const void *rec = is_audio ? static_cast<const void *>(&audio_rec) : &video_rec;
    const uint32_t desc_num = is_audio ? RPC_DESC_ENC_AUDIO_FREE : RPC_DESC_ENC_VIDEO_FREE;
    if (rpc_add_ref_desc(0, rec, __rpc_get_desc__(desc_num), nullptr) != 0)
        return reg_failure(__func__, __LINE__);
    RPC_ARG_T args[3];
    rpc_arg_set(args[0], ARG_TYPE_UINT32, h_pb);
    rpc_arg_set(args[1], ARG_TYPE_ENUM, e_strm_type);
    rpc_arg_set_ptr(args[2], ARG_TYPE_DESC_IN, rec);
    return remote_call(__func__, __LINE__, "x_QivPb_Ctrl_Ext_FreeEncCbBuffer", 3, args);
}

} // extern "C"
