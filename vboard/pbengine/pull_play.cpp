#include "pull_play.h"

#include "checksum.h"
#include "sim_text.h"

#include "korm.h"
#include "rpcipc.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace pbsim {

namespace {

constexpr uint64_t kMaxSlices = 64;
constexpr uint64_t kMaxSliceBytes = 4 * 1024 * 1024;
constexpr auto kCompletionWait = std::chrono::seconds(10);
constexpr uint8_t kSeekSet = 0;

struct Completion {
    bool done = false;
    uint8_t cond = 0;
    uint32_t data1 = 0;
    uint32_t data2 = 0;
};

struct Completions {
    std::mutex mu;
    std::condition_variable cv;
    uint64_t next_tag = 1;
    std::map<uint64_t, Completion> pending;
};

// Off: bytes read are counted, not read into the checksum (the benchmark's
// lean reader, so that its figure is the library's and the transport's).
std::atomic<bool> g_check{true};

Completions &completions()
{
    static auto *c = new Completions;
    return *c;
}

// The engine's own notify function: the client hands its address back with
// every completion, as it got it with the read.
void engine_read_done() {}

int32_t read_done_op(int32_t, const char *, void *, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    if (argc != 5 || rpc_arg_ptr(args[0]) != reinterpret_cast<void *>(&engine_read_done))
        return RPCR_INV_ARGS;
    Completions &c = completions();
    {
        std::lock_guard<std::mutex> lock(c.mu);
        auto it = c.pending.find(args[2].u.ui8);
        if (it == c.pending.end())
            return RPCR_INV_ARGS;
        it->second = Completion{true, args[1].u.ui1, args[3].u.ui4, args[4].u.ui4};
    }
    c.cv.notify_all();
    rpc_arg_set(*result, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

// One pull playback against one client connection.
class Player {
public:
    Player(int32_t conn, uint32_t pb, uint64_t tag, const PullProgress &progress, const std::atomic<bool> &stop)
        : conn_(conn), pb_(pb), tag_(tag), progress_(progress), stop_(stop)
    {
    }

    // Calls a client handler; its place arguments are written back into
    // places_ (one 64-bit place per argument). Empty on success.
    std::string call(const char *name, std::vector<RPC_ARG_T> args, const void *record = nullptr,
                     uint32_t record_size = 0)
    {
        places_.assign(args.size(), 0);
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i].e_type == ARG_TYPE_REF_UINT32_OUT || args[i].e_type == ARG_TYPE_REF_UINT64_OUT)
                rpc_arg_set_ptr(args[i], args[i].e_type, &places_[i]);
        }
        if (record)
            rpc_add_ref_buff(0, record, record_size);
        RPC_ARG_T result{};
        int32_t rc = rpc_do_cb(conn_, name, nullptr, static_cast<uint32_t>(args.size()), args.data(), &result, -1);
        rpc_del(0);
        if (rc == RPCR_PEER_FAILED)
            rc = rpc_peer_status();
        if (rc != RPCR_OK || result.u.i1 != 0)
            return std::string("error ") + name + " " + std::to_string(rc) + " " + std::to_string(result.u.i1);
        return "";
    }

    RPC_ARG_T value(uint32_t code, uint64_t v) const
    {
        RPC_ARG_T a;
        rpc_arg_set(a, code, v);
        return a;
    }
    RPC_ARG_T tag() const { return value(ARG_TYPE_TAG, tag_); }
    RPC_ARG_T pull() const { return value(ARG_TYPE_UINT32, pull_); }
    RPC_ARG_T place(uint32_t code) const { return value(code, 0); }

    PullOutcome play(uint32_t slices, uint32_t slice_bytes)
    {
        PullOutcome out;
        out.error = open_and_stream(slices, slice_bytes);
        out.bytes = total_;
        out.sum = sum_.value();
        out.length = length_;
        return out;
    }

    ~Player()
    {
        if (local_)
            x_kmem_block_unmap(local_);
        for (HANDLE_T h : blocks_)
            x_kmem_block_free(h);
    }

private:
    std::string open_and_stream(uint32_t slices, uint32_t slice_bytes)
    {
        if (!alloc(slices, slice_bytes))
            return "error cannot allocate slices";
        std::string err = call("x_qivpbctrl_pull_open_nfy_fct",
                               {value(ARG_TYPE_UINT32, pb_), place(ARG_TYPE_REF_UINT32_OUT), tag()});
        if (!err.empty())
            return err;
        pull_ = static_cast<uint32_t>(places_[1]);
        err = stream();
        const std::string close_err = call("x_qivpbctrl_pull_close_nfy_fct", {pull(), tag()});
        return err.empty() ? close_err : err;
    }

    bool alloc(uint32_t slices, uint32_t slice_bytes)
    {
        for (uint32_t i = 0; i < slices; ++i) {
            const HANDLE_T h = x_kmem_block_alloc(slice_bytes);
            if (!h)
                return false;
            blocks_.push_back(h);
        }
        local_ = static_cast<uint8_t *>(x_kmem_block_multimap(slices, blocks_.data()));
        map_bytes_ = slices * slice_bytes;
        return local_ != nullptr;
    }

    // Length, map, a first read undone by a seek to the start, then the
    // whole input in halves of the map, synchronous and asynchronous in
    // turn, and the unmap.
    std::string stream()
    {
        std::string err = call("x_qivpbctrl_get_input_length_nfy_fct", {pull(), tag(), place(ARG_TYPE_REF_UINT64_OUT)});
        if (!err.empty())
            return err;
        length_ = places_[2];
        const uint32_t count = static_cast<uint32_t>(blocks_.size());
        err = call("x_qivpbctrl_pull_MapMemSlice_nfy_fct",
                   {pull(), tag(), value(ARG_TYPE_UINT32, count),
                    value(ARG_TYPE_DESC_IN, reinterpret_cast<uintptr_t>(blocks_.data())),
                    place(ARG_TYPE_REF_UINT32_OUT)},
                   blocks_.data(), count * sizeof(HANDLE_T));
        if (!err.empty())
            return err;
        map_id_ = static_cast<uint32_t>(places_[4]);
        err = read_all(length_);
        const std::string unmap_err = call("x_qivpbctrl_pull_UnmapMemSlice_nfy_fct",
                                           {pull(), value(ARG_TYPE_UINT32, map_id_), tag()});
        return err.empty() ? unmap_err : err;
    }

    std::string read_all(uint64_t length)
    {
        const uint32_t half = map_bytes_ / 2;
        uint32_t got = 0;
        std::string err = read_sync(0, half, got);
        if (!err.empty())
            return err;
        err = call("x_qivpbctrl_byteseek_nfy_fct", {pull(), tag(), value(ARG_TYPE_UINT32, 0),
                                                    value(ARG_TYPE_UINT8, kSeekSet), place(ARG_TYPE_REF_UINT64_OUT)});
        if (!err.empty())
            return err;
        if (places_[4] != 0)
            return "error seek to the start left the position at " + std::to_string(places_[4]);
        for (uint64_t i = 0; total_ < length; ++i) {
            const uint32_t offset = (i % 2) * half;
            err = i % 2 ? read_async(offset, half, got) : read_sync(offset, half, got);
            if (!err.empty())
                return err;
            if (got == 0 || got > half)
                return "error read gave " + std::to_string(got) + " bytes at " + std::to_string(total_);
            if (g_check.load())
                sum_.update(local_ + offset, got);
            total_ += got;
            if (progress_)
                progress_(total_, length);
            if (stop_.load())
                return "error stopped at " + std::to_string(total_);
        }
        return "";
    }

    std::string read_sync(uint32_t offset, uint32_t len, uint32_t &got)
    {
        std::string err = call("x_qivpbctrl_pull_read_nfy_fct",
                               {pull(), tag(), value(ARG_TYPE_UINT32, map_id_), value(ARG_TYPE_UINT32, offset),
                                value(ARG_TYPE_UINT32, len), place(ARG_TYPE_REF_UINT32_OUT)});
        got = static_cast<uint32_t>(places_[5]);
        return err;
    }

    std::string read_async(uint32_t offset, uint32_t len, uint32_t &got)
    {
        Completions &c = completions();
        uint64_t engine_tag;
        {
            std::lock_guard<std::mutex> lock(c.mu);
            engine_tag = c.next_tag++;
            c.pending[engine_tag] = Completion{};
        }
        std::string err = call("x_qivpbctrl_pull_read_async_nfy_fct",
                               {pull(), tag(), value(ARG_TYPE_UINT32, map_id_), value(ARG_TYPE_UINT32, offset),
                                value(ARG_TYPE_UINT32, len),
                                value(ARG_TYPE_FUNC, reinterpret_cast<uintptr_t>(&engine_read_done)),
                                place(ARG_TYPE_REF_UINT32_OUT), value(ARG_TYPE_TAG, engine_tag)});
        std::unique_lock<std::mutex> lock(c.mu);
        if (err.empty() && !c.cv.wait_for(lock, kCompletionWait, [&] { return c.pending[engine_tag].done; }))
            err = "error asynchronous read never completed";
        const Completion done = c.pending[engine_tag];
        c.pending.erase(engine_tag);
        got = done.data1;
        if (err.empty() && done.cond != 0)
            err = "error asynchronous read ended with condition " + std::to_string(done.cond);
        return err;
    }

    const int32_t conn_;
    const uint32_t pb_;
    const uint64_t tag_;
    const PullProgress &progress_;
    const std::atomic<bool> &stop_;
    uint32_t pull_ = 0;
    uint64_t length_ = 0;
    uint32_t map_id_ = 0;
    std::vector<HANDLE_T> blocks_;
    uint8_t *local_ = nullptr;
    uint32_t map_bytes_ = 0;
    std::vector<uint64_t> places_;
    uint64_t total_ = 0;
    Checksum sum_;
};

} // namespace

void install_pull() { rpc_reg_op_hndlr("x_QivPb_Ctrl_Pull_Nfy_Fct", read_done_op); }

std::string pull_play(int32_t conn, std::istringstream &in)
{
    std::string pb_text, tag_text, slices_text, bytes_text;
    uint64_t pb = 0, tag = 0, slices = kDefaultSlices, bytes = kDefaultSliceBytes;
    in >> pb_text >> tag_text >> slices_text >> bytes_text;
    const bool sized = slices_text.empty() || (parse_number(slices_text, slices) && parse_number(bytes_text, bytes));
    if (!parse_number(pb_text, pb) || !parse_number(tag_text, tag) || !sized || slices == 0 || slices > kMaxSlices ||
        bytes == 0 || bytes > kMaxSliceBytes || pb > UINT32_MAX)
        return "error usage: pullplay PB_HANDLE TAG [SLICES SLICE_BYTES]";
    const std::atomic<bool> never{false};
    const PullOutcome out = run_pull(conn, static_cast<uint32_t>(pb), tag, static_cast<uint32_t>(slices),
                                     static_cast<uint32_t>(bytes), nullptr, never);
    return outcome_line(out);
}

std::string pull_command(std::istringstream &in)
{
    std::string what, a;
    in >> what >> a;
    if (what != "check" || (a != "on" && a != "off"))
        return "error usage: pull check on|off";
    g_check = a == "on";
    return "ok";
}

void pull_reset() { g_check = true; }

std::string outcome_line(const PullOutcome &out)
{
    if (!out.error.empty())
        return out.error;
    char b[64];
    std::snprintf(b, sizeof b, "ok %llu %016llx", static_cast<unsigned long long>(out.bytes),
                  static_cast<unsigned long long>(out.sum));
    return b;
}

PullOutcome run_pull(int32_t conn, uint32_t pb, uint64_t tag, uint32_t slices, uint32_t slice_bytes,
                     const PullProgress &progress, const std::atomic<bool> &stop)
{
    Player player(conn, pb, tag, progress, stop);
    return player.play(slices, slice_bytes);
}

} // namespace pbsim
