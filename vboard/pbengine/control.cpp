#include "control.h"

#include "blocks.h"
#include "ext_engine.h"
#include "hostile.h"
#include "misc.h"
#include "playbacks.h"
#include "pull_play.h"
#include "push_play.h"
#include "sim.h"

#include <sstream>

namespace pbsim {

namespace {

using VerbHandler = std::string (*)(const std::string &verb, std::istringstream &in);

struct Verb {
    const char *verb;
    const char *usage; // its arguments and what it does
    VerbHandler handler;
};

std::string conns(const std::string &, std::istringstream &) { return "ok " + std::to_string(rpc_engine_conn_count()); }

std::string reset(const std::string &, std::istringstream &)
{
    reset_all();
    return "ok";
}

const Verb kVerbs[] = {
    {"result", "OP N", script_command},
    {"type", "OP N", script_command},
    {"status", "OP N", script_command},
    {"out", "OP I N", script_command},
    {"outhex", "OP I HEX", script_command},
    {"during", "OP callback CB (made before OP answers)", script_command},
    {"after", "OP callback CB (made once OP has answered)", script_command},
    {"callback", "CB", [](const std::string &, std::istringstream &in) { return callback_command(in); }},
    {"timer", "MS callback CB", background_command},
    {"cbdone", "(how many timer and after call-backs answered)", background_command},
    {"cbanswer", "I", background_command},
    {"calls", "OP", query_command},
    {"last", "OP I", query_command},
    {"codes", "OP", query_command},
    {"misc", "volume CH | lang TYPE C0 C1 C2 | text VALUE [TEXT]",
     [](const std::string &, std::istringstream &in) { return misc_command(in); }},
    {"alloc", "kmem|smem SIZE | skmem COUNT SIZE", block_command},
    {"write", "H OFF HEX", block_command},
    {"read", "H OFF LEN", block_command},
    {"free", "H", block_command},
    {"pullplay", "PB_HANDLE TAG [SLICES SLICE_BYTES] (plays a pull playback)",
     [](const std::string &, std::istringstream &in) { return pull_play(last_connection(), in); }},
    {"played", "PB_HANDLE (what the last Play of a pull playback read)",
     [](const std::string &, std::istringstream &in) { return played_command(in); }},
    {"pull", "check on|off (off: pull reads are counted, not checksummed)",
     [](const std::string &, std::istringstream &in) { return pull_command(in); }},
    {"push",
     "slices COUNT BYTES | ex BYTES MAX | delay MS | check on|off | hold | go | stat H | drain H "
     "(push playbacks: slices, Ex buffers, consumption, what arrived)",
     [](const std::string &, std::istringstream &in) { return push_command(in); }},
    {"hostile", "SEED [CASE...] | off | stat (every answer and call-back lies)",
     [](const std::string &, std::istringstream &in) { return hostile_command(in); }},
    {"filternotice", "SIZE|off", ext_command},
    {"snapshot", "fresh|reuse [Y_BYTES C_BYTES]", ext_command},
    {"encmem", "(the encryption memory the engine read last)", ext_command},
    {"encseg", "J (one segment of it)", ext_command},
    {"conns", "(how many clients are connected)", conns},
    {"reset", "(back to a fresh start)", reset},
};

std::string verb_list()
{
    std::string list;
    for (const Verb &v : kVerbs)
        list += (list.empty() ? "" : " ") + std::string(v.verb);
    return list;
}

} // namespace

std::string command(const std::string &line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    for (const Verb &v : kVerbs)
        if (verb == v.verb)
            return v.handler(verb, in);
    return "error unknown command '" + verb + "' (" + verb_list() + ")";
}

void print_control_usage(FILE *out)
{
    for (const Verb &v : kVerbs)
        std::fprintf(out, "    %s %s\n", v.verb, v.usage);
}

} // namespace pbsim
