// Subpicture ring, encoder buffers and the plain call-backs against the
// real engine simulator, which raises them from its own memory blocks.
#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_fixture.h"
#include "korm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using pbtest::hex_addr;
using pbtest::hex_of;

// What the application's functions saw.
struct Seen {
    std::vector<IQIV_PB_CTRL_SP_DATA_T> sp;
    std::vector<std::string> sp_bytes;
    IQIV_PB_CTRL_ENC_AUDIO_BUF_T audio{};
    std::string audio_bytes;
    std::vector<IQIV_PB_CTRL_ENC_VIDEO_FRAME_T> frames;
    std::vector<uint64_t> args;
    int32_t result = 0;
} g_seen;

int32_t on_sp(uint32_t, uint8_t, uint32_t, IQIV_PB_CTRL_SP_DATA_T *d)
{
    g_seen.sp.push_back(*d);
    g_seen.sp_bytes.push_back(hex_of(d->pv_data, 4));
    return g_seen.result;
}

int32_t on_enc(uint32_t, uint32_t strm, void *desc)
{
    if (strm == IQIV_PB_CTRL_ENC_STRM_AUDIO) {
        g_seen.audio = *static_cast<IQIV_PB_CTRL_ENC_AUDIO_BUF_T *>(desc);
        g_seen.audio_bytes = hex_of(g_seen.audio.pv_buf, g_seen.audio.ui4_len);
    } else {
        const auto *v = static_cast<IQIV_PB_CTRL_ENC_VIDEO_BUF_T *>(desc);
        g_seen.frames.assign(v->pt_frames, v->pt_frames + v->ui4_count);
    }
    return 0;
}

int32_t on_pcm(uint32_t a, uint32_t b)
{
    g_seen.args = {a, b};
    return g_seen.result;
}

int32_t on_dash(uint32_t a, uint32_t b, uint32_t c, uint64_t d, uint64_t e, uint32_t f)
{
    g_seen.args = {a, b, c, d, e, f};
    return g_seen.result;
}

int32_t on_filter(uint32_t h, uint32_t v, IQIV_PB_CTRL_FILTER_BUF_T *buf, uint32_t v2)
{
    g_seen.args = {h, v, buf->ui4_size, v2, static_cast<uint64_t>(*static_cast<uint8_t *>(buf->pv_addr))};
    return 0;
}

class Callbacks : public pbtest::EngineTest {
protected:
    void SetUp() override
    {
        g_seen = Seen{};
        EngineTest::SetUp();
        if (HasFatalFailure())
            return;
        h_ = open();
        slot_ = pbctrl::find_by_handle(h_);
        ASSERT_GE(slot_, 0);
    }

    pbctrl::ClientInfo &info() { return pbctrl::t_client_info[slot_]; }
    std::string h() const { return std::to_string(h_); }
    uint32_t block(const std::string &fill_hex)
    {
        const std::string b = engine_.ok("alloc kmem 4096");
        EXPECT_EQ(engine_.ok("write " + b + " 0 " + fill_hex), "");
        return static_cast<uint32_t>(std::stoul(b));
    }
    // The engine's 68-byte subpicture record for data at offset in block.
    std::string sp_record(uint32_t blk, uint32_t offset)
    {
        uint8_t r[68] = {7};
        for (uint32_t i = 0; i < 11; ++i) {
            const uint32_t v = 100 + i;
            std::memcpy(r + 8 + 4 * i, &v, 4);
        }
        const uint32_t v52 = 0x1234, mem = blk;
        const uint16_t v56 = 0xBEEF;
        std::memcpy(r + 52, &v52, 4);
        std::memcpy(r + 56, &v56, 2);
        std::memcpy(r + 60, &mem, 4);
        std::memcpy(r + 64, &offset, 4);
        return hex_of(r, sizeof r);
    }
    std::string notice(uint32_t blk, uint32_t offset)
    {
        return engine_.ok("callback x_qivpbctrl_sp_nfy_fct " + hex_addr(reinterpret_cast<void *>(&on_sp)) +
                          " 0x48:" + h() + " 0x42:3 0x48:9 0x71=" + sp_record(blk, offset));
    }
    std::string enc(uint32_t strm, const std::string &desc, uint32_t count, const std::string &frames)
    {
        return engine_.ok("callback x_qivpbctrl_Enc_Buf_Cb_Fct " + hex_addr(reinterpret_cast<void *>(&on_enc)) +
                          " 0x48:1 0x48:" + std::to_string(strm) + " 0x71=" + desc + " 0x48:" + h() +
                          " 0x48:" + std::to_string(count) + " 0x71=" + frames);
    }
    std::string ring()
    {
        return hex_of(info().at_sp_data) + hex_of(info().ui4SpDatCbPnt) + hex_of(info().ui4SpDatRelPnt);
    }

    IQIV_PB_HANDLE_T h_ = 0;
    int slot_ = -1;
};

TEST_F(Callbacks, SubpictureRingFillsWrapsAndReleasesInRingOrder)
{
    std::string fill;
    for (int i = 0; i < 32; ++i)
        fill += hex_of(&i, 1);
    const uint32_t blk = block(fill);
    ASSERT_EQ(notice(blk, 16), "0 2 0");
    const IQIV_PB_CTRL_SP_DATA_T &d = g_seen.sp[0];
    EXPECT_EQ(d.ui1_kind, 7);
    EXPECT_EQ(d.au4_value[0], 100u);
    EXPECT_EQ(d.au4_value[10], 110u);
    EXPECT_EQ(d.ui4_value, 0x1234u);
    EXPECT_EQ(d.ui2_value, 0xBEEF);
    EXPECT_EQ(g_seen.sp_bytes[0], "10111213");

    for (uint32_t n = 1; n < pbctrl::kSpData; ++n)
        ASSERT_EQ(notice(blk, n), "0 2 0");
    std::string before = ring();
    EXPECT_EQ(notice(blk, 1), "-1 2 -1") << "301st without a release";
    EXPECT_EQ(ring(), before);

    // Releasing the 150th frees the first 150 in ring order.
    EXPECT_EQ(IQivPb_Ctrl_SpDataRelease(h_, 2, g_seen.sp[149].pv_data), 0);
    EXPECT_EQ(info().ui4SpDatRelPnt, 150u);
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_SpDataRelease 2"), hex_of(blk) + hex_of(149u));
    for (uint32_t n = 300; n < 450; ++n)
        ASSERT_EQ(notice(blk, n), "0 2 0");
    EXPECT_EQ(info().ui4SpDatCbPnt, 150u) << "the write index wrapped";

    // A wrong address, searched past entry 299: nothing changes.
    before = ring();
    EXPECT_EQ(IQivPb_Ctrl_SpDataRelease(h_, 2, g_seen.sp[0].pv_data), -1);
    EXPECT_EQ(IQivPb_Ctrl_SpDataRelease(h_ + 1, 2, g_seen.sp[200].pv_data), -1);
    EXPECT_EQ(ring(), before);
    // Found after the wrap: 150..299 and 0..10 go.
    EXPECT_EQ(IQivPb_Ctrl_SpDataRelease(h_, 2, g_seen.sp[310].pv_data), 0);
    EXPECT_EQ(info().ui4SpDatRelPnt, 11u);
    EXPECT_EQ(info().at_sp_data[299].b_used, 0);
    EXPECT_EQ(info().at_sp_data[11].b_used, 1);
    // An application that refuses a notice leaves its entry free.
    g_seen.result = 1;
    before = ring();
    EXPECT_EQ(notice(blk, 5), "-1 2 1");
    EXPECT_EQ(ring(), before);
}

struct AudioDesc {
    uint32_t first, mem, offset, len;
};

TEST_F(Callbacks, EncoderBuffersReachTheApplicationAndGoBack)
{
    const uint32_t blk = block("00112233445566778899");
    ASSERT_EQ(enc(0, hex_of(AudioDesc{5, blk, 2, 4}), 0, "00"), "0 2 0");
    EXPECT_EQ(g_seen.audio.ui4_first, 5u);
    EXPECT_EQ(g_seen.audio_bytes, "22334455");
    const IQIV_PB_CTRL_ENC_AUDIO_BUF_T audio = g_seen.audio;
    EXPECT_EQ(IQivPb_Ctrl_Ext_FreeEncCbBuffer(h_, 0, &audio), 0);
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_Ext_FreeEncCbBuffer 2"), hex_of(AudioDesc{5, blk, 2, 4}));
    EXPECT_EQ(IQivPb_Ctrl_Ext_FreeEncCbBuffer(h_, 0, &audio), -3) << "given back already";

    // Two frames, the first with a second buffer.
    const uint32_t blk2 = block("aabbccdd");
    uint32_t frames[2][22] = {};
    const uint32_t f0[] = {blk, 1, 3, blk2, 2, 2, 11, 12, 13, 14, 15, 16, 0, 0, 21, 22, 23, 24, 25, 26, 27};
    const uint32_t f1[] = {blk, 4, 1, 0, 0, 0};
    std::memcpy(frames[0], f0, sizeof f0);
    std::memcpy(frames[1], f1, sizeof f1);
    ASSERT_EQ(enc(1, "00", 2, hex_of(frames, sizeof frames)), "0 2 0");
    ASSERT_EQ(g_seen.frames.size(), 2u);
    const IQIV_PB_CTRL_ENC_VIDEO_FRAME_T fr = g_seen.frames[0];
    EXPECT_EQ(hex_of(fr.pv_buf1, fr.ui4_len1) + hex_of(fr.pv_buf2, fr.ui4_len2), "112233ccdd");
    EXPECT_EQ(fr.au4_info[5], 16u);
    EXPECT_EQ(fr.au4_frame[0], 21u);
    EXPECT_EQ(fr.ui4_frame7, 27u);
    EXPECT_EQ(g_seen.frames[1].pv_buf2, nullptr);
    // An unknown second buffer gives back neither: the first can still go.
    IQIV_PB_CTRL_ENC_VIDEO_FRAME_T stranger = fr;
    stranger.pv_buf2 = &stranger;
    EXPECT_EQ(IQivPb_Ctrl_Ext_FreeEncCbBuffer(h_, 1, &stranger), -3);
    EXPECT_EQ(IQivPb_Ctrl_Ext_FreeEncCbBuffer(h_, 1, &fr), 0);
    uint32_t rec[22] = {blk, 1, 3, blk2, 2, 2};
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_Ext_FreeEncCbBuffer 2"), hex_of(rec, sizeof rec));
    EXPECT_EQ(IQivPb_Ctrl_Ext_FreeEncCbBuffer(h_, 2, &fr), -1);

    // Six maps and a hundred buffers; what does not fit changes nothing.
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(enc(0, hex_of(AudioDesc{0, block("01"), 0, 1}), 0, "00"), "0 2 0");
    const std::string maps = hex_of(info().at_enc_map), bufs = hex_of(info().at_enc_buf);
    EXPECT_EQ(enc(0, hex_of(AudioDesc{0, block("01"), 0, 1}), 0, "00"), "-1 2 -1");
    EXPECT_EQ(hex_of(info().at_enc_map) + hex_of(info().at_enc_buf), maps + bufs);
    int used = 0;
    for (const pbctrl::EncBuf &b : info().at_enc_buf)
        used += b.b_used;
    for (int i = used; i < pbctrl::kEncBufs; ++i)
        ASSERT_EQ(enc(0, hex_of(AudioDesc{0, blk, 0, 1}), 0, "00"), "0 2 0");
    const std::string full = hex_of(info().at_enc_buf);
    EXPECT_EQ(enc(1, "00", 2, hex_of(frames, sizeof frames)), "-1 2 -1");
    EXPECT_EQ(hex_of(info().at_enc_buf), full);
    EXPECT_EQ(enc(0, hex_of(AudioDesc{0, blk, 4000, 200}), 0, "00"), "-1 2 -1") << "past its block";
}

// Call-backs that hand their values through: what the application gets
// and what its result becomes.
TEST_F(Callbacks, PlainCallBacksPassTheirValues)
{
    info().at_filter[3] = pbctrl::FilterEntry{1, h_, reinterpret_cast<void *>(&on_filter), nullptr, 0, 0};
    const uint32_t blk = block("5a");
    struct Case {
        std::string line;
        int32_t app_result;
        std::string answer;
        std::vector<uint64_t> args;
    } cases[] = {
        {"x_qivpbctrl_pcm_upload_nfy_fct " + hex_addr(reinterpret_cast<void *>(&on_pcm)) + " 0x48:1 0x48:2",
         0,
         "0 2 0",
         {1, 2}},
        {"x_qivpbctrl_pcm_upload_nfy_fct " + hex_addr(reinterpret_cast<void *>(&on_pcm)) + " 0x48:1 0x48:2",
         0x105,
         "-1 2 5",
         {1, 2}},
        {"x_qivpbctrl_DASH_Get_Entry_Fct " + hex_addr(reinterpret_cast<void *>(&on_dash)) +
             " 0x48:1 0x48:2 0x48:3 0x48:4294967295 0x48:0x100000007 0x48:0",
         0,
         "0 2 0",
         {1, 2, 3, 0xFFFFFFFF, 0x100000007, 7}},
        {"x_qivpbctrl_DASH_Get_Entry_Fct " + hex_addr(reinterpret_cast<void *>(&on_dash)) + " 0x48:1", 0, "-3 0 0", {}},
        {"x_qivpbctrl_filter_allocate_nfy_fct 0 0x48:" + h() + " 0x48:4 0x48:" + std::to_string(blk) +
             " 0x48:4096 0x48:9",
         0,
         "0 2 0",
         {h_, 4, 4096, 9, 0x5a}},
        {"x_qivpbctrl_filter_allocate_nfy_fct 0 0x48:" + std::to_string(h_ + 1) + " 0x48:4 0x48:1 0x48:1 0x48:9",
         0,
         "-2 0 0",
         {}},
        {"x_qivpbctrl_filter_allocate_nfy_fct 0 0x48:" + h() + " 0x48:4", 0, "-3 0 0", {}},
        {"x_qivpbctrl_sp_nfy_fct " + hex_addr(reinterpret_cast<void *>(&on_sp)) + " 0x48:" + std::to_string(h_ + 1) +
             " 0x42:3 0x48:9 0x71=" + sp_record(blk, 0),
         0,
         "-1 2 -1",
         {}},
        {"x_qivpbctrl_sp_nfy_fct " + hex_addr(reinterpret_cast<void *>(&on_sp)) + " 0x48:" + h() +
             " 0x42:3 0x48:9 0x71=00",
         0,
         "-1 2 -1",
         {}},
        {"x_qivpbctrl_Enc_Buf_Cb_Fct " + hex_addr(reinterpret_cast<void *>(&on_enc)) +
             " 0x48:1 0x48:0 0x71=00 0x48:" + std::to_string(h_ + 1) + " 0x48:0 0x71=00",
         0,
         "-3 2 -2",
         {}},
        {"x_qivpbctrl_Enc_Buf_Cb_Fct " + hex_addr(reinterpret_cast<void *>(&on_enc)) +
             " 0x48:1 0x48:1 0x71=00 0x48:" + h() + " 0x48:3 0x71=00",
         0,
         "-1 2 -1",
         {}},
    };
    for (const Case &c : cases) {
        g_seen.args.clear();
        g_seen.result = c.app_result;
        EXPECT_EQ(engine_.ok("callback " + c.line), c.answer) << c.line;
        EXPECT_EQ(g_seen.args, c.args) << c.line;
    }
    EXPECT_EQ(info().at_filter[3].h_mem, blk);
    x_kmem_block_unmap(info().at_filter[3].pv_buf);
}

} // namespace
