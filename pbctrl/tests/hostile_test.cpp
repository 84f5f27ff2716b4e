// An application that uses every buffer it is given in full, run for a
// bounded time against pbengine in its hostile mode: every answer lies
// about sizes, counts, handles and ids, and call-backs of every kind come at
// any moment, also while playbacks close. Nothing may crash, leak (LSan in
// the host-asan tier), stall a call-back or stop a thread for long (the
// watchdog), and no mapping may outlive the playbacks.
//
// HOSTILE_SECONDS (default 20), HOSTILE_SEED (default 1) and HOSTILE_CASES
// (the engine's kept-apart lies, e.g. "all") vary the run.
#include "qivpbctrl.h"

#include "engine_harness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kThreads = 3; // one per client slot
constexpr auto kWatchdog = std::chrono::seconds(15);
constexpr int kRoundsPerPlayback = 24;
constexpr int kCloseTries = 8;
constexpr size_t kCoverBytes = 1u << 20;
constexpr size_t kMaxQueued = 64;
constexpr uint32_t kPushOpenMode = 1;
constexpr uint32_t kBufferSizes[] = {1, 4096, 12288, 65536, 1u << 20};
constexpr uint32_t kModels[] = {IQIV_PB_BUF_MOD_PULL, IQIV_PB_BUF_MOD_PUSH, IQIV_PB_BUF_MOD_URI, IQIV_PB_BUF_MOD_OTHER};
constexpr uint8_t kFill = 0x5A;

unsigned env_number(const char *name, unsigned otherwise)
{
    const char *v = std::getenv(name);
    return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : otherwise;
}

volatile uint8_t g_sink;
std::mutex g_stranded_mu;
std::vector<IQIV_PB_HANDLE_T> g_stranded; // playbacks the engine would not close
std::vector<IQIV_PB_HANDLE_T> g_live;     // handles a thread plays

// False for a handle another thread already plays: the library keeps both
// slots under one handle, so that one's stop would free the other's buffers.
bool claim(IQIV_PB_HANDLE_T h)
{
    std::lock_guard<std::mutex> lock(g_stranded_mu);
    if (std::find(g_live.begin(), g_live.end(), h) != g_live.end()) {
        g_stranded.push_back(h);
        return false;
    }
    g_live.push_back(h);
    return true;
}

void unclaim(IQIV_PB_HANDLE_T h)
{
    std::lock_guard<std::mutex> lock(g_stranded_mu);
    g_live.erase(std::find(g_live.begin(), g_live.end(), h));
}
std::atomic<uint64_t> g_app_calls{0}, g_callbacks_in{0}, g_bytes_filled{0}, g_playbacks{0};

void use_in_full(void *p, size_t n)
{
    if (!p || n == 0)
        return;
    std::memset(p, kFill, n);
    g_sink = static_cast<uint8_t *>(p)[n - 1];
    g_bytes_filled += n;
}

void read_in_full(uintptr_t addr, size_t n)
{
    const auto *p = reinterpret_cast<const uint8_t *>(addr);
    uint8_t x = 0;
    for (size_t i = 0; p && i < n; ++i)
        x ^= p[i];
    g_sink = x;
}

// What call-backs hand over for the application to give back later, from
// its own threads.
struct GiveBacks {
    std::mutex mu;
    std::deque<std::pair<uint32_t, IQIV_PB_CTRL_ENC_AUDIO_BUF_T>> audio;
    std::deque<std::pair<uint32_t, IQIV_PB_CTRL_ENC_VIDEO_FRAME_T>> frames;
    std::deque<std::pair<uint32_t, void *>> subpictures, filter_buffers;

    template <typename T> void keep(std::deque<T> &q, T v)
    {
        std::lock_guard<std::mutex> lock(mu);
        if (q.size() < kMaxQueued)
            q.push_back(v);
    }
    template <typename T> bool take(std::deque<T> &q, T &v)
    {
        std::lock_guard<std::mutex> lock(mu);
        if (q.empty())
            return false;
        v = q.front();
        q.pop_front();
        return true;
    }
    void give_back_one()
    {
        std::pair<uint32_t, IQIV_PB_CTRL_ENC_AUDIO_BUF_T> a;
        std::pair<uint32_t, IQIV_PB_CTRL_ENC_VIDEO_FRAME_T> f;
        std::pair<uint32_t, void *> p;
        if (take(audio, a))
            IQivPb_Ctrl_Ext_FreeEncCbBuffer(a.first, IQIV_PB_CTRL_ENC_STRM_AUDIO, &a.second);
        if (take(frames, f))
            IQivPb_Ctrl_Ext_FreeEncCbBuffer(f.first, IQIV_PB_CTRL_ENC_STRM_VIDEO, &f.second);
        if (take(subpictures, p))
            IQivPb_Ctrl_SpDataRelease(p.first, 0, p.second);
        if (take(filter_buffers, p))
            IQivPb_Ctrl_TS_Filter_FreeBuffer(p.first, p.second);
    }
};
GiveBacks g_give_backs;

int32_t on_event(uint32_t, void *, void *)
{
    ++g_callbacks_in;
    return 0;
}

int32_t on_pcm(uint32_t, uint32_t)
{
    ++g_callbacks_in;
    return 0;
}

int32_t on_filter(uint32_t h_pb, uint32_t, IQIV_PB_CTRL_FILTER_BUF_T *buf, uint32_t)
{
    ++g_callbacks_in;
    use_in_full(buf->pv_addr, buf->ui4_size);
    g_give_backs.keep(g_give_backs.filter_buffers, {h_pb, buf->pv_addr});
    return 0;
}

int32_t on_subpicture(uint32_t h_pb, uint8_t, uint32_t, IQIV_PB_CTRL_SP_DATA_T *data)
{
    ++g_callbacks_in;
    read_in_full(reinterpret_cast<uintptr_t>(data->pv_data), 1);
    g_give_backs.keep(g_give_backs.subpictures, {h_pb, data->pv_data});
    return 0;
}

int32_t on_encoder(uint32_t h_pb, uint32_t strm, void *desc)
{
    ++g_callbacks_in;
    if (strm == IQIV_PB_CTRL_ENC_STRM_AUDIO) {
        auto *a = static_cast<IQIV_PB_CTRL_ENC_AUDIO_BUF_T *>(desc);
        use_in_full(a->pv_buf, a->ui4_len);
        g_give_backs.keep(g_give_backs.audio, {h_pb, *a});
        return 0;
    }
    auto *v = static_cast<IQIV_PB_CTRL_ENC_VIDEO_BUF_T *>(desc);
    for (uint32_t i = 0; i < v->ui4_count; ++i) {
        use_in_full(v->pt_frames[i].pv_buf1, v->pt_frames[i].ui4_len1);
        use_in_full(v->pt_frames[i].pv_buf2, v->pt_frames[i].ui4_len2);
        g_give_backs.keep(g_give_backs.frames, {h_pb, v->pt_frames[i]});
    }
    return 0;
}

// Pull functions: every read fills what it was given; asynchronous reads
// end inside the call or from the completer thread.
struct Completer {
    std::mutex mu;
    std::deque<std::pair<IQIV_PB_CTRL_PULL_NFY_FCT, std::pair<void *, uint32_t>>> due;
    std::atomic<bool> stop{false};
    std::thread worker;

    void start()
    {
        worker = std::thread([this] {
            while (!stop) {
                decltype(due)::value_type d{};
                {
                    std::lock_guard<std::mutex> lock(mu);
                    if (!due.empty()) {
                        d = due.front();
                        due.pop_front();
                    }
                }
                if (d.first)
                    d.first(0, d.second.first, d.second.second, 0);
                else
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    void finish()
    {
        stop = true;
        worker.join();
    }
};
Completer g_completer;
std::atomic<uint32_t> g_pull_handles{100};

int32_t pull_open(uint32_t, uint32_t *ph, void *)
{
    *ph = ++g_pull_handles;
    return 0;
}
int32_t pull_close(uint32_t, void *) { return 0; }
int32_t pull_read(uint32_t, void *, void *buf, uint32_t len, uint32_t *got)
{
    use_in_full(buf, len);
    *got = len;
    return 0;
}
int32_t pull_read_async(uint32_t, void *, void *buf, uint32_t len, IQIV_PB_CTRL_PULL_NFY_FCT nfy, void *tag,
                        uint32_t *req)
{
    use_in_full(buf, len);
    *req = len;
    if (len % 2)
        return nfy(0, tag, len, 0);
    std::lock_guard<std::mutex> lock(g_completer.mu);
    g_completer.due.push_back({nfy, {tag, len}});
    return 0;
}
int32_t pull_abort(uint32_t, void *, uint32_t) { return 0; }
int32_t pull_seek(uint32_t, void *, uint64_t off, uint8_t, uint64_t *cur)
{
    *cur = off;
    return 0;
}
int32_t pull_length(uint32_t, void *, uint64_t *len)
{
    *len = 1u << 20;
    return 0;
}

int32_t set_pull_functions(IQIV_PB_HANDLE_T h)
{
    IQIV_PB_CTRL_ENGINE_PARAM_T p{};
    p.uBufferModelParam.tPullInfo = IQIV_PB_CTRL_PULL_INFO_T{nullptr,
                                                             reinterpret_cast<void *>(&pull_open),
                                                             reinterpret_cast<void *>(&pull_close),
                                                             reinterpret_cast<void *>(&pull_read),
                                                             reinterpret_cast<void *>(&pull_read_async),
                                                             reinterpret_cast<void *>(&pull_abort),
                                                             reinterpret_cast<void *>(&pull_seek),
                                                             reinterpret_cast<void *>(&pull_length)};
    return IQivPb_Ctrl_SetEngineParam(h, &p);
}

// One thread of the application: playbacks of every model, one after the
// other, each given a round of calls.
class Player {
public:
    explicit Player(unsigned seed) : rng_(seed) {}

    void run(Clock::time_point until)
    {
        while (Clock::now() < until) {
            play_one();
            last_progress_ = Clock::now().time_since_epoch().count();
        }
        done_ = true;
    }
    bool stuck(Clock::time_point now) const
    {
        return !done_ && now.time_since_epoch().count() - last_progress_ >
                             std::chrono::duration_cast<Clock::duration>(kWatchdog).count();
    }

private:
    template <typename T, size_t N> T pick(const T (&from)[N]) { return from[rng_() % N]; }

    void play_one()
    {
        const uint32_t model = pick(kModels);
        IQIV_PB_HANDLE_T h = 0;
        if (IQivPb_Ctrl_Open(&h, model, model == IQIV_PB_BUF_MOD_PUSH ? kPushOpenMode : 0, "hostile://") != 0)
            return;
        if (!claim(h))
            return;
        ++g_playbacks;
        IQivPb_Ctrl_RegCallback(h, this, on_event);
        IQivPb_Ctrl_RegSpCallback(h, this, on_subpicture);
        IQivPb_Ctrl_Ext_SetEncBufferParm(h, on_encoder, this);
        IQivPb_Ctrl_Start_PcmUpload_cb(h, this, on_pcm);
        if (model == IQIV_PB_BUF_MOD_PULL)
            set_pull_functions(h);
        for (int i = 0; i < kRoundsPerPlayback; ++i) {
            one_call(h);
            ++g_app_calls;
        }
        for (void *b : held_)
            IQivPb_Ctrl_ReleaseBuffer(h, b);
        held_.clear();
        close(h);
        unclaim(h);
    }

    // A close the engine refuses keeps the playback open: tried again, and
    // left for the end when the engine keeps refusing (it may not know the
    // handle it gave).
    void close(IQIV_PB_HANDLE_T h)
    {
        for (int i = 0; i < kCloseTries; ++i)
            if (IQivPb_Ctrl_Close(h) == 0)
                return;
        std::lock_guard<std::mutex> lock(g_stranded_mu);
        g_stranded.push_back(h);
    }

    void one_call(IQIV_PB_HANDLE_T h)
    {
        switch (rng_() % 9) {
        case 0:
            return push_buffer(h);
        case 1:
            return push_buffer_ex(h);
        case 2:
            return cover(h);
        case 3:
            return filter(h);
        case 4:
            return snapshot(h);
        case 5:
            return snapshot_ext(h);
        case 6:
            IQivPb_Ctrl_Play(h, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(rng_() % 5));
            IQivPb_Ctrl_Stop(h);
            held_.clear(); // a stop frees every push buffer
            return;
        case 7:
            return g_give_backs.give_back_one();
        default:
            IQivPb_Ctrl_SetPushModelEOS(h);
        }
    }

    // A buffer is filled in full, then sent or given back or held; one that
    // overlaps a held one is a second live buffer on the same slices.
    void push_buffer(IQIV_PB_HANDLE_T h)
    {
        const uint32_t size = pick(kBufferSizes);
        void *buf = nullptr;
        if (IQivPb_Ctrl_GetBuffer(h, size, &buf) != 0 || !buf)
            return;
        for (void *held : held_)
            EXPECT_NE(held, buf) << "a buffer handed out twice (" << held_.size() << " held, " << size << " bytes)";
        use_in_full(buf, size);
        switch (rng_() % 3) {
        case 0:
            IQivPb_Ctrl_SendData(h, size, buf);
            break;
        case 1:
            IQivPb_Ctrl_ReleaseBuffer(h, buf);
            break;
        default:
            held_.push_back(buf);
        }
    }

    void push_buffer_ex(IQIV_PB_HANDLE_T h)
    {
        const uint32_t size = pick(kBufferSizes);
        void *buf = nullptr;
        if (IQivPb_Ctrl_GetBufferEx(h, 0, size, &buf) != 0 || !buf)
            return;
        use_in_full(buf, size);
        IQivPb_Ctrl_SendDataEx(h, 0, size, buf);
    }

    void cover(IQIV_PB_HANDLE_T h)
    {
        std::vector<uint8_t> dest(kCoverBytes);
        IQIV_PB_CTRL_MP3_COVER_INFO_T info{};
        info.u4LenOrHandle = static_cast<uint32_t>(dest.size());
        info.pu1Dest = dest.data();
        if (IQivPb_Ctrl_Get(h, IQIV_PB_CTRL_GET_MP3_COVER_INFO, &info, sizeof info) == 0)
            read_in_full(reinterpret_cast<uintptr_t>(dest.data()), dest.size());
    }

    void filter(IQIV_PB_HANDLE_T h)
    {
        IQIV_PB_CTRL_TS_FILTER_PARAM_T param{};
        uint32_t h_filter = 0;
        if (IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, this, &h_filter) == 0 && rng_() % 2)
            IQivPb_Ctrl_TS_Filter_Free(h, h_filter);
    }

    void snapshot(IQIV_PB_HANDLE_T h)
    {
        IQIV_PB_CTRL_RECT_T rect{};
        IQIV_PB_CTRL_SNAPSHOT_PARAM_T param{};
        IQIV_PB_CTRL_SNAPSHOT_DESC_T desc{};
        if (IQivPb_Ctrl_Ext_StartSnapshot(h, 0, &rect, &param, &desc) != 0)
            return;
        read_in_full(desc.uY, desc.u4YSize);
        read_in_full(desc.uC, desc.u4CSize);
        IQivPb_Ctrl_Ext_StopSnapshot(h, &desc);
    }

    void snapshot_ext(IQIV_PB_HANDLE_T h)
    {
        IQIV_PB_CTRL_RECT_T rect{};
        IQIV_PB_CTRL_SNAPSHOT_PARAM_T param{};
        IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T desc{};
        if (IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 0, &rect, &param, &desc) != 0)
            return;
        read_in_full(desc.uY, desc.u4YSize);
        read_in_full(desc.uC, desc.u4CSize);
        IQivPb_Ctrl_Ext_StopSnapshot_Ext(h, &desc);
    }

    std::mt19937 rng_;
    std::vector<void *> held_;
    std::atomic<Clock::rep> last_progress_{Clock::now().time_since_epoch().count()};
    std::atomic<bool> done_{false};
};

// The shared blocks still mapped, one line each.
std::string shared_mappings()
{
    std::ifstream maps("/proc/self/maps");
    std::string out;
    for (std::string line; std::getline(maps, line);)
        if (line.find("/dev/shm/") != std::string::npos)
            out += line + "\n";
    return out;
}

// Ends the process when a thread of the application stops moving: a
// deadlock must fail the run, not hang it.
void watch(const std::vector<std::unique_ptr<Player>> &players, const std::atomic<bool> &finished)
{
    while (!finished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (const auto &p : players)
            if (p->stuck(Clock::now())) {
                std::fprintf(stderr, "hostile: watchdog: a thread made no progress for %lld s\n",
                             static_cast<long long>(kWatchdog.count()));
                // Every thread's stack, where gdb is installed, to see who waits for whom.
                const std::string dump = "timeout 60 gdb -p " + std::to_string(getpid()) +
                                         " -batch -ex 'thread apply all bt 16' 1>&2 2>/dev/null";
                if (std::system(dump.c_str()) != 0)
                    std::fprintf(stderr, "hostile: no stacks (gdb)\n");
                std::abort();
            }
    }
}

TEST(HostileEngine, NoCrashLeakOrStallWhateverTheEngineSays)
{
    const unsigned seconds = env_number("HOSTILE_SECONDS", 20), seed = env_number("HOSTILE_SEED", 1);
    const char *cases = std::getenv("HOSTILE_CASES");
    pbharness::Engine engine;
    ASSERT_TRUE(engine.start());
    // The library's own lines go to /dev/null while it runs.
    std::fflush(stdout);
    const int saved_stdout = dup(STDOUT_FILENO);
    ASSERT_TRUE(std::freopen("/dev/null", "w", stdout));
    IQivPb_Ctrl_Init();
    ASSERT_EQ(engine.ok("hostile " + std::to_string(seed) + " " + (cases ? cases : "")), "");
    g_completer.start();
    const auto t0 = Clock::now();
    std::vector<std::unique_ptr<Player>> players;
    for (int i = 0; i < kThreads; ++i)
        players.push_back(std::make_unique<Player>(seed * kThreads + i));
    std::atomic<bool> finished{false};
    std::thread dog(watch, std::cref(players), std::cref(finished));
    std::vector<std::thread> threads;
    for (auto &p : players)
        threads.emplace_back([&p, until = t0 + std::chrono::seconds(seconds)] { p->run(until); });
    for (std::thread &t : threads)
        t.join();
    const std::string stat = engine.ok("hostile stat");
    ASSERT_EQ(engine.ok("hostile off"), "");
    g_completer.finish();
    // The engine, honest again, closes what it refused to.
    ASSERT_EQ(engine.ok("result x_QivPb_Ctrl_Close 0"), "");
    for (IQIV_PB_HANDLE_T h : g_stranded)
        EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
    while (!g_give_backs.audio.empty() || !g_give_backs.frames.empty() || !g_give_backs.subpictures.empty() ||
           !g_give_backs.filter_buffers.empty())
        g_give_backs.give_back_one();
    finished = true;
    dog.join();
    IQivPb_Ctrl_Terminate();
    std::fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);

    unsigned long long answers = 0, lies = 0, callbacks = 0, refused = 0, stalled = 0;
    ASSERT_EQ(std::sscanf(stat.c_str(), "%llu %llu %llu %llu %llu", &answers, &lies, &callbacks, &refused, &stalled), 5)
        << stat;
    std::printf(
        "hostile run, seed %u, %.1f s: %llu calls of the application on %llu playbacks, %llu engine "
        "answers (%llu lies), %llu call-backs (%llu refused, %llu stalled), %llu reached the "
        "application, %llu bytes filled, %zu playbacks closed only once the engine was honest\n",
        seed, std::chrono::duration<double>(Clock::now() - t0).count(), static_cast<unsigned long long>(g_app_calls),
        static_cast<unsigned long long>(g_playbacks), answers, lies, callbacks, refused, stalled,
        static_cast<unsigned long long>(g_callbacks_in), static_cast<unsigned long long>(g_bytes_filled),
        g_stranded.size());
    EXPECT_GT(g_playbacks.load(), 0u);
    EXPECT_GT(callbacks, 0u);
    EXPECT_EQ(stalled, 0u) << "a call-back waited more than 5 s for the application";
    EXPECT_EQ(shared_mappings(), "") << "mappings outlived every playback";
}

} // namespace
