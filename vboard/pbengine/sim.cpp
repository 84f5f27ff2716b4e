#include "sim.h"

#include "rpcipc.h"
#include "wire.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

namespace pbsim {

namespace {

constexpr uint32_t kCliFunctions = 3;
constexpr int32_t kNoConnection = 0;
constexpr int8_t kUnknownHandle = -1;

// One argument of a scripted call-back.
struct CbArg {
    uint32_t code = 0;
    uint64_t value = 0;
    std::vector<uint8_t> bytes; // a region, for record codes
};

struct CbSpec {
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
    std::vector<CbSpec> during;
};

struct OpLog {
    uint32_t calls = 0;
    std::vector<std::string> last_args;
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

State &state()
{
    static auto *s = new State;
    return *s;
}

std::string hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

bool parse_hex(const std::string &text, std::vector<uint8_t> &out)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char *end = nullptr;
        const std::string pair = text.substr(i, 2);
        const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end)
            return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

bool parse_number(const std::string &text, uint64_t &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    out = text[0] == '-' ? static_cast<uint64_t>(std::strtoll(text.c_str(), &end, 0))
                         : std::strtoull(text.c_str(), &end, 0);
    return *end == 0;
}

uint64_t load_place(const void *p, uint32_t width)
{
    uint64_t v = 0;
    std::memcpy(&v, p, width); // little-endian: the low bytes
    return v;
}

// How an argument looked when it arrived, for the "last" command.
std::string describe(const RPC_ARG_T &a)
{
    rpcwire::ArgClass c{};
    rpcwire::classify(a.e_type, c);
    const void *p = rpc_arg_ptr(a);
    char b[32];
    switch (c.kind) {
    case rpcwire::ArgKind::Text:
        return p ? static_cast<const char *>(p) : "(null)";
    case rpcwire::ArgKind::PlaceIn:
    case rpcwire::ArgKind::PlaceOut:
        if (!p)
            return "(null)";
        std::snprintf(b, sizeof b, "%" PRIu64, load_place(p, c.width));
        return b;
    case rpcwire::ArgKind::Record:
        return p ? hex(static_cast<const uint8_t *>(p), rpc_local_region_size(p)) : "(null)";
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

// Makes one call-back; the answer lists the status, the result record and
// every out place.
std::string call_back(int32_t conn, const CbSpec &spec)
{
    uint64_t func = 0;
    if (!resolve_func(spec.func, func))
        return "error bad function " + spec.func;
    std::vector<RPC_ARG_T> args(spec.args.size());
    std::vector<std::unique_ptr<uint64_t>> places;
    for (size_t i = 0; i < spec.args.size(); ++i) {
        const CbArg &in = spec.args[i];
        rpcwire::ArgClass c{};
        rpcwire::classify(in.code, c);
        if (c.kind == rpcwire::ArgKind::Record) {
            rpc_add_ref_buff(0, in.bytes.data(), static_cast<uint32_t>(in.bytes.size()));
            rpc_arg_set_ptr(args[i], in.code, in.bytes.data());
        } else if (c.kind == rpcwire::ArgKind::PlaceIn || c.kind == rpcwire::ArgKind::PlaceOut) {
            places.push_back(std::make_unique<uint64_t>(in.value));
            rpc_arg_set_ptr(args[i], in.code, places.back().get());
        } else {
            rpc_arg_set(args[i], in.code, in.value);
        }
    }
    RPC_ARG_T result{};
    const int32_t rc = rpc_do_cb(conn, spec.name.c_str(),
                                 reinterpret_cast<void *>(static_cast<uintptr_t>(func)),
                                 static_cast<uint32_t>(args.size()), args.data(), &result, -1);
    rpc_del(0);
    std::ostringstream out;
    // The client handler's own status rather than the transport's summary.
    out << "ok " << (rc == RPCR_PEER_FAILED ? rpc_peer_status() : rc) << " " << result.e_type << " " << static_cast<int>(result.u.i1);
    size_t place = 0;
    for (size_t i = 0; i < spec.args.size(); ++i) {
        rpcwire::ArgClass c{};
        rpcwire::classify(spec.args[i].code, c);
        if (c.kind == rpcwire::ArgKind::PlaceOut)
            out << " out" << i << "=" << load_place(places[place].get(), c.width);
        if (c.kind == rpcwire::ArgKind::PlaceIn || c.kind == rpcwire::ArgKind::PlaceOut)
            ++place;
    }
    return out.str();
}

void write_out(RPC_ARG_T &a, uint64_t value)
{
    rpcwire::ArgClass c{};
    rpcwire::classify(a.e_type, c);
    if (c.kind == rpcwire::ArgKind::ValueOut)
        a.u.ui8 = value;
    else if (c.kind == rpcwire::ArgKind::PlaceOut && rpc_arg_ptr(a))
        std::memcpy(rpc_arg_ptr(a), &value, c.width);
}

// What the simulator itself does for the operations it knows; the result
// it returns is used unless a script sets one.
int8_t builtin(const std::string &op, uint32_t argc, RPC_ARG_T *args)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mu);
    if (op == "x_QivPb_Ctrl_Open" && argc >= 1) {
        const uint32_t h = s.next_handle++;
        s.handles.insert(h);
        write_out(args[0], h);
        return 0;
    }
    if (op == "x_QivPb_Ctrl_Close" && argc >= 1)
        return s.handles.erase(args[0].u.ui4) ? 0 : kUnknownHandle;
    if (op == "x_QivPb_Ctrl_Reg_CLI") {
        for (uint32_t i = 0; i < argc && i < kCliFunctions; ++i)
            s.cli[i] = args[i].u.ui8;
    }
    return 0;
}

int32_t serve_op(int32_t conn, const char *ps_name, void *, uint32_t argc, RPC_ARG_T *args,
                 RPC_ARG_T *result)
{
    const std::string op = ps_name;
    OpScript script;
    {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mu);
        s.last_conn = conn;
        OpLog &log = s.logs[op];
        ++log.calls;
        log.last_args.clear();
        for (uint32_t i = 0; i < argc; ++i)
            log.last_args.push_back(describe(args[i]));
        auto it = s.scripts.find(op);
        if (it != s.scripts.end())
            script = it->second;
    }
    for (const CbSpec &cb : script.during)
        call_back(conn, cb);
    const int8_t own = builtin(op, argc, args);
    for (const auto &out : script.outs)
        if (out.first < argc)
            write_out(args[out.first], out.second);
    for (const auto &out : script.out_bytes) {
        rpcwire::ArgClass c{};
        if (out.first < argc && rpcwire::classify(args[out.first].e_type, c) &&
            c.kind == rpcwire::ArgKind::Record && rpc_arg_ptr(args[out.first])) {
            // Never past the record the client sent.
            void *p = rpc_arg_ptr(args[out.first]);
            std::memcpy(p, out.second.data(), std::min<size_t>(out.second.size(), rpc_local_region_size(p)));
        }
    }
    result->e_type = script.type;
    result->u.ui8 = 0;
    result->u.i1 = script.has_result ? script.result : own;
    return script.status;
}

bool parse_cb(std::istringstream &in, CbSpec &spec)
{
    if (!(in >> spec.name >> spec.func))
        return false;
    std::string word;
    while (in >> word) {
        CbArg arg;
        const size_t colon = word.find_first_of(":=");
        uint64_t code = 0;
        if (colon == std::string::npos || !parse_number(word.substr(0, colon), code))
            return false;
        arg.code = static_cast<uint32_t>(code);
        rpcwire::ArgClass c{};
        if (!rpcwire::classify(arg.code, c))
            return false;
        const std::string value = word.substr(colon + 1);
        const bool ok = word[colon] == '=' ? c.kind == rpcwire::ArgKind::Record &&
                                                 parse_hex(value, arg.bytes)
                                           : c.kind != rpcwire::ArgKind::Record &&
                                                 c.kind != rpcwire::ArgKind::Text &&
                                                 parse_number(value, arg.value);
        if (!ok)
            return false;
        spec.args.push_back(std::move(arg));
    }
    return true;
}

std::string script_command(const std::string &verb, std::istringstream &in)
{
    std::string op;
    if (!(in >> op))
        return "error missing operation";
    State &s = state();
    if (verb == "during") {
        std::string what;
        CbSpec spec;
        if (!(in >> what) || what != "callback" || !parse_cb(in, spec))
            return "error usage: during OP callback NAME FUNC ARGS...";
        std::lock_guard<std::mutex> lock(s.mu);
        s.scripts[op].during.push_back(std::move(spec));
        return "ok";
    }
    std::string a, b;
    in >> a >> b;
    uint64_t n = 0, m = 0;
    std::lock_guard<std::mutex> lock(s.mu);
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
    } else if (verb == "outhex" && parse_number(a, n) && parse_hex(b, script.out_bytes[n])) {
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
    const OpLog &log = s.logs[op];
    if (verb == "calls")
        return "ok " + std::to_string(log.calls);
    uint64_t i = 0;
    if (!parse_number(index, i) || i >= log.last_args.size())
        return "error no such argument";
    return "ok " + log.last_args[i];
}

} // namespace

// Answers at once: the transport's own cost, for benchmarks.
static int32_t noop_op(int32_t, const char *, void *, uint32_t, RPC_ARG_T *, RPC_ARG_T *result)
{
    rpc_arg_set(*result, ARG_TYPE_RESULT, 0);
    return RPCR_OK;
}

void install()
{
    rpc_reg_op_hndlr(nullptr, serve_op);
    rpc_reg_op_hndlr("x_pbengine_noop", noop_op);
}

std::string command(const std::string &line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    if (verb == "result" || verb == "type" || verb == "status" || verb == "out" ||
        verb == "outhex" || verb == "during")
        return script_command(verb, in);
    if (verb == "calls" || verb == "last")
        return query_command(verb, in);
    if (verb == "callback") {
        CbSpec spec;
        if (!parse_cb(in, spec))
            return "error usage: callback NAME FUNC ARGS...";
        int32_t conn;
        {
            std::lock_guard<std::mutex> lock(state().mu);
            conn = state().last_conn;
        }
        return call_back(conn, spec);
    }
    if (verb == "conns")
        return "ok " + std::to_string(rpc_engine_conn_count());
    if (verb == "reset") {
        std::lock_guard<std::mutex> lock(state().mu);
        state().scripts.clear();
        state().logs.clear();
        return "ok";
    }
    return "error unknown command '" + verb + "' (result type status out outhex during "
           "callback calls last conns reset)";
}

} // namespace pbsim
