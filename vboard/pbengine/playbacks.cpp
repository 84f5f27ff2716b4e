#include "playbacks.h"

#include "pull_play.h"
#include "sim.h"
#include "sim_text.h"

#include "pbengine/events.h"

#include "qiv_records.h"

#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace pbsim {

namespace {

constexpr uint32_t kPullModel = 2;
constexpr int8_t kPlayFailed = -1;
constexpr int8_t kAlreadyPlaying = -1;
constexpr uint64_t kProgressSteps = 10;
constexpr size_t kKeptOutcomes = 64;

// One play: its thread and, once done, what it read.
struct Run {
    std::atomic<bool> stop{false};
    std::thread thread;
    std::mutex join_mu;
    bool done = false; // under the playbacks' mutex, as outcome
    PullOutcome outcome;

    void finish()
    {
        stop = true;
        std::lock_guard<std::mutex> lock(join_mu);
        if (thread.joinable())
            thread.join();
    }
};

struct Playback {
    uint32_t model = 0;
    uint64_t pull_tag = 0;
    uint64_t event_func = 0;
    uint64_t event_tag = 0;
    std::shared_ptr<Run> run;
};

struct Playbacks {
    std::mutex mu;
    std::map<uint32_t, Playback> by_handle;
    // What closed playbacks read, the newest kKeptOutcomes (handles only grow).
    std::map<uint32_t, PullOutcome> closed;
};

Playbacks &playbacks()
{
    static auto *p = new Playbacks;
    return *p;
}

// Raises one event with its record through the client's event handler.
void raise_event(int32_t conn, const Playback &pb, uint32_t event, const void *record, uint32_t size)
{
    if (!pb.event_func)
        return;
    RPC_ARG_T args[3], result{};
    rpc_arg_set(args[0], ARG_TYPE_UINT32, event);
    rpc_arg_set(args[1], ARG_TYPE_TAG, pb.event_tag);
    rpc_add_ref_buff(0, record, size);
    rpc_arg_set_ptr(args[2], ARG_TYPE_DESC_IN, record);
    rpc_do_cb(conn, "x_qivpbctrl_nfy_fct", reinterpret_cast<void *>(static_cast<uintptr_t>(pb.event_func)), 3, args,
              &result, -1);
    rpc_del(0);
}

// Reads the whole input as pullplay does, with a progress event at every
// tenth of it and the end-of-stream event last.
void play(int32_t conn, uint32_t h_pb, Playback pb, std::shared_ptr<Run> run)
{
    uint64_t step = 0;
    const auto progress = [&](uint64_t bytes, uint64_t length) {
        const uint64_t now = length ? bytes * kProgressSteps / length : kProgressSteps;
        if (now == step)
            return;
        step = now;
        const PlayProgress p{bytes, length};
        raise_event(conn, pb, kEventProgress, &p, sizeof p);
    };
    PullOutcome out = run_pull(conn, h_pb, pb.pull_tag, kDefaultSlices, kDefaultSliceBytes, progress, run->stop);
    const PlayEnd end{out.error.empty() ? 0 : kPlayFailed, 0, out.bytes, out.sum};
    {
        std::lock_guard<std::mutex> lock(playbacks().mu);
        run->outcome = std::move(out);
        run->done = true;
    }
    raise_event(conn, pb, kEventEndOfStream, &end, sizeof end);
}

} // namespace

// The pull tag of a pull playback's engine parameters: the substitute
// record's tag word.
bool pull_tag_of(const RPC_ARG_T &arg, uint64_t &tag)
{
    const auto *p = static_cast<const uint8_t *>(rpc_arg_ptr(arg));
    if (!p || rpc_local_region_size(p) < sizeof(IQIV_PB_CTRL_PULL_PARAM_T))
        return false;
    void *v;
    std::memcpy(&v, p + offsetof(IQIV_PB_CTRL_PULL_PARAM_T, tPullInfo.pvTag), sizeof v);
    tag = reinterpret_cast<uintptr_t>(v);
    return true;
}

namespace {

// Starts a play of a pull playback; the answer is 0 for any other playback.
int8_t start_play(int32_t conn, uint32_t h_pb)
{
    std::shared_ptr<Run> previous;
    {
        Playbacks &ps = playbacks();
        std::lock_guard<std::mutex> lock(ps.mu);
        auto it = ps.by_handle.find(h_pb);
        if (it == ps.by_handle.end() || it->second.model != kPullModel || !it->second.pull_tag)
            return 0;
        Playback &pb = it->second;
        if (pb.run && !pb.run->done)
            return kAlreadyPlaying;
        previous = pb.run;
        pb.run = std::make_shared<Run>();
        try {
            pb.run->thread = std::thread(play, conn, h_pb, pb, pb.run);
        } catch (...) {
            pb.run.reset();
            return kPlayFailed;
        }
    }
    if (previous)
        previous->finish();
    return 0;
}

// Stops a play and waits for its end; the answer is -1 only for a play
// that failed on its own.
int8_t stop_play(uint32_t h_pb, bool forget)
{
    std::shared_ptr<Run> run;
    bool was_running = false;
    {
        Playbacks &ps = playbacks();
        std::lock_guard<std::mutex> lock(ps.mu);
        auto it = ps.by_handle.find(h_pb);
        if (it == ps.by_handle.end())
            return 0;
        run = it->second.run;
        was_running = run && !run->done;
        if (forget)
            ps.by_handle.erase(it);
    }
    if (!run)
        return 0;
    run->finish();
    Playbacks &ps = playbacks();
    std::lock_guard<std::mutex> lock(ps.mu);
    if (forget) {
        ps.closed[h_pb] = run->outcome;
        if (ps.closed.size() > kKeptOutcomes)
            ps.closed.erase(ps.closed.begin());
    }
    return run->outcome.error.empty() || was_running ? 0 : kPlayFailed;
}

// The playback an operation names in argument 0, or nullptr; with the
// playbacks' lock held.
Playback *named_playback(uint32_t argc, const RPC_ARG_T *args)
{
    if (argc < 1)
        return nullptr;
    auto it = playbacks().by_handle.find(args[0].u.ui4);
    return it == playbacks().by_handle.end() ? nullptr : &it->second;
}

int8_t register_events(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    std::lock_guard<std::mutex> lock(playbacks().mu);
    Playback *pb = named_playback(argc, args);
    if (pb && argc >= 3) {
        pb->event_tag = args[1].u.ui8;
        pb->event_func = args[2].u.ui8;
    }
    return 0;
}

int8_t set_engine_param(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    std::lock_guard<std::mutex> lock(playbacks().mu);
    Playback *pb = named_playback(argc, args);
    uint64_t tag = 0;
    if (pb && argc >= 2 && pb->model == kPullModel && pull_tag_of(args[1], tag))
        pb->pull_tag = tag;
    return 0;
}

const Operation kPlaybackOps[] = {
    {"x_QivPb_Ctrl_RegCallback", scripted<register_events>},
    {"x_QivPb_Ctrl_SetEngineParam", scripted<set_engine_param>},
    {"x_QivPb_Ctrl_SetEngineParamAsync", scripted<set_engine_param>},
};

} // namespace

void playback_opened(uint32_t h_pb, uint32_t e_buf_mod)
{
    std::lock_guard<std::mutex> lock(playbacks().mu);
    playbacks().by_handle[h_pb] = Playback{e_buf_mod, 0, 0, 0, nullptr};
}

int8_t playback_play(int32_t conn, uint32_t h_pb) { return start_play(conn, h_pb); }

int8_t playback_stop(uint32_t h_pb) { return stop_play(h_pb, false); }

void playback_closed(uint32_t h_pb) { stop_play(h_pb, true); }

void install_playbacks() { register_ops(kPlaybackOps); }

std::string played_command(std::istringstream &in)
{
    std::string text;
    uint64_t h = 0;
    in >> text;
    if (!parse_number(text, h))
        return "error usage: played PB_HANDLE";
    Playbacks &ps = playbacks();
    std::lock_guard<std::mutex> lock(ps.mu);
    const auto closed = ps.closed.find(static_cast<uint32_t>(h));
    if (closed != ps.closed.end())
        return outcome_line(closed->second);
    auto it = ps.by_handle.find(static_cast<uint32_t>(h));
    if (it == ps.by_handle.end() || !it->second.run)
        return "error not played";
    if (!it->second.run->done)
        return "error still playing";
    return outcome_line(it->second.run->outcome);
}

void playbacks_reset()
{
    std::map<uint32_t, Playback> all;
    {
        std::lock_guard<std::mutex> lock(playbacks().mu);
        all.swap(playbacks().by_handle);
        playbacks().closed.clear();
    }
    for (auto &entry : all)
        if (entry.second.run)
            entry.second.run->finish();
}

} // namespace pbsim
