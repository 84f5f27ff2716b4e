#include "push_play.h"

#include "sim.h"
#include "sim_text.h"

#include "common/stream_hash.h"
#include "korm.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pbsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kMaxSlices = 256;
constexpr uint64_t kMaxSliceBytes = 64u << 20;
constexpr uint64_t kMaxPushBytes = 1ull << 30;
constexpr uint64_t kMaxDelayMs = 60000;
constexpr uint64_t kMaxExOutstanding = 1024;
constexpr size_t kMaxStreams = 64;
constexpr auto kDrainWait = std::chrono::seconds(20);
constexpr int8_t kFail = -1;
constexpr int8_t kBadArg = -3;
constexpr int8_t kPending = -100;
constexpr uint32_t kNoticeArgs = 4;
constexpr const char *kNotice = "x_qivpbctrl_Ipc_SendData_nfy_fct";

struct Config {
    uint32_t slices = 16;
    uint32_t slice_bytes = 64 * 1024;
    uint32_t ex_bytes = 64 * 1024;
    uint32_t ex_max = 8;
    uint64_t delay_ms = 0;
    bool hold = false;
    bool check = true; // off: bytes are counted, not read (the benchmark's lean consumer)
};

// Blocks the engine made and its own mapping of them, in one range.
struct Blocks {
    std::vector<HANDLE_T> handles;
    uint8_t *map = nullptr;

    bool make(uint32_t count, uint32_t bytes)
    {
        for (uint32_t i = 0; i < count; ++i) {
            const HANDLE_T h = x_kmem_block_alloc(bytes);
            if (!h)
                return false;
            handles.push_back(h);
        }
        map = static_cast<uint8_t *>(x_kmem_block_multimap(count, handles.data()));
        return map != nullptr;
    }
    void release()
    {
        if (map)
            x_kmem_block_unmap(map);
        for (HANDLE_T h : handles)
            x_kmem_block_free(h);
        handles.clear();
        map = nullptr;
    }
};

// A buffer of the Ex path: its slots and the list block naming them.
struct ExBuffer {
    Blocks slots;
    HANDLE_T list = 0;
    bool sent = false;
    void release()
    {
        slots.release();
        if (list)
            x_kmem_block_free(list);
        list = 0;
    }
};

struct Request {
    uint32_t id = 0;
    uint32_t size = 0;
    std::vector<uint32_t> slices; // slice indices, in the order sent
    HANDLE_T ex_list = 0;         // or the Ex buffer's list
    Clock::time_point due;
};

struct Stats {
    board::StreamHash hash;
    uint64_t unchecked = 0; // bytes consumed while checking was off
    uint64_t buffers = 0, notices = 0, failed = 0;
};

class Stream {
public:
    explicit Stream(uint32_t h) : h_(h) {}
    ~Stream() { end(); }

    int8_t slice_info(const Config &cfg, RPC_ARG_T &rec);
    int8_t slice_handles(uint32_t count, RPC_ARG_T &out);
    void register_notice(int32_t conn, uint64_t tag);
    int8_t send(uint32_t size, uint32_t count, const RPC_ARG_T &list, RPC_ARG_T &req, uint64_t delay_ms);
    int8_t get_ex(const Config &cfg, uint32_t size, RPC_ARG_T &count, RPC_ARG_T &list);
    int8_t send_ex(uint32_t size, uint32_t count, HANDLE_T list, uint64_t delay_ms);
    bool drain();
    void flush();
    void wake() { cv_.notify_all(); }
    std::string stat();
    void end();

private:
    void start_consumer();
    void consume_loop();
    void consume(const Request &r);
    void notice_loop();
    void drop_locked(const Request &r);

    const uint32_t h_;
    std::mutex mu_;
    std::condition_variable cv_;
    Blocks slices_;
    uint32_t slice_bytes_ = 0;
    std::map<HANDLE_T, uint32_t> index_of_;
    std::vector<bool> queued_;
    std::map<HANDLE_T, ExBuffer> ex_;
    std::deque<Request> queue_;
    uint32_t next_id_ = 1;
    int32_t conn_ = 0;
    uint64_t tag_ = 0;
    bool registered_ = false;
    bool busy_ = false;
    bool stopping_ = false;
    // Consumed buffers whose notice is still to go: a thread of its own
    // sends them, so that consuming goes on meanwhile.
    std::deque<uint32_t> notices_;
    bool notifying_ = false;
    std::thread consumer_;
    std::thread notifier_;
    board::StreamHash hash_; // the consumer's own; stats_ has its last value
    Stats stats_;
};

struct Push {
    std::mutex mu;
    Config cfg;
    std::map<uint32_t, std::shared_ptr<Stream>> streams;
    std::map<uint32_t, std::string> closed; // the last figures of closed playbacks
};

Push &push()
{
    static auto *p = new Push;
    return *p;
}

bool held()
{
    std::lock_guard<std::mutex> lock(push().mu);
    return push().cfg.hold;
}

bool checking()
{
    std::lock_guard<std::mutex> lock(push().mu);
    return push().cfg.check;
}

// The record or buffer an argument brought, if it holds at least n bytes.
uint8_t *region(const RPC_ARG_T &a, size_t n)
{
    auto *p = static_cast<uint8_t *>(rpc_arg_ptr(a));
    return p && rpc_local_region_size(p) >= n ? p : nullptr;
}

void store32(uint8_t *p, uint32_t v)
{
    std::memcpy(p, &v, sizeof v); // little-endian, as the board
}

int8_t Stream::slice_info(const Config &cfg, RPC_ARG_T &rec)
{
    uint8_t *p = region(rec, 2 * sizeof(uint32_t));
    if (!p)
        return kBadArg;
    std::lock_guard<std::mutex> lock(mu_);
    if (slices_.handles.empty()) {
        if (!slices_.make(cfg.slices, cfg.slice_bytes)) {
            slices_.release();
            return kFail;
        }
        slice_bytes_ = cfg.slice_bytes;
        queued_.assign(cfg.slices, false);
        for (uint32_t i = 0; i < cfg.slices; ++i)
            index_of_[slices_.handles[i]] = i;
        start_consumer();
    }
    store32(p, static_cast<uint32_t>(slices_.handles.size()));
    store32(p + 4, slice_bytes_);
    return 0;
}

int8_t Stream::slice_handles(uint32_t count, RPC_ARG_T &out)
{
    std::lock_guard<std::mutex> lock(mu_);
    uint8_t *p = region(out, 0);
    if (!p || slices_.handles.empty())
        return kFail;
    const size_t n = std::min<size_t>({size_t{count}, slices_.handles.size(), size_t{rpc_local_region_size(p) / 4}});
    for (size_t i = 0; i < n; ++i)
        store32(p + 4 * i, slices_.handles[i]);
    return 0;
}

void Stream::register_notice(int32_t conn, uint64_t tag)
{
    std::lock_guard<std::mutex> lock(mu_);
    conn_ = conn;
    tag_ = tag;
    registered_ = true;
}

int8_t Stream::send(uint32_t size, uint32_t count, const RPC_ARG_T &list, RPC_ARG_T &req, uint64_t delay_ms)
{
    const uint8_t *p = count ? region(list, uint64_t{count} * 4) : nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    if (!p || count > slices_.handles.size() || size == 0 || size > uint64_t{count} * slice_bytes_)
        return kFail;
    Request r;
    for (uint32_t i = 0; i < count; ++i) {
        HANDLE_T h;
        std::memcpy(&h, p + 4 * i, sizeof h);
        auto it = index_of_.find(h);
        // Only our own slices, and none that is still waiting to be consumed.
        if (it == index_of_.end() || queued_[it->second])
            return kFail;
        r.slices.push_back(it->second);
    }
    for (uint32_t idx : r.slices)
        queued_[idx] = true;
    r.id = next_id_++;
    r.size = size;
    r.due = Clock::now() + std::chrono::milliseconds(delay_ms);
    write_out(req, r.id);
    queue_.push_back(std::move(r));
    cv_.notify_all();
    return 0;
}

int8_t Stream::get_ex(const Config &cfg, uint32_t size, RPC_ARG_T &count, RPC_ARG_T &list)
{
    if (size == 0)
        return kBadArg;
    const uint64_t n = (uint64_t{size} + cfg.ex_bytes - 1) / cfg.ex_bytes;
    std::lock_guard<std::mutex> lock(mu_);
    if (ex_.size() >= cfg.ex_max)
        return kPending;
    if (n > kMaxSlices)
        return kFail;
    ExBuffer b;
    std::vector<uint8_t> bytes(n * 4);
    b.list = x_kmem_block_alloc(static_cast<uint32_t>(bytes.size()));
    bool ok = b.list && b.slots.make(static_cast<uint32_t>(n), cfg.ex_bytes);
    if (ok) {
        for (size_t i = 0; i < n; ++i)
            store32(bytes.data() + 4 * i, b.slots.handles[i]);
        auto *lp = static_cast<uint8_t *>(x_kmem_block_map(b.list));
        ok = lp != nullptr;
        if (ok) {
            std::memcpy(lp, bytes.data(), bytes.size());
            x_kmem_block_unmap(lp);
        }
    }
    if (!ok) {
        b.release();
        return kFail;
    }
    write_out(count, n);
    write_out(list, b.list);
    ex_[b.list] = std::move(b);
    start_consumer();
    return 0;
}

int8_t Stream::send_ex(uint32_t size, uint32_t count, HANDLE_T list, uint64_t delay_ms)
{
    std::lock_guard<std::mutex> lock(mu_);
    auto it = ex_.find(list);
    if (it == ex_.end() || it->second.sent || count != it->second.slots.handles.size() || size == 0 ||
        size > it->second.slots.handles.size() * uint64_t{x_kmem_block_size(it->second.slots.handles[0])})
        return kFail;
    it->second.sent = true;
    Request r;
    r.id = next_id_++;
    r.size = size;
    r.ex_list = list;
    r.due = Clock::now() + std::chrono::milliseconds(delay_ms);
    queue_.push_back(std::move(r));
    cv_.notify_all();
    return 0;
}

void Stream::start_consumer()
{
    if (!consumer_.joinable()) {
        consumer_ = std::thread([this] { consume_loop(); });
        notifier_ = std::thread([this] { notice_loop(); });
    }
}

void Stream::consume_loop()
{
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [this] { return stopping_ || (!queue_.empty() && !held()); });
        if (stopping_)
            return;
        const Clock::time_point due = queue_.front().due;
        const uint32_t id = queue_.front().id;
        // A flush may take the request away while it waits for its time.
        if (cv_.wait_until(lock, due, [&] { return stopping_ || queue_.empty() || queue_.front().id != id; }))
            continue;
        const Request r = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        consume(r);
        // The slices are the client's again before it hears so.
        lock.lock();
        drop_locked(r);
        if (r.ex_list == 0 && registered_)
            notices_.push_back(r.id);
        busy_ = false;
        cv_.notify_all();
    }
}

// Reads the buffer's bytes into the stream's checksum, without the lock:
// sends go on meanwhile, and the memory stays mapped until the request is
// dropped.
void Stream::consume(const Request &r)
{
    const uint8_t *ex_map = nullptr;
    if (r.ex_list) {
        std::lock_guard<std::mutex> lock(mu_);
        ex_map = ex_.at(r.ex_list).slots.map;
    }
    const bool check = checking();
    uint32_t left = r.size;
    if (ex_map && check)
        hash_.update(ex_map, left);
    for (uint32_t idx : r.slices) {
        const uint32_t n = std::min(left, slice_bytes_);
        if (check)
            hash_.update(slices_.map + uint64_t{idx} * slice_bytes_, n);
        left -= n;
    }
    std::lock_guard<std::mutex> lock(mu_);
    stats_.hash = hash_;
    if (!check)
        stats_.unchecked += r.size;
    ++stats_.buffers;
}

void Stream::notice_loop()
{
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [this] { return stopping_ || !notices_.empty(); });
        if (stopping_)
            return;
        const uint32_t id = notices_.front();
        notices_.pop_front();
        notifying_ = true;
        RPC_ARG_T args[kNoticeArgs];
        rpc_arg_set(args[0], ARG_TYPE_UINT32, 0);
        rpc_arg_set(args[1], ARG_TYPE_TAG, tag_);
        rpc_arg_set(args[2], ARG_TYPE_UINT32, id);
        rpc_arg_set(args[3], ARG_TYPE_UINT32, 0);
        const int32_t conn = conn_;
        lock.unlock();
        RPC_ARG_T result{};
        const int32_t rc = rpc_do_cb(conn, kNotice, nullptr, kNoticeArgs, args, &result, -1);
        rpc_del(0);
        lock.lock();
        ++stats_.notices;
        if (rc != RPCR_OK || result.u.i1 != 0)
            ++stats_.failed;
        notifying_ = false;
        cv_.notify_all();
    }
}

// The request's memory may be sent again (slices) or is gone (Ex).
void Stream::drop_locked(const Request &r)
{
    for (uint32_t idx : r.slices)
        queued_[idx] = false;
    if (r.ex_list) {
        auto it = ex_.find(r.ex_list);
        if (it != ex_.end()) {
            it->second.release();
            ex_.erase(it);
        }
    }
}

bool Stream::drain()
{
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, kDrainWait,
                        [this] { return queue_.empty() && !busy_ && notices_.empty() && !notifying_; });
}

// Stop: what was sent and not yet consumed is dropped without a notice.
void Stream::flush()
{
    std::unique_lock<std::mutex> lock(mu_);
    for (const Request &r : queue_)
        drop_locked(r);
    queue_.clear();
    cv_.notify_all();
    cv_.wait(lock, [this] { return !busy_; });
}

std::string Stream::stat()
{
    std::lock_guard<std::mutex> lock(mu_);
    char b[160];
    std::snprintf(b, sizeof b, "ok %llu %016llx %llu %llu %llu %zu",
                  static_cast<unsigned long long>(stats_.hash.bytes() + stats_.unchecked),
                  static_cast<unsigned long long>(stats_.hash.value()), static_cast<unsigned long long>(stats_.buffers),
                  static_cast<unsigned long long>(stats_.notices), static_cast<unsigned long long>(stats_.failed),
                  queue_.size());
    return b;
}

void Stream::end()
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
        cv_.notify_all();
    }
    if (consumer_.joinable())
        consumer_.join();
    if (notifier_.joinable())
        notifier_.join();
    std::lock_guard<std::mutex> lock(mu_);
    for (auto &b : ex_)
        b.second.release();
    ex_.clear();
    queue_.clear();
    slices_.release();
}

std::shared_ptr<Stream> find_stream(uint32_t h, bool make)
{
    Push &p = push();
    std::lock_guard<std::mutex> lock(p.mu);
    auto it = p.streams.find(h);
    if (it != p.streams.end())
        return it->second;
    if (!make || p.streams.size() >= kMaxStreams)
        return nullptr;
    auto s = std::make_shared<Stream>(h);
    p.streams[h] = s;
    return s;
}

std::shared_ptr<Stream> take_stream(uint32_t h)
{
    Push &p = push();
    std::lock_guard<std::mutex> lock(p.mu);
    auto it = p.streams.find(h);
    if (it == p.streams.end())
        return nullptr;
    auto s = it->second;
    p.streams.erase(it);
    return s;
}

Config config()
{
    std::lock_guard<std::mutex> lock(push().mu);
    return push().cfg;
}

// The playback handle of a push operation's argument 0.
bool push_handle(const RPC_ARG_T &arg, uint32_t &h)
{
    h = arg.u.ui4;
    return arg.e_type == ARG_TYPE_UINT32;
}

// What push mode does with the stream of the playback in argument 0
// (made on first use).
using StreamOp = int8_t (*)(Stream &s, const Config &cfg, int32_t conn, RPC_ARG_T *args);

// A call of another shape is no push call: it gets the usual answer, 0.
int8_t on_stream(int32_t conn, uint32_t argc, RPC_ARG_T *args, uint32_t shape, StreamOp op)
{
    uint32_t h = 0;
    if (argc != shape || !push_handle(args[0], h))
        return 0;
    const Config cfg = config();
    auto s = find_stream(h, true);
    return s ? op(*s, cfg, conn, args) : kFail;
}

int8_t slice_info(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return on_stream(conn, argc, args, 2,
                     [](Stream &s, const Config &cfg, int32_t, RPC_ARG_T *a) { return s.slice_info(cfg, a[1]); });
}

int8_t slice_handles(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return on_stream(conn, argc, args, 3, [](Stream &s, const Config &, int32_t, RPC_ARG_T *a) {
        return s.slice_handles(a[1].u.ui4, a[2]);
    });
}

int8_t register_notice(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return on_stream(conn, argc, args, 2, [](Stream &s, const Config &, int32_t c, RPC_ARG_T *a) {
        s.register_notice(c, a[1].u.ui8);
        return int8_t{0};
    });
}

int8_t send_data(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return on_stream(conn, argc, args, 5, [](Stream &s, const Config &cfg, int32_t, RPC_ARG_T *a) {
        return s.send(a[1].u.ui4, a[2].u.ui4, a[3], a[4], cfg.delay_ms);
    });
}

int8_t get_buffer_ex(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return on_stream(conn, argc, args, 5, [](Stream &s, const Config &cfg, int32_t, RPC_ARG_T *a) {
        return s.get_ex(cfg, a[2].u.ui4, a[3], a[4]);
    });
}

int8_t send_data_ex(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return on_stream(conn, argc, args, 5, [](Stream &s, const Config &cfg, int32_t, RPC_ARG_T *a) {
        return s.send_ex(a[2].u.ui4, a[3].u.ui4, a[4].u.ui4, cfg.delay_ms);
    });
}

// The end of the stream: answered once all that was sent is consumed.
int8_t end_of_stream(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    uint32_t h = 0;
    if (argc < 1 || !push_handle(args[0], h))
        return 0;
    auto s = find_stream(h, false);
    return !s || s->drain() ? 0 : kFail;
}

const Operation kPushOps[] = {
    {"x_QivPb_Ctrl_SetPushModelEOS", scripted<end_of_stream>},
    {"x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Info", scripted<slice_info>},
    {"x_QivPb_Ctrl_Ipc_Get_Mem_Slice_Handle", scripted<slice_handles>},
    {"x_QivPb_Ctrl_Ipc_RegSendDataNfyCallback", scripted<register_notice>},
    {"x_QivPb_Ctrl_SendData", scripted<send_data>},
    {"x_QivPb_Ctrl_GetBufferEx", scripted<get_buffer_ex>},
    {"x_QivPb_Ctrl_SendDataEx", scripted<send_data_ex>},
};

std::string config_command(const std::string &what, std::istringstream &in)
{
    std::string a, b;
    in >> a >> b;
    uint64_t n = 0, m = 0;
    Push &p = push();
    std::lock_guard<std::mutex> lock(p.mu);
    if (what == "slices" && parse_number(a, n) && parse_number(b, m) && n && n <= kMaxSlices && m &&
        m <= kMaxSliceBytes && n * m <= kMaxPushBytes) {
        p.cfg.slices = static_cast<uint32_t>(n);
        p.cfg.slice_bytes = static_cast<uint32_t>(m);
    } else if (what == "ex" && parse_number(a, n) && parse_number(b, m) && n && n <= kMaxSliceBytes && m &&
               m <= kMaxExOutstanding) {
        p.cfg.ex_bytes = static_cast<uint32_t>(n);
        p.cfg.ex_max = static_cast<uint32_t>(m);
    } else if (what == "delay" && parse_number(a, n) && n <= kMaxDelayMs) {
        p.cfg.delay_ms = n;
    } else if (what == "check" && (a == "on" || a == "off")) {
        p.cfg.check = a == "on";
    } else {
        return "error usage: push slices COUNT BYTES | ex BYTES MAX | delay MS | check on|off";
    }
    return "ok";
}

} // namespace

void install_push() { register_ops(kPushOps); }

void push_stopped(const RPC_ARG_T &pb)
{
    uint32_t h = 0;
    if (!push_handle(pb, h))
        return;
    if (auto s = find_stream(h, false))
        s->flush();
}

void push_closed(const RPC_ARG_T &pb)
{
    uint32_t h = 0;
    auto s = push_handle(pb, h) ? take_stream(h) : nullptr;
    if (!s)
        return;
    s->end();
    const std::string last = s->stat();
    std::lock_guard<std::mutex> lock(push().mu);
    if (push().closed.size() >= kMaxStreams)
        push().closed.erase(push().closed.begin());
    push().closed[h] = last;
}

std::string push_command(std::istringstream &in)
{
    std::string what;
    in >> what;
    if (what == "hold" || what == "go") {
        std::vector<std::shared_ptr<Stream>> all;
        {
            std::lock_guard<std::mutex> lock(push().mu);
            push().cfg.hold = what == "hold";
            for (auto &s : push().streams)
                all.push_back(s.second);
        }
        for (auto &s : all)
            s->wake();
        return "ok";
    }
    if (what == "stat" || what == "drain") {
        std::string h_text;
        uint64_t h = 0;
        in >> h_text;
        auto s = parse_number(h_text, h) && h <= UINT32_MAX ? find_stream(static_cast<uint32_t>(h), false) : nullptr;
        if (!s) {
            std::lock_guard<std::mutex> lock(push().mu);
            auto it = push().closed.find(static_cast<uint32_t>(h));
            return it != push().closed.end() ? it->second : "error no push playback " + h_text;
        }
        if (what == "drain" && !s->drain())
            return "error still consuming";
        return s->stat();
    }
    return config_command(what, in);
}

void push_reset()
{
    std::map<uint32_t, std::shared_ptr<Stream>> all;
    {
        std::lock_guard<std::mutex> lock(push().mu);
        all.swap(push().streams);
        push().closed.clear();
        push().cfg = Config{};
    }
    for (auto &s : all)
        s.second->end();
}

} // namespace pbsim
