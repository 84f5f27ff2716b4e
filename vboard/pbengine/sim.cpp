#include "sim.h"

#include "bench_ops.h"
#include "blocks.h"
#include "ext_engine.h"
#include "hostile.h"
#include "misc.h"
#include "playbacks.h"
#include "pull_play.h"
#include "push_play.h"
#include "sim_text.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace pbsim {

namespace {

constexpr uint32_t kCliFunctions = 3;
constexpr int32_t kNoConnection = 0;
constexpr int8_t kUnknownHandle = -1;
constexpr int8_t kNoHandleLeft = -1;
// Bounds on what clients and control lines can make the simulator keep.
constexpr size_t kMaxHandles = 4096;
constexpr size_t kMaxLoggedOps = 512;
constexpr size_t kMaxShownBytes = 256;
constexpr unsigned kMaxBackground = 64;
constexpr size_t kMaxBackgroundAnswers = 256;
constexpr int kMaxDecodeDepth = 2;
constexpr uint64_t kMaxDelayMs = 60000;
constexpr size_t kMaxScripts = 512;

// One argument of a scripted call-back.
struct CbArg {
    uint32_t code = 0;
    uint64_t value = 0;
    std::vector<uint8_t> bytes; // a region, for record codes
};

struct CbSpec {
    int32_t conn = kNoConnection; // "@N": that connection; else the caller's or the last one
    std::string name;
    std::string func; // "0", an address, or cli0..cli2
    std::vector<CbArg> args;
};

struct OpScript {
    bool has_result = false;
    int8_t result = 0;
    uint32_t type = ARG_TYPE_RESULT;
    int32_t status = RPCR_OK;
    std::map<uint32_t, uint64_t> outs;
    std::map<uint32_t, std::vector<uint8_t>> out_bytes;
    std::vector<CbSpec> during; // made before the operation answers
    std::vector<CbSpec> after;  // made from a thread of the simulator, not awaited by the operation
};

struct OpLog {
    uint32_t calls = 0;
    std::vector<std::string> last_args;
    std::vector<uint32_t> last_codes;
};

struct State {
    std::mutex mu;
    std::map<std::string, OpScript> scripts;
    std::map<std::string, OpLog> logs;
    std::set<uint32_t> handles;
    uint32_t next_handle = 1;
    uint64_t cli[kCliFunctions] = {};
    int32_t last_conn = kNoConnection;
};

// Call-backs made from the simulator's own threads; reset cancels those
// still waiting.
struct Background {
    std::mutex mu;
    std::condition_variable cv;
    uint64_t generation = 0;
    unsigned running = 0;
    std::vector<std::string> answers;
};

Background &background()
{
    static auto *b = new Background;
    return *b;
}

State &state()
{
    static auto *s = new State;
    return *s;
}

uint64_t load_place(const void *p, uint32_t width)
{
    uint64_t v = 0;
    std::memcpy(&v, p, width); // little-endian: the low bytes
    return v;
}

// A region as hex, a text as "text", and every pointer inside that leads to
// another region the call brought as [that region] instead of the
// simulator's own address.
std::string decode_region(const uint8_t *p, int depth)
{
    const uint32_t size = rpc_local_region_size(p);
    if (size > 0 && p[size - 1] == 0 && std::all_of(p, p + size - 1, [](uint8_t c) { return c >= 0x20 && c < 0x7f; }))
        return "\"" + std::string(reinterpret_cast<const char *>(p), size - 1) + "\"";
    const size_t shown = std::min<size_t>(size, kMaxShownBytes);
    std::string out;
    for (size_t i = 0; i < shown;) {
        uintptr_t v = 0;
        if (depth < kMaxDecodeDepth && i % sizeof v == 0 && shown - i >= sizeof v) {
            std::memcpy(&v, p + i, sizeof v);
            const auto *target = reinterpret_cast<const uint8_t *>(v);
            if (v && rpc_local_region_size(target) > 0) {
                out += "[" + decode_region(target, depth + 1) + "]";
                i += sizeof v;
                continue;
            }
        }
        out += hex(p + i, 1);
        ++i;
    }
    return shown < size ? out + "..." : out;
}

// How an argument looked when it arrived, for the "last" command.
std::string describe(const RPC_ARG_T &a)
{
    uint32_t width = 0;
    const int32_t kind = rpc_arg_kind(a.e_type, &width);
    const void *p = rpc_arg_ptr(a);
    char b[32];
    switch (kind) {
    case RPC_ARG_KIND_TEXT:
        return p ? std::string(static_cast<const char *>(p)).substr(0, kMaxShownBytes) : "(null)";
    case RPC_ARG_KIND_PLACE_IN:
    case RPC_ARG_KIND_PLACE_OUT:
        if (!p)
            return "(null)";
        std::snprintf(b, sizeof b, "%" PRIu64, load_place(p, width));
        return b;
    case RPC_ARG_KIND_RECORD:
        return p ? decode_region(static_cast<const uint8_t *>(p), 0) : "(null)";
    default:
        if (a.e_type == ARG_TYPE_INT8)
            std::snprintf(b, sizeof b, "%d", a.u.i1);
        else if (a.e_type == ARG_TYPE_TAG || a.e_type == ARG_TYPE_FUNC)
            std::snprintf(b, sizeof b, "0x%" PRIx64, a.u.ui8);
        else
            std::snprintf(b, sizeof b, "%" PRIu64, a.u.ui8);
        return b;
    }
}

bool is_place(int32_t kind) { return kind == RPC_ARG_KIND_PLACE_IN || kind == RPC_ARG_KIND_PLACE_OUT; }

bool resolve_func(const std::string &text, uint64_t &out)
{
    if (text.size() == 4 && text.compare(0, 3, "cli") == 0 && text[3] >= '0' &&
        text[3] < static_cast<char>('0' + kCliFunctions)) {
        std::lock_guard<std::mutex> lock(state().mu);
        out = state().cli[text[3] - '0'];
        return true;
    }
    return parse_number(text, out);
}

// Makes one call-back, to the connection its description names or else to conn;
// the answer lists the status, the result record and every out place.
std::string call_back(int32_t conn, const CbSpec &spec)
{
    if (spec.conn != kNoConnection)
        conn = spec.conn;
    uint64_t func = 0;
    if (!resolve_func(spec.func, func))
        return "error bad function " + spec.func;
    std::vector<RPC_ARG_T> args(spec.args.size());
    std::vector<std::unique_ptr<uint64_t>> places;
    for (size_t i = 0; i < spec.args.size(); ++i) {
        const CbArg &in = spec.args[i];
        const int32_t kind = rpc_arg_kind(in.code, nullptr);
        if (kind == RPC_ARG_KIND_RECORD) {
            rpc_add_ref_buff(0, in.bytes.data(), static_cast<uint32_t>(in.bytes.size()));
            rpc_arg_set_ptr(args[i], in.code, in.bytes.data());
        } else if (is_place(kind)) {
            places.push_back(std::make_unique<uint64_t>(in.value));
            rpc_arg_set_ptr(args[i], in.code, places.back().get());
        } else {
            rpc_arg_set(args[i], in.code, in.value);
        }
    }
    RPC_ARG_T result{};
    const int32_t rc = rpc_do_cb(conn, spec.name.c_str(), reinterpret_cast<void *>(static_cast<uintptr_t>(func)),
                                 static_cast<uint32_t>(args.size()), args.data(), &result, -1);
    rpc_del(0);
    std::ostringstream out;
    // The client handler's own status rather than the transport's summary.
    out << "ok " << (rc == RPCR_PEER_FAILED ? rpc_peer_status() : rc) << " " << result.e_type << " "
        << static_cast<int>(result.u.i1);
    size_t place = 0;
    for (size_t i = 0; i < spec.args.size(); ++i) {
        uint32_t width = 0;
        const int32_t kind = rpc_arg_kind(spec.args[i].code, &width);
        if (kind == RPC_ARG_KIND_PLACE_OUT)
            out << " out" << i << "=" << load_place(places[place].get(), width);
        if (is_place(kind))
            ++place;
    }
    return out.str();
}

} // namespace

void write_out(RPC_ARG_T &a, uint64_t value)
{
    uint32_t width = 0;
    const int32_t kind = rpc_arg_kind(a.e_type, &width);
    if (kind == RPC_ARG_KIND_VALUE_OUT)
        a.u.ui8 = value;
    else if (kind == RPC_ARG_KIND_PLACE_OUT && rpc_arg_ptr(a))
        std::memcpy(rpc_arg_ptr(a), &value, width);
}

namespace {

// Operations without an answer of their own.
int8_t nothing_of_its_own(int32_t, uint32_t, RPC_ARG_T *) { return 0; }

// The operations on playback handles; what push mode and pull playbacks
// keep of a playback goes first at a stop and a close.
int8_t ctrl_open(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (argc < 1)
        return 0;
    uint32_t h = 0;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mu);
        if (s.handles.size() >= kMaxHandles)
            return kNoHandleLeft;
        h = s.next_handle++;
        s.handles.insert(h);
        write_out(args[0], h);
    }
    if (argc >= 2)
        playback_opened(h, args[1].u.ui4);
    return 0;
}

int8_t ctrl_close(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (argc < 1)
        return 0;
    push_closed(args[0]);
    playback_closed(args[0].u.ui4);
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    return s.handles.erase(args[0].u.ui4) ? 0 : kUnknownHandle;
}

int8_t ctrl_play(int32_t conn, uint32_t argc, RPC_ARG_T *args)
{
    return argc < 1 ? 0 : playback_play(conn, args[0].u.ui4);
}

int8_t ctrl_stop(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (argc < 1)
        return 0;
    push_stopped(args[0]);
    return playback_stop(args[0].u.ui4);
}

int8_t ctrl_ts_stop(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (argc >= 1)
        push_stopped(args[0]);
    return 0;
}

int8_t ctrl_reg_cli(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    for (uint32_t i = 0; i < argc && i < kCliFunctions; ++i)
        s.cli[i] = args[i].u.ui8;
    return 0;
}

const Operation kCtrlOps[] = {
    {"x_QivPb_Ctrl_Open", scripted<ctrl_open>},      {"x_QivPb_Ctrl_Close", scripted<ctrl_close>},
    {"x_QivPb_Ctrl_Play", scripted<ctrl_play>},      {"x_QivPb_Ctrl_Stop", scripted<ctrl_stop>},
    {"x_QivPb_Ctrl_TSStop", scripted<ctrl_ts_stop>}, {"x_QivPb_Ctrl_Reg_CLI", scripted<ctrl_reg_cli>},
};

// Makes a call-back from a thread of its own after delay_ms, unless a reset
// comes first; its answer joins the background answers.
std::string call_back_later(int32_t conn, const CbSpec &spec, uint64_t delay_ms)
{
    Background &b = background();
    std::lock_guard<std::mutex> lock(b.mu);
    if (b.running >= kMaxBackground)
        return "error too many call-backs pending";
    const uint64_t generation = b.generation;
    try {
        std::thread([conn, spec, delay_ms, generation] {
            Background &bg = background();
            std::unique_lock<std::mutex> lk(bg.mu);
            const bool cancelled = bg.cv.wait_for(lk, std::chrono::milliseconds(delay_ms),
                                                  [&] { return bg.generation != generation; });
            if (!cancelled) {
                lk.unlock();
                const std::string answer = call_back(conn, spec);
                lk.lock();
                if (bg.generation == generation && bg.answers.size() < kMaxBackgroundAnswers)
                    bg.answers.push_back(answer);
            }
            --bg.running;
            bg.cv.notify_all();
        }).detach();
    } catch (...) {
        return "error cannot start a thread";
    }
    ++b.running;
    return "ok";
}

// The script of the op's k-th call, else the handle's, else the op's.
OpScript find_script(State &s, const std::string &op, uint32_t k, uint32_t argc, RPC_ARG_T *args)
{
    std::vector<std::string> keys{op + "#" + std::to_string(k)};
    if (argc > 0 && args[0].e_type == ARG_TYPE_UINT32)
        keys.push_back(op + "@" + std::to_string(args[0].u.ui4));
    keys.push_back(op);
    for (const std::string &key : keys) {
        auto it = s.scripts.find(key);
        if (it != s.scripts.end())
            return it->second;
    }
    return OpScript{};
}

} // namespace

int32_t serve_op(int32_t conn, const char *ps_name, uint32_t argc, RPC_ARG_T *args, RPC_ARG_T *result, Builtin own)
{
    const std::string op = ps_name;
    OpScript script;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mu);
        s.last_conn = conn;
        auto log = s.logs.find(op);
        if (log == s.logs.end() && s.logs.size() < kMaxLoggedOps)
            log = s.logs.emplace(op, OpLog{}).first;
        uint32_t k = 1;
        if (log != s.logs.end()) {
            k = ++log->second.calls;
            log->second.last_args.clear();
            log->second.last_codes.clear();
            for (uint32_t i = 0; i < argc; ++i) {
                log->second.last_args.push_back(describe(args[i]));
                log->second.last_codes.push_back(args[i].e_type);
            }
        }
        script = find_script(s, op, k, argc, args);
    }
    for (const CbSpec &cb : script.during)
        call_back(conn, cb);
    const int8_t own_result = own(conn, argc, args);
    for (const auto &out : script.outs)
        if (out.first < argc)
            write_out(args[out.first], out.second);
    for (const auto &out : script.out_bytes) {
        if (out.first < argc && rpc_arg_kind(args[out.first].e_type, nullptr) == RPC_ARG_KIND_RECORD &&
            rpc_arg_ptr(args[out.first])) {
            // Never past the record the client sent.
            void *p = rpc_arg_ptr(args[out.first]);
            std::memcpy(p, out.second.data(), std::min<size_t>(out.second.size(), rpc_local_region_size(p)));
        }
    }
    for (const CbSpec &cb : script.after)
        call_back_later(conn, cb, 0);
    result->e_type = script.type;
    result->u.ui8 = 0;
    result->u.i1 = script.has_result ? script.result : own_result;
    hostile_answer(conn, op, argc, args, result);
    return script.status;
}

namespace {

bool parse_cb(std::istringstream &in, CbSpec &spec)
{
    if (!(in >> spec.name))
        return false;
    if (spec.name[0] == '@') {
        uint64_t conn = 0;
        if (!parse_number(spec.name.substr(1), conn) || conn == 0 || conn > INT32_MAX || !(in >> spec.name))
            return false;
        spec.conn = static_cast<int32_t>(conn);
    }
    if (!(in >> spec.func))
        return false;
    std::string word;
    while (in >> word) {
        CbArg arg;
        const size_t colon = word.find_first_of(":=");
        uint64_t code = 0;
        if (colon == std::string::npos || !parse_number(word.substr(0, colon), code))
            return false;
        arg.code = static_cast<uint32_t>(code);
        const int32_t kind = rpc_arg_kind(arg.code, nullptr);
        if (kind < 0)
            return false;
        const std::string value = word.substr(colon + 1);
        const bool ok = word[colon] == '=' ? kind == RPC_ARG_KIND_RECORD && parse_hex(value, arg.bytes)
                                           : kind != RPC_ARG_KIND_RECORD && kind != RPC_ARG_KIND_TEXT &&
                                                 parse_number(value, arg.value);
        if (!ok)
            return false;
        spec.args.push_back(std::move(arg));
    }
    return true;
}

} // namespace

std::string script_command(const std::string &verb, std::istringstream &in)
{
    std::string op;
    if (!(in >> op))
        return "error missing operation";
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.scripts.size() >= kMaxScripts && !s.scripts.count(op))
        return "error too many scripts";
    if (verb == "during" || verb == "after") {
        std::string what;
        CbSpec spec;
        if (!(in >> what) || what != "callback" || !parse_cb(in, spec))
            return "error usage: " + verb + " OP callback [@CONN] NAME FUNC ARGS...";
        OpScript &script = s.scripts[op];
        (verb == "during" ? script.during : script.after).push_back(std::move(spec));
        return "ok";
    }
    std::string a, b;
    in >> a >> b;
    uint64_t n = 0, m = 0;
    OpScript &script = s.scripts[op];
    if (verb == "result" && parse_number(a, n)) {
        script.has_result = true;
        script.result = static_cast<int8_t>(n);
    } else if (verb == "type" && parse_number(a, n)) {
        script.type = static_cast<uint32_t>(n);
    } else if (verb == "status" && parse_number(a, n)) {
        script.status = static_cast<int32_t>(n);
    } else if (verb == "out" && parse_number(a, n) && parse_number(b, m)) {
        script.outs[static_cast<uint32_t>(n)] = m;
    } else if (verb == "outhex" && parse_number(a, n) &&
               (script.out_bytes[n].clear(), parse_hex(b, script.out_bytes[n]))) {
    } else {
        return "error bad arguments for " + verb;
    }
    return "ok";
}

std::string query_command(const std::string &verb, std::istringstream &in)
{
    State &s = state();
    std::string op, index;
    in >> op >> index;
    std::lock_guard<std::mutex> lock(s.mu);
    auto it = s.logs.find(op);
    const OpLog &log = it != s.logs.end() ? it->second : OpLog{};
    if (verb == "calls")
        return "ok " + std::to_string(log.calls);
    if (verb == "codes") {
        std::string out = "ok";
        char b[16];
        for (uint32_t code : log.last_codes) {
            std::snprintf(b, sizeof b, " 0x%02X", code);
            out += b;
        }
        return out;
    }
    uint64_t i = 0;
    if (!parse_number(index, i) || i >= log.last_args.size())
        return "error no such argument";
    return "ok " + log.last_args[i];
}

void install()
{
    rpc_reg_op_hndlr(nullptr, scripted<nothing_of_its_own>);
    register_ops(kCtrlOps);
    install_misc();
    install_push();
    install_playbacks();
    install_ext();
    install_pull();
    install_bench();
}

std::string call_back_soon(int32_t conn, const std::string &name, uint64_t func,
                           const std::vector<std::pair<uint32_t, uint64_t>> &args)
{
    CbSpec spec;
    spec.name = name;
    spec.func = std::to_string(func);
    for (const auto &a : args) {
        CbArg arg;
        arg.code = a.first;
        arg.value = a.second;
        spec.args.push_back(arg);
    }
    return call_back_later(conn, spec, 0);
}

int32_t last_connection()
{
    std::lock_guard<std::mutex> lock(state().mu);
    return state().last_conn;
}

std::string background_command(const std::string &verb, std::istringstream &in)
{
    Background &b = background();
    if (verb == "cbdone") {
        std::lock_guard<std::mutex> lock(b.mu);
        return "ok " + std::to_string(b.answers.size());
    }
    if (verb == "cbanswer") {
        std::string index;
        uint64_t i = 0;
        in >> index;
        std::lock_guard<std::mutex> lock(b.mu);
        if (!parse_number(index, i) || i >= b.answers.size())
            return "error no such answer";
        return b.answers[i];
    }
    std::string ms, what;
    uint64_t delay = 0;
    CbSpec spec;
    if (!(in >> ms >> what) || !parse_number(ms, delay) || delay > kMaxDelayMs || what != "callback" ||
        !parse_cb(in, spec))
        return "error usage: timer MS callback [@CONN] NAME FUNC ARGS...";
    return call_back_later(last_connection(), spec, delay);
}

std::string callback_command(std::istringstream &in)
{
    CbSpec spec;
    if (!parse_cb(in, spec))
        return "error usage: callback [@CONN] NAME FUNC ARGS...";
    return call_back(last_connection(), spec);
}

void reset_all()
{
    hostile_reset();
    {
        Background &b = background();
        std::unique_lock<std::mutex> lock(b.mu);
        ++b.generation;
        b.cv.notify_all();
        b.cv.wait(lock, [&] { return b.running == 0; });
        b.answers.clear();
    }
    playbacks_reset();
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mu);
        s.scripts.clear();
        s.logs.clear();
        s.handles.clear();
        s.next_handle = 1;
        std::fill(std::begin(s.cli), std::end(s.cli), 0);
        s.last_conn = kNoConnection;
    }
    free_all_blocks();
    misc_reset();
    ext_reset();
    push_reset();
    pull_reset();
}

} // namespace pbsim
