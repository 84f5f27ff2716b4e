// Push mode against the real engine simulator: the stream arrives byte
// exact, slices and mappings come back, and a confused engine gives errors.
#include "qivpbctrl.h"

#include "client_info.h"
#include "common/stream_hash.h"
#include "engine_harness.h"
#include "korm.h"
#include "push_app.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pbharness::Engine;
using pushtest::Events;

constexpr uint32_t kPage = 4096;

// Mappings of korm blocks this process holds.
int korm_mappings()
{
    std::ifstream maps("/proc/self/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);)
        n += line.find("/korm.") != std::string::npos;
    return n;
}

bool block_exists(HANDLE_T h)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/shm/korm.%08x", h);
    return access(path, F_OK) == 0;
}

std::string expected_stat(const std::vector<uint8_t> &data)
{
    board::StreamHash hash;
    hash.update(data.data(), data.size());
    char b[64];
    std::snprintf(b, sizeof b, "%zu %016llx", data.size(), static_cast<unsigned long long>(hash.value()));
    return b;
}

class Push : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine_.start());
        IQivPb_Ctrl_Init();
    }
    void TearDown() override
    {
        if (h_)
            IQivPb_Ctrl_Close(h_);
        IQivPb_Ctrl_Terminate();
    }

    // A push playback whose engine cuts count slices of bytes each.
    void open(uint32_t count, uint32_t bytes)
    {
        ASSERT_EQ(engine_.ok("push slices " + std::to_string(count) + " " + std::to_string(bytes)), "");
        ASSERT_EQ(IQivPb_Ctrl_Open(&h_, IQIV_PB_BUF_MOD_PUSH, 1, "push"), 0);
        slot_ = pbctrl::find_by_handle(h_);
        ASSERT_GE(slot_, 0);
        ASSERT_EQ(IQivPb_Ctrl_RegCallback(h_, &events_, Events::on_event), 0);
    }
    void close()
    {
        EXPECT_EQ(IQivPb_Ctrl_Close(h_), 0);
        h_ = 0;
    }
    pbctrl::ClientInfo &info() { return pbctrl::t_client_info[slot_]; }
    std::string h() const { return std::to_string(h_); }
    void *get(uint32_t size)
    {
        void *p = nullptr;
        EXPECT_EQ(IQivPb_Ctrl_GetBuffer(h_, size, &p), 0) << size;
        return p;
    }
    // "BYTES CHECKSUM" of what the engine consumed, once it consumed all.
    std::string arrived()
    {
        const std::string s = engine_.ok("push drain " + h());
        return s.substr(0, s.find(' ', s.find(' ') + 1));
    }
    std::string notice(uint32_t req_id)
    {
        char tag[32];
        std::snprintf(tag, sizeof tag, "%p", static_cast<void *>(&info().ui1_client_idx));
        return engine_.ok(std::string("callback x_qivpbctrl_Ipc_SendData_nfy_fct 0 0x48:0 0x50:") + tag +
                          " 0x48:" + std::to_string(req_id) + " 0x48:0");
    }
    bool slices_all_free()
    {
        pbctrl::ClientInfo &c = info();
        for (int i = 0; i < pbctrl::kSlices; ++i)
            if (c.ab_slice_used[i] || c.ab_slice_sent[i] || c.at_buf_info[i].pv_addr)
                return false;
        return true;
    }
    // The slot's mutex is free again after a call that failed.
    bool unlocked()
    {
        if (pthread_mutex_trylock(&info().t_mutex) != 0)
            return false;
        pthread_mutex_unlock(&info().t_mutex);
        return true;
    }

    Engine engine_;
    IQIV_PB_HANDLE_T h_ = 0;
    int slot_ = -1;
    Events events_;
};

TEST_F(Push, A64MiBStreamArrivesByteExactAndLeavesNothingBehind)
{
    open(64, 64 * 1024);
    const std::vector<uint8_t> data = pushtest::stream_bytes((64u << 20) + 12345, 7);
    // Runs of one slice, several, exact multiples and odd sizes, up to a quarter of the slices.
    const std::vector<uint32_t> sizes = {65536, 1, 200000, 131072, 65537, 4096 * 7, 1048576, 333};
    ASSERT_EQ(pushtest::push_bytes(h_, events_, data.data(), data.size(), sizes), 0);
    ASSERT_EQ(IQivPb_Ctrl_SetPushModelEOS(h_), 0);
    EXPECT_EQ(arrived(), expected_stat(data));
    // BYTES CHECKSUM BUFFERS NOTICES FAILED QUEUED: a notice for every
    // buffer, none refused, the slices used over and over.
    std::istringstream stat(engine_.ok("push stat " + h()));
    std::string bytes, sum;
    uint64_t buffers = 0, notices = 0, failed = 1, queued = 1;
    stat >> bytes >> sum >> buffers >> notices >> failed >> queued;
    EXPECT_EQ(notices, buffers);
    EXPECT_GT(buffers, 16u * 64 / sizes.size());
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(queued, 0u);
    EXPECT_TRUE(slices_all_free());

    const std::vector<HANDLE_T> slices(info().ah_slice, info().ah_slice + info().ui4_slice_num);
    EXPECT_EQ(korm_mappings(), 64);
    close();
    EXPECT_EQ(korm_mappings(), 0);
    for (HANDLE_T s : slices)
        EXPECT_FALSE(block_exists(s)) << s;
}

TEST_F(Push, SliceRunsPendingAndEvent12)
{
    open(4, kPage);
    // Exactly one slice's size takes one slice; one byte more takes two.
    void *a = get(kPage);
    void *b = get(kPage + 1);
    EXPECT_EQ(info().at_buf_info[0].ui4_count, 1u);
    EXPECT_EQ(info().at_buf_info[1].ui4_count, 2u);
    EXPECT_EQ(static_cast<uint8_t *>(b), static_cast<uint8_t *>(a) + kPage);
    EXPECT_EQ(IQivPb_Ctrl_ReleaseBuffer(h_, b), 0);
    // Slices 0 and 2 taken: two in a row do not fit.
    void *c = get(kPage);
    void *d = get(kPage);
    EXPECT_EQ(d, static_cast<uint8_t *>(a) + 2 * kPage);
    EXPECT_EQ(IQivPb_Ctrl_ReleaseBuffer(h_, c), 0);
    void *p = &p;
    EXPECT_EQ(IQivPb_Ctrl_GetBuffer(h_, 2 * kPage, &p), IQIVPB_PENDING);
    EXPECT_EQ(p, static_cast<void *>(&p)) << "the scan stopped short: nothing written";
    EXPECT_EQ(info().b_buf_pending, 1);
    // Four slices can never hold five.
    EXPECT_EQ(IQivPb_Ctrl_GetBuffer(h_, 5 * kPage, &p), IQIVPB_NO_SLOT);

    // The first notice tells the application once; the next does not.
    ASSERT_EQ(engine_.ok("push hold"), "");
    ASSERT_EQ(IQivPb_Ctrl_SendData(h_, kPage, a), 0);
    ASSERT_EQ(IQivPb_Ctrl_SendData(h_, 10, d), 0);
    EXPECT_EQ(events_.seen(), 0u);
    ASSERT_EQ(engine_.ok("push go"), "");
    EXPECT_EQ(engine_.ok("push drain " + h()).substr(0, 5), std::to_string(kPage + 10) + " ");
    EXPECT_EQ(events_.seen(), 1u);
    EXPECT_EQ(info().b_buf_pending, 0);
    EXPECT_TRUE(slices_all_free());

    // Larger than its slices, unknown, or never handed out: refused or ignored.
    void *e = get(kPage);
    EXPECT_EQ(IQivPb_Ctrl_SendData(h_, kPage + 1, e), IQIVPB_FAIL);
    EXPECT_EQ(IQivPb_Ctrl_SendData(h_, 0, e), IQIVPB_FAIL);
    EXPECT_EQ(IQivPb_Ctrl_SendData(h_, 1, nullptr), IQIVPB_FAIL);
    EXPECT_EQ(info().ab_slice_sent[0], 0);
    EXPECT_EQ(IQivPb_Ctrl_ReleaseBuffer(h_, &p), 0);
    EXPECT_EQ(IQivPb_Ctrl_ReleaseBuffer(h_ + 99, e), IQIVPB_NO_CLIENT);
    EXPECT_EQ(IQivPb_Ctrl_GetBuffer(h_, 0, &p), IQIVPB_INV_ARG);
    EXPECT_EQ(IQivPb_Ctrl_GetBuffer(h_ + 99, 1, &p), IQIVPB_NO_CLIENT);
    EXPECT_TRUE(unlocked());
}

TEST_F(Push, NoticesForNoRequestChangeNothing)
{
    open(4, kPage);
    void *a = get(kPage);
    ASSERT_EQ(engine_.ok("push hold"), "");
    ASSERT_EQ(IQivPb_Ctrl_SendData(h_, kPage, a), 0);
    const uint32_t req = info().at_buf_info[0].ui4_req_id;
    ASSERT_NE(req, 0u);
    void *filling = get(kPage); // handed out, not sent: no request id of the engine's
    std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(&info().ab_slice_used[0]),
                                reinterpret_cast<uint8_t *>(&info().at_buf_info[pbctrl::kSlices]));
    // Unknown ids, 0 (which every free entry holds), a stranger's tag, a
    // wrong count, a failed status: no slice is freed.
    EXPECT_EQ(notice(req + 1), "-1 2 -1");
    EXPECT_EQ(notice(0), "-1 2 -1");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_Ipc_SendData_nfy_fct 0 0x48:0 0x50:0x1000 0x48:1 0x48:0"), "-1 2 -1");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_Ipc_SendData_nfy_fct 0 0x48:0 0x50:0x1000 0x48:1"), "-3 0 0");
    char tag[32];
    std::snprintf(tag, sizeof tag, "%p", static_cast<void *>(&info().ui1_client_idx));
    EXPECT_EQ(engine_.ok(std::string("callback x_qivpbctrl_Ipc_SendData_nfy_fct 0 0x48:5 0x50:") + tag +
                         " 0x48:" + std::to_string(req) + " 0x48:0"),
              "0 2 0");
    std::vector<uint8_t> after(reinterpret_cast<uint8_t *>(&info().ab_slice_used[0]),
                               reinterpret_cast<uint8_t *>(&info().at_buf_info[pbctrl::kSlices]));
    EXPECT_EQ(before, after);
    EXPECT_TRUE(unlocked());
    EXPECT_EQ(IQivPb_Ctrl_ReleaseBuffer(h_, filling), 0);
    ASSERT_EQ(engine_.ok("push go"), "");
    EXPECT_EQ(arrived().substr(0, 5), "4096 ");
    EXPECT_TRUE(slices_all_free());
}

// What a confused engine may answer to the slice fetch: an error, nothing
// mapped, the mutex free, and the next call works once the engine is sane.
TEST_F(Push, ConfusedEngineSliceFetchFailsCleanly)
{
    struct Case {
        std::string script;
        int32_t result;
    } cases[] = {
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 1 0000000000100000", IQIVPB_FAIL}, // no slices
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 1 0101000000100000", IQIVPB_FAIL}, // 257
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 1 ffffffff00100000", IQIVPB_FAIL}, // far above
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 1 0400000000000000", IQIVPB_FAIL}, // size 0
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 1 0400000000200000", IQIVPB_FAIL}, // not the blocks' size
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Handle 2 efbeadde", IQIVPB_FAIL},       // no such block
        {"outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Handle 2 STRAY", IQIVPB_FAIL},          // a block of another size
        {"result x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info -5", -5},
        {"type x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 0", IQIVPB_FAIL},
        {"status x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info -1", IQIVPB_FAIL},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(engine_.ok("reset"), "");
        std::string script = c.script;
        const size_t at = script.find("STRAY");
        if (at != std::string::npos) {
            const uint32_t stray = static_cast<uint32_t>(std::stoul(engine_.ok("alloc kmem 8192")));
            char b[16];
            std::snprintf(b, sizeof b, "%02x%02x%02x%02x", stray & 0xff, (stray >> 8) & 0xff, (stray >> 16) & 0xff,
                          stray >> 24);
            script.replace(at, 5, b);
        }
        ASSERT_EQ(engine_.ok(script), "") << script;
        open(4, kPage);
        void *p = &p;
        EXPECT_EQ(IQivPb_Ctrl_GetBuffer(h_, kPage, &p), c.result) << c.script;
        EXPECT_EQ(p, static_cast<void *>(&p)) << c.script;
        EXPECT_EQ(info().b_slice_ready, 0) << c.script;
        EXPECT_EQ(korm_mappings(), 0) << c.script;
        EXPECT_TRUE(unlocked()) << c.script;
        if (c.script.find("outhex x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info 1 01010000") == 0) {
            EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Handle"), "0") << "257: nothing fetched";
        }
        close();
    }
    // A sane engine again.
    ASSERT_EQ(engine_.ok("reset"), "");
    open(4, kPage);
    EXPECT_NE(get(kPage), nullptr);
}

TEST_F(Push, StopFreesEveryBufferAndMediaResetUnmaps)
{
    open(8, kPage);
    void *a = get(3 * kPage);
    get(kPage); // handed out, never sent
    ASSERT_EQ(engine_.ok("push hold"), "");
    ASSERT_EQ(IQivPb_Ctrl_SendData(h_, 3 * kPage, a), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_Stop(h_), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    // One line per buffer, none for the free entries.
    size_t cleared = 0;
    for (size_t at = out.find("<Client> Clear not send data slice."); at != std::string::npos;
         at = out.find("<Client> Clear not send data slice.", at + 1))
        ++cleared;
    EXPECT_EQ(cleared, 2u) << out;
    EXPECT_TRUE(slices_all_free());
    ASSERT_EQ(engine_.ok("push go"), "");
    EXPECT_EQ(arrived(), expected_stat({})) << "the engine dropped what it had not played";
    EXPECT_EQ(IQivPb_Ctrl_TSStop(h_), 0);
    // A stop the engine refuses leaves the buffers.
    void *c = get(kPage);
    ASSERT_EQ(engine_.ok("result x_QivPb_Ctrl_Stop -2"), "");
    EXPECT_EQ(IQivPb_Ctrl_Stop(h_), -2);
    EXPECT_NE(info().at_buf_info[0].pv_addr, nullptr);
    EXPECT_EQ(IQivPb_Ctrl_Stop(h_ + 99), IQIVPB_NO_CLIENT);

    // A null media record unmaps the slices; the next buffer maps them again.
    EXPECT_EQ(korm_mappings(), 8);
    EXPECT_EQ(IQivPb_Ctrl_SetMediaInfo(h_, nullptr), 0);
    EXPECT_EQ(engine_.ok("last x_QivPb_Ctrl_SetMediaInfo 1"), "(null)");
    EXPECT_EQ(korm_mappings(), 0);
    EXPECT_EQ(info().b_slice_ready, 0);
    EXPECT_EQ(IQivPb_Ctrl_SendData(h_, 1, c), IQIVPB_FAIL) << "buffers of the old mapping are gone";
    void *d = get(kPage);
    EXPECT_EQ(korm_mappings(), 8);
    ASSERT_EQ(IQivPb_Ctrl_SendData(h_, 5, d), 0);
    EXPECT_EQ(arrived().substr(0, 2), "5 ");
    EXPECT_EQ(engine_.ok("calls x_QivPb_Ctrl_Ipc_RegSendDataNfyCallback"), "2") << "registered again";
}

TEST_F(Push, ExBuffersArriveAndTheirMapsGoAway)
{
    open(4, kPage);
    ASSERT_EQ(engine_.ok("push ex 4096 300"), "");
    const std::vector<uint8_t> data = pushtest::stream_bytes(10000, 3);
    void *p = nullptr;
    ASSERT_EQ(IQivPb_Ctrl_GetBufferEx(h_, 1, 10000, &p), 0);
    EXPECT_EQ(info().at_ex_slot[0].ui4_count, 3u);
    std::memcpy(p, data.data(), data.size());
    ASSERT_EQ(IQivPb_Ctrl_SendDataEx(h_, 1, 10000, p), 0);
    EXPECT_EQ(info().at_ex_slot[0].pv_addr, nullptr);
    EXPECT_EQ(arrived(), expected_stat(data));
    EXPECT_EQ(korm_mappings(), 0);
    EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_SendDataEx"), "0x48 0x44 0x48 0x48 0x48");
    EXPECT_EQ(IQivPb_Ctrl_SendDataEx(h_, 1, 1, p), IQIVPB_FAIL) << "sent already";
    EXPECT_EQ(IQivPb_Ctrl_SendDataEx(h_, 1, 1, nullptr), IQIVPB_FAIL);
    EXPECT_EQ(IQivPb_Ctrl_SendDataEx(h_ + 99, 1, 1, p), IQIVPB_NO_CLIENT);

    // A full table refuses the 257th buffer and keeps the others.
    std::vector<void *> held(pbctrl::kSlices);
    for (void *&b : held)
        ASSERT_EQ(IQivPb_Ctrl_GetBufferEx(h_, 1, 16, &b), 0);
    EXPECT_EQ(IQivPb_Ctrl_GetBufferEx(h_, 1, 16, &p), IQIVPB_FAIL);
    EXPECT_EQ(korm_mappings(), pbctrl::kSlices);
    EXPECT_TRUE(unlocked());
    for (void *b : held)
        ASSERT_EQ(IQivPb_Ctrl_SendDataEx(h_, 1, 16, b), 0);
    EXPECT_EQ(korm_mappings(), 0);

    // The engine's pending, and what a confused engine may hand out: no
    // slots, too many, a list that does not map, slots that do not map.
    // The engine still holds the buffer the client could not keep.
    ASSERT_NE(engine_.ok("push drain " + h()), "error");
    ASSERT_EQ(engine_.ok("push ex 4096 2"), "");
    void *q = nullptr;
    ASSERT_EQ(IQivPb_Ctrl_GetBufferEx(h_, 1, 16, &q), 0);
    EXPECT_EQ(IQivPb_Ctrl_GetBufferEx(h_, 1, 16, &p), IQIVPB_PENDING);
    // and one slot of 4 KiB for a request of three pages.
    const char *bad[] = {"3 0", "3 257", "4 123456", "4 JUNK", "4 SHORT"};
    for (std::string out : bad) {
        ASSERT_EQ(engine_.ok("reset"), "");
        if (out == "4 JUNK" || out == "4 SHORT") {
            const std::string list = engine_.ok("alloc kmem 4096");
            const uint32_t slot = out == "4 SHORT" ? static_cast<uint32_t>(std::stoul(engine_.ok("alloc kmem 4096")))
                                                   : 0xdeadbeef;
            char le[9];
            std::snprintf(le, sizeof le, "%02x%02x%02x%02x", slot & 0xFF, (slot >> 8) & 0xFF, (slot >> 16) & 0xFF,
                          slot >> 24);
            ASSERT_EQ(engine_.ok("write " + list + " 0 " + le), "");
            out = out.substr(0, 2) + list;
        }
        ASSERT_EQ(engine_.ok("out x_QivPb_Ctrl_GetBufferEx 3 1"), "");
        ASSERT_EQ(engine_.ok("out x_QivPb_Ctrl_GetBufferEx " + out), "");
        EXPECT_EQ(IQivPb_Ctrl_GetBufferEx(h_, 1, 3 * kPage, &p), IQIVPB_FAIL) << out;
        EXPECT_TRUE(unlocked()) << out;
    }
    EXPECT_EQ(korm_mappings(), 1) << "only the buffer held";
    IQivPb_Ctrl_Close(h_); // the engine forgot the playback at its reset
    h_ = 0;
    EXPECT_EQ(korm_mappings(), 0) << "close unmaps the Ex buffer still held";
}

} // namespace

#ifdef PBPUSH_PATH
// The tool for people: its summary's checksum is the engine's, and each
// kind of failure has its exit status.
TEST_F(Push, PbpushPushesAFileAndSaysHowItWent)
{
    const std::vector<uint8_t> data = pushtest::stream_bytes(3 << 20, 5);
    char path[] = "/tmp/pbpush_test.XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(fd);
    auto run = [](const std::string &args) {
        const std::string cmd = std::string(PBPUSH_PATH) + " " + args + " 2>&1 >/dev/null";
        FILE *p = popen(cmd.c_str(), "r");
        std::string out;
        char b[256];
        while (p && fgets(b, sizeof b, p))
            out += b;
        const int status = p ? pclose(p) : -1;
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, out);
    };
    const auto ok = run(std::string("-q -b 100000 ") + path);
    EXPECT_EQ(ok.first, 0) << ok.second;
    const std::string want = expected_stat(data);
    EXPECT_NE(ok.second.find("checksum " + want.substr(want.find(' ') + 1)), std::string::npos) << ok.second;
    EXPECT_EQ(engine_.ok("push stat 1").substr(0, want.size()), want);
    ASSERT_EQ(engine_.ok("push slices 2 4096"), "");
    EXPECT_EQ(run(std::string("-q -b 1M ") + path).first, 1);
    EXPECT_EQ(run("-b 0 x").first, 2);
    EXPECT_EQ(run("/nonexistent/input").first, 3);
    unlink(path);
}
#endif

// The event function may ask for a buffer at once: the slot is not locked
// while it runs.
struct Eager {
    IQIV_PB_HANDLE_T h = 0;
    std::atomic<int32_t> rc{1};
    void *buf = nullptr;
    static int32_t on_event(uint32_t, void *tag, void *)
    {
        auto *e = static_cast<Eager *>(tag);
        e->rc = IQivPb_Ctrl_GetBuffer(e->h, kPage, &e->buf);
        return 0;
    }
};

TEST_F(Push, Event12MayAskForABufferAtOnce)
{
    open(1, kPage);
    Eager eager;
    eager.h = h_;
    ASSERT_EQ(IQivPb_Ctrl_RegCallback(h_, &eager, Eager::on_event), 0);
    void *a = get(kPage);
    void *p = nullptr;
    ASSERT_EQ(IQivPb_Ctrl_GetBuffer(h_, kPage, &p), IQIVPB_PENDING);
    ASSERT_EQ(IQivPb_Ctrl_SendData(h_, kPage, a), 0);
    ASSERT_NE(engine_.ok("push drain " + h()), "error");
    EXPECT_EQ(eager.rc.load(), 0);
    EXPECT_EQ(eager.buf, a);
}
