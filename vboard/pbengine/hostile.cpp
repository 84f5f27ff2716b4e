#include "hostile.h"

#include "blocks.h"
#include "playbacks.h"
#include "sim_text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace pbsim {

namespace {

using Rng = std::mt19937_64;

constexpr unsigned kPumps = 3;            // call-backs in flight at once
constexpr int32_t kCallBackWaitMs = 5000; // longer than this: a stalled client
constexpr size_t kMaxRemembered = 16;     // values of each kind kept to lie with
constexpr size_t kMaxLiarBlocks = 24;     // blocks of the wrong size kept at once
constexpr uint32_t kMaxStallMs = 20;
constexpr uint32_t kCloseRaceMs = 3;   // call-backs in flight while a close answers
constexpr uint32_t kMaxPauseUs = 2000; // between two call-backs of one thread
constexpr uint32_t kMaxListHandles = 6;
constexpr uint32_t kMapIds = 22; // a few past the client's 20 maps
constexpr size_t kEncAudioBytes = 16, kEncFrameBytes = 88, kSpRecordBytes = 68;
constexpr size_t kSpMemAt = 60, kSpOffsetAt = 64;
constexpr uint32_t kBlockSizes[] = {16, 100, 4096, 12288};
constexpr int8_t kFailures[] = {-1, -2, -3, -4, -9, -100, 1};
constexpr uint32_t kEvents[] = {12, 16, 55, 200, 201};

// Lies kept out of the default run; made only when named.
// open-handle: an open answered with a handle that may be another open
// playback's (the library refuses such an open; new, so kept apart).
const char *const kKeptApart[] = {"open-handle"};

// The last distinct values of one kind.
struct Known {
    std::deque<uint64_t> values;
    void note(uint64_t v)
    {
        if (std::find(values.begin(), values.end(), v) != values.end())
            return;
        values.push_back(v);
        if (values.size() > kMaxRemembered)
            values.pop_front();
    }
    uint64_t pick(Rng &rng, uint64_t otherwise = 0) const
    {
        return values.empty() ? otherwise : values[rng() % values.size()];
    }
};

struct Hostile {
    std::mutex mu;
    std::condition_variable cv;
    bool on = false;
    bool stopping = false;
    Rng rng;
    std::set<std::string> cases;        // kept-apart lies asked for
    std::map<std::string, Known> funcs; // per operation, the functions it brought
    Known tags, pull_tags, playbacks, pulls, requests, closing, freed;
    std::deque<uint32_t> blocks; // made here to lie with
    int32_t conn = 0;
    std::vector<std::thread> pumps;
    std::atomic<uint64_t> answers{0}, lies{0}, callbacks{0}, refused{0}, stalled{0};
};

Hostile &hostile()
{
    static auto *h = new Hostile;
    return *h;
}

bool asked_for(const Hostile &h, const char *lie)
{
    const bool apart = std::any_of(std::begin(kKeptApart), std::end(kKeptApart),
                                   [&](const char *k) { return std::strcmp(k, lie) == 0; });
    return !apart || h.cases.count(lie) || h.cases.count("all");
}

// A block smaller than any size the lies claim, a repeated one, or one
// freed while the client may still hold it. Called with the lock held.
uint32_t liar_block(Hostile &h)
{
    if (!h.blocks.empty() && h.rng() % 3 == 0)
        return h.blocks[h.rng() % h.blocks.size()];
    if (h.blocks.size() >= kMaxLiarBlocks) {
        const uint32_t old = h.blocks.front();
        h.blocks.pop_front();
        free_made_block(old);
        h.freed.note(old);
    }
    const uint32_t b = alloc_kmem_block(kBlockSizes[h.rng() % std::size(kBlockSizes)]);
    if (b)
        h.blocks.push_back(b);
    return b;
}

// A size, count, handle or id that the client must not take on trust.
uint64_t lie(Hostile &h)
{
    switch (h.rng() % 12) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return UINT32_MAX;
    case 3:
        return 0x80000000u;
    case 4:
        return 4096;
    case 5:
        return 65536;
    case 6:
        return 1u << 20;
    case 7:
        return 257;
    case 8:
    case 9:
        return liar_block(h);
    case 10:
        return h.freed.pick(h.rng, h.rng());
    default:
        return h.rng() % 64;
    }
}

// Mostly one the client knows, else a lie.
uint64_t known_or_lie(Hostile &h, const Known &k) { return h.rng() % 4 ? k.pick(h.rng, lie(h)) : lie(h); }

// One call-back with its records and places.
struct CallBack {
    std::string name;
    uint64_t func = 0;
    std::vector<RPC_ARG_T> args;
    std::vector<std::vector<uint8_t>> records;
    std::vector<std::unique_ptr<uint64_t>> places;
    std::string note_place; // "pull": its first place is a pull handle to remember

    CallBack &value(uint32_t code, uint64_t v)
    {
        args.emplace_back();
        rpc_arg_set(args.back(), code, v);
        return *this;
    }
    CallBack &place(uint32_t code)
    {
        places.push_back(std::make_unique<uint64_t>(0));
        args.emplace_back();
        rpc_arg_set_ptr(args.back(), code, places.back().get());
        return *this;
    }
    // Words of 32 bits; a record is never empty.
    CallBack &record(std::vector<uint32_t> words)
    {
        if (words.empty())
            words.push_back(0);
        records.emplace_back(words.size() * sizeof(uint32_t));
        std::memcpy(records.back().data(), words.data(), records.back().size());
        args.emplace_back();
        rpc_arg_set_ptr(args.back(), ARG_TYPE_DESC_IN, records.back().data());
        return *this;
    }
};

std::vector<uint32_t> lies_of(Hostile &h, size_t n)
{
    std::vector<uint32_t> w(n);
    for (uint32_t &x : w)
        x = static_cast<uint32_t>(lie(h));
    return w;
}

// The pull handlers share their first arguments: a pull handle and the tag.
CallBack pull_call(Hostile &h, const char *name)
{
    CallBack cb;
    cb.name = name;
    cb.value(ARG_TYPE_UINT32, known_or_lie(h, h.pulls));
    cb.value(ARG_TYPE_TAG, known_or_lie(h, h.pull_tags));
    return cb;
}

uint64_t playback(Hostile &h)
{
    return h.rng() % 3 == 0 ? h.closing.pick(h.rng, lie(h)) : known_or_lie(h, h.playbacks);
}

CallBack event_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_nfy_fct";
    cb.func = h.funcs["x_QivPb_Ctrl_RegCallback"].pick(h.rng);
    const uint32_t event = h.rng() % 4 ? kEvents[h.rng() % std::size(kEvents)] : h.rng() % 300;
    cb.value(ARG_TYPE_UINT32, event).value(ARG_TYPE_TAG, known_or_lie(h, h.tags));
    if (event == 55 && h.rng() % 2)
        cb.record(lies_of(h, h.rng() % 4));
    else
        cb.value(ARG_TYPE_UINT32, lie(h));
    return cb;
}

CallBack pull_open_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_pull_open_nfy_fct";
    cb.value(ARG_TYPE_UINT32, playback(h)).place(ARG_TYPE_REF_UINT32_OUT);
    cb.value(ARG_TYPE_TAG, known_or_lie(h, h.pull_tags));
    cb.note_place = "pull";
    return cb;
}

CallBack pull_map_call(Hostile &h)
{
    CallBack cb = pull_call(h, "x_qivpbctrl_pull_MapMemSlice_nfy_fct");
    const uint32_t n = 1 + h.rng() % kMaxListHandles;
    cb.value(ARG_TYPE_UINT32, h.rng() % 2 ? n : lie(h)).record(lies_of(h, n));
    cb.place(ARG_TYPE_REF_UINT32_OUT);
    return cb;
}

CallBack pull_unmap_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_pull_UnmapMemSlice_nfy_fct";
    cb.value(ARG_TYPE_UINT32, known_or_lie(h, h.pulls)).value(ARG_TYPE_UINT32, 1 + h.rng() % kMapIds);
    cb.value(ARG_TYPE_TAG, known_or_lie(h, h.pull_tags));
    return cb;
}

// A read of a map: map id, offset and length, all possibly lies.
CallBack pull_read_call(Hostile &h, bool async)
{
    CallBack cb = pull_call(h, async ? "x_qivpbctrl_pull_read_async_nfy_fct" : "x_qivpbctrl_pull_read_nfy_fct");
    cb.value(ARG_TYPE_UINT32, 1 + h.rng() % kMapIds).value(ARG_TYPE_UINT32, h.rng() % 2 ? 0 : lie(h));
    cb.value(ARG_TYPE_UINT32, lie(h));
    if (async)
        cb.value(ARG_TYPE_FUNC, h.rng()).place(ARG_TYPE_REF_UINT32_OUT).value(ARG_TYPE_TAG, h.rng());
    else
        cb.place(ARG_TYPE_REF_UINT32_OUT);
    return cb;
}

CallBack pull_misc_call(Hostile &h)
{
    switch (h.rng() % 4) {
    case 0:
        return pull_call(h, "x_qivpbctrl_pull_close_nfy_fct");
    case 1: {
        CallBack cb = pull_call(h, "x_qivpbctrl_pull_abort_read_nfy_fct");
        cb.value(ARG_TYPE_UINT32, lie(h));
        return cb;
    }
    case 2: {
        CallBack cb = pull_call(h, "x_qivpbctrl_byteseek_nfy_fct");
        cb.value(ARG_TYPE_UINT32, lie(h)).value(ARG_TYPE_UINT8, h.rng() % 4).place(ARG_TYPE_REF_UINT64_OUT);
        return cb;
    }
    default: {
        CallBack cb = pull_call(h, "x_qivpbctrl_get_input_length_nfy_fct");
        cb.place(ARG_TYPE_REF_UINT64_OUT);
        return cb;
    }
    }
}

CallBack push_notice_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_Ipc_SendData_nfy_fct";
    // Id 0 is also what a buffer handed out but not yet sent holds.
    const uint64_t id = h.rng() % 8 ? known_or_lie(h, h.requests) : 0;
    cb.value(ARG_TYPE_UINT32, h.rng() % 8 == 0).value(ARG_TYPE_TAG, known_or_lie(h, h.tags));
    cb.value(ARG_TYPE_UINT32, id).value(ARG_TYPE_UINT32, 0);
    return cb;
}

// A buffer of an encoder call-back: block, offset and length.
std::vector<uint32_t> enc_buffer(Hostile &h)
{
    return {static_cast<uint32_t>(lie(h)), static_cast<uint32_t>(h.rng() % 2 ? 0 : lie(h)),
            static_cast<uint32_t>(lie(h))};
}

CallBack encoder_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_Enc_Buf_Cb_Fct";
    cb.func = h.funcs["x_QivPb_Ctrl_Ext_SetEncBufferParm"].pick(h.rng);
    std::vector<uint32_t> audio{static_cast<uint32_t>(h.rng())};
    const std::vector<uint32_t> buf = enc_buffer(h);
    audio.insert(audio.end(), buf.begin(), buf.end());
    audio.resize(h.rng() % 4 ? kEncAudioBytes / 4 : h.rng() % 4);
    const uint32_t frames = h.rng() % 3;
    std::vector<uint32_t> frame_words;
    for (uint32_t i = 0; i < frames; ++i) {
        std::vector<uint32_t> f = enc_buffer(h);
        const std::vector<uint32_t> second = h.rng() % 2 ? enc_buffer(h) : std::vector<uint32_t>{0, 0, 0};
        f.insert(f.end(), second.begin(), second.end());
        f.resize(kEncFrameBytes / 4, static_cast<uint32_t>(h.rng()));
        frame_words.insert(frame_words.end(), f.begin(), f.end());
    }
    cb.value(ARG_TYPE_UINT32, h.rng()).value(ARG_TYPE_UINT32, h.rng() % 3).record(audio);
    cb.value(ARG_TYPE_UINT32, playback(h)).value(ARG_TYPE_UINT32, h.rng() % 2 ? frames : lie(h));
    cb.record(frame_words);
    return cb;
}

CallBack filter_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_filter_allocate_nfy_fct";
    cb.value(ARG_TYPE_UINT32, playback(h)).value(ARG_TYPE_UINT32, h.rng());
    cb.value(ARG_TYPE_UINT32, lie(h)).value(ARG_TYPE_UINT32, lie(h)).value(ARG_TYPE_UINT32, h.rng());
    return cb;
}

CallBack subpicture_call(Hostile &h)
{
    CallBack cb;
    cb.name = "x_qivpbctrl_sp_nfy_fct";
    cb.func = h.funcs["x_QivPb_Ctrl_RegSpCallback"].pick(h.rng);
    std::vector<uint32_t> rec = lies_of(h, kSpRecordBytes / 4);
    rec[kSpMemAt / 4] = static_cast<uint32_t>(liar_block(h));
    rec[kSpOffsetAt / 4] = static_cast<uint32_t>(h.rng() % 2 ? 0 : lie(h));
    rec.resize(h.rng() % 4 ? rec.size() : h.rng() % rec.size());
    cb.value(ARG_TYPE_UINT32, playback(h)).value(ARG_TYPE_UINT8, h.rng()).value(ARG_TYPE_UINT32, h.rng());
    cb.record(rec);
    return cb;
}

// The few without buffers: PCM blocks, the DASH entry query (no function
// the client could have given) and the command line (a function it never
// handed out).
CallBack plain_call(Hostile &h)
{
    CallBack cb;
    switch (h.rng() % 3) {
    case 0:
        cb.name = "x_qivpbctrl_pcm_upload_nfy_fct";
        cb.func = h.funcs["x_QivPb_Ctrl_Start_PcmUpload_cb"].pick(h.rng);
        cb.value(ARG_TYPE_UINT32, lie(h)).value(ARG_TYPE_UINT32, lie(h));
        return cb;
    case 1:
        cb.name = "x_qivpbctrl_DASH_Get_Entry_Fct";
        for (int i = 0; i < 6; ++i)
            cb.value(ARG_TYPE_UINT32, lie(h));
        return cb;
    default:
        cb.name = "x_qivpbctrl_cli_fct";
        cb.func = h.rng() | 1;
        cb.value(ARG_TYPE_UINT32, 0);
        return cb;
    }
}

// Weighted towards the handlers that touch memory.
CallBack any_call(Hostile &h)
{
    switch (h.rng() % 12) {
    case 0:
        return event_call(h);
    case 1:
        return pull_open_call(h);
    case 2:
        return pull_map_call(h);
    case 3:
        return pull_unmap_call(h);
    case 4:
        return pull_read_call(h, false);
    case 5:
        return pull_read_call(h, true);
    case 6:
        return pull_misc_call(h);
    case 7:
        return push_notice_call(h);
    case 8:
        return encoder_call(h);
    case 9:
        return filter_call(h);
    case 10:
        return subpicture_call(h);
    default:
        return plain_call(h);
    }
}

void send(Hostile &h, int32_t conn, CallBack &cb)
{
    for (const std::vector<uint8_t> &r : cb.records)
        rpc_add_ref_buff(0, r.data(), static_cast<uint32_t>(r.size()));
    RPC_ARG_T result{};
    const int32_t rc = rpc_do_cb(conn, cb.name.c_str(), reinterpret_cast<void *>(static_cast<uintptr_t>(cb.func)),
                                 static_cast<uint32_t>(cb.args.size()), cb.args.data(), &result, kCallBackWaitMs);
    rpc_del(0);
    ++h.callbacks;
    if (rc == RPCR_NOT_OPENED) {
        // The client is gone (it may have crashed): wait for the next one.
        std::lock_guard<std::mutex> lock(h.mu);
        if (h.conn == conn)
            h.conn = 0;
    }
    if (rc == RPCR_TIMEOUT)
        ++h.stalled;
    else if (rc != RPCR_OK)
        ++h.refused;
    if (rc == RPCR_OK && cb.note_place == "pull" && *cb.places[0]) {
        std::lock_guard<std::mutex> lock(h.mu);
        h.pulls.note(*cb.places[0]);
    }
}

void pump(unsigned index, uint64_t seed)
{
    Hostile &h = hostile();
    Rng pause(seed + index);
    std::unique_lock<std::mutex> lock(h.mu);
    while (!h.stopping) {
        h.cv.wait_for(lock, std::chrono::microseconds(pause() % kMaxPauseUs), [&] { return h.stopping; });
        if (h.stopping || h.conn == 0)
            continue;
        CallBack cb = any_call(h);
        const int32_t conn = h.conn;
        lock.unlock();
        send(h, conn, cb);
        lock.lock();
    }
}

// What the client hands over: functions per operation, tags, playback
// handles, push request ids. Called with the lock held.
void note_handed_over(Hostile &h, const std::string &op, uint32_t argc, const RPC_ARG_T *args)
{
    for (uint32_t i = 0; i < argc; ++i) {
        if (args[i].e_type == ARG_TYPE_FUNC)
            h.funcs[op].note(args[i].u.ui8);
        else if (args[i].e_type == ARG_TYPE_TAG)
            h.tags.note(args[i].u.ui8);
    }
    uint64_t tag = 0;
    if (op.rfind("x_QivPb_Ctrl_SetEngineParam", 0) == 0 && argc >= 2 && pull_tag_of(args[1], tag))
        h.pull_tags.note(tag);
}

// What the answer hands back: playback handles and push request ids.
void note_answered(Hostile &h, const std::string &op, uint32_t argc, RPC_ARG_T *args)
{
    for (uint32_t i = 0; i < argc; ++i) {
        uint32_t width = 0;
        if (rpc_arg_kind(args[i].e_type, &width) != RPC_ARG_KIND_PLACE_OUT || !rpc_arg_ptr(args[i]))
            continue;
        uint64_t v = 0;
        std::memcpy(&v, rpc_arg_ptr(args[i]), width);
        if (op == "x_QivPb_Ctrl_Open")
            h.playbacks.note(v);
        else if (op.find("SendData") != std::string::npos)
            h.requests.note(v);
    }
}

// Places, out values and out records get lies; some results fail.
void lie_in_answer(Hostile &h, const std::string &op, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    const bool handles = op != "x_QivPb_Ctrl_Open" || asked_for(h, "open-handle");
    for (uint32_t i = 0; i < argc && handles; ++i) {
        uint32_t width = 0;
        const int32_t kind = rpc_arg_kind(args[i].e_type, &width);
        if (kind < 0 || h.rng() % 2)
            continue;
        void *p = rpc_arg_ptr(args[i]);
        if (kind == RPC_ARG_KIND_VALUE_OUT) {
            args[i].u.ui8 = lie(h);
        } else if (kind == RPC_ARG_KIND_PLACE_OUT && p) {
            const uint64_t v = lie(h);
            std::memcpy(p, &v, width);
        } else if (args[i].e_type == ARG_TYPE_DESC_OUT && p) {
            const uint32_t words = rpc_local_region_size(p) / sizeof(uint32_t);
            for (uint32_t w = 0; w < words; ++w) {
                if (h.rng() % 3)
                    continue;
                const auto v = static_cast<uint32_t>(lie(h));
                std::memcpy(static_cast<uint8_t *>(p) + w * sizeof v, &v, sizeof v);
            }
        } else {
            continue;
        }
        ++h.lies;
    }
    if (h.rng() % 8 == 0) {
        result->u.i1 = kFailures[h.rng() % std::size(kFailures)];
        ++h.lies;
    }
}

void stop_pumps(std::unique_lock<std::mutex> &lock)
{
    Hostile &h = hostile();
    h.stopping = true;
    h.cv.notify_all();
    std::vector<std::thread> pumps = std::move(h.pumps);
    lock.unlock();
    for (std::thread &t : pumps)
        t.join();
    lock.lock();
    h.stopping = false;
    h.on = false;
}

std::string start(std::istringstream &in, const std::string &seed_text)
{
    uint64_t seed = 0;
    if (!parse_number(seed_text, seed))
        return "error usage: hostile SEED [CASE...] | off | stat";
    Hostile &h = hostile();
    std::unique_lock<std::mutex> lock(h.mu);
    if (h.on)
        stop_pumps(lock);
    h.on = true;
    h.rng.seed(seed);
    h.cases.clear();
    for (std::string word; in >> word;)
        h.cases.insert(word);
    h.answers = h.lies = h.callbacks = h.refused = h.stalled = 0;
    for (unsigned i = 0; i < kPumps; ++i)
        h.pumps.emplace_back(pump, i, seed);
    return "ok";
}

} // namespace

std::string hostile_command(std::istringstream &in)
{
    std::string what;
    in >> what;
    Hostile &h = hostile();
    if (what == "off") {
        hostile_reset();
        return "ok";
    }
    if (what == "stat")
        return "ok " + std::to_string(h.answers) + " " + std::to_string(h.lies) + " " + std::to_string(h.callbacks) +
               " " + std::to_string(h.refused) + " " + std::to_string(h.stalled);
    return start(in, what);
}

void hostile_answer(int32_t conn, const std::string &op, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result)
{
    Hostile &h = hostile();
    uint32_t stall_ms = 0;
    {
        std::lock_guard<std::mutex> lock(h.mu);
        note_handed_over(h, op, argc, args);
        if (!h.on) {
            note_answered(h, op, argc, args);
            return;
        }
        ++h.answers;
        h.conn = conn;
        lie_in_answer(h, op, argc, args, result);
        note_answered(h, op, argc, args);
        if (op == "x_QivPb_Ctrl_Close" && argc >= 1) {
            h.closing.note(args[0].u.ui4);
            stall_ms = kCloseRaceMs;
        } else if (h.rng() % 16 == 0) {
            stall_ms = static_cast<uint32_t>(h.rng() % kMaxStallMs);
        }
    }
    h.cv.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms));
}

void hostile_reset()
{
    Hostile &h = hostile();
    std::unique_lock<std::mutex> lock(h.mu);
    stop_pumps(lock);
    h.conn = 0;
    h.funcs.clear();
    h.tags = h.pull_tags = h.playbacks = h.pulls = h.requests = h.closing = h.freed = Known{};
    for (uint32_t b : h.blocks)
        free_made_block(b);
    h.blocks.clear();
}

} // namespace pbsim
