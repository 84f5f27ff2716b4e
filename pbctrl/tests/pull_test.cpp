// Pull mode and the other call-back handlers against the real engine
// simulator: the engine side drives the handlers through its control lines.
#include "qivpbctrl.h"

#include "checksum.h"
#include "client_info.h"
#include "engine_fixture.h"
#include "pull_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using pbtest::hex_addr;
using pulltest::Source;

std::string le32(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%02x%02x%02x%02x", v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff, v >> 24);
    return b;
}

class Pull : public pbtest::EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (HasFatalFailure())
            return;
        h_ = open(IQIV_PB_BUF_MOD_PULL);
        slot_ = pbctrl::find_by_handle(h_);
        ASSERT_GE(slot_, 0);
        src_.attach(slot_);
        tag_ = hex_addr(&info().ui1_client_idx);
    }

    pbctrl::ClientInfo &info() { return pbctrl::t_client_info[slot_]; }

    // "STATUS TYPE RESULT [outN=V]" of one handler call.
    std::string cb(const std::string &name, const std::string &args)
    {
        return engine_.ok("callback " + name + " 0 " + args);
    }
    std::string open_pull()
    {
        return cb("x_qivpbctrl_pull_open_nfy_fct", "0x48:" + std::to_string(h_) + " 0x98:0 0x50:" + tag_);
    }
    std::string map(uint32_t pull, uint32_t block)
    {
        return cb("x_qivpbctrl_pull_MapMemSlice_nfy_fct",
                  "0x48:" + std::to_string(pull) + " 0x50:" + tag_ + " 0x48:1 0x71=" + le32(block) + " 0x98:0");
    }
    std::string read_async(uint32_t pull, uint32_t id, uint32_t len)
    {
        return cb("x_qivpbctrl_pull_read_async_nfy_fct",
                  "0x48:" + std::to_string(pull) + " 0x50:" + tag_ + " 0x48:" + std::to_string(id) +
                      " 0x48:0 0x48:" + std::to_string(len) + " 0x61:1 0x98:0 0x50:7");
    }
    uint32_t block(uint32_t size)
    {
        return static_cast<uint32_t>(std::stoul(engine_.ok("alloc kmem " + std::to_string(size))));
    }

    IQIV_PB_HANDLE_T h_ = 0;
    int slot_ = -1;
    Source src_{5 * 1024 * 1024 + 12345};
    std::string tag_;
};

TEST_F(Pull, PlaysAFileByteExactWithSynchronousAndAsynchronousReads)
{
    const uint64_t want = pbsim::checksum_of(src_.data.data(), src_.data.size());
    char expected[64];
    std::snprintf(expected, sizeof expected, "%zu %016llx", src_.data.size(), static_cast<unsigned long long>(want));
    EXPECT_EQ(engine_.ok("pullplay " + std::to_string(h_) + " " + tag_ + " 4 65536"), expected);
    // Asynchronous reads that end inside their call do not deadlock.
    src_.inline_async = true;
    EXPECT_EQ(engine_.ok("pullplay " + std::to_string(h_) + " " + tag_ + " 1 1048576"), expected);
    EXPECT_GT(src_.async_reads.load(), 10);
    EXPECT_EQ(src_.opens.load(), 2);
    EXPECT_EQ(src_.closes.load(), 2);
    for (const pbctrl::PullRecord &r : info().at_pull)
        EXPECT_EQ(r.b_used, 0);
}

TEST_F(Pull, PlayReadsThePullPlaybackAndRaisesItsEvents)
{
    pulltest::Events events;
    ASSERT_EQ(src_.set_engine_param(h_), 0);
    ASSERT_EQ(events.reg(h_), 0);

    EXPECT_EQ(engine_.ok("played " + std::to_string(h_)), "error");
    ASSERT_EQ(IQivPb_Ctrl_Play(h_, 0), 0);
    std::unique_lock<std::mutex> lock(events.mu);
    ASSERT_TRUE(events.wait_end(lock));
    const uint64_t want = pbsim::checksum_of(src_.data.data(), src_.data.size());
    EXPECT_EQ(events.ends[0].i4_result, 0);
    EXPECT_EQ(events.ends[0].ui8_bytes, src_.data.size());
    EXPECT_EQ(events.ends[0].ui8_checksum, want);
    ASSERT_EQ(events.progress.size(), 10u) << "one event a tenth";
    for (size_t i = 1; i < events.progress.size(); ++i)
        EXPECT_GT(events.progress[i].ui8_bytes, events.progress[i - 1].ui8_bytes);
    EXPECT_EQ(events.progress.back().ui8_bytes, src_.data.size());
    EXPECT_EQ(events.progress.back().ui8_length, src_.data.size());
    lock.unlock();
    char line[64];
    std::snprintf(line, sizeof line, "%zu %016llx", src_.data.size(), static_cast<unsigned long long>(want));
    EXPECT_EQ(engine_.ok("played " + std::to_string(h_)), line);
    EXPECT_GT(src_.async_reads.load(), 10);
    EXPECT_EQ(src_.closes.load(), 1);
    EXPECT_EQ(IQivPb_Ctrl_Stop(h_), 0);

    // A play that fails on its own says so at its end and to Stop.
    info().t_pull_fct.pf_read = nullptr;
    events.ends.clear();
    ASSERT_EQ(IQivPb_Ctrl_Play(h_, 0), 0);
    lock.lock();
    ASSERT_TRUE(events.wait_end(lock));
    EXPECT_EQ(events.ends[0].i4_result, -1);
    lock.unlock();
    EXPECT_EQ(IQivPb_Ctrl_Stop(h_), -1);
}

// A full table refuses with its own failure and keeps what it holds.
template <typename T> std::vector<uint8_t> bytes_of(const T &t)
{
    const auto *p = reinterpret_cast<const uint8_t *>(&t);
    return std::vector<uint8_t>(p, p + sizeof t);
}

TEST_F(Pull, TableLimitsFailExactlyAndLeaveTheTablesUnchanged)
{
    for (int i = 0; i < pbctrl::kPulls; ++i)
        ASSERT_EQ(open_pull(), "0 2 0 out1=" + std::to_string(100 + i));
    auto before = bytes_of(info().at_pull);
    EXPECT_EQ(open_pull(), "-9 2 -1 out1=0");
    EXPECT_EQ(bytes_of(info().at_pull), before);

    const uint32_t blk = block(4096);
    for (int i = 1; i <= pbctrl::kPullMaps; ++i)
        ASSERT_EQ(map(100, blk), "0 2 0 out4=" + std::to_string(i));
    before = bytes_of(info().at_pull);
    EXPECT_EQ(map(100, blk), "-1 2 -1 out4=0");
    EXPECT_EQ(bytes_of(info().at_pull), before);
    // The first free id comes again after an unmap.
    ASSERT_EQ(cb("x_qivpbctrl_pull_UnmapMemSlice_nfy_fct", "0x48:100 0x48:1 0x50:" + tag_), "0 2 0");
    EXPECT_EQ(map(100, blk), "0 2 0 out4=1");

    src_.hold_async = true;
    for (int i = 1; i <= pbctrl::kReadReqs; ++i)
        ASSERT_EQ(read_async(100, 2, 16), "0 2 0 out6=" + std::to_string(i));
    before = bytes_of(info().at_pull);
    EXPECT_EQ(read_async(100, 2, 16), "-1 2 -1 out6=0");
    EXPECT_EQ(bytes_of(info().at_pull), before);
    // Closing the playback takes back the held reads' tags and the maps.
}

// Wrong counts, strangers' tags, unknown pull handles and map ids, reads
// past the map: the handler's error and never a crash.
TEST_F(Pull, BadInputFromTheEngineSideGivesErrors)
{
    ASSERT_EQ(open_pull(), "0 2 0 out1=100");
    ASSERT_EQ(map(100, block(4096)), "0 2 0 out4=1");
    const std::string t = " 0x50:" + tag_;
    const std::string stranger = " 0x50:" + hex_addr(&src_);
    struct Case {
        const char *name;
        std::string args;
        std::string answer;
    } cases[] = {
        {"x_qivpbctrl_pull_open_nfy_fct", "0x48:1 0x98:0", "-3 0 0 out1=0"},
        {"x_qivpbctrl_pull_close_nfy_fct", "0x48:100", "-3 0 0"},
        {"x_qivpbctrl_pull_read_nfy_fct", "0x48:100" + t + " 0x48:1 0x48:0 0x48:8", "-3 0 0"},
        {"x_qivpbctrl_pull_read_async_nfy_fct", "0x48:100" + t, "-3 0 0"},
        {"x_qivpbctrl_byteseek_nfy_fct", "0x48:100" + t, "-3 0 0"},
        {"x_qivpbctrl_nfy_fct", "0x48:1", "-3 0 0"},
        {"x_qivpbctrl_pull_open_nfy_fct", "0x48:" + std::to_string(h_ + 1) + " 0x98:0" + t, "-1 2 -1 out1=0"},
        {"x_qivpbctrl_pull_open_nfy_fct", "0x48:" + std::to_string(h_) + " 0x98:0" + stranger, "-1 2 -1 out1=0"},
        {"x_qivpbctrl_pull_close_nfy_fct", "0x48:999" + t, "-1 2 -1"},
        {"x_qivpbctrl_pull_MapMemSlice_nfy_fct", "0x48:999" + t + " 0x48:1 0x71=01000000 0x98:0", "-1 2 -1 out4=0"},
        {"x_qivpbctrl_pull_MapMemSlice_nfy_fct", "0x48:100" + t + " 0x48:2 0x71=01000000 0x98:0", "-1 2 -1 out4=0"},
        {"x_qivpbctrl_pull_UnmapMemSlice_nfy_fct", "0x48:100 0x48:9" + t, "-1 2 -1"},
        {"x_qivpbctrl_pull_read_nfy_fct", "0x48:100" + t + " 0x48:9 0x48:0 0x48:8 0x98:0", "-1 2 -1 out5=0"},
        {"x_qivpbctrl_pull_read_nfy_fct", "0x48:100" + t + " 0x48:1 0x48:4090 0x48:8 0x98:0", "-1 2 -1 out5=0"},
        {"x_qivpbctrl_pull_read_nfy_fct", "0x48:100" + stranger + " 0x48:1 0x48:0 0x48:8 0x98:0", "-1 2 -1 out5=0"},
        {"x_qivpbctrl_get_input_length_nfy_fct", "0x48:100" + stranger + " 0x99:0", "-1 2 -1 out2=0"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cb(c.name, c.args), c.answer) << c.name << " " << c.args;
    // Only read tags the library handed out end a read.
    uint8_t foreign[4] = {0, 0, 0, 0};
    EXPECT_EQ(_IQivPb_Ctrl_Pull_Nfy_Fct(0, foreign, 1, 0), -1);
    // The playback still plays.
    EXPECT_EQ(cb("x_qivpbctrl_get_input_length_nfy_fct", "0x48:100" + t + " 0x99:0"),
              "0 2 0 out2=" + std::to_string(src_.data.size()));

    // An open or an asynchronous read the application refuses keeps no
    // record, request or tag.
    const auto before = bytes_of(info().at_pull);
    info().t_pull_fct.pf_open = reinterpret_cast<void *>(+[](uint32_t, uint32_t *, void *) -> int32_t { return 1; });
    info().t_pull_fct.pf_read_async = reinterpret_cast<void *>(+[](uint32_t, void *, void *, uint32_t,
                                                                   IQIV_PB_CTRL_PULL_NFY_FCT, void *,
                                                                   uint32_t *) -> int32_t { return 2; });
    EXPECT_EQ(open_pull(), "-1 2 1 out1=0");
    EXPECT_EQ(read_async(100, 1, 16), "-1 2 2 out6=0");
    EXPECT_EQ(bytes_of(info().at_pull), before);
}

// What a blocked application read or asynchronous read learns of the engine.
struct Blocked {
    std::mutex mu;
    std::condition_variable cv;
    bool inside = false, go = false;
    void *buf = nullptr;
    uint32_t len = 0;
    void *nfy_tag = nullptr;
    void reset()
    {
        std::lock_guard<std::mutex> lock(mu);
        inside = go = false;
    }
};
Blocked g_blocked;

int32_t blocking_read(uint32_t, void *, void *buf, uint32_t len, uint32_t *got)
{
    std::unique_lock<std::mutex> lock(g_blocked.mu);
    g_blocked.inside = true;
    g_blocked.cv.notify_all();
    g_blocked.cv.wait(lock, [] { return g_blocked.go; });
    std::memset(buf, 0x5a, len); // the whole buffer, after the engine's unmap
    *got = len;
    return 0;
}

int32_t held_async_read(uint32_t, void *, void *buf, uint32_t len, IQIV_PB_CTRL_PULL_NFY_FCT, void *nfy_tag,
                        uint32_t *req)
{
    std::lock_guard<std::mutex> lock(g_blocked.mu);
    g_blocked.buf = buf;
    g_blocked.len = len;
    g_blocked.nfy_tag = nfy_tag;
    *req = 1;
    return 0;
}

// An engine that unmaps, closes the pull handle or the playback while the
// application still reads into the map: nothing it reads into goes away
// under it, and no read tag is lost or read after it was freed.
TEST_F(Pull, MapsOutliveTheReadsIntoThem)
{
    ASSERT_EQ(open_pull(), "0 2 0 out1=100");
    ASSERT_EQ(map(100, block(4096)), "0 2 0 out4=1");
    const pbctrl::PullMap &m = info().at_pull[0].at_map[0];
    g_blocked.reset();
    info().t_pull_fct.pf_read = reinterpret_cast<void *>(&blocking_read);
    std::thread reader([this] {
        EXPECT_EQ(cb("x_qivpbctrl_pull_read_nfy_fct", "0x48:100 0x50:" + tag_ + " 0x48:1 0x48:0 0x48:4096 0x98:0"),
                  "0 2 0 out5=4096");
    });
    {
        std::unique_lock<std::mutex> lock(g_blocked.mu);
        ASSERT_TRUE(g_blocked.cv.wait_for(lock, std::chrono::seconds(10), [] { return g_blocked.inside; }));
    }
    EXPECT_EQ(cb("x_qivpbctrl_pull_UnmapMemSlice_nfy_fct", "0x48:100 0x48:1 0x50:" + tag_), "0 2 0");
    EXPECT_EQ(cb("x_qivpbctrl_pull_UnmapMemSlice_nfy_fct", "0x48:100 0x48:1 0x50:" + tag_), "-1 2 -1")
        << "unmapped once";
    EXPECT_EQ(m.b_used, 1) << "still read into";
    {
        std::lock_guard<std::mutex> lock(g_blocked.mu);
        g_blocked.go = true;
    }
    g_blocked.cv.notify_all();
    reader.join();
    EXPECT_EQ(m.b_used, 0) << "gone with its last read";

    // An asynchronous read still out when the pull handle closes.
    ASSERT_EQ(map(100, block(4096)), "0 2 0 out4=1");
    info().t_pull_fct.pf_read_async = reinterpret_cast<void *>(&held_async_read);
    ASSERT_EQ(read_async(100, 1, 4096), "0 2 0 out6=1");
    EXPECT_EQ(cb("x_qivpbctrl_pull_close_nfy_fct", "0x48:100 0x50:" + tag_), "0 2 0");
    EXPECT_EQ(cb("x_qivpbctrl_pull_read_nfy_fct", "0x48:100 0x50:" + tag_ + " 0x48:1 0x48:0 0x48:8 0x98:0"),
              "-1 2 -1 out5=0")
        << "closed";
    std::memset(g_blocked.buf, 0x5a, g_blocked.len);
    EXPECT_EQ(_IQivPb_Ctrl_Pull_Nfy_Fct(0, g_blocked.nfy_tag, g_blocked.len, 0), -1) << "nobody waits for it";
    EXPECT_EQ(_IQivPb_Ctrl_Pull_Nfy_Fct(0, g_blocked.nfy_tag, g_blocked.len, 0), -1) << "a freed tag is not read";
    for (const pbctrl::PullRecord &r : info().at_pull)
        EXPECT_EQ(r.b_used, 0);

    // The playback closes only after the read running into it ended.
    ASSERT_EQ(open_pull(), "0 2 0 out1=101");
    ASSERT_EQ(map(101, block(4096)), "0 2 0 out4=1");
    g_blocked.reset();
    std::thread late_reader(
        [this] { cb("x_qivpbctrl_pull_read_nfy_fct", "0x48:101 0x50:" + tag_ + " 0x48:1 0x48:0 0x48:4096 0x98:0"); });
    {
        std::unique_lock<std::mutex> lock(g_blocked.mu);
        ASSERT_TRUE(g_blocked.cv.wait_for(lock, std::chrono::seconds(10), [] { return g_blocked.inside; }));
    }
    auto closed = std::async(std::launch::async, [this] { close(h_); });
    EXPECT_EQ(closed.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    {
        std::lock_guard<std::mutex> lock(g_blocked.mu);
        g_blocked.go = true;
    }
    g_blocked.cv.notify_all();
    closed.get();
    late_reader.join();
}

} // namespace
